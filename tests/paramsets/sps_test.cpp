// Sequence parameter sets: the syntax in all its branches, the scaling lists,
// VUI and HRD, the published frame rate, re-sent SPSs
// while active, and counts and ids beyond the records' capacities.
#include <gtest/gtest.h>

#include "paramsets/rbsp_reader.h"
#include "paramsets/scaling_list.h"
#include "paramsets_fixture.h"

namespace tarnwell::test {
namespace {

using SpsTest = ParamSetsTest;

// A High profile SPS head up to seq_scaling_matrix_present_flag.
BitWriter& high_head(BitWriter& w, uint32_t id, uint32_t chroma_format_idc, uint32_t scaling_matrix) {
  sps_head(w, 100, 40, id).ue(chroma_format_idc);
  if (chroma_format_idc == 3) w.u1(0);
  return w.ue(0).ue(0).u1(0).u1(scaling_matrix);
}

// VUI with nothing but the timing info.
BitWriter& timing_vui(BitWriter& w, uint32_t num_units_in_tick, uint32_t time_scale, uint32_t fixed) {
  w.u1(0).u1(0).u1(0).u1(0);                            // aspect, overscan, video signal, chroma loc
  w.u1(1).u(32, num_units_in_tick).u(32, time_scale).u1(fixed);
  return w.u1(0).u1(0).u1(0).u1(0);                     // nal hrd, vcl hrd, pic_struct, restriction
}

BitWriter sps_with_timing(uint32_t num_units_in_tick, uint32_t time_scale, uint32_t fixed) {
  BitWriter w;
  sps_head(w, 66, 30, 0);
  SpsTail tail;
  tail.vui_parameters_present_flag = 1;
  sps_tail(w, tail);
  timing_vui(w, num_units_in_tick, time_scale, fixed);
  w.trailing_bits();
  return w;
}

TEST_F(SpsTest, BaselineSpsIsStoredWithDefaultsAndPublishes25PicturesPerSecond) {
  process_sps(baseline_sps(3));
  const SeqParamSet& sps = sps_slot(3);
  EXPECT_EQ(sps.valid, 1u);
  EXPECT_EQ(sps.seq_parameter_set_id, 3u);
  EXPECT_EQ(sps.chroma_format_idc, 1u);  // the default without the High fields
  EXPECT_EQ(sps.pic_height_in_map_units_minus1, 8u);
  EXPECT_EQ(sps.direct_8x8_inference_flag, 1u);
  EXPECT_EQ(sps.vui.matrix_coefficients, 2u);
  EXPECT_EQ(frame_rate.frame_rate_num, 50u);
  EXPECT_EQ(frame_rate.frame_rate_den, 2u);
  EXPECT_EQ(sets.last_level_idc(), 30u);
  EXPECT_EQ(sps_slot(0).valid, 0u);
  EXPECT_TRUE(messages().empty());
}

TEST_F(SpsTest, UnacceptedProfileChangesNothingButTheLastProfile) {
  BitWriter first;
  sps_head(first, 66, 30, 0, 1);
  sps_tail(first);
  first.trailing_bits();
  process_sps(first);
  frame_rate = {77, 7};

  BitWriter w;
  sps_head(w, 244, 51, 0);
  sps_tail(w, SpsTail{.pic_width_in_mbs_minus1 = 99});
  w.trailing_bits();
  process_sps(w);

  EXPECT_EQ(sets.last_profile_idc(), 244u);
  EXPECT_EQ(sets.last_level_idc(), 30u);
  EXPECT_EQ(sets.last_constraint_set3_flag(), 1u);
  EXPECT_EQ(sps_slot(0).profile_idc, 66u);
  EXPECT_EQ(sps_slot(0).pic_width_in_mbs_minus1, 10u);
  EXPECT_EQ(frame_rate.frame_rate_num, 77u);
  EXPECT_EQ(frame_rate.frame_rate_den, 7u);
  EXPECT_TRUE(messages().empty());
}

TEST_F(SpsTest, ScalingListsLandInRasterOrderAndAFirstDeltaOfMinusEightSelectsTheDefault) {
  BitWriter w;
  high_head(w, 0, 1, 1);
  // List 0: the default.
  w.u1(1).se(-8);
  // List 1: 10, 11, 12, ... in zig-zag order.
  w.u1(1).se(2);
  for (int j = 1; j < 16; ++j) w.se(1);
  // List 2: 10, 11, 12, then nextScale 0 repeats 12 to the end.
  w.u1(1).se(2).se(1).se(1).se(-12);
  // List 3: a negative sum keeps its sign: 8 - 300 + 256 = -36; the next
  // delta of 0 gives (-36 + 256) % 256 = 220.
  w.u1(1).se(-300).se(0);
  for (int j = 2; j < 16; ++j) w.se(0);
  w.u1(0).u1(0);  // lists 4, 5
  // List 6 (8x8): the default; list 7: 9, 10, ... in zig-zag order.
  w.u1(1).se(-8);
  w.u1(1);
  for (int j = 0; j < 64; ++j) w.se(1);
  sps_tail(w, SpsTail{.pic_width_in_mbs_minus1 = 44, .pic_height_in_map_units_minus1 = 29});
  w.trailing_bits();
  process_sps(w);

  const SeqParamSet& sps = sps_slot(0);
  ASSERT_EQ(sps.valid, 1u);
  EXPECT_EQ(sps.seq_scaling_matrix_present_flag, 1u);
  EXPECT_EQ(sps.UseDefaultScalingMatrixFlag[0], 1u);
  for (int32_t value : sps.ScalingList4x4[0]) EXPECT_EQ(value, 8);
  for (std::size_t j = 0; j < 16; ++j) {
    EXPECT_EQ(sps.ScalingList4x4[1][zigzag4x4[j]], static_cast<int32_t>(10 + j)) << j;
  }
  EXPECT_EQ(sps.UseDefaultScalingMatrixFlag[1], 0u);
  EXPECT_EQ(sps.ScalingList4x4[1][4], 12);  // third value in scan order, row 1 column 0
  for (std::size_t j = 3; j < 16; ++j) EXPECT_EQ(sps.ScalingList4x4[2][zigzag4x4[j]], 12) << j;
  EXPECT_EQ(sps.UseDefaultScalingMatrixFlag[2], 0u);
  EXPECT_EQ(sps.ScalingList4x4[3][0], -36);
  EXPECT_EQ(sps.ScalingList4x4[3][1], 220);
  EXPECT_EQ(sps.ScalingList4x4[3][15], 220);
  EXPECT_EQ(sps.seq_scaling_list_present_flag[4], 0u);
  EXPECT_EQ(sps.ScalingList4x4[4][0], 0);
  EXPECT_EQ(sps.UseDefaultScalingMatrixFlag[6], 1u);
  for (int32_t value : sps.ScalingList8x8[0]) EXPECT_EQ(value, 8);
  for (std::size_t j = 0; j < 64; ++j) {
    EXPECT_EQ(sps.ScalingList8x8[1][zigzag8x8[j]], static_cast<int32_t>(9 + j)) << j;
  }
  // The lists' bits were consumed exactly: the fields after them are right.
  EXPECT_EQ(sps.pic_width_in_mbs_minus1, 44u);
  EXPECT_EQ(sps.pic_height_in_map_units_minus1, 29u);
}

TEST_F(SpsTest, Chroma444ReadsTheResidueTransformFlagAndReportsItWhenSet) {
  for (uint32_t flag : {0u, 1u}) {
    dialog.clear_calls();
    BitWriter w;
    sps_head(w, 144, 40, 1).ue(3).u1(flag).ue(2).ue(4).u1(0).u1(0);
    sps_tail(w, SpsTail{.pic_width_in_mbs_minus1 = 21});
    w.trailing_bits();
    process_sps(w);

    EXPECT_EQ(sps_slot(1).bit_depth_chroma_minus8, 4u);
    EXPECT_EQ(sps_slot(1).pic_width_in_mbs_minus1, 21u);
    EXPECT_EQ(messages(), flag == 0 ? std::vector<std::string>{}
                                    : std::vector<std::string>{"[Deprecated High444 Profile] residue_transform_flag "
                                                               "= 1 is no longer supported"});
  }
}

TEST_F(SpsTest, EachPictureOrderCountTypeReadsItsOwnFields) {
  BitWriter type0;
  sps_head(type0, 77, 30, 0).ue(2).ue(0).ue(5).ue(3);
  type0.u1(0).ue(1).ue(1).u1(1).u1(1).u1(0).u1(0).trailing_bits();
  process_sps(type0);
  EXPECT_EQ(sps_slot(0).log2_max_pic_order_cnt_lsb_minus4, 5u);
  EXPECT_EQ(sps_slot(0).max_num_ref_frames, 3u);

  BitWriter type1;
  sps_head(type1, 77, 30, 1).ue(0).ue(1).u1(1).se(-3).se(7).ue(3).se(1).se(-2).se(3).ue(4);
  type1.u1(0).ue(1).ue(1).u1(1).u1(1).u1(0).u1(0).trailing_bits();
  process_sps(type1);
  const SeqParamSet& s1 = sps_slot(1);
  EXPECT_EQ(s1.offset_for_non_ref_pic, -3);
  EXPECT_EQ(s1.offset_for_top_to_bottom_field, 7);
  EXPECT_EQ(s1.offset_for_ref_frame[1], -2);
  EXPECT_EQ(s1.offset_for_ref_frame[2], 3);
  EXPECT_EQ(s1.max_num_ref_frames, 4u);

  // Type 2: num_ref_frames follows at once.
  BitWriter type2;
  sps_head(type2, 77, 30, 2).ue(0).ue(2).ue(6);
  type2.u1(1).ue(1).ue(1).u1(0).u1(1).u1(1).u1(0).u1(0).trailing_bits();
  process_sps(type2);
  const SeqParamSet& s2 = sps_slot(2);
  EXPECT_EQ(s2.max_num_ref_frames, 6u);
  EXPECT_EQ(s2.gaps_in_frame_num_value_allowed_flag, 1u);
  EXPECT_EQ(s2.mb_adaptive_frame_field_flag, 1u);
  EXPECT_EQ(s2.direct_8x8_inference_flag, 1u);
}

TEST_F(SpsTest, FrameCroppingOffsetsAreReadInOrder) {
  BitWriter w;
  sps_head(w, 66, 30, 0).ue(0).ue(2).ue(1).u1(0).ue(19).ue(14).u1(1).u1(1);
  w.u1(1).ue(1).ue(2).ue(3).ue(4).u1(0).trailing_bits();
  process_sps(w);
  const SeqParamSet& sps = sps_slot(0);
  EXPECT_EQ(sps.frame_crop_left_offset, 1u);
  EXPECT_EQ(sps.frame_crop_bottom_offset, 4u);
  EXPECT_EQ(sps.vui_parameters_present_flag, 0u);
}

TEST_F(SpsTest, ExtendedSarReadsWidthAndHeightAndOtherAspectRatiosDoNot) {
  for (uint32_t idc : {255u, 254u}) {
    BitWriter w;
    sps_head(w, 66, 30, 0);
    sps_tail(w, SpsTail{.vui_parameters_present_flag = 1});
    w.u1(1).u(8, idc);
    if (idc == 255) w.u(16, 64).u(16, 45);
    w.u1(1).u1(1);                                      // overscan
    w.u1(1).u(3, 5).u1(1).u1(1).u(8, 1).u(8, 6).u(8, 9);  // video signal with colour description
    w.u1(1).ue(2).ue(3);                                // chroma location
    w.u1(1).u(32, 1001).u(32, 60000).u1(1);
    w.u1(0).u1(0).u1(1);
    w.u1(1).u1(1).ue(2).ue(1).ue(16).ue(15).ue(2).ue(4);
    w.trailing_bits();
    process_sps(w);

    const VuiParameters& vui = sps_slot(0).vui;
    EXPECT_EQ(vui.aspect_ratio_idc, idc);
    EXPECT_EQ(vui.sar_width, idc == 255 ? 64u : 0u);
    EXPECT_EQ(vui.sar_height, idc == 255 ? 45u : 0u);
    EXPECT_EQ(vui.video_format, 5u);
    EXPECT_EQ(vui.matrix_coefficients, 9u);
    EXPECT_EQ(vui.chroma_sample_loc_type_bottom_field, 3u);
    EXPECT_EQ(vui.time_scale, 60000u);
    EXPECT_EQ(vui.max_bytes_per_pic_denom, 2u);
    // Horizontal comes first in the stream.
    EXPECT_EQ(vui.log2_max_mv_length_horizontal, 16u);
    EXPECT_EQ(vui.log2_max_mv_length_vertical, 15u);
    EXPECT_EQ(vui.max_dec_frame_buffering, 4u);
  }
}

TEST_F(SpsTest, FrameRateFractionFollowsTheFixedFrameRateFlag) {
  struct Case {
    uint32_t tick, scale, fixed, num;
    uint64_t den;
  };
  // Doubling the tick count does not wrap; a zero time scale stays zero (unknown).
  for (const Case& c : {Case{1001, 60000, 1, 60000, 2002}, Case{1001, 60000, 0, 50, 2},
                        Case{0xFFFFFFFFu, 90000, 1, 90000, 0x1FFFFFFFEu}, Case{1, 0, 1, 0, 2}}) {
    SCOPED_TRACE(c.tick);
    process_sps(sps_with_timing(c.tick, c.scale, c.fixed));
    EXPECT_EQ(frame_rate.frame_rate_num, c.num);
    EXPECT_EQ(frame_rate.frame_rate_den, c.den);
  }
}

// --- Re-sent SPS while active ---------------------------------------------

class ResentSpsTest : public ParamSetsTest {
 protected:
  // A High SPS with id 0 whose parts the tests vary.
  struct Variant {
    uint32_t constrained_set3_flag = 0;
    uint32_t chroma_format_idc = 1;
    uint32_t bit_depth_luma_minus8 = 0;
    int32_t first_delta_scale = 0;  // 0: no scaling matrix
    uint32_t bit_rate_value_minus1 = 100;
    uint32_t pic_width_in_mbs_minus1 = 10;
  };

