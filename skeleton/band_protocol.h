// The protocol between the bands of the thinning: who may touch which line
// of the bit planes, and when.
//
// 10. Deleting a line waits until the next line has been decided, because
//     that line's codes must still see it (note 2, in thinning.cpp); the
//     deletion then clears the bits and wakes the neighbours' candidate
//     bits. The bytes of tab and tab2 are written once, after the last
//     pass.
//
// Threads thin bands of lines, pass after pass, in step with their
// neighbours (a wavefront). In the order of a single scan, line i of pass k
// is decided after line i - 1 of pass k, and line i is deleted after line
// i + 1 of pass k is decided (note 10). So a band [lo, hi] waits:
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
// guess reads until the guess is made (the guard line). The log has a
// budget; past it the band waits.
// Candidates woken in a neighbour's line are handed over as rows of
// deleted bits that the neighbour adds before it next decides that line.
// A band may run passes ahead of the others: a pass after one that deleted
// nothing deletes nothing.
//
// BandLines states these rules for one band; Progress carries the steps the
// bands announce and the waits on them.
#pragma once

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstddef>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace band_protocol {

// Lines [first, last]; empty when last < first.
struct LineRange {
  int first = 0, last = -1;
  bool holds(int line) const { return first <= line && line <= last; }
  bool empty() const { return last < first; }
  bool operator==(const LineRange&) const = default;
};

// What a band is doing with the lines.
enum class Phase {
  guess,   // deciding the band above's last lines again, for a guess of their marks
  decide,  // deciding its own lines (on the guess or the true marks) and deleting them
};

// The lines of the bit planes (the picture and the candidates) a band may
// read and write in a phase. A deletion wakes candidates in the lines next
// to it; those outside `write` are handed over to the neighbour.
struct LineRights {
  LineRange read, write;
  bool may_read(int line) const { return read.holds(line); }
  bool may_write(int line) const { return write.holds(line); }
  // Throws std::logic_error unless lines [first, last] may be read.
  void check_read(int first, int last) const {
    if (!may_read(first) || !may_read(last)) fail("read", first, last);
  }
  void check_write(int line) const {
    if (!may_write(line)) fail("wrote", line, line);
  }

 private:
  [[noreturn]] static void fail(const char* what, int first, int last) {
    throw std::logic_error("thin_planes: a band " + std::string(what) + " line " + std::to_string(first) +
                           (last != first ? " to " + std::to_string(last) : std::string()) + " out of its turn");
  }
};

// The steps a band announces, pass by pass, for its neighbours to wait on.
enum class Step { first_decided, last_decided, first_deleted, guess_made };
enum class Neighbour { above, below };

// A wait of pass k: until the neighbour has made `step` in pass k - behind.
struct Wait {
  Neighbour band;
  Step step;
  int behind;
  bool operator==(const Wait&) const = default;
};

// What comes before a band decides one of its lines, in this order.
struct BeforeDeciding {
  bool guard = false;        // wait for the guess of the band below (kGuard)
  bool delete_last = false;  // delete the last line's marks of the previous pass (after kDeleteLast)
  bool marks_above = false;  // wait for the marks of the line above (kMarksAbove), take its woken candidates
  bool line_below = false;   // wait for the line below as this pass finds it (kLineBelow), take its woken candidates
  bool operator==(const BeforeDeciding&) const = default;
};

// What a band announces once it has decided one of its lines (deciding
// line i deletes line i - 1). On a guess, the first line's steps wait
// until the guess is settled.
struct AfterDeciding {
  bool first_decided = false;  // Step::first_decided
  bool first_deleted = false;  // Step::first_deleted
  bool last_decided = false;   // Step::last_decided
  bool operator==(const AfterDeciding&) const = default;
};

// The lines of one band, and its rights and waits. Bands have two lines or
// more, but for a lone band, which waits for nobody.
class BandLines {
 public:
  // the waits, each for the step it names
  static constexpr Wait kGuess{Neighbour::above, Step::last_decided, 1};       // before the guess of pass k
  static constexpr Wait kSettle{Neighbour::above, Step::last_decided, 0};      // before settling it
  static constexpr Wait kMarksAbove{Neighbour::above, Step::last_decided, 0};  // before the first line
  static constexpr Wait kLineBelow{Neighbour::below, Step::first_deleted, 1};  // before the last line
  static constexpr Wait kGuard{Neighbour::below, Step::guess_made, 0};         // before the guard line
  static constexpr Wait kDeleteLast{Neighbour::below, Step::first_decided, 1};  // before deleting the last line

  // Band `index` of those starting at starts[0], starts[1], ... (the last
  // entry is one past the last band's last line); each guess decides up to
  // guess_lines lines of the band above. Throws std::invalid_argument on
  // bands the protocol does not hold for.
  BandLines(const std::vector<int>& starts, int index, int guess_lines)
      : index_(index), bands_(static_cast<int>(starts.size()) - 1) {
    if (index < 0 || index >= bands_) throw std::invalid_argument("band_protocol: no such band");
    for (int b = 0; b < bands_; ++b)
      if (starts[b + 1] - starts[b] < (bands_ > 1 ? 2 : 1))
        throw std::invalid_argument("band_protocol: a band of fewer than two lines among others");
    lo_ = starts[index];
    hi_ = starts[index + 1] - 1;
    guess_first_ = first_guessed(starts, index, guess_lines);
    if (!is_last()) guard_ = std::min(first_guessed(starts, index + 1, guess_lines), hi_ - 1);
  }

  int index() const { return index_; }
  int lo() const { return lo_; }
  int hi() const { return hi_; }
  bool is_first() const { return index_ == 0; }
  bool is_last() const { return index_ + 1 == bands_; }
  bool guesses() const { return !is_first(); }

  // The lines of the band above the guess decides: [guess_first(), lo - 1],
  // never the band above's first line, whose decision waits for lines
  // further up.
  LineRange guessed() const { return {guess_first_, lo_ - 1}; }

  // The bits a band reads and writes. Deciding line i reads lines i - 1 to
  // i + 1 and writes line i's candidates; deleting it writes line i and
  // wakes candidates in lines i - 1 to i + 1. The guess reads the picture
  // of its lines and of the lines next to them (line lo - 1 from a copy
  // made when the guess starts) and the candidates of lines before
  // lo - 2, and writes the candidates its copy of line lo - 1 wakes in
  // line lo.
  LineRights rights(Phase phase) const {
    if (phase == Phase::guess)
      return guesses() ? LineRights{{guess_first_ - 1, lo_}, {lo_, lo_}} : LineRights{};
    return {{lo_ - 1, hi_ + 1}, {lo_, hi_}};
  }

  // Woken candidates of these lines go to the neighbour, who adds them
  // before it next decides the line.
  bool hands_over(int line) const { return (line == lo_ - 1 && !is_first()) || (line == hi_ + 1 && !is_last()); }

  // Before this line, in every pass, the band waits for the guess of the
  // band below: deciding line i deletes line i - 1, and from the guard line
  // on that would change the lines the guess reads. Never after hi - 1,
  // where the last line of the previous pass is deleted. -1 for the last
  // band.
  int guard_line() const { return guard_; }

  // What comes before deciding own line i.
  BeforeDeciding before_deciding(int i) const {
    BeforeDeciding b;
    b.guard = i == guard_;
    b.delete_last = !is_last() && i == hi_ - 1;
    b.marks_above = !is_first() && i == lo_;
    b.line_below = !is_last() && i == hi_;
    return b;
  }

  // What comes after deciding own line i.
  AfterDeciding after_deciding(int i) const { return {i == lo_, i == lo_ + 1, i == hi_}; }

 private:
  static int first_guessed(const std::vector<int>& starts, int index, int guess_lines) {
    return index == 0 ? starts[0] : std::max(starts[index - 1] + 1, starts[index] - guess_lines);
  }

  int index_, bands_, lo_ = 0, hi_ = -1, guess_first_ = 0, guard_ = -1;
};

// Where the bands stand, and when the passes end: the steps every band
// announces, and the waits on them.
class Progress {
 public:
  explicit Progress(int bands)
      : steps_{std::vector<std::atomic<int>>(static_cast<std::size_t>(bands)),
               std::vector<std::atomic<int>>(static_cast<std::size_t>(bands)),
               std::vector<std::atomic<int>>(static_cast<std::size_t>(bands)),
               std::vector<std::atomic<int>>(static_cast<std::size_t>(bands))},
        bands_(bands) {}

  // Band `band` has made `step` in `pass`.
  void announce(int band, Step step, int pass) {
    at(band, step).store(pass, std::memory_order_release);
    bump();
  }

  // Waits, in `pass` of band `band`, for what `w` names; false when the
  // passes have ended before `pass` (the caller then stops).
  bool wait(int band, Wait w, int pass) {
    const std::atomic<int>& step = at(w.band == Neighbour::above ? band - 1 : band + 1, w.step);
    for (;;) {
      const int seen = changes_.load(std::memory_order_acquire);
      if (step.load(std::memory_order_acquire) >= pass - w.behind) return true;
      if (last_pass_.load(std::memory_order_acquire) < pass) return false;
      changes_.wait(seen, std::memory_order_acquire);
    }
  }

  // The first pass deleting nothing, once known (INT_MAX before).
  int last_pass() const { return last_pass_.load(std::memory_order_acquire); }

  // Ends the passes at once: every band returns at its next wait.
  void stop() {
    last_pass_.store(-1, std::memory_order_release);
    bump();
  }

  // A band's deletions in `pass`; the passes end at the first one that all
  // bands report empty.
  void report(int pass, long long n) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (deleted_.size() <= static_cast<std::size_t>(pass)) {
        deleted_.resize(static_cast<std::size_t>(pass) + 1, 0);
        reported_.resize(static_cast<std::size_t>(pass) + 1, 0);
      }
      deleted_[pass] += n;
      if (++reported_[pass] == bands_ && deleted_[pass] == 0 && pass < last_pass_.load()) last_pass_.store(pass);
    }
    bump();
  }

 private:
  std::atomic<int>& at(int band, Step step) {
    return steps_[static_cast<int>(step)][static_cast<std::size_t>(band)];
  }
  void bump() {
    changes_.fetch_add(1, std::memory_order_acq_rel);
    changes_.notify_all();
  }

  // per step, per band: the last pass in which the band made it
  std::vector<std::atomic<int>> steps_[4];
  int bands_;
  std::atomic<int> changes_{0};          // bumped at every step, to wake waiters
  std::atomic<int> last_pass_{INT_MAX};  // the first pass deleting nothing, once known
  std::mutex mutex_;                     // for the counts of deletions:
  std::vector<long long> deleted_;       //   per pass, summed over the bands
  std::vector<int> reported_;            //   bands that counted theirs
};

}  // namespace band_protocol
