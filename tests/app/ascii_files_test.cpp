// ASCII grids: the reader on files of every layout, its stops, the token
// reader across block edges, the writer byte for byte, and round trips.
// ChargeASC and SauveASC run in-process on files of a temporary folder,
// opened by their real paths; the logical name only appears in messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "app/state.h"
#include "app/files.h"
#include "formats/ascii_grid.h"
#include "platform/console.h"
#include "support/dialogue_texts.h"
#include "support/console_capture.h"
#include "support/helpers.h"

namespace {

using namespace testing_support;
namespace fs = std::filesystem;

const std::string kLogical = "c:\\images\\site\\g.asc";
const std::string kProgressTail = "                        \r";  // 24 blanks

// A case's name as a test name: letters and digits, the rest as '_'.
std::string test_name(const char* name) {
  std::string s;
  for (const char* c = name; *c; ++c) s += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
  return s;
}

class AsciiGrid : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_state();
    con_use_memory_input("");
  }
  void TearDown() override {
    reset_state();
  }
  std::string console() const { return console_.text(); }
  // Writes `text` to a file, opens f1 on it as the driver does and runs
  // ChargeASC. Returns the status it stopped with, or -1.
  int load(const std::string& text) {
    reset_state();  // a run reads one image; its plane is never released
    const fs::path file = dir_ / "g.asc";
    write_file(file, text);
    f1 = std::fopen(file.c_str(), "r");
    if (!f1) ADD_FAILURE() << "cannot open " << file;
    int status = -1;
    try {
      ChargeASC(kLogical);
    } catch (const RunStopped& s) {
      status = s.status;
    }
    EXPECT_EQ(f1, nullptr) << "ChargeASC must close f1";
    return status;
  }
  // Runs SauveASC on a real path; returns the status it stopped with, or -1.
  int save(const fs::path& file) {
    int status = -1;
    try {
      SauveASC(file.string());
    } catch (const RunStopped& s) {
      status = s.status;
    }
    EXPECT_EQ(f2, nullptr) << "SauveASC must close f2";
    return status;
  }
  std::vector<int> plane_values() const {
    std::vector<int> v;
    for (int i = 0; i < nb_lig; ++i)
      for (int j = 0; j < nb_col; ++j) v.push_back(tab2[i][j]);
    return v;
  }

  TempDir dir_;
  ConsoleCapture console_;
};

// --- reading: header keywords and layouts -------------------------------------

struct ReadCase {
  const char* name;
  std::string text;
  int nb_col, nb_lig;
  double X_min, Y_min, dpix_size, nodata;
  std::vector<int> values;  // line 0 first
};

const std::string kStandard =
    "ncols\t3\nnrows\t2\nxllcorner\t1000.5\nyllcorner\t2000\ncellsize\t30\nnodata_value\t-9999\n"
    "1\t2\t3\t\n4\t5\t6\t\n";

