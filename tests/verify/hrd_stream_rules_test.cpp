// Whole HRD conformance runs over built streams for the rules that span
// access units and parameter sets: level limits over every schedule, a new SPS's HRD values, the
// buffering period's own constraints, data partitions.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/hrd_stream.h"

namespace tarnwell {
namespace {

using Delays = std::vector<std::pair<uint32_t, uint32_t>>;

using test::HrdChecked;

uint64_t count(const HrdTestResult& t, HrdViolationKind kind) {
  return static_cast<uint64_t>(std::count_if(t.violations.begin(), t.violations.end(),
                                             [&](const HrdViolation& v) { return v.kind == kind; }));
}

// Pictures of about 4000 bits (body_bytes 480) every 0.04 s, a buffering
// period with an IDR every `period` pictures, 0.5 s initial delay.
test::HrdStream steady_stream(const test::HrdSps& sps, uint32_t pictures, uint32_t period, uint32_t body_bytes = 480) {
  test::HrdStream s(sps);
  uint32_t delay = 0;
  for (uint32_t k = 0; k < pictures; ++k) {
    const bool start = k % period == 0;
    delay = k == 0 ? 0 : delay + 2;
    std::vector<std::pair<uint32_t, uint32_t>> bp;
    if (start) bp.assign(sps.schedules.size(), {45000, 0});
    s.picture(start, delay, body_bytes, bp);
    if (start) delay = 0;
  }
  return s;
}

TEST(HrdStreamRules, LevelLimitsNeedOneScheduleWithinThem) {
  // Level 1.3 at the NAL point: 921,600 bit/s and 2,400,000 bits.
  const test::HrdSchedule within{7811, 62499, true};    // 499,968 bit/s, 1,000,000 bits
  const test::HrdSchedule above{31249, 62499, true};    // 2,000,000 bit/s
  const test::HrdSchedule too_big{7811, 199999, true};  // 3,200,000 bits
  test::HrdSps sps;
  sps.level_idc = 13;
  sps.schedules = {within, above};
  const HrdChecked both = test::run_hrd(steady_stream(sps, 10, 10).bytes());
  ASSERT_EQ(both.result.tests.size(), 2u);
  for (const HrdTestResult& t : both.result.tests) EXPECT_EQ(count(t, HrdViolationKind::kLevelLimit), 0u);

  sps.schedules = {above, too_big};
  const HrdChecked none = test::run_hrd(steady_stream(sps, 10, 10).bytes());
  ASSERT_EQ(none.result.tests.size(), 2u);
  for (const HrdTestResult& t : none.result.tests) {
    ASSERT_EQ(count(t, HrdViolationKind::kLevelLimit), 1u);
    const std::string detail = t.violations[0].detail;
    EXPECT_NE(detail.find("schedule 0 2000000 bit/s"), std::string::npos) << detail;
    EXPECT_NE(detail.find("schedule 1 499968 bit/s, 3200000 bits"), std::string::npos) << detail;
  }
}

TEST(HrdStreamRules, ANewSpsBringsItsOwnHrdValues) {
  // 400 kbit/s, then the same SPS id at 64 kbit/s with the same pictures:
  // 8000-bit pictures every 0.04 s need 200 kbit/s.
  test::HrdSps fast;
  fast.schedules = {{6249, 62499, true}, {6249, 62499, true}};  // 400,000 bit/s twice
  test::HrdSps slow;
  slow.schedules = {{999, 62499, true}};  // 64,000 bit/s
  test::HrdStream s = steady_stream(fast, 20, 20, 960);
  s.parameter_sets(slow);
  for (uint32_t k = 0; k < 20; ++k) s.picture(k == 0, k == 0 ? 40 : 2 * k, 960, k == 0 ? Delays{{45000, 0}} : Delays{});
  const HrdChecked c = test::run_hrd(s.bytes());
  ASSERT_EQ(c.result.tests.size(), 2u);
  const HrdTestResult& t = c.result.tests[0];
  ASSERT_EQ(t.changes.size(), 1u);
  EXPECT_EQ(t.changes[0].access_unit, 20u);
  EXPECT_EQ(t.changes[0].config.bit_rate, 64000u);
  EXPECT_GT(count(t, HrdViolationKind::kUnderflow), 0u);
  EXPECT_TRUE(std::all_of(t.violations.begin(), t.violations.end(),
                          [](const HrdViolation& v) { return v.access_unit >= 20; }));
  // Arrival at 64 kbit/s from the change on: the 21st picture's 4000-odd bits take 1/16 s.
  const HrdTraceRow& row = c.rows[0][20];
  EXPECT_NEAR(static_cast<double>(row.bits) / 64000.0 * 1e6, static_cast<double>(row.t_af_us - row.t_ai_us), 1.0);
  // Schedule 1 is gone with the new SPS.
  const HrdTestResult& gone = c.result.tests[1];
  EXPECT_TRUE(gone.ended);
  EXPECT_EQ(gone.ended_at, 20u);
  EXPECT_TRUE(gone.conforms);
  EXPECT_EQ(c.rows[1].size(), 20u);
}

TEST(HrdStreamRules, BufferingPeriodsKeepTheirOwnConstraints) {
  test::HrdSps sps;  // CPB of 1 s at 1 Mbit/s: at most 90000
  test::HrdStream s(sps);
  s.picture(true, 0, 480, {{0, 0}});          // a zero delay
  s.picture(false, 2, 480);
  s.picture(false, 4, 480, {{270000, 0}});    // 3 s, where the CPB holds 1 s; sum changes within the sequence
  s.picture(true, 2, 480, {{45000, 10000}});  // a new sequence may change the sum
  s.picture(false, 2, 480, {{45000, 10000}});
  const HrdChecked c = test::run_hrd(s.bytes());
  ASSERT_EQ(c.result.tests.size(), 1u);
  std::vector<uint64_t> units;
  for (const HrdViolation& v : c.result.tests[0].violations) {
    if (v.kind == HrdViolationKind::kBufferingPeriod) units.push_back(v.access_unit);
  }
  EXPECT_EQ(units, (std::vector<uint64_t>{0, 2, 2}));
  const std::string detail = c.result.tests[0].violations[0].detail;
  EXPECT_NE(detail.find("is 0"), std::string::npos) << detail;
}

TEST(HrdStreamRules, DataPartitionsBAndCBelongToTheirPicture) {
  test::HrdSps sps;
  sps.profile_idc = 88;
  test::HrdStream s(sps);
  for (uint32_t k = 0; k < 4; ++k) {
    s.picture(k == 0, 2 * k, 100, k == 0 ? Delays{{45000, 0}} : Delays{}, 2);
    // slice_id, then a body that would read as a new picture's header.
    test::BitWriter b;
    b.ue(0).u(8, 0x80).u(8, 0xFF).trailing_bits();
    s.builder().nal(2, 3, b).nal(2, 4, b);
  }
  const HrdChecked c = test::run_hrd(s.bytes());
  EXPECT_EQ(c.result.access_units, 4u);
  ASSERT_EQ(c.result.tests.size(), 1u);
  EXPECT_TRUE(c.result.tests[0].conforms);
}

}  // namespace
}  // namespace tarnwell
