#pragma once
// The slice header from first_mb_in_slice up to the picture order count (and
// redundant_pic_cnt for the standard reading): all that deciding where a
// coded picture begins needs. The rest of the slice header and the slice
// data are never read. One record and one parser for every command.
#include <cstdint>

#include "base/error_reporter.h"
#include "paramsets/pps.h"
#include "paramsets/sps.h"
#include "stream/bit_reader.h"

namespace tarnwell {

// The header of one slice. The parser assigns only what the slice carries:
// a field it does not carry keeps the record's value. The check reads every
// slice into one record, so such a field keeps what the last slice that
// carried it left, across passes too (the boundary test compares with the
// previous slice, so a carried-over value never marks a new picture by
// itself); a fresh record holds the values the standard infers, 0.
struct SliceHeader {
  int32_t first_mb_in_slice = 0;
  int32_t slice_type = 0;
  int32_t pic_parameter_set_id = 0;
  int32_t colour_plane_id = 0;
  int32_t frame_num = 0;
  int32_t field_pic_flag = 0;
  int32_t bottom_field_flag = 0;
  int32_t idr_flag = 0;     // set from nal_unit_type before the header is read
  int32_t nal_ref_idc = 0;  // set from the NAL header before the header is read
  int32_t idr_pic_id = 0;
  int32_t pic_order_cnt_lsb = 0;
  int32_t delta_pic_order_cnt_bottom = 0;
  int32_t delta_pic_order_cnt[2] = {0, 0};
  int32_t redundant_pic_cnt = 0;
};

// first_mb_in_slice, slice_type, pic_parameter_set_id (out of range beyond
// 255, kept as read). Needs no parameter set.
void read_slice_header_first_part(BitReader& reader, SliceHeader& header);

// The fields that a slice does not always assign, as bits: a slice that
// does not carry one leaves the value of an earlier slice in the header.
inline constexpr uint32_t kCarriedBottomFieldFlag = 1u << 0;
inline constexpr uint32_t kCarriedIdrPicId = 1u << 1;
inline constexpr uint32_t kCarriedPicOrderCntLsb = 1u << 2;
inline constexpr uint32_t kCarriedDeltaPicOrderCntBottom = 1u << 3;
inline constexpr uint32_t kCarriedDeltaPicOrderCnt0 = 1u << 4;
inline constexpr uint32_t kCarriedDeltaPicOrderCnt1 = 1u << 5;
inline constexpr uint32_t kCarriedFields = (1u << 6) - 1;

// The remaining fields, with the SPS and PPS that pic_parameter_set_id
// selects (for the check, those activation made active). The check's
// reading ends with the picture order count; the standard reading goes on to
// redundant_pic_cnt, and its caller refuses a header whose status is not ok.
// `assigned`, when given, receives the kCarried... bits of the fields this
// slice assigned.
void read_slice_header_rest(BitReader& reader, SliceHeader& header, const SeqParamSet& sps, const PicParamSet& pps,
                            SyntaxDialect dialect, uint32_t* assigned = nullptr);

// Run once for every slice that begins a picture: reports an IDR picture with
// a frame_num other than 0 under picture order count types 1 and 2, and a
// picture order count type the system does not know.
void check_picture_order(const SliceHeader& header, const SeqParamSet& sps, ErrorReporter& reporter);

}  // namespace tarnwell
