// How a failure below the doors comes back: one exception family.
//
//   Failure    a reason a person can read, naming the file or value; what
//              the doors print after the input's name, or raise in Python
//   Cancelled  the caller asked the run to stop
//   fail       the reason of a call that answers false with a `why`
//
// Memory that cannot be had is std::bad_alloc, whatever thread ran out; the
// threads of the kernels carry it back to the caller. A broken contract of
// the kernels (a null plane, a size below 1) is std::invalid_argument.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>

struct Failure : std::runtime_error {
  explicit Failure(const std::string& reason) : std::runtime_error(reason) {}
};

struct Cancelled : Failure {
  Cancelled() : Failure("stopped before the end") {}
};

// Puts `text` in `why` (when given) and answers false, for the readers and
// writers that report a refusal as false with a reason.
inline bool fail(std::string* why, std::string text) {
  if (why) *why = std::move(text);
  return false;
}
