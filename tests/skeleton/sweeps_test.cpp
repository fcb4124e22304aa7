// Sweeps in bands: on a recurrence that reads the line below as the sweep
// before left it, every band count gives the values and totals of one
// sweep after another; a band that fails stops the others; the cuts.
#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "skeleton/sweeps.h"

namespace {

using sweeps::Totals;

std::uint64_t mix(std::uint64_t above, std::uint64_t self, std::uint64_t below, int sweep) {
  std::uint64_t h = above * 0x9E3779B97F4A7C15u ^ (self + static_cast<std::uint64_t>(sweep));
  h ^= below + (h << 6) + (h >> 2);
  return h * 0xBF58476D1CE4E5B9u;
}

// Step i replaces line i from line i - 1 (this sweep's), line i and line
// i + 1 (the sweep before's); a step run too early reads a line i + 1 the
// sweep before has not reached, and the values differ. Sweeps go on while
// the odd values two sweeps back are not a multiple of 23, 40 at most.
struct Recurrence {
  std::vector<std::uint64_t> x;
  explicit Recurrence(int steps) : x(static_cast<std::size_t>(steps) + 2) {
    for (std::size_t i = 0; i < x.size(); ++i) x[i] = i * 7919u;
  }
  static bool go_on(int s, const Totals* before) { return s <= 2 || (before->deleted % 23 != 0 && s < 40); }
  Totals step(int s, int i) {
    const std::size_t at = static_cast<std::size_t>(i);
    x[at] = mix(x[at - 1], x[at], x[at + 1], s);
    return {static_cast<long long>(x[at] & 1u), 1};
  }
};

std::vector<Totals> one_after_another(Recurrence& r, int steps) {
  std::vector<Totals> totals;
  for (int s = 1; Recurrence::go_on(s, s > 2 ? &totals[static_cast<std::size_t>(s) - 3] : nullptr); ++s) {
    Totals t;
    for (int i = 1; i <= steps; ++i) {
      const Totals d = r.step(s, i);
      t.deleted += d.deleted;
      t.visited += d.visited;
    }
    totals.push_back(t);
  }
  return totals;
}

std::vector<Totals> in_bands(Recurrence& r, int steps, int bands, std::vector<int>* band_of_step = nullptr) {
  return sweeps::run(
      bands, steps, [](int) { return 1LL; }, [](int, int s, const Totals* before) { return Recurrence::go_on(s, before); },
      [&](int k, int s, int, int, const auto& walk) {
        Totals t;
        walk([&](int i) {
          if (band_of_step) (*band_of_step)[static_cast<std::size_t>(i)] = k;
          const Totals d = r.step(s, i);
          t.deleted += d.deleted;
          t.visited += d.visited;
        });
        return t;
      });
}

TEST(Sweeps, EveryBandCountGivesTheValuesOfOneSweepAfterAnother) {
  for (int steps : {1, 63, 64, 127, 128, 129, 200, 517, 1000}) {
    Recurrence alone(steps);
    const std::vector<Totals> expected = one_after_another(alone, steps);
    for (int bands : {1, 2, 3, 5, 8}) {
      for (int repeat = 0; repeat < 3; ++repeat) {
        Recurrence r(steps);
        std::vector<int> band_of_step(static_cast<std::size_t>(steps) + 1, -1);
        const std::vector<Totals> totals = in_bands(r, steps, bands, &band_of_step);
        const std::string where = std::to_string(steps) + " steps, " + std::to_string(bands) + " bands";
        EXPECT_EQ(r.x, alone.x) << where;
        ASSERT_EQ(totals.size(), expected.size()) << where;
        for (std::size_t s = 0; s < totals.size(); ++s) {
          EXPECT_EQ(totals[s].deleted, expected[s].deleted) << where << ", sweep " << s + 1;
          EXPECT_EQ(totals[s].visited, steps) << where << ", sweep " << s + 1;
        }
        // as many bands as asked for, where the lines allow it
        const int used = band_of_step.back() + 1;
        EXPECT_EQ(used, sweeps::bands_for(bands, steps)) << where;
      }
    }
  }
}

// A band that throws, in a sweep or in deciding whether to go on: the
// exception comes back once every band has stopped (none waits forever
// for the one that failed).
TEST(Sweeps, ABandThatFailsStopsTheOthers) {
  const int steps = 600;
  for (int bands : {2, 3, 8})
    for (int failing : {0, bands - 1})
      for (bool in_go_on : {false, true}) {
        Recurrence r(steps);
        const auto run = [&] {
          sweeps::run(
              bands, steps, [](int) { return 1LL; },
              [&](int k, int s, const Totals*) {
                if (in_go_on && k == failing && s == 3) throw std::runtime_error("go on");
                return s < 20;
              },
              [&](int k, int s, int from, int to, const auto& walk) {
                walk([&](int i) {
                  if (!in_go_on && k == failing && s == 3 && i == (from + to) / 2) throw std::runtime_error("sweep");
                  r.step(s, i);
                });
                return Totals{};
              });
        };
        EXPECT_THROW(run(), std::runtime_error) << bands << " bands, band " << failing << (in_go_on ? " deciding" : " sweeping");
      }
}

TEST(Sweeps, BandsHoldAboutAsMuchWorkAndEnoughLines) {
  const std::vector<int> even = sweeps::band_starts(4, 400, [](int) { return 1LL; });
  EXPECT_EQ(even, (std::vector<int>{1, 101, 201, 301, 401}));
  // all the work in the first 50 lines: the first band still gets 64
  const std::vector<int> top = sweeps::band_starts(2, 300, [](int i) { return i <= 50 ? 100LL : 1LL; });
  EXPECT_EQ(top, (std::vector<int>{1, 65, 301}));
  // all the work in the last lines: the earlier bands take what they must
  const std::vector<int> bottom = sweeps::band_starts(3, 300, [](int i) { return i > 280 ? 100LL : 1LL; });
  EXPECT_EQ(bottom.size(), 4u);
  for (std::size_t k = 0; k + 1 < bottom.size(); ++k) EXPECT_GE(bottom[k + 1] - bottom[k], sweeps::kBandLines);
}

}  // namespace
