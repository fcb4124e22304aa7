// BMP files: the written layout byte for byte, round trips for every row
// padding, palettes and types, and a table of files the reader must refuse
// (without leaking memory or file descriptors).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "LIB/NRUTIL.h"
#include "LIB/image.h"
#include "platform/failure.h"
#include "support/helpers.h"

namespace {

namespace fs = std::filesystem;
using testing_support::Plane;
using testing_support::read_file;
using testing_support::RowPointers;
using testing_support::TempDir;
using testing_support::write_file;

unsigned get16(const std::string& b, std::size_t at) {
  return static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8;
}

unsigned get32(const std::string& b, std::size_t at) {
  return get16(b, at) | get16(b, at + 2) << 16;
}

void set16(std::string& b, std::size_t at, unsigned v) {
  b[at] = static_cast<char>(v & 0xFF);
  b[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}

void set32(std::string& b, std::size_t at, unsigned v) {
  set16(b, at, v & 0xFFFF);
  set16(b, at + 2, v >> 16);
}

// `lines` lines of `bytes` bytes, every byte different from its neighbours
// (and none of them 0, so a lost byte cannot pass for a pad byte).
Plane make_plane(int bytes, int lines, int seed = 0) {
  Plane p(static_cast<std::size_t>(lines));
  for (int i = 0; i < lines; ++i)
    for (int j = 0; j < bytes; ++j) p[i].push_back(static_cast<unsigned char>(1 + (seed + 37 * i + 11 * j) % 254));
  return p;
}

std::vector<Color32> ramp() {
  std::vector<Color32> cm;
  for (int k = 0; k < 256; ++k) {
    auto v = static_cast<std::uint8_t>(k);
    cm.push_back({v, v, v, 0});
  }
  return cm;
}

std::vector<Color32> colour_palette() {
  std::vector<Color32> cm;
  for (int k = 0; k < 256; ++k)
    cm.push_back({static_cast<std::uint8_t>(255 - k), static_cast<std::uint8_t>(k * 3), static_cast<std::uint8_t>(k),
                  static_cast<std::uint8_t>(k & 1)});
  return cm;
}

int save(const fs::path& path, Plane plane, int cols, int lines, int type, const Color32* cm = nullptr) {
  RowPointers rows(plane);
  return SauveBMP(path.c_str(), rows.get(), cols, lines, type, cm);
}

// What ChargeBMP handed back, copied out and released.
struct Loaded {
  bool ok = false;
  int cols = -7, lines = -7, type = -7;
  Plane plane;
  bool palette_given = false;
  std::vector<Color32> palette;
};

Loaded load(const fs::path& path, bool want_palette = false) {
  Loaded r;
  Color32 dummy{};
  Color32* cm = want_palette ? &dummy : nullptr;
  unsigned char** m = ChargeBMP(path.c_str(), &r.cols, &r.lines, &r.type, &cm);
  if (want_palette) {
    EXPECT_NE(cm, &dummy) << "the palette pointer must be replaced at once";
    r.palette_given = cm != nullptr && cm != &dummy;
    if (r.palette_given) {
      r.palette.assign(cm, cm + 256);
      std::free(cm);
    }
  } else {
    EXPECT_EQ(cm, nullptr);
  }
  r.ok = m != nullptr;
  if (!m) return r;
  const int per_col = r.type == 2 ? 3 : 1;
  for (int i = 0; i < r.lines; ++i) r.plane.emplace_back(m[i], m[i] + r.cols * per_col);
  frucmatrice(m, r.lines);  // the rows are released exactly like ucmatrice rows
  return r;
}

int open_descriptors() {
  int n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

// The 54 header bytes of a 5 x 3 8-bit file, written out by hand.
const unsigned char kHeader5x3[54] = {
    'B',  'M',  0x4E, 0x04, 0, 0,     // BfType, BfSize 1102
    0,    0,    0,    0,              // Res1, Res2
    0x36, 0x04, 0,    0,              // BfOffBits 1078
    40,   0,    0,    0,              // BiSize
    5,    0,    0,    0,              // BiWidth
    3,    0,    0,    0,              // BiHeight
    1,    0,    8,    0,              // BiPlanes, BiBitCount
    0,    0,    0,    0,              // BiCompression
    24,   0,    0,    0,              // BiSizeImage
    0x10, 0x27, 0,    0,              // BiXPelsPerMeter 10000
    0x10, 0x27, 0,    0,              // BiYPelsPerMeter 10000
    0,    0,    0,    0,    0, 0, 0, 0,  // BiClrUsed, BiClrImportant
};

TEST(SauveBMP, HeaderOfFiveByThreeGreyIsByteExact) {
  TempDir dir;
  ASSERT_EQ(save(dir / "a.bmp", make_plane(5, 3), 5, 3, 0), 0);
  const std::string b = read_file(dir / "a.bmp");
  ASSERT_EQ(b.size(), 1102u);
  EXPECT_EQ(b.substr(0, 54), std::string(reinterpret_cast<const char*>(kHeader5x3), 54));
}

struct LayoutCase {
  const char* name;
  int cols, lines, type;
  bool colour_palette;
  unsigned tbuff, size_image, offset, file_size;
};

const LayoutCase kLayouts[] = {
    {"8-bit 5x3", 5, 3, 0, false, 8, 24, 1078, 1102},
    {"8-bit 5x3 type 1 null palette", 5, 3, 1, false, 8, 24, 1078, 1102},
    {"8-bit 5x3 type 1 colour palette", 5, 3, 1, true, 8, 24, 1078, 1102},
    {"24-bit 5x3", 5, 3, 2, false, 16, 48, 54, 102},
    {"24-bit 5x3 palette not written", 5, 3, 2, true, 16, 48, 54, 102},
    {"8-bit 8 columns, no pad", 8, 2, 0, false, 8, 16, 1078, 1094},
    {"8-bit 1x1", 1, 1, 0, false, 4, 4, 1078, 1082},
    {"24-bit 4 columns, no pad", 4, 2, 2, false, 12, 24, 54, 78},
    {"24-bit 1x1", 1, 1, 2, false, 4, 4, 54, 58},
    {"24-bit 7x1", 7, 1, 2, false, 24, 24, 54, 78},
};

TEST(SauveBMP, LayoutOfHeaderPaletteAndRows) {
  for (const auto& c : kLayouts) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const int taille = c.type == 2 ? 3 : 1;
    const Plane plane = make_plane(c.cols * taille, c.lines);
    const auto colours = colour_palette();
    ASSERT_EQ(save(dir / "a.bmp", plane, c.cols, c.lines, c.type, c.colour_palette ? colours.data() : nullptr), 0);
    const std::string b = read_file(dir / "a.bmp");
    ASSERT_EQ(b.size(), c.file_size);
    EXPECT_EQ(TBuff(c.cols, taille), c.tbuff);
    EXPECT_EQ(get16(b, 0), 19778u);
    EXPECT_EQ(get32(b, 2), c.file_size);
    EXPECT_EQ(get32(b, 6), 0u);
    EXPECT_EQ(get32(b, 10), c.offset);
    EXPECT_EQ(get32(b, 14), 40u);
    EXPECT_EQ(get32(b, 18), static_cast<unsigned>(c.cols));
    EXPECT_EQ(get32(b, 22), static_cast<unsigned>(c.lines));
    EXPECT_EQ(get16(b, 26), 1u);
    EXPECT_EQ(get16(b, 28), c.type == 2 ? 24u : 8u);
    EXPECT_EQ(get32(b, 30), 0u);
    EXPECT_EQ(get32(b, 34), c.size_image);
    EXPECT_EQ(get32(b, 38), 10000u);
    EXPECT_EQ(get32(b, 42), 10000u);
    EXPECT_EQ(get32(b, 46), 0u);
    EXPECT_EQ(get32(b, 50), 0u);
    if (c.type != 2) {
      for (int k = 0; k < 256; ++k) {
        const Color32 e = c.colour_palette ? colours[k] : Color32{static_cast<std::uint8_t>(k), static_cast<std::uint8_t>(k),
                                                                static_cast<std::uint8_t>(k), 0};
        const std::size_t at = 54 + 4 * static_cast<std::size_t>(k);
        ASSERT_EQ(static_cast<unsigned char>(b[at]), e.B) << k;
        ASSERT_EQ(static_cast<unsigned char>(b[at + 1]), e.G) << k;
        ASSERT_EQ(static_cast<unsigned char>(b[at + 2]), e.R) << k;
        ASSERT_EQ(static_cast<unsigned char>(b[at + 3]), e.O) << k;
      }
    }
    // bottom line first, each row its pixel bytes then zero pad bytes
    for (int r = 0; r < c.lines; ++r) {
      const auto& line = plane[static_cast<std::size_t>(c.lines - 1 - r)];
      std::string expected(line.begin(), line.end());
      expected.resize(c.tbuff, '\0');
      EXPECT_EQ(b.substr(c.offset + r * c.tbuff, c.tbuff), expected) << "stored row " << r;
    }
  }
}

TEST(SauveBMP, FiveByThreeFirstStoredRowIsLineTwo) {
  TempDir dir;
  Plane p = {{10, 11, 12, 13, 14}, {20, 21, 22, 23, 24}, {30, 31, 32, 33, 34}};
  ASSERT_EQ(save(dir / "a.bmp", p, 5, 3, 0), 0);
  const std::string b = read_file(dir / "a.bmp");
  ASSERT_EQ(b.size(), 1102u);
  EXPECT_EQ(b.substr(54, 8), std::string("\0\0\0\0\1\1\1\0", 8));
  EXPECT_EQ(b.substr(1074, 4), std::string("\xFF\xFF\xFF\0", 4));
  EXPECT_EQ(b.substr(1078), std::string("\x1E\x1F\x20\x21\x22\0\0\0"
                                        "\x14\x15\x16\x17\x18\0\0\0"
                                        "\x0A\x0B\x0C\x0D\x0E\0\0\0",
                                        24));
}

struct RoundTripCase {
  const char* name;
  int type;                   // written
  const char* palette;        // "none", "ramp", "colour", "ramp with O bytes"
  int type_read;
};

const RoundTripCase kRoundTrips[] = {
    {"type 0", 0, "none", 0},
    {"type 0 with the ramp given", 0, "ramp", 0},
    {"type 1 null palette writes the ramp", 1, "none", 0},
    {"type 1 colour palette", 1, "colour", 1},
    {"type 1 ramp differing only in O", 1, "ramp with O bytes", 0},
    {"type 1 ramp differing in the last red byte", 1, "last red", 1},
    {"type 1 ramp differing in the first green byte", 1, "first green", 1},
    {"type 2", 2, "none", 2},
};

std::vector<Color32> palette_named(const std::string& name) {
  std::vector<Color32> cm = ramp();
  if (name == "colour") cm = colour_palette();
  if (name == "ramp with O bytes")
    for (int k = 0; k < 256; ++k) cm[k].O = static_cast<std::uint8_t>(255 - k);
  if (name == "last red") cm[255].R = 254;
  if (name == "first green") cm[0].G = 1;
  return cm;
}

TEST(BmpRoundTrip, EveryPaddingHeightTypeAndPalette) {
  TempDir dir;
  const fs::path file = dir / "a.bmp";
  for (const auto& c : kRoundTrips) {
    const std::string pal_name = c.palette;
    const auto cm = palette_named(pal_name);
    for (int cols = 1; cols <= 9; ++cols) {
      for (int lines = 1; lines <= 3; ++lines) {
        SCOPED_TRACE(std::string(c.name) + " " + std::to_string(cols) + "x" + std::to_string(lines));
        const int taille = c.type == 2 ? 3 : 1;
        const Plane plane = make_plane(cols * taille, lines, cols * 7 + lines);
        ASSERT_EQ(save(file, plane, cols, lines, c.type, pal_name == "none" ? nullptr : cm.data()), 0);
        const std::string b = read_file(file);
        const long long tbuff = TBuff(cols, taille);
        ASSERT_EQ(static_cast<long long>(b.size()), (c.type == 2 ? 54 : 1078) + lines * tbuff);
        for (const bool want_palette : {false, true}) {
          const Loaded r = load(file, want_palette);
          ASSERT_TRUE(r.ok);
          EXPECT_EQ(r.cols, cols);
          EXPECT_EQ(r.lines, lines);
          EXPECT_EQ(r.type, c.type_read);
          EXPECT_EQ(r.plane, plane);
          if (want_palette && c.type != 2) {
            ASSERT_TRUE(r.palette_given);
            const auto expected = pal_name == "none" ? ramp() : cm;
            EXPECT_EQ(0, std::memcmp(r.palette.data(), expected.data(), 1024));
          }
        }
      }
    }
  }
}

TEST(BmpRoundTrip, TypeAndPaletteReadBackWriteTheSameFile) {
  TempDir dir;
  const auto cm = colour_palette();
  ASSERT_EQ(save(dir / "a.bmp", make_plane(6, 4), 6, 4, 1, cm.data()), 0);
  int cols = 0, lines = 0, type = 0;
  Color32 ask{};
  Color32* got = &ask;
  unsigned char** m = ChargeBMP((dir / "a.bmp").c_str(), &cols, &lines, &type, &got);
  ASSERT_NE(m, nullptr);
  ASSERT_EQ(SauveBMP((dir / "b.bmp").c_str(), m, cols, lines, type, got), 0);
  EXPECT_EQ(read_file(dir / "a.bmp"), read_file(dir / "b.bmp"));
  frucmatrice(m, lines);
  std::free(got);
}

TEST(BmpRoundTrip, EmptyPictureIsReadAndReleasable) {
  struct Case {
    int cols, lines, type;
  };
  for (const Case c : {Case{0, 3, 0}, Case{4, 0, 0}, Case{0, 0, 0}, Case{0, 2, 2}, Case{5, 0, 2}}) {
    SCOPED_TRACE(std::to_string(c.cols) + "x" + std::to_string(c.lines) + " type " + std::to_string(c.type));
    TempDir dir;
    Plane p(static_cast<std::size_t>(c.lines));
    ASSERT_EQ(save(dir / "a.bmp", p, c.cols, c.lines, c.type), 0);
    EXPECT_EQ(read_file(dir / "a.bmp").size(), c.type == 2 ? 54u : 1078u);
    const Loaded r = load(dir / "a.bmp");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.cols, c.cols);
    EXPECT_EQ(r.lines, c.lines);
  }
}

TEST(BmpRoundTrip, LargestSidesAreRead) {
  TempDir dir;
  for (const auto& [cols, lines] : {std::pair{kBmpMaxSide, 1}, std::pair{1, kBmpMaxSide}}) {
    SCOPED_TRACE(std::to_string(cols) + "x" + std::to_string(lines));
    const Plane plane = make_plane(cols, lines);
    ASSERT_EQ(save(dir / "a.bmp", plane, cols, lines, 0), 0);
    const Loaded r = load(dir / "a.bmp");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.cols, cols);
    EXPECT_EQ(r.lines, lines);
    EXPECT_TRUE(r.plane == plane);
  }
}

