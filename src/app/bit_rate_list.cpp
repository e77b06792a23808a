#include "app/bit_rate_list.h"

#include <optional>

#include "app/scaled_number.h"

namespace tarnwell {

namespace {

constexpr char kUsage[] =
    "tarnwell-cli: --bit-rates needs FROM:TO:STEP or R1,R2,... (bits per second, 1 to 4294967295, k = 1000, "
    "M = 1000000)";

// A rate as every bit option reads it, 1 to the largest 32-bit value.
bool parse_rate(std::string_view text, uint32_t& value) {
  const std::optional<uint32_t> number = parse_scaled_number(text);
  if (!number || *number == 0) return false;
  value = *number;
  return true;
}

BitRateList refused(const char* text) {
  BitRateList list;
  list.error = text;
  return list;
}

}  // namespace

BitRateList parse_bit_rates(std::string_view text) {
  BitRateList list;
  const std::size_t colon = text.find(':');
  if (colon != std::string_view::npos) {
    const std::size_t second = text.find(':', colon + 1);
    if (second == std::string_view::npos) return refused(kUsage);
    uint32_t from = 0;
    uint32_t to = 0;
    uint32_t step = 0;
    if (!parse_rate(text.substr(0, colon), from) || !parse_rate(text.substr(colon + 1, second - colon - 1), to) ||
        !parse_rate(text.substr(second + 1), step)) {
      return refused(kUsage);
    }
    if (from > to) return refused("tarnwell-cli: --bit-rates FROM:TO:STEP needs FROM no larger than TO");
    if ((uint64_t{to} - from) / step >= kMaxCurveRates) {
      return refused("tarnwell-cli: --bit-rates asks for more than 10000 rates");
    }
    for (uint64_t rate = from; rate <= to; rate += step) list.rates.push_back(static_cast<uint32_t>(rate));
    return list;
  }
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = text.find(',', start);
    const std::string_view item = text.substr(start, comma == std::string_view::npos ? text.npos : comma - start);
    uint32_t rate = 0;
    if (!parse_rate(item, rate)) return refused(kUsage);
    if (list.rates.size() == kMaxCurveRates) return refused("tarnwell-cli: --bit-rates asks for more than 10000 rates");
    list.rates.push_back(rate);
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return list;
}

}  // namespace tarnwell
