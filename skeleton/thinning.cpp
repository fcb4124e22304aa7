// Thinning kernels: thin_planes() and ring_connectivity() (the phases
// skeleton() and test() call them).
//
// Notes on the pass semantics, which every version of the kernel keeps:
//  1. The frame of tab is set to 255 before the first pass, so frame cells
//     never count as neighbours; their tab2 values (what thresholding gave
//     them) are still read by the window tests.
//  2. Neighbourhood codes come from tab, which does not change during a
//     pass: every code of a pass sees the object as the pass found it.
//  3. The window tests read tab2, which already holds this pass's marks on
//     the line above and to the left: 1 or 2 for pixels about to go, 255 for
//     pixels that stay, 0 for background.
//  4. Marked pixels are deleted only in the sweep after the scan. Between
//     passes tab2 is 255 exactly where tab is 1 and 0 where tab is 0.
//  5. Passes repeat until one deletes nothing.
//
// How the kernel is fast and still gives the same bytes:
//  6. During thinning the picture lives in a bit plane, one bit per pixel:
//     set where tab2 is not 0 at the start of the pass. Inside the frame
//     that is the object (tab == 1); on the frame it is the presence the
//     window tests read, while codes see no frame cell (note 1). The marks
//     of a pass are two bit rows per line, "going" (marked and confirmed)
//     and "second mark", kept for the line above and the current line;
//     only going pixels matter to later pixels, since a pixel whose tests
//     fail is 255 again before anybody else looks at it.
//  7. A pixel whose code is in no list is left alone, and its code changes
//     only when a neighbour is deleted. Candidates are a second bit plane:
//     at first every object pixel; a pixel visited with a code in no list
//     leaves the set; the object neighbours of every deleted pixel join it.
//     A pass decides only candidates, and only words (64 pixels of a line)
//     holding some; a summary bit per word skips empty stretches.
//  8. A word with many candidates is decided 64 pixels at once by the
//     bit-sliced forms of codes.h; a word with few, pixel by pixel from
//     kMarkByRows and kWindowsAgree. Both read the same bits.
//  9. Of the four window tests only the west one sees whether the west
//     neighbour is going (through the kept rule). Word-wide decisions take
//     both outcomes of the west test; where they differ and the west
//     neighbour may go, a pixel goes exactly when its west neighbour goes
//     xor the test passes with the neighbour staying: a chain along the
//     word, resolved by bitplane.h's chain_xor.
// 10. Deleting a line waits until the next line has been decided, because
//     that line's codes must still see it (note 2); the deletion then
//     clears the bits and wakes the neighbours' candidate bits. The bytes
//     of tab and tab2 are written once, after the last pass.
// Extra memory: two bit planes (a quarter of a byte per pixel) while the
// kernel runs; it throws std::bad_alloc when they cannot be had.
#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "skeleton/bitplane.h"
#include "skeleton/codes.h"
#include "skeleton/contract.h"
#include "skeleton/skeleton.h"

namespace {

using bitplane::Word;
using codes::Lanes;

void set_frame(unsigned char** tab, int nb_lig, int nb_col) {
  for (int j = 0; j < nb_col; ++j) tab[0][j] = 255;
  for (int j = 0; j < nb_col; ++j) tab[nb_lig - 1][j] = 255;
  for (int i = 0; i < nb_lig; ++i) tab[i][0] = 255;
  for (int i = 0; i < nb_lig; ++i) tab[i][nb_col - 1] = 255;
}

// Words with three candidates or more are decided word-wide, others pixel
// by pixel (measured: the word-wide road costs about as much as two or
// three pixels alone). Both give the same result.
inline bool has_three_bits(Word w) {
  w &= w - 1;
  w &= w - 1;
  return w != 0;
}

// Word d of a row with its neighbours, for reading columns around any bit.
struct Word3 {
  Word before, here, after;
  Word3(const Word* row, int d) : before(row[d - 1]), here(row[d]), after(row[d + 1]) {}
  // bits b - 1, b, b + 1 of `here` (bit 0 of the result is b - 1)
  unsigned triple(int b) const {
    if (b == 0) return static_cast<unsigned>(before >> 63 | (here & 3u) << 1);
    if (b == 63) return static_cast<unsigned>(here >> 62 | (after & 1u) << 2);
    return static_cast<unsigned>(here >> (b - 1)) & 7u;
  }
};

// --- the window tests, from codes::kWindowRules ------------------------------
//
// The mark plane around marked pixels, 64 pixels at once, in ring order
// (NW, N, NE, E, SE, S, SW, W): present (not 0 at the start of the pass),
// going (marked and confirmed in this pass) and second (second mark).
struct MarkRing {
  Lanes present[8] = {}, going[8] = {}, second[8] = {};
};

// The four window tests, each ring cell read by its rule: the one form both
// the word-wide decisions and the pixel table below are made of.
constexpr Lanes windows_pass(const MarkRing& m) {
  Lanes all = ~Lanes{0};
  for (int t = 0; t < 4; ++t) {
    Lanes c[8] = {};
    for (int k = 0; k < 8; ++k) c[k] = codes::read_cell(codes::kWindowRules[t][k], m.present[k], m.going[k], m.second[k]);
    all &= codes::lanes_connected(c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7]);
  }
  return all;
}

