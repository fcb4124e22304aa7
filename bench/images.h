// Benchmark images: reading the shared ones, making larger ones.
//
//   Picture            one grey-level image, line 0 first, in one block
//   load_shared        NAME.raw.gz (and its NAME.txt) of the shared folder
//   generate           a synthetic image of a kind (blobs, strokes, noise,
//                      full) and size, always the same for the same seed
//   copy_into / rows   between a Picture and the row-pointer planes
//
// Object pixels are 255 and background 0, as in the shared images, so the
// window [128, 255] selects the object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bench {

struct Picture {
  int lines = 0, columns = 0;
  std::vector<unsigned char> bytes;  // lines x columns, line 0 first
  unsigned char* line(int i) { return bytes.data() + static_cast<std::size_t>(i) * columns; }
  const unsigned char* line(int i) const { return bytes.data() + static_cast<std::size_t>(i) * columns; }
  std::size_t pixels() const { return static_cast<std::size_t>(lines) * columns; }
};

// Reads FOLDER/NAME.raw.gz with the size from FOLDER/NAME.txt (first two
// values: lines, columns). False with `why` when either cannot be read.
bool load_shared(const std::string& folder, const std::string& name, Picture& out, std::string* why);

// Draws an image of `kind` ("blobs": filled discs and ellipses of radius 5
// to 120 covering 30 %; "strokes": polylines 3 to 15 pixels wide covering
// 10 %; "noise": each pixel object with probability 1/2; "full": all
// object) into `rows`, a plane of lines x columns cleared to 0.
void generate(const std::string& kind, unsigned char** rows, int lines, int columns, std::uint64_t seed);

// The same into a Picture.
Picture generate(const std::string& kind, int lines, int columns, std::uint64_t seed);

// Copies a Picture into a row-pointer plane of the same size.
void copy_into(const Picture& p, unsigned char** rows);

// Row pointers of a Picture, for the kernels.
std::vector<unsigned char*> rows_of(Picture& p);

}  // namespace bench
