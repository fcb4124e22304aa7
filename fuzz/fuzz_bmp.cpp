// Fuzz target: ChargeBMP on arbitrary bytes, with and without a palette
// asked for.
#include <cstdint>
#include <cstdlib>

#include "LIB/NRUTIL.h"
#include "LIB/image.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz_support::enter_private_folder();
  fuzz_support::write_bytes("x.bmp", data, size);
  for (int ask_palette = 0; ask_palette < 2; ++ask_palette) {
    int columns = -1, lines = -1, type = -1;
    Color32 dummy{};
    Color32* palette = ask_palette ? &dummy : nullptr;
    unsigned char** m = ChargeBMP("x.bmp", &columns, &lines, &type, &palette);
    if (ask_palette && palette == &dummy) std::abort();  // replaced at once
    if (m) {
      if (columns < 0 || lines < 0 || columns > kBmpMaxSide || lines > kBmpMaxSide) std::abort();
      const int taille = type == 2 ? 3 : 1;
      if (columns > 0)
        for (int i = 0; i < lines; ++i) (void)m[i][columns * taille - 1];
      frucmatrice(m, lines);
    }
    if (ask_palette) std::free(palette);  // the palette area is the caller's, released with free
  }
  return 0;
}
