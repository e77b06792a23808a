#pragma once
// HRD parameters as a VUI carries them, and the bit rate and CPB size of one
// of their schedules. Kept apart from the SPS: the record and its two sizes
// do not depend on the codec whose parameter sets carry them.
#include <array>
#include <cstdint>

namespace tarnwell {

inline constexpr uint32_t kMaxCpbEntries = 32;  // cpb_cnt_minus1 0 .. 31

struct HrdParameters {
  uint32_t cpb_cnt_minus1 = 0;
  uint32_t bit_rate_scale = 0;
  uint32_t cpb_size_scale = 0;
  std::array<uint32_t, kMaxCpbEntries> bit_rate_value_minus1{};
  std::array<uint32_t, kMaxCpbEntries> cpb_size_value_minus1{};
  std::array<uint32_t, kMaxCpbEntries> cbr_flag{};
  uint32_t initial_cpb_removal_delay_length_minus1 = 0;
  uint32_t cpb_removal_delay_length_minus1 = 0;
  uint32_t dpb_output_delay_length_minus1 = 0;
  uint32_t time_offset_length = 0;

  bool operator==(const HrdParameters&) const = default;
};

// BitRate and CpbSize of schedule `i` (E-71, E-72); 0 beyond the record.
inline uint64_t hrd_bit_rate(const HrdParameters& hrd, uint32_t i) {
  if (i >= kMaxCpbEntries) return 0;
  return (uint64_t{hrd.bit_rate_value_minus1[i]} + 1) << (6 + (hrd.bit_rate_scale & 15u));
}

inline uint64_t hrd_cpb_size(const HrdParameters& hrd, uint32_t i) {
  if (i >= kMaxCpbEntries) return 0;
  return (uint64_t{hrd.cpb_size_value_minus1[i]} + 1) << (4 + (hrd.cpb_size_scale & 15u));
}

}  // namespace tarnwell
