// Benchmark images: see images.h.
#include "bench/images.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>

#if defined(SOLVIK_BENCH_ZLIB)
#include <zlib.h>
#endif

namespace bench {

namespace {

// splitmix64: small, fast and the same everywhere, so a seed always draws
// the same picture (the standard distributions are not portable).
struct Rng {
  std::uint64_t s;
  std::uint64_t next() {
    std::uint64_t z = (s += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
  }
  double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }  // [0, 1)
  double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
};

// Sets columns [x0, x1] of line y to 255; returns how many were 0 before.
long long fill_span(unsigned char** rows, int lines, int columns, int y, long x0, long x1) {
  if (y < 0 || y >= lines) return 0;
  x0 = std::max(x0, 0L);
  x1 = std::min(x1, static_cast<long>(columns) - 1);
  long long added = 0;
  unsigned char* r = rows[y];
  for (long x = x0; x <= x1; ++x) {
    added += r[x] == 0;
    r[x] = 255;
  }
  return added;
}

// A filled ellipse with half axes a, b turned by `angle`, line by line.
long long fill_ellipse(unsigned char** rows, int lines, int columns, double cy, double cx, double a, double b,
                       double angle) {
  const double c = std::cos(angle), s = std::sin(angle);
  // (dx c + dy s)^2 / a^2 + (-dx s + dy c)^2 / b^2 <= 1 as A dx^2 + B dx + C <= 0
  const double ia = 1 / (a * a), ib = 1 / (b * b);
  const double A = c * c * ia + s * s * ib;
  const double r = std::max(a, b);
  long long added = 0;
  for (int y = static_cast<int>(std::floor(cy - r)); y <= static_cast<int>(std::ceil(cy + r)); ++y) {
    const double dy = y - cy;
    const double B = 2 * dy * s * c * (ia - ib);
    const double C = dy * dy * (s * s * ia + c * c * ib) - 1;
    const double disc = B * B - 4 * A * C;
    if (disc < 0) continue;
    const double root = std::sqrt(disc);
    added += fill_span(rows, lines, columns, y, static_cast<long>(std::ceil(cx + (-B - root) / (2 * A))),
                       static_cast<long>(std::floor(cx + (-B + root) / (2 * A))));
  }
  return added;
}

long long fill_disc(unsigned char** rows, int lines, int columns, double cy, double cx, double radius) {
  long long added = 0;
  for (int y = static_cast<int>(std::floor(cy - radius)); y <= static_cast<int>(std::ceil(cy + radius)); ++y) {
    const double dy = y - cy, h = radius * radius - dy * dy;
    if (h < 0) continue;
    const double half = std::sqrt(h);
    added += fill_span(rows, lines, columns, y, static_cast<long>(std::ceil(cx - half)),
                       static_cast<long>(std::floor(cx + half)));
  }
  return added;
}

}  // namespace

void generate(const std::string& kind, unsigned char** rows, int lines, int columns, std::uint64_t seed) {
  Rng rng{seed};
  const double area = static_cast<double>(lines) * columns;
  if (kind == "full") {
    for (int i = 0; i < lines; ++i) std::memset(rows[i], 255, static_cast<std::size_t>(columns));
  } else if (kind == "noise") {
    for (int i = 0; i < lines; ++i)
      for (int j = 0; j < columns; j += 64) {
        const std::uint64_t bits = rng.next();
        for (int b = 0; b < 64 && j + b < columns; ++b) rows[i][j + b] = (bits >> b) & 1u ? 255 : 0;
      }
  } else if (kind == "blobs") {
    long long covered = 0;
    while (covered < 0.30 * area) {
      const double a = rng.uniform(5, 120), b = rng.uniform() < 0.5 ? a : rng.uniform(5, 120);
      covered += fill_ellipse(rows, lines, columns, rng.uniform(0, lines), rng.uniform(0, columns), a, b,
                              rng.uniform(0, 3.14159265358979));
    }
  } else if (kind == "strokes") {
    long long covered = 0;
    while (covered < 0.10 * area) {
      const double radius = rng.uniform(3, 15) / 2;
      double y = rng.uniform(0, lines), x = rng.uniform(0, columns);
      for (int k = 2 + static_cast<int>(rng.next() % 5); k > 0; --k) {
        const double angle = rng.uniform(0, 6.28318530717959), length = rng.uniform(30, 400);
        const double y1 = y + length * std::sin(angle), x1 = x + length * std::cos(angle);
        // discs stamped one pixel apart make a thick line with round ends
        for (double t = 0; t <= length; t += 1)
          covered += fill_disc(rows, lines, columns, y + (y1 - y) * t / length, x + (x1 - x) * t / length, radius);
        y = y1;
        x = x1;
      }
    }
  }
}

Picture generate(const std::string& kind, int lines, int columns, std::uint64_t seed) {
  Picture p;
  p.lines = lines;
  p.columns = columns;
  p.bytes.assign(p.pixels(), 0);
  std::vector<unsigned char*> r = rows_of(p);
  generate(kind, r.data(), lines, columns, seed);
  return p;
}

bool load_shared(const std::string& folder, const std::string& name, Picture& out, std::string* why) {
  const std::string descr = folder + "/" + name + ".txt", raw = folder + "/" + name + ".raw.gz";
  std::ifstream d(descr);
  if (!(d >> out.lines >> out.columns) || out.lines < 1 || out.columns < 1) {
    *why = "cannot read the size from " + descr;
    return false;
  }
  out.bytes.assign(out.pixels(), 0);
  std::size_t got = 0;
#if defined(SOLVIK_BENCH_ZLIB)
  gzFile f = gzopen(raw.c_str(), "rb");
  if (!f) {
    *why = "cannot open " + raw;
    return false;
  }
  while (got < out.bytes.size()) {
    const unsigned want = static_cast<unsigned>(std::min<std::size_t>(out.bytes.size() - got, 1u << 24));
    const int n = gzread(f, out.bytes.data() + got, want);
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  gzclose(f);
#else
  // no zlib: let gzip do it
  std::string cmd = "gzip -dc '";
  cmd.append(raw).append("'");
  FILE* f = popen(cmd.c_str(), "r");
  if (!f) {
    *why = "cannot run gzip on " + raw;
    return false;
  }
  got = std::fread(out.bytes.data(), 1, out.bytes.size(), f);
  pclose(f);
#endif
  if (got != out.bytes.size()) {
    *why = raw + " holds " + std::to_string(got) + " bytes, the descriptor needs " + std::to_string(out.bytes.size());
    return false;
  }
  return true;
}

void copy_into(const Picture& p, unsigned char** rows) {
  for (int i = 0; i < p.lines; ++i) std::memcpy(rows[i], p.line(i), static_cast<std::size_t>(p.columns));
}

std::vector<unsigned char*> rows_of(Picture& p) {
  std::vector<unsigned char*> r(static_cast<std::size_t>(p.lines));
  for (int i = 0; i < p.lines; ++i) r[static_cast<std::size_t>(i)] = p.line(i);
  return r;
}

}  // namespace bench
