// Raster images (".raw": nb_lig lines of nb_col bytes, line 0 first, no
// header) and their text descriptors (".txt": six integers, lines, columns,
// type, lowest value, highest value, pixel size).
//
//   ChargeDescr  read the descriptor into nb_lig, nb_col, type, min_al,
//                max_al, taille_pix; create it from the user's answers when
//                it is missing
//   SauveDescr   write the six values to a descriptor
//   ChargeRAW    read tab2 from the open stream f1, then close f1
//   SauveRAW     write tab as a raster
//
// All paths are logical ("c:\images\..."); messages show them as they are.
// Stops (through stop_run) when a descriptor gives fewer than 1 line or
// column, when the raster is shorter than lines x columns, when the plane
// cannot be allocated and when a result cannot be written.
#pragma once

#include <string>

void ChargeDescr(const std::string& nomdescr);

// Writes the descriptor atomically; a descriptor that cannot be written
// stops the run.
void SauveDescr(const std::string& nomdescr);

void ChargeRAW(const std::string& nomim);

void SauveRAW(const std::string& nomim);
