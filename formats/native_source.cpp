// The program's own formats as image sources: see image_source.h.
//
// Notes
//  1. A raster and an ASCII grid are read again from the file at every
//     read_lines, a line (or a block of tokens) at a time, so they never
//     hold the image. A bitmap is held as the codec reads it, one byte per
//     pixel once turned grey.
//  2. Files are opened as regular files only (open_regular), so a FIFO or a
//     device put in an image's place cannot hang a run.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <vector>

#include "LIB/NRUTIL.h"
#include "LIB/image.h"
#include "formats/image_source.h"
#include "platform/failure.h"
#include "platform/host.h"

namespace {

struct CloseFile {
  void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, CloseFile>;

// `path` opened as a regular file, closed when the result goes; a Failure
// with the reason after `prefix` when it cannot be opened.
File open_file(const std::string& path, const char* mode, const std::string& prefix = "") {
  try {
    return File(open_regular(path, mode));
  } catch (const Failure& failure) {
    if (prefix.empty()) throw;
    throw Failure(prefix + failure.what());
  }
}

std::string size_refusal(const std::string& subject, int lines, int columns) {
  return subject + " gives " + std::to_string(lines) + " lines and " + std::to_string(columns) +
         " columns: an image needs at least one of each";
}

// Hands line i of `lines` to the sink, with the progress every 256 lines.
template <typename Sink, typename Value>
void hand_over(const Sink& sink, const ReadProgress& progress, int i, int lines, const Value* values) {
  if (!sink(i, values)) throw Failure("reading stopped at line " + std::to_string(i));
  if (progress && (i & 255) == 0) progress(static_cast<double>(i) / lines);
}

// --- raster and descriptor --------------------------------------------------

class RawSource : public ImageSource {
 public:
  std::string path;

  bool has_byte_lines() const override { return true; }

  void read_byte_lines(const ByteLineSink& sink, const ReadProgress& progress) override {
    // the file in reads of a quarter megabyte, not of a page (the buffer
    // outlives the stream)
    std::vector<char> buffer(std::size_t{256} << 10);
    const File file = open_file(path, "rb");
    FILE* f = file.get();
    std::setvbuf(f, buffer.data(), _IOFBF, buffer.size());
    const std::size_t width = static_cast<std::size_t>(columns);
    std::vector<unsigned char> bytes(width);
    for (int i = 0; i < lines; ++i) {
      if (std::fread(bytes.data(), 1, width, f) != width)
        throw Failure("the raster could not be read at line " + std::to_string(i));
      hand_over(sink, progress, i, lines, bytes.data());
    }
  }

  void read_lines(const LineSink& sink, const ReadProgress& progress) override {
    std::vector<double> values(static_cast<std::size_t>(columns));
    read_byte_lines(
        [&](int i, const unsigned char* bytes) {
          std::copy(bytes, bytes + columns, values.begin());
          return sink(i, values.data());
        },
        progress);
  }
};

// --- bitmap -------------------------------------------------------------------

class BmpSource : public ImageSource {
 public:
  unsigned char** plane = nullptr;
  ~BmpSource() override { done_reading(); }
  void done_reading() override {
    frucmatrice(plane, lines);
    plane = nullptr;
  }

  bool has_byte_lines() const override { return true; }

  void read_byte_lines(const ByteLineSink& sink, const ReadProgress& progress) override {
    for (int i = 0; i < lines; ++i) hand_over(sink, progress, i, lines, plane[i]);
  }

  void read_lines(const LineSink& sink, const ReadProgress& progress) override {
    std::vector<double> values(static_cast<std::size_t>(columns));
    for (int i = 0; i < lines; ++i) {
      for (int j = 0; j < columns; ++j) values[static_cast<std::size_t>(j)] = plane[i][j];
      hand_over(sink, progress, i, lines, values.data());
    }
  }
};

// --- ASCII grid ---------------------------------------------------------------

AscSource file_source(FILE* f) {
  return [f](char* buf, std::size_t n) -> long long {
    std::size_t got = std::fread(buf, 1, n, f);
    if (got == 0 && std::ferror(f)) return -1;
    return static_cast<long long>(got);
  };
}

class AscGridSource : public ImageSource {
 public:
  std::string path;

