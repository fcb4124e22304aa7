// The sound skeleton: topology kept on every picture (every object of a
// small interior, random masks, drawn scenes), thin, strokes kept at every
// angle, the same bytes on every thread count.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <stdexcept>
#include <random>
#include <string>
#include <vector>

#include "skeleton/pipeline.h"
#include "skeleton/skeleton.h"
#include "support/helpers.h"
#include "support/topology.h"

namespace {

using testing_support::Plane;
using testing_support::RowPointers;

// The sound skeleton of a mask (1 object, 0 background), padded by one
// cell as callers do; the result without the border (1 skeleton, 255
// elsewhere).
Plane sound(const Plane& mask, int threads = 1, int* passes = nullptr) {
  const int lines = static_cast<int>(mask.size()), columns = static_cast<int>(mask[0].size());
  Plane tab(lines + 2, std::vector<unsigned char>(columns + 2, 0)), tab2 = tab;
  for (int i = 0; i < lines; ++i)
    for (int j = 0; j < columns; ++j) {
      tab[i + 1][j + 1] = mask[i][j];
      tab2[i + 1][j + 1] = mask[i][j] ? 255 : 0;
    }
  RowPointers t(tab), t2(tab2);
  const int n = sound_skeleton_planes(t.get(), t2.get(), lines + 2, columns + 2, threads);
  if (passes) *passes = n;
  for (int i = 0; i < lines + 2; ++i)
    for (int j = 0; j < columns + 2; ++j) {
      const bool border = i == 0 || j == 0 || i == lines + 1 || j == columns + 1;
      EXPECT_TRUE(tab[i][j] == 255 || (tab[i][j] == 1 && !border)) << i << ", " << j;
    }
  Plane out(lines, std::vector<unsigned char>(columns));
  for (int i = 0; i < lines; ++i)
    for (int j = 0; j < columns; ++j) out[i][j] = tab[i + 1][j + 1];
  return out;
}

int count(const Plane& skeleton) {
  int n = 0;
  for (const auto& row : skeleton)
    for (unsigned char v : row) n += v == 1;
  return n;
}

Plane random_mask(std::mt19937& rng, int lines, int columns, int percent) {
  Plane m(lines, std::vector<unsigned char>(columns));
  std::uniform_int_distribution<int> d(0, 99);
  for (auto& row : m)
    for (auto& v : row) v = d(rng) < percent ? 1 : 0;
  return m;
}

// Pixels within half the thickness of the segment (r0, c0)-(r1, c1).
void draw_stroke(Plane& m, double r0, double c0, double r1, double c1, double thickness) {
  const double dr = r1 - r0, dc = c1 - c0, len2 = dr * dr + dc * dc;
  for (int i = 0; i < static_cast<int>(m.size()); ++i)
    for (int j = 0; j < static_cast<int>(m[i].size()); ++j) {
      const double t = std::clamp(((i - r0) * dr + (j - c0) * dc) / len2, 0.0, 1.0);
      const double er = i - (r0 + t * dr), ec = j - (c0 + t * dc);
      if (er * er + ec * ec <= thickness * thickness / 4) m[i][j] = 1;
    }
}

void draw_disc(Plane& m, double r, double c, double radius) {
  for (int i = 0; i < static_cast<int>(m.size()); ++i)
    for (int j = 0; j < static_cast<int>(m[i].size()); ++j)
      if ((i - r) * (i - r) + (j - c) * (j - c) <= radius * radius) m[i][j] = 1;
}

TEST(Sound, EveryObjectOfASmallInterior) {
  constexpr int kLines = 4, kColumns = 5, kCells = kLines * kColumns;
  Plane mask(kLines, std::vector<unsigned char>(kColumns));
  for (unsigned object = 0; object < (1u << kCells); ++object) {
    for (int i = 0; i < kLines; ++i)
      for (int j = 0; j < kColumns; ++j) mask[i][j] = (object >> (i * kColumns + j)) & 1u;
    const std::string fault = topology::skeleton_faults(mask, 1, sound(mask), 1);
    if (!fault.empty()) {
      ADD_FAILURE() << "object " << object << ": " << fault;
      return;
    }
  }
}

// Random masks of many sizes and densities, and the same bytes on 1, 2, 3
// and 8 threads.
TEST(Sound, RandomMasksKeepTheirTopologyOnEveryThreadCount) {
  std::mt19937 rng(20261209u);
  const int sizes[][2] = {{1, 1}, {1, 9}, {9, 1}, {2, 2}, {3, 3}, {7, 11}, {16, 16}, {33, 65}, {64, 130}, {150, 90}};
  for (const auto& size : sizes)
    for (int percent : {10, 30, 50, 70, 90, 100}) {
      const Plane mask = random_mask(rng, size[0], size[1], percent);
      SCOPED_TRACE(std::to_string(size[0]) + "x" + std::to_string(size[1]) + " at " + std::to_string(percent) + "%");
      const Plane one = sound(mask, 1);
      EXPECT_EQ(topology::skeleton_faults(mask, 1, one, 1), "");
      for (int threads : {2, 3, 8}) EXPECT_EQ(sound(mask, threads), one) << threads << " threads";
    }
}

// The thinning and the cleaning cut into bands of lines, a band running
// sweep s while the band below runs sweep s - 1: the bits and the passes
// of one thread, on pictures tall enough for 2 to 8 bands, whose objects
// cross the cuts (discs of many radii thin over many passes; noise wakes
// candidates across every cut; a wide band of full lines thins from both
// sides; strokes two pixels thick leave tips for the cleaning's tips
// sweeps).
TEST(Sound, BandsOfThinningGiveTheBitsOfOneThread) {
  std::mt19937 rng(91u);
  for (int lines : {129, 200, 333, 520, 1031}) {
    for (int scene = 0; scene < 4; ++scene) {
      const int columns = scene == 2 ? 70 : 131;
      Plane mask(lines, std::vector<unsigned char>(columns, 0));
      if (scene == 0) {
        std::uniform_real_distribution<double> r(0, lines), c(0, columns), radius(2, 40);
        for (int k = 0; k < lines / 20; ++k) draw_disc(mask, r(rng), c(rng), radius(rng));
      } else if (scene == 1) {
        mask = random_mask(rng, lines, columns, 55);
      } else if (scene == 2) {
        for (int i = lines / 5; i < lines - lines / 5; ++i) std::fill(mask[i].begin() + 3, mask[i].end() - 3, 1);
      } else {
        std::uniform_real_distribution<double> r(0, lines), c(0, columns);
        for (int k = 0; k < lines / 10; ++k) draw_stroke(mask, r(rng), c(rng), r(rng), c(rng), 2.0);
      }
      SCOPED_TRACE(std::to_string(lines) + " lines, scene " + std::to_string(scene));
      int passes_one = 0;
      const Plane one = sound(mask, 1, &passes_one);
      for (int threads : {2, 3, 5, 8}) {
        int passes = 0;
        EXPECT_EQ(sound(mask, threads, &passes), one) << threads << " threads";
        EXPECT_EQ(passes, passes_one) << threads << " threads";
      }
    }
  }
}

// Drawn scenes: discs with holes, thick strokes crossing, text-like bars.
TEST(Sound, DrawnScenesKeepTheirTopology) {
  std::mt19937 rng(7u);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int scene = 0; scene < 12; ++scene) {
    Plane mask(120, std::vector<unsigned char>(160));
    for (int k = 0; k < 6; ++k) draw_disc(mask, 120 * u(rng), 160 * u(rng), 3 + 20 * u(rng));
    for (int k = 0; k < 8; ++k)
      draw_stroke(mask, 120 * u(rng), 160 * u(rng), 120 * u(rng), 160 * u(rng), 1 + 7 * u(rng));
    for (int k = 0; k < 5; ++k) {  // holes
      const double r = 120 * u(rng), c = 160 * u(rng), radius = 1 + 6 * u(rng);
      for (int i = 0; i < 120; ++i)
        for (int j = 0; j < 160; ++j)
          if ((i - r) * (i - r) + (j - c) * (j - c) <= radius * radius) mask[i][j] = 0;
    }
    const Plane skeleton = sound(mask, 2);
    EXPECT_EQ(topology::skeleton_faults(mask, 1, skeleton, 1), "") << "scene " << scene;
    EXPECT_EQ(sound(mask, 1), skeleton) << "scene " << scene;
  }
}

