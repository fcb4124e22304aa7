// Skeleton graphs as GIS vector files: see vector_file.h.
//
//   vector_format_for, write_branches, write_nodes
//
// Notes
//  1. GDAL's C interface only. Its error messages are caught for the
//     duration of each call (formats/gdal_errors.h, the raster files' own
//     catcher), so nothing reaches the console and the last message becomes
//     the reason of the Failure.
//  2. One feature and one geometry object per branch; the points go straight
//     into the geometry, never through per-pixel allocations.
//  3. A GeoPackage is written inside one transaction: without it every
//     feature is its own SQLite transaction, hundreds of times slower.
#include "export/vector_file.h"

#include <gdal.h>
#include <ogr_api.h>
#include <ogr_srs_api.h>
#include <cpl_error.h>
#include <cpl_string.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>
#include <vector>

#include "formats/gdal_errors.h"
#include "platform/failure.h"
#include "platform/host.h"

namespace {

namespace fs = std::filesystem;

// The files of a shapefile set besides the .shp itself.
constexpr const char* kShapeParts[] = {".shp", ".shx", ".dbf", ".prj", ".cpg", ".qix", ".sbn", ".sbx"};

// `what` and GDAL's last message.
std::string gdal_reason(const std::string& what) { return GdalErrors::last(what); }

// The files a dataset written at `path` consists of.
std::vector<std::string> parts_of(const std::string& path) {
  if (extension_of(path) != ".shp") return {path};
  std::vector<std::string> parts;
  const fs::path p(path);
  for (const char* ext : kShapeParts) parts.push_back(fs::path(p).replace_extension(ext).string());
  return parts;
}

void remove_all(const std::vector<std::string>& files) {
  std::error_code ec;
  for (const std::string& f : files) fs::remove(f, ec);
}

// Hands the finished temporary dataset to `staged`, to become `path`: a
// shapefile's parts one by one; of an earlier set (its .shp there), the
// parts the new one lacks go with it (a stale .prj would give the new lines
// a wrong coordinate system); where no .shp was, other files of the name
// are not touched.
void hand_over(const std::string& tmp, const std::string& path, StagedFiles& staged) {
  const std::vector<std::string> from = parts_of(tmp), to = parts_of(path);
  std::error_code ec;
  const bool earlier_set = from.size() > 1 && fs::exists(to[0], ec);
  for (std::size_t k = 0; k < from.size(); ++k) {
    if (fs::exists(from[k], ec))
      staged.adopt(from[k], to[k]);
    else if (earlier_set && path_exists(to[k]))
      staged.remove_with(to[k]);
  }
}

class Dataset {
 public:
  explicit Dataset(GDALDatasetH h) : h_(h) {}
  ~Dataset() {
    if (h_) GDALClose(h_);
  }
  Dataset(const Dataset&) = delete;
  Dataset& operator=(const Dataset&) = delete;
  GDALDatasetH get() const { return h_; }
  // closes and says whether GDAL reported an error while finishing the file
  bool close() {
    CPLErrorReset();
    GDALClose(h_);
    h_ = nullptr;
    return CPLGetLastErrorType() < CE_Failure;
  }

 private:
  GDALDatasetH h_;
};

class Srs {
 public:
  explicit Srs(const Georef& georef) {
    if (!georef.valid || georef.wkt.empty()) return;
    h_ = OSRNewSpatialReference(nullptr);
    if (OSRSetFromUserInput(h_, georef.wkt.c_str()) != OGRERR_NONE) {
      OSRDestroySpatialReference(h_);
      h_ = nullptr;
      return;
    }
    // coordinates are written as x = easting/longitude, y = northing/latitude
    OSRSetAxisMappingStrategy(h_, OAMS_TRADITIONAL_GIS_ORDER);
  }
  ~Srs() {
    if (h_) OSRDestroySpatialReference(h_);
  }
  Srs(const Srs&) = delete;
  Srs& operator=(const Srs&) = delete;
  OGRSpatialReferenceH get() const { return h_; }
  bool failed(const Georef& georef) const { return georef.valid && !georef.wkt.empty() && !h_; }

