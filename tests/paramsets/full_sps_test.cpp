// The conformance check's own parameter-set and timing SEI reading: every
// profile (High 4:4:4 Predictive with its twelve scaling lists), both HRD
// blocks with all schedules, the SEI payloads read with the right SPS, and
// the level table.
#include "paramsets/sps.h"

#include <gtest/gtest.h>

#include <vector>

#include "paramsets/level_limits.h"
#include "paramsets/sei.h"
#include "support/bit_writer.h"

namespace tarnwell {
namespace {

using test::BitWriter;

void write_hrd(BitWriter& w, uint32_t count, uint32_t first_rate, uint32_t cbr) {
  w.ue(count - 1).u(4, 1).u(4, 2);  // bit_rate_scale 1, cpb_size_scale 2
  for (uint32_t i = 0; i < count; ++i) w.ue(first_rate + i).ue(999 + i).u1(cbr);
  w.u(5, 23).u(5, 15).u(5, 4).u(5, 24);  // lengths: 24, 16, 5 bits; time_offset_length 24
}

// High 4:4:4 Predictive, 4:4:4 chroma, scaling lists 0, 6, 10 and 11 sent
// (the last two exist only for 4:4:4), then a VUI with timing and both HRD
// blocks: NAL with two schedules, VCL with one.
BitWriter sps_444(uint32_t vcl_hrd = 1) {
  BitWriter w;
  w.u(8, 244).u(8, 0).u(8, 40).ue(3);
  w.ue(3).u1(0).ue(0).ue(0).u1(0);  // chroma_format_idc 3, separate_colour_plane_flag 0, bit depths, bypass
  w.u1(1);                          // seq_scaling_matrix_present_flag
  for (int i = 0; i < 12; ++i) {
    const bool present = i == 0 || i == 6 || i == 10 || i == 11;
    w.u1(present ? 1 : 0);
    if (!present) continue;
    if (i < 6) {
      w.se(-8);  // nextScale 0 at once: the default list
    } else {
      for (int j = 0; j < 64; ++j) w.se(j == 0 ? 4 : 0);
    }
  }
  w.ue(2).ue(0).ue(4);           // log2_max_frame_num_minus4 2, pic_order_cnt_type 0, lsb length 8
  w.ue(2).u1(0).ue(119).ue(67);  // 120 x 68 map units
  w.u1(0).u1(0).u1(1).u1(0);     // frame_mbs_only_flag 0 (fields), mbaff 0, direct_8x8 1, no cropping
  w.u1(1);                       // VUI
  w.u1(0).u1(0).u1(0).u1(0);
  w.u1(1).u(32, 1001).u(32, 60000).u1(1);
  w.u1(1);
  write_hrd(w, 2, 4999, 1);
  w.u1(vcl_hrd);
  if (vcl_hrd == 1) write_hrd(w, 1, 3999, 0);
  w.u1(1).u1(1).u1(0);  // low_delay_hrd_flag, pic_struct_present_flag, no bitstream restriction
  return w.trailing_bits();
}

ReadStatus parse(const BitWriter& w, SeqParamSet& sps) {
  return parse_seq_parameter_set(w.data().data(), static_cast<int32_t>(w.data().size()), sps);
}

TEST(FullSps, High444WithTwelveScalingListsAndBothHrdBlocks) {
  SeqParamSet sps;
  ASSERT_EQ(parse(sps_444(), sps), ReadStatus::kOk);
  EXPECT_EQ(sps.profile_idc, 244u);
  EXPECT_EQ(sps.seq_parameter_set_id, 3u);
  EXPECT_EQ(sps.chroma_format_idc, 3u);
  EXPECT_EQ(sps.frame_mbs_only_flag, 0u);
  EXPECT_EQ(sps.frame_size_in_mbs(), 120u * 68u * 2u);
  EXPECT_EQ(sps.vui.num_units_in_tick, 1001u);
  EXPECT_EQ(sps.vui.time_scale, 60000u);
  ASSERT_EQ(sps.vui.nal_hrd.cpb_cnt_minus1, 1u);
  EXPECT_EQ(hrd_bit_rate(sps.vui.nal_hrd, 0), 5000u << 7);
  EXPECT_EQ(hrd_bit_rate(sps.vui.nal_hrd, 1), 5001u << 7);
  EXPECT_EQ(hrd_cpb_size(sps.vui.nal_hrd, 1), 1001u << 6);
  EXPECT_EQ(sps.vui.nal_hrd.cbr_flag[1], 1u);
  EXPECT_EQ(hrd_bit_rate(sps.vui.vcl_hrd, 0), 4000u << 7);
  EXPECT_EQ(sps.vui.vcl_hrd.cbr_flag[0], 0u);
  EXPECT_EQ(sps.vui.vcl_hrd.initial_cpb_removal_delay_length_minus1, 23u);
  EXPECT_EQ(sps.vui.low_delay_hrd_flag, 1u);
  EXPECT_EQ(sps.vui.pic_struct_present_flag, 1u);
}

TEST(FullSps, TruncatedAndOutOfRangeSetsAreRefused) {
  const BitWriter whole = sps_444();
  SeqParamSet sps;
  for (std::size_t cut : {std::size_t{1}, std::size_t{5}, whole.data().size() - 3}) {
    const std::vector<uint8_t> part(whole.data().begin(), whole.data().begin() + static_cast<long>(cut));
    EXPECT_EQ(parse_seq_parameter_set(part.data(), static_cast<int32_t>(part.size()), sps), ReadStatus::kTruncated) << cut;
  }
  BitWriter bad_id;
  bad_id.u(8, 66).u(8, 0).u(8, 30).ue(32).ue(0).ue(2).trailing_bits();
  EXPECT_EQ(parse(bad_id, sps), ReadStatus::kOutOfRange);
}

TEST(TimingSei, BufferingPeriodAndPictureTimingUseTheSpsLengths) {
  SeqParamSet sps;
  ASSERT_EQ(parse(sps_444(), sps), ReadStatus::kOk);
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

  // A message whose payload runs past the SEI RBSP ends the walk.
  const std::vector<uint8_t> overlong = {0x00, 0x09, 0x01, 0x02};
  int32_t index = 0;
  SeiMessage message;
  EXPECT_FALSE(next_sei_message(overlong.data(), static_cast<int32_t>(overlong.size()), index, message));
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
}  // namespace tarnwell
