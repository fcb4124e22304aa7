// Test helpers for the graph: planes drawn as string pictures, and the
// checks every graph must pass, computed without the graph's own code.
//
//   Plane                 a row-pointer plane owning its bytes
//   coverage_fault        "" when every skeleton pixel is in exactly one
//                         node or branch interior and paths are well formed
//   holes_per_component   holes (4-connected background regions inside)
//                         of each 8-connected component, in raster order
#pragma once

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "graph/skeleton_graph.h"

struct Plane {
  int lines = 0, columns = 0;
  std::vector<unsigned char> bytes;
  std::vector<unsigned char*> row_pointers;

  Plane(int l, int c, unsigned char fill) : lines(l), columns(c), bytes(static_cast<std::size_t>(l) * c, fill) {
    for (int i = 0; i < l; ++i) row_pointers.push_back(bytes.data() + static_cast<std::size_t>(i) * c);
  }
  Plane(const Plane& o) : Plane(o.lines, o.columns, 0) { bytes = o.bytes; }
  Plane& operator=(const Plane&) = delete;

  // '#' is skeleton (1), anything else background (255)
  static Plane from_picture(const std::vector<std::string>& picture) {
    Plane p(static_cast<int>(picture.size()), static_cast<int>(picture[0].size()), 255);
    for (int i = 0; i < p.lines; ++i)
      for (int j = 0; j < p.columns; ++j)
        if (picture[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)] == '#') p.at(i, j) = 1;
    return p;
  }
  unsigned char& at(int i, int j) { return row_pointers[static_cast<std::size_t>(i)][j]; }
  unsigned char at(int i, int j) const { return row_pointers[static_cast<std::size_t>(i)][j]; }
  unsigned char** rows() { return row_pointers.data(); }
  bool on(int i, int j) const { return i >= 0 && j >= 0 && i < lines && j < columns && at(i, j) == 1; }
  std::string picture() const {
    std::string s;
    for (int i = 0; i < lines; ++i) {
      for (int j = 0; j < columns; ++j) s += at(i, j) == 1 ? '#' : '.';
      s += '\n';
    }
    return s;
  }
};

inline std::string coverage_fault(const SkeletonGraph& g, const Plane& p) {
  std::vector<int> count(p.bytes.size(), 0);
  auto put = [&](const Pixel& q) -> bool {
    if (!p.on(q.line, q.column)) return false;
    ++count[static_cast<std::size_t>(q.line) * p.columns + q.column];
    return true;
  };
  auto has = [](const GraphNode& n, const Pixel& q) { return std::find(n.pixels.begin(), n.pixels.end(), q) != n.pixels.end(); };
  for (std::size_t k = 0; k < g.nodes.size(); ++k) {
    if (g.nodes[k].id != static_cast<int>(k)) return "node id " + std::to_string(k);
    for (const Pixel& q : g.nodes[k].pixels)
      if (!put(q)) return "node " + std::to_string(k) + " holds a background pixel";
  }
  for (std::size_t k = 0; k < g.branches.size(); ++k) {
    const GraphBranch& b = g.branches[k];
    const std::string name = "branch " + std::to_string(k);
    if (b.id != static_cast<int>(k) || b.path.size() < 2) return name + ": id or size";
    for (std::size_t s = 1; s < b.path.size(); ++s) {
      const int dl = std::abs(b.path[s].line - b.path[s - 1].line), dc = std::abs(b.path[s].column - b.path[s - 1].column);
      if (dl > 1 || dc > 1 || dl + dc == 0) return name + ": steps are not between neighbours";
    }
    const bool loop = b.kind == BranchKind::loop;
    if (loop != (b.from_node < 0) || (loop && !(b.path.front() == b.path.back()))) return name + ": loop ends";
    if (!loop && (!has(g.nodes[static_cast<std::size_t>(b.from_node)], b.path.front()) ||
                  !has(g.nodes[static_cast<std::size_t>(b.to_node)], b.path.back())))
      return name + ": ends are not on its nodes";
    for (std::size_t s = loop ? 0 : 1; s + 1 < b.path.size(); ++s)
      if (!put(b.path[s])) return name + " holds a background pixel";
  }
  for (int i = 0; i < p.lines; ++i)
    for (int j = 0; j < p.columns; ++j) {
      const int c = count[static_cast<std::size_t>(i) * p.columns + j];
      if (p.on(i, j) && c != 1)
        return "pixel " + std::to_string(i) + "," + std::to_string(j) + " covered " + std::to_string(c) + " times";
    }
  return "";
}