 private:
  OGRSpatialReferenceH h_ = nullptr;
};

void add_field(OGRLayerH layer, const char* name, OGRFieldType type) {
  OGRFieldDefnH f = OGR_Fld_Create(name, type);
  if (type == OFTString) OGR_Fld_SetWidth(f, 17);
  const OGRErr e = OGR_L_CreateField(layer, f, TRUE);
  OGR_Fld_Destroy(f);
  if (e != OGRERR_NONE) throw Failure(gdal_reason(std::string("cannot add the field ") + name));
}

OGRLayerH make_layer(GDALDatasetH ds, const char* name, OGRwkbGeometryType type, const Srs& srs,
                     const std::string& fmt) {
  CPLStringList options;
  if (fmt == "CSV") options.SetNameValue("GEOMETRY", "AS_WKT");
  OGRLayerH layer = GDALDatasetCreateLayer(ds, name, srs.get(), type, options.List());
  if (!layer) throw Failure(gdal_reason(std::string("cannot create the layer ") + name));
  return layer;
}

void write_branch_layer(GDALDatasetH ds, const std::string& fmt, const SkeletonGraph& graph, const Georef& georef,
                        const Srs& srs, double tolerance) {
  OGRLayerH layer = make_layer(ds, "branches", wkbLineString, srs, fmt);
  add_field(layer, "id", OFTInteger);
  add_field(layer, "component", OFTInteger);
  add_field(layer, "kind", OFTString);
  add_field(layer, "length", OFTReal);
  add_field(layer, "length_px", OFTReal);
  add_field(layer, "from_node", OFTInteger);
  add_field(layer, "to_node", OFTInteger);
  OGRFeatureDefnH defn = OGR_L_GetLayerDefn(layer);
  std::vector<std::pair<double, double>> points;
  for (const GraphBranch& b : graph.branches) {
    points.clear();
    for (const Pixel& p : b.path) points.emplace_back(p.column, p.line);
    if (tolerance > 0) points = simplify_line(points, tolerance);
    OGRGeometryH line = OGR_G_CreateGeometry(wkbLineString);
    OGR_G_SetPointCount(line, static_cast<int>(points.size()));
    for (std::size_t k = 0; k < points.size(); ++k) {
      const auto [x, y] = map_point(georef, points[k].second, points[k].first);
      OGR_G_SetPoint_2D(line, static_cast<int>(k), x, y);
    }
    OGRFeatureH f = OGR_F_Create(defn);
    OGR_F_SetFieldInteger(f, 0, b.id);
    OGR_F_SetFieldInteger(f, 1, b.component);
    OGR_F_SetFieldString(f, 2, branch_kind_name(b.kind));
    OGR_F_SetFieldDouble(f, 3, georef.valid ? path_length(georef, b.path) : b.length_px);
    OGR_F_SetFieldDouble(f, 4, b.length_px);
    OGR_F_SetFieldInteger(f, 5, b.from_node);
    OGR_F_SetFieldInteger(f, 6, b.to_node);
    OGR_F_SetGeometryDirectly(f, line);
    const OGRErr e = OGR_L_CreateFeature(layer, f);
    OGR_F_Destroy(f);
    if (e != OGRERR_NONE) throw Failure(gdal_reason("cannot write branch " + std::to_string(b.id)));
  }
}

void write_node_layer(GDALDatasetH ds, const std::string& fmt, const SkeletonGraph& graph, const Georef& georef,
                      const Srs& srs) {
  OGRLayerH layer = make_layer(ds, "nodes", wkbPoint, srs, fmt);
  add_field(layer, "id", OFTInteger);
  add_field(layer, "component", OFTInteger);
  add_field(layer, "kind", OFTString);
  add_field(layer, "degree", OFTInteger);
  OGRFeatureDefnH defn = OGR_L_GetLayerDefn(layer);
  for (const GraphNode& n : graph.nodes) {
    const auto [x, y] = map_point(georef, n.line, n.column);
    OGRGeometryH point = OGR_G_CreateGeometry(wkbPoint);
    OGR_G_SetPoint_2D(point, 0, x, y);
    OGRFeatureH f = OGR_F_Create(defn);
    OGR_F_SetFieldInteger(f, 0, n.id);
    OGR_F_SetFieldInteger(f, 1, n.component);
    OGR_F_SetFieldString(f, 2, node_kind_name(n.kind));
    OGR_F_SetFieldInteger(f, 3, n.degree);
    OGR_F_SetGeometryDirectly(f, point);
    const OGRErr e = OGR_L_CreateFeature(layer, f);
    OGR_F_Destroy(f);
    if (e != OGRERR_NONE) throw Failure(gdal_reason("cannot write node " + std::to_string(n.id)));
  }
}

// The layers a written file must hold, and how many features each.
using LayerCounts = std::vector<std::pair<std::string, long long>>;

// Opens the finished file again: every layer must be there with all of its
// features (a write that failed on a full disk or under a file size limit
// shows here, whatever the driver said).
void read_back(const std::string& tmp, const std::string& fmt, const LayerCounts& expected) {
  const char* drivers[] = {fmt.c_str(), nullptr};
  const Dataset ds(GDALOpenEx(tmp.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, drivers, nullptr, nullptr));
  if (!ds.get()) throw Failure(gdal_reason("the written file cannot be read back"));
  for (const auto& [name, count] : expected) {
    // single-layer formats name their layer after the file
    OGRLayerH layer = GDALDatasetGetLayerCount(ds.get()) == 1 && fmt != "GPKG"
                          ? GDALDatasetGetLayer(ds.get(), 0)
                          : GDALDatasetGetLayerByName(ds.get(), name.c_str());
    const long long got = layer ? OGR_L_GetFeatureCount(layer, TRUE) : -1;
    if (got != count)
      throw Failure("the written file holds " + std::to_string(got < 0 ? 0 : got) + " of the " +
                    std::to_string(count) + " features of " + name + " (is the disk full?)");
  }
}

// Creates the file at a temporary name (an existing GeoPackage copied
// there first), lets `fill` write the layers, reads it back and hands it to
// `staged`; removes every partial file on failure.
template <class Fill>
void stage_dataset(const std::string& path, const Georef& georef, const LayerCounts& layers, StagedFiles& staged,
                   Fill fill) {
  const std::string fmt = vector_format_for(path);
  if (fmt.empty())
    throw Failure(path + ": the extension does not name a vector format (.geojson, .json, .gpkg, .shp, .fgb, .csv)");
  const GdalErrors quiet;
  GDALDriverH driver = GDALGetDriverByName(fmt.c_str());
  if (!driver) {
    GDALAllRegister();
    driver = GDALGetDriverByName(fmt.c_str());
  }
  if (!driver) throw Failure(path + ": this GDAL has no " + fmt + " driver");
  const Srs srs(georef);
  if (srs.failed(georef)) throw Failure(gdal_reason(path + ": the coordinate system is not understood"));
  const std::string tmp = temporary_name_beside(path, fs::path(path).extension().string());
  std::vector<std::string> pending = parts_of(tmp);
  for (const char* journal : {"-journal", "-wal", "-shm"}) pending.push_back(tmp + journal);  // SQLite's
  const RemovedOnInterrupt removed(pending);
  struct Cleanup {
    const std::vector<std::string>& files;
    bool keep = false;
    ~Cleanup() {
      if (!keep) remove_all(files);
    }
  } cleanup{pending};

  std::error_code ec;
  const bool update = fmt == "GPKG" && fs::exists(path, ec);
  GDALDatasetH opened = nullptr;
  if (update) {
    // the other layers of an existing GeoPackage stay (note 5)
    const char* gpkg[] = {"GPKG", nullptr};
    GDALDatasetH earlier = GDALOpenEx(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, gpkg, nullptr, nullptr);
    if (!earlier) throw Failure(path + ": the file is there and is not a GeoPackage; it is left as it is");
    GDALClose(earlier);
    fs::copy_file(path, tmp, ec);
    if (ec) throw Failure("cannot copy " + path + " to add layers to it: " + ec.message());
    opened = GDALOpenEx(tmp.c_str(), GDAL_OF_VECTOR | GDAL_OF_UPDATE, gpkg, nullptr, nullptr);
    if (!opened) throw Failure(gdal_reason("cannot update " + path));
    for (int k = GDALDatasetGetLayerCount(opened) - 1; k >= 0; --k) {
      const char* got = OGR_L_GetName(GDALDatasetGetLayer(opened, k));
      const std::string name = got ? got : "";  // the layer's own copy goes with it
      for (const auto& layer : layers) {
        if (layer.first != name) continue;
        if (GDALDatasetDeleteLayer(opened, k) != OGRERR_NONE) {
          GDALClose(opened);
          throw Failure(gdal_reason(path + ": cannot replace its layer " + name));
        }
        break;
      }
    }
  } else {
    opened = GDALCreate(driver, tmp.c_str(), 0, 0, 0, GDT_Unknown, nullptr);
  }
  Dataset ds(opened);
  if (!ds.get()) throw Failure(gdal_reason("cannot create " + path));
  try {
    const bool transaction = fmt == "GPKG" && GDALDatasetStartTransaction(ds.get(), FALSE) == OGRERR_NONE;
    fill(ds.get(), fmt, srs);
    if (transaction && GDALDatasetCommitTransaction(ds.get()) != OGRERR_NONE)
      throw Failure(gdal_reason("cannot finish"));
    if (!ds.close()) throw Failure(gdal_reason("cannot finish"));
    read_back(fmt == "ESRI Shapefile" ? parts_of(tmp)[0] : tmp, fmt, layers);
  } catch (const Failure& failure) {
    throw Failure(path + ": " + failure.what());
  }
  cleanup.keep = true;
  hand_over(tmp, path, staged);
}

}  // namespace

