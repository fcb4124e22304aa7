// make_seeds: writes the seed corpora of the fuzz targets from the project's
// own writers. Usage: make_seeds CORPUS_FOLDER (which gets bmp/, asc/,
// raster/ and dialogue/).
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "LIB/image.h"
#include "fuzz_support.h"
#include "seed_images.h"

namespace fs = std::filesystem;

namespace {

void put(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}


}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds CORPUS_FOLDER\n");
    return 2;
  }
  const fs::path out = argv[1];
  const fs::path scratch = out / "scratch";
  seed_images::write_image_set(scratch.string());

  // bitmaps: the image set's two, and small ones of every padding and type
  put(out / "bmp/grey.bmp", fuzz_support::read_bytes((scratch / "a.bmp").string()));
  put(out / "bmp/colour.bmp", fuzz_support::read_bytes((scratch / "c.bmp").string()));
  for (int width = 1; width <= 4; ++width) {
    std::vector<std::vector<unsigned char>> lines(2, std::vector<unsigned char>(3 * width, 7));
    std::vector<unsigned char*> rows = {lines[0].data(), lines[1].data()};
    Color32 palette[256];
    for (int k = 0; k < 256; ++k) palette[k] = {static_cast<unsigned char>(k), 0, static_cast<unsigned char>(255 - k), 0};
    for (int t = 0; t < 3; ++t) {
      fs::path p = scratch / "small.bmp";
      if (SauveBMP(p.c_str(), rows.data(), width, 2, t, t == 1 ? palette : nullptr) != 0) std::abort();
      put(out / ("bmp/w" + std::to_string(width) + "_type" + std::to_string(t) + ".bmp"), fuzz_support::read_bytes(p.string()));
    }
  }

  // grids: six- and five-pair headers, one value per line
  put(out / "asc/grid.asc", seed_images::ascii_grid_text());
  put(out / "asc/five_pairs.asc", "ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1\n1 2 3\n-9999 300 -1\n");
  put(out / "asc/one_per_line.asc", "NCOLS\t2\r\nNROWS\t2\r\nXLLCENTER\t1e3\r\nYLLCENTER\t-2.5\r\nCELLSIZE\t30\r\n"
                                    "NODATA_VALUE\t-9999\r\n0\r\n255\r\n255\r\n0\r\n");

  // rasters: length byte, descriptor text, raster bytes
  const std::string raw = fuzz_support::read_bytes((scratch / "a.raw").string());
  const std::string descr = "12\n16\n1\n0\n255\n1\n";
  put(out / "raster/image", std::string(1, static_cast<char>(descr.size())) + descr + raw);
  put(out / "raster/two_values", std::string(1, 5) + "3 4\n" + std::string(12, '\xc8'));
  put(out / "raster/one_line", std::string(1, 11) + "2 2 1 0 255" + std::string(4, '\x01'));

  // answers
  const char* answers[] = {
      "site\n0\na\n0\n128\n255\n",       "site\n1\na\n0\n128\n255\n",     "site\n1\nc\n1\nd\n100\n200\n",
      "site\n2\na\n0\n0\n255\n",          "site\n0\nb\n12\n16\n5\n0\n1\n255\n", "site 3 -1 x 0 a 2 0 150 140",
      "site\n0\nmissing\n",               "..\\x site 2 ../a a 1 c:x q 10 20", "site 1 a 7 0 low 128 high 255",
  };
  int k = 0;
  for (const char* a : answers) put(out / ("dialogue/run" + std::to_string(k++)), a);

  fs::remove_all(scratch);
  return 0;
}
