// One image, from a source to a sink: the run every door shares.
//
//   Window    which values are objects: a range, non-zero, or the dark or
//             bright side of Otsu's threshold
//   Request   everything one run is asked for
//   Outcome   what the run found on the way
//   Sink      where the finished picture goes
//   run       reads, marks, thins, finishes, prunes, makes the graph, hands
//             the picture to the sink
//
// Nothing here prints, reads the environment or keeps state: the thread
// count, the progress callback and the cancellation flag come with the
// request. Failures are exceptions (platform/failure.h): a Failure with a
// reason, Cancelled, std::bad_alloc from any thread.
//
// Notes
//  1. The picture is read line by line and each line marked straight into
//     the object plane, so a run holds the planes of the thinning and a
//     block of lines whatever the input's type. Values that are NaN (and so
//     nodata) are never objects. The dialogue's skeleton is thinned and
//     finished on a bit plane (an eighth of a byte per pixel, and as much
//     again while thinning); pruning and the graph need one byte per pixel
//     while they work.
//  2. Otsu's window (dark, bright) reads the picture twice more before
//     that: its range, then its histogram. Only finite values count; values
//     that are not finite (±inf) are left out and counted in the outcome.
//  3. The dialogue's skeleton with the frame kept, 8-bit values and a window
//     of whole numbers marks exactly the dialogue's object, so the result is
//     the dialogue's bytes.
#pragma once

#include <atomic>
#include <functional>
#include <optional>

#include "formats/image_source.h"
#include "graph/skeleton_graph.h"
#include "skeleton/pipeline.h"

namespace pipeline {

enum class WindowKind { range, nonzero, dark, bright };

struct Window {
  WindowKind kind = WindowKind::range;
  double lo = 128, hi = 255;  // the range, both ends included
};

// reading: the values read and marked (twice for Otsu's window); thinning:
// the thinning passes; finishing: the cleaning of the skeleton, then
// pruning and the graph when asked; writing: the sink.
enum class Stage { reading, thinning, finishing, writing };

struct Request {
  Window window;
  SkeletonKind skeleton = SkeletonKind::sound;
  FrameMode frame = FrameMode::pad;  // the dialogue's skeleton only; the sound one is always padded
  unsigned char skeleton_value = 255, background_value = 0;
  int threads = 0;                   // 0: one per core
  double prune = 0;                  // side branches shorter than this go (pixels)
  bool graph = false;                // make the skeleton's graph
  // Told the stage and the part of it done (0 to 1). May be empty.
  std::function<void(Stage, double)> progress;
  // Set by the caller to stop the run (checked between lines and stages).
  const std::atomic<bool>* cancel = nullptr;
};

// The values of the picture as it was marked.
struct ValueCounts {
  long long pixels = 0;      // lines x columns
  long long valid = 0;       // not nodata
  long long selected = 0;    // inside the window: the object
  double min = 0, max = 0;   // of the finite values (both 0 when there is none)
  long long finite = 0;
  bool whole = true;         // every finite value a whole number
};

struct Outcome {
  int passes = 0;
  Window window;                    // as applied: Otsu's window resolved to a range
  std::optional<double> threshold;  // Otsu's threshold, for dark and bright
  long long left_out = 0;           // values Otsu left out as not finite
  ValueCounts values;
  int pruned = 0;                   // side branches removed
  Georef georef;               // the source's
  std::optional<SkeletonGraph> graph;
  // Wall time of each stage, in seconds.
  struct Seconds {
    double reading = 0, thinning = 0, finishing = 0, writing = 0;
  } seconds;
};

// The finished picture, handed out a block of lines at a time: the
// request's skeleton value on the skeleton, its background value elsewhere.
class Picture {
 public:
  virtual ~Picture() = default;
  int lines = 0, columns = 0;
  // Lines [first, first + count) into out[0] .. out[count - 1], `columns`
  // bytes each.
  virtual void read(int first, int count, unsigned char* const* out) const = 0;
};

// Receives the finished picture once. The outcome is complete (graph
// included), so a sink may write the graph's files first. A sink fails by
// throwing.
class Sink {
 public:
  virtual ~Sink() = default;
  virtual void write(const Picture& picture, const Outcome& outcome) = 0;
};

Outcome run(ImageSource& source, const Request& request, Sink& sink);

// The finite values of a source, read once: their range, whether all are
// whole numbers, and how many values are not finite (nodata aside).
struct ValueRange {
  double lo = 0, hi = 0;  // both 0 when no value is finite
  bool whole = true;
  long long finite = 0, left_out = 0;
};
ValueRange value_range(ImageSource& source, const std::atomic<bool>* cancel = nullptr);

// Otsu's window on the source's finite values (note 2). Throws Failure when
// no value is finite.
Window otsu_window(ImageSource& source, WindowKind side, double& threshold, long long& left_out,
                   const std::atomic<bool>* cancel = nullptr);

// The split of a histogram by Otsu's method: the last bin of the lower
// class, in the middle of the plateau of the best splits.
int otsu_split(const std::vector<double>& histogram);

}  // namespace pipeline
