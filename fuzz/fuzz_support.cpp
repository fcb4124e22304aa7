#include "fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/console.h"

namespace fuzz_support {

void enter_private_folder() {
  static bool done = false;
  if (done) return;
  done = true;
  std::string tmpl = (std::filesystem::temp_directory_path() / "solvik-fuzz-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) std::abort();
  std::filesystem::current_path(tmpl);
  static FILE* devnull = std::fopen("/dev/null", "w");
  con_set_output(devnull);
}

void write_bytes(const std::string& path, const std::uint8_t* data, std::size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);
}

std::string read_bytes(const std::string& path) {
  std::string s;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return s;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  std::fclose(f);
  return s;
}

}  // namespace fuzz_support
