// The graph of a finished skeleton: see skeleton_graph.h.
//
//   build_graph, simplify_line, map_point, path_length, node_kind_name,
//   branch_kind_name
//
// How build_graph works, in three linear passes:
//  1. One raster scan finds the node pixels from each pixel's code alone:
//     end points (one step), isolated points (none) and junction pixels
//     (three or more steps, or a corner of a filled 2x2 block). They are
//     listed in raster order, so a pixel's entry is found by binary search.
//     Junction pixels that touch are joined (union-find) into one node.
//  2. From every node pixel, each step to a pixel that is neither a node
//     pixel nor already walked starts a walk along pixels of two steps until
//     a node pixel is met: one branch. Walked pixels are marked in a bit
//     plane, so the walk from the other end of the same branch is skipped.
//     A walk of one pixel that comes back to its own node beside where it
//     left (the corner of a triangle of steps round two diagonal junction
//     pixels) encloses nothing: that pixel joins the node.
//  3. Only when pixels are left over, a second scan finds the rings without
//     node, each walked from its first pixel in raster order.
// No step allocates per pixel: paths grow in their branch's vector.
#include "graph/skeleton_graph.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>

#include "graph/graph_codes.h"
#include "graph/skeleton_mask.h"

namespace {

using graph_codes::kGraphDegree;
using graph_codes::kGraphSteps;
using graph_codes::kNodePixel;
using Index = std::int64_t;

constexpr double kSqrt2 = 1.41421356237309504880;

// A pixel that is the start or end of walks: anything but two steps, or a
// junction pixel.
inline bool is_node_code(unsigned code) { return kNodePixel[code] || kGraphDegree[code] != 2; }

struct UnionFind {
  std::vector<int> parent;
  explicit UnionFind(std::size_t n) : parent(n) { std::iota(parent.begin(), parent.end(), 0); }
  int find(int x) {
    while (parent[static_cast<std::size_t>(x)] != x) {
      int& p = parent[static_cast<std::size_t>(x)];
      p = parent[static_cast<std::size_t>(p)];
      x = p;
    }
    return x;
  }
  void join(int a, int b) {
    a = find(a);
    b = find(b);
    if (a == b) return;
    // the smaller index stays root, so roots are first in raster order
    if (a < b)
      parent[static_cast<std::size_t>(b)] = a;
    else
      parent[static_cast<std::size_t>(a)] = b;
  }
};

class Builder {
 public:
  explicit Builder(const SkeletonMask& mask)
      : mask_(mask), nb_lig_(mask.lines), nb_col_(mask.columns),
        walked_((static_cast<std::size_t>(mask.lines) * static_cast<std::size_t>(mask.columns) + 63) / 64, 0) {}

  SkeletonGraph run() {
    find_node_pixels();
    make_nodes();
    walk_from_nodes();
    for (std::size_t n = 0; n < graph_.nodes.size(); ++n) keep_holes_of(static_cast<int>(n));
    if (covered_ < total_) walk_rings();
    finish();
    return std::move(graph_);
  }

 private:
  const SkeletonMask& mask_;
  int nb_lig_, nb_col_;
  std::vector<std::uint64_t> walked_;  // one bit per pixel: interior pixel of a traced branch
  std::vector<Index> node_pixel_;      // raster order
  std::vector<std::uint8_t> node_code_;
  std::vector<int> node_of_pixel_;     // parallel to node_pixel_
  std::vector<std::vector<Pixel>> absorbed_;
  Index total_ = 0, covered_ = 0;
  SkeletonGraph graph_;

  Index index_of(int i, int j) const { return static_cast<Index>(i) * nb_col_ + j; }
  Pixel pixel_of(Index k) const { return Pixel{static_cast<int>(k / nb_col_), static_cast<int>(k % nb_col_)}; }
  unsigned code(int i, int j) const { return mask_.code(i, j); }
  bool walked(Index k) const { return (walked_[static_cast<std::size_t>(k >> 6)] >> (k & 63)) & 1u; }
  void mark(Index k) { walked_[static_cast<std::size_t>(k >> 6)] |= std::uint64_t{1} << (k & 63); }
  std::size_t position_of(Index k) const {
    return static_cast<std::size_t>(std::lower_bound(node_pixel_.begin(), node_pixel_.end(), k) - node_pixel_.begin());
  }
  int node_at(int i, int j) const { return node_of_pixel_[position_of(index_of(i, j))]; }

