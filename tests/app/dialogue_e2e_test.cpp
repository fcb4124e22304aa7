// The whole dialogue, run on the real program with piped answers in a
// temporary working folder (which stands for drive C:).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/dialogue_texts.h"
#include "support/helpers.h"

namespace {

using namespace testing_support;
namespace fs = std::filesystem;

size_t count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t p = text.find(part); p != std::string::npos; p = text.find(part, p + 1)) ++n;
  return n;
}

// A filled bar at lines 2-4, columns 1-7 of a 7 x 9 image (grey 200 on 0):
// its skeleton is line 3, columns 2-6.
const std::vector<std::string> kBar = {
    ".........", ".........", ".#######.", ".#######.", ".#######.", ".........", ".........",
};
const std::vector<std::string> kBarSkeleton = {
    ".........", ".........", ".........", "..#####..", ".........", ".........", ".........",
};

class Dialogue : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(dir_ / "images/site"); }
  void put_raster(const std::string& name, const std::vector<std::string>& picture, bool with_descriptor = true) {
    Plane p = picture_to_plane(picture, 200, 0);
    write_file(dir_ / ("images/site/" + name + ".raw"), plane_bytes(p));
    if (with_descriptor)
      write_file(dir_ / ("images/site/" + name + ".txt"),
                 std::to_string(p.size()) + "\n" + std::to_string(p[0].size()) + "\n1\n0\n255\n1\n");
  }
  RunResult run(const std::string& answers) { return run_solvik(dir_.path(), answers); }
  std::string file(const std::string& name) { return read_file(dir_ / ("images/site/" + name)); }
  bool exists(const std::string& name) { return fs::exists(dir_ / ("images/site/" + name)); }
  size_t files_in_site() {
    size_t n = 0;
    for ([[maybe_unused]] auto& e : fs::directory_iterator(dir_ / "images/site")) ++n;
    return n;
  }

  TempDir dir_;
};

TEST_F(Dialogue, RasterRunTranscriptAndFiles) {
  put_raster("a", kBar);
  const std::string input_before = file("a.raw");
  RunResult r = run("site\n0\na\n0\n128\n255\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, kBanner + kFolderPrompt + kFormatHeading + kFormatMenu + kNamePrompt + size_report(7, 9) +
                          kResultHeading + result_menu("a") + kThreshold +
                          "\n\tsaving raster image c:\\images\\site\\a_reg.raw ");
  EXPECT_EQ(file("a_reg.raw"), plane_bytes(picture_to_plane(kBarSkeleton, 1, 255)));
  EXPECT_EQ(file("a_reg.txt"), "7\n9\n1\n0\n255\n1\n");
  EXPECT_EQ(file("a.raw"), input_before);
  EXPECT_EQ(files_in_site(), 4u);
}

TEST_F(Dialogue, FormatAnswersOutsideTheMenuBringBackTheChoicesOnly) {
  put_raster("a", kBar);
  RunResult r = run("site 3 99 -1 0 a 0 128 255");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(count(r.output, kFormatHeading), 1u);
  EXPECT_EQ(count(r.output, kFormatMenu), 4u);
  EXPECT_NE(r.output.find(kFormatHeading + kFormatMenu + kFormatMenu + kFormatMenu + kFormatMenu + kNamePrompt),
            std::string::npos);
}

TEST_F(Dialogue, ResultNameAnswersOutsideTheMenuBringBackBothChoiceLines) {
  put_raster("a", kBar);
  RunResult r = run("site 0 a 2 7 0 128 255");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(count(r.output, kResultHeading), 1u);
  EXPECT_NE(r.output.find(kResultHeading + result_menu("a") + result_menu("a") + result_menu("a") + kThreshold),
            std::string::npos);
  EXPECT_TRUE(exists("a_reg.raw"));
}

TEST_F(Dialogue, NewNameWritesBesideTheInputAndLeavesItUntouched) {
  put_raster("a", kBar);
  const std::string raw = file("a.raw"), txt = file("a.txt");
  RunResult r = run("site 0 a 1 b 128 255");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.output.find(result_menu("a") + kNewNamePrompt + kThreshold +
                          "\n\tsaving raster image c:\\images\\site\\b_reg.raw "),
            std::string::npos);
  EXPECT_EQ(file("b_reg.raw"), plane_bytes(picture_to_plane(kBarSkeleton, 1, 255)));
  EXPECT_EQ(file("b_reg.txt"), txt);
  EXPECT_EQ(file("a.raw"), raw);
  EXPECT_EQ(file("a.txt"), txt);
  EXPECT_FALSE(exists("a_reg.raw"));
}

