// Fuzz target: a whole run of the program, in-process, driven by arbitrary
// answer bytes over a small fixed set of images (every format, a raster
// without descriptor). After each run the input files must be unchanged and
// nothing may have been written outside the images' folder; files the run
// created are removed so every run starts alike.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "app/driver.h"
#include "fuzz_support.h"
#include "platform/console.h"
#include "seed_images.h"

namespace fs = std::filesystem;

namespace {

std::map<std::string, std::string> originals;


}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz_support::enter_private_folder();
  if (originals.empty()) {
    seed_images::write_image_set("images/site");
    for (const auto& e : fs::recursive_directory_iterator("."))
      if (e.is_regular_file()) originals[e.path().string()] = fuzz_support::read_bytes(e.path().string());
  }
  con_use_memory_input(std::string(reinterpret_cast<const char*>(data), size));
  run_program();
  // inputs unchanged, and only new files (results, a created descriptor)
  // inside images/site
  for (const auto& [path, bytes] : originals)
    if (fuzz_support::read_bytes(path) != bytes) std::abort();
  std::vector<fs::path> created;
  for (const auto& e : fs::recursive_directory_iterator("."))
    if (!originals.count(e.path().string()) && !e.is_directory()) created.push_back(e.path());
  for (const auto& p : created) {
    if (p.parent_path() != fs::path("./images/site")) std::abort();
    fs::remove(p);
  }
  return 0;
}
