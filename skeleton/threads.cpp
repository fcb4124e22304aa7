// solvik_threads(): the thread count of a run.
#include <cstdlib>
#include <thread>

#include "skeleton/skeleton.h"

int solvik_threads() {
  if (const char* v = std::getenv("SOLVIK_THREADS"); v && *v) {
    char* end = nullptr;
    const long n = std::strtol(v, &end, 10);
    if (*end == '\0' && n >= 1) return static_cast<int>(n > 1024 ? 1024 : n);
  }
  const unsigned cores = std::thread::hardware_concurrency();
  return cores ? static_cast<int>(cores) : 1;
}
