// The sound skeleton: sound_skeleton_planes(), the thinning passes and the
// cleaning of the dialogue, changed where they lose objects, cut strokes or
// leave removable pixels.
//
// How it goes:
//  1. The picture is thinned as if surrounded by background: the frame of
//     both planes is background (the caller pads the picture by one cell).
//  2. Thinning passes decide as the dialogue's do: the code of every pixel
//     from the picture as the pass found it, the code tables, and the four
//     window tests reading the marks already made in the pass (same rules,
//     codes.h). Only the deletion sweep changes: it visits the marked pixels
//     in scan order and deletes one only while, in the picture as the sweep
//     has left it so far, its ring passes the window test (one 8-connected
//     group, some side empty: the pixel is simple, and deleting it keeps
//     every 8-connected object and every 4-connected background as they
//     are), it has two neighbours or more (line ends stay) and those are not
//     just two cells next to each other in the ring (the tip of a stroke two
//     pixels thick: deleting it would let the stroke wear away from its
//     ends, pass after pass). Deleting simple pixels one at a time never
//     changes the topology, whatever the passes decided.
//  3. The cleaning, as the dialogue's cleaning pass does it, for every
//     simple ring of two neighbours or more instead of the 32 listed codes
//     (which are exactly the simple rings of two and three neighbours), in
//     scan order and in place, again and again until nothing goes; tips are
//     kept while anything else can go, then the tips still removable go,
//     and the cleaning starts again. At the end no skeleton pixel but a line
//     end (one neighbour) can be deleted without changing the topology. The
//     corner pass is part of it (codes 10, 40, 160, 130 are simple rings).
//  4. The end-point extension of the dialogue is left out: it grows the
//     skeleton into the frame, which lies outside the picture.
//  5. Spurs of one or two pixels hanging from a junction are pruned, a line
//     end at a time (each deletion simple), and the cleaning runs again. On
//     scikit-image's sample masks this leaves fewer line ends than its
//     skeletonize (bench/sound_peers.py).
// Every step is sequential in scan order, so the bytes are the same for
// every thread count. Threads read and write the planes, and run the
// thinning passes and the cleaning sweeps in bands of lines, each band a
// sweep behind the one above it (skeleton/sweeps.h).
//
// Speed: the picture is a bit plane while the steps run, so that a pass
// over a column of pixels stays in the cache, and candidates are a second
// one, as in the dialogue's kernel: at first every object pixel; a pixel
// whose code is in no list leaves them, and the neighbours of a deleted
// pixel join them, so a pass visits only pixels whose code may be in a
// list. Extra memory: two bit planes (a quarter of a byte per pixel) and a
// byte per line; std::bad_alloc when they cannot be had.
#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

#include "skeleton/bitplane.h"
#include "skeleton/bits.h"
#include "skeleton/codes.h"
#include "skeleton/contract.h"
#include "skeleton/parallel.h"
#include "skeleton/skeleton.h"
#include "skeleton/sweeps.h"

