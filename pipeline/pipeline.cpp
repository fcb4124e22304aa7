// One image from a source to a sink: see pipeline.h.
#include "pipeline/pipeline.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "platform/failure.h"

namespace pipeline {

namespace {

void check(const std::atomic<bool>* cancel) {
  if (cancel && cancel->load(std::memory_order_relaxed)) throw Cancelled();
}

// Reads every line into `f`, turning a reader's refusal into a Failure.
template <typename F>
void read_all(ImageSource& source, const std::atomic<bool>* cancel, const ReadProgress& progress, F f) {
  std::string why;
  bool cancelled = false;
  const bool ok = source.read_lines(
      [&](int line, const double* values) {
        if (cancel && cancel->load(std::memory_order_relaxed)) {
          cancelled = true;
          return false;
        }
        f(line, values);
        return true;
      },
      progress, &why);
  if (cancelled) throw Cancelled();
  if (!ok) throw Failure(why);
}

// The finite values' range, and how many values are not finite.
struct Range {
  double lo = std::numeric_limits<double>::infinity(), hi = -std::numeric_limits<double>::infinity();
  bool whole = true;
  long long finite = 0, left_out = 0;
};

Range finite_range(ImageSource& source, const std::atomic<bool>* cancel) {
  Range r;
  const int columns = source.columns;
  read_all(source, cancel, nullptr, [&](int, const double* v) {
    for (int j = 0; j < columns; ++j) {
      if (std::isnan(v[j])) continue;  // nodata
      if (!std::isfinite(v[j])) {
        ++r.left_out;
        continue;
      }
      r.lo = std::min(r.lo, v[j]);
      r.hi = std::max(r.hi, v[j]);
      r.whole = r.whole && v[j] == std::floor(v[j]);
      ++r.finite;
    }
  });
  return r;
}

// Marks each line into the object plane and counts what the window holds.
template <typename Inside>
void mark_lines(ImageSource& source, const Request& request, unsigned char** object, ValueCounts& counts,
                Inside inside) {
  const int columns = source.columns;
  double lo = std::numeric_limits<double>::infinity(), hi = -lo;
  long long valid = 0, finite = 0, selected = 0;
  read_all(source, request.cancel,
           [&](double f) {
             if (request.progress) request.progress(Stage::reading, f);
           },
           [&](int line, const double* v) {
             unsigned char* row = object[line];
             long long s = 0;
             for (int j = 0; j < columns; ++j) {
               const unsigned char in = inside(v[j]) ? 1 : 0;
               row[j] = in;
               s += in;
               if (std::isnan(v[j])) continue;
               ++valid;
               if (!std::isfinite(v[j])) continue;
               ++finite;
               lo = std::min(lo, v[j]);
               hi = std::max(hi, v[j]);
             }
             selected += s;
           });
  counts.pixels = static_cast<long long>(source.lines) * columns;
  counts.valid = valid;
  counts.finite = finite;
  counts.selected = selected;
  counts.min = finite ? lo : 0;
  counts.max = finite ? hi : 0;
}

}  // namespace

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

Window otsu_window(ImageSource& source, WindowKind side, double& threshold, long long& left_out,
                   const std::atomic<bool>* cancel) {
  const Range range = finite_range(source, cancel);
  left_out = range.left_out;
  if (range.finite == 0)
    throw Failure(range.left_out ? "no value is finite (all are infinite or nodata): there is no threshold to find"
                                 : "no pixel has a value (all are nodata): there is no threshold to find");
  const double lo = range.lo, hi = range.hi;
  // one bin per value for whole numbers of a small range, else 4096 bins;
  // a range beyond what a double's difference holds is binned by halves
  const double span = hi - lo;  // infinite for values near both ends of the doubles
  const bool per_value = range.whole && span < 65536;
  const int bins = per_value ? static_cast<int>(span) + 1 : 4096;
  const double width = per_value ? 1.0 : std::isfinite(span) ? span / bins : hi / bins - lo / bins;
  std::vector<double> histogram(static_cast<std::size_t>(bins), 0.0);
  const int columns = source.columns;
  read_all(source, cancel, nullptr, [&](int, const double* v) {
    for (int j = 0; j < columns; ++j) {
      if (!std::isfinite(v[j])) continue;
      // (v - lo) / width lies in [0, bins] for finite values; a cell of
      // width 0 (every value alike) is bin 0
      const double at = width <= 0 ? 0.0 : std::isfinite(span) ? (v[j] - lo) / width : v[j] / width - lo / width;
      const int bin = at >= bins ? bins - 1 : (at > 0 ? static_cast<int>(at) : 0);
      histogram[static_cast<std::size_t>(bin)] += 1;
    }
  });
  const int split = otsu_split(histogram);
  threshold = per_value ? lo + split : lo + (split + 1) * width;
  const double above = per_value ? threshold + 1 : std::nextafter(threshold, std::numeric_limits<double>::infinity());
  if (side == WindowKind::dark) return Window{WindowKind::range, lo, threshold};
  return Window{WindowKind::range, above, hi};
}

Outcome run(ImageSource& source, const Request& request, Sink& sink) {
  Outcome outcome;
  outcome.georef = source.georef;
  outcome.window = request.window;
  check(request.cancel);
  if (request.window.kind == WindowKind::dark || request.window.kind == WindowKind::bright) {
    double threshold = 0;
    outcome.window = otsu_window(source, request.window.kind, threshold, outcome.left_out, request.cancel);
    outcome.threshold = threshold;
  }

  const int lines = source.lines, columns = source.columns;
  SkeletonPlanes planes(lines, columns, request.frame, request.skeleton);
  if (outcome.window.kind == WindowKind::nonzero) {
    mark_lines(source, request, planes.object(), outcome.values, [](double v) { return v != 0 && !std::isnan(v); });
  } else {
    const double lo = outcome.window.lo, hi = outcome.window.hi;
    mark_lines(source, request, planes.object(), outcome.values,
               [lo, hi](double v) { return v >= lo && v <= hi; });  // false for NaN
  }
  source.done_reading();
  check(request.cancel);

  if (request.progress) request.progress(Stage::thinning, 0);
  outcome.passes = planes.run(request.threads);
  check(request.cancel);
  // pruning and the graph work on the finished skeleton, 1 on its pixels
  if (request.prune > 0) outcome.pruned = prune_skeleton(planes.object(), lines, columns, request.prune, 1, 255);
  if (request.graph) outcome.graph = build_graph(planes.result(), lines, columns, 1);
  planes.set_values(request.skeleton_value, request.background_value);
  if (request.progress) request.progress(Stage::thinning, 1);
  check(request.cancel);
  sink.write(planes.result(), lines, columns, outcome);
  return outcome;
}

}  // namespace pipeline
