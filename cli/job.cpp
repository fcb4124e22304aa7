// One image of the command line: see job.h.
//
// Notes
//  1. The image is read line by line and each line marked straight into the
//     object plane (1 inside the window, 0 elsewhere, nodata 0), so a run
//     holds the two one-byte planes of the thinning and a block of lines,
//     whatever the input's type.
//  2. With --window dark or bright the image is read twice more before
//     that: once for its range, once for its histogram (Otsu's method).
//  3. With the frame kept, 8-bit values and an integer window, the object
//     plane is the one the dialogue's thresholding makes, so the result
//     bytes are the dialogue's.
//  4. Every result goes through write_results, the one place that puts
//     files in place (atomically, a raster with its descriptor together).
#include "cli/job.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>

#include "LIB/image.h"
#include "formats/ascii_grid.h"
#include "formats/image_source.h"
#include "formats/raster.h"
#include "graph/graph_summary.h"
#include "graph/skeleton_graph.h"
#include "platform/host.h"
#include "skeleton/pipeline.h"

#ifdef SOLVIK_HAVE_GDAL_RASTER
#include "formats/gdal_raster.h"
#endif

#ifdef SOLVIK_HAVE_VECTOR
#include "formats/vector_file.h"
#endif

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

bool fail(std::string* why, std::string text) {
  if (why) *why = std::move(text);
  return false;
}

constexpr long long kLargeImage = 4LL << 20;  // pixels from which progress is shown

std::string number_text(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%.10g", v);
  return text;
}

// The path with its extension replaced by `ext`.
std::string with_extension(const std::string& path, const std::string& ext) {
  const std::size_t slash = path.find_last_of('/');
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + ext;
  return path.substr(0, dot) + ext;
}

// --- progress -------------------------------------------------------------------

// The run's percentage of one image: reading up to 40 %, thinning to 85 %,
// writing to 100 %. Printed only when it changes.
class ImageProgress {
 public:
  ImageProgress(Messages& m, const std::string& name, bool on) : m_(m), name_(name), on_(on) {}
  ~ImageProgress() {
    if (on_ && shown_ >= 0) m_.progress(name_ + ": " + std::to_string(shown_) + "%", true);
  }
  void at(double fraction, const char* stage) {
    if (!on_) return;
    const int percent = static_cast<int>(std::lround(std::clamp(fraction, 0.0, 1.0) * 100));
    if (percent == shown_ && stage == stage_) return;
    shown_ = percent;
    stage_ = stage;
    m_.progress(name_ + ": " + std::to_string(percent) + "% " + stage, false);
  }

 private:
  Messages& m_;
  std::string name_;
  bool on_;
  int shown_ = -1;
  const char* stage_ = "";
};

// --- opening ----------------------------------------------------------------------

std::unique_ptr<ImageSource> open_source(const std::string& path, int band, std::string* why) {
  const std::string ext = extension_of(path);
  if (ext == ".raw") return open_raw_source(path, with_extension(path, ".txt"), why);
  if (ext == ".asc") return open_asc_source(path, why);
  if (ext == ".bmp") {
    bool out_of_memory = false;
    std::string refusal;
    auto source = open_bmp_source(path, &refusal, &out_of_memory);
    if (source || out_of_memory) {
      if (!source) fail(why, refusal);
      return source;
    }
#ifdef SOLVIK_HAVE_GDAL_RASTER
    // a bitmap of another depth or direction, or another format named .bmp
    std::string gdal_why;
    if (auto other = open_gdal_source(path, band, &gdal_why)) return other;
    fail(why, gdal_why == "not a raster GDAL recognises" ? refusal : gdal_why);
#else
    fail(why, refusal);
#endif
    return nullptr;
  }
#ifdef SOLVIK_HAVE_GDAL_RASTER
  return open_gdal_source(path, band, why);
#else
  (void)band;
  fail(why, "reading " + (ext.empty() ? std::string("this file") : ext + " files") +
                " needs GDAL, which this build of solvik lacks");
  return nullptr;
#endif
}

// --- Otsu -------------------------------------------------------------------------

struct Window {
  double lo, hi;
  std::string note;  // the threshold line, for dark and bright
};

// The range of the values that are not nodata, and whether all are whole.
struct ValueRange {
  double lo = std::numeric_limits<double>::infinity(), hi = -std::numeric_limits<double>::infinity();
  bool whole = true;
  long long count = 0;
};

