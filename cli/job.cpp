// One image of the command line: see job.h.
//
// Notes
//  1. The run itself is the pipeline's (pipeline/pipeline.h): this file
//     turns the options into a request (the window, or without -w the one
//     the data calls for; the skeleton: the sound one unless --as-dialogue
//     or --frame keep; the values by the result's kind), and reports.
//  2. With --as-dialogue, 8-bit values and an integer window, the object is
//     the one the dialogue's thresholding makes, so the result bytes are
//     the dialogue's.
//  3. Every result goes through write_outputs (outputs.h), the one place
//     that puts files in place: an image's result, descriptor and graph
//     files together, the picture handed over a block of lines at a time.
#include "cli/job.h"
#include "cli/outputs.h"

#include <chrono>
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
#include "graph/skeleton_graph.h"
#include "platform/host.h"
#include "pipeline/pipeline.h"
#include "platform/failure.h"

#ifdef SOLVIK_HAVE_GDAL_RASTER
#include "formats/gdal_raster.h"
#endif


#include <unistd.h>

namespace {

constexpr long long kLargeImage = 4LL << 20;  // pixels from which progress is shown

std::string number_text(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%.10g", v);
  return text;
}

// --- progress -------------------------------------------------------------------

// The run's percentage of one image: reading up to 40 %, thinning to 85 %,
// writing to 100 %, with the time left once a twentieth is done (at the
// pace so far). Printed only when it changes.
class ImageProgress {
 public:
  ImageProgress(Messages& m, const std::string& name, bool on)
      : m_(m), name_(name), on_(on), start_(std::chrono::steady_clock::now()) {}
  ~ImageProgress() {
    if (on_ && shown_ >= 0) m_.progress(name_ + ": " + std::to_string(shown_) + "%", true);
  }
  void at(double fraction, const char* stage) {
    if (!on_) return;
    fraction = std::clamp(fraction, 0.0, 1.0);
    const int percent = static_cast<int>(std::lround(fraction * 100));
    if (percent == shown_ && stage == stage_) return;
    shown_ = percent;
    stage_ = stage;
    std::string left;
    if (fraction >= 0.05 && fraction < 1) {
      const double spent = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
      const long long seconds = std::llround(spent * (1 - fraction) / fraction);
      left = seconds >= 60 ? ", about " + std::to_string(seconds / 60) + " min " + std::to_string(seconds % 60) + " s left"
                           : ", about " + std::to_string(seconds) + " s left";
    }
    m_.progress(name_ + ": " + std::to_string(percent) + "% " + stage + left, false);
  }