  static BitWriter high_sps(const Variant& v) {
    BitWriter w;
    sps_head(w, 100, 40, 0, v.constrained_set3_flag).ue(v.chroma_format_idc);
    if (v.chroma_format_idc == 3) w.u1(0);
    w.ue(v.bit_depth_luma_minus8).ue(0).u1(0).u1(v.first_delta_scale != 0 ? 1 : 0);
    if (v.first_delta_scale != 0) {
      w.u1(1).se(v.first_delta_scale);
      for (int j = 1; j < 16; ++j) w.se(0);
      for (int i = 1; i < 8; ++i) w.u1(0);
    }
    sps_tail(w, SpsTail{.pic_width_in_mbs_minus1 = v.pic_width_in_mbs_minus1, .vui_parameters_present_flag = 1});
    w.u1(0).u1(0).u1(0).u1(0).u1(0).u1(1);
    w.ue(0).u(4, 0).u(4, 0).ue(v.bit_rate_value_minus1).ue(0).u1(0).u(5, 0).u(5, 0).u(5, 0).u(5, 0);
    w.u1(0).u1(0).u1(0).u1(0).trailing_bits();  // vcl hrd, low delay, pic_struct, restriction
    return w;
  }

  void activate(const Variant& v) {
    process_sps(high_sps(v));
    process_pps(simple_pps());
    sets.use_parameter_sets(0);
    ASSERT_EQ(sets.active_sps(), &sps_slot(0));
  }
};

TEST_F(ResentSpsTest, OnlyChangesActivationDependsOnClearTheActiveSps) {
  // Same content, or changes activation ignores: still active, with the new values.
  const std::vector<Variant> kept = {
      {}, {.constrained_set3_flag = 1}, {.chroma_format_idc = 3}, {.bit_depth_luma_minus8 = 2},
      {.first_delta_scale = 5}, {.bit_rate_value_minus1 = 200},
  };
  for (const Variant& v : kept) {
    activate({});
    process_sps(high_sps(v));
    ASSERT_EQ(sets.active_sps(), &sps_slot(0));
    const SeqParamSet& active = *sets.active_sps();
    EXPECT_EQ(active.constraint_set3_flag, v.constrained_set3_flag);
    EXPECT_EQ(active.chroma_format_idc, v.chroma_format_idc);
    EXPECT_EQ(active.bit_depth_luma_minus8, v.bit_depth_luma_minus8);
    EXPECT_EQ(active.ScalingList4x4[0][0], v.first_delta_scale != 0 ? 8 + v.first_delta_scale : 0);
    EXPECT_EQ(active.vui.nal_hrd.bit_rate_value_minus1[0], v.bit_rate_value_minus1);
  }
  // Another id never touches the active SPS.
  process_sps(baseline_sps(1, SpsTail{.pic_width_in_mbs_minus1 = 3}));
  EXPECT_EQ(sets.active_sps(), &sps_slot(0));
  EXPECT_EQ(sps_slot(1).valid, 1u);
  // Another picture width clears it; the next slice activates the new content.
  process_sps(high_sps({.pic_width_in_mbs_minus1 = 11}));
  EXPECT_EQ(sets.active_sps(), nullptr);
  sets.use_parameter_sets(0);
  EXPECT_EQ(sets.active_sps(), &sps_slot(0));
  EXPECT_EQ(sps_slot(0).pic_width_in_mbs_minus1, 11u);
}

TEST(SpsEqualTest, ComparesOnlyWhatActivationDependsOn) {
  SeqParamSet a;
  a.valid = 1;
  a.pic_order_cnt_type = 1;
  a.num_ref_frames_in_pic_order_cnt_cycle = 2;
  a.offset_for_ref_frame[0] = 5;
  a.offset_for_ref_frame[1] = 6;
  SeqParamSet b = a;
  EXPECT_EQ(sps_equal(a, b), 1);

  b.offset_for_ref_frame[2] = 9;  // beyond the cycle
  b.vui.time_scale = 1;
  b.chroma_format_idc = 3;
  EXPECT_EQ(sps_equal(a, b), 1);

  b.offset_for_ref_frame[1] = 7;
  EXPECT_EQ(sps_equal(a, b), 0);

  b = a;
  b.frame_mbs_only_flag = 1;
  b.mb_adaptive_frame_field_flag = 1;
  EXPECT_EQ(sps_equal(a, b), 0);
  a.frame_mbs_only_flag = 1;
  EXPECT_EQ(sps_equal(a, b), 1);  // the adaptive flag counts only for field coding

  b = a;
  b.frame_crop_top_offset = 4;  // cropping off: not compared
  EXPECT_EQ(sps_equal(a, b), 1);
  a.frame_cropping_flag = b.frame_cropping_flag = 1;
  EXPECT_EQ(sps_equal(a, b), 0);

  b = a;
  b.vui_parameters_present_flag = 1;
  EXPECT_EQ(sps_equal(a, b), 0);

  b = a;
  b.valid = 0;
  EXPECT_EQ(sps_equal(a, b), 0);
  EXPECT_EQ(sps_equal(b, b), 0);
}

// --- Counts and ids beyond the records' capacities --------------------------

TEST_F(SpsTest, OffsetsBeyond256AreReadButNotKept) {
  BitWriter w;
  sps_head(w, 77, 30, 0).ue(0).ue(1).u1(0).se(0).se(0).ue(258);
  for (int i = 0; i < 258; ++i) w.se(i % 2 == 0 ? i : -i);
  w.ue(5).u1(0).ue(1).ue(1).u1(1).u1(1).u1(0).u1(0).trailing_bits();
  process_sps(w);

  const SeqParamSet& sps = sps_slot(0);
  EXPECT_EQ(sps.num_ref_frames_in_pic_order_cnt_cycle, 258u);
  EXPECT_EQ(sps.offset_for_ref_frame[254], 254);
  EXPECT_EQ(sps.offset_for_ref_frame[255], -255);
  EXPECT_EQ(sps.max_num_ref_frames, 5u);
  EXPECT_EQ(sps_equal(sps, sps), 1);
}

TEST_F(SpsTest, HugeOffsetCountEndsWithTheData) {
  // The largest count an Exp-Golomb code of the reader can carry.
  BitWriter w;
  sps_head(w, 77, 30, 0).ue(0).ue(1).u1(0).se(0).se(0).ue(4294967294u).se(-1).se(1);
  w.trailing_bits();
  process_sps(w);
  const SeqParamSet& sps = sps_slot(0);
  EXPECT_EQ(sps.valid, 1u);
  EXPECT_EQ(sps.offset_for_ref_frame[1], 1);
  EXPECT_EQ(sps_equal(sps, sps), 1);
}

TEST_F(SpsTest, IdBeyondTheTableIsReportedAndNotStored) {
  process_sps(baseline_sps(0));
  frame_rate = {77, 7};
  BitWriter w;
  sps_head(w, 77, 41, 40, 1);
  sps_tail(w);
  w.trailing_bits();
  process_sps(w);

  EXPECT_EQ(messages(), std::vector<std::string>{"Sequence Parameter Set ID 40 out of range (0..31), ignore SPS, moving on\n"});
  for (const SeqParamSet& slot : sets.sps_table()) EXPECT_NE(slot.profile_idc, 77u);
  EXPECT_EQ(frame_rate.frame_rate_num, 77u);
  EXPECT_EQ(frame_rate.frame_rate_den, 7u);
  EXPECT_EQ(sets.last_level_idc(), 41u);  // what the parse recorded stays
}

TEST_F(SpsTest, EmptyAndTruncatedSpsDoNotCrash) {
  process_sps(BitWriter{});  // header byte only
  EXPECT_EQ(sps_slot(0).valid, 0u);
  EXPECT_EQ(sets.last_profile_idc(), 0u);

  // Ends after seq_parameter_set_id: the rest reads as 0 and the record is valid.
  BitWriter w;
  sps_head(w, 66, 30, 2).trailing_bits();
  process_sps(w);
  EXPECT_EQ(sps_slot(2).valid, 1u);
  EXPECT_EQ(sps_slot(2).pic_width_in_mbs_minus1, 0u);
}

TEST(SpsStandardReading, High444WithTwelveScalingListsAndBothHrdBlocksAndTheSetsItRefuses) {
  const BitWriter whole = sps_444();
  SeqParamSet sps;
  ASSERT_EQ(parse_standard_sps(whole, sps), ReadStatus::kOk);
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

  // Cut short or out of range: refused.
  for (std::size_t cut : {std::size_t{1}, std::size_t{5}, whole.data().size() - 3}) {
    const std::vector<uint8_t> part(whole.data().begin(), whole.data().begin() + static_cast<long>(cut));
    EXPECT_EQ(parse_seq_parameter_set(part.data(), static_cast<int32_t>(part.size()), sps), ReadStatus::kTruncated)
        << cut;
  }
  BitWriter bad_id;
  bad_id.u(8, 66).u(8, 0).u(8, 30).ue(32).ue(0).ue(2).trailing_bits();
  EXPECT_EQ(parse_standard_sps(bad_id, sps), ReadStatus::kOutOfRange);
  BitWriter wide_delta;
  high_head(wide_delta, 0, 1, 1).u1(1).se(128);  // delta_scale beyond 127
  for (int j = 1; j < 16; ++j) wide_delta.se(0);
  for (int i = 1; i < 8; ++i) wide_delta.u1(0);
  sps_tail(wide_delta).trailing_bits();
  EXPECT_EQ(parse_standard_sps(wide_delta, sps), ReadStatus::kOutOfRange);
  EXPECT_EQ(sps.ScalingList4x4[0][0], 136);
}

// The dialects part only where they say: the check refuses the profiles it
// does not know, reads the former High 4:4:4 profile's chroma fields, and
// reads the bitstream restriction the standard reading stops before.
TEST(SpsStandardReading, DialectsPartWhereTheCheckReadsLessOrDifferently) {
  auto read = [](const BitWriter& w, SeqParamSet& sps, SyntaxDialect dialect) {
    sps = SeqParamSet{};
    BitReader reader = make_bounded_rbsp_reader(w.data().data(), static_cast<int32_t>(w.data().size()));
    return parse_seq_parameter_set(reader, sps, dialect);
  };
  SeqParamSet by_check;
  SeqParamSet by_standard;
  EXPECT_EQ(read(sps_444(), by_check, SyntaxDialect::kCheck), ReadStatus::kOk);
  EXPECT_EQ(by_check.valid, 0u);

  BitWriter former_444;
  sps_head(former_444, 144, 40, 0).ue(2).ue(0).ue(0).u1(0).u1(0);
  sps_tail(former_444).trailing_bits();
  read(former_444, by_check, SyntaxDialect::kCheck);
  read(former_444, by_standard, SyntaxDialect::kStandard);
  EXPECT_EQ(by_check.chroma_format_idc, 2u);
  EXPECT_EQ(by_standard.chroma_format_idc, 1u);
  EXPECT_EQ(by_standard.log2_max_frame_num_minus4, 2u);  // the same bits, read as the next field

  for (bool whole : {true, false}) {
    BitWriter restricted;
    sps_head(restricted, 66, 30, 0);
    sps_tail(restricted, SpsTail{.vui_parameters_present_flag = 1});
    restricted.u1(0).u1(0).u1(0).u1(0).u1(0).u1(0).u1(0).u1(1).u1(1);  // up to bitstream_restriction_flag
    if (whole) restricted.u1(1).ue(2).ue(1).ue(16).ue(16).ue(3).ue(4);
    restricted.trailing_bits();
    EXPECT_EQ(read(restricted, by_standard, SyntaxDialect::kStandard), ReadStatus::kOk) << whole;
    EXPECT_EQ(by_standard.vui.pic_struct_present_flag, 1u);
    EXPECT_EQ(by_standard.vui.bitstream_restriction_flag, 0u);
    EXPECT_EQ(read(restricted, by_check, SyntaxDialect::kCheck), whole ? ReadStatus::kOk : ReadStatus::kTruncated);
    EXPECT_EQ(by_check.vui.max_num_reorder_frames, whole ? 3u : 0u);
  }
}

}  // namespace
}  // namespace tarnwell::test