// The pixel table's index carries the second mark of NW only, and going
// marks only of the line above and W: the cells no other rule reads so.
constexpr bool rules_fit_the_pixel_index() {
  for (const auto& test : codes::kWindowRules)
    for (int k = 1; k < 8; ++k)
      if (test[k] == codes::S) return false;
  return true;
}
static_assert(rules_fit_the_pixel_index());

// kWindowsAgree[index]: 1 when all four window tests of a marked pixel pass.
// The index describes the mark plane around the pixel during the pass:
//   bits 0-2   NW, N, NE present (not 0)
//   bits 3-5   NW, N, NE going (1 or 2)
//   bit  6     NW marked with the second mark (2)
//   bit  7     W present
//   bit  8     W going
//   bit  9     E present
//   bits 10-12 SW, S, SE present
// Cells not yet visited hold 0 or 255 only, so present means kept there.
// Built 64 indices at a time by windows_pass.
constexpr std::array<std::uint8_t, 8192> make_windows_agree() {
  std::array<std::uint8_t, 8192> t{};
  Lanes low[6] = {};  // index bits 0-5 for the 64 indices of a word
  for (int b = 0; b < 64; ++b)
    for (int k = 0; k < 6; ++k)
      if ((b >> k) & 1) low[k] |= Lanes{1} << b;
  for (unsigned q = 0; q < 8192 / 64; ++q) {
    auto bit = [&](int k) { return k < 6 ? low[k] : ((q >> (k - 6)) & 1u) ? ~Lanes{0} : Lanes{0}; };
    MarkRing m;
    const Lanes present[8] = {bit(0), bit(1), bit(2), bit(9), bit(12), bit(11), bit(10), bit(7)};
    const Lanes going[8] = {bit(3), bit(4), bit(5), 0, 0, 0, 0, bit(8)};
    for (int k = 0; k < 8; ++k) m.present[k] = present[k], m.going[k] = going[k];
    m.second[0] = bit(6);
    const Lanes pass = windows_pass(m);
    for (int b = 0; b < 64; ++b) t[64 * q + b] = (pass >> b) & 1u;
  }
  return t;
}
constexpr std::array<std::uint8_t, 8192> kWindowsAgree = make_windows_agree();

// kMarkByRows[above | middle << 3 | below << 6] is kMarkTable of the code
// whose rows are these triples (bit 0 of a triple is column j-1; the centre
// bit of `middle` is ignored).
constexpr unsigned code_from_rows(unsigned above, unsigned middle, unsigned below) {
  return ((above & 1u) ? ring::NW : 0u) | ((above & 2u) ? ring::N : 0u) | ((above & 4u) ? ring::NE : 0u) |
         ((middle & 4u) ? ring::E : 0u) | ((below & 4u) ? ring::SE : 0u) | ((below & 2u) ? ring::S : 0u) |
         ((below & 1u) ? ring::SW : 0u) | ((middle & 1u) ? ring::W : 0u);
}

constexpr std::array<std::uint8_t, 512> make_mark_by_rows() {
  std::array<std::uint8_t, 512> t{};
  for (unsigned x = 0; x < 512; ++x) t[x] = codes::kMarkTable[code_from_rows(x & 7u, (x >> 3) & 7u, x >> 6)];
  return t;
}
constexpr std::array<std::uint8_t, 512> kMarkByRows = make_mark_by_rows();
// rows .#. / ### / .#. (code 170: no list) and ##. / #.. / ... (NW, N, W)
static_assert(kMarkByRows[0b010'111'010] == 0);
static_assert(kMarkByRows[0b000'001'011] == codes::kMarkTable[ring::NW | ring::N | ring::W] &&
              kMarkByRows[0b000'001'011] == 1);

