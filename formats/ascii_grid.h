// ASCII grids (".asc"): a header of six keyword and value pairs (columns,
// lines, lower-left x, lower-left y, cell size, nodata) followed by one
// decimal integer per pixel, top line first.
//
//   ChargeASC  read header and grid from the open stream f1 into nb_col,
//              nb_lig, X_min, Y_min, dpix_size, nodata and a new tab2,
//              then close f1
//   SauveASC   write header and grid of tab to a result file
//
// Paths are logical; messages show them as they are.
#pragma once

#include <string>

void ChargeASC(const std::string& nomim);

void SauveASC(const std::string& nomim);