  void find_node_pixels() {
    for (int i = 0; i < nb_lig_; ++i)
      mask_.for_each_in_line(i, [&](int j) {
        ++total_;
        const unsigned c = code(i, j);
        if (is_node_code(c)) {
          node_pixel_.push_back(index_of(i, j));
          node_code_.push_back(static_cast<std::uint8_t>(c));
        }
      });
  }

  void make_nodes() {
    const std::size_t n = node_pixel_.size();
    UnionFind groups(n);
    for (std::size_t s = 0; s < n; ++s) {
      if (!kNodePixel[node_code_[s]]) continue;
      const Pixel p = pixel_of(node_pixel_[s]);
      // neighbours later in raster order: E, SE, S, SW (ring cells 3 to 6)
      for (unsigned k = 3; k <= 6; ++k) {
        if (!(node_code_[s] & (1u << k))) continue;
        const int y = p.line + ring::di[k], x = p.column + ring::dj[k];
        const std::size_t t = position_of(index_of(y, x));
        if (t < n && node_pixel_[t] == index_of(y, x) && kNodePixel[node_code_[t]])
          groups.join(static_cast<int>(s), static_cast<int>(t));
      }
    }
    node_of_pixel_.assign(n, -1);
    std::vector<int> node_of_root(n, -1);
    for (std::size_t s = 0; s < n; ++s) {
      const std::size_t root = kNodePixel[node_code_[s]] ? static_cast<std::size_t>(groups.find(static_cast<int>(s))) : s;
      if (node_of_root[root] < 0) {
        node_of_root[root] = static_cast<int>(graph_.nodes.size());
        GraphNode node;
        node.id = node_of_root[root];
        node.kind = kNodePixel[node_code_[s]] ? NodeKind::junction : NodeKind::end;
        graph_.nodes.push_back(std::move(node));
      }
      node_of_pixel_[s] = node_of_root[root];
      graph_.nodes[static_cast<std::size_t>(node_of_root[root])].pixels.push_back(pixel_of(node_pixel_[s]));
    }
    covered_ = static_cast<Index>(n);
    absorbed_.resize(graph_.nodes.size());
  }

  // The step of a two-step pixel that does not lead back to `from`.
  Pixel other_step(Pixel at, unsigned at_code, Pixel from) const {
    unsigned steps = kGraphSteps[at_code];
    while (steps) {
      const unsigned k = static_cast<unsigned>(std::countr_zero(steps));
      steps &= steps - 1;
      const Pixel q{at.line + ring::di[k], at.column + ring::dj[k]};
      if (!(q == from)) return q;
    }
    return from;  // not reached for a two-step pixel
  }

  void add_branch(std::vector<Pixel>&& path, int from, int to) {
    GraphBranch b;
    b.id = static_cast<int>(graph_.branches.size());
    b.path = std::move(path);
    b.from_node = from;
    b.to_node = to;
    graph_.branches.push_back(std::move(b));
  }

  void walk_from_nodes() {
    for (std::size_t n = 0; n < graph_.nodes.size(); ++n) {
      const int node = static_cast<int>(n);
      for (std::size_t q = 0; q < graph_.nodes[n].pixels.size(); ++q) {
        const Pixel a = graph_.nodes[n].pixels[q];
        unsigned steps = kGraphSteps[code(a.line, a.column)];
        while (steps) {
          const unsigned k = static_cast<unsigned>(std::countr_zero(steps));
          steps &= steps - 1;
          const Pixel b{a.line + ring::di[k], a.column + ring::dj[k]};
          const unsigned cb = code(b.line, b.column);
          if (is_node_code(cb)) {
            // two nodes side by side: a branch of no interior pixel, taken
            // once, from the node that comes first
            const int other = node_at(b.line, b.column);
            if (other > node) add_branch({a, b}, node, other);
            continue;
          }
          if (walked(index_of(b.line, b.column))) continue;
          walk(node, a, b, cb);
        }
      }
    }
    for (std::size_t n = 0; n < graph_.nodes.size(); ++n) {
      if (absorbed_[n].empty()) continue;
      auto& px = graph_.nodes[n].pixels;
      px.insert(px.end(), absorbed_[n].begin(), absorbed_[n].end());
      std::sort(px.begin(), px.end(), [this](const Pixel& u, const Pixel& v) {
        return index_of(u.line, u.column) < index_of(v.line, v.column);
      });
    }
  }

