// VUI and HRD parameters of a sequence parameter set.
#include "paramsets/excess_entries.h"
#include "paramsets/parameter_sets.h"

namespace tarnwell {

void parse_vui_parameters(BitReader& reader, VuiParameters& vui, SyntaxDialect dialect) {
  vui.aspect_ratio_info_present_flag = read_u1("VUI: aspect_ratio_info_present_flag", reader);
  if (vui.aspect_ratio_info_present_flag == 1) {
    vui.aspect_ratio_idc = read_u(8, "VUI: aspect_ratio_idc", reader);
    if (vui.aspect_ratio_idc == 255) {  // Extended_SAR
      vui.sar_width = read_u(16, "VUI: sar_width", reader);
      vui.sar_height = read_u(16, "VUI: sar_height", reader);
    }
  }
  vui.overscan_info_present_flag = read_u1("VUI: overscan_info_present_flag", reader);
  if (vui.overscan_info_present_flag == 1) {
    vui.overscan_appropriate_flag = read_u1("VUI: overscan_appropriate_flag", reader);
  }
  vui.video_signal_type_present_flag = read_u1("VUI: video_signal_type_present_flag", reader);
  if (vui.video_signal_type_present_flag == 1) {
    vui.video_format = read_u(3, "VUI: video_format", reader);
    vui.video_full_range_flag = read_u1("VUI: video_full_range_flag", reader);
    vui.colour_description_present_flag = read_u1("VUI: colour_description_present_flag", reader);
    if (vui.colour_description_present_flag == 1) {
      vui.colour_primaries = read_u(8, "VUI: colour_primaries", reader);
      vui.transfer_characteristics = read_u(8, "VUI: transfer_characteristics", reader);
      vui.matrix_coefficients = read_u(8, "VUI: matrix_coefficients", reader);
    }
  }
  vui.chroma_loc_info_present_flag = read_u1("VUI: chroma_loc_info_present_flag", reader);
  if (vui.chroma_loc_info_present_flag == 1) {
    vui.chroma_sample_loc_type_top_field = read_ue("VUI: chroma_sample_loc_type_top_field", reader);
    vui.chroma_sample_loc_type_bottom_field = read_ue("VUI: chroma_sample_loc_type_bottom_field", reader);
  }
  vui.timing_info_present_flag = read_u1("VUI: timing_info_present_flag", reader);
  if (vui.timing_info_present_flag == 1) {
    vui.num_units_in_tick = read_u(32, "VUI: num_units_in_tick", reader);
    vui.time_scale = read_u(32, "VUI: time_scale", reader);
    vui.fixed_frame_rate_flag = read_u1("VUI: fixed_frame_rate_flag", reader);
  }
  vui.nal_hrd_parameters_present_flag = read_u1("VUI: nal_hrd_parameters_present_flag", reader);
  if (vui.nal_hrd_parameters_present_flag == 1) parse_hrd_parameters(reader, vui.nal_hrd);
  vui.vcl_hrd_parameters_present_flag = read_u1("VUI: vcl_hrd_parameters_present_flag", reader);
  if (vui.vcl_hrd_parameters_present_flag == 1) parse_hrd_parameters(reader, vui.vcl_hrd);
  if (vui.nal_hrd_parameters_present_flag == 1 || vui.vcl_hrd_parameters_present_flag == 1) {
    vui.low_delay_hrd_flag = read_u1("VUI: low_delay_hrd_flag", reader);
  }
  vui.pic_struct_present_flag = read_u1("VUI: pic_struct_present_flag", reader);
  // The standard reading stops here: the restriction says nothing about timing.
  if (dialect == SyntaxDialect::kStandard) return;
  vui.bitstream_restriction_flag = read_u1("VUI: bitstream_restriction_flag", reader);
  if (vui.bitstream_restriction_flag == 1) {
    vui.motion_vectors_over_pic_boundaries_flag = read_u1("VUI: motion_vectors_over_pic_boundaries_flag", reader);
    vui.max_bytes_per_pic_denom = read_ue("VUI: max_bytes_per_pic_denom", reader);
    vui.max_bits_per_mb_denom = read_ue("VUI: max_bits_per_mb_denom", reader);
    vui.log2_max_mv_length_horizontal = read_ue("VUI: log2_max_mv_length_horizontal", reader);
    vui.log2_max_mv_length_vertical = read_ue("VUI: log2_max_mv_length_vertical", reader);
    vui.max_num_reorder_frames = read_ue("VUI: max_num_reorder_frames", reader);
    vui.max_dec_frame_buffering = read_ue("VUI: max_dec_frame_buffering", reader);
  }
}

void parse_hrd_parameters(BitReader& reader, HrdParameters& hrd) {
  hrd.cpb_cnt_minus1 = read_ue_max("HRD: cpb_cnt_minus1", kMaxCpbEntries - 1, reader);
  hrd.bit_rate_scale = read_u(4, "HRD: bit_rate_scale", reader);
  hrd.cpb_size_scale = read_u(4, "HRD: cpb_size_scale", reader);
  const uint64_t announced = static_cast<uint64_t>(hrd.cpb_cnt_minus1) + 1;
  const uint64_t kept = announced < kMaxCpbEntries ? announced : kMaxCpbEntries;
  for (uint64_t i = 0; i < kept; ++i) {
    hrd.bit_rate_value_minus1[i] = read_ue("HRD: bit_rate_value_minus1", reader);
    hrd.cpb_size_value_minus1[i] = read_ue("HRD: cpb_size_value_minus1", reader);
    hrd.cbr_flag[i] = read_u1("HRD: cbr_flag", reader);
  }
  read_excess_entries(announced - kept, reader, [&reader] {
    read_ue("HRD: bit_rate_value_minus1", reader);
    read_ue("HRD: cpb_size_value_minus1", reader);
    read_u1("HRD: cbr_flag", reader);
  });
  hrd.initial_cpb_removal_delay_length_minus1 = read_u(5, "HRD: initial_cpb_removal_delay_length_minus1", reader);
  hrd.cpb_removal_delay_length_minus1 = read_u(5, "HRD: cpb_removal_delay_length_minus1", reader);
  hrd.dpb_output_delay_length_minus1 = read_u(5, "HRD: dpb_output_delay_length_minus1", reader);
  hrd.time_offset_length = read_u(5, "HRD: time_offset_length", reader);
}

}  // namespace tarnwell
