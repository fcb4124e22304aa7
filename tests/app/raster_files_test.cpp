// Raster images and descriptors, driven in-process in a temporary working
// folder (the working folder stands for drive C:).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "app/state.h"
#include "app/files.h"
#include "platform/console.h"
#include "platform/host.h"
#include "support/console_capture.h"
#include "support/helpers.h"

namespace {

using namespace testing_support;

class RasterFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_state();
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
    std::filesystem::create_directories("images/site");
    con_use_memory_input("");
  }
  void TearDown() override {
    std::filesystem::current_path(previous_);
    reset_state();
  }
  std::string console() const { return console_.text(); }
  // Runs `body`; returns the status it stopped with, or -1 when it did not stop.
  template <typename F>
  int stopped(F body) {
    try {
      body();
    } catch (const RunStopped& s) {
      return s.status;
    }
    return -1;
  }

  TempDir dir_;
  std::filesystem::path previous_;
  ConsoleCapture console_;
};

const char* kDescr = "c:\\images\\site\\a.txt";
const char* kRaw = "c:\\images\\site\\a.raw";

struct DescriptorCase {
  const char* name;
  const char* text;
  int values[6];
};

const DescriptorCase kDescriptorCases[] = {
    {"six lines", "480\n512\n1\n0\n255\n30\n", {480, 512, 1, 0, 255, 30}},
    {"one line of blanks", "480 512 1 0 255 30", {480, 512, 1, 0, 255, 30}},
    {"tabs and CR LF", "480\r\n512\t1\r\n0\r\n255\r\n30\r\n", {480, 512, 1, 0, 255, 30}},
    {"only two values", "480\n512\n", {480, 512, 0, 0, 0, 0}},
    {"text stops the reading", "480 512 7 x 9 9", {480, 512, 7, 0, 0, 0}},
    {"signed values", "+3 4 -1 -2 +5 6", {3, 4, -1, -2, 5, 6}},
};

TEST_F(RasterFiles, DescriptorLayouts) {
  for (const auto& c : kDescriptorCases) {
    reset_state();
    write_file("images/site/a.txt", c.text);
    ChargeDescr(kDescr);
    const int got[6] = {nb_lig, nb_col, type, min_al, max_al, taille_pix};
    for (int k = 0; k < 6; ++k) EXPECT_EQ(got[k], c.values[k]) << c.name << ", value " << k + 1;
    EXPECT_EQ(f1d, nullptr) << c.name;
  }
}

struct BadDescriptor {
  const char* text;
  const char* message;
};

const BadDescriptor kBadDescriptors[] = {
    {"0 512 1 0 255 1", "gives 0 lines and 512 columns"},
    {"480 0", "gives 480 lines and 0 columns"},
    {"-3 4", "gives -3 lines and 4 columns"},
    {"", "gives 0 lines and 0 columns"},
    {"word", "gives 0 lines and 0 columns"},
    {"99999999999 4", "too large"},
};

TEST_F(RasterFiles, DescriptorsWithoutAnImageStopTheRun) {
  for (const auto& c : kBadDescriptors) {
    reset_state();
    write_file("images/site/a.txt", c.text);
    EXPECT_EQ(stopped([] { ChargeDescr(kDescr); }), 1) << c.text;
    std::string out = console();
    EXPECT_NE(out.find(kDescr), std::string::npos) << c.text;
    EXPECT_NE(out.find(c.message), std::string::npos) << out;
  }
}

// The descriptor asked for is created once the raster has been read with
// the size it gives.
void read_raster_of(int bytes) {
  write_file("images/site/a.raw", std::string(static_cast<std::size_t>(bytes), '\0'));
  f1 = host_open(kRaw, "rb");
  ChargeRAW(kRaw);
}

TEST_F(RasterFiles, MissingDescriptorIsCreatedFromTheAnswers) {
  con_use_memory_input("100 200 5");
  ChargeDescr(kDescr);
  EXPECT_FALSE(std::filesystem::exists("images/site/a.txt"));
  read_raster_of(100 * 200);
  EXPECT_EQ(read_file("images/site/a.txt"), "100\n200\n1\n0\n255\n5\n");
  EXPECT_EQ(console(),
            "\n\tNo File  c:\\images\\site\\a.txt \n\n"
            "\n\t\tNumber of lines   ? \n\t\tNumber of columns ? \n\t\tpixel size? ");
  EXPECT_EQ(nb_lig, 100);
  EXPECT_EQ(taille_pix, 5);
}

