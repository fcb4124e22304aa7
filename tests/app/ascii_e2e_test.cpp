// ASCII grid runs of the real program with piped answers, in a temporary
// working folder (which stands for drive C:): the transcript with its
// progress lines, the result byte for byte, and the runs that stop.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/dialogue_texts.h"
#include "support/helpers.h"

namespace {

using namespace testing_support;
namespace fs = std::filesystem;

// A filled bar at lines 2-4, columns 1-7 of a 7 x 9 image (grey 200 on 0):
// its skeleton is line 3, columns 2-6.
const std::vector<std::string> kBar = {
    ".........", ".........", ".#######.", ".#######.", ".#######.", ".........", ".........",
};
const std::vector<std::string> kBarSkeleton = {
    ".........", ".........", ".........", "..#####..", ".........", ".........", ".........",
};

// An input grid as another program would write it: padded keywords, one
// text line per image line, a blank before every value.
std::string input_grid(const Plane& p, const std::string& head_extra = "") {
  std::string s = "ncols        " + std::to_string(p[0].size()) + "\nnrows        " + std::to_string(p.size()) +
                  "\nxllcorner    1000.5\nyllcorner    2000\ncellsize     30\n" + head_extra;
  for (const auto& line : p) {
    for (unsigned char v : line) s.append(" ").append(std::to_string(v));
    s += "\n";
  }
  return s;
}

// The result as the program writes it.
std::string result_grid(const Plane& p) {
  std::string s = "ncols " + std::to_string(p[0].size()) + "\nnrows " + std::to_string(p.size()) +
                  "\nxllcorner 1000.500000\nyllcorner 2000.000000\ncellsize 30.000000\nnodata_value -9999.9999\n";
  for (const auto& line : p)
    for (unsigned char v : line) s += std::to_string(v) + "\t";
  return s;
}

class AsciiRun : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(dir_ / "images/site"); }
  void put(const std::string& name, const std::string& text) { write_file(dir_ / ("images/site/" + name), text); }
  RunResult run(const std::string& answers, const std::string& shell_prefix = "") {
    return run_solvik(dir_.path(), answers, {}, shell_prefix);
  }
  std::string file(const std::string& name) { return read_file(dir_ / ("images/site/" + name)); }
  bool exists(const std::string& name) { return fs::exists(dir_ / ("images/site/" + name)); }
  std::vector<std::string> files_in_site() {
    std::vector<std::string> names;
    for (auto& e : fs::directory_iterator(dir_ / "images/site")) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  // The transcript from the folder question on (the banner is the dialogue
  // tests' business).
  static std::string after_banner(const std::string& output) {
    std::size_t at = output.find(kFolderPrompt);
    return at == std::string::npos ? output : output.substr(at);
  }

  TempDir dir_;
};

TEST_F(AsciiRun, TranscriptAndResultByteForByte) {
  const std::string input = input_grid(picture_to_plane(kBar, 200, 0), "NODATA_value -9999\n");
  put("x.asc", input);
  RunResult r = run("site\n2\nx\n0\n128\n255\n");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(after_banner(r.output),
            kFolderPrompt + kFormatHeading + kFormatMenu + kNamePrompt + "\n" + progress(7) + size_report(7, 9) +
                kResultHeading + result_menu("x") + kThreshold + "\n\tsaving ascii file c:\\images\\site\\x_reg.asc " +
                "\n\tSaving Ascii File \n" + progress(7));
  EXPECT_EQ(file("x_reg.asc"), result_grid(picture_to_plane(kBarSkeleton, 1, 255)));
  EXPECT_EQ(file("x.asc"), input);
  EXPECT_EQ(files_in_site(), (std::vector<std::string>{"x.asc", "x_reg.asc"}));
}

TEST_F(AsciiRun, FivePairHeaderAndOwnResultReadAgain) {
  // no nodata line; then the program's own result as an input
  put("x.asc", input_grid(picture_to_plane(kBar, 200, 0)));
  ASSERT_EQ(run("site 2 x 0 128 255").status, 0);
  const std::string first = file("x_reg.asc");
  EXPECT_EQ(first, result_grid(picture_to_plane(kBarSkeleton, 1, 255)));
  // the skeleton (value 1) of a skeleton is itself
  RunResult r = run("site 2 x_reg 1 again 1 1");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(file("again_reg.asc"), first);
}

