// printf into a string, for messages and the numbers of text files.
//
//   vformat_text, format_text
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

inline std::string vformat_text(const char* fmt, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  std::string s(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
  std::vsnprintf(s.data(), s.size() + 1, fmt, args);
  return s;
}

inline std::string format_text(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
inline std::string format_text(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string s = vformat_text(fmt, args);
  va_end(args);
  return s;
}
