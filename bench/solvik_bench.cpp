// solvik_bench: how fast thresholding, thinning and finishing are, how much
// memory they take, and how long whole runs of the program last.
//
//   solvik_bench [FOLDER] [--quick] [--runs N]
//
// FOLDER holds the shared benchmark images (NAME.raw.gz and NAME.txt); by
// default ../shared/bench next to the source tree. Sections, each printed
// as a markdown table:
//   1. the shared images (blobs, strokes, noise, full; 1024 and 4096
//      square; window [128, 255]): threshold + thinning + finishing, median
//      of N runs (wall and CPU time), passes, and the by-the-letter reference
//      once, with the ratio and whether both give the same bytes;
//   2. generated 8192 x 8192 images of the same kinds, the kernels alone;
//   3. thinning 8192 x 8192 blobs and strokes with 1, 2 (and, where there
//      are more cores, 4 and 8) threads: the speed-up over one thread, the
//      passes bands decided again after a wrong guess, and how fast each
//      core runs the same loop alone, before and after;
//   4. the peak memory of one processing of an image held in memory, in a
//      child process so that nothing else of the benchmark counts;
//   5. whole runs of the program on 8192 x 8192 blobs in each format (raster,
//      8-bit BMP, ASCII grid), answers piped in, in a temporary folder: wall
//      time against the processing in memory, peak memory of the child, and
//      the result checked against the kernels;
//   6. whole raster runs on the shared 4096 strokes and noise against
//      Leptonica's pixThinConnected on the same pictures (when the benchmark
//      was built with Leptonica);
//   7. reading and writing an 8192 x 8192 ASCII grid in this process;
//   8. the command line on the 8192 x 8192 blobs as a georeferenced Float32
//      GeoTIFF (made with gdal_translate, when it is installed), beside the
//      raster run of section 5: wall time and peak memory.
// --quick skips the reference on the 4096 images and sections 5 to 8.
// Finally the targets are checked.
//
// Child mode (used by section 3): solvik_bench --child-peak KIND SIZE
#include <pthread.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <optional>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "LIB/NRUTIL.h"
#include "LIB/image.h"
#include "app/state.h"
#include "bench/images.h"
#include "bench/leptonica.h"
#include "bench/processes.h"
#include "app/files.h"
#include "platform/console.h"
#include "platform/host.h"
#include "skeleton/skeleton.h"
#include "skeleton/thinning_detail.h"
#include "support/reference.h"

namespace fs = std::filesystem;
using namespace bench;

namespace {

constexpr int kMinth = 128, kMaxth = 255;
constexpr std::uint64_t kSeed = 20240601;
constexpr double kMiB = 1024.0 * 1024.0;

double now_wall() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }
double now_cpu() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n == 0 ? 0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Two planes of one size, allocated as the program allocates them.
struct Planes {
  int lines, columns;
  unsigned char** tab2;
  unsigned char** tab;
  Planes(int l, int c) : lines(l), columns(c), tab2(ucmatrice(c, l)), tab(ucmatrice(c, l)) {
    if (!tab2 || !tab) {
      std::fprintf(stderr, "not enough memory for two planes of %d x %d\n", l, c);
      std::exit(2);
    }
  }
  ~Planes() {
    frucmatrice(tab2, lines);
    frucmatrice(tab, lines);
  }
  Planes(const Planes&) = delete;
  Planes& operator=(const Planes&) = delete;
  bool same_tab(const Planes& o) const {
    for (int i = 0; i < lines; ++i)
      if (std::memcmp(tab[i], o.tab[i], static_cast<std::size_t>(columns)) != 0) return false;
    return true;
  }
};

struct Timing {
  double wall = 0, cpu = 0, threshold = 0, thinning = 0, finishing = 0;
  int passes = 0;
};

// Threshold, thinning and finishing of `pic`, `runs` times; the median of
// each. The planes hold the result of the last run.
Timing time_kernels(const Picture& pic, Planes& p, int runs) {
  std::vector<double> wall, cpu, thr, thin, fin;
  Timing t;
  for (int r = 0; r < runs; ++r) {
    copy_into(pic, p.tab2);
    const double c0 = now_cpu(), w0 = now_wall();
    threshold_planes(p.tab2, p.tab, p.lines, p.columns, kMinth, kMaxth);
    const double w1 = now_wall();
    t.passes = thin_planes(p.tab, p.tab2, p.lines, p.columns);
    const double w2 = now_wall();
    finish_planes(p.tab, p.lines, p.columns);
    const double w3 = now_wall(), c3 = now_cpu();
    wall.push_back(w3 - w0);
    cpu.push_back(c3 - c0);
    thr.push_back(w1 - w0);
    thin.push_back(w2 - w1);
    fin.push_back(w3 - w2);
  }
  t.wall = median(wall);
  t.cpu = median(cpu);
  t.threshold = median(thr);
  t.thinning = median(thin);
  t.finishing = median(fin);
  return t;
}

struct ReferenceRun {
  bool ran = false;
  double seconds = 0;
  int passes = 0;
  bool same = false;
};

