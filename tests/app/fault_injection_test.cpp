// Faults around the real program, in every format: results that cannot be
// created, a disk that fills while the result is written, answers that end
// early, and input files that are empty, cut short or of the wrong format.
// Each run must stop with status 1 and a message naming the file, leave no
// partial or temporary file, and keep the inputs and any earlier result
// byte for byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <cstdint>
#include <map>
#include <string>

#include "LIB/image.h"
#include "support/helpers.h"

namespace {

using namespace testing_support;
namespace fs = std::filesystem;

struct Format {
  const char* name;
  int menu;
  const char* ext;
};
const Format kFormats[] = {{"raster", 0, ".raw"}, {"bitmap", 1, ".bmp"}, {"ascii", 2, ".asc"}};

// 20 lines of 600 columns: results of several kilobytes in every format,
// while the transcript stays small.
constexpr int kLines = 20, kColumns = 600;

Plane picture() {
  Plane p(kLines, std::vector<unsigned char>(kColumns, 30));
  for (int i = 5; i < 15; ++i)
    for (int j = 10; j < 590; ++j) p[i][j] = 220;
  return p;
}

std::string grid_text(const Plane& p) {
  std::string s = "ncols " + std::to_string(kColumns) + "\nnrows " + std::to_string(kLines) +
                  "\nxllcorner 10\nyllcorner 20\ncellsize 5\nNODATA_value -9999\n";
  for (const auto& line : p) {
    for (unsigned char v : line) s += std::to_string(v) + " ";
    s += "\n";
  }
  return s;
}

std::string bmp_bytes(const fs::path& scratch, Plane p) {
  RowPointers rows(p);
  fs::path f = scratch / "scratch.bmp";
  EXPECT_EQ(SauveBMP(f.c_str(), rows.get(), kColumns, kLines, 0, nullptr), 0);
  std::string b = read_file(f);
  fs::remove(f);
  return b;
}

// Files are compared by size and a 64-bit FNV-1a digest, so a failure
// prints names rather than whole images.
std::string digest(const std::string& bytes) {
  std::uint64_t h = 1469598103934665603ull;
  for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
  return std::to_string(bytes.size()) + " bytes, " + std::to_string(h);
}

class Faults : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(site()); }
  fs::path site() { return dir_ / "images/site"; }

  void put_input(const Format& f) {
    fs::remove_all(site());
    fs::create_directories(site());
    Plane p = picture();
    if (f.menu == 0) {
      write_file(site() / "x.raw", plane_bytes(p));
      write_file(site() / "x.txt", "20\n600\n1\n0\n255\n1\n");
    }
    if (f.menu == 1) write_file(site() / "x.bmp", bmp_bytes(dir_.path(), p));
    if (f.menu == 2) write_file(site() / "x.asc", grid_text(p));
  }
  std::map<std::string, std::string> snapshot() {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(dir_ / "images"))
      files[fs::relative(e.path(), dir_.path()).string()] = e.is_regular_file() ? digest(read_file(e.path())) : "<folder>";
    return files;
  }
  std::string answers(const Format& f, const std::string& rest = "0 128 255") {
    return "site " + std::to_string(f.menu) + " x " + rest + "\n";
  }
  // What a stopped run may leave beyond the files before it: the result
  // descriptor of a raster run, which the dialogue writes before processing.
  void expect_unchanged(const std::map<std::string, std::string>& before, const std::string& what,
                        const std::string& result_descriptor = "images/site/x_reg.txt") {
    auto after = snapshot();
    after.erase(result_descriptor);
    EXPECT_EQ(after, before) << what;
  }

  TempDir dir_;
};

TEST_F(Faults, ResultPathTakenByAFolder) {
  for (const auto& f : kFormats) {
    SCOPED_TRACE(f.name);
    put_input(f);
    fs::create_directories(site() / (std::string("x_reg") + f.ext));
    auto before = snapshot();
    RunResult r = run_solvik(dir_.path(), answers(f));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find(std::string("The result c:\\images\\site\\x_reg") + f.ext + " could not be written"),
              std::string::npos)
        << r.output;
    expect_unchanged(before, f.name);
  }
}

TEST_F(Faults, ResultInAMissingFolder) {
  for (const auto& f : kFormats) {
    SCOPED_TRACE(f.name);
    put_input(f);
    auto before = snapshot();
    RunResult r = run_solvik(dir_.path(), answers(f, "1 nowhere\\y 128 255"));
    EXPECT_EQ(r.status, 1);
    std::string named = std::string("c:\\images\\site\\nowhere\\y_reg") + f.ext;
    EXPECT_NE(r.output.find("The result " + named + " could not be written"), std::string::npos) << r.output;
    expect_unchanged(before, f.name);
  }
}