namespace {

using bitplane::Word;
using sweeps::Totals;

// kWindowsPass[index]: 1 when the four window tests of a marked pixel pass.
// The index describes the mark plane around the pixel during the pass:
//   bits 0-2   NW, N, NE present (not 0)
//   bits 3-5   NW, N, NE going (marked in this pass)
//   bit  6     W present
//   bit  7     W going
//   bit  8     E present
//   bits 9-11  SW, S, SE present
// Pixels not yet visited are never going.
constexpr std::array<std::uint8_t, 4096> make_windows_pass() {
  std::array<std::uint8_t, 4096> t{};
  for (unsigned x = 0; x < 4096; ++x) {
    // ring order NW, N, NE, E, SE, S, SW, W
    const unsigned present[8] = {x & 1u,        (x >> 1) & 1u, (x >> 2) & 1u,  (x >> 8) & 1u,
                                 (x >> 11) & 1u, (x >> 10) & 1u, (x >> 9) & 1u, (x >> 6) & 1u};
    const unsigned going[8] = {(x >> 3) & 1u, (x >> 4) & 1u, (x >> 5) & 1u, 0, 0, 0, 0, (x >> 7) & 1u};
    bool all = true;
    for (int w = 0; w < 4; ++w) {
      unsigned code = 0;
      for (int k = 0; k < 8; ++k) {
        const unsigned cell = codes::kWindowRules[w][k] == codes::P ? present[k] : present[k] & ~going[k] & 1u;
        code |= cell << k;
      }
      all = all && codes::kRingConnected[code] != 0;
    }
    t[x] = all ? 1 : 0;
  }
  return t;
}
constexpr std::array<std::uint8_t, 4096> kWindowsPass = make_windows_pass();

// What the sound steps may delete, by the code of the picture as it stands:
// 2 a simple pixel of two neighbours or more, not a tip; 1 a tip (two
// neighbours next to each other in the ring) that is simple; 0 anything
// else (a line end, an isolated pixel, a pixel whose deletion would cut,
// merge or open something).
constexpr std::array<std::uint8_t, 256> make_removable() {
  std::array<std::uint8_t, 256> t{};
  for (unsigned c = 0; c < 256; ++c) {
    if (!codes::kRingConnected[c] || std::popcount(c) < 2) continue;
    bool tip = false;
    for (std::uint8_t g : codes::kDeletionGroups[0]) tip = tip || g == c;
    t[c] = tip ? 1 : 2;
  }
  return t;
}
constexpr std::array<std::uint8_t, 256> kRemovable = make_removable();
static_assert(kRemovable[0] == 0 && kRemovable[ring::E] == 0 && kRemovable[ring::E | ring::SE] == 1 &&
              kRemovable[ring::N | ring::E] == 2 && kRemovable[ring::N | ring::S] == 0 && kRemovable[255] == 0);

// The cleaning codes of the dialogue are the simple rings of two and three
// neighbours: the sound cleaning takes them all.
constexpr bool cleaning_codes_are_removable() {
  for (unsigned c = 0; c < 256; ++c)
    if ((codes::kCleanTable[c] != 0) != (kRemovable[c] != 0 && std::popcount(c) <= 3)) return false;
  return true;
}
static_assert(cleaning_codes_are_removable());

// The codes that start a deletion in a sound pass: the dialogue's, but for
// the tips (two neighbours next to each other in the ring). A pass that
// deletes a tip wears a stroke two pixels thick away from its ends, two
// lines a pass, as it does the dialogue's diagonal strokes.
constexpr std::array<std::uint8_t, 256> make_sound_marks() {
  std::array<std::uint8_t, 256> t = codes::kMarkTable;
  for (std::uint8_t c : codes::kDeletionGroups[0]) t[c] = 0;
  return t;
}
constexpr std::array<std::uint8_t, 256> kSoundMarks = make_sound_marks();

// The longest spur pruned, in pixels.
constexpr int kSpur = 2;


// code_from_rows[above | middle << 3 | below << 6]: the code of a pixel from
// three rows of three bits (bit 0 of a triple is column j - 1; the centre of
// `middle` is not part of the code).
constexpr std::array<std::uint8_t, 512> make_code_by_rows() {
  std::array<std::uint8_t, 512> t{};
  for (unsigned x = 0; x < 512; ++x) {
    const unsigned above = x & 7u, middle = (x >> 3) & 7u, below = x >> 6;
    t[x] = static_cast<std::uint8_t>(((above & 1u) ? ring::NW : 0u) | ((above & 2u) ? ring::N : 0u) |
                                     ((above & 4u) ? ring::NE : 0u) | ((middle & 4u) ? ring::E : 0u) |
                                     ((below & 4u) ? ring::SE : 0u) | ((below & 2u) ? ring::S : 0u) |
                                     ((below & 1u) ? ring::SW : 0u) | ((middle & 1u) ? ring::W : 0u));
  }
  return t;
}
constexpr std::array<std::uint8_t, 512> kCodeByRows = make_code_by_rows();

constexpr std::array<std::uint8_t, 256> make_neighbours() {
  std::array<std::uint8_t, 256> t{};
  for (unsigned c = 0; c < 256; ++c) t[c] = static_cast<std::uint8_t>(std::popcount(c));
  return t;
}
constexpr std::array<std::uint8_t, 256> kNeighbours = make_neighbours();

// The marks of one thinning pass: the going bits of the line above and of
// the line being decided, with the words of each that hold some. Sized once,
// so a pass allocates nothing.
struct alignas(64) Going {
  std::vector<Word> up, line;
  std::vector<int> up_words, line_words;
  explicit Going(int stride)
      : up(static_cast<std::size_t>(stride), 0), line(static_cast<std::size_t>(stride), 0) {
    up_words.reserve(static_cast<std::size_t>(stride));
    line_words.reserve(static_cast<std::size_t>(stride));
  }
  // The line decided becomes the line above; the new line has no marks.
  void next_line() {
    for (int d : up_words) up[static_cast<std::size_t>(d)] = 0;
    up_words.clear();
    up.swap(line);
    up_words.swap(line_words);
  }
  // The marks of the line above from `marks` (as many words as `up`), the
  // line being decided none.
  void take(const Word* marks) {
    clear();
    for (std::size_t d = 0; d < up.size(); ++d)
      if ((up[d] = marks[d]) != 0) up_words.push_back(static_cast<int>(d));
  }
  void clear() {
    next_line();
    next_line();
  }
};

// The picture lives in a bit plane while the steps run (one bit per pixel,
// set on the object inside the frame), the candidates in a second one; the
// marks of a pass are one bit row for the line being decided and one for
// the line above. tab and tab2 are read once and written once.
class Sound {
 public:
  // `obj` holds the picture as bits: filled from tab by load() when tab is
  // given (the byte road), the caller's own bits otherwise (the bit road).
  Sound(unsigned char** tab, unsigned char** tab2, bitplane::Plane& obj, int nb_lig, int nb_col)
      : tab_(tab), tab2_(tab2), nb_lig_(nb_lig), nb_col_(nb_col), obj_(obj), cand_(nb_lig, nb_col),
        tip_bits_(nb_lig, nb_col), inside_(bitplane::interior_columns(nb_col)),
        tips_(static_cast<std::size_t>(nb_lig), 0) {}

