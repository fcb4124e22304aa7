// The by-the-letter reference: see reference.h.
//
// Every loop here is the plain one: whole scans, explicit code lists searched
// one by one, the window cells written one by one into tab3 and handed to
// test(). Speed is not a goal; being obviously right is. The code lists are
// written out here on purpose instead of taken from skeleton/codes.h, so a
// slip in the program's tables cannot hide in both.
#include "support/reference.h"

#include <cstdlib>


namespace reference {

namespace {

// --- thinning code lists ---------------------------------------------------

// Codes whose pixel gets the first mark (1).
constexpr int kFirstMark[49] = {3,   6,   7,   11,  12,  14,  15,  26,  28,  30,  31,  44,  46,  58,  60,  62,  63,
                                124, 126, 129, 131, 134, 135, 139, 142, 143, 159, 161, 163, 176, 184, 192, 193, 194,
                                195, 199, 207, 224, 225, 226, 227, 231, 232, 240, 241, 243, 248, 249, 252};

// Codes whose pixel gets the second mark (2): object neighbours only among
// E, SE, S and SW.
constexpr int kSecondMark[7] = {24, 48, 56, 96, 104, 112, 120};

// --- finishing code lists --------------------------------------------------

// The cleaning pass removes a pixel whose code is one of these, in eight
// groups of four.
constexpr int kCleaning[32] = {
    3,  6,   12,  24,   // group 1
    48, 96,  192, 129,  // group 2
    14, 56,  131, 224,  // group 3
    7,  28,  112, 193,  // group 4
    10, 40,  160, 130,  // group 5
    11, 26,  104, 194,  // group 6
    44, 134, 161, 176,  // group 7
    42, 138, 162, 168,  // group 8
};

// The corner pass removes a pixel whose code is one of these.
constexpr int kCorner[4] = {10, 40, 160, 130};

template <int n>
bool listed(const int (&list)[n], int code) {
  for (int k = 0; k < n; ++k)
    if (list[k] == code) return true;
  return false;
}

// The neighbourhood code of (i, j) on the current plane: NW 1, N 2, NE 4,
// E 8, SE 16, S 32, SW 64, W 128, a neighbour counting only when it is 1.
int code_of(unsigned char** plane, int i, int j) {
  int ival = 0;
  if (plane[i - 1][j - 1] == 1) ival += 1;
  if (plane[i - 1][j] == 1) ival += 2;
  if (plane[i - 1][j + 1] == 1) ival += 4;
  if (plane[i][j + 1] == 1) ival += 8;
  if (plane[i + 1][j + 1] == 1) ival += 16;
  if (plane[i + 1][j] == 1) ival += 32;
  if (plane[i + 1][j - 1] == 1) ival += 64;
  if (plane[i][j - 1] == 1) ival += 128;
  return ival;
}

int count_of(int code) {
  int n = 0;
  for (int k = 0; k < 8; ++k)
    if (code & (1 << k)) ++n;
  return n;
}

// The three rules by which a window cell reads the mark plane.
unsigned char present(unsigned char v) { return v != 0 ? 1 : 0; }
unsigned char kept(unsigned char v) { return v > 2 ? 1 : 0; }
unsigned char kept_or_second(unsigned char v) { return v >= 2 ? 1 : 0; }

// The four window tests of (i, j). Each fills all nine cells of its window
// tab3 (tab3[r][c] is the cell of line i + r - 2, column j + c - 2) and
// hands it to test().
int north_test(unsigned char** tab2, int i, int j) {
  unsigned char tab3[4][4] = {};
  tab3[1][1] = kept_or_second(tab2[i - 1][j - 1]);
  tab3[1][2] = kept(tab2[i - 1][j]);
  tab3[1][3] = kept(tab2[i - 1][j + 1]);
  tab3[2][1] = present(tab2[i][j - 1]);
  tab3[2][2] = present(tab2[i][j]);
  tab3[2][3] = present(tab2[i][j + 1]);
  tab3[3][1] = present(tab2[i + 1][j - 1]);
  tab3[3][2] = present(tab2[i + 1][j]);
  tab3[3][3] = present(tab2[i + 1][j + 1]);
  return test(tab3);
}

int south_test(unsigned char** tab2, int i, int j) {
  unsigned char tab3[4][4] = {};
  tab3[1][1] = present(tab2[i - 1][j - 1]);
  tab3[1][2] = present(tab2[i - 1][j]);
  tab3[1][3] = present(tab2[i - 1][j + 1]);
  tab3[2][1] = present(tab2[i][j - 1]);
  tab3[2][2] = present(tab2[i][j]);
  tab3[2][3] = present(tab2[i][j + 1]);
  tab3[3][1] = kept(tab2[i + 1][j - 1]);
  tab3[3][2] = kept(tab2[i + 1][j]);
  tab3[3][3] = kept(tab2[i + 1][j + 1]);
  return test(tab3);
}

int east_test(unsigned char** tab2, int i, int j) {
  unsigned char tab3[4][4] = {};
  tab3[1][1] = present(tab2[i - 1][j - 1]);
  tab3[1][2] = present(tab2[i - 1][j]);
  tab3[1][3] = kept(tab2[i - 1][j + 1]);
  tab3[2][1] = present(tab2[i][j - 1]);
  tab3[2][2] = present(tab2[i][j]);
  tab3[2][3] = kept(tab2[i][j + 1]);
  tab3[3][1] = present(tab2[i + 1][j - 1]);
  tab3[3][2] = present(tab2[i + 1][j]);
  tab3[3][3] = kept(tab2[i + 1][j + 1]);
  return test(tab3);
}

int west_test(unsigned char** tab2, int i, int j) {
  unsigned char tab3[4][4] = {};
  tab3[1][1] = kept_or_second(tab2[i - 1][j - 1]);
  tab3[1][2] = present(tab2[i - 1][j]);
  tab3[1][3] = present(tab2[i - 1][j + 1]);
  tab3[2][1] = kept(tab2[i][j - 1]);
  tab3[2][2] = present(tab2[i][j]);
  tab3[2][3] = present(tab2[i][j + 1]);
  tab3[3][1] = kept(tab2[i + 1][j - 1]);
  tab3[3][2] = present(tab2[i + 1][j]);
  tab3[3][3] = present(tab2[i + 1][j + 1]);
  return test(tab3);
}

// Visits the object pixel (i, j) of one pass: mark, then confirm the mark
// with the four window tests or put the pixel back to 255.
void visit(unsigned char** tab, unsigned char** tab2, int i, int j) {
  int ival = code_of(tab, i, j);
  if (listed(kFirstMark, ival))
    tab2[i][j] = 1;
  else if (listed(kSecondMark, ival))
    tab2[i][j] = 2;
  else
    return;

  int irep1 = north_test(tab2, i, j);
  if (irep1 == 0) {
    tab2[i][j] = 255;
    return;
  }
  int irep2 = south_test(tab2, i, j);
  if (irep2 == 0) {
    tab2[i][j] = 255;
    return;
  }
  int irep3 = east_test(tab2, i, j);
  if (irep3 == 0) {
    tab2[i][j] = 255;
    return;
  }
  int irep4 = west_test(tab2, i, j);
  if (irep1 + irep2 + irep3 + irep4 < 4) tab2[i][j] = 255;
}

// A finishing end point: value 1 and exactly one neighbour equal to 1. The
// count is taken only for a pixel of value 1, which is always an interior
// pixel, so its eight neighbours lie inside the plane.
bool end_point(unsigned char** tab, int i, int j) { return tab[i][j] == 1 && count_of(code_of(tab, i, j)) == 1; }

}  // namespace

void threshold(unsigned char** tab2, unsigned char** tab, int nb_lig, int nb_col, int minth, int maxth) {
  for (int i = 0; i < nb_lig; ++i)
    for (int j = 0; j < nb_col; ++j) tab[i][j] = 0;
  for (int i = 0; i < nb_lig; ++i)
    for (int j = 0; j < nb_col; ++j) {
      int g = tab2[i][j];
      if (minth <= g && g <= maxth) tab[i][j] = 1;
    }
  for (int i = 0; i < nb_lig; ++i)
    for (int j = 0; j < nb_col; ++j) tab2[i][j] = 0;
  for (int i = 0; i < nb_lig; ++i)
    for (int j = 0; j < nb_col; ++j)
      if (tab[i][j] == 1) tab2[i][j] = 255;
}

int skeleton(unsigned char** tab, unsigned char** tab2, int nb_lig, int nb_col) {
  // the frame: 255 in tab, so frame cells never count in a code
  for (int j = 0; j < nb_col; ++j) tab[0][j] = 255;
  for (int j = 0; j < nb_col; ++j) tab[nb_lig - 1][j] = 255;
  for (int i = 0; i < nb_lig; ++i) tab[i][0] = 255;
  for (int i = 0; i < nb_lig; ++i) tab[i][nb_col - 1] = 255;

  int passes = 0;
  long long nb_pix_mod = 1;
  while (nb_pix_mod != 0) {
    ++passes;
    nb_pix_mod = 0;
    for (int i = 1; i <= nb_lig - 2; ++i)
      for (int j = 1; j <= nb_col - 2; ++j)
        if (tab[i][j] == 1) visit(tab, tab2, i, j);
    for (int i = 1; i <= nb_lig - 2; ++i)
      for (int j = 1; j <= nb_col - 2; ++j)
        if (tab2[i][j] == 2 || tab2[i][j] == 1) {
          tab[i][j] = 0;
          tab2[i][j] = 0;
          ++nb_pix_mod;
        }
  }
  return passes;
}

int test(const unsigned char tab3[4][4]) {
  int iv[9];
  iv[0] = tab3[1][1];
  iv[1] = tab3[1][2];
  iv[2] = tab3[1][3];
  iv[3] = tab3[2][3];
  iv[4] = tab3[3][3];
  iv[5] = tab3[3][2];
  iv[6] = tab3[3][1];
  iv[7] = tab3[2][1];
  iv[8] = 0;
  int itot = 0, itot1 = 0;
  for (int m = 0; m <= 6; m += 2) {
    int m1 = m == 0 ? 8 : m;
    int idif = std::abs(iv[m + 1] - iv[m1 - 1]);
    itot += idif;
    if (iv[m] != 0) {
      int idif1 = std::abs(iv[m] - iv[m1 - 1]);
      int idif2 = std::abs(iv[m] - iv[m + 1]);
      int idif3 = iv[m] * idif1 * idif2;
      itot1 += idif3;
    }
  }
  const float val = static_cast<float>(itot) * 0.5f + static_cast<float>(itot1);
  return val == 1.0 ? 1 : 0;
}

void finishing(unsigned char** tab, int nb_lig, int nb_col) {
  // 1. background fill
  for (int i = 0; i < nb_lig; ++i)
    for (int j = 0; j < nb_col; ++j)
      if (tab[i][j] == 0) tab[i][j] = 255;

  // 2. frame reset
  for (int j = 0; j < nb_col; ++j) tab[0][j] = 255;
  for (int j = 0; j < nb_col; ++j) tab[nb_lig - 1][j] = 255;
  for (int i = 0; i < nb_lig; ++i) tab[i][0] = 255;
  for (int i = 0; i < nb_lig; ++i) tab[i][nb_col - 1] = 255;

  // 3. cleaning, in place
  for (int i = 1; i <= nb_lig - 2; ++i)
    for (int j = 1; j <= nb_col - 2; ++j) {
      int ival = code_of(tab, i, j);
      if (listed(kCleaning, ival)) tab[i][j] = 255;
    }

  // 4. end points next to the frame grow into it; a sub-pass whose line or
  // column the plane lacks (fewer than two lines or columns) is skipped.
  if (nb_lig >= 2) {
    for (int j = 1; j <= nb_col - 2; ++j)  // 4a top
      if (end_point(tab, 1, j)) tab[0][j] = 1;
    for (int j = 1; j <= nb_col - 2; ++j)  // 4b bottom
      if (end_point(tab, nb_lig - 2, j)) tab[nb_lig - 1][j] = 1;
  }
  if (nb_col >= 2) {
    for (int i = 1; i <= nb_lig - 2; ++i)  // 4c left
      if (end_point(tab, i, 1)) tab[i][0] = 1;
    for (int i = 1; i <= nb_lig - 2; ++i)  // 4d right
      if (end_point(tab, i, nb_col - 2)) tab[i][nb_col - 1] = 1;
  }

  // 5. corners, in place
  for (int i = 1; i <= nb_lig - 2; ++i)
    for (int j = 1; j <= nb_col - 2; ++j) {
      int ival = code_of(tab, i, j);
      if (listed(kCorner, ival)) tab[i][j] = 255;
    }
}

}  // namespace reference