// Real masks: scikit-image's text and coins cut at Otsu's threshold
// (tests/data/make_masks.py).
Plane read_pbm(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  int columns = 0, lines = 0;
  in >> magic >> columns >> lines;
  in.get();
  Plane m(lines, std::vector<unsigned char>(columns));
  const int stride = (columns + 7) / 8;
  std::vector<char> row(stride);
  for (int i = 0; i < lines && in.read(row.data(), stride); ++i)
    for (int j = 0; j < columns; ++j) m[i][j] = (static_cast<unsigned char>(row[j / 8]) >> (7 - j % 8)) & 1u;
  return m;
}

TEST(Sound, RealMasksKeepTheirTopology) {
  for (const char* name : {"text_otsu.pbm", "coins_otsu.pbm"}) {
    const Plane mask = read_pbm(std::string(SOLVIK_TEST_DATA) + "/" + name);
    ASSERT_GT(mask.size(), 100u) << name;
    const Plane skeleton = sound(mask, 1);
    EXPECT_EQ(topology::skeleton_faults(mask, 1, skeleton, 1), "") << name;
    EXPECT_EQ(sound(mask, 3), skeleton) << name;
    // and the same with the picture turned upside down and transposed: the
    // guarantees do not depend on the scan order
    Plane turned(mask[0].size(), std::vector<unsigned char>(mask.size()));
    for (std::size_t i = 0; i < mask.size(); ++i)
      for (std::size_t j = 0; j < mask[0].size(); ++j) turned[j][mask.size() - 1 - i] = mask[i][j];
    EXPECT_EQ(topology::skeleton_faults(turned, 1, sound(turned, 2), 1), "") << name << " turned";
  }
}

