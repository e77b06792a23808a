#pragma once
// Access units as the HRD conformance check needs them (7.4.1.2.3): where each
// one begins and ends in the byte stream, its size for the NAL and for the
// VCL conformance point, the buffering period and picture timing that came
// with it, and the shape of its primary coded picture. A field of a field
// pair is an access unit of its own. Keeps its own parameter-set tables and
// its own reader; the application's parsing state is not involved.
#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "paramsets/pps.h"
#include "paramsets/sei.h"
#include "paramsets/sps.h"
#include "picture/picture_rules.h"
#include "stream/annexb_scanner.h"

namespace tarnwell {

struct AccessUnit {
  uint64_t index = 0;     // in decoding order, from 0 at the stream's first access unit
  uint64_t start = 0;     // byte position of its first byte
  // b(n) at the NAL point: every byte up to the next access unit; the first
  // access unit's also the zero bytes in front of the stream's first start
  // code (leading_zero_8bits belong to the first byte stream NAL unit).
  uint64_t nal_bits = 0;
  uint64_t vcl_bits = 0;  // b(n) at the VCL point: VCL and filler data NAL units
  bool has_picture = false;
  bool idr = false;  // its primary coded picture is an IDR picture
  bool field_pic = false;
  uint64_t pic_size_in_mbs = 0;
  // The SPS active for this access unit: the one its buffering period names,
  // else the one its first slice refers to; null when none is known.
  const SeqParamSet* sps = nullptr;
  bool has_buffering_period = false;
  BufferingPeriod buffering_period;
  bool has_picture_timing = false;
  PictureTiming picture_timing;
};

// Problems met on the way; none stops the walk.
struct SplitterNotes {
  uint64_t broken_sps = 0;
  uint64_t broken_pps = 0;
  uint64_t broken_slice_headers = 0;  // unknown PPS or SPS, or a header that does not read
  uint64_t broken_sei = 0;            // a buffering period or picture timing that does not read
  uint64_t buffering_period_without_sps = 0;
  uint32_t missing_sps_id = 0;  // the first seq_parameter_set_id such a buffering period named
  // The stream ends inside its last access unit: that unit has no slice, or
  // its last NAL unit does not read to its end.
  bool incomplete_last_unit = false;
};

class AccessUnitSplitter {
 public:
  explicit AccessUnitSplitter(uint32_t block_bytes = AnnexbScanner::kDefaultBlockBytes);
  AccessUnitSplitter(const AccessUnitSplitter&) = delete;
  AccessUnitSplitter& operator=(const AccessUnitSplitter&) = delete;

  // `head`: bytes already taken from the file, read first (AnnexbScanner).
  void begin(std::FILE* file, std::vector<uint8_t> head = {});
  void begin(ByteSource& source);
  // 1: an access unit was delivered (its sps pointer stays valid until the
  // next call); 0: none is left; -1: the file could not be read.
  int32_t next(AccessUnit& au);

  const SplitterNotes& notes() const { return notes_; }
  bool allocated() const { return scanner_.allocated() && rbsp_ != nullptr; }

 private:
  int32_t to_rbsp(const ScannedNal& nal);
  void take_sps(int32_t size);
  void take_pps(int32_t size);
  void take_sei(int32_t size, bool complete);
  // The slice header in the standard dialect, with the sets it names.
  UnitSlice read_slice(const ScannedNal& nal, int32_t size);
  void open_unit(const ScannedNal& nal);
  void add_to_unit(const ScannedNal& nal, const UnitSlice* slice);
  void close_unit(uint64_t end, AccessUnit& au);

  AnnexbScanner scanner_;
  std::unique_ptr<uint8_t[]> rbsp_;
  // On the heap: whole records are large, and a splitter may live on a stack.
  std::vector<SeqParamSet> sps_ = std::vector<SeqParamSet>(kSpsSlots);
  std::array<bool, kSpsSlots> sps_valid_{};
  std::vector<PicParamSet> pps_ = std::vector<PicParamSet>(kPpsSlots);
  std::array<bool, kPpsSlots> pps_valid_{};
  SplitterNotes notes_;

  // The scanned NAL unit that begins the next access unit, not yet taken in.
  ScannedNal pending_;
  UnitSlice pending_slice_;
  bool has_pending_ = false;
  bool ended_ = false;
  int32_t end_status_ = 0;
  uint64_t last_end_ = 0;  // where the NAL unit taken in last is followed by the next

  // The access unit being collected.
  bool open_ = false;
  uint64_t index_ = 0;
  uint64_t unit_start_ = 0;
  uint64_t vcl_bytes_ = 0;
  bool has_vcl_ = false;
  bool last_nal_broken_ = false;  // the unit's newest NAL unit did not read
  UnitSlice first_slice_;
  UnitSlice last_slice_;  // the newest primary (not redundant) slice
  int32_t unit_sps_id_ = -1;
  int32_t last_sps_id_ = -1;
  bool has_bp_ = false;
  BufferingPeriod bp_;
  // The picture timing payload's first bytes, read once the active SPS is known.
  std::array<uint8_t, 16> pt_bytes_{};  // two delays of at most 32 bits each fit
  int32_t pt_size_ = -1;
  SeqParamSet delivered_sps_;
};

}  // namespace tarnwell
