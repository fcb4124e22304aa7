// Finishing: the in-place passes that turn the thinned plane tab (1
// skeleton, 0 background, 255 frame) into the result (1 skeleton, 255
// everywhere else). Each pass works in place: a value written is seen by
// every pixel the same pass visits later, so the order of the passes and of
// the pixels within them is part of the result.
#include "app/state.h"
#include "skeleton/codes.h"
#include "skeleton/skeleton.h"

namespace {

// Neighbours equal to 1 around (i, j); cells outside the plane count as not 1,
// so the end-point sub-passes are safe on planes of one or two lines or
// columns.
int ones_around(unsigned char* const* tab, int nb_lig, int nb_col, int i, int j) {
  int n = 0;
  for (int k = 0; k < 8; ++k) {
    int y = i + ring::di[k], x = j + ring::dj[k];
    if (y >= 0 && y < nb_lig && x >= 0 && x < nb_col && tab[y][x] == 1) ++n;
  }
  return n;
}

bool is_end_point(unsigned char* const* tab, int nb_lig, int nb_col, int i, int j) {
  return tab[i][j] == 1 && ones_around(tab, nb_lig, nb_col, i, j) == 1;
}

}  // namespace

void finish_planes(unsigned char** tab, int nb_lig, int nb_col) {
  // 1. background fill
  for (int i = 0; i < nb_lig; ++i)
    for (int j = 0; j < nb_col; ++j)
      if (tab[i][j] == 0) tab[i][j] = 255;

  // 2. frame reset
  for (int j = 0; j < nb_col; ++j) tab[0][j] = 255;
  for (int j = 0; j < nb_col; ++j) tab[nb_lig - 1][j] = 255;
  for (int i = 0; i < nb_lig; ++i) tab[i][0] = 255;
  for (int i = 0; i < nb_lig; ++i) tab[i][nb_col - 1] = 255;

  // 3. cleaning
  for (int i = 1; i < nb_lig - 1; ++i)
    for (int j = 1; j < nb_col - 1; ++j)
      if (codes::kCleanTable[neighbour_code(tab, i, j)]) tab[i][j] = 255;

  // 4. end points next to the frame grow one pixel into it: top, bottom,
  // left, right. A sub-pass whose line or column the plane lacks is skipped.
  if (nb_lig >= 2)
    for (int j = 1; j <= nb_col - 2; ++j)
      if (is_end_point(tab, nb_lig, nb_col, 1, j)) tab[0][j] = 1;
  if (nb_lig >= 2)
    for (int j = 1; j <= nb_col - 2; ++j)
      if (is_end_point(tab, nb_lig, nb_col, nb_lig - 2, j)) tab[nb_lig - 1][j] = 1;
  if (nb_col >= 2)
    for (int i = 1; i <= nb_lig - 2; ++i)
      if (is_end_point(tab, nb_lig, nb_col, i, 1)) tab[i][0] = 1;
  if (nb_col >= 2)
    for (int i = 1; i <= nb_lig - 2; ++i)
      if (is_end_point(tab, nb_lig, nb_col, i, nb_col - 2)) tab[i][nb_col - 1] = 1;

  // 5. corners
  for (int i = 1; i < nb_lig - 1; ++i)
    for (int j = 1; j < nb_col - 1; ++j)
      if (codes::is_corner_code(neighbour_code(tab, i, j))) tab[i][j] = 255;
}

void finishing() { finish_planes(tab, nb_lig, nb_col); }
