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
//   3. the peak memory of one processing of an image held in memory, in a
//      child process so that nothing else of the benchmark counts;
//   4. whole runs of the program on 8192 x 8192 blobs in each format (raster,
//      8-bit BMP, ASCII grid), answers piped in, in a temporary folder: wall
//      time, peak memory of the child, and the result checked against the
//      kernels;
//   5. reading and writing an 8192 x 8192 ASCII grid in this process.
// --quick skips the reference on the 4096 images and sections 4 and 5.
// Finally the targets are checked.
//
// Child mode (used by section 3): solvik_bench --child-peak KIND SIZE
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "LIB/NRUTIL.h"
#include "LIB/image.h"
#include "app/state.h"
#include "bench/images.h"
#include "bench/processes.h"
#include "app/files.h"
#include "platform/console.h"
#include "platform/host.h"
#include "skeleton/skeleton.h"
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

// Thinning alone of generated images with 1, 2 (and, where there are more
// cores, 4 and 8) threads: median ms and the speed-up over one thread.
// Returns the speed-up with two threads on the first kind (0 if not run).
double thread_speedups(int size, int runs) {
  const int cores = static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN));
  std::vector<int> counts = {1, 2};
  for (int n : {4, 8})
    if (n <= cores) counts.push_back(n);
  std::printf("\n## Thinning on several threads, %d x %d (threshold, then thin_planes alone)\n\n", size, size);
  std::printf("| image | threads | median ms | speed-up |\n|---|---:|---:|---:|\n");
  double two = 0;
  Planes p(size, size);
  for (const char* kind : {"blobs", "strokes"}) {
    const Picture pic = generate(kind, size, size, kSeed);
    double one = 0;
    for (int n : counts) {
      std::vector<double> times;
      for (int r = 0; r < runs; ++r) {
        copy_into(pic, p.tab2);
        threshold_planes(p.tab2, p.tab, p.lines, p.columns, kMinth, kMaxth, n);
        const double w0 = now_wall();
        thin_planes(p.tab, p.tab2, p.lines, p.columns, n);
        times.push_back(now_wall() - w0);
      }
      const double t = median(times);
      if (n == 1) one = t;
      if (n == 2 && two == 0) two = one / t;
      std::printf("| %s_%d | %d | %s | %sx |\n", kind, size, n, milliseconds(t).c_str(), fixed(one / t, 2).c_str());
      std::fflush(stdout);
    }
  }
  return two;
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

struct WholeRun {
  std::string format;
  double input_mb = 0;
  ChildResult child;
  bool result_ok = false;
};

std::string status_word(const ChildResult& c) {
  if (!c.started) return "not started";
  return c.status == 0 ? "exit 0" : "exit " + std::to_string(c.status);
}

// --- the report -------------------------------------------------------------------

struct Target {
  std::string what;
  std::string measured;
  bool measured_ok = false;
  bool met = false;
};

void print_targets(const std::vector<Target>& targets) {
  std::printf("\n## Targets\n\n| target | measured | met |\n|---|---|---|\n");
  for (const auto& t : targets)
    std::printf("| %s | %s | %s |\n", t.what.c_str(), t.measured_ok ? t.measured.c_str() : "not measured",
                !t.measured_ok ? "-"
                : t.met        ? "yes"
                               : "NO");
}

}  // namespace

