// The program driver: see driver.h.
#include "app/driver.h"

#include <new>
#include <string>

#include "LIB/image.h"
#include "app/state.h"
#include "app/files.h"
#include "platform/console.h"
#include "platform/failure.h"
#include "platform/host.h"
#include "app/phases.h"

namespace {

constexpr const char* kBaseDirectory = "c:\\images\\";

// The framed banner: "*", 60 characters, "*" on every inner line.
constexpr const char* kBanner[] = {
    "**************************************************************",
    "*                                                            *",
    "*                         SOLVIK                             *",
    "*                                                            *",
    "*                              based on O'Gorman algorithm   *",
    "*                                                            *",
    "*      thinning of grey-level images into skeletons          *",
    "*                                                            *",
    "*      one pixel wide: raster, bitmap and ascii grid         *",
    "*                      Actualization February 2020           *",
    "*                                                            *",
    "**************************************************************",
};
constexpr bool banner_is_a_box() {
  for (const char* line : kBanner) {
    int n = 0;
    while (line[n]) ++n;
    if (n != 62) return false;
  }
  return true;
}
static_assert(banner_is_a_box());

void print_banner() {
  con_printf("\n");
  for (const char* line : kBanner) con_printf("\n\t%s", line);
}

// A folder or file name answer; a name that would leave the base directory
// is refused and asked again.
std::string ask_name(const char* prompt) {
  for (;;) {
    std::string name = ask_word();
    if (name_stays_inside(name)) return name;
    con_printf("\n\tThe name \"%s\" is refused: it must stay inside %s (no \"..\", no leading \\ or /, no \":\").\n",
               name.c_str(), kBaseDirectory);
    con_printf("%s", prompt);
  }
}

// The input image cannot be read. A file that is there but cannot be read
// gets one more line saying why.
[[noreturn]] void stop_no_file(const std::string& nomim1, const std::string& reason) {
  std::string message = con_format("\n\tNo File  %s \n", nomim1.c_str());
  if (!reason.empty() && path_exists(host_path(nomim1)))
    message += con_format("\tThe file cannot be read: %s.\n", reason.c_str());
  stop_run(message, /*key_wait=*/true);
}

// Opens the input image as f1 for the raster and ascii readers.
void open_input(const std::string& nomim1, const char* mode) {
  std::string why;
  f1 = nullptr;
  try {
    f1 = open_regular(host_path(nomim1), mode);
  } catch (const Failure& failure) {
    why = failure.what();
  }
  if (!f1) stop_no_file(nomim1, why);
}

void read_bitmap(const std::string& nomim1) {
  int bmp_type = 0;
  Color32* palette = nullptr;
  std::string why;
  bool no_memory = false;
  tab2 = nullptr;
  try {
    tab2 = load_bmp(host_path(nomim1).c_str(), &nb_col, &nb_lig, &bmp_type, &palette);
  } catch (const std::bad_alloc&) {
    no_memory = true;
  } catch (const Failure& failure) {
    why = failure.what();
  }
  if (no_memory)
    stop_run(con_format("\n\tNot enough memory for an image of %d lines of %d columns.\n", nb_lig, nb_col));
  if (!tab2) stop_no_file(nomim1, why);
  if (nb_lig < 1 || nb_col < 1)
    stop_run(con_format("\n\tThe bitmap %s has %d lines and %d columns: an image needs at least one of each.\n",
                        nomim1.c_str(), nb_lig, nb_col));
  // a 24-bit picture becomes grey, so the later phases see all of it
  if (bmp_type == 2) bgr_rows_to_grey(tab2, nb_lig, nb_col);
}

void read_input(const std::string& nomim1, const std::string& nomdescr1) {
  switch (format_type) {
    case 0:
      open_input(nomim1, "rb");
      ChargeDescr(nomdescr1);
      ChargeRAW(nomim1);
      break;
    case 1:
      read_bitmap(nomim1);
      break;
    default:
      open_input(nomim1, "r");
      ChargeASC(nomim1);
      break;
  }
}

const char* input_extension() {
  switch (format_type) {
    case 0: return ".raw";
    case 1: return ".bmp";
    default: return ".asc";
  }
}

const char* result_suffix() {
  switch (format_type) {
    case 0: return "_reg.raw";
    case 1: return "_reg.bmp";
    default: return "_reg.asc";
  }
}

// The result descriptor beside a result raster "..._reg.raw".
std::string result_descriptor(const std::string& nomim2) { return nomim2.substr(0, nomim2.size() - 4) + ".txt"; }

// The folder, below the base directory; returns "c:\images\<folder>\".
std::string ask_folder() {
  const char* folder_prompt = "\n\n\tName of the File Folder located in the Directory C:\\images ? ";
  con_printf("%s", folder_prompt);
  return kBaseDirectory + ask_name(folder_prompt) + "\\";
}

void ask_format() {
  auto print_format_menu = [] {
    con_printf("\n\t\tNote: the extensions and the size of all images must be the same");
    con_printf("\n\t\t0 ====> raster\n\t\t1 ====> bitmap\n\t\t2 ====> ascii\n\t\t");
  };
  con_printf("\n\tFormat type : ");
  do {
    print_format_menu();
    format_type = ask_int(print_format_menu);
  } while (format_type > 2 || format_type < 0);
}

void report_size() {
  con_printf("\n\tTHE IMAGE HAS:  ");
  con_printf("\n\t            %d LINES", nb_lig);
  con_printf("\n\t        AND %d COLUMNS", nb_col);
}

// 0 keeps the input's name, 1 asks for a new one.
std::string ask_result_name(const std::string& input_name) {
  auto print_name_menu = [&input_name] {
    con_printf("\n\t\t0 -----> Taking into account the generic name %s ? ", input_name.c_str());
    con_printf("\n\t\t1 -----> Creation of a new File ?\n\t\t");
  };
  int rep = -1;
  do {
    print_name_menu();
    rep = ask_int(print_name_menu);
  } while (rep != 0 && rep != 1);
  if (rep == 0) return input_name;
  const char* new_prompt = "\n\n\tName of the File to be created (without any extension) ? ";
  con_printf("%s", new_prompt);
  return ask_name(new_prompt);
}

// Would writing `result` replace one of the input files? Decided by file
// identity, so "./b", ".\b" or a folder link name the same file as "b".
bool replaces(const std::string& result, const std::string& input) {
  const std::string r = host_path(result), in = host_path(input);
  return r == in || same_file(r, in);
}

}  // namespace

