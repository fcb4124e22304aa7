// The neighbourhood code and the code tables of thinning and finishing.
//
// The code of a pixel (i, j) weighs its eight neighbours; a neighbour counts
// only when its value is exactly 1:
//
//        j-1   j   j+1
//   i-1    1   2    4        NW  N  NE
//   i    128   .    8         W  .  E
//   i+1   64  32   16        SW  S  SE
//
// Taken in the order NW, N, NE, E, SE, S, SW, W (bits 0 to 7) the neighbours
// form the ring; a quarter turn of the ring is a rotation of the code by two
// bits. This is the only numbering of neighbours in the program.
//
//   neighbour_code     the code of (i, j) in a plane
//   kMarkTable         code -> 0 keep, 1 first mark, 2 second mark
//   kRingConnected     code -> 1 when the ring is one 8-connected group with
//                      at least one empty edge cell (the value of test())
//   kCleanCodes        the 32 codes the cleaning pass removes
//   kWindowRules       which rule each ring cell follows in the four window
//                      tests
#pragma once

#include <array>
#include <cstdint>

namespace ring {
constexpr unsigned NW = 1, N = 2, NE = 4, E = 8, SE = 16, S = 32, SW = 64, W = 128;
constexpr unsigned kEdges = N | E | S | W;
// line and column offsets of ring cells 0..7
constexpr int di[8] = {-1, -1, -1, 0, 1, 1, 1, 0};
constexpr int dj[8] = {-1, 0, 1, 1, 1, 0, -1, -1};
constexpr unsigned rotate(unsigned code) { return ((code << 2) | (code >> 6)) & 0xFFu; }
}  // namespace ring

// The code of (i, j) on the current contents of `plane`. (i, j) must have all
// eight neighbours inside the plane.
inline unsigned neighbour_code(unsigned char* const* plane, int i, int j) {
  const unsigned char* up = plane[i - 1];
  const unsigned char* row = plane[i];
  const unsigned char* down = plane[i + 1];
  return (up[j - 1] == 1 ? ring::NW : 0u) | (up[j] == 1 ? ring::N : 0u) | (up[j + 1] == 1 ? ring::NE : 0u) |
         (row[j + 1] == 1 ? ring::E : 0u) | (down[j + 1] == 1 ? ring::SE : 0u) | (down[j] == 1 ? ring::S : 0u) |
         (down[j - 1] == 1 ? ring::SW : 0u) | (row[j - 1] == 1 ? ring::W : 0u);
}

