// The skeletonisation phases of a run: thin shims that read the program-wide
// state, call the kernels on explicit planes and store the results back.
//   param      asks the grey-level window [minth, maxth]
//   threshold  allocates tab and builds the two-valued object
//   skeleton   thins the object in tab, with tab2 as the mark plane
//   test       the connectivity value of the window tab3, into irep
//   finishing  the finishing passes on tab
#include "LIB/NRUTIL.h"
#include "app/state.h"
#include "platform/console.h"
#include "platform/thread_setting.h"
#include "app/phases.h"
#include "skeleton/skeleton.h"

#include <cstdlib>

namespace {

// The thread count of the kernels: SOLVIK_THREADS when it holds one, else
// one per core.
int kernel_threads() { return thread_count_from(std::getenv("SOLVIK_THREADS")); }

}  // namespace

void param() {
  con_printf("\n\n\tThresholding : ");
  con_printf("\n\t\tMin (included) ? ");
  minth = ask_int([] { con_printf("\n\t\tMin (included) ? "); });
  con_printf("\t\tMax (included) ? ");
  maxth = ask_int([] { con_printf("\t\tMax (included) ? "); });
  con_printf("\n");
}

void threshold() {
  tab = ucmatrice(nb_col, nb_lig);
  if (!tab) stop_run(con_format("\n\tNot enough memory for an image of %d lines of %d columns.\n", nb_lig, nb_col));
  threshold_planes(tab2, tab, nb_lig, nb_col, minth, maxth, kernel_threads());
}

void skeleton() { thin_planes(tab, tab2, nb_lig, nb_col, kernel_threads()); }

void test() { irep = ring_connectivity(tab3); }

void finishing() { finish_planes(tab, nb_lig, nb_col, kernel_threads()); }
