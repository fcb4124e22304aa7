// Thresholding, thinning and finishing on the documented shapes: small
// planes drawn as pictures, with the expected planes and numbers of passes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "skeleton/skeleton.h"
#include "support/helpers.h"

namespace {

using namespace testing_support;
using Picture = std::vector<std::string>;

// Pictures: '#' object / skeleton pixel (1), '.' background (0), 'F' 255.
std::string show(const Plane& p) {
  std::string s = "\n";
  for (const auto& line : p) {
    for (unsigned char v : line) s += v == 1 ? '#' : v == 0 ? '.' : v == 255 ? 'F' : '?';
    s += '\n';
  }
  return s;
}

// --- thresholding -----------------------------------------------------------

struct ThresholdCase {
  const char* name;
  int minth, maxth;
  std::vector<unsigned char> grey;
  std::vector<unsigned char> object;  // expected tab
};

const ThresholdCase kThresholdCases[] = {
    {"one grey level", 7, 7, {6, 7, 8, 7}, {0, 1, 0, 1}},
    {"everything", 0, 255, {0, 1, 128, 255}, {1, 1, 1, 1}},
    {"crossed bounds select nothing", 200, 100, {0, 100, 150, 200}, {0, 0, 0, 0}},
    {"negative minimum behaves as 0", -5, 3, {0, 3, 4, 255}, {1, 1, 0, 0}},
    {"maximum above 255 behaves as 255", 250, 1000, {249, 250, 255, 0}, {0, 1, 1, 0}},
    {"both bounds included", 10, 20, {9, 10, 20, 21}, {0, 1, 1, 0}},
};

TEST(Threshold, WindowBoundsAreIncludedAndNeverRejected) {
  for (const auto& c : kThresholdCases) {
    // a 2 x 2 plane: every cell is a frame cell, thresholded like any other
    Plane grey = {{c.grey[0], c.grey[1]}, {c.grey[2], c.grey[3]}};
    Plane obj = {{9, 9}, {9, 9}};
    RowPointers g(grey), o(obj);
    threshold_planes(g.get(), o.get(), 2, 2, c.minth, c.maxth);
    for (int k = 0; k < 4; ++k) {
      EXPECT_EQ(obj[k / 2][k % 2], c.object[k]) << c.name << " cell " << k;
      EXPECT_EQ(grey[k / 2][k % 2], c.object[k] ? 255 : 0) << c.name << " cell " << k;
    }
  }
}

// --- thinning ---------------------------------------------------------------

struct ThinCase {
  const char* name;
  Picture object;    // '#' object, '.' background
  Picture skeleton;  // tab after thinning: 'F' frame, '#' 1, '.' 0
  int passes;
};

const ThinCase kThinCases[] = {
    {"isolated pixel stays", {".....", "..#..", "....."}, {"FFFFF", "F.#.F", "FFFFF"}, 1},
    {"pair side by side stays", {"......", "..##..", "......"}, {"FFFFFF", "F.##.F", "FFFFFF"}, 1},
    {"one-pixel line stays",
     {".......", ".#####.", "......."},
     {"FFFFFFF", "F#####F", "FFFFFFF"},
     1},
    {"one-pixel L stays",
     {".....", ".#...", ".#...", ".###.", "....."},
     {"FFFFF", "F#..F", "F#..F", "F###F", "FFFFF"},
     1},
    {"closed square outline stays",
     {"......", ".####.", ".#..#.", ".#..#.", ".####.", "......"},
     {"FFFFFF", "F####F", "F#..#F", "F#..#F", "F####F", "FFFFFF"},
     1},
    {"filled 3x3 square to its centre",
     {".....", ".###.", ".###.", ".###.", "....."},
     {"FFFFF", "F...F", "F.#.F", "F...F", "FFFFF"},
     2},
    {"bar of three lines to its middle line",
     {".........", ".........", ".#######.", ".#######.", ".#######.", ".........", "........."},
     {"FFFFFFFFF", "F.......F", "F.......F", "F.#####.F", "F.......F", "F.......F", "FFFFFFFFF"},
     2},
    {"bar of two lines to its lower line",
     {".........", ".........", ".#######.", ".#######.", ".........", "........."},
     {"FFFFFFFFF", "F.......F", "F.......F", "F.#####.F", "F.......F", "FFFFFFFFF"},
     2},
    {"filled 5x5 square to its centre",
     {".........", ".........", "..#####..", "..#####..", "..#####..", "..#####..", "..#####..", ".........",
      "........."},
     {"FFFFFFFFF", "F.......F", "F.......F", "F.......F", "F...#...F", "F.......F", "F.......F", "F.......F",
      "FFFFFFFFF"},
     3},
    {"plus to its centre",
     {".......", "...#...", "..###..", "...#...", "......."},
     {"FFFFFFF", "F.....F", "F..#..F", "F.....F", "FFFFFFF"},
     2},
    {"lone 2x2 block vanishes", {"......", "..##..", "..##..", "......"}, {"FFFFFF", "F....F", "F....F", "FFFFFF"}, 2},
    {"all object: nothing deleted",
     {"######", "######", "######", "######", "######"},
     {"FFFFFF", "F####F", "F####F", "F####F", "FFFFFF"},
     1},
    {"one line", {"#.##"}, {"FFFF"}, 1},
    {"two lines", {"#.##", "####"}, {"FFFF", "FFFF"}, 1},
    {"one column", {"#", ".", "#"}, {"F", "F", "F"}, 1},
    {"two columns", {"##", "#.", "##"}, {"FF", "FF", "FF"}, 1},
    {"object on the frame is never deleted and not a neighbour",
     {"#######", "#.....#", "#..#..#", "#######"},
     {"FFFFFFF", "F.....F", "F..#..F", "FFFFFFF"},
     1},
};

TEST(Thinning, DocumentedShapes) {
  for (const auto& c : kThinCases) {
    Plane tab = picture_to_plane(c.object, 1, 0);
    Plane tab2 = picture_to_plane(c.object, 255, 0);
    RowPointers t(tab), t2(tab2);
    const int lines = static_cast<int>(tab.size()), columns = static_cast<int>(tab[0].size());
    const int passes = thin_planes(t.get(), t2.get(), lines, columns);
    const Plane want = picture_to_plane(c.skeleton, 1, 0);
    EXPECT_EQ(show(tab), show(want)) << c.name;
    EXPECT_EQ(passes, c.passes) << c.name;
    // between passes, the interior of tab2 is 255 exactly where tab is 1
    for (int i = 1; i < lines - 1; ++i)
      for (int j = 1; j < columns - 1; ++j) EXPECT_EQ(tab2[i][j], tab[i][j] == 1 ? 255 : 0) << c.name;
    // the frame of tab2 keeps its thresholded values
    const Plane object2 = picture_to_plane(c.object, 255, 0);
    for (int j = 0; j < columns; ++j) EXPECT_EQ(tab2[0][j], object2[0][j]) << c.name;
  }
}

TEST(Thinning, RingConnectivityMeansOneGroupWithAnOpenSide) {
  struct Ring {
    const char* name;
    unsigned char w[4][4];
    int irep;
  };
  const Ring rings[] = {
      {"empty ring", {{}, {0, 0, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 0}}, 0},
      {"one corner", {{}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 0}}, 1},
      {"one side", {{}, {0, 0, 1, 0}, {0, 0, 1, 0}, {0, 0, 0, 0}}, 1},
      {"two opposite sides", {{}, {0, 0, 1, 0}, {0, 0, 1, 0}, {0, 0, 1, 0}}, 0},
      {"three in a row above", {{}, {0, 1, 1, 1}, {0, 0, 1, 0}, {0, 0, 0, 0}}, 1},
      {"all four sides", {{}, {0, 0, 1, 0}, {0, 1, 1, 1}, {0, 0, 1, 0}}, 0},
      {"full ring", {{}, {0, 1, 1, 1}, {0, 1, 1, 1}, {0, 1, 1, 1}}, 0},
      {"two separate corners", {{}, {0, 1, 0, 1}, {0, 0, 1, 0}, {0, 0, 0, 0}}, 0},
      {"corner joined to a side", {{}, {0, 1, 1, 0}, {0, 0, 1, 1}, {0, 0, 0, 0}}, 1},
  };
  for (const auto& r : rings) EXPECT_EQ(ring_connectivity(r.w), r.irep) << r.name;
}

