// Skeletonisation: thresholding, thinning and finishing.
//
// Phases (no arguments, program-wide state, called by the driver):
//   param      asks the grey-level window [minth, maxth]
//   threshold  allocates tab and builds the two-valued object
//   skeleton   thins the object in tab, with tab2 as the mark plane
//   test       the connectivity value of the window tab3, into irep
//   finishing  the in-place passes that turn the skeleton into the result
//
// Kernels (explicit planes, no program-wide state, print nothing):
//   threshold_planes, thin_planes, finish_planes, ring_connectivity
#pragma once

// Builds the object: dst[i][j] = 1 where minth <= src[i][j] <= maxth, else 0;
// src becomes 255 where dst is 1 and 0 elsewhere. Every cell, frame included.
void threshold_planes(unsigned char** src, unsigned char** dst, int nb_lig, int nb_col, int minth, int maxth);

// Thins the object: on entry tab holds 1 on the object and 0 elsewhere and
// tab2 255 on the object and 0 elsewhere (as threshold_planes leaves them).
// On return the frame of tab is 255, its interior 1 on the skeleton and 0
// elsewhere; the interior of tab2 is 255 where tab is 1 and 0 elsewhere.
// Returns the number of passes, the last one deleting nothing.
int thin_planes(unsigned char** tab, unsigned char** tab2, int nb_lig, int nb_col);

// Finishing, in place on tab (values 0, 1, 255): background fill, frame
// reset, cleaning, end-point extension into the frame, corner pass. On
// return tab holds 1 on the skeleton and 255 everywhere else.
void finish_planes(unsigned char** tab, int nb_lig, int nb_col);

// The connectivity value of a 3x3 window (indices 1..3, centre not read):
// 1 when the ring's 1-cells form one 8-connected group and at least one of
// N, E, S, W is 0, else 0.
int ring_connectivity(const unsigned char window[4][4]);

void param();
void threshold();
void skeleton();
void test();
void finishing();
