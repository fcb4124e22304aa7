// Rasters through GDAL: see gdal_raster.h.
//
// Notes
//  1. GDAL reports problems through an error handler, not through return
//     values alone. Every call that can fail runs under a CaughtErrors,
//     which pushes a handler on the calling thread's handler stack and keeps
//     the first failure's message, so a reason always says what GDAL said
//     and threads never see each other's messages.
//  2. Lines are read in blocks of whole lines (about 4 MiB of doubles at a
//     time, a multiple of the file's block height when it fits), so a
//     Float32 GeoTIFF of any size is read through a bounded buffer.
//  3. A result is copied from the caller's rows by a small dataset whose one
//     band hands out those rows directly, so writing needs no copy of the
//     image; GDAL's block cache is bounded at setup.
#include "formats/gdal_raster.h"

#include "LIB/image.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_string.h>
#include <gdal.h>
#include <gdal_priv.h>
#include <ogr_spatialref.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>
#include <vector>

#include "platform/host.h"

namespace {

bool fail(std::string* why, std::string text) {
  if (why) *why = std::move(text);
  return false;
}

// GDAL's failures on this thread while it lives (note 1).
class CaughtErrors {
 public:
  CaughtErrors() {
    CPLPushErrorHandlerEx(&CaughtErrors::handler, this);
    CPLErrorReset();
  }
  ~CaughtErrors() { CPLPopErrorHandler(); }
  CaughtErrors(const CaughtErrors&) = delete;
  CaughtErrors& operator=(const CaughtErrors&) = delete;

  bool failed() const { return failed_; }
  const std::string& message() const { return message_; }
  // GDAL's message, or `otherwise` when it said nothing.
  std::string reason(const std::string& otherwise) const { return message_.empty() ? otherwise : message_; }

 private:
  static void CPL_STDCALL handler(CPLErr level, CPLErrorNum, const char* text) {
    auto* self = static_cast<CaughtErrors*>(CPLGetErrorHandlerUserData());
    if (!self || level < CE_Failure) return;
    if (!self->failed_ && text) self->message_ = text;
    self->failed_ = true;
  }

  bool failed_ = false;
  std::string message_;
};

// The rounded luma of 8-bit channels read as doubles.
unsigned char byte_luma(double r, double g, double b) {
  return rounded_luma(static_cast<unsigned>(r), static_cast<unsigned>(g), static_cast<unsigned>(b));
}


// One band's nodata value as the values read compare with it (a Float32
// band holds the nearest float).
struct Nodata {
  bool has = false;
  double value = 0;
  bool nan = false;
  bool matches(double v) const { return has && (nan ? std::isnan(v) : v == value); }
};

Nodata nodata_of(GDALRasterBandH band) {
  Nodata n;
  int has = 0;
  const double v = GDALGetRasterNoDataValue(band, &has);
  if (!has) return n;
  n.has = true;
  n.nan = std::isnan(v);
  n.value = GDALGetRasterDataType(band) == GDT_Float32 ? static_cast<double>(static_cast<float>(v)) : v;
  return n;
}

class GdalSource : public ImageSource {
 public:
  GDALDatasetH ds = nullptr;
  std::vector<GDALRasterBandH> bands;  // one, or R, G, B
  std::vector<Nodata> nodata;
  bool byte_data = false;              // every band used is Byte
  bool palette = false;                // one Byte band with a colour table
  unsigned char palette_grey[256] = {};

  ~GdalSource() override {
    if (ds) GDALClose(ds);
  }

