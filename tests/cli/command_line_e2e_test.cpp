// The command line, run as the real program: the same bytes as the dialogue
// for every image the dialogue reads, the padded frame, Otsu windows, output
// values, ASCII grids kept whole, batches, file identity and usage errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "LIB/image.h"
#include "support/helpers.h"

namespace {

using namespace testing_support;
namespace fs = std::filesystem;

// A grey picture with blobs, strokes and values all over 0..255, some of
// its objects touching the edge.
Plane blobs(int lines, int columns, std::uint32_t seed) {
  Plane p(static_cast<std::size_t>(lines), std::vector<unsigned char>(static_cast<std::size_t>(columns)));
  std::uint32_t s = seed;
  auto next = [&s] { return s = s * 1664525u + 1013904223u; };
  struct Disc { int y, x, r; unsigned char v; };
  std::vector<Disc> discs;
  for (int k = 0; k < 7; ++k)
    discs.push_back({static_cast<int>(next() % static_cast<unsigned>(lines)),
                     static_cast<int>(next() % static_cast<unsigned>(columns)), 2 + static_cast<int>(next() % 8),
                     static_cast<unsigned char>(100 + next() % 156)});
  for (int i = 0; i < lines; ++i)
    for (int j = 0; j < columns; ++j) {
      unsigned char v = static_cast<unsigned char>(next() >> 27);  // dark noise
      for (const Disc& d : discs)
        if ((i - d.y) * (i - d.y) + (j - d.x) * (j - d.x) <= d.r * d.r) v = d.v;
      if (i % 11 == 3 && j > columns / 4) v = 240;                 // strokes
      p[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)] = v;
    }
  return p;
}

std::vector<unsigned char*> rows_of(Plane& p) {
  std::vector<unsigned char*> rows;
  for (auto& r : p) rows.push_back(r.data());
  return rows;
}

void write_raster(const fs::path& raw, Plane p) {
  write_file(raw, plane_bytes(p));
  fs::path txt = raw;
  txt.replace_extension(".txt");
  write_file(txt, std::to_string(p.size()) + " " + std::to_string(p[0].size()) + " 1 0 255 3");
}

void write_bmp8(const fs::path& path, Plane p) {
  auto rows = rows_of(p);
  ASSERT_EQ(SauveBMP(path.c_str(), rows.data(), static_cast<int>(p[0].size()), static_cast<int>(p.size()), 0, nullptr), 0);
}

// The grey plane as a 24-bit picture whose colours are not grey: the luma
// decides.
void write_bmp24(const fs::path& path, const Plane& p) {
  Plane colour;
  for (const auto& row : p) {
    std::vector<unsigned char> c;
    for (unsigned char v : row) {
      c.push_back(static_cast<unsigned char>(v / 2));        // blue
      c.push_back(v);                                        // green
      c.push_back(static_cast<unsigned char>(255 - v / 3));  // red
    }
    colour.push_back(c);
  }
  auto rows = rows_of(colour);
  ASSERT_EQ(SauveBMP(path.c_str(), rows.data(), static_cast<int>(p[0].size()), static_cast<int>(p.size()), 2, nullptr), 0);
}

void write_asc(const fs::path& path, const Plane& p) {
  std::string text = "ncols " + std::to_string(p[0].size()) + "\nnrows " + std::to_string(p.size()) +
                     "\nxllcorner 1000.5\nyllcorner 2000\ncellsize 2.5\nNODATA_value -9999\n";
  for (const auto& row : p) {
    for (unsigned char v : row) text.append(" ").append(std::to_string(v));
    text += "\n";
  }
  write_file(path, text);
}

struct Road {
  const char* format;  // answer to the format question
  const char* ext;
  void (*write)(const fs::path&, const Plane&);
};

const Road kRoads[] = {
    {"0", ".raw", [](const fs::path& f, const Plane& p) { write_raster(f, p); }},
    {"1", ".bmp", [](const fs::path& f, const Plane& p) { write_bmp8(f, p); }},
    {"1", ".bmp", [](const fs::path& f, const Plane& p) { write_bmp24(f, p); }},
    {"2", ".asc", [](const fs::path& f, const Plane& p) { write_asc(f, p); }},
};

struct Case {
  int lines, columns;
  std::uint32_t seed;
  int lo, hi;
};

