// Per-component figures of a skeleton graph: see graph_summary.h.
#include "graph/graph_summary.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>


std::vector<ComponentSummary> summarize_components(const SkeletonGraph& graph, const Georef& georef) {
  std::vector<ComponentSummary> out(static_cast<std::size_t>(std::max(graph.components, 0)));
  std::vector<int> nodes(out.size(), 0);
  std::vector<char> seen(out.size(), 0);
  for (std::size_t c = 0; c < out.size(); ++c) out[c].component = static_cast<int>(c);
  auto widen = [&](std::size_t c, const Pixel& p) {
    ComponentSummary& s = out[c];
    if (!seen[c]) {
      seen[c] = 1;
      s.min_line = s.max_line = p.line;
      s.min_column = s.max_column = p.column;
      return;
    }
    s.min_line = std::min(s.min_line, p.line);
    s.max_line = std::max(s.max_line, p.line);
    s.min_column = std::min(s.min_column, p.column);
    s.max_column = std::max(s.max_column, p.column);
  };
  for (const GraphNode& n : graph.nodes) {
    const auto c = static_cast<std::size_t>(n.component);
    ++nodes[c];
    out[c].end_points += n.kind == NodeKind::end;
    out[c].junctions += n.kind == NodeKind::junction;
    out[c].isolated += n.kind == NodeKind::isolated;
    for (const Pixel& p : n.pixels) widen(c, p);
  }
  for (const GraphBranch& b : graph.branches) {
    const auto c = static_cast<std::size_t>(b.component);
    ComponentSummary& s = out[c];
    ++s.branches;
    // a ring without node counts as one node and one branch
    if (b.kind == BranchKind::loop) ++nodes[c];
    s.length_px += b.length_px;
    s.length += georef.valid ? path_length(georef, b.path) : b.length_px;
    for (const Pixel& p : b.path) widen(c, p);
  }
  for (std::size_t c = 0; c < out.size(); ++c) {
    ComponentSummary& s = out[c];
    s.holes = s.branches - nodes[c] + 1;
    // the box's four corner centres, since a turned transform can put any
    // of them at the extremes
    const std::pair<double, double> corners[4] = {
        map_point(georef, s.min_line, s.min_column), map_point(georef, s.min_line, s.max_column),
        map_point(georef, s.max_line, s.min_column), map_point(georef, s.max_line, s.max_column)};
    s.min_x = s.max_x = corners[0].first;
    s.min_y = s.max_y = corners[0].second;
    for (const auto& [x, y] : corners) {
      s.min_x = std::min(s.min_x, x);
      s.max_x = std::max(s.max_x, x);
      s.min_y = std::min(s.min_y, y);
      s.max_y = std::max(s.max_y, y);
    }
  }
  return out;
}