  // Lines [first, last]: the object bits (tab 1, or the caller's bits,
  // inside the frame; the frame is background), every object pixel a
  // candidate.
  void load(int first, int last) {
    for (int i = first; i <= last; ++i) {
      Word* o = obj_.row(i);
      if (i < 1 || i > nb_lig_ - 2) {
        for (int d = 1; d <= obj_.words(); ++d) o[d] = 0;
        continue;
      }
      if (tab_) bitplane::pack_ones(tab_[i], nb_col_, o);
      for (int d = 1; d <= obj_.words(); ++d) o[d] &= inside_[d];
      add_all(i);
    }
  }

  // Lines [first, last] of the result: tab 1 on the skeleton, 255
  // elsewhere; tab2 255 on the skeleton, 0 elsewhere.
  void store(int first, int last) {
    for (int i = first; i <= last; ++i) {
      unsigned char* t = tab_[i];
      unsigned char* t2 = tab2_[i];
      const Word* o = obj_.row(i);
      for (int d = 1; d <= obj_.words(); ++d) {
        const int j0 = 64 * (d - 1), n = std::min(64, nb_col_ - j0);
        const Word w = o[d];
        if (!w) {
          std::memset(t + j0, 255, static_cast<std::size_t>(n));
          std::memset(t2 + j0, 0, static_cast<std::size_t>(n));
          continue;
        }
        for (int b = 0; b < n; ++b) {
          const bool on = (w >> b) & 1u;
          t[j0 + b] = on ? 1 : 255;
          t2[j0 + b] = on ? 255 : 0;
        }
      }
    }
  }

  // The whole skeleton once loaded: thinning, cleaning, spurs, cleaning
  // again; returns the thinning passes.
  int run(int workers) {
    const int passes = thin(workers);
    finish(workers);
    return passes;
  }