const Case kCases[] = {
    {40, 57, 1, 128, 255}, {23, 31, 2, 50, 200}, {64, 64, 3, 0, 255},
    {1, 9, 4, 0, 120},     {17, 1, 5, 100, 255}, {33, 48, 6, -20, 300},
};

TEST(CommandLine, SameBytesAsTheDialogueForEveryImageItReads) {
  for (const Road& road : kRoads) {
    for (const Case& c : kCases) {
      SCOPED_TRACE(std::string(road.ext) + " format " + road.format + " case seed " + std::to_string(c.seed));
      TempDir dir;
      const Plane grey = blobs(c.lines, c.columns, c.seed);
      const fs::path input = dir / ("images/site/a" + std::string(road.ext));
      fs::create_directories(input.parent_path());
      road.write(input, grey);
      const std::string answers =
          std::string("site ") + road.format + " a 0 " + std::to_string(c.lo) + " " + std::to_string(c.hi);
      RunResult dialogue = run_solvik(dir.path(), answers);
      ASSERT_EQ(dialogue.status, 0) << dialogue.output;
      fs::create_directories(dir / "cli out");
      const std::string result = "cli out/a_reg" + std::string(road.ext);
      RunResult cli = run_solvik(dir.path(), "",
                                 {"--as-dialogue", "-w", std::to_string(c.lo) + ":" + std::to_string(c.hi),
                                  "images/site/a" + std::string(road.ext), result});
      ASSERT_EQ(cli.status, 0) << cli.errors;
      EXPECT_EQ(cli.output, "");
      EXPECT_EQ(read_file(dir / result), read_file(dir / ("images/site/a_reg" + std::string(road.ext))));
      if (std::string(road.ext) == ".raw") {
        EXPECT_EQ(read_file(dir / "cli out/a_reg.txt"), read_file(dir / "images/site/a_reg.txt"));
      }
    }
  }
}

// The raster result of a picture, as a picture: '#' the skeleton value.
std::vector<std::string> result_picture(const fs::path& raw, int lines, int columns, unsigned char on = 1) {
  const std::string bytes = read_file(raw);
  Plane p(static_cast<std::size_t>(lines), std::vector<unsigned char>(static_cast<std::size_t>(columns)));
  EXPECT_EQ(bytes.size(), static_cast<std::size_t>(lines * columns));
  for (int i = 0; i < lines && bytes.size() == static_cast<std::size_t>(lines * columns); ++i)
    for (int j = 0; j < columns; ++j)
      p[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)] = static_cast<unsigned char>(bytes[static_cast<std::size_t>(i * columns + j)]);
  return plane_to_picture(p, on);
}

struct PadCase {
  const char* name;
  std::vector<std::string> picture;   // '#' object (200), '.' background (10)
  std::vector<std::string> padded;    // the skeleton with --frame pad
  std::vector<std::string> kept;      // with --frame keep, as the dialogue thins
};

const PadCase kPadCases[] = {
    {"a bar crossing the image thins down its middle, short of the edges it ends on",
     {"...........", "...........", "###########", "###########", "###########", "...........", "..........."},
     {"...........", "...........", "...........", ".#########.", "...........", "...........", "..........."},
     {"...........", "...........", "...........", "###########", "...........", "...........", "..........."}},
    {"a region along the top edge thins down its middle, not along the edge",
     {"#########", "#########", "#########", ".........", ".........", "........."},
     {".........", ".#######.", ".........", ".........", ".........", "........."},
     {".#.....#.", "..#####..", ".........", ".........", ".........", "........."}},
};

TEST(CommandLine, PaddedFrameThinsObjectsOnTheEdgeDownTheirMiddle) {
  for (const PadCase& k : kPadCases) {
    SCOPED_TRACE(k.name);
    TempDir dir;
    const int lines = static_cast<int>(k.picture.size()), columns = static_cast<int>(k.picture[0].size());
    write_raster(dir / "p.raw", picture_to_plane(k.picture, 200, 10));
    RunResult pad = run_solvik(dir.path(), "", {"--frame", "pad", "p.raw", "pad.raw"});
    ASSERT_EQ(pad.status, 0) << pad.errors;
    EXPECT_EQ(result_picture(dir / "pad.raw", lines, columns), k.padded);
    RunResult keep = run_solvik(dir.path(), "", {"--frame=keep", "p.raw", "keep.raw"});
    ASSERT_EQ(keep.status, 0) << keep.errors;
    EXPECT_EQ(result_picture(dir / "keep.raw", lines, columns), k.kept);
  }
}

