// Topology of binary pictures: see topology.h.
#include "support/topology.h"

#include <set>
#include <utility>
#include <vector>

namespace topology {

using testing_support::Plane;
using Labels = std::vector<std::vector<int>>;

namespace {

// Flood fill of the cells where `inside(i, j)` holds, with 4 or 8
// neighbours.
template <typename Inside>
int label(int lines, int columns, Inside inside, bool eight, Labels& labels) {
  labels.assign(lines, std::vector<int>(columns, 0));
  int n = 0;
  std::vector<std::pair<int, int>> stack;
  for (int i = 0; i < lines; ++i)
    for (int j = 0; j < columns; ++j) {
      if (!inside(i, j) || labels[i][j]) continue;
      labels[i][j] = ++n;
      stack.push_back({i, j});
      while (!stack.empty()) {
        const auto [a, b] = stack.back();
        stack.pop_back();
        for (int di = -1; di <= 1; ++di)
          for (int dj = -1; dj <= 1; ++dj) {
            if ((di == 0 && dj == 0) || (!eight && di != 0 && dj != 0)) continue;
            const int r = a + di, c = b + dj;
            if (r < 0 || r >= lines || c < 0 || c >= columns || !inside(r, c) || labels[r][c]) continue;
            labels[r][c] = n;
            stack.push_back({r, c});
          }
      }
    }
  return n;
}

bool at(const Plane& p, unsigned char on, int i, int j) {
  return i >= 0 && i < static_cast<int>(p.size()) && j >= 0 && j < static_cast<int>(p[i].size()) && p[i][j] == on;
}

}  // namespace

int label_objects(const Plane& p, unsigned char on, Labels& labels) {
  const int lines = static_cast<int>(p.size()), columns = lines ? static_cast<int>(p[0].size()) : 0;
  return label(lines, columns, [&](int i, int j) { return p[i][j] == on; }, true, labels);
}

int label_background(const Plane& p, unsigned char on, Labels& labels) {
  // padded by one background cell all round, so the outside is one component
  const int lines = static_cast<int>(p.size()) + 2, columns = (p.empty() ? 0 : static_cast<int>(p[0].size())) + 2;
  Labels padded;
  const int n = label(lines, columns, [&](int i, int j) { return !at(p, on, i - 1, j - 1); }, false, padded);
  labels.assign(lines - 2, std::vector<int>(columns - 2, 0));
  for (int i = 1; i < lines - 1; ++i)
    for (int j = 1; j < columns - 1; ++j) labels[i - 1][j - 1] = padded[i][j];
  return n;
}

int neighbours(const Plane& p, unsigned char on, int i, int j) {
  int n = 0;
  for (int di = -1; di <= 1; ++di)
    for (int dj = -1; dj <= 1; ++dj) n += (di || dj) && at(p, on, i + di, j + dj);
  return n;
}

bool is_simple(const Plane& p, unsigned char on, int i, int j) {
  // the eight neighbours as a 3x3 picture without its centre
  Plane ring(3, std::vector<unsigned char>(3, 0));
  for (int di = -1; di <= 1; ++di)
    for (int dj = -1; dj <= 1; ++dj) ring[di + 1][dj + 1] = (di || dj) && at(p, on, i + di, j + dj) ? 1 : 0;
  Labels objects;
  const int groups = label(3, 3, [&](int a, int b) { return ring[a][b] == 1; }, true, objects);
  // background groups among the eight neighbours (centre left out) that
  // hold a side cell
  Labels back;
  label(3, 3, [&](int a, int b) { return !(a == 1 && b == 1) && ring[a][b] == 0; }, false, back);
  std::set<int> sides;
  for (auto [a, b] : {std::pair{0, 1}, {1, 2}, {2, 1}, {1, 0}})
    if (back[a][b]) sides.insert(back[a][b]);
  return groups == 1 && sides.size() == 1;
}

std::string skeleton_faults(const Plane& mask_in, unsigned char mask_on, const Plane& skel_in, unsigned char skel_on,
                            bool thin) {
  // both pictures padded with one cell of background, so that the outside
  // is a background component of both
  auto pad = [](const Plane& p, unsigned char on) {
    const std::size_t columns = p.empty() ? 0 : p[0].size();
    Plane out(p.size() + 2, std::vector<unsigned char>(columns + 2, 0));
    for (std::size_t i = 0; i < p.size(); ++i)
      for (std::size_t j = 0; j < columns; ++j) out[i + 1][j + 1] = p[i][j] == on ? 1 : 0;
    return out;
  };
  const Plane mask = pad(mask_in, mask_on), skeleton = pad(skel_in, skel_on);
  const int lines = static_cast<int>(mask.size()), columns = static_cast<int>(mask[0].size());
  auto where = [](int i, int j) { return " at (" + std::to_string(i - 1) + ", " + std::to_string(j - 1) + ")"; };
  for (int i = 0; i < lines; ++i)
    for (int j = 0; j < columns; ++j)
      if (skeleton[i][j] && !mask[i][j]) return "skeleton pixel outside the mask" + where(i, j);
  // every mask object holds exactly one skeleton component
  Labels mo, so;
  const int mask_objects = label_objects(mask, 1, mo);
  label_objects(skeleton, 1, so);
  std::vector<std::set<int>> held(mask_objects + 1);
  for (int i = 0; i < lines; ++i)
    for (int j = 0; j < columns; ++j)
      if (so[i][j]) held[mo[i][j]].insert(so[i][j]);
  for (int k = 1; k <= mask_objects; ++k) {
    if (held[k].empty()) return "object " + std::to_string(k) + " of " + std::to_string(mask_objects) + " lost";
    if (held[k].size() > 1) return "object " + std::to_string(k) + " in " + std::to_string(held[k].size()) + " pieces";
  }
  // every background component of the skeleton holds exactly one of the
  // mask's: none is a new hole, two are holes lost into one
  Labels mb, sb;
  label_background(mask, 1, mb);
  const int skel_back = label_background(skeleton, 1, sb);
  std::vector<std::set<int>> holds(skel_back + 1);
  for (int i = 0; i < lines; ++i)
    for (int j = 0; j < columns; ++j)
      if (mb[i][j]) holds[sb[i][j]].insert(mb[i][j]);
  for (int k = 1; k <= skel_back; ++k) {
    if (holds[k].empty()) return "a new hole in the skeleton";
    if (holds[k].size() > 1) return std::to_string(holds[k].size() - 1) + " hole(s) of the mask lost";
  }
  if (!thin) return "";
  for (int i = 1; i < lines - 1; ++i)
    for (int j = 1; j < columns - 1; ++j)
      if (skeleton[i][j] && neighbours(skeleton, 1, i, j) != 1 && is_simple(skeleton, 1, i, j))
        return "removable skeleton pixel" + where(i, j);
  return "";
}

}  // namespace topology
