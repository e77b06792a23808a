#pragma once
// The two SEI payloads the HRD conformance check runs on (D.1.2, D.1.3): the
// buffering period, read with the SPS it names, and the picture timing, read
// with the lengths of the active SPS's HRD block. Also the walk over the
// messages of an SEI RBSP.
#include <array>
#include <cstdint>

#include "paramsets/sps.h"

namespace tarnwell {

struct SeiMessage {
  uint32_t payload_type = 0;
  const uint8_t* payload = nullptr;
  int32_t payload_size = 0;
};

// Steps through sei_message()s of an SEI RBSP (the bytes after the NAL
// header, emulation prevention removed). index starts at 0. False when no
// complete message is left; a payload running past the data ends the walk.
bool next_sei_message(const uint8_t* rbsp, int32_t size, int32_t& index, SeiMessage& message);

struct BufferingPeriod {
  uint32_t seq_parameter_set_id = 0;
  bool nal_present = false;  // NalHrdBpPresentFlag
  bool vcl_present = false;  // VclHrdBpPresentFlag
  std::array<uint32_t, kMaxCpbEntries> nal_initial_cpb_removal_delay{};
  std::array<uint32_t, kMaxCpbEntries> nal_initial_cpb_removal_delay_offset{};
  std::array<uint32_t, kMaxCpbEntries> vcl_initial_cpb_removal_delay{};
  std::array<uint32_t, kMaxCpbEntries> vcl_initial_cpb_removal_delay_offset{};
};

struct PictureTiming {
  uint32_t cpb_removal_delay = 0;
  uint32_t dpb_output_delay = 0;
};

// Reads seq_parameter_set_id only, so the caller can find the SPS.
ReadStatus peek_buffering_period_sps_id(const uint8_t* payload, int32_t size, uint32_t& seq_parameter_set_id);
ReadStatus parse_buffering_period(const uint8_t* payload, int32_t size, const SeqParamSet& sps, BufferingPeriod& bp);
// Only meaningful when the SPS has CpbDpbDelaysPresentFlag set.
ReadStatus parse_picture_timing(const uint8_t* payload, int32_t size, const SeqParamSet& sps, PictureTiming& pt);

}  // namespace tarnwell
