// ASCII grid files: see ascii_grid.h.
//
// Notes:
//  1. The header is positional: keywords are read and ignored, so a file
//     that says "NROWS" first still gives the number of columns first.
//  2. The file is a stream of tokens whatever its line breaks: grids written
//     on one huge line, one value per line, or with CR LF line ends all read
//     the same. The input is read in blocks of 1 MiB and tokenised in memory;
//     a sentinel blank after the last byte of a block ends every token scan
//     without a bounds test.
//  3. Every value must be a whole token: "12.5" is not read as 12 followed
//     by ".5", and a wrong or missing grid value stops the run with its line
//     and column instead of silently repeating the last good value.
//  4. A header may announce far more values than its file could hold; that
//     is found from the file's length before the plane is allocated, so a
//     hostile header cannot make the program ask for gigabytes.
#include "formats/ascii_grid.h"
#include "platform/failure.h"

#include <charconv>
#include <vector>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/text.h"

namespace {

struct SeparatorTable {
  bool is[256] = {};
  constexpr SeparatorTable() {
    for (unsigned char c : {' ', '\t', '\n', '\r', '\v', '\f'}) is[c] = true;
  }
};
constexpr SeparatorTable kSeparator;

inline bool separator(char c) { return kSeparator.is[static_cast<unsigned char>(c)]; }

// A token as messages show it: in quotes, at most 40 characters, bytes that
// would garble the console shown as '?'.
std::string quoted(std::string_view token, bool cut) {
  constexpr std::size_t kShown = 40;
  std::string s = "\"";
  for (std::size_t k = 0; k < token.size() && k < kShown; ++k) {
    unsigned char c = static_cast<unsigned char>(token[k]);
    s += (c >= 0x20 && c < 0x7f) ? static_cast<char>(c) : '?';
  }
  if (cut || token.size() > kShown) s += "...";
  return s + "\"";
}

enum class IntToken { ok, not_integer, out_of_range };

// A whole token as "%d" reads a number: optional sign, decimal digits.
inline IntToken parse_int_token(std::string_view token, int& value) {
  const char* first = token.data();
  const char* last = first + token.size();
  // from_chars takes a '-' but not a '+'
  if (first != last && *first == '+') {
    ++first;
    if (first != last && *first == '-') return IntToken::not_integer;
  }
  auto [ptr, ec] = std::from_chars(first, last, value);
  if (ec == std::errc::invalid_argument || ptr != last) return IntToken::not_integer;
  if (ec == std::errc::result_out_of_range) return IntToken::out_of_range;
  return IntToken::ok;
}

// A whole token as "%lf" reads a number (strtod: decimal, exponent, hex,
// inf, nan).
bool parse_real_token(std::string_view token, double& value) {
  if (token.empty()) return false;
  const std::string text(token);
  char* end = nullptr;
  double v = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size()) return false;
  value = v;
  return true;
}

inline bool starts_with_letter(std::string_view token) {
  char c = token.empty() ? '\0' : token[0];
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

constexpr const char* kFieldName[6] = {"number of columns", "number of lines", "x of the lower-left corner",
                                       "y of the lower-left corner", "cell size", "nodata value"};

}  // namespace

// --- tokens -------------------------------------------------------------------

AscTokens::AscTokens(AscSource source, long long size, std::size_t block)
    : source_(std::move(source)), size_(size), buf_(block + 1, ' '), block_(block) {}

// Keeps the bytes from `keep_from` on (a token begun but not ended), moves
// them to the front and reads what fits behind them. False when nothing more
// could be read.
bool AscTokens::refill(std::size_t keep_from) {
  const std::size_t kept = end_ - keep_from;
  if (kept > 0 && keep_from > 0) std::memmove(buf_.data(), buf_.data() + keep_from, kept);
  base_ += static_cast<long long>(keep_from);
  pos_ -= keep_from;
  end_ = kept;
  long long got = source_(buf_.data() + end_, block_ - end_);
  if (got < 0) failed_ = true;
  if (got <= 0) {
    at_end_ = true;
    got = 0;
  }
  end_ += static_cast<std::size_t>(got);
  buf_[end_] = ' ';
  return got > 0;
}

bool AscTokens::next(std::string_view& token) {
  cut_ = false;
  if (skip_rest_) {
    skip_rest_ = false;
    for (;;) {
      while (!separator(buf_[pos_])) ++pos_;
      if (pos_ < end_ || at_end_ || !refill(end_)) break;
    }
  }
  for (;;) {
    while (pos_ < end_ && separator(buf_[pos_])) ++pos_;
    if (pos_ < end_) break;
    if (at_end_ || !refill(end_)) return false;
  }
  std::size_t start = pos_;
  for (;;) {
    while (!separator(buf_[pos_])) ++pos_;
    if (pos_ < end_ || at_end_) break;
    // The token reaches the end of the block and may go on in the next one.
    if (start == 0 && end_ == block_) {
      cut_ = true;
      skip_rest_ = true;
      break;
    }
    refill(start);
    start = 0;
  }
  last_start_ = start;
  token = std::string_view(buf_.data() + start, pos_ - start);
  return true;
}