ReferenceRun run_reference(const Picture& pic, const Planes& kernel_result) {
  ReferenceRun r;
  Planes p(pic.lines, pic.columns);
  copy_into(pic, p.tab2);
  const double w0 = now_wall();
  reference::threshold(p.tab2, p.tab, p.lines, p.columns, kMinth, kMaxth);
  r.passes = reference::skeleton(p.tab, p.tab2, p.lines, p.columns);
  reference::finishing(p.tab, p.lines, p.columns);
  r.seconds = now_wall() - w0;
  r.ran = true;
  r.same = p.same_tab(kernel_result);
  return r;
}

std::string fixed(double v, int decimals) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  return buf;
}

std::string milliseconds(double s) { return fixed(1000 * s, s < 0.01 ? 2 : 1); }

std::string load_average() {
  std::ifstream f("/proc/loadavg");
  std::string a, b, c;
  f >> a >> b >> c;
  return a + " " + b + " " + c;
}

// The same fixed loop on each core alone (up to 8), in ms: "28 / 27". On a
// virtual machine the host may give one core less time than another for a
// while, and a thread there holds up the threads that wait for it.
std::string core_speeds() {
  const int cores = std::min(8, static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN)));
  std::string out;
  for (int c = 0; c < cores; ++c) {
    double ms = 0;
    std::thread t([&] {
      cpu_set_t set;
      CPU_ZERO(&set);
      CPU_SET(c, &set);
      if (pthread_setaffinity_np(pthread_self(), sizeof set, &set) != 0) return;
      const double w0 = now_wall();
      volatile std::uint64_t x = 0;
      for (std::uint64_t i = 0; i < 50'000'000; ++i) x = x + i;
      ms = 1000 * (now_wall() - w0);
    });
    t.join();
    out += (c ? " / " : "") + (ms > 0 ? fixed(ms, 0) : std::string("?"));
  }
  return out;
}

// --- child mode: one processing of a generated image -------------------------
int child_peak(const std::string& kind, int size) {
  if (kind == "none") return 0;  // the bare process, for comparison
  unsigned char** t2 = ucmatrice(size, size);
  if (!t2) return 3;
  generate(kind, t2, size, size, kSeed);
  unsigned char** t = ucmatrice(size, size);
  if (!t) return 3;
  threshold_planes(t2, t, size, size, kMinth, kMaxth);
  const int passes = thin_planes(t, t2, size, size);
  finish_planes(t, size, size);
  std::printf("%d passes\n", passes);
  frucmatrice(t, size);
  frucmatrice(t2, size);
  return 0;
}

// --- whole runs -----------------------------------------------------------------

