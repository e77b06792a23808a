#include "stream/ts_packet_fields.h"

namespace tarnwell {
namespace {
constexpr uint8_t kAvcTimingAndHrdDescriptor = 0x2A;
constexpr uint8_t kProgramMapTableId = 0x02;
}  // namespace

int32_t avc_hrd_management_flag(const uint8_t* section, std::size_t length, uint16_t pid) {
  if (length < 16 || section[0] != kProgramMapTableId) return -1;
  const std::size_t section_length = ((std::size_t{section[1]} & 0x0F) << 8) | section[2];
  const std::size_t end = section_length + 3 > length ? length : section_length + 3;
  if (end < 4) return -1;
  const std::size_t loop_end = end - 4;  // before CRC_32
  const std::size_t program_info_length = ((std::size_t{section[10]} & 0x0F) << 8) | section[11];
  std::size_t at = 12 + program_info_length;
  while (at + 5 <= loop_end) {
    const uint16_t elementary_PID = static_cast<uint16_t>(((section[at + 1] & 0x1F) << 8) | section[at + 2]);
    const std::size_t es_info_length = ((std::size_t{section[at + 3]} & 0x0F) << 8) | section[at + 4];
    std::size_t d = at + 5;
    const std::size_t d_end = d + es_info_length > loop_end ? loop_end : d + es_info_length;
    if (elementary_PID == pid) {
      while (d + 2 <= d_end) {
        const uint8_t tag = section[d];
        const std::size_t descriptor_length = section[d + 1];
        if (tag == kAvcTimingAndHrdDescriptor && descriptor_length >= 1 && d + 3 <= d_end) {
          return section[d + 2] >> 7;
        }
        d += 2 + descriptor_length;
      }
      return -1;
    }
    at = d + es_info_length;
  }
  return -1;
}

}  // namespace tarnwell
