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
//     of a pass are one bit row per line, "going" (marked and confirmed),
//     kept for the line above and the current line; only going pixels
//     matter to later pixels, since a pixel whose tests fail is 255 again
//     before anybody else looks at it, and which mark a going pixel got
//     never changes a window test (codes.h).
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
#include <atomic>
#include <climits>
#include <array>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "skeleton/bitplane.h"
#include "skeleton/bits.h"
#include "skeleton/codes.h"
#include "skeleton/contract.h"
#include "skeleton/parallel.h"
#include "skeleton/skeleton.h"
#include "skeleton/thinning_detail.h"

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

// The marks of one line in a pass: going (marked and confirmed), with the
// words that hold some.
struct Marks {
  std::vector<Word> going;
  std::vector<int> words;
  explicit Marks(int stride) : going(static_cast<std::size_t>(stride), 0) {
    words.reserve(static_cast<std::size_t>(stride));
  }
  void note(int d) {
    if (words.empty() || words.back() != d) words.push_back(d);
  }
  void clear() {
    for (int d : words) going[d] = 0;
    words.clear();
  }
  void swap(Marks& o) {
    going.swap(o.going);
    words.swap(o.words);
  }
};

// The deletions a band makes on its guess, so that a wrong guess can undo
// them: the word and its going bits, one pair per entry, up to a capacity
// fixed at the start. The store is a bitplane::Words (huge pages where the
// system grants them): a vector of that size paid a fault per 4 KiB page
// in the first pass, which made the first pass of every band but the first
// twice as long.
class DeletionLog {
 public:
  explicit DeletionLog(std::size_t capacity) : capacity_(capacity), store_(2 * capacity, false) {}
  std::size_t size() const { return n_; }
  void clear() { n_ = 0; }
  void push(int d, Word going) {
    if (n_ == capacity_) throw std::logic_error("thin_planes: deletion log past its capacity");
    Word* entry = store_.data() + 2 * n_++;
    entry[0] = static_cast<Word>(d);
    entry[1] = going;
  }
  int word(std::size_t k) const { return static_cast<int>(store_.data()[2 * k]); }
  Word going(std::size_t k) const { return store_.data()[2 * k + 1]; }

 private:
  std::size_t capacity_, n_ = 0;
  bitplane::Words store_;
};

// What every band shares: the bit planes and the bytes. Each band writes
// only its own lines of them (woken candidates of a neighbour's line go
// through that neighbour, see Band).
struct Shared {
  unsigned char** tab;         // null on the bit road: the bits are the picture
  unsigned char** tab2;
  int nb_lig, nb_col;
  bitplane::Plane& present;    // tab2 not 0, at the start of the pass
  bitplane::Plane candidates;  // pixels that may be marked in this pass
  std::vector<Word> inside;    // the columns inside the frame
  std::vector<Word> nothing;   // a line of zeros
  int touched_stride;
  std::vector<Word> touched;  // one bit per word: some pixel of it was deleted

  Shared(unsigned char** t, unsigned char** t2, bitplane::Plane& bits, int lines, int columns)
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

