// Captures what the program says on the console while a test drives a phase
// in-process; the console goes back to standard output afterwards.
#pragma once

#include <cstdio>
#include <string>

#include "platform/console.h"

namespace testing_support {

class ConsoleCapture {
 public:
  ConsoleCapture() : file_(std::tmpfile()) { con_set_output(file_); }
  ~ConsoleCapture() {
    con_set_output(nullptr);
    if (file_) std::fclose(file_);
  }
  ConsoleCapture(const ConsoleCapture&) = delete;
  ConsoleCapture& operator=(const ConsoleCapture&) = delete;

  // Everything said since the capture began.
  std::string text() const {
    std::fflush(file_);
    std::rewind(file_);
    std::string s;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, file_)) > 0) s.append(buf, n);
    return s;
  }

 private:
  FILE* file_;
};

}  // namespace testing_support
