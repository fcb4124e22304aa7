// The by-the-letter reference of thresholding, thinning and finishing: slow,
// plain, independent of the program's code tables, so that the fast kernels
// can be compared with it byte for byte.
//
//   reference::threshold  four full scans that build tab and rewrite tab2
//   reference::skeleton   the frame step and the thinning passes; returns the
//                         number of passes (the last one deletes nothing)
//   reference::test       the connectivity value of a window
//   reference::finishing  the five in-place finishing passes on tab
//
// The planes are row-pointer planes [line][column] of nb_lig x nb_col bytes.
// Nothing here keeps state, prints, allocates or fails.
#pragma once

namespace reference {

// Reads tab2 (grey levels), writes tab (1 inside [minth, maxth], else 0) and
// rewrites tab2 (255 where tab is 1, else 0). tab must already exist.
void threshold(unsigned char** tab2, unsigned char** tab, int nb_lig, int nb_col, int minth, int maxth);

// Thins the object of tab (1 object, 0 background) with tab2 (255 object,
// 0 background) as the mark plane. Needs nb_lig >= 1 and nb_col >= 1.
// Returns the number of passes run.
int skeleton(unsigned char** tab, unsigned char** tab2, int nb_lig, int nb_col);

// The connectivity value (1 or 0) of the ring of the window tab3 (indices
// 1..3, centre not read).
int test(const unsigned char tab3[4][4]);

// The finishing passes on tab (values 0, 1, 255): background fill, frame
// reset, cleaning, end-point extension, corners. A plane of fewer than two
// lines or columns skips the end-point sub-passes whose line or column it
// lacks, and so comes out all 255.
void finishing(unsigned char** tab, int nb_lig, int nb_col);

}  // namespace reference
