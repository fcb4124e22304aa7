// The command line's options: see options.h.
//
// Notes
//  1. Options may come before, between and after the paths; "--" ends them,
//     so a path may start with "-". A value follows its option as the next
//     argument, or is joined to it ("-w128:255", "--window=128:255").
//  2. Numbers are whole words: "12x" is refused, not read as 12.
#include "cli/options.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

constexpr const char* kUsage =
    "Usage: solvik                                  the interactive dialogue\n"
    "       solvik [OPTIONS] INPUT OUTPUT           one image\n"
    "       solvik [OPTIONS] INPUT... -o FOLDER     many images: FOLDER/<stem>_reg.<ext>\n"
    "\n"
    "Reduces the objects of an image to skeletons one pixel wide. Without\n"
    "arguments the program is interactive: it asks for a folder under\n"
    "c:\\images\\ (images/ of the working directory on Linux), a format, a name\n"
    "and the object window, and writes NAME_reg beside the input.\n"
    "\n"
    "INPUT: any raster GDAL reads (PNG, GeoTIFF, JPEG, PNM, BMP, ...), the\n"
    "program's own .raw (with its .txt descriptor), .bmp and .asc. OUTPUT by\n"
    "its extension: .tif/.tiff (GeoTIFF), .png, .pgm, .bmp, .asc, .raw (+ .txt).\n"
    "\n"
    "Options:\n"
    "  -w, --window MIN:MAX|dark|bright  object values, both ends included, in\n"
    "                      the input's own values (default 128:255); dark or\n"
    "                      bright: below or above Otsu's threshold (printed)\n"
    "  -b, --band N        the band to use (default: one band as it is, RGB and\n"
    "                      RGBA as grey)\n"
    "      --frame keep|pad  keep: thin as the dialogue does (default); pad: as\n"
    "                      if the image were surrounded by background\n"
    "      --values S:B    output values of skeleton and background (default 1:255)\n"
    "  -o FOLDER           the many-images form: results go to FOLDER\n"
    "  -f, --format EXT    the results' format in that form (default: the input's)\n"
    "  -j, --jobs N        images processed at once (default 1; 0: one per core)\n"
    "      --threads N     threads for one image's thinning (default: one per\n"
    "                      core, shared out among the images processed at once)\n"
    "      --prune LENGTH  remove side branches shorter than LENGTH pixels\n"
    "      --vector FILE   the skeleton's branches as lines (.gpkg, .geojson,\n"
    "                      .shp, .fgb, .csv)\n"
    "      --nodes FILE    the skeleton's end points and junctions as points\n"
    "      --simplify TOLERANCE  simplify the lines (pixels)\n"
    "      --summary FILE.csv    one row per skeleton component\n"
    "  -q, --quiet         no progress and no threshold lines\n"
    "      --progress      show progress even when standard error is no terminal\n"
    "  -h, --help          this text\n"
    "      --version       the version\n"
    "      --formats       the formats this build reads and writes\n"
    "\n"
    "In the many-images form each image's graph files are named like its result,\n"
    "then what they hold, then the extension of the FILE given:\n"
    "<stem>_reg.branches.<ext>, <stem>_reg.nodes.<ext>, <stem>_reg.summary.csv.\n"
    "Every file a run would write is checked before any work: two that are one\n"
    "file, or one that an input reads, stop the run as a usage error. An image's\n"
    "files are put in place together, or none of them.\n"
    "\n"
    "Exit status: 0 when every result was written, 1 when an image failed (each\n"
    "failure is one line on standard error), 2 for a usage error.\n";

bool fail(std::string* why, std::string text) {
  if (why) *why = std::move(text);
  return false;
}

bool whole_int(const std::string& word, int& value) {
  const char* first = word.data();
  const char* last = first + word.size();
  auto [ptr, ec] = std::from_chars(first, last, value);
  return ec == std::errc() && ptr == last && !word.empty();
}

// A finite decimal number, the whole word.
bool whole_real(const std::string& word, double& value) {
  if (word.empty() || std::isspace(static_cast<unsigned char>(word[0]))) return false;
  char* end = nullptr;
  value = std::strtod(word.c_str(), &end);
  return end == word.c_str() + word.size() && std::isfinite(value);
}

