// The thread count a user gives as text (an option's value, a variable of
// the environment): a whole number from 1, at most kMaxThreads. The doors
// read the text; this only says what it means.
#pragma once

#include <cstdlib>

inline constexpr int kMaxThreads = 1024;

// The count `text` gives, or 0 (one per core) when text is null, empty or
// not a whole number from 1. Counts above kMaxThreads are kMaxThreads.
inline int thread_count_from(const char* text) {
  if (!text || !*text) return 0;
  char* end = nullptr;
  const long n = std::strtol(text, &end, 10);
  if (*end != '\0' || n < 1) return 0;
  return static_cast<int>(n > kMaxThreads ? kMaxThreads : n);
}
