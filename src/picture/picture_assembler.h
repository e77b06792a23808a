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
#include "picture/picture_rules.h"
#include "picture/slice_header.h"
#include "stream/bit_reader.h"
#include "stream/nal_reader.h"
#include "stream/nal_unit.h"

namespace tarnwell {

// What process_nal_unit and next_picture return.
inline constexpr int32_t kNalEndOfStream = 0;     // an end-of-stream NAL unit (or, from next_picture, the file's end)
inline constexpr int32_t kNalPictureComplete = 1;  // this slice begins a picture; the one before it is complete
inline constexpr int32_t kNalGoOn = 2;            // go on with the next NAL unit

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

  // Start of a reading, before begin_stream: no active SPS, the reader looks
  // for the first start code, no SPS or PPS seen, previous-slice record -1.
  // Leaves the slice header, the field pairing and the picture counts alone:
  // the profile/level probe and the HRD report read on with those an earlier
  // pass left, and take no pictures.
  void reset_parsing_state();

  // Start of a pass that takes pictures, before begin_stream:
  // reset_parsing_state, nothing counted yet, no picture begun, the field
  // pairing unknown until the pass's first field.
  void begin_pass();

  // The next complete picture of the pass: true with its size in `bytes`,
  // the slice that began the next picture and the non-slice NAL units before
  // it already counted towards that one; false at the end of the stream or
  // at an end-of-stream NAL unit, the picture still open never complete
  // (picture_bytes() and pending_bytes() hold it). Every count saturates
  // (see saturating_add).
  bool take_picture(uint32_t& bytes);

  // The probe's and the HRD report's step: reads on to the next slice that
  // begins a picture after one has begun (kNalPictureComplete) or to the end
  // (kNalEndOfStream). It counts as take_picture does but hands nothing over.
  int32_t next_picture();

  // One NAL unit as GetAnnexbNALU delivered it: kNalGoOn, kNalPictureComplete
  // or kNalEndOfStream.
  int32_t process_nal_unit(NalUnit& nal);

  // The picture being assembled, so far, and the non-slice bytes after its
  // first slice, waiting for the next picture.
  uint32_t picture_bytes() const { return picture_bytes_; }
  uint32_t pending_bytes() const { return pending_bytes_; }
  // False from begin_pass until the pass's first picture begins.
  bool picture_begun() const { return picture_begun_; }
  // kFirstFieldUnknown, kFirstFieldTop or kFirstFieldBottom.
  int32_t first_field_marker() const { return first_field_marker_; }

  int32_t sps_seen = 0;  // an SPS NAL unit was met in this reading
  int32_t pps_seen = 0;  // a PPS NAL unit was met in this reading

  // This reading (from reset_parsing_state on) used state an earlier one left:
  // a table slot it did not store, or a carried slice-header value none of its
  // slices assigned (verify/replay_plan.h says why that matters).
  bool used_left_over_state() const { return used_left_over_ || parameter_sets_.used_left_over_slot(); }

  const SliceHeader& slice_header() const { return header_; }
  const PreviousSlice& previous_slice() const { return previous_; }

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
  uint32_t picture_bytes_ = 0;
  uint32_t pending_bytes_ = 0;
  uint32_t opening_nal_bytes_ = 0;  // the slice NAL unit that began the newest picture
  // A reading that is not a pass (the probe before any pass) counts as one
  // whose first picture has begun, and pairs fields bottom first.
  bool picture_begun_ = true;
  int32_t first_field_marker_ = kFirstFieldBottom;
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
