// Picture boundaries and picture sizes from the stream's NAL units.
#include "picture/picture_assembler.h"

namespace tarnwell {

namespace {

constexpr int32_t kNalSliceNonIdr = 1;
constexpr int32_t kNalDataPartitionA = 2;
constexpr int32_t kNalDataPartitionB = 3;
constexpr int32_t kNalDataPartitionC = 4;
constexpr int32_t kNalSliceIdr = 5;
constexpr int32_t kNalSei = 6;
constexpr int32_t kNalSps = 7;
constexpr int32_t kNalPps = 8;
constexpr int32_t kNalAccessUnitDelimiter = 9;
constexpr int32_t kNalEndOfSequence = 10;
constexpr int32_t kNalEndOfStreamUnit = 11;
constexpr int32_t kNalFillerData = 12;

}  // namespace

void record_slice(const SliceHeader& header, PreviousSlice& previous) {
  previous.frame_num = header.frame_num;
  previous.field_pic_flag = header.field_pic_flag;
  previous.bottom_field_flag = header.bottom_field_flag;
  previous.pic_parameter_set_id = header.pic_parameter_set_id;
  previous.nal_ref_idc = header.nal_ref_idc;
  previous.idr_flag = header.idr_flag;
  previous.idr_pic_id = header.idr_pic_id;
  previous.delta_pic_order_cnt[0] = header.delta_pic_order_cnt[0];
  previous.delta_pic_order_cnt[1] = header.delta_pic_order_cnt[1];
  previous.pic_order_cnt_lsb = header.pic_order_cnt_lsb;
  previous.delta_pic_order_cnt_bottom = header.delta_pic_order_cnt_bottom;
}

int32_t slice_differs(const SliceHeader& header, const PreviousSlice& previous, uint32_t pic_order_cnt_type) {
  // Made in this order; the result is their logical or.
  int32_t differs = 0;
  differs |= header.frame_num != previous.frame_num;
  differs |= header.pic_parameter_set_id != previous.pic_parameter_set_id;
  differs |= header.field_pic_flag != previous.field_pic_flag;
  differs |= header.nal_ref_idc != previous.nal_ref_idc && (header.nal_ref_idc == 0 || previous.nal_ref_idc == 0);
  differs |= header.field_pic_flag == 1 && previous.field_pic_flag != 0 &&
             header.bottom_field_flag != previous.bottom_field_flag;
  differs |= header.idr_flag != previous.idr_flag;
  if (pic_order_cnt_type == 0) {
    differs |= header.pic_order_cnt_lsb != previous.pic_order_cnt_lsb ||
               header.delta_pic_order_cnt_bottom != previous.delta_pic_order_cnt_bottom;
  }
  if (pic_order_cnt_type == 1) {
    differs |= header.delta_pic_order_cnt[0] != previous.delta_pic_order_cnt[0] ||
               header.delta_pic_order_cnt[1] != previous.delta_pic_order_cnt[1];
  }
  differs |= previous.idr_flag == 1 && header.idr_flag == 1 && header.idr_pic_id != previous.idr_pic_id;
  return differs;
}

namespace {

// Whether slice_differs's answer could change with the values the carried
// fields held before this reading, with `header_left_over` and
// `previous_left_over` the fields that still hold such a value in `header`
// and `previous`. A comparison of a left-over value with a value of this
// reading (or a -1 of the reset) could go either way; a field left over on
// both sides holds the same value on both (it was not assigned since), so it
// compares equal whatever that value is. The answer turns on a left-over
// value when no comparison of known values already gives "differs" and one
// that could go either way is made. The conditions mirror slice_differs.
bool differs_turns_on_left_over(const SliceHeader& header, const PreviousSlice& previous, uint32_t pic_order_cnt_type,
                                uint32_t header_left_over, uint32_t previous_left_over) {
  const uint32_t open = header_left_over ^ previous_left_over;
  bool known_differs = header.frame_num != previous.frame_num ||
                       header.pic_parameter_set_id != previous.pic_parameter_set_id ||
                       header.field_pic_flag != previous.field_pic_flag ||
                       (header.nal_ref_idc != previous.nal_ref_idc &&
                        (header.nal_ref_idc == 0 || previous.nal_ref_idc == 0)) ||
                       header.idr_flag != previous.idr_flag;
  bool undecided = false;
  auto compare = [&](bool made, uint32_t field, int32_t value, int32_t previous_value) {
    if (!made) return;
    if ((open & field) != 0) {
      undecided = true;
    } else if (value != previous_value) {
      known_differs = true;
    }
  };
  compare(header.field_pic_flag == 1 && previous.field_pic_flag != 0, kCarriedBottomFieldFlag,
          header.bottom_field_flag, previous.bottom_field_flag);
  compare(pic_order_cnt_type == 0, kCarriedPicOrderCntLsb, header.pic_order_cnt_lsb, previous.pic_order_cnt_lsb);
  compare(pic_order_cnt_type == 0, kCarriedDeltaPicOrderCntBottom, header.delta_pic_order_cnt_bottom,
          previous.delta_pic_order_cnt_bottom);
  compare(pic_order_cnt_type == 1, kCarriedDeltaPicOrderCnt0, header.delta_pic_order_cnt[0],
          previous.delta_pic_order_cnt[0]);
  compare(pic_order_cnt_type == 1, kCarriedDeltaPicOrderCnt1, header.delta_pic_order_cnt[1],
          previous.delta_pic_order_cnt[1]);
  compare(previous.idr_flag == 1 && header.idr_flag == 1, kCarriedIdrPicId, header.idr_pic_id, previous.idr_pic_id);
  return undecided && !known_differs;
}

}  // namespace

uint32_t counted_length(const NalUnit& nal) {
  const uint32_t kept = nal.length > 0 ? static_cast<uint32_t>(nal.length) : 0;
  if (nal.dropped_bytes >= 0xFFFFFFFFu - kept) {
    return 0xFFFFFFFFu;
  }
  return kept + static_cast<uint32_t>(nal.dropped_bytes);
}

PictureAssembler::PictureAssembler(NalReader& reader, ParameterSets& parameter_sets, ErrorReporter& reporter)
    : reader_(reader), parameter_sets_(parameter_sets), reporter_(reporter) {}

void PictureAssembler::reset_parsing_state() {
  parameter_sets_.clear_active_sps();
  reader_.reset();
  sps_seen = 0;
  pps_seen = 0;
  previous_ = PreviousSlice{};
  // A new reading: nothing of it has used left-over state yet.
  parameter_sets_.begin_reading();
  header_left_over_ = kCarriedFields;
  previous_left_over_ = 0;
  used_left_over_ = false;
}

int32_t PictureAssembler::next_picture() {
  for (;;) {
    const int32_t got = reader_.GetAnnexbNALU(nal_);
    if (got < 0) {
      // The reader searches on for the first start code with the next call.
      reporter_.notify_error("Error while getting the Annex B NALU, exit\n");
      continue;
    }
    if (got == 0) {
      return kNalEndOfStream;
    }
    const int32_t result = process_nal_unit(nal_);
    if (result != kNalGoOn) {
      return result;
    }
  }
}

void PictureAssembler::count_non_slice(uint32_t bytes) {
  if (no_picture_begun == 1) {
    picture_bytes = saturating_add(picture_bytes, bytes);
  } else {
    pending_bytes = saturating_add(pending_bytes, bytes);
  }
}

int32_t PictureAssembler::process_nal_unit(NalUnit& nal) {
  reader_.prepare(nal);
  if (nal.forbidden_zero_bit == 1) {
    return kNalGoOn;  // neither counted nor parsed, silently
  }

  const int32_t type = nal.nal_unit_type;
  if (type == kNalSliceNonIdr || type == kNalSliceIdr) {
    return process_slice(nal);
  }

  // Every other type counts, whatever happens to it next.
  count_non_slice(counted_length(nal));
  switch (type) {
    case kNalDataPartitionA:
      reporter_.notify_error("data partitioning not implemented\n");
      return kNalGoOn;
    case kNalDataPartitionB:
      reporter_.notify_error("found data partition B without matching DP A, discarding\n");
      return kNalGoOn;
    case kNalDataPartitionC:
      reporter_.notify_error("found data partition C without matching DP A, discarding\n");
      return kNalGoOn;
    case kNalSei:
      parameter_sets_.process_sei_nal(nal);
      return kNalGoOn;
    case kNalSps:
      // Seen even if the parser then refuses the set.
      sps_seen = 1;
      parameter_sets_.process_sps_nal(nal);
      return kNalGoOn;
    case kNalPps:
      pps_seen = 1;
      parameter_sets_.process_pps_nal(nal);
      return kNalGoOn;
    case kNalAccessUnitDelimiter:
    case kNalEndOfSequence:
    case kNalFillerData:
      return kNalGoOn;
    case kNalEndOfStreamUnit:
      return kNalEndOfStream;
    default:
      reporter_.notify_error("Found NALU type %d, len %d undefined, ignore NALU, moving on\n", type, nal.length);
      return kNalGoOn;
  }
}

int32_t PictureAssembler::process_slice(NalUnit& nal) {
  // Slices before both an SPS and a PPS NAL unit of this pass count nowhere.
  if (sps_seen == 0 || pps_seen == 0) {
    return kNalGoOn;
  }

  header_.idr_flag = nal.nal_unit_type == kNalSliceIdr ? 1 : 0;
  header_.nal_ref_idc = nal.nal_ref_idc;

  const int32_t payload = nal.length > 1 ? nal.length - 1 : 0;
  const int32_t readable = nal.readable > 1 ? nal.readable - 1 : 0;
  slice_reader_ = make_bit_reader(nal.bytes + 1, rbsp_data_length(nal.bytes + 1, payload), readable);

  read_slice_header_first_part(slice_reader_, header_);
  // The id goes to activation as read; activation copes with any value.
  parameter_sets_.use_parameter_sets(static_cast<uint32_t>(header_.pic_parameter_set_id));
  const SeqParamSet* active_sps = parameter_sets_.active_sps();
  const PicParamSet* active_pps = parameter_sets_.active_pps();
  const SeqParamSet& sps = active_sps != nullptr ? *active_sps : no_sps_;
  const PicParamSet& pps = active_pps != nullptr ? *active_pps : no_pps_;
  uint32_t assigned = 0;
  read_slice_header_rest(slice_reader_, header_, sps, pps, first_field_marker, &assigned);
  header_left_over_ &= ~assigned;

  if (differs_turns_on_left_over(header_, previous_, sps.pic_order_cnt_type, header_left_over_,
                                 previous_left_over_)) {
    used_left_over_ = true;
  }
  const int32_t differs = slice_differs(header_, previous_, sps.pic_order_cnt_type);
  record_slice(header_, previous_);
  previous_left_over_ = header_left_over_;

  const uint32_t bytes = counted_length(nal);
  bool begins_picture = false;
  if (differs != 0) {
    if (header_.field_pic_flag == 0) {
      begins_picture = true;
    } else if (first_field_marker == kFirstFieldBottom) {
      // The pass began with a bottom field: each pair is bottom, then top.
      begins_picture = header_.bottom_field_flag == 1;
    } else {
      begins_picture = header_.bottom_field_flag == 0;
    }
  }
  if (!begins_picture) {
    picture_bytes = saturating_add(picture_bytes, bytes);
    return kNalGoOn;
  }

  check_picture_order(header_, sps, reporter_);
  if (no_picture_begun == 1) {
    // The first picture of the pass: nothing is complete yet.
    picture_bytes = saturating_add(picture_bytes, bytes);
    no_picture_begun = 0;
    return kNalGoOn;
  }
  opening_nal_bytes = bytes;
  // The caller starts the next picture at opening_nal_bytes + pending_bytes.
  // That sum saturates like every other count: the pending bytes are cut to
  // what the next picture can still hold beside its opening slice.
  pending_bytes = saturating_add(opening_nal_bytes, pending_bytes) - opening_nal_bytes;
  return kNalPictureComplete;
}

}  // namespace tarnwell
