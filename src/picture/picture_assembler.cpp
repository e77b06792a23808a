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

// The size a NAL unit counts with: its prepared length plus the bytes of an
// over-long NAL unit that did not fit into the NAL buffer, at most 0xFFFFFFFF.
uint32_t counted_length(const NalUnit& nal) {
  const uint32_t kept = nal.length > 0 ? static_cast<uint32_t>(nal.length) : 0;
  if (nal.dropped_bytes >= 0xFFFFFFFFu - kept) return 0xFFFFFFFFu;
  return kept + static_cast<uint32_t>(nal.dropped_bytes);
}

}  // namespace

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

void PictureAssembler::begin_pass() {
  reset_parsing_state();
  picture_bytes_ = 0;
  pending_bytes_ = 0;
  picture_begun_ = false;
  first_field_marker_ = kFirstFieldUnknown;
}

bool PictureAssembler::take_picture(uint32_t& bytes) {
  if (next_picture() != kNalPictureComplete) return false;
  bytes = picture_bytes_;
  // The sum stays within 32 bits: the slice kept pending_bytes_ to what fits.
  picture_bytes_ = opening_nal_bytes_ + pending_bytes_;
  pending_bytes_ = 0;
  return true;
}

int32_t PictureAssembler::next_picture() {
  for (;;) {
    const int32_t got = reader_.GetAnnexbNALU(nal_);
    if (got < 0) {
      // The reader searches on for the first start code with the next call.
      reporter_.notify_error("Error while getting the Annex B NALU, exit\n");
      continue;
    }
    if (got == 0) return kNalEndOfStream;
    const int32_t result = process_nal_unit(nal_);
    if (result != kNalGoOn) return result;
  }
}

void PictureAssembler::count_non_slice(uint32_t bytes) {
  uint32_t& total = picture_begun_ ? pending_bytes_ : picture_bytes_;
  total = saturating_add(total, bytes);
}

int32_t PictureAssembler::process_nal_unit(NalUnit& nal) {
  reader_.prepare(nal);
  if (nal.forbidden_zero_bit == 1) return kNalGoOn;  // neither counted nor parsed, silently

  const int32_t type = nal.nal_unit_type;
  if (type == kNalSliceNonIdr || type == kNalSliceIdr) return process_slice(nal);

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
  if (sps_seen == 0 || pps_seen == 0) return kNalGoOn;

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
  read_slice_header_rest(slice_reader_, header_, sps, pps, SyntaxDialect::kCheck, &assigned);
  note_first_field(header_, first_field_marker_);
  header_left_over_ &= ~assigned;

  const BoundaryAnswer boundary =
      test_boundary(header_, previous_, sps.pic_order_cnt_type, header_left_over_, previous_left_over_);
  used_left_over_ |= boundary.turns_on_left_over;
  record_slice(header_, previous_);
  previous_left_over_ = header_left_over_;

  const uint32_t bytes = counted_length(nal);
  const bool begins_picture = boundary.differs && pairs_as_first_field(header_, first_field_marker_);
  if (!begins_picture) {
    picture_bytes_ = saturating_add(picture_bytes_, bytes);
    return kNalGoOn;
  }

  check_picture_order(header_, sps, reporter_);
  if (!picture_begun_) {
    // The first picture of the pass: nothing is complete yet.
    picture_bytes_ = saturating_add(picture_bytes_, bytes);
    picture_begun_ = true;
    return kNalGoOn;
  }
  opening_nal_bytes_ = bytes;
  // take_picture starts the next picture at opening_nal_bytes_ +
  // pending_bytes_. That sum saturates like every other count: the pending
  // bytes are cut to what the next picture can still hold beside its opening
  // slice.
  pending_bytes_ = saturating_add(opening_nal_bytes_, pending_bytes_) - opening_nal_bytes_;
  return kNalPictureComplete;
}

}  // namespace tarnwell
