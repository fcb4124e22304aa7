// Fuzz target: ChargeASC on arbitrary bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "app/state.h"
#include "app/files.h"
#include "fuzz_support.h"
#include "platform/console.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz_support::enter_private_folder();
  fuzz_support::write_bytes("x.asc", data, size);
  reset_state();
  f1 = std::fopen("x.asc", "r");
  if (!f1) std::abort();
  try {
    ChargeASC("c:\\images\\x.asc");
    // a grid that was read has the size its header gives
    if (!tab2 || nb_lig < 1 || nb_col < 1 || f1) std::abort();
    (void)tab2[nb_lig - 1][nb_col - 1];
  } catch (const RunStopped&) {
    if (f1) std::abort();  // the stream is closed on every stop
  }
  reset_state();
  return 0;
}
