// The command line's bit road, whole runs of the real program: in every
// format, on odd sizes (one line, one column, widths around the multiples of
// 64, a picture the writers take in several blocks) and thread counts, its
// results are the bytes the kernels give on byte planes: the dialogue's
// thinning with --as-dialogue, the sound skeleton by default.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "formats/image_source.h"
#include "platform/failure.h"
#include "skeleton/pipeline.h"
#include "skeleton/skeleton.h"
#include "support/helpers.h"
#ifdef SOLVIK_HAVE_GDAL_RASTER
#include "formats/gdal_raster.h"
#endif

namespace {

using namespace testing_support;
namespace fs = std::filesystem;

// Discs and noise, objects cut by every edge.
Plane picture(int lines, int columns, unsigned seed) {
  std::mt19937 rng(seed);
  Plane p(static_cast<std::size_t>(lines), std::vector<unsigned char>(static_cast<std::size_t>(columns)));
  for (auto& row : p)
    for (auto& v : row) v = rng() % 4 ? 200 : 20;
  for (int k = 0; k < 6; ++k) {
    const int ci = static_cast<int>(rng() % lines), cj = static_cast<int>(rng() % columns), r = 2 + static_cast<int>(rng() % 30);
    for (int i = std::max(0, ci - r); i < std::min(lines, ci + r); ++i)
      for (int j = std::max(0, cj - r); j < std::min(columns, cj + r); ++j)
        if ((i - ci) * (i - ci) + (j - cj) * (j - cj) < r * r) p[i][j] = k % 2 ? 250 : 10;
  }
  return p;
}

// The kernels' result on byte planes, 1 on the skeleton and 255 elsewhere.
Plane expected(const Plane& grey, bool dialogue) {
  const int lines = static_cast<int>(grey.size()), columns = static_cast<int>(grey[0].size());
  SkeletonPlanes planes(lines, columns, dialogue ? FrameMode::keep : FrameMode::pad,
                        dialogue ? SkeletonKind::dialogue : SkeletonKind::sound);
  for (int i = 0; i < lines; ++i)
    for (int j = 0; j < columns; ++j) planes.object()[i][j] = grey[i][j] >= 128 ? 1 : 0;
  planes.run(1);
  Plane out(static_cast<std::size_t>(lines));
  for (int i = 0; i < lines; ++i) out[i].assign(planes.result()[i], planes.result()[i] + columns);
  return out;
}

Plane read_back(const fs::path& path) {
  std::unique_ptr<ImageSource> source;
  const std::string ext = path.extension().string();
  Plane out;
  try {
    if (ext == ".raw") {
      fs::path txt = path;
      source = open_raw_source(path.string(), txt.replace_extension(".txt").string());
    } else if (ext == ".asc") {
      source = open_asc_source(path.string());
    } else if (ext == ".bmp") {
      source = open_bmp_source(path.string());
    } else {
#ifdef SOLVIK_HAVE_GDAL_RASTER
      source = open_gdal_source(path.string(), 0);
#endif
    }
    EXPECT_TRUE(source) << path;
    if (!source) return out;
    source->read_lines([&](int, const double* v) {
      out.emplace_back(v, v + source->columns);
      return true;
    }, nullptr);
  } catch (const Failure& failure) {
    ADD_FAILURE() << path << ": " << failure.what();
  }
  return out;
}

TEST(BitRoad, EveryFormatSizeAndThreadCountGivesTheKernelsBytes) {
  TempDir dir;
  std::vector<const char*> formats = {".raw", ".bmp", ".asc"};
#ifdef SOLVIK_HAVE_GDAL_RASTER
  formats.insert(formats.end(), {".tif", ".png"});
#endif
  const std::pair<int, int> sizes[] = {{1, 70}, {70, 1}, {2, 2}, {37, 63}, {40, 64}, {41, 65}, {33, 127}, {30, 129}};
  unsigned seed = 1;
  for (const auto& [lines, columns] : sizes)
    for (const char* ext : formats) {
      const Plane grey = picture(lines, columns, seed++);
      write_file(dir / "in.raw", plane_bytes(grey));
      write_file(dir / "in.txt", std::to_string(lines) + "\n" + std::to_string(columns) + "\n1\n0\n255\n1\n");
      for (bool dialogue : {true, false})
        for (const char* threads : {"1", "3"}) {
          const std::string out = std::string("out") + ext;
          std::vector<std::string> args = {"-q", "--threads", threads, "in.raw", out};
          const std::vector<std::string> road =
              dialogue ? std::vector<std::string>{"--as-dialogue"} : std::vector<std::string>{"--values", "1:255"};
          args.insert(args.begin(), road.begin(), road.end());
          const RunResult r = run_solvik(dir.path(), "", args);
          ASSERT_EQ(r.status, 0) << r.errors;
          EXPECT_EQ(read_back(dir / out), expected(grey, dialogue))
              << lines << " x " << columns << " " << ext << (dialogue ? " as the dialogue" : " sound") << ", "
              << threads << " threads";
        }
    }
}

// A picture the writers take in several blocks of lines.
TEST(BitRoad, APictureWrittenInSeveralBlocks) {
  TempDir dir;
  // read and written a quarter megabyte at a time: lines cross the
  // buffers' ends
  const int lines = 3000, columns = 1500;
  const Plane grey = picture(lines, columns, 99);
  write_file(dir / "in.raw", plane_bytes(grey));
  write_file(dir / "in.txt", "3000\n1500\n1\n0\n255\n1\n");
  for (const char* ext : {".raw", ".asc", ".bmp"}) {
    const std::string out = std::string("big") + ext;
    ASSERT_EQ(run_solvik(dir.path(), "", {"-q", "--values", "1:255", "in.raw", out}).status, 0);
    EXPECT_EQ(read_back(dir / out), expected(grey, false)) << ext;
  }
}

}  // namespace
