// Raster images (".raw": nb_lig lines of nb_col bytes, line 0 first, no
// header) and their text descriptors (".txt": six integers, lines, columns,
// type, lowest value, highest value, pixel size).
//
//   RasterDescriptor       the six values
//   read_descriptor        the values of an open descriptor, as "%d" reads them
//   descriptor_text        the six values one per line, as results carry them
//   write_descriptor       the six values to an open stream
//   read_raster_rows       nb_lig lines of nb_col bytes into a plane
//   write_raster_rows      a plane's lines to an open stream
//
// Nothing here prints, keeps state or ends the program. A descriptor that
// cannot be read is a Failure (platform/failure.h); the stream functions
// answer false, errno saying why, as the writers of platform/host.h take
// them.
#pragma once

#include "formats/rows.h"

#include <cstdio>
#include <string>

struct RasterDescriptor {
  int nb_lig = 0;
  int nb_col = 0;
  int type = 0;
  int min_al = 0;
  int max_al = 0;
  int taille_pix = 0;
};

// Reads up to six integers the way "%d%d%d%d%d%d" does: white space of any
// kind between them; reading stops at the first word that does not start
// with a number, and the values not read keep what they held. A Failure
// ("a number too large for an integer") when a number does not fit an int;
// the values read before it are kept.
void read_descriptor(FILE* f, RasterDescriptor& d);

std::string descriptor_text(const RasterDescriptor& d);

// False when a byte could not be written (the stream stays open).
bool write_descriptor(FILE* f, const RasterDescriptor& d);

// Reads nb_lig lines of nb_col bytes from f into plane. False when the file
// ends or fails first; `failed_line` then gets the line that could not be
// read. Rows that follow one another in memory (a ucmatrice plane) are read
// with one call, others line by line; so is writing.
bool read_raster_rows(FILE* f, unsigned char* const* plane, int nb_lig, int nb_col, int* failed_line);

// False when a line could not be written (the stream stays open).
bool write_raster_rows(FILE* f, const unsigned char* const* plane, int nb_lig, int nb_col);
// The same of lines handed out a block at a time.
bool write_raster_rows(FILE* f, const RowSource& rows, int nb_lig, int nb_col);