const std::vector<ReadCase> kReadCases = {
    {"tabs, as written by the program", kStandard, 3, 2, 1000.5, 2000, 30, -9999, {1, 2, 3, 4, 5, 6}},
    {"upper-case keywords",
     "NCOLS 3\nNROWS 2\nXLLCORNER 1000.5\nYLLCORNER 2000\nCELLSIZE 30\nNODATA_VALUE -9999\n1 2 3\n4 5 6\n", 3, 2,
     1000.5, 2000, 30, -9999, {1, 2, 3, 4, 5, 6}},
    {"xllcenter in place of xllcorner",
     "ncols 3\nnrows 2\nxllcenter 1000.5\nyllcenter 2000\ncellsize 30\nnodata_value -9999\n1 2 3\n4 5 6\n", 3, 2,
     1000.5, 2000, 30, -9999, {1, 2, 3, 4, 5, 6}},
    {"nrows before ncols is still read by position",
     "nrows 3\nncols 2\nxllcorner 0\nyllcorner 0\ncellsize 1\nnodata_value 0\n1 2 3\n4 5 6\n", 3, 2, 0, 0, 1, 0,
     {1, 2, 3, 4, 5, 6}},
    {"blanks instead of tabs, several in a row",
     "ncols    3\nnrows  2\nxllcorner   -12.5\nyllcorner 3\ncellsize 1e3\nnodata_value   -1\n  1   2 3 \n 4 5    6\n",
     3, 2, -12.5, 3, 1000, -1, {1, 2, 3, 4, 5, 6}},
    {"one token per line",
     "ncols\n3\nnrows\n2\nxllcorner\n1\nyllcorner\n2\ncellsize\n3\nnodata_value\n4\n1\n2\n3\n4\n5\n6\n", 3, 2, 1, 2, 3,
     4, {1, 2, 3, 4, 5, 6}},
    {"everything on one line",
     "ncols 3 nrows 2 xllcorner 1 yllcorner 2 cellsize 3 nodata_value 4 1 2 3 4 5 6", 3, 2, 1, 2, 3, 4,
     {1, 2, 3, 4, 5, 6}},
    {"CR LF line ends",
     "ncols 3\r\nnrows 2\r\nxllcorner 1\r\nyllcorner 2\r\ncellsize 3\r\nnodata_value 4\r\n1 2 3\r\n4 5 6\r\n", 3, 2,
     1, 2, 3, 4, {1, 2, 3, 4, 5, 6}},
    {"mixed blanks, tabs, CR, LF, VT and FF",
     "ncols \t 3\r\n\r\nnrows\t\t2 xllcorner\r1 yllcorner\v2 cellsize\f3\tnodata_value 4\n\n\t1\r2 \t3\n\r4\t\t5 \f6",
     3, 2, 1, 2, 3, 4, {1, 2, 3, 4, 5, 6}},
    {"grid values keep their low eight bits",
     "ncols 4 nrows 2 a 0 b 0 c 1 d 0\n-9999 -1 256 300\n2147483647 -2147483648 +7 007\n", 4, 2, 0, 0, 1, 0,
     {241, 255, 0, 44, 255, 0, 7, 7}},
    {"five pairs: no nodata, the grid starts in place of the sixth keyword",
     "ncols 2\nnrows 2\nxllcorner 5\nyllcorner 6\ncellsize 2\n10 20\n30 40\n", 2, 2, 5, 6, 2, 0, {10, 20, 30, 40}},
    {"five pairs and a negative first value", "ncols 2 nrows 1 x 0 y 0 c 1 -1 300", 2, 1, 0, 0, 1, 0, {255, 44}},
    {"real forms that %lf takes", "ncols 1 nrows 1 x +1.5e2 y -.25 c 0x10 n 1E-3 9", 1, 1, 150, -0.25, 16, 0.001, {9}},
    {"values after the grid are ignored", "ncols 1 nrows 1 x 0 y 0 c 1 n 0 9 extra words 12.5", 1, 1, 0, 0, 1, 0, {9}},
    {"one line, one column", "ncols 1 nrows 1 x 0 y 0 c 1 n 0 77", 1, 1, 0, 0, 1, 0, {77}},
};

void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }

class AsciiRead : public AsciiGrid, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(AsciiRead, ReadsHeaderAndGrid) {
  const ReadCase& c = GetParam();
  ASSERT_EQ(load(c.text), -1) << console();
  EXPECT_EQ(nb_col, c.nb_col);
  EXPECT_EQ(nb_lig, c.nb_lig);
  EXPECT_DOUBLE_EQ(X_min, c.X_min);
  EXPECT_DOUBLE_EQ(Y_min, c.Y_min);
  EXPECT_DOUBLE_EQ(dpix_size, c.dpix_size);
  EXPECT_DOUBLE_EQ(nodata, c.nodata);
  ASSERT_NE(tab2, nullptr);
  EXPECT_EQ(plane_values(), c.values);
  EXPECT_EQ(console(), "\n" + progress(c.nb_lig));
}

INSTANTIATE_TEST_SUITE_P(Layouts, AsciiRead, ::testing::ValuesIn(kReadCases),
                         [](const auto& info) { return test_name(info.param.name); });

