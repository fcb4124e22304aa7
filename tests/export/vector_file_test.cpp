// Graph files: the summary (always) and the GIS vector files (when built
// with GDAL), each read back by an independent reader: ogrinfo.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "export/summary_file.h"
#include "graph/skeleton_graph.h"
#include "platform/failure.h"
#include "tests/graph/plane.h"
#if defined(SOLVIK_HAVE_VECTOR)
#include "export/vector_file.h"
#endif

namespace {

// The reason of the Failure that `write` throws; "" when it throws none.
template <typename Write>
std::string failure_of(Write write) {
  try {
    write();
  } catch (const Failure& failure) {
    return failure.what();
  }
  return "";
}

namespace fs = std::filesystem;

struct Folder {
  fs::path path;
  Folder() {
    path = fs::temp_directory_path() / ("solvik-graph-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                        "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(path);
    fs::create_directories(path);
  }
  ~Folder() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
  std::string operator/(const std::string& name) const { return (path / name).string(); }
  std::size_t files() const { return static_cast<std::size_t>(std::distance(fs::directory_iterator(path), fs::directory_iterator())); }
};

std::string read_text(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// 10 m pixels of 20 m lines, north up, in UTM 31N; the T below has three
// end-junction branches of length 2 and four nodes.
Georef utm_georef() {
  Georef g;
  g.valid = true;
  const double gt[6] = {1000, 10, 0, 5000, 0, -20};
  std::copy(gt, gt + 6, g.geotransform);
  g.wkt = "EPSG:32631";
  return g;
}

TEST(SummaryCsv, OneRowPerComponentWithMapBox) {
  Folder dir;
  Plane p = Plane::from_picture({"#####.#", "..#...#", "..#....", "......#"});
  const SkeletonGraph g = build_graph(p.rows(), p.lines, p.columns);
  std::string why;
  ASSERT_NO_THROW(write_summary_csv(dir / "s.csv", g, utm_georef()));
  EXPECT_EQ(read_text(dir / "s.csv"),
            "component,branches,end_points,junctions,isolated,holes,length,length_px,min_line,min_column,max_line,"
            "max_column,min_x,min_y,max_x,max_y\n"
            "0,3,3,1,0,0,80,6,0,0,2,4,1005,4950,1045,4990\n"
            "1,1,2,0,0,0,20,1,0,6,1,6,1065,4970,1065,4990\n"
            "2,0,0,0,1,0,0,0,3,6,3,6,1065,4930,1065,4930\n");
  ASSERT_NO_THROW(write_summary_csv(dir / "s.csv", g, Georef{}));  // replaces it
  EXPECT_EQ(read_text(dir / "s.csv").substr(0, 120).find("min_x"), std::string::npos);
  why = failure_of([&] { write_summary_csv(dir / "no/such/folder/s.csv", g, Georef{}); });
  EXPECT_NE(why.find("no/such/folder"), std::string::npos) << why;
  EXPECT_EQ(dir.files(), 1u) << "no temporary file is left";
}

#if defined(SOLVIK_HAVE_VECTOR)

SkeletonGraph t_graph() {
  Plane p = Plane::from_picture({"#####", "..#..", "..#.."});
  return build_graph(p.rows(), p.lines, p.columns);
}

// ogrinfo's report of a file, or "" when ogrinfo cannot be run.
std::string ogrinfo(const std::string& args) {
  std::string out;
  FILE* f = popen(("ogrinfo " + args + " 2>&1").c_str(), "r");
  if (!f) return out;
  std::array<char, 4096> buf;
  std::size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), f)) > 0) out.append(buf.data(), n);
  return pclose(f) == 0 ? out : "";
}

// Attribute lines "  name (Type) = value", whatever type the format gives
// back (CSV reads text) and however many decimals it keeps (shapefiles).
std::size_t count_field(const std::string& text, const std::string& name, const std::string& value) {
  std::size_t n = 0;
  std::istringstream lines(text);
  const std::string head = "  " + name + " (";
  for (std::string line; std::getline(lines, line);) {
    const std::size_t eq = line.find(") = ");
    if (line.rfind(head, 0) != 0 || eq == std::string::npos || line.find(' ', head.size()) < eq) continue;
    const std::string got = line.substr(eq + 4);
    if (got == value ||
        (got.rfind(value + ".", 0) == 0 && got.find_first_not_of('0', value.size() + 1) == std::string::npos))
      ++n;
  }
  return n;
}

