#include "paramsets/parameter_sets.h"

#include <algorithm>

#include "paramsets/rbsp_reader.h"
#include "stream/nal_reader.h"

namespace tarnwell {

BitReader make_rbsp_reader(const NalUnit& nal) {
  const int32_t count = std::max<int32_t>(nal.length - 1, 0);
  const int32_t readable = std::max<int32_t>(nal.readable - 1, 0);
  const uint8_t* data = nal.bytes + 1;
  return make_bit_reader(data, rbsp_data_length(data, count), readable);
}

BitReader make_bounded_rbsp_reader(const uint8_t* rbsp, int32_t size, bool whole_bytes) {
  if (rbsp == nullptr || size <= 0) return make_bounded_bit_reader(rbsp, 0);
  return make_bounded_bit_reader(rbsp, whole_bytes ? size : rbsp_data_length(rbsp, size));
}

ParameterSets::ParameterSets(ErrorReporter& reporter, FrameRateFraction& frame_rate)
    : reporter_(reporter), frame_rate_(frame_rate), sps_table_(kSpsSlots), pps_table_(kPpsSlots) {}

}  // namespace tarnwell
