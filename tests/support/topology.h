// The topology of binary pictures, for checking skeletons: components of the
// object (8-connected) and of the background (4-connected), whether a
// skeleton keeps them, and the classic 3x3 simple-point test. Plain and slow,
// independent of the program's code tables.
//
// A picture is a Plane (helpers.h) read as object where a byte equals `on`;
// everything outside it is background.
#pragma once

#include <string>

#include "support/helpers.h"

namespace topology {

// Labels of the object's 8-connected components (1, 2, ...; 0 on the
// background), and of the background's 4-connected components with the
// outside of the picture as one of them (1, 2, ...; 0 on the object).
// Returns how many components were found.
int label_objects(const testing_support::Plane& p, unsigned char on, std::vector<std::vector<int>>& labels);
int label_background(const testing_support::Plane& p, unsigned char on, std::vector<std::vector<int>>& labels);

// Whether the object pixel (i, j) is simple: deleting it changes neither
// the 8-connected components of the object nor the 4-connected components
// of the background (one 8-connected group of object cells among its eight
// neighbours, touching it, and one 4-connected group of background cells
// among them touching one of its sides).
bool is_simple(const testing_support::Plane& p, unsigned char on, int i, int j);

// The object neighbours of (i, j), of eight.
int neighbours(const testing_support::Plane& p, unsigned char on, int i, int j);

// The faults of `skeleton` (pixels equal to `skel_on`) as the skeleton of
// `mask` (pixels equal to `mask_on`), as one line of text; empty when none:
//  - a skeleton pixel outside the mask;
//  - a mask object holding no skeleton pixel, or a skeleton in pieces;
//  - a hole of the mask lost (filled) or merged with another, or a new one;
//  - with `thin`, a skeleton pixel other than a line end (one neighbour)
//    that is simple.
std::string skeleton_faults(const testing_support::Plane& mask, unsigned char mask_on,
                            const testing_support::Plane& skeleton, unsigned char skel_on, bool thin = true);

}  // namespace topology
