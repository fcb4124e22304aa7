// The decision of one band of the thinning: see band_decision.h.
#include "skeleton/band_decision.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "skeleton/codes.h"

namespace band_decision {

namespace {

using codes::Lanes;

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
// (NW, N, NE, E, SE, S, SW, W): present (not 0 at the start of the pass)
// and going (marked and confirmed in this pass).
struct MarkRing {
  Lanes present[8] = {}, going[8] = {};
};

// The four window tests, each ring cell read by its rule: the one form both
// the word-wide decisions and the pixel table below are made of.
constexpr Lanes windows_pass(const MarkRing& m) {
  Lanes all = ~Lanes{0};
  for (int t = 0; t < 4; ++t) {
    Lanes c[8] = {};
    for (int k = 0; k < 8; ++k) c[k] = codes::read_cell(codes::kWindowRules[t][k], m.present[k], m.going[k]);
    all &= codes::lanes_connected(c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7]);
  }
  return all;
}

// kWindowsAgree[index]: 1 when all four window tests of a marked pixel pass.
// The index describes the mark plane around the pixel during the pass:
//   bits 0-2   NW, N, NE present (not 0)
//   bits 3-5   NW, N, NE going (1 or 2)
//   bit  6     W present
//   bit  7     W going
//   bit  8     E present
//   bits 9-11  SW, S, SE present
// Cells not yet visited hold 0 or 255 only, so present means kept there.
// Built 64 indices at a time by windows_pass.
constexpr std::array<std::uint8_t, 4096> make_windows_agree() {
  std::array<std::uint8_t, 4096> t{};
  Lanes low[6] = {};  // index bits 0-5 for the 64 indices of a word
  for (int b = 0; b < 64; ++b)
    for (int k = 0; k < 6; ++k)
      if ((b >> k) & 1) low[k] |= Lanes{1} << b;
  for (unsigned q = 0; q < 4096 / 64; ++q) {
    auto bit = [&](int k) { return k < 6 ? low[k] : ((q >> (k - 6)) & 1u) ? ~Lanes{0} : Lanes{0}; };
    MarkRing m;
    const Lanes present[8] = {bit(0), bit(1), bit(2), bit(8), bit(11), bit(10), bit(9), bit(6)};
    const Lanes going[8] = {bit(3), bit(4), bit(5), 0, 0, 0, 0, bit(7)};
    for (int k = 0; k < 8; ++k) m.present[k] = present[k], m.going[k] = going[k];
    const Lanes pass = windows_pass(m);
    for (int b = 0; b < 64; ++b) t[64 * q + b] = (pass >> b) & 1u;
  }
  return t;
}
constexpr std::array<std::uint8_t, 4096> kWindowsAgree = make_windows_agree();

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

// The code bits of line r: the object inside the frame only.
const Word* object_mask(const Shared& s, int r) {
  return r >= 1 && r <= s.nb_lig - 2 ? s.inside.data() : s.nothing.data();
}

}  // namespace

// --- the bits every band shares ------------------------------------------------

Shared::Shared(unsigned char** t, unsigned char** t2, bitplane::Plane& bits, int lines, int columns)
    : tab(t),
      tab2(t2),
      nb_lig(lines),
      nb_col(columns),
      present(bits),
      candidates(lines, columns),
      inside(bitplane::interior_columns(columns)),
      nothing(static_cast<std::size_t>(present.stride()), 0),
      touched_stride((present.words() + 63) / 64),
      touched(static_cast<std::size_t>(lines) * static_cast<std::size_t>(touched_stride), 0) {}

void Shared::load(int first, int last) {
  for (int i = first; i <= last; ++i) {
    if (tab2) bitplane::pack_nonzero(tab2[i], nb_col, present.row(i));
    if (i < 1 || i > nb_lig - 2) continue;
    const Word* p = present.row(i);
    Word* c = candidates.row(i);
    for (int d = 1; d <= present.words(); ++d)
      if (Word w = p[d] & inside[d]) {
        c[d] = w;
        candidates.mark_word(i, d);
      }
  }
}

