// The command line's habits, run as the real program: windows and values
// by the kind of data, GDAL's spellings refused where they do not apply,
// grid headers that keep their numbers on both doors, and the manual page
// that lists the options the program takes. (What needs GDAL's reader to
// check is in tests/interop/cli_habits.py.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli/options.h"
#include "support/helpers.h"

namespace {

using namespace testing_support;
namespace fs = std::filesystem;

// A bar of `object` on `ground`, 7 lines of 12 columns, as grid text.
std::string grid(const std::string& object, const std::string& ground, const std::string& header_numbers) {
  std::string text = "ncols 12\nnrows 7\n" + header_numbers + "nodata_value -9999\n";
  for (int i = 0; i < 7; ++i) {
    for (int j = 0; j < 12; ++j) text += (i >= 2 && i <= 4 ? object : ground) + " ";
    text += "\n";
  }
  return text;
}

void write_raw(const fs::path& raw, unsigned char object, unsigned char ground) {
  std::string bytes;
  for (int i = 0; i < 7; ++i)
    for (int j = 0; j < 12; ++j) bytes += static_cast<char>(i >= 2 && i <= 4 ? object : ground);
  write_file(raw, bytes);
  write_file(fs::path(raw).replace_extension(".txt"), "7 12 1 0 255 1");
}

std::set<int> values_in(const std::string& bytes) {
  std::set<int> v;
  for (char c : bytes) v.insert(static_cast<unsigned char>(c));
  return v;
}

TEST(CommandLineHabits, TheDefaultWindowFollowsTheData) {
  TempDir dir;
  write_raw(dir / "bytes.raw", 200, 10);
  write_file(dir / "grey.asc", grid("200", "10", "xllcorner 0\nyllcorner 0\ncellsize 1\n"));
  write_file(dir / "dem.asc", grid("1200", "300", "xllcorner 0\nyllcorner 0\ncellsize 1\n"));
  write_file(dir / "real.asc", grid("0.75", "0.25", "xllcorner 0\nyllcorner 0\ncellsize 1\n"));
  struct Case { const char* input; int status; const char* says; };
  const Case kCases[] = {
      {"bytes.raw", 0, ""},  // 128:255, as the dialogue
      {"grey.asc", 0, ""},   // whole grey levels, as the dialogue reads its grids
      {"dem.asc", 2, "dem.asc: it holds ASCII grid values from 300 to 1200: say which are the objects with -w"},
      {"real.asc", 2, "dem.asc"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.input);
    fs::remove(dir / "out.raw");
    RunResult r = run_solvik(dir.path(), "", {c.input, "out.raw"});
    EXPECT_EQ(r.status, c.status) << r.errors;
    if (c.status == 0) {
      // the bar is found: a skeleton line along its middle
      EXPECT_EQ(values_in(read_file(dir / "out.raw")), (std::set<int>{1, 255}));
    } else {
      EXPECT_FALSE(fs::exists(dir / "out.raw"));
      EXPECT_NE(r.errors.find(std::string(c.input) == "dem.asc" ? c.says : "from 0.25 to 0.75"), std::string::npos)
          << r.errors;
      EXPECT_NE(r.errors.find("Usage: solvik"), std::string::npos);
    }
  }
  // -w nonzero takes every value but 0, -w given takes what it says
  write_raw(dir / "zero.raw", 1, 0);
  ASSERT_EQ(run_solvik(dir.path(), "", {"-w", "nonzero", "zero.raw", "nz.raw"}).status, 0);
  ASSERT_EQ(run_solvik(dir.path(), "", {"-w", "1:255", "zero.raw", "given.raw"}).status, 0);
  EXPECT_EQ(read_file(dir / "nz.raw"), read_file(dir / "given.raw"));
  EXPECT_EQ(values_in(read_file(dir / "nz.raw")), (std::set<int>{1, 255}));
  ASSERT_EQ(run_solvik(dir.path(), "", {"-w", "300:1200", "dem.asc", "dem.raw"}).status, 0);
  // in a batch the other images are done and the status says usage
  RunResult batch = run_solvik(dir.path(), "", {"-o", "batch", "-f", "raw", "bytes.raw", "dem.asc"});
  EXPECT_EQ(batch.status, 2);
  EXPECT_TRUE(fs::exists(dir / "batch/bytes_reg.raw"));
  EXPECT_FALSE(fs::exists(dir / "batch/dem_reg.raw"));
}

TEST(CommandLineHabits, OptionsThatDoNotApplyAreUsageErrorsAndCreateNothing) {
  TempDir dir;
  write_raw(dir / "a.raw", 200, 10);
  struct Usage { std::vector<std::string> args; const char* says; };
  const Usage kUsage[] = {
      {{"-of", "GTiff", "a.raw"}, "OUTPUT missing"},  // -of takes its value, it is not -o f
      {{"-ofGTiff", "a.raw", "b.raw"}, "unknown option '-ofGTiff'"},
      {{"-ox", "a.raw"}, "unknown option '-ox'"},
      {{"-ot", "Byte", "a.raw", "b.tif"}, "unknown option '-ot'"},
      {{"-wdark", "a.raw", "b.raw"}, "unknown option '-wdark'"},
      {{"-co", "COMPRESS", "a.raw", "b.tif"}, "bad creation option 'COMPRESS'"},
      {{"-co", "=LZW", "a.raw", "b.tif"}, "bad creation option '=LZW'"},
      {{"-co", "COMPRESS=LZW", "a.raw", "b.raw"}, "-co gives creation options to results GDAL writes, not to .raw"},
      {{"-co", "COMPRESS=LZW", "-o", "f", "a.raw"}, "not to .raw"},
      {{"-a_nodata", "0", "a.raw", "b.bmp"}, "-a_nodata applies to results that hold a nodata value, not to .bmp"},
      {{"-a_nodata", "zero", "a.raw", "b.asc"}, "bad nodata value 'zero'"},
      {{"-a_nodata", "300", "a.raw", "b.tif"}, "bad nodata value '300'"},
      {{"-a_nodata", "0.5", "a.raw", "b.png"}, "bad nodata value '0.5'"},
      {{"--as-dialogue", "--values", "255:0", "a.raw", "b.raw"}, "give it or --values, not both"},
      {{"--as-dialogue", "--frame", "pad", "a.raw", "b.raw"}, "give it or --frame pad, not both"},
      {{"-w", "nonzeros", "a.raw", "b.raw"}, "bad window 'nonzeros'"},
      {{"-f", "jpg", "-o", "out", "a.raw"}, "bad format 'jpg'"},
  };
  for (const Usage& u : kUsage) {
    std::string shown;
    for (const auto& a : u.args) shown += a + " ";
    RunResult r = run_solvik(dir.path(), "", u.args);
    EXPECT_EQ(r.status, 2) << shown;
    EXPECT_NE(r.errors.find(u.says), std::string::npos) << shown << r.errors;
  }
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(dir.path())) left.push_back(e.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"a.raw", "a.txt"}));
}

