// The one-step forms of the exact times must give what their parts give,
// on either side of their shortcuts; a time kept over an unreduced
// denominator must compare, add and print as its reduced form does.
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

TEST(TstdTimeTest, UnreducedFormsActAsTheirReducedOnes) {
  const int64_t big = (int64_t{1} << 61) + 6;  // past 2^53: seconds() must not convert it as it is
  const std::vector<std::pair<int64_t, int64_t>> values = {
      {0, 188}, {188, 188}, {94, 188}, {2030 * 188 + 141, 188}, {-47, 188}, {3, 9}, {big / 2 + 1, big}, {2, big}};
  for (const auto& [n, d] : values) {
    const Ticks kept = Ticks::fraction(n, d);
    const Ticks reduced = Ticks::ratio(n, d);
    EXPECT_TRUE(kept == reduced) << n << " / " << d;
    EXPECT_FALSE(kept < reduced || reduced < kept) << n << " / " << d;
    EXPECT_EQ(kept.seconds(), reduced.seconds()) << n << " / " << d;
    EXPECT_EQ(kept.floor(), reduced.floor()) << n << " / " << d;
    EXPECT_EQ(kept.is_whole(), reduced.is_whole()) << n << " / " << d;
    for (const auto& [m, e] : values) {
      const Ticks other = Ticks::fraction(m, e);
      const Ticks other_reduced = Ticks::ratio(m, e);
      EXPECT_TRUE(kept + other == reduced + other_reduced) << n << " / " << d << " + " << m << " / " << e;
      EXPECT_EQ(kept < other, reduced < other_reduced) << n << " / " << d << " < " << m << " / " << e;
      EXPECT_EQ((kept + other).seconds(), (reduced + other_reduced).seconds());
      if (!(kept < other)) {
        EXPECT_EQ(kept.floor_times_since(other, 20000000, 180000000),
                  reduced.floor_times_since(other_reduced, 20000000, 180000000));
      }
      for (const uint64_t k : {uint64_t{1}, uint64_t{187}}) {
        EXPECT_TRUE(kept.plus_times(other, k) == reduced.plus_times(other_reduced, k));
        EXPECT_EQ(kept.plus_times(other, k).seconds(), reduced.plus_times(other_reduced, k).seconds());
      }
    }
  }
  // Different forms of one value are equal; different values over one denominator are not.
  EXPECT_TRUE(Ticks::fraction(94, 188) == Ticks::fraction(1, 2));
  EXPECT_FALSE(Ticks::fraction(95, 188) == Ticks::fraction(1, 2));
  EXPECT_TRUE(Ticks::fraction(95, 188) > Ticks::fraction(1, 2));
}

}  // namespace
}  // namespace tarnwell