TEST(CommandLine, OtsuWindowsOnATwoLevelPicture) {
  TempDir dir;
  const std::vector<std::string> picture = {"..........", ".####.....", ".####..##.", ".####..##.", "..........",
                                            "..........", "......###.", "......###."};
  write_raster(dir / "two.raw", picture_to_plane(picture, 200, 40));
  struct Expect { const char* word; const char* window; const char* line; };
  const Expect kExpect[] = {{"bright", "200:200", "two.raw: Otsu threshold 119, window 120:200 (bright objects)\n"},
                            {"dark", "40:40", "two.raw: Otsu threshold 119, window 40:119 (dark objects)\n"}};
  for (const Expect& e : kExpect) {
    RunResult otsu = run_solvik(dir.path(), "", {"-w", e.word, "two.raw", "otsu.raw"});
    ASSERT_EQ(otsu.status, 0) << otsu.errors;
    EXPECT_EQ(otsu.output, e.line);
    RunResult given = run_solvik(dir.path(), "", {"-q", "--window", e.window, "two.raw", "given.raw"});
    ASSERT_EQ(given.status, 0) << given.errors;
    EXPECT_EQ(read_file(dir / "otsu.raw"), read_file(dir / "given.raw")) << e.word;
    // the bright and dark objects differ: the window is not the whole range
    EXPECT_NE(read_file(dir / "otsu.raw").find('\x01'), std::string::npos) << e.word;
  }
  RunResult quiet = run_solvik(dir.path(), "", {"-q", "-w", "bright", "two.raw", "otsu.raw"});
  EXPECT_EQ(quiet.output, "");
}

TEST(CommandLine, OutputValuesReplaceOneAndTwoHundredFiftyFive) {
  TempDir dir;
  const Plane grey = blobs(30, 40, 9);
  write_raster(dir / "b.raw", grey);
  ASSERT_EQ(run_solvik(dir.path(), "", {"b.raw", "plain.raw"}).status, 0);
  ASSERT_EQ(run_solvik(dir.path(), "", {"--values", "255:0", "b.raw", "inverse.raw"}).status, 0);
  const std::string plain = read_file(dir / "plain.raw"), inverse = read_file(dir / "inverse.raw");
  ASSERT_EQ(plain.size(), inverse.size());
  for (std::size_t k = 0; k < plain.size(); ++k)
    ASSERT_EQ(static_cast<unsigned char>(inverse[k]), plain[k] == '\x01' ? 255 : 0) << k;
}

