// The command line tried as a hostile or unlucky user would, as the real
// program: every file of a run planned and checked before any work (a table
// of collisions), an image's files put in place together or not at all, a
// GeoPackage's other layers kept, read errors that fail the image, closed
// standard descriptors, and GDAL inputs that could hang a run. Every case
// checks the status, the message, that the folder holds exactly what it
// held (byte for byte) or the new results, and that no temporary is left.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/helpers.h"

namespace {

using namespace testing_support;
namespace fs = std::filesystem;

#ifdef SOLVIK_HAVE_GDAL_RASTER
constexpr bool kGdal = true;
#else
constexpr bool kGdal = false;
#endif

// Everything below a folder: relative name -> bytes ("<fifo>", "<dir>",
// "<link>" for what is not a regular file).
std::map<std::string, std::string> contents(const fs::path& folder) {
  std::map<std::string, std::string> m;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    const auto type = e.symlink_status().type();
    const std::string name = fs::relative(e.path(), folder).string();
    if (type == fs::file_type::symlink) m[name] = "<link>";
    else if (type == fs::file_type::fifo) m[name] = "<fifo>";
    else if (type == fs::file_type::directory) m[name] = "<dir>";
    else m[name] = read_file(e.path());
  }
  return m;
}

// Names a run left that start with a dot: temporary files.
std::vector<std::string> temporaries(const fs::path& folder) {
  std::vector<std::string> left;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (e.path().filename().string()[0] == '.') left.push_back(e.path().string());
  return left;
}

// A picture of `lines` x `columns` with two bars and a diagonal.
std::string picture_bytes(int lines, int columns) {
  std::string b(static_cast<std::size_t>(lines * columns), '\x14');
  for (int i = 0; i < lines; ++i)
    for (int j = 0; j < columns; ++j)
      if ((i > lines / 5 && i < lines / 3 && j > 3) || (j > columns / 2 && j < columns / 2 + 6) ||
          std::abs(i * columns / lines - j) < 3)
        b[static_cast<std::size_t>(i * columns + j)] = static_cast<char>(200);
  return b;
}

void put_raster(const fs::path& raw, int lines = 40, int columns = 60) {
  write_file(raw, picture_bytes(lines, columns));
  fs::path txt = raw;
  write_file(txt.replace_extension(".txt"), std::to_string(lines) + " " + std::to_string(columns) + " 1 0 255 1\n");
}

// A georeferenced ASCII grid of the same picture.
void put_grid(const fs::path& asc, int lines = 40, int columns = 60) {
  const std::string b = picture_bytes(lines, columns);
  std::string text = "ncols " + std::to_string(columns) + "\nnrows " + std::to_string(lines) +
                     "\nxllcorner 500000\nyllcorner 4600000\ncellsize 2\n";
  for (int i = 0; i < lines; ++i) {
    for (int j = 0; j < columns; ++j)
      text.append(std::to_string(static_cast<unsigned char>(b[static_cast<std::size_t>(i * columns + j)]))).append(" ");
    text += "\n";
  }
  write_file(asc, text);
}

// Runs a shell command line in `cwd` with a time limit; the status, or 124
// when the time ran out.
int shell(const fs::path& cwd, const std::string& line, int seconds = 60) {
  std::string cmd = "cd '" + cwd.string() + "' && timeout -s KILL " + std::to_string(seconds) + " sh -c '" + line + "'";
  const int raw = std::system(cmd.c_str());
  if (!WIFEXITED(raw)) return 128;
  const int status = WEXITSTATUS(raw);
  return status == 137 ? 124 : status;
}

std::string program() { return std::string("'\\''") + SOLVIK_BINARY + "'\\''"; }

bool have_tool(const char* name) {
  return std::system((std::string("command -v ") + name + " > /dev/null 2>&1").c_str()) == 0;
}

// ogrinfo's list of a vector file's layers ("1: branches (Line String)").
std::string layers_of(const fs::path& file) {
  std::string out;
  FILE* f = popen(("ogrinfo -q '" + file.string() + "' 2>&1").c_str(), "r");
  if (!f) return out;
  std::array<char, 4096> buf{};
  while (std::size_t n = std::fread(buf.data(), 1, buf.size(), f)) out.append(buf.data(), n);
  pclose(f);
  return out;
}

