#include "verify/curve.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "verify/buffer_model.h"

namespace tarnwell {

namespace {

constexpr uint64_t kMaxU32 = std::numeric_limits<uint32_t>::max();

// True when no picture underflows (or is larger than the buffer) at this
// arrival per picture; overflows are not looked at.
bool no_underflow(const std::vector<uint32_t>& sizes, uint32_t buffer_size, uint32_t initial_fill, uint64_t arrival,
                  bool strict) {
  uint64_t fullness = initial_fill;
  for (uint32_t size : sizes) {
    if (size > buffer_size || size > fullness) return false;
    fullness -= size;
    // Without the strict check the buffer stops filling at its size; with
    // it, a passing run never gets there. Capped at 2^63 so no sum wraps.
    fullness = std::min<uint64_t>(fullness + arrival, uint64_t{1} << 63);
    if (!strict) fullness = std::min<uint64_t>(fullness, buffer_size);
  }
  return true;
}

}  // namespace

CurvePoint curve_point(const std::vector<uint32_t>& sizes, uint32_t bit_rate, double frame_rate, bool strict) {
  CurvePoint point;
  point.bit_rate = bit_rate;
  if (bit_rate == 0 || sizes.size() > kMaxCurvePictures) return point;

  // With a frame rate of 1 or more (the curve takes no lower one) the arrival
  // per picture is at most the bit rate, a 32-bit value.
  const int64_t d = static_cast<int64_t>(std::min(arrival_per_picture(bit_rate, frame_rate), kMaxU32));

  // Below 2^31 pictures of less than 2^32 bits, every S_m and m*d stays
  // below 2^63.
  int64_t sum = 0;           // S_{i+1}
  int64_t need_fill = 0;     // max of S_{i+1} - i*d, and 0
  int64_t largest = 0;       // the largest picture
  int64_t lowest_p = 0;      // min of P_m for m = 1..n (strict)
  int64_t lowest_tail = 0;   // min of P_a for 1 <= a <= i (the starts of a stretch)
  int64_t largest_rise = std::numeric_limits<int64_t>::min();  // max of P_b - P_a, a < b
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    const int64_t index = static_cast<int64_t>(i);
    const int64_t size = sizes[i];
    sum += size;
    largest = std::max(largest, size);
    need_fill = std::max(need_fill, sum - index * d);
    const int64_t p = sum - (index + 1) * d;  // P_{i+1}
    if (i == 0) {
      lowest_p = p;
      lowest_tail = p;
      continue;
    }
    largest_rise = std::max(largest_rise, p - lowest_tail);
    lowest_tail = std::min(lowest_tail, p);
    lowest_p = std::min(lowest_p, p);
  }

  int64_t need_buffer = std::max<int64_t>({1, need_fill, largest});
  if (!sizes.empty()) {
    if (strict) {
      need_buffer = std::max(need_buffer, need_fill - lowest_p);
    } else if (sizes.size() > 1) {
      need_buffer = std::max(need_buffer, d + largest_rise);
    }
  }
  point.min_initial_fill = static_cast<uint64_t>(need_fill);
  point.min_buffer_size = static_cast<uint64_t>(need_buffer);
  point.valid = point.min_initial_fill <= kMaxU32 && point.min_buffer_size <= kMaxU32;
  return point;
}

std::optional<uint32_t> least_bit_rate(const std::vector<uint32_t>& sizes, uint32_t buffer_size,
                                       uint32_t initial_fill, double frame_rate, bool strict) {
  // The arrival grows with the rate, and every fullness with the arrival.
  auto works = [&](uint32_t rate) {
    return no_underflow(sizes, buffer_size, initial_fill, std::min(arrival_per_picture(rate, frame_rate), kMaxU32),
                        strict);
  };
  if (!works(static_cast<uint32_t>(kMaxU32))) return std::nullopt;
  uint32_t low = 1;  // 0 is a search, not a rate
  uint32_t high = static_cast<uint32_t>(kMaxU32);
  while (low < high) {
    const uint32_t middle = low + (high - low) / 2;
    if (works(middle)) {
      high = middle;
    } else {
      low = middle + 1;
    }
  }
  return low;
}

std::vector<uint32_t> default_curve_rates(const std::vector<uint32_t>& sizes, double frame_rate) {
  uint64_t average = 1000;
  if (!sizes.empty() && frame_rate > 0.0) {
    uint64_t total = 0;
    for (uint32_t size : sizes) total += size;
    const double rate = static_cast<double>(total) * frame_rate / static_cast<double>(sizes.size());
    const double thousands = std::ceil(rate / 1000.0);
    // Past the 32-bit range no default rate is left; the bound also keeps
    // the conversion defined.
    if (!(thousands <= static_cast<double>(kMaxU32 / 1000 + 1))) return {};
    average = std::max<uint64_t>(1, static_cast<uint64_t>(thousands)) * 1000;
  }
  std::vector<uint32_t> rates;
  for (uint64_t k = 0; k < 16; ++k) {
    // average + k * (4 * average - average) / 15
    const uint64_t rate = average + average * k / 5;
    if (rate > kMaxU32) break;
    rates.push_back(static_cast<uint32_t>(rate));
  }
  return rates;
}

}  // namespace tarnwell
