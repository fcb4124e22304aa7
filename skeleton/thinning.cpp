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
// How the kernel is fast and still gives the same bytes (notes 6-9) is
// told with the decisions of one band, in band_decision.h; the rules
// between the bands, who may touch which line and when (note 10), with
// their protocol in band_protocol.h.
// Extra memory: two bit planes (a quarter of a byte per pixel) while the
// kernel runs; it throws std::bad_alloc when they cannot be had.
#include <algorithm>
#include <cstddef>
#include <stdexcept>
#include <utility>
#include <vector>

#include "skeleton/band_decision.h"
#include "skeleton/band_protocol.h"
#include "skeleton/bitplane.h"
#include "skeleton/codes.h"
#include "skeleton/contract.h"
#include "skeleton/parallel.h"
#include "skeleton/skeleton.h"
#include "skeleton/thinning_detail.h"

namespace {

using band_decision::BandDecision;
using band_decision::Marks;
using band_decision::Shared;
using band_protocol::AfterDeciding;
using band_protocol::BandLines;
using band_protocol::BeforeDeciding;
using band_protocol::LineRange;
using band_protocol::Progress;
using band_protocol::Step;
using band_protocol::Wait;
using bitplane::Word;

void set_frame(unsigned char** tab, int nb_lig, int nb_col) {
  for (int j = 0; j < nb_col; ++j) tab[0][j] = 255;
  for (int j = 0; j < nb_col; ++j) tab[nb_lig - 1][j] = 255;
  for (int i = 0; i < nb_lig; ++i) tab[i][0] = 255;
  for (int i = 0; i < nb_lig; ++i) tab[i][nb_col - 1] = 255;
}

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

// A band of lines thinned by one thread, pass after pass, in step with its
// neighbours as band_protocol.h describes: its decisions (BandDecision),
// the order of its lines in a pass, its guess of the marks above it and
// the settling of that guess.
class Band {
 public:
  Band(Shared& s, Progress& progress, std::vector<Band>& bands, const BandLines& lines, std::size_t log_budget)
      : progress_(progress),
        bands_(bands),
        lines_(lines),
        index_(lines.index()),
        lo_(lines.lo()),
        hi_(lines.hi()),
        decision_(s, lines),
        above_(s.present.stride()),
        current_(s.present.stride()),
        last_(s.present.stride()),
        no_marks_(s.present.stride()),
        guessed_(s.present.stride()),
        first_(s.present.stride()),
        log_budget_(log_budget),
        // a line logs at most words() entries and the budget is checked
        // before each line, so the log never grows past this; the first
        // band decides on no guess and logs nothing
        log_(lines.guesses() ? log_budget + static_cast<std::size_t>(s.present.words()) : 0) {}