TEST_F(Dialogue, TheExtensionIsAlwaysAppended) {
  put_raster("a", kBar);
  RunResult r = run("site 0 a.raw 0 128 255");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, kBanner + kFolderPrompt + kFormatHeading + kFormatMenu + kNamePrompt +
                          "\n\tNo File  c:\\images\\site\\a.raw.raw \n");
}

TEST_F(Dialogue, MissingRasterStopsBeforeAnySizeQuestionAndCreatesNothing) {
  put_raster("a", kBar);
  fs::remove(dir_ / "images/site/a.raw");
  RunResult r = run("site 0 a 100 200 5");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.output.ends_with("\n\tNo File  c:\\images\\site\\a.raw \n")) << r.output;
  EXPECT_EQ(r.output.find("Number of lines"), std::string::npos);
  EXPECT_EQ(files_in_site(), 1u);  // the descriptor alone, as before
}

TEST_F(Dialogue, MissingDescriptorIsCreatedAndCarriedIntoTheResult) {
  put_raster("a", kBar, /*with_descriptor=*/false);
  RunResult r = run("site 0 a 7 9 5 0 128 255");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.output.find(kNamePrompt + "\n\tNo File  c:\\images\\site\\a.txt \n\n"
                                        "\n\t\tNumber of lines   ? \n\t\tNumber of columns ? \n\t\tpixel size? " +
                          size_report(7, 9)),
            std::string::npos)
      << r.output;
  EXPECT_EQ(file("a.txt"), "7\n9\n1\n0\n255\n5\n");
  EXPECT_EQ(file("a_reg.txt"), "7\n9\n1\n0\n255\n5\n");
}

TEST_F(Dialogue, TwoValueDescriptorGivesZerosInTheResultDescriptor) {
  put_raster("a", kBar);
  write_file(dir_ / "images/site/a.txt", "7 9");
  RunResult r = run("site 0 a 0 128 255");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(file("a_reg.txt"), "7\n9\n0\n0\n0\n0\n");
}

TEST_F(Dialogue, ShortRasterStopsBeforeAnyResultExists) {
  put_raster("a", kBar);
  write_file(dir_ / "images/site/a.txt", "8 9 1 0 255 1");
  RunResult r = run("site 0 a 0 128 255");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("The raster c:\\images\\site\\a.raw holds 63 bytes, but 8 lines of 9 columns need 72."),
            std::string::npos)
      << r.output;
  EXPECT_EQ(files_in_site(), 2u);
}

// Each numeric question gets a word first; it is consumed, a line says why,
// and the same question comes again.
struct WordCase {
  const char* name;
  const char* answers;
  std::string asked_again;
};

TEST_F(Dialogue, WordsAtNumericQuestionsAreAskedAgain) {
  put_raster("a", kBar);
  put_raster("n", kBar, false);
  const WordCase cases[] = {
      {"format", "site zero 0 a 0 128 255", kFormatMenu + "\n\t\"zero\" is not a whole number.\n" + kFormatMenu},
      {"result name", "site 0 a keep 0 128 255",
       result_menu("a") + "\n\t\"keep\" is not a whole number.\n" + result_menu("a")},
      {"min", "site 0 a 0 low 128 255", "Min (included) ? \n\t\"low\" is not a whole number.\n\n\t\tMin (included) ? "},
      {"max", "site 0 a 0 128 1e3 255", "Max (included) ? \n\t\"1e3\" is not a whole number.\n\t\tMax (included) ? "},
  };
  for (const auto& c : cases) {
    RunResult r = run(c.answers);
    EXPECT_EQ(r.status, 0) << c.name;
    EXPECT_NE(r.output.find(c.asked_again), std::string::npos) << c.name << "\n" << r.output;
    EXPECT_EQ(file("a_reg.raw"), plane_bytes(picture_to_plane(kBarSkeleton, 1, 255))) << c.name;
  }
  RunResult r = run("site 0 n seven 7 nine 9 five 5 0 128 255");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(file("n.txt"), "7\n9\n1\n0\n255\n5\n");
  EXPECT_EQ(count(r.output, "is not a whole number"), 3u);
}

