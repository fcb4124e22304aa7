// Leptonica's thinning, for comparison only: how long pixThinConnected
// takes on a picture already in memory (when the benchmark was built with
// Leptonica).
#pragma once

#include "bench/images.h"

namespace bench {

// True when Leptonica is linked in.
bool leptonica_available();

// The median wall time, in seconds, of `runs` calls of pixThinConnected
// (foreground thinned to an 8-connected skeleton, until nothing changes)
// on the object pixels (not 0) of `pic`; the 1-bit picture is made before
// the clock starts. Negative when Leptonica is not available or fails.
double leptonica_thin_seconds(const Picture& pic, int runs);

}  // namespace bench
