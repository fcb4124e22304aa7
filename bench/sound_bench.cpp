// solvik_sound_bench: the sound skeleton against the dialogue's thinning and
// finishing, both on the picture padded with background.
//
//   solvik_sound_bench [FOLDER] [--runs N]
//       per shared 4096 x 4096 image (window [128, 255]): the median wall
//       time of N runs (default 3) of each road, their ratio, the passes,
//       and the peak memory of each road in a child process
//   solvik_sound_bench --skeleton IN.pgm OUT.pgm [dialogue]
//       the sound skeleton (or the dialogue's, padded) of a binary PGM mask
//       (object: values not 0), written as a PGM (255 skeleton, 0
//       elsewhere); used by sound_peers.py, which compares it with other
//       tools' skeletons
//
// Child mode (for the memory peaks): solvik_sound_bench --child ROAD NAME FOLDER
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/images.h"
#include "bench/processes.h"
#include "skeleton/pipeline.h"
#include "skeleton/skeleton.h"

namespace {

namespace fs = std::filesystem;
using bench::Picture;

const char* const kImages[] = {"blobs_4096", "strokes_4096", "noise_4096", "full_4096"};

// One road on a picture: the object from [128, 255], thinned and finished
// on padded planes. Returns the passes.
int run_road(const Picture& pic, SkeletonKind kind) {
  SkeletonPlanes planes(pic.lines, pic.columns, FrameMode::pad, kind);
  unsigned char** object = planes.object();
  for (int i = 0; i < pic.lines; ++i) {
    const unsigned char* src = pic.line(i);
    for (int j = 0; j < pic.columns; ++j) object[i][j] = src[j] >= 128 ? 1 : 0;
  }
  return planes.run();
}

double seconds_of(const Picture& pic, SkeletonKind kind, int& passes) {
  const auto start = std::chrono::steady_clock::now();
  passes = run_road(pic, kind);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int child(const std::string& road, const std::string& name, const std::string& folder) {
  Picture pic;
  std::string why;
  if (!bench::load_shared(folder, name, pic, &why)) return 3;
  if (road == "none") return 0;
  run_road(pic, road == "sound" ? SkeletonKind::sound : SkeletonKind::dialogue);
  return 0;
}

// P5 with a maximum of 255 or less, one byte per pixel.
bool read_pgm(const std::string& path, Picture& out) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  int maxval = 0;
  if (!(in >> magic >> out.columns >> out.lines >> maxval) || magic != "P5" || out.lines < 1 || out.columns < 1 ||
      maxval < 1 || maxval > 255)
    return false;
  in.get();
  out.bytes.resize(out.pixels());
  return static_cast<bool>(in.read(reinterpret_cast<char*>(out.bytes.data()), static_cast<std::streamsize>(out.pixels())));
}

int skeleton_file(const std::string& in_path, const std::string& out_path, SkeletonKind kind) {
  Picture pic;
  if (!read_pgm(in_path, pic)) {
    std::fprintf(stderr, "%s: not a binary PGM of 8 bits\n", in_path.c_str());
    return 2;
  }
  for (auto& v : pic.bytes) v = v ? 255 : 0;
  SkeletonPlanes planes(pic.lines, pic.columns, FrameMode::pad, kind);
  for (int i = 0; i < pic.lines; ++i)
    for (int j = 0; j < pic.columns; ++j) planes.object()[i][j] = pic.line(i)[j] ? 1 : 0;
  planes.run();
  planes.set_values(255, 0);
  std::ofstream out(out_path, std::ios::binary);
  out << "P5\n" << pic.columns << " " << pic.lines << "\n255\n";
  for (int i = 0; i < pic.lines; ++i) out.write(reinterpret_cast<const char*>(planes.result()[i]), pic.columns);
  if (!out) {
    std::fprintf(stderr, "%s: cannot be written\n", out_path.c_str());
    return 2;
  }
  return 0;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  std::string folder;
  int runs = 3;
  for (int k = 1; k < argc; ++k) {
    const std::string a = argv[k];
    if (a == "--child" && k + 3 < argc) return child(argv[k + 1], argv[k + 2], argv[k + 3]);
    if (a == "--skeleton" && k + 2 < argc)
      return skeleton_file(argv[k + 1], argv[k + 2],
                           k + 3 < argc && std::string(argv[k + 3]) == "dialogue" ? SkeletonKind::dialogue
                                                                                  : SkeletonKind::sound);
    if (a == "--runs" && k + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++k]));
    } else if (a == "-h" || a == "--help") {
      std::printf("usage: %s [FOLDER] [--runs N] | --skeleton IN.pgm OUT.pgm [dialogue]\n", argv[0]);
      return 0;
    } else {
      folder = a;
    }
  }
  if (folder.empty()) folder = (fs::path(SOLVIK_SOURCE_DIR) / ".." / "shared" / "bench").lexically_normal().string();
  bench::Spawner spawner;  // before the pictures make this process big
  std::printf("## The sound skeleton against the dialogue's thinning and finishing (padded, %d runs, %d threads)\n\n",
              runs, default_threads());
  std::printf("| image | dialogue s | sound s | ratio | passes dialogue / sound | peak MiB dialogue / sound |\n");
  std::printf("|---|---|---|---|---|---|\n");
  for (const char* name : kImages) {
    Picture pic;
    std::string why;
    if (!bench::load_shared(folder, name, pic, &why)) {
      std::printf("| %s | not read: %s |\n", name, why.c_str());
      continue;
    }
    std::vector<double> dialogue, sound;
    int passes_dialogue = 0, passes_sound = 0;
    for (int r = 0; r < runs; ++r) {
      dialogue.push_back(seconds_of(pic, SkeletonKind::dialogue, passes_dialogue));
      sound.push_back(seconds_of(pic, SkeletonKind::sound, passes_sound));
    }
    const double d = median(dialogue), s = median(sound);
    double peak[2] = {};
    const char* roads[2] = {"dialogue", "sound"};
    for (int r = 0; r < 2; ++r) {
      const bench::ChildResult c = spawner.run(bench::self_path(), {"--child", roads[r], name, folder}, ".", "/dev/null",
                                               "/dev/null");
      peak[r] = c.status == 0 ? c.peak_kib / 1024.0 : -1;
    }
    std::printf("| %s | %.3f | %.3f | %.2f | %d / %d | %.1f / %.1f |\n", name, d, s, s / d, passes_dialogue,
                passes_sound, peak[0], peak[1]);
    std::fflush(stdout);
  }
  return 0;
}
