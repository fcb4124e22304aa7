// Finishing kernel: finish_planes(), the in-place passes that turn the thinned plane tab (1 skeleton, 0
// background, 255 frame) into the result (1 skeleton, 255 everywhere else).
//
// Notes:
//  1. Each pass works in place: a value written is seen by every pixel the
//     same pass visits later, so the order of the passes and of the pixels
//     within them is part of the result.
//  2. After the background fill and the frame reset the plane holds only 1
//     and 255, and a pass can only turn a 1 into 255 (cleaning, corners) or
//     a frame pixel into 1 (end points). Setting a 255 to 255 changes
//     nothing, so the whole finishing works on a bit plane of the skeleton
//     pixels (one bit per pixel), deciding 64 pixels at a time with the
//     bit-sliced forms of codes.h.
//  3. Within a line, a pixel's code sees its west neighbour as the pass
//     left it. Word-wide decisions take every west neighbour as it was
//     before the pass; where a pixel's decision depends on its west
//     neighbour, it is kept exactly when that neighbour is kept xor the
//     pixel would go with the neighbour staying, a chain resolved along the
//     word by bitplane.h's chain_xor.
//  4. tab is read once (its 1s into bits) and written once (1 where a bit
//     is set, 255 elsewhere); this needs the values 0, 1 and 255 that
//     thinning leaves, which is all that reaches the finishing.
// Extra memory: one bit plane (an eighth of a byte per pixel) while the
// kernel runs; it throws std::bad_alloc when that cannot be had.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "skeleton/bitplane.h"
#include "skeleton/bits.h"
#include "skeleton/codes.h"
#include "skeleton/contract.h"
#include "skeleton/parallel.h"
#include "skeleton/skeleton.h"

