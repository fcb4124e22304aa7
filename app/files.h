// The file phases of a run: readers and writers of the three formats over
// the program-wide state, with the dialogue's questions and messages. The
// work itself is done by the kernels of formats/ and LIB/.
//
//   ChargeDescr  read the raster descriptor into nb_lig, nb_col, type,
//                min_al, max_al, taille_pix; ask for the values when it is
//                missing (it is created once the raster is known to hold
//                them, in ChargeRAW)
//   ChargeRAW    read tab2 from the open stream f1, then close f1
//   SauveDescr   write the six values to a descriptor
//   SauveRAW     write tab as a raster
//   SauveRasterPair  the result raster and its descriptor, put in place
//                together
//   ChargeASC    read header and grid from the open stream f1 into nb_col,
//                nb_lig, X_min, Y_min, dpix_size, nodata and a new tab2,
//                then close f1
//   SauveASC     write header and grid of tab to a result file
//   write_result write a result atomically, stopping the run when it fails
//
// Paths are logical ("c:\images\..."); messages show them as they are.
// Every failure stops the run (stop_run) with a message naming the file.
#pragma once

#include <functional>
#include <string>

void ChargeDescr(const std::string& nomdescr);
void ChargeRAW(const std::string& nomim);
void SauveDescr(const std::string& nomdescr);
void SauveRAW(const std::string& nomim);
void SauveRasterPair(const std::string& nomim, const std::string& nomdescr);
void ChargeASC(const std::string& nomim);
void SauveASC(const std::string& nomim);

// Writes the file at `logical` whole or not at all (see write_atomically);
// a failure stops the run with "The result <logical> could not be written:
// <why>."
void write_result(const std::string& logical, const std::function<bool(const std::string& tmp_host)>& writer);
