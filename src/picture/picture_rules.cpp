// The picture rules of the check and of the HRD conformance check.
#include "picture/picture_rules.h"

#include <cstddef>
#include <iterator>
#include <utility>

namespace tarnwell {

void record_slice(const SliceHeader& header, PreviousSlice& previous) { static_cast<SliceHeader&>(previous) = header; }

namespace {

// When a comparison of the boundary test is made.
enum class Made : uint8_t {
  kAlways,
  kFieldAfterField,  // this slice is a field, the previous one not known to be a frame
  kPicOrderCntType0,
  kPicOrderCntType1,
  kIdrAfterIdr,
};

// One comparison: a slice begins another picture than the previous one when
// a comparison that is made finds the values unequal. `carried` is the
// field's kCarried... bit, 0 for the fields every slice assigns.
struct BoundaryComparison {
  Made made;
  uint32_t carried;
  int32_t (*value)(const SliceHeader&);
};

// The values that tell pictures apart, in the order the test makes them.
// nal_ref_idc counts only as zero or not: 1 against 2 is the same picture,
// 0 against either is not.
constexpr BoundaryComparison kBoundaryComparisons[] = {
    {Made::kAlways, 0, [](const SliceHeader& s) { return s.frame_num; }},
    {Made::kAlways, 0, [](const SliceHeader& s) { return s.pic_parameter_set_id; }},
    {Made::kAlways, 0, [](const SliceHeader& s) { return s.field_pic_flag; }},
    {Made::kAlways, 0, [](const SliceHeader& s) { return s.nal_ref_idc == 0 ? 1 : 0; }},
    {Made::kFieldAfterField, kCarriedBottomFieldFlag, [](const SliceHeader& s) { return s.bottom_field_flag; }},
    {Made::kAlways, 0, [](const SliceHeader& s) { return s.idr_flag; }},
    {Made::kPicOrderCntType0, kCarriedPicOrderCntLsb, [](const SliceHeader& s) { return s.pic_order_cnt_lsb; }},
    {Made::kPicOrderCntType0, kCarriedDeltaPicOrderCntBottom,
     [](const SliceHeader& s) { return s.delta_pic_order_cnt_bottom; }},
    {Made::kPicOrderCntType1, kCarriedDeltaPicOrderCnt0, [](const SliceHeader& s) { return s.delta_pic_order_cnt[0]; }},
    {Made::kPicOrderCntType1, kCarriedDeltaPicOrderCnt1, [](const SliceHeader& s) { return s.delta_pic_order_cnt[1]; }},
    {Made::kIdrAfterIdr, kCarriedIdrPicId, [](const SliceHeader& s) { return s.idr_pic_id; }},
};

bool is_made(Made made, const SliceHeader& header, const PreviousSlice& previous, uint32_t pic_order_cnt_type) {
  switch (made) {
    case Made::kAlways:
      return true;
    case Made::kFieldAfterField:
      return header.field_pic_flag == 1 && previous.field_pic_flag != 0;
    case Made::kPicOrderCntType0:
      return pic_order_cnt_type == 0;
    case Made::kPicOrderCntType1:
      return pic_order_cnt_type == 1;
    case Made::kIdrAfterIdr:
      return previous.idr_flag == 1 && header.idr_flag == 1;
  }
  return false;
}

// The comparisons of the table one after another, each with its table
// entry a constant, so that the compiler lays them out as straight code:
// the boundary test runs for every slice.
template <std::size_t... I>
BoundaryAnswer compare_each(const SliceHeader& header, const PreviousSlice& previous, uint32_t pic_order_cnt_type,
                            uint32_t open, std::index_sequence<I...> /*entries*/) {
  bool differs = false;
  bool known_differs = false;
  bool undecided = false;
  auto compare = [&](const BoundaryComparison& c) {
    if (!is_made(c.made, header, previous, pic_order_cnt_type)) return;
    const bool unequal = c.value(header) != c.value(previous);
    differs |= unequal;
    if ((open & c.carried) != 0) {
      undecided = true;
    } else {
      known_differs |= unequal;
    }
  };
  (compare(kBoundaryComparisons[I]), ...);
  return {differs, undecided && !known_differs};
}

}  // namespace

BoundaryAnswer test_boundary(const SliceHeader& header, const PreviousSlice& previous, uint32_t pic_order_cnt_type,
                             uint32_t header_left_over, uint32_t previous_left_over) {
  // A field left over on one side only holds a value from before this
  // reading against one of this reading (or a -1 of the reset): that
  // comparison could go either way. A field left over on both sides was not
  // assigned since, so it holds the same value on both.
  const uint32_t open = header_left_over ^ previous_left_over;
  return compare_each(header, previous, pic_order_cnt_type, open,
                      std::make_index_sequence<std::size(kBoundaryComparisons)>());
}

bool begins_new_primary_picture(const UnitSlice& previous, const UnitSlice& current) {
  const SliceHeader& a = previous.header;
  const SliceHeader& b = current.header;
  if (!previous.valid || !current.valid) return b.first_mb_in_slice == 0;
  if (b.redundant_pic_cnt != 0) return false;
  return a.frame_num != b.frame_num || a.pic_parameter_set_id != b.pic_parameter_set_id ||
         a.field_pic_flag != b.field_pic_flag || a.bottom_field_flag != b.bottom_field_flag ||
         (a.nal_ref_idc == 0) != (b.nal_ref_idc == 0) || a.idr_flag != b.idr_flag ||
         (a.idr_flag == 1 && b.idr_flag == 1 && a.idr_pic_id != b.idr_pic_id) ||
         (current.pic_order_cnt_type == 0 && (a.pic_order_cnt_lsb != b.pic_order_cnt_lsb ||
                                              a.delta_pic_order_cnt_bottom != b.delta_pic_order_cnt_bottom)) ||
         (current.pic_order_cnt_type == 1 && (a.delta_pic_order_cnt[0] != b.delta_pic_order_cnt[0] ||
                                              a.delta_pic_order_cnt[1] != b.delta_pic_order_cnt[1]));
}

}  // namespace tarnwell