// A valid file, then one change: the reader must still accept it.
struct Edit {
  const char* name;
  int type;  // of the valid file: 0 (8-bit, 4x3) or 2 (24-bit, 4x3)
  std::function<void(std::string&)> change;
};

const std::vector<Edit> kAccepted = {
    {"24-bit, compression 3", 2, [](std::string& b) { set32(b, 30, 3); }},
    {"8-bit, compression 2", 0, [](std::string& b) { set32(b, 30, 2); }},
    {"BfSize wrong", 0, [](std::string& b) { set32(b, 2, 7); }},
    {"BiSize 124", 2, [](std::string& b) { set32(b, 14, 124); }},
    {"BiPlanes 3", 0, [](std::string& b) { set16(b, 26, 3); }},
    {"BiSizeImage 0", 2, [](std::string& b) { set32(b, 34, 0); }},
    {"BiClrUsed 16", 0, [](std::string& b) { set32(b, 46, 16); }},
    {"bytes after the last row", 0, [](std::string& b) { b += "extra"; }},
};

const std::vector<Edit> kRefused = {
    {"signature BN", 0, [](std::string& b) { b[1] = 'N'; }},
    {"signature MB", 0, [](std::string& b) { b[0] = 'M', b[1] = 'B'; }},
    {"signature bm", 2, [](std::string& b) { b[0] = 'b', b[1] = 'm'; }},
    {"1 bit", 0, [](std::string& b) { set16(b, 28, 1); }},
    {"4 bits", 0, [](std::string& b) { set16(b, 28, 4); }},
    {"16 bits at 54", 2, [](std::string& b) { set16(b, 28, 16); }},
    {"16 bits at 1078", 0, [](std::string& b) { set16(b, 28, 16); }},
    {"32 bits", 2, [](std::string& b) { set16(b, 28, 32); }},
    {"8 bits at offset 54", 0, [](std::string& b) { set32(b, 10, 54); }},
    {"8 bits at offset 1077", 0, [](std::string& b) { set32(b, 10, 1077); }},
    {"8 bits at offset 1079", 0, [](std::string& b) { set32(b, 10, 1079); }},
    {"8 bits, 16-entry palette (offset 118)", 0, [](std::string& b) { set32(b, 10, 118); }},
    {"24 bits at offset 1078", 2, [](std::string& b) { set32(b, 10, 1078); }},
    {"24 bits at offset 55", 2, [](std::string& b) { set32(b, 10, 55); }},
    {"8-bit compression 1", 0, [](std::string& b) { set32(b, 30, 1); }},
    {"24-bit compression 1", 2, [](std::string& b) { set32(b, 30, 1); }},
    {"width 32768", 0, [](std::string& b) { set32(b, 18, 32768); }},
    {"width 40000", 2, [](std::string& b) { set32(b, 18, 40000); }},
    {"width 2^32 - 1", 0, [](std::string& b) { set32(b, 18, 0xFFFFFFFFu); }},
    {"width 65540 (low 16 bits 4)", 0, [](std::string& b) { set32(b, 18, 65540); }},
    {"height 32768", 0, [](std::string& b) { set32(b, 22, 32768); }},
    {"height -3 (top-down)", 0, [](std::string& b) { set32(b, 22, 0xFFFFFFFDu); }},
    {"height -1 (top-down), 24-bit", 2, [](std::string& b) { set32(b, 22, 0xFFFFFFFFu); }},
    {"height 65539 (low 16 bits 3)", 2, [](std::string& b) { set32(b, 22, 65539); }},
    {"height 4, file holds 3 rows", 0, [](std::string& b) { set32(b, 22, 4); }},
    {"width 5, rows of 8 bytes needed", 0, [](std::string& b) { set32(b, 18, 5); }},
    {"height 32767, file holds 3 rows", 2, [](std::string& b) { set32(b, 22, 32767); }},
    {"palette cut short", 0, [](std::string& b) { b.resize(54 + 1023); }},
    {"header only, 8-bit", 0, [](std::string& b) { b.resize(54); }},
    {"last byte missing", 2, [](std::string& b) { b.pop_back(); }},
};

