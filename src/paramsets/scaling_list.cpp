#include "paramsets/scaling_list.h"

namespace tarnwell {

void parse_scaling_list(std::span<int32_t> list, uint32_t& use_default_flag, BitReader& reader) {
  const uint8_t* scan = nullptr;
  if (list.size() == zigzag4x4.size()) {
    scan = zigzag4x4.data();
  } else if (list.size() == zigzag8x8.size()) {
    scan = zigzag8x8.data();
  } else {
    return;
  }

  int32_t last_scale = 8;
  int32_t next_scale = 8;
  for (std::size_t j = 0; j < list.size(); ++j) {
    const std::size_t p = scan[j];
    if (next_scale != 0) {
      const int32_t delta_scale = read_se("delta_scale", reader);
      if (delta_scale < -128 || delta_scale > 127) reader.fail(ReadStatus::kOutOfRange);
      // 64-bit sum: delta_scale may be anything a hostile stream encodes.
      // The remainder keeps the sign of the sum, as C++'s % does.
      const int64_t sum = static_cast<int64_t>(last_scale) + delta_scale + 256;
      next_scale = static_cast<int32_t>(sum % 256);
      use_default_flag = (j == 0 && next_scale == 0) ? 1u : 0u;
    }
    list[p] = next_scale != 0 ? next_scale : last_scale;
    last_scale = list[p];
  }
}

}  // namespace tarnwell
