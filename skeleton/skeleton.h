// Skeletonisation kernels: thresholding, thinning and finishing on explicit
// planes, and the connectivity value of a window.
//
//   threshold_planes, thin_planes, finish_planes, sound_skeleton_planes,
//   ring_connectivity, default_threads
//
// The contract of every kernel here:
//  - Planes are row-pointer matrices addressed [line][column] of nb_lig
//    lines of nb_col bytes, as ucmatrice(nb_col, nb_lig) builds them. Every
//    row must be readable and writable for nb_col bytes.
//  - nb_lig and nb_col must be at least 1, and the planes and their rows
//    not null. A call that breaks this throws std::invalid_argument, naming
//    the value, before it touches any byte.
//  - thin_planes and finish_planes work on bit planes of their own, about a
//    quarter of a byte per pixel, and throw std::bad_alloc when that memory
//    cannot be had.
//  - No kernel prints, ends the program or uses program-wide state: calls
//    on different planes may run at once from several threads.
//  - `threads` is how many threads a kernel may use (fewer on small
//    planes); 0 takes one per core (default_threads()). The bytes of the result are the
//    same for every count.
#pragma once

// Builds the object: dst[i][j] = 1 where minth <= src[i][j] <= maxth, else 0;
// src becomes 255 where dst is 1 and 0 elsewhere. Every cell, frame included.
void threshold_planes(unsigned char** src, unsigned char** dst, int nb_lig, int nb_col, int minth, int maxth,
                      int threads = 0);

// Thins the object: on entry tab holds 1 on the object and 0 elsewhere and
// tab2 255 on the object and 0 elsewhere (as threshold_planes leaves them).
// On return the frame of tab is 255, its interior 1 on the skeleton and 0
// elsewhere; the interior of tab2 is 255 where tab is 1 and 0 elsewhere.
// Returns the number of passes, the last one deleting nothing.
int thin_planes(unsigned char** tab, unsigned char** tab2, int nb_lig, int nb_col, int threads = 0);

// Finishing, in place on tab (values 0, 1, 255): background fill, frame
// reset, cleaning, end-point extension into the frame, corner pass. On
// return tab holds 1 on the skeleton and 255 everywhere else.
void finish_planes(unsigned char** tab, int nb_lig, int nb_col, int threads = 0);

// The sound skeleton, in place of thin_planes followed by finish_planes and
// with the same planes on entry and the same values on return (tab 1 on the
// skeleton, 255 elsewhere; tab2 255 on the skeleton, 0 elsewhere). The
// frame of the planes is taken as background, whatever it holds: callers
// pass the picture padded by one cell. For every picture:
//  - every 8-connected object keeps one skeleton pixel or more, its
//    skeleton is 8-connected, its holes (4-connected background it
//    encloses) are kept, and no skeleton pixel lies outside the object;
//  - the skeleton is thin: no pixel of it but a line end (one neighbour)
//    can be deleted without changing the above;
//  - strokes two pixels thick or more keep a line along their length.
// The thinning passes and the cleaning of the dialogue, with deletions
// checked one at a time in scan order (sound.cpp). Returns the number of
// thinning passes, the last one deleting nothing.
int sound_skeleton_planes(unsigned char** tab, unsigned char** tab2, int nb_lig, int nb_col, int threads = 0);

// The connectivity value of a 3x3 window (indices 1..3, centre not read):
// 1 when the ring's 1-cells form one 8-connected group and at least one of
// N, E, S, W is 0, else 0.
int ring_connectivity(const unsigned char window[4][4]);

// One thread per core: what a thread count of 0 stands for.
int default_threads();
