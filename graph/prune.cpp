// Pruning of short side branches: see skeleton_graph.h.
//
//   prune_skeleton
//
// Notes
//  1. The graph is built once; removals then keep it up to date locally, so
//     the whole run is linear in the skeleton plus a logarithm per removal.
//     Candidates wait in a queue ordered by (length, raster index of their
//     end point); an entry whose branch has died or changed since is
//     skipped when it comes up, and a joined branch is queued afresh. So
//     the order is exactly "the shortest side branch of the current
//     skeleton first, again and again".
//  2. Removing a side branch clears its pixels and its end node. The
//     junction then keeps only the pixels its other branches need: each
//     remaining branch's attachment pixel stays, and every other junction
//     pixel whose removal changes no connection (one 8-connected group
//     round it and an empty edge cell: kRingConnected) goes, again until
//     none does. What is left joins the attachment pixels without holes or
//     stubs.
//  3. A junction left with two branch ends joins them through what is left
//     of it (a shortest way between the two attachment pixels); a junction
//     left with the two ends of one branch makes it a ring without node.
//  4. Clearing junction pixels can, in tangles of thick spots, make steps
//     that were not there (a diagonal whose edge cells went), so a side
//     branch the local updates did not see may appear. The whole is
//     therefore repeated on a fresh graph until a round removes nothing;
//     on ordinary skeletons the second round only confirms the first.
//  5. Only branches at a junction of degree three or more are removed, so
//     the thick spot of degree two (skeleton_graph.h, note 3) never loses
//     both sides.
#include <algorithm>
#include <cstdint>
#include <queue>
#include <vector>

#include "graph/graph_codes.h"
#include "graph/skeleton_graph.h"
#include "graph/skeleton_mask.h"

namespace {

using graph_codes::kGraphSteps;
using Index = std::int64_t;

struct Candidate {
  double length;
  Index end_pixel;
  int branch;
  bool operator>(const Candidate& o) const {
    if (length != o.length) return length > o.length;
    return end_pixel > o.end_pixel;
  }
};

class Pruner {
 public:
  Pruner(SkeletonMask& mask, double limit) : mask_(mask), nb_col_(mask.columns), limit_(limit) {}

  int run() {
    graph_ = build_graph(mask_);
    const std::size_t nb_nodes = graph_.nodes.size(), nb_branches = graph_.branches.size();
    incident_.assign(nb_nodes, {});
    node_alive_.assign(nb_nodes, 1);
    branch_alive_.assign(nb_branches, 1);
    for (const GraphBranch& b : graph_.branches) {
      if (b.from_node < 0) continue;
      incident_[static_cast<std::size_t>(b.from_node)].push_back(b.id);
      incident_[static_cast<std::size_t>(b.to_node)].push_back(b.id);
    }
    for (const GraphBranch& b : graph_.branches) offer(b.id);
    int removed = 0;
    while (!queue_.empty()) {
      const Candidate c = queue_.top();
      queue_.pop();
      if (!still_valid(c)) continue;
      remove(c.branch);
      ++removed;
    }
    return removed;
  }

 private:
  SkeletonMask& mask_;
  int nb_col_;
  double limit_;
  SkeletonGraph graph_;
  std::vector<std::vector<int>> incident_;  // per node: its branches, a branch from and to it twice
  std::vector<char> node_alive_, branch_alive_;
  std::priority_queue<Candidate, std::vector<Candidate>, std::greater<Candidate>> queue_;

  Index index_of(const Pixel& p) const { return static_cast<Index>(p.line) * nb_col_ + p.column; }
  GraphBranch& branch(int id) { return graph_.branches[static_cast<std::size_t>(id)]; }
  GraphNode& node(int id) { return graph_.nodes[static_cast<std::size_t>(id)]; }
  bool is_end(int n) { return node(n).kind == NodeKind::end; }

  void offer(int id) {
    const GraphBranch& b = branch(id);
    if (b.kind == BranchKind::end_junction && b.length_px < limit_)
      queue_.push(Candidate{b.length_px, index_of(b.path.front()), id});
  }

  bool still_valid(const Candidate& c) {
    if (!branch_alive_[static_cast<std::size_t>(c.branch)]) return false;
    const GraphBranch& b = branch(c.branch);
    return b.kind == BranchKind::end_junction && b.length_px == c.length && index_of(b.path.front()) == c.end_pixel &&
           incident_[static_cast<std::size_t>(b.to_node)].size() >= 3;
  }

  void clear(const Pixel& p) { mask_.clear(p.line, p.column); }

  void remove(int id) {
    GraphBranch& b = branch(id);
    const int end = b.from_node, junction = b.to_node;
    for (std::size_t k = 0; k + 1 < b.path.size(); ++k) clear(b.path[k]);
    for (const Pixel& p : node(end).pixels) clear(p);
    branch_alive_[static_cast<std::size_t>(id)] = 0;
    node_alive_[static_cast<std::size_t>(end)] = 0;
    auto& at = incident_[static_cast<std::size_t>(junction)];
    at.erase(std::find(at.begin(), at.end(), id));
    thin_junction(junction);
    if (at.size() == 2) join_at(junction);
  }

  // The pixel of branch `id` that touches node n (its first or last).
  Pixel attachment(int id, int n, bool second) {
    const GraphBranch& b = branch(id);
    if (b.from_node == n && b.to_node == n) return second ? b.path.back() : b.path.front();
    return b.from_node == n ? b.path.front() : b.path.back();
  }