// A folder of inputs and earlier results for the tables below.
class Outputs : public ::testing::Test {
 protected:
  void SetUp() override {
    put_raster(dir_ / "a.raw");
    put_raster(dir_ / "x.raw", 30, 50);
    write_file(dir_ / "real.csv", "earlier\n");
    fs::create_symlink("real.csv", dir_ / "link.csv");
    fs::create_directory_symlink(".", dir_ / "here");
    fs::create_directory(dir_ / "dir.bmp");
    mkfifo((dir_ / "ff.png").c_str(), 0600);
    put_raster(dir_ / "o.raw", 10, 10);
    fs::remove(dir_ / "o.txt");
    fs::create_directory(dir_ / "o.txt");
    if (kGdal) {
      ASSERT_EQ(run_solvik(dir_.path(), "", {"-w", "0:255", "a.raw", "src.tif"}).status, 0);
      ASSERT_EQ(run_solvik(dir_.path(), "", {"-w", "0:255", "a.raw", "a.tif"}).status, 0);
      write_file(dir_ / "v.vrt", vrt("src.tif"));
      put_grid(dir_ / "roads.asc");
      write_file(dir_ / "roads.prj", "PROJCS[\"the grid's own\"]\n");
    }
  }
  // A VRT of the 40 x 60 Byte raster `source` (relative to the VRT).
  static std::string vrt(const std::string& source, const std::string& band_extra = "") {
    return "<VRTDataset rasterXSize=\"60\" rasterYSize=\"40\">\n"
           "  <VRTRasterBand dataType=\"Byte\" band=\"1\"" + band_extra + ">\n"
           "    <SimpleSource><SourceFilename relativeToVRT=\"1\">" + source + "</SourceFilename>\n"
           "      <SourceBand>1</SourceBand></SimpleSource>\n"
           "  </VRTRasterBand>\n</VRTDataset>\n";
  }
  TempDir dir_;
};

// ---------------------------------------------------------------------------
// Two outputs that are one file, an output that an input reads, an output
// that cannot be replaced: a usage error naming both, before any work.

struct Collision {
  const char* what;
  std::vector<std::string> args;
  const char* says;  // after "solvik: "
  bool needs_gdal;
};

const Collision kCollisions[] = {
    {"summary = result", {"--summary", "o.png", "a.raw", "o.png"}, "a.raw: the summary o.png would also be the result o.png", false},
    {"summary = descriptor", {"--summary", "n.txt", "a.raw", "n.raw"},
     "a.raw: the summary n.txt would also be the result's descriptor n.txt", false},
    {"lines = nodes", {"--vector", "g.gpkg", "--nodes", "g.gpkg", "a.raw", "n.raw"},
     "a.raw: the nodes g.gpkg would also be the lines g.gpkg", false},
    {"lines = summary", {"--vector", "s.csv", "--summary", "s.csv", "a.raw", "n.raw"},
     "a.raw: the summary s.csv would also be the lines s.csv", false},
    {"shapefile lines = nodes", {"--vector", "x.shp", "--nodes", "x.shp", "a.raw", "n.raw"},
     "a.raw: the nodes x.shp would also be the lines x.shp", false},
    {"summary = a shapefile's side file", {"--vector", "x.shp", "--summary", "x.dbf", "a.raw", "n.raw"},
     "a.raw: the summary x.dbf would also be a side file of the lines x.dbf", true},
    {"the same file through a link", {"--vector", "real.csv", "--summary", "link.csv", "a.raw", "n.raw"},
     "a.raw: the summary link.csv would also be the lines real.csv", false},
    {"a new file through a folder link", {"--vector", "s.csv", "--summary", "here/s.csv", "a.raw", "n.raw"},
     "a.raw: the summary here/s.csv would also be the lines s.csv", false},
    {"summary = the input", {"--summary", "a.raw", "a.raw", "n.raw"}, "a.raw: the summary a.raw would replace the input a.raw", false},
    {"summary = the input's descriptor", {"--summary", "here/a.txt", "a.raw", "n.bmp"},
     "a.raw: the summary here/a.txt would replace the input a.txt", false},
    {"result = a VRT's source", {"v.vrt", "src.tif"}, "v.vrt: the result src.tif would replace the file", true},
    {"a shapefile's .prj = the grid's", {"--vector", "roads.shp", "roads.asc", "r.png"},
     "roads.asc: a side file of the lines roads.prj would replace the file", true},
    {"batch: two stems' results", {"-o", "out", "-f", "bmp", "a.raw", "here/a.raw"},
     "here/a.raw: the result out/a_reg.bmp would also be the result out/a_reg.bmp of a.raw", false},
    {"batch: two stems' graph files", {"-o", "out", "--summary", "s.csv", "--vector", "v.geojson", "a.raw", "a.tif"},
     "a.tif: the lines out/a_reg.branches.geojson would also be the lines out/a_reg.branches.geojson of a.raw", true},
    {"batch: a result over another input", {"-o", ".", "a.raw", "a_reg.raw"},
     "a.raw: the result ./a_reg.raw would replace the input a_reg.raw", false},
    {"result is a FIFO", {"a.raw", "ff.png"}, "a.raw: the result ff.png cannot be replaced: it is not a regular file", false},
    {"result is a folder", {"a.raw", "dir.bmp"}, "a.raw: the result dir.bmp cannot be replaced: it is a folder", false},
    {"the descriptor is a folder", {"a.raw", "o.raw"},
     "a.raw: the result's descriptor o.txt cannot be replaced: it is a folder", false},
    // --plan refuses what the run refuses, with the same words
    {"plan: summary = the input's descriptor", {"--plan", "--summary", "here/a.txt", "a.raw", "n.bmp"},
     "a.raw: the summary here/a.txt would replace the input a.txt", false},
    {"plan: batch: two stems' results", {"-o", "out", "--plan", "-f", "bmp", "a.raw", "here/a.raw"},
     "here/a.raw: the result out/a_reg.bmp would also be the result out/a_reg.bmp of a.raw", false},
    {"plan: result = a VRT's source", {"v.vrt", "src.tif", "--plan"}, "v.vrt: the result src.tif would replace the file", true},
};