// --- finishing --------------------------------------------------------------

struct FinishCase {
  const char* name;
  Picture before;  // '#' 1, '.' 0, 'F' 255
  Picture after;
};

const FinishCase kFinishCases[] = {
    {"no skeleton", {"FFFFF", "F...F", "F...F", "FFFFF"}, {"FFFFF", "FFFFF", "FFFFF", "FFFFF"}},
    {"skeleton on the frame is cleared",
     {"F#FFFF", "F....F", "F....F", "F....F", "FFFF#F"},
     {"FFFFFF", "FFFFFF", "FFFFFF", "FFFFFF", "FFFFFF"}},
    {"isolated pixels stay, not extended",
     {"FFFFFFF", "F.#...F", "F.....F", "F...#.F", "F.....F", "FFFFFFF"},
     {"FFFFFFF", "FF#FFFF", "FFFFFFF", "FFFF#FF", "FFFFFFF", "FFFFFFF"}},
    {"straight run of three unchanged",
     {"FFFFFFF", "F.....F", "F.###.F", "F.....F", "FFFFFFF"},
     {"FFFFFFF", "FFFFFFF", "FF###FF", "FFFFFFF", "FFFFFFF"}},
    {"2x2 block keeps its lower pixels",
     {"FFFFFF", "F....F", "F.##.F", "F.##.F", "F....F", "FFFFFF"},
     {"FFFFFF", "FFFFFF", "FFFFFF", "FF##FF", "FFFFFF", "FFFFFF"}},
    {"vertical line grows into both frame lines",
     {"FFFFF", "F.#.F", "F.#.F", "F.#.F", "FFFFF"},
     {"FF#FF", "FF#FF", "FF#FF", "FF#FF", "FF#FF"}},
    {"diagonal from (1, 1) grows upward only",
     {"FFFFFFF", "F#....F", "F.#...F", "F..#..F", "F.....F", "FFFFFFF"},
     {"F#FFFFF", "F#FFFFF", "FF#FFFF", "FFF#FFF", "FFFFFFF", "FFFFFFF"}},
    {"line in column 1 ends in a corner step",
     {"FFFFF", "F#..F", "F#..F", "F#..F", "F#..F", "F...F", "FFFFF"},
     {"F#FFF", "F#FFF", "F#FFF", "F#FFF", "#FFFF", "FFFFF", "FFFFF"}},
    {"L of three: the upper pixel (code 48) is cleaned",
     {"FFFFFFF", "F.....F", "F.#...F", "F.##..F", "F.....F", "FFFFFFF"},
     {"FFFFFFF", "FFFFFFF", "FFFFFFF", "FF##FFF", "FFFFFFF", "FFFFFFF"}},
    {"one line", {"#.#"}, {"FFF"}},
    {"one column", {"#", "#", "."}, {"F", "F", "F"}},
    {"two lines", {"F#F", "F#F"}, {"FFF", "FFF"}},
    {"two columns", {"##", "##", "##"}, {"FF", "FF", "FF"}},
};

TEST(Finishing, DocumentedCases) {
  for (const auto& c : kFinishCases) {
    Plane tab = picture_to_plane(c.before, 1, 0);
    RowPointers t(tab);
    finish_planes(t.get(), static_cast<int>(tab.size()), static_cast<int>(tab[0].size()));
    EXPECT_EQ(show(tab), show(picture_to_plane(c.after, 1, 0))) << c.name;
  }
}

}  // namespace
