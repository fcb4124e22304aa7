// Matrices and vectors: shape, zero fill, null for zero counts.
#include <gtest/gtest.h>

#include <cmath>

#include "LIB/NRUTIL.h"

namespace {

template <typename T>
void expect_zero_matrix(T** m, int cols, int lines) {
  ASSERT_NE(m, nullptr);
  for (int i = 0; i < lines; ++i) {
    ASSERT_NE(m[i], nullptr);
    for (int j = 0; j < cols; ++j) EXPECT_EQ(m[i][j], T{}) << i << "," << j;
  }
}

TEST(Nrutil, UcmatriceIsLinesOfColumnsZeroFilled) {
  unsigned char** m = ucmatrice(3, 2);
  expect_zero_matrix(m, 3, 2);
  m[1][2] = 7;  // the last element; sanitizers catch a short row
  EXPECT_NE(m[0], m[1]);
  frucmatrice(m, 2);
}

TEST(Nrutil, EveryMatrixTypeIsZeroFilled) {
  auto f = fmatrice(2, 2);
  expect_zero_matrix(f, 2, 2);
  frfmatrice(f, 2);
  auto us = usmatrice(4, 3);
  expect_zero_matrix(us, 4, 3);
  frusmatrice(us, 3);
  auto s = smatrice(4, 3);
  expect_zero_matrix(s, 4, 3);
  frsmatrice(s, 3);
  auto im = imatrice(2, 2);
  expect_zero_matrix(im, 2, 2);
  frimatrice(im, 2);
  auto d = dmatrice(2, 2);
  expect_zero_matrix(d, 2, 2);
  EXPECT_FALSE(std::signbit(d[1][1]));  // +0.0, not -0.0
  frdmatrice(d, 2);
  auto ld = ldmatrice(5, 1);
  expect_zero_matrix(ld, 5, 1);
  frldmatrice(ld, 1);
}

struct ZeroCase {
  const char* name;
  bool null_expected;
  bool (*call)();
};

const ZeroCase kZeroCases[] = {
    {"ucmatrice(4, 0)", true, [] { return ucmatrice(4, 0) == nullptr; }},
    {"ucmatrice(0, 4)", true, [] { return ucmatrice(0, 4) == nullptr; }},
    {"fmatrice(0, 1)", true, [] { return fmatrice(0, 1) == nullptr; }},
    {"dmatrice(1, 0)", true, [] { return dmatrice(1, 0) == nullptr; }},
    {"ldmatrice(0, 0)", true, [] { return ldmatrice(0, 0) == nullptr; }},
    {"ucvecteur(0)", true, [] { return ucvecteur(0) == nullptr; }},
    {"ivecteur(0)", true, [] { return ivecteur(0) == nullptr; }},
    {"dvecteur(0)", true, [] { return dvecteur(0) == nullptr; }},
};

TEST(Nrutil, ZeroCountsGiveNull) {
  for (const auto& c : kZeroCases) EXPECT_TRUE(c.call()) << c.name;
}

TEST(Nrutil, VectorsAreZeroFilledAndReleaseAcceptsNull) {
  unsigned char* uc = ucvecteur(5);
  ASSERT_NE(uc, nullptr);
  for (int k = 0; k < 5; ++k) EXPECT_EQ(uc[k], 0);
  frucvecteur(uc);
  float* f = fvecteur(3);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f[2], 0.0f);
  frfvecteur(f);
  unsigned short* us = usvecteur(2);
  short* s = svecteur(2);
  int* iv = ivecteur(2);
  double* d = dvecteur(2);
  EXPECT_EQ(us[1] + s[1] + iv[1], 0);
  EXPECT_EQ(d[1], 0.0);
  frusvecteur(us);
  frsvecteur(s);
  frivecteur(iv);
  frdvecteur(d);
  frucvecteur(nullptr);
  frfvecteur(nullptr);
}

}  // namespace
