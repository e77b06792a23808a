// VUI and HRD parameters of a sequence parameter set.
#include "paramsets/excess_entries.h"
#include "paramsets/parameter_sets.h"

#include <cstdio>
#include <functional>

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
  if (vui.nal_hrd_parameters_present_flag == 1) {
    parse_hrd_parameters(reader, vui.nal_hrd);
  }
  vui.vcl_hrd_parameters_present_flag = read_u1("VUI: vcl_hrd_parameters_present_flag", reader);
  if (vui.vcl_hrd_parameters_present_flag == 1) {
    parse_hrd_parameters(reader, vui.vcl_hrd);
  }
  if (vui.nal_hrd_parameters_present_flag == 1 || vui.vcl_hrd_parameters_present_flag == 1) {
    vui.low_delay_hrd_flag = read_u1("VUI: low_delay_hrd_flag", reader);
  }
  vui.pic_struct_present_flag = read_u1("VUI: pic_struct_present_flag", reader);
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

namespace {

void report_hrd_block(const HrdParameters& hrd, const std::function<void(const char*)>& line) {
  char text[256];
  auto put = [&](const char* format, auto... values) {
    std::snprintf(text, sizeof text, format, values...);
    line(text);
  };
  put("cpb_cnt_minus1 = %d\n", static_cast<int32_t>(hrd.cpb_cnt_minus1));
  put("bit_rate_scale = %d\n", static_cast<int32_t>(hrd.bit_rate_scale));
  put("cpb_size_scale = %d\n\n", static_cast<int32_t>(hrd.cpb_size_scale));
  // The products are the HRD's bit rate and CPB size in 32-bit unsigned
  // arithmetic. The scales are 4-bit fields, so the shifts stay below 32.
  const uint32_t bit_rate_unit = 1u << (6 + (hrd.bit_rate_scale & 15u));
  const uint32_t cpb_size_unit = 1u << (4 + (hrd.cpb_size_scale & 15u));
  const uint64_t announced = static_cast<uint64_t>(hrd.cpb_cnt_minus1) + 1;
  const uint64_t kept = announced < kMaxCpbEntries ? announced : kMaxCpbEntries;
  for (uint64_t i = 0; i < kept; ++i) {
    const int32_t index = static_cast<int32_t>(i);
    put("bit_rate_value_minus1[%d] = %d [%u bits/s]\n", index, static_cast<int32_t>(hrd.bit_rate_value_minus1[i]),
        (hrd.bit_rate_value_minus1[i] + 1u) * bit_rate_unit);
    put("cpb_size_value_minus1[%d] = %d [%u bits]\n", index, static_cast<int32_t>(hrd.cpb_size_value_minus1[i]),
        (hrd.cpb_size_value_minus1[i] + 1u) * cpb_size_unit);
    put("cbr_flag[%d] = %d\n\n", index, static_cast<int32_t>(hrd.cbr_flag[i]));
  }
  if (announced > kept) {
    put("%u more entries announced by cpb_cnt_minus1 not printed\n\n", static_cast<uint32_t>(announced - kept));
  }
  put("initial_cpb_removal_delay_length_minus1 = %d\n", static_cast<int32_t>(hrd.initial_cpb_removal_delay_length_minus1));
  put("cpb_removal_delay_length_minus1 = %d\n", static_cast<int32_t>(hrd.cpb_removal_delay_length_minus1));
  put("dpb_output_delay_length_minus1 = %d\n", static_cast<int32_t>(hrd.dpb_output_delay_length_minus1));
  put("time_offset_length = %d\n\n", static_cast<int32_t>(hrd.time_offset_length));
}

}  // namespace

void ParameterSets::report_hrd(const SeqParamSet& sps) {
  if (!report_on() || sps.valid != 1) return;
  const auto line = [this](const char* text) { std::fputs(text, hrd_report_file_); };
  if (sps.vui.nal_hrd_parameters_present_flag == 1) {
    line("NAL HRD INFO:\n\n");
    report_hrd_block(sps.vui.nal_hrd, line);
  }
  if (sps.vui.vcl_hrd_parameters_present_flag == 1) {
    line("VCL HRD INFO:\n\n");
    report_hrd_block(sps.vui.vcl_hrd, line);
  }
}

}  // namespace tarnwell
