// The dialogue's connectivity phase: test() reads the program-wide window
// tab3 and leaves in irep what the kernel's ring measure gives, for every
// ring (the centre never read).
#include <gtest/gtest.h>

#include "app/phases.h"
#include "app/state.h"
#include "skeleton/skeleton.h"

TEST(Phases, TestLeavesTheRingMeasureOfTab3InIrep) {
  for (unsigned code = 0; code < 512; ++code) {
    unsigned char window[4][4] = {};
    const int cells[9][2] = {{1, 1}, {1, 2}, {1, 3}, {2, 3}, {3, 3}, {3, 2}, {3, 1}, {2, 1}, {2, 2}};
    for (int k = 0; k < 9; ++k) window[cells[k][0]][cells[k][1]] = (code >> k) & 1u;
    for (int r = 0; r < 4; ++r)
      for (int c = 0; c < 4; ++c) tab3[r][c] = window[r][c];
    irep = 7;
    test();
    EXPECT_EQ(irep, ring_connectivity(window)) << "cells " << code;
  }
}
