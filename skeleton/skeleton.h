// Skeletonisation kernels: thresholding, thinning and finishing on explicit
// planes. They use no program-wide state, print nothing and never end the
// program; the program's phases (app/phases.h) call them. Planes are
// row-pointer matrices addressed [line][column], as ucmatrice builds them.
//
//   threshold_planes, thin_planes, finish_planes, ring_connectivity
//
// thin_planes and finish_planes work on bit planes of their own, about a
// quarter of a byte per pixel, and throw std::bad_alloc when that memory
// cannot be had.
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
