// One image from a source to a sink: see pipeline.h.
#include "pipeline/pipeline.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <cmath>
#include <limits>
#include <string>
#include <type_traits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/failure.h"
#include "graph/skeleton_mask.h"
#include "skeleton/bits.h"

namespace pipeline {

namespace {

void check(const std::atomic<bool>* cancel) {
  if (cancel && cancel->load(std::memory_order_relaxed)) throw Cancelled();
}

// Reads every line into `f`, as bytes when `Value` is unsigned char (for
// sources that have them); a reader's refusal is its Failure, a cancel stops
// the reading at the next line.
template <typename Value = double, typename F>
void read_all(ImageSource& source, const std::atomic<bool>* cancel, const ReadProgress& progress, F f) {
  const auto each = [&](int line, const Value* values) {
    check(cancel);
    f(line, values);
    return true;
  };
  if constexpr (std::is_same_v<Value, unsigned char>)
    source.read_byte_lines(each, progress);
  else
    source.read_lines(each, progress);
}

// Marks each line of the source through `put(line, values, inside)` and
// counts what the window holds.
template <typename Inside, typename Put>
void mark_lines(ImageSource& source, const Request& request, ValueCounts& counts, Inside inside, Put put) {
  const int columns = source.columns;
  double lo = std::numeric_limits<double>::infinity(), hi = -lo;
  long long valid = 0, finite = 0, selected = 0;
  bool whole = true;
  read_all(source, request.cancel,
           [&](double f) {
             if (request.progress) request.progress(Stage::reading, f);
           },
           [&](int line, const double* v) {
             selected += put(line, v, inside);
             for (int j = 0; j < columns; ++j) {
               if (std::isnan(v[j])) continue;
               ++valid;
               if (!std::isfinite(v[j])) continue;
               ++finite;
               lo = std::min(lo, v[j]);
               hi = std::max(hi, v[j]);
               whole = whole && v[j] == std::floor(v[j]);
             }
           });
  counts.pixels = static_cast<long long>(source.lines) * columns;
  counts.valid = valid;
  counts.finite = finite;
  counts.selected = selected;
  counts.min = finite ? lo : 0;
  counts.max = finite ? hi : 0;
  counts.whole = whole;
}

// Calls mark_lines with the request's window test.
template <typename Put>
void mark(ImageSource& source, const Request& request, const Window& window, ValueCounts& counts, Put put) {
  if (window.kind == WindowKind::nonzero) {
    mark_lines(source, request, counts, [](double v) { return v != 0 && !std::isnan(v); }, put);
  } else {
    const double lo = window.lo, hi = window.hi;
    mark_lines(source, request, counts, [lo, hi](double v) { return v >= lo && v <= hi; }, put);  // false for NaN
  }
}

// The window on bytes: the values from `first` to `first + span`, or none.
struct ByteWindow {
  unsigned char first = 0, span = 0;
  bool none = true;

  explicit ByteWindow(const Window& w) {
    double lo = 1, hi = 255;  // nonzero
    if (w.kind != WindowKind::nonzero) {
      if (std::isnan(w.lo) || std::isnan(w.hi)) return;  // holds nothing
      lo = std::max(0.0, std::ceil(w.lo));
      hi = std::min(255.0, std::floor(w.hi));
    }
    if (lo > hi) return;
    first = static_cast<unsigned char>(lo);
    span = static_cast<unsigned char>(hi - lo);
    none = false;
  }
};

// One line of bytes marked into `row` from bit `border` on: returns how many
// pixels the window holds, and lowers `lo` and raises `hi` to the line's
// smallest and largest value. Sixteen bytes at a time where SSE2 is there.
long long mark_byte_line(const unsigned char* v, int columns, const ByteWindow& w, bitplane::Word* row, int border,
                         unsigned& lo, unsigned& hi) {
  long long selected = 0;
  unsigned line_lo = 255, line_hi = 0;
#if defined(__SSE2__)
  const __m128i first = _mm_set1_epi8(static_cast<char>(w.first)), span = _mm_set1_epi8(static_cast<char>(w.span));
  __m128i mn = _mm_set1_epi8(static_cast<char>(0xFF)), mx = _mm_setzero_si128();
#endif
  for (int j = 0; j < columns; j += 64) {
    const int n = std::min(64, columns - j);
    const unsigned char* p = v + j;
    std::uint64_t m = 0;
    int q = 0;
#if defined(__SSE2__)
    for (; q + 16 <= n; q += 16) {
      const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + q));
      const __m128i s = _mm_sub_epi8(x, first);
      const __m128i in = _mm_cmpeq_epi8(_mm_min_epu8(s, span), s);
      m |= std::uint64_t{static_cast<unsigned>(_mm_movemask_epi8(in))} << q;
      mn = _mm_min_epu8(mn, x);
      mx = _mm_max_epu8(mx, x);
    }
#endif
    for (; q < n; ++q) {
      const unsigned x = p[q];
      m |= std::uint64_t{static_cast<unsigned char>(x - w.first) <= w.span} << q;
      line_lo = std::min(line_lo, x);
      line_hi = std::max(line_hi, x);
    }
    if (w.none) m = 0;
    if (!m) continue;
    selected += std::popcount(m);
    const int at = j + border, d = 1 + (at >> 6), b = at & 63;
    row[d] |= m << b;
    if (b) row[d + 1] |= m >> (64 - b);
  }
#if defined(__SSE2__)
  alignas(16) unsigned char lows[16], highs[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(lows), mn);
  _mm_store_si128(reinterpret_cast<__m128i*>(highs), mx);
  for (int k = 0; k < 16; ++k) {
    line_lo = std::min<unsigned>(line_lo, lows[k]);
    line_hi = std::max<unsigned>(line_hi, highs[k]);
  }
#endif
  lo = std::min(lo, line_lo);
  hi = std::max(hi, line_hi);
  return selected;
}

