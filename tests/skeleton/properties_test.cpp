// Properties of the whole processing on random images: the skeleton lies
// inside the object and the result holds only 1 and 255.
#include <gtest/gtest.h>

#include <random>

#include "skeleton/skeleton.h"
#include "support/helpers.h"

namespace {

using namespace testing_support;

TEST(Properties, SkeletonInsideObjectAndTwoValuedResult) {
  for (unsigned seed = 1; seed <= 300; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    const int lines = 1 + static_cast<int>(rng() % 40), columns = 1 + static_cast<int>(rng() % 40);
    const unsigned density = rng() % 101;
    Plane grey(lines, std::vector<unsigned char>(columns));
    for (auto& line : grey)
      for (auto& v : line) v = static_cast<unsigned char>(rng() % 100 < density ? 200 + rng() % 56 : rng() % 100);
    Plane tab2 = grey, tab(lines, std::vector<unsigned char>(columns));
    RowPointers t(tab), t2(tab2);
    threshold_planes(t2.get(), t.get(), lines, columns, 200, 255);
    thin_planes(t.get(), t2.get(), lines, columns);
    // a further pass deletes nothing: the skeleton is stable
    Plane again = tab, again2 = tab2;
    RowPointers a(again), a2(again2);
    ASSERT_EQ(thin_planes(a.get(), a2.get(), lines, columns), 1);
    ASSERT_EQ(again, tab);
    finish_planes(t.get(), lines, columns);
    for (int i = 0; i < lines; ++i)
      for (int j = 0; j < columns; ++j) {
        ASSERT_TRUE(tab[i][j] == 1 || tab[i][j] == 255) << i << "," << j;
        const bool frame = i == 0 || j == 0 || i == lines - 1 || j == columns - 1;
        if (tab[i][j] == 1 && !frame) {
          ASSERT_GE(grey[i][j], 200) << i << "," << j;
        }
      }
  }
}

}  // namespace
