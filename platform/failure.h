// How a failure below the doors comes back: one exception family. Every
// library under the doors (cli/, python/, app/) throws; none answers false
// or null with a reason, and none prints. The doors catch, and print or
// raise the reason after the input's name.
//
//   Failure      a reason a person can read, naming the file or value; what
//                the doors print after the input's name, or raise in Python
//   FileFailure  a Failure of one file of a group written together, naming
//                the file (its path) that failed
//   Cancelled    the caller asked the run to stop
//
// Memory that cannot be had is std::bad_alloc, whatever thread ran out; the
// threads of the kernels carry it back to the caller, and the code called
// back by GDAL keeps it for the call that GDAL returns to. A broken contract
// of the kernels (a null plane, a size below 1) is std::invalid_argument.
// A query that answers yes or no (is this a file? does it stay inside?)
// stays a bool: only a refusal is thrown. The dialogue's codec keeps its own
// answers (ChargeBMP's null, SauveBMP's -1) beside load_bmp, which throws.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>

struct Failure : std::runtime_error {
  explicit Failure(const std::string& reason) : std::runtime_error(reason) {}
};

struct FileFailure : Failure {
  FileFailure(std::string file, const std::string& reason) : Failure(reason), path(std::move(file)) {}
  std::string path;
};

struct Cancelled : Failure {
  Cancelled() : Failure("stopped before the end") {}
};
