// Program-wide state: every value the phases share, in one place.
//
// The phases (opening, param, threshold, skeleton, save) take no arguments
// and talk to each other only through these values. Everything starts at 0
// or null and lives for the whole run; reset_state() brings a run back to
// that start so tests and fuzz targets can run the program more than once
// in one process.
#pragma once

#include <cstdio>
#include <string>

// --- image ------------------------------------------------------------------
extern int nb_lig;               // lines of the image; set by the reader of the chosen format
extern int nb_col;               // columns of the image; set by the reader of the chosen format
extern unsigned char** tab2;     // input plane; after threshold 255 object / 0 background,
                                 // then the mark plane of thinning (0, 1, 2, 255)
extern unsigned char** tab;      // object mask (1/0), skeleton, then the finished result
                                 // (1 skeleton, 255 elsewhere); allocated by threshold

// --- dialogue ---------------------------------------------------------------
extern int format_type;          // 0 raster, 1 bitmap, 2 ascii; set by the format menu
extern int minth;                // lower bound of the object window, included; set by param
extern int maxth;                // upper bound of the object window, included; set by param

// --- thinning scratch -------------------------------------------------------
extern int irep;                 // result of test(): 1 when the ring of tab3 is one
                                 // 8-connected group with at least one empty edge cell
extern unsigned char tab3[4][4]; // 3x3 window handed to test(), indices 1..3

// --- raster descriptor fields, carried from input to result -----------------
extern int type;                 // type code (1 when the descriptor is created)
extern int min_al;               // lowest value (0 when created)
extern int max_al;               // highest value (255 when created)
extern int taille_pix;           // pixel size (asked when created)

// --- ASCII grid header values -----------------------------------------------
extern double X_min;             // lower-left corner, x
extern double Y_min;             // lower-left corner, y
extern double dpix_size;         // cell size
extern double nodata;            // read and kept; the written header has a fixed line
extern char texte[60];           // the last header keyword read (never used further)

// --- paths and streams ------------------------------------------------------
extern std::string nomim2;       // folder path, then the full logical result path
extern FILE* f1;                 // input image (raster, ascii); open only while reading
extern FILE* f2;                 // result image (raster, ascii); open only while writing
extern FILE* f1d;                // input descriptor; open only inside ChargeDescr
extern FILE* f2d;                // result descriptor; open only while it is written
extern std::string descriptor_to_create;  // an input descriptor asked for in the dialogue,
                                 // created once the raster is known to hold its size

// Brings every value above back to its start (planes and streams are
// released or closed first).
void reset_state();
