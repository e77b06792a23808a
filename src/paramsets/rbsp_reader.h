#pragma once
// The readers parameter sets and SEI payloads are parsed with.
#include "stream/bit_reader.h"
#include "stream/nal_unit.h"

namespace tarnwell {

// Every parameter-set NAL unit as the check reads it: from the byte after the
// header byte up to and including the byte that holds the stop bit.
BitReader make_rbsp_reader(const NalUnit& nal);

// A bounded reader over an RBSP of `size` bytes (no NAL header byte), up to
// its stop bit's byte or, with `whole_bytes`, over every byte (an SEI payload,
// whose last bytes may be zero).
BitReader make_bounded_rbsp_reader(const uint8_t* rbsp, int32_t size, bool whole_bytes = false);

}  // namespace tarnwell