  void walk(int node, Pixel a, Pixel b, unsigned cb) {
    std::vector<Pixel> path{a, b};
    mark(index_of(b.line, b.column));
    Pixel prev = a, cur = b;
    unsigned ccur = cb;
    int end = -1;
    for (;;) {
      const Pixel next = other_step(cur, ccur, prev);
      const unsigned cn = code(next.line, next.column);
      path.push_back(next);
      if (is_node_code(cn)) {
        end = node_at(next.line, next.column);
        break;
      }
      const Index kn = index_of(next.line, next.column);
      if (walked(kn)) return;  // cannot happen: the steps are symmetric
      mark(kn);
      prev = cur;
      cur = next;
      ccur = cn;
    }
    covered_ += static_cast<Index>(path.size()) - 2;
    if (end == node && path.size() == 3 && std::abs(path[0].line - path[2].line) <= 1 &&
        std::abs(path[0].column - path[2].column) <= 1) {
      absorbed_[static_cast<std::size_t>(node)].push_back(path[1]);
      return;
    }
    add_branch(std::move(path), node, end);
  }

  // A node's pixels may enclose background (junction pixels all round a
  // hole of the skeleton). Making them one point would lose that cycle, so
  // the node gets a branch from and to itself for each one, through two of
  // its own pixels. The cycles of the node's own steps are the 2x2 blocks
  // it holds and its holes: holes = steps - pixels + 1 - blocks.
  void keep_holes_of(int n) {
    const std::vector<Pixel>& px = graph_.nodes[static_cast<std::size_t>(n)].pixels;
    if (px.size() < 4) return;
    auto slot = [&](int i, int j) -> int {
      const Index k = index_of(i, j);
      const auto at = std::lower_bound(px.begin(), px.end(), k,
                                       [this](const Pixel& p, Index v) { return index_of(p.line, p.column) < v; });
      return at != px.end() && index_of(at->line, at->column) == k ? static_cast<int>(at - px.begin()) : -1;
    };
    UnionFind tree(px.size());
    std::vector<std::pair<int, int>> spare;  // steps that close a cycle
    long steps = 0, blocks = 0;
    for (std::size_t s = 0; s < px.size(); ++s) {
      const Pixel p = px[s];
      const unsigned c = code(p.line, p.column);
      if ((c & graph_codes::kBlocks[2]) == graph_codes::kBlocks[2]) ++blocks;  // E, SE, S: a block starts here
      const unsigned ahead = kGraphSteps[c] & (ring::E | ring::SE | ring::S | ring::SW);
      for (unsigned k = 3; k <= 6; ++k) {
        if (!(ahead & (1u << k))) continue;
        const int t = slot(p.line + ring::di[k], p.column + ring::dj[k]);
        if (t < 0) continue;
        ++steps;
        if (tree.find(static_cast<int>(s)) == tree.find(t))
          spare.emplace_back(static_cast<int>(s), t);
        else
          tree.join(static_cast<int>(s), t);
      }
    }
    long holes = steps - static_cast<long>(px.size()) + 1 - blocks;
    // a step on the side of a 2x2 block closes that block rather than a hole
    auto in_block = [&](const std::pair<int, int>& e) {
      const Pixel a = px[static_cast<std::size_t>(e.first)], b = px[static_cast<std::size_t>(e.second)];
      const int dl = b.line - a.line, dc = b.column - a.column;
      if (dl != 0 && dc != 0) return false;
      // the two squares on either side of the step
      for (int side : {-1, 1}) {
        const int ol = dc != 0 ? side : 0, oc = dl != 0 ? side : 0;
        if (slot(a.line + ol, a.column + oc) >= 0 && slot(b.line + ol, b.column + oc) >= 0) return true;
      }
      return false;
    };
    std::stable_partition(spare.begin(), spare.end(), [&](const auto& e) { return !in_block(e); });
    for (std::size_t k = 0; k < spare.size() && holes > 0; ++k, --holes)
      add_branch({px[static_cast<std::size_t>(spare[k].first)], px[static_cast<std::size_t>(spare[k].second)]}, n, n);
  }

