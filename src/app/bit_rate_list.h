#pragma once
// The value of tarnwell-cli curve's --bit-rates: FROM:TO:STEP or R1,R2,...
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwell {

// The most rates one --bit-rates may ask for.
inline constexpr uint32_t kMaxCurveRates = 10000;

struct BitRateList {
  std::vector<uint32_t> rates;
  // Not empty when the text is refused: one line without a line end,
  // "tarnwell-cli: --bit-rates ...".
  std::string error;
};

// Every number is read by parse_scaled_number (8000k, 8M), 1 to 4294967295 (0 would ask for a
// search, not a rate). FROM:TO:STEP gives FROM, FROM + STEP, ... up to TO
// (FROM <= TO, STEP >= 1); a list keeps its order. At most kMaxCurveRates
// rates.
BitRateList parse_bit_rates(std::string_view text);

}  // namespace tarnwell
