#pragma once
// What the system target decoder needs from a transport packet beyond what
// the demultiplexer reads: the program clock reference in the adaptation
// field, and the AVC timing and HRD descriptor of a stream in a program map
// section.
#include <cstddef>
#include <cstdint>

namespace tarnwell {

// A PCR's wrap: 2^33 periods of the 90 kHz base, 300 ticks of 27 MHz each.
inline constexpr uint64_t kPcrWrap = (uint64_t{1} << 33) * 300;

struct TsPcr {
  bool present = false;
  uint64_t value = 0;          // program_clock_reference_base * 300 + program_clock_reference_extension
  bool discontinuity = false;  // discontinuity_indicator of the same adaptation field
};

// `packet` holds 188 bytes beginning with the sync byte.
TsPcr read_pcr(const uint8_t* packet);

// The byte of a packet that holds the last bit of program_clock_reference_base.
inline constexpr uint64_t kPcrByte = 10;

// In a whole program map section (CRC included): -1 when `pid` is not one of
// its streams or has no AVC timing and HRD descriptor, else that
// descriptor's hrd_management_valid_flag.
int32_t avc_hrd_management_flag(const uint8_t* section, std::size_t length, uint16_t pid);

}  // namespace tarnwell