  // The bits of lines [first, last] from tab2 (on the byte road); every
  // interior object pixel a candidate.
  void load(int first, int last) {
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

  // Writes the deletions of lines [first, last] into the bytes: 0 in tab
  // and tab2 wherever an object pixel is no longer in the bit plane. Only
  // words that saw a deletion are looked at.
  void write_back(int first, int last) {
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

  void clear_gone(unsigned char* t, unsigned char* t2, int d, Word keep) const {
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
};

// Where the bands stand, and when the passes end (see Band).
struct Progress {
  explicit Progress(int bands)
      : first_decided(static_cast<std::size_t>(bands)),
        last_decided(static_cast<std::size_t>(bands)),
        first_deleted(static_cast<std::size_t>(bands)),
        guess_made(static_cast<std::size_t>(bands)) {}
  // the last pass in which a band decided its first line, its last line,
  // deleted its first line, and made its guess of the marks above it
  std::vector<std::atomic<int>> first_decided, last_decided, first_deleted, guess_made;
  std::atomic<int> changes{0};           // bumped at every step above, to wake waiters
  std::atomic<int> last_pass{INT_MAX};   // the first pass deleting nothing, once known
  std::mutex mutex;                      // for the counts of deletions:
  std::vector<long long> deleted;        //   per pass, summed over the bands
  std::vector<int> reported;             //   bands that counted theirs

  void publish(std::atomic<int>& step, int pass) {
    step.store(pass, std::memory_order_release);
    bump();
  }
  void bump() {
    changes.fetch_add(1, std::memory_order_acq_rel);
    changes.notify_all();
  }
  // Waits until step has reached `pass`; false when the passes have ended
  // before `current` (the caller then stops).
  bool wait_for(const std::atomic<int>& step, int pass, int current) {
    for (;;) {
      const int seen = changes.load(std::memory_order_acquire);
      if (step.load(std::memory_order_acquire) >= pass) return true;
      if (last_pass.load(std::memory_order_acquire) < current) return false;
      changes.wait(seen, std::memory_order_acquire);
    }
  }
  // A band's deletions in `pass`; the passes end at the first one that all
  // bands report empty.
  // Ends the passes at once: every band returns at its next wait.
  void stop() {
    last_pass.store(-1, std::memory_order_release);
    bump();
  }
  void report(int pass, long long n, int bands) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (deleted.size() <= static_cast<std::size_t>(pass)) {
        deleted.resize(static_cast<std::size_t>(pass) + 1, 0);
        reported.resize(static_cast<std::size_t>(pass) + 1, 0);
      }
      deleted[pass] += n;
      if (++reported[pass] == bands && deleted[pass] == 0 && pass < last_pass.load()) last_pass.store(pass);
    }
    bump();
  }
};

// A band of lines [lo, hi] thinned by one thread, pass after pass, in step
// with its neighbours (a wavefront). In the order of a single scan, line i
// of pass k is decided after line i - 1 of pass k, and line i is deleted
// after line i + 1 of pass k is decided (note 10). So a band waits:
//  - to decide its first line in pass k, for the marks of the band above's
//    last line in pass k (the window tests read them);
//  - to decide its last line in pass k, until the band below has deleted
//    its first line in pass k - 1 (the codes read that line as pass k
//    finds it);
//  - to delete its last line of pass k (put off to the next pass, just
//    before it decides the line above it), until the band below has
//    decided its first line in pass k.
// Waiting for the first of these would keep a band a whole pass behind the
// one above. Instead a band starts pass k as soon as the band above has
// finished pass k - 1, with a guess of the marks it waits for: it decides
// the few lines above its own again from the start of the pass, supposing
// no marks above them (the marks of a line hardly depend on lines further
// up), and decides its own lines with the guess, making their deletions as
// it goes and logging them; only its first line, which the band above
// still reads, keeps its marks until the guess is settled. When the true
// marks come it compares: the same, and the first line is deleted;
// different (rare), and the logged deletions are undone and the band
// decides its lines again. The band above does not touch the lines the
// guess reads until the guess is made. The log has a budget; past it the
// band waits.
// Candidates woken in a neighbour's line are handed over as rows of
// deleted bits that the neighbour adds before it next decides that line.
// A band may run passes ahead of the others: a pass after one that deleted
// nothing deletes nothing.
class Band {
 public:
  Band(Shared& s, Progress& progress, std::vector<Band>& bands, int index, int lo, int hi, int guess_lines,
       std::size_t log_budget)
      : s_(s),
        progress_(progress),
        bands_(bands),
        index_(index),
        lo_(lo),
        hi_(hi),
        above_(s.present.stride()),
        current_(s.present.stride()),
        last_(s.present.stride()),
        no_marks_(s.present.stride()),
        guessed_(s.present.stride()),
        first_(s.present.stride()),
        woken_above_(static_cast<std::size_t>(s.present.stride()), 0),
        woken_below_(static_cast<std::size_t>(s.present.stride()), 0),
        boundary_(static_cast<std::size_t>(s.present.stride()), 0),
        log_budget_(log_budget),
        // a line logs at most words() entries and the budget is checked
        // before each line, so the log never grows past this; the first
        // band decides on no guess and logs nothing
        log_(index > 0 ? log_budget + static_cast<std::size_t>(s.present.words()) : 0) {
    if (index_ > 0) guess_first_ = std::max(bands_[index_ - 1].lo_ + 1, lo_ - guess_lines);
  }

