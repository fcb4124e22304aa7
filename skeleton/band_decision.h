// The decision of one band of the thinning: what one thread does with the
// lines it owns during a pass (the word-wide and pixel-by-pixel decisions
// of a line, and the deletion of a decided line).
//
// How the kernel is fast and still gives the same bytes (notes 1-5, on the
// pass semantics, are in thinning.cpp; note 10 in band_protocol.h):
//  6. During thinning the picture lives in a bit plane, one bit per pixel:
//    set where tab2 is not 0 at the start of the pass. Inside the frame
//    that is the object (tab == 1); on the frame it is the presence the
//    window tests read, while codes see no frame cell (note 1). The marks of a pass
//    are one bit row per line, "going" (marked and confirmed), kept for
//    the line above and the current line; only going pixels matter to
//    later pixels, since a pixel whose tests fail is 255 again before
//    anybody else looks at it, and which mark a going pixel got never
//    changes a window test (codes.h).
//  7. A pixel whose code is in no list is left alone, and its code changes
//    only when a neighbour is deleted. Candidates are a second bit plane:
//    at first every object pixel; a pixel visited with a code in no list
//    leaves the set; the object neighbours of every deleted pixel join it.
//    A pass decides only candidates, and only words (64 pixels of a line)
//    holding some; a summary bit per word skips empty stretches.
//  8. A word with many candidates is decided 64 pixels at once by the
//    bit-sliced forms of codes.h; a word with few, pixel by pixel from
//    kMarkByRows and kWindowsAgree (band_decision.cpp). Both read the same
//    bits.
//  9. Of the four window tests only the west one sees whether the west
//    neighbour is going (through the kept rule). Word-wide decisions take
//    both outcomes of the west test; where they differ and the west
//    neighbour may go, a pixel goes exactly when its west neighbour goes
//    xor the test passes with the neighbour staying: a chain along the
//    word, resolved by bitplane.h's chain_xor.
// Which lines a band may read and write, and when, is band_protocol.h's.
#pragma once

#include <cstddef>
#include <vector>

#include "skeleton/band_protocol.h"
#include "skeleton/bitplane.h"

namespace band_decision {

using bitplane::Word;

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

// What every band shares: the bit planes and the bytes. Each band writes
// only its own lines of them (woken candidates of a neighbour's line are
// handed over to that neighbour).
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

  Shared(unsigned char** t, unsigned char** t2, bitplane::Plane& bits, int lines, int columns);

  // The bits of lines [first, last] from tab2 (on the byte road); every
  // interior object pixel a candidate.
  void load(int first, int last);

  // Writes the deletions of lines [first, last] into the bytes: 0 in tab
  // and tab2 wherever an object pixel is no longer in the bit plane. Only
  // words that saw a deletion are looked at.
  void write_back(int first, int last);

 private:
  void clear_gone(unsigned char* t, unsigned char* t2, int d, Word keep) const;
};

// The decisions of one band over its lines, pass after pass. It writes only
// the lines its rights allow and hands woken candidates of a neighbour's
// line over (woken_above, woken_below); a step out of its rights throws
// std::logic_error.
class BandDecision {
 public:
  BandDecision(Shared& s, const band_protocol::BandLines& lines);

  // Decides the candidates of own line i: the going pixels go to `out`,
  // the window tests reading the marks `up` of line i - 1.
  void decide(int i, const Marks& up, Marks& out);

  // Decides line i of the band above for the guess, touching no candidate
  // bit. The band above leaves those lines alone until the guess is made,
  // so their candidates stand as the previous pass left them, but for what
  // the deletion of its last line (still to come) wakes in the two lines
  // next to this band: there every object pixel is decided. A pixel left
  // out of the candidates would not be marked anyway.
  void guess(int i, const Marks& up, Marks& out);

  // Line lo - 1 as this pass finds it, while the band above still has to
  // delete its last line's marks `going` of the previous pass: decisions
  // read this copy until drop_copy(). The candidates that deletion wakes
  // in line lo join now (the band above hands the same bits over later).
  void copy_line_above(const Marks& going);
  void drop_copy() { copy_ = nullptr; }

  // Deletes the going pixels of own line r (`marks`, decided in this pass)
  // and wakes the candidates around them; clears `marks`. Returns how many
  // were deleted. The bytes are written once, at the end (write_back).
  long long remove(int r, Marks& marks);

  // Puts deleted pixels back (word d of line r): object and candidates
  // again.
  void put_back(int r, int d, Word going);

  // Adds the candidates a neighbour woke in own line r; clears `woken`.
  void take_woken(int r, std::vector<Word>& woken);

  // Deleted bits next to the line above the band and the line below, for
  // the neighbours to take.
  std::vector<Word> woken_above, woken_below;

 private:
  const Word* row(int r) const { return r == lo_ - 1 && copy_ ? copy_ : s_.present.row(r); }
  Word decide_word(int i, int d, Word cand);
  Word decide_word_pixels(int i, int d, Word w);
  Word decide_word_wide(int i, int d);
  struct Neighbourhood;
  Neighbourhood read_neighbourhood(int i, int d) const;
  static Word deletion_codes(const Neighbourhood& n);
  Word going_pixels(int d, const Neighbourhood& n, Word marked) const;
  void wake(int r, int e, const Word* g_row);

  Shared& s_;
  int lo_;
  band_protocol::LineRights guessing_, deciding_;
  const Marks* up_ = nullptr;  // the marks the current line's window tests read
  Marks* out_ = nullptr;       // the marks of the current line
  std::vector<Word> copy_store_;
  const Word* copy_ = nullptr;  // copy_store_ while decisions read the copy
};

}  // namespace band_decision