bool value_range(ImageSource& source, ValueRange& r, std::string* why) {
  return source.read_lines(
      [&](int, const double* v) {
        for (int j = 0; j < source.columns; ++j) {
          if (std::isnan(v[j])) continue;
          r.lo = std::min(r.lo, v[j]);
          r.hi = std::max(r.hi, v[j]);
          r.whole = r.whole && v[j] == std::floor(v[j]);
          ++r.count;
        }
        return true;
      },
      nullptr, why);
}

// The middle of the splits "bins 0..k | k+1.." with the largest
// between-class variance (a two-level picture gives a whole plateau of them).
int otsu_split(const std::vector<double>& histogram) {
  const int bins = static_cast<int>(histogram.size());
  double total = 0, total_sum = 0;
  for (int k = 0; k < bins; ++k) {
    total += histogram[static_cast<std::size_t>(k)];
    total_sum += k * histogram[static_cast<std::size_t>(k)];
  }
  double w0 = 0, sum0 = 0, best = -1;
  int first = 0, last = 0;
  for (int k = 0; k + 1 < bins; ++k) {
    w0 += histogram[static_cast<std::size_t>(k)];
    sum0 += k * histogram[static_cast<std::size_t>(k)];
    const double w1 = total - w0;
    if (w0 == 0 || w1 == 0) continue;
    const double d = sum0 / w0 - (total_sum - sum0) / w1;
    const double between = w0 * w1 * d * d;
    if (between > best * (1 + 1e-12)) {
      best = between;
      first = last = k;
    } else if (between >= best * (1 - 1e-12)) {
      last = k;
    }
  }
  return (first + last) / 2;
}

// The usage failure of data that needs -w, naming its range.
bool needs_window(const ImageSource& source, const ValueRange& range, bool* usage, std::string* why) {
  if (usage) *usage = true;
  const std::string held = range.count == 0 ? "no value (all are nodata)"
                                            : source.sample_type + " values from " + number_text(range.lo) + " to " +
                                                  number_text(range.hi);
  return fail(why, "it holds " + held + ": say which are the objects with -w MIN:MAX (or -w dark, bright or nonzero)");
}

bool grey_levels(const ValueRange& r) { return r.whole && (r.count == 0 || (r.lo >= 0 && r.hi <= 255)); }

// The window when -w was not given, by what the data is: 8-bit data as the
// dialogue thresholds it (128:255), 1-bit data its non-zero pixels, an ASCII
// grid of whole numbers 0 to 255 as the dialogue reads its grids (grey
// levels: `check_grid` is set, the values are checked while they are marked).
// Any other data asks for -w, naming its range.
bool default_window(ImageSource& source, WindowKind& kind, Window& window, bool& check_grid, bool* usage,
                    std::string* why) {
  if (source.samples == Samples::bit) {
    kind = WindowKind::nonzero;
    return true;
  }
  kind = WindowKind::range;
  window.lo = 128;
  window.hi = 255;
  check_grid = source.samples == Samples::other && source.grid_header.has_value();
  if (source.samples == Samples::byte || check_grid) return true;
  ValueRange range;
  if (!value_range(source, range, why)) return false;
  return needs_window(source, range, usage, why);
}

bool otsu_window(ImageSource& source, WindowKind kind, Window& window, std::string* why) {
  ValueRange range;
  if (!value_range(source, range, why)) return false;
  if (range.count == 0) return fail(why, "no pixel has a value (all are nodata): there is no threshold to find");
  const double lo = range.lo, hi = range.hi;
  // one bin per value for whole numbers of a small range, else 4096 bins
  const bool per_value = range.whole && hi - lo < 65536;
  const int bins = per_value ? static_cast<int>(hi - lo) + 1 : 4096;
  const double width = per_value ? 1.0 : (hi - lo) / bins;
  std::vector<double> histogram(static_cast<std::size_t>(bins), 0.0);
  auto bin_of = [&](double v) {
    if (width <= 0) return 0;
    return std::min(bins - 1, static_cast<int>((v - lo) / width));
  };
  if (!source.read_lines(
          [&](int, const double* v) {
            for (int j = 0; j < source.columns; ++j)
              if (!std::isnan(v[j])) histogram[static_cast<std::size_t>(bin_of(v[j]))] += 1;
            return true;
          },
          nullptr, why))
    return false;
  const int split = otsu_split(histogram);
  const double threshold = per_value ? lo + split : lo + (split + 1) * width;
  const double above = per_value ? threshold + 1 : std::nextafter(threshold, std::numeric_limits<double>::infinity());
  if (kind == WindowKind::dark) {
    window.lo = lo;
    window.hi = threshold;
  } else {
    window.lo = above;
    window.hi = hi;
  }
  window.note = "Otsu threshold " + number_text(threshold) + ", window " + number_text(window.lo) + ":" +
                number_text(window.hi) + (kind == WindowKind::dark ? " (dark objects)" : " (bright objects)");
  return true;
}

