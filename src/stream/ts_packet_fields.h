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

// `packet` holds 188 bytes beginning with the sync byte. Inline: it is read
// for every packet of the PCR PID.
inline TsPcr read_pcr(const uint8_t* packet) {
  TsPcr pcr;
  const bool has_adaptation = (packet[3] & 0x20) != 0;
  if (!has_adaptation) return pcr;
  const uint32_t adaptation_field_length = packet[4];
  if (adaptation_field_length < 1 || adaptation_field_length > 183) return pcr;
  const uint8_t flags = packet[5];
  pcr.discontinuity = (flags & 0x80) != 0;
  if ((flags & 0x10) == 0 || adaptation_field_length < 7) return pcr;
  const uint8_t* p = packet + 6;
  const uint64_t base = (uint64_t{p[0]} << 25) | (uint64_t{p[1]} << 17) | (uint64_t{p[2]} << 9) |
                        (uint64_t{p[3]} << 1) | (uint64_t{p[4]} >> 7);
  const uint64_t extension = ((uint64_t{p[4]} & 0x01) << 8) | p[5];
  pcr.present = true;
  pcr.value = base * 300 + extension;
  return pcr;
}

// The byte of a packet that holds the last bit of program_clock_reference_base.
inline constexpr uint64_t kPcrByte = 10;

// In a whole program map section (CRC included): -1 when `pid` is not one of
// its streams or has no AVC timing and HRD descriptor, else that
// descriptor's hrd_management_valid_flag.
int32_t avc_hrd_management_flag(const uint8_t* section, std::size_t length, uint16_t pid);

}  // namespace tarnwell