  // The cleaning, the spurs, the cleaning again.
  void finish(int workers) {
    clean(true, workers);
    prune();
    clean(false, workers);
  }

  // Thinning passes until one deletes nothing; returns how many ran. The
  // passes run as banded sweeps (skeleton/sweeps.h): a band's step i
  // decides line i and sweeps line i - 1, and the band hands the marks of
  // its last line to the band below it. A pass that deletes nothing ends
  // them: the one begun after it deletes nothing either (it sees the same
  // picture and decides the same marks).
  int thin(int workers) {
    const int steps = nb_lig_ - 1;
    const int n = sweeps::bands_for(workers, steps);
    const std::size_t stride = static_cast<std::size_t>(obj_.stride());
    std::vector<Going> goings(static_cast<std::size_t>(n), Going(obj_.stride()));
    // hand(p, k): the marks of pass p on the line above band k, left there
    // by band k - 1. Band k - 1 cannot end pass p + 1 before band k has
    // begun pass p and taken them, so two passes' worth are enough.
    std::vector<Word> handed(2 * static_cast<std::size_t>(n) * stride);
    const auto hand = [&](int p, int k) {
      return handed.data() + (static_cast<std::size_t>(p % 2) * static_cast<std::size_t>(n) + static_cast<std::size_t>(k)) * stride;
    };
    const std::vector<Totals> totals = sweeps::run(
        n, steps, [this](int i) { return line_weight(i); },
        [](int, int p, const Totals* before) { return p <= 2 || before->deleted != 0; },
        [&](int k, int p, int, int to, const auto& walk) {
          // step i decides line i and sweeps line i - 1
          Going& going = goings[static_cast<std::size_t>(k)];
          if (k > 0) going.take(hand(p, k));
          long long deleted = 0;
          walk([&](int i) {
            if (i <= nb_lig_ - 2) decide_line(i, going);
            // line i - 1 goes once line i has read it as the pass found it
            if (i >= 2) deleted += sweep_line(i - 1, going);
            going.next_line();
          });
          if (to < steps) std::copy(going.up.begin(), going.up.end(), hand(p, k + 1));
          going.clear();
          return Totals{deleted, 0};
        });
    // the passes stopped two after the first that deleted nothing
    const int ran = static_cast<int>(totals.size());
    if (ran < 2 || totals[static_cast<std::size_t>(ran - 2)].deleted != 0 || totals.back().deleted != 0)
      throw std::logic_error("sound thinning: a pass after the last one deleted pixels");
    return ran - 1;
  }

  // The work of a sweep's step i: the object pixels of line i, and one.
  long long line_weight(int i) const {
    long long w = 1;
    if (i <= nb_lig_ - 2)
      for (int d = 1; d <= obj_.words(); ++d) w += std::popcount(obj_.row(i)[d]);
    return w;
  }