TEST(CommandLine, AsciiGridValuesAreKeptWholeAndBadValuesAreLocated) {
  TempDir dir;
  // 300 would be 44 and -1 would be 255 in the dialogue; here they are
  // themselves, and decimals count
  write_file(dir / "g.asc",
             "ncols 5\nnrows 4\nxllcorner 0\nyllcorner 0\ncellsize 1\nnodata_value -9999\n"
             "0.5 300 300 300 -1\n-9999 300 300 300 0.4\n0 300 300 300 0\n0 300 300 300 0\n");
  RunResult r = run_solvik(dir.path(), "", {"--as-dialogue", "-w", "299.5:1000", "g.asc", "g.raw"});
  ASSERT_EQ(r.status, 0) << r.errors;
  EXPECT_EQ(result_picture(dir / "g.raw", 4, 5),
            (std::vector<std::string>{"..#..", "..#..", "..#..", "..#.."}));
  // nodata is background even when the window holds it: the left half of
  // this block is nodata, and only the right half keeps a skeleton
  const std::string block = "-9999 -9999 -9999 -9999 1 1 1 1 1\n";
  for (const char* nodata : {"-9999", "-7777"}) {
    write_file(dir / "n.asc", "ncols 9 nrows 3 xllcorner 0 yllcorner 0 cellsize 1 nodata_value " + std::string(nodata) +
                                  "\n" + block + block + block);
    ASSERT_EQ(run_solvik(dir.path(), "", {"-w", "-10000:1", "--frame", "pad", "n.asc", "n.raw"}).status, 0);
    EXPECT_EQ(result_picture(dir / "n.raw", 3, 9)[1], std::string(nodata) == "-9999" ? ".....###." : ".#######.")
        << nodata;
  }

  write_file(dir / "bad.asc", "ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1\n1 2 3\n4 x5 6\n");
  RunResult bad = run_solvik(dir.path(), "", {"bad.asc", "bad.raw"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.errors, "bad.asc: grid line 1, column 1 (counted from 0): \"x5\" is not a number\n");
  EXPECT_FALSE(fs::exists(dir / "bad.raw"));
}

TEST(CommandLine, ManyImagesTwoAtATimeOneBadAmongThem) {
  TempDir dir;
  std::vector<std::string> args = {"-j", "2", "-o", "results"};
  for (int k = 0; k < 5; ++k) {
    write_raster(dir / ("in/p" + std::to_string(k) + ".raw"), blobs(20 + k, 30, static_cast<std::uint32_t>(k)));
    args.push_back("in/p" + std::to_string(k) + ".raw");
  }
  write_file(dir / "in/broken.raw", "xyz");  // no descriptor
  args.insert(args.begin() + 6, "in/broken.raw");
  RunResult r = run_solvik(dir.path(), "", args);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.errors.find("in/broken.raw: its descriptor in/broken.txt cannot be read"), 0u) << r.errors;
  EXPECT_EQ(std::count(r.errors.begin(), r.errors.end(), '\n'), 1) << r.errors;
  for (int k = 0; k < 5; ++k) {
    const std::string one = "in/p" + std::to_string(k) + ".raw", many = "results/p" + std::to_string(k) + "_reg.raw";
    ASSERT_TRUE(fs::exists(dir / many)) << many;
    ASSERT_EQ(run_solvik(dir.path(), "", {one, "alone.raw"}).status, 0);
    EXPECT_EQ(read_file(dir / many), read_file(dir / "alone.raw")) << many;
  }
  EXPECT_FALSE(fs::exists(dir / "results/broken_reg.raw"));

  // -f chooses the format; two inputs of one stem cannot share a result:
  // the batch stops before any work
  write_bmp8(dir / "in/p0.bmp", blobs(8, 8, 1));
  RunResult clash = run_solvik(dir.path(), "", {"-f", "bmp", "-o", "bmps", "in/p0.raw", "in/p0.bmp"});
  EXPECT_EQ(clash.status, 2);
  EXPECT_EQ(clash.errors.rfind("solvik: in/p0.bmp: the result bmps/p0_reg.bmp would also be the result "
                               "bmps/p0_reg.bmp of in/p0.raw\n", 0), 0u) << clash.errors;
  EXPECT_FALSE(fs::exists(dir / "bmps/p0_reg.bmp"));
}

TEST(CommandLine, AResultNeverReplacesAnInputWhateverItsSpelling) {
  TempDir dir;
  write_raster(dir / "a.raw", blobs(12, 12, 3));
  write_raster(dir / "a_reg.raw", blobs(12, 12, 4));
  write_bmp8(dir / "b.bmp", blobs(12, 12, 5));
  fs::create_directory_symlink(".", dir / "here");
  fs::create_hard_link(dir / "b.bmp", dir / "link.bmp");
  std::vector<std::pair<std::string, std::string>> before;
  for (const char* name : {"a.raw", "a.txt", "a_reg.raw", "a_reg.txt", "b.bmp"})
    before.emplace_back(name, read_file(dir / name));
  // refused before any work, as a usage error naming both files
  struct Refused { std::vector<std::string> args; const char* says; };
  const Refused kRefused[] = {
      {{"a.raw", "./a.raw"}, "a.raw: the result ./a.raw would replace the input a.raw\n"},
      {{"b.bmp", "here/b.bmp"}, "b.bmp: the result here/b.bmp would replace the input b.bmp\n"},
      {{"b.bmp", "link.bmp"}, "b.bmp: the result link.bmp would replace the input b.bmp\n"},
      // a raster result's descriptor is a.txt, the input's descriptor
      {{"a.raw", "a.RAW"}, "a.raw: the result's descriptor a.txt would replace the input a.txt\n"},
      // in a batch, a result over another input of the batch
      {{"-o", "here", "a.raw", "a_reg.raw"}, "a.raw: the result here/a_reg.raw would replace the input a_reg.raw\n"},
  };
  for (const Refused& r : kRefused) {
    RunResult run = run_solvik(dir.path(), "", r.args);
    EXPECT_EQ(run.status, 2) << r.says;
    EXPECT_EQ(run.errors.rfind(std::string("solvik: ") + r.says, 0), 0u) << run.errors;
  }
  for (const auto& [name, bytes] : before) EXPECT_EQ(read_file(dir / name), bytes) << name;
  EXPECT_FALSE(fs::exists(dir / "a.RAW"));
  EXPECT_FALSE(fs::exists(dir / "a_reg_reg.raw"));  // nor was the batch's other image done
  for (const auto& e : fs::directory_iterator(dir.path()))
    EXPECT_NE(e.path().filename().string().rfind(".sv", 0), 0u) << "temporary file left: " << e.path();
}

