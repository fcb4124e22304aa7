// A picture handed to a writer a block of lines at a time, so that no
// writer needs the whole picture as bytes.
//
//   RowSource   fills lines [first, first + count) into out[0 .. count - 1]
//   rows_of     the RowSource of a plane held whole
//   for_each_block  blocks of lines of a RowSource, through one buffer
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <functional>
#include <vector>

using RowSource = std::function<void(int first, int count, unsigned char* const* out)>;

inline RowSource rows_of(const unsigned char* const* plane, int nb_col) {
  return [plane, nb_col](int first, int count, unsigned char* const* out) {
    for (int k = 0; k < count; ++k) std::memcpy(out[k], plane[first + k], static_cast<std::size_t>(nb_col));
  };
}

// f(first, count, rows) for blocks of lines [0, nb_lig) in order, each of at
// most about `bytes` bytes (at least one line); false as soon as f returns
// false. A block that stays in the cache while the system copies it into a
// file is written about three times as fast as one of a few megabytes.
template <typename F>
bool for_each_block(const RowSource& source, int nb_lig, int nb_col, F f, std::size_t bytes = std::size_t{256} << 10) {
  if (nb_lig <= 0 || nb_col <= 0) return true;
  const int block = static_cast<int>(std::clamp<std::size_t>(bytes / static_cast<std::size_t>(nb_col), 1,
                                                             static_cast<std::size_t>(nb_lig)));
  std::vector<unsigned char> buffer(static_cast<std::size_t>(block) * static_cast<std::size_t>(nb_col));
  std::vector<unsigned char*> rows(static_cast<std::size_t>(block));
  for (int k = 0; k < block; ++k) rows[static_cast<std::size_t>(k)] = buffer.data() + static_cast<std::size_t>(k) * nb_col;
  for (int first = 0; first < nb_lig; first += block) {
    const int count = std::min(block, nb_lig - first);
    source(first, count, rows.data());
    if (!f(first, count, static_cast<const unsigned char* const*>(rows.data()))) return false;
  }
  return true;
}
