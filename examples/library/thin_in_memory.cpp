// Thins a picture held in memory with the solvik library: threshold,
// thinning and finishing on planes of your own, no dialogue and no files.
// Prints the picture and its skeleton, and exits 0 when the skeleton of the
// filled rectangle is its middle line.
#include <solvik/LIB/NRUTIL.h>
#include <solvik/skeleton/skeleton.h>

#include <cstdio>

int main() {
  const int nb_lig = 9, nb_col = 16;
  // planes are row-pointer matrices: ucmatrice(columns, lines)
  unsigned char** grey = ucmatrice(nb_col, nb_lig);
  unsigned char** object = ucmatrice(nb_col, nb_lig);
  if (!grey || !object) return 1;
  for (int i = 0; i < nb_lig; ++i)
    for (int j = 0; j < nb_col; ++j) grey[i][j] = (i >= 2 && i <= 6 && j >= 2 && j <= 13) ? 200 : 10;

  threshold_planes(grey, object, nb_lig, nb_col, 128, 255);  // object 1, grey plane 255 / 0
  const int passes = thin_planes(object, grey, nb_lig, nb_col);
  finish_planes(object, nb_lig, nb_col);  // 1 on the skeleton, 255 elsewhere

  std::printf("skeleton after %d passes:\n", passes);
  int skeleton_pixels = 0;
  bool only_middle_line = true;
  for (int i = 0; i < nb_lig; ++i) {
    for (int j = 0; j < nb_col; ++j) {
      std::putchar(object[i][j] == 1 ? '#' : '.');
      if (object[i][j] == 1) {
        ++skeleton_pixels;
        only_middle_line = only_middle_line && i == 4;
      }
    }
    std::putchar('\n');
  }
  frucmatrice(grey, nb_lig);
  frucmatrice(object, nb_lig);
  return skeleton_pixels > 0 && only_middle_line ? 0 : 1;
}