// GDAL and the libraries it brings are loaded only by runs whose files need
// them; without GDAL's part beside the program those runs fail, naming it,
// and the others still run.
TEST(CommandLine, GdalIsLoadedOnlyForFilesThatNeedIt) {
#ifndef SOLVIK_HAVE_GDAL_RASTER
  GTEST_SKIP() << "built without GDAL";
#else
  TempDir dir;
  write_raster(dir / "a.raw", blobs(20, 20, 1));
  const struct {
    std::vector<std::string> args;
    bool loads;
  } kRuns[] = {{{"a.raw", "b.raw"}, false},
               {{"a.raw", "b.asc"}, false},
               {{"b.asc", "f.asc"}, false},
               {{"a.raw", "b.bmp"}, false},
               {{"--summary", "s.csv", "a.raw", "c.raw"}, false},
               {{"a.raw", "b.tif"}, true},
               {{"--vector", "v.geojson", "a.raw", "d.raw"}, true}};
  for (const auto& r : kRuns) {
    const RunResult run = run_solvik(dir.path(), "", r.args, "LD_DEBUG=libs");
    EXPECT_EQ(run.status, 0) << r.args.back();
    EXPECT_EQ(run.errors.find("libgdal") != std::string::npos, r.loads) << r.args.back();
  }
  const fs::path bin = dir / "bin";
  fs::create_directory(bin);
  const fs::path program = SOLVIK_BINARY;
  fs::copy_file(program, bin / "solvik");
  fs::copy_file(program.parent_path() / "solvik_cli.so", bin / "solvik_cli.so");
  const std::string run = "cd '" + dir.path().string() + "' && bin/solvik -q a.raw ";
  EXPECT_EQ(std::system((run + "e.raw").c_str()), 0);
  EXPECT_NE(std::system((run + "e.tif 2> said.txt").c_str()), 0);
  EXPECT_NE(read_file(dir / "said.txt").find("GDAL's part of the program cannot be loaded"), std::string::npos)
      << read_file(dir / "said.txt");
  EXPECT_FALSE(fs::exists(dir / "e.tif"));
#endif
}

