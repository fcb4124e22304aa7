// The command line on values and limits that used to end it: windows that
// select nothing or everything are reported, values a histogram cannot
// index never crash Otsu's window (and a batch goes on past them), and
// threads the system will not start never abort a run.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "support/helpers.h"

namespace {

using namespace testing_support;
namespace fs = std::filesystem;

void write_raw(const fs::path& raw, int lines, int columns, unsigned char value) {
  write_file(raw, std::string(static_cast<std::size_t>(lines * columns), static_cast<char>(value)));
  fs::path txt = raw;
  txt.replace_extension(".txt");
  write_file(txt, std::to_string(lines) + " " + std::to_string(columns) + " 1 0 255 1");
}

// A grid of `values`, one line.
void write_grid(const fs::path& path, const std::vector<std::string>& values) {
  std::string text = "ncols " + std::to_string(values.size()) + "\nnrows 1\nxllcorner 0\nyllcorner 0\ncellsize 1\n";
  for (const std::string& v : values) text += v + " ";
  write_file(path, text + "\n");
}

TEST(Hostile, AWindowThatSelectsNothingOrEverythingIsReported) {
  TempDir dir;
  write_raw(dir / "grey.raw", 6, 7, 40);
  struct Case {
    std::vector<std::string> args;
    const char* says;  // "" when nothing is to be said
  };
  const std::vector<Case> cases = {
      {{"grey.raw", "o.raw"}, "grey.raw: warning: the window 128:255 selects no pixel (values range from 40 to 40)"},
      {{"-w", "0:100", "grey.raw", "o.raw"}, "grey.raw: warning: the window 0:100 selects every pixel"},
      {{"-q", "-w", "0:39", "grey.raw", "o.raw"}, "grey.raw: warning: the window 0:39 selects no pixel"},
      {{"-w", "nonzero", "grey.raw", "o.raw"}, "grey.raw: warning: the window nonzero selects every pixel"},
      {{"-w", "30:50", "grey.raw", "o.raw"}, "grey.raw: warning: the window 30:50 selects every pixel"},
      {{"-w", "41:255", "grey.raw", "o.raw"}, "grey.raw: warning: the window 41:255 selects no pixel"},
  };
  for (const Case& c : cases) {
    fs::remove(dir / "o.raw");
    const RunResult r = run_solvik(dir.path(), "", c.args);
    EXPECT_EQ(r.status, 0) << r.errors;
    EXPECT_EQ(r.errors.rfind(c.says, 0), 0u) << r.errors;
    EXPECT_TRUE(fs::exists(dir / "o.raw")) << "the result is written all the same";
  }
  write_raw(dir / "some.raw", 6, 7, 40);
  write_file(dir / "some.raw", std::string(21, static_cast<char>(200)) + std::string(21, static_cast<char>(40)));
  EXPECT_EQ(run_solvik(dir.path(), "", {"some.raw", "o.raw"}).errors, "");
}

// Values beyond what a float holds, infinities and the extremes of the
// doubles, with Otsu's window: never a crash, the window found on the
// finite values, and every image of a batch done.
TEST(Hostile, OtsuWindowsOnValuesNoHistogramCanIndex) {
  TempDir dir;
  const std::vector<std::vector<std::string>> grids = {
      {"1e308", "-1e308", "1e308", "-1e308", "0"},
      {"-1.7976931348623157e308", "1.7976931348623157e308", "5", "5"},
      {"1e-300", "0", "1", "0.5", "0.25"},
      {"7", "7", "7"},
  };
  std::vector<std::string> batch = {"-q", "-w", "bright", "-o", "out"};
  for (std::size_t k = 0; k < grids.size(); ++k) {
    const std::string name = std::string("g").append(std::to_string(k)).append(".asc");
    write_grid(dir / name, grids[k]);
    for (const char* side : {"dark", "bright"}) {
      const RunResult r = run_solvik(dir.path(), "", {"-w", side, name, "o.asc"});
      EXPECT_EQ(r.status, 0) << name << " " << side << ": " << r.errors;
      EXPECT_NE(r.output.find("Otsu threshold"), std::string::npos) << r.output;
    }
    batch.push_back(name);
  }
#ifdef SOLVIK_HAVE_GDAL_RASTER
  // a Float32 raster (ENVI, read through GDAL) holding infinities and NaN
  const float inf = std::numeric_limits<float>::infinity();
  const float values[8] = {inf, -inf, 1, 2, 200, 250, std::numeric_limits<float>::quiet_NaN(), 3.4e38f};
  std::string bytes(sizeof values, '\0');
  std::memcpy(bytes.data(), values, sizeof values);
  write_file(dir / "f.bin", bytes);
  write_file(dir / "f.hdr", "ENVI\nsamples = 4\nlines = 2\nbands = 1\nheader offset = 0\nfile type = ENVI Standard\n"
                            "data type = 4\ninterleave = bsq\nbyte order = 0\n");
  const RunResult r = run_solvik(dir.path(), "", {"-w", "bright", "f.bin", "f.tif"});
  EXPECT_EQ(r.status, 0) << r.errors;
  EXPECT_NE(r.output.find("2 values that are not finite left out"), std::string::npos) << r.output;
  batch.push_back("f.bin");
#endif
  batch.insert(batch.begin() + 5, {"-f", "asc"});
  const RunResult all = run_solvik(dir.path(), "", batch);
  EXPECT_EQ(all.status, 0) << all.errors;
  for (std::size_t k = 0; k < grids.size(); ++k)
    EXPECT_TRUE(fs::exists(dir / "out" / std::string("g").append(std::to_string(k)).append("_reg.asc")));
}

// Threads the address space has no room for: the run thins on those it can
// have, or stops with the memory message; never an abort.
TEST(Hostile, ThreadsThatCannotStartNeverAbortARun) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers reserve more address space than the limit leaves";
#else
  TempDir dir;
  write_raw(dir / "big.raw", 1500, 1500, 0);
  std::string noise(1500 * 1500, '\0');
  for (std::size_t k = 0; k < noise.size(); ++k) noise[k] = static_cast<char>((k * 2654435761u >> 7) % 3 ? 255 : 0);
  write_file(dir / "big.raw", noise);
  const RunResult alone = run_solvik(dir.path(), "", {"-q", "--threads", "1", "big.raw", "one.raw"});
  ASSERT_EQ(alone.status, 0) << alone.errors;
  for (const char* threads : {"8", "1024"}) {
    fs::remove(dir / "many.raw");
    const RunResult r =
        run_solvik(dir.path(), "", {"-q", "--threads", threads, "big.raw", "many.raw"}, "ulimit -v 400000;");
    ASSERT_TRUE(r.status == 0 || r.status == 1) << threads << " threads: status " << r.status << " " << r.errors;
    if (r.status == 0)
      EXPECT_EQ(read_file(dir / "many.raw"), read_file(dir / "one.raw"));
    else
      EXPECT_NE(r.errors.find("memory"), std::string::npos) << r.errors;
  }
#endif
}

}  // namespace