  // Called once every band exists: the line of this band before which it
  // waits, in every pass, for the guess of the band below.
  void link() {
    if (!is_last()) guard_line_ = std::min(below().guess_first_, hi_ - 1);
  }

  // All passes, until one of them (over all bands) deletes nothing.
  void run() {
    bool last_pending = false;  // the last line's marks of the previous pass
    for (int pass = 1;; ++pass) {
      if (progress_.last_pass.load(std::memory_order_acquire) < pass) return;
      long long deleted = 0;
      int i = lo_;
      if (index_ > 0) {
        if (!progress_.wait_for(progress_.last_decided[index_ - 1], pass - 1, pass)) return;
        guess_marks_above();
        progress_.publish(progress_.guess_made[index_], pass);
        long long made = 0;
        const int end = decide_on_guess(pass, last_pending, made);
        if (end < 0 || !settle_guess(pass, end, made, deleted, i)) return;
      }
      for (; i <= hi_; ++i)
        if (!step(i, pass, last_pending, deleted)) return;
      if (is_last()) {
        deleted += delete_line(hi_, last_);
        progress_.report(pass, deleted, static_cast<int>(bands_.size()));
      } else {
        pending_count_ = deleted;
        last_pending = true;
      }
    }
  }

  int redone() const { return redone_; }

 private:
  Band& above() const { return bands_[index_ - 1]; }
  Band& below() const { return bands_[index_ + 1]; }
  bool is_last() const { return index_ + 1 == static_cast<int>(bands_.size()); }

  // What has to happen before line i is decided in `pass`: the guard for
  // the guess of the band below, and the deletion of the last line's marks
  // of the previous pass. False when the passes have ended.
  bool before_line(int i, int pass, bool& last_pending) {
    if (i == guard_line_ && !progress_.wait_for(progress_.guess_made[index_ + 1], pass, pass)) return false;
    if (i == hi_ - 1 && last_pending) {
      if (!progress_.wait_for(progress_.first_decided[index_ + 1], pass - 1, pass)) return false;
      const long long n = delete_line(hi_, last_);
      progress_.report(pass - 1, pending_count_ + n, static_cast<int>(bands_.size()));
      last_pending = false;
    }
    return true;
  }

  // Line i of `pass` in the order of a single scan, with the waits above.
  bool step(int i, int pass, bool& last_pending, long long& deleted) {
    if (!before_line(i, pass, last_pending)) return false;
    if (i == lo_ && index_ > 0) {
      if (!progress_.wait_for(progress_.last_decided[index_ - 1], pass, pass)) return false;
      take_woken(lo_, above().woken_below_);
    }
    if (i == hi_ && !is_last()) {
      if (!progress_.wait_for(progress_.first_deleted[index_ + 1], pass - 1, pass)) return false;
      take_woken(hi_, below().woken_above_);
    }
    up_ = i == lo_ ? (index_ > 0 ? &above().last_ : &no_marks_) : &above_;
    decide_line(i);
    if (i == lo_) progress_.publish(progress_.first_decided[index_], pass);
    if (i > lo_) {
      deleted += delete_line(i - 1, above_);
      if (i - 1 == lo_) progress_.publish(progress_.first_deleted[index_], pass);
    }
    if (i < hi_) {
      above_.swap(current_);
    } else {
      last_.swap(current_);
      progress_.publish(progress_.last_decided[index_], pass);
    }
    return true;
  }