int main(int argc, char** argv) {
  std::string folder;
  bool quick = false;
  int runs = 5;
  for (int k = 1; k < argc; ++k) {
    const std::string a = argv[k];
    if (a == "--child-peak" && k + 2 < argc) return child_peak(argv[k + 1], std::atoi(argv[k + 2]));
    if (a == "--quick") {
      quick = true;
    } else if (a == "--runs" && k + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++k]));
    } else if (a == "-h" || a == "--help") {
      std::printf("usage: %s [FOLDER] [--quick] [--runs N]\n", argv[0]);
      return 0;
    } else {
      folder = a;
    }
  }
  if (folder.empty()) folder = (fs::path(SOLVIK_SOURCE_DIR) / ".." / "shared" / "bench").lexically_normal().string();
  if (!fs::is_directory(folder)) {
    std::fprintf(stderr, "no benchmark images in %s (give the folder as the first argument)\n", folder.c_str());
    return 2;
  }

  // before anything big is loaded: the children's peaks must not include ours
  Spawner spawner;

  std::printf("# solvik benchmark\n\n");
  std::printf("- images: %s; window [%d, %d]; %d runs per image (median)%s\n", folder.c_str(), kMinth, kMaxth, runs,
              quick ? "; --quick" : "");
  std::printf("- processors: %ld; load average at start: %s\n", sysconf(_SC_NPROCESSORS_ONLN), load_average().c_str());
  std::printf("- times are wall-clock; CPU is this thread's processor time (the same work when the machine is busy)\n");
  std::fflush(stdout);

  std::vector<Target> targets;
  Target t_ratio{"blobs_4096: at least 30x faster than the reference", "", false, false};
  Target t_blobs{"blobs_4096: threshold + thinning + finishing <= 0.52 s", "", false, false};
  Target t_strokes{"strokes_4096: <= 0.09 s", "", false, false};
  Target t_noise{"noise_4096: <= 0.04 s", "", false, false};
  Target t_whole{"whole raster run, 8192^2 blobs: < 0.6 s", "", false, false};
  Target t_memory{"whole raster run, 8192^2 blobs: peak < 2.25 B/px + 64 MiB", "", false, false};

  // 1. the shared images
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
      if (!load_shared(folder, name, pic, &why)) {
        std::printf("| %s | %s |||||||\n", name.c_str(), why.c_str());
        continue;
      }
      Planes p(pic.lines, pic.columns);
      const Timing t = time_kernels(pic, p, runs);
      ReferenceRun ref;
      if (size <= 1024 || !quick) ref = run_reference(pic, p);
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
      if (size == 4096) {
        const std::string ms = fixed(t.wall, 3) + " s (CPU " + fixed(t.cpu, 3) + " s)";
        if (std::string(kind) == "blobs") {
          t_blobs = {t_blobs.what, ms, true, t.wall <= 0.52};
          if (ref.ran) t_ratio = {t_ratio.what, fixed(ref.seconds / t.wall, 1) + "x", true, ref.seconds / t.wall >= 30};
        }
        if (std::string(kind) == "strokes") t_strokes = {t_strokes.what, ms, true, t.wall <= 0.09};
        if (std::string(kind) == "noise") t_noise = {t_noise.what, ms, true, t.wall <= 0.04};
      }
    }
  }

  // 2. generated 8192 x 8192 images
  constexpr int kBig = 8192;
  std::printf("\n## Generated %d x %d images: threshold + thinning + finishing\n\n", kBig, kBig);
  std::printf("| image | object | passes | median ms | CPU ms | thr / thin / fin ms | Mpx/s |\n");
  std::printf("|---|---:|---:|---:|---:|---|---:|\n");
  Picture big_blobs;
  std::vector<unsigned char> big_blobs_result;  // finished plane, line 0 first
  {
    Planes p(kBig, kBig);
    for (const char* kind : {"blobs", "strokes", "noise", "full"}) {
      Picture pic = generate(kind, kBig, kBig, kSeed);
      long long object = 0;
      for (unsigned char v : pic.bytes) object += v != 0;
      const Timing t = time_kernels(pic, p, std::max(1, std::min(runs, 3)));
      std::printf("| %s_%d | %s %% | %d | %s | %s | %s / %s / %s | %s |\n", kind, kBig,
                  fixed(100.0 * static_cast<double>(object) / static_cast<double>(pic.pixels()), 1).c_str(), t.passes,
                  milliseconds(t.wall).c_str(), milliseconds(t.cpu).c_str(), milliseconds(t.threshold).c_str(),
                  milliseconds(t.thinning).c_str(), milliseconds(t.finishing).c_str(),
                  fixed(static_cast<double>(pic.pixels()) / 1e6 / t.wall, 0).c_str());
      std::fflush(stdout);
      if (std::string(kind) == "blobs") {
        big_blobs = std::move(pic);
        big_blobs_result.resize(big_blobs.pixels());
        for (int i = 0; i < kBig; ++i)
          std::memcpy(big_blobs_result.data() + static_cast<std::size_t>(i) * kBig, p.tab[i], kBig);
      }
    }
  }
  std::vector<unsigned char*> result_rows(kBig);
  for (int i = 0; i < kBig; ++i) result_rows[i] = big_blobs_result.data() + static_cast<std::size_t>(i) * kBig;

  const double speedup = thread_speedups(kBig, std::max(1, std::min(runs, 3)));
  Target t_threads{"thinning 8192^2 blobs, 2 threads: >= 1.6x one thread", fixed(speedup, 2) + "x", true,
                   speedup >= 1.6};

  // 3. peak memory of one processing in memory
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

  // 4. whole runs of the program, and 5. the ASCII grid in this process
  if (!quick) {
    std::string tmpl = (fs::temp_directory_path() / "solvik-bench-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) {
      std::fprintf(stderr, "cannot make a temporary folder\n");
      return 2;
    }
    const fs::path work = tmpl, images = work / "images" / "bench";
    fs::create_directories(images);
    const std::string name = "blobs_" + std::to_string(kBig);
    const double px = static_cast<double>(kBig) * kBig;

    std::printf("\n## Whole runs of the program on %s (answers piped in)\n\n", name.c_str());
    std::printf("| format | input MB | wall s | peak RSS MiB | B/px | status | result equals the kernels |\n");
    std::printf("|---|---:|---:|---:|---:|---|---|\n");
    struct Format {
      const char* label;
      int answer;
      const char* ext;
      std::function<bool()> write;
      std::function<bool(const fs::path&)> check;
    };
    const std::vector<Format> formats = {
        {"raster (.raw + .txt)", 0, ".raw", [&] { return write_raster(images, name, big_blobs); },
         [&](const fs::path& f) { return raster_result_matches(f, result_rows.data(), kBig, kBig); }},
        {"BMP, 8 bits", 1, ".bmp", [&] { return write_bmp(images, name, big_blobs); },
         [&](const fs::path& f) { return bmp_result_matches(f, result_rows.data(), kBig, kBig); }},
        {"ASCII grid", 2, ".asc", [&] { return write_ascii_grid(images, name, big_blobs); },
         [&](const fs::path& f) { return ascii_result_matches(f, result_rows.data(), kBig, kBig); }},
    };
    for (const auto& f : formats) {
      if (!f.write()) {
        std::printf("| %s | cannot write the input |||||\n", f.label);
        continue;
      }
      const fs::path input = images / (name + f.ext), result = images / (name + "_reg" + f.ext);
      const std::string answers = "bench\n" + std::to_string(f.answer) + "\n" + name + "\n0\n" +
                                  std::to_string(kMinth) + "\n" + std::to_string(kMaxth) + "\n";
      write_bytes(work / "answers.txt", answers);
      const ChildResult c = spawner.run(SOLVIK_PROGRAM, {}, work.string(), (work / "answers.txt").string(),
                                        (work / "output.txt").string());
      const double bytes = static_cast<double>(c.peak_kib) * 1024;
      const bool ok = c.status == 0 && f.check(result);
      std::printf("| %s | %s | %s | %s | %s | %s | %s |\n", f.label,
                  fixed(static_cast<double>(fs::file_size(input)) / 1e6, 1).c_str(), fixed(c.wall_s, 2).c_str(),
                  fixed(bytes / kMiB, 1).c_str(), fixed(bytes / px, 3).c_str(), status_word(c).c_str(),
                  ok ? "yes" : "NO");
      std::fflush(stdout);
      if (f.answer == 0) {
        t_whole = {t_whole.what, fixed(c.wall_s, 2) + " s", c.status == 0, c.wall_s < 0.6};
        t_memory = {t_memory.what, fixed(bytes / px, 3) + " B/px (" + fixed(bytes / kMiB, 1) + " MiB)", c.status == 0,
                    bytes < 2.25 * px + 64 * kMiB};
      }
      std::error_code ec;
      fs::remove(input, ec);
      fs::remove(result, ec);
    }

    // 5. the ASCII grid reader and writer in this process, on the finished
    // plane (values 1 and 255)
    std::printf("\n## ASCII grid of %d x %d in this process\n\n", kBig, kBig);
    std::printf("| operation | bytes | s | MB/s | check |\n|---|---:|---:|---:|---|\n");
    const fs::path home = fs::current_path();
    fs::current_path(work);
    std::FILE* quiet = std::fopen("/dev/null", "w");
    con_set_output(quiet);
    const std::string logical = "c:\\images\\bench\\grid.asc";
    const fs::path host = work / "images" / "bench" / "grid.asc";
    reset_state();
    nb_lig = nb_col = kBig;
    X_min = 1000.5;
    Y_min = 2000;
    dpix_size = 30;
    tab = result_rows.data();
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
      for (int i = 0; same && i < kBig; ++i) same = std::memcmp(tab2[i], result_rows[i], kBig) == 0;
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
    fs::remove_all(work, ec);
  }

  targets = {t_ratio, t_blobs, t_strokes, t_noise, t_whole, t_memory, t_threads};
  print_targets(targets);
  std::printf("\nkernels and reference give the same bytes and passes on every image compared: %s\n",
              all_same ? "yes" : "NO");
  return all_same ? 0 : 1;
}
