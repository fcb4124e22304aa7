// The file phases of a run: see files.h.
#include "app/files.h"

#include <cstdio>

#include "LIB/NRUTIL.h"
#include "app/state.h"
#include "formats/ascii_grid.h"
#include "formats/raster.h"
#include "platform/console.h"
#include "platform/failure.h"
#include "platform/host.h"

namespace {

// Closes a program-wide stream when the phase that reads it ends, on every
// path out of it (a stop included).
class ClosesAtEnd {
 public:
  explicit ClosesAtEnd(FILE*& stream) : stream_(stream) {}
  ~ClosesAtEnd() {
    if (stream_) std::fclose(stream_);
    stream_ = nullptr;
  }
  ClosesAtEnd(const ClosesAtEnd&) = delete;
  ClosesAtEnd& operator=(const ClosesAtEnd&) = delete;

 private:
  FILE*& stream_;
};

// A writer for write_atomically that opens the program-wide `stream` on the
// temporary file, lets `body` write through it and closes it again; true
// only when every byte reached the file.
template <typename Body>
auto through(FILE*& stream, const char* mode, Body body) {
  return [&stream, mode, body](const std::string& tmp) {
    stream = std::fopen(tmp.c_str(), mode);
    if (!stream) return false;
    bool written = body(stream);
    written = std::fclose(stream) == 0 && written;
    stream = nullptr;
    return written;
  };
}

RasterDescriptor state_descriptor() { return {nb_lig, nb_col, type, min_al, max_al, taille_pix}; }

bool write_state_descriptor(FILE* f) { return write_descriptor(f, state_descriptor()); }

bool write_result_rows(FILE* f) { return write_raster_rows(f, tab, nb_lig, nb_col); }

[[noreturn]] void stop_no_memory() {
  stop_run(con_format("\n\tNot enough memory for an image of %d lines of %d columns.\n", nb_lig, nb_col));
}

void print_progress(int line) { con_progress(line); }

// The descriptor asked for in ChargeDescr, written once the raster is known
// to hold the size it gives. One that cannot be written is not needed to go
// on: the values are known.
void create_asked_descriptor() {
  if (descriptor_to_create.empty()) return;
  try {
    write_atomically(host_path(descriptor_to_create), through(f1d, "w", write_state_descriptor));
  } catch (const Failure& failure) {
    con_printf("\n\tThe descriptor %s could not be created (%s); the run goes on.\n", descriptor_to_create.c_str(),
               failure.what());
  }
  descriptor_to_create.clear();
}

}  // namespace

void write_result(const std::string& logical, const std::function<bool(const std::string& tmp_host)>& writer) {
  std::string why;
  try {
    write_atomically(host_path(logical), writer);
    return;
  } catch (const Failure& failure) {
    why = failure.what();
  }
  stop_run(con_format("\n\tThe result %s could not be written: %s.\n", logical.c_str(), why.c_str()));
}

// --- rasters ------------------------------------------------------------------

void ChargeDescr(const std::string& nomdescr) {
  std::string why;
  f1d = nullptr;
  try {
    f1d = open_regular(host_path(nomdescr), "r");
  } catch (const Failure& failure) {
    why = failure.what();
  }
  if (f1d) {
    ClosesAtEnd closes(f1d);
    RasterDescriptor d = state_descriptor();
    bool fits = true;
    try {
      read_descriptor(f1d, d);
    } catch (const Failure& failure) {
      fits = false;
      why = failure.what();
    }
    nb_lig = d.nb_lig;
    nb_col = d.nb_col;
    type = d.type;
    min_al = d.min_al;
    max_al = d.max_al;
    taille_pix = d.taille_pix;
    if (!fits) stop_run(con_format("\n\tThe descriptor %s holds %s.\n", nomdescr.c_str(), why.c_str()));
    if (nb_lig < 1 || nb_col < 1)
      stop_run(con_format("\n\tThe descriptor %s gives %d lines and %d columns: an image needs at least one of each.\n",
                          nomdescr.c_str(), nb_lig, nb_col));
    return;
  }
  // a descriptor that is there but cannot be read is never replaced
  if (path_exists(host_path(nomdescr)))
    stop_run(con_format("\n\tThe descriptor %s cannot be read: %s.\n", nomdescr.c_str(), why.c_str()));

  con_printf("\n\tNo File  %s \n\n", nomdescr.c_str());
  auto ask_size = [](const char* prompt) {
    con_printf("%s", prompt);
    for (;;) {
      int v = ask_int([prompt] { con_printf("%s", prompt); });
      if (v >= 1) return v;
      con_printf("\n\tAn image needs at least 1 line and 1 column.\n");
      con_printf("%s", prompt);
    }
  };
  nb_lig = ask_size("\n\t\tNumber of lines   ? ");
  nb_col = ask_size("\n\t\tNumber of columns ? ");
  con_printf("\n\t\tpixel size? ");
  taille_pix = ask_int([] { con_printf("\n\t\tpixel size? "); });
  type = 1;
  min_al = 0;
  max_al = 255;
  descriptor_to_create = nomdescr;
}