  void read_lines(const LineSink& sink, const ReadProgress& progress) override {
    const File file = open_file(path, "r");
    FILE* f = file.get();
    AscTokens tokens(file_source(f), host_file_size(f));
    AscHeader header;
    asc_read_header(tokens, header);
    if (header.nb_lig != lines || header.nb_col != columns) throw Failure("the file changed while it was read");
    const bool has_nodata = grid_header && grid_header->has_nodata;
    const double nodata = has_nodata ? grid_header->nodata : 0.0;
    std::vector<double> kept(static_cast<std::size_t>(columns));
    asc_read_values(tokens, lines, columns, [&](int line, const double* values) {
                             const double* out = values;
                             if (has_nodata) {
                               for (int j = 0; j < columns; ++j)
                                 kept[static_cast<std::size_t>(j)] =
                                     values[j] == nodata ? std::numeric_limits<double>::quiet_NaN() : values[j];
                               out = kept.data();
                             }
                             if (progress && (line & 255) == 0) progress(static_cast<double>(line) / lines);
                             return sink(line, out);
                           });
  }
};

// The .prj beside a grid: `wkt` its text and `file` its path, both left
// empty when there is none. A Failure when one is there but cannot be read.
void read_grid_prj(const std::string& grid, std::string& wkt, std::string& file) {
  for (const char* ext : {".prj", ".PRJ"}) {
    const std::string path = with_extension(grid, ext);
    if (!path_exists(path)) continue;
    const File f = open_file(path, "r", "its coordinate system " + path + " cannot be read: ");
    constexpr long long kMost = 1 << 20;
    if (host_file_size(f.get()) > kMost) throw Failure("its coordinate system " + path + " is over 1 MiB");
    std::string text(static_cast<std::size_t>(std::max(0LL, host_file_size(f.get()))), '\0');
    if (std::fread(text.data(), 1, text.size(), f.get()) != text.size())
      throw Failure("its coordinate system " + path + " could not be read");
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
    wkt = text;
    file = path;
    return;
  }
}

}  // namespace

void ImageSource::read_byte_lines(const ByteLineSink& sink, const ReadProgress& progress) {
  std::vector<unsigned char> bytes(static_cast<std::size_t>(columns));
  read_lines(
      [&](int line, const double* values) {
        for (int j = 0; j < columns; ++j) bytes[static_cast<std::size_t>(j)] = static_cast<unsigned char>(values[j]);
        return sink(line, bytes.data());
      },
      progress);
}

Georef grid_georef(const AscHeader& header) {
  Georef g;
  if (!(header.dpix_size > 0) || !std::isfinite(header.X_min) || !std::isfinite(header.Y_min)) return g;
  g.valid = true;
  g.geotransform[0] = header.X_min;
  g.geotransform[1] = header.dpix_size;
  g.geotransform[2] = 0;
  g.geotransform[3] = header.Y_min + header.nb_lig * header.dpix_size;
  g.geotransform[4] = 0;
  g.geotransform[5] = -header.dpix_size;
  return g;
}

std::unique_ptr<ImageSource> open_raw_source(const std::string& raw_path, const std::string& descriptor_path) {
  const File raster = open_file(raw_path, "rb");
  const File descriptor = open_file(descriptor_path, "r", "its descriptor " + descriptor_path + " cannot be read: ");
  FILE* f = raster.get();
  FILE* d = descriptor.get();
  auto source = std::make_unique<RawSource>();
  RasterDescriptor values;
  try {
    read_descriptor(d, values);
  } catch (const Failure& failure) {
    throw Failure("its descriptor " + descriptor_path + ": " + failure.what());
  }
  if (values.nb_lig < 1 || values.nb_col < 1)
    throw Failure(size_refusal("its descriptor " + descriptor_path, values.nb_lig, values.nb_col));
  const long long need = static_cast<long long>(values.nb_lig) * values.nb_col;
  const long long have = host_file_size(f);
  if (have < need)
    throw Failure("the raster holds " + std::to_string(have) + " bytes, but " + std::to_string(values.nb_lig) +
                  " lines of " + std::to_string(values.nb_col) + " columns need " + std::to_string(need));
  source->path = raw_path;
  source->descriptor_path = descriptor_path;
  source->lines = values.nb_lig;
  source->columns = values.nb_col;
  source->descriptor = values;
  return source;
}

std::unique_ptr<ImageSource> open_bmp_source(const std::string& path) {
  auto source = std::make_unique<BmpSource>();
  int columns = 0, lines = 0, type = 0;
  Color32* palette = nullptr;
  unsigned char** plane = load_bmp(path.c_str(), &columns, &lines, &type, &palette);
  source->plane = plane;
  source->lines = lines;
  source->columns = columns;
  if (lines < 1 || columns < 1) throw Failure(size_refusal("its header", lines, columns));
  if (type == 2) bgr_rows_to_grey(plane, lines, columns);
  return source;
}

std::unique_ptr<ImageSource> open_asc_source(const std::string& path) {
  const File file = open_file(path, "r");
  FILE* f = file.get();
  AscTokens tokens(file_source(f), host_file_size(f));
  AscHeader header;
  asc_read_header(tokens, header);
  if (header.nb_lig < 1 || header.nb_col < 1) throw Failure(size_refusal("its header", header.nb_lig, header.nb_col));
  if (!tokens.could_hold(static_cast<long long>(header.nb_lig) * header.nb_col)) {
    // too short for its header: say which value is the first one missing
    asc_read_values(tokens, header.nb_lig, header.nb_col, [](int, const double*) { return true; });
    throw Failure("the file changed while it was read");
  }
  auto source = std::make_unique<AscGridSource>();
  read_grid_prj(path, source->georef.wkt, source->coordinate_file);
  source->path = path;
  source->lines = header.nb_lig;
  source->columns = header.nb_col;
  source->samples = Samples::other;
  source->sample_type = "ASCII grid";
  const std::string wkt = source->georef.wkt;
  source->georef = grid_georef(header);
  source->georef.wkt = wkt;
  source->grid_header = header;
  return source;
}
