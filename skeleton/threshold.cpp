// Thresholding: param asks the grey-level window, threshold builds the
// object mask tab (1 object, 0 background) and rewrites tab2 as the same
// object in 255 and 0.
#include <cstring>

#include "LIB/NRUTIL.h"
#include "app/state.h"
#include "platform/console.h"
#include "skeleton/skeleton.h"

void threshold_planes(unsigned char** src, unsigned char** dst, int nb_lig, int nb_col, int minth, int maxth) {
  // One decision per grey level; the bounds are compared as signed integers,
  // so a negative minth admits 0 and a maxth above 255 admits 255.
  unsigned char inside[256];
  for (int g = 0; g < 256; ++g) inside[g] = minth <= g && g <= maxth ? 1 : 0;
  for (int i = 0; i < nb_lig; ++i) {
    unsigned char* s = src[i];
    unsigned char* d = dst[i];
    for (int j = 0; j < nb_col; ++j) {
      unsigned char v = inside[s[j]];
      d[j] = v;
      s[j] = static_cast<unsigned char>(-v);  // 1 -> 255, 0 -> 0
    }
  }
}

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
  threshold_planes(tab2, tab, nb_lig, nb_col, minth, maxth);
}
