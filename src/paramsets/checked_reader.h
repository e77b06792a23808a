#pragma once
// The bit reader with a memory of failure, reading nothing beyond the data: every read that runs past the
// RBSP, or an Exp-Golomb code that does not fit, sets `ok` to false. The
// conformance check's readers use it so a truncated or broken parameter set
// or SEI payload is told apart from one whose values are zero.
#include <cstdint>

#include "stream/bit_reader.h"

namespace tarnwell {

struct CheckedReader {
  BitReader reader;
  bool ok = true;
  bool truncated = false;  // a read ran past the data (ok is false then too)

  // Reads over data[0 .. size): an RBSP up to its stop bit's byte, or (with
  // whole_bytes) every byte, as an SEI payload whose last bytes may be zero.
  CheckedReader(const uint8_t* data, int32_t size, bool whole_bytes = false);

  uint32_t u(int n, const char* label);
  uint32_t u1(const char* label) { return u(1, label); }
  uint32_t ue(const char* label);
  int32_t se(const char* label);
  // ue(v) that must not exceed max; a larger value fails the read.
  uint32_t ue_max(const char* label, uint32_t max);
  int64_t bits_left() const;
};

}  // namespace tarnwell