  // The cleaning until no pixel but line ends can go; with `all`, every
  // pixel is looked at, else the candidates only.
  void clean(bool all, int workers) {
    if (all)
      parallel::by_lines(nb_lig_, workers, [&](int first, int last) {
        for (int i = std::max(first, 1); i <= std::min(last, nb_lig_ - 2); ++i) add_all(i);
      });
    // Sweeps of two kinds: a cleaning sweep (Clean) over the candidates,
    // again until one finds none; then the tips (Tips); again while the
    // tips sweep deletes something. The bands know how a sweep came out
    // two sweeps later, so one more sweep runs at each turn: a cleaning
    // sweep after one that found no candidate, or after a tips sweep that
    // deleted nothing, finds none either and changes nothing.
    enum Kind : unsigned char { Clean, Tips };
    const int steps = nb_lig_ - 2;
    const int n = sweeps::bands_for(workers, steps);
    std::vector<std::vector<Kind>> kinds(static_cast<std::size_t>(n));  // each band's own account
    const auto go_on = [&](int k, int s, const Totals* before) {
      std::vector<Kind>& kind = kinds[static_cast<std::size_t>(k)];
      Kind next = Clean;
      if (s > 2 && kind[static_cast<std::size_t>(s - 2)] == Clean) {
        if (kind[static_cast<std::size_t>(s - 3)] == Clean && before->visited == 0) next = Tips;
        if (kind[static_cast<std::size_t>(s - 3)] == Tips && before->deleted == 0) return false;
      }
      kind.push_back(next);
      return true;
    };
    const std::vector<Totals> totals = sweeps::run(
        n, steps, [this](int i) { return line_weight(i); }, go_on, [&](int k, int s, int, int, const auto& walk) {
          const Kind kind = kinds[static_cast<std::size_t>(k)][static_cast<std::size_t>(s - 1)];
          Totals t;
          walk([&](int i) {
            if (kind == Clean) t.visited += clean_line(i) ? 1 : 0;
            else t.deleted += tip_line(i);
          });
          return t;
        });
    // every sweep taken as changing nothing found no candidate
    const std::vector<Kind>& kind = kinds[0];
    for (std::size_t s = 2; s < totals.size(); ++s)
      if (kind[s] == Tips && totals[s - 1].visited != 0)
        throw std::logic_error("sound cleaning: a sweep taken as empty was not");
    if (totals.empty() || totals.back().visited != 0) throw std::logic_error("sound cleaning: the last sweep was not empty");
  }

  // Spurs: branches of at most kSpur pixels from a line end to a pixel of
  // three neighbours or more (a junction) are deleted, end first, each
  // pixel a line end when it goes. Lines that end without a junction keep
  // their length.
  void prune() {
    std::vector<std::pair<int, int>> path;
    for (int i = 1; i <= nb_lig_ - 2; ++i) {
      const Word *up = obj_.row(i - 1), *mid = obj_.row(i), *down = obj_.row(i + 1);
      for (int d = 1; d <= obj_.words(); ++d) {
        if (!mid[d]) continue;
        // the line ends of the word, read again after each pruning
        for (Word w = line_ends(up, mid, down, d); w;) {
          const int b = std::countr_zero(w);
          const int j = 64 * (d - 1) + b;
          const Word later = ~Word{0} << b << 1;
          w &= later;
          path.assign(1, {i, j});
          // the walk goes to the one neighbour of the line end, then on
          // through pixels of two neighbours, never back the way it came
          int k = std::countr_zero(code(i, j));
          int ci = i + ring::di[k], cj = j + ring::dj[k];
          for (;;) {
            const unsigned c = code(ci, cj);
            const int n = kNeighbours[c];
            if (n >= 3) {
              for (auto [a, b] : path)
                if (kNeighbours[code(a, b)] == 1) erase(a, b);
              w = line_ends(up, mid, down, d) & later;
              break;
            }
            if (n != 2 || static_cast<int>(path.size()) == kSpur) break;
            path.push_back({ci, cj});
            k = std::countr_zero(c & ~(1u << ((k + 4) & 7)));
            ci += ring::di[k];
            cj += ring::dj[k];
          }
        }
      }
    }
  }

 private:
  bool on(int i, int j) const { return bitplane::bit(obj_.row(i), j) != 0; }
  unsigned rows(int i, int j) const {
    return bitplane::triple(obj_.row(i - 1), j) | bitplane::triple(obj_.row(i), j) << 3 |
           bitplane::triple(obj_.row(i + 1), j) << 6;
  }
  unsigned code(int i, int j) const { return kCodeByRows[rows(i, j)]; }

  void add_all(int i) {
    const Word* o = obj_.row(i);
    Word* c = cand_.row(i);
    for (int d = 1; d <= cand_.words(); ++d) {
      c[d] = o[d];
      if (o[d]) cand_.mark_word(i, d);
      else cand_.unmark_word(i, d);
    }
  }