// --- results ----------------------------------------------------------------------

// What a result carries from its input.
struct Carried {
  int lines = 0, columns = 0;
  ImageGeoref georef;
  std::optional<RasterDescriptor> descriptor;
  std::optional<AscHeader> grid_header;
};

bool north_up_square(const ImageGeoref& g) {
  const double* t = g.geotransform;
  return g.valid && t[2] == 0 && t[4] == 0 && t[1] > 0 && std::fabs(t[5] + t[1]) <= 1e-9 * t[1];
}

RasterDescriptor result_descriptor(const Carried& c) {
  if (c.descriptor) return *c.descriptor;
  // as the dialogue creates a missing descriptor: type 1, values 0 to 255
  RasterDescriptor d{c.lines, c.columns, 1, 0, 255, 1};
  if (north_up_square(c.georef) && c.georef.geotransform[1] >= 1 &&
      c.georef.geotransform[1] == std::floor(c.georef.geotransform[1]) && c.georef.geotransform[1] < 2147483647.0)
    d.taille_pix = static_cast<int>(c.georef.geotransform[1]);
  return d;
}

std::string result_grid_header(const Carried& c, const ResultSettings& settings) {
  double x = 0.0, y = 0.0, cell = 1.0;
  if (c.grid_header) {
    x = c.grid_header->X_min;
    y = c.grid_header->Y_min;
    cell = c.grid_header->dpix_size;
  } else if (north_up_square(c.georef)) {
    const double* t = c.georef.geotransform;
    x = t[0];
    y = t[3] + c.lines * t[5];
    cell = t[1];
  }
  if (!settings.nodata && !settings.nodata_dropped) return asc_header_text(c.columns, c.lines, x, y, cell);
  return asc_header_text(c.columns, c.lines, x, y, cell, settings.nodata);
}

// A writer that fills the temporary file at `tmp` through a stdio stream.
template <typename Write>
std::function<bool(const std::string&)> through_stream(const char* mode, Write write) {
  return [mode, write](const std::string& tmp) {
    FILE* f = std::fopen(tmp.c_str(), mode);
    if (!f) return false;
    bool ok = write(f);
    ok = std::fclose(f) == 0 && ok;
    return ok;
  };
}

bool write_results(const std::string& output, const unsigned char* const* rows, const Carried& c,
                   const ResultSettings& settings, ImageProgress& progress, std::string* why) {
  const std::string ext = extension_of(output);
  std::vector<AtomicOutput> files;
  const int lines = c.lines, columns = c.columns;
  switch (settings.kind) {
    case ResultKind::raw: {
      const RasterDescriptor d = result_descriptor(c);
      files.push_back({output, through_stream("wb", [=](FILE* f) { return write_raster_rows(f, rows, lines, columns); })});
      files.push_back({with_extension(output, ".txt"), through_stream("w", [=](FILE* f) { return write_descriptor(f, d); })});
      break;
    }
    case ResultKind::bmp:
      files.push_back({output, [=](const std::string& tmp) {
                         return SauveBMP(tmp.c_str(), const_cast<unsigned char**>(rows), columns, lines, 0, nullptr) == 0;
                       }});
      break;
    case ResultKind::asc: {
      const std::string header = result_grid_header(c, settings);
      files.push_back({output, through_stream("w", [=](FILE* f) {
                         return std::fwrite(header.data(), 1, header.size(), f) == header.size() &&
                                asc_write_grid([f](const char* data, std::size_t n) { return std::fwrite(data, 1, n, f) == n; },
                                               const_cast<unsigned char* const*>(rows), lines, columns, nullptr);
                       })});
      // the grid's coordinate system, as GIS programs look for it beside the grid
      if (!c.georef.wkt.empty()) {
#ifdef SOLVIK_HAVE_GDAL_RASTER
        std::string prj = esri_wkt(c.georef.wkt);
        if (prj.empty()) prj = c.georef.wkt;
#else
        const std::string prj = c.georef.wkt;
#endif
        files.push_back({with_extension(output, ".prj"), through_stream("w", [prj](FILE* f) {
                           return std::fwrite(prj.data(), 1, prj.size(), f) == prj.size();
                         })});
      }
      break;
    }
    case ResultKind::gdal: {
#ifdef SOLVIK_HAVE_GDAL_RASTER
      const GdalResult result{settings.driver, settings.creation_options, settings.nodata};
      auto gdal_why = std::make_shared<std::string>();
      files.push_back({output, [=, &progress](const std::string& tmp) {
                         return write_gdal_raster(tmp, result, rows, lines, columns, c.georef,
                                                  [&progress](double f) { progress.at(0.85 + 0.15 * f, "writing"); },
                                                  gdal_why.get());
                       }});
      if (write_atomically(files, why)) return true;
      if (!gdal_why->empty() && why) *why = *gdal_why;
      return false;
#else
      (void)progress;
      return fail(why, "writing " + ext + " files needs GDAL, which this build of solvik lacks");
#endif
    }
    case ResultKind::none:
      return fail(why, "results cannot be written as '" + ext + "' (choose .tif, .png, .pgm, .bmp, .asc or .raw)");
  }
  return write_atomically(files, why);
}