TEST_F(Outputs, EveryCollisionStopsTheRunBeforeAnyWork) {
  write_file(dir_ / "a_reg.raw", "an input named like a result");
  const auto before = contents(dir_.path());
  for (const Collision& c : kCollisions) {
    SCOPED_TRACE(c.what);
    if (c.needs_gdal && !kGdal) continue;
    RunResult r = run_solvik(dir_.path(), "", c.args, "timeout -s KILL 60");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.errors.rfind(std::string("solvik: ") + c.says, 0), 0u) << r.errors;
    EXPECT_NE(r.errors.find("Usage: solvik"), std::string::npos);
    EXPECT_EQ(r.output, "");
    EXPECT_EQ(contents(dir_.path()), before);
  }
}

// In the many-images form an image's graph files are named by what they
// hold, so no kinds of file can take one name.
TEST_F(Outputs, BatchGraphFilesAreNamedByWhatTheyHold) {
  std::vector<std::string> args = {"-o", "out", "--summary", "s.csv", "a.raw", "x.raw"};
  std::vector<std::string> expected = {"a_reg.raw", "a_reg.summary.csv", "a_reg.txt",
                                       "x_reg.raw", "x_reg.summary.csv", "x_reg.txt"};
  if (kGdal) {
    args.insert(args.begin(), {"--vector", "v.csv", "--nodes", "n.csv"});
    expected = {"a_reg.branches.csv", "a_reg.nodes.csv", "a_reg.raw", "a_reg.summary.csv", "a_reg.txt",
                "x_reg.branches.csv", "x_reg.nodes.csv", "x_reg.raw", "x_reg.summary.csv", "x_reg.txt"};
  }
  // --plan first: it names exactly the files the run then writes, and
  // the inputs it reads, and does nothing
  args.insert(args.begin(), "--plan");
  RunResult plan = run_solvik(dir_.path(), "", args);
  ASSERT_EQ(plan.status, 0) << plan.errors;
  EXPECT_FALSE(fs::exists(dir_ / "out"));
  std::vector<std::string> planned, read;
  for (std::size_t at = 0, end; (end = plan.output.find('\n', at)) != std::string::npos; at = end + 1) {
    const std::string line = plan.output.substr(at, end - at);
    const std::size_t tab = line.find('\t'), tab2 = line.find('\t', tab + 1);
    const std::string role = line.substr(tab + 1, tab2 - tab - 1), file = line.substr(tab2 + 1);
    if (role == "read") read.push_back(line.substr(0, tab) + " " + file);
    else planned.push_back(fs::path(file).filename().string());
  }
  std::sort(planned.begin(), planned.end());
  EXPECT_EQ(planned, expected) << plan.output;
  EXPECT_EQ(read, (std::vector<std::string>{"a.raw a.raw", "a.raw a.txt", "x.raw x.raw", "x.raw x.txt"}));
  args.erase(args.begin());
  RunResult r = run_solvik(dir_.path(), "", args);
  ASSERT_EQ(r.status, 0) << r.errors;
  std::vector<std::string> made;
  for (const auto& [name, bytes] : contents(dir_ / "out")) made.push_back(name);
  EXPECT_EQ(made, expected);
  EXPECT_EQ(read_file(dir_ / "out/a_reg.summary.csv").rfind("component,branches,", 0), 0u);
}

