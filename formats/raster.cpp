// Raster images and descriptors: see raster.h.
#include "formats/raster.h"

#include <cstddef>

#include "platform/failure.h"

void read_descriptor(FILE* f, RasterDescriptor& d) {
  int* const values[6] = {&d.nb_lig, &d.nb_col, &d.type, &d.min_al, &d.max_al, &d.taille_pix};
  for (int k = 0; k < 6; ++k) {
    int c = std::getc(f);
    while (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') c = std::getc(f);
    bool negative = false;
    if (c == '+' || c == '-') {
      negative = c == '-';
      c = std::getc(f);
    }
    if (c < '0' || c > '9') return;
    long long v = 0;
    while (c >= '0' && c <= '9') {
      v = v * 10 + (c - '0');
      if (v > 2147483648LL) break;
      c = std::getc(f);
    }
    if (negative) v = -v;
    if (v > 2147483647LL || v < -2147483648LL) throw Failure("a number too large for an integer");
    *values[k] = static_cast<int>(v);
    if (c != EOF) std::ungetc(c, f);
  }
}

std::string descriptor_text(const RasterDescriptor& d) {
  char text[6 * 12 + 1];
  std::snprintf(text, sizeof text, "%d\n%d\n%d\n%d\n%d\n%d\n", d.nb_lig, d.nb_col, d.type, d.min_al, d.max_al,
                d.taille_pix);
  return text;
}

bool write_descriptor(FILE* f, const RasterDescriptor& d) {
  const std::string text = descriptor_text(d);
  return std::fwrite(text.data(), 1, text.size(), f) == text.size();
}

namespace {

// Lines [first, end) of a plane whose rows follow one another in memory
// (as in a ucmatrice plane): one stretch of bytes, read or written with one
// call. Rows kept elsewhere make stretches of one line each.
int stretch_end(const unsigned char* const* plane, int first, int nb_lig, std::size_t width) {
  int end = first + 1;
  while (end < nb_lig && plane[end] == plane[end - 1] + width) ++end;
  return end;
}

}  // namespace

bool read_raster_rows(FILE* f, unsigned char* const* plane, int nb_lig, int nb_col, int* failed_line) {
  const std::size_t width = static_cast<std::size_t>(nb_col);
  for (int i = 0; i < nb_lig;) {
    const int end = stretch_end(plane, i, nb_lig, width);
    const std::size_t want = width * static_cast<std::size_t>(end - i);
    const std::size_t got = std::fread(plane[i], 1, want, f);
    if (got != want) {
      if (failed_line) *failed_line = i + static_cast<int>(got / width);
      return false;
    }
    i = end;
  }
  return true;
}

bool write_raster_rows(FILE* f, const unsigned char* const* plane, int nb_lig, int nb_col) {
  const std::size_t width = static_cast<std::size_t>(nb_col);
  for (int i = 0; i < nb_lig;) {
    const int end = stretch_end(plane, i, nb_lig, width);
    const std::size_t bytes = width * static_cast<std::size_t>(end - i);
    if (std::fwrite(plane[i], 1, bytes, f) != bytes) return false;
    i = end;
  }
  return true;
}

bool write_raster_rows(FILE* f, const RowSource& rows, int nb_lig, int nb_col) {
  const std::size_t width = static_cast<std::size_t>(nb_col);
  return for_each_block(rows, nb_lig, nb_col, [&](int, int count, const unsigned char* const* block) {
    // the block's lines follow one another in its buffer
    const std::size_t bytes = width * static_cast<std::size_t>(count);
    return std::fwrite(block[0], 1, bytes, f) == bytes;
  });
}