void AscTokens::unget() {
  pos_ = last_start_;
  skip_rest_ = false;
}

bool AscTokens::could_hold(long long values) const {
  if (size_ < 0 || values <= 0) return true;
  const long long remaining = size_ - (base_ + static_cast<long long>(pos_));
  // n values need n bytes and n - 1 separators; halving avoids an overflow
  return (remaining + 1) / 2 >= values;
}

// --- reading ------------------------------------------------------------------

void asc_read_header(AscTokens& tokens, AscHeader& header) {
  std::string_view token;
  for (int k = 0; k < 6; ++k) {
    if (!tokens.next(token)) {
      if (tokens.failed()) throw Failure("the file could not be read in its header");
      if (k == 5) return;  // five pairs and no grid: the grid reader says what is missing
      throw Failure(format_text("the header ends before pair %d (%s)", k + 1, kFieldName[k]));
    }
    if (k == 5 && !starts_with_letter(token)) {
      tokens.unget();
      return;
    }
    header.keyword.assign(token.substr(0, 59));
    if (!tokens.next(token)) {
      if (tokens.failed()) throw Failure("the file could not be read in its header");
      throw Failure(format_text("the header ends after the keyword \"%s\" of pair %d (%s), before its value",
                                header.keyword.c_str(), k + 1, kFieldName[k]));
    }
    const std::string where =
        format_text("header pair %d (%s, keyword \"%s\"): ", k + 1, kFieldName[k], header.keyword.c_str());
    if (k < 2) {
      int value = 0;
      IntToken got = tokens.last_was_cut() ? IntToken::not_integer : parse_int_token(token, value);
      if (got == IntToken::not_integer)
        throw Failure(where + quoted(token, tokens.last_was_cut()) + " is not a whole number");
      if (got == IntToken::out_of_range) throw Failure(where + quoted(token, false) + " is outside the range of an integer");
      (k == 0 ? header.nb_col : header.nb_lig) = value;
    } else {
      double value = 0.0;
      if (tokens.last_was_cut() || !parse_real_token(token, value))
        throw Failure(where + quoted(token, tokens.last_was_cut()) + " is not a number");
      double* const field[4] = {&header.X_min, &header.Y_min, &header.dpix_size, &header.nodata};
      *field[k - 2] = value;
      if (k == 5) header.has_nodata = true;
    }
  }
}

namespace {

// A whole token as a decimal number: optional sign, digits with an optional
// decimal point, optional exponent (no hexadecimal, infinity or NaN).
bool parse_decimal_token(std::string_view token, double& value) {
  const char* first = token.data();
  const char* last = first + token.size();
  if (first != last && *first == '+') {
    ++first;
    if (first != last && (*first == '-' || *first == '+')) return false;
  }
  if (first == last) return false;
  // from_chars also takes "inf" and "nan": a grid value is always a number
  const char c = *first == '-' && first + 1 != last ? first[1] : *first;
  if (!((c >= '0' && c <= '9') || c == '.')) return false;
  auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::general);
  return ec == std::errc() && ptr == last && std::isfinite(value);
}

// The grid's values, nb_lig lines of nb_col tokens: `value(i, j, token,
// cut)` takes each one and returns null or why it is refused (after the
// token); `line_end(i)` follows each line and returns false to stop.
template <typename Value, typename LineEnd>
void read_values(AscTokens& tokens, int nb_lig, int nb_col, Value value, LineEnd line_end) {
  std::string_view token;
  for (int i = 0; i < nb_lig; ++i) {
    for (int j = 0; j < nb_col; ++j) {
      auto where = [&] { return format_text("grid line %d, column %d (counted from 0): ", i, j); };
      if (!tokens.next(token)) {
        if (tokens.failed()) throw Failure(where() + "the file could not be read");
        throw Failure(where() + format_text("the file ends before this value (the header gives %d lines of %d columns)",
                                            nb_lig, nb_col));
      }
      if (const char* refused = value(i, j, token, tokens.last_was_cut()))
        throw Failure(where() + quoted(token, tokens.last_was_cut()) + " " + refused);
    }
    if (!line_end(i)) throw Failure("reading stopped at grid line " + std::to_string(i));
  }
}

}  // namespace