void Shared::write_back(int first, int last) {
  for (int i = first; i <= last; ++i) {
    const Word* t_words = touched.data() + static_cast<std::size_t>(i) * touched_stride;
    const Word* p = present.row(i);
    for (int k = 0; k < touched_stride; ++k)
      for (Word words = t_words[k]; words; words &= words - 1) {
        const int d = 1 + 64 * k + std::countr_zero(words);
        clear_gone(tab[i], tab2[i], d, p[d] | ~inside[d]);  // keep: present, and every frame column
      }
  }
}

void Shared::clear_gone(unsigned char* t, unsigned char* t2, int d, Word keep) const {
  const int j0 = 64 * (d - 1), n = std::min(64, nb_col - j0);
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
    if (!((keep >> b) & 1u)) t[j0 + b] = t2[j0 + b] = 0;
}

// --- one band's decisions ----------------------------------------------------------

BandDecision::BandDecision(Shared& s, const band_protocol::BandLines& lines)
    : woken_above(static_cast<std::size_t>(s.present.stride()), 0),
      woken_below(static_cast<std::size_t>(s.present.stride()), 0),
      s_(s),
      lo_(lines.lo()),
      guessing_(lines.rights(band_protocol::Phase::guess)),
      deciding_(lines.rights(band_protocol::Phase::decide)),
      copy_store_(lines.guesses() ? static_cast<std::size_t>(s.present.stride()) : 0, 0) {}

void BandDecision::decide(int i, const Marks& up, Marks& out) {
  deciding_.check_read(i - 1, i + 1);
  deciding_.check_write(i);
  up_ = &up;
  out_ = &out;
  if (!s_.candidates.line_has_any(i)) return;
  Word* cand = s_.candidates.row(i);
  s_.candidates.for_each_marked_word(i, [&](int d) {
    cand[d] = decide_word(i, d, cand[d]);
    if (!cand[d]) s_.candidates.unmark_word(i, d);
  });
}

void BandDecision::guess(int i, const Marks& up, Marks& out) {
  guessing_.check_read(i - 1, i + 1);
  up_ = &up;
  out_ = &out;
  const Word* p = row(i);
  if (i >= lo_ - 2) {
    for (int d = 1; d <= s_.present.words(); ++d)
      if (Word w = p[d] & s_.inside[d]) decide_word(i, d, w);
  } else {
    const Word* cand = s_.candidates.row(i);
    s_.candidates.for_each_marked_word(i, [&](int d) {
      if (cand[d]) decide_word(i, d, cand[d]);
    });
  }
}

void BandDecision::copy_line_above(const Marks& marks) {
  guessing_.check_read(lo_ - 1, lo_);
  guessing_.check_write(lo_);
  const Word* going = marks.going.data();
  const Word* line = s_.present.row(lo_ - 1);
  for (int d = 0; d < s_.present.stride(); ++d) copy_store_[d] = line[d] & ~going[d];
  const Word* first = s_.present.row(lo_);
  Word* cand = s_.candidates.row(lo_);
  for (int e = 1; e <= s_.present.words(); ++e) {
    const Word g = going[e - 1] >> 63 | going[e] | going[e] << 1 | going[e] >> 1 | going[e + 1] << 63;
    if (Word add = g & first[e] & s_.inside[e]) {
      cand[e] |= add;
      s_.candidates.mark_word(lo_, e);
    }
  }
  copy_ = copy_store_.data();
}

// The ring of word d of line i in the bits at the start of the pass: what
// the window tests read as present, and what the codes see (the same but
// for frame cells, which only a word touching the frame has).
struct BandDecision::Neighbourhood {
  Lanes present[8];
  Lanes object[8];
  Lanes centre;
};

