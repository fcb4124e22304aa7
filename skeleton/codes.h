// The ring: the neighbourhood code, the code tables of thinning and
// finishing, their bit-sliced forms, and the proofs that tie them together.
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
//   kMarkTable         code -> 0 keep, 1 first mark, 2 second mark
//   kRingConnected     code -> 1 when the ring is one 8-connected group with
//                      at least one empty edge cell (the value of test())
//   kCleanCodes        the 32 codes the cleaning pass removes
//   kWindowRules       which rule each ring cell follows in the four window
//                      tests
//   lanes_*            the same decisions for 64 pixels at once, bit-sliced
//
// The tables that decide one pixel of the thinning from bit rows are the
// thinning kernel's own (band_decision.cpp).
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

namespace ring {
constexpr unsigned NW = 1, N = 2, NE = 4, E = 8, SE = 16, S = 32, SW = 64, W = 128;
constexpr unsigned kEdges = N | E | S | W;
// line and column offsets of ring cells 0..7
constexpr int di[8] = {-1, -1, -1, 0, 1, 1, 1, 0};
constexpr int dj[8] = {-1, 0, 1, 1, 1, 0, -1, -1};
constexpr unsigned rotate(unsigned code) { return ((code << 2) | (code >> 6)) & 0xFFu; }
}  // namespace ring

