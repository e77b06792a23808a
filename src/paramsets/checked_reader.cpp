#include "paramsets/checked_reader.h"

#include "stream/nal_reader.h"

namespace tarnwell {

CheckedReader::CheckedReader(const uint8_t* data, int32_t size, bool whole_bytes)
    : reader(make_bit_reader(data,
                             data == nullptr || size <= 0 ? 0 : (whole_bytes ? size : rbsp_data_length(data, size)),
                             size > 0 ? size : 0)) {}

int64_t CheckedReader::bits_left() const {
  return int64_t{reader.byte_length} * 8 - reader.bit_offset;
}

uint32_t CheckedReader::u(int n, const char* label) {
  if (!ok || n < 0 || n > 32 || bits_left() < n) {
    ok = false;
    return 0;
  }
  return static_cast<uint32_t>(read_u(n, label, reader));
}

uint32_t CheckedReader::ue(const char* label) {
  if (!ok) return 0;
  const int32_t before = reader.bit_offset;
  const uint32_t value = static_cast<uint32_t>(read_ue(label, reader));
  if (reader.bit_offset == before || bits_left() < 0) ok = false;
  return ok ? value : 0;
}

int32_t CheckedReader::se(const char* label) {
  if (!ok) return 0;
  const int32_t before = reader.bit_offset;
  const int32_t value = read_se(label, reader);
  if (reader.bit_offset == before || bits_left() < 0) ok = false;
  return ok ? value : 0;
}

uint32_t CheckedReader::ue_max(const char* label, uint32_t max) {
  const uint32_t value = ue(label);
  if (value > max) ok = false;
  return ok ? value : 0;
}

}  // namespace tarnwell
