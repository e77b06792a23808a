// The one-step forms of the exact times must give what their parts give,
// value and reduced form alike, on either side of their shortcuts.
#include "verify/tstd_time.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace tarnwell {
namespace {

std::vector<Ticks> sample_times() {
  const int64_t big = int64_t{1} << 61;
  return {Ticks::whole(0),
          Ticks::whole(1234567),
          Ticks::whole(-5),
          Ticks::ratio(1, 3),
          Ticks::ratio(1000001, 12),
          Ticks::ratio(7 * 80652 + 5, 80652),  // a byte count between PCRs as denominator
          Ticks::ratio(900000, 80652),
          Ticks::ratio(-17, 6),
          Ticks::ratio(big + 1, big - 1),  // denominators near the limit
          Ticks::ratio(3, big + 7)};
}

TEST(TstdTimeTest, PlusTimesIsTheSumOfTheMultiple) {
  const std::vector<uint64_t> counts = {0, 1, 4, 187, 188, 1000003, uint64_t{1} << 40};
  for (const Ticks& start : sample_times()) {
    for (const Ticks& step : sample_times()) {
      for (const uint64_t k : counts) {
        const Ticks fused = start.plus_times(step, k);
        const Ticks parts = start + step.times(k);
        EXPECT_TRUE(fused == parts) << start.seconds() << " + " << k << " * " << step.seconds();
      }
    }
  }
  // The same denominator from the same PCR pair, with a carry out of the fraction.
  EXPECT_TRUE(Ticks::ratio(5, 6).plus_times(Ticks::ratio(1, 6), 1) == Ticks::whole(1));
  EXPECT_TRUE(Ticks::ratio(1, 2).plus_times(Ticks::ratio(7, 6), 2) == Ticks::ratio(17, 6));
}

TEST(TstdTimeTest, FloorTimesSinceIsTheFloorOfTheDifference) {
  const std::vector<std::pair<uint64_t, uint64_t>> rates = {{20000000, 180000000}, {24000000, 216000000}, {3, 7}};
  for (const Ticks& a : sample_times()) {
    for (const Ticks& b : sample_times()) {
      if (a < b) continue;
      for (const auto& [p, q] : rates) {
        EXPECT_EQ(a.floor_times_since(b, p, q), (a - b).floor_times(p, q)) << a.seconds() << " - " << b.seconds();
      }
    }
  }
  EXPECT_EQ(Ticks::ratio(10, 3).floor_times_since(Ticks::ratio(1, 3), 1, 1), 3);
  EXPECT_EQ(Ticks::ratio(10, 3).floor_times_since(Ticks::ratio(2, 3), 1, 1), 2);
}

}  // namespace
}  // namespace tarnwell
