#pragma once
// The picture parameter set record and its one parser. Picture boundaries use
// pic_parameter_set_id, seq_parameter_set_id,
// bottom_field_pic_order_in_frame_present_flag and
// redundant_pic_cnt_present_flag; the check keeps the rest so that a re-sent
// PPS can be compared with the active one.
#include <array>
#include <cstdint>
#include <memory>

#include "paramsets/sps.h"
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
  std::array<uint32_t, 8> UseDefaultScalingMatrixFlag{};  // 0 .. 5: 4x4 lists, 6 and 7: 8x8 lists
  uint32_t bottom_field_pic_order_in_frame_present_flag = 0;
  uint32_t num_slice_groups_minus1 = 0;
  uint32_t slice_group_map_type = 0;
  std::array<uint32_t, kMaxSliceGroups> run_length_minus1{};
  std::array<uint32_t, kMaxSliceGroups> top_left{};
  std::array<uint32_t, kMaxSliceGroups> bottom_right{};
  uint32_t slice_group_change_direction_flag = 0;
  uint32_t slice_group_change_rate_minus1 = 0;
  uint32_t pic_size_in_map_units_minus1 = 0;
  // kMaxSliceGroupMapUnits entries, allocated with the record; owned by the
  // record until it is stored, then by its slot of the PPS table.
  std::unique_ptr<uint32_t[]> slice_group_id;
  uint32_t num_ref_idx_l0_default_active_minus1 = 0;
  uint32_t num_ref_idx_l1_default_active_minus1 = 0;
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

// Reads pic_parameter_set_rbsp() from a reader set on the byte after the NAL
// header byte, and marks the record valid. Entries beyond the record's
// capacities (or all slice_group_ids, for a record without the buffer) are
// read, so the position stays right, but not kept. The check's dialect reads
// the High profile extension with at most eight scaling lists; the standard
// reading stops before it. Returns the status.
ReadStatus parse_pps(BitReader& reader, PicParamSet& pps, SyntaxDialect dialect);
// The standard reading of a PPS RBSP of `size` bytes (after the NAL header,
// emulation prevention removed) into `pps`, which is reset first.
ReadStatus parse_pps(const uint8_t* rbsp, int32_t size, PicParamSet& pps);

// 1 when the two records count as the same parameter set, else 0. The High
// profile extension takes no part; only entries the records hold are compared.
int32_t pps_equal(const PicParamSet& a, const PicParamSet& b);

}  // namespace tarnwell