void opening() {
  print_banner();
  const std::string folder = ask_folder();
  nomim2 = folder;
  ask_format();

  const char* name_prompt = "\n\tName of input File (without any extension) ? ";
  con_printf("%s", name_prompt);
  const std::string input_name = ask_name(name_prompt);
  std::string nomim1 = folder + input_name + input_extension();
  const std::string nomdescr1 = folder + input_name + ".txt";
  read_input(nomim1, nomdescr1);
  report_size();

  con_printf("\n\n\tName of the resulting file : ");
  for (;;) {
    const std::string nomfic1 = ask_result_name(input_name);
    nomim2 = folder + nomfic1 + result_suffix();
    bool clash = replaces(nomim2, nomim1);
    if (format_type == 0) {
      const std::string nomdescr2 = result_descriptor(nomim2);
      clash = clash || replaces(nomim2, nomdescr1) || replaces(nomdescr2, nomim1) || replaces(nomdescr2, nomdescr1);
    }
    if (!clash) return;
    con_printf("\n\tThe result would replace the input %s: choose another name.\n", nomim1.c_str());
  }
}

void save() {
  finishing();
  if (format_type == 0) {
    con_printf("\n\tsaving raster image %s ", nomim2.c_str());
    // the descriptor goes in place together with the raster, so the pair
    // always comes from one run
    SauveRasterPair(nomim2, result_descriptor(nomim2));
  }
  if (format_type == 1) {
    con_printf("\n\tsaving bitmap %s ", nomim2.c_str());
    write_result(nomim2, [](const std::string& tmp) { return SauveBMP(tmp.c_str(), tab, nb_col, nb_lig, 0, nullptr) == 0; });
  }
  if (format_type == 2) {
    con_printf("\n\tsaving ascii file %s ", nomim2.c_str());
    SauveASC(nomim2);
  }
}

int run_program() {
  reset_state();
  int status = 0;
  try {
    opening();
    param();
    threshold();
    skeleton();
    save();
  } catch (const RunStopped& stopped) {
    status = stopped.status;
  } catch (const std::bad_alloc&) {
    con_printf("\n\tNot enough memory to go on.\n");
    status = 1;
  }
  con_flush();
  return status;
}