  bool read_lines(const LineSink& sink, const ReadProgress& progress, std::string* why) override {
    CaughtErrors caught;
    const std::size_t width = static_cast<std::size_t>(columns);
    const std::size_t nb = bands.size();
    int block_x = 0, block_y = 0;
    GDALGetBlockSize(bands[0], &block_x, &block_y);
    constexpr std::size_t kBudget = std::size_t{4} << 20;
    int chunk = static_cast<int>(std::max<std::size_t>(1, kBudget / (width * nb * sizeof(double))));
    if (block_y > 0 && chunk > block_y) chunk -= chunk % block_y;
    chunk = std::min(chunk, lines);
    const bool read_bytes = byte_data;
    std::vector<std::vector<double>> real(nb);
    std::vector<std::vector<unsigned char>> bytes(nb);
    for (std::size_t b = 0; b < nb; ++b) {
      if (read_bytes)
        bytes[b].resize(width * static_cast<std::size_t>(chunk));
      else
        real[b].resize(width * static_cast<std::size_t>(chunk));
    }
    std::vector<double> line_values(width);
    for (int y = 0; y < lines; y += chunk) {
      const int n = std::min(chunk, lines - y);
      for (std::size_t b = 0; b < nb; ++b) {
        void* buffer = read_bytes ? static_cast<void*>(bytes[b].data()) : static_cast<void*>(real[b].data());
        const CPLErr err = GDALRasterIO(bands[b], GF_Read, 0, y, columns, n, buffer, columns, n,
                                        read_bytes ? GDT_Byte : GDT_Float64, 0, 0);
        if (err != CE_None || caught.failed())
          return fail(why, caught.reason("it could not be read") + " (lines " + std::to_string(y) + " to " +
                               std::to_string(y + n - 1) + ")");
      }
      for (int k = 0; k < n; ++k) {
        const std::size_t at = static_cast<std::size_t>(k) * width;
        double* out = line_values.data();
        if (nb == 1 && read_bytes) {
          const unsigned char* v = bytes[0].data() + at;
          for (std::size_t j = 0; j < width; ++j) {
            const double x = v[j];
            out[j] = nodata[0].matches(x) ? std::numeric_limits<double>::quiet_NaN() : palette ? palette_grey[v[j]] : x;
          }
        } else if (nb == 1) {
          const double* v = real[0].data() + at;
          for (std::size_t j = 0; j < width; ++j)
            out[j] = nodata[0].matches(v[j]) ? std::numeric_limits<double>::quiet_NaN() : v[j];
        } else {
          for (std::size_t j = 0; j < width; ++j) {
            double c[3];
            for (int b = 0; b < 3; ++b) c[b] = read_bytes ? bytes[b][at + j] : real[b][at + j];
            const bool none = nodata[0].has && nodata[0].matches(c[0]) && nodata[1].matches(c[1]) &&
                              nodata[2].matches(c[2]);
            if (none)
              out[j] = std::numeric_limits<double>::quiet_NaN();
            else if (read_bytes)
              out[j] = byte_luma(c[0], c[1], c[2]);
            else
              out[j] = luma(c[0], c[1], c[2]);
          }
        }
        if (!sink(y + k, out)) return fail(why, "reading stopped at line " + std::to_string(y + k));
      }
      if (progress) progress(static_cast<double>(y + n) / lines);
    }
    return true;
  }
};

// --- writing ----------------------------------------------------------------

class PlaneBand : public GDALRasterBand {
 public:
  PlaneBand(GDALDataset* ds, const unsigned char* const* rows, int lines, int columns) : rows_(rows) {
    poDS = ds;
    nBand = 1;
    eDataType = GDT_Byte;
    nRasterXSize = columns;
    nRasterYSize = lines;
    nBlockXSize = columns;
    nBlockYSize = 1;
  }

  CPLErr IReadBlock(int, int line, void* data) override {
    std::memcpy(data, rows_[line], static_cast<std::size_t>(nRasterXSize));
    return CE_None;
  }

