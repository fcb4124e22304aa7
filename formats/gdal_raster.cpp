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
#include "platform/failure.h"

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
#include <filesystem>
#include <sys/stat.h>
#include <limits>
#include <mutex>
#include <type_traits>
#include <vector>

#include "platform/host.h"

namespace {

// GDAL's failures on this thread while it lives (note 1).
class CaughtErrors {
 public:
  // `warnings_fail`: a warning counts as a failure (reading pixels)
  explicit CaughtErrors(bool warnings_fail = false) : warnings_fail_(warnings_fail) {
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
    if (!self || level < (self->warnings_fail_ ? CE_Warning : CE_Failure)) return;
    if (!self->failed_ && text) self->message_ = text;
    self->failed_ = true;
  }

  bool warnings_fail_;
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

  // Lines are read a few at a time, so a tiled file is read a row of tiles
  // at a time only if the block cache holds such a row: else every few
  // lines would decompress the same tiles again. The cache grows to one row
  // of blocks (and a little) unless the user chose its size; it is the
  // width of the picture times a block's height, never the picture.
  void hold_a_row_of_blocks(int block_y) const {
    if (CPLGetConfigOption("GDAL_CACHEMAX", nullptr) || block_y <= 1) return;
    std::int64_t row = 0;
    for (GDALRasterBandH b : bands)
      row += static_cast<std::int64_t>(columns) * block_y * GDALGetDataTypeSizeBytes(GDALGetRasterDataType(b));
    static std::mutex lock;
    std::lock_guard<std::mutex> hold(lock);
    const std::int64_t want = row + row / 8 + (std::int64_t{16} << 20);
    if (GDALGetCacheMax64() < want) GDALSetCacheMax64(want);
  }

  // Bytes with no nodata: one band as it is or through its palette, or
  // three turned grey.
  bool has_byte_lines() const override {
    return byte_data && std::none_of(nodata.begin(), nodata.end(), [](const Nodata& n) { return n.has; });
  }

  bool read_byte_lines(const ByteLineSink& sink, const ReadProgress& progress, std::string* why) override {
    if (!has_byte_lines()) return ImageSource::read_byte_lines(sink, progress, why);
    std::vector<unsigned char> line(static_cast<std::size_t>(columns));
    return read_blocks<unsigned char>(progress, why, [&](int y, const std::vector<std::vector<unsigned char>>& bytes,
                                                         std::size_t at) {
      const unsigned char* out = bytes[0].data() + at;
      if (bands.size() == 3) {
        for (std::size_t j = 0; j < line.size(); ++j)
          line[j] = rounded_luma(bytes[0][at + j], bytes[1][at + j], bytes[2][at + j]);
        out = line.data();
      } else if (palette) {
        for (std::size_t j = 0; j < line.size(); ++j) line[j] = palette_grey[out[j]];
        out = line.data();
      }
      return sink(y, out);
    });
  }

  bool read_lines(const LineSink& sink, const ReadProgress& progress, std::string* why) override {
    const std::size_t width = static_cast<std::size_t>(columns);
    std::vector<double> line_values(width);
    const auto each = [&](int y, const auto& data, std::size_t at) {
      double* out = line_values.data();
      if (bands.size() == 1) {
        for (std::size_t j = 0; j < width; ++j) {
          const double x = data[0][at + j];
          out[j] = nodata[0].matches(x)                   ? std::numeric_limits<double>::quiet_NaN()
                   : palette && byte_data ? palette_grey[static_cast<unsigned char>(x)]
                                          : x;
        }
      } else {
        for (std::size_t j = 0; j < width; ++j) {
          double c[3];
          for (int b = 0; b < 3; ++b) c[b] = data[static_cast<std::size_t>(b)][at + j];
          const bool none = nodata[0].has && nodata[0].matches(c[0]) && nodata[1].matches(c[1]) &&
                            nodata[2].matches(c[2]);
          if (none)
            out[j] = std::numeric_limits<double>::quiet_NaN();
          else if (byte_data)
            out[j] = byte_luma(c[0], c[1], c[2]);
          else
            out[j] = luma(c[0], c[1], c[2]);
        }
      }
      return sink(y, out);
    };
    if (byte_data) return read_blocks<unsigned char>(progress, why, each);
    return read_blocks<double>(progress, why, each);
  }