  // The ring of the pixels of word d of a line (rows above, of and below
  // it), 64 pixels at once, with the pixels that have a neighbour and those
  // that have two or more.
  // `tip`: exactly two neighbours, next to each other in the ring.
  struct Ring {
    Word cell[8];
    Word one = 0, two = 0, three = 0, tip = 0;
    Ring(const Word* up, const Word* mid, const Word* down, int d)
        : cell{bitplane::west(up, d),   up[d],   bitplane::east(up, d),   bitplane::east(mid, d),
               bitplane::east(down, d), down[d], bitplane::west(down, d), bitplane::west(mid, d)} {
      Word pairs = 0;
      for (int k = 0; k < 8; ++k) {
        const Word x = cell[k];
        three |= two & x;
        two |= one & x;
        one |= x;
        pairs |= x & cell[(k + 1) & 7];
      }
      tip = two & ~three & pairs;
    }
  };

  // The four window tests of the marked pixels of word d, 64 at once, each
  // ring cell read by its rule (codes.h): present cells from the picture as
  // the pass found it, going ones from the marks of the line above and of
  // the west neighbour.
  static Word windows_lanes(const Word present[8], const Word going[8]) {
    Word all = ~Word{0};
    for (int t = 0; t < 4; ++t) {
      Word c[8];
      for (int k = 0; k < 8; ++k) c[k] = codes::read_cell(codes::kWindowRules[t][k], present[k], going[k]);
      all &= codes::lanes_connected(c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7]);
    }
    return all;
  }

  // Which marked pixels of word d go. Only the west test sees whether the
  // west neighbour goes: both outcomes are taken, and where they differ a
  // pixel goes exactly when its west neighbour goes xor it passes with the
  // neighbour staying (a chain along the word, bitplane::chain_xor), as the
  // dialogue's kernel does.
  static Word going_lanes(int d, const Ring& ring, Word marked, const Going& g) {
    using bitplane::east;
    using bitplane::west;
    const std::size_t at = static_cast<std::size_t>(d);
    Word going[8] = {west(g.up.data(), d), g.up[at], east(g.up.data(), d), 0, 0, 0, 0, 0};
    const Word west_staying = marked & windows_lanes(ring.cell, going);
    going[7] = ~Word{0};
    const Word west_going = marked & windows_lanes(ring.cell, going);
    const Word can_go = west_staying | west_going;
    const Word carry = g.line[at - 1] >> 63;  // the west neighbour of bit 0, decided
    Word fixed = west_staying;
    if ((can_go & 1u) && carry) fixed = (fixed & ~Word{1}) | (west_going & 1u);
    return bitplane::chain_xor(fixed, (west_staying ^ west_going) & (can_go << 1), west_staying);
  }

  static bool has_three_bits(Word w) {
    w &= w - 1;
    w &= w - 1;
    return w != 0;
  }