bool write_bytes(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

// The input image in the three formats, as the program expects them.
bool write_raster(const fs::path& folder, const std::string& name, const Picture& pic) {
  std::ofstream raw(folder / (name + ".raw"), std::ios::binary);
  raw.write(reinterpret_cast<const char*>(pic.bytes.data()), static_cast<std::streamsize>(pic.bytes.size()));
  std::ofstream txt(folder / (name + ".txt"));
  txt << pic.lines << "\n" << pic.columns << "\n1\n0\n255\n1\n";
  return static_cast<bool>(raw) && static_cast<bool>(txt);
}

bool write_bmp(const fs::path& folder, const std::string& name, Picture& pic) {
  std::vector<unsigned char*> rows = rows_of(pic);
  return SauveBMP((folder / (name + ".bmp")).c_str(), rows.data(), pic.columns, pic.lines, 0, nullptr) == 0;
}

bool write_ascii_grid(const fs::path& folder, const std::string& name, const Picture& pic) {
  std::FILE* f = std::fopen((folder / (name + ".asc")).c_str(), "w");
  if (!f) return false;
  std::fprintf(f, "ncols %d\nnrows %d\nxllcorner 1000.5\nyllcorner 2000\ncellsize 30\nnodata_value -9999\n",
               pic.columns, pic.lines);
  std::string line;
  for (int i = 0; i < pic.lines; ++i) {
    line.clear();
    for (int j = 0; j < pic.columns; ++j) {
      line += pic.line(i)[j] ? "255" : "0";
      line += j + 1 < pic.columns ? ' ' : '\n';
    }
    std::fwrite(line.data(), 1, line.size(), f);
  }
  return std::fclose(f) == 0;
}

// Does the result file of a whole run hold the plane `tab`?
bool raster_result_matches(const fs::path& file, unsigned char** tab, int lines, int columns) {
  std::ifstream in(file, std::ios::binary);
  std::vector<char> row(static_cast<std::size_t>(columns));
  for (int i = 0; i < lines; ++i) {
    if (!in.read(row.data(), columns)) return false;
    if (std::memcmp(row.data(), tab[i], static_cast<std::size_t>(columns)) != 0) return false;
  }
  return in.peek() == std::ifstream::traits_type::eof();
}

bool bmp_result_matches(const fs::path& file, unsigned char** tab, int lines, int columns) {
  int c = 0, l = 0, type = 0;
  Color32* palette = nullptr;
  unsigned char** m = ChargeBMP(file.c_str(), &c, &l, &type, &palette);
  if (!m) return false;
  bool same = c == columns && l == lines && type == 0;
  for (int i = 0; same && i < lines; ++i) same = std::memcmp(m[i], tab[i], static_cast<std::size_t>(columns)) == 0;
  frucmatrice(m, l);
  return same;
}

bool ascii_result_matches(const fs::path& file, unsigned char** tab, int lines, int columns) {
  std::ifstream in(file);
  std::string word;
  for (int k = 0; k < 12; ++k) in >> word;  // the header pairs
  for (int i = 0; i < lines; ++i)
    for (int j = 0; j < columns; ++j) {
      int v = -1;
      if (!(in >> v) || v != tab[i][j]) return false;
    }
  return !(in >> word);
}

std::string status_word(const ChildResult& c) {
  if (!c.started) return "not started";
  return c.status == 0 ? "exit 0" : "exit " + std::to_string(c.status);
}

// --- the report -------------------------------------------------------------------

struct Target {
  explicit Target(std::string w) : what(std::move(w)) {}
  std::string what;
  std::string measured;
  bool measured_ok = false;
  bool met = false;
  void set(const std::string& m, bool ok, bool is_met) {
    measured = m;
    measured_ok = ok;
    met = is_met;
  }
};

// Every target the benchmark checks, in the order they are printed.
struct Targets {
  Target ratio{"blobs_4096: at least 30x faster than the reference"};
  Target blobs{"blobs_4096: threshold + thinning + finishing <= 0.52 s"};
  Target strokes{"strokes_4096: <= 0.09 s"};
  Target noise{"noise_4096: <= 0.04 s"};
  Target threads_blobs{"thinning 8192^2 blobs, 2 threads: >= 1.6x one thread"};
  Target threads_strokes{"thinning 8192^2 strokes, 2 threads: >= 1.6x one thread"};
  Target whole{"whole raster run, 8192^2 blobs: < 0.6 s"};
  Target whole_ratio{"whole raster run, 8192^2 blobs: <= 1.5x the processing in memory"};
  Target memory{"whole raster run, 8192^2 blobs: peak < 2.25 B/px + 64 MiB"};
  Target leptonica_strokes{"whole raster run, strokes_4096: <= 0.25 of Leptonica's pixThinConnected"};
  Target leptonica_noise{"whole raster run, noise_4096: <= 0.35 of Leptonica's pixThinConnected"};
  Target geotiff_memory{"command line, 8192^2 Float32 GeoTIFF: peak <= 2.5 B/px + 64 MiB"};

  void print() const {
    std::printf("\n## Targets\n\n| target | measured | met |\n|---|---|---|\n");
    for (const Target* t : {&ratio, &blobs, &strokes, &noise, &threads_blobs, &threads_strokes, &whole, &whole_ratio,
                            &memory, &leptonica_strokes, &leptonica_noise, &geotiff_memory})
      std::printf("| %s | %s | %s |\n", t->what.c_str(), t->measured_ok ? t->measured.c_str() : "not measured",
                  !t->measured_ok ? "-"
                  : t->met        ? "yes"
                                  : "NO");
  }
};

// --- the sections -------------------------------------------------------------------

struct Options {
  std::string folder;
  bool quick = false;
  int runs = 5;
};

// The 8192 x 8192 blobs, kept for the whole runs: the picture, the
// finished plane the kernels make of it, and how long that takes in memory.
struct BigBlobs {
  Picture picture;
  std::vector<unsigned char> result;  // line 0 first
  std::vector<unsigned char*> rows;   // into result
  double in_memory_s = 0;
};

constexpr int kBig = 8192;

void print_header(const Options& o) {
  std::printf("# solvik benchmark\n\n");
  std::printf("- images: %s; window [%d, %d]; %d runs per image (median)%s\n", o.folder.c_str(), kMinth, kMaxth,
              o.runs, o.quick ? "; --quick" : "");
  std::printf("- processors: %ld; threads: %d; load average at start: %s\n", sysconf(_SC_NPROCESSORS_ONLN),
              default_threads(), load_average().c_str());
  std::printf("- times are wall-clock; CPU is this thread's processor time (the same work when the machine is busy)\n");
  std::fflush(stdout);
}

// 1. The shared images against the reference. Returns whether the kernels
// and the reference gave the same bytes and passes on every image compared.
bool shared_images(const Options& o, Targets& targets) {
  std::printf("\n## Shared images: threshold + thinning + finishing\n\n");
  std::printf(
      "| image | passes | median ms | CPU ms | thr / thin / fin ms | Mpx/s | reference s | ratio | same bytes |\n");
  std::printf("|---|---:|---:|---:|---|---:|---:|---:|---|\n");
  bool all_same = true;
  for (int size : {1024, 4096}) {
    for (const char* kind : {"blobs", "strokes", "noise", "full"}) {
      const std::string name = std::string(kind) + "_" + std::to_string(size);
      Picture pic;
      std::string why;
      if (!load_shared(o.folder, name, pic, &why)) {
        std::printf("| %s | %s |||||||\n", name.c_str(), why.c_str());
        continue;
      }
      Planes p(pic.lines, pic.columns);
      const Timing t = time_kernels(pic, p, o.runs);
      ReferenceRun ref;
      if (size <= 1024 || !o.quick) ref = run_reference(pic, p);
      if (ref.ran) all_same = all_same && ref.same && ref.passes == t.passes;
      const double mpx = static_cast<double>(pic.pixels()) / 1e6;
      std::printf("| %s | %d | %s | %s | %s / %s / %s | %s | %s | %s | %s |\n", name.c_str(), t.passes,
                  milliseconds(t.wall).c_str(), milliseconds(t.cpu).c_str(), milliseconds(t.threshold).c_str(),
                  milliseconds(t.thinning).c_str(), milliseconds(t.finishing).c_str(), fixed(mpx / t.wall, 0).c_str(),
                  ref.ran ? fixed(ref.seconds, 2).c_str() : "-", ref.ran ? fixed(ref.seconds / t.wall, 0).c_str() : "-",
                  !ref.ran                             ? "-"
                  : ref.same && ref.passes == t.passes ? "yes"
                                                       : "NO");
      std::fflush(stdout);
      if (size != 4096) continue;
      const std::string ms = fixed(t.wall, 3) + " s (CPU " + fixed(t.cpu, 3) + " s)";
      const std::string k = kind;
      if (k == "blobs") {
        targets.blobs.set(ms, true, t.wall <= 0.52);
        if (ref.ran) targets.ratio.set(fixed(ref.seconds / t.wall, 1) + "x", true, ref.seconds / t.wall >= 30);
      }
      if (k == "strokes") targets.strokes.set(ms, true, t.wall <= 0.09);
      if (k == "noise") targets.noise.set(ms, true, t.wall <= 0.04);
    }
  }
  return all_same;
}

// 2. Generated 8192 x 8192 images, the kernels alone. Keeps the blobs.
BigBlobs generated_images(const Options& o) {
  std::printf("\n## Generated %d x %d images: threshold + thinning + finishing\n\n", kBig, kBig);
  std::printf("| image | object | passes | median ms | CPU ms | thr / thin / fin ms | Mpx/s |\n");
  std::printf("|---|---:|---:|---:|---:|---|---:|\n");
  BigBlobs big;
  Planes p(kBig, kBig);
  for (const char* kind : {"blobs", "strokes", "noise", "full"}) {
    Picture pic = generate(kind, kBig, kBig, kSeed);
    long long object = 0;
    for (unsigned char v : pic.bytes) object += v != 0;
    const Timing t = time_kernels(pic, p, std::max(1, std::min(o.runs, 3)));
    std::printf("| %s_%d | %s %% | %d | %s | %s | %s / %s / %s | %s |\n", kind, kBig,
                fixed(100.0 * static_cast<double>(object) / static_cast<double>(pic.pixels()), 1).c_str(), t.passes,
                milliseconds(t.wall).c_str(), milliseconds(t.cpu).c_str(), milliseconds(t.threshold).c_str(),
                milliseconds(t.thinning).c_str(), milliseconds(t.finishing).c_str(),
                fixed(static_cast<double>(pic.pixels()) / 1e6 / t.wall, 0).c_str());
    std::fflush(stdout);
    if (std::string(kind) != "blobs") continue;
    big.picture = std::move(pic);
    big.in_memory_s = t.wall;
    big.result.resize(big.picture.pixels());
    for (int i = 0; i < kBig; ++i) std::memcpy(big.result.data() + static_cast<std::size_t>(i) * kBig, p.tab[i], kBig);
  }
  big.rows.resize(kBig);
  for (int i = 0; i < kBig; ++i) big.rows[i] = big.result.data() + static_cast<std::size_t>(i) * kBig;
  return big;
}

// 3. Thinning alone with 1, 2 (and, where there are more cores, 4 and 8)
// threads. The counts take turns run after run, so that a busy moment of
// the machine falls on all of them alike.
void thread_speedups(int size, int runs, Targets& targets) {
  const int cores = static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN));
  std::vector<int> counts = {1, 2};
  for (int n : {4, 8})
    if (n <= cores) counts.push_back(n);
  std::printf("\n## Thinning on several threads, %d x %d (threshold, then thin_planes alone)\n\n", size, size);
  const std::string cores_before = core_speeds();
  std::printf("| image | threads | median ms | best ms | speed-up (medians) | speed-up (bests) | passes redone |\n");
  std::printf("|---|---:|---:|---:|---:|---:|---:|\n");
  Planes p(size, size);
  for (const char* kind : {"blobs", "strokes"}) {
    const Picture pic = generate(kind, size, size, kSeed);
    std::vector<std::vector<double>> times(counts.size());
    // passes a band decided again after a wrong guess of the marks above
    // it, over all runs: a guess that goes wrong often costs speed, never
    // bytes
    std::vector<int> redone(counts.size(), 0);
    for (int r = 0; r < runs; ++r)
      for (std::size_t c = 0; c < counts.size(); ++c) {
        copy_into(pic, p.tab2);
        threshold_planes(p.tab2, p.tab, p.lines, p.columns, kMinth, kMaxth, counts[c]);
        int again = 0;
        const double w0 = now_wall();
        thinning_detail::thin_planes_guessing(p.tab, p.tab2, p.lines, p.columns, counts[c],
                                              thinning_detail::kGuessLines, 0, &again);
        times[c].push_back(now_wall() - w0);
        redone[c] += again;
      }
    const double one = median(times[0]), one_best = *std::min_element(times[0].begin(), times[0].end());
    for (std::size_t c = 0; c < counts.size(); ++c) {
      const double t = median(times[c]), best = *std::min_element(times[c].begin(), times[c].end());
      std::printf("| %s_%d | %d | %s | %s | %sx | %sx | %d |\n", kind, size, counts[c], milliseconds(t).c_str(),
                  milliseconds(best).c_str(), fixed(one / t, 2).c_str(), fixed(one_best / best, 2).c_str(),
                  redone[c]);
      if (counts[c] == 2)
        (std::string(kind) == "blobs" ? targets.threads_blobs : targets.threads_strokes)
            .set(fixed(one / t, 2) + "x (medians " + milliseconds(one) + " -> " + milliseconds(t) + " ms; bests " +
                     fixed(one_best / best, 2) + "x)",
                 true, one / t >= 1.6);
    }
    std::fflush(stdout);
  }
  std::printf("\nThe same loop alone on each core, ms (before / after the table): %s; %s\n", cores_before.c_str(),
              core_speeds().c_str());
}

