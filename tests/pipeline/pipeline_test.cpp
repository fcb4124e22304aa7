// The pipeline: Otsu's window (splits, hostile values), the run against the
// kernels called by hand, thread counts reaching the kernels, and failures
// of worker threads coming back to the caller.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <limits>
#include <new>
#include <random>
#include <thread>
#include <vector>

#include "pipeline/array_source.h"
#include "pipeline/pipeline.h"
#include "platform/failure.h"
#include "skeleton/parallel.h"
#include "skeleton/skeleton.h"
#include "support/helpers.h"

namespace {

using namespace testing_support;
using pipeline::ArrayLayout;
using pipeline::ArraySource;
using pipeline::Element;

template <typename T>
ArraySource source_of(const std::vector<T>& v, int lines, int columns, Element e) {
  return ArraySource(ArrayLayout{reinterpret_cast<const char*>(v.data()), static_cast<std::ptrdiff_t>(columns * sizeof(T)),
                                 static_cast<std::ptrdiff_t>(sizeof(T)), lines, columns, e});
}

struct Kept : pipeline::Sink {
  Plane plane;
  void write(const pipeline::Picture& p, const pipeline::Outcome&) override {
    plane.assign(static_cast<std::size_t>(p.lines), std::vector<unsigned char>(static_cast<std::size_t>(p.columns)));
    RowPointers rows(plane);
    p.read(0, p.lines, rows.get());
  }
};

TEST(Otsu, SplitsTheHistogramBetweenItsModes) {
  struct Case {
    std::vector<double> histogram;
    int split;
  };
  const std::vector<Case> cases = {
      {{10, 0, 0, 0, 10}, 1},            // a plateau of best splits 0..3: its middle
      {{5, 5, 0, 0, 0, 0, 5, 5}, 3},     // two modes, plateau 1..5
      {{1, 8, 1, 0, 0, 1, 8, 1}, 3},
      {{100, 1, 1, 1, 1, 1, 1, 100}, 3},
      {{7}, 0},                          // one bin: nothing to split
      {{3, 9}, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(pipeline::otsu_split(c.histogram), c.split);
}

// Values a float or a grid can hold that no histogram may index: the window
// is found on the finite values, the others are counted, nothing crashes.
TEST(Otsu, ValuesThatAreNotFiniteAreLeftOut) {
  const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    std::vector<double> values;
    long long left_out;
  };
  const std::vector<Case> cases = {
      {{0, 0, 10, 10, inf, -inf}, 2},
      {{-1e308, 1e308, -1e308, 1e308}, 0},
      {{-1.7e308, 5, 1.7e308, nan, 5}, 0},
      {{0.5, 0.5, 0.5, -inf}, 1},
      {{std::numeric_limits<double>::denorm_min(), 0, 1e-300, 1}, 0},
  };
  for (const Case& c : cases)
    for (auto side : {pipeline::WindowKind::dark, pipeline::WindowKind::bright}) {
      ArraySource source = source_of(c.values, 1, static_cast<int>(c.values.size()), Element::f64);
      double threshold = nan;
      long long left_out = -1;
      const pipeline::Window w = pipeline::otsu_window(source, side, threshold, left_out);
      EXPECT_TRUE(std::isfinite(threshold) && std::isfinite(w.lo) && std::isfinite(w.hi));
      EXPECT_EQ(left_out, c.left_out);
    }
  const std::vector<double> none = {inf, -inf, nan};
  ArraySource source = source_of(none, 1, 3, Element::f64);
  double t;
  long long n;
  EXPECT_THROW(pipeline::otsu_window(source, pipeline::WindowKind::dark, t, n), Failure);
}

// The dialogue's skeleton through the pipeline is the kernels' bytes, for
// every element type the window reads the same, and every thread count.
TEST(Run, DialogueSkeletonIsTheKernelsBytesForEveryTypeAndThreadCount) {
  std::mt19937 rng(11);
  for (int round = 0; round < 12; ++round) {
    const int lines = 1 + static_cast<int>(rng() % 90), columns = 1 + static_cast<int>(rng() % 90);
    std::vector<unsigned char> grey(static_cast<std::size_t>(lines * columns));
    for (auto& g : grey) g = (rng() % 3) ? 200 : 20;
    Plane in(lines, std::vector<unsigned char>(columns)), tab = in;
    for (int i = 0; i < lines; ++i)
      for (int j = 0; j < columns; ++j) in[i][j] = grey[static_cast<std::size_t>(i * columns + j)];
    RowPointers g(in), t(tab);
    threshold_planes(g.get(), t.get(), lines, columns, 128, 255, 1);
    thin_planes(t.get(), g.get(), lines, columns, 1);
    finish_planes(t.get(), lines, columns, 1);

    std::vector<float> as_float(grey.begin(), grey.end());
    std::vector<std::uint16_t> as_u16(grey.begin(), grey.end());
    for (int threads : {1, 2, 3, 8}) {
      pipeline::Request r;
      r.skeleton = SkeletonKind::dialogue;
      r.frame = FrameMode::keep;
      r.skeleton_value = 1;
      r.background_value = 255;
      r.threads = threads;
      Kept a, b, c;
      ArraySource sa = source_of(grey, lines, columns, Element::u8), sb = source_of(as_float, lines, columns, Element::f32),
                  sc = source_of(as_u16, lines, columns, Element::u16);
      pipeline::run(sa, r, a);
      pipeline::run(sb, r, b);
      pipeline::run(sc, r, c);
      EXPECT_EQ(a.plane, tab) << lines << "x" << columns << " on " << threads << " threads";
      EXPECT_EQ(b.plane, tab);
      EXPECT_EQ(c.plane, tab);
    }
  }
}

// Both skeletons of the padded picture on the bit road are the padded
// planes' results.
TEST(Run, PaddedFrameIsThePaddedPlanesResult) {
  std::mt19937 rng(5);
  for (int round = 0; round < 40; ++round) {
    const SkeletonKind kind = round % 2 ? SkeletonKind::sound : SkeletonKind::dialogue;
    const int lines = 1 + static_cast<int>(rng() % 140), columns = 1 + static_cast<int>(rng() % 140);
    std::vector<unsigned char> grey(static_cast<std::size_t>(lines * columns));
    for (auto& g : grey) g = (rng() % 4) ? 255 : 0;
    SkeletonPlanes planes(lines, columns, FrameMode::pad, kind);
    for (int i = 0; i < lines; ++i)
      for (int j = 0; j < columns; ++j) planes.object()[i][j] = grey[static_cast<std::size_t>(i * columns + j)] ? 1 : 0;
    planes.run(1);
    planes.set_values(7, 9);
    Plane expected(lines);
    for (int i = 0; i < lines; ++i) expected[i].assign(planes.result()[i], planes.result()[i] + columns);
    pipeline::Request r;
    r.skeleton = kind;
    r.frame = FrameMode::pad;
    r.window = {pipeline::WindowKind::nonzero, 0, 0};
    r.skeleton_value = 7;
    r.background_value = 9;
    for (int threads : {1, 3}) {
      r.threads = threads;
      ArraySource s = source_of(grey, lines, columns, Element::u8);
      Kept k;
      pipeline::run(s, r, k);
      EXPECT_EQ(k.plane, expected) << lines << " x " << columns;
    }
  }
}

// Pruning and the graph on the bits of the run: the pixels and the graph
// that the same steps give on the bytes of the planes, both frames.
TEST(Run, PruningAndGraphOnBitsAreThoseOnBytes) {
  std::mt19937 rng(8);
  for (int round = 0; round < 24; ++round) {
    const int lines = 2 + static_cast<int>(rng() % 150), columns = 2 + static_cast<int>(rng() % 150);
    const FrameMode frame = round % 2 ? FrameMode::pad : FrameMode::keep;
    const double length = 1 + rng() % 12;
    std::vector<unsigned char> grey(static_cast<std::size_t>(lines * columns));
    for (auto& g : grey) g = (rng() % 3) ? 255 : 0;
    SkeletonPlanes planes(lines, columns, frame);
    for (int i = 0; i < lines; ++i)
      for (int j = 0; j < columns; ++j) planes.object()[i][j] = grey[static_cast<std::size_t>(i * columns + j)] ? 1 : 0;
    planes.run(1);
    const int pruned = prune_skeleton(planes.object(), lines, columns, length, 1, 255);
    const SkeletonGraph graph = build_graph(planes.result(), lines, columns, 1);
    Plane expected(lines);
    for (int i = 0; i < lines; ++i) expected[i].assign(planes.result()[i], planes.result()[i] + columns);

    pipeline::Request r;
    r.skeleton = SkeletonKind::dialogue;
    r.frame = frame;
    r.window = {pipeline::WindowKind::nonzero, 0, 0};
    r.skeleton_value = 1;
    r.background_value = 255;
    r.prune = length;
    r.graph = true;
    ArraySource s = source_of(grey, lines, columns, Element::u8);
    Kept k;
    const pipeline::Outcome o = pipeline::run(s, r, k);
    ASSERT_EQ(k.plane, expected) << lines << " x " << columns;
    EXPECT_EQ(o.pruned, pruned);
    ASSERT_TRUE(o.graph);
    ASSERT_EQ(o.graph->nodes.size(), graph.nodes.size());
    ASSERT_EQ(o.graph->branches.size(), graph.branches.size());
    for (std::size_t b = 0; b < graph.branches.size(); ++b) EXPECT_EQ(o.graph->branches[b].path, graph.branches[b].path);
    for (std::size_t n = 0; n < graph.nodes.size(); ++n) EXPECT_EQ(o.graph->nodes[n].pixels, graph.nodes[n].pixels);
  }
}

TEST(Run, CountsWhatTheWindowSelectsAndHonoursCancellation) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<double> v = {0, 1, 2, nan, 200, 255, 256, -3};
  ArraySource s = source_of(v, 2, 4, Element::f64);
  pipeline::Request r;
  Kept k;
  const pipeline::Outcome o = pipeline::run(s, r, k);
  EXPECT_EQ(o.values.pixels, 8);
  EXPECT_EQ(o.values.valid, 7);
  EXPECT_EQ(o.values.selected, 2);
  EXPECT_EQ(o.values.min, -3);
  EXPECT_EQ(o.values.max, 256);
  r.window.kind = pipeline::WindowKind::nonzero;
  EXPECT_EQ(pipeline::run(s, r, k).values.selected, 6);

  std::atomic<bool> stop{true};
  r.cancel = &stop;
  Kept never;
  EXPECT_THROW(pipeline::run(s, r, never), Cancelled);
  EXPECT_TRUE(never.plane.empty());
}

// A source that hands its lines over as doubles only.
struct AsDoubles : ImageSource {
  ImageSource& of;
  explicit AsDoubles(ImageSource& s) : of(s) {
    lines = s.lines;
    columns = s.columns;
  }
  void read_lines(const LineSink& sink, const ReadProgress& progress) override { of.read_lines(sink, progress); }
};

// Bytes are marked straight from their lines: the same skeleton and counts
// as through doubles, for windows with ends inside, between and beyond the
// byte values, both skeletons, and widths around the 16 and 64 pixels the
// marking takes at once.
TEST(Run, ByteLinesMarkAsTheirValues) {
  using pipeline::WindowKind;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    WindowKind kind;
    double lo, hi;
  } windows[] = {{WindowKind::range, 128, 255}, {WindowKind::range, 127.5, 200.2}, {WindowKind::range, -9, 0},
                 {WindowKind::range, 255, 1e9},  {WindowKind::range, 30, 20},      {WindowKind::range, nan, 9},
                 {WindowKind::range, 0.2, 0.8},  {WindowKind::nonzero, 0, 0}};
  std::mt19937 rng(7);
  for (int columns : {1, 15, 16, 17, 63, 64, 65, 130}) {
    const int lines = 1 + static_cast<int>(rng() % 40);
    std::vector<unsigned char> v(static_cast<std::size_t>(lines * columns));
    const unsigned top = rng() % 2 ? 256 : 3;  // all values, or a few small ones
    for (auto& x : v) x = static_cast<unsigned char>(rng() % top * (top == 3 ? 127 : 1));
    ArraySource bytes = source_of(v, lines, columns, Element::u8);
    AsDoubles doubles(bytes);
    for (const auto& w : windows)
      for (auto kind : {SkeletonKind::sound, SkeletonKind::dialogue}) {
        pipeline::Request r;
        r.window = {w.kind, w.lo, w.hi};
        r.skeleton = kind;
        Kept a, b;
        const pipeline::Outcome oa = pipeline::run(bytes, r, a), ob = pipeline::run(doubles, r, b);
        SCOPED_TRACE(testing::Message() << columns << " columns, window " << w.lo << ":" << w.hi);
        EXPECT_EQ(a.plane, b.plane);
        EXPECT_EQ(oa.values.selected, ob.values.selected);
        EXPECT_EQ(oa.values.valid, ob.values.valid);
        EXPECT_EQ(oa.values.min, ob.values.min);
        EXPECT_EQ(oa.values.max, ob.values.max);
        EXPECT_EQ(oa.values.whole, ob.values.whole);
      }
  }
}

