#include "paramsets/full_sps.h"

#include "paramsets/rbsp_reader.h"

namespace tarnwell {
namespace {

// The profiles whose SPS carries chroma_format_idc, bit depths and scaling
// matrices (7.3.2.1.1).
bool has_chroma_format(uint32_t profile_idc) {
  switch (profile_idc) {
    case 100:
    case 110:
    case 122:
    case 244:
    case 44:
    case 83:
    case 86:
    case 118:
    case 128:
    case 138:
    case 139:
    case 134:
    case 135:
      return true;
    default:
      return false;
  }
}

// Skips one scaling_list() of 16 or 64 entries: only the bit position matters.
void skip_scaling_list(BitReader& r, int size) {
  int32_t last_scale = 8;
  int32_t next_scale = 8;
  for (int j = 0; j < size && r.ok(); ++j) {
    if (next_scale != 0) {
      const int64_t delta = read_se("SPS: delta_scale", r);
      if (delta < -128 || delta > 127) r.fail(ReadStatus::kOutOfRange);
      next_scale = static_cast<int32_t>((last_scale + delta + 256) % 256);
    }
    if (next_scale != 0) last_scale = next_scale;
  }
}

void read_hrd(BitReader& r, HrdParameters& hrd) {
  hrd.cpb_cnt_minus1 = read_ue_max("HRD: cpb_cnt_minus1", kMaxCpbEntries - 1, r);
  hrd.bit_rate_scale = read_u(4, "HRD: bit_rate_scale", r);
  hrd.cpb_size_scale = read_u(4, "HRD: cpb_size_scale", r);
  for (uint32_t i = 0; i <= hrd.cpb_cnt_minus1 && r.ok(); ++i) {
    hrd.bit_rate_value_minus1[i] = read_ue_max("HRD: bit_rate_value_minus1", 0xFFFFFFFEu, r);
    hrd.cpb_size_value_minus1[i] = read_ue_max("HRD: cpb_size_value_minus1", 0xFFFFFFFEu, r);
    hrd.cbr_flag[i] = read_u1("HRD: cbr_flag", r);
  }
  hrd.initial_cpb_removal_delay_length_minus1 = read_u(5, "HRD: initial_cpb_removal_delay_length_minus1", r);
  hrd.cpb_removal_delay_length_minus1 = read_u(5, "HRD: cpb_removal_delay_length_minus1", r);
  hrd.dpb_output_delay_length_minus1 = read_u(5, "HRD: dpb_output_delay_length_minus1", r);
  hrd.time_offset_length = read_u(5, "HRD: time_offset_length", r);
}

void read_vui(BitReader& r, FullSps& sps) {
  if (read_u1("VUI: aspect_ratio_info_present_flag", r) == 1) {
    if (read_u(8, "VUI: aspect_ratio_idc", r) == 255) {
      read_u(16, "VUI: sar_width", r);
      read_u(16, "VUI: sar_height", r);
    }
  }
  if (read_u1("VUI: overscan_info_present_flag", r) == 1) read_u1("VUI: overscan_appropriate_flag", r);
  if (read_u1("VUI: video_signal_type_present_flag", r) == 1) {
    read_u(3, "VUI: video_format", r);
    read_u1("VUI: video_full_range_flag", r);
    if (read_u1("VUI: colour_description_present_flag", r) == 1) {
      read_u(8, "VUI: colour_primaries", r);
      read_u(8, "VUI: transfer_characteristics", r);
      read_u(8, "VUI: matrix_coefficients", r);
    }
  }
  if (read_u1("VUI: chroma_loc_info_present_flag", r) == 1) {
    read_ue("VUI: chroma_sample_loc_type_top_field", r);
    read_ue("VUI: chroma_sample_loc_type_bottom_field", r);
  }
  sps.timing_info_present_flag = read_u1("VUI: timing_info_present_flag", r);
  if (sps.timing_info_present_flag == 1) {
    sps.num_units_in_tick = read_u(32, "VUI: num_units_in_tick", r);
    sps.time_scale = read_u(32, "VUI: time_scale", r);
    sps.fixed_frame_rate_flag = read_u1("VUI: fixed_frame_rate_flag", r);
  }
  sps.nal_hrd_parameters_present_flag = read_u1("VUI: nal_hrd_parameters_present_flag", r);
  if (sps.nal_hrd_parameters_present_flag == 1) read_hrd(r, sps.nal_hrd);
  sps.vcl_hrd_parameters_present_flag = read_u1("VUI: vcl_hrd_parameters_present_flag", r);
  if (sps.vcl_hrd_parameters_present_flag == 1) read_hrd(r, sps.vcl_hrd);
  if (sps.cpb_dpb_delays_present()) sps.low_delay_hrd_flag = read_u1("VUI: low_delay_hrd_flag", r);
  sps.pic_struct_present_flag = read_u1("VUI: pic_struct_present_flag", r);
  // The bitstream restriction that may follow says nothing about timing.
}

}  // namespace

uint64_t hrd_bit_rate(const HrdParameters& hrd, uint32_t i) {
  if (i >= kMaxCpbEntries) return 0;
  return (uint64_t{hrd.bit_rate_value_minus1[i]} + 1) << (6 + (hrd.bit_rate_scale & 15u));
}

uint64_t hrd_cpb_size(const HrdParameters& hrd, uint32_t i) {
  if (i >= kMaxCpbEntries) return 0;
  return (uint64_t{hrd.cpb_size_value_minus1[i]} + 1) << (4 + (hrd.cpb_size_scale & 15u));
}

ReadStatus parse_full_sps(const uint8_t* rbsp, int32_t size, FullSps& sps) {
  sps = FullSps{};
  BitReader r = make_bounded_rbsp_reader(rbsp, size);
  sps.profile_idc = read_u(8, "SPS: profile_idc", r);
  sps.constraint_set0_flag = read_u1("SPS: constraint_set0_flag", r);
  sps.constraint_set1_flag = read_u1("SPS: constraint_set1_flag", r);
  sps.constraint_set2_flag = read_u1("SPS: constraint_set2_flag", r);
  sps.constraint_set3_flag = read_u1("SPS: constraint_set3_flag", r);
  sps.constraint_set4_flag = read_u1("SPS: constraint_set4_flag", r);
  sps.constraint_set5_flag = read_u1("SPS: constraint_set5_flag", r);
  read_u(2, "SPS: reserved_zero_2bits", r);
  sps.level_idc = read_u(8, "SPS: level_idc", r);
  sps.seq_parameter_set_id = read_ue_max("SPS: seq_parameter_set_id", kSpsSlots - 1, r);
  if (has_chroma_format(sps.profile_idc)) {
    sps.chroma_format_idc = read_ue_max("SPS: chroma_format_idc", 3, r);
    if (sps.chroma_format_idc == 3) sps.separate_colour_plane_flag = read_u1("SPS: separate_colour_plane_flag", r);
    read_ue_max("SPS: bit_depth_luma_minus8", 6, r);
    read_ue_max("SPS: bit_depth_chroma_minus8", 6, r);
    read_u1("SPS: qpprime_y_zero_transform_bypass_flag", r);
    if (read_u1("SPS: seq_scaling_matrix_present_flag", r) == 1) {
      const int lists = sps.chroma_format_idc != 3 ? 8 : 12;
      for (int i = 0; i < lists && r.ok(); ++i) {
        if (read_u1("SPS: seq_scaling_list_present_flag", r) == 1) skip_scaling_list(r, i < 6 ? 16 : 64);
      }
    }
  }
  sps.log2_max_frame_num_minus4 = read_ue_max("SPS: log2_max_frame_num_minus4", 12, r);
  sps.pic_order_cnt_type = read_ue_max("SPS: pic_order_cnt_type", 2, r);
  if (sps.pic_order_cnt_type == 0) {
    sps.log2_max_pic_order_cnt_lsb_minus4 = read_ue_max("SPS: log2_max_pic_order_cnt_lsb_minus4", 12, r);
  } else if (sps.pic_order_cnt_type == 1) {
    sps.delta_pic_order_always_zero_flag = read_u1("SPS: delta_pic_order_always_zero_flag", r);
    read_se("SPS: offset_for_non_ref_pic", r);
    read_se("SPS: offset_for_top_to_bottom_field", r);
    const uint32_t cycle = read_ue_max("SPS: num_ref_frames_in_pic_order_cnt_cycle", 255, r);
    for (uint32_t i = 0; i < cycle && r.ok(); ++i) read_se("SPS: offset_for_ref_frame", r);
  }
  read_ue("SPS: max_num_ref_frames", r);
  read_u1("SPS: gaps_in_frame_num_value_allowed_flag", r);
  sps.pic_width_in_mbs_minus1 = read_ue_max("SPS: pic_width_in_mbs_minus1", 65535, r);
  sps.pic_height_in_map_units_minus1 = read_ue_max("SPS: pic_height_in_map_units_minus1", 65535, r);
  sps.frame_mbs_only_flag = read_u1("SPS: frame_mbs_only_flag", r);
  if (sps.frame_mbs_only_flag == 0) read_u1("SPS: mb_adaptive_frame_field_flag", r);
  read_u1("SPS: direct_8x8_inference_flag", r);
  if (read_u1("SPS: frame_cropping_flag", r) == 1) {
    read_ue("SPS: frame_crop_left_offset", r);
    read_ue("SPS: frame_crop_right_offset", r);
    read_ue("SPS: frame_crop_top_offset", r);
    read_ue("SPS: frame_crop_bottom_offset", r);
  }
  sps.vui_parameters_present_flag = read_u1("SPS: vui_parameters_present_flag", r);
  if (sps.vui_parameters_present_flag == 1) read_vui(r, sps);
  return r.status;
}

ReadStatus parse_full_pps(const uint8_t* rbsp, int32_t size, FullPps& pps) {
  pps = FullPps{};
  BitReader r = make_bounded_rbsp_reader(rbsp, size);
  pps.pic_parameter_set_id = read_ue_max("PPS: pic_parameter_set_id", 255, r);
  pps.seq_parameter_set_id = read_ue_max("PPS: seq_parameter_set_id", kSpsSlots - 1, r);
  read_u1("PPS: entropy_coding_mode_flag", r);
  pps.bottom_field_pic_order_in_frame_present_flag = read_u1("PPS: bottom_field_pic_order_in_frame_present_flag", r);
  const uint32_t num_slice_groups_minus1 = read_ue_max("PPS: num_slice_groups_minus1", 7, r);
  if (num_slice_groups_minus1 > 0) {
    const uint32_t map_type = read_ue_max("PPS: slice_group_map_type", 6, r);
    if (map_type == 0) {
      for (uint32_t g = 0; g <= num_slice_groups_minus1 && r.ok(); ++g) read_ue("PPS: run_length_minus1", r);
    } else if (map_type == 2) {
      for (uint32_t g = 0; g < num_slice_groups_minus1 && r.ok(); ++g) {
        read_ue("PPS: top_left", r);
        read_ue("PPS: bottom_right", r);
      }
    } else if (map_type >= 3 && map_type <= 5) {
      read_u1("PPS: slice_group_change_direction_flag", r);
      read_ue("PPS: slice_group_change_rate_minus1", r);
    } else if (map_type == 6) {
      const uint32_t units = read_ue("PPS: pic_size_in_map_units_minus1", r);
      const int bits = num_slice_groups_minus1 >= 4 ? 3 : (num_slice_groups_minus1 >= 2 ? 2 : 1);
      // Each slice_group_id takes bits; more than the data holds is a truncation.
      if (int64_t{units} + 1 > bits_left(r) / bits) {
        r.fail(ReadStatus::kTruncated);
      }
      for (uint64_t i = 0; i <= units && r.ok(); ++i) read_u(bits, "PPS: slice_group_id", r);
    }
  }
  read_ue_max("PPS: num_ref_idx_l0_default_active_minus1", 31, r);
  read_ue_max("PPS: num_ref_idx_l1_default_active_minus1", 31, r);
  read_u1("PPS: weighted_pred_flag", r);
  read_u(2, "PPS: weighted_bipred_idc", r);
  read_se("PPS: pic_init_qp_minus26", r);
  read_se("PPS: pic_init_qs_minus26", r);
  read_se("PPS: chroma_qp_index_offset", r);
  read_u1("PPS: deblocking_filter_control_present_flag", r);
  read_u1("PPS: constrained_intra_pred_flag", r);
  pps.redundant_pic_cnt_present_flag = read_u1("PPS: redundant_pic_cnt_present_flag", r);
  return r.status;
}

}  // namespace tarnwell