// ---------------------------------------------------------------------------
// An image's files go in place together: when one cannot be written, none
// of the earlier ones changes.

struct Failing {
  const char* what;
  std::vector<std::string> args;
  const char* says;
  const char* prefix;
  bool needs_gdal;
};

const Failing kFailing[] = {
    {"lines in a missing folder", {"--vector", "nodir/v.gpkg", "--summary", "s.csv", "a.raw", "o1.bmp"},
     "a.raw: the lines nodir/v.gpkg could not be written: ", "", true},
    {"summary in a missing folder", {"--vector", "v.geojson", "--summary", "nodir/s.csv", "a.raw", "o1.bmp"},
     "a.raw: the summary nodir/s.csv could not be written: ", "", true},
    {"summary in a missing folder, raster pair", {"--summary", "nodir/s.csv", "a.raw", "o2.raw"},
     "a.raw: the summary nodir/s.csv could not be written: ", "", false},
    {"a .gpkg that is no GeoPackage", {"--vector", "text.gpkg", "a.raw", "o1.bmp"},
     "a.raw: the lines text.gpkg could not be written: text.gpkg: the file is there and is not a GeoPackage", "", true},
    {"GeoJSON under a file size limit", {"--vector", "v.geojson", "--nodes", "n.geojson", "x.raw", "o1.bmp"},
     "x.raw: the lines v.geojson could not be written: ", "ulimit -f 2 &&", true},
};

TEST_F(Outputs, AnImagesFilesGoInPlaceTogetherOrNotAtAll) {
  write_file(dir_ / "text.gpkg", "not a GeoPackage\n");
  // earlier results of every name, from another image
  std::vector<std::string> earlier = {"--summary", "s.csv", "x.raw", "o1.bmp"};
  if (kGdal) earlier.insert(earlier.begin(), {"--vector", "v.geojson", "--nodes", "n.geojson"});
  ASSERT_EQ(run_solvik(dir_.path(), "", earlier).status, 0);
  ASSERT_EQ(run_solvik(dir_.path(), "", {"x.raw", "o2.raw"}).status, 0);
  // 150 short strokes: lines of far more bytes than the size limit lets through
  std::string strokes(30 * 50, '\x14');
  for (int i = 1; i < 30; i += 2)
    for (int j = 1; j + 3 < 50; j += 5) strokes.replace(static_cast<std::size_t>(i * 50 + j), 3, "\xc8\xc8\xc8");
  write_file(dir_ / "x.raw", strokes);
  const auto before = contents(dir_.path());
  for (const Failing& f : kFailing) {
    SCOPED_TRACE(f.what);
    if (f.needs_gdal && !kGdal) continue;
    RunResult r = run_solvik(dir_.path(), "", f.args, f.prefix);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.errors.rfind(f.says, 0), 0u) << r.errors;
    EXPECT_EQ(contents(dir_.path()), before);
    EXPECT_EQ(temporaries(dir_.path()), std::vector<std::string>{});
  }
}

