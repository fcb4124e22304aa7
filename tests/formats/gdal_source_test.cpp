// The GDAL reader on pictures made here with GDAL itself: the grey of a
// palette's colours, nodata as NaN (one band, and RGB only where every band
// is nodata), the rounded luma of colour bands, and the bounded block cache.
#include <gtest/gtest.h>

#ifdef SOLVIK_HAVE_GDAL_RASTER

#include <cpl_conv.h>
#include <cpl_string.h>
#include <gdal.h>

#include <cmath>
#include <string>
#include <vector>

#include "LIB/image.h"
#include "formats/gdal_raster.h"
#include "platform/failure.h"
#include "support/helpers.h"

namespace {

using testing_support::TempDir;

// A one-line GeoTIFF of `bands` bands of `type`, each given its values.
void make_tiff(const std::string& path, GDALDataType type, const std::vector<std::vector<double>>& bands,
               const std::vector<double>& nodata = {}, const std::vector<GDALColorEntry>& palette = {}) {
  gdal_raster_setup();
  const int width = static_cast<int>(bands[0].size());
  GDALDatasetH ds = GDALCreate(GDALGetDriverByName("GTiff"), path.c_str(), width, 1, static_cast<int>(bands.size()),
                               type, nullptr);
  ASSERT_NE(ds, nullptr);
  for (std::size_t b = 0; b < bands.size(); ++b) {
    GDALRasterBandH band = GDALGetRasterBand(ds, static_cast<int>(b) + 1);
    std::vector<double> v = bands[b];
    ASSERT_EQ(GDALRasterIO(band, GF_Write, 0, 0, width, 1, v.data(), width, 1, GDT_Float64, 0, 0), CE_None);
    if (b < nodata.size()) GDALSetRasterNoDataValue(band, nodata[b]);
    if (!palette.empty()) {
      GDALColorTableH table = GDALCreateColorTable(GPI_RGB);
      for (std::size_t k = 0; k < palette.size(); ++k) GDALSetColorEntry(table, static_cast<int>(k), &palette[k]);
      GDALSetRasterColorTable(band, table);
      GDALDestroyColorTable(table);
    }
  }
  GDALClose(ds);
}

std::vector<double> line_of(const std::string& path, int band = 0) {
  std::vector<double> got;
  try {
    auto source = open_gdal_source(path, band);
    source->read_lines([&](int, const double* v) {
      got.assign(v, v + source->columns);
      return true;
    }, nullptr);
    if (source->has_byte_lines()) {  // the same values as bytes
      std::vector<double> bytes;
      source->read_byte_lines([&](int, const unsigned char* v) {
        bytes.assign(v, v + source->columns);
        return true;
      }, nullptr);
      EXPECT_EQ(bytes, got) << path;
    }
  } catch (const Failure& failure) {
    ADD_FAILURE() << path << ": " << failure.what();
  }
  return got;
}

double grey(unsigned r, unsigned g, unsigned b) { return rounded_luma(r, g, b); }

bool same(const std::vector<double>& got, const std::vector<double>& want) {
  if (got.size() != want.size()) return false;
  for (std::size_t k = 0; k < got.size(); ++k)
    if (std::isnan(want[k]) ? !std::isnan(got[k]) : got[k] != want[k]) return false;
  return true;
}

TEST(GdalSource, PalettesNodataAndColours) {
  TempDir dir;
  const double nan = std::nan("");
  struct Case {
    const char* name;
    GDALDataType type;
    std::vector<std::vector<double>> bands;
    std::vector<double> nodata;
    std::vector<GDALColorEntry> palette;
    std::vector<double> want;
  };
  const std::vector<Case> cases = {
      // a palette: each pixel the grey of its colour, whatever the index
      {"palette", GDT_Byte, {{0, 1, 2, 3}}, {}, {{255, 255, 255, 255}, {0, 0, 0, 255}, {255, 0, 0, 255}, {0, 0, 255, 255}},
       {255, 0, grey(255, 0, 0), grey(0, 0, 255)}},
      // one band's nodata is NaN, other values as they are
      {"float nodata", GDT_Float32, {{-9999, 0.5, 1e30, -9999}}, {-9999}, {}, {nan, 0.5, static_cast<double>(1e30f), nan}},
      {"byte nodata", GDT_Byte, {{200, 7, 200, 255}}, {200}, {}, {nan, 7, nan, 255}},
      // RGB: the rounded luma; nodata only where all three bands hold it
      {"rgb",
       GDT_Byte,
       {{10, 10, 250, 0}, {20, 10, 250, 0}, {30, 10, 250, 0}},
       {10, 10, 10},
       {},
       {grey(10, 20, 30), nan, grey(250, 250, 250), 0}},
      // 16-bit colour bands: the same weights, not rounded
      {"rgb 16", GDT_UInt16, {{1000}, {2000}, {3000}}, {}, {}, {luma(1000, 2000, 3000)}},
  };
  for (const Case& c : cases) {
    const std::string path = (dir / (std::string(c.name) + ".tif")).string();
    make_tiff(path, c.type, c.bands, c.nodata, c.palette);
    const std::vector<double> got = line_of(path);
    std::string shown;
    for (double v : got) shown += std::to_string(v) + " ";
    EXPECT_TRUE(same(got, c.want)) << c.name << ": " << shown;
  }
}

// The block cache counts against a run's memory: 16 MiB, grown to hold one
// row of a tiled picture's blocks while it is read (so no tile is
// decompressed twice), and left as the user set it.
TEST(GdalSource, TheBlockCacheIsBoundedAndHoldsARowOfBlocks) {
  if (std::getenv("GDAL_CACHEMAX")) GTEST_SKIP() << "GDAL_CACHEMAX is set in this environment";
  gdal_raster_setup();
  EXPECT_LE(GDALGetCacheMax64(), std::int64_t{16} << 20);
  TempDir dir;
  const std::string path = (dir / "tiled.tif").string();
  const int width = 40000, tile = 512;
  char** options = CSLSetNameValue(nullptr, "TILED", "YES");
  options = CSLSetNameValue(options, "BLOCKYSIZE", "512");
  GDALDatasetH ds = GDALCreate(GDALGetDriverByName("GTiff"), path.c_str(), width, 2 * tile, 1, GDT_Byte, options);
  CSLDestroy(options);
  ASSERT_NE(ds, nullptr);
  GDALClose(ds);
  ASSERT_EQ(line_of(path).size(), static_cast<std::size_t>(width));
  const std::int64_t row = std::int64_t{width} * tile;
  EXPECT_GE(GDALGetCacheMax64(), row);
  EXPECT_LE(GDALGetCacheMax64(), row + row / 8 + (std::int64_t{16} << 20));
  // a size the user chose stays
  CPLSetConfigOption("GDAL_CACHEMAX", "8");
  GDALSetCacheMax64(std::int64_t{8} << 20);
  line_of(path);
  EXPECT_EQ(GDALGetCacheMax64(), std::int64_t{8} << 20);
  CPLSetConfigOption("GDAL_CACHEMAX", nullptr);
}

}  // namespace

#endif