 private:
  // Reads the bands a few lines at a time as `T` (Byte or Float64) and calls
  // `line(y, data, at)` for each line y, whose values in band b start at
  // data[b][at].
  template <typename T, typename Line>
  bool read_blocks(const ReadProgress& progress, std::string* why, const Line& line) {
    CaughtErrors caught(true);  // note 6
    const std::size_t width = static_cast<std::size_t>(columns);
    const std::size_t nb = bands.size();
    int block_x = 0, block_y = 0;
    GDALGetBlockSize(bands[0], &block_x, &block_y);
    hold_a_row_of_blocks(block_y);
    constexpr std::size_t kBudget = std::size_t{4} << 20;
    int chunk = static_cast<int>(std::max<std::size_t>(1, kBudget / (width * nb * sizeof(double))));
    if (block_y > 0 && chunk > block_y) chunk -= chunk % block_y;
    chunk = std::min(chunk, lines);
    std::vector<std::vector<T>> data(nb, std::vector<T>(width * static_cast<std::size_t>(chunk)));
    for (int y = 0; y < lines; y += chunk) {
      const int n = std::min(chunk, lines - y);
      for (std::size_t b = 0; b < nb; ++b) {
        const CPLErr err = GDALRasterIO(bands[b], GF_Read, 0, y, columns, n, data[b].data(), columns, n,
                                        std::is_same_v<T, double> ? GDT_Float64 : GDT_Byte, 0, 0);
        if (err != CE_None || caught.failed())
          return fail(why, caught.reason("it could not be read") + " (lines " + std::to_string(y) + " to " +
                               std::to_string(y + n - 1) + ")");
      }
      for (int k = 0; k < n; ++k)
        if (!line(y + k, data, static_cast<std::size_t>(k) * width))
          return fail(why, "reading stopped at line " + std::to_string(y + k));
      if (progress) progress(static_cast<double>(y + n) / lines);
    }
    return true;
  }
};

// --- writing ----------------------------------------------------------------

// The picture as GDAL's source band for CreateCopy: its lines come from the
// caller's RowSource. GDAL reads a swath of lines at a time, sometimes in
// windows across them: the lines of the last swath are kept, so each line is
// asked for once.
class PlaneBand : public GDALRasterBand {
 public:
  PlaneBand(GDALDataset* ds, const RowSource& rows, int lines, int columns, std::optional<double> nodata)
      : rows_(rows), nodata_(nodata) {
    poDS = ds;
    nBand = 1;
    eDataType = GDT_Byte;
    nRasterXSize = columns;
    nRasterYSize = lines;
    nBlockXSize = columns;
    nBlockYSize = 1;
  }

  CPLErr IReadBlock(int, int line, void* data) override {
    std::memcpy(data, kept(line, 1)[0], static_cast<std::size_t>(nRasterXSize));
    return CE_None;
  }