std::size_t count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(VectorFile, EveryFormatReadsBackWithItsFeaturesAttributesAndCoordinates) {
  if (ogrinfo("--version").empty()) GTEST_SKIP() << "ogrinfo is not installed";
  Folder dir;
  const SkeletonGraph g = t_graph();
  struct Case {
    const char* name;
    bool crs;           // the format keeps a coordinate system
    std::size_t features;
  };
  for (const Case& c : {Case{"t.geojson", true, 3}, Case{"t.gpkg", true, 7}, Case{"t.shp", true, 3},
                        Case{"t.fgb", true, 3}, Case{"t.csv", false, 3}}) {
    SCOPED_TRACE(c.name);
    ASSERT_NO_THROW(write_branches(dir / c.name, g, utm_georef(), 0));
    const std::string all = ogrinfo("-al -q '" + dir / c.name + "'");
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(count(all, "OGRFeature("), c.features) << all;
    // branch 0 runs from the end at pixel (0, 0) to the junction at (0, 2)
    EXPECT_NE(all.find("LINESTRING (1005 4990,1015 4990,1025 4990)"), std::string::npos) << all;
    EXPECT_EQ(count_field(all, "kind", "end-junction"), 3u) << all;
    // along lines of 10 m, down a column of 20 m
    EXPECT_EQ(count_field(all, "length", "20"), 2u) << all;
    EXPECT_EQ(count_field(all, "length", "40"), 1u) << all;
    EXPECT_EQ(count_field(all, "length_px", "2"), 3u) << all;
    EXPECT_EQ(count_field(all, "to_node", "1"), 3u) << all;
    EXPECT_EQ(count_field(all, "from_node", "3"), 1u) << all;
    if (c.crs) {
      const std::string summary = ogrinfo("-so -al '" + dir / c.name + "'");
      EXPECT_NE(summary.find("32631"), std::string::npos) << summary;
    }
  }
  // the GeoPackage's second layer: the nodes at their centroids
  const std::string nodes = ogrinfo("-q '" + dir / "t.gpkg" + "' nodes");
  EXPECT_NE(nodes.find("POINT (1025 4990)"), std::string::npos) << nodes;
  EXPECT_EQ(count(nodes, "kind (String) = end"), 3u) << nodes;
  EXPECT_EQ(count(nodes, "degree (Integer) = 3"), 1u) << nodes;
}

TEST(VectorFile, NodesPixelCoordinatesAndSimplification) {
  if (ogrinfo("--version").empty()) GTEST_SKIP() << "ogrinfo is not installed";
  Folder dir;
  Plane p = Plane::from_picture({"#.......", ".#......", "..#.....", "...#####"});
  const SkeletonGraph g = build_graph(p.rows(), p.lines, p.columns);
  ASSERT_NO_THROW(write_nodes(dir / "n.geojson", g, Georef{}));
  const std::string nodes = ogrinfo("-al -q '" + dir / "n.geojson" + "'");
  EXPECT_NE(nodes.find("POINT (0.5 0.5)"), std::string::npos) << nodes;
  EXPECT_NE(nodes.find("POINT (7.5 3.5)"), std::string::npos) << nodes;
  ASSERT_NO_THROW(write_branches(dir / "b.geojson", g, Georef{}, 0.5));
  const std::string lines = ogrinfo("-al -q '" + dir / "b.geojson" + "'");
  EXPECT_NE(lines.find("LINESTRING (0.5 0.5,3.5 3.5,7.5 3.5)"), std::string::npos) << lines;
  EXPECT_NE(lines.find("length_px (Real) = 8.24264"), std::string::npos) << lines;
}

TEST(VectorFile, FailuresNameTheFileAndLeaveNoPartialFiles) {
  Folder dir;
  const SkeletonGraph g = t_graph();
  std::string why;
  ASSERT_NO_THROW(write_branches(dir / "keep.shp", g, utm_georef(), 0));
  const std::size_t files = dir.files();
  const std::string before = read_text(dir / "keep.shp");
  Georef bad = utm_georef();
  bad.wkt = "not a coordinate system";
  why = failure_of([&] { write_branches(dir / "keep.shp", g, bad, 0); });
  EXPECT_NE(why.find("keep.shp"), std::string::npos) << why;
  EXPECT_EQ(read_text(dir / "keep.shp"), before);
  EXPECT_EQ(dir.files(), files);
  why = failure_of([&] { write_branches(dir / "lines.txt", g, Georef{}, 0); });
  EXPECT_NE(why.find("lines.txt"), std::string::npos) << why;
  why = failure_of([&] { write_nodes(dir / "missing/n.gpkg", g, Georef{}); });
  EXPECT_NE(why.find("missing/n.gpkg"), std::string::npos) << why;
  EXPECT_EQ(dir.files(), files);
}

#endif

}  // namespace