namespace {

using bitplane::Word;
using codes::Lanes;

// One line of the result from its row of bits: 1 where the bit is set,
// 255 elsewhere.
void unpack_line(const Word* row, int nb_col, unsigned char* line) {
  int j = 0;
#if defined(__SSE2__)
  const __m128i all = _mm_set1_epi8(-1), not_one = _mm_set1_epi8(-2);  // 255 ^ 254 = 1
  const __m128i bits = _mm_set_epi8(-128, 64, 32, 16, 8, 4, 2, 1, -128, 64, 32, 16, 8, 4, 2, 1);
  for (; j + 64 <= nb_col; j += 64) {
    const Word w = row[1 + (j >> 6)];
    __m128i* out = reinterpret_cast<__m128i*>(line + j);
    if (!w) {  // no skeleton pixel: the common case away from the skeleton
      for (int q = 0; q < 4; ++q) _mm_storeu_si128(out + q, all);
      continue;
    }
    for (int q = 0; q < 4; ++q) {
      const unsigned m = static_cast<unsigned>(w >> (16 * q)) & 0xFFFFu;
      // byte k holds the mask byte of its half; select bit k % 8 of it
      const __m128i spread =
          _mm_unpacklo_epi64(_mm_set1_epi8(static_cast<char>(m & 0xFFu)), _mm_set1_epi8(static_cast<char>(m >> 8)));
      const __m128i set = _mm_cmpeq_epi8(_mm_and_si128(spread, bits), bits);
      _mm_storeu_si128(out + q, _mm_xor_si128(all, _mm_and_si128(set, not_one)));
    }
  }
#endif
  for (; j < nb_col; ++j) line[j] = bitplane::bit(row, j) ? 1 : 255;
}

// One line of an in-place pass over the interior of the bits: every
// skeleton pixel of line i whose code is accepted by `form` becomes
// background, in column order (notes 1 to 3). form(nw, ..., w, staying,
// gone) gives the decision with the west cell as it is and with it empty.
template <typename Form>
void remove_line(bitplane::Plane& skel, int i, const std::vector<Word>& inside, Form form) {
  using bitplane::east;
  using bitplane::west;
  const Word* up = skel.row(i - 1);
  Word* mid = skel.row(i);
  const Word* down = skel.row(i + 1);
  for (int d = 1; d <= skel.words(); ++d) {
    const Word v = mid[d] & inside[d];
    if (!v) continue;
    const Lanes nw = west(up, d), n = up[d], ne = east(up, d), e = east(mid, d);
    const Lanes se = east(down, d), s = down[d], sw = west(down, d), w = west(mid, d);
    // a pixel surrounded by skeleton has the code 255, which no form takes
    if ((nw & n & ne & e & se & s & sw & w) == ~Word{0}) continue;
    Lanes staying = 0, gone = 0;  // west neighbour as before the pass, or removed
    form(nw, n, ne, e, se, s, sw, w, staying, gone);
    // A skeleton pixel whose west neighbour is a skeleton pixel of this word
    // and whose decision depends on it is kept exactly when the west
    // neighbour is kept xor the pixel would be removed with it staying.
    const Word kept = bitplane::chain_xor(v & ~staying, v & (v << 1) & (staying ^ gone), staying);
    mid[d] &= ~(v & ~kept);
  }
}

void clean_pair(Lanes nw, Lanes n, Lanes ne, Lanes e, Lanes se, Lanes s, Lanes sw, Lanes w, Lanes& staying,
                Lanes& gone) {
  codes::lanes_clean_pair(nw, n, ne, e, se, s, sw, w, staying, gone);
}

void corner_pair(Lanes nw, Lanes n, Lanes ne, Lanes e, Lanes se, Lanes s, Lanes sw, Lanes w, Lanes& staying,
                 Lanes& gone) {
  staying = codes::lanes_corner(nw, n, ne, e, se, s, sw, w);
  gone = codes::lanes_corner(nw, n, ne, e, se, s, sw, 0);
}

// 4. End points next to the frame grow one pixel into it: top, bottom,
// left, right, each along its side. The count sees frame pixels set by
// earlier sub-passes.
struct EndPoints {
  bitplane::Plane& skel;
  int nb_lig, nb_col;
  bool alone(int i, int j) const {
    if (!bitplane::bit(skel.row(i), j)) return false;
    const int count = bitplane::count(bitplane::triple(skel.row(i - 1), j)) +
                      bitplane::count(bitplane::triple(skel.row(i), j) & 5u) +
                      bitplane::count(bitplane::triple(skel.row(i + 1), j));
    return count == 1;
  }
  void grow(int i, int j) { skel.row(i)[1 + (j >> 6)] |= Word{1} << (j & 63); }
  void top() {
    for (int j = 1; j <= nb_col - 2; ++j)
      if (alone(1, j)) grow(0, j);
  }
  void bottom() {
    for (int j = 1; j <= nb_col - 2; ++j)
      if (alone(nb_lig - 2, j)) grow(nb_lig - 1, j);
  }
  void left(int i) {
    if (alone(i, 1)) grow(i, 0);
  }
  void right(int i) {
    if (alone(i, nb_col - 2)) grow(i, nb_col - 1);
  }
};

// Cleaning, end points and corners, one after the other.
void finish_bits(bitplane::Plane& skel, const std::vector<Word>& inside, int nb_lig, int nb_col) {
  for (int i = 1; i <= nb_lig - 2; ++i) remove_line(skel, i, inside, clean_pair);
  EndPoints ends{skel, nb_lig, nb_col};
  ends.top();
  ends.bottom();
  for (int i = 1; i <= nb_lig - 2; ++i) ends.left(i);
  for (int i = 1; i <= nb_lig - 2; ++i) ends.right(i);
  for (int i = 1; i <= nb_lig - 2; ++i) remove_line(skel, i, inside, corner_pair);
}

// The same on two threads, for planes of 8 lines and 4 columns or more: one
// cleans, line after line; the other follows it with the end points and
// the corners of the lines the cleaning has left behind. Each step reads
// what it would read in the order above:
//  - the left and right end points of line i read lines i - 1 to i + 1,
//    cleaned, and the frame cells grown before them (the top ones, their
//    own of line i - 1); with 4 columns or more left and right never read
//    each other's cells, and the bottom sub-pass reads the frame columns
//    only of the last three lines, so those wait for it;
//  - the corners of line i - 1 read lines i - 2 to i, cleaned, with every
//    end point grown; the corner pass of line i - 1 runs after the end
//    points of line i, which read line i - 1 as cleaning left it.
void finish_bits_on_two_threads(bitplane::Plane& skel, const std::vector<Word>& inside, int nb_lig, int nb_col) {
  std::atomic<int> cleaned{0};  // lines 1 .. cleaned are clean
  EndPoints ends{skel, nb_lig, nb_col};
  // the lines are handed over in batches, so that the follower, when it
  // has caught up, sleeps and wakes once a batch rather than once a line
  constexpr int kBatch = 64;
  auto wait_cleaned = [&](int line) {
    int seen = cleaned.load(std::memory_order_acquire);
    if (seen >= line) return;
    const int until = std::min(line + kBatch - 1, nb_lig - 2);
    for (; seen < until; seen = cleaned.load(std::memory_order_acquire)) cleaned.wait(seen, std::memory_order_acquire);
  };
  // part 0 cleans, part 1 follows it (a part waits only for a lower one)
  parallel::on_threads(2, [&](int k) {
    if (k == 0) {
      for (int i = 1; i <= nb_lig - 2; ++i) {
        remove_line(skel, i, inside, clean_pair);
        cleaned.store(i, std::memory_order_release);
        if (i % kBatch == 0 || i == nb_lig - 2) cleaned.notify_one();
      }
      return;
    }
    wait_cleaned(2);
    ends.top();
    for (int i = 1; i <= nb_lig - 4; ++i) {
      wait_cleaned(i + 1);
      ends.left(i);
      ends.right(i);
      if (i >= 2) remove_line(skel, i - 1, inside, corner_pair);
    }
    wait_cleaned(nb_lig - 2);
    ends.bottom();
    for (int i = nb_lig - 3; i <= nb_lig - 2; ++i) {
      ends.left(i);
      ends.right(i);
    }
    for (int i = nb_lig - 4; i <= nb_lig - 2; ++i) remove_line(skel, i, inside, corner_pair);
  });
}

// Cleaning, end points and corners on two threads where the plane is worth
// them.
void finish_passes(bitplane::Plane& skel, const std::vector<Word>& inside, int nb_lig, int nb_col, int workers) {
  if (workers >= 2 && nb_lig >= 8 && nb_col >= 4)
    finish_bits_on_two_threads(skel, inside, nb_lig, nb_col);
  else
    finish_bits(skel, inside, nb_lig, nb_col);
}

}  // namespace