// --- the skeleton graph ------------------------------------------------------------

bool write_graph_files(const ImageJob& job, const Options& o, const unsigned char* const* skeleton,
                       unsigned char skeleton_value, const Carried& c, std::string* why) {
  if (job.vector_file.empty() && job.nodes_file.empty() && job.summary_file.empty()) return true;
  const SkeletonGraph graph = build_graph(skeleton, c.lines, c.columns, skeleton_value);
  Georef georef;
  georef.valid = c.georef.valid;
  std::copy(c.georef.geotransform, c.georef.geotransform + 6, georef.geotransform);
  georef.wkt = c.georef.wkt;
  std::string reason;
  if (!job.summary_file.empty() && !write_summary_csv(job.summary_file, graph, georef, &reason))
    return fail(why, "the summary " + job.summary_file + " could not be written: " + reason);
#ifdef SOLVIK_HAVE_VECTOR
  if (!job.vector_file.empty() && !write_branches(job.vector_file, graph, georef, o.simplify, &reason))
    return fail(why, "the lines " + job.vector_file + " could not be written: " + reason);
  if (!job.nodes_file.empty() && !write_nodes(job.nodes_file, graph, georef, &reason))
    return fail(why, "the nodes " + job.nodes_file + " could not be written: " + reason);
#else
  (void)o;
  if (!job.vector_file.empty() || !job.nodes_file.empty())
    return fail(why, "vector files need GDAL, which this build of solvik lacks");
#endif
  return true;
}

// --- the job ----------------------------------------------------------------------

bool thin_opened(const ImageJob& job, const Options& o, Messages& messages, std::unique_ptr<ImageSource> source,
                 bool* usage, std::string* why) {
  Carried carried;
  carried.lines = source->lines;
  carried.columns = source->columns;
  carried.georef = source->georef;
  carried.descriptor = source->descriptor;
  carried.grid_header = source->grid_header;

  const ResultSettings settings =
      result_settings(o, job.output, carried.georef.valid || !carried.georef.wkt.empty());
  Window window{o.lo, o.hi, ""};
  WindowKind kind = o.window;
  bool check_grid = false;  // a grid without -w: are its values grey levels?
  ValueRange grid_range;
  if (!o.window_given && !default_window(*source, kind, window, check_grid, usage, why)) return false;
  if (kind == WindowKind::dark || kind == WindowKind::bright) {
    if (!otsu_window(*source, kind, window, why)) return false;
    messages.info(job.input + ": " + window.note);
  }

  ImageProgress progress(messages, job.input,
                         messages.progress_for(static_cast<long long>(carried.lines) * carried.columns));
  SkeletonPlanes planes(carried.lines, carried.columns, o.frame);
  unsigned char** object = planes.object();
  const std::size_t width = static_cast<std::size_t>(carried.columns);
  progress.at(0, "reading");
  if (!source->read_lines(
          [&](int line, const double* values) {
            if (kind == WindowKind::nonzero) {
              for (std::size_t j = 0; j < width; ++j) object[line][j] = values[j] != 0 && !std::isnan(values[j]);
            } else {
              mark_window(values, 1, width, window.lo, window.hi, object[line]);
            }
            for (std::size_t j = 0; check_grid && j < width; ++j) {
              if (std::isnan(values[j])) continue;
              grid_range.lo = std::min(grid_range.lo, values[j]);
              grid_range.hi = std::max(grid_range.hi, values[j]);
              grid_range.whole = grid_range.whole && values[j] == std::floor(values[j]);
              ++grid_range.count;
            }
            return true;
          },
          [&](double f) { progress.at(0.4 * f, "reading"); }, why))
    return false;
  if (check_grid && !grey_levels(grid_range)) return needs_window(*source, grid_range, usage, why);
  source.reset();  // a bitmap's pixels are no longer needed

  progress.at(0.4, "thinning");
  planes.run();
  // pruning works on the finished skeleton, 1 on its pixels
  if (o.prune > 0) prune_skeleton(planes.object(), carried.lines, carried.columns, o.prune, 1, 255);
  planes.set_values(settings.skeleton, settings.background);
  progress.at(0.85, "writing");

  std::string reason;
  if (!write_results(job.output, planes.result(), carried, settings, progress, &reason))
    return fail(why, "the result " + job.output + " could not be written: " + reason);
  if (!write_graph_files(job, o, planes.result(), settings.skeleton, carried, why)) return false;
  progress.at(1, "done");
  return true;
}

