#include "paramsets/sei_message.h"

namespace tarnwell {
namespace {

// payloadType or payloadSize: each 0xFF byte adds 255, the first other byte
// ends the value. False when the data ends first, or past 0x7FFFFFFF (no
// RBSP a reader holds is that long: 8,000,000 bytes of 0xFF add up to less).
bool read_sei_value(const uint8_t* rbsp, int32_t size, int32_t& index, uint32_t& value) {
  uint64_t sum = 0;
  for (;;) {
    if (index >= size) return false;
    const uint8_t byte = rbsp[index++];
    sum += byte;
    if (sum > 0x7FFFFFFF) return false;
    if (byte != 0xFF) break;
  }
  value = static_cast<uint32_t>(sum);
  return true;
}

}  // namespace

bool next_sei_message(const uint8_t* rbsp, int32_t size, int32_t& index, SeiMessage& message, SyntaxDialect dialect) {
  if (rbsp == nullptr || index < 0 || index >= size) return false;
  const bool check = dialect == SyntaxDialect::kCheck;
  // The stop bit's byte: after any message for the check, as the last byte for the standard.
  if (rbsp[index] == 0x80 && (check ? index > 0 : index == size - 1)) return false;
  uint32_t type = 0;
  uint32_t payload_size = 0;
  if (!read_sei_value(rbsp, size, index, type) || !read_sei_value(rbsp, size, index, payload_size)) return false;
  // The check reads no payload that reaches the last byte.
  if (int64_t{index} + payload_size + (check ? 1 : 0) > size) return false;
  message.payload_type = type;
  message.payload = rbsp + index;
  message.payload_size = static_cast<int32_t>(payload_size);
  index += static_cast<int32_t>(payload_size);
  return true;
}

}  // namespace tarnwell