TEST_F(AsciiGrid, KeywordGoesToTexteCutTo59Characters) {
  const std::string long_word(70, 'k');
  ASSERT_EQ(load("ncols 1 nrows 1 x 0 y 0 c 1 " + long_word + " 5 9"), -1) << console();
  EXPECT_EQ(std::string(texte), long_word.substr(0, 59));
  ASSERT_EQ(load("ncols 1 nrows 1 x 0 y 0 cellsize 1 8"), -1) << console();
  EXPECT_EQ(std::string(texte), "cellsize");
}

TEST_F(AsciiGrid, GridBeyondOneReadBlockIsReadWhole) {
  // 2.4 MB of text: tokens are split across the 1 MiB blocks of the reader
  const int lines = 600, columns = 1000;
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> value(-9999, 9999);
  const char* seps[] = {" ", "\t", "  ", "\r\n", "\n"};
  std::string text = "ncols 1000\nnrows 600\nxllcorner 0\nyllcorner 0\ncellsize 1\nnodata_value -9999\n";
  std::vector<int> expected;
  for (int k = 0; k < lines * columns; ++k) {
    int v = value(rng);
    expected.push_back(static_cast<unsigned char>(v));
    text += std::to_string(v) + seps[rng() % 5];
  }
  ASSERT_EQ(load(text), -1) << console();
  ASSERT_EQ(nb_lig, lines);
  EXPECT_EQ(plane_values(), expected);
}

// --- reading: stops -----------------------------------------------------------

struct StopCase {
  const char* name;
  std::string text;
  std::string message;  // the whole stop message, after the file name
};

std::string cannot_read(const std::string& why) {
  return "\n\tThe ascii grid " + kLogical + " cannot be read: " + why + ".\n";
}
std::string sizes(int lines, int columns) {
  return "\n\tThe ascii grid " + kLogical + " gives " + std::to_string(lines) + " lines and " + std::to_string(columns) +
         " columns: an image needs at least one of each.\n";
}
const std::string kHead23 = "ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1\nnodata_value -9999\n";