  // The pixels of word d that are simple and have two neighbours or more.
  static Word removable_lanes(const Word* up, const Word* mid, const Word* down, int d) {
    const Ring r(up, mid, down, d);
    const Word* c = r.cell;
    return mid[d] & r.two & codes::lanes_connected(c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7]);
  }

  // The pixels of word d that have exactly one neighbour.
  static Word line_ends(const Word* up, const Word* mid, const Word* down, int d) {
    const Ring r(up, mid, down, d);
    return mid[d] & r.one & ~r.two;
  }

  // Deletes (i, j); its object neighbours become candidates.
  void erase(int i, int j) {
    const int d = 1 + (j >> 6);
    const Word bit = Word{1} << (j & 63);
    obj_.row(i)[d] &= ~bit;
    cand_.row(i)[d] &= ~bit;
    const int b = j & 63;
    for (int r = i - 1; r <= i + 1; ++r) {
      const Word* o = obj_.row(r);
      Word* c = cand_.row(r);
      if (b >= 1 && b <= 62) {  // the three columns in one word
        if (const Word add = o[d] & (Word{7} << (b - 1))) {
          c[d] |= add;
          cand_.mark_word(r, d);
        }
        continue;
      }
      for (int col = j - 1; col <= j + 1; ++col) {
        const int e = 1 + (col >> 6);
        const Word b = Word{1} << (col & 63);
        if (o[e] & b) {
          c[e] |= b;
          cand_.mark_word(r, e);
        }
      }
    }
  }

  // The dialogue's decisions on the candidates of line i, from the picture
  // as the pass found it: a code in the sound lists marks the pixel, the
  // window tests confirm it (a going bit). A code in no list leaves the
  // candidates.
  void decide_line(int i, Going& g) {
    if (!cand_.line_has_any(i)) return;
    Word* c = cand_.row(i);
    const Word *up = obj_.row(i - 1), *mid = obj_.row(i), *down = obj_.row(i + 1);
    cand_.for_each_marked_word(i, [&](int d) {
      using bitplane::east;
      using bitplane::west;
      // the codes of the dialogue's lists, 64 pixels at once
      const Ring ring(up, mid, down, d);
      const Word* rc = ring.cell;
      Word keep = c[d] & codes::lanes_deletion(rc[0], rc[1], rc[2], rc[3], rc[4], rc[5], rc[6], rc[7]);
      if (has_three_bits(keep)) {
        // many: the window tests word-wide too
        const Word marked = keep & ~ring.tip;
        if (const Word going = going_lanes(d, ring, marked, g)) {
          if (!g.line[static_cast<std::size_t>(d)]) g.line_words.push_back(d);
          g.line[static_cast<std::size_t>(d)] |= going;
        }
        c[d] = marked;
        if (!marked) cand_.unmark_word(i, d);
        return;
      }
      for (Word w = keep; w; w &= w - 1) {
        const int b = std::countr_zero(w);
        const int j = 64 * (d - 1) + b;
        const unsigned r = rows(i, j);
        if (!kSoundMarks[kCodeByRows[r]]) {
          keep &= ~(Word{1} << b);
          continue;
        }
        const unsigned up = r & 7u, mid = (r >> 3) & 7u, down = r >> 6;
        const unsigned index = up | bitplane::triple(g.up.data(), j) << 3 | (mid & 1u) << 6 |
                               bitplane::bit(g.line.data(), j - 1) << 7 | ((mid >> 2) & 1u) << 8 | down << 9;
        if (kWindowsPass[index]) {
          if (!g.line[static_cast<std::size_t>(d)]) g.line_words.push_back(d);
          g.line[static_cast<std::size_t>(d)] |= Word{1} << b;
        }
      }
      c[d] = keep;
      if (!keep) cand_.unmark_word(i, d);
    });
  }

  // The going pixels of line i (marked in the pass, in g.up), in column
  // order: each is deleted only while it is simple in the picture as it
  // stands.
  long long sweep_line(int i, const Going& g) {
    long long n = 0;
    for (int d : g.up_words)
      for (Word w = g.up[static_cast<std::size_t>(d)]; w; w &= w - 1) {
        const int j = 64 * (d - 1) + std::countr_zero(w);
        if (codes::kRingConnected[code(i, j)]) {
          erase(i, j);
          ++n;
        }
      }
    return n;
  }

  // Line i of a cleaning sweep over the candidates, in scan order (a
  // candidate woken ahead of the sweep is visited in it); tips are noted
  // for later. False when the line holds no candidate.
  bool clean_line(int i) {
    if (!cand_.line_has_any(i)) return false;
    Word* c = cand_.row(i);
    const Word *up = obj_.row(i - 1), *mid = obj_.row(i), *down = obj_.row(i + 1);
    for (int d = 1; d <= cand_.words(); ++d) {
      if (!c[d]) {
        cand_.unmark_word(i, d);
        continue;
      }
      // simple pixels of two neighbours or more, 64 at once: the others
      // leave the candidates (a deletion in the word wakes its neighbours
      // again)
      c[d] &= removable_lanes(up, mid, down, d);
      while (Word w = c[d]) {
        const int b = std::countr_zero(w);
        c[d] &= ~(Word{1} << b);
        const int j = 64 * (d - 1) + b;
        const std::uint8_t r = kRemovable[code(i, j)];
        if (r == 2) {
          erase(i, j);
        } else if (r == 1) {
          tip_bits_.row(i)[d] |= Word{1} << b;
          tips_[static_cast<std::size_t>(i)] = 1;
        }
      }
      cand_.unmark_word(i, d);
    }
    return true;
  }

  // The tips of line i noted by the cleaning that are still removable go,
  // in column order; returns how many went.
  long long tip_line(int i) {
    if (!tips_[static_cast<std::size_t>(i)]) return 0;
    tips_[static_cast<std::size_t>(i)] = 0;
    long long n = 0;
    Word* t = tip_bits_.row(i);
    for (int d = 1; d <= tip_bits_.words(); ++d)
      for (Word w = std::exchange(t[d], Word{0}); w; w &= w - 1) {
        const int j = 64 * (d - 1) + std::countr_zero(w);
        if (on(i, j) && kRemovable[code(i, j)] != 0) {
          erase(i, j);
          ++n;
        }
      }
    return n;
  }

  unsigned char** tab_;   // null on the bit road
  unsigned char** tab2_;
  int nb_lig_, nb_col_;
  bitplane::Plane& obj_;
  bitplane::Plane cand_;
  bitplane::Plane tip_bits_;  // tips noted by the cleaning
  std::vector<Word> inside_;
  std::vector<unsigned char> tips_;     // lines holding a noted tip
};

}  // namespace

