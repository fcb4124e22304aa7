// The bit road against the byte road: the object set as bits, thinned and
// finished on bits, gives the bytes of threshold_planes, thin_planes and
// finish_planes, on odd sizes (one line, one column, widths around the
// multiples of 64) and every thread count.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "skeleton/bits.h"
#include "skeleton/skeleton.h"
#include "support/helpers.h"

namespace {

using namespace testing_support;

Plane byte_road(Plane grey, int threads) {
  const int lines = static_cast<int>(grey.size()), columns = static_cast<int>(grey[0].size());
  Plane tab(lines, std::vector<unsigned char>(columns));
  RowPointers g(grey), t(tab);
  threshold_planes(g.get(), t.get(), lines, columns, 128, 255, threads);
  thin_planes(t.get(), g.get(), lines, columns, threads);
  finish_planes(t.get(), lines, columns, threads);
  return tab;
}

Plane bit_road(const Plane& grey, int threads) {
  const int lines = static_cast<int>(grey.size()), columns = static_cast<int>(grey[0].size());
  bitplane::Plane bits(lines, columns);
  for (int i = 0; i < lines; ++i)
    for (int j = 0; j < columns; ++j)
      if (grey[i][j] >= 128) bits.row(i)[1 + j / 64] |= bitplane::Word{1} << (j % 64);
  thin_bits(bits, lines, columns, threads);
  finish_bit_plane(bits, lines, columns, threads);
  Plane out(lines, std::vector<unsigned char>(columns));
  for (int i = 0; i < lines; ++i)
    for (int j = 0; j < columns; ++j) out[i][j] = bitplane::bit(bits.row(i), j) ? 1 : 255;
  return out;
}

TEST(BitRoad, GivesTheBytesOfTheByteRoad) {
  std::mt19937 rng(2026);
  const int sides[] = {1, 2, 3, 4, 7, 63, 64, 65, 127, 128, 129, 190};
  for (int round = 0; round < 60; ++round) {
    const int lines = sides[rng() % std::size(sides)], columns = sides[rng() % std::size(sides)];
    const unsigned density = 1 + rng() % 4;  // of 5: sparse noise to nearly full
    Plane grey(lines, std::vector<unsigned char>(columns));
    // blobs on noise: strokes and holes of every thickness, objects cut by
    // the frame and by the bands of the threads
    for (auto& row : grey)
      for (auto& v : row) v = (rng() % 5) < density ? 200 : 30;
    for (int blob = 0; blob < 4; ++blob) {
      const int ci = static_cast<int>(rng() % lines), cj = static_cast<int>(rng() % columns), r = 1 + static_cast<int>(rng() % 20);
      for (int i = std::max(0, ci - r); i < std::min(lines, ci + r); ++i)
        for (int j = std::max(0, cj - r); j < std::min(columns, cj + r); ++j)
          if ((i - ci) * (i - ci) + (j - cj) * (j - cj) < r * r) grey[i][j] = blob % 2 ? 255 : 0;
    }
    const Plane expected = byte_road(grey, 1);
    for (int threads : {1, 2, 3, 8})
      ASSERT_EQ(bit_road(grey, threads), expected) << lines << " x " << columns << ", " << threads << " threads";
  }
}

}  // namespace