// The pixels `cand` of word d of line i; returns those that stay
// candidates (their code is in a list).
inline Word BandDecision::decide_word(int i, int d, Word cand) {
  return has_three_bits(cand) ? decide_word_wide(i, d) : decide_word_pixels(i, d, cand);
}

// Pixel by pixel: the candidates of word d of line i, in column order.
inline Word BandDecision::decide_word_pixels(int i, int d, Word w) {
  // the three words around word d of each row the decisions read
  const Word3 up(row(i - 1), d), mid(row(i), d), down(row(i + 1), d);
  const Word3 going_up(up_->going.data(), d);
  // codes see no frame cell: whole frame lines, and the frame columns
  // next to columns 1 and nb_col - 2
  const unsigned up_mask = i - 1 >= 1 ? 7u : 0u, down_mask = i + 1 <= s_.nb_lig - 2 ? 7u : 0u;
  const Word west_going = out_->going[d - 1] >> 63;
  Word going = 0;
  Word keep = w;
  while (w) {
    const int b = std::countr_zero(w);
    w &= w - 1;
    const int j = 64 * (d - 1) + b;
    const unsigned above = up.triple(b), middle = mid.triple(b), below = down.triple(b);
    const unsigned columns = (j == 1 ? 6u : 7u) & (j == s_.nb_col - 2 ? 3u : 7u);
    const unsigned mark =
        kMarkByRows[(above & up_mask & columns) | (middle & columns) << 3 | (below & down_mask & columns) << 6];
    if (!mark) {
      keep &= ~(Word{1} << b);
      continue;
    }
    const unsigned w_going = static_cast<unsigned>(b ? (going >> (b - 1)) & 1u : west_going);
    const unsigned index =
        above | going_up.triple(b) << 3 | (middle & 1u) << 6 | w_going << 7 | (middle & 4u) << 6 | below << 9;
    if (kWindowsAgree[index]) going |= Word{1} << b;
  }
  if (going) {
    out_->going[d] = going;
    out_->note(d);
  }
  return keep;
}

inline BandDecision::Neighbourhood BandDecision::read_neighbourhood(int i, int d) const {
  using bitplane::east;
  using bitplane::west;
  const Word* up = row(i - 1);
  const Word* mid = row(i);
  const Word* down = row(i + 1);
  Neighbourhood n{{west(up, d), up[d], east(up, d), east(mid, d), east(down, d), down[d], west(down, d), west(mid, d)},
                  {},
                  mid[d]};
  std::copy(std::begin(n.present), std::end(n.present), std::begin(n.object));
  if (i == 1 || i == s_.nb_lig - 2 || d == 1 || 64 * d > s_.nb_col - 2) {
    const Word* above = object_mask(s_, i - 1);
    const Word* below = object_mask(s_, i + 1);
    const Word* inside = s_.inside.data();
    const Lanes object[8] = {west(up, above, d),  up[d] & above[d],   east(up, above, d),   east(mid, inside, d),
                             east(down, below, d), down[d] & below[d], west(down, below, d), west(mid, inside, d)};
    std::copy(std::begin(object), std::end(object), std::begin(n.object));
    n.centre = mid[d] & inside[d];
  }
  return n;
}

inline Lanes BandDecision::deletion_codes(const Neighbourhood& n) {
  const Lanes* o = n.object;
  return n.centre & codes::lanes_deletion(o[0], o[1], o[2], o[3], o[4], o[5], o[6], o[7]);
}

