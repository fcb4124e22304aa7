// Thinning: skeleton() and test().
//
// Notes on the pass semantics, which every version of the kernel keeps:
//  1. The frame of tab is set to 255 before the first pass, so frame cells
//     never count as neighbours; their tab2 values (what thresholding gave
//     them) are still read by the window tests.
//  2. Neighbourhood codes come from tab, which does not change during a
//     pass: every code of a pass sees the object as the pass found it.
//  3. The window tests read tab2, which already holds this pass's marks on
//     the line above and to the left: 1 or 2 for pixels about to go, 255 for
//     pixels that stay, 0 for background.
//  4. Marked pixels are deleted only in the sweep after the scan. Between
//     passes tab2 is 255 exactly where tab is 1 and 0 where tab is 0.
//  5. Passes repeat until one deletes nothing.
#include "app/state.h"
#include "skeleton/codes.h"
#include "skeleton/skeleton.h"

namespace {

void set_frame(unsigned char** tab, int nb_lig, int nb_col) {
  for (int j = 0; j < nb_col; ++j) tab[0][j] = 255;
  for (int j = 0; j < nb_col; ++j) tab[nb_lig - 1][j] = 255;
  for (int i = 0; i < nb_lig; ++i) tab[i][0] = 255;
  for (int i = 0; i < nb_lig; ++i) tab[i][nb_col - 1] = 255;
}

// The four window tests of (i, j), north, south, east, west: true when all
// four find the ring connected.
bool windows_agree(unsigned char* const* tab2, int i, int j) {
  unsigned present = 0, kept = 0, kept_or_second = 0;
  for (int k = 0; k < 8; ++k) {
    unsigned char v = tab2[i + ring::di[k]][j + ring::dj[k]];
    present |= (v != 0 ? 1u : 0u) << k;
    kept |= (v > 2 ? 1u : 0u) << k;
    kept_or_second |= (v >= 2 ? 1u : 0u) << k;
  }
  for (int t = 0; t < 4; ++t) {
    unsigned window = (present & codes::window_mask(t, codes::P)) | (kept & codes::window_mask(t, codes::K)) |
                      (kept_or_second & codes::window_mask(t, codes::S));
    if (!codes::kRingConnected[window]) return false;
  }
  return true;
}

}  // namespace

int thin_planes(unsigned char** tab, unsigned char** tab2, int nb_lig, int nb_col) {
  set_frame(tab, nb_lig, nb_col);
  int passes = 0;
  long long nb_pix_mod = 1;
  while (nb_pix_mod) {
    ++passes;
    nb_pix_mod = 0;
    for (int i = 1; i < nb_lig - 1; ++i) {
      for (int j = 1; j < nb_col - 1; ++j) {
        if (tab[i][j] != 1) continue;
        std::uint8_t mark = codes::kMarkTable[neighbour_code(tab, i, j)];
        if (!mark) continue;
        tab2[i][j] = mark;
        if (!windows_agree(tab2, i, j)) tab2[i][j] = 255;
      }
    }
    for (int i = 1; i < nb_lig - 1; ++i) {
      for (int j = 1; j < nb_col - 1; ++j) {
        if (tab2[i][j] == 1 || tab2[i][j] == 2) {
          tab[i][j] = 0;
          tab2[i][j] = 0;
          ++nb_pix_mod;
        }
      }
    }
  }
  return passes;
}

int ring_connectivity(const unsigned char window[4][4]) {
  // ring order NW, N, NE, E, SE, S, SW, W
  const unsigned char cells[8] = {window[1][1], window[1][2], window[1][3], window[2][3],
                                  window[3][3], window[3][2], window[3][1], window[2][1]};
  unsigned code = 0;
  for (int k = 0; k < 8; ++k) code |= (cells[k] ? 1u : 0u) << k;
  return codes::kRingConnected[code];
}

void test() { irep = ring_connectivity(tab3); }

void skeleton() { thin_planes(tab, tab2, nb_lig, nb_col); }