const std::vector<StopCase> kStopCases = {
    {"grid ends early", kHead23 + "100 101 102\n103 104\n",
     cannot_read("grid line 1, column 2 (counted from 0): the file ends before this value "
                 "(the header gives 2 lines of 3 columns)")},
    {"empty grid", kHead23,
     cannot_read("grid line 0, column 0 (counted from 0): the file ends before this value "
                 "(the header gives 2 lines of 3 columns)")},
    {"five-pair header and no grid", "ncols 1 nrows 1 x 0 y 0 c 1",
     cannot_read("grid line 0, column 0 (counted from 0): the file ends before this value "
                 "(the header gives 1 lines of 1 columns)")},
    {"a real value in the grid", kHead23 + "1 12.5 3\n4 5 6\n",
     cannot_read("grid line 0, column 1 (counted from 0): \"12.5\" is not an integer")},
    {"a word in the grid", kHead23 + "1 2 3\n4 abc 6\n",
     cannot_read("grid line 1, column 1 (counted from 0): \"abc\" is not an integer")},
    {"digits then letters", kHead23 + "1 2 3\n4 5 7x\n",
     cannot_read("grid line 1, column 2 (counted from 0): \"7x\" is not an integer")},
    {"a value beyond int", kHead23 + "1 2 99999999999\n4 5 6\n",
     cannot_read("grid line 0, column 2 (counted from 0): \"99999999999\" is outside the range of an integer")},
    {"a sign alone", kHead23 + "- 2 3 4 5 6",
     cannot_read("grid line 0, column 0 (counted from 0): \"-\" is not an integer")},
    {"plus minus", kHead23 + "1 +-2 3 4 5 6",
     cannot_read("grid line 0, column 1 (counted from 0): \"+-2\" is not an integer")},
    {"a control byte in a token is shown as ?", kHead23 + std::string("1 2 a\x01\x1b 4 5 6"),
     cannot_read("grid line 0, column 2 (counted from 0): \"a??\" is not an integer")},
    {"a long token is cut in the message", kHead23 + "1 2 " + std::string(50, '9') + "z 4 5 6",
     cannot_read("grid line 0, column 2 (counted from 0): \"" + std::string(40, '9') + "...\" is not an integer")},
    {"empty file", "", cannot_read("the header ends before pair 1 (number of columns)")},
    {"header stops after a keyword", "ncols 3 nrows",
     cannot_read("the header ends after the keyword \"nrows\" of pair 2 (number of lines), before its value")},
    {"header stops before the cell size", "ncols 3 nrows 2 x 0 y 0",
     cannot_read("the header ends before pair 5 (cell size)")},
    {"a real number of columns", "ncols 12.5 nrows 2 x 0 y 0 c 1 n 0 1",
     cannot_read("header pair 1 (number of columns, keyword \"ncols\"): \"12.5\" is not a whole number")},
    {"a number of lines beyond int", "ncols 3 NROWS 99999999999 x 0 y 0 c 1 n 0 1",
     cannot_read("header pair 2 (number of lines, keyword \"NROWS\"): \"99999999999\" is outside the range of an integer")},
    {"a word for the corner", "ncols 3 nrows 2 xllcorner abc y 0 c 1 n 0 1",
     cannot_read("header pair 3 (x of the lower-left corner, keyword \"xllcorner\"): \"abc\" is not a number")},
    {"a number with a tail for the cell size", "ncols 3 nrows 2 x 0 y 0 cellsize 30m n 0 1",
     cannot_read("header pair 5 (cell size, keyword \"cellsize\"): \"30m\" is not a number")},
    {"a word for nodata", "ncols 1 nrows 1 x 0 y 0 c 1 NODATA_value none 1",
     cannot_read("header pair 6 (nodata value, keyword \"NODATA_value\"): \"none\" is not a number")},
    {"the keywords shifted by a missing value", "ncols nrows 2 x 0 y 0 c 1 n 0 1",
     cannot_read("header pair 1 (number of columns, keyword \"ncols\"): \"nrows\" is not a whole number")},
    {"zero columns", "ncols 0 nrows 2 x 0 y 0 c 1 n 0 1 2", sizes(2, 0)},
    {"zero lines", "ncols 3 nrows 0 x 0 y 0 c 1 n 0", sizes(0, 3)},
    {"negative sizes", "ncols -3 nrows -2 x 0 y 0 c 1 n 0 1", sizes(-2, -3)},
    {"a huge header over a tiny file", "ncols 2000000000\nnrows 2000000000\nx 0\ny 0\nc 1\nn 0\n1 2 3\n",
     cannot_read("grid line 0, column 3 (counted from 0): the file ends before this value "
                 "(the header gives 2000000000 lines of 2000000000 columns)")},
    {"a huge header whose short grid holds a bad value", "ncols 2147483647 nrows 2147483647 x 0 y 0 c 1 n 0 1 x 3",
     cannot_read("grid line 0, column 1 (counted from 0): \"x\" is not an integer")},
};

void PrintTo(const StopCase& c, std::ostream* os) { *os << c.name; }

class AsciiStop : public AsciiGrid, public ::testing::WithParamInterface<StopCase> {};

TEST_P(AsciiStop, StopsWithItsMessage) {
  const StopCase& c = GetParam();
  EXPECT_EQ(load(c.text), 1);
  const std::string out = console();
  ASSERT_GE(out.size(), c.message.size()) << out;
  EXPECT_EQ(out.substr(out.size() - c.message.size()), c.message) << out;
}

INSTANTIATE_TEST_SUITE_P(Faults, AsciiStop, ::testing::ValuesIn(kStopCases),
                         [](const auto& info) { return test_name(info.param.name); });