int sound_skeleton_planes(unsigned char** tab, unsigned char** tab2, int nb_lig, int nb_col, int threads) {
  skeleton_contract::check_planes("sound_skeleton_planes", tab, tab2, nb_lig, nb_col);
  if (nb_lig < 3 || nb_col < 3) {  // nothing inside the frame
    for (int i = 0; i < nb_lig; ++i) {
      std::memset(tab[i], 255, static_cast<std::size_t>(nb_col));
      std::memset(tab2[i], 0, static_cast<std::size_t>(nb_col));
    }
    return 1;
  }
  const int workers = parallel::workers_for(threads, nb_lig, nb_col);
  bitplane::Plane obj(nb_lig, nb_col);
  Sound sound(tab, tab2, obj, nb_lig, nb_col);
  parallel::by_lines(nb_lig, workers, [&](int first, int last) { sound.load(first, last); });
  const int passes = sound.run(workers);
  parallel::by_lines(nb_lig, workers, [&](int first, int last) { sound.store(first, last); });
  return passes;
}

namespace {

// A Sound over the caller's bits, loaded, or null when nothing lies inside
// the frame (the bits are then cleared).
std::unique_ptr<Sound> sound_over(bitplane::Plane& object, int nb_lig, int nb_col, int threads, const char* name) {
  skeleton_contract::check_sizes(name, nb_lig, nb_col);
  if (nb_lig < 3 || nb_col < 3) {
    for (int i = 0; i < nb_lig; ++i)
      for (int d = 1; d <= object.words(); ++d) object.row(i)[d] = 0;
    return nullptr;
  }
  auto sound = std::make_unique<Sound>(nullptr, nullptr, object, nb_lig, nb_col);
  parallel::by_lines(nb_lig, parallel::workers_for(threads, nb_lig, nb_col),
                     [&](int first, int last) { sound->load(first, last); });
  return sound;
}

}  // namespace

int sound_thin_bits(bitplane::Plane& object, int nb_lig, int nb_col, int threads) {
  const auto sound = sound_over(object, nb_lig, nb_col, threads, "sound_thin_bits");
  return sound ? sound->thin(parallel::workers_for(threads, nb_lig, nb_col)) : 1;
}

void sound_finish_bits(bitplane::Plane& object, int nb_lig, int nb_col, int threads) {
  if (const auto sound = sound_over(object, nb_lig, nb_col, threads, "sound_finish_bits")) sound->finish(parallel::workers_for(threads, nb_lig, nb_col));
}

int sound_skeleton_bits(bitplane::Plane& object, int nb_lig, int nb_col, int threads) {
  const int passes = sound_thin_bits(object, nb_lig, nb_col, threads);
  sound_finish_bits(object, nb_lig, nb_col, threads);
  return passes;
}