std::string valid_file(const TempDir& dir, int type) {
  const fs::path p = dir / "valid.bmp";
  EXPECT_EQ(save(p, make_plane(type == 2 ? 12 : 4, 3), 4, 3, type), 0);
  return read_file(p);
}

TEST(ChargeBMP, AcceptsFieldsItIgnores) {
  TempDir dir;
  for (const auto& e : kAccepted) {
    SCOPED_TRACE(e.name);
    std::string b = valid_file(dir, e.type);
    e.change(b);
    write_file(dir / "x.bmp", b);
    const Loaded r = load(dir / "x.bmp");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.type, e.type);
    EXPECT_EQ(r.plane, make_plane(e.type == 2 ? 12 : 4, 3));
  }
}

TEST(ChargeBMP, RefusesHostileHeadersAndShortFiles) {
  TempDir dir;
  const int fds = open_descriptors();
  for (const auto& e : kRefused) {
    SCOPED_TRACE(e.name);
    std::string b = valid_file(dir, e.type);
    e.change(b);
    write_file(dir / "x.bmp", b);
    for (const bool want_palette : {false, true}) {
      const Loaded r = load(dir / "x.bmp", want_palette);
      EXPECT_FALSE(r.ok);
      if (want_palette) {
        EXPECT_TRUE(r.palette_given);
      }
    }
  }
  EXPECT_EQ(open_descriptors(), fds);
}