TEST(CommandLineHabits, AGridKeepsTheDialoguesValuesAndNodataLineUnlessToldOtherwise) {
  TempDir dir;
  // a grid keeps 1 and 255 and the dialogue's nodata line unless -a_nodata says
  write_file(dir / "g.asc", grid("200", "10", "xllcorner 0\nyllcorner 0\ncellsize 1\n"));
  struct Grid { const char* nodata; const char* line; };
  const Grid kGrids[] = {{nullptr, "nodata_value -9999.9999\n255\t"}, {"-9999", "nodata_value -9999.000000\n255\t"},
                         {"none", "cellsize 1.000000\n255\t"}};
  for (const Grid& g : kGrids) {
    std::vector<std::string> args = {"g.asc", "g_reg.asc"};
    if (g.nodata) args.insert(args.begin(), {"-a_nodata", g.nodata});
    ASSERT_EQ(run_solvik(dir.path(), "", args).status, 0);
    EXPECT_NE(read_file(dir / "g_reg.asc").find(g.line), std::string::npos) << read_file(dir / "g_reg.asc");
  }
}

// The header numbers of a written grid, as strtod reads them back.
std::vector<double> header_numbers(const std::string& text) {
  std::istringstream in(text);
  std::string key, value;
  std::vector<double> numbers;
  for (int k = 0; k < 5 && in >> key >> value; ++k)
    if (k >= 2) numbers.push_back(std::strtod(value.c_str(), nullptr));
  return numbers;
}