  // Whole-resolution byte reads come straight from the rows, past the cache.
  CPLErr IRasterIO(GDALRWFlag flag, int x, int y, int nx, int ny, void* data, int bx, int by, GDALDataType type,
                   GSpacing pixel_space, GSpacing line_space, GDALRasterIOExtraArg* extra) override {
    if (flag != GF_Read || nx != bx || ny != by || type != GDT_Byte)
      return GDALRasterBand::IRasterIO(flag, x, y, nx, ny, data, bx, by, type, pixel_space, line_space, extra);
    auto* out = static_cast<unsigned char*>(data);
    for (int k = 0; k < ny; ++k) {
      const unsigned char* row = rows_[y + k] + x;
      unsigned char* dst = out + k * line_space;
      if (pixel_space == 1) {
        std::memcpy(dst, row, static_cast<std::size_t>(nx));
      } else {
        for (int j = 0; j < nx; ++j) dst[j * pixel_space] = row[j];
      }
    }
    return CE_None;
  }

  GDALColorInterp GetColorInterpretation() override { return GCI_GrayIndex; }

 private:
  const unsigned char* const* rows_;
};

class PlaneDataset : public GDALDataset {
 public:
  PlaneDataset(const unsigned char* const* rows, int lines, int columns, const ImageGeoref& georef)
      : georef_(georef) {
    nRasterXSize = columns;
    nRasterYSize = lines;
    eAccess = GA_ReadOnly;
    SetBand(1, new PlaneBand(this, rows, lines, columns));
    if (!georef.wkt.empty()) {
      srs_.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
      has_srs_ = srs_.importFromWkt(georef.wkt.c_str()) == OGRERR_NONE;
    }
  }

  CPLErr GetGeoTransform(double* transform) override {
    if (!georef_.valid) return CE_Failure;
    std::copy(georef_.geotransform, georef_.geotransform + 6, transform);
    return CE_None;
  }

  const OGRSpatialReference* GetSpatialRef() const override { return has_srs_ ? &srs_ : nullptr; }

 private:
  ImageGeoref georef_;
  OGRSpatialReference srs_;
  bool has_srs_ = false;
};

int CPL_STDCALL report_progress(double fraction, const char*, void* data) {
  const auto* progress = static_cast<const WriteProgress*>(data);
  if (progress && *progress) (*progress)(fraction);
  return TRUE;
}

// A case-folded copy.
std::string lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

}  // namespace

void gdal_raster_setup() {
  static std::once_flag once;
  std::call_once(once, [] {
    GDALAllRegister();
    // the block cache counts against a run's memory: keep it small unless
    // the user chose a size
    if (!CPLGetConfigOption("GDAL_CACHEMAX", nullptr)) GDALSetCacheMax64(std::int64_t{16} << 20);
  });
}

std::unique_ptr<ImageSource> open_gdal_source(const std::string& path, int band, std::string* why) {
  gdal_raster_setup();
  {
    // only regular files: a FIFO in an image's place cannot hang the run
    std::string reason;
    FILE* f = open_regular(path, "rb", &reason);
    if (!f) {
      fail(why, reason);
      return nullptr;
    }
    std::fclose(f);
  }
  CaughtErrors caught;
  GDALDatasetH ds = GDALOpenEx(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, nullptr, nullptr, nullptr);
  if (!ds) {
    const std::string& said = caught.message();
    fail(why, said.empty() || said.find("not recognized") != std::string::npos ? "not a raster GDAL recognises"
                                                                               : said);
    return nullptr;
  }
  auto source = std::make_unique<GdalSource>();
  source->ds = ds;
  source->lines = GDALGetRasterYSize(ds);
  source->columns = GDALGetRasterXSize(ds);
  const int count = GDALGetRasterCount(ds);
  if (source->lines < 1 || source->columns < 1 || count < 1) {
    fail(why, "it holds no pixel");
    return nullptr;
  }
  if (band > count) {
    fail(why, "it has " + std::to_string(count) + " band" + (count == 1 ? "" : "s") + ", not a band " +
                  std::to_string(band));
    return nullptr;
  }
  if (band > 0) {
    source->bands = {GDALGetRasterBand(ds, band)};
  } else if (count == 1) {
    source->bands = {GDALGetRasterBand(ds, 1)};
  } else if (count == 3 || count == 4) {
    source->bands = {GDALGetRasterBand(ds, 1), GDALGetRasterBand(ds, 2), GDALGetRasterBand(ds, 3)};
  } else {
    fail(why, "it has " + std::to_string(count) + " bands: choose one with --band");
    return nullptr;
  }
  source->byte_data = true;
  for (GDALRasterBandH b : source->bands) {
    const GDALDataType t = GDALGetRasterDataType(b);
    if (t != GDT_Byte) source->byte_data = false;
    source->nodata.push_back(nodata_of(b));
  }
  if (source->bands.size() == 1 && source->byte_data) {
    if (GDALColorTableH table = GDALGetRasterColorTable(source->bands[0])) {
      source->palette = true;
      const int entries = GDALGetColorEntryCount(table);
      for (int k = 0; k < 256; ++k) {
        GDALColorEntry e{0, 0, 0, 255};
        if (k < entries) GDALGetColorEntryAsRGB(table, k, &e);
        source->palette_grey[k] = byte_luma(e.c1, e.c2, e.c3);
      }
    }
  }
  double transform[6];
  if (GDALGetGeoTransform(ds, transform) == CE_None) {
    source->georef.valid = true;
    std::copy(transform, transform + 6, source->georef.geotransform);
  }
  if (const char* wkt = GDALGetProjectionRef(ds); wkt && *wkt) source->georef.wkt = wkt;
  return source;
}