  void walk_rings() {
    for (int i = 0; i < nb_lig_; ++i)
      mask_.for_each_in_line(i, [&](int j) {
        if (walked(index_of(i, j))) return;
        const unsigned c = code(i, j);
        if (is_node_code(c)) return;
        const Pixel s{i, j};
        std::vector<Pixel> path{s};
        mark(index_of(i, j));
        const unsigned k = static_cast<unsigned>(std::countr_zero(kGraphSteps[c]));
        Pixel prev = s, cur{i + ring::di[k], j + ring::dj[k]};
        for (;;) {
          path.push_back(cur);
          if (cur == s) break;
          const Index kc = index_of(cur.line, cur.column);
          if (walked(kc)) break;  // cannot happen: a ring of two-step pixels closes at s
          mark(kc);
          const Pixel next = other_step(cur, code(cur.line, cur.column), prev);
          prev = cur;
          cur = next;
        }
        covered_ += static_cast<Index>(path.size()) - 1;
        add_branch(std::move(path), -1, -1);
      });
  }

  void finish() {
    auto& nodes = graph_.nodes;
    auto& branches = graph_.branches;
    for (const GraphBranch& b : branches) {
      if (b.from_node >= 0) ++nodes[static_cast<std::size_t>(b.from_node)].degree;
      if (b.to_node >= 0) ++nodes[static_cast<std::size_t>(b.to_node)].degree;
    }
    for (GraphNode& n : nodes) {
      n.kind = n.degree == 0 ? NodeKind::isolated : n.degree == 1 ? NodeKind::end : NodeKind::junction;
      double sl = 0, sc = 0;
      for (const Pixel& p : n.pixels) {
        sl += p.line;
        sc += p.column;
      }
      n.line = sl / static_cast<double>(n.pixels.size());
      n.column = sc / static_cast<double>(n.pixels.size());
    }
    for (GraphBranch& b : branches) {
      if (b.from_node < 0) {
        b.kind = BranchKind::loop;
      } else {
        const bool from_end = nodes[static_cast<std::size_t>(b.from_node)].kind == NodeKind::end;
        const bool to_end = nodes[static_cast<std::size_t>(b.to_node)].kind == NodeKind::end;
        if (from_end && to_end) {
          b.kind = BranchKind::end_end;
        } else if (from_end || to_end) {
          b.kind = BranchKind::end_junction;
          if (!from_end) {
            std::reverse(b.path.begin(), b.path.end());
            std::swap(b.from_node, b.to_node);
          }
        } else {
          b.kind = BranchKind::junction_junction;
        }
      }
      b.length_px = path_length(Georef{}, b.path);
    }
    number_components();
  }

  // Components: nodes joined by branches, and each ring on its own,
  // numbered in the raster order of their first pixel.
  void number_components() {
    auto& nodes = graph_.nodes;
    auto& branches = graph_.branches;
    UnionFind parts(nodes.size());
    for (const GraphBranch& b : branches)
      if (b.from_node >= 0) parts.join(b.from_node, b.to_node);
    // provisional numbers: node roots first, then the rings
    std::vector<int> provisional(nodes.size(), -1);
    std::vector<Index> first;
    for (std::size_t n = 0; n < nodes.size(); ++n) {
      const std::size_t root = static_cast<std::size_t>(parts.find(static_cast<int>(n)));
      if (provisional[root] < 0) {
        provisional[root] = static_cast<int>(first.size());
        first.push_back(std::numeric_limits<Index>::max());
      }
      provisional[n] = provisional[root];
      const Pixel p = nodes[n].pixels.front();
      Index& f = first[static_cast<std::size_t>(provisional[n])];
      f = std::min(f, index_of(p.line, p.column));
    }
    std::vector<int> branch_part(branches.size());
    for (std::size_t b = 0; b < branches.size(); ++b) {
      int part;
      if (branches[b].from_node >= 0) {
        part = provisional[static_cast<std::size_t>(branches[b].from_node)];
      } else {
        part = static_cast<int>(first.size());
        first.push_back(std::numeric_limits<Index>::max());
      }
      branch_part[b] = part;
      Index& f = first[static_cast<std::size_t>(part)];
      for (const Pixel& p : branches[b].path) f = std::min(f, index_of(p.line, p.column));
    }
    std::vector<int> order(first.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&first](int u, int v) {
      return first[static_cast<std::size_t>(u)] < first[static_cast<std::size_t>(v)];
    });
    std::vector<int> final_number(first.size());
    for (std::size_t r = 0; r < order.size(); ++r) final_number[static_cast<std::size_t>(order[r])] = static_cast<int>(r);
    for (std::size_t n = 0; n < nodes.size(); ++n)
      nodes[n].component = final_number[static_cast<std::size_t>(provisional[n])];
    for (std::size_t b = 0; b < branches.size(); ++b)
      branches[b].component = final_number[static_cast<std::size_t>(branch_part[b])];
    graph_.components = static_cast<int>(first.size());
  }
};