std::string vector_format_for(const std::string& path) {
  const std::string ext = extension_of(path);
  if (ext == ".geojson" || ext == ".json") return "GeoJSON";
  if (ext == ".gpkg") return "GPKG";
  if (ext == ".shp") return "ESRI Shapefile";
  if (ext == ".fgb") return "FlatGeobuf";
  if (ext == ".csv") return "CSV";
  return "";
}

void stage_branches(const std::string& path, const SkeletonGraph& graph, const Georef& georef,
                    double simplify_tolerance, StagedFiles& staged) {
  LayerCounts layers{{"branches", static_cast<long long>(graph.branches.size())}};
  if (vector_format_for(path) == "GPKG") layers.emplace_back("nodes", static_cast<long long>(graph.nodes.size()));
  stage_dataset(path, georef, layers, staged, [&](GDALDatasetH ds, const std::string& fmt, const Srs& srs) {
    write_branch_layer(ds, fmt, graph, georef, srs, simplify_tolerance);
    if (fmt == "GPKG") write_node_layer(ds, fmt, graph, georef, srs);
  });
}

void stage_nodes(const std::string& path, const SkeletonGraph& graph, const Georef& georef, StagedFiles& staged) {
  stage_dataset(path, georef, {{"nodes", static_cast<long long>(graph.nodes.size())}}, staged,
                [&](GDALDatasetH ds, const std::string& fmt, const Srs& srs) {
                  write_node_layer(ds, fmt, graph, georef, srs);
                });
}

namespace {

void put_in_place(StagedFiles& staged) {
  try {
    staged.put_in_place();
  } catch (const FileFailure& failure) {
    throw Failure("cannot replace " + failure.path + ": " + failure.what());
  }
}

}  // namespace

void write_branches(const std::string& path, const SkeletonGraph& graph, const Georef& georef,
                    double simplify_tolerance) {
  StagedFiles staged;
  stage_branches(path, graph, georef, simplify_tolerance, staged);
  put_in_place(staged);
}

void write_nodes(const std::string& path, const SkeletonGraph& graph, const Georef& georef) {
  StagedFiles staged;
  stage_nodes(path, graph, georef, staged);
  put_in_place(staged);
}

std::vector<std::string> vector_side_files(const std::string& path) {
  const std::string ext = extension_of(path);
  if (ext == ".shp") {
    std::vector<std::string> parts;
    for (const char* part : {".shp", ".shx", ".dbf", ".prj", ".cpg"})
      parts.push_back(fs::path(path).replace_extension(part).string());
    return parts;
  }
  if (ext == ".gpkg") return {path, path + "-journal", path + "-wal", path + "-shm"};
  return {path};
}
