// Rasters through GDAL: see gdal_raster.h.
//
// Notes
//  1. GDAL reports problems through an error handler, not through return
//     values alone. Every call that can fail runs under a GdalErrors
//     (formats/gdal_errors.h), which keeps the first failure's message, so
//     a reason always says what GDAL said. What GDAL calls back (the rows of
//     a result, the progress) keeps an exception it meets and hands GDAL a
//     failure instead; the writer throws it again once GDAL has returned.
//  2. Lines are read in blocks of whole lines (about 4 MiB of doubles at a
//     time, a multiple of the file's block height when it fits), so a
//     Float32 GeoTIFF of any size is read through a bounded buffer.
//  3. A result is copied from the caller's rows by a small dataset whose one
//     band hands out those rows directly, so writing needs no copy of the
//     image; GDAL's block cache is bounded at setup.
#include "formats/gdal_raster.h"
#include "formats/gdal_errors.h"
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
#include <exception>
#include <filesystem>
#include <sys/stat.h>
#include <limits>
#include <mutex>
#include <type_traits>
#include <vector>

#include "platform/host.h"

namespace {

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

  void read_byte_lines(const ByteLineSink& sink, const ReadProgress& progress) override {
    if (!has_byte_lines()) return ImageSource::read_byte_lines(sink, progress);
    std::vector<unsigned char> line(static_cast<std::size_t>(columns));
    read_blocks<unsigned char>(progress, [&](int y, const std::vector<std::vector<unsigned char>>& bytes,
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

  void read_lines(const LineSink& sink, const ReadProgress& progress) override {
    const std::size_t width = static_cast<std::size_t>(columns);
    std::vector<double> line_values(width);
    const auto each = [&](int y, const auto& data, std::size_t at) {
      double* out = line_values.data();
      if (bands.size() == 1) {
        for (std::size_t j = 0; j < width; ++j) {
          const double x = data[0][at + j];
          out[j] = nodata[0].matches(x)    ? std::numeric_limits<double>::quiet_NaN()
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
    if (byte_data)
      read_blocks<unsigned char>(progress, each);
    else
      read_blocks<double>(progress, each);
  }

 private:
  // Reads the bands a few lines at a time as `T` (Byte or Float64) and calls
  // `line(y, data, at)` for each line y, whose values in band b start at
  // data[b][at].
  template <typename T, typename Line>
  void read_blocks(const ReadProgress& progress, const Line& line) {
    GdalErrors caught(GdalErrors::From::warnings);  // note 6
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
          throw Failure(caught.reason("it could not be read") + " (lines " + std::to_string(y) + " to " +
                        std::to_string(y + n - 1) + ")");
      }
      for (int k = 0; k < n; ++k)
        if (!line(y + k, data, static_cast<std::size_t>(k) * width))
          throw Failure("reading stopped at line " + std::to_string(y + k));
      if (progress) progress(static_cast<double>(y + n) / lines);
    }
  }
};

// --- writing ----------------------------------------------------------------

// The picture as GDAL's source band for CreateCopy: its lines come from the
// caller's RowSource. GDAL reads a swath of lines at a time, sometimes in
// windows across them: the lines of the last swath are kept, so each line is
// asked for once.
class PlaneBand : public GDALRasterBand {
 public:
  PlaneBand(GDALDataset* ds, const RowSource& rows, int lines, int columns, std::optional<double> nodata,
            std::exception_ptr& thrown)
      : rows_(rows), nodata_(nodata), thrown_(thrown) {
    poDS = ds;
    nBand = 1;
    eDataType = GDT_Byte;
    nRasterXSize = columns;
    nRasterYSize = lines;
    nBlockXSize = columns;
    nBlockYSize = 1;
  }

  CPLErr IReadBlock(int, int line, void* data) override {
    return guarded([&] { std::memcpy(data, kept(line, 1)[0], static_cast<std::size_t>(nRasterXSize)); });
  }

  // Whole-resolution byte reads come straight from the lines, past the cache.
  CPLErr IRasterIO(GDALRWFlag flag, int x, int y, int nx, int ny, void* data, int bx, int by, GDALDataType type,
                   GSpacing pixel_space, GSpacing line_space, GDALRasterIOExtraArg* extra) override {
    if (flag != GF_Read || nx != bx || ny != by || type != GDT_Byte)
      return GDALRasterBand::IRasterIO(flag, x, y, nx, ny, data, bx, by, type, pixel_space, line_space, extra);
    return guarded([&] {
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
    });
  }

  GDALColorInterp GetColorInterpretation() override { return GCI_GrayIndex; }

  double GetNoDataValue(int* has) override {
    if (has) *has = nodata_.has_value();
    return nodata_.value_or(0.0);
  }

 private:
  // f() as GDAL may call it: an exception is kept for the writer (note 1)
  // and GDAL told of a failure.
  template <typename F>
  CPLErr guarded(F f) {
    if (thrown_) return CE_Failure;
    try {
      f();
      return CE_None;
    } catch (...) {
      thrown_ = std::current_exception();
      return CE_Failure;
    }
  }

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
  std::exception_ptr& thrown_;
};

class PlaneDataset : public GDALDataset {
 public:
  PlaneDataset(const RowSource& rows, int lines, int columns, const Georef& georef, std::optional<double> nodata,
               std::exception_ptr& thrown)
      : georef_(georef) {
    nRasterXSize = columns;
    nRasterYSize = lines;
    eAccess = GA_ReadOnly;
    SetBand(1, new PlaneBand(this, rows, lines, columns, nodata, thrown));
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

// The caller's progress as GDAL calls it back: an exception is kept for the
// writer and stops GDAL (note 1).
struct ProgressCall {
  const WriteProgress& progress;
  std::exception_ptr& thrown;
};

int CPL_STDCALL report_progress(double fraction, const char*, void* data) {
  auto* call = static_cast<ProgressCall*>(data);
  if (call->thrown) return FALSE;
  try {
    if (call->progress) call->progress(fraction);
    return TRUE;
  } catch (...) {
    call->thrown = std::current_exception();
    return FALSE;
  }
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
void check_side_files(const std::string& path) {
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
        if (special_file(prefix + side)) throw Failure("its side file " + prefix + side + " is not a regular file");
      return;
    }
    const std::string other = it->path().filename().string();
    const std::string l = lower(other);
    if (other == name || l.size() <= stem.size() || l.compare(0, stem.size(), stem) != 0) continue;
    if (l[stem.size()] != '.' && l[stem.size()] != '_') continue;
    if (special_file(prefix + other)) throw Failure("its side file " + prefix + other + " is not a regular file");
  }
}

bool starts_as_vrt(const std::string& path) {
  FILE* f = nullptr;
  try {
    f = open_regular(path, "rb");
  } catch (const Failure&) {
    return false;
  }
  char head[256] = {};
  const std::size_t n = std::fread(head, 1, sizeof head - 1, f);
  std::fclose(f);
  return std::string(head, n).find("<VRTDataset") != std::string::npos;
}

void check_safe_to_open(const std::string& path, int depth);

// Every source a VRT names, and its raw bands.
void check_vrt_sources(const CPLXMLNode* node, const std::string& vrt, int depth) {
  for (; node; node = node->psNext) {
    if (node->eType != CXT_Element) continue;
    const std::string element = node->pszValue ? node->pszValue : "";
    if (element == "VRTRasterBand" && EQUAL(CPLGetXMLValue(node, "subClass", ""), "VRTRawRasterBand") &&
        !CPLTestBool(CPLGetConfigOption("GDAL_VRT_ENABLE_RAWRASTERBAND", "NO")))
      throw Failure(vrt + " has a raw band, which reads any file of the system; "
                          "set GDAL_VRT_ENABLE_RAWRASTERBAND=YES to allow it");
    if (element == "SourceFilename" || element == "SourceDataset") {
      std::string source = CPLGetXMLValue(node, nullptr, "");
      if (on_network(source) && !network_allowed())
        throw Failure(vrt + " reads " + source + " over the network; set CPL_VSIL_CURL_ALLOWED_EXTENSIONS to allow it");
      if (CPLTestBool(CPLGetXMLValue(node, "relativeToVRT", "0")) && !source.empty() && source[0] != '/') {
        const std::size_t slash = vrt.find_last_of('/');
        if (slash != std::string::npos) source = vrt.substr(0, slash + 1) + source;
      }
      if (special_file(source)) throw Failure(vrt + " reads " + source + ", which is not a regular file");
      struct stat st {};
      if (stat(source.c_str(), &st) == 0 && S_ISREG(st.st_mode)) check_safe_to_open(source, depth + 1);
    }
    check_vrt_sources(node->psChild, vrt, depth);
  }
}

void check_safe_to_open(const std::string& path, int depth) {
  if (depth > 8) throw Failure(path + ": VRT sources nested too deep");
  check_side_files(path);
  if (!starts_as_vrt(path)) return;
  CPLXMLNode* tree = CPLParseXMLFile(path.c_str());
  if (!tree) return;  // GDAL will say what is wrong with it
  struct Tree {
    CPLXMLNode* tree;
    ~Tree() { CPLDestroyXMLNode(tree); }
  } const held{tree};
  check_vrt_sources(tree, path, depth);
}

}  // namespace

void check_gdal_input(const std::string& path) {
  gdal_raster_setup();
  GdalErrors caught;
  check_safe_to_open(path, 0);
}

std::vector<std::string> gdal_files_read(const std::string& path) {
  std::vector<std::string> files;
  try {
    check_gdal_input(path);
  } catch (const Failure&) {
    return files;
  }
  GdalErrors caught;
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

std::unique_ptr<ImageSource> open_gdal_source(const std::string& path, int band) {
  gdal_raster_setup();
  // only regular files: a FIFO in an image's place cannot hang the run
  std::fclose(open_regular(path, "rb"));
  check_gdal_input(path);
  GdalErrors caught;
  auto source = std::make_unique<GdalSource>();
  GDALDatasetH ds = GDALOpenEx(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, nullptr, nullptr, nullptr);
  if (!ds) {
    const std::string& said = caught.message();
    throw Failure(said.empty() || said.find("not recognized") != std::string::npos ? "not a raster GDAL recognises"
                                                                                   : said);
  }
  source->ds = ds;
  source->lines = GDALGetRasterYSize(ds);
  source->columns = GDALGetRasterXSize(ds);
  const int count = GDALGetRasterCount(ds);
  if (source->lines < 1 || source->columns < 1 || count < 1) throw Failure("it holds no pixel");
  if (band > count)
    throw Failure("it has " + std::to_string(count) + " band" + (count == 1 ? "" : "s") + ", not a band " +
                  std::to_string(band));
  if (band > 0) {
    source->bands = {GDALGetRasterBand(ds, band)};
  } else if (count == 1) {
    source->bands = {GDALGetRasterBand(ds, 1)};
  } else if (count == 3 || count == 4) {
    source->bands = {GDALGetRasterBand(ds, 1), GDALGetRasterBand(ds, 2), GDALGetRasterBand(ds, 3)};
  } else {
    throw Failure("it has " + std::to_string(count) + " bands: choose one with --band");
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

GdalDriverInfo gdal_result_driver(const std::string& name) {
  gdal_raster_setup();
  GDALDriverH driver = GDALGetDriverByName(name.c_str());
  char** meta = driver ? GDALGetMetadata(driver, nullptr) : nullptr;
  if (!driver || !CPLFetchBool(meta, GDAL_DCAP_RASTER, false))
    throw Failure("-of " + name + ": this GDAL has no raster driver of that name (solvik --formats lists them)");
  GdalDriverInfo info;
  info.name = GDALGetDriverShortName(driver);
  const bool writes = CPLFetchBool(meta, GDAL_DCAP_CREATECOPY, false) || CPLFetchBool(meta, GDAL_DCAP_CREATE, false);
  const char* types = CSLFetchNameValue(meta, GDAL_DMD_CREATIONDATATYPES);
  if (!writes || (types && !std::strstr(types, "Byte")))
    throw Failure("-of " + name + ": GDAL's " + info.name + " driver does not write rasters of bytes");
  const char* ext = CSLFetchNameValue(meta, GDAL_DMD_EXTENSION);
  info.extension = ext && *ext ? std::string(".").append(lower(ext)) : std::string();
  return info;
}

void gdal_check_creation_options(const std::string& driver_name, const std::vector<std::string>& options) {
  if (options.empty()) return;
  gdal_raster_setup();
  GDALDriverH driver = GDALGetDriverByName(driver_name.c_str());
  if (!driver) throw Failure("this GDAL has no " + driver_name + " driver");
  // GDAL says what is wrong as warnings: keep the first one
  for (const std::string& option : options) {
    const GdalErrors said(GdalErrors::From::warnings);
    CPLStringList one;
    one.AddString(option.c_str());
    if (!GDALValidateCreationOptions(driver, one.List()))
      throw Failure("-co " + option + ": " + said.reason("GDAL's " + driver_name + " driver refuses it"));
  }
}

void write_gdal_raster(const std::string& path, const GdalResult& result, const RowSource& rows, int nb_lig,
                       int nb_col, const Georef& georef, const WriteProgress& progress) {
  gdal_raster_setup();
  GdalErrors caught;
  const std::string& driver_name = result.driver;
  GDALDriverH driver = GDALGetDriverByName(driver_name.c_str());
  if (!driver) throw Failure("this GDAL has no " + driver_name + " driver");
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
  std::exception_ptr thrown;
  GDALDatasetH out = nullptr;
  {
    struct NoSideFiles {
      NoSideFiles() { CPLSetThreadLocalConfigOption("GDAL_PAM_ENABLED", "NO"); }
      ~NoSideFiles() { CPLSetThreadLocalConfigOption("GDAL_PAM_ENABLED", nullptr); }
    } const no_side_files;
    PlaneDataset plane(rows, nb_lig, nb_col, georef, result.nodata, thrown);
    ProgressCall call{progress, thrown};
    out = GDALCreateCopy(driver, path.c_str(), GDALDataset::ToHandle(&plane), FALSE, options.List(), report_progress,
                         &call);
    if (out) GDALClose(out);  // the last blocks reach the file here
  }
  if (thrown) std::rethrow_exception(thrown);
  if (!out || caught.failed()) throw Failure(caught.reason("GDAL could not write it"));
}

std::string esri_wkt(const std::string& wkt) {
  if (wkt.empty()) return "";
  gdal_raster_setup();
  GdalErrors caught;
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