std::string gdal_driver_for(const std::string& extension) {
  const std::string e = lower(extension);
  if (e == ".tif" || e == ".tiff") return "GTiff";
  if (e == ".png") return "PNG";
  if (e == ".pgm") return "PNM";
  return "";
}

bool write_gdal_raster(const std::string& path, const std::string& driver_name, const unsigned char* const* rows,
                       int nb_lig, int nb_col, const ImageGeoref& georef, const WriteProgress& progress,
                       std::string* why) {
  gdal_raster_setup();
  CaughtErrors caught;
  GDALDriverH driver = GDALGetDriverByName(driver_name.c_str());
  if (!driver) return fail(why, "this GDAL has no " + driver_name + " driver");
  CPLStringList options;
  if (driver_name == "GTiff") {
    options.SetNameValue("COMPRESS", "DEFLATE");
    options.SetNameValue("BIGTIFF", "IF_SAFER");
    if (nb_lig > 4096 || nb_col > 4096) options.SetNameValue("TILED", "YES");
  }
  // no .aux.xml beside a temporary name: what the format cannot hold is
  // not written anywhere else
  CPLSetThreadLocalConfigOption("GDAL_PAM_ENABLED", "NO");
  PlaneDataset plane(rows, nb_lig, nb_col, georef);
  GDALDatasetH out = GDALCreateCopy(driver, path.c_str(), GDALDataset::ToHandle(&plane), FALSE, options.List(),
                                    report_progress, const_cast<WriteProgress*>(&progress));
  if (out) GDALClose(out);  // the last blocks reach the file here
  CPLSetThreadLocalConfigOption("GDAL_PAM_ENABLED", nullptr);
  if (!out || caught.failed()) return fail(why, caught.reason("GDAL could not write it"));
  return true;
}

std::string gdal_read_formats() {
  gdal_raster_setup();
  std::string text;
  for (int k = 0; k < GDALGetDriverCount(); ++k) {
    GDALDriverH d = GDALGetDriver(k);
    if (!CPLFetchBool(GDALGetMetadata(d, nullptr), GDAL_DCAP_RASTER, false)) continue;
    text += "  ";
    text += GDALGetDriverShortName(d);
    text += "  ";
    text += GDALGetDriverLongName(d);
    if (const char* ext = GDALGetMetadataItem(d, GDAL_DMD_EXTENSIONS, nullptr); ext && *ext) {
      text += " (";
      text += ext;
      text += ")";
    }
    text += "\n";
  }
  return text;
}
