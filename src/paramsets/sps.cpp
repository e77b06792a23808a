// Sequence parameter sets: the NAL handler, the SPS syntax, storage and the
// equality test by which a re-sent SPS keeps the active one active.
#include <algorithm>
#include <new>

#include "paramsets/excess_entries.h"
#include "paramsets/parameter_sets.h"
#include "paramsets/rbsp_reader.h"
#include "paramsets/scaling_list.h"

namespace tarnwell {
namespace {

bool is_check_profile(uint32_t profile_idc) {
  switch (profile_idc) {
    case 66: case 77: case 88: case 44: case 83: case 86: case 100: case 110: case 122: case 144:
      return true;
    default:
      return false;
  }
}

// Profiles whose SPS carries chroma format, bit depths and scaling matrices:
// the check's list keeps the former High 4:4:4 profile (144) and knows none
// defined after it.
bool has_chroma_format_info(uint32_t profile_idc, SyntaxDialect dialect) {
  switch (profile_idc) {
    case 100: case 110: case 122: case 44: case 83: case 86:
      return true;
    case 144:
      return dialect == SyntaxDialect::kCheck;
    case 244: case 118: case 128: case 138: case 139: case 134: case 135:
      return dialect == SyntaxDialect::kStandard;
    default:
      return false;
  }
}

}  // namespace

std::unique_ptr<SeqParamSet> ParameterSets::AllocSPS() {
  std::unique_ptr<SeqParamSet> sps(new (std::nothrow) SeqParamSet{});
  if (!sps) reporter_.report_out_of_memory("AllocSPS: SPS");
  return sps;
}

void ParameterSets::process_sps_nal(const NalUnit& nal) {
  std::unique_ptr<SeqParamSet> sps = AllocSPS();
  if (!sps) return;

  BitReader reader = make_rbsp_reader(nal);
  parse_sps(reader, *sps);
  if (sps->valid != 1) return;

  const uint32_t id = sps->seq_parameter_set_id;
  if (id >= kSpsSlots) {
    reporter_.notify_error("Sequence Parameter Set ID %u out of range (0..31), ignore SPS, moving on\n", id);
    return;
  }
  // The active SPS is the slot itself: compare before the slot is overwritten.
  if (active_sps_ != nullptr && active_sps_id_ == id && sps_equal(*sps, *active_sps_) == 0) active_sps_ = nullptr;
  sps_table_[id] = *sps;
  sps_stored_.set(id);
  publish_frame_rate(*sps);
}

void ParameterSets::publish_frame_rate(const SeqParamSet& sps) {
  // 64 bits: doubling a 32-bit tick count must not wrap.
  const uint64_t ticks = 2 * static_cast<uint64_t>(sps.vui.num_units_in_tick);
  frame_rate_.assumed = sps.vui.fixed_frame_rate_flag != 1;
  frame_rate_.frame_rate_num = frame_rate_.assumed ? 50 : sps.vui.time_scale;
  frame_rate_.frame_rate_den = frame_rate_.assumed ? 2 : ticks;
  // Beside the rule's fraction, for a front end that offers the stream's own
  // timing where the rule assumes 25 pictures a second.
  const bool timing = sps.vui_parameters_present_flag != 0 && sps.vui.timing_info_present_flag != 0;
  frame_rate_.timing_num = timing ? sps.vui.time_scale : 0;
  frame_rate_.timing_den = timing ? ticks : 0;
}

void ParameterSets::parse_sps(BitReader& reader, SeqParamSet& sps) {
  parse_seq_parameter_set(reader, sps, SyntaxDialect::kCheck, &reporter_);
  last_profile_idc_ = sps.profile_idc;
  if (sps.valid == 1) {
    last_constraint_set3_flag_ = sps.constraint_set3_flag;
    last_level_idc_ = sps.level_idc;
    if (sps_listener_) sps_listener_(sps);
  }
}

ReadStatus parse_seq_parameter_set(const uint8_t* rbsp, int32_t size, SeqParamSet& sps) {
  sps = SeqParamSet{};
  BitReader reader = make_bounded_rbsp_reader(rbsp, size);
  return parse_seq_parameter_set(reader, sps, SyntaxDialect::kStandard);
}

ReadStatus parse_seq_parameter_set(BitReader& reader, SeqParamSet& sps, SyntaxDialect dialect,
                                   ErrorReporter* reporter) {
  const bool check = dialect == SyntaxDialect::kCheck;
  sps.profile_idc = read_u(8, "SPS: profile_idc", reader);
  // The check reads no further than a profile it does not know.
  if (check && !is_check_profile(sps.profile_idc)) return reader.status;
  sps.constraint_set0_flag = read_u1("SPS: constraint_set0_flag", reader);
  sps.constraint_set1_flag = read_u1("SPS: constraint_set1_flag", reader);
  sps.constraint_set2_flag = read_u1("SPS: constraint_set2_flag", reader);
  sps.constraint_set3_flag = read_u1("SPS: constraint_set3_flag", reader);
  // One read of four bits, as the check has always read them: a set that
  // ends inside them reads on from the same position in every dialect.
  const uint32_t last_flags = read_u(4, "SPS: constraint_set4_flag, constraint_set5_flag, reserved_zero_2bits", reader);
  sps.constraint_set4_flag = (last_flags >> 3) & 1u;
  sps.constraint_set5_flag = (last_flags >> 2) & 1u;
  sps.level_idc = read_u(8, "SPS: level_idc", reader);
  sps.seq_parameter_set_id = read_ue_max("SPS: seq_parameter_set_id", kSpsSlots - 1, reader);

  sps.chroma_format_idc = 1;
  if (has_chroma_format_info(sps.profile_idc, dialect)) {
    sps.chroma_format_idc = read_ue_max("SPS: chroma_format_idc", 3, reader);
    if (sps.chroma_format_idc == 3) {
      if (!check) {
        sps.separate_colour_plane_flag = read_u1("SPS: separate_colour_plane_flag", reader);
      } else if (read_u1("SPS: residue_transform_flag", reader) == 1 && reporter != nullptr) {
        reporter->notify_error("[Deprecated High444 Profile] residue_transform_flag = 1 is no longer supported");
      }
    }
    sps.bit_depth_luma_minus8 = read_ue_max("SPS: bit_depth_luma_minus8", 6, reader);
    sps.bit_depth_chroma_minus8 = read_ue_max("SPS: bit_depth_chroma_minus8", 6, reader);
    sps.qpprime_y_zero_transform_bypass_flag = read_u1("SPS: qpprime_y_zero_transform_bypass_flag", reader);
    sps.seq_scaling_matrix_present_flag = read_u1("SPS: seq_scaling_matrix_present_flag", reader);
    if (sps.seq_scaling_matrix_present_flag == 1) {
      // The check reads the former High 4:4:4 profile's eight lists whatever chroma_format_idc is.
      const std::size_t lists = sps.chroma_format_idc == 3 && !check ? 12 : 8;
      parse_scaling_lists(lists, sps.seq_scaling_list_present_flag, sps, reader);
    }
  }

  sps.log2_max_frame_num_minus4 = read_ue_max("SPS: log2_max_frame_num_minus4", 12, reader);
  sps.pic_order_cnt_type = read_ue_max("SPS: pic_order_cnt_type", 2, reader);
  if (sps.pic_order_cnt_type == 0) {
    sps.log2_max_pic_order_cnt_lsb_minus4 = read_ue_max("SPS: log2_max_pic_order_cnt_lsb_minus4", 12, reader);
  } else if (sps.pic_order_cnt_type == 1) {
    sps.delta_pic_order_always_zero_flag = read_u1("SPS: delta_pic_order_always_zero_flag", reader);
    sps.offset_for_non_ref_pic = read_se("SPS: offset_for_non_ref_pic", reader);
    sps.offset_for_top_to_bottom_field = read_se("SPS: offset_for_top_to_bottom_field", reader);
    sps.num_ref_frames_in_pic_order_cnt_cycle =
        read_ue_max("SPS: num_ref_frames_in_pic_order_cnt_cycle", kMaxRefFramesInPocCycle - 1, reader);
    const uint64_t count = sps.num_ref_frames_in_pic_order_cnt_cycle;
    const uint64_t kept = count < kMaxRefFramesInPocCycle ? count : kMaxRefFramesInPocCycle;
    for (uint64_t i = 0; i < kept; ++i) sps.offset_for_ref_frame[i] = read_se("SPS: offset_for_ref_frame", reader);
    read_excess_entries(count - kept, reader, [&reader] { read_se("SPS: offset_for_ref_frame", reader); });
  }

  sps.max_num_ref_frames = read_ue("SPS: max_num_ref_frames", reader);
  sps.gaps_in_frame_num_value_allowed_flag = read_u1("SPS: gaps_in_frame_num_value_allowed_flag", reader);
  sps.pic_width_in_mbs_minus1 = read_ue_max("SPS: pic_width_in_mbs_minus1", 65535, reader);
  sps.pic_height_in_map_units_minus1 = read_ue_max("SPS: pic_height_in_map_units_minus1", 65535, reader);
  sps.frame_mbs_only_flag = read_u1("SPS: frame_mbs_only_flag", reader);
  if (sps.frame_mbs_only_flag == 0) {
    sps.mb_adaptive_frame_field_flag = read_u1("SPS: mb_adaptive_frame_field_flag", reader);
  }
  sps.direct_8x8_inference_flag = read_u1("SPS: direct_8x8_inference_flag", reader);
  sps.frame_cropping_flag = read_u1("SPS: frame_cropping_flag", reader);
  if (sps.frame_cropping_flag == 1) {
    sps.frame_crop_left_offset = read_ue("SPS: frame_crop_left_offset", reader);
    sps.frame_crop_right_offset = read_ue("SPS: frame_crop_right_offset", reader);
    sps.frame_crop_top_offset = read_ue("SPS: frame_crop_top_offset", reader);
    sps.frame_crop_bottom_offset = read_ue("SPS: frame_crop_bottom_offset", reader);
  }
  sps.vui_parameters_present_flag = read_u1("SPS: vui_parameters_present_flag", reader);
  // 2 stands whenever the VUI carries no colour description.
  sps.vui.matrix_coefficients = 2;
  if (sps.vui_parameters_present_flag == 1) parse_vui_parameters(reader, sps.vui, dialect);
  sps.valid = 1;
  return reader.status;
}

int32_t sps_equal(const SeqParamSet& a, const SeqParamSet& b) {
  if (a.valid == 0 || b.valid == 0) return 0;

  if (a.profile_idc != b.profile_idc || a.constraint_set0_flag != b.constraint_set0_flag ||
      a.constraint_set1_flag != b.constraint_set1_flag || a.constraint_set2_flag != b.constraint_set2_flag ||
      a.level_idc != b.level_idc || a.seq_parameter_set_id != b.seq_parameter_set_id ||
      a.log2_max_frame_num_minus4 != b.log2_max_frame_num_minus4 || a.pic_order_cnt_type != b.pic_order_cnt_type) {
    return 0;
  }

  if (a.pic_order_cnt_type == 0) {
    if (a.log2_max_pic_order_cnt_lsb_minus4 != b.log2_max_pic_order_cnt_lsb_minus4) return 0;
  } else if (a.pic_order_cnt_type == 1) {
    if (a.delta_pic_order_always_zero_flag != b.delta_pic_order_always_zero_flag ||
        a.offset_for_non_ref_pic != b.offset_for_non_ref_pic ||
        a.offset_for_top_to_bottom_field != b.offset_for_top_to_bottom_field ||
        a.num_ref_frames_in_pic_order_cnt_cycle != b.num_ref_frames_in_pic_order_cnt_cycle) {
      return 0;
    }
    // Only the offsets a record holds.
    const uint32_t count = std::min(a.num_ref_frames_in_pic_order_cnt_cycle, kMaxRefFramesInPocCycle);
    for (uint32_t i = 0; i < count; ++i) {
      if (a.offset_for_ref_frame[i] != b.offset_for_ref_frame[i]) return 0;
    }
  }

  if (a.max_num_ref_frames != b.max_num_ref_frames ||
      a.gaps_in_frame_num_value_allowed_flag != b.gaps_in_frame_num_value_allowed_flag ||
      a.pic_width_in_mbs_minus1 != b.pic_width_in_mbs_minus1 ||
      a.pic_height_in_map_units_minus1 != b.pic_height_in_map_units_minus1 ||
      a.frame_mbs_only_flag != b.frame_mbs_only_flag) {
    return 0;
  }
  if (a.frame_mbs_only_flag == 0 && a.mb_adaptive_frame_field_flag != b.mb_adaptive_frame_field_flag) return 0;
  if (a.direct_8x8_inference_flag != b.direct_8x8_inference_flag || a.frame_cropping_flag != b.frame_cropping_flag) {
    return 0;
  }
  if (a.frame_cropping_flag == 1 &&
      (a.frame_crop_left_offset != b.frame_crop_left_offset ||
       a.frame_crop_right_offset != b.frame_crop_right_offset ||
       a.frame_crop_top_offset != b.frame_crop_top_offset ||
       a.frame_crop_bottom_offset != b.frame_crop_bottom_offset)) {
    return 0;
  }
  return a.vui_parameters_present_flag == b.vui_parameters_present_flag ? 1 : 0;
}

}  // namespace tarnwell
