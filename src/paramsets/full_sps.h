#pragma once
// The parameter sets as the HRD conformance check reads them: every profile
// the H.264 standard defines (High 4:4:4 Predictive's twelve scaling lists
// included), the VUI timing, both HRD blocks with all their schedules, and
// the PPS values that picture boundaries depend on. Independent of the
// check's own SPS reading, which keeps its narrower list of profiles.
#include <array>
#include <cstdint>

#include "paramsets/sps.h"
#include "stream/bit_reader.h"

namespace tarnwell {

struct FullSps {
  uint32_t profile_idc = 0;
  uint32_t constraint_set0_flag = 0;
  uint32_t constraint_set1_flag = 0;
  uint32_t constraint_set2_flag = 0;
  uint32_t constraint_set3_flag = 0;
  uint32_t constraint_set4_flag = 0;
  uint32_t constraint_set5_flag = 0;
  uint32_t level_idc = 0;
  uint32_t seq_parameter_set_id = 0;
  uint32_t chroma_format_idc = 1;
  uint32_t separate_colour_plane_flag = 0;
  uint32_t log2_max_frame_num_minus4 = 0;
  uint32_t pic_order_cnt_type = 0;
  uint32_t log2_max_pic_order_cnt_lsb_minus4 = 0;
  uint32_t delta_pic_order_always_zero_flag = 0;
  uint32_t pic_width_in_mbs_minus1 = 0;
  uint32_t pic_height_in_map_units_minus1 = 0;
  uint32_t frame_mbs_only_flag = 1;
  uint32_t vui_parameters_present_flag = 0;
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

  // PicWidthInMbs * FrameHeightInMbs; a field holds half of it.
  uint64_t frame_size_in_mbs() const {
    return (uint64_t{pic_width_in_mbs_minus1} + 1) * (2 - uint64_t{frame_mbs_only_flag}) *
           (uint64_t{pic_height_in_map_units_minus1} + 1);
  }
  // CpbDpbDelaysPresentFlag: picture timing SEI carries removal delays.
  bool cpb_dpb_delays_present() const {
    return nal_hrd_parameters_present_flag != 0 || vcl_hrd_parameters_present_flag != 0;
  }
  // The HRD block whose lengths size the picture timing fields.
  const HrdParameters& timing_hrd() const { return nal_hrd_parameters_present_flag != 0 ? nal_hrd : vcl_hrd; }
};

struct FullPps {
  uint32_t pic_parameter_set_id = 0;
  uint32_t seq_parameter_set_id = 0;
  uint32_t bottom_field_pic_order_in_frame_present_flag = 0;
  uint32_t redundant_pic_cnt_present_flag = 0;
};

// BitRate and CpbSize of one schedule of an HRD block (E-71, E-72).
uint64_t hrd_bit_rate(const HrdParameters& hrd, uint32_t sched_sel_idx);
uint64_t hrd_cpb_size(const HrdParameters& hrd, uint32_t sched_sel_idx);

// rbsp: the bytes after the NAL header, emulation prevention bytes removed.
ReadStatus parse_full_sps(const uint8_t* rbsp, int32_t size, FullSps& sps);
ReadStatus parse_full_pps(const uint8_t* rbsp, int32_t size, FullPps& pps);

}  // namespace tarnwell
