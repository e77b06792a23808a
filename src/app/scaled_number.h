#pragma once
// Bit counts and bit rates as users write them on a command line, the way
// x264's and ffmpeg's VBV options are written: 8000000, 8000k, 8M, 1.5M.
#include <cstdint>
#include <optional>
#include <string_view>

namespace tarnwell {

// Decimal digits with at most one point, then an optional suffix k (x 1000)
// or M (x 1000000); the whole text, no sign, no blanks, no exponent. The
// value must come out a whole number from 0 to 4294967295 ("1.5k" is 1500,
// "1.0005k" is refused); otherwise no value.
std::optional<uint32_t> parse_scaled_number(std::string_view text);

}  // namespace tarnwell
