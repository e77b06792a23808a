#pragma once
// The sequence parameter set record, its VUI with the two HRD blocks it may
// carry, and the one parser that reads them for every command. Plain values,
// copied whole into their table slot.
#include <array>
#include <cstdint>

#include "base/error_reporter.h"
#include "paramsets/hrd_parameters.h"
#include "paramsets/syntax_dialect.h"
#include "stream/bit_reader.h"

namespace tarnwell {

inline constexpr uint32_t kSpsSlots = 32;                 // seq_parameter_set_id 0 .. 31
inline constexpr uint32_t kMaxRefFramesInPocCycle = 256;  // offset_for_ref_frame entries

struct VuiParameters {
  uint32_t aspect_ratio_info_present_flag = 0;
  uint32_t aspect_ratio_idc = 0;
  uint32_t sar_width = 0;
  uint32_t sar_height = 0;
  uint32_t overscan_info_present_flag = 0;
  uint32_t overscan_appropriate_flag = 0;
  uint32_t video_signal_type_present_flag = 0;
  uint32_t video_format = 0;
  uint32_t video_full_range_flag = 0;
  uint32_t colour_description_present_flag = 0;
  uint32_t colour_primaries = 0;
  uint32_t transfer_characteristics = 0;
  uint32_t matrix_coefficients = 0;
  uint32_t chroma_loc_info_present_flag = 0;
  uint32_t chroma_sample_loc_type_top_field = 0;
  uint32_t chroma_sample_loc_type_bottom_field = 0;
  uint32_t timing_info_present_flag = 0;
  uint32_t num_units_in_tick = 0;
  uint32_t time_scale = 0;
  uint32_t fixed_frame_rate_flag = 0;
  uint32_t nal_hrd_parameters_present_flag = 0;
  HrdParameters nal_hrd;
  uint32_t vcl_hrd_parameters_present_flag = 0;
  HrdParameters vcl_hrd;
  uint32_t low_delay_hrd_flag = 0;
  uint32_t pic_struct_present_flag = 0;
  uint32_t bitstream_restriction_flag = 0;
  uint32_t motion_vectors_over_pic_boundaries_flag = 0;
  uint32_t max_bytes_per_pic_denom = 0;
  uint32_t max_bits_per_mb_denom = 0;
  uint32_t log2_max_mv_length_horizontal = 0;
  uint32_t log2_max_mv_length_vertical = 0;
  uint32_t max_num_reorder_frames = 0;
  uint32_t max_dec_frame_buffering = 0;

  bool operator==(const VuiParameters&) const = default;
};

struct SeqParamSet {
  uint32_t valid = 0;  // 1 once a parse with an accepted profile_idc has completed
  uint32_t profile_idc = 0;
  uint32_t constraint_set0_flag = 0;
  uint32_t constraint_set1_flag = 0;
  uint32_t constraint_set2_flag = 0;
  uint32_t constraint_set3_flag = 0;
  uint32_t constraint_set4_flag = 0;
  uint32_t constraint_set5_flag = 0;
  uint32_t level_idc = 0;
  uint32_t seq_parameter_set_id = 0;
  uint32_t chroma_format_idc = 0;
  uint32_t separate_colour_plane_flag = 0;
  uint32_t bit_depth_luma_minus8 = 0;
  uint32_t bit_depth_chroma_minus8 = 0;
  uint32_t qpprime_y_zero_transform_bypass_flag = 0;
  uint32_t seq_scaling_matrix_present_flag = 0;
  std::array<uint32_t, 12> seq_scaling_list_present_flag{};
  std::array<std::array<int32_t, 16>, 6> ScalingList4x4{};  // raster order
  std::array<std::array<int32_t, 64>, 6> ScalingList8x8{};  // raster order
  std::array<uint32_t, 12> UseDefaultScalingMatrixFlag{};   // 0 .. 5: 4x4 lists, 6 .. 11: 8x8 lists
  uint32_t log2_max_frame_num_minus4 = 0;
  uint32_t pic_order_cnt_type = 0;
  uint32_t log2_max_pic_order_cnt_lsb_minus4 = 0;
  uint32_t delta_pic_order_always_zero_flag = 0;
  int32_t offset_for_non_ref_pic = 0;
  int32_t offset_for_top_to_bottom_field = 0;
  uint32_t num_ref_frames_in_pic_order_cnt_cycle = 0;
  std::array<int32_t, kMaxRefFramesInPocCycle> offset_for_ref_frame{};
  uint32_t max_num_ref_frames = 0;
  uint32_t gaps_in_frame_num_value_allowed_flag = 0;
  uint32_t pic_width_in_mbs_minus1 = 0;
  uint32_t pic_height_in_map_units_minus1 = 0;
  uint32_t frame_mbs_only_flag = 0;
  uint32_t mb_adaptive_frame_field_flag = 0;
  uint32_t direct_8x8_inference_flag = 0;
  uint32_t frame_cropping_flag = 0;
  uint32_t frame_crop_left_offset = 0;
  uint32_t frame_crop_right_offset = 0;
  uint32_t frame_crop_top_offset = 0;
  uint32_t frame_crop_bottom_offset = 0;
  uint32_t vui_parameters_present_flag = 0;
  VuiParameters vui;

  // PicWidthInMbs * FrameHeightInMbs; a field holds half of it.
  uint64_t frame_size_in_mbs() const {
    return (uint64_t{pic_width_in_mbs_minus1} + 1) * (2 - uint64_t{frame_mbs_only_flag}) *
           (uint64_t{pic_height_in_map_units_minus1} + 1);
  }
  // CpbDpbDelaysPresentFlag: picture timing SEI carries removal delays.
  bool cpb_dpb_delays_present() const {
    return vui.nal_hrd_parameters_present_flag != 0 || vui.vcl_hrd_parameters_present_flag != 0;
  }
  // The HRD block whose lengths size the picture timing fields.
  const HrdParameters& timing_hrd() const {
    return vui.nal_hrd_parameters_present_flag != 0 ? vui.nal_hrd : vui.vcl_hrd;
  }

  // Every field alike. Whether a re-sent SPS keeps the active one is sps_equal's question.
  bool operator==(const SeqParamSet&) const = default;
};

// Reads seq_parameter_set_data() from a reader set on the byte after the NAL
// header byte into a fresh record, and marks it valid unless the check's
// dialect refuses its profile. Counts beyond a record's capacity are read
// (so the position stays right) but not kept. `reporter` (the check's dialect
// only) hears of a set the check no longer supports. Returns the status.
ReadStatus parse_seq_parameter_set(BitReader& reader, SeqParamSet& sps, SyntaxDialect dialect,
                                   ErrorReporter* reporter = nullptr);
// vui_parameters() and hrd_parameters() as parse_seq_parameter_set reads them.
void parse_vui_parameters(BitReader& reader, VuiParameters& vui, SyntaxDialect dialect);
void parse_hrd_parameters(BitReader& reader, HrdParameters& hrd);
// The standard reading of an SPS RBSP of `size` bytes (after the NAL header,
// emulation prevention removed) into `sps`, which is reset first.
ReadStatus parse_seq_parameter_set(const uint8_t* rbsp, int32_t size, SeqParamSet& sps);

// 1 when a re-sent SPS leaves everything that activation and the slice
// header depend on as it was, else 0. An invalid record never counts as equal.
int32_t sps_equal(const SeqParamSet& a, const SeqParamSet& b);

}  // namespace tarnwell
