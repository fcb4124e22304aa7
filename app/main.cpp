// solvik: reduces the objects of a grey-level image to skeletons one pixel
// wide. Without arguments the whole conversation is the dialogue on the
// console; with arguments the command line (cli/) runs instead.
#include "app/driver.h"
#include "cli/command_line.h"
#include "platform/host.h"

int main(int argc, char** argv) {
  install_interrupt_cleanup();
  if (argc > 1) return run_command_line(argc, argv);
  return run_program();
}