TEST_F(AsciiRun, NewNameWritesBesideTheInputAndLeavesItUntouched) {
  const std::string input = input_grid(picture_to_plane(kBar, 200, 0), "nodata_value 0\n");
  put("x.asc", input);
  RunResult r = run("site 2 x 1 y 128 255");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.output.find(result_menu("x") + kNewNamePrompt + kThreshold +
                          "\n\tsaving ascii file c:\\images\\site\\y_reg.asc \n\tSaving Ascii File \n"),
            std::string::npos)
      << r.output;
  EXPECT_EQ(file("y_reg.asc"), result_grid(picture_to_plane(kBarSkeleton, 1, 255)));
  EXPECT_EQ(file("x.asc"), input);
  EXPECT_EQ(files_in_site(), (std::vector<std::string>{"x.asc", "y_reg.asc"}));
}

TEST_F(AsciiRun, MissingGridStopsWithNoFileAndCreatesNothing) {
  put("other.asc", input_grid(picture_to_plane(kBar, 200, 0)));
  RunResult r = run("site 2 x 0 128 255");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(after_banner(r.output),
            kFolderPrompt + kFormatHeading + kFormatMenu + kNamePrompt + "\n\tNo File  c:\\images\\site\\x.asc \n");
  EXPECT_EQ(files_in_site(), (std::vector<std::string>{"other.asc"}));
}

struct StopCase {
  const char* name;
  std::string input;
  std::string message;
};

std::string bar_text_with_last_values_cut(int cut) {
  std::string s = input_grid(picture_to_plane(kBar, 200, 0), "nodata_value -9999\n");
  while (cut-- > 0) s.erase(s.find_last_of("0123456789") - 1);  // " 0" or " 200" at the end
  return s;
}

TEST_F(AsciiRun, UnreadableGridsStopBeforeAnyResultExists) {
  const std::string head = "ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1\nnodata_value -9999\n";
  const StopCase cases[] = {
      {"truncated grid", bar_text_with_last_values_cut(3),
       "\n\tThe ascii grid c:\\images\\site\\x.asc cannot be read: grid line 6, column 6 (counted from 0): the file "
       "ends before this value (the header gives 7 lines of 9 columns).\n"},
      {"a real value", head + "1 2 3\n4 12.5 6\n",
       "\n\tThe ascii grid c:\\images\\site\\x.asc cannot be read: grid line 1, column 1 (counted from 0): \"12.5\" is "
       "not an integer.\n"},
      {"an unreadable header value", "ncols 3\nnrows two\n",
       "\n\tThe ascii grid c:\\images\\site\\x.asc cannot be read: header pair 2 (number of lines, keyword \"nrows\"): "
       "\"two\" is not a whole number.\n"},
      {"no columns", "ncols 0\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1\nnodata_value 0\n",
       "\n\tThe ascii grid c:\\images\\site\\x.asc gives 2 lines and 0 columns: an image needs at least one of each.\n"},
      {"a hostile header", "ncols 2000000000\nnrows 2000000000\nxllcorner 0\nyllcorner 0\ncellsize 1\nnodata_value 0\n7",
       "\n\tThe ascii grid c:\\images\\site\\x.asc cannot be read: grid line 0, column 1 (counted from 0): the file "
       "ends before this value (the header gives 2000000000 lines of 2000000000 columns).\n"},
  };
  for (const StopCase& c : cases) {
    SCOPED_TRACE(c.name);
    put("x.asc", c.input);
    RunResult r = run("site 2 x 0 128 255");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.output.ends_with(c.message)) << r.output;
    EXPECT_EQ(r.output.find("THE IMAGE HAS"), std::string::npos);
    EXPECT_EQ(file("x.asc"), c.input);
    EXPECT_EQ(files_in_site(), (std::vector<std::string>{"x.asc"}));
  }
}

TEST_F(AsciiRun, ResultThatCannotBeWrittenStopsAndKeepsTheEarlierOne) {
  // 10 x 2000 values make an 80 kB result; the file size limit (4 or 8 kB,
  // depending on the shell's unit) lets the transcript through but not the
  // result, and writes beyond it fail instead of killing the program.
  Plane p(10, std::vector<unsigned char>(2000, 0));
  for (int j = 1; j < 1999; ++j) p[4][j] = p[5][j] = 200;
  put("big.asc", input_grid(p, "nodata_value 0\n"));
  put("big_reg.asc", "an earlier result");
  RunResult r = run("site 2 big 0 128 255", "trap '' XFSZ; ulimit -f 8;");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.output.ends_with("\n\tThe result c:\\images\\site\\big_reg.asc could not be written: File too large.\n"))
      << r.output.substr(r.output.size() > 300 ? r.output.size() - 300 : 0);
  EXPECT_EQ(file("big_reg.asc"), "an earlier result");
  EXPECT_EQ(files_in_site(), (std::vector<std::string>{"big.asc", "big_reg.asc"}));
}

}  // namespace
