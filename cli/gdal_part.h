// GDAL's part of the command line, loaded on first need.
//
// Reading and writing through GDAL (formats/gdal_raster.h) and the vector
// files of skeleton graphs (export/vector_file.h) bring GDAL and the
// hundred libraries it loads, which take longer to load than a small
// picture takes to thin. The command line's module therefore holds no GDAL:
// those functions are one table exported by a second module,
// solvik_gdal.so beside it, which the module's forwarders load the first
// time a file needs GDAL. Runs on the program's own formats never load it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "export/vector_file.h"
#include "formats/gdal_raster.h"

struct GdalPart {
  std::size_t size;  // sizeof(GdalPart) where the table was made: both modules built alike
  void (*setup)();
  std::unique_ptr<ImageSource> (*open_source)(const std::string& path, int band);
  std::string (*driver_for)(const std::string& extension);
  GdalDriverInfo (*result_driver)(const std::string& name);
  void (*check_creation_options)(const std::string& driver, const std::vector<std::string>& options);
  void (*write_raster)(const std::string& path, const GdalResult& result, const RowSource& rows, int nb_lig,
                       int nb_col, const Georef& georef, const WriteProgress& progress);
  void (*check_input)(const std::string& path);
  std::vector<std::string> (*files_read)(const std::string& path);
  std::string (*esri_wkt)(const std::string& wkt);
  std::string (*read_formats)();
#ifdef SOLVIK_HAVE_VECTOR
  std::string (*vector_format_for)(const std::string& path);
  void (*write_branches)(const std::string& path, const SkeletonGraph& graph, const Georef& georef,
                         double simplify_tolerance);
  void (*write_nodes)(const std::string& path, const SkeletonGraph& graph, const Georef& georef);
  void (*stage_branches)(const std::string& path, const SkeletonGraph& graph, const Georef& georef,
                         double simplify_tolerance, StagedFiles& staged);
  void (*stage_nodes)(const std::string& path, const SkeletonGraph& graph, const Georef& georef,
                      StagedFiles& staged);
  std::vector<std::string> (*vector_side_files)(const std::string& path);
#endif
};

// What solvik_gdal.so exports.
extern "C" const GdalPart* solvik_gdal_part();
