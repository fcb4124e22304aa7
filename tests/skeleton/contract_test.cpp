// The contract of the installed kernels: sizes below one line or column and
// null planes are refused with std::invalid_argument before any byte is
// touched, a plane of one line or column is processed, and kernels running
// at once on different planes give the bytes of a run alone, and the lines
// a kernel shares out among threads each reach exactly one of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "skeleton/parallel.h"
#include "skeleton/skeleton.h"
#include "support/helpers.h"

namespace {

using namespace testing_support;

TEST(Contract, BadSizesAndNullPlanesAreRefusedWithoutWriting) {
  Plane a(2, std::vector<unsigned char>(2, 7)), b = a;
  RowPointers ra(a), rb(b);
  std::vector<unsigned char*> null_row = {nullptr, nullptr};
  struct Call {
    std::string what;
    std::function<void(unsigned char**, unsigned char**, int, int)> run;
  };
  const std::vector<Call> calls = {
      {"threshold_planes", [](auto s, auto d, int l, int c) { threshold_planes(s, d, l, c, 0, 255); }},
      {"thin_planes", [](auto t, auto t2, int l, int c) { thin_planes(t, t2, l, c); }},
      {"finish_planes", [](auto t, auto, int l, int c) { finish_planes(t, l, c); }},
  };
  for (const auto& call : calls)
    for (auto [lines, columns] : {std::pair{0, 2}, {2, 0}, {-1, 2}, {2, -5}, {0, 0}}) {
      SCOPED_TRACE(call.what + " " + std::to_string(lines) + "x" + std::to_string(columns));
      try {
        call.run(ra.get(), rb.get(), lines, columns);
        ADD_FAILURE() << "accepted";
      } catch (const std::invalid_argument& e) {
        EXPECT_NE(std::string(e.what()).find(call.what), std::string::npos) << e.what();
      }
      EXPECT_THROW(call.run(nullptr, nullptr, 2, 2), std::invalid_argument);
      EXPECT_THROW(call.run(null_row.data(), null_row.data(), 2, 2), std::invalid_argument);
      EXPECT_EQ(a, Plane(2, std::vector<unsigned char>(2, 7))) << "a refused call wrote into the plane";
    }
}

// Size one: every pixel is frame; the whole processing gives all 255.
TEST(Contract, PlanesOfOneLineOrColumnAreProcessed) {
  for (auto [lines, columns] : {std::pair{1, 1}, {1, 9}, {9, 1}}) {
    Plane grey(lines, std::vector<unsigned char>(columns, 200)), tab(lines, std::vector<unsigned char>(columns));
    RowPointers g(grey), t(tab);
    threshold_planes(g.get(), t.get(), lines, columns, 128, 255);
    EXPECT_EQ(thin_planes(t.get(), g.get(), lines, columns), 1);
    finish_planes(t.get(), lines, columns);
    EXPECT_EQ(tab, Plane(lines, std::vector<unsigned char>(columns, 255)));
  }
}

Plane process(Plane grey) {
  const int lines = static_cast<int>(grey.size()), columns = static_cast<int>(grey[0].size());
  Plane tab(lines, std::vector<unsigned char>(columns));
  RowPointers g(grey), t(tab);
  threshold_planes(g.get(), t.get(), lines, columns, 128, 255);
  thin_planes(t.get(), g.get(), lines, columns);
  finish_planes(t.get(), lines, columns);
  return tab;
}

// Two threads thinning different planes at once, each many times: the
// bytes of each equal its run alone.
TEST(Contract, TwoThreadsOnDifferentPlanesGiveTheBytesOfARunAlone) {
  std::vector<Plane> images;
  std::mt19937 rng(7);
  for (int k = 0; k < 2; ++k) {
    Plane p(150 + 40 * k, std::vector<unsigned char>(170 - 30 * k));
    for (auto& line : p)
      for (auto& v : line) v = rng() % 3 ? 255 : 0;
    images.push_back(p);
  }
  const std::vector<Plane> alone = {process(images[0]), process(images[1])};
  bool same[2] = {true, true};
  std::vector<std::thread> threads;
  for (int k = 0; k < 2; ++k)
    threads.emplace_back([&, k] {
      for (int r = 0; r < 20; ++r) same[k] = same[k] && process(images[k]) == alone[k];
    });
  for (auto& t : threads) t.join();
  EXPECT_TRUE(same[0]);
  EXPECT_TRUE(same[1]);
}

}  // namespace

namespace {

// Lines handed out in chunks: every line reaches exactly one call, whatever
// the counts of lines and threads.
TEST(ByLines, EveryLineOnceForAnyCountOfLinesAndThreads) {
  const int kCases[][2] = {{1, 1}, {1, 8}, {15, 2}, {16, 2}, {17, 3}, {1000, 2}, {4099, 7}, {100000, 64}};
  for (const auto& [lines, parts] : kCases) {
    std::vector<std::atomic<int>> seen(static_cast<std::size_t>(lines));
    std::atomic<bool> in_range{true};
    parallel::by_lines(lines, parts, [&](int first, int last) {
      if (first < 0 || last >= lines || first > last) in_range = false;
      for (int i = std::max(first, 0); i <= std::min(last, lines - 1); ++i) ++seen[static_cast<std::size_t>(i)];
    });
    EXPECT_TRUE(in_range) << lines << " lines, " << parts << " threads";
    EXPECT_TRUE(std::all_of(seen.begin(), seen.end(), [](const std::atomic<int>& n) { return n == 1; }))
        << lines << " lines, " << parts << " threads";
  }
}

}  // namespace