// Marks a source of bytes into `bits` (from line and column `border`) and
// counts its values: every one valid, finite and whole.
void mark_bytes(ImageSource& source, const Request& request, const Window& window, ValueCounts& counts,
                bitplane::Plane& bits, int border) {
  const int columns = source.columns;
  const ByteWindow w(window);
  unsigned lo = 255, hi = 0;
  long long selected = 0;
  read_all<unsigned char>(source, request.cancel,
                          [&](double f) {
                            if (request.progress) request.progress(Stage::reading, f);
                          },
                          [&](int line, const unsigned char* v) {
                            selected += mark_byte_line(v, columns, w, bits.row(line + border), border, lo, hi);
                          });
  counts.pixels = static_cast<long long>(source.lines) * columns;
  counts.valid = counts.finite = counts.pixels;
  counts.selected = selected;
  counts.min = counts.pixels ? lo : 0;
  counts.max = counts.pixels ? hi : 0;
  counts.whole = true;
}

// Eight result bytes for each byte of skeleton bits.
struct ByteSpread {
  std::uint64_t of[256];
  ByteSpread(unsigned char skeleton, unsigned char background) {
    for (unsigned m = 0; m < 256; ++m) {
      std::uint64_t v = 0;
      for (int k = 0; k < 8; ++k) v |= std::uint64_t{(m >> k) & 1u ? skeleton : background} << (8 * k);
      of[m] = v;
    }
  }
};

// The finished skeleton held as bits, with `border` lines and columns of
// padding on every side.
class BitPicture : public Picture {
 public:
  BitPicture(const bitplane::Plane& bits, int border, int lines_, int columns_, const Request& r)
      : bits_(bits), border_(border), spread_(r.skeleton_value, r.background_value) {
    lines = lines_;
    columns = columns_;
  }
  void read(int first, int count, unsigned char* const* out) const override {
    for (int k = 0; k < count; ++k) {
      const bitplane::Word* row = bits_.row(first + k + border_);
      unsigned char* line = out[k];
      for (int j = 0; j < columns; j += 64) {
        // the 64 columns from j, wherever the border puts them in the row
        const int at = j + border_, d = 1 + (at >> 6), b = at & 63;
        const bitplane::Word w = b ? (row[d] >> b | row[d + 1] << (64 - b)) : row[d];
        const int n = std::min(64, columns - j);
        int q = 0;
        for (; q + 8 <= n; q += 8) {
          const std::uint64_t v = spread_.of[(w >> q) & 0xFFu];
          std::memcpy(line + j + q, &v, 8);
        }
        for (; q < n; ++q) line[j + q] = static_cast<unsigned char>(spread_.of[(w >> q) & 1u] & 0xFFu);
      }
    }
  }

 private:
  const bitplane::Plane& bits_;
  int border_;
  ByteSpread spread_;
};