TEST(CommandLineHabits, GridHeadersKeepTheirNumbersOnBothDoors) {
  struct Case { const char* name; double x, y, cell; const char* metres_text; };
  const Case kCases[] = {
      {"a 1/12000-degree grid", -3.7041666666666666, 40.416666666666664, 1.0 / 12000, nullptr},
      {"a degree grid of arc-second cells", 12.000138888888889, -0.99986111111111109, 1.0 / 3600, nullptr},
      {"a metre grid", 500000.0, 4600000.0, 2.5,
       "xllcorner 500000.000000\nyllcorner 4600000.000000\ncellsize 2.500000\n"},
      {"a metre grid of centimetres", 431234.57, 4581234.89, 0.25,
       "xllcorner 431234.570000\nyllcorner 4581234.890000\ncellsize 0.250000\n"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    char numbers[200];
    std::snprintf(numbers, sizeof numbers, "xllcorner %.17g\nyllcorner %.17g\ncellsize %.17g\n", c.x, c.y, c.cell);
    fs::create_directories(dir / "images/site");
    write_file(dir / "images/site/a.asc", grid("200", "10", numbers));
    ASSERT_EQ(run_solvik(dir.path(), "site 2 a 0 128 255").status, 0);
    ASSERT_EQ(run_solvik(dir.path(), "", {"--as-dialogue", "images/site/a.asc", "cli.asc"}).status, 0);
    const std::string dialogue = read_file(dir / "images/site/a_reg.asc"), cli = read_file(dir / "cli.asc");
    EXPECT_EQ(cli, dialogue);
    EXPECT_EQ(header_numbers(dialogue), (std::vector<double>{c.x, c.y, c.cell})) << dialogue.substr(0, 120);
    if (c.metres_text) {
      EXPECT_NE(dialogue.find(c.metres_text), std::string::npos) << dialogue.substr(0, 120);
    }
    // read again and written again, the header stays
    ASSERT_EQ(run_solvik(dir.path(), "", {"--as-dialogue", "cli.asc", "again.asc"}).status, 0);
    const std::string again = read_file(dir / "again.asc");
    EXPECT_EQ(again.substr(0, again.find("\n255")), cli.substr(0, cli.find("\n255")));
  }
}

TEST(CommandLineHabits, AGridsCoordinateSystemGoesWithItsResults) {
  TempDir dir;
  const std::string wgs84 =
      "GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\",SPHEROID[\"WGS_1984\",6378137.0,298.257223563]],"
      "PRIMEM[\"Greenwich\",0.0],UNIT[\"Degree\",0.0174532925199433]]";
  write_file(dir / "g.asc", grid("200", "10", "xllcorner 2\nyllcorner 41\ncellsize 0.001\n"));
  write_file(dir / "g.prj", wgs84 + "\n");
  write_file(dir / "plain.asc", grid("200", "10", "xllcorner 2\nyllcorner 41\ncellsize 0.001\n"));
  ASSERT_EQ(run_solvik(dir.path(), "", {"g.asc", "out.asc"}).status, 0);
  EXPECT_NE(read_file(dir / "out.prj").find("GCS_WGS_1984"), std::string::npos);
  ASSERT_EQ(run_solvik(dir.path(), "", {"plain.asc", "plain_reg.asc"}).status, 0);
  EXPECT_FALSE(fs::exists(dir / "plain_reg.prj"));
  // the input's .prj is an input: no result's .prj replaces it
  RunResult r = run_solvik(dir.path(), "", {"g.asc", "g.ASC"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.errors.rfind("solvik: g.asc: the result's .prj g.prj would replace the file g.prj that g.asc reads\n", 0), 0u)
      << r.errors;
  EXPECT_FALSE(fs::exists(dir / "g.ASC"));
  EXPECT_EQ(read_file(dir / "g.prj"), wgs84 + "\n");
  // a .prj that cannot be read stops the run naming it
  fs::create_directory(dir / "bad.prj");
  write_file(dir / "bad.asc", grid("200", "10", "xllcorner 2\nyllcorner 41\ncellsize 0.001\n"));
  RunResult bad = run_solvik(dir.path(), "", {"bad.asc", "bad_reg.asc"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.errors.rfind("bad.asc: its coordinate system bad.prj cannot be read", 0), 0u) << bad.errors;
  EXPECT_FALSE(fs::exists(dir / "bad_reg.asc"));
}

// The options a heading line of the page names: "\-x" or "\-\-name-part"
// at the start of the line or after a space or a quote, each "\-" a hyphen.
std::vector<std::string> named_options(const std::string& line) {
  std::vector<std::string> names;
  auto hyphen = [&line](std::size_t k) { return k + 1 < line.size() && line[k] == '\\' && line[k + 1] == '-'; };
  auto letter = [&line](std::size_t k) { return k < line.size() && ((line[k] >= 'a' && line[k] <= 'z') || line[k] == '_'); };
  for (std::size_t k = 0; k < line.size(); ++k) {
    if (!hyphen(k) || (k > 0 && line[k - 1] != ' ' && line[k - 1] != '\t' && line[k - 1] != '"')) continue;
    std::string name = "-";
    std::size_t p = k + 2;
    if (hyphen(p)) {
      name += '-';
      p += 2;
    }
    if (!letter(p)) continue;
    for (;;) {
      while (letter(p)) name += line[p++];
      if (!hyphen(p) || !letter(p + 2)) break;
      name += '-';
      p += 2;
    }
    names.push_back(name);
    k = p - 1;
  }
  return names;
}

// The manual page's options, as its .TP headings name them.
std::set<std::string> manual_options() {
  const fs::path page = fs::path(__FILE__).parent_path().parent_path().parent_path() / "docs/solvik.1";
  std::ifstream in(page);
  EXPECT_TRUE(in) << page;
  std::set<std::string> names;
  std::string line;
  bool heading = false, in_command_line = false;
  while (std::getline(in, line)) {
    if (line.rfind(".SH", 0) == 0) in_command_line = line == ".SH COMMAND LINE";
    if (heading && in_command_line)
      for (const std::string& name : named_options(line)) names.insert(name);
    heading = line == ".TP";
  }
  return names;
}

TEST(CommandLineHabits, TheManualPageListsEveryOptionAndNoOther) {
  std::set<std::string> table;
  for (const OptionSpec& s : option_table()) {
    if (s.short_name) table.insert(s.short_name);
    if (s.long_name) table.insert(s.long_name);
  }
  EXPECT_EQ(manual_options(), table);
  // and the help shows each of them
  const std::string help = usage_text();
  for (const std::string& name : table) EXPECT_NE(help.find(" " + name), std::string::npos) << name;
}

}  // namespace
