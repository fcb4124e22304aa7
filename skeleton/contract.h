// The size and plane checks every kernel makes before touching a byte (see
// skeleton.h).
#pragma once

#include <stdexcept>
#include <string>

namespace skeleton_contract {

// Throws std::invalid_argument naming `kernel` and the size at fault.
inline void check_sizes(const char* kernel, int nb_lig, int nb_col) {
  auto refuse = [&](const std::string& what) { throw std::invalid_argument(std::string(kernel) + ": " + what); };
  if (nb_lig < 1) refuse("nb_lig is " + std::to_string(nb_lig) + ", a plane needs at least one line");
  if (nb_col < 1) refuse("nb_col is " + std::to_string(nb_col) + ", a plane needs at least one column");
}

// Throws std::invalid_argument naming `kernel` and the value at fault.
inline void check_planes(const char* kernel, unsigned char* const* a, unsigned char* const* b, int nb_lig,
                         int nb_col) {
  auto refuse = [&](const std::string& what) { throw std::invalid_argument(std::string(kernel) + ": " + what); };
  check_sizes(kernel, nb_lig, nb_col);
  for (unsigned char* const* plane : {a, b}) {
    if (!plane) refuse("a plane is null");
    for (int i = 0; i < nb_lig; ++i)
      if (!plane[i]) refuse("row " + std::to_string(i) + " of a plane is null");
  }
}

}  // namespace skeleton_contract