// 4. The peak memory of one processing held in memory, in child processes.
void peak_memory(Spawner& spawner) {
  const std::string self = self_path();
  std::printf("\n## Peak memory of one processing held in memory (child process)\n\n");
  std::printf("| image | pixels | peak RSS MiB | B/px | allowed (2.25 B/px + 64 MiB) |\n|---|---:|---:|---:|---:|\n");
  const ChildResult bare = spawner.run(self, {"--child-peak", "none", "0"}, "", "", "");
  std::printf("| (bare process) | 0 | %s | - | - |\n", fixed(static_cast<double>(bare.peak_kib) / 1024, 1).c_str());
  for (int size : {4096, kBig}) {
    for (const char* kind : {"blobs", "noise"}) {
      const ChildResult c = spawner.run(self, {"--child-peak", kind, std::to_string(size)}, "", "", "");
      const double px = static_cast<double>(size) * size, bytes = static_cast<double>(c.peak_kib) * 1024;
      std::printf("| %s_%d | %.0f | %s | %s | %s |\n", kind, size, px, fixed(bytes / kMiB, 1).c_str(),
                  fixed(bytes / px, 3).c_str(), fixed((2.25 * px + 64 * kMiB) / kMiB, 1).c_str());
      if (c.status != 0) std::printf("\n(child %s)\n", status_word(c).c_str());
    }
  }
  std::fflush(stdout);
}

