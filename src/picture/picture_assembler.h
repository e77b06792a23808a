#pragma once
// Turns the stream's NAL units into coded pictures and their sizes: parameter
// sets and SEI go to their parsers, every slice header is read as far as the
// picture order count, and a slice that differs from the previous one in the
// values that tell pictures apart begins a new picture.
//
// Sizes count every NAL unit's header byte and payload after removal of the
// emulation prevention bytes; start codes and zero bytes between NAL units
// count nowhere. Non-slice NAL units count towards the picture whose first
// slice follows them.
#include <cstdint>

#include "base/error_reporter.h"
#include "paramsets/parameter_sets.h"
#include "picture/slice_header.h"
#include "stream/bit_reader.h"
#include "stream/nal_reader.h"
#include "stream/nal_unit.h"

namespace tarnwell {

// What process_nal_unit and next_picture return.
inline constexpr int32_t kNalEndOfStream = 0;     // an end-of-stream NAL unit (or, from next_picture, the file's end)
inline constexpr int32_t kNalPictureComplete = 1;  // this slice begins a picture; the one before it is complete
inline constexpr int32_t kNalGoOn = 2;            // go on with the next NAL unit

// The last slice that went through the boundary test. -1 everywhere after
// the reset of a pass, so the first slice of a pass always differs.
struct PreviousSlice : SliceHeader {
  PreviousSlice() {
    first_mb_in_slice = slice_type = pic_parameter_set_id = frame_num = field_pic_flag = bottom_field_flag = -1;
    idr_flag = nal_ref_idc = idr_pic_id = pic_order_cnt_lsb = delta_pic_order_cnt_bottom = -1;
    delta_pic_order_cnt[0] = delta_pic_order_cnt[1] = -1;
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

// 1 when `header` begins another picture than the slice recorded in
// `previous` (test_boundary's first answer).
int32_t slice_differs(const SliceHeader& header, const PreviousSlice& previous, uint32_t pic_order_cnt_type);

// Keeps `header` in `previous` for the boundary test of the next slice.
void record_slice(const SliceHeader& header, PreviousSlice& previous);

// The size a NAL unit counts with: its prepared length plus the bytes of an
// over-long NAL unit that did not fit into the NAL buffer, at most 0xFFFFFFFF.
uint32_t counted_length(const NalUnit& nal);

// Byte counters are 32 bits wide. A sum that would pass 0xFFFFFFFF stays at
// 0xFFFFFFFF instead of wrapping, so an absurdly large picture still reads as
// the largest size rather than as a small one.
inline uint32_t saturating_add(uint32_t total, uint32_t bytes) {
  return bytes > 0xFFFFFFFFu - total ? 0xFFFFFFFFu : total + bytes;
}

class PictureAssembler {
 public:
  // The reader, the parameter sets and the reporter must outlive the assembler.
  PictureAssembler(NalReader& reader, ParameterSets& parameter_sets, ErrorReporter& reporter);
  PictureAssembler(const PictureAssembler&) = delete;
  PictureAssembler& operator=(const PictureAssembler&) = delete;

  // Start of a pass, before begin_stream: no active SPS, the reader looks for
  // the first start code, no SPS or PPS seen, previous-slice record -1. Leaves
  // the slice header, first_field_marker and the byte counters alone; the
  // caller sets those it needs.
  void reset_parsing_state();

  // kNalPictureComplete: a picture is complete, its size in picture_bytes;
  // the slice that begins the next one has been consumed, its size in
  // opening_nal_bytes, and pending_bytes is at most 0xFFFFFFFF minus that, so
  // that the next picture's count opening_nal_bytes + pending_bytes saturates
  // instead of wrapping. kNalEndOfStream: no picture is left; the picture that
  // was open stays in picture_bytes, with the non-slice bytes counted after
  // its first slice in pending_bytes.
  int32_t next_picture();

  // One NAL unit as GetAnnexbNALU delivered it: kNalGoOn, kNalPictureComplete
  // or kNalEndOfStream.
  int32_t process_nal_unit(NalUnit& nal);

  // --- The caller's counters ------------------------------------------------
  // The caller sets picture_bytes = 0, pending_bytes = 0, no_picture_begun = 1
  // and first_field_marker = -1 at the start of a pass, and after every
  // complete picture picture_bytes = opening_nal_bytes + pending_bytes,
  // pending_bytes = 0. The assembler's additions saturate (see saturating_add).
  uint32_t picture_bytes = 0;      // the picture being assembled, so far
  uint32_t pending_bytes = 0;      // non-slice bytes since the first picture began, not yet given to a picture
  uint32_t opening_nal_bytes = 0;  // the slice NAL unit that began the newest picture
  int32_t no_picture_begun = 0;    // 1 until the first picture of the pass has begun
  int32_t first_field_marker = 0;  // kFirstFieldUnknown, kFirstFieldTop or kFirstFieldBottom
  int32_t sps_seen = 0;            // an SPS NAL unit was met in this pass
  int32_t pps_seen = 0;            // a PPS NAL unit was met in this pass

  // A reading is what one pass takes from the stream, from
  // reset_parsing_state on. True when this reading used state that an
  // earlier reading left behind, so that reading the stream again from its
  // first byte might not give the same pictures, sizes and reports: an
  // activation of a table slot this reading did not store
  // (ParameterSets::used_left_over_slot), or a boundary test whose answer
  // turned on a slice-header value that no slice of this reading had
  // assigned (the carried fields, kCarried... in slice_header.h). The
  // verification run goes over a reading's pictures again only while this
  // is false (verify/check_run.cpp).
  bool used_left_over_state() const { return used_left_over_ || parameter_sets_.used_left_over_slot(); }

  const SliceHeader& slice_header() const { return header_; }
  const PreviousSlice& previous_slice() const { return previous_; }
  const NalUnit& nal_unit() const { return nal_; }

 private:
  int32_t process_slice(NalUnit& nal);
  // Adds a non-slice NAL unit to the picture before the first one has begun,
  // else to the bytes waiting for the next picture.
  void count_non_slice(uint32_t bytes);

  NalReader& reader_;
  ParameterSets& parameter_sets_;
  ErrorReporter& reporter_;

  NalUnit nal_;                 // the one NAL unit record, reused for the whole stream
  BitReader slice_reader_;      // over the current slice's RBSP
  SliceHeader header_;          // survives the reset of a pass
  PreviousSlice previous_;
  // The carried fields (kCarried... bits) that still hold a value from
  // before this reading: in header_, and in previous_ as record_slice copied
  // it. The -1 values of the reset are this reading's own.
  uint32_t header_left_over_ = kCarriedFields;
  uint32_t previous_left_over_ = 0;
  bool used_left_over_ = false;
  // What the slice header reader sees if no set were active: activation
  // always leaves one, this only keeps a null from being read through.
  const SeqParamSet no_sps_{};
  const PicParamSet no_pps_{};
};

}  // namespace tarnwell
