#pragma once
// The two rules that tell where a coded picture begins, side by side, over
// the one slice header record. They are two on purpose: the check and the
// HRD conformance check have always drawn picture boundaries differently,
// and each command's results rest on its own rule.
//
// The check's rule: a slice begins a picture when it differs from the slice
// before it in the values that tell pictures apart; the values a slice does
// not carry are those the slices before it left (carried values), and of two
// fields only the one that comes first in the pass's field order begins a
// picture.
//
// hrd-check's rule: the first VCL NAL unit of a new primary coded picture is
// told apart from the previous picture's slices as the standard has it
// (7.4.1.2.4), over headers read in the standard dialect; redundant slices
// never begin a picture.
#include <cstdint>

#include "picture/slice_header.h"

namespace tarnwell {

// --- The check's rule --------------------------------------------------------

// Values of first_field_marker.
inline constexpr int32_t kFirstFieldUnknown = -1;
inline constexpr int32_t kFirstFieldBottom = 0;
inline constexpr int32_t kFirstFieldTop = 1;

// The first field slice of a pass tells which field of a pair comes first;
// the pairing below goes by it.
inline void note_first_field(const SliceHeader& header, int32_t& first_field_marker) {
  if (header.field_pic_flag == 1 && first_field_marker == kFirstFieldUnknown) {
    first_field_marker = header.bottom_field_flag == 0 ? kFirstFieldTop : kFirstFieldBottom;
  }
}

// The last slice that went through the boundary test. -1 everywhere after
// the reset of a pass, so the first slice of a pass always differs.
struct PreviousSlice : SliceHeader {
  PreviousSlice() {
    first_mb_in_slice = slice_type = pic_parameter_set_id = frame_num = field_pic_flag = bottom_field_flag = -1;
    idr_flag = nal_ref_idc = idr_pic_id = pic_order_cnt_lsb = delta_pic_order_cnt_bottom = -1;
    delta_pic_order_cnt[0] = delta_pic_order_cnt[1] = -1;
    colour_plane_id = redundant_pic_cnt = -1;
  }
};

struct BoundaryAnswer {
  bool differs = false;  // `header` begins another picture than the slice in `previous`
  // The answer could change with the values the carried fields held before
  // this reading: no comparison of known values found a difference, and a
  // comparison of a left-over value with one of this reading was made.
  bool turns_on_left_over = false;
};

// The boundary test under the active SPS's pic_order_cnt_type, one table of
// comparisons for both answers. `header_left_over` and `previous_left_over`:
// the kCarried... fields that still hold a value from before this reading in
// `header` and in `previous`.
BoundaryAnswer test_boundary(const SliceHeader& header, const PreviousSlice& previous, uint32_t pic_order_cnt_type,
                             uint32_t header_left_over, uint32_t previous_left_over);

// Keeps `header` in `previous` for the boundary test of the next slice.
void record_slice(const SliceHeader& header, PreviousSlice& previous);

// Whether a slice that differs from the one before it begins a picture: a
// frame always, a field when it comes first in its pair. The pass's first
// field set `first_field_marker`: a pass that began with a bottom field pairs
// bottom, then top.
inline bool pairs_as_first_field(const SliceHeader& header, int32_t first_field_marker) {
  if (header.field_pic_flag == 0) return true;
  return header.bottom_field_flag == (first_field_marker == kFirstFieldBottom ? 1 : 0);
}

// --- hrd-check's rule --------------------------------------------------------

// A slice as the access-unit splitter holds it: its header, and what its PPS
// and SPS gave. `valid` when the header read whole with both sets known.
struct UnitSlice {
  SliceHeader header;
  bool valid = false;
  uint32_t seq_parameter_set_id = 0;
  uint32_t pic_order_cnt_type = 0;
};

// Whether `current` is the first VCL NAL unit of a new primary coded picture
// after the picture `previous` (its last primary slice) belongs to. When
// either did not read, first_mb_in_slice 0 decides.
bool begins_new_primary_picture(const UnitSlice& previous, const UnitSlice& current);

}  // namespace tarnwell
