#pragma once
// The walk over the sei_message()s of an SEI RBSP, and the two records a CPB
// model takes from SEI: the buffering period and the picture timing. Nothing
// here depends on the codec: payloadType and payloadSize are coded alike in
// H.264 and H.265, and their buffering period and picture timing give the
// same values (one initial delay and offset per schedule, a removal delay and
// an output delay per picture). The H.264 payload readers are in sei.h.
#include <array>
#include <cstdint>

#include "paramsets/hrd_parameters.h"
#include "paramsets/syntax_dialect.h"

namespace tarnwell {

struct SeiMessage {
  uint32_t payload_type = 0;
  const uint8_t* payload = nullptr;
  int32_t payload_size = 0;
};

// Steps through the sei_message()s of an SEI RBSP of `size` bytes (the bytes
// after the NAL header, emulation prevention removed). `index` starts at 0
// and is left after the last message read. False when no message is left:
// the data ends, the stop byte comes, or a payload would run past the data.
// The standard walk ends at a 0x80 byte that is the RBSP's last byte (the
// rbsp_trailing_bits) and reads a payload that takes the last byte; the
// check's walk ends at a 0x80 byte after any message, and reads no payload
// that reaches the last byte.
bool next_sei_message(const uint8_t* rbsp, int32_t size, int32_t& index, SeiMessage& message,
                      SyntaxDialect dialect = SyntaxDialect::kStandard);

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

}  // namespace tarnwell