// Every refusal says why, in words a user can act on.
TEST(ChargeBMP, EveryRefusalSaysWhy) {
  const std::map<std::string, std::string> kSays = {
      {"signature BN", "not a bitmap"},
      {"1 bit", "1 bits per pixel; only 8- and 24-bit bitmaps are read"},
      {"32 bits", "32 bits per pixel; only 8- and 24-bit bitmaps are read"},
      {"8 bits, 16-entry palette (offset 118)", "offset 118; only offset 1078"},
      {"24 bits at offset 1078", "offset 1078; only offset 54"},
      {"8-bit compression 1", "RLE compression"},
      {"width 40000", "40000 columns"},
      {"height -3 (top-down)", "top-down"},
      {"palette cut short", "ends inside its palette"},
      {"height 4, file holds 3 rows", "but its header needs"},
  };
  TempDir dir;
  for (const auto& e : kRefused) {
    std::string b = valid_file(dir, e.type);
    e.change(b);
    write_file(dir / "x.bmp", b);
    int cols = 0, lines = 0, type = 0;
    Color32* cm = nullptr;
    std::string reason;
    try {
      load_bmp((dir / "x.bmp").c_str(), &cols, &lines, &type, &cm);
      ADD_FAILURE() << e.name << " is read";
    } catch (const Failure& failure) {  // a refusal, never memory
      reason = failure.what();
    }
    EXPECT_FALSE(reason.empty()) << e.name;
    if (auto it = kSays.find(e.name); it != kSays.end()) {
      EXPECT_NE(reason.find(it->second), std::string::npos) << e.name << ": " << reason;
    }
  }
}

