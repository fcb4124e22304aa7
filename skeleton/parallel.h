// Running the kernels' work on several threads.
//
//   workers_for  how many threads a plane is worth
//   on_threads   f(k) for k in [0, n), each on its own thread, then joined
//   by_lines     lines [0, nb_lig) cut into chunks, taken by `parts` threads
#pragma once

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "skeleton/skeleton.h"

namespace parallel {

// `threads` when given; for 0, solvik_threads(), fewer on small planes (a
// thread costs about as much as a few tens of thousands of pixels).
inline int workers_for(int threads, int nb_lig, int nb_col) {
  if (threads > 0) return threads;
  const long long pixels = static_cast<long long>(nb_lig) * nb_col;
  return static_cast<int>(std::clamp<long long>(pixels / 32768, 1, solvik_threads()));
}

template <typename F>
void on_threads(int n, F f) {
  std::vector<std::thread> threads;
  threads.reserve(static_cast<std::size_t>(std::max(n - 1, 0)));
  for (int k = 1; k < n; ++k) threads.emplace_back(f, k);
  f(0);
  for (auto& t : threads) t.join();
}

template <typename F>
void by_lines(int nb_lig, int parts, F f) {
  parts = std::max(1, std::min(parts, nb_lig));
  if (parts == 1) return f(0, nb_lig - 1);
  // Chunks of lines handed out as threads ask for them: a thread held up
  // (memory the system has yet to hand over, another program on its core)
  // leaves its share to the others instead of keeping them waiting.
  const long long chunk = std::max(16, nb_lig / (parts * 8));
  std::atomic<long long> next{0};
  on_threads(parts, [&](int) {
    for (long long first; (first = next.fetch_add(chunk, std::memory_order_relaxed)) < nb_lig;)
      f(static_cast<int>(first), static_cast<int>(std::min<long long>(first + chunk, nb_lig) - 1));
  });
}

}  // namespace parallel
