// solvik_giant_bench: the command line on rasters too large for a byte per
// pixel: a mask of river-like strokes of SIDE x SIDE pixels (100000 by
// default, ten gigapixels) and a 32768 x 32768 picture of blobs, each made
// here as a tiled, DEFLATE-compressed, georeferenced GeoTIFF, then thinned
// by the program in a child process. Printed for each: time, peak resident
// memory, bytes per pixel against the bound (0.5 B/px + 64 MiB), and the
// time per pixel against the same kind of picture at 8192 x 8192.
//
//   solvik_giant_bench [--side N] [--folder DIR] [--only rivers|blobs]
//                      [-- OPTIONS...]
//
// OPTIONS go to the program before its input (default: -q). DIR (default:
// the system's temporary folder) must hold the input and the result: about
// 40 MiB per gigapixel of rivers. Nothing is kept.
#include <gdal.h>
#include <cpl_conv.h>
#include <cpl_string.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench/processes.h"

namespace fs = std::filesystem;

namespace {

constexpr double kMiB = 1024.0 * 1024.0;

// One stroke that meanders along its axis: its centre across the axis is a
// sum of two waves, its half width varies slowly between 1 and 8 pixels.
struct River {
  bool across;  // runs along the columns (false) or along the lines (true)
  double base, a1, l1, p1, a2, l2, p2, w0, wl;
  double centre(double t) const { return base + a1 * std::sin(t / l1 + p1) + a2 * std::sin(t / l2 + p2); }
  double half(double t) const { return 1.0 + 3.5 * (1 + std::sin(t / wl + w0)); }
};

std::vector<River> rivers_for(int side) {
  std::mt19937 rng(42);
  std::uniform_real_distribution<double> u(0, 1);
  std::vector<River> rivers;
  const int count = std::max(4, side / 2500);
  for (int k = 0; k < count; ++k) {
    River r;
    r.across = k % 2 == 1;
    r.base = side * (k + 0.5) / count;
    r.a1 = 200 + 800 * u(rng);
    r.l1 = 400 + 1600 * u(rng);
    r.p1 = 6.28 * u(rng);
    r.a2 = 20 + 80 * u(rng);
    r.l2 = 40 + 100 * u(rng);
    r.p2 = 6.28 * u(rng);
    r.w0 = 6.28 * u(rng);
    r.wl = 300 + 900 * u(rng);
    rivers.push_back(r);
  }
  return rivers;
}

// Lines [first, first + n) of the rivers into `strip` (n x side bytes).
void river_strip(const std::vector<River>& rivers, int side, int first, int n, std::vector<unsigned char>& strip) {
  std::fill(strip.begin(), strip.end(), 0);
  auto put = [&](int i, int j) {
    if (i >= first && i < first + n && j >= 0 && j < side)
      strip[static_cast<std::size_t>(i - first) * side + j] = 255;
  };
  for (const River& r : rivers) {
    if (!r.across) {
      for (int i = first; i < first + n; ++i) {
        const double c = r.centre(i), h = r.half(i);
        for (int j = static_cast<int>(std::ceil(c - h)); j <= static_cast<int>(std::floor(c + h)); ++j) put(i, j);
      }
    } else {
      // along the lines: each column's run of lines, where it meets the strip
      for (int j = 0; j < side; ++j) {
        const double c = r.centre(j), h = r.half(j);
        const int lo = std::max(first, static_cast<int>(std::ceil(c - h))),
                  hi = std::min(first + n - 1, static_cast<int>(std::floor(c + h)));
        for (int i = lo; i <= hi; ++i) put(i, j);
      }
    }
  }
}

// Lines [first, first + n) of discs of radius 8 to 60 on a grid, one per
// 160 x 160 cell.
void blob_strip(int side, int first, int n, std::vector<unsigned char>& strip) {
  std::fill(strip.begin(), strip.end(), 0);
  constexpr int kCell = 160;
  for (int i = first; i < first + n; ++i) {
    const int ci = i / kCell;
    unsigned char* line = strip.data() + static_cast<std::size_t>(i - first) * side;
    for (int cj = 0; cj * kCell < side; ++cj) {
      const unsigned h = static_cast<unsigned>(ci * 7919 + cj * 104729) * 2654435761u;
      const int r = 8 + static_cast<int>(h % 53), yc = ci * kCell + 80, xc = cj * kCell + 80;
      const int dy = i - yc;
      if (dy * dy > r * r) continue;
      const int dx = static_cast<int>(std::sqrt(static_cast<double>(r * r - dy * dy)));
      for (int j = std::max(0, xc - dx); j <= std::min(side - 1, xc + dx); ++j) line[j] = 255;
    }
  }
}

// A tiled DEFLATE GeoTIFF of side x side made strip by strip.
bool make_tiff(const fs::path& path, int side, bool rivers) {
  GDALDriverH gtiff = GDALGetDriverByName("GTiff");
  if (!gtiff) return false;
  char** co = nullptr;
  co = CSLSetNameValue(co, "TILED", "YES");
  co = CSLSetNameValue(co, "BLOCKXSIZE", "512");
  co = CSLSetNameValue(co, "BLOCKYSIZE", "512");
  co = CSLSetNameValue(co, "COMPRESS", "DEFLATE");
  co = CSLSetNameValue(co, "ZLEVEL", "1");
  co = CSLSetNameValue(co, "NUM_THREADS", "ALL_CPUS");
  co = CSLSetNameValue(co, "BIGTIFF", "IF_SAFER");
  GDALDatasetH ds = GDALCreate(gtiff, path.c_str(), side, side, 1, GDT_Byte, co);
  CSLDestroy(co);
  if (!ds) return false;
  const double gt[6] = {400000, 10, 0, 7000000, 0, -10};  // 10 m cells
  GDALSetGeoTransform(ds, const_cast<double*>(gt));
  GDALSetProjection(ds, "EPSG:32633");
  const std::vector<River> all = rivers_for(side);
  constexpr int kStrip = 512;
  std::vector<unsigned char> strip(static_cast<std::size_t>(kStrip) * side);
  bool ok = true;
  for (int first = 0; first < side && ok; first += kStrip) {
    const int n = std::min(kStrip, side - first);
    if (rivers)
      river_strip(all, side, first, n, strip);
    else
      blob_strip(side, first, n, strip);
    ok = GDALRasterIO(GDALGetRasterBand(ds, 1), GF_Write, 0, first, side, n, strip.data(), side, n, GDT_Byte, 0, 0) ==
         CE_None;
  }
  GDALClose(ds);
  return ok;
}

struct Row {
  std::string name;
  int side;
  double wall, peak_bytes;
  int status;
};

Row thin(bench::Spawner& spawner, const fs::path& folder, const std::string& kind, int side,
         const std::vector<std::string>& options) {
  const fs::path in = folder / ("giant_" + kind + ".tif"), out = folder / ("giant_" + kind + "_reg.tif");
  std::printf("making %s, %d x %d ...\n", in.filename().c_str(), side, side);
  std::fflush(stdout);
  const auto t0 = std::chrono::steady_clock::now();
  if (!make_tiff(in, side, kind == "rivers")) {
    std::printf("could not make %s\n", in.c_str());
    return {kind, side, 0, 0, -1};
  }
  std::printf("  made in %.1f s (%.0f MiB)\n",
              std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(),
              static_cast<double>(fs::file_size(in)) / kMiB);
  std::vector<std::string> args = options;
  args.push_back(in.string());
  args.push_back(out.string());
  const bench::ChildResult c = spawner.run(SOLVIK_PROGRAM, args, folder.string(), "/dev/null",
                                           (folder / "giant_output.txt").string());
  std::error_code ec;
  fs::remove(in, ec);
  fs::remove(out, ec);
  return {kind, side, c.wall_s, static_cast<double>(c.peak_kib) * 1024, c.status};
}

}  // namespace

