// Leptonica's thinning: see leptonica.h.
#include "bench/leptonica.h"

#include <algorithm>
#include <chrono>
#include <vector>

#if defined(SOLVIK_BENCH_LEPTONICA)
#include <leptonica/allheaders.h>
#endif

namespace bench {

#if defined(SOLVIK_BENCH_LEPTONICA)

bool leptonica_available() { return true; }

double leptonica_thin_seconds(const Picture& pic, int runs) {
  PIX* bits = pixCreate(pic.columns, pic.lines, 1);
  if (!bits) return -1;
  l_uint32* data = pixGetData(bits);
  const l_int32 wpl = pixGetWpl(bits);
  for (int i = 0; i < pic.lines; ++i) {
    l_uint32* line = data + static_cast<std::size_t>(i) * wpl;
    const unsigned char* src = pic.line(i);
    for (int j = 0; j < pic.columns; ++j)
      if (src[j]) SET_DATA_BIT(line, j);
  }
  std::vector<double> times;
  for (int r = 0; r < runs; ++r) {
    const auto start = std::chrono::steady_clock::now();
    PIX* thin = pixThinConnected(bits, L_THIN_FG, 8, 0);
    times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    if (!thin) {
      pixDestroy(&bits);
      return -1;
    }
    pixDestroy(&thin);
  }
  pixDestroy(&bits);
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

#else

bool leptonica_available() { return false; }
double leptonica_thin_seconds(const Picture&, int) { return -1; }

#endif

}  // namespace bench
