// Running the kernels' work on several threads.
//
//   workers_for  how many threads a plane is worth
//   Team         threads started before the work is cut, for parts that
//                wait for each other
//   on_threads   f(k) for k in [0, n), on as many threads as can be had
//   by_lines     lines [0, nb_lig) cut into chunks, taken by `parts` threads
//   pause        for spinning waits
//
// Failures: a part that throws does not end the process. Every thread is
// joined, and the first exception (in the order of the parts) is thrown
// again on the caller's thread. A thread the system will not start
// (std::system_error: too many threads, no memory for a stack) only makes
// the team smaller.
#pragma once

#include <algorithm>
#include <atomic>
#include <exception>
#include <functional>
#include <system_error>
#include <thread>
#include <vector>

#include "skeleton/skeleton.h"

namespace parallel {

// A hint to the core that the thread spins on a value another thread will
// change.
inline void pause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

// `threads` when given; for 0, one per core, fewer on small planes (a thread
// costs about as much as a few tens of thousands of pixels).
inline int workers_for(int threads, int nb_lig, int nb_col) {
  if (threads > 0) return threads;
  const long long pixels = static_cast<long long>(nb_lig) * nb_col;
  return static_cast<int>(std::clamp<long long>(pixels / 32768, 1, default_threads()));
}

// Up to `wanted` threads, the caller's included, started at once and kept
// waiting until run() hands them their part. size() says how many could be
// had, so work whose parts wait for each other is cut to that many before
// any part starts.
class Team {
 public:
  explicit Team(int wanted) {
    wanted = std::max(1, wanted);
    threads_.reserve(static_cast<std::size_t>(wanted - 1));
    for (int k = 1; k < wanted; ++k) {
      try {
        threads_.emplace_back([this, k] { member(k); });
      } catch (const std::system_error&) {
        break;  // the threads started so far are the team
      }
    }
    errors_.resize(threads_.size() + 1);
  }
  ~Team() { release(nullptr); }
  Team(const Team&) = delete;
  Team& operator=(const Team&) = delete;

  int size() const { return static_cast<int>(threads_.size()) + 1; }

  // f(k) for k in [0, size()), part 0 on the calling thread. Runs once.
  void run(const std::function<void(int)>& f) {
    release(&f);
    for (const std::exception_ptr& e : errors_)
      if (e) std::rethrow_exception(e);
  }

 private:
  void member(int k) {
    go_.wait(0, std::memory_order_acquire);
    if (job_) call(k);
  }
  void call(int k) {
    try {
      (*job_)(k);
    } catch (...) {
      errors_[static_cast<std::size_t>(k)] = std::current_exception();
    }
  }
  void release(const std::function<void(int)>* job) {
    if (go_.load(std::memory_order_acquire)) return;
    job_ = job;
    go_.store(1, std::memory_order_release);
    go_.notify_all();
    if (job_) call(0);
    for (std::thread& t : threads_) t.join();
  }

  std::vector<std::thread> threads_;
  std::vector<std::exception_ptr> errors_;
  const std::function<void(int)>* job_ = nullptr;
  std::atomic<int> go_{0};
};

// f(k) for every k in [0, n). Parts the team has no thread for run on the
// caller's thread after its own, in order: parts may wait for a part of a
// lower index, never of a higher one.
template <typename F>
void on_threads(int n, F f) {
  if (n <= 1) {
    if (n == 1) f(0);
    return;
  }
  Team team(n);
  const int size = team.size();
  team.run([&](int k) {
    f(k);
    if (k == 0)
      for (int rest = size; rest < n; ++rest) f(rest);
  });
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