// Distance from p to the segment a-b.
double segment_distance(const std::pair<double, double>& p, const std::pair<double, double>& a,
                        const std::pair<double, double>& b) {
  const double dx = b.first - a.first, dy = b.second - a.second;
  const double px = p.first - a.first, py = p.second - a.second;
  const double len2 = dx * dx + dy * dy;
  double t = len2 > 0 ? (px * dx + py * dy) / len2 : 0;
  t = std::clamp(t, 0.0, 1.0);
  return std::hypot(px - t * dx, py - t * dy);
}

}  // namespace

SkeletonGraph build_graph(const unsigned char* const* plane, int nb_lig, int nb_col, unsigned char skeleton_value) {
  if (!plane || nb_lig <= 0 || nb_col <= 0) return SkeletonGraph{};
  return build_graph(SkeletonMask(const_cast<unsigned char* const*>(plane), nb_lig, nb_col, skeleton_value));
}

SkeletonGraph build_graph(const SkeletonMask& mask) {
  if (mask.lines <= 0 || mask.columns <= 0) return SkeletonGraph{};
  return Builder(mask).run();
}

std::vector<std::pair<double, double>> simplify_line(const std::vector<std::pair<double, double>>& points,
                                                     double tolerance) {
  const std::size_t n = points.size();
  if (n < 3 || !(tolerance > 0)) return points;
  std::vector<char> keep(n, 0);
  keep[0] = keep[n - 1] = 1;
  // spans still to look at, as a stack: no recursion, however long the line
  std::vector<std::pair<std::size_t, std::size_t>> spans{{0, n - 1}};
  while (!spans.empty()) {
    const auto [first, last] = spans.back();
    spans.pop_back();
    double worst = -1;
    std::size_t at = first;
    for (std::size_t k = first + 1; k < last; ++k) {
      const double d = segment_distance(points[k], points[first], points[last]);
      if (d > worst) {
        worst = d;
        at = k;
      }
    }
    if (worst > tolerance) {
      keep[at] = 1;
      spans.emplace_back(at, last);
      spans.emplace_back(first, at);
    }
  }
  std::vector<std::pair<double, double>> out;
  for (std::size_t k = 0; k < n; ++k)
    if (keep[k]) out.push_back(points[k]);
  return out;
}

std::pair<double, double> map_point(const Georef& georef, double line, double column) {
  if (!georef.valid) return {column + 0.5, line + 0.5};
  const double* gt = georef.geotransform;
  return {gt[0] + (column + 0.5) * gt[1] + (line + 0.5) * gt[2], gt[3] + (column + 0.5) * gt[4] + (line + 0.5) * gt[5]};
}

double path_length(const Georef& georef, const std::vector<Pixel>& path) {
  double length = 0;
  if (!georef.valid) {
    for (std::size_t k = 1; k < path.size(); ++k) {
      const bool diagonal = path[k].line != path[k - 1].line && path[k].column != path[k - 1].column;
      length += diagonal ? kSqrt2 : 1.0;
    }
    return length;
  }
  for (std::size_t k = 1; k < path.size(); ++k) {
    const auto [x0, y0] = map_point(georef, path[k - 1].line, path[k - 1].column);
    const auto [x1, y1] = map_point(georef, path[k].line, path[k].column);
    length += std::hypot(x1 - x0, y1 - y0);
  }
  return length;
}

const char* node_kind_name(NodeKind kind) {
  switch (kind) {
    case NodeKind::end: return "end";
    case NodeKind::junction: return "junction";
    case NodeKind::isolated: return "isolated";
  }
  return "isolated";
}

const char* branch_kind_name(BranchKind kind) {
  switch (kind) {
    case BranchKind::end_end: return "end-end";
    case BranchKind::end_junction: return "end-junction";
    case BranchKind::junction_junction: return "junction-junction";
    case BranchKind::loop: return "loop";
  }
  return "loop";
}
