// Whole runs of the real program with SOLVIK_THREADS=1 and =4 give the same
// result files, for a raster large enough that the kernels use bands.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "support/helpers.h"

namespace {

using namespace testing_support;

TEST(ThreadRuns, OneAndFourThreadsWriteTheSameFiles) {
  struct Case {
    const char* name;
    int lines, columns;
    int percent;  // object pixels, in blocks of 4 x 4
  };
  const Case cases[] = {{"dense blocks", 300, 257, 60}, {"sparse blocks", 257, 300, 20}, {"few lines", 5, 700, 70}};
  for (const auto& c : cases) {
    std::mt19937 rng(c.lines * 1000 + c.columns);
    std::string grey(static_cast<std::size_t>(c.lines) * c.columns, '\0');
    for (int i = 0; i < c.lines; i += 4)
      for (int j = 0; j < c.columns; j += 4)
        if (static_cast<int>(rng() % 100) < c.percent)
          for (int di = 0; di < 4 && i + di < c.lines; ++di)
            for (int dj = 0; dj < 4 && j + dj < c.columns; ++dj)
              grey[static_cast<std::size_t>(i + di) * c.columns + j + dj] = static_cast<char>(200);
    std::string results[2];
    for (int k = 0; k < 2; ++k) {
      TempDir dir;
      write_file(dir / "images/p/x.raw", grey);
      write_file(dir / "images/p/x.txt", std::to_string(c.lines) + " " + std::to_string(c.columns) + " 1 0 255 1");
      const RunResult r = run_solvik(dir.path(), "p 0 x 0 100 255", {}, k == 0 ? "SOLVIK_THREADS=1" : "SOLVIK_THREADS=4");
      ASSERT_EQ(r.status, 0) << c.name << r.output;
      results[k] = read_file(dir / "images/p/x_reg.raw");
    }
    EXPECT_EQ(results[0].size(), grey.size()) << c.name;
    EXPECT_TRUE(results[0] == results[1]) << c.name;
  }
}

}  // namespace
