#pragma once
// One scaling_list() of an SPS or PPS. The system decodes no pictures: the
// list is kept in raster order, and read mainly so the bit position stays right.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "stream/bit_reader.h"

namespace tarnwell {

// Raster position of the j-th value in stream order (frame zig-zag scan).
inline constexpr std::array<uint8_t, 16> zigzag4x4 = {0, 1, 4, 8, 5, 2, 3, 6, 9, 12, 13, 10, 7, 11, 14, 15};
inline constexpr std::array<uint8_t, 64> zigzag8x8 = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// Reads one list of 16 or 64 entries (the size of `list`; any other size reads
// nothing). `use_default_flag` becomes 1 when the first delta_scale gives a
// nextScale of 0, which ends the list after a single value. A delta_scale
// outside -128 .. 127 marks the reader's status out of range.
void parse_scaling_list(std::span<int32_t> list, uint32_t& use_default_flag, BitReader& reader);

// The first `count` lists of an SPS or PPS record (six 4x4 lists, then the
// 8x8 ones), each after its present flag.
template <typename Record>
void parse_scaling_lists(std::size_t count, std::span<uint32_t> present_flag, Record& record, BitReader& reader) {
  for (std::size_t i = 0; i < count; ++i) {
    present_flag[i] = read_u1("scaling_list_present_flag", reader);
    if (present_flag[i] != 1) continue;
    if (i < 6) {
      parse_scaling_list(record.ScalingList4x4[i], record.UseDefaultScalingMatrixFlag[i], reader);
    } else {
      parse_scaling_list(record.ScalingList8x8[i - 6], record.UseDefaultScalingMatrixFlag[i], reader);
    }
  }
}

}  // namespace tarnwell