  // The guess, made once the band above has finished the previous pass:
  // the line above this band as this pass finds it (the band above still
  // has to delete its last line's marks of the previous pass from it), the
  // candidates that deletion wakes in this band's first line (the band
  // above hands the same bits over later), and the marks of that line,
  // decided from guess_first_ on as if no line above had any marks.
  void guess_marks_above() {
    const Word* going = above().last_.going.data();
    const Word* line = s_.present.row(lo_ - 1);
    for (int d = 0; d < s_.present.stride(); ++d) boundary_[d] = line[d] & ~going[d];
    const Word* first = s_.present.row(lo_);
    Word* cand = s_.candidates.row(lo_);
    for (int e = 1; e <= s_.present.words(); ++e) {
      const Word g = going[e - 1] >> 63 | going[e] | going[e] << 1 | going[e] >> 1 | going[e + 1] << 63;
      if (Word add = g & first[e] & s_.inside[e]) {
        cand[e] |= add;
        s_.candidates.mark_word(lo_, e);
      }
    }
    boundary_row_ = boundary_.data();
    guessing_ = true;
    for (int r = guess_first_; r < lo_; ++r) {
      up_ = r == guess_first_ ? &no_marks_ : &above_;
      decide_line(r);
      above_.clear();
      above_.swap(current_);
    }
    guessing_ = false;
    guessed_.swap(above_);
  }

  // Decides lines lo_ .. end - 1 of `pass` on the guess, never the last
  // line. Each line is deleted once the next is decided, as without a
  // guess, and logged; line lo_ keeps its marks in first_ (the band above
  // reads it until it has decided its own last line). Deleting lo_ later
  // changes no decision of this pass: the one later line it touches is
  // lo_ + 1, already decided, whose candidates it wakes for the next pass.
  // `made` counts the deletions. Returns end, or -1 when the passes have
  // ended.
  int decide_on_guess(int pass, bool& last_pending, long long& made) {
    log_.clear();
    log_lines_.clear();
    int i = lo_;
    for (; i < hi_; ++i) {
      if (i > lo_ && log_.size() >= log_budget_) break;
      if (!before_line(i, pass, last_pending)) return -1;
      up_ = i == lo_ ? &guessed_ : &above_;
      decide_line(i);
      if (i == lo_ + 1) {
        first_.swap(above_);
      } else if (i > lo_ + 1) {
        log_lines_.push_back({i - 1, log_.size()});
        for (int d : above_.words) log_.push(d, above_.going[d]);
        made += delete_line(i - 1, above_);
      }
      above_.swap(current_);
    }
    return i;
  }

  // Puts the logged deletions back: their pixels are object and candidates
  // again. Candidates the deletions woke stay; a candidate too many is only
  // decided again.
  void undo_logged() {
    for (std::size_t k = 0; k < log_lines_.size(); ++k) {
      const auto [r, from] = log_lines_[k];
      const std::size_t to = k + 1 < log_lines_.size() ? log_lines_[k + 1].second : log_.size();
      Word* p = s_.present.row(r);
      Word* cand = s_.candidates.row(r);
      for (std::size_t h = from; h < to; ++h) {
        const int d = log_.word(h);
        p[d] |= log_.going(h);
        cand[d] |= log_.going(h);
        s_.candidates.mark_word(r, d);
      }
    }
  }

  // Once the band above has decided its last line: a right guess deletes
  // line lo_, keeps the `made` deletions and decides line `next` = end next;
  // a wrong one undoes them, and the band decides its lines again from lo_.
  // False when the passes have ended.
  bool settle_guess(int pass, int end, long long made, long long& deleted, int& next) {
    if (!progress_.wait_for(progress_.last_decided[index_ - 1], pass, pass)) return false;
    boundary_row_ = nullptr;
    const Marks& truth = above().last_;
    const bool right = truth.going == guessed_.going;
    guessed_.clear();
    // the candidates the band above woke in line lo_ are in already
    std::fill(above().woken_below_.begin(), above().woken_below_.end(), Word{0});
    if (!right) {
      undo_logged();
      above_.clear();
      current_.clear();
      first_.clear();
      ++redone_;
      next = lo_;
      return true;
    }
    progress_.publish(progress_.first_decided[index_], pass);
    deleted += made;
    // with end = lo_ + 1 the marks of lo_ are still in above_, and the next
    // step deletes the line
    if (end > lo_ + 1) {
      deleted += delete_line(lo_, first_);
      progress_.publish(progress_.first_deleted[index_], pass);
    }
    next = end;
    return true;
  }

