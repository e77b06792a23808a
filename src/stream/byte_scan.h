#pragma once
// The loops that look at every byte of the stream: finding the next start
// code while copying a NAL unit's body, and finding the zero pairs that begin
// every start code and emulation prevention byte. They work a block at a time
// where the processor allows it and give the same answers as a byte loop.
#include <cstddef>
#include <cstdint>

namespace tarnwell {

inline constexpr std::size_t kNoIndex = static_cast<std::size_t>(-1);

// Index of the first k with p[k] == 0 and p[k + 1] == 0 (k + 1 < n); n when
// there is none.
std::size_t find_zero_pair(const uint8_t* p, std::size_t n);

struct CopyScan {
  std::size_t consumed = 0;  // bytes taken from the source
  bool start_code = false;   // the last byte taken is the 0x01 of 0x00 0x00 0x01
};

// Copies src[0 .. n) to dst until it has copied a 0x01 that follows two zero
// bytes; dst[-2] and dst[-1] must hold the two bytes before src[0]. Bytes of
// src after that 0x01 may be written to dst too, never beyond dst[n - 1].
// The index in src of the first 0x03 that follows two zero bytes is stored
// in *first_03 unless *first_03 already holds an index (is not kNoIndex).
CopyScan copy_until_start_code(const uint8_t* src, uint8_t* dst, std::size_t n, std::size_t* first_03);

}  // namespace tarnwell