void finish_planes(unsigned char** tab, int nb_lig, int nb_col, int threads) {
  skeleton_contract::check_planes("finish_planes", tab, tab, nb_lig, nb_col);
  // Fewer than three lines or columns: no interior, and every pixel the
  // end-point sub-passes would visit is a frame pixel of value 255 after
  // the frame reset (or lies outside a plane of one line or column), so the
  // plane comes out all 255.
  if (nb_lig < 3 || nb_col < 3) {
    for (int i = 0; i < nb_lig; ++i) std::memset(tab[i], 255, static_cast<std::size_t>(nb_col));
    return;
  }

  // 1 and 2: background fill and frame reset leave the skeleton pixels
  // inside the frame, all else 255: the bits hold exactly those pixels
  // (reading and writing the bytes is cut into bands of lines on several
  // threads; the in-place passes, where every line depends on the one
  // above, follow one another line by line on two)
  const int workers = parallel::workers_for(threads, nb_lig, nb_col);
  bitplane::Plane skel(nb_lig, nb_col);
  const std::vector<Word> inside = bitplane::interior_columns(nb_col);
  parallel::by_lines(nb_lig - 2, workers, [&](int first, int last) {
    for (int i = first + 1; i <= last + 1; ++i) {
      Word* row = skel.row(i);
      bitplane::pack_ones(tab[i], nb_col, row);
      for (int d = 1; d <= skel.words(); ++d) row[d] &= inside[d];
    }
  });

  // 3 to 5: cleaning, end points, corners
  finish_passes(skel, inside, nb_lig, nb_col, workers);

  // the result, written once
  parallel::by_lines(nb_lig, workers, [&](int first, int last) {
    for (int i = first; i <= last; ++i) unpack_line(skel.row(i), nb_col, tab[i]);
  });
}


void finish_bit_plane(bitplane::Plane& skel, int nb_lig, int nb_col, int threads) {
  skeleton_contract::check_sizes("finish_bit_plane", nb_lig, nb_col);
  const int workers = parallel::workers_for(threads, nb_lig, nb_col);
  // the frame is background after the frame reset
  const std::vector<Word> inside = bitplane::interior_columns(nb_col);
  const Word none = 0;
  parallel::by_lines(nb_lig, workers, [&](int first, int last) {
    for (int i = first; i <= last; ++i) {
      Word* row = skel.row(i);
      const bool frame_line = i == 0 || i == nb_lig - 1;
      for (int d = 1; d <= skel.words(); ++d) row[d] &= frame_line ? none : inside[d];
    }
  });
  if (nb_lig < 3 || nb_col < 3) return;  // no interior: nothing is left
  finish_passes(skel, inside, nb_lig, nb_col, workers);
}