namespace codes {

// The 56 codes that start a deletion, eight per shape; each row is one
// shape turned through the eight positions of the ring.
constexpr std::array<std::array<std::uint8_t, 8>, 7> kDeletionGroups = {{
    {3, 6, 12, 24, 48, 96, 192, 129},         // 2 consecutive ring cells
    {7, 14, 28, 56, 112, 224, 193, 131},      // 3 consecutive ring cells
    {15, 30, 60, 120, 240, 225, 195, 135},    // 4 consecutive ring cells
    {31, 62, 124, 248, 241, 227, 199, 143},   // 5 consecutive ring cells
    {63, 126, 252, 249, 243, 231, 207, 159},  // 6 consecutive ring cells
    // two edge cells at a right angle without the corner between them, plus
    // the corner next to one of them on the outside
    {11, 26, 44, 104, 176, 194, 161, 134},
    // three edge cells spanning a half turn, with exactly one of the two
    // corners between them
    {139, 46, 184, 226, 58, 232, 163, 142},
}};

// Second marks: the deletion codes whose object neighbours all lie among E,
// SE, S and SW, the neighbours the scan has not visited yet.
constexpr unsigned kUnvisited = ring::E | ring::SE | ring::S | ring::SW;

constexpr std::array<std::uint8_t, 256> make_mark_table() {
  std::array<std::uint8_t, 256> t{};
  for (const auto& group : kDeletionGroups)
    for (std::uint8_t c : group) t[c] = (c & ~kUnvisited) == 0 ? 2 : 1;
  return t;
}
constexpr std::array<std::uint8_t, 256> kMarkTable = make_mark_table();

// The connectivity value of a ring, as test() computes it: itot counts the
// 0/1 changes around N, E, S, W, itot1 the corners set with both edge cells
// beside them empty, and the ring passes when itot / 2 + itot1 is exactly 1.
constexpr std::uint8_t ring_value(unsigned code) {
  int iv[8] = {};
  for (int k = 0; k < 8; ++k) iv[k] = (code >> k) & 1u;
  int itot = 0, itot1 = 0;
  for (int m = 0; m < 8; m += 2) {
    int before = iv[m == 0 ? 7 : m - 1];
    int after = iv[m + 1];
    itot += after > before ? after - before : before - after;
    if (iv[m] && !before && !after) ++itot1;
  }
  return itot + 2 * itot1 == 2 ? 1 : 0;
}

constexpr std::array<std::uint8_t, 256> make_ring_table() {
  std::array<std::uint8_t, 256> t{};
  for (unsigned c = 0; c < 256; ++c) t[c] = ring_value(c);
  return t;
}
constexpr std::array<std::uint8_t, 256> kRingConnected = make_ring_table();

// The cleaning pass of finishing: a pixel whose code is one of these is set
// to background. Four shapes, each in its eight (or four) positions.
constexpr std::array<std::uint8_t, 32> kCleanCodes = {
    3,   6,   12,  24,  48,  96,  192, 129,  // two neighbours next to each other in the ring
    14,  56,  131, 224, 7,   28,  112, 193,  // three consecutive ring neighbours
    10,  40,  160, 130,                      // two sides at a right angle
    11,  26,  104, 194, 44,  134, 161, 176,  // two sides at a right angle and one diagonal next to one of them
    42,  138, 162, 168,                      // three sides
};

constexpr std::array<std::uint8_t, 256> make_clean_table() {
  std::array<std::uint8_t, 256> t{};
  for (std::uint8_t c : kCleanCodes) t[c] = 1;
  return t;
}
constexpr std::array<std::uint8_t, 256> kCleanTable = make_clean_table();

// The corner pass: two sides at a right angle and nothing else.
constexpr bool is_corner_code(unsigned code) { return code == 10 || code == 40 || code == 160 || code == 130; }

// Window tests. Each ring cell of the window reads tab2 by one rule:
//   P present         1 when the value is not 0 (marked or kept)
//   K kept            1 when the value is above 2 (staying this pass)
//   S kept-or-second  1 when the value is 2 or more
// One side of each window sees only the neighbours that stay; the north-west
// cell of the north and west windows also counts second marks as present.
enum Rule : std::uint8_t { P, K, S };
//                                                NW N  NE E  SE S  SW W
constexpr Rule kWindowRules[4][8] = {/* north */ {S, K, K, P, P, P, P, P},
                                     /* south */ {P, P, P, P, K, K, K, P},
                                     /* east  */ {P, P, K, K, K, P, P, P},
                                     /* west  */ {S, P, P, P, P, P, K, K}};

// The ring cells that follow rule `r` in window test `t`, as a code mask.
constexpr unsigned window_mask(int t, Rule r) {
  unsigned m = 0;
  for (int k = 0; k < 8; ++k)
    if (kWindowRules[t][k] == r) m |= 1u << k;
  return m;
}

// --- checks: a mistyped code fails the build --------------------------------
constexpr int count_marks(std::uint8_t mark) {
  int n = 0;
  for (auto m : kMarkTable) n += m == mark;
  return n;
}
static_assert(count_marks(1) == 49 && count_marks(2) == 7 && count_marks(0) == 200);

constexpr bool groups_turn_into_themselves() {
  for (const auto& group : kDeletionGroups)
    for (std::uint8_t c : group) {
      bool found = false;
      for (std::uint8_t d : group) found = found || d == ring::rotate(c);
      if (!found) return false;
    }
  return true;
}
static_assert(groups_turn_into_themselves());

constexpr bool clean_codes_turn_into_themselves() {
  int n = 0;
  for (unsigned c = 0; c < 256; ++c) {
    n += kCleanTable[c];
    if (kCleanTable[c] && !kCleanTable[ring::rotate(c)]) return false;
  }
  return n == 32;
}
static_assert(clean_codes_turn_into_themselves());
static_assert(kRingConnected[0] == 0 && kRingConnected[255] == 0 && kRingConnected[ring::N] == 1);

}  // namespace codes
