// Neighbourhood codes of skeleton pixels for the graph (internal to graph/).
//
//   code_of        the code of a pixel, any skeleton value, plane edges as
//                  background
//   kGraphSteps    code -> the ring cells that are steps of the graph
//   kGraphDegree   code -> how many
//   kNodePixel     code -> 1 when the pixel is a junction pixel (three or more
//                  steps, or a corner of a filled 2x2 block)
//   is_step        whether ring cell k is a diagonal or an edge cell
//
// The numbering is the ring of skeleton/codes.h (NW, N, NE, E, SE, S, SW, W,
// bits 0 to 7). A diagonal neighbour is a step only when neither of the two
// edge cells beside it is set: otherwise the way round through that edge
// cell is the step, and the diagonal would only close a triangle that
// encloses nothing.
#pragma once

#include <array>
#include <bit>
#include <cstdint>

#include "skeleton/codes.h"

namespace graph_codes {

constexpr std::array<std::uint8_t, 256> make_steps() {
  std::array<std::uint8_t, 256> t{};
  for (unsigned c = 0; c < 256; ++c) {
    unsigned s = c & ring::kEdges;
    // diagonal k (0, 2, 4, 6) lies between edge cells k - 1 and k + 1
    for (unsigned k = 0; k < 8; k += 2) {
      const unsigned before = 1u << ((k + 7) % 8), after = 1u << ((k + 1) % 8);
      if ((c & (1u << k)) && !(c & before) && !(c & after)) s |= 1u << k;
    }
    t[c] = static_cast<std::uint8_t>(s);
  }
  return t;
}
constexpr std::array<std::uint8_t, 256> kGraphSteps = make_steps();

constexpr std::array<std::uint8_t, 256> make_degree() {
  std::array<std::uint8_t, 256> t{};
  for (unsigned c = 0; c < 256; ++c) t[c] = static_cast<std::uint8_t>(std::popcount(unsigned{kGraphSteps[c]}));
  return t;
}
constexpr std::array<std::uint8_t, 256> kGraphDegree = make_degree();

// The four 2x2 blocks around a pixel, each as the three ring cells that
// complete it: W NW N, N NE E, E SE S, S SW W.
constexpr unsigned kBlocks[4] = {ring::W | ring::NW | ring::N, ring::N | ring::NE | ring::E,
                                 ring::E | ring::SE | ring::S, ring::S | ring::SW | ring::W};

constexpr std::array<std::uint8_t, 256> make_node_pixel() {
  std::array<std::uint8_t, 256> t{};
  for (unsigned c = 0; c < 256; ++c) {
    bool block = false;
    for (unsigned b : kBlocks) block = block || (c & b) == b;
    t[c] = static_cast<std::uint8_t>(kGraphDegree[c] >= 3 || block);
  }
  return t;
}
constexpr std::array<std::uint8_t, 256> kNodePixel = make_node_pixel();

// An L corner is two steps; a diagonal beside an edge cell is none.
static_assert(kGraphSteps[ring::N | ring::E | ring::NE] == (ring::N | ring::E));
static_assert(kGraphSteps[ring::NE | ring::SW] == (ring::NE | ring::SW));
static_assert(kGraphDegree[ring::NW | ring::W | ring::S | ring::SE] == 2);  // inside a staircase
static_assert(kNodePixel[ring::N | ring::E | ring::S] == 1 && kNodePixel[ring::N | ring::S] == 0);
static_assert(kNodePixel[ring::E | ring::SE | ring::S] == 1);  // corner of a filled 2x2 block

// The code of (i, j): ring cells equal to `value`; cells outside the plane
// count as background.
inline unsigned code_of(const unsigned char* const* plane, int nb_lig, int nb_col, int i, int j, unsigned char value) {
  if (i > 0 && j > 0 && i + 1 < nb_lig && j + 1 < nb_col) {
    const unsigned char* up = plane[i - 1];
    const unsigned char* row = plane[i];
    const unsigned char* down = plane[i + 1];
    return (up[j - 1] == value ? ring::NW : 0u) | (up[j] == value ? ring::N : 0u) |
           (up[j + 1] == value ? ring::NE : 0u) | (row[j + 1] == value ? ring::E : 0u) |
           (down[j + 1] == value ? ring::SE : 0u) | (down[j] == value ? ring::S : 0u) |
           (down[j - 1] == value ? ring::SW : 0u) | (row[j - 1] == value ? ring::W : 0u);
  }
  unsigned c = 0;
  for (unsigned k = 0; k < 8; ++k) {
    const int y = i + ring::di[k], x = j + ring::dj[k];
    if (y >= 0 && y < nb_lig && x >= 0 && x < nb_col && plane[y][x] == value) c |= 1u << k;
  }
  return c;
}

}  // namespace graph_codes