 private:
  Messages& m_;
  std::string name_;
  bool on_;
  std::chrono::steady_clock::time_point start_;
  int shown_ = -1;
  const char* stage_ = "";
};

// --- opening ----------------------------------------------------------------------

std::unique_ptr<ImageSource> open_source(const std::string& path, int band) {
  const std::string ext = extension_of(path);
  if (ext == ".raw") return open_raw_source(path, with_extension(path, ".txt"));
  if (ext == ".asc") return open_asc_source(path);
  if (ext == ".bmp") {
    std::string refusal;
    try {
      return open_bmp_source(path);
    } catch (const std::bad_alloc&) {
      throw Failure("not enough memory to read it");
    } catch (const Failure& failure) {
      refusal = failure.what();
    }
#ifdef SOLVIK_HAVE_GDAL_RASTER
    // a bitmap of another depth or direction, or another format named .bmp
    try {
      return open_gdal_source(path, band);
    } catch (const Failure& failure) {
      throw Failure(std::string(failure.what()) == "not a raster GDAL recognises" ? refusal : failure.what());
    }
#else
    throw Failure(refusal);
#endif
  }
#ifdef SOLVIK_HAVE_GDAL_RASTER
  return open_gdal_source(path, band);
#else
  (void)band;
  throw Failure("reading " + (ext.empty() ? std::string("this file") : ext + " files") +
                " needs GDAL, which this build of solvik lacks");
#endif
}

// --- the job ----------------------------------------------------------------------

// The finished picture into the job's files, all of them in place together
// or none (write_outputs).
// The data needs -w: its values are no grey levels and no 1-bit mask.
struct NeedsWindow : Failure {
  using Failure::Failure;
};

// Seconds with three decimals.
std::string fixed_text(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", v);
  return text;
}

std::string number_range(double lo, double hi) { return number_text(lo) + " to " + number_text(hi); }

NeedsWindow needs_window(const ImageSource& source, long long finite, double lo, double hi) {
  const std::string held =
      finite == 0 ? "no value (all are nodata)" : source.sample_type + " values from " + number_range(lo, hi);
  return NeedsWindow("it holds " + held + ": say which are the objects with -w MIN:MAX (or -w dark, bright or nonzero)");
}

// The finished picture into the job's files, all of them in place together
// or none (write_outputs). A grid read without -w is checked to hold grey
// levels first (its values were looked at while they were marked).
class FileSink : public pipeline::Sink {
 public:
  FileSink(const ImageJob& job, const Options& o, const Carried& c, const ResultSettings& settings,
           const ImageSource& source, bool check_grid, ImageProgress& progress)
      : job_(job), o_(o), c_(c), settings_(settings), source_(source), check_grid_(check_grid), progress_(progress) {}
  void write(const pipeline::Picture& picture, const pipeline::Outcome& outcome) override {
    const pipeline::ValueCounts& v = outcome.values;
    if (check_grid_ && !(v.whole && v.min >= 0 && v.max <= 255)) throw needs_window(source_, v.finite, v.min, v.max);
    // the writers ask for the picture a block of lines at a time
    const RowSource rows = [&picture](int first, int count, unsigned char* const* out) {
      picture.read(first, count, out);
    };
    std::string why;
    progress_.at(0.85, "writing");
    if (!write_outputs(job_, o_, rows, c_, settings_, outcome.graph ? &*outcome.graph : nullptr,
                       [this](double f) { progress_.at(0.85 + 0.15 * f, "writing"); }, &why))
      throw Failure(why);
  }