class Thinner {
 public:
  Thinner(unsigned char** tab, unsigned char** tab2, int nb_lig, int nb_col)
      : tab_(tab),
        tab2_(tab2),
        nb_lig_(nb_lig),
        nb_col_(nb_col),
        present_(nb_lig, nb_col),
        candidates_(nb_lig, nb_col),
        inside_(bitplane::interior_columns(nb_col)),
        nothing_(present_.stride(), 0),
        going_up_(present_.stride(), 0),
        second_up_(present_.stride(), 0),
        going_(present_.stride(), 0),
        second_(present_.stride(), 0),
        touched_stride_((present_.words() + 63) / 64),
        touched_(static_cast<std::size_t>(nb_lig) * static_cast<std::size_t>(touched_stride_), 0) {
    for (int i = 0; i < nb_lig_; ++i) bitplane::pack_nonzero(tab2_[i], nb_col_, present_.row(i));
    for (int i = 1; i <= nb_lig_ - 2; ++i) {
      const Word* p = present_.row(i);
      Word* c = candidates_.row(i);
      for (int d = 1; d <= present_.words(); ++d)
        if (Word w = p[d] & inside_[d]) {
          c[d] = w;
          candidates_.mark_word(i, d);
        }
    }
    going_up_words_.reserve(present_.words());
    going_words_.reserve(present_.words());
  }

  // One pass: decide every line, delete what goes. Returns the number of
  // pixels deleted.
  long long pass() {
    long long deleted = 0;
    for (int i = 1; i <= nb_lig_ - 2; ++i) {
      decide_line(i);
      deleted += delete_line(i - 1);
      going_up_.swap(going_);
      second_up_.swap(second_);
      going_up_words_.swap(going_words_);
    }
    deleted += delete_line(nb_lig_ - 2);
    return deleted;
  }

 private:
  // The code bits of line r: the object inside the frame only.
  const Word* object_mask(int r) const { return r >= 1 && r <= nb_lig_ - 2 ? inside_.data() : nothing_.data(); }

  void decide_line(int i) {
    if (!candidates_.line_has_any(i)) return;
    const Word* cand = candidates_.row(i);
    candidates_.for_each_marked_word(i, [&](int d) {
      if (has_three_bits(cand[d]))
        decide_word_wide(i, d);
      else
        decide_word_pixels(i, d);
    });
  }

  // Pixel by pixel: the candidates of word d of line i, in column order.
  void decide_word_pixels(int i, int d) {
    // the three words around word d of each row the decisions read
    const Word3 up(present_.row(i - 1), d), mid(present_.row(i), d), down(present_.row(i + 1), d);
    const Word3 going_up(going_up_.data(), d), second_up(second_up_.data(), d);
    // codes see no frame cell: whole frame lines, and the frame columns
    // next to columns 1 and nb_col - 2
    const unsigned up_mask = i - 1 >= 1 ? 7u : 0u, down_mask = i + 1 <= nb_lig_ - 2 ? 7u : 0u;
    const Word west_going = going_[d - 1] >> 63;
    Word going = 0, second = 0;
    Word* cand = candidates_.row(i);
    Word w = cand[d];
    Word keep = w;
    while (w) {
      const int b = std::countr_zero(w);
      w &= w - 1;
      const int j = 64 * (d - 1) + b;
      const unsigned above = up.triple(b), middle = mid.triple(b), below = down.triple(b);
      const unsigned columns = (j == 1 ? 6u : 7u) & (j == nb_col_ - 2 ? 3u : 7u);
      const unsigned mark = kMarkByRows[(above & up_mask & columns) | (middle & columns) << 3 |
                                               (below & down_mask & columns) << 6];
      if (!mark) {
        keep &= ~(Word{1} << b);
        continue;
      }
      const unsigned w_going = static_cast<unsigned>(b ? (going >> (b - 1)) & 1u : west_going);
      const unsigned index = above | going_up.triple(b) << 3 | (second_up.triple(b) & 1u) << 6 | (middle & 1u) << 7 |
                             w_going << 8 | (middle & 4u) << 7 | below << 10;
      if (kWindowsAgree[index]) {
        going |= Word{1} << b;
        if (mark == 2) second |= Word{1} << b;
      }
    }
    cand[d] = keep;
    if (!keep) candidates_.unmark_word(i, d);
    if (going) {
      going_[d] = going;
      second_[d] = second;
      note_going(d);
    }
  }

  // The ring of word d of line i in the bits at the start of the pass: what
  // the window tests read as present, and what the codes see (the same but
  // for frame cells, which only a word touching the frame has).
  struct Neighbourhood {
    Lanes present[8];
    Lanes object[8];
    Lanes centre;
  };