TEST_F(Dialogue, EndOfAnswersAtEveryPromptStopsWithStatusOne) {
  put_raster("a", kBar);
  put_raster("n", kBar, false);
  const std::vector<std::string> runs[] = {
      {"site", "0", "a", "0", "128", "255"},
      {"site", "0", "n", "7", "9", "5", "1", "b", "128", "255"},
  };
  for (const auto& words : runs) {
    for (size_t k = 0; k < words.size(); ++k) {
      fs::remove(dir_ / "images/site/n.txt");
      std::string answers;
      for (size_t w = 0; w < k; ++w) answers += words[w] + "\n";
      RunResult r = run(answers);
      EXPECT_EQ(r.status, 1) << answers;
      EXPECT_TRUE(r.output.ends_with("\n\tEnd of input: the dialogue is not complete, nothing more is done.\n"))
          << answers << r.output;
      EXPECT_FALSE(exists("a_reg.raw")) << answers;
      EXPECT_FALSE(exists("b_reg.raw")) << answers;
    }
  }
}

TEST_F(Dialogue, NamesLeavingTheBaseFolderAreRefusedAndAskedAgain) {
  put_raster("a", kBar);
  RunResult r = run("..\\x site 0 ../a a 1 ..\\..\\b c:b b 128 255");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(count(r.output, "is refused: it must stay inside c:\\images\\"), 4u) << r.output;
  EXPECT_NE(r.output.find("The name \"..\\x\" is refused"), std::string::npos);
  EXPECT_NE(r.output.find("is refused: it must stay inside c:\\images\\ (no \"..\", no leading \\ or /, no \":\").\n" +
                          kFolderPrompt + kFormatHeading),
            std::string::npos);
  EXPECT_TRUE(exists("b_reg.raw"));
}

TEST_F(Dialogue, ResultThatWouldReplaceTheInputIsRefused) {
  put_raster("x_reg", kBar);
  const std::string before = file("x_reg.raw");
  RunResult r = run("site 0 x_reg 1 x 1 y 128 255");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.output.find("The result would replace the input c:\\images\\site\\x_reg.raw: choose another name."),
            std::string::npos);
  EXPECT_EQ(file("x_reg.raw"), before);
  EXPECT_TRUE(exists("y_reg.raw"));
}

TEST_F(Dialogue, ResultPathTakenByAFolderStopsAndKeepsTheEarlierFiles) {
  put_raster("a", kBar);
  fs::create_directories(dir_ / "images/site/a_reg.raw");
  RunResult r = run("site 0 a 0 128 255");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("\n\tThe result c:\\images\\site\\a_reg.raw could not be written: "), std::string::npos)
      << r.output;
  EXPECT_TRUE(fs::is_directory(dir_ / "images/site/a_reg.raw"));
  // a.raw, a.txt and the folder: no temporary file, and no result
  // descriptor without its raster
  EXPECT_EQ(files_in_site(), 3u);
}

TEST_F(Dialogue, ResultFileGetsTheModeOfAnOrdinaryNewFile) {
  put_raster("a", kBar);
  RunResult r = run_solvik(dir_.path(), "site 0 a 0 128 255", {}, "umask 022 &&");
  EXPECT_EQ(r.status, 0);
  auto perms = fs::status(dir_ / "images/site/a_reg.raw").permissions();
  EXPECT_EQ(perms & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                        fs::perms::others_read);
}

TEST_F(Dialogue, HelpVersionAndUnknownArguments) {
  RunResult help = run_solvik(dir_.path(), "", {"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.output.find("Usage: solvik"), std::string::npos);
  EXPECT_NE(help.output.find("interactive"), std::string::npos);
  RunResult version = run_solvik(dir_.path(), "", {"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_TRUE(version.output.starts_with("solvik ")) << version.output;
  RunResult bad = run_solvik(dir_.path(), "", {"--frobnicate"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_EQ(bad.output, "");
  EXPECT_NE(bad.errors.find("Usage: solvik"), std::string::npos);
  EXPECT_NE(bad.errors.find("--frobnicate"), std::string::npos);
}

}  // namespace
