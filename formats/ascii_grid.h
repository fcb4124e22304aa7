// ASCII grids (".asc"): a header of six keyword and value pairs (columns,
// lines, lower-left x, lower-left y, cell size, nodata) followed by one
// decimal integer per pixel, top line first.
//
// Kernels (no program-wide state, print nothing; a refusal is a Failure,
// platform/failure.h, whose reason names the place and the token):
//   AscTokens        white-space separated tokens of a byte source, read in
//                    large blocks
//   asc_read_header  the header pairs, by position
//   asc_read_grid    nb_lig x nb_col integer tokens into a plane
//   asc_header_text  the six header lines of a written grid
//   asc_write_grid   the grid of a plane as tab-terminated values
//
// The program's ChargeASC and SauveASC (app/files.h) are built on them.
#pragma once

#include "formats/rows.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Copies at most `n` bytes of the input to `buf` and returns how many; 0 at
// the end of the input, a negative value when the input cannot be read.
using AscSource = std::function<long long(char* buf, std::size_t n)>;

// Takes `n` bytes of output; false when they could not all be written.
using AscSink = std::function<bool(const char* data, std::size_t n)>;

// Called before the values of each grid line, with the line number from 0.
using AscLineStart = void (*)(int line);

// The tokens of an input: runs of bytes other than blank, tab, CR, LF, VT
// and FF. The input is read in blocks of `block` bytes; a token that runs
// across two blocks is joined. A token of `block` bytes or more is cut to
// its first `block` bytes (and marked as cut) and the rest of it skipped, so
// no input makes the reader hold more than one block.
class AscTokens {
 public:
  // `size` is the whole input's length in bytes, or -1 when unknown.
  AscTokens(AscSource source, long long size, std::size_t block = std::size_t{1} << 20);

  // The next token, valid until the next call; false at the end of the
  // input or when it cannot be read (then failed() is true).
  bool next(std::string_view& token);

  // Gives the token of the last next() back, so the next call returns it
  // again. Only one token can be given back.
  void unget();

  bool failed() const { return failed_; }
  bool last_was_cut() const { return cut_; }

  // Could the rest of the input (from the current position) hold `values`
  // tokens? Each needs one byte and all but the last a separator after it.
  // Always true when the input's length is unknown.
  bool could_hold(long long values) const;

 private:
  bool refill(std::size_t keep_from);

  AscSource source_;
  long long size_;
  std::vector<char> buf_;  // one block and a sentinel blank
  std::size_t block_;
  std::size_t pos_ = 0;    // scanning position in buf_
  std::size_t end_ = 0;    // bytes of buf_ in use
  std::size_t last_start_ = 0;
  long long base_ = 0;     // offset in the input of buf_[0]
  bool at_end_ = false;
  bool failed_ = false;
  bool cut_ = false;
  bool skip_rest_ = false;
};

// The header values in file order, and what the reader saw of it.
struct AscHeader {
  int nb_col = 0;
  int nb_lig = 0;
  double X_min = 0.0;
  double Y_min = 0.0;
  double dpix_size = 0.0;
  double nodata = 0.0;
  bool has_nodata = false;  // false for a header of five pairs
  std::string keyword;      // the last keyword read, at most 59 characters
};

// Reads the header pairs by position: whatever a keyword says, the first
// value is the number of columns, the second the number of lines, then x
// and y of the lower-left corner, cell size and nodata. Keywords are any
// tokens; the values are whole tokens: two ints (decimal, optional sign),
// then reals in any form strtod accepts. When the token in the place of the
// sixth keyword does not start with a letter (or the input ends there), the
// header has five pairs: that token is given back as the first grid value
// and `header.nodata` keeps what it held. Values read before a failure are
// kept in `header`. A Failure (naming the header field, the keyword and
// the token) when a keyword or value is missing or a value is not a number
// of its kind.
void asc_read_header(AscTokens& tokens, AscHeader& header);

// Reads nb_lig x nb_col integer tokens, line 0 first, into plane[i][j],
// each stored as its low eight bits (-1 -> 255, 256 -> 0). `plane` may be
// null to check the values without storing them; `line_start` (may be null)
// is called before each line. A Failure naming the line and column
// (counted from 0) and the token when a value is missing or is not wholly
// an integer within int. Tokens after the last value are not read.
void asc_read_grid(AscTokens& tokens, unsigned char** plane, int nb_lig, int nb_col, AscLineStart line_start);

// Reads nb_lig x nb_col values, line 0 first, as numbers: whole tokens of
// decimal integers or decimals with an optional exponent (strtod's decimal
// forms, no hexadecimal, infinity or NaN). `line` is called with each
// complete line. A Failure naming the line and column (counted from 0) and
// the token when a value is missing or not a number, or when `line` returns
// false. (The same tokens and messages as asc_read_grid, whose values are
// whole numbers kept as bytes.)
void asc_read_values(AscTokens& tokens, int nb_lig, int nb_col,
                     const std::function<bool(int line, const double* values)>& line);

// A header number as a written grid holds it: "%lf" (six decimals) when
// that text reads back as the same number, so the usual corners and cell
// sizes keep their familiar text; else the fewest decimals from 7 to 20 that
// read back the same (a 1/12000-degree cell is not 0.000083); else "%.17g".
// A number that is not finite is written with "%lf".
std::string asc_number_text(double value);

// The six header lines of a written grid: "ncols %d", "nrows %d",
// "xllcorner", "yllcorner" and "cellsize" with asc_number_text, and the
// fixed line "nodata_value -9999.9999", each ended by "\n".
std::string asc_header_text(int nb_col, int nb_lig, double X_min, double Y_min, double dpix_size);

// The same header with the nodata line "nodata_value " and `nodata` as
// asc_number_text writes it, or without a nodata line when there is none
// (five pairs, as the reader accepts them).
std::string asc_header_text(int nb_col, int nb_lig, double X_min, double Y_min, double dpix_size,
                            std::optional<double> nodata);

// Writes plane[i][j] for every line and column, in that order, as unsigned
// decimal numbers each followed by a tab, with no line break anywhere, in
// large pieces. `line_start` (may be null) is called before each line.
// False as soon as the sink refuses a piece.
bool asc_write_grid(const AscSink& sink, unsigned char* const* plane, int nb_lig, int nb_col,
                    AscLineStart line_start);
// The same of lines handed out a block at a time (`line_start` not called).
bool asc_write_grid(const AscSink& sink, const RowSource& rows, int nb_lig, int nb_col);