  Neighbourhood read_neighbourhood(int i, int d) const {
    using bitplane::east;
    using bitplane::west;
    const Word* up = present_.row(i - 1);
    const Word* mid = present_.row(i);
    const Word* down = present_.row(i + 1);
    Neighbourhood n{{west(up, d), up[d], east(up, d), east(mid, d), east(down, d), down[d], west(down, d), west(mid, d)},
                    {},
                    mid[d]};
    std::copy(std::begin(n.present), std::end(n.present), std::begin(n.object));
    if (i == 1 || i == nb_lig_ - 2 || d == 1 || 64 * d > nb_col_ - 2) {
      const Word* above = object_mask(i - 1);
      const Word* below = object_mask(i + 1);
      const Word* inside = inside_.data();
      const Lanes object[8] = {west(up, above, d),  up[d] & above[d],     east(up, above, d), east(mid, inside, d),
                               east(down, below, d), down[d] & below[d], west(down, below, d), west(mid, inside, d)};
      std::copy(std::begin(object), std::end(object), std::begin(n.object));
      n.centre = mid[d] & inside[d];
    }
    return n;
  }

  static Lanes deletion_codes(const Neighbourhood& n) {
    const Lanes* o = n.object;
    return n.centre & codes::lanes_deletion(o[0], o[1], o[2], o[3], o[4], o[5], o[6], o[7]);
  }

  // Which pixels of the word go, given which of them are marked: the window
  // tests with the marks of the line above, and the west neighbour's fate
  // carried along the word (note 9).
  Lanes going_pixels(int d, const Neighbourhood& n, Lanes marked) const {
    using bitplane::east;
    using bitplane::west;
    MarkRing ring;
    std::copy(std::begin(n.present), std::end(n.present), std::begin(ring.present));
    const Word* going_up = going_up_.data();
    const Word* second_up = second_up_.data();
    ring.going[0] = west(going_up, d), ring.going[1] = going_up[d], ring.going[2] = east(going_up, d);
    ring.second[0] = west(second_up, d), ring.second[1] = second_up[d], ring.second[2] = east(second_up, d);
    const Lanes west_staying = marked & windows_pass(ring);
    ring.going[7] = ~Lanes{0};
    const Lanes west_going = marked & windows_pass(ring);
    // where the two differ and the west neighbour can go, a pixel goes
    // exactly when the neighbour goes xor it passes with the neighbour
    // staying
    const Lanes can_go = west_staying | west_going;
    const Word carry = going_[d - 1] >> 63;  // the west neighbour of bit 0, decided
    Lanes fixed = west_staying;
    if ((can_go & 1u) && carry) fixed = (fixed & ~Word{1}) | (west_going & 1u);
    return bitplane::chain_xor(fixed, (west_staying ^ west_going) & (can_go << 1), west_staying);
  }

  // Word-wide: all 64 pixels of word d of line i at once.
  void decide_word_wide(int i, int d) {
    const Neighbourhood n = read_neighbourhood(i, d);
    const Lanes marked = deletion_codes(n);
    Word* cand = candidates_.row(i);
    cand[d] = marked;
    if (!marked) {
      candidates_.unmark_word(i, d);
      return;
    }
    if (const Lanes going = going_pixels(d, n, marked)) {
      going_[d] = going;
      second_[d] = going & codes::lanes_second_mark(n.object[1], n.object[2], n.object[7]);
      note_going(d);
    }
  }

  // Word e of lines r - 1 to r + 1: object pixels next to a pixel of line r
  // going in this pass become candidates.
  void wake(int r, int e) {
    const Word g =
        going_up_[e - 1] >> 63 | going_up_[e] | going_up_[e] << 1 | going_up_[e] >> 1 | going_up_[e + 1] << 63;
    for (int rr = std::max(r - 1, 1); rr <= std::min(r + 1, nb_lig_ - 2); ++rr)
      if (Word add = g & present_.row(rr)[e] & inside_[e]) {
        candidates_.row(rr)[e] |= add;
        candidates_.mark_word(rr, e);
      }
  }

  void note_going(int d) {
    if (going_words_.empty() || going_words_.back() != d) going_words_.push_back(d);
  }

