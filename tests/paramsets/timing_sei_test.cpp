// The timing SEI payloads hrd-check reads, each with the right SPS's HRD
// lengths, and the level table.
#include "paramsets/sei.h"

#include <gtest/gtest.h>

#include <vector>

#include "paramsets/level_limits.h"
#include "paramsets_fixture.h"

namespace tarnwell::test {
namespace {

TEST(TimingSei, BufferingPeriodAndPictureTimingUseTheSpsLengths) {
  SeqParamSet sps;
  ASSERT_EQ(parse_standard_sps(sps_444(), sps), ReadStatus::kOk);
  BitWriter bp;
  bp.ue(3).u(24, 900000).u(24, 12).u(24, 800000).u(24, 34).u(24, 700000).u(24, 56);
  BufferingPeriod period;
  ASSERT_EQ(parse_buffering_period(bp.data().data(), static_cast<int32_t>(bp.data().size()), sps, period),
            ReadStatus::kOk);
  EXPECT_EQ(period.nal_initial_cpb_removal_delay[1], 800000u);
  EXPECT_EQ(period.nal_initial_cpb_removal_delay_offset[1], 34u);
  EXPECT_EQ(period.vcl_initial_cpb_removal_delay[0], 700000u);
  EXPECT_EQ(period.vcl_initial_cpb_removal_delay_offset[0], 56u);
  // One schedule short: the payload ends early.
  BitWriter short_bp;
  short_bp.ue(3).u(24, 900000).u(24, 12).u(24, 800000).u(24, 34);
  EXPECT_EQ(parse_buffering_period(short_bp.data().data(), static_cast<int32_t>(short_bp.data().size()), sps, period),
            ReadStatus::kTruncated);

  BitWriter pt;
  pt.u(16, 0x0000).u(5, 0).u(4, 0).u(3, 0);  // cpb_removal_delay 0 in 16 bits: the payload ends in zero bytes
  PictureTiming timing;
  ASSERT_EQ(parse_picture_timing(pt.data().data(), 4, sps, timing), ReadStatus::kOk);
  EXPECT_EQ(timing.cpb_removal_delay, 0u);
  pt = BitWriter();
  pt.u(16, 4242).u(5, 3).u(3, 0);
  ASSERT_EQ(parse_picture_timing(pt.data().data(), 3, sps, timing), ReadStatus::kOk);
  EXPECT_EQ(timing.cpb_removal_delay, 4242u);
  EXPECT_EQ(timing.dpb_output_delay, 3u);
}

TEST(LevelLimits, Level1bAndProfileFactors) {
  ASSERT_NE(find_level_limits(66, 11, 1), nullptr);
  EXPECT_STREQ(find_level_limits(66, 11, 1)->name, "1b");
  EXPECT_STREQ(find_level_limits(100, 11, 1)->name, "1.1");  // constraint_set3_flag means intra there
  EXPECT_STREQ(find_level_limits(100, 9, 0)->name, "1b");
  EXPECT_EQ(find_level_limits(77, 41, 0)->max_br, 50000u);
  EXPECT_EQ(find_level_limits(77, 62, 0)->max_mbps, 16711680u);
  EXPECT_EQ(find_level_limits(77, 14, 0), nullptr);
  EXPECT_EQ(cpb_br_factors(77).nal, 1200u);
  EXPECT_EQ(cpb_br_factors(100).vcl, 1250u);
  EXPECT_EQ(cpb_br_factors(244).nal, 4800u);
  EXPECT_EQ(cpb_br_factors(118).nal, 0u);
}

}  // namespace
}  // namespace tarnwell::test