// Strokes two pixels thick or more keep a line along their length: the
// skeleton spans at least 80 % of the stroke along its direction.
TEST(Sound, StrokesKeepALineAtEveryAngle) {
  constexpr double kLength = 60;
  for (double thickness : {2.0, 2.5, 3.0, 4.0, 6.0})
    for (int degrees = 0; degrees < 180; degrees += 15) {
      const double a = degrees * std::acos(-1.0) / 180, dr = -std::sin(a), dc = std::cos(a);
      Plane mask(80, std::vector<unsigned char>(80));
      draw_stroke(mask, 40 - dr * kLength / 2, 40 - dc * kLength / 2, 40 + dr * kLength / 2, 40 + dc * kLength / 2,
                  thickness);
      const Plane skeleton = sound(mask);
      double lo = 1e9, hi = -1e9;
      for (int i = 0; i < 80; ++i)
        for (int j = 0; j < 80; ++j)
          if (skeleton[i][j] == 1) {
            const double along = (i - 40) * dr + (j - 40) * dc;
            lo = std::min(lo, along);
            hi = std::max(hi, along);
          }
      EXPECT_GE(hi - lo, 0.8 * kLength) << thickness << " px at " << degrees << " deg";
      EXPECT_EQ(topology::skeleton_faults(mask, 1, skeleton, 1), "") << thickness << " px at " << degrees << " deg";
    }
}

// Two pixels on every line, shifted by one from line to line: the strokes
// the dialogue's thinning wears down to one pixel (45 deg) or to nothing
// (135 deg). At least 80 % of their 60 lines keep a skeleton pixel.
TEST(Sound, TwoPixelDiagonalStrokesKeepTheirLength) {
  for (int direction : {1, -1}) {
    Plane mask(64, std::vector<unsigned char>(66));
    for (int t = 0; t < 60; ++t) {
      const int j = direction > 0 ? 2 + t : 62 - t;
      mask[2 + t][j] = mask[2 + t][j + 1] = 1;
    }
    const Plane skeleton = sound(mask);
    int lines = 0;
    for (const auto& row : skeleton) lines += std::count(row.begin(), row.end(), 1) > 0;
    EXPECT_GE(lines, 48) << (direction > 0 ? "135" : "45") << " deg";
    EXPECT_GE(count(skeleton), 48);
    EXPECT_EQ(topology::skeleton_faults(mask, 1, skeleton, 1), "");
  }
}