bool parse_window(const std::string& word, Options& o, std::string* why) {
  if (word == "dark" || word == "bright") {
    o.window = word == "dark" ? WindowKind::dark : WindowKind::bright;
    return true;
  }
  const std::size_t colon = word.find(':');
  double lo = 0, hi = 0;
  if (colon == std::string::npos || !whole_real(word.substr(0, colon), lo) || !whole_real(word.substr(colon + 1), hi))
    return fail(why, "bad window '" + word + "': give MIN:MAX (numbers), dark or bright");
  if (lo > hi) return fail(why, "bad window '" + word + "': MIN is above MAX");
  o.window = WindowKind::range;
  o.lo = lo;
  o.hi = hi;
  return true;
}

bool parse_values(const std::string& word, Options& o, std::string* why) {
  const std::size_t colon = word.find(':');
  int s = -1, b = -1;
  if (colon == std::string::npos || !whole_int(word.substr(0, colon), s) || !whole_int(word.substr(colon + 1), b) ||
      s < 0 || s > 255 || b < 0 || b > 255)
    return fail(why, "bad values '" + word + "': give SKELETON:BACKGROUND, two whole numbers from 0 to 255");
  if (s == b) return fail(why, "bad values '" + word + "': the skeleton and the background need different values");
  o.skeleton_value = static_cast<unsigned char>(s);
  o.background_value = static_cast<unsigned char>(b);
  return true;
}

bool parse_count(const std::string& option, const std::string& word, int least, int& value, std::string* why) {
  if (!whole_int(word, value) || value < least)
    return fail(why, "bad " + option + " '" + word + "': give a whole number of at least " + std::to_string(least));
  return true;
}

bool parse_length(const std::string& option, const std::string& word, double& value, std::string* why) {
  if (!whole_real(word, value) || value < 0)
    return fail(why, "bad " + option + " '" + word + "': give a number of pixels, 0 or more");
  return true;
}

struct OptionName {
  const char* short_name;  // may be null
  const char* long_name;
  bool takes_value;
};

constexpr OptionName kOptionNames[] = {
    {"-w", "--window", true},   {"-b", "--band", true},      {nullptr, "--frame", true},
    {nullptr, "--values", true}, {"-o", nullptr, true},      {"-f", "--format", true},
    {"-j", "--jobs", true},     {nullptr, "--threads", true}, {nullptr, "--prune", true},
    {nullptr, "--vector", true}, {nullptr, "--nodes", true}, {nullptr, "--simplify", true},
    {nullptr, "--summary", true}, {"-q", "--quiet", false},  {nullptr, "--progress", false},
    {"-h", "--help", false},    {nullptr, "--version", false}, {nullptr, "--formats", false},
};

// The option `arg` names, and its joined value if any.
const OptionName* find_option(const std::string& arg, std::string& joined, bool& has_joined) {
  has_joined = false;
  for (const OptionName& s : kOptionNames) {
    if (s.long_name) {
      const std::size_t n = std::strlen(s.long_name);
      if (arg == s.long_name) return &s;
      if (s.takes_value && arg.size() > n && arg.compare(0, n, s.long_name) == 0 && arg[n] == '=') {
        joined = arg.substr(n + 1);
        has_joined = true;
        return &s;
      }
    }
    if (s.short_name) {
      if (arg == s.short_name) return &s;
      if (s.takes_value && arg.size() > 2 && arg.compare(0, 2, s.short_name) == 0) {
        joined = arg.substr(2);
        has_joined = true;
        return &s;
      }
    }
  }
  return nullptr;
}