TEST_F(AsciiGrid, HugeHeaderStopsBeforeAllocating) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(load("ncols 2000000000 nrows 2000000000 x 0 y 0 c 1 n 0 1 2 3"), 1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  // no plane was made and no line was begun
  EXPECT_EQ(tab2, nullptr);
  EXPECT_EQ(console().find("\t\tline 0"), std::string::npos) << console();
}

TEST_F(AsciiGrid, ShortGridThatPassesTheSizeCheckStopsAfterItsLastLine) {
  // long values: the file could hold 6 values, yet holds 5
  EXPECT_EQ(load(kHead23 + "100000 100001 100002\n100003 100004\n"), 1);
  const std::string out = console();
  EXPECT_EQ(out.rfind("\n" + progress(2), 0), 0u) << out;
  EXPECT_NE(out.find("grid line 1, column 2"), std::string::npos) << out;
}

// --- the token reader ---------------------------------------------------------

AscSource memory_source(const std::string& text, std::size_t& at, std::size_t most = SIZE_MAX) {
  return [&text, &at, most](char* buf, std::size_t n) -> long long {
    n = std::min({n, most, text.size() - at});
    std::copy_n(text.data() + at, n, buf);
    at += n;
    return static_cast<long long>(n);
  };
}

std::vector<std::string> all_tokens(AscTokens& tokens, std::vector<bool>* cut = nullptr) {
  std::vector<std::string> out;
  std::string_view t;
  while (tokens.next(t)) {
    out.emplace_back(t);
    if (cut) cut->push_back(tokens.last_was_cut());
  }
  return out;
}

TEST(AscTokensTest, TokensAcrossBlockEdgesAreJoinedForEveryBlockSize) {
  const std::string text = "  ncols\t12\r\n-9999 abc\n\n7x  300\t\t1\r\n255 ";
  const std::vector<std::string> expected = {"ncols", "12", "-9999", "abc", "7x", "300", "1", "255"};
  for (std::size_t block = 6; block <= text.size() + 2; ++block) {
    for (std::size_t most : {std::size_t{1}, std::size_t{3}, SIZE_MAX}) {
      std::size_t at = 0;
      AscTokens tokens(memory_source(text, at, most), static_cast<long long>(text.size()), block);
      std::vector<bool> cut;
      EXPECT_EQ(all_tokens(tokens, &cut), expected) << "block " << block << ", reads of at most " << most;
      EXPECT_EQ(cut, std::vector<bool>(expected.size(), false)) << "block " << block;
      EXPECT_FALSE(tokens.failed());
    }
  }
}

TEST(AscTokensTest, TokenOfABlockOrMoreIsCutAndTheRestSkipped) {
  const std::string text = "ab abcdefghijk xy abcd";
  std::size_t at = 0;
  AscTokens tokens(memory_source(text, at), static_cast<long long>(text.size()), 4);
  std::vector<bool> cut;
  EXPECT_EQ(all_tokens(tokens, &cut), (std::vector<std::string>{"ab", "abcd", "xy", "abcd"}));
  EXPECT_EQ(cut, (std::vector<bool>{false, true, false, true}));
}

TEST(AscTokensTest, UngetGivesTheLastTokenAgain) {
  const std::string text = "one two three";
  std::size_t at = 0;
  AscTokens tokens(memory_source(text, at), -1, 5);
  std::string_view t;
  ASSERT_TRUE(tokens.next(t));
  ASSERT_TRUE(tokens.next(t));
  EXPECT_EQ(t, "two");
  tokens.unget();
  EXPECT_EQ(all_tokens(tokens), (std::vector<std::string>{"two", "three"}));
}

TEST(AscTokensTest, ReadErrorEndsTheTokensAsAFailure) {
  int calls = 0;
  AscTokens tokens(
      [&calls](char* buf, std::size_t) -> long long {
        if (calls++ > 0) return -1;
        buf[0] = '5';
        buf[1] = ' ';
        buf[2] = '6';
        return 3;
      },
      -1, 16);
  EXPECT_EQ(all_tokens(tokens), (std::vector<std::string>{"5", "6"}));
  EXPECT_TRUE(tokens.failed());
}

