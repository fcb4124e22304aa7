// The GDAL functions of the command line's module, each calling the same
// function of solvik_gdal.so, which the first of them loads: see
// gdal_part.h. A module that cannot be loaded is a Failure naming it.
#include <dlfcn.h>

#include <string>

#include "cli/gdal_part.h"
#include "platform/failure.h"

namespace {

// The folder of the file this code was loaded from.
std::string own_folder() {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&own_folder), &info) || !info.dli_fname) return ".";
  const std::string path = info.dli_fname;
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
}

const GdalPart* load() {
  const std::string path = own_folder() + "/solvik_gdal.so";
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* e = dlerror();
    throw Failure("GDAL's part of the program cannot be loaded: " + std::string(e ? e : path));
  }
  using Entry = const GdalPart* (*)();
  const auto entry = reinterpret_cast<Entry>(dlsym(handle, "solvik_gdal_part"));
  const GdalPart* part = entry ? entry() : nullptr;
  if (!part || part->size != sizeof(GdalPart))
    throw Failure(path + " is not GDAL's part of this build of the program");
  part->setup();
  return part;
}

// Loaded once, by whichever thread asks first (a failed load is tried again
// by the next call).
const GdalPart& part() {
  static const GdalPart* const loaded = load();
  return *loaded;
}

}  // namespace

void gdal_raster_setup() {}  // done when the part is loaded

std::unique_ptr<ImageSource> open_gdal_source(const std::string& path, int band) {
  return part().open_source(path, band);
}
std::string gdal_driver_for(const std::string& extension) { return part().driver_for(extension); }
GdalDriverInfo gdal_result_driver(const std::string& name) { return part().result_driver(name); }
void gdal_check_creation_options(const std::string& driver, const std::vector<std::string>& options) {
  part().check_creation_options(driver, options);
}
void write_gdal_raster(const std::string& path, const GdalResult& result, const RowSource& rows, int nb_lig,
                       int nb_col, const Georef& georef, const WriteProgress& progress) {
  part().write_raster(path, result, rows, nb_lig, nb_col, georef, progress);
}
void check_gdal_input(const std::string& path) { part().check_input(path); }
std::vector<std::string> gdal_files_read(const std::string& path) { return part().files_read(path); }
std::string esri_wkt(const std::string& wkt) { return part().esri_wkt(wkt); }
std::string gdal_read_formats() { return part().read_formats(); }

#ifdef SOLVIK_HAVE_VECTOR
std::string vector_format_for(const std::string& path) { return part().vector_format_for(path); }
void write_branches(const std::string& path, const SkeletonGraph& graph, const Georef& georef,
                    double simplify_tolerance) {
  part().write_branches(path, graph, georef, simplify_tolerance);
}
void write_nodes(const std::string& path, const SkeletonGraph& graph, const Georef& georef) {
  part().write_nodes(path, graph, georef);
}
void stage_branches(const std::string& path, const SkeletonGraph& graph, const Georef& georef,
                    double simplify_tolerance, StagedFiles& staged) {
  part().stage_branches(path, graph, georef, simplify_tolerance, staged);
}
void stage_nodes(const std::string& path, const SkeletonGraph& graph, const Georef& georef, StagedFiles& staged) {
  part().stage_nodes(path, graph, georef, staged);
}
std::vector<std::string> vector_side_files(const std::string& path) { return part().vector_side_files(path); }
#endif
