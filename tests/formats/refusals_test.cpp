// What the readers and the GDAL writer give back when they cannot: a
// Failure with the reason the command line prints after the input's name,
// std::bad_alloc when memory runs out, and whatever the caller's own code
// (a sink, the rows, the progress) throws, unchanged.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "LIB/image.h"
#include "formats/image_source.h"
#include "platform/failure.h"
#include "support/helpers.h"
#ifdef SOLVIK_HAVE_GDAL_RASTER
#include "formats/gdal_raster.h"
#endif

namespace {

namespace fs = std::filesystem;
using testing_support::TempDir;
using testing_support::write_file;

// The source as the command line opens it, by the extension.
std::unique_ptr<ImageSource> open_any(const fs::path& p) {
  const std::string ext = p.extension().string();
  if (ext == ".raw") return open_raw_source(p.string(), fs::path(p).replace_extension(".txt").string());
  if (ext == ".asc") return open_asc_source(p.string());
  if (ext == ".bmp") return open_bmp_source(p.string());
#ifdef SOLVIK_HAVE_GDAL_RASTER
  return open_gdal_source(p.string(), 0);
#else
  throw Failure("no GDAL");
#endif
}

// A bitmap of one pixel with byte `at` set to `value` (28: bits per pixel).
std::string bitmap(int at = 0, char value = 0) {
  TempDir dir;
  unsigned char pixel = 7, *row = &pixel;
  EXPECT_EQ(SauveBMP((dir / "b.bmp").c_str(), &row, 1, 1, 0, nullptr), 0);
  std::string bytes = testing_support::read_file(dir / "b.bmp");
  if (at) bytes[static_cast<std::size_t>(at)] = value;
  return bytes;
}

const std::string kGrid = "ncols 2 nrows 2 xllcorner 0 yllcorner 0 cellsize 1 nodata_value -1 ";

TEST(Refusals, EveryOpenerThrowsTheReasonAndNeverGivesNull) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, std::string>> files;  // "/" at the end: a folder
    std::string says;                                        // "@" stands for the folder
  };
  const Case kCases[] = {
      {"raster without descriptor", {{"a.raw", std::string(12, '\0')}},
       "its descriptor @/a.txt cannot be read: No such file or directory"},
      {"descriptor number too large", {{"a.raw", "x"}, {"a.txt", "99999999999 4"}},
       "its descriptor @/a.txt: a number too large for an integer"},
      {"raster shorter than its descriptor", {{"a.raw", std::string(11, '\0')}, {"a.txt", "3 4"}},
       "the raster holds 11 bytes, but 3 lines of 4 columns need 12"},
      {"grid header cut", {{"a.asc", "ncols 2 nrows"}}, "the header ends after the keyword \"nrows\""},
      {"grid short of values", {{"a.asc", kGrid + "1 2 3"}}, "grid line 1, column 1 (counted from 0): the file ends"},
      {"grid's .prj a folder", {{"a.asc", kGrid + "1 2 3 4"}, {"a.prj", "/"}},
       "its coordinate system @/a.prj cannot be read: not a regular file"},
      {"bitmap of 32 bits", {{"a.bmp", bitmap(28, 32)}}, "32 bits per pixel; only 8- and 24-bit bitmaps are read"},
      {"folder in a bitmap's place", {{"a.bmp", "/"}}, "not a regular file"},
#ifdef SOLVIK_HAVE_GDAL_RASTER
      {"text named .tif", {{"a.tif", "not a picture"}}, "not a raster GDAL recognises"},
#endif
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    for (const auto& [name, bytes] : c.files)
      bytes == "/" ? static_cast<void>(fs::create_directory(dir / name)) : write_file(dir / name, bytes);
    std::string says = c.says;
    if (const auto at = says.find('@'); at != std::string::npos) says.replace(at, 1, dir.path().string());
    try {
      open_any(dir / c.files[0].first);
      ADD_FAILURE() << "opened";
    } catch (const Failure& failure) {
      EXPECT_EQ(std::string(failure.what()).substr(0, says.size()), says);
    }
  }
}