// The threads alive in this process.
int threads_now() {
  int n = 0;
  for (auto it = std::filesystem::directory_iterator("/proc/self/task"); it != std::filesystem::directory_iterator(); ++it) ++n;
  return n;
}

// The count a request gives is the count the kernels run on: watched from
// outside while a large picture is thinned.
TEST(Run, TheThreadCountOfTheRequestReachesTheKernels) {
  if (!std::filesystem::exists("/proc/self/task")) GTEST_SKIP() << "no /proc/self/task to count threads in";
  const int lines = 1500, columns = 1500;
  std::vector<unsigned char> noise(static_cast<std::size_t>(lines * columns));
  std::mt19937 rng(3);
  for (auto& v : noise) v = (rng() % 2) ? 255 : 0;
  for (int threads : {1, 4}) {
    const int before = threads_now();
    std::atomic<bool> done{false};
    int most = 0;
    std::thread runner([&] {
      ArraySource s = source_of(noise, lines, columns, Element::u8);
      pipeline::Request r;
      r.skeleton = SkeletonKind::dialogue;
      r.threads = threads;
      Kept k;
      pipeline::run(s, r, k);
      done = true;
    });
    while (!done) {
      most = std::max(most, threads_now() - before);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    runner.join();
    // the runner itself, and threads - 1 more for the kernels
    EXPECT_LE(most, threads) << "asked for " << threads;
    if (threads > 1) {
      EXPECT_GE(most, 2) << "asked for " << threads;
    }
  }
}

TEST(Workers, AnExceptionOnAnyThreadComesBackToTheCaller) {
  for (int n : {2, 3, 8})
    for (int failing = 0; failing < n; ++failing) {
      std::atomic<int> ran{0};
      EXPECT_THROW(parallel::on_threads(n,
                                        [&](int k) {
                                          ++ran;
                                          if (k == failing) throw std::bad_alloc();
                                        }),
                   std::bad_alloc);
      EXPECT_EQ(ran, n) << "every part runs, and every thread is joined";
    }
  std::atomic<int> lines{0};
  EXPECT_THROW(parallel::by_lines(1000, 4,
                                  [&](int first, int last) {
                                    lines += last - first + 1;
                                    if (first == 0) throw Failure("a reason");
                                  }),
               Failure);
}

// A process that cannot have the threads it asks for (its address space
// too small for their stacks) thins on those it has: the bytes of one
// thread, or the memory exception, never an abort.
TEST(Workers, ThreadsThatCannotStartOnlyMakeTheTeamSmaller) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers reserve more address space than the limit leaves";
#else
  const int lines = 600, columns = 600;
  Plane grey(lines, std::vector<unsigned char>(columns));
  std::mt19937 rng(5);
  for (auto& row : grey)
    for (auto& v : row) v = (rng() % 3) ? 255 : 0;
  Plane one = grey, tab1(lines, std::vector<unsigned char>(columns));
  {
    RowPointers g(one), t(tab1);
    threshold_planes(g.get(), t.get(), lines, columns, 128, 255, 1);
    thin_planes(t.get(), g.get(), lines, columns, 1);
    finish_planes(t.get(), lines, columns, 1);
  }
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    rlimit limit{};
    getrlimit(RLIMIT_AS, &limit);
    // the stacks of a few threads at most
    rlimit small{static_cast<rlim_t>(256) << 20, limit.rlim_max};
    setrlimit(RLIMIT_AS, &small);
    Plane tab(lines, std::vector<unsigned char>(columns));
    try {
      RowPointers g(grey), t(tab);
      threshold_planes(g.get(), t.get(), lines, columns, 128, 255, 1024);
      thin_planes(t.get(), g.get(), lines, columns, 1024);
      finish_planes(t.get(), lines, columns, 1024);
    } catch (const std::bad_alloc&) {
      _exit(3);
    }
    _exit(tab == tab1 ? 0 : 4);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status)) << "the child ended by signal " << WTERMSIG(status);
  EXPECT_TRUE(WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == 3) << "status " << WEXITSTATUS(status);
#endif
}

}  // namespace