// Which pixels of the word go, given which of them are marked: the window
// tests with the marks of the line above, and the west neighbour's fate
// carried along the word (note 9).
inline Lanes BandDecision::going_pixels(int d, const Neighbourhood& n, Lanes marked) const {
  using bitplane::east;
  using bitplane::west;
  MarkRing ring;
  std::copy(std::begin(n.present), std::end(n.present), std::begin(ring.present));
  const Word* going_up = up_->going.data();
  ring.going[0] = west(going_up, d), ring.going[1] = going_up[d], ring.going[2] = east(going_up, d);
  const Lanes west_staying = marked & windows_pass(ring);
  ring.going[7] = ~Lanes{0};
  const Lanes west_going = marked & windows_pass(ring);
  // where the two differ and the west neighbour can go, a pixel goes
  // exactly when the neighbour goes xor it passes with the neighbour
  // staying
  const Lanes can_go = west_staying | west_going;
  const Word carry = out_->going[d - 1] >> 63;  // the west neighbour of bit 0, decided
  Lanes fixed = west_staying;
  if ((can_go & 1u) && carry) fixed = (fixed & ~Word{1}) | (west_going & 1u);
  return bitplane::chain_xor(fixed, (west_staying ^ west_going) & (can_go << 1), west_staying);
}

// Word-wide: all 64 pixels of word d of line i at once; returns the
// marked ones.
inline Word BandDecision::decide_word_wide(int i, int d) {
  const Neighbourhood n = read_neighbourhood(i, d);
  const Lanes marked = deletion_codes(n);
  if (!marked) return 0;
  if (const Lanes going = going_pixels(d, n, marked)) {
    out_->going[d] = going;
    out_->note(d);
  }
  return marked;
}

// Object pixels of lines r - 1 to r + 1 next to the deleted pixels `g`
// (word e, line r) become candidates; those of a neighbour band's line are
// handed over.
inline void BandDecision::wake(int r, int e, const Word* g_row) {
  const Word g = g_row[e - 1] >> 63 | g_row[e] | g_row[e] << 1 | g_row[e] >> 1 | g_row[e + 1] << 63;
  for (int rr = std::max(r - 1, 1); rr <= std::min(r + 1, s_.nb_lig - 2); ++rr) {
    if (!deciding_.may_write(rr)) {
      (rr < lo_ ? woken_above : woken_below)[e] |= g;  // the neighbour's line: handed over
    } else if (Word add = g & s_.present.row(rr)[e] & s_.inside[e]) {
      s_.candidates.row(rr)[e] |= add;
      s_.candidates.mark_word(rr, e);
    }
  }
}

void BandDecision::take_woken(int r, std::vector<Word>& woken) {
  deciding_.check_write(r);
  for (int e = 1; e <= s_.present.words(); ++e)
    if (woken[e]) {
      if (Word add = woken[e] & s_.present.row(r)[e] & s_.inside[e]) {
        s_.candidates.row(r)[e] |= add;
        s_.candidates.mark_word(r, e);
      }
      woken[e] = 0;
    }
}

void BandDecision::put_back(int r, int d, Word going) {
  deciding_.check_write(r);
  s_.present.row(r)[d] |= going;
  s_.candidates.row(r)[d] |= going;
  s_.candidates.mark_word(r, d);
}

long long BandDecision::remove(int r, Marks& marks) {
  if (marks.words.empty()) return 0;
  deciding_.check_write(r);
  long long n = 0;
  Word* p = s_.present.row(r);
  Word* cand = s_.candidates.row(r);
  Word* touched = s_.touched.data() + static_cast<std::size_t>(r) * s_.touched_stride;
  const Word* going = marks.going.data();
  for (int d : marks.words) {
    const Word g = going[d];
    n += bitplane::count(g);
    p[d] &= ~g;
    cand[d] &= ~g;
    if (!cand[d]) s_.candidates.unmark_word(r, d);
    touched[(d - 1) >> 6] |= Word{1} << ((d - 1) & 63);
  }
  // the object neighbours of the deleted pixels become candidates: in the
  // word itself, and in a word beside it that has no deletion of its own
  // when a deleted pixel sits at that edge
  for (int d : marks.words) {
    const Word g = going[d];
    wake(r, d, going);
    if ((g & 1u) && d > 1 && !going[d - 1]) wake(r, d - 1, going);
    if ((g >> 63) && d < s_.present.words() && !going[d + 1]) wake(r, d + 1, going);
  }
  marks.clear();
  return n;
}

}  // namespace band_decision
