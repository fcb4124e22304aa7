// The command line as a module the program loads only when it is given
// arguments, so the dialogue never maps GDAL and its libraries (about a
// hundred of them, 30 MB and 30 ms at start). The module carries its own
// copies of the kernels and of the host layer; it installs its own
// interrupt cleanup, whose list is the one its writers fill.
#include "cli/command_line.h"
#include "platform/host.h"

extern "C" __attribute__((visibility("default"))) int solvik_command_line(int argc, char** argv) {
  install_interrupt_cleanup();
  return run_command_line(argc, argv);
}
