// Bitmap runs of the real program in a temporary working folder: the result
// is an 8-bit grey BMP of the input's size holding the same skeleton as the
// raster format gives for the same picture; 24-bit pictures are thinned on
// their luma; unreadable or empty bitmaps stop the run and create nothing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "LIB/NRUTIL.h"
#include "LIB/image.h"
#include "support/helpers.h"

namespace {

using namespace testing_support;
namespace fs = std::filesystem;

const std::string kAnswers = "site\n1\nx\n0\n128\n255\n";
const std::string kInput = "images/site/x.bmp";
const std::string kResult = "images/site/x_reg.bmp";

// A filled bar at lines 2-4, columns 1-7 of a 7 x 9 image, and its skeleton.
const std::vector<std::string> kBar = {
    ".........", ".........", ".#######.", ".#######.", ".#######.", ".........", ".........",
};
const std::vector<std::string> kBarSkeleton = {
    ".........", ".........", ".........", "..#####..", ".........", ".........", ".........",
};

// A shape with a branch, so that a mix-up of lines, columns or row order
// shows in the result.
const std::vector<std::string> kEll = {
    "...........", ".##........", ".##........", ".##........", ".##..###...",
    ".########..", ".########..", "...........",
};

void save_bmp(const fs::path& p, Plane plane, int cols, int type, const Color32* cm = nullptr) {
  fs::create_directories(p.parent_path());
  RowPointers rows(plane);
  ASSERT_EQ(SauveBMP(p.c_str(), rows.get(), cols, static_cast<int>(plane.size()), type, cm), 0);
}

struct Bitmap {
  bool ok = false;
  int cols = 0, lines = 0, type = -1;
  Plane plane;
};

Bitmap load_bmp(const fs::path& p) {
  Bitmap b;
  Color32* cm = nullptr;
  unsigned char** m = ChargeBMP(p.c_str(), &b.cols, &b.lines, &b.type, &cm);
  if (!m) return b;
  b.ok = true;
  for (int i = 0; i < b.lines; ++i) b.plane.emplace_back(m[i], m[i] + b.cols * (b.type == 2 ? 3 : 1));
  frucmatrice(m, b.lines);
  return b;
}

// The result of a picture put through the raster format with the same
// answers: the reference that every bitmap run is compared with.
std::string raster_result(const Plane& grey) {
  TempDir dir;
  const int lines = static_cast<int>(grey.size()), cols = static_cast<int>(grey[0].size());
  write_file(dir / "images/site/x.raw", plane_bytes(grey));
  write_file(dir / "images/site/x.txt", std::to_string(lines) + "\n" + std::to_string(cols) + "\n1\n0\n255\n1\n");
  const RunResult r = run_solvik(dir.path(), "site\n0\nx\n0\n128\n255\n");
  EXPECT_EQ(r.status, 0) << r.output;
  return read_file(dir / "images/site/x_reg.raw");
}

// Checks that the run's result file is an 8-bit grey-ramp BMP of the given
// size and returns its pixels as one byte string, line 0 first.
std::string result_pixels(const fs::path& p, int lines, int cols) {
  const std::string file = read_file(p);
  EXPECT_EQ(static_cast<long long>(file.size()), 1078 + lines * TBuff(cols, 1));
  const Bitmap b = load_bmp(p);
  EXPECT_TRUE(b.ok);
  EXPECT_EQ(b.type, 0) << "written with the grey ramp";
  EXPECT_EQ(b.lines, lines);
  EXPECT_EQ(b.cols, cols);
  return plane_bytes(b.plane);
}

TEST(BitmapRun, BarGivesItsSkeletonAsAGreyBitmap) {
  TempDir dir;
  const Plane grey = picture_to_plane(kBar, 200, 0);
  save_bmp(dir / kInput, grey, 9, 0);
  const std::string input = read_file(dir / kInput);

  const RunResult r = run_solvik(dir.path(), kAnswers);
  ASSERT_EQ(r.status, 0) << r.output << r.errors;
  EXPECT_NE(r.output.find("\n\tTHE IMAGE HAS:  \n\t            7 LINES\n\t        AND 9 COLUMNS"), std::string::npos);
  EXPECT_NE(r.output.find("\n\tsaving bitmap c:\\images\\site\\x_reg.bmp "), std::string::npos) << r.output;

  const std::string pixels = result_pixels(dir / kResult, 7, 9);
  EXPECT_EQ(pixels, plane_bytes(picture_to_plane(kBarSkeleton, 1, 255)));
  EXPECT_EQ(pixels, raster_result(grey));
  EXPECT_EQ(read_file(dir / kInput), input) << "the input is left as it was";
}

// Every row padding, and a colour palette (whose indices are the grey
// levels), give what the raster format gives.
TEST(BitmapRun, EightBitPicturesMatchTheRasterFormat) {
  const auto colours = [] {
    std::vector<Color32> cm(256);
    for (int k = 0; k < 256; ++k) cm[k] = {static_cast<std::uint8_t>(k / 2), 0, static_cast<std::uint8_t>(255 - k), 0};
    return cm;
  }();
  for (const int type : {0, 1}) {
    SCOPED_TRACE(type == 0 ? "grey ramp" : "colour palette");
    std::vector<std::string> ell = kEll;
    for (int extra = 0; extra < 4; ++extra) {
      SCOPED_TRACE(std::to_string(ell[0].size()) + " columns");
      TempDir dir;
      const Plane grey = picture_to_plane(ell, 130, 127);
      const int cols = static_cast<int>(ell[0].size()), lines = static_cast<int>(ell.size());
      save_bmp(dir / kInput, grey, cols, type, type == 1 ? colours.data() : nullptr);
      const RunResult r = run_solvik(dir.path(), kAnswers);
      ASSERT_EQ(r.status, 0) << r.output << r.errors;
      EXPECT_EQ(result_pixels(dir / kResult, lines, cols), raster_result(grey));
      for (auto& row : ell) row += '.';
    }
  }
}

// Rounded BT.601 luma, as the program turns a 24-bit pixel into a grey level.
unsigned char luma(const Color32& c) {
  return static_cast<unsigned char>((19595u * c.R + 38470u * c.G + 7471u * c.B + 32768u) >> 16);
}

TEST(BitmapRun, TwentyFourBitPicturesAreThinnedOnTheirLuma) {
  // in the window [128, 255]: luma 168; pure green 150 (blue byte 0);
  // (0, 218, 0) 128 only thanks to the rounding
  const Color32 in_a{20, 180, 200, 0}, in_green{0, 255, 0, 0}, in_rounded{0, 218, 0, 0};
  // out of the window: pure blue (blue byte 255, luma 29); (0, 217, 0) 127;
  // black
  const Color32 out_blue{255, 0, 0, 0}, out_near{0, 217, 0, 0}, out_black{0, 0, 0, 0};
  ASSERT_EQ(luma(in_a), 168);
  ASSERT_EQ(luma(in_green), 150);
  ASSERT_EQ(luma(in_rounded), 128);
  ASSERT_EQ(luma(out_blue), 29);
  ASSERT_EQ(luma(out_near), 127);

  const Color32 inside[] = {in_a, in_green, in_rounded};
  const Color32 outside[] = {out_blue, out_near, out_black};
  const std::vector<std::vector<std::string>> pictures = {kBar, kEll};
  for (const auto& picture : pictures) {
    TempDir dir;
    const int lines = static_cast<int>(picture.size()), cols = static_cast<int>(picture[0].size());
    Plane bgr(static_cast<std::size_t>(lines)), grey(static_cast<std::size_t>(lines));
    for (int i = 0; i < lines; ++i) {
      for (int j = 0; j < cols; ++j) {
        const Color32 c = picture[i][j] == '#' ? inside[(i + j) % 3] : outside[(i * 2 + j) % 3];
        bgr[i].insert(bgr[i].end(), {c.B, c.G, c.R});
        grey[i].push_back(luma(c));
      }
    }
    save_bmp(dir / kInput, bgr, cols, 2);
    save_bmp(dir / "images/site/g.bmp", grey, cols, 0);
    const std::string input = read_file(dir / kInput);

    const RunResult r = run_solvik(dir.path(), kAnswers);
    ASSERT_EQ(r.status, 0) << r.output << r.errors;
    const RunResult rg = run_solvik(dir.path(), "site\n1\ng\n0\n128\n255\n");
    ASSERT_EQ(rg.status, 0) << rg.output << rg.errors;

    const std::string pixels = result_pixels(dir / kResult, lines, cols);
    EXPECT_EQ(pixels, result_pixels(dir / "images/site/g_reg.bmp", lines, cols));
    EXPECT_EQ(pixels, raster_result(picture_to_plane(picture, 200, 0)));
    if (picture == kBar) {
      EXPECT_EQ(pixels, plane_bytes(picture_to_plane(kBarSkeleton, 1, 255)));
    }
    EXPECT_EQ(read_file(dir / kInput), input);
  }
}

// Files the reader refuses: the run stops with the file's name, a key wait
// and status 1, and nothing is created.
struct Refused {
  const char* name;
  std::function<void(std::string&)> change;  // of a valid 8-bit 7 x 9 file
};

const std::vector<Refused> kRefused = {
    {"16 bits", [](std::string& b) { b[28] = 16; }},
    {"signature", [](std::string& b) { b[0] = 'X'; }},
    {"compression 1", [](std::string& b) { b[30] = 1; }},
    {"width 32768", [](std::string& b) { b[18] = 0, b[19] = static_cast<char>(0x80); }},
    {"top-down", [](std::string& b) { b[22] = b[23] = b[24] = b[25] = static_cast<char>(0xFF); }},
    {"cut in the rows", [](std::string& b) { b.resize(b.size() - 1); }},
    {"cut in the header", [](std::string& b) { b.resize(20); }},
};

TEST(BitmapRun, MissingOrRefusedFileStopsWithNoFile) {
  const std::string message = "\n\tNo File  c:\\images\\site\\x.bmp \n";
  {
    SCOPED_TRACE("missing");
    TempDir dir;
    fs::create_directories(dir / "images/site");
    const RunResult r = run_solvik(dir.path(), kAnswers);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find(message), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("THE IMAGE HAS"), std::string::npos);
    EXPECT_TRUE(fs::is_empty(dir / "images/site"));
  }
  for (const auto& c : kRefused) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    save_bmp(dir / kInput, picture_to_plane(kBar, 200, 0), 9, 0);
    std::string bytes = read_file(dir / kInput);
    c.change(bytes);
    write_file(dir / kInput, bytes);
    const RunResult r = run_solvik(dir.path(), kAnswers);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find(message), std::string::npos) << r.output;
    EXPECT_EQ(read_file(dir / kInput), bytes);
    int entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir / "images/site")) ++entries;
    EXPECT_EQ(entries, 1) << "nothing but the input";
  }
}

TEST(BitmapRun, EmptyBitmapStopsNamingTheFile) {
  struct Case {
    int cols, lines, type;
  };
  for (const Case c : {Case{0, 3, 0}, Case{4, 0, 0}, Case{0, 2, 2}}) {
    SCOPED_TRACE(std::to_string(c.cols) + "x" + std::to_string(c.lines));
    TempDir dir;
    save_bmp(dir / kInput, Plane(static_cast<std::size_t>(c.lines)), c.cols, c.type);
    const RunResult r = run_solvik(dir.path(), kAnswers);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("c:\\images\\site\\x.bmp"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("No File"), std::string::npos) << "the file was read; it is its size that stops the run";
    EXPECT_FALSE(fs::exists(dir / kResult));
  }
}

}  // namespace
