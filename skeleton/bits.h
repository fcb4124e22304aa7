// The kernels on bit planes: thinning and finishing of a picture held as
// one bit per pixel, for callers that hold no byte per pixel (the pipeline).
//
//   thin_bits         the thinning passes, in place
//   finish_bit_plane  the finishing, in place
//   sound_skeleton_bits  the skeleton that loses nothing, in place
//
// The bytes of thin_planes and finish_planes, bit for bit: a caller that
// sets a bit wherever threshold_planes would make an object pixel and runs
// these two has, set, exactly the pixels finish_planes leaves at 1. The
// contract of skeleton.h holds (sizes, threads, no state, std::bad_alloc).
#pragma once

#include "skeleton/bitplane.h"

// On entry `object` (nb_lig x nb_col) holds the object, frame included: the
// frame's bits are read as the window tests read the frame, and never
// change. On return its interior holds the thinned object. Returns the
// passes, the last one deleting nothing.
int thin_bits(bitplane::Plane& object, int nb_lig, int nb_col, int threads = 0);

// On entry the interior bits of `skeleton` are a thinned object (the frame's
// bits are ignored); on return the bits are the finished skeleton, end
// points grown into the frame included.
void finish_bit_plane(bitplane::Plane& skeleton, int nb_lig, int nb_col, int threads = 0);

// sound_skeleton_planes on bits: on entry `object` holds the picture with a
// frame of background (its frame bits are ignored), on return the skeleton
// (frame clear). The bits of sound_skeleton_planes' result, for every
// thread count. Memory: two more bit planes while it runs.
int sound_skeleton_bits(bitplane::Plane& object, int nb_lig, int nb_col, int threads = 0);

// sound_skeleton_bits in its two steps, for callers that time or report
// them: the thinning passes (returned), then the cleaning and the spurs.
int sound_thin_bits(bitplane::Plane& object, int nb_lig, int nb_col, int threads = 0);
void sound_finish_bits(bitplane::Plane& object, int nb_lig, int nb_col, int threads = 0);
