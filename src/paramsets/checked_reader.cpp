#include "paramsets/checked_reader.h"

#include "stream/nal_reader.h"

namespace tarnwell {

CheckedReader::CheckedReader(const uint8_t* data, int32_t size, bool whole_bytes)
    : reader(make_bit_reader(data,
                             data == nullptr || size <= 0 ? 0 : (whole_bytes ? size : rbsp_data_length(data, size)),
                             size > 0 ? size : 0)) {}

int64_t CheckedReader::bits_left() const { return int64_t{reader.byte_length} * 8 - reader.bit_offset; }

uint32_t CheckedReader::u(int n, const char* label) {
  if (!ok || n < 0 || n > 32) {
    ok = false;
    return 0;
  }
  if (bits_left() < n) {
    ok = false;
    truncated = true;
    return 0;
  }
  return static_cast<uint32_t>(read_u(n, label, reader));
}

// Exp-Golomb codes read bit by bit within the data: the shared bit reader may
// look at the byte after the data, which a caller here need not have.
uint32_t CheckedReader::ue(const char* label) {
  int leading_zeros = 0;
  while (ok && u(1, label) == 0) {
    if (++leading_zeros >= 32) ok = false;
  }
  if (!ok) return 0;
  const uint32_t info = leading_zeros == 0 ? 0 : u(leading_zeros, label);
  if (!ok) return 0;
  const uint64_t value = (uint64_t{1} << leading_zeros) - 1 + info;
  if (value > 0xFFFFFFFEu) {
    ok = false;
    return 0;
  }
  return static_cast<uint32_t>(value);
}

int32_t CheckedReader::se(const char* label) {
  const uint32_t code = ue(label);
  if (!ok) return 0;
  const int64_t magnitude = (int64_t{code} + 1) / 2;
  return static_cast<int32_t>((code & 1u) != 0 ? magnitude : -magnitude);
}

uint32_t CheckedReader::ue_max(const char* label, uint32_t max) {
  const uint32_t value = ue(label);
  if (value > max) ok = false;
  return ok ? value : 0;
}

}  // namespace tarnwell