 private:
  const ImageJob& job_;
  const Options& o_;
  const Carried& c_;
  const ResultSettings& settings_;
  const ImageSource& source_;
  bool check_grid_;
  ImageProgress& progress_;
};

// What to say of a window that selects no pixel or every pixel: the result
// is then all background, or the skeleton of the whole picture, which is
// rarely what was meant. "" when it selects some.
std::string window_note(const pipeline::Outcome& outcome) {
  const pipeline::ValueCounts& v = outcome.values;
  if (v.pixels == 0 || (v.selected > 0 && v.selected < v.pixels)) return "";
  const std::string values = v.finite ? "values range from " + number_range(v.min, v.max) : "no pixel has a value";
  const pipeline::Window& w = outcome.window;
  const std::string window = w.kind == pipeline::WindowKind::nonzero ? "the window nonzero"
                                                                     : "the window " + number_text(w.lo) + ":" + number_text(w.hi);
  return "warning: " + window + " selects " + (v.selected == 0 ? "no pixel" : "every pixel") + " (" + values +
         "); the result is written all the same";
}

// The window of the options, or without -w the one the data calls for:
// 8-bit data as the dialogue thresholds it (128:255), 1-bit data its
// non-zero pixels, an ASCII grid of whole numbers 0 to 255 as the dialogue
// reads its grids (`check_grid`: checked while marked). Any other data
// asks for -w, naming its range (NeedsWindow).
pipeline::Window window_for(const Options& o, ImageSource& source, bool& check_grid) {
  check_grid = false;
  if (o.window_given) {
    switch (o.window) {
      case WindowKind::dark: return {pipeline::WindowKind::dark, 0, 0};
      case WindowKind::bright: return {pipeline::WindowKind::bright, 0, 0};
      case WindowKind::nonzero: return {pipeline::WindowKind::nonzero, 0, 0};
      case WindowKind::range: break;
    }
    return {pipeline::WindowKind::range, o.lo, o.hi};
  }
  if (source.samples == Samples::bit) return {pipeline::WindowKind::nonzero, 0, 0};
  check_grid = source.samples == Samples::other && source.grid_header.has_value();
  if (source.samples == Samples::byte || check_grid) return {pipeline::WindowKind::range, 128, 255};
  const pipeline::ValueRange range = pipeline::value_range(source);
  throw needs_window(source, range.finite, range.lo, range.hi);
}

bool thin_opened(const ImageJob& job, const Options& o, Messages& messages, ImageSource& source, bool* usage,
                 std::string* why) {
  Carried carried;
  carried.lines = source.lines;
  carried.columns = source.columns;
  carried.georef = source.georef;
  carried.descriptor = source.descriptor;
  carried.grid_header = source.grid_header;
  const ResultSettings settings = result_settings(o, job.output, carried.georef.valid || !carried.georef.wkt.empty());

  ImageProgress progress(messages, job.input,
                         messages.progress_for(static_cast<long long>(carried.lines) * carried.columns));
  pipeline::Request request;
  bool check_grid = false;
  try {
    request.window = window_for(o, source, check_grid);
  } catch (const NeedsWindow& e) {
    if (usage) *usage = true;
    return fail(why, e.what());
  }
  // the sound skeleton needs the padded frame: the kept frame is the
  // dialogue's thinning
  const bool dialogue = o.as_dialogue || o.frame == FrameMode::keep;
  request.skeleton = dialogue ? SkeletonKind::dialogue : SkeletonKind::sound;
  request.frame = o.as_dialogue ? FrameMode::keep : o.frame;
  request.skeleton_value = settings.skeleton;
  request.background_value = settings.background;
  request.threads = job.threads;
  request.prune = o.prune;
  request.graph = !job.vector_file.empty() || !job.nodes_file.empty() || !job.summary_file.empty();
  request.progress = [&](pipeline::Stage stage, double f) {
    switch (stage) {
      case pipeline::Stage::reading: progress.at(0.4 * f, "reading"); break;
      case pipeline::Stage::thinning: progress.at(0.4 + 0.35 * f, "thinning"); break;
      case pipeline::Stage::finishing: progress.at(0.75 + 0.1 * f, "finishing"); break;
      case pipeline::Stage::writing: break;  // the sink tells its own
    }
  };
  FileSink sink(job, o, carried, settings, source, check_grid, progress);
  pipeline::Outcome outcome;
  try {
    outcome = pipeline::run(source, request, sink);
  } catch (const NeedsWindow& e) {
    if (usage) *usage = true;
    return fail(why, e.what());
  }
  if (outcome.threshold) {
    const pipeline::Window& w = outcome.window;
    messages.info(job.input + ": Otsu threshold " + number_text(*outcome.threshold) + ", window " +
                  number_text(w.lo) + ":" + number_text(w.hi) +
                  (o.window == WindowKind::dark ? " (dark objects)" : " (bright objects)") +
                  (outcome.left_out ? " (" + std::to_string(outcome.left_out) + " values that are not finite left out)"
                                    : ""));
  }
  if (const std::string note = window_note(outcome); !note.empty()) messages.warning(job.input + ": " + note);
  progress.at(1, "done");
  if (o.timings) {
    const pipeline::Outcome::Seconds& s = outcome.seconds;
    messages.warning(job.input + ": reading " + fixed_text(s.reading) + " s, thinning " + fixed_text(s.thinning) +
                     " s, finishing " + fixed_text(s.finishing) + " s, writing " + fixed_text(s.writing) + " s");
  }
  return true;
}

}  // namespace

// --- messages ---------------------------------------------------------------------

Messages::Messages(bool quiet, bool force_progress, bool several_at_once)
    : quiet_(quiet), force_(force_progress), several_(several_at_once) {
  terminal_ = isatty(2) == 1;
}

void Messages::info(const std::string& line) {
  if (quiet_) return;
  std::lock_guard<std::mutex> hold(lock_);
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

void Messages::warning(const std::string& line) {
  std::lock_guard<std::mutex> hold(lock_);
  std::fprintf(stderr, "%s\n", line.c_str());
  std::fflush(stderr);
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
    source = open_source(job.input, o.band);
    lines = source->lines;
    columns = source->columns;
    if (!outputs_spare_inputs(job, *source, why)) return false;
    return thin_opened(job, o, messages, *source, usage, why);
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
