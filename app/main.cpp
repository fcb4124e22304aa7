// solvik: reduces the objects of a grey-level image to skeletons one pixel
// wide. The whole conversation is the dialogue on the console; the only
// arguments are --help and --version.
#include <cstdio>
#include <cstring>

#include "app/driver.h"
#include "platform/host.h"

namespace {

constexpr const char* kUsage =
    "Usage: solvik [--help | --version]\n"
    "\n"
    "Reduces the objects of a grey-level image to skeletons one pixel wide.\n"
    "The program is interactive: it asks for a folder under c:\\images\\ (the\n"
    "folder images/ of the working directory on Linux), the format (0 raster\n"
    ".raw with a .txt descriptor, 1 bitmap .bmp, 2 ascii grid .asc), the file\n"
    "name without extension, the name of the result (0 keep, 1 new name) and\n"
    "the grey-level window [min, max] of the objects. The result is written\n"
    "beside the input as NAME_reg with the same extension: 1 on the skeleton,\n"
    "255 elsewhere.\n"
    "\n"
    "Answers can be piped in, one word each:\n"
    "  printf 'site 0 a 0 128 255\\n' | solvik\n"
    "\n"
    "Exit status: 0 when the result is written, 1 when the run stops (missing\n"
    "or unreadable image, end of the answers, a result that cannot be\n"
    "written), 2 for an unknown argument.\n";

}  // namespace

int main(int argc, char** argv) {
  install_interrupt_cleanup();
  if (argc > 1) {
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
      std::printf("solvik %s\n", SOLVIK_VERSION);
      return 0;
    }
    std::fprintf(stderr, "solvik: unknown argument '%s'\n\n%s", argv[1], kUsage);
    return 2;
  }
  return run_program();
}
