#pragma once
// The transport stream targets' first three bytes: the packet size to take
// (0: found from the bytes), whether a program_number or a PID chooses the
// stream, and its value. The target reads the rest as the stream.
#include <cstdint>

#include "stream/ts_source.h"

namespace tarnwell::fuzz {

inline TsChoice ts_choice_from(const uint8_t* head) {
  constexpr uint32_t kSizes[] = {0, 188, 192, 204};
  TsChoice choice;
  choice.packet_size = kSizes[head[0] & 0x03];
  const uint16_t value = static_cast<uint16_t>((head[1] << 8) | head[2]);
  const uint32_t mode = (head[0] >> 2) & 0x03;
  if (mode == 1) {
    choice.by_program = true;
    choice.program_number = value;
  } else if (mode == 2) {
    choice.by_pid = true;
    choice.pid = value & 0x1FFF;
  }
  return choice;
}

}  // namespace tarnwell::fuzz
