#include "app/scaled_number.h"

#include <limits>

namespace tarnwell {

std::optional<uint32_t> parse_scaled_number(std::string_view text) {
  uint64_t scale = 1;
  int scale_digits = 0;  // the power of ten of the scale
  if (!text.empty() && (text.back() == 'k' || text.back() == 'M')) {
    scale = text.back() == 'k' ? 1000 : 1000000;
    scale_digits = text.back() == 'k' ? 3 : 6;
    text.remove_suffix(1);
  }
  const std::size_t point = text.find('.');
  const std::string_view whole = text.substr(0, point);
  const std::string_view fraction = point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
  if (whole.empty() && fraction.empty()) return std::nullopt;

  constexpr uint64_t kMax = std::numeric_limits<uint32_t>::max();
  uint64_t value = 0;
  for (char c : whole) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
    if (value > kMax) return std::nullopt;
  }
  value *= scale;  // below 2^32 * 10^6: no wrap
  if (value > kMax) return std::nullopt;
  // The digits after the point, each worth a tenth of the one before: only
  // as many as the scale has places may be other than 0.
  uint64_t place = scale;
  for (char c : fraction) {
    if (c < '0' || c > '9') return std::nullopt;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (scale_digits == 0) {
      if (digit != 0) return std::nullopt;
      continue;
    }
    --scale_digits;
    place /= 10;
    value += digit * place;
  }
  if (value > kMax) return std::nullopt;
  return static_cast<uint32_t>(value);
}

}  // namespace tarnwell
