// Test helpers: temporary working folders, files, string pictures of
// planes, and runs of the real program with piped answers.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace testing_support {

// A fresh folder under the system's temporary folder, removed again at the
// end of the test.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& rel) const { return path_ / rel; }

 private:
  std::filesystem::path path_;
};

std::string read_file(const std::filesystem::path& p);
void write_file(const std::filesystem::path& p, const std::string& bytes);

// The outcome of one run of the real program.
struct RunResult {
  int status = -1;       // exit status, or 128 + signal
  std::string output;    // everything written to standard output
  std::string errors;    // everything written to standard error
};

// Runs the program with `answers` as standard input in the working folder
// `cwd`. `shell_prefix` is put before the command (for example a ulimit).
RunResult run_solvik(const std::filesystem::path& cwd, const std::string& answers,
                     const std::vector<std::string>& args = {}, const std::string& shell_prefix = "");

// A plane as rows of bytes, and conversions to and from string pictures:
// '#' is `on`, '.' is `off` (other characters: see picture_to_plane).
using Plane = std::vector<std::vector<unsigned char>>;

// Pictures: each string a line. '#' -> on, '.' -> off, '1' -> 1, '0' -> 0,
// 'F' -> 255.
Plane picture_to_plane(const std::vector<std::string>& rows, unsigned char on = 1, unsigned char off = 0);
std::vector<std::string> plane_to_picture(const Plane& p, unsigned char on = 1);

// Row-pointer views of a Plane, for the kernels.
class RowPointers {
 public:
  explicit RowPointers(Plane& p);
  unsigned char** get() { return rows_.data(); }

 private:
  std::vector<unsigned char*> rows_;
};

// The plane as one byte string, line 0 first (the raster file layout).
std::string plane_bytes(const Plane& p);

}  // namespace testing_support