namespace codes {

// One ring cell for 64 pixels: bit k of every argument of a bit-sliced form
// belongs to the same pixel.
using Lanes = std::uint64_t;

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
//   P present  1 when the value is not 0 (marked or kept)
//   K kept     1 when the value is above 2 (staying this pass)
// One side of each window sees only the neighbours that stay.
//
// The north-west cell of the north and west windows is written, in the
// reference, as "kept or second mark" (1 when the value is 2 or more). It is
// read here as present, which gives the same decisions, so no second mark
// needs keeping: the two readings differ only for a first mark (1) in that
// cell whose two ring neighbours in the window read empty (a lone corner),
// and that never happens. Say pixel p is marked and its NW neighbour B holds
// a first mark. p's code is then a first-mark code with NW.
//  - North window, W of p read empty: W is background. Every first-mark
//    code with NW and without W has N, so N of p (C) is object and, read as
//    not kept, going. C's code has W (B) and S (p) and not SW: 161, 163, 176
//    or 184. 163 fails C's west window (N and S apart). 161 passes it only
//    with a first mark on C's NW (A); A's code then has S and SE and not E,
//    so it is 176, 240, 241 or 243, which give B a code of 27, 91, 155 or
//    219: no first mark. 176 and 184 leave B with E and SE only among N, NE, E, SE,
//    S: no first-mark code has that.
//  - West window, N of p read empty: N is background. Every first-mark
//    code with NW and without N has W, so W of p (D) is object and going.
//    B has SE (p) and S (D) and not E, so its code is 176, 240, 241 or 243,
//    all with W, which is NW of D. D's code has NW, N (B) and E (p) and not
//    NE: 11 or 139. 139 fails D's north window (E and W apart). 11 leaves D's
//    W clear, so B is 176, and passes only with a first mark on D's NW,
//    which has E and SE only among N, NE, E, SE, S: no first mark.
// The reference keeps the written rule, and the differential tests compare
// the two on every image they make; one million random images also showed
// no window test that the two readings decide differently.
enum Rule : std::uint8_t { P, K };

// A ring cell read by its rule, 64 pixels at once: `present` where the value
// is not 0, `going` where it is 1 or 2 (marked and confirmed in this pass).
constexpr Lanes read_cell(Rule r, Lanes present, Lanes going) { return r == P ? present : present & ~going; }
//                                                NW N  NE E  SE S  SW W
constexpr Rule kWindowRules[4][8] = {/* north */ {P, K, K, P, P, P, P, P},
                                     /* south */ {P, P, P, P, K, K, K, P},
                                     /* east  */ {P, P, K, K, K, P, P, P},
                                     /* west  */ {P, P, P, P, P, P, K, K}};

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

// --- bit-sliced forms: 64 pixels at once ------------------------------------
//
// The fast kernels keep planes as bits, 64 pixels to a word. Each argument
// below holds one ring cell for 64 pixels (bit k of every argument belongs
// to the same pixel), and the result has bit k set when that pixel's ring
// passes. Each form is proven against its table above on all 256 rings.
// kRingConnected: the edge cells N, E, S, W change value exactly twice around
// the ring and no corner is set between two empty edge cells; or all edge
// cells are empty and exactly one corner is set.
constexpr Lanes lanes_connected(Lanes nw, Lanes n, Lanes ne, Lanes e, Lanes se, Lanes s, Lanes sw, Lanes w) {
  const Lanes t1 = n ^ e, t2 = e ^ s, t3 = s ^ w, t4 = w ^ n;
  const Lanes two_changes = (t1 | t2 | t3 | t4) & ~(t1 & t2 & t3 & t4);
  const Lanes lone_corner = (nw & ~w & ~n) | (ne & ~n & ~e) | (se & ~e & ~s) | (sw & ~s & ~w);
  const Lanes no_edge = ~(n | e | s | w);
  const Lanes one_corner = ((nw ^ ne) & ~(se | sw)) | ((se ^ sw) & ~(nw | ne));
  return (two_changes & ~lone_corner) | (no_edge & one_corner);
}

// kMarkTable != 0: the 56 deletion codes, as four shapes each turned through
// the four quarter turns.
constexpr Lanes lanes_deletion(Lanes nw, Lanes n, Lanes ne, Lanes e, Lanes se, Lanes s, Lanes sw, Lanes w) {
  return (e & (ne | se) & ~(nw | sw | w)) | (n & (ne | nw) & ~(s | se | sw)) | (w & (nw | sw) & ~(e | ne | se)) |
         (s & (se | sw) & ~(n | ne | nw)) | (e & n & ne & nw & ~(s | sw)) | (e & n & ne & se & ~(sw | w)) |
         (e & ne & s & se & ~(nw | w)) | (e & s & se & sw & ~(n | nw)) | (n & ne & nw & w & ~(s | se)) |
         (n & nw & sw & w & ~(e | se)) | (nw & s & sw & w & ~(e | ne)) | (s & se & sw & w & ~(n | ne));
}

// A bit-sliced count of seven cells: bits 0 and 1 of the count, and "4 or
// more".
struct Count7 {
  Lanes c0 = 0, c1 = 0, c2 = 0;
  constexpr Count7(Lanes a, Lanes b, Lanes c, Lanes d, Lanes e, Lanes f, Lanes g) {
    for (Lanes x : {a, b, c, d, e, f, g}) {
      const Lanes carry0 = c0 & x;
      c0 ^= x;
      const Lanes carry1 = c1 & carry0;
      c1 ^= carry0;
      c2 |= carry1;
    }
  }
  constexpr Lanes one() const { return c0 & ~c1 & ~c2; }
  constexpr Lanes two() const { return ~c0 & c1 & ~c2; }
  constexpr Lanes three() const { return c0 & c1 & ~c2; }
};

// kCleanTable (exactly the rings that pass test() with two or three
// neighbours), for a west cell as it is (`staying`) and for an empty west
// cell (`gone`) at once, sharing the count of the other seven cells.
constexpr void lanes_clean_pair(Lanes nw, Lanes n, Lanes ne, Lanes e, Lanes se, Lanes s, Lanes sw, Lanes w,
                                Lanes& staying, Lanes& gone) {
  const Count7 count(nw, n, ne, e, se, s, sw);
  gone = lanes_connected(nw, n, ne, e, se, s, sw, 0) & (count.two() | count.three());
  staying = lanes_connected(nw, n, ne, e, se, s, sw, w) & ((w & (count.one() | count.two())) | (~w & (count.two() | count.three())));
}

// is_corner_code: two sides at a right angle and nothing else.
constexpr Lanes lanes_corner(Lanes nw, Lanes n, Lanes ne, Lanes e, Lanes se, Lanes s, Lanes sw, Lanes w) {
  return ~(nw | ne | se | sw) & ((n & e & ~s & ~w) | (e & s & ~n & ~w) | (s & w & ~n & ~e) | (w & n & ~s & ~e));
}

// --- checks: each bit-sliced form equals its table on all 256 rings ---------
// Lane b of word q stands for the ring 64 q + b.
constexpr Lanes ring_cell_lanes(int q, int k) {
  Lanes x = 0;
  for (int b = 0; b < 64; ++b)
    if (((64 * q + b) >> k) & 1) x |= Lanes{1} << b;
  return x;
}

template <typename Form, typename Expected>
constexpr bool lanes_match(Form form, Expected expected) {
  for (int q = 0; q < 4; ++q) {
    const Lanes got = form(ring_cell_lanes(q, 0), ring_cell_lanes(q, 1), ring_cell_lanes(q, 2), ring_cell_lanes(q, 3),
                           ring_cell_lanes(q, 4), ring_cell_lanes(q, 5), ring_cell_lanes(q, 6), ring_cell_lanes(q, 7));
    for (int b = 0; b < 64; ++b)
      if (((got >> b) & 1u) != (expected(64u * q + b) ? 1u : 0u)) return false;
  }
  return true;
}
static_assert(lanes_match(lanes_connected, [](unsigned c) { return kRingConnected[c] != 0; }));
static_assert(lanes_match(lanes_deletion, [](unsigned c) { return kMarkTable[c] != 0; }));
static_assert(lanes_match(lanes_corner, [](unsigned c) { return is_corner_code(c); }));
static_assert(lanes_match(
    [](Lanes nw, Lanes n, Lanes ne, Lanes e, Lanes se, Lanes s, Lanes sw, Lanes w) {
      Lanes staying = 0, gone = 0;
      lanes_clean_pair(nw, n, ne, e, se, s, sw, w, staying, gone);
      return staying;
    },
    [](unsigned c) { return kCleanTable[c] != 0; }));
static_assert(lanes_match(
    [](Lanes nw, Lanes n, Lanes ne, Lanes e, Lanes se, Lanes s, Lanes sw, Lanes) {
      Lanes staying = 0, gone = 0;
      lanes_clean_pair(nw, n, ne, e, se, s, sw, ~Lanes{0}, staying, gone);
      return gone;
    },
    [](unsigned c) { return kCleanTable[c & ~ring::W] != 0; }));

}  // namespace codes