  // Line r as the decisions read it: the line above this band comes from
  // the guess while the band decides on it.
  const Word* row(int r) const { return r == lo_ - 1 && boundary_row_ ? boundary_row_ : s_.present.row(r); }

  // The code bits of line r: the object inside the frame only.
  const Word* object_mask(int r) const {
    return r >= 1 && r <= s_.nb_lig - 2 ? s_.inside.data() : s_.nothing.data();
  }

  // Decides the candidates of line i. While guessing (lines of the band
  // above) no candidate bit is touched. The band above leaves those lines
  // alone until the guess is made, so their candidates stand as the
  // previous pass left them, but for what the deletion of its last line
  // (still to come) wakes in the two lines next to this band: there every
  // object pixel is decided. A pixel left out of the candidates would not
  // be marked anyway.
  void decide_line(int i) {
    if (guessing_) {
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
      return;
    }
    if (!s_.candidates.line_has_any(i)) return;
    Word* cand = s_.candidates.row(i);
    s_.candidates.for_each_marked_word(i, [&](int d) {
      cand[d] = decide_word(i, d, cand[d]);
      if (!cand[d]) s_.candidates.unmark_word(i, d);
    });
  }

  // The pixels `cand` of word d of line i; returns those that stay
  // candidates (their code is in a list).
  Word decide_word(int i, int d, Word cand) {
    return has_three_bits(cand) ? decide_word_wide(i, d) : decide_word_pixels(i, d, cand);
  }

