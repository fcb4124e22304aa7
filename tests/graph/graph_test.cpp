// The skeleton graph and pruning: hand-drawn skeletons with known graphs,
// pruning cases, and properties on random skeletons made by the thinning.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "graph/graph_summary.h"
#include "graph/skeleton_graph.h"
#include "skeleton/skeleton.h"
#include "tests/graph/plane.h"

namespace {

constexpr double kR2 = 1.41421356237309504880;

struct NodeWant {
  NodeKind kind;
  int degree;
  double line, column;
  int pixels;
};
struct BranchWant {
  BranchKind kind;
  int from, to;
  double length;
  Pixel first, last;
  int pixels;
};
struct GraphCase {
  const char* name;
  std::vector<std::string> picture;
  std::vector<NodeWant> nodes;
  std::vector<BranchWant> branches;
  int components;
};

using NK = NodeKind;
using BK = BranchKind;

const std::vector<GraphCase> kGraphCases = {
    {"line", {".....", ".###.", "....."}, {{NK::end, 1, 1, 1, 1}, {NK::end, 1, 1, 3, 1}},
     {{BK::end_end, 0, 1, 2, {1, 1}, {1, 3}, 3}}, 1},
    {"plus",
     {"..#..", "..#..", "#####", "..#..", "..#.."},
     {{NK::end, 1, 0, 2, 1}, {NK::end, 1, 2, 0, 1}, {NK::junction, 4, 2, 2, 1}, {NK::end, 1, 2, 4, 1},
      {NK::end, 1, 4, 2, 1}},
     {{BK::end_junction, 0, 2, 2, {0, 2}, {2, 2}, 3},
      {BK::end_junction, 1, 2, 2, {2, 0}, {2, 2}, 3},
      {BK::end_junction, 3, 2, 2, {2, 4}, {2, 2}, 3},
      {BK::end_junction, 4, 2, 2, {4, 2}, {2, 2}, 3}},
     1},
    {"T",
     {"#####", "..#..", "..#.."},
     {{NK::end, 1, 0, 0, 1}, {NK::junction, 3, 0, 2, 1}, {NK::end, 1, 0, 4, 1}, {NK::end, 1, 2, 2, 1}},
     {{BK::end_junction, 0, 1, 2, {0, 0}, {0, 2}, 3},
      {BK::end_junction, 2, 1, 2, {0, 4}, {0, 2}, 3},
      {BK::end_junction, 3, 1, 2, {2, 2}, {0, 2}, 3}},
     1},
    // the junction is a filled 2x2 block: one node at its centre
    {"Y on a 2x2 block",
     {"#....#", ".#..#.", "..##..", "..##..", "..#...", "..#..."},
     {{NK::end, 1, 0, 0, 1}, {NK::end, 1, 0, 5, 1}, {NK::junction, 3, 2.5, 2.5, 4}, {NK::end, 1, 5, 2, 1}},
     {{BK::end_junction, 0, 2, 2 * kR2, {0, 0}, {2, 2}, 3},
      {BK::end_junction, 1, 2, 2 * kR2, {0, 5}, {2, 3}, 3},
      {BK::end_junction, 3, 2, 2, {5, 2}, {3, 2}, 3}},
     1},
    // every inner pixel of a 4-connected staircase touches three others,
    // yet none is a junction
    {"staircase",
     {"#....", "##...", ".##..", "..##.", "...##"},
     {{NK::end, 1, 0, 0, 1}, {NK::end, 1, 4, 4, 1}},
     {{BK::end_end, 0, 1, 8, {0, 0}, {4, 4}, 9}}, 1},
    {"diagonal", {"#...", ".#..", "..#.", "...#"}, {{NK::end, 1, 0, 0, 1}, {NK::end, 1, 3, 3, 1}},
     {{BK::end_end, 0, 1, 3 * kR2, {0, 0}, {3, 3}, 4}}, 1},
    {"ring", {".###.", "#...#", "#...#", "#...#", ".###."}, {},
     {{BK::loop, -1, -1, 8 + 4 * kR2, {0, 1}, {0, 1}, 13}}, 1},
    {"figure eight",
     {".#.#.", "#.#.#", ".#.#."},
     {{NK::junction, 4, 1, 2, 1}},
     {{BK::junction_junction, 0, 0, 4 * kR2, {1, 2}, {1, 2}, 5},
      {BK::junction_junction, 0, 0, 4 * kR2, {1, 2}, {1, 2}, 5}},
     1},
    {"ring with a tail",
     {".###.", "#...#", "#...#", "#...#", ".###.", "..#..", "..#.."},
     {{NK::junction, 3, 4, 2, 1}, {NK::end, 1, 6, 2, 1}},
     {{BK::junction_junction, 0, 0, 8 + 4 * kR2, {4, 2}, {4, 2}, 13},
      {BK::end_junction, 1, 0, 2, {6, 2}, {4, 2}, 3}},
     1},
    {"isolated point", {"...", ".#.", "..."}, {{NK::isolated, 0, 1, 1, 1}}, {}, 1},
    // an L along two edges of the plane: nothing outside is read, and the
    // corner is no junction
    {"L touching the frame",
     {"#....", "#....", "#####"},
     {{NK::end, 1, 0, 0, 1}, {NK::end, 1, 2, 4, 1}},
     {{BK::end_end, 0, 1, 6, {0, 0}, {2, 4}, 7}}, 1},
    {"two components and a dot",
     {"##...", "....#", "#...#"},
     {{NK::end, 1, 0, 0, 1}, {NK::end, 1, 0, 1, 1}, {NK::end, 1, 1, 4, 1}, {NK::isolated, 0, 2, 0, 1},
      {NK::end, 1, 2, 4, 1}},
     {{BK::end_end, 0, 1, 1, {0, 0}, {0, 1}, 2}, {BK::end_end, 2, 4, 1, {1, 4}, {2, 4}, 2}}, 3},
};

TEST(SkeletonGraph, HandDrawnSkeletonsGiveTheirKnownGraphs) {
  for (const GraphCase& c : kGraphCases) {
    SCOPED_TRACE(c.name);
    Plane p = Plane::from_picture(c.picture);
    const SkeletonGraph g = build_graph(p.rows(), p.lines, p.columns);
    ASSERT_EQ(g.nodes.size(), c.nodes.size());
    ASSERT_EQ(g.branches.size(), c.branches.size());
    EXPECT_EQ(g.components, c.components);
    for (std::size_t k = 0; k < c.nodes.size(); ++k) {
      SCOPED_TRACE("node " + std::to_string(k));
      const GraphNode& n = g.nodes[k];
      EXPECT_EQ(n.id, static_cast<int>(k));
      EXPECT_EQ(n.kind, c.nodes[k].kind);
      EXPECT_EQ(n.degree, c.nodes[k].degree);
      EXPECT_DOUBLE_EQ(n.line, c.nodes[k].line);
      EXPECT_DOUBLE_EQ(n.column, c.nodes[k].column);
      EXPECT_EQ(n.pixels.size(), static_cast<std::size_t>(c.nodes[k].pixels));
    }
    for (std::size_t k = 0; k < c.branches.size(); ++k) {
      SCOPED_TRACE("branch " + std::to_string(k));
      const GraphBranch& b = g.branches[k];
      const BranchWant& w = c.branches[k];
      EXPECT_EQ(b.id, static_cast<int>(k));
      EXPECT_EQ(b.kind, w.kind);
      EXPECT_EQ(b.from_node, w.from);
      EXPECT_EQ(b.to_node, w.to);
      EXPECT_NEAR(b.length_px, w.length, 1e-12);
      ASSERT_EQ(b.path.size(), static_cast<std::size_t>(w.pixels));
      EXPECT_EQ(b.path.front(), w.first);
      EXPECT_EQ(b.path.back(), w.last);
    }
    EXPECT_EQ(coverage_fault(g, p), "");
  }
}

struct PruneCase {
  const char* name;
  std::vector<std::string> before;
  double limit;
  int removed;
  std::vector<std::string> after;
};

const std::vector<PruneCase> kPruneCases = {
    {"a spur shorter and one longer than the limit",
     {".........#.....", ".........#.....", ".........#.....", ".....#...#.....", ".....#...#.....",
      "###############"},
     4, 1,
     {".........#.....", ".........#.....", ".........#.....", ".........#.....", ".........#.....",
      "###############"}},
    // the spur on the spur goes first; the side branch it leaves is then
    // 6 long: kept at 3, removed at 7 (before the equally long halves of the
    // line: its end comes first in raster order)
    {"spurs on spurs, limit 3",
     {"......#......", "......#......", "......##.....", "......#......", "......#......", "......#......",
      "#############"},
     3, 1,
     {"......#......", "......#......", "......#......", "......#......", "......#......", "......#......",
      "#############"}},
    {"spurs on spurs, limit 7",
     {"......#......", "......#......", "......##.....", "......#......", "......#......", "......#......",
      "#############"},
     7, 2,
     {".............", ".............", ".............", ".............", ".............", ".............",
      "#############"}},
    // only short branches: two go, the junction joins the other two
    {"a component of short branches", {"..#..", "..#..", "#####", "..#..", "..#.."}, 10, 2,
     {".....", ".....", "..###", "..#..", "..#.."}},
    // the junction block keeps only the two pixels the arms need: no stub
    {"a junction that becomes a pass-through",
     {"#....#", ".#..#.", "..##..", "..##..", "..#...", "..#..."}, 2.5, 1,
     {"#....#", ".#..#.", "..##..", "......", "......", "......"}},
    {"a ring keeps its ring", {".###.", "#...#", "#...#", "#...#", ".###.", "..#..", "..#.."}, 5, 1,
     {".###.", "#...#", "#...#", "#...#", ".###.", ".....", "....."}},
    {"end-end branches stay", {".....", ".###.", "....."}, 10, 0, {".....", ".###.", "....."}},
};

TEST(PruneSkeleton, RemovesShortSideBranchesShortestFirst) {
  for (const PruneCase& c : kPruneCases) {
    SCOPED_TRACE(c.name);
    Plane p = Plane::from_picture(c.before);
    EXPECT_EQ(prune_skeleton(p.rows(), p.lines, p.columns, c.limit), c.removed);
    EXPECT_EQ(p.picture(), Plane::from_picture(c.after).picture());
  }
}

// Random images thinned by the real kernels: blobs (discs and ellipses,
// some with holes punched) or, one time in three, noise, whose skeletons
// are tangles of junctions and small holes. Returns the skeleton (1) on 255.
Plane random_skeleton(std::mt19937& rng, int lines, int columns) {
  Plane grey(lines, columns, 0), object(lines, columns, 0);
  std::uniform_real_distribution<double> u(0, 1);
  const bool noise = rng() % 3 == 0;
  const double density = 0.3 + 0.5 * u(rng);
  for (int i = 0; noise && i < lines; ++i)
    for (int j = 0; j < columns; ++j) grey.at(i, j) = u(rng) < density ? 255 : 0;
  const int blobs = noise ? 0 : 1 + static_cast<int>(rng() % 6);
  for (int k = 0; k < blobs; ++k) {
    const double cy = u(rng) * lines, cx = u(rng) * columns;
    const double a = 2 + u(rng) * lines / 3, b = 2 + u(rng) * columns / 3, t = u(rng) * 3.14159;
    const bool hole = u(rng) < 0.6;
    for (int i = 0; i < lines; ++i)
      for (int j = 0; j < columns; ++j) {
        const double dy = i - cy, dx = j - cx;
        const double x = dx * std::cos(t) + dy * std::sin(t), y = -dx * std::sin(t) + dy * std::cos(t);
        const double r = x * x / (a * a) + y * y / (b * b);
        if (r <= 1) grey.at(i, j) = 255;
        if (hole && r <= 0.15) grey.at(i, j) = 0;
      }
  }
  threshold_planes(grey.rows(), object.rows(), lines, columns, 128, 255);
  thin_planes(object.rows(), grey.rows(), lines, columns);
  finish_planes(object.rows(), lines, columns);
  return object;
}

TEST(SkeletonGraph, OnThinnedRandomBlobsCyclesAreHolesAndEveryPixelIsCoveredOnce) {
  std::mt19937 rng(20240607);
  int checked_cycles = 0;
  for (int run = 0; run < 300; ++run) {
    const int lines = 8 + static_cast<int>(rng() % 70), columns = 8 + static_cast<int>(rng() % 70);
    Plane p = random_skeleton(rng, lines, columns);
    SCOPED_TRACE("run " + std::to_string(run) + "\n" + p.picture());
    const SkeletonGraph g = build_graph(p.rows(), p.lines, p.columns);
    ASSERT_EQ(coverage_fault(g, p), "");
    const std::vector<int> holes = holes_per_component(p);
    ASSERT_EQ(g.components, static_cast<int>(holes.size()));
    const std::vector<ComponentSummary> s = summarize_components(g, Georef{});
    for (std::size_t c = 0; c < holes.size(); ++c) {
      EXPECT_EQ(s[c].holes, holes[c]) << "component " << c;
      checked_cycles += holes[c];
    }
    for (const GraphNode& n : g.nodes)
      if (n.kind == NodeKind::junction && n.degree < 3) {
        EXPECT_GE(n.pixels.size(), 4u) << "only a thick spot is a junction of two branches";
      }

    // pruning keeps the components and the cycles, and leaves no side
    // branch shorter than the limit
    const double limit = 1 + static_cast<int>(rng() % 12);
    prune_skeleton(p.rows(), p.lines, p.columns, limit);
    const SkeletonGraph pruned = build_graph(p.rows(), p.lines, p.columns);
    ASSERT_EQ(coverage_fault(pruned, p), "");
    std::vector<int> after = holes_per_component(p), before = holes;
    std::sort(after.begin(), after.end());
    std::sort(before.begin(), before.end());
    EXPECT_EQ(after, before);
    for (const GraphBranch& b : pruned.branches)
      if (b.kind == BranchKind::end_junction && pruned.nodes[static_cast<std::size_t>(b.to_node)].degree >= 3) {
        EXPECT_GE(b.length_px, limit) << "branch " << b.id;
      }
  }
  EXPECT_GT(checked_cycles, 50) << "the random blobs should make holes";
}

TEST(SimplifyLine, KeepsTheEndsAndThePointsFartherThanTheTolerance) {
  const std::vector<std::pair<double, double>> line = {{0, 0}, {1, 0.1}, {2, -0.1}, {3, 5}, {4, 6}, {5, 7.05}, {6, 8}};
  EXPECT_EQ(simplify_line(line, 0.5), (std::vector<std::pair<double, double>>{{0, 0}, {2, -0.1}, {3, 5}, {6, 8}}));
  EXPECT_EQ(simplify_line(line, 100), (std::vector<std::pair<double, double>>{{0, 0}, {6, 8}}));
  EXPECT_EQ(simplify_line(line, 0), line);
  // a closed line keeps its far point
  const std::vector<std::pair<double, double>> ring = {{0, 0}, {2, 0}, {2, 2}, {0, 2}, {0, 0}};
  EXPECT_EQ(simplify_line(ring, 1.5).size(), 3u);
}

TEST(Georef, PixelCentresAndLengthsInMapUnits) {
  Georef g;
  EXPECT_EQ(map_point(g, 2, 3), (std::pair<double, double>{3.5, 2.5}));
  g.valid = true;
  const double gt[6] = {1000, 10, 0, 5000, 0, -20};
  std::copy(gt, gt + 6, g.geotransform);
  EXPECT_EQ(map_point(g, 0, 0), (std::pair<double, double>{1005, 4990}));
  EXPECT_EQ(map_point(g, 2, 3), (std::pair<double, double>{1035, 4950}));
  const std::vector<Pixel> path = {{0, 0}, {0, 1}, {1, 2}};
  EXPECT_NEAR(path_length(g, path), 10 + std::hypot(10.0, 20.0), 1e-9);
  EXPECT_NEAR(path_length(Georef{}, path), 1 + kR2, 1e-12);
}

}  // namespace