  // Whole-resolution byte reads come straight from the lines, past the cache.
  CPLErr IRasterIO(GDALRWFlag flag, int x, int y, int nx, int ny, void* data, int bx, int by, GDALDataType type,
                   GSpacing pixel_space, GSpacing line_space, GDALRasterIOExtraArg* extra) override {
    if (flag != GF_Read || nx != bx || ny != by || type != GDT_Byte)
      return GDALRasterBand::IRasterIO(flag, x, y, nx, ny, data, bx, by, type, pixel_space, line_space, extra);
    auto* out = static_cast<unsigned char*>(data);
    unsigned char* const* lines = kept(y, ny);
    for (int k = 0; k < ny; ++k) {
      const unsigned char* row = lines[k] + x;
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

  double GetNoDataValue(int* has) override {
    if (has) *has = nodata_.has_value();
    return nodata_.value_or(0.0);
  }

 private:
  // Lines [first, first + count), from the kept swath or asked for anew.
  unsigned char* const* kept(int first, int count) {
    if (first < first_ || first + count > first_ + static_cast<int>(lines_.size())) {
      const std::size_t width = static_cast<std::size_t>(nRasterXSize);
      buffer_.resize(width * static_cast<std::size_t>(count));
      lines_.resize(static_cast<std::size_t>(count));
      for (int k = 0; k < count; ++k) lines_[static_cast<std::size_t>(k)] = buffer_.data() + width * k;
      rows_(first, count, lines_.data());
      first_ = first;
    }
    return lines_.data() + (first - first_);
  }

  const RowSource& rows_;
  std::optional<double> nodata_;
  std::vector<unsigned char> buffer_;
  std::vector<unsigned char*> lines_;
  int first_ = 0;
};

class PlaneDataset : public GDALDataset {
 public:
  PlaneDataset(const RowSource& rows, int lines, int columns, const Georef& georef, std::optional<double> nodata)
      : georef_(georef) {
    nRasterXSize = columns;
    nRasterYSize = lines;
    eAccess = GA_ReadOnly;
    SetBand(1, new PlaneBand(this, rows, lines, columns, nodata));
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
  Georef georef_;
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


// --- what may be opened (note 5) ---------------------------------------------

// The value setup gives CPL_VSIL_CURL_ALLOWED_EXTENSIONS when the user set
// nothing: no name ends with it, so no network file opens.
constexpr const char* kNetworkOff = ".no-network-file-system-without-the-user-allowing-it";

bool network_allowed() {
  const char* ext = CPLGetConfigOption("CPL_VSIL_CURL_ALLOWED_EXTENSIONS", nullptr);
  const char* name = CPLGetConfigOption("CPL_VSIL_CURL_ALLOWED_FILENAME", nullptr);
  return (ext && std::strcmp(ext, kNetworkOff) != 0) || name;
}

bool on_network(const std::string& name) {
  const std::string l = lower(name.substr(0, 24));
  for (const char* prefix : {"/vsicurl", "/vsis3", "/vsigs", "/vsiaz", "/vsiadls", "/vsioss", "/vsiswift",
                             "/vsiwebhdfs", "/vsihdfs", "http://", "https://", "ftp://"})
    if (l.rfind(prefix, 0) == 0) return true;
  return false;
}

// Something is there and it is neither a regular file nor a folder.
bool special_file(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return false;
  return !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

// The names GDAL looks for beside `name` (base "g" of "g.tif"): auxiliary
// files, overviews, masks, world files, coordinate systems, metadata.
std::vector<std::string> side_names(const std::string& name, const std::string& base, const std::string& ext) {
  std::vector<std::string> names;
  for (const char* s : {".aux.xml", ".aux", ".ovr", ".msk", ".xml", "w", ".ovr.aux.xml"}) names.push_back(name + s);
  for (const char* s : {".aux", ".aux.xml", ".wld", ".prj", ".tab", ".ovr", ".msk", ".imd", ".rpb", "_rpc.txt", ".pvl",
                        ".hdr", ".xml", ".rpc", ".til"})
    names.push_back(base + s);
  if (ext.size() >= 3) {
    names.push_back(base + ext.substr(0, 2) + ext.back() + "w");  // .tif -> .tfw
    names.push_back(base + ext + "w");                             // .tif -> .tifw
  }
  const std::size_t n = names.size();
  for (std::size_t k = 0; k < n; ++k) {
    std::string upper = names[k];
    for (std::size_t c = base.size(); c < upper.size(); ++c)
      if (upper[c] >= 'a' && upper[c] <= 'z') upper[c] = static_cast<char>(upper[c] - 'a' + 'A');
    names.push_back(upper);
  }
  return names;
}

// Every name beside `path` that starts with its stem (up to the first dot)
// and a dot or an underscore must be a regular file where something is
// there; in a folder of more than a thousand names, the names GDAL looks
// for are checked instead, so a batch in a large folder costs no more per
// image than GDAL's own listing.
bool side_files_regular(const std::string& path, std::string* why) {
  const std::size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
  const std::string prefix = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.find('.');
  const std::string stem = lower(dot == std::string::npos || dot == 0 ? name : name.substr(0, dot));
  std::error_code ec;
  int seen = 0;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (++seen > 1000) {
      const std::size_t last = name.find_last_of('.');
      const std::string base = last == std::string::npos || last == 0 ? name : name.substr(0, last);
      const std::string ext = last == std::string::npos || last == 0 ? "" : lower(name.substr(last));
      for (const std::string& side : side_names(name, base, ext))
        if (special_file(prefix + side)) return fail(why, "its side file " + prefix + side + " is not a regular file");
      return true;
    }
    const std::string other = it->path().filename().string();
    const std::string l = lower(other);
    if (other == name || l.size() <= stem.size() || l.compare(0, stem.size(), stem) != 0) continue;
    if (l[stem.size()] != '.' && l[stem.size()] != '_') continue;
    if (special_file(prefix + other)) return fail(why, "its side file " + prefix + other + " is not a regular file");
  }
  return true;
}

bool starts_as_vrt(const std::string& path) {
  FILE* f = open_regular(path, "rb");
  if (!f) return false;
  char head[256] = {};
  const std::size_t n = std::fread(head, 1, sizeof head - 1, f);
  std::fclose(f);
  return std::string(head, n).find("<VRTDataset") != std::string::npos;
}

bool safe_to_open(const std::string& path, int depth, std::string* why);

// Every source a VRT names, and its raw bands.
bool vrt_sources_safe(const CPLXMLNode* node, const std::string& vrt, int depth, std::string* why) {
  for (; node; node = node->psNext) {
    if (node->eType != CXT_Element) continue;
    const std::string element = node->pszValue ? node->pszValue : "";
    if (element == "VRTRasterBand" && EQUAL(CPLGetXMLValue(node, "subClass", ""), "VRTRawRasterBand") &&
        !CPLTestBool(CPLGetConfigOption("GDAL_VRT_ENABLE_RAWRASTERBAND", "NO")))
      return fail(why, vrt + " has a raw band, which reads any file of the system; "
                             "set GDAL_VRT_ENABLE_RAWRASTERBAND=YES to allow it");
    if (element == "SourceFilename" || element == "SourceDataset") {
      std::string source = CPLGetXMLValue(node, nullptr, "");
      if (on_network(source) && !network_allowed())
        return fail(why, vrt + " reads " + source + " over the network; set CPL_VSIL_CURL_ALLOWED_EXTENSIONS to allow it");
      if (CPLTestBool(CPLGetXMLValue(node, "relativeToVRT", "0")) && !source.empty() && source[0] != '/') {
        const std::size_t slash = vrt.find_last_of('/');
        if (slash != std::string::npos) source = vrt.substr(0, slash + 1) + source;
      }
      if (special_file(source)) return fail(why, vrt + " reads " + source + ", which is not a regular file");
      struct stat st {};
      if (stat(source.c_str(), &st) == 0 && S_ISREG(st.st_mode) && !safe_to_open(source, depth + 1, why)) return false;
    }
    if (!vrt_sources_safe(node->psChild, vrt, depth, why)) return false;
  }
  return true;
}

bool safe_to_open(const std::string& path, int depth, std::string* why) {
  if (depth > 8) return fail(why, path + ": VRT sources nested too deep");
  if (!side_files_regular(path, why)) return false;
  if (!starts_as_vrt(path)) return true;
  CPLXMLNode* tree = CPLParseXMLFile(path.c_str());
  if (!tree) return true;  // GDAL will say what is wrong with it
  const bool ok = vrt_sources_safe(tree, path, depth, why);
  CPLDestroyXMLNode(tree);
  return ok;
}

}  // namespace

bool gdal_input_safe(const std::string& path, std::string* why) {
  gdal_raster_setup();
  CaughtErrors caught;
  return safe_to_open(path, 0, why);
}

std::vector<std::string> gdal_files_read(const std::string& path) {
  std::vector<std::string> files;
  if (!gdal_input_safe(path, nullptr)) return files;
  CaughtErrors caught;
  GDALDatasetH ds = GDALOpenEx(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, nullptr, nullptr, nullptr);
  if (!ds) return files;
  char** list = GDALGetFileList(ds);
  for (char** f = list; f && *f; ++f) files.emplace_back(*f);
  CSLDestroy(list);
  GDALClose(ds);
  return files;
}

void gdal_raster_setup() {
  static std::once_flag once;
  std::call_once(once, [] {
    GDALAllRegister();
    // the block cache counts against a run's memory: keep it small unless
    // the user chose a size
    if (!CPLGetConfigOption("GDAL_CACHEMAX", nullptr)) GDALSetCacheMax64(std::int64_t{16} << 20);
    // network file systems off, VRT raw bands off, a timeout for the
    // network once it is on: each unless the user chose (note 5)
    if (!CPLGetConfigOption("CPL_VSIL_CURL_ALLOWED_EXTENSIONS", nullptr) &&
        !CPLGetConfigOption("CPL_VSIL_CURL_ALLOWED_FILENAME", nullptr))
      CPLSetConfigOption("CPL_VSIL_CURL_ALLOWED_EXTENSIONS", kNetworkOff);
    if (!CPLGetConfigOption("GDAL_VRT_ENABLE_RAWRASTERBAND", nullptr))
      CPLSetConfigOption("GDAL_VRT_ENABLE_RAWRASTERBAND", "NO");
    if (!CPLGetConfigOption("GDAL_HTTP_TIMEOUT", nullptr)) CPLSetConfigOption("GDAL_HTTP_TIMEOUT", "30");
    if (!CPLGetConfigOption("GDAL_HTTP_CONNECTTIMEOUT", nullptr)) CPLSetConfigOption("GDAL_HTTP_CONNECTTIMEOUT", "10");
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
  if (!gdal_input_safe(path, why)) return nullptr;
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
  if (!source->byte_data) {
    source->samples = Samples::other;
    GDALDataType widest = GDT_Byte;
    for (GDALRasterBandH b : source->bands)
      if (GDALGetRasterDataType(b) != GDT_Byte) widest = GDALGetRasterDataType(b);
    source->sample_type = GDALGetDataTypeName(widest);
  }
  if (source->bands.size() == 1 && source->byte_data) {
    const char* nbits = GDALGetMetadataItem(source->bands[0], "NBITS", "IMAGE_STRUCTURE");
    if (nbits && std::strcmp(nbits, "1") == 0 && !GDALGetRasterColorTable(source->bands[0])) {
      source->samples = Samples::bit;
      source->sample_type = "1-bit";
    }
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

bool gdal_result_driver(const std::string& name, GdalDriverInfo& info, std::string* why) {
  gdal_raster_setup();
  GDALDriverH driver = GDALGetDriverByName(name.c_str());
  char** meta = driver ? GDALGetMetadata(driver, nullptr) : nullptr;
  if (!driver || !CPLFetchBool(meta, GDAL_DCAP_RASTER, false))
    return fail(why, "-of " + name + ": this GDAL has no raster driver of that name (solvik --formats lists them)");
  info.name = GDALGetDriverShortName(driver);
  const bool writes = CPLFetchBool(meta, GDAL_DCAP_CREATECOPY, false) || CPLFetchBool(meta, GDAL_DCAP_CREATE, false);
  const char* types = CSLFetchNameValue(meta, GDAL_DMD_CREATIONDATATYPES);
  if (!writes || (types && !std::strstr(types, "Byte")))
    return fail(why, "-of " + name + ": GDAL's " + info.name + " driver does not write rasters of bytes");
  const char* ext = CSLFetchNameValue(meta, GDAL_DMD_EXTENSION);
  info.extension = ext && *ext ? std::string(".").append(lower(ext)) : std::string();
  return true;
}

bool gdal_check_creation_options(const std::string& driver_name, const std::vector<std::string>& options,
                                 std::string* why) {
  if (options.empty()) return true;
  gdal_raster_setup();
  GDALDriverH driver = GDALGetDriverByName(driver_name.c_str());
  if (!driver) return fail(why, "this GDAL has no " + driver_name + " driver");
  // GDAL says what is wrong as warnings: keep the first one
  struct Said {
    std::string text;
    static void CPL_STDCALL handler(CPLErr, CPLErrorNum, const char* message) {
      auto* self = static_cast<Said*>(CPLGetErrorHandlerUserData());
      if (self && self->text.empty() && message) self->text = message;
    }
  } said;
  CPLPushErrorHandlerEx(&Said::handler, &said);
  for (const std::string& option : options) {
    CPLStringList one;
    one.AddString(option.c_str());
    if (!GDALValidateCreationOptions(driver, one.List())) {
      CPLPopErrorHandler();
      return fail(why, "-co " + option + ": " + (said.text.empty() ? "GDAL's " + driver_name + " driver refuses it"
                                                                   : said.text));
    }
  }
  CPLPopErrorHandler();
  return true;
}

bool write_gdal_raster(const std::string& path, const GdalResult& result, const RowSource& rows,
                       int nb_lig, int nb_col, const Georef& georef, const WriteProgress& progress,
                       std::string* why) {
  gdal_raster_setup();
  CaughtErrors caught;
  const std::string& driver_name = result.driver;
  GDALDriverH driver = GDALGetDriverByName(driver_name.c_str());
  if (!driver) return fail(why, "this GDAL has no " + driver_name + " driver");
  CPLStringList options;
  if (driver_name == "GTiff") {
    options.SetNameValue("COMPRESS", "DEFLATE");
    options.SetNameValue("NUM_THREADS", "ALL_CPUS");  // compression on every core
    options.SetNameValue("BIGTIFF", "IF_SAFER");
    if (nb_lig > 4096 || nb_col > 4096) options.SetNameValue("TILED", "YES");
  }
  for (const std::string& option : result.creation_options) {
    const std::size_t eq = option.find('=');
    options.SetNameValue(option.substr(0, eq).c_str(), eq == std::string::npos ? "" : option.c_str() + eq + 1);
  }
  // no .aux.xml beside a temporary name: what the format cannot hold is
  // not written anywhere else
  CPLSetThreadLocalConfigOption("GDAL_PAM_ENABLED", "NO");
  PlaneDataset plane(rows, nb_lig, nb_col, georef, result.nodata);
  GDALDatasetH out = GDALCreateCopy(driver, path.c_str(), GDALDataset::ToHandle(&plane), FALSE, options.List(),
                                    report_progress, const_cast<WriteProgress*>(&progress));
  if (out) GDALClose(out);  // the last blocks reach the file here
  CPLSetThreadLocalConfigOption("GDAL_PAM_ENABLED", nullptr);
  if (!out || caught.failed()) return fail(why, caught.reason("GDAL could not write it"));
  return true;
}

std::string esri_wkt(const std::string& wkt) {
  if (wkt.empty()) return "";
  gdal_raster_setup();
  CaughtErrors caught;
  OGRSpatialReference srs;
  if (srs.SetFromUserInput(wkt.c_str()) != OGRERR_NONE) return "";
  char* text = nullptr;
  const char* const options[] = {"FORMAT=WKT1_ESRI", nullptr};
  std::string out;
  if (srs.exportToWkt(&text, options) == OGRERR_NONE && text) out = text;
  CPLFree(text);
  return out;
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