TEST_F(RasterFiles, CreationQuestionsAskAgainForSizesBelowOneAndForWords) {
  con_use_memory_input("0 -4 many 3 2x 2 pix 7");
  ChargeDescr(kDescr);
  read_raster_of(3 * 2);
  EXPECT_EQ(read_file("images/site/a.txt"), "3\n2\n1\n0\n255\n7\n");
  std::string out = console();
  // lines asked 4 times, columns twice, pixel size twice
  auto count = [&out](const std::string& s) {
    size_t n = 0;
    for (size_t p = out.find(s); p != std::string::npos; p = out.find(s, p + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("Number of lines   ? "), 4u);
  EXPECT_EQ(count("Number of columns ? "), 2u);
  EXPECT_EQ(count("pixel size? "), 2u);
  EXPECT_NE(out.find("\"many\" is not a whole number"), std::string::npos);
}

TEST_F(RasterFiles, EndOfAnswersWhileCreatingTheDescriptorStopsWithoutCreatingIt) {
  con_use_memory_input("100 ");
  EXPECT_EQ(stopped([] { ChargeDescr(kDescr); }), 1);
  EXPECT_FALSE(std::filesystem::exists("images/site/a.txt"));
}

TEST_F(RasterFiles, RasterFillsThePlaneLineByLine) {
  std::string bytes;
  for (int k = 0; k < 12; ++k) bytes.push_back(static_cast<char>(k * 20));
  struct Case {
    const char* name;
    std::string file;
  } cases[] = {{"exact", bytes}, {"longer", bytes + "extra bytes are ignored"}};
  for (const auto& c : cases) {
    reset_state();
    write_file("images/site/a.raw", c.file);
    nb_lig = 3;
    nb_col = 4;
    f1 = host_open(kRaw, "rb");
    ChargeRAW(kRaw);
    EXPECT_EQ(f1, nullptr);
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 4; ++j) EXPECT_EQ(tab2[i][j], (i * 4 + j) * 20) << c.name;
  }
}

TEST_F(RasterFiles, ShortRasterStopsNamingBothSizes) {
  write_file("images/site/a.raw", std::string(11, '\x07'));
  nb_lig = 3;
  nb_col = 4;
  f1 = host_open(kRaw, "rb");
  EXPECT_EQ(stopped([] { ChargeRAW(kRaw); }), 1);
  EXPECT_EQ(f1, nullptr);
  EXPECT_EQ(tab2, nullptr);  // nothing allocated for a file that cannot fill it
  EXPECT_EQ(console(), "\n\tThe raster c:\\images\\site\\a.raw holds 11 bytes, but 3 lines of 4 columns need 12.\n");
}

TEST_F(RasterFiles, ResultRasterIsLinesTimesColumnsLineZeroFirst) {
  Plane p = picture_to_plane({"1FF", "F1F"});
  RowPointers rows(p);
  tab = rows.get();
  nb_lig = 2;
  nb_col = 3;
  SauveRAW("c:\\images\\site\\a_reg.raw");
  tab = nullptr;  // owned by the test
  EXPECT_EQ(read_file("images/site/a_reg.raw"), std::string("\x01\xff\xff\xff\x01\xff"));
  // no temporary file is left beside it
  int files = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator("images/site")) ++files;
  EXPECT_EQ(files, 1);
}

TEST_F(RasterFiles, ResultThatCannotBeWrittenStopsAndKeepsNothing) {
  std::filesystem::create_directories("images/site/a_reg.raw");  // a folder stands in the way
  Plane p = picture_to_plane({"1F"});
  RowPointers rows(p);
  tab = rows.get();
  nb_lig = 1;
  nb_col = 2;
  EXPECT_EQ(stopped([] { SauveRAW("c:\\images\\site\\a_reg.raw"); }), 1);
  EXPECT_EQ(stopped([] { SauveRAW("c:\\images\\nowhere\\a_reg.raw"); }), 1);
  tab = nullptr;
  std::string out = console();
  EXPECT_NE(out.find("The result c:\\images\\site\\a_reg.raw could not be written"), std::string::npos) << out;
  EXPECT_NE(out.find("The result c:\\images\\nowhere\\a_reg.raw could not be written"), std::string::npos) << out;
  int files = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator("images/site")) ++files;
  EXPECT_EQ(files, 1);
}

}  // namespace