// A GeoPackage gains or replaces only this run's layers; a shapefile's name
// beside an unrelated .prj leaves it alone.
TEST_F(Outputs, ExistingVectorFilesLoseNothingTheRunDoesNotWrite) {
  if (!kGdal || !have_tool("ogrinfo")) GTEST_SKIP() << "needs GDAL and ogrinfo";
  ASSERT_EQ(run_solvik(dir_.path(), "", {"--vector", "mine.gpkg", "a.raw", "o1.bmp"}).status, 0);
  ASSERT_EQ(run_solvik(dir_.path(), "", {"--vector", "mine.gpkg", "x.raw", "o1.bmp"}).status, 0);
  EXPECT_EQ(layers_of(dir_ / "mine.gpkg"), "1: branches (Line String)\n2: nodes (Point)\n");
  // the nodes alone replace the nodes layer; the branches stay
  const std::string branches_before = layers_of(dir_ / "mine.gpkg");
  ASSERT_EQ(run_solvik(dir_.path(), "", {"--nodes", "mine.gpkg", "a.raw", "o1.bmp"}).status, 0);
  EXPECT_EQ(layers_of(dir_ / "mine.gpkg"), branches_before);
  std::string all;
  FILE* f = popen(("ogrinfo -so '" + (dir_ / "mine.gpkg").string() + "' branches nodes 2>&1").c_str(), "r");
  std::array<char, 4096> buf{};
  while (std::size_t n = std::fread(buf.data(), 1, buf.size(), f)) all.append(buf.data(), n);
  pclose(f);
  EXPECT_NE(all.find("Feature Count: "), std::string::npos) << all;

  write_file(dir_ / "lone.prj", "PROJCS[\"not of a shapefile\"]\n");
  ASSERT_EQ(run_solvik(dir_.path(), "", {"--vector", "lone.shp", "a.raw", "o1.bmp"}).status, 0);
  EXPECT_EQ(read_file(dir_ / "lone.prj"), "PROJCS[\"not of a shapefile\"]\n");
  EXPECT_TRUE(fs::exists(dir_ / "lone.shp") && fs::exists(dir_ / "lone.dbf") && fs::exists(dir_ / "lone.shx"));
}

// ---------------------------------------------------------------------------
// Read errors fail the image: a file cut at half its bytes gives no result.

