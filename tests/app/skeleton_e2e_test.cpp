// Raster runs of the real program on pictures whose skeletons are known by
// construction, checked byte for byte.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/helpers.h"

namespace {

using namespace testing_support;

struct KnownSkeleton {
  const char* name;
  std::vector<std::string> picture;   // '#' object (grey 180), '.' background (grey 40)
  std::vector<std::string> skeleton;  // '#' 1, '.' 255
};

const KnownSkeleton kKnown[] = {
    {"filled square to its centre",
     {".........", ".........", "..#####..", "..#####..", "..#####..", "..#####..", "..#####..", ".........",
      "........."},
     {".........", ".........", ".........", ".........", "....#....", ".........", ".........", ".........",
      "........."}},
    {"plus to its centre",
     {".......", "...#...", "..###..", "...#...", "......."},
     {".......", ".......", "...#...", ".......", "......."}},
    {"thin ring loses its four corners",
     {".......", ".#####.", ".#...#.", ".#...#.", ".#...#.", ".#####.", "......."},
     {".......", "..###..", ".#...#.", ".#...#.", ".#...#.", "..###..", "......."}},
    {"diagonal from the corner of the frame grows into the top line",
     {"#......", ".#.....", "..#....", "...#...", "....#..", ".......", "......."},
     {".#.....", ".#.....", "..#....", "...#...", "....#..", ".......", "......."}},
    {"vertical bar through the image grows into both frame lines",
     {"..###..", "..###..", "..###..", "..###..", "..###..", "..###.."},
     {"...#...", "...#...", "...#...", "...#...", "...#...", "...#..."}},
};

TEST(SkeletonRuns, RasterResultsByteForByte) {
  for (const auto& k : kKnown) {
    TempDir dir;
    Plane grey = picture_to_plane(k.picture, 180, 40);
    write_file(dir / "images/p/x.raw", plane_bytes(grey));
    write_file(dir / "images/p/x.txt",
               std::to_string(grey.size()) + " " + std::to_string(grey[0].size()) + " 1 0 255 1");
    RunResult r = run_solvik(dir.path(), "p 0 x 0 100 200");
    ASSERT_EQ(r.status, 0) << k.name << r.output;
    EXPECT_EQ(plane_to_picture(picture_to_plane(k.skeleton, 1, 255)),
              plane_to_picture([&] {
                std::string bytes = read_file(dir / "images/p/x_reg.raw");
                Plane p(grey.size(), std::vector<unsigned char>(grey[0].size()));
                for (size_t i = 0; i < p.size(); ++i)
                  for (size_t j = 0; j < p[i].size(); ++j)
                    p[i][j] = static_cast<unsigned char>(bytes.at(i * p[i].size() + j));
                return p;
              }()))
        << k.name;
  }
}

}  // namespace
