// The Annex C model of one conformance test, on access units given by hand:
// arrival and removal times, fullness, and each kind of violation, decided
// exactly.
#include "verify/hrd_conformance.h"

#include <gtest/gtest.h>

#include <vector>

namespace tarnwell {
namespace {

// 1000 bit/s, CPB 1000 bits, ticks of 1/50 s, an access unit every 2 ticks,
// 0.5 s initial removal delay; 40-bit access units keep the CPB at 500 bits.
HrdTestConfig cbr_config() {
  HrdTestConfig c;
  c.bit_rate = 1000;
  c.cpb_size = 1000;
  c.cbr = true;
  c.num_units_in_tick = 1;
  c.time_scale = 50;
  return c;
}

HrdAccessUnitInput unit(uint64_t n, uint64_t bits = 40) {
  HrdAccessUnitInput in;
  in.bits = bits;
  in.has_buffering_period = n == 0;
  in.initial_cpb_removal_delay = 45000;
  in.has_picture_timing = true;
  in.cpb_removal_delay = static_cast<uint32_t>(2 * n);
  in.pic_size_in_mbs = 99;
  return in;
}

struct Outcome {
  HrdTestResult result;
  std::vector<HrdTraceRow> rows;
};

Outcome run(const HrdTestConfig& config, const std::vector<HrdAccessUnitInput>& units, HrdLevel level = {},
            uint32_t max_violations = 10) {
  HrdConformanceTest test(config, level, max_violations);
  Outcome out;
  test.set_trace([&](const HrdTraceRow& row) { out.rows.push_back(row); });
  for (const HrdAccessUnitInput& u : units) test.add(u);
  test.finish();
  out.result = test.result();
  return out;
}

std::vector<HrdAccessUnitInput> steady(int count) {
  std::vector<HrdAccessUnitInput> units;
  for (int n = 0; n < count; ++n) units.push_back(unit(static_cast<uint64_t>(n)));
  return units;
}

TEST(HrdModel, SteadyCbrStreamConformsWithExactTimesAndFullness) {
  const Outcome out = run(cbr_config(), steady(20));
  EXPECT_TRUE(out.result.conforms);
  EXPECT_EQ(out.result.peak_bits, 500u);
  ASSERT_EQ(out.rows.size(), 20u);
  EXPECT_EQ(out.rows[3].t_ai_us, 120000);
  EXPECT_EQ(out.rows[3].t_af_us, 160000);
  EXPECT_EQ(out.rows[3].t_rn_us, 620000);
  EXPECT_EQ(out.rows[3].fullness_before, 500);
  EXPECT_EQ(out.rows[3].fullness_after, 460);
}

TEST(HrdModel, OverflowAndUnderflowAreFoundAndCapped) {
  HrdTestConfig small = cbr_config();
  small.cpb_size = 400;
  // The 0.5 s initial delay is also longer than 400 bits take at 1000 bit/s.
  const Outcome over = run(small, steady(20), {}, 3);
  EXPECT_FALSE(over.result.conforms);
  // Once arrivals end (0.8 s) the CPB drains: removals from 0.9 s on are within it.
  EXPECT_EQ(over.result.violation_count, 11u);
  ASSERT_EQ(over.result.violations.size(), 3u);
  EXPECT_EQ(over.result.violations[0].kind, HrdViolationKind::kBufferingPeriod);
  EXPECT_EQ(over.result.violations[1].kind, HrdViolationKind::kOverflow);
  EXPECT_EQ(over.result.violations[1].bits, 100);
  EXPECT_EQ(over.result.violations[2].access_unit, 1u);

  // The overflow at access unit 0 shows only when access unit 12 arrives,
  // after access unit 1's missing timing: the list is still in order.
  std::vector<HrdAccessUnitInput> units = steady(20);
  units[1].has_picture_timing = false;
  const Outcome ordered = run(small, units, {}, 4);
  ASSERT_EQ(ordered.result.violations.size(), 4u);
  EXPECT_EQ(ordered.result.violations[1].kind, HrdViolationKind::kOverflow);
  EXPECT_EQ(ordered.result.violations[2].kind, HrdViolationKind::kMissingTiming);
  EXPECT_EQ(ordered.result.violations[2].access_unit, 1u);
  EXPECT_EQ(ordered.result.violations[3].kind, HrdViolationKind::kOverflow);
  EXPECT_EQ(ordered.result.violations[3].access_unit, 1u);

  units = steady(10);
  units[5].bits = 1000;  // arrives 0.2 .. 1.2 s, removal due at 0.7 s
  const Outcome under = run(cbr_config(), units);
  ASSERT_FALSE(under.result.violations.empty());
  const HrdViolation& v = under.result.violations[0];
  EXPECT_EQ(v.kind, HrdViolationKind::kUnderflow);
  EXPECT_EQ(v.access_unit, 5u);
  EXPECT_EQ(v.time_us, 700000);
  EXPECT_EQ(v.seconds_us, 500000);
  // The trace keeps the model's own values: access unit 6 is due at 0.74 s,
  // while 540 of access unit 5's bits have arrived and all 1200 bits of
  // units 0 to 5 are gone.
  EXPECT_EQ(under.rows[5].fullness_after, -500);
  EXPECT_EQ(under.rows[6].fullness_before, -460);
  EXPECT_EQ(under.rows[6].fullness_after, -500);
  EXPECT_NE(under.rows[5].violations & (1u << static_cast<uint32_t>(HrdViolationKind::kUnderflow)), 0u);
  EXPECT_EQ(under.rows[4].violations, 0u);
}

TEST(HrdModel, LowDelayRemovesALatePictureAtTheNextTick) {
  HrdTestConfig config = cbr_config();
  config.low_delay = true;
  config.cpb_size = 100000;
  std::vector<HrdAccessUnitInput> units = steady(8);
  units[5].bits = 1010;  // last bit at 1.21 s: removal at 0.7 s + 26 ticks
  const Outcome out = run(config, units);
  for (const HrdViolation& v : out.result.violations) EXPECT_NE(v.kind, HrdViolationKind::kUnderflow);
  EXPECT_EQ(out.rows[5].t_rn_us, 700000);
  EXPECT_EQ(out.rows[5].t_r_us, 1220000);
}

TEST(HrdModel, VbrArrivalWaitsForTheEarliestArrivalTime) {
  HrdTestConfig config = cbr_config();
  config.cbr = false;
  config.bit_rate = 2000;
  const Outcome out = run(config, steady(5));
  EXPECT_TRUE(out.result.conforms);
  EXPECT_EQ(out.rows[1].t_ai_us, 40000);  // not 20000, where the first access unit's last bit arrives
  EXPECT_EQ(out.rows[1].t_af_us, 60000);
}

TEST(HrdModel, InitialDelayOfALaterBufferingPeriodIsCheckedAgainstFloorAndCeiling) {
  // 7000 bit/s: the tenth access unit's gap is 75857.142857... in 90 kHz units.
  HrdTestConfig config = cbr_config();
  config.bit_rate = 7000;
  config.cpb_size = 100000000;
  for (uint32_t delay : {75856u, 75857u, 75858u, 75859u}) {
    std::vector<HrdAccessUnitInput> units = steady(12);
    units[10].has_buffering_period = true;
    units[10].idr = true;  // a new coded video sequence: delay + offset may change
    units[10].initial_cpb_removal_delay = delay;
    units[11].cpb_removal_delay = 2;  // counted from the new buffering period
    const Outcome out = run(config, units);
    const bool allowed = delay == 75857u || delay == 75858u;
    EXPECT_EQ(out.result.conforms, allowed) << delay;
    if (!allowed) {
      ASSERT_EQ(out.result.violations.size(), 1u);
      EXPECT_EQ(out.result.violations[0].kind, HrdViolationKind::kInitialDelay);
      EXPECT_EQ(out.result.violations[0].access_unit, 10u);
    }
    EXPECT_EQ(out.rows[11].t_rn_us, 940000);
  }
  // VBR: only the ceiling bounds it (48085.714... here, the previous access
  // unit having arrived from 0.5 s before its removal on).
  config.cbr = false;
  for (uint32_t delay : {40000u, 48086u, 48087u}) {
    std::vector<HrdAccessUnitInput> units = steady(12);
    units[10].has_buffering_period = true;
    units[10].idr = true;
    units[10].initial_cpb_removal_delay = delay;
    units[11].cpb_removal_delay = 2;
    EXPECT_EQ(run(config, units).result.conforms, delay != 48087u) << delay;
  }
}

TEST(HrdModel, RemovalIntervalOfTheLevelAndMissingTiming) {
  HrdTestConfig config = cbr_config();
  config.bit_rate = 100000;
  config.cpb_size = 100000;
  HrdLevel level{find_level_limits(66, 10, 0), 1000};
  std::vector<HrdAccessUnitInput> units = steady(4);
  units[2].has_picture_timing = false;
  const Outcome out = run(config, units, level);
  // 99 macroblocks at 1485 MB/s need 1/15 s between removals; these come every 0.04 s.
  ASSERT_EQ(out.result.violations.size(), 4u);
  EXPECT_EQ(out.result.violations[0].kind, HrdViolationKind::kRemovalInterval);
  EXPECT_EQ(out.result.violations[0].seconds_us, 26667);
  EXPECT_EQ(out.result.violations[1].kind, HrdViolationKind::kMissingTiming);
  EXPECT_EQ(out.result.violations[1].access_unit, 2u);
  EXPECT_EQ(out.rows[2].t_rn_us, 580000);  // one interval after the previous removal
}

TEST(HrdModel, UnusableSettingsAndHugeValuesStopTheTestCleanly) {
  HrdTestConfig config = cbr_config();
  config.time_scale = 0;
  EXPECT_TRUE(run(config, steady(3)).result.stopped);
  config = cbr_config();
  config.bit_rate = uint64_t{0xFFFFFFFF} << 21;
  config.num_units_in_tick = 0xFFFFFFFF;
  config.time_scale = 0xFFFFFFFB;
  std::vector<HrdAccessUnitInput> units = steady(3);
  for (HrdAccessUnitInput& u : units) u.cpb_removal_delay = 0xFFFFFFFF;
  const Outcome out = run(config, units);
  EXPECT_TRUE(out.result.stopped);
  EXPECT_FALSE(out.result.conforms);
}

}  // namespace
}  // namespace tarnwell