TEST(AscTokensTest, CouldHoldCountsOneByteAndOneSeparatorPerValue) {
  struct Case {
    std::string rest;
    long long values;
    bool fits;
  };
  // `rest`: what follows the token read, separator included
  const Case cases[] = {{" 1 2 3", 3, true}, {" 1 2 3", 4, false}, {" 123", 2, true}, {" 1", 1, true},
                        {"", 1, false}, {" 1 2", 4611686014132420609LL, false}};
  for (const Case& c : cases) {
    const std::string text = "h" + c.rest;
    std::size_t at = 0;
    AscTokens tokens(memory_source(text, at), static_cast<long long>(text.size()), 8);
    std::string_view t;
    ASSERT_TRUE(tokens.next(t));
    EXPECT_EQ(tokens.could_hold(c.values), c.fits) << '"' << c.rest << "\" " << c.values;
  }
}

TEST(AscHeaderTest, FivePairHeaderGivesTheFirstValueBackAndKeepsNodata) {
  const std::string text = "ncols 2 nrows 1 x 1 y 2 c 3 -5 6";
  std::size_t at = 0;
  AscTokens tokens(memory_source(text, at), static_cast<long long>(text.size()), 7);
  AscHeader header;
  header.nodata = 42;
  ASSERT_NO_THROW(asc_read_header(tokens, header));
  EXPECT_FALSE(header.has_nodata);
  EXPECT_EQ(header.nodata, 42);
  EXPECT_EQ(header.keyword, "c");
  std::vector<unsigned char> row(2);
  unsigned char* plane[] = {row.data()};
  ASSERT_NO_THROW(asc_read_grid(tokens, plane, 1, 2, nullptr));
  EXPECT_EQ(row, (std::vector<unsigned char>{251, 6}));
}

// --- writing ------------------------------------------------------------------

TEST_F(AsciiGrid, WritesTheThreeByFourExampleByteForByte) {
  Plane p = picture_to_plane({"FFFF", "F1FF", "FFFF"});
  RowPointers rows(p);
  tab = rows.get();
  nb_lig = 3;
  nb_col = 4;
  X_min = 1000.5;
  Y_min = 2000;
  dpix_size = 30;
  const fs::path file = dir_ / "x_reg.asc";
  const int status = save(file);
  tab = nullptr;  // not ours to release
  ASSERT_EQ(status, -1) << console();
  EXPECT_EQ(read_file(file),
            "ncols 4\nnrows 3\nxllcorner 1000.500000\nyllcorner 2000.000000\ncellsize 30.000000\n"
            "nodata_value -9999.9999\n"
            "255\t255\t255\t255\t255\t1\t255\t255\t255\t255\t255\t255\t");
  EXPECT_EQ(console(), "\n\tSaving Ascii File \n" + progress(3));
  // no temporary file is left beside the result
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), fs::directory_iterator()), 1);
}

struct HeaderCase {
  double X_min, Y_min, dpix_size;
  std::string lines;
};

// Six decimals when they read back as the same number; else the fewest
// decimals that do (up to 20), else %.17g; not finite: as %lf writes it.
TEST(AscHeaderTest, HeaderRealsHaveSixDecimalsWhenTheyReadBackTheSame) {
  const HeaderCase cases[] = {
      {0.1234567, -0.0000004, 2.5, "xllcorner 0.1234567\nyllcorner -0.0000004\ncellsize 2.500000\n"},
      {-12.5, 1e7, 0.0000006, "xllcorner -12.500000\nyllcorner 10000000.000000\ncellsize 0.0000006\n"},
      {500000, 4600000, 2.5, "xllcorner 500000.000000\nyllcorner 4600000.000000\ncellsize 2.500000\n"},
      {-3.7041666666666666, 40.416666666666664, 1.0 / 12000,
       "xllcorner -3.7041666666666666\nyllcorner 40.416666666666664\ncellsize 0.00008333333333333333\n"},
      {1e-30, 1e300, -0.0, "xllcorner 1.0000000000000001e-30\nyllcorner " + std::string(con_format("%lf", 1e300)) +
                               "\ncellsize -0.000000\n"},
      {HUGE_VAL, -HUGE_VAL, NAN, "xllcorner inf\nyllcorner -inf\ncellsize nan\n"},
  };
  for (const HeaderCase& c : cases)
    EXPECT_EQ(asc_header_text(7, 9, c.X_min, c.Y_min, c.dpix_size),
              std::string("ncols 7\nnrows 9\n") + c.lines + "nodata_value -9999.9999\n");
}