  // Pixel by pixel: the candidates of word d of line i, in column order.
  Word decide_word_pixels(int i, int d, Word w) {
    // the three words around word d of each row the decisions read
    const Word3 up(row(i - 1), d), mid(row(i), d), down(row(i + 1), d);
    const Word3 going_up(up_->going.data(), d);
    // codes see no frame cell: whole frame lines, and the frame columns
    // next to columns 1 and nb_col - 2
    const unsigned up_mask = i - 1 >= 1 ? 7u : 0u, down_mask = i + 1 <= s_.nb_lig - 2 ? 7u : 0u;
    const Word west_going = current_.going[d - 1] >> 63;
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
      current_.going[d] = going;
      current_.note(d);
    }
    return keep;
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
    const Word* up = row(i - 1);
    const Word* mid = row(i);
    const Word* down = row(i + 1);
    Neighbourhood n{{west(up, d), up[d], east(up, d), east(mid, d), east(down, d), down[d], west(down, d), west(mid, d)},
                    {},
                    mid[d]};
    std::copy(std::begin(n.present), std::end(n.present), std::begin(n.object));
    if (i == 1 || i == s_.nb_lig - 2 || d == 1 || 64 * d > s_.nb_col - 2) {
      const Word* above = object_mask(i - 1);
      const Word* below = object_mask(i + 1);
      const Word* inside = s_.inside.data();
      const Lanes object[8] = {west(up, above, d),  up[d] & above[d],   east(up, above, d),   east(mid, inside, d),
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
    const Word* going_up = up_->going.data();
    ring.going[0] = west(going_up, d), ring.going[1] = going_up[d], ring.going[2] = east(going_up, d);
    const Lanes west_staying = marked & windows_pass(ring);
    ring.going[7] = ~Lanes{0};
    const Lanes west_going = marked & windows_pass(ring);
    // where the two differ and the west neighbour can go, a pixel goes
    // exactly when the neighbour goes xor it passes with the neighbour
    // staying
    const Lanes can_go = west_staying | west_going;
    const Word carry = current_.going[d - 1] >> 63;  // the west neighbour of bit 0, decided
    Lanes fixed = west_staying;
    if ((can_go & 1u) && carry) fixed = (fixed & ~Word{1}) | (west_going & 1u);
    return bitplane::chain_xor(fixed, (west_staying ^ west_going) & (can_go << 1), west_staying);
  }

  // Word-wide: all 64 pixels of word d of line i at once; returns the
  // marked ones.
  Word decide_word_wide(int i, int d) {
    const Neighbourhood n = read_neighbourhood(i, d);
    const Lanes marked = deletion_codes(n);
    if (!marked) return 0;
    if (const Lanes going = going_pixels(d, n, marked)) {
      current_.going[d] = going;
      current_.note(d);
    }
    return marked;
  }

  // Object pixels of lines r - 1 to r + 1 next to the deleted pixels `g`
  // (word e, line r) become candidates; those of a neighbour band's line are
  // handed over.
  void wake(int r, int e, const Word* g_row) {
    const Word g = g_row[e - 1] >> 63 | g_row[e] | g_row[e] << 1 | g_row[e] >> 1 | g_row[e + 1] << 63;
    for (int rr = std::max(r - 1, 1); rr <= std::min(r + 1, s_.nb_lig - 2); ++rr) {
      if (rr < lo_) {
        woken_above_[e] |= g;
      } else if (rr > hi_) {
        woken_below_[e] |= g;
      } else if (Word add = g & s_.present.row(rr)[e] & s_.inside[e]) {
        s_.candidates.row(rr)[e] |= add;
        s_.candidates.mark_word(rr, e);
      }
    }
  }

  // Adds the candidates a neighbour woke in line r of this band.
  void take_woken(int r, std::vector<Word>& woken) {
    for (int e = 1; e <= s_.present.words(); ++e)
      if (woken[e]) {
        if (Word add = woken[e] & s_.present.row(r)[e] & s_.inside[e]) {
          s_.candidates.row(r)[e] |= add;
          s_.candidates.mark_word(r, e);
        }
        woken[e] = 0;
      }
  }

  // Deletes the going pixels of line r (`marks`, decided in this pass) and
  // wakes the candidates around them. Returns how many were deleted. The
  // bytes of tab and tab2 are written once, at the end (write_back).
  long long delete_line(int r, Marks& marks) {
    if (marks.words.empty()) return 0;
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

  Shared& s_;
  Progress& progress_;
  std::vector<Band>& bands_;
  int index_, lo_, hi_;
  Marks above_, current_, last_, no_marks_;  // marks of the line above, this line, the band's last line
  Marks guessed_, first_;                    // the guessed marks of line lo_ - 1; line lo_'s, on the guess
  const Marks* up_ = nullptr;                // the marks the current line's window tests read
  long long pending_count_ = 0;              // deletions of the pass whose last line is pending
  std::vector<Word> woken_above_, woken_below_;  // deleted bits next to the neighbours' lines
  std::vector<Word> boundary_;               // line lo_ - 1 at the start of the pass, for the guess
  const Word* boundary_row_ = nullptr;       // boundary_ while deciding on the guess
  bool guessing_ = false;                    // deciding lines of the band above for the guess
  int guess_first_ = 0;                      // the first of those lines
  int guard_line_ = -1;                      // before this line, wait for the guess of the band below
  std::size_t log_budget_;
  DeletionLog log_;                                      // deletions made on the guess
  std::vector<std::pair<int, std::size_t>> log_lines_;   // line, first entry in log_
  int redone_ = 0;                           // passes decided again after a wrong guess
};

// Band limits: the object pixels shared out so that the bands have about the
// same work, at least two lines each.
std::vector<int> band_starts(const Shared& s, int bands) {
  const int first = 1, last = s.nb_lig - 2;
  std::vector<long long> weight(static_cast<std::size_t>(last + 1), 0);
  long long total = 0;
  for (int i = first; i <= last; ++i) {
    const Word* p = s.present.row(i);
    long long n = 1;  // every line costs something
    for (int d = 1; d <= s.present.words(); ++d) n += bitplane::count(p[d]);
    weight[i] = n;
    total += n;
  }
  // Deciding on a guess costs a band hardly more than deciding on the true
  // marks (the guess reads a few lines' candidates; the deletions are made
  // as usual), so every band counts alike.
  std::vector<int> starts = {first};
  long long sum = 0;
  for (int i = first; i <= last && static_cast<int>(starts.size()) < bands; ++i) {
    sum += weight[i];
    const int next = i + 1;
    if (sum * bands >= total * static_cast<long long>(starts.size()) && next - starts.back() >= 2 &&
        last + 1 - next >= 2)
      starts.push_back(next);
  }
  starts.push_back(last + 1);
  return starts;
}


// The passes over the bits of `shared`, on `threads` threads.
int thin_shared(Shared& shared, int threads, int guess_lines, std::size_t log_budget, int* redone) {
  const int nb_lig = shared.nb_lig, nb_col = shared.nb_col;
  if (redone) *redone = 0;
  threads = threads > 0 ? threads : default_threads();
  // small planes are not worth a thread
  const int workers = parallel::workers_for(threads, nb_lig, nb_col);
  parallel::by_lines(nb_lig, workers, [&](int first, int last) { shared.load(first, last); });
  // bands wait for their neighbours both ways, so they are cut to the
  // threads the system actually starts
  parallel::Team team(std::min(workers, (nb_lig - 2) / 2));
  const std::vector<int> starts = band_starts(shared, team.size());
  const int bands = static_cast<int>(starts.size()) - 1;
  Progress progress(bands);
  // logged deletions: 16 bytes each, about 16 MiB over all bands
  if (log_budget == 0) log_budget = std::max<std::size_t>(1024, (std::size_t{16} << 20) / 16 / bands);
  std::vector<Band> band_list;
  band_list.reserve(static_cast<std::size_t>(bands));
  for (int b = 0; b < bands; ++b)
    band_list.emplace_back(shared, progress, band_list, b, starts[b], starts[b + 1] - 1, guess_lines, log_budget);
  for (Band& band : band_list) band.link();
  team.run([&](int b) {
    if (b >= bands) return;
    try {
      band_list[b].run();
    } catch (...) {
      progress.stop();  // the other bands stop waiting for this one
      throw;
    }
  });
  if (shared.tab)
    parallel::by_lines(nb_lig, workers, [&](int first, int last) { shared.write_back(first, last); });
  if (redone)
    for (const Band& band : band_list) *redone += band.redone();
  return progress.last_pass.load();
}

}  // namespace

int thin_planes(unsigned char** tab, unsigned char** tab2, int nb_lig, int nb_col, int threads) {
  return thinning_detail::thin_planes_guessing(tab, tab2, nb_lig, nb_col, threads, thinning_detail::kGuessLines, 0,
                                               nullptr);
}

int thinning_detail::thin_planes_guessing(unsigned char** tab, unsigned char** tab2, int nb_lig, int nb_col,
                                          int threads, int guess_lines, std::size_t log_budget, int* redone) {
  skeleton_contract::check_planes("thin_planes", tab, tab2, nb_lig, nb_col);
  set_frame(tab, nb_lig, nb_col);
  if (redone) *redone = 0;
  if (nb_lig < 3 || nb_col < 3) return 1;  // no interior: one pass deleting nothing
  bitplane::Plane present(nb_lig, nb_col);
  Shared shared(tab, tab2, present, nb_lig, nb_col);
  return thin_shared(shared, threads, guess_lines, log_budget, redone);
}

int thin_bits(bitplane::Plane& object, int nb_lig, int nb_col, int threads) {
  skeleton_contract::check_sizes("thin_bits", nb_lig, nb_col);
  if (nb_lig < 3 || nb_col < 3) return 1;
  Shared shared(nullptr, nullptr, object, nb_lig, nb_col);
  return thin_shared(shared, threads, thinning_detail::kGuessLines, 0, nullptr);
}

int ring_connectivity(const unsigned char window[4][4]) {
  const unsigned code = (window[1][1] ? ring::NW : 0u) | (window[1][2] ? ring::N : 0u) |
                        (window[1][3] ? ring::NE : 0u) | (window[2][3] ? ring::E : 0u) |
                        (window[3][3] ? ring::SE : 0u) | (window[3][2] ? ring::S : 0u) |
                        (window[3][1] ? ring::SW : 0u) | (window[2][1] ? ring::W : 0u);
  return codes::kRingConnected[code];
}
