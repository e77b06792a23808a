#pragma once
// Table A-1's limits per level and Table A-2's factors per profile: what the
// HRD conformance check holds BitRate, CpbSize and removal intervals against.
#include <cstdint>

namespace tarnwell {

struct LevelLimits {
  const char* name;       // "1b", "3.1", ...
  uint32_t level_number;  // ten times the level number; 1b is 9
  uint32_t max_mbps;      // MB/s
  uint32_t max_fs;        // MBs
  uint32_t max_dpb_mbs;   // MBs
  uint32_t max_br;        // in units of the profile's factor bit/s
  uint32_t max_cpb;       // in units of the profile's factor bits
  uint32_t min_cr;
};

// The level a stream's SPS indicates (A.3.1, A.3.2: level_idc 11 with
// constraint_set3_flag in Baseline, Main and Extended, or level_idc 9, is
// level 1b); null for a level_idc the table does not hold.
const LevelLimits* find_level_limits(uint32_t profile_idc, uint32_t level_idc, uint32_t constraint_set3_flag);

struct CpbBrFactors {
  uint32_t vcl = 0;  // cpbBrVclFactor; 0 when the profile is not one of Annex A's
  uint32_t nal = 0;  // cpbBrNalFactor
};
CpbBrFactors cpb_br_factors(uint32_t profile_idc);

}  // namespace tarnwell
