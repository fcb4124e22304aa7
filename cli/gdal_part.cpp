// The table of solvik_gdal.so: see gdal_part.h.
#include "cli/gdal_part.h"

#include "platform/host.h"

namespace {

// This module's temporaries (a vector file's, GDAL's result's) are removed
// on an interrupt as the command line's are.
void setup() {
  install_interrupt_cleanup();
  gdal_raster_setup();
}

}  // namespace

extern "C" __attribute__((visibility("default"))) const GdalPart* solvik_gdal_part() {
  static const GdalPart part = {
      sizeof(GdalPart),
      setup,
      open_gdal_source,
      gdal_driver_for,
      gdal_result_driver,
      gdal_check_creation_options,
      write_gdal_raster,
      check_gdal_input,
      gdal_files_read,
      esri_wkt,
      gdal_read_formats,
#ifdef SOLVIK_HAVE_VECTOR
      vector_format_for,
      write_branches,
      write_nodes,
      stage_branches,
      stage_nodes,
      vector_side_files,
#endif
  };
  return &part;
}