// Even squares and discs, which the dialogue's thinning clears entirely.
TEST(Sound, EvenSquaresAndDiscsKeepAPixel) {
  for (int size = 2; size <= 40; size += 2) {
    Plane square(size, std::vector<unsigned char>(size, 1));
    const Plane s = sound(square);
    EXPECT_EQ(topology::skeleton_faults(square, 1, s, 1), "") << "square " << size;
    Plane disc(size + 2, std::vector<unsigned char>(size + 2));
    draw_disc(disc, size / 2.0 + 0.5, size / 2.0 + 0.5, size / 2.0);
    const Plane d = sound(disc);
    EXPECT_GE(count(d), 1) << "disc " << size;
    EXPECT_EQ(topology::skeleton_faults(disc, 1, d, 1), "") << "disc " << size;
  }
}

// Small pictures whose skeleton is known.
TEST(Sound, KnownSkeletons) {
  struct Case {
    std::vector<std::string> mask, skeleton;
  };
  const Case cases[] = {
      {{"#"}, {"#"}},
      {{"##"}, {"##"}},
      {{"##", "##"}, {"..", ".#"}},
      {{"#####"}, {"#####"}},
      {{"###", "###", "###"}, {"...", ".#.", "..."}},
      {{"###", "#.#", "###"}, {".#.", "#.#", ".#."}},  // a ring keeps its hole
      {{"#..", ".#.", "..#"}, {"#..", ".#.", "..#"}},
  };
  for (const Case& c : cases) {
    const Plane mask = testing_support::picture_to_plane(c.mask, 1, 0);
    EXPECT_EQ(testing_support::plane_to_picture(sound(mask), 1), c.skeleton) << c.mask[0];
  }
}

// The pipeline: the sound kind pads and gives the kernel's bytes; the
// constructor without a kind still gives the dialogue's road.
TEST(Sound, PipelineRunsTheKernelForTheSoundKind) {
  std::mt19937 rng(3u);
  const Plane mask = random_mask(rng, 40, 50, 60);
  const Plane expected = sound(mask);
  for (FrameMode frame : {FrameMode::keep, FrameMode::pad}) {
    SkeletonPlanes planes(40, 50, frame, SkeletonKind::sound);
    for (int i = 0; i < 40; ++i)
      for (int j = 0; j < 50; ++j) planes.object()[i][j] = mask[i][j];
    planes.run();
    for (int i = 0; i < 40; ++i)
      for (int j = 0; j < 50; ++j) ASSERT_EQ(planes.result()[i][j], expected[i][j]) << i << ", " << j;
  }
  // a 2 x 2 block: gone on the dialogue's road, two pixels on the sound one
  SkeletonPlanes dialogue(4, 4, FrameMode::pad);
  dialogue.object()[1][1] = dialogue.object()[1][2] = dialogue.object()[2][1] = dialogue.object()[2][2] = 1;
  dialogue.run();
  int kept = 0;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) kept += dialogue.result()[i][j] == 1;
  EXPECT_EQ(kept, 0);
}

TEST(Sound, BadPlanesAreRefused) {
  EXPECT_THROW(sound_skeleton_planes(nullptr, nullptr, 3, 3), std::invalid_argument);
  Plane p(3, std::vector<unsigned char>(3));
  RowPointers t(p);
  EXPECT_THROW(sound_skeleton_planes(t.get(), t.get(), 0, 3), std::invalid_argument);
}

}  // namespace

// The window test the sound steps delete by is the classic simple-point
// test, on all 256 rings.
TEST(Sound, RingTestIsTheSimplePointTest) {
  for (int code = 0; code < 256; ++code) {
    Plane ring(3, std::vector<unsigned char>(3, 0));
    const int di[8] = {-1, -1, -1, 0, 1, 1, 1, 0}, dj[8] = {-1, 0, 1, 1, 1, 0, -1, -1};
    unsigned char window[4][4] = {};
    for (int k = 0; k < 8; ++k)
      if ((code >> k) & 1) ring[1 + di[k]][1 + dj[k]] = window[2 + di[k]][2 + dj[k]] = 1;
    ring[1][1] = 1;
    EXPECT_EQ(ring_connectivity(window) == 1, topology::is_simple(ring, 1, 1, 1)) << "code " << code;
  }
}