int main(int argc, char** argv) {
  int side = 100000;
  fs::path folder = fs::temp_directory_path();
  std::string only;
  std::vector<std::string> options = {"-q"};
  for (int k = 1; k < argc; ++k) {
    const std::string a = argv[k];
    if (a == "--side" && k + 1 < argc) side = std::atoi(argv[++k]);
    else if (a == "--folder" && k + 1 < argc) folder = argv[++k];
    else if (a == "--only" && k + 1 < argc) only = argv[++k];
    else if (a == "--") {
      options.assign(argv + k + 1, argv + argc);
      break;
    } else {
      std::fprintf(stderr, "usage: %s [--side N] [--folder DIR] [--only rivers|blobs] [-- OPTIONS...]\n", argv[0]);
      return 2;
    }
  }
  bench::Spawner spawner;  // before this process grows
  GDALAllRegister();
  CPLSetConfigOption("GDAL_CACHEMAX", "64");
  std::vector<Row> rows;
  for (const std::string kind : {"rivers", "blobs"}) {
    if (!only.empty() && only != kind) continue;
    const int big = kind == "rivers" ? side : std::min(side, 32768);
    rows.push_back(thin(spawner, folder, kind, 8192, options));
    rows.push_back(thin(spawner, folder, kind, big, options));
  }
  std::printf("\n| picture | side | wall s | ns/px | peak MiB | B/px | bound MiB | within | status |\n"
              "|---|---:|---:|---:|---:|---:|---:|---|---|\n");
  for (std::size_t k = 0; k < rows.size(); ++k) {
    const Row& r = rows[k];
    const double px = static_cast<double>(r.side) * r.side, bound = 0.5 * px + 64 * kMiB;
    std::printf("| %s | %d | %.1f | %.2f | %.0f | %.3f | %.0f | %s | %d |\n", r.name.c_str(), r.side, r.wall,
                r.wall / px * 1e9, r.peak_bytes / kMiB, r.peak_bytes / px, bound / kMiB,
                r.peak_bytes <= bound ? "yes" : "NO", r.status);
  }
  for (std::size_t k = 0; k + 1 < rows.size(); k += 2) {
    const double small = rows[k].wall / (static_cast<double>(rows[k].side) * rows[k].side),
                 large = rows[k + 1].wall / (static_cast<double>(rows[k + 1].side) * rows[k + 1].side);
    std::printf("%s: time per pixel at %d against 8192: %.2fx\n", rows[k].name.c_str(), rows[k + 1].side,
                large / small);
  }
  return 0;
}
