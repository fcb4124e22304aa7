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
#include "pipeline/pipeline.h"
#include "platform/failure.h"

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

std::string result_grid_header(const Carried& c) {
  if (c.grid_header)
    return asc_header_text(c.columns, c.lines, c.grid_header->X_min, c.grid_header->Y_min, c.grid_header->dpix_size);
  if (north_up_square(c.georef)) {
    const double* t = c.georef.geotransform;
    return asc_header_text(c.columns, c.lines, t[0], t[3] + c.lines * t[5], t[1]);
  }
  return asc_header_text(c.columns, c.lines, 0.0, 0.0, 1.0);
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
                   ImageProgress& progress, std::string* why) {
  const std::string ext = extension_of(output);
  std::vector<AtomicOutput> files;
  const int lines = c.lines, columns = c.columns;
  switch (result_kind(ext)) {
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
      const std::string header = result_grid_header(c);
      files.push_back({output, through_stream("w", [=](FILE* f) {
                         return std::fwrite(header.data(), 1, header.size(), f) == header.size() &&
                                asc_write_grid([f](const char* data, std::size_t n) { return std::fwrite(data, 1, n, f) == n; },
                                               const_cast<unsigned char* const*>(rows), lines, columns, nullptr);
                       })});
      break;
    }
    case ResultKind::gdal: {
#ifdef SOLVIK_HAVE_GDAL_RASTER
      const std::string driver = gdal_driver_for(ext);
      auto gdal_why = std::make_shared<std::string>();
      files.push_back({output, [=, &progress](const std::string& tmp) {
                         return write_gdal_raster(tmp, driver, rows, lines, columns, c.georef,
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

bool write_graph_files(const ImageJob& job, const Options& o, const SkeletonGraph& graph, const Carried& c,
                       std::string* why) {
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

// The finished picture into the job's files: the graph's first, so that a
// graph file that cannot be written leaves the result unwritten too.
class FileSink : public pipeline::Sink {
 public:
  FileSink(const ImageJob& job, const Options& o, const Carried& c, ImageProgress& progress)
      : job_(job), o_(o), c_(c), progress_(progress) {}
  void write(const pipeline::Picture& picture, const pipeline::Outcome& outcome) override {
    // the writers take whole rows
    const int lines = picture.lines, columns = picture.columns;
    std::vector<unsigned char> bytes(static_cast<std::size_t>(lines) * static_cast<std::size_t>(columns));
    std::vector<unsigned char*> rows(static_cast<std::size_t>(lines));
    for (int i = 0; i < lines; ++i) rows[static_cast<std::size_t>(i)] = bytes.data() + static_cast<std::size_t>(i) * columns;
    picture.read(0, lines, rows.data());
    std::string why;
    if (outcome.graph && !write_graph_files(job_, o_, *outcome.graph, c_, &why)) throw Failure(why);
    progress_.at(0.85, "writing");
    if (!write_results(job_.output, rows.data(), c_, progress_, &why))
      throw Failure("the result " + job_.output + " could not be written: " + why);
  }

 private:
  const ImageJob& job_;
  const Options& o_;
  const Carried& c_;
  ImageProgress& progress_;
};

pipeline::Window window_of(const Options& o) {
  switch (o.window) {
    case WindowKind::dark: return {pipeline::WindowKind::dark, 0, 0};
    case WindowKind::bright: return {pipeline::WindowKind::bright, 0, 0};
    default: return {pipeline::WindowKind::range, o.lo, o.hi};
  }
}

bool thin_opened(const ImageJob& job, const Options& o, Messages& messages, ImageSource& source, std::string* why) {
  Carried carried;
  carried.lines = source.lines;
  carried.columns = source.columns;
  carried.georef = source.georef;
  carried.descriptor = source.descriptor;
  carried.grid_header = source.grid_header;

  ImageProgress progress(messages, job.input,
                         messages.progress_for(static_cast<long long>(carried.lines) * carried.columns));
  pipeline::Request request;
  request.window = window_of(o);
  request.skeleton = SkeletonKind::dialogue;
  request.frame = o.frame;
  request.skeleton_value = o.skeleton_value;
  request.background_value = o.background_value;
  request.threads = job.threads;
  request.prune = o.prune;
  request.graph = !job.vector_file.empty() || !job.nodes_file.empty() || !job.summary_file.empty();
  request.progress = [&](pipeline::Stage stage, double f) {
    if (stage == pipeline::Stage::reading) progress.at(0.4 * f, "reading");
    else progress.at(0.4 + 0.45 * f, "thinning");
  };
  FileSink sink(job, o, carried, progress);
  const pipeline::Outcome outcome = pipeline::run(source, request, sink);
  if (outcome.threshold) {
    const pipeline::Window& w = outcome.window;
    messages.info(job.input + ": Otsu threshold " + number_text(*outcome.threshold) + ", window " +
                  number_text(w.lo) + ":" + number_text(w.hi) +
                  (o.window == WindowKind::dark ? " (dark objects)" : " (bright objects)") +
                  (outcome.left_out ? " (" + std::to_string(outcome.left_out) + " values that are not finite left out)"
                                    : ""));
  }
  progress.at(1, "done");
  (void)why;
  return true;
}

// The files of a job that no result may replace, and the files it writes.
bool results_spare_inputs(const ImageJob& job, const ImageSource& source, std::string* why) {
  std::vector<std::string> inputs{job.input};
  if (!source.descriptor_path.empty()) inputs.push_back(source.descriptor_path);
  if (job.protected_files) inputs.insert(inputs.end(), job.protected_files->begin(), job.protected_files->end());
  std::vector<std::string> outputs{job.output};
  if (result_kind(extension_of(job.output)) == ResultKind::raw) outputs.push_back(with_extension(job.output, ".txt"));
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

bool thin_image(const ImageJob& job, const Options& o, Messages& messages, std::string* why) {
  std::unique_ptr<ImageSource> source;
  long long lines = 0, columns = 0;
  try {
    source = open_source(job.input, o.band, why);
    if (!source) return false;
    lines = source->lines;
    columns = source->columns;
    if (!results_spare_inputs(job, *source, why)) return false;
    return thin_opened(job, o, messages, *source, why);
  } catch (const std::bad_alloc&) {
    return fail(why, "not enough memory for an image of " + std::to_string(lines) + " lines of " +
                         std::to_string(columns) + " columns");
  } catch (const std::exception& e) {  // Failure, and a kernel's refusal
    return fail(why, e.what());
  }
}

std::string formats_text() {
  std::string text =
      "Written, by the result's extension:\n"
      "  .raw (+ .txt)  the program's raster and descriptor\n"
      "  .bmp           8-bit bitmap with the grey-ramp palette\n"
      "  .asc           ASCII grid\n";
#ifdef SOLVIK_HAVE_GDAL_RASTER
  text +=
      "  .tif .tiff     GeoTIFF (DEFLATE, tiled above 4096 pixels a side)\n"
      "  .png           PNG\n"
      "  .pgm           PGM\n"
      "Read: .raw (with its .txt descriptor), .asc, .bmp, and every raster GDAL reads:\n";
  text += gdal_read_formats();
#else
  text +=
      "Read: .raw (with its .txt descriptor), .asc, .bmp (8 and 24 bits).\n"
      "This build has no GDAL: other formats are neither read nor written.\n";
#endif
  return text;
}
