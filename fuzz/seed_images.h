// The small image set that the fuzz targets and their seed corpora use:
// the same 12 x 16 picture (a filled disc and a bar, grey 200 on 20) as
//   a.raw + a.txt   raster with its descriptor
//   b.raw           raster without descriptor (the dialogue asks for it)
//   a.bmp           8-bit grey bitmap
//   c.bmp           24-bit bitmap
//   a.asc           ASCII grid
#pragma once

#include <string>
#include <vector>

namespace seed_images {

constexpr int kLines = 12;
constexpr int kColumns = 16;

std::vector<std::vector<unsigned char>> picture();

void write_image_set(const std::string& folder);

std::string ascii_grid_text();

}  // namespace seed_images