  void thin_junction(int n) {
    std::vector<Pixel> keep;
    const auto& at = incident_[static_cast<std::size_t>(n)];
    for (std::size_t k = 0; k < at.size(); ++k) {
      // a branch that appears twice is a loop from and to n: both its ends
      const bool second = std::find(at.begin(), at.begin() + static_cast<std::ptrdiff_t>(k), at[k]) !=
                          at.begin() + static_cast<std::ptrdiff_t>(k);
      keep.push_back(attachment(at[k], n, second));
    }
    std::vector<Pixel>& pixels = node(n).pixels;
    for (bool changed = true; changed;) {
      changed = false;
      for (const Pixel& p : pixels) {
        if (!mask_.at(p.line, p.column) || std::find(keep.begin(), keep.end(), p) != keep.end()) continue;
        const unsigned c = mask_.code(p.line, p.column);
        if (c != 0 && codes::kRingConnected[c]) {
          clear(p);
          changed = true;
        }
      }
    }
    std::erase_if(pixels, [this](const Pixel& p) { return !mask_.at(p.line, p.column); });
    double sl = 0, sc = 0;
    for (const Pixel& p : pixels) {
      sl += p.line;
      sc += p.column;
    }
    node(n).line = sl / static_cast<double>(pixels.size());
    node(n).column = sc / static_cast<double>(pixels.size());
  }

  // A shortest way from a to b through the pixels of node n, by graph steps.
  std::vector<Pixel> way_through(int n, Pixel a, Pixel b) {
    const std::vector<Pixel>& pixels = node(n).pixels;
    auto slot = [&pixels](const Pixel& p) {
      return static_cast<int>(std::find(pixels.begin(), pixels.end(), p) - pixels.begin());
    };
    const int count = static_cast<int>(pixels.size()), from = slot(a), to = slot(b);
    if (from == to || from == count || to == count) return {a};
    std::vector<int> previous(static_cast<std::size_t>(count), -1);
    std::vector<int> todo{from};
    previous[static_cast<std::size_t>(from)] = from;
    for (std::size_t head = 0; head < todo.size() && previous[static_cast<std::size_t>(to)] < 0; ++head) {
      const Pixel p = pixels[static_cast<std::size_t>(todo[head])];
      unsigned steps = kGraphSteps[mask_.code(p.line, p.column)];
      while (steps) {
        const unsigned k = static_cast<unsigned>(std::countr_zero(steps));
        steps &= steps - 1;
        const int s = slot(Pixel{p.line + ring::di[k], p.column + ring::dj[k]});
        if (s < count && previous[static_cast<std::size_t>(s)] < 0) {
          previous[static_cast<std::size_t>(s)] = todo[head];
          todo.push_back(s);
        }
      }
    }
    std::vector<Pixel> way;
    if (previous[static_cast<std::size_t>(to)] < 0) return {a, b};  // not reached: what is left is connected
    for (int s = to; s != from; s = previous[static_cast<std::size_t>(s)]) way.push_back(pixels[static_cast<std::size_t>(s)]);
    way.push_back(a);
    std::reverse(way.begin(), way.end());
    return way;
  }

  static void append(std::vector<Pixel>& path, const std::vector<Pixel>& more) {
    // `more` starts with the pixel `path` ends with
    path.insert(path.end(), more.begin() + 1, more.end());
  }

  void join_at(int n) {
    auto& at = incident_[static_cast<std::size_t>(n)];
    const int first = at[0], second = at[1];
    at.clear();
    node_alive_[static_cast<std::size_t>(n)] = 0;
    if (first == second) {
      // a loop from and to n: a ring without node, closed through n
      GraphBranch& b = branch(first);
      append(b.path, way_through(n, b.path.back(), b.path.front()));
      b.from_node = b.to_node = -1;
      b.kind = BranchKind::loop;
      b.length_px = path_length(Georef{}, b.path);
      return;
    }
    GraphBranch& b1 = branch(first);
    GraphBranch& b2 = branch(second);
    // b1 to end at n, b2 to start at n
    if (b1.to_node != n) {
      std::reverse(b1.path.begin(), b1.path.end());
      std::swap(b1.from_node, b1.to_node);
    }
    if (b2.from_node != n) {
      std::reverse(b2.path.begin(), b2.path.end());
      std::swap(b2.from_node, b2.to_node);
    }
    append(b1.path, way_through(n, b1.path.back(), b2.path.front()));
    append(b1.path, b2.path);
    b1.to_node = b2.to_node;
    branch_alive_[static_cast<std::size_t>(second)] = 0;
    auto& far = incident_[static_cast<std::size_t>(b1.to_node)];
    *std::find(far.begin(), far.end(), second) = first;
    const bool from_end = is_end(b1.from_node), to_end = is_end(b1.to_node);
    if (from_end && to_end) {
      b1.kind = BranchKind::end_end;
    } else if (from_end || to_end) {
      b1.kind = BranchKind::end_junction;
      if (!from_end) {
        std::reverse(b1.path.begin(), b1.path.end());
        std::swap(b1.from_node, b1.to_node);
      }
    } else {
      b1.kind = BranchKind::junction_junction;
    }
    b1.length_px = path_length(Georef{}, b1.path);
    offer(first);
  }
};

}  // namespace

int prune_skeleton(unsigned char** plane, int nb_lig, int nb_col, double length, unsigned char skeleton_value,
                   unsigned char background_value) {
  if (!plane || nb_lig <= 0 || nb_col <= 0 || skeleton_value == background_value) return 0;
  SkeletonMask mask(plane, nb_lig, nb_col, skeleton_value, background_value);
  return prune_skeleton(mask, length);
}

int prune_skeleton(SkeletonMask& mask, double length) {
  if (mask.lines <= 0 || mask.columns <= 0 || !(length > 0)) return 0;
  int removed = 0;
  for (;;) {
    const int round = Pruner(mask, length).run();
    if (round == 0) return removed;
    removed += round;
  }
}