void ChargeRAW(const std::string& nomim) {
  ClosesAtEnd closes(f1);
  const long long need = static_cast<long long>(nb_lig) * nb_col;
  const long long have = host_file_size(f1);
  if (have < need)
    stop_run(con_format("\n\tThe raster %s holds %lld bytes, but %d lines of %d columns need %lld.\n", nomim.c_str(),
                        have, nb_lig, nb_col, need));
  tab2 = ucmatrice(nb_col, nb_lig);
  if (!tab2) stop_no_memory();
  int failed_line = 0;
  if (!read_raster_rows(f1, tab2, nb_lig, nb_col, &failed_line))
    stop_run(con_format("\n\tThe raster %s could not be read at line %d.\n", nomim.c_str(), failed_line));
  create_asked_descriptor();
}

void SauveDescr(const std::string& nomdescr) { write_result(nomdescr, through(f2d, "w", write_state_descriptor)); }

void SauveRAW(const std::string& nomim) { write_result(nomim, through(f2, "wb", write_result_rows)); }

void SauveRasterPair(const std::string& nomim, const std::string& nomdescr) {
  std::string why, failed;
  // both files are written and both targets checked before either moves:
  // the message names the one that failed, and neither earlier file changes
  try {
    write_atomically({{host_path(nomim), through(f2, "wb", write_result_rows)},
                      {host_path(nomdescr), through(f2d, "w", write_state_descriptor)}});
    return;
  } catch (const FileFailure& failure) {
    why = failure.what();
    failed = failure.path == host_path(nomdescr) ? nomdescr : nomim;
  }
  stop_run(con_format("\n\tThe result %s could not be written: %s.\n", failed.c_str(), why.c_str()));
}

// --- ascii grids ----------------------------------------------------------------

void ChargeASC(const std::string& nomim) {
  ClosesAtEnd closes(f1);
  FILE* in = f1;
  AscTokens tokens(
      [in](char* buf, std::size_t n) -> long long {
        std::size_t got = std::fread(buf, 1, n, in);
        if (got == 0 && std::ferror(in)) return -1;
        return static_cast<long long>(got);
      },
      host_file_size(f1));

  AscHeader header;
  header.nodata = nodata;
  std::string why;
  bool header_read = true;
  try {
    asc_read_header(tokens, header);
  } catch (const Failure& failure) {
    header_read = false;
    why = failure.what();
  }
  std::snprintf(texte, sizeof texte, "%s", header.keyword.c_str());
  nb_col = header.nb_col;
  nb_lig = header.nb_lig;
  X_min = header.X_min;
  Y_min = header.Y_min;
  dpix_size = header.dpix_size;
  nodata = header.nodata;
  auto stop_unreadable = [&nomim](const std::string& reason) {
    stop_run(con_format("\n\tThe ascii grid %s cannot be read: %s.\n", nomim.c_str(), reason.c_str()));
  };
  if (!header_read) stop_unreadable(why);
  if (nb_lig < 1 || nb_col < 1)
    stop_run(con_format("\n\tThe ascii grid %s gives %d lines and %d columns: an image needs at least one of each.\n",
                        nomim.c_str(), nb_lig, nb_col));

  if (!tokens.could_hold(static_cast<long long>(nb_lig) * nb_col)) {
    // The file is too short for its header: find the first value that is
    // missing (or wrong) without allocating the announced plane.
    why = "the file changed while it was read";
    try {
      asc_read_grid(tokens, nullptr, nb_lig, nb_col, nullptr);
    } catch (const Failure& failure) {
      why = failure.what();
    }
    stop_unreadable(why);
  }
  tab2 = ucmatrice(nb_col, nb_lig);
  if (!tab2) stop_no_memory();

  con_printf("\n");
  try {
    asc_read_grid(tokens, tab2, nb_lig, nb_col, print_progress);
    return;
  } catch (const Failure& failure) {
    why = failure.what();
  }
  stop_unreadable(why);
}

void SauveASC(const std::string& nomim) {
  write_result(nomim, through(f2, "w", [](FILE* f) {
                 const std::string header = asc_header_text(nb_col, nb_lig, X_min, Y_min, dpix_size);
                 bool written = std::fwrite(header.data(), 1, header.size(), f) == header.size();
                 con_printf("\n\tSaving Ascii File \n");
                 return written && asc_write_grid([f](const char* data, std::size_t n) {
                          return std::fwrite(data, 1, n, f) == n;
                        },
                        tab, nb_lig, nb_col, print_progress);
               }));
}
