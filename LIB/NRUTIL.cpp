// NRUTIL: see NRUTIL.h. One template does the work for every element type;
// the named functions are its fixed entry points.
#include "LIB/NRUTIL.h"

#include <cstdlib>

namespace {

template <typename T>
T** matrice(int NbCol, int NbLig) {
  if (NbCol <= 0 || NbLig <= 0) return nullptr;
  T** Mat = static_cast<T**>(std::calloc(static_cast<std::size_t>(NbLig), sizeof(T*)));
  if (!Mat) return nullptr;
  for (int i = 0; i < NbLig; ++i) {
    Mat[i] = static_cast<T*>(std::calloc(static_cast<std::size_t>(NbCol), sizeof(T)));
    if (!Mat[i]) {
      // never hand out a partly built matrix, and give back what was built
      for (int k = 0; k < i; ++k) std::free(Mat[k]);
      std::free(Mat);
      return nullptr;
    }
  }
  return Mat;
}

template <typename T>
void frmatrice(T** Mat, int NbLig) {
  for (int i = 0; i < NbLig; ++i) std::free(Mat[i]);
  std::free(Mat);
}

template <typename T>
T* vecteur(int NbCol) {
  if (NbCol <= 0) return nullptr;
  return static_cast<T*>(std::calloc(static_cast<std::size_t>(NbCol), sizeof(T)));
}

}  // namespace

float** fmatrice(int NbCol, int NbLig) { return matrice<float>(NbCol, NbLig); }
unsigned char** ucmatrice(int NbCol, int NbLig) { return matrice<unsigned char>(NbCol, NbLig); }
unsigned short** usmatrice(int NbCol, int NbLig) { return matrice<unsigned short>(NbCol, NbLig); }
short** smatrice(int NbCol, int NbLig) { return matrice<short>(NbCol, NbLig); }
int** imatrice(int NbCol, int NbLig) { return matrice<int>(NbCol, NbLig); }
double** dmatrice(int NbCol, int NbLig) { return matrice<double>(NbCol, NbLig); }
long double** ldmatrice(int NbCol, int NbLig) { return matrice<long double>(NbCol, NbLig); }

void frfmatrice(float** Mat, int NbLig) { frmatrice(Mat, NbLig); }
void frucmatrice(unsigned char** Mat, int NbLig) { frmatrice(Mat, NbLig); }
void frusmatrice(unsigned short** Mat, int NbLig) { frmatrice(Mat, NbLig); }
void frsmatrice(short** Mat, int NbLig) { frmatrice(Mat, NbLig); }
void frimatrice(int** Mat, int NbLig) { frmatrice(Mat, NbLig); }
void frdmatrice(double** Mat, int NbLig) { frmatrice(Mat, NbLig); }
void frldmatrice(long double** Mat, int NbLig) { frmatrice(Mat, NbLig); }

unsigned char* ucvecteur(int NbCol) { return vecteur<unsigned char>(NbCol); }
unsigned short* usvecteur(int NbCol) { return vecteur<unsigned short>(NbCol); }
short* svecteur(int NbCol) { return vecteur<short>(NbCol); }
int* ivecteur(int NbCol) { return vecteur<int>(NbCol); }
double* dvecteur(int NbCol) { return vecteur<double>(NbCol); }
float* fvecteur(int NbCol) { return vecteur<float>(NbCol); }

void frucvecteur(unsigned char* Mat) { std::free(Mat); }
void frusvecteur(unsigned short* Mat) { std::free(Mat); }
void frsvecteur(short* Mat) { std::free(Mat); }
void frivecteur(int* Mat) { std::free(Mat); }
void frdvecteur(double* Mat) { std::free(Mat); }
void frfvecteur(float* Mat) { std::free(Mat); }
