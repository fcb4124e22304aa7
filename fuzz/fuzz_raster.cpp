// Fuzz target: a raster descriptor and its raster. The first byte gives the
// length of the descriptor text (modulo 64), the following bytes are the
// descriptor, the rest is the raster.
#include <cstdint>
#include <filesystem>

#include "app/state.h"
#include "app/files.h"
#include "fuzz_support.h"
#include "platform/console.h"
#include "platform/host.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz_support::enter_private_folder();
  std::filesystem::create_directories("images/f");
  if (size == 0) return 0;
  const std::size_t descr = std::min<std::size_t>(data[0] % 64, size - 1);
  fuzz_support::write_bytes("images/f/x.txt", data + 1, descr);
  fuzz_support::write_bytes("images/f/x.raw", data + 1 + descr, size - 1 - descr);
  reset_state();
  con_use_memory_input("");  // a missing descriptor cannot be asked for
  try {
    f1 = host_open("c:\\images\\f\\x.raw", "rb");
    if (!f1) std::abort();
    ChargeDescr("c:\\images\\f\\x.txt");
    ChargeRAW("c:\\images\\f\\x.raw");
    // the plane holds exactly what the file says, line by line
    for (int i = 0; i < nb_lig; ++i) (void)tab2[i][nb_col - 1];
  } catch (const RunStopped&) {
  }
  reset_state();
  return 0;
}
