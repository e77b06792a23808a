// Picture parameter sets: the NAL handler, the PPS syntax, storage with the
// slice_group_id buffer passing to the table slot, and the equality test by
// which a re-sent PPS keeps the active one active.
#include <algorithm>
#include <new>

#include "paramsets/excess_entries.h"
#include "paramsets/parameter_sets.h"
#include "paramsets/rbsp_reader.h"
#include "paramsets/scaling_list.h"

namespace tarnwell {
namespace {

void parse_slice_groups(BitReader& reader, PicParamSet& pps) {
  pps.slice_group_map_type = read_ue_max("PPS: slice_group_map_type", 6, reader);
  const uint64_t num_slice_groups = static_cast<uint64_t>(pps.num_slice_groups_minus1) + 1;
  switch (pps.slice_group_map_type) {
    case 0: {
      const uint64_t kept = std::min<uint64_t>(num_slice_groups, kMaxSliceGroups);
      for (uint64_t i = 0; i < kept; ++i) pps.run_length_minus1[i] = read_ue("PPS: run_length_minus1", reader);
      read_excess_entries(num_slice_groups - kept, reader, [&reader] { read_ue("PPS: run_length_minus1", reader); });
      break;
    }
    case 2: {
      // Every slice group but the last (the background) has a rectangle.
      const uint64_t rectangles = pps.num_slice_groups_minus1;
      const uint64_t kept = std::min<uint64_t>(rectangles, kMaxSliceGroups);
      for (uint64_t i = 0; i < kept; ++i) {
        pps.top_left[i] = read_ue("PPS: top_left", reader);
        pps.bottom_right[i] = read_ue("PPS: bottom_right", reader);
      }
      read_excess_entries(rectangles - kept, reader, [&reader] {
        read_ue("PPS: top_left", reader);
        read_ue("PPS: bottom_right", reader);
      });
      break;
    }
    case 3:
    case 4:
    case 5:
      pps.slice_group_change_direction_flag = read_u1("PPS: slice_group_change_direction_flag", reader);
      pps.slice_group_change_rate_minus1 = read_ue("PPS: slice_group_change_rate_minus1", reader);
      break;
    case 6: {
      const int bits = num_slice_groups > 4 ? 3 : (num_slice_groups > 2 ? 2 : 1);
      pps.pic_size_in_map_units_minus1 = read_ue("PPS: pic_size_in_map_units_minus1", reader);
      const uint64_t map_units = static_cast<uint64_t>(pps.pic_size_in_map_units_minus1) + 1;
      // A record made without its buffer keeps no ids, but the ids are
      // still read so the position stays right.
      const uint64_t kept = pps.slice_group_id ? std::min<uint64_t>(map_units, kMaxSliceGroupMapUnits) : 0;
      for (uint64_t i = 0; i < kept; ++i) pps.slice_group_id[i] = read_u(bits, "PPS: slice_group_id", reader);
      read_excess_entries(map_units - kept, reader, [&reader, bits] { read_u(bits, "PPS: slice_group_id", reader); });
      break;
    }
    default:  // 1 (dispersed) and undefined types carry nothing more
      break;
  }
}

}  // namespace

ReadStatus parse_pps(BitReader& reader, PicParamSet& pps, SyntaxDialect dialect) {
  pps.pic_parameter_set_id = read_ue_max("PPS: pic_parameter_set_id", kPpsSlots - 1, reader);
  pps.seq_parameter_set_id = read_ue_max("PPS: seq_parameter_set_id", kSpsSlots - 1, reader);
  pps.entropy_coding_mode_flag = read_u1("PPS: entropy_coding_mode_flag", reader);
  pps.bottom_field_pic_order_in_frame_present_flag =
      read_u1("PPS: bottom_field_pic_order_in_frame_present_flag", reader);
  pps.num_slice_groups_minus1 = read_ue_max("PPS: num_slice_groups_minus1", kMaxSliceGroups - 1, reader);
  if (pps.num_slice_groups_minus1 != 0) parse_slice_groups(reader, pps);

  pps.num_ref_idx_l0_default_active_minus1 = read_ue_max("PPS: num_ref_idx_l0_default_active_minus1", 31, reader);
  pps.num_ref_idx_l1_default_active_minus1 = read_ue_max("PPS: num_ref_idx_l1_default_active_minus1", 31, reader);
  pps.weighted_pred_flag = read_u1("PPS: weighted_pred_flag", reader);
  pps.weighted_bipred_idc = read_u(2, "PPS: weighted_bipred_idc", reader);
  pps.pic_init_qp_minus26 = read_se("PPS: pic_init_qp_minus26", reader);
  pps.pic_init_qs_minus26 = read_se("PPS: pic_init_qs_minus26", reader);
  pps.chroma_qp_index_offset = read_se("PPS: chroma_qp_index_offset", reader);
  pps.deblocking_filter_control_present_flag = read_u1("PPS: deblocking_filter_control_present_flag", reader);
  pps.constrained_intra_pred_flag = read_u1("PPS: constrained_intra_pred_flag", reader);
  pps.redundant_pic_cnt_present_flag = read_u1("PPS: redundant_pic_cnt_present_flag", reader);
  pps.valid = 1;
  // Picture boundaries need nothing further; the standard reading stops here,
  // so the extension's lists (whose count depends on the SPS) are not read.
  if (dialect == SyntaxDialect::kStandard) return reader.status;

  // The High profile extension follows only when the RBSP goes on.
  if (more_rbsp_data(reader) != 0) {
    pps.transform_8x8_mode_flag = read_u1("PPS: transform_8x8_mode_flag", reader);
    pps.pic_scaling_matrix_present_flag = read_u1("PPS: pic_scaling_matrix_present_flag", reader);
    if (pps.pic_scaling_matrix_present_flag == 1) {
      // The check's eight lists at most, whatever the SPS's chroma_format_idc.
      const std::size_t lists = pps.transform_8x8_mode_flag == 1 ? 8 : 6;
      parse_scaling_lists(lists, pps.pic_scaling_list_present_flag, pps, reader);
    }
    pps.second_chroma_qp_index_offset = read_se("PPS: second_chroma_qp_index_offset", reader);
  } else {
    pps.second_chroma_qp_index_offset = pps.chroma_qp_index_offset;
  }
  return reader.status;
}

ReadStatus parse_pps(const uint8_t* rbsp, int32_t size, PicParamSet& pps) {
  pps = PicParamSet{};
  BitReader reader = make_bounded_rbsp_reader(rbsp, size);
  return parse_pps(reader, pps, SyntaxDialect::kStandard);
}

int32_t pps_equal(const PicParamSet& a, const PicParamSet& b) {
  if (a.valid == 0 || b.valid == 0) return 0;

  if (a.pic_parameter_set_id != b.pic_parameter_set_id || a.seq_parameter_set_id != b.seq_parameter_set_id ||
      a.entropy_coding_mode_flag != b.entropy_coding_mode_flag ||
      a.bottom_field_pic_order_in_frame_present_flag != b.bottom_field_pic_order_in_frame_present_flag ||
      a.num_slice_groups_minus1 != b.num_slice_groups_minus1) {
    return 0;
  }

  if (a.num_slice_groups_minus1 != 0) {
    if (a.slice_group_map_type != b.slice_group_map_type) return 0;
    // Only the entries the records hold.
    const uint64_t num_slice_groups = static_cast<uint64_t>(a.num_slice_groups_minus1) + 1;
    switch (a.slice_group_map_type) {
      case 0:
        for (uint64_t i = 0; i < std::min<uint64_t>(num_slice_groups, kMaxSliceGroups); ++i) {
          if (a.run_length_minus1[i] != b.run_length_minus1[i]) return 0;
        }
        break;
      case 2:
        for (uint64_t i = 0; i < std::min<uint64_t>(a.num_slice_groups_minus1, kMaxSliceGroups); ++i) {
          if (a.top_left[i] != b.top_left[i] || a.bottom_right[i] != b.bottom_right[i]) return 0;
        }
        break;
      case 3:
      case 4:
      case 5:
        if (a.slice_group_change_direction_flag != b.slice_group_change_direction_flag ||
            a.slice_group_change_rate_minus1 != b.slice_group_change_rate_minus1) {
          return 0;
        }
        break;
      case 6: {
        if (a.pic_size_in_map_units_minus1 != b.pic_size_in_map_units_minus1) return 0;
        if (!a.slice_group_id || !b.slice_group_id) {
          if (a.slice_group_id || b.slice_group_id) return 0;
          break;
        }
        const uint64_t map_units = static_cast<uint64_t>(a.pic_size_in_map_units_minus1) + 1;
        for (uint64_t i = 0; i < std::min<uint64_t>(map_units, kMaxSliceGroupMapUnits); ++i) {
          if (a.slice_group_id[i] != b.slice_group_id[i]) return 0;
        }
        break;
      }
      default:
        break;
    }
  }

  if (a.num_ref_idx_l0_default_active_minus1 != b.num_ref_idx_l0_default_active_minus1 ||
      a.num_ref_idx_l1_default_active_minus1 != b.num_ref_idx_l1_default_active_minus1 ||
      a.weighted_pred_flag != b.weighted_pred_flag || a.weighted_bipred_idc != b.weighted_bipred_idc ||
      a.pic_init_qp_minus26 != b.pic_init_qp_minus26 || a.pic_init_qs_minus26 != b.pic_init_qs_minus26 ||
      a.chroma_qp_index_offset != b.chroma_qp_index_offset ||
      a.deblocking_filter_control_present_flag != b.deblocking_filter_control_present_flag ||
      a.constrained_intra_pred_flag != b.constrained_intra_pred_flag ||
      a.redundant_pic_cnt_present_flag != b.redundant_pic_cnt_present_flag) {
    return 0;
  }
  return 1;
}

std::unique_ptr<PicParamSet> ParameterSets::AllocPPS() {
  std::unique_ptr<PicParamSet> pps(new (std::nothrow) PicParamSet{});
  if (!pps) {
    reporter_.report_out_of_memory("AllocPPS: PPS");
    return nullptr;
  }
  // Allocated at full size whatever the map type: a record never grows.
  pps->slice_group_id.reset(new (std::nothrow) uint32_t[kMaxSliceGroupMapUnits]());
  if (!pps->slice_group_id) {
    reporter_.report_out_of_memory("AllocPPS: slice_group_id");
    return nullptr;
  }
  return pps;
}

void ParameterSets::process_pps_nal(const NalUnit& nal) {
  std::unique_ptr<PicParamSet> pps = AllocPPS();
  if (!pps) return;

  BitReader reader = make_rbsp_reader(nal);
  parse_pps(reader, *pps, SyntaxDialect::kCheck);

  const uint32_t id = pps->pic_parameter_set_id;
  if (id >= kPpsSlots) {
    reporter_.notify_error("Picture Parameter Set ID %u out of range (0..255), ignore PPS, moving on\n", id);
    return;
  }
  // The active PPS is the slot itself: compare before the slot is overwritten.
  if (active_pps_ != nullptr && active_pps_id_ == id && pps_equal(*pps, *active_pps_) == 0) active_pps_ = nullptr;
  store_pps(id, *pps);
}

bool ParameterSets::store_pps(uint32_t id, PicParamSet& pps) {
  if (id >= kPpsSlots) return false;
  // Moving releases the buffer the slot held and leaves the record without one.
  pps_table_[id] = std::move(pps);
  pps_stored_.set(id);
  return true;
}

}  // namespace tarnwell
