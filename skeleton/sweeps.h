// Sweeps in scan order, one after another, run on several threads with
// the bits of one thread: the thinning passes and cleaning sweeps of the
// sound skeleton.
//
//   run          the sweeps, in bands of lines (one per thread)
//   bands_for    how many bands a thread count and a height give
//   band_starts  where the bands begin
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <vector>

#include "skeleton/parallel.h"
#include "skeleton/skeleton.h"

namespace sweeps {

// A sweep over a band tells how far it has come every kTell lines, and
// keeps kTrail lines more than it needs between itself and the sweep
// before. A band has at least kBandLines lines.
constexpr int kTell = 8;
constexpr int kTrail = 16;
constexpr int kBandLines = 64;

// What the bands of one sweep add up to.
struct Totals {
  long long deleted = 0;
  long long visited = 0;
};

// How many bands `workers` threads cut `steps` lines into.
inline int bands_for(int workers, int steps) { return std::clamp(steps / kBandLines, 1, std::max(1, workers)); }

// The first step of each of n bands, and steps + 1: about as much weight
// (weight(i) for step i) in each, at least kBandLines steps each when
// there are that many.
template <typename Weight>
std::vector<int> band_starts(int n, int steps, Weight weight) {
  if (n <= 1) return {1, steps + 1};
  std::vector<long long> w(static_cast<std::size_t>(steps) + 1, 0);
  long long total = 0;
  for (int i = 1; i <= steps; ++i) total += w[static_cast<std::size_t>(i)] = weight(i);
  std::vector<int> first{1};
  long long sum = 0;
  for (int i = 1; i <= steps && static_cast<int>(first.size()) < n; ++i) {
    sum += w[static_cast<std::size_t>(i)];
    const int band = static_cast<int>(first.size());
    if (sum * n >= total * band && i + 1 - first.back() >= kBandLines && steps - i >= kBandLines * (n - band))
      first.push_back(i + 1);
  }
  while (static_cast<int>(first.size()) < n) first.push_back(first.back() + kBandLines);
  first.push_back(steps + 1);
  return first;
}

// Sweeps 1, 2, ... over steps [1, steps], each in scan order, each sweep
// on the picture as the one before left it.
//
// Step i of sweep s runs once sweep s - 1 has done step i + 2, alongside
// steps i + 3 and later of sweep s - 1: the caller's steps must then touch
// different memory (a step i that reads and writes lines i - 2 to i + 1,
// and writes line i + 1 only where step i + 3 does not, does). So the
// steps are cut into bands, one thread runs every sweep over its band,
// and a band runs sweep s while the band below it still runs sweep s - 1.
// The results are those of one sweep after another. A band's lines stay
// in its core's caches; only the lines around a cut go from core to core.
//
// `bands` is the most asked for (bands_for cuts fewer on few lines, a
// thread the system will not start makes fewer). weight(i) is the work of
// step i, to cut bands of about as much work.
// go_on(k, s, before) says whether sweep s runs, from the totals of
// sweep s - 2 (null for s <= 2, the last sweep every band has surely
// ended); every band asks it with the same values, so all stop at the
// same sweep. sweep(k, s, from, to, walk) runs band k's steps [from, to]
// of sweep s by calling walk(f), which calls f(i) for each step in order
// as soon as the sweep before allows it (and stops early when another band
// failed), and returns the band's totals. Returns the totals of every
// sweep that ran.
template <typename Weight, typename GoOn, typename Sweep>
std::vector<Totals> run(int bands, int steps, Weight weight, GoOn go_on, Sweep sweep) {
  parallel::Team team(bands_for(bands, steps));
  const int n = team.size();
  const std::vector<int> first = band_starts(n, steps, weight);
  // Sweep s tells its progress in slot s % kSlots: the sweep in the high
  // half of `step`, the steps done in the low half, and its totals so
  // far. A band begins sweep s once every band has ended sweep s - 2, so
  // no band still looks at a slot when it is taken again.
  struct alignas(64) Slot {
    std::atomic<std::uint64_t> step{0};
    std::atomic<long long> deleted{0}, visited{0};
  };
  constexpr int kSlots = 8;
  std::vector<Slot> slot(kSlots);
  std::vector<Totals> totals;  // kept by the last band
  std::atomic<bool> failed{false};
  // the steps sweep s has done, from its slot's value
  const auto steps_done = [](std::uint64_t v, int s) {
    return static_cast<int>(v >> 32) == s ? static_cast<int>(v & 0xFFFFFFFFu) : 0;
  };
  // Waits until sweep s has done step `need`; false when another band
  // failed. The other core is usually a line or two away: a spin, then
  // sleep until the slot changes. With more bands than cores, a band
  // that spins keeps the one it waits for off its core: it sleeps at
  // once.
  const int spins = n <= default_threads() ? 1 << 14 : 64;
  const auto wait_for = [&](int s, int need) -> bool {
    std::atomic<std::uint64_t>& step = slot[static_cast<std::size_t>(s % kSlots)].step;
    for (int spin = 0;; ++spin) {
      const std::uint64_t seen = step.load(std::memory_order_acquire);
      if (steps_done(seen, s) >= need) return true;
      if (failed.load(std::memory_order_relaxed)) return false;
      if (spin < spins) parallel::pause();
      else step.wait(seen, std::memory_order_acquire);
    }
  };
  const auto tell_step = [&](std::atomic<std::uint64_t>& step, std::uint64_t value) {
    step.store(value, std::memory_order_release);
    step.notify_all();
  };
  team.run([&](int k) {
    const int from = first[static_cast<std::size_t>(k)], to = first[static_cast<std::size_t>(k) + 1] - 1;
    try {
      for (int s = 1;; ++s) {
        Totals before;
        if (s > 2) {
          if (!wait_for(s - 2, steps)) return;
          const Slot& b = slot[static_cast<std::size_t>((s - 2) % kSlots)];
          before = {b.deleted.load(std::memory_order_relaxed), b.visited.load(std::memory_order_relaxed)};
        }
        if (!go_on(k, s, s > 2 ? &before : nullptr)) return;
        Slot& mine = slot[static_cast<std::size_t>(s % kSlots)];
        const std::uint64_t stamp = static_cast<std::uint64_t>(s) << 32;
        if (k == 0) {
          mine.deleted.store(0, std::memory_order_relaxed);
          mine.visited.store(0, std::memory_order_relaxed);
          tell_step(mine.step, stamp);
        } else if (!wait_for(s, from - 1)) {
          return;
        }
        // the sweep before, kTrail lines more than step i needs, read
        // again only when short (a line takes about as long as a value
        // takes to go from one core to the other)
        int known = s == 1 ? steps : 0;
        const auto may_start = [&](int i) {
          const int need = std::min(i + 2 + kTrail, steps);
          if (known >= need) return true;
          if (!wait_for(s - 1, need)) return false;
          known = steps_done(slot[static_cast<std::size_t>((s - 1) % kSlots)].step.load(std::memory_order_acquire), s - 1);
          return true;
        };
        // Only the band above waits on this band's first lines (the next
        // sweep over its last lines); the band below waits for the whole
        // band. Telling no more keeps the slot's line still while the
        // band below reads it.
        const auto tell = [&](int i) {
          if (k > 0 && i < from + 2 * kTrail && i % kTell == 0) tell_step(mine.step, stamp | static_cast<std::uint64_t>(i));
        };
        const auto walk = [&](auto&& f) {
          for (int i = from; i <= to; ++i) {
            if (!may_start(i)) return;
            f(i);
            tell(i);
          }
        };
        const Totals t = sweep(k, s, from, to, walk);
        if (failed.load()) return;
        mine.deleted.fetch_add(t.deleted, std::memory_order_relaxed);
        mine.visited.fetch_add(t.visited, std::memory_order_relaxed);
        if (to == steps)
          totals.push_back({mine.deleted.load(std::memory_order_relaxed), mine.visited.load(std::memory_order_relaxed)});
        tell_step(mine.step, stamp | static_cast<std::uint64_t>(to));
      }
    } catch (...) {
      // the other bands stop at their next wait: wake those asleep
      failed.store(true);
      for (Slot& other : slot) tell_step(other.step, ~std::uint64_t{0});
      throw;
    }
  });
  return totals;
}


}  // namespace sweeps
