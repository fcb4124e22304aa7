// Benchmark of the skeleton graph: thinning, then the graph, pruning and a
// GeoPackage of the branches, on the shared images and on 8192 x 8192
// blobs drawn as the main benchmark draws them.
//
//   solvik_graph_bench [FOLDER] [--quick]
//
// FOLDER holds the shared images (NAME.raw.gz and NAME.txt); --quick skips
// the 8192 x 8192 image. Prints one line per image: thinning time, graph
// time, vector file time, pruning time, and the graph's size. The target:
// graph + vector file take less than the thinning.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "LIB/NRUTIL.h"
#include "bench/images.h"
#include "graph/skeleton_graph.h"
#include "platform/failure.h"
#include "skeleton/skeleton.h"
#if defined(SOLVIK_HAVE_VECTOR)
#include "export/vector_file.h"
#endif

namespace {

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void run(const std::string& name, const bench::Picture& pic, const std::string& out_folder) {
  const int L = pic.lines, C = pic.columns;
  unsigned char** tab2 = ucmatrice(C, L);
  unsigned char** tab = ucmatrice(C, L);
  if (!tab || !tab2) {
    std::printf("%-14s cannot allocate the planes\n", name.c_str());
    return;
  }
  for (int i = 0; i < L; ++i) std::copy(pic.line(i), pic.line(i) + C, tab2[i]);
  auto t0 = std::chrono::steady_clock::now();
  threshold_planes(tab2, tab, L, C, 128, 255);
  thin_planes(tab, tab2, L, C);
  finish_planes(tab, L, C);
  const double thin = seconds_since(t0);

  t0 = std::chrono::steady_clock::now();
  const SkeletonGraph g = build_graph(tab, L, C);
  const double graph = seconds_since(t0);

  double vector = 0;
  std::string note;
#if defined(SOLVIK_HAVE_VECTOR)
  const std::string file = out_folder + "/" + name + "_graph.gpkg";
  t0 = std::chrono::steady_clock::now();
  try {
    write_branches(file, g, Georef{}, 0);
  } catch (const Failure& failure) {
    note = std::string(" (vector file failed: ") + failure.what() + ")";
  }
  vector = seconds_since(t0);
  std::error_code ec;
  std::filesystem::remove(file, ec);
#else
  (void)out_folder;
  note = " (no GDAL: no vector file)";
#endif

  t0 = std::chrono::steady_clock::now();
  const int removed = prune_skeleton(tab, L, C, 10);
  const double prune = seconds_since(t0);

  std::printf("%-14s thin %7.3f s | graph %6.3f s + gpkg %6.3f s = %6.3f s (%s) | prune 10 px %6.3f s, %d removed | "
              "%zu nodes, %zu branches, %d components%s\n",
              name.c_str(), thin, graph, vector, graph + vector, graph + vector < thin ? "faster" : "SLOWER", prune,
              removed, g.nodes.size(), g.branches.size(), g.components, note.c_str());
  std::fflush(stdout);
  frucmatrice(tab, L);
  frucmatrice(tab2, L);
}

}  // namespace

int main(int argc, char** argv) {
  std::string folder = SOLVIK_SOURCE_DIR "/../shared/bench";
  bool quick = false;
  for (int k = 1; k < argc; ++k) {
    const std::string a = argv[k];
    if (a == "--quick")
      quick = true;
    else
      folder = a;
  }
  const std::string out = std::filesystem::temp_directory_path().string();
  for (const char* name : {"blobs_4096", "strokes_4096", "noise_4096"}) {
    bench::Picture pic;
    std::string why;
    if (!bench::load_shared(folder, name, pic, &why)) {
      std::printf("%-14s skipped: %s\n", name, why.c_str());
      continue;
    }
    run(name, pic, out);
  }
  // the seed of the main benchmark, so both time the same picture
  if (!quick) run("blobs_8192", bench::generate("blobs", 8192, 8192, 20240601), out);
  return 0;
}