void asc_read_grid(AscTokens& tokens, unsigned char** plane, int nb_lig, int nb_col, AscLineStart line_start) {
  if (line_start && nb_lig > 0) line_start(0);
  read_values(
      tokens, nb_lig, nb_col,
      [plane](int i, int j, std::string_view token, bool cut) -> const char* {
        int value = 0;
        const IntToken got = cut ? IntToken::not_integer : parse_int_token(token, value);
        if (got != IntToken::ok)
          return got == IntToken::out_of_range ? "is outside the range of an integer" : "is not an integer";
        // the low eight bits, as an int stored in a byte: -1 -> 255, 300 -> 44
        if (plane) plane[i][j] = static_cast<unsigned char>(value);
        return nullptr;
      },
      [&](int i) {
        if (line_start && i + 1 < nb_lig) line_start(i + 1);
        return true;
      });
}

void asc_read_values(AscTokens& tokens, int nb_lig, int nb_col,
                     const std::function<bool(int line, const double* values)>& line) {
  // the line grows with the values read, so a header that promises more
  // than the file holds costs no more memory than the file
  std::vector<double> values;
  read_values(
      tokens, nb_lig, nb_col,
      [&values](int, int j, std::string_view token, bool cut) -> const char* {
        if (j == 0) values.clear();
        double value = 0;
        if (cut || !parse_decimal_token(token, value)) return "is not a number";
        values.push_back(value);
        return nullptr;
      },
      [&](int i) { return line(i, values.data()); });
}

// --- writing ------------------------------------------------------------------

std::string asc_number_text(double value) {
  const std::string six = format_text("%lf", value);
  if (!std::isfinite(value) || std::strtod(six.c_str(), nullptr) == value) return six;
  for (int decimals = 7; decimals <= 20; ++decimals) {
    std::string text = format_text("%.*lf", decimals, value);
    if (std::strtod(text.c_str(), nullptr) == value) return text;
  }
  return format_text("%.17g", value);
}

std::string asc_header_text(int nb_col, int nb_lig, double X_min, double Y_min, double dpix_size) {
  return asc_header_text(nb_col, nb_lig, X_min, Y_min, dpix_size, std::nullopt) + "nodata_value -9999.9999\n";
}

std::string asc_header_text(int nb_col, int nb_lig, double X_min, double Y_min, double dpix_size,
                            std::optional<double> nodata) {
  std::string text = format_text("ncols %d\nnrows %d\n", nb_col, nb_lig);
  text += "xllcorner " + asc_number_text(X_min) + "\nyllcorner " + asc_number_text(Y_min) + "\ncellsize " +
          asc_number_text(dpix_size) + "\n";
  if (nodata) text += "nodata_value " + asc_number_text(*nodata) + "\n";
  return text;
}

namespace {

// Grid text of lines, each value followed by a tab, handed to `sink` a
// megabyte at a time.
class GridText {
 public:
  explicit GridText(const AscSink& sink) : sink_(sink), buf_(kBlock), out_(buf_.data()) {}
  bool line(const unsigned char* row, int nb_col) {
    char* const flush_at = buf_.data() + kBlock - kLongest;
    for (int j = 0; j < nb_col; ++j) {
      if (out_ > flush_at && !flush()) return false;
      out_ = std::to_chars(out_, out_ + 3, static_cast<unsigned>(row[j])).ptr;
      *out_++ = '\t';
    }
    return true;
  }
  bool flush() {
    const bool ok = out_ == buf_.data() || sink_(buf_.data(), static_cast<std::size_t>(out_ - buf_.data()));
    out_ = buf_.data();
    return ok;
  }

 private:
  static constexpr std::size_t kBlock = std::size_t{1} << 20;
  static constexpr std::size_t kLongest = 4;  // "255\t"
  const AscSink& sink_;
  std::vector<char> buf_;
  char* out_;
};

}  // namespace

bool asc_write_grid(const AscSink& sink, unsigned char* const* plane, int nb_lig, int nb_col,
                    AscLineStart line_start) {
  GridText text(sink);
  for (int i = 0; i < nb_lig; ++i) {
    if (line_start) line_start(i);
    if (!text.line(plane[i], nb_col)) return false;
  }
  return text.flush();
}

bool asc_write_grid(const AscSink& sink, const RowSource& rows, int nb_lig, int nb_col) {
  GridText text(sink);
  return for_each_block(rows, nb_lig, nb_col,
                        [&](int, int count, const unsigned char* const* block) {
                          for (int k = 0; k < count; ++k)
                            if (!text.line(block[k], nb_col)) return false;
                          return true;
                        }) &&
         text.flush();
}