  // Deletes the going pixels of line r (decided in this pass, held in the
  // "up" rows now that line r + 1 is decided too) and wakes the candidates
  // around them. Returns how many were deleted. The bytes of tab and tab2
  // are written once, at the end (write_back).
  long long delete_line(int r) {
    if (going_up_words_.empty()) return 0;
    long long n = 0;
    Word* p = present_.row(r);
    Word* cand = candidates_.row(r);
    Word* touched = touched_.data() + static_cast<std::size_t>(r) * touched_stride_;
    for (int d : going_up_words_) {
      const Word g = going_up_[d];
      n += bitplane::count(g);
      p[d] &= ~g;
      cand[d] &= ~g;
      if (!cand[d]) candidates_.unmark_word(r, d);
      touched[(d - 1) >> 6] |= Word{1} << ((d - 1) & 63);
    }
    // the object neighbours of the deleted pixels become candidates: in the
    // word itself, and in a word beside it that has no deletion of its own
    // when a deleted pixel sits at that edge
    for (int d : going_up_words_) {
      const Word g = going_up_[d];
      wake(r, d);
      if ((g & 1u) && d > 1 && !going_up_[d - 1]) wake(r, d - 1);
      if ((g >> 63) && d < present_.words() && !going_up_[d + 1]) wake(r, d + 1);
    }
    for (int d : going_up_words_) {
      going_up_[d] = 0;
      second_up_[d] = 0;
    }
    going_up_words_.clear();
    return n;
  }

 public:
  // Writes the deletions into the bytes: 0 in tab and tab2 wherever an
  // object pixel (still 1 in tab) is no longer in the bit plane. Only words
  // that saw a deletion are looked at.
  void write_back() {
    for (int i = 1; i <= nb_lig_ - 2; ++i) {
      const Word* touched = touched_.data() + static_cast<std::size_t>(i) * touched_stride_;
      const Word* p = present_.row(i);
      unsigned char* t = tab_[i];
      unsigned char* t2 = tab2_[i];
      for (int k = 0; k < touched_stride_; ++k) {
        Word words = touched[k];
        while (words) {
          const int d = 1 + 64 * k + std::countr_zero(words);
          words &= words - 1;
          // bytes to keep: pixels still present, and every frame column
          const Word keep = p[d] | ~inside_[d];
          const int j0 = 64 * (d - 1), n = std::min(64, nb_col_ - j0);
          int b = 0;
          for (; b + 8 <= n; b += 8) {
            const std::uint64_t mask = bitplane::kByteMask[(keep >> b) & 0xFFu];
            std::uint64_t x, x2;
            std::memcpy(&x, t + j0 + b, 8);
            std::memcpy(&x2, t2 + j0 + b, 8);
            x &= mask;
            x2 &= mask;
            std::memcpy(t + j0 + b, &x, 8);
            std::memcpy(t2 + j0 + b, &x2, 8);
          }
          for (; b < n; ++b)
            if (!((keep >> b) & 1u)) {
              t[j0 + b] = 0;
              t2[j0 + b] = 0;
            }
        }
      }
    }
  }

 private:
  unsigned char** tab_;
  unsigned char** tab2_;
  int nb_lig_, nb_col_;
  bitplane::Plane present_;                                  // tab2 not 0, at the start of the pass
  bitplane::Plane candidates_;                               // pixels that may be marked in this pass
  std::vector<Word> inside_;                                 // the columns inside the frame
  std::vector<Word> nothing_;                                // a line of zeros
  std::vector<Word> going_up_, second_up_, going_, second_;  // marks of the line above and of this line
  std::vector<int> going_up_words_, going_words_;            // words of those rows holding marks
  int touched_stride_;
  std::vector<Word> touched_;  // one bit per word: some pixel of it was deleted
};

}  // namespace

int thin_planes(unsigned char** tab, unsigned char** tab2, int nb_lig, int nb_col) {
  skeleton_contract::check_planes("thin_planes", tab, tab2, nb_lig, nb_col);
  set_frame(tab, nb_lig, nb_col);
  if (nb_lig < 3 || nb_col < 3) return 1;  // no interior: one pass deleting nothing
  Thinner thinner(tab, tab2, nb_lig, nb_col);
  int passes = 1;
  while (thinner.pass() != 0) ++passes;
  thinner.write_back();
  return passes;
}

int ring_connectivity(const unsigned char window[4][4]) {
  const unsigned code = (window[1][1] ? ring::NW : 0u) | (window[1][2] ? ring::N : 0u) |
                        (window[1][3] ? ring::NE : 0u) | (window[2][3] ? ring::E : 0u) |
                        (window[3][3] ? ring::SE : 0u) | (window[3][2] ? ring::S : 0u) |
                        (window[3][1] ? ring::SW : 0u) | (window[2][1] ? ring::W : 0u);
  return codes::kRingConnected[code];
}