  // All passes, until one of them (over all bands) deletes nothing.
  void run() {
    bool last_pending = false;  // the last line's marks of the previous pass
    for (int pass = 1;; ++pass) {
      if (progress_.last_pass() < pass) return;
      long long deleted = 0;
      int i = lo_;
      if (lines_.guesses()) {
        if (!wait(BandLines::kGuess, pass)) return;
        guess_marks_above();
        progress_.announce(index_, Step::guess_made, pass);
        long long made = 0;
        const int end = decide_on_guess(pass, last_pending, made);
        if (end < 0 || !settle_guess(pass, end, made, deleted, i)) return;
      }
      for (; i <= hi_; ++i)
        if (!step(i, pass, last_pending, deleted)) return;
      if (lines_.is_last()) {
        deleted += decision_.remove(hi_, last_);
        progress_.report(pass, deleted);
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
  bool wait(const Wait& w, int pass) { return progress_.wait(index_, w, pass); }

  // What has to happen before line i is decided in `pass`, but for the
  // neighbours' lines: the guard for the guess of the band below, and the
  // deletion of the last line's marks of the previous pass. False when the
  // passes have ended.
  bool before_line(const BeforeDeciding& due, int pass, bool& last_pending) {
    if (due.guard && !wait(BandLines::kGuard, pass)) return false;
    if (due.delete_last && last_pending) {
      if (!wait(BandLines::kDeleteLast, pass)) return false;
      const long long n = decision_.remove(hi_, last_);
      progress_.report(pass - 1, pending_count_ + n);
      last_pending = false;
    }
    return true;
  }

  // Line i of `pass` in the order of a single scan, with the waits above.
  bool step(int i, int pass, bool& last_pending, long long& deleted) {
    const BeforeDeciding due = lines_.before_deciding(i);
    if (!before_line(due, pass, last_pending)) return false;
    if (due.marks_above) {
      if (!wait(BandLines::kMarksAbove, pass)) return false;
      decision_.take_woken(lo_, above().decision_.woken_below);
    }
    if (due.line_below) {
      if (!wait(BandLines::kLineBelow, pass)) return false;
      decision_.take_woken(hi_, below().decision_.woken_above);
    }
    decision_.decide(i, i == lo_ ? (lines_.is_first() ? no_marks_ : above().last_) : above_, current_);
    const AfterDeciding then = lines_.after_deciding(i);
    if (then.first_decided) progress_.announce(index_, Step::first_decided, pass);
    if (i > lo_) {
      deleted += decision_.remove(i - 1, above_);
      if (then.first_deleted) progress_.announce(index_, Step::first_deleted, pass);
    }
    if (then.last_decided) {
      last_.swap(current_);
      progress_.announce(index_, Step::last_decided, pass);
    } else {
      above_.swap(current_);
    }
    return true;
  }

  // The guess, made once the band above has finished the previous pass:
  // the line above this band as this pass finds it (the band above still
  // has to delete its last line's marks of the previous pass from it), and
  // the marks of that line, decided from the first guessed line on as if
  // no line above had any marks.
  void guess_marks_above() {
    decision_.copy_line_above(above().last_);
    const LineRange lines = lines_.guessed();
    for (int r = lines.first; r <= lines.last; ++r) {
      decision_.guess(r, r == lines.first ? no_marks_ : above_, current_);
      above_.clear();
      above_.swap(current_);
    }
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
      if (!before_line(lines_.before_deciding(i), pass, last_pending)) return -1;
      decision_.decide(i, i == lo_ ? guessed_ : above_, current_);
      if (i == lo_ + 1) {
        first_.swap(above_);
      } else if (i > lo_ + 1) {
        log_lines_.push_back({i - 1, log_.size()});
        for (int d : above_.words) log_.push(d, above_.going[d]);
        made += decision_.remove(i - 1, above_);
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
      for (std::size_t h = from; h < to; ++h) decision_.put_back(r, log_.word(h), log_.going(h));
    }
  }

  // Once the band above has decided its last line: a right guess deletes
  // line lo_, keeps the `made` deletions and decides line `next` = end next;
  // a wrong one undoes them, and the band decides its lines again from lo_.
  // False when the passes have ended.
  bool settle_guess(int pass, int end, long long made, long long& deleted, int& next) {
    if (!wait(BandLines::kSettle, pass)) return false;
    decision_.drop_copy();
    const Marks& truth = above().last_;
    const bool right = truth.going == guessed_.going;
    guessed_.clear();
    // the candidates the band above woke in line lo_ are in already
    std::vector<Word>& woken = above().decision_.woken_below;
    std::fill(woken.begin(), woken.end(), Word{0});
    if (!right) {
      undo_logged();
      above_.clear();
      current_.clear();
      first_.clear();
      ++redone_;
      next = lo_;
      return true;
    }
    progress_.announce(index_, Step::first_decided, pass);
    deleted += made;
    // with end = lo_ + 1 the marks of lo_ are still in above_, and the next
    // step deletes the line
    if (end > lo_ + 1) {
      deleted += decision_.remove(lo_, first_);
      progress_.announce(index_, Step::first_deleted, pass);
    }
    next = end;
    return true;
  }

  Progress& progress_;
  std::vector<Band>& bands_;
  const BandLines lines_;
  const int index_, lo_, hi_;
  BandDecision decision_;
  Marks above_, current_, last_, no_marks_;  // marks of the line above, this line, the band's last line
  Marks guessed_, first_;                    // the guessed marks of line lo_ - 1; line lo_'s, on the guess
  long long pending_count_ = 0;              // deletions of the pass whose last line is pending
  std::size_t log_budget_;
  DeletionLog log_;                                     // deletions made on the guess
  std::vector<std::pair<int, std::size_t>> log_lines_;  // line, first entry in log_
  int redone_ = 0;                                      // passes decided again after a wrong guess
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
    band_list.emplace_back(shared, progress, band_list, BandLines(starts, b, guess_lines), log_budget);
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
  return progress.last_pass();
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