// Clears the frame of a padded plane: line 0, line L - 1, column 0 and
// column C - 1.
void clear_border(bitplane::Plane& bits, int L, int C) {
  for (int i : {0, L - 1})
    for (int d = 1; d <= bits.words(); ++d) bits.row(i)[d] = 0;
  for (int i = 1; i < L - 1; ++i) {
    bitplane::Word* row = bits.row(i);
    row[1] &= ~bitplane::Word{1};
    row[1 + ((C - 1) >> 6)] &= ~(bitplane::Word{1} << ((C - 1) & 63));
  }
}

// The stages' wall times: each start() tells the progress callback and puts
// the time since the last one in the stage that ended.
class Clock {
 public:
  explicit Clock(const Request& r) : r_(r) {}
  void start(Stage stage, double* ended) {
    stop(ended);
    if (r_.progress) r_.progress(stage, 0);
  }
  void stop(double* ended) {
    const auto now = std::chrono::steady_clock::now();
    *ended += std::chrono::duration<double>(now - last_).count();
    last_ = now;
  }

 private:
  const Request& r_;
  std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
};

// The skeleton on a bit plane, one border cell on every side when the frame
// is padded (always for the sound skeleton).
void bit_road(ImageSource& source, const Request& request, Outcome& outcome, Sink& sink, Clock& clock) {
  const int lines = source.lines, columns = source.columns;
  const bool sound = request.skeleton == SkeletonKind::sound;
  const int border = sound || request.frame == FrameMode::pad ? 1 : 0;
  if (lines > INT_MAX - 2 * border || columns > INT_MAX - 2 * border)
    throw std::invalid_argument("the picture is too large to pad");
  const int L = lines + 2 * border, C = columns + 2 * border;
  bitplane::Plane bits(L, C);
  if (source.has_byte_lines())
    mark_bytes(source, request, outcome.window, outcome.values, bits, border);
  else
    mark(source, request, outcome.window, outcome.values, [&](int line, const double* v, auto inside) {
      bitplane::Word* row = bits.row(line + border);
      long long n = 0;
      for (int j = 0; j < columns; ++j)
        if (inside(v[j])) {
          const int at = j + border;
          row[1 + (at >> 6)] |= bitplane::Word{1} << (at & 63);
          ++n;
        }
      return n;
    });
  source.done_reading();
  check(request.cancel);

  clock.start(Stage::thinning, &outcome.seconds.reading);
  outcome.passes = sound ? sound_thin_bits(bits, L, C, request.threads) : thin_bits(bits, L, C, request.threads);
  check(request.cancel);
  clock.start(Stage::finishing, &outcome.seconds.thinning);
  if (sound)
    sound_finish_bits(bits, L, C, request.threads);
  else
    finish_bit_plane(bits, L, C, request.threads);
  check(request.cancel);

  if (border) clear_border(bits, L, C);  // end points grown into the padding are not the picture's
  if (request.prune > 0 || request.graph) {
    SkeletonMask mask(bits, border, lines, columns);
    if (request.prune > 0) outcome.pruned = prune_skeleton(mask, request.prune);
    if (request.graph) outcome.graph = build_graph(mask);
  }
  clock.start(Stage::writing, &outcome.seconds.finishing);
  sink.write(BitPicture(bits, border, lines, columns, request), outcome);
  clock.stop(&outcome.seconds.writing);
}

}  // namespace

ValueRange value_range(ImageSource& source, const std::atomic<bool>* cancel) {
  double lo = std::numeric_limits<double>::infinity(), hi = -lo;
  ValueRange r;
  const int columns = source.columns;
  read_all(source, cancel, nullptr, [&](int, const double* v) {
    for (int j = 0; j < columns; ++j) {
      if (std::isnan(v[j])) continue;  // nodata
      if (!std::isfinite(v[j])) {
        ++r.left_out;
        continue;
      }
      lo = std::min(lo, v[j]);
      hi = std::max(hi, v[j]);
      r.whole = r.whole && v[j] == std::floor(v[j]);
      ++r.finite;
    }
  });
  if (r.finite) {
    r.lo = lo;
    r.hi = hi;
  }
  return r;
}

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
  const ValueRange range = value_range(source, cancel);
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
  Clock clock(request);
  Outcome outcome;
  outcome.georef = source.georef;
  outcome.window = request.window;
  check(request.cancel);
  if (request.window.kind == WindowKind::dark || request.window.kind == WindowKind::bright) {
    double threshold = 0;
    outcome.window = otsu_window(source, request.window.kind, threshold, outcome.left_out, request.cancel);
    outcome.threshold = threshold;
  }

  bit_road(source, request, outcome, sink, clock);
  return outcome;
}

}  // namespace pipeline