// A temporary folder laid out as the program expects: images/bench/ below
// it. Removed with everything in it at the end.
struct WorkFolder {
  fs::path root, images;
  WorkFolder() {
    std::string tmpl = (fs::temp_directory_path() / "solvik-bench-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) return;
    root = tmpl;
    images = root / "images" / "bench";
    fs::create_directories(images);
  }
  ~WorkFolder() {
    std::error_code ec;
    if (!root.empty()) fs::remove_all(root, ec);
  }
  WorkFolder(const WorkFolder&) = delete;
  WorkFolder& operator=(const WorkFolder&) = delete;
  bool ok() const { return !root.empty(); }
};

// Whole runs of the program on images/bench/NAME in format `answer`
// (0 raster, 1 BMP, 2 ASCII grid): the median wall time of `runs`, the
// largest peak, and whether every run ended well and its result passed
// `check`. The result is removed after each run, and `between` (when
// given) is called.
struct WholeRuns {
  double wall_s = 0;
  long long peak_kib = 0;
  std::string status = "not started";
  bool ok = false;
};

WholeRuns run_program(Spawner& spawner, const WorkFolder& work, const std::string& name, int answer,
                      const char* ext, int runs, const std::function<bool(const fs::path&)>& check,
                      const std::function<void()>& between = {}) {
  const fs::path result = work.images / (name + "_reg" + ext);
  const std::string answers = "bench\n" + std::to_string(answer) + "\n" + name + "\n0\n" + std::to_string(kMinth) +
                              "\n" + std::to_string(kMaxth) + "\n";
  write_bytes(work.root / "answers.txt", answers);
  WholeRuns w;
  std::vector<double> walls;
  w.ok = true;
  for (int r = 0; r < runs; ++r) {
    const ChildResult c = spawner.run(SOLVIK_PROGRAM, {}, work.root.string(), (work.root / "answers.txt").string(),
                                      (work.root / "output.txt").string());
    walls.push_back(c.wall_s);
    w.peak_kib = std::max(w.peak_kib, c.peak_kib);
    w.status = status_word(c);
    w.ok = w.ok && c.status == 0 && check(result);
    std::error_code ec;
    fs::remove(result, ec);
    fs::remove(work.images / (name + "_reg.txt"), ec);
    if (c.status != 0) break;
    if (between) between();
  }
  w.wall_s = median(walls);
  return w;
}

// 5. Whole runs on the 8192 x 8192 blobs in each format; the raster run
// `runs` times (median), each followed by a processing in memory of the
// same picture (so that both meet the machine alike), the others once.
void whole_runs(Spawner& spawner, const WorkFolder& work, BigBlobs& big, int runs, Targets& targets) {
  const std::string name = "blobs_" + std::to_string(kBig);
  const double px = static_cast<double>(kBig) * kBig;
  std::printf("\n## Whole runs of the program on %s (answers piped in)\n\n", name.c_str());
  std::printf("| format | input MB | runs | wall s | in memory s | ratio | peak RSS MiB | B/px | status | result equals the kernels |\n");
  std::printf("|---|---:|---:|---:|---:|---:|---:|---:|---|---|\n");
  struct Format {
    const char* label;
    int answer;
    const char* ext;
    int runs;
    std::function<bool()> write;
    std::function<bool(const fs::path&)> check;
  };
  unsigned char** rows = big.rows.data();
  const std::vector<Format> formats = {
      {"raster (.raw + .txt)", 0, ".raw", runs, [&] { return write_raster(work.images, name, big.picture); },
       [&](const fs::path& f) { return raster_result_matches(f, rows, kBig, kBig); }},
      {"BMP, 8 bits", 1, ".bmp", 1, [&] { return write_bmp(work.images, name, big.picture); },
       [&](const fs::path& f) { return bmp_result_matches(f, rows, kBig, kBig); }},
      {"ASCII grid", 2, ".asc", 1, [&] { return write_ascii_grid(work.images, name, big.picture); },
       [&](const fs::path& f) { return ascii_result_matches(f, rows, kBig, kBig); }},
  };
  for (const auto& f : formats) {
    if (!f.write()) {
      std::printf("| %s | cannot write the input |||||||||\n", f.label);
      continue;
    }
    const fs::path input = work.images / (name + f.ext);
    const double input_mb = static_cast<double>(fs::file_size(input)) / 1e6;
    std::vector<double> in_memory;
    std::function<void()> between;
    if (f.answer == 0)
      between = [&] {
        Planes p(kBig, kBig);
        in_memory.push_back(time_kernels(big.picture, p, 1).wall);
      };
    const WholeRuns w = run_program(spawner, work, name, f.answer, f.ext, f.runs, f.check, between);
    if (!in_memory.empty()) big.in_memory_s = median(in_memory);
    const double bytes = static_cast<double>(w.peak_kib) * 1024;
    std::printf("| %s | %s | %d | %s | %s | %sx | %s | %s | %s | %s |\n", f.label, fixed(input_mb, 1).c_str(), f.runs,
                fixed(w.wall_s, 3).c_str(), fixed(big.in_memory_s, 3).c_str(),
                fixed(w.wall_s / big.in_memory_s, 2).c_str(),
                fixed(bytes / kMiB, 1).c_str(), fixed(bytes / px, 3).c_str(), w.status.c_str(), w.ok ? "yes" : "NO");
    std::fflush(stdout);
    if (f.answer == 0) {
      targets.whole.set(fixed(w.wall_s, 2) + " s", w.ok, w.wall_s < 0.6);
      targets.whole_ratio.set(fixed(w.wall_s / big.in_memory_s, 2) + "x (" + fixed(w.wall_s, 3) + " / " +
                                  fixed(big.in_memory_s, 3) + " s)",
                              w.ok, w.wall_s <= 1.5 * big.in_memory_s);
      targets.memory.set(fixed(bytes / px, 3) + " B/px (" + fixed(bytes / kMiB, 1) + " MiB)", w.ok,
                         bytes < 2.25 * px + 64 * kMiB);
    }
    std::error_code ec;
    fs::remove(input, ec);
  }
}

// 6. Whole raster runs on the shared 4096 strokes and noise against
// Leptonica's thinning call on the same pictures, in this run.
void against_leptonica(Spawner& spawner, const WorkFolder& work, const Options& o, Targets& targets) {
  std::printf("\n## Whole raster runs against Leptonica's pixThinConnected (thinning call alone, in memory)\n\n");
  if (!leptonica_available()) {
    std::printf("(the benchmark was built without Leptonica: install libleptonica-dev and build again)\n");
    return;
  }
  std::printf("| image | whole run s (median of %d) | pixThinConnected s (median of 3) | ratio | goal | result equals the kernels |\n",
              o.runs);
  std::printf("|---|---:|---:|---:|---:|---|\n");
  for (const char* kind : {"strokes", "noise"}) {
    const std::string name = std::string(kind) + "_4096";
    Picture pic;
    std::string why;
    if (!load_shared(o.folder, name, pic, &why)) {
      std::printf("| %s | %s |||||\n", name.c_str(), why.c_str());
      continue;
    }
    Planes p(pic.lines, pic.columns);
    copy_into(pic, p.tab2);
    threshold_planes(p.tab2, p.tab, p.lines, p.columns, kMinth, kMaxth);
    thin_planes(p.tab, p.tab2, p.lines, p.columns);
    finish_planes(p.tab, p.lines, p.columns);
    if (!write_raster(work.images, name, pic)) {
      std::printf("| %s | cannot write the input |||||\n", name.c_str());
      continue;
    }
    const WholeRuns w = run_program(spawner, work, name, 0, ".raw", o.runs, [&](const fs::path& f) {
      return raster_result_matches(f, p.tab, p.lines, p.columns);
    });
    const double lept = leptonica_thin_seconds(pic, 3);
    const double goal = std::string(kind) == "strokes" ? 0.25 : 0.35;
    const double ratio = lept > 0 ? w.wall_s / lept : 0;
    std::printf("| %s | %s | %s | %s | <= %s | %s |\n", name.c_str(), fixed(w.wall_s, 3).c_str(),
                lept > 0 ? fixed(lept, 3).c_str() : "failed", lept > 0 ? fixed(ratio, 3).c_str() : "-",
                fixed(goal, 2).c_str(), w.ok ? "yes" : "NO");
    std::fflush(stdout);
    (std::string(kind) == "strokes" ? targets.leptonica_strokes : targets.leptonica_noise)
        .set(fixed(ratio, 3) + " (" + fixed(w.wall_s, 3) + " / " + fixed(lept, 3) + " s)", w.ok && lept > 0,
             ratio <= goal);
    std::error_code ec;
    fs::remove(work.images / (name + ".raw"), ec);
    fs::remove(work.images / (name + ".txt"), ec);
  }
}

// 7. The ASCII grid reader and writer in this process, on the finished
// plane (values 1 and 255).
void ascii_grid_in_process(const WorkFolder& work, BigBlobs& big) {
  std::printf("\n## ASCII grid of %d x %d in this process\n\n", kBig, kBig);
  std::printf("| operation | bytes | s | MB/s | check |\n|---|---:|---:|---:|---|\n");
  const fs::path home = fs::current_path();
  fs::current_path(work.root);
  std::FILE* quiet = std::fopen("/dev/null", "w");
  con_set_output(quiet);
  const std::string logical = "c:\\images\\bench\\grid.asc";
  const fs::path host = work.images / "grid.asc";
  reset_state();
  nb_lig = nb_col = kBig;
  X_min = 1000.5;
  Y_min = 2000;
  dpix_size = 30;
  tab = big.rows.data();
  std::string failure;
  double w0 = now_wall();
  try {
    SauveASC(logical);
  } catch (const RunStopped&) {
    failure = "SauveASC stopped the run";
  }
  const double write_s = now_wall() - w0;
  tab = nullptr;
  std::error_code ec;
  const auto size = fs::file_size(host, ec);
  const double mb = ec ? 0 : static_cast<double>(size) / 1e6;
  std::printf("| SauveASC (write) | %s | %s | %s | %s |\n", ec ? "-" : std::to_string(size).c_str(),
              fixed(write_s, 2).c_str(), ec ? "-" : fixed(mb / write_s, 0).c_str(),
              failure.empty() && !ec ? "written"
              : failure.empty()      ? "no file"
                                     : failure.c_str());
  failure.clear();
  bool same = false;
  f1 = host_open(logical, "r");
  w0 = now_wall();
  try {
    if (!f1) throw RunStopped{1};
    ChargeASC(logical);
    same = nb_lig == kBig && nb_col == kBig && tab2;
    for (int i = 0; same && i < kBig; ++i) same = std::memcmp(tab2[i], big.rows[i], kBig) == 0;
  } catch (const RunStopped&) {
    failure = "ChargeASC stopped the run";
  }
  const double read_s = now_wall() - w0;
  std::printf("| ChargeASC (read) | %s | %s | %s | %s |\n", ec ? "-" : std::to_string(size).c_str(),
              fixed(read_s, 2).c_str(), ec ? "-" : fixed(mb / read_s, 0).c_str(),
              !failure.empty() ? failure.c_str()
              : same           ? "same plane"
                               : "DIFFERENT plane");
  reset_state();
  con_set_output(stdout);
  if (quiet) std::fclose(quiet);
  fs::current_path(home);
}

// The options; an exit status when the benchmark should stop at once.
std::optional<int> parse_options(int argc, char** argv, Options& o) {
  for (int k = 1; k < argc; ++k) {
    const std::string a = argv[k];
    if (a == "--child-peak" && k + 2 < argc) return child_peak(argv[k + 1], std::atoi(argv[k + 2]));
    if (a == "--quick") {
      o.quick = true;
    } else if (a == "--runs" && k + 1 < argc) {
      o.runs = std::max(1, std::atoi(argv[++k]));
    } else if (a == "-h" || a == "--help") {
      std::printf("usage: %s [FOLDER] [--quick] [--runs N]\n", argv[0]);
      return 0;
    } else {
      o.folder = a;
    }
  }
  if (o.folder.empty()) o.folder = (fs::path(SOLVIK_SOURCE_DIR) / ".." / "shared" / "bench").lexically_normal().string();
  if (!fs::is_directory(o.folder)) {
    std::fprintf(stderr, "no benchmark images in %s (give the folder as the first argument)\n", o.folder.c_str());
    return 2;
  }
  return std::nullopt;
}

// 8. The command line on a georeferenced Float32 GeoTIFF of the 8192 x 8192
// blobs: the input made with gdal_translate from a raw Float32 file with an
// ENVI header, the result written as a GeoTIFF and as a raster (checked
// against the kernels).
std::string on_path(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string rest = path ? path : "/usr/bin:/bin";
  for (std::size_t at = 0; at <= rest.size();) {
    const std::size_t colon = std::min(rest.find(':', at), rest.size());
    const fs::path candidate = fs::path(rest.substr(at, colon - at)) / program;
    if (access(candidate.c_str(), X_OK) == 0) return candidate.string();
    at = colon + 1;
  }
  return "";
}

void command_line_geotiff(Spawner& spawner, const WorkFolder& work, BigBlobs& big, int runs, Targets& targets) {
  const std::string translate = on_path("gdal_translate");
  std::printf("\n## The command line on blobs_%d as a Float32 GeoTIFF\n\n", kBig);
  if (translate.empty()) {
    std::printf("gdal_translate is not installed: section skipped\n");
    return;
  }
  const fs::path envi = work.root / "f32.bin", tif = work.root / "blobs f32.tif";
  {
    std::ofstream out(envi, std::ios::binary);
    std::vector<float> line(static_cast<std::size_t>(kBig));
    for (int i = 0; i < kBig; ++i) {
      for (int j = 0; j < kBig; ++j) line[static_cast<std::size_t>(j)] = big.picture.line(i)[j];
      out.write(reinterpret_cast<const char*>(line.data()), static_cast<std::streamsize>(line.size() * sizeof(float)));
    }
    std::ofstream(work.root / "f32.hdr") << "ENVI\nsamples = " << kBig << "\nlines = " << kBig
                                         << "\nbands = 1\nheader offset = 0\nfile type = ENVI Standard\n"
                                            "data type = 4\ninterleave = bsq\nbyte order = 0\n";
  }
  const ChildResult made =
      spawner.run(translate, {"-q", "-of", "GTiff", "-co", "TILED=YES", "-co", "COMPRESS=DEFLATE", "-a_srs", "EPSG:32633",
                              "-a_ullr", "500000", "6000000", "745760", "5754240", envi.string(), tif.string()},
                  work.root.string(), "/dev/null", (work.root / "output.txt").string());
  std::error_code ec;
  fs::remove(envi, ec);
  if (made.status != 0) {
    std::printf("gdal_translate failed (%s): section skipped\n", status_word(made).c_str());
    return;
  }
  const double px = static_cast<double>(kBig) * kBig;
  std::printf("| output | runs | wall s | peak RSS MiB | B/px | status | result equals the kernels |\n|---|---:|---:|---:|---:|---|---|\n");
  for (const char* ext : {".raw", ".tif"}) {
    const bool tiff = std::strcmp(ext, ".tif") == 0;  // not read back
    const fs::path out = work.root / (std::string("out") + ext);
    std::vector<double> walls;
    long long peak = 0;
    bool ok = true;
    ChildResult c;
    for (int r = 0; r < runs && ok; ++r) {
      c = spawner.run(SOLVIK_PROGRAM, {"-q", "-w", "128:255", tif.string(), out.string()}, work.root.string(), "/dev/null",
                      (work.root / "output.txt").string());
      walls.push_back(c.wall_s);
      peak = std::max(peak, c.peak_kib);
      ok = c.status == 0 && (tiff || raster_result_matches(out, big.rows.data(), kBig, kBig));
    }
    const double bytes = static_cast<double>(peak) * 1024;
    std::printf("| %s | %zu | %s | %s | %s | %s | %s |\n", ext, walls.size(), fixed(median(walls), 3).c_str(),
                fixed(bytes / kMiB, 1).c_str(), fixed(bytes / px, 3).c_str(), status_word(c).c_str(),
                tiff ? "(not read back)" : ok ? "yes" : "NO");
    std::fflush(stdout);
    if (!tiff)
      targets.geotiff_memory.set(fixed(bytes / px, 3) + " B/px (" + fixed(bytes / kMiB, 1) + " MiB), " +
                                     fixed(median(walls), 2) + " s",
                                 ok, bytes <= 2.5 * px + 64 * kMiB);
    fs::remove(out, ec);
    fs::remove(work.root / "out.txt", ec);
  }
  fs::remove(tif, ec);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (const std::optional<int> status = parse_options(argc, argv, options)) return *status;
  // before anything big is loaded: the children's peaks must not include ours
  Spawner spawner;
  print_header(options);
  Targets targets;
  const bool all_same = shared_images(options, targets);
  BigBlobs big = generated_images(options);
  thread_speedups(kBig, std::max(options.runs, 7), targets);
  peak_memory(spawner);
  if (!options.quick) {
    const WorkFolder work;
    if (!work.ok()) {
      std::fprintf(stderr, "cannot make a temporary folder\n");
      return 2;
    }
    whole_runs(spawner, work, big, std::max(1, std::min(options.runs, 5)), targets);
    against_leptonica(spawner, work, options, targets);
    ascii_grid_in_process(work, big);
    command_line_geotiff(spawner, work, big, std::max(1, std::min(options.runs, 5)), targets);
  }
  targets.print();
  std::printf("\nkernels and reference give the same bytes and passes on every image compared: %s\n",
              all_same ? "yes" : "NO");
  return all_same ? 0 : 1;
}