TEST_F(Outputs, AFileCutShortIsAnErrorNeverGrey) {
  if (!kGdal || !have_tool("gdal_translate")) GTEST_SKIP() << "needs GDAL and gdal_translate";
  for (const char* format : {"JPEG", "PNG"}) {
    SCOPED_TRACE(format);
    const std::string whole = std::string("whole.") + (format[0] == 'J' ? "jpg" : "png");
    const std::string cut = std::string("cut.") + (format[0] == 'J' ? "jpg" : "png");
    ASSERT_EQ(shell(dir_.path(), std::string("gdal_translate -q -of ") + format + " src.tif " + whole), 0);
    const std::string bytes = read_file(dir_ / whole);
    write_file(dir_ / cut, bytes.substr(0, bytes.size() / 2));
    ASSERT_EQ(run_solvik(dir_.path(), "", {whole, "fine.png"}).status, 0);
    RunResult r = run_solvik(dir_.path(), "", {cut, "cut_reg.png"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.errors.rfind(cut + ": ", 0), 0u) << r.errors;
    EXPECT_FALSE(fs::exists(dir_ / "cut_reg.png"));
  }
}

// ---------------------------------------------------------------------------
// Closed standard descriptors: a result never takes 0, 1 or 2, so nothing
// the program prints lands in it.

TEST_F(Outputs, ClosedStandardDescriptorsNeverBecomeAResult) {
  // GDAL's writer reports its progress while the file is being written
  const std::string result = kGdal ? "r.png" : "r.bmp", ref = kGdal ? "ref.png" : "ref.bmp";
  ASSERT_EQ(run_solvik(dir_.path(), "", {"-w", "bright", "a.raw", ref}).status, 0);
  const std::string reference = read_file(dir_ / ref);
  struct Closed { const char* redirect; const char* option; };
  const Closed kClosed[] = {{"> /dev/null 2>&-", "--progress"}, {">&-", "-w bright"}, {"<&- > /dev/null 2>&-", "--progress"}};
  for (const Closed& c : kClosed) {
    SCOPED_TRACE(c.redirect);
    fs::remove(dir_ / result);
    EXPECT_EQ(shell(dir_.path(), program() + " -w bright " + c.option + " a.raw " + result + " " + c.redirect), 0);
    EXPECT_EQ(read_file(dir_ / result), reference);
  }
}

// ---------------------------------------------------------------------------
// Nothing GDAL opens can hang a run, nor read what the user did not allow.

struct Hang {
  const char* what;
  const char* input;
  const char* says;  // after "<input>: "
};

const Hang kHangs[] = {
    {"a VRT whose source is a FIFO", "fifo.vrt", "fifo.vrt reads "},
    {"a raster beside a FIFO .aux.xml", "g/g.tif", "its side file g/g.tif.aux.xml is not a regular file"},
    {"a raster beside a FIFO world file", "w/w.tif", "its side file w/w.tfw is not a regular file"},
    {"a VRT whose source is on a server that never answers", "net.vrt", "net.vrt reads /vsicurl/"},
    {"a VRT raw band on any file", "raw.vrt", "raw.vrt has a raw band"},
};

TEST_F(Outputs, NothingGdalOpensCanHangARun) {
  if (!kGdal) GTEST_SKIP() << "needs GDAL";
  mkfifo((dir_ / "fsrc.tif").c_str(), 0600);
  write_file(dir_ / "fifo.vrt", vrt("fsrc.tif"));
  fs::create_directories(dir_ / "g");
  fs::copy_file(dir_ / "src.tif", dir_ / "g/g.tif");
  mkfifo((dir_ / "g/g.tif.aux.xml").c_str(), 0600);
  fs::create_directories(dir_ / "w");
  fs::copy_file(dir_ / "src.tif", dir_ / "w/w.tif");
  mkfifo((dir_ / "w/w.tfw").c_str(), 0600);
  // a port nothing listens on: refused before any connection is tried
  write_file(dir_ / "net.vrt", vrt("/vsicurl/http://127.0.0.1:9/x.tif"));
  write_file(dir_ / "secret.txt", std::string(4000, 's'));
  write_file(dir_ / "raw.vrt",
             "<VRTDataset rasterXSize=\"60\" rasterYSize=\"40\">\n"
             "  <VRTRasterBand dataType=\"Byte\" band=\"1\" subClass=\"VRTRawRasterBand\">\n"
             "    <SourceFilename relativetoVRT=\"1\">secret.txt</SourceFilename>\n"
             "    <ImageOffset>0</ImageOffset><PixelOffset>1</PixelOffset><LineOffset>60</LineOffset>\n"
             "  </VRTRasterBand>\n</VRTDataset>\n");
  const auto before = contents(dir_.path());
  for (const Hang& h : kHangs) {
    SCOPED_TRACE(h.what);
    RunResult r = run_solvik(dir_.path(), "", {h.input, "h.png"}, "timeout -s KILL 60");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.errors.rfind(std::string(h.input) + ": " + h.says, 0), 0u) << r.errors;
    EXPECT_EQ(contents(dir_.path()), before);
  }
  // the user may allow raw bands (GDAL's own option)
  RunResult allowed = run_solvik(dir_.path(), "", {"raw.vrt", "h.png"}, "GDAL_VRT_ENABLE_RAWRASTERBAND=YES");
  EXPECT_EQ(allowed.status, 0) << allowed.errors;

  // GDAL writes a result under a real name, never /proc/self/fd/N, so it
  // cannot look "beside" it into the program's own standard output
  for (const char* result : {"p.tif", "p.png", "p.pgm"}) {
    SCOPED_TRACE(result);
    EXPECT_EQ(shell(dir_.path(), "GDAL_DISABLE_READDIR_ON_OPEN=YES " + program() + " a.raw " + result + " | cat > /dev/null", 60), 0);
    EXPECT_TRUE(fs::exists(dir_ / result));
  }
}

// ---------------------------------------------------------------------------
// The dialogue's raster pair: a folder in the place of the descriptor keeps
// the earlier raster, and the message names the descriptor.

TEST(DialoguePair, AFolderInThePlaceOfTheDescriptorKeepsTheRaster) {
  TempDir dir;
  put_raster(dir / "images/s/a.raw");
  write_file(dir / "images/s/a_reg.raw", "earlier result");
  fs::create_directories(dir / "images/s/a_reg.txt");
  RunResult r = run_solvik(dir.path(), "s 0 a 0 128 255");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("The result c:\\images\\s\\a_reg.txt could not be written: it is a folder."), std::string::npos)
      << r.output;
  EXPECT_EQ(read_file(dir / "images/s/a_reg.raw"), "earlier result");
  EXPECT_EQ(temporaries(dir.path()), std::vector<std::string>{});
}

}  // namespace