// Flood fill of the 8-connected components, then, one component at a time
// in a box one pixel larger than it, the 4-connected regions of everything
// else that do not reach the box's border.
inline std::vector<int> holes_per_component(const Plane& p) {
  const int L = p.lines, C = p.columns;
  std::vector<int> label(static_cast<std::size_t>(L) * C, -1);
  std::vector<std::vector<std::pair<int, int>>> members;
  for (int i = 0; i < L; ++i)
    for (int j = 0; j < C; ++j) {
      if (!p.on(i, j) || label[static_cast<std::size_t>(i) * C + j] >= 0) continue;
      const int id = static_cast<int>(members.size());
      members.emplace_back();
      std::vector<std::pair<int, int>> todo{{i, j}};
      label[static_cast<std::size_t>(i) * C + j] = id;
      while (!todo.empty()) {
        const auto [y, x] = todo.back();
        todo.pop_back();
        members[static_cast<std::size_t>(id)].push_back({y, x});
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx)
            if (p.on(y + dy, x + dx) && label[static_cast<std::size_t>(y + dy) * C + x + dx] < 0) {
              label[static_cast<std::size_t>(y + dy) * C + x + dx] = id;
              todo.push_back({y + dy, x + dx});
            }
      }
    }
  std::vector<int> holes;
  for (std::size_t id = 0; id < members.size(); ++id) {
    int y0 = L, y1 = -1, x0 = C, x1 = -1;
    for (const auto& [y, x] : members[id]) {
      y0 = std::min(y0, y);
      y1 = std::max(y1, y);
      x0 = std::min(x0, x);
      x1 = std::max(x1, x);
    }
    y0 -= 1, x0 -= 1, y1 += 1, x1 += 1;
    const int h = y1 - y0 + 1, w = x1 - x0 + 1;
    // 0 free, 1 the component, 2 reached
    std::vector<char> box(static_cast<std::size_t>(h) * w, 0);
    for (const auto& [y, x] : members[id]) box[static_cast<std::size_t>(y - y0) * w + (x - x0)] = 1;
    int regions = 0;
    for (int sy = 0; sy < h; ++sy)
      for (int sx = 0; sx < w; ++sx) {
        if (box[static_cast<std::size_t>(sy) * w + sx] != 0) continue;
        bool border = false;
        std::vector<std::pair<int, int>> todo{{sy, sx}};
        box[static_cast<std::size_t>(sy) * w + sx] = 2;
        while (!todo.empty()) {
          const auto [y, x] = todo.back();
          todo.pop_back();
          border = border || y == 0 || x == 0 || y == h - 1 || x == w - 1;
          const int ny[4] = {y - 1, y + 1, y, y}, nx[4] = {x, x, x - 1, x + 1};
          for (int k = 0; k < 4; ++k)
            if (ny[k] >= 0 && nx[k] >= 0 && ny[k] < h && nx[k] < w && box[static_cast<std::size_t>(ny[k]) * w + nx[k]] == 0) {
              box[static_cast<std::size_t>(ny[k]) * w + nx[k]] = 2;
              todo.push_back({ny[k], nx[k]});
            }
        }
        regions += !border;
      }
    holes.push_back(regions);
  }
  return holes;
}