TEST(AscWriteTest, GridIsOneLineOfTabTerminatedValuesInLargePieces) {
  // 1.7 MB of text: more than one piece
  const int lines = 700, columns = 800;
  Plane p(lines, std::vector<unsigned char>(columns));
  std::mt19937 rng(3);
  std::string expected;
  for (auto& line : p)
    for (auto& v : line) {
      v = static_cast<unsigned char>(rng());
      expected += std::to_string(v) + "\t";
    }
  RowPointers rows(p);
  std::string written;
  std::vector<std::size_t> pieces;
  ASSERT_TRUE(asc_write_grid(
      [&](const char* data, std::size_t n) {
        pieces.push_back(n);
        written.append(data, n);
        return true;
      },
      rows.get(), lines, columns, nullptr));
  EXPECT_EQ(written, expected);
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_GE(pieces[0], (std::size_t{1} << 20) - 4);
}

TEST(AscWriteTest, RefusedPieceFailsTheWrite) {
  Plane p(2000, std::vector<unsigned char>(1000, 255));
  RowPointers rows(p);
  for (int refuse_at : {1, 2, 3}) {
    int calls = 0;
    EXPECT_FALSE(asc_write_grid([&](const char*, std::size_t) { return ++calls < refuse_at; }, rows.get(), 2000, 1000,
                                nullptr))
        << refuse_at;
    EXPECT_EQ(calls, refuse_at);
  }
}

TEST_F(AsciiGrid, UnwritableResultStopsNamingThePath) {
  Plane p = picture_to_plane({"FF", "F1"});
  RowPointers rows(p);
  tab = rows.get();
  nb_lig = nb_col = 2;
  const fs::path file = dir_ / "missing-folder" / "x_reg.asc";
  const int status = save(file);
  tab = nullptr;
  EXPECT_EQ(status, 1);
  EXPECT_NE(console().find("\n\tThe result " + file.string() + " could not be written: "), std::string::npos)
      << console();
  EXPECT_FALSE(fs::exists(file));
}

TEST_F(AsciiGrid, WrittenGridReadsBackTheSame) {
  const int lines = 37, columns = 23;
  Plane p(lines, std::vector<unsigned char>(columns));
  std::mt19937 rng(11);
  for (auto& line : p)
    for (auto& v : line) v = static_cast<unsigned char>(rng());
  RowPointers rows(p);
  tab = rows.get();
  nb_lig = lines;
  nb_col = columns;
  X_min = 0.1234567;
  Y_min = -4500.25;
  dpix_size = 12.3456789;
  const fs::path file = dir_ / "r.asc";
  const int status = save(file);
  tab = nullptr;
  ASSERT_EQ(status, -1) << console();

  reset_state();
  f1 = std::fopen(file.c_str(), "r");
  ASSERT_NE(f1, nullptr);
  ASSERT_NO_THROW(ChargeASC(kLogical)) << console();
  EXPECT_EQ(nb_lig, lines);
  EXPECT_EQ(nb_col, columns);
  // the header's numbers come back exactly, not to six decimals
  EXPECT_EQ(X_min, 0.1234567);
  EXPECT_EQ(Y_min, -4500.25);
  EXPECT_EQ(dpix_size, 12.3456789);
  EXPECT_DOUBLE_EQ(nodata, -9999.9999);
  for (int i = 0; i < lines; ++i)
    for (int j = 0; j < columns; ++j) ASSERT_EQ(tab2[i][j], p[i][j]) << i << "," << j;
}

}  // namespace
