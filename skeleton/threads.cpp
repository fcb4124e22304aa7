// default_threads(): one thread per core.
#include <thread>

#include "skeleton/skeleton.h"

int default_threads() {
  const unsigned cores = std::thread::hardware_concurrency();
  return cores ? static_cast<int>(cores) : 1;
}
