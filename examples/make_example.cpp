// make_example: draws the bundled example picture, shapes and letters in
// grey levels, and writes it in the three formats the program reads:
//   FOLDER/shapes.raw + shapes.txt   raster and its descriptor
//   FOLDER/shapes.bmp                8-bit grey bitmap
//   FOLDER/shapes_colour.bmp         24-bit colour bitmap of the same picture
//   FOLDER/shapes.asc                ASCII grid
// Objects are grey 170 to 240, the background 10 to 70: the window [128, 255]
// selects the objects.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "LIB/image.h"

namespace {

constexpr int kLines = 160;
constexpr int kColumns = 440;

// 5 x 7 glyphs, drawn large so their strokes are several pixels thick.
const char* const kGlyphs[][7] = {
    {"#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."},  // T
    {"#...#", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"},  // H
    {".###.", "..#..", "..#..", "..#..", "..#..", "..#..", ".###."},  // I
    {"#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#", "#...#"},  // N
};

struct Picture {
  std::vector<std::vector<unsigned char>> grey;
  Picture() : grey(kLines, std::vector<unsigned char>(kColumns)) {
    // a gentle background ramp, so the window matters
    for (int i = 0; i < kLines; ++i)
      for (int j = 0; j < kColumns; ++j) grey[i][j] = static_cast<unsigned char>(10 + (i + j) % 61);
  }
  void object(int i, int j) {
    if (i >= 0 && i < kLines && j >= 0 && j < kColumns) grey[i][j] = static_cast<unsigned char>(170 + (i * 7 + j * 3) % 71);
  }
};

void draw(Picture& p) {
  // a filled disc, a ring, a thick frame, a thick diagonal bar touching the
  // top edge
  for (int i = 0; i < kLines; ++i)
    for (int j = 0; j < kColumns; ++j) {
      double d1 = std::hypot(i - 45.0, j - 50.0);
      double d2 = std::hypot(i - 115.0, j - 60.0);
      if (d1 <= 28) p.object(i, j);
      if (d2 >= 22 && d2 <= 32) p.object(i, j);
      bool in_outer = i >= 20 && i < 140 && j >= 110 && j < 190;
      bool in_inner = i >= 32 && i < 128 && j >= 122 && j < 178;
      if (in_outer && !in_inner) p.object(i, j);
      if (std::abs((j - 200) - (i * 0.5)) < 5 && j < 290) p.object(i, j);
    }
  // the word THIN
  for (int g = 0; g < 4; ++g)
    for (int r = 0; r < 7; ++r)
      for (int c = 0; c < 5; ++c)
        if (kGlyphs[g][r][c] == '#')
          for (int di = 0; di < 9; ++di)
            for (int dj = 0; dj < 9; ++dj) p.object(40 + r * 9 + di, 268 + g * 40 + c * 7 + dj);
}

bool write_raster(const std::filesystem::path& folder, const Picture& p) {
  FILE* raw = std::fopen((folder / "shapes.raw").c_str(), "wb");
  FILE* txt = std::fopen((folder / "shapes.txt").c_str(), "w");
  if (!raw || !txt) return false;
  for (const auto& line : p.grey) std::fwrite(line.data(), 1, line.size(), raw);
  std::fprintf(txt, "%d\n%d\n1\n0\n255\n1\n", kLines, kColumns);
  return std::fclose(raw) == 0 && std::fclose(txt) == 0;
}

bool write_ascii(const std::filesystem::path& folder, const Picture& p) {
  FILE* f = std::fopen((folder / "shapes.asc").c_str(), "w");
  if (!f) return false;
  std::fprintf(f, "ncols %d\nnrows %d\nxllcorner 500000.000000\nyllcorner 4600000.000000\ncellsize 2.500000\n"
                  "NODATA_value -9999\n", kColumns, kLines);
  for (const auto& line : p.grey) {
    for (unsigned char v : line) std::fprintf(f, "%d ", v);
    std::fputc('\n', f);
  }
  return std::fclose(f) == 0;
}

bool write_bitmaps(const std::filesystem::path& folder, Picture& p) {
  std::vector<unsigned char*> rows;
  for (auto& line : p.grey) rows.push_back(line.data());
  if (SauveBMP((folder / "shapes.bmp").c_str(), rows.data(), kColumns, kLines, 0, nullptr) != 0) return false;
  // the colour version: objects in shades of red and blue whose grey level
  // (BT.601 luma) stays in the objects' window
  std::vector<std::vector<unsigned char>> bgr(kLines, std::vector<unsigned char>(3 * kColumns));
  std::vector<unsigned char*> bgr_rows;
  for (int i = 0; i < kLines; ++i) {
    for (int j = 0; j < kColumns; ++j) {
      unsigned char g = p.grey[i][j];
      bool object = g >= 128;
      bgr[i][3 * j] = object ? 120 : static_cast<unsigned char>(g + 60);      // blue
      bgr[i][3 * j + 1] = object ? 200 : g;                                    // green
      bgr[i][3 * j + 2] = object ? static_cast<unsigned char>(g) : g / 2;      // red
    }
    bgr_rows.push_back(bgr[i].data());
  }
  return SauveBMP((folder / "shapes_colour.bmp").c_str(), bgr_rows.data(), kColumns, kLines, 2, nullptr) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_example FOLDER\n");
    return 2;
  }
  std::filesystem::path folder = argv[1];
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  Picture p;
  draw(p);
  if (!write_raster(folder, p) || !write_ascii(folder, p) || !write_bitmaps(folder, p)) {
    std::fprintf(stderr, "make_example: cannot write into %s\n", folder.c_str());
    return 1;
  }
  return 0;
}