// The files of a job that no result may replace, and the files it writes.
bool results_spare_inputs(const ImageJob& job, const ImageSource& source, std::string* why) {
  std::vector<std::string> inputs{job.input};
  if (!source.descriptor_path.empty()) inputs.push_back(source.descriptor_path);
  if (!source.coordinate_file.empty()) inputs.push_back(source.coordinate_file);
  if (job.protected_files) inputs.insert(inputs.end(), job.protected_files->begin(), job.protected_files->end());
  std::vector<std::string> outputs{job.output};
  if (result_kind(extension_of(job.output)) == ResultKind::raw) outputs.push_back(with_extension(job.output, ".txt"));
  if (result_kind(extension_of(job.output)) == ResultKind::asc && !source.georef.wkt.empty())
    outputs.push_back(with_extension(job.output, ".prj"));
  for (const std::string& out : {job.vector_file, job.nodes_file, job.summary_file})
    if (!out.empty()) outputs.push_back(out);
  for (const std::string& out : outputs)
    for (const std::string& in : inputs)
      if (same_file(in, out)) return fail(why, "the result " + out + " would replace the input " + in);
  return true;
}

}  // namespace

// --- messages ---------------------------------------------------------------------

Messages::Messages(bool quiet, bool force_progress, bool several_at_once)
    : quiet_(quiet), force_(force_progress), several_(several_at_once) {
#ifdef _WIN32
  terminal_ = false;
#else
  terminal_ = isatty(2) == 1;
#endif
}

void Messages::info(const std::string& line) {
  if (quiet_) return;
  std::lock_guard<std::mutex> hold(lock_);
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

bool Messages::progress_for(long long pixels) const {
  if (quiet_ || several_) return false;
  return force_ || (terminal_ && pixels >= kLargeImage);
}

void Messages::progress(const std::string& text, bool done) {
  std::lock_guard<std::mutex> hold(lock_);
  std::fprintf(stderr, "\r%s\033[K%s", text.c_str(), done ? "\n" : "");
  std::fflush(stderr);
}

bool thin_image(const ImageJob& job, const Options& o, Messages& messages, std::string* why, bool* usage) {
  std::unique_ptr<ImageSource> source;
  long long lines = 0, columns = 0;
  try {
    source = open_source(job.input, o.band, why);
    if (!source) return false;
    lines = source->lines;
    columns = source->columns;
    if (!results_spare_inputs(job, *source, why)) return false;
    return thin_opened(job, o, messages, std::move(source), usage, why);
  } catch (const std::bad_alloc&) {
    return fail(why, "not enough memory for an image of " + std::to_string(lines) + " lines of " +
                         std::to_string(columns) + " columns");
  } catch (const std::exception& e) {
    return fail(why, e.what());
  }
}

std::string formats_text() {
  std::string text =
      "Written, by the result's extension:\n"
      "  .raw (+ .txt)  the program's raster and descriptor\n"
      "  .bmp           8-bit bitmap with the grey-ramp palette\n"
      "  .asc           ASCII grid (with a .prj when the input has a coordinate system)\n";
#ifdef SOLVIK_HAVE_GDAL_RASTER
  text +=
      "  .tif .tiff     GeoTIFF (DEFLATE, tiled above 4096 pixels a side)\n"
      "  .png           PNG\n"
      "  .pgm           PGM\n"
      "  with -of FORMAT, any driver below that writes rasters of bytes, by its short name\n"
      "Read: .raw (with its .txt descriptor), .asc (with its .prj), .bmp, and every raster GDAL reads:\n";
  text += gdal_read_formats();
#else
  text +=
      "Read: .raw (with its .txt descriptor), .asc, .bmp (8 and 24 bits).\n"
      "This build has no GDAL: other formats are neither read nor written.\n";
#endif
  return text;
}
