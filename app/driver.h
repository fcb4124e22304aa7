// The program driver: the dialogue, the choice of reader and writer by
// format, and the fixed sequence of phases.
//
//   opening      banner, folder, format, input name, reading, size report,
//                result name (and, for rasters, the result descriptor)
//   save         finishing, then the writer of the chosen format
//   run_program  one whole run: opening, param, threshold, skeleton, save;
//                returns the exit status (0, or 1 for a run that stopped)
#pragma once

void opening();
void save();
int run_program();
