// NRUTIL: see NRUTIL.h. One template does the work for every element type;
// the named functions are its fixed entry points.
#include "LIB/NRUTIL.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace {

// A matrix is one block: a header, the NbLig row pointers, then the rows
// one after another. Large blocks come straight from the kernel, already
// zero and in huge pages where it grants them, so that neither a fill nor a
// fault per 4 KiB page is paid; small ones from calloc.
struct Header {
  std::size_t mapped;  // bytes of the mapping, 0 when from calloc
  std::size_t pad;     // keeps the row pointers 16-byte aligned
};
constexpr std::size_t kMapFrom = std::size_t{1} << 21;

void* zeroed_block(std::size_t bytes, std::size_t& mapped) {
  mapped = 0;
#if defined(__linux__)
  if (bytes >= kMapFrom) {
    const std::size_t size = (bytes + kMapFrom - 1) / kMapFrom * kMapFrom;
    void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return nullptr;
    madvise(p, size, MADV_HUGEPAGE);  // a hint: without huge pages all still works
    mapped = size;
    return p;
  }
#endif
  return std::calloc(bytes, 1);
}

void release_block(unsigned char* block) {
#if defined(__linux__)
  if (const std::size_t mapped = reinterpret_cast<Header*>(block)->mapped) {
    munmap(block, mapped);
    return;
  }
#endif
  std::free(block);
}

template <typename T>
T** matrice(int NbCol, int NbLig) {
  if (NbCol <= 0 || NbLig <= 0) return nullptr;
  const std::size_t lines = static_cast<std::size_t>(NbLig), columns = static_cast<std::size_t>(NbCol);
  const std::size_t table = sizeof(Header) + lines * sizeof(T*);
  const std::size_t start = (table + alignof(T) + 15) / 16 * 16;  // rows 16-byte aligned
  if (columns > (SIZE_MAX - start) / sizeof(T) / lines) return nullptr;
  std::size_t mapped = 0;
  auto* block = static_cast<unsigned char*>(zeroed_block(start + lines * columns * sizeof(T), mapped));
  if (!block) return nullptr;
  reinterpret_cast<Header*>(block)->mapped = mapped;
  T** Mat = reinterpret_cast<T**>(block + sizeof(Header));
  T* rows = reinterpret_cast<T*>(block + start);
  for (std::size_t i = 0; i < lines; ++i) Mat[i] = rows + i * columns;
  return Mat;
}

// The whole block goes at once, whatever NbLig says.
template <typename T>
void frmatrice(T** Mat, int /*NbLig*/) {
  if (Mat) release_block(reinterpret_cast<unsigned char*>(Mat) - sizeof(Header));
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