// A sink that stops is a Failure; what a sink throws passes through.
TEST(Refusals, ASinkStopsEveryReaderOrThrowsThroughIt) {
  TempDir dir;
  write_file(dir / "a.raw", "\x05");
  write_file(dir / "a.txt", "1 1");
  write_file(dir / "a.asc", kGrid + "1 2 3 4");
  write_file(dir / "a.bmp", bitmap());
  std::vector<std::string> names = {"a.raw", "a.asc", "a.bmp"};
#ifdef SOLVIK_HAVE_GDAL_RASTER
  write_file(dir / "a.pgm", std::string("P5 1 1 255\n") + '\x05');
  names.push_back("a.pgm");
#endif
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const auto source = open_any(dir / name);
    EXPECT_THROW(source->read_lines([](int, const double*) -> bool { throw Cancelled(); }, nullptr), Cancelled);
    try {
      source->read_lines([](int, const double*) { return false; }, nullptr);
      ADD_FAILURE() << "read whole";
    } catch (const Failure& failure) {
      EXPECT_NE(std::string(failure.what()).find("reading stopped at"), std::string::npos) << failure.what();
    }
  }
}

// A bitmap whose pixels do not fit in memory: std::bad_alloc, not a refusal.
TEST(Refusals, ABitmapTooLargeForMemoryIsBadAlloc) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers reserve more address space than the limit leaves";
#else
  TempDir dir;
  std::string bytes = bitmap();
  for (int at : {18, 22}) bytes.replace(static_cast<std::size_t>(at), 4, std::string("\xff\x7f\0\0", 4));  // 32767
  write_file(dir / "big.bmp", bytes);
  fs::resize_file(dir / "big.bmp", 1078 + 32767ULL * 32768);  // sparse: the length the header needs
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    rlimit limit{};
    getrlimit(RLIMIT_AS, &limit);
    rlimit small{static_cast<rlim_t>(256) << 20, limit.rlim_max};
    setrlimit(RLIMIT_AS, &small);
    try {
      open_bmp_source((dir / "big.bmp").string());
      _exit(3);
    } catch (const std::bad_alloc&) {
      _exit(0);
    } catch (...) {
      _exit(4);
    }
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "3: read, 4: another exception";
#endif
}

#ifdef SOLVIK_HAVE_GDAL_RASTER
// What GDAL calls back (the rows, the progress) throws comes back from the
// writer unchanged, past GDAL's C code.
TEST(Refusals, WhatTheRowsOrTheProgressThrowLeavesTheGdalWriter) {
  struct Case {
    const char* name;
    int rows_throw;  // 0 none, 1 bad_alloc, 2 a Failure
    bool progress_cancels;
    const char* thrown;
  };
  for (const Case& c : {Case{"rows out of memory", 1, false, "bad_alloc"},
                        Case{"rows refuse", 2, false, "the rows' reason"},
                        Case{"progress cancels", 0, true, "cancelled"}, Case{"nothing thrown", 0, false, ""}}) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const RowSource rows = [&](int first, int count, unsigned char* const*) {
      if (first + count > 4 && c.rows_throw == 1) throw std::bad_alloc();
      if (first + count > 4 && c.rows_throw == 2) throw Failure("the rows' reason");
    };
    const WriteProgress progress = [&](double f) {
      if (c.progress_cancels && f > 0) throw Cancelled();
    };
    std::string thrown;
    try {
      write_gdal_raster((dir / "r.tif").string(), {"GTiff", {}, {}}, rows, 64, 64, {}, progress);
    } catch (const std::bad_alloc&) {
      thrown = "bad_alloc";
    } catch (const Cancelled&) {
      thrown = "cancelled";
    } catch (const Failure& failure) {
      thrown = failure.what();
    }
    EXPECT_EQ(thrown, c.thrown);
  }
}
#endif

}  // namespace
