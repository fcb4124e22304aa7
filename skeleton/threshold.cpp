// Thresholding kernel: the object mask (1 object, 0 background) from a grey
// plane and a window, and the grey plane rewritten as the same object in 255
// and 0.
#include <algorithm>
#include <cstddef>
#include <cstring>

#include "skeleton/contract.h"
#include "skeleton/parallel.h"
#include "skeleton/skeleton.h"

namespace {

// Lines [first, last]: one unsigned comparison per pixel, which vectorises.
void threshold_lines(unsigned char** src, unsigned char** dst, int first, int last, int nb_col, unsigned char base,
                     unsigned char range) {
  for (int i = first; i <= last; ++i) {
    unsigned char* s = src[i];
    unsigned char* d = dst[i];
    for (int j = 0; j < nb_col; ++j) {
      const unsigned char inside = static_cast<unsigned char>(s[j] - base) <= range ? 1 : 0;
      d[j] = inside;
      s[j] = static_cast<unsigned char>(-inside);  // 1 -> 255, 0 -> 0
    }
  }
}

}  // namespace

void threshold_planes(unsigned char** src, unsigned char** dst, int nb_lig, int nb_col, int minth, int maxth, int threads) {
  skeleton_contract::check_planes("threshold_planes", src, dst, nb_lig, nb_col);
  // The bounds are compared as signed integers, so a negative minth admits
  // 0 and a maxth above 255 admits 255: clamp them to the grey levels. One
  // unsigned comparison per pixel then decides, which vectorises.
  const int lo = std::max(minth, 0), hi = std::min(maxth, 255);
  const int workers = parallel::workers_for(threads, nb_lig, nb_col);
  if (lo > hi) {
    parallel::by_lines(nb_lig, workers, [&](int first, int last) {
      for (int i = first; i <= last; ++i) {
        std::memset(dst[i], 0, static_cast<std::size_t>(nb_col));
        std::memset(src[i], 0, static_cast<std::size_t>(nb_col));
      }
    });
    return;
  }
  const auto base = static_cast<unsigned char>(lo), range = static_cast<unsigned char>(hi - lo);
  parallel::by_lines(nb_lig, workers, [&](int first, int last) { threshold_lines(src, dst, first, last, nb_col, base, range); });
}
