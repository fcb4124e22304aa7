#include "seed_images.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "LIB/image.h"

namespace seed_images {

std::vector<std::vector<unsigned char>> picture() {
  std::vector<std::vector<unsigned char>> p(kLines, std::vector<unsigned char>(kColumns, 20));
  for (int i = 0; i < kLines; ++i)
    for (int j = 0; j < kColumns; ++j) {
      int di = i - 5, dj = j - 5;
      if (di * di + dj * dj <= 12) p[i][j] = 200;
      if (j >= 11 && j <= 13 && i >= 1) p[i][j] = 200;
    }
  return p;
}

std::string ascii_grid_text() {
  std::string s = "ncols 16\nnrows 12\nxllcorner 100.5\nyllcorner 200\ncellsize 2\nNODATA_value -9999\n";
  for (const auto& line : picture()) {
    for (unsigned char v : line) s += std::to_string(v) + " ";
    s += "\n";
  }
  return s;
}

namespace {
void put(const std::string& path, const std::string& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}
}  // namespace

void write_image_set(const std::string& folder) {
  std::filesystem::create_directories(folder);
  auto p = picture();
  std::string raw;
  for (const auto& line : p) raw.append(line.begin(), line.end());
  put(folder + "/a.raw", raw);
  put(folder + "/a.txt", "12\n16\n1\n0\n255\n1\n");
  put(folder + "/b.raw", raw);
  put(folder + "/a.asc", ascii_grid_text());
  std::vector<unsigned char*> rows;
  for (auto& line : p) rows.push_back(line.data());
  if (SauveBMP((folder + "/a.bmp").c_str(), rows.data(), kColumns, kLines, 0, nullptr) != 0) std::abort();
  std::vector<std::vector<unsigned char>> bgr(kLines, std::vector<unsigned char>(3 * kColumns));
  std::vector<unsigned char*> bgr_rows;
  for (int i = 0; i < kLines; ++i) {
    for (int j = 0; j < kColumns; ++j) {
      bgr[i][3 * j] = p[i][j];
      bgr[i][3 * j + 1] = p[i][j];
      bgr[i][3 * j + 2] = static_cast<unsigned char>(p[i][j] / 2);
    }
    bgr_rows.push_back(bgr[i].data());
  }
  if (SauveBMP((folder + "/c.bmp").c_str(), bgr_rows.data(), kColumns, kLines, 2, nullptr) != 0) std::abort();
}

}  // namespace seed_images
