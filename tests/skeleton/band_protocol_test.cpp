// The rules between the thinning's bands: which lines a band may read and
// write in each phase, and what it waits for before each of its lines, on
// bands of one, two, three and many lines, first, middle, last and alone.
#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "skeleton/band_protocol.h"

namespace {

using band_protocol::AfterDeciding;
using band_protocol::BandLines;
using band_protocol::BeforeDeciding;
using band_protocol::LineRange;
using band_protocol::LineRights;
using band_protocol::Phase;

// Per line of a band that has some, "line:codes": before deciding it, G the
// guard, D the deletion of the last line, A the marks of the line above, B
// the line below; after it, f first line decided, x deleted, l last line
// decided.
std::string codes(bool g, bool d, bool a, bool b, const char* letters) {
  std::string out;
  for (int k = 0; k < 4; ++k)
    if ((k == 0 && g) || (k == 1 && d) || (k == 2 && a) || (k == 3 && b)) out += letters[k];
  return out;
}

std::string per_line(const BandLines& band, bool after) {
  std::ostringstream out;
  for (int i = band.lo(); i <= band.hi(); ++i) {
    const BeforeDeciding b = band.before_deciding(i);
    const AfterDeciding a = band.after_deciding(i);
    const std::string c = after ? codes(a.first_decided, a.first_deleted, a.last_decided, false, "fxl")
                                : codes(b.guard, b.delete_last, b.marks_above, b.line_below, "GDAB");
    if (!c.empty()) out << (out.tellp() > 0 ? " " : "") << i << ':' << c;
  }
  return out.str();
}

struct BandCase {
  const char* what;
  std::vector<int> starts;
  int guess_lines, band;
  LineRange guessed;
  LineRights guess, decide;
  int guard;
  const char* before;
  const char* after;
};

const BandCase kBands[] = {
    {"alone, one line", {1, 2}, 16, 0, {1, 0}, {}, {{0, 2}, {1, 1}}, -1, "", "1:fl"},
    {"alone, three lines", {1, 4}, 16, 0, {1, 0}, {}, {{0, 4}, {1, 3}}, -1, "", "1:f 2:x 3:l"},
    {"first of two, two lines", {1, 3, 5}, 16, 0, {1, 0}, {}, {{0, 3}, {1, 2}}, 1, "1:GD 2:B", "1:f 2:xl"},
    {"last of two, two lines", {1, 3, 5}, 16, 1, {2, 2}, {{1, 3}, {3, 3}}, {{2, 5}, {3, 4}}, -1, "3:A", "3:f 4:xl"},
    {"first of three, three lines", {1, 4, 7, 10}, 16, 0, {1, 0}, {}, {{0, 4}, {1, 3}}, 2, "2:GD 3:B", "1:f 2:x 3:l"},
    {"middle of three, three lines", {1, 4, 7, 10}, 16, 1, {2, 3}, {{1, 4}, {4, 4}}, {{3, 7}, {4, 6}}, 5,
     "4:A 5:GD 6:B", "4:f 5:x 6:l"},
    {"middle, a guess of one line", {1, 4, 7, 10}, 1, 1, {3, 3}, {{2, 4}, {4, 4}}, {{3, 7}, {4, 6}}, 5,
     "4:A 5:GD 6:B", "4:f 5:x 6:l"},
    {"last of three, three lines", {1, 4, 7, 10}, 16, 2, {5, 6}, {{4, 7}, {7, 7}}, {{6, 10}, {7, 9}}, -1, "7:A",
     "7:f 8:x 9:l"},
    {"a tall band above", {1, 30, 60}, 16, 0, {1, 0}, {}, {{0, 30}, {1, 29}}, 14, "14:G 28:D 29:B", "1:f 2:x 29:l"},
    {"below a tall band", {1, 30, 60}, 16, 1, {14, 29}, {{13, 30}, {30, 30}}, {{29, 60}, {30, 59}}, -1, "30:A",
     "30:f 31:x 59:l"},
    {"a guess of no line", {1, 30, 60}, 0, 1, {30, 29}, {{29, 30}, {30, 30}}, {{29, 60}, {30, 59}}, -1, "30:A",
     "30:f 31:x 59:l"},
    {"above a guess of no line", {1, 30, 60}, 0, 0, {1, 0}, {}, {{0, 30}, {1, 29}}, 28, "28:GD 29:B", "1:f 2:x 29:l"},
};

TEST(BandProtocol, RightsAndWaitsOfEachBand) {
  for (const BandCase& c : kBands) {
    SCOPED_TRACE(c.what);
    const BandLines band(c.starts, c.band, c.guess_lines);
    EXPECT_EQ(band.guessed(), c.guessed);
    const LineRights guess = band.rights(Phase::guess), decide = band.rights(Phase::decide);
    EXPECT_EQ(guess.read, c.guess.read);
    EXPECT_EQ(guess.write, c.guess.write);
    EXPECT_EQ(decide.read, c.decide.read);
    EXPECT_EQ(decide.write, c.decide.write);
    EXPECT_EQ(band.guard_line(), c.guard);
    EXPECT_EQ(per_line(band, false), c.before);
    EXPECT_EQ(per_line(band, true), c.after);
    EXPECT_EQ(band.hands_over(band.lo() - 1), !band.is_first());
    EXPECT_EQ(band.hands_over(band.hi() + 1), !band.is_last());
    EXPECT_FALSE(band.hands_over(band.lo()) || band.hands_over(band.hi()));
    // a step out of turn is refused
    EXPECT_NO_THROW(decide.check_read(band.lo() - 1, band.hi() + 1));
    EXPECT_THROW(decide.check_read(band.lo() - 2, band.lo()), std::logic_error);
    EXPECT_THROW(decide.check_write(band.hi() + 1), std::logic_error);
    EXPECT_THROW(guess.check_write(band.lo() + 1), std::logic_error);
  }
}

TEST(BandProtocol, BandsItDoesNotHoldForAreRefused) {
  EXPECT_THROW(BandLines({1, 2, 4}, 1, 16), std::invalid_argument);  // one line among others
  EXPECT_THROW(BandLines({1, 3, 4}, 0, 16), std::invalid_argument);
  EXPECT_THROW(BandLines({1, 3, 5}, 2, 16), std::invalid_argument);  // no such band
  EXPECT_THROW(BandLines({1, 3, 5}, -1, 16), std::invalid_argument);
}

// On random cuts: the bands' written lines tile the interior; the guess
// reads only the band above (never its first line's neighbour above) and
// its own first line; the band above stops at its guard line before it
// writes a line the guess reads, and deletes its last line after; every
// wait comes once a pass.
TEST(BandProtocol, RulesHoldOnRandomCuts) {
  std::mt19937 rng(7);
  for (int round = 0; round < 500; ++round) {
    const int bands = 1 + static_cast<int>(rng() % 6), guess_lines = static_cast<int>(rng() % 20);
    std::vector<int> starts = {1};
    const unsigned spread = round % 3 ? 4 : 40;  // mostly short bands
    for (int b = 0; b < bands; ++b) starts.push_back(starts.back() + 2 + static_cast<int>(rng() % spread));
    std::ostringstream name;
    for (int s : starts) name << s << ' ';
    SCOPED_TRACE(name.str() + "guess " + std::to_string(guess_lines));
    for (int b = 0; b < bands; ++b) {
      const BandLines band(starts, b, guess_lines);
      EXPECT_EQ(band.rights(Phase::decide).write, (LineRange{starts[b], starts[b + 1] - 1}));
      const std::string waits = per_line(band, false);
      for (const char* code : {"G", "D", "B"})
        EXPECT_EQ(waits.find(code) != std::string::npos, !band.is_last()) << code;
      EXPECT_EQ(waits.find('A') != std::string::npos, !band.is_first());
      if (b == 0) continue;
      const BandLines above(starts, b - 1, guess_lines);
      const LineRange read = band.rights(Phase::guess).read;
      EXPECT_GE(read.first, above.lo());
      EXPECT_EQ(read.last, band.lo());
      // before its guard line the band above has deleted lines up to
      // guard - 2 and woken candidates up to guard - 1 (the guess reads
      // candidates from read.first + 1 on)
      EXPECT_LE(above.guard_line() - 1, read.first);
      EXPECT_GE(above.guard_line(), above.lo());
      EXPECT_LE(above.guard_line(), above.hi() - 1);
      EXPECT_TRUE(above.before_deciding(above.hi() - 1).delete_last);
    }
  }
}

}  // namespace
