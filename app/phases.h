// The skeletonisation phases of a run (no arguments, program-wide state,
// called by the driver in this order: param, threshold, skeleton, then
// finishing at the start of save).
//   param      asks the grey-level window [minth, maxth]
//   threshold  allocates tab and builds the two-valued object
//   skeleton   thins the object in tab, with tab2 as the mark plane
//   test       the connectivity value of the window tab3, into irep
//   finishing  the in-place passes that turn the skeleton into the result
#pragma once

void param();
void threshold();
void skeleton();
void test();
void finishing();
