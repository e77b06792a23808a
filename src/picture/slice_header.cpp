// Slice header fields up to the picture order count (and redundant_pic_cnt),
// read in the order of the H.264 slice header syntax, and the picture-order
// check.
#include "picture/slice_header.h"

namespace tarnwell {

namespace {

// u(v) for frame_num and pic_order_cnt_lsb, whose width comes from the SPS as
// log2_max_..._minus4 + 4. The SPS does not limit that value, so a broken SPS
// can ask for more than 32 bits: the field then takes its full width in the
// stream, and its value is the low 32 bits, as shifting a 32-bit value left
// bit by bit would leave it. A width that runs past the data fails like any
// other read: 0, position unchanged.
int32_t read_field_bits(uint32_t log2_minus4, const char* label, BitReader& reader) {
  const uint64_t bits = static_cast<uint64_t>(log2_minus4) + 4;
  if (bits <= 32) return read_u(static_cast<int>(bits), label, reader);
  // A read may take every bit up to the one before the last bit of the byte
  // at index byte_length.
  const uint64_t end_bit = static_cast<uint64_t>(reader.byte_length > 0 ? reader.byte_length : 0) * 8 + 7;
  const uint64_t offset = static_cast<uint64_t>(reader.bit_offset > 0 ? reader.bit_offset : 0);
  if (offset + bits > end_bit) return 0;
  // The bits in front of the last 32 would be shifted out: step over them.
  reader.bit_offset = static_cast<int32_t>(offset + bits - 32);
  return read_u(32, label, reader);
}

}  // namespace

void read_slice_header_first_part(BitReader& reader, SliceHeader& header) {
  header.first_mb_in_slice = read_ue("SH: first_mb_in_slice", reader);
  header.slice_type = read_ue("SH: slice_type", reader);
  header.pic_parameter_set_id = static_cast<int32_t>(read_ue_max("SH: pic_parameter_set_id", 255, reader));
}

void read_slice_header_rest(BitReader& reader, SliceHeader& header, const SeqParamSet& sps, const PicParamSet& pps,
                            SyntaxDialect dialect, uint32_t* assigned) {
  uint32_t carried = 0;
  // Only the standard reading's SPS holds separate_colour_plane_flag 1.
  if (sps.separate_colour_plane_flag == 1) header.colour_plane_id = read_u(2, "SH: colour_plane_id", reader);
  header.frame_num = read_field_bits(sps.log2_max_frame_num_minus4, "SH: frame_num", reader);

  if (sps.frame_mbs_only_flag == 1) {
    header.field_pic_flag = 0;
  } else {
    carried |= kCarriedBottomFieldFlag;
    header.field_pic_flag = read_u1("SH: field_pic_flag", reader);
    header.bottom_field_flag = header.field_pic_flag == 1 ? read_u1("SH: bottom_field_flag", reader) : 0;
  }

  if (header.idr_flag == 1) {
    header.idr_pic_id = read_ue("SH: idr_pic_id", reader);
    carried |= kCarriedIdrPicId;
  }

  const bool bottom_present = pps.bottom_field_pic_order_in_frame_present_flag == 1 && header.field_pic_flag == 0;
  if (sps.pic_order_cnt_type == 0) {
    carried |= kCarriedPicOrderCntLsb | kCarriedDeltaPicOrderCntBottom;
    header.pic_order_cnt_lsb =
        read_field_bits(sps.log2_max_pic_order_cnt_lsb_minus4, "SH: pic_order_cnt_lsb", reader);
    header.delta_pic_order_cnt_bottom = bottom_present ? read_se("SH: delta_pic_order_cnt_bottom", reader) : 0;
  }

  if (sps.pic_order_cnt_type == 1) {
    if (sps.delta_pic_order_always_zero_flag == 0) {
      header.delta_pic_order_cnt[0] = read_se("SH: delta_pic_order_cnt[0]", reader);
      carried |= kCarriedDeltaPicOrderCnt0;
      if (bottom_present) {
        header.delta_pic_order_cnt[1] = read_se("SH: delta_pic_order_cnt[1]", reader);
        carried |= kCarriedDeltaPicOrderCnt1;
      }
    } else {
      header.delta_pic_order_cnt[0] = 0;
      header.delta_pic_order_cnt[1] = 0;
      carried |= kCarriedDeltaPicOrderCnt0 | kCarriedDeltaPicOrderCnt1;
    }
  }
  if (assigned != nullptr) *assigned = carried;
  // The check's reading ends with the picture order count.
  if (dialect == SyntaxDialect::kCheck) return;
  if (pps.redundant_pic_cnt_present_flag == 1) header.redundant_pic_cnt = read_ue("SH: redundant_pic_cnt", reader);
}

void check_picture_order(const SliceHeader& header, const SeqParamSet& sps, ErrorReporter& reporter) {
  if (sps.pic_order_cnt_type > 2) {
    reporter.notify_error("Unknown POC order count type!\n");
  } else if (sps.pic_order_cnt_type != 0 && header.idr_flag == 1 && header.frame_num != 0) {
    reporter.notify_error("frame_num not equal to zero in IDR picture");
  }
}

}  // namespace tarnwell