TEST(ChargeBMP, RefusesEveryShortHeader) {
  TempDir dir;
  const std::string b = valid_file(dir, 0);
  const int fds = open_descriptors();
  for (std::size_t n = 0; n < 54; ++n) {
    SCOPED_TRACE(n);
    write_file(dir / "x.bmp", b.substr(0, n));
    EXPECT_FALSE(load(dir / "x.bmp").ok);
    EXPECT_FALSE(load(dir / "x.bmp", true).ok);
  }
  EXPECT_EQ(open_descriptors(), fds);
}

// Cut at every length after the header: inside the palette, and inside the
// rows. Sizes and type read before the cut stay where the caller can see them.
TEST(ChargeBMP, RefusesAFileCutAtEveryLength) {
  TempDir dir;
  const int fds = open_descriptors();
  const auto cm = colour_palette();
  struct Case {
    int type;
    const Color32* palette;
    int type_seen;
  };
  for (const Case c : {Case{0, nullptr, 0}, Case{1, cm.data(), 1}, Case{2, nullptr, 2}}) {
    const int taille = c.type == 2 ? 3 : 1;
    ASSERT_EQ(save(dir / "valid.bmp", make_plane(5 * taille, 3), 5, 3, c.type, c.palette), 0);
    const std::string b = read_file(dir / "valid.bmp");
    const std::size_t rows_at = c.type == 2 ? 54 : 1078;
    write_file(dir / "x.bmp", b);
    for (std::size_t n = b.size() - 1; n >= 54; --n) {
      SCOPED_TRACE("type " + std::to_string(c.type) + ", cut at " + std::to_string(n));
      fs::resize_file(dir / "x.bmp", n);
      const Loaded r = load(dir / "x.bmp", n % 2 == 0);
      EXPECT_FALSE(r.ok);
      EXPECT_EQ(r.cols, 5);
      EXPECT_EQ(r.lines, 3);
      if (n >= rows_at) {
        EXPECT_EQ(r.type, c.type_seen);
      }
    }
  }
  EXPECT_EQ(open_descriptors(), fds);
}