TEST_F(Faults, DiskFillsWhileTheResultIsWritten) {
  for (const auto& f : kFormats) {
    SCOPED_TRACE(f.name);
    put_input(f);
    const std::string earlier = std::string("x_reg") + f.ext;
    write_file(site() / earlier, "an earlier result");
    auto before = snapshot();
    // files may grow to 16 blocks of 512 bytes; writing past that fails
    // (with SIGXFSZ ignored) instead of killing the program
    RunResult r = run_solvik(dir_.path(), answers(f), {}, "trap '' XFSZ; ulimit -f 16;");
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("The result c:\\images\\site\\" + earlier + " could not be written"), std::string::npos)
        << r.output;
    expect_unchanged(before, f.name);
    EXPECT_EQ(read_file(site() / earlier), "an earlier result");
  }
}

TEST_F(Faults, AnswersEndingAtEveryPrompt) {
  for (const auto& f : kFormats) {
    SCOPED_TRACE(f.name);
    put_input(f);
    auto before = snapshot();
    const std::vector<std::string> words = {"site", std::to_string(f.menu), "x", "1", "y", "128", "255"};
    for (size_t k = 0; k < words.size(); ++k) {
      std::string a;
      for (size_t w = 0; w < k; ++w) a += words[w] + " ";
      RunResult r = run_solvik(dir_.path(), a);
      EXPECT_EQ(r.status, 1) << a;
      EXPECT_NE(r.output.find("End of input"), std::string::npos) << a;
      expect_unchanged(before, a, "images/site/y_reg.txt");
    }
  }
}

struct BadInput {
  const char* what;
  int menu;
  std::map<std::string, std::string> files;  // name in images/site -> bytes
  std::string message;                       // part of the last message
};

std::vector<BadInput> bad_inputs(const fs::path& scratch) {
  Plane p = picture();
  const std::string raw = plane_bytes(p), bmp = bmp_bytes(scratch, p), grid = grid_text(p);
  std::vector<BadInput> v = {
      {"empty raster", 0, {{"x.raw", ""}, {"x.txt", "20 600 1 0 255 1"}}, "c:\\images\\site\\x.raw holds 0 bytes"},
      {"raster cut short", 0, {{"x.raw", raw.substr(0, 5000)}, {"x.txt", "20 600 1 0 255 1"}},
       "c:\\images\\site\\x.raw holds 5000 bytes"},
      {"empty descriptor", 0, {{"x.raw", raw}, {"x.txt", ""}}, "descriptor c:\\images\\site\\x.txt gives 0 lines"},
      {"grid chosen as raster descriptor", 0, {{"x.raw", raw}, {"x.txt", grid}},
       "descriptor c:\\images\\site\\x.txt gives 0 lines"},
      {"bitmap chosen as raster", 0, {{"x.raw", bmp}, {"x.txt", bmp}}, "descriptor c:\\images\\site\\x.txt gives 0 lines"},
      {"empty bitmap", 1, {{"x.bmp", ""}}, "No File  c:\\images\\site\\x.bmp"},
      {"grid chosen as bitmap", 1, {{"x.bmp", grid}}, "No File  c:\\images\\site\\x.bmp"},
      {"empty grid", 2, {{"x.asc", ""}}, "c:\\images\\site\\x.asc"},
      {"bitmap chosen as grid", 2, {{"x.asc", bmp}}, "c:\\images\\site\\x.asc"},
  };
  // a bitmap cut at every boundary of its layout and inside the rows
  for (size_t cut : {size_t{2}, size_t{14}, size_t{53}, size_t{54}, size_t{1000}, size_t{1078}, size_t{1079},
                     bmp.size() - 1})
    v.push_back({"bitmap cut", 1, {{"x.bmp", bmp.substr(0, cut)}}, "No File  c:\\images\\site\\x.bmp"});
  // a grid cut after each header line and inside the values
  size_t at = 0;
  for (int line = 0; line < 7; ++line) {
    at = grid.find('\n', at) + 1;
    v.push_back({"grid cut", 2, {{"x.asc", grid.substr(0, at)}}, "c:\\images\\site\\x.asc"});
  }
  v.push_back({"grid cut in a line", 2, {{"x.asc", grid.substr(0, grid.size() / 2)}}, "c:\\images\\site\\x.asc"});
  return v;
}

TEST_F(Faults, InputsEmptyCutShortOrOfTheWrongFormat) {
  for (const auto& b : bad_inputs(dir_.path())) {
    fs::remove_all(site());
    fs::create_directories(site());
    for (const auto& [name, bytes] : b.files) write_file(site() / name, bytes);
    auto before = snapshot();
    RunResult r = run_solvik(dir_.path(), "site " + std::to_string(b.menu) + " x 0 128 255\n");
    const std::string what = std::string(b.what) + " (" + std::to_string(b.files.begin()->second.size()) + " bytes)";
    EXPECT_EQ(r.status, 1) << what << r.output;
    // the stop is the last message, or the one before the line that says
    // why an existing file cannot be read
    size_t last = r.output.rfind("\n\t");
    EXPECT_NE(last, std::string::npos) << what;
    if (last != std::string::npos && r.output.compare(last, 27, "\n\tThe file cannot be read: ") == 0)
      last = r.output.rfind("\n\t", last - 1);
    if (last != std::string::npos) {
      EXPECT_NE(r.output.substr(last).find(b.message), std::string::npos) << what << ":" << r.output.substr(last);
    }
    expect_unchanged(before, what);
  }
}

}  // namespace
