#include "paramsets/level_limits.h"

#include <array>

namespace tarnwell {
namespace {

constexpr std::array<LevelLimits, 20> kLevels = {{
    {"1", 10, 1485, 99, 396, 64, 175, 2},
    {"1b", 9, 1485, 99, 396, 128, 350, 2},
    {"1.1", 11, 3000, 396, 900, 192, 500, 2},
    {"1.2", 12, 6000, 396, 2376, 384, 1000, 2},
    {"1.3", 13, 11880, 396, 2376, 768, 2000, 2},
    {"2", 20, 11880, 396, 2376, 2000, 2000, 2},
    {"2.1", 21, 19800, 792, 4752, 4000, 4000, 2},
    {"2.2", 22, 20250, 1620, 8100, 4000, 4000, 2},
    {"3", 30, 40500, 1620, 8100, 10000, 10000, 2},
    {"3.1", 31, 108000, 3600, 18000, 14000, 14000, 4},
    {"3.2", 32, 216000, 5120, 20480, 20000, 20000, 4},
    {"4", 40, 245760, 8192, 32768, 20000, 25000, 4},
    {"4.1", 41, 245760, 8192, 32768, 50000, 62500, 2},
    {"4.2", 42, 522240, 8704, 34816, 50000, 62500, 2},
    {"5", 50, 589824, 22080, 110400, 135000, 135000, 2},
    {"5.1", 51, 983040, 36864, 184320, 240000, 240000, 2},
    {"5.2", 52, 2073600, 36864, 184320, 240000, 240000, 2},
    {"6", 60, 4177920, 139264, 696320, 240000, 240000, 2},
    {"6.1", 61, 8355840, 139264, 696320, 480000, 480000, 2},
    {"6.2", 62, 16711680, 139264, 696320, 800000, 800000, 2},
}};

bool baseline_main_extended(uint32_t profile_idc) {
  return profile_idc == 66 || profile_idc == 77 || profile_idc == 88;
}

}  // namespace

const LevelLimits* find_level_limits(uint32_t profile_idc, uint32_t level_idc, uint32_t constraint_set3_flag) {
  uint32_t number = level_idc;
  if (level_idc == 11 && constraint_set3_flag == 1 && baseline_main_extended(profile_idc)) number = 9;
  for (const LevelLimits& level : kLevels) {
    if (level.level_number == number) return &level;
  }
  return nullptr;
}

CpbBrFactors cpb_br_factors(uint32_t profile_idc) {
  switch (profile_idc) {
    case 66:
    case 77:
    case 88:
      return {1000, 1200};
    case 100:
      return {1250, 1500};
    case 110:
      return {3000, 3600};
    case 122:
      return {4000, 4800};
    case 244:
    case 44:
      return {4000, 4800};
    default:
      return {};
  }
}

}  // namespace tarnwell
