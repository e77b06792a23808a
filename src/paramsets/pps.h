#pragma once
// Picture parameter set record. Of its fields only pic_parameter_set_id,
// seq_parameter_set_id and pic_order_present_flag are used later; the rest
// are kept so that a re-sent PPS can be compared with the active one.
#include <array>
#include <cstdint>
#include <memory>

#include "stream/bit_reader.h"

namespace tarnwell {

inline constexpr uint32_t kPpsSlots = 256;                 // pic_parameter_set_id 0 .. 255
inline constexpr uint32_t kMaxSliceGroups = 8;             // num_slice_groups_minus1 0 .. 7
inline constexpr uint32_t kMaxSliceGroupMapUnits = 60000;  // slice_group_id entries

struct PicParamSet {
  uint32_t valid = 0;  // 1 once a parse has filled the record
  uint32_t pic_parameter_set_id = 0;
  uint32_t seq_parameter_set_id = 0;
  uint32_t entropy_coding_mode_flag = 0;
  uint32_t transform_8x8_mode_flag = 0;
  uint32_t pic_scaling_matrix_present_flag = 0;
  std::array<uint32_t, 8> pic_scaling_list_present_flag{};
  std::array<std::array<int32_t, 16>, 6> ScalingList4x4{};
  std::array<std::array<int32_t, 64>, 2> ScalingList8x8{};
  std::array<uint32_t, 6> UseDefaultScalingMatrix4x4Flag{};
  std::array<uint32_t, 2> UseDefaultScalingMatrix8x8Flag{};
  uint32_t pic_order_present_flag = 0;
  uint32_t num_slice_groups_minus1 = 0;
  uint32_t slice_group_map_type = 0;
  std::array<uint32_t, kMaxSliceGroups> run_length_minus1{};
  std::array<uint32_t, kMaxSliceGroups> top_left{};
  std::array<uint32_t, kMaxSliceGroups> bottom_right{};
  uint32_t slice_group_change_direction_flag = 0;
  uint32_t slice_group_change_rate_minus1 = 0;
  uint32_t num_slice_group_map_units_minus1 = 0;
  // kMaxSliceGroupMapUnits entries, allocated with the record; owned by the
  // record until it is stored, then by its slot of the PPS table.
  std::unique_ptr<uint32_t[]> slice_group_id;
  uint32_t num_ref_idx_l0_active_minus1 = 0;
  uint32_t num_ref_idx_l1_active_minus1 = 0;
  uint32_t weighted_pred_flag = 0;
  uint32_t weighted_bipred_idc = 0;
  int32_t pic_init_qp_minus26 = 0;
  int32_t pic_init_qs_minus26 = 0;
  int32_t chroma_qp_index_offset = 0;
  int32_t second_chroma_qp_index_offset = 0;
  uint32_t deblocking_filter_control_present_flag = 0;
  uint32_t constrained_intra_pred_flag = 0;
  uint32_t redundant_pic_cnt_present_flag = 0;
};

// Reads one picture parameter set from a reader set on the byte after the
// NAL header byte, and marks the record valid. Entries beyond the record's
// capacities are read (so the position stays right) but not kept.
void parse_pps(BitReader& reader, PicParamSet& pps);

// The PPS values hrd-check's picture boundaries depend on.
struct FullPps {
  uint32_t pic_parameter_set_id = 0;
  uint32_t seq_parameter_set_id = 0;
  uint32_t bottom_field_pic_order_in_frame_present_flag = 0;
  uint32_t redundant_pic_cnt_present_flag = 0;
};
ReadStatus parse_full_pps(const uint8_t* rbsp, int32_t size, FullPps& pps);

// 1 when the two records count as the same parameter set, else 0. The High
// profile extension takes no part; only entries the records hold are compared.
int32_t pps_equal(const PicParamSet& a, const PicParamSet& b);

}  // namespace tarnwell