TEST(ChargeBMP, MissingFileOrFolderIsRefusedAndThePaletteStillReplaced) {
  TempDir dir;
  fs::create_directories(dir / "folder.bmp");
  const int fds = open_descriptors();
  for (const fs::path& p : {dir / "missing.bmp", dir / "no" / "such.bmp", dir / "folder.bmp"}) {
    SCOPED_TRACE(p.string());
    const Loaded quiet = load(p, false);
    EXPECT_FALSE(quiet.ok);
    const Loaded asked = load(p, true);
    EXPECT_FALSE(asked.ok);
    EXPECT_TRUE(asked.palette_given);
    EXPECT_EQ(asked.cols, -7) << "nothing is known of a file that cannot be opened";
  }
  EXPECT_EQ(open_descriptors(), fds);
}

TEST(ChargeBMP, PaletteAskedForOfA24BitFileIsStillHandedOver) {
  TempDir dir;
  ASSERT_EQ(save(dir / "a.bmp", make_plane(6, 2), 2, 2, 2), 0);
  const Loaded r = load(dir / "a.bmp", true);
  EXPECT_TRUE(r.ok);
  EXPECT_TRUE(r.palette_given);
  EXPECT_EQ(r.type, 2);
}

TEST(SauveBMP, UnwritablePlacesGiveMinusOne) {
  TempDir dir;
  fs::create_directories(dir / "taken.bmp");
  const Plane p = make_plane(3, 2);
  const int fds = open_descriptors();
  EXPECT_EQ(save(dir / "missing" / "a.bmp", p, 3, 2, 0), -1);
  EXPECT_EQ(save(dir / "taken.bmp", p, 3, 2, 0), -1);
  EXPECT_EQ(save(dir / "taken.bmp", p, 1, 2, 2), -1);
  EXPECT_TRUE(fs::is_directory(dir / "taken.bmp"));
  EXPECT_EQ(open_descriptors(), fds);
}

TEST(SauveBMP, TypeOutsideTheThreeOrNegativeSizeGivesMinusOne) {
  TempDir dir;
  const Plane p = make_plane(3, 2);
  EXPECT_EQ(save(dir / "a.bmp", p, 3, 2, 3), -1);
  EXPECT_EQ(save(dir / "a.bmp", p, 3, 2, -1), -1);
  EXPECT_EQ(save(dir / "a.bmp", p, -3, 2, 0), -1);
  EXPECT_EQ(save(dir / "a.bmp", p, 3, -2, 0), -1);
}

// A full disk: the header and palette fit in the stream's buffer, so only
// the row writes or the final close can see the failure.
TEST(SauveBMP, FullDiskGivesMinusOne) {
  const fs::path full = "/dev/full";
  if (!fs::exists(full)) GTEST_SKIP() << "no full device on this host";
  const int fds = open_descriptors();
  EXPECT_EQ(save(full, make_plane(3, 2), 3, 2, 0), -1) << "failure seen at close";
  EXPECT_EQ(save(full, make_plane(3 * 300, 300), 300, 300, 2), -1) << "failure seen at a row write";
  EXPECT_EQ(open_descriptors(), fds);
}

}  // namespace
