// Georeferencing of a raster: GDAL's geotransform and the coordinate system.
//
//   Georef   what every reader fills and every writer, the graph's map
//            coordinates included, reads
#pragma once

#include <string>

// GDAL's geotransform order: x0, dx/dcolumn, dx/dline, y0, dy/dcolumn,
// dy/dline. The coordinate system is WKT (may be empty when only the
// transform is known). When valid is false, map coordinates are pixel
// coordinates: x = column + 0.5, y = line + 0.5 (the identity geotransform).
struct Georef {
  bool valid = false;
  double geotransform[6] = {0, 1, 0, 0, 0, 1};
  std::string wkt;
};