bool apply(const OptionName& s, const std::string& value, Options& o, Action& action, std::string* why) {
  const std::string name = s.long_name ? s.long_name : s.short_name;
  if (name == "--window") return parse_window(value, o, why);
  if (name == "--band") return parse_count("band", value, 1, o.band, why);
  if (name == "--frame") {
    if (!parse_frame_mode(value, o.frame)) return fail(why, "bad frame '" + value + "': give keep or pad");
    return true;
  }
  if (name == "--values") return parse_values(value, o, why);
  if (name == "-o") {
    if (value.empty()) return fail(why, "-o needs a folder");
    o.folder = value;
    o.many = true;
    return true;
  }
  if (name == "--format") {
    std::string ext = value.empty() || value[0] == '.' ? value : "." + value;
    ext = extension_of("x" + ext);
    if (result_kind(ext) == ResultKind::none)
      return fail(why, "bad format '" + value + "': results are written as tif, tiff, png, pgm, bmp, asc or raw");
    o.format = ext;
    return true;
  }
  if (name == "--jobs") return parse_count("number of jobs", value, 0, o.jobs, why);
  if (name == "--threads") return parse_count("number of threads", value, 1, o.threads, why);
  if (name == "--prune") return parse_length("prune length", value, o.prune, why);
  if (name == "--simplify") return parse_length("tolerance", value, o.simplify, why);
  if (name == "--vector" || name == "--nodes" || name == "--summary") {
    if (value.empty()) return fail(why, name + " needs a file name");
    const std::string ext = extension_of(value);
    if (name != "--summary" && ext != ".gpkg" && ext != ".geojson" && ext != ".json" && ext != ".shp" &&
        ext != ".fgb" && ext != ".csv")
      return fail(why, name + " '" + value + "': vector files are written as .gpkg, .geojson, .json, .shp, .fgb or .csv");
    (name == "--vector" ? o.vector_file : name == "--nodes" ? o.nodes_file : o.summary_file) = value;
    return true;
  }
  if (name == "--quiet") o.quiet = true;
  if (name == "--progress") o.progress = true;
  if (name == "--help") action = Action::help;
  if (name == "--version" && action == Action::run) action = Action::version;
  if (name == "--formats" && action == Action::run) action = Action::formats;
  return true;
}

}  // namespace

const char* usage_text() { return kUsage; }

std::string extension_of(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash) ||
      dot == (slash == std::string::npos ? 0 : slash + 1))
    return "";
  std::string ext = path.substr(dot);
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return ext;
}

ResultKind result_kind(const std::string& ext) {
  if (ext == ".raw") return ResultKind::raw;
  if (ext == ".bmp") return ResultKind::bmp;
  if (ext == ".asc") return ResultKind::asc;
  if (ext == ".tif" || ext == ".tiff" || ext == ".png" || ext == ".pgm") return ResultKind::gdal;
  return ResultKind::none;
}

bool parse_options(int argc, char** argv, Options& o, Action& action, std::string* why) {
  action = Action::run;
  std::vector<std::string> paths;
  bool options_end = false;
  for (int k = 1; k < argc; ++k) {
    const std::string arg = argv[k];
    if (options_end || arg.empty() || arg[0] != '-' || arg == "-") {
      paths.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_end = true;
      continue;
    }
    std::string value;
    bool joined = false;
    const OptionName* option = find_option(arg, value, joined);
    if (!option) return fail(why, "unknown option '" + arg + "'");
    if (option->takes_value && !joined) {
      if (k + 1 >= argc) return fail(why, "option '" + arg + "' needs a value");
      value = argv[++k];
    }
    if (!apply(*option, value, o, action, why)) return false;
  }
  if (action != Action::run) return true;

  if (o.many) {
    if (paths.empty()) return fail(why, "no INPUT given");
    o.inputs = paths;
  } else {
    if (!o.format.empty()) return fail(why, "-f chooses the results' format of the many-images form (-o FOLDER)");
    if (paths.empty()) return fail(why, "no INPUT given");
    if (paths.size() == 1) return fail(why, "OUTPUT missing (or give -o FOLDER for many images)");
    if (paths.size() > 2) return fail(why, "more than one INPUT: give -o FOLDER for many images");
    o.inputs = {paths[0]};
    o.output = paths[1];
    if (result_kind(extension_of(o.output)) == ResultKind::none)
      return fail(why, "OUTPUT '" + o.output + "': results are written as .tif, .tiff, .png, .pgm, .bmp, .asc or .raw");
  }
  if (o.simplify > 0 && o.vector_file.empty())
    return fail(why, "--simplify applies to the lines of --vector FILE");
  return true;
}