TEST(CommandLine, EveryUsageErrorGivesStatusTwoAndTheUsage) {
  TempDir dir;
  write_raster(dir / "a.raw", blobs(5, 5, 1));
  struct Usage { std::vector<std::string> args; const char* says; };
  const Usage kUsage[] = {
      {{"--frobnicate", "a.raw", "b.raw"}, "unknown option '--frobnicate'"},
      {{"-x"}, "unknown option '-x'"},
      {{"a.raw"}, "OUTPUT missing"},
      {{"-w", "128:255"}, "no INPUT given"},
      {{"a.raw", "b.raw", "c.raw"}, "more than one INPUT"},
      {{"-w", "128", "a.raw", "b.raw"}, "bad window '128'"},
      {{"-w", "200:100", "a.raw", "b.raw"}, "MIN is above MAX"},
      {{"-w", "1:2x", "a.raw", "b.raw"}, "bad window '1:2x'"},
      {{"-w", "nan:1", "a.raw", "b.raw"}, "bad window 'nan:1'"},
      {{"--window=darkish", "a.raw", "b.raw"}, "bad window 'darkish'"},
      {{"-b", "0", "a.raw", "b.raw"}, "bad band '0'"},
      {{"--band", "two", "a.raw", "b.raw"}, "bad band 'two'"},
      {{"--frame", "wrap", "a.raw", "b.raw"}, "bad frame 'wrap'"},
      {{"--values", "1:1", "a.raw", "b.raw"}, "different values"},
      {{"--values", "0:256", "a.raw", "b.raw"}, "bad values '0:256'"},
      {{"--values", "7", "a.raw", "b.raw"}, "bad values '7'"},
      {{"-j", "-1", "-o", "out", "a.raw"}, "bad number of jobs '-1'"},
      {{"--threads", "0", "a.raw", "b.raw"}, "bad number of threads '0'"},
      {{"-f", "jpg", "-o", "out", "a.raw"}, "bad format 'jpg'"},
      {{"-f", "bmp", "a.raw", "b.raw"}, "-f chooses the results' format"},
      {{"a.raw", "b.jpg"}, "OUTPUT 'b.jpg'"},
      {{"a.raw", "b"}, "OUTPUT 'b'"},
      {{"-o"}, "option '-o' needs a value"},
      {{"-o", "out"}, "no INPUT given"},
      {{"a.raw", "b.raw", "-w"}, "option '-w' needs a value"},
      {{"--prune", "-3", "a.raw", "b.raw"}, "bad prune length '-3'"},
      {{"--simplify", "2", "a.raw", "b.raw"}, "--simplify applies to the lines"},
      {{"--vector", "v.tif", "a.raw", "b.raw"}, "--vector 'v.tif': vector files are written as"},
      {{"--nodes", "n.txt", "a.raw", "b.raw"}, "--nodes 'n.txt': vector files are written as"},
  };
  for (const Usage& u : kUsage) {
    std::string shown;
    for (const auto& a : u.args) shown += a + " ";
    RunResult r = run_solvik(dir.path(), "", u.args);
    EXPECT_EQ(r.status, 2) << shown;
    EXPECT_EQ(r.output, "") << shown;
    EXPECT_EQ(r.errors.rfind("solvik: ", 0), 0u) << shown << r.errors;
    EXPECT_NE(r.errors.find(u.says), std::string::npos) << shown << r.errors;
    EXPECT_NE(r.errors.find("Usage: solvik"), std::string::npos) << shown;
  }
  EXPECT_FALSE(fs::exists(dir / "b.raw"));
  EXPECT_FALSE(fs::exists(dir / "out"));
  RunResult formats = run_solvik(dir.path(), "", {"--formats"});
  EXPECT_EQ(formats.status, 0);
  EXPECT_NE(formats.output.find(".asc"), std::string::npos);
}

TEST(CommandLine, ImagesThatCannotBeReadAreOneLineEach) {
  TempDir dir;
  write_file(dir / "short.raw", "abc");
  write_file(dir / "short.txt", "2 2 1 0 255 1");
  write_file(dir / "empty.bmp", "");
  write_file(dir / "zero.txt", "0 5");
  write_file(dir / "zero.raw", "abcde");
  fs::create_directory(dir / "folder.raw");
  // a header that promises 5 billion values in a file of a few bytes
  write_file(dir / "huge.asc", "ncols 555555555\nnrows 9\nxllcorner 0\nyllcorner 0\ncellsize 1\n1 2 3");
  struct Unreadable { const char* input; const char* says; };
  const Unreadable kUnreadable[] = {
      {"missing.raw", "missing.raw: No such file or directory\n"},
      {"short.raw", "short.raw: the raster holds 3 bytes, but 2 lines of 2 columns need 4\n"},
      {"zero.raw", "zero.raw: its descriptor zero.txt gives 0 lines and 5 columns: an image needs at least one of each\n"},
      {"folder.raw", "folder.raw: "},
      {"empty.bmp", "empty.bmp: "},
      {"huge.asc", "huge.asc: grid line 0, column 3 (counted from 0): the file ends before this value"},
  };
  // the refusals cost no memory for what the headers promise
#if defined(__SANITIZE_ADDRESS__)
  const std::string limit;  // an address-sanitized program cannot run under a memory limit
#else
  const std::string limit = "ulimit -v 2000000 &&";
#endif
  for (const Unreadable& u : kUnreadable) {
    RunResult r = run_solvik(dir.path(), "", {u.input, "out.bmp"}, limit);
    EXPECT_EQ(r.status, 1) << u.input;
    EXPECT_EQ(r.errors.rfind(u.says, 0), 0u) << r.errors;
    EXPECT_EQ(std::count(r.errors.begin(), r.errors.end(), '\n'), 1) << r.errors;
    EXPECT_FALSE(fs::exists(dir / "out.bmp"));
  }
}

}  // namespace
