#include "app/settings_input.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <limits>
#include <string>
#include <system_error>
#include <utility>

namespace tarnwell {

namespace {

// The blanks that "%d" and the decimal scan skip: isspace in the C locale.
bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::size_t skip_blanks(std::string_view text, std::size_t at) {
  while (at < text.size() && is_blank(text[at])) ++at;
  return at;
}

// Nine decimal digits at most, so the magnitude always fits; "%d" would have
// no defined result for a number beyond int's range.
static_assert(999'999'999 <= std::numeric_limits<int32_t>::max());
static_assert(kIntegerEditChars <= 9);

// Decimal exponent of the number's leading nonzero digit, with the explicit
// exponent added; it tells which way a number outside double's range went.
// The exponent is saturated, far beyond where a double ends either way.
int32_t leading_digit_power(std::string_view mantissa, std::string_view exponent_digits, bool negative_exponent) {
  constexpr int32_t kSaturated = 100000;
  int32_t exponent = 0;
  for (char c : exponent_digits) {
    if (exponent < kSaturated) exponent = exponent * 10 + (c - '0');
  }
  if (negative_exponent) exponent = -exponent;
  std::size_t point = mantissa.find('.');
  std::size_t integer_digits = point == std::string_view::npos ? mantissa.size() : point;
  std::size_t first = mantissa.find_first_not_of("0.");
  if (first == std::string_view::npos) return 0;  // zero: never out of range
  int32_t power = first < integer_digits ? static_cast<int32_t>(integer_digits - 1 - first)
                                         : -static_cast<int32_t>(first - integer_digits);
  return power + exponent;
}

}  // namespace

std::optional<uint32_t> parse_integer_edit(std::string_view text) {
  text = text.substr(0, kIntegerEditChars);
  std::size_t at = skip_blanks(text, 0);
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    negative = text[at] == '-';
    ++at;
  }
  if (at >= text.size() || !is_digit(text[at])) return std::nullopt;
  uint32_t magnitude = 0;
  for (; at < text.size() && is_digit(text[at]); ++at) {
    magnitude = magnitude * 10 + static_cast<uint32_t>(text[at] - '0');
  }
  // The field is unsigned: a negative number is kept as its two's complement.
  return negative ? 0u - magnitude : magnitude;
}

DecimalPrefix scan_decimal_prefix(std::string_view text) {
  std::size_t at = skip_blanks(text, 0);
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    negative = text[at] == '-';
    ++at;
  }
  const std::size_t mantissa_start = at;
  std::size_t digits = 0;
  for (; at < text.size() && is_digit(text[at]); ++at) ++digits;
  if (at < text.size() && text[at] == '.') {
    std::size_t after_point = at + 1;
    std::size_t fraction_digits = 0;
    for (; after_point < text.size() && is_digit(text[after_point]); ++after_point) ++fraction_digits;
    // A point counts only with a digit on one side of it ("5." and ".5", not ".").
    if (digits + fraction_digits > 0) {
      digits += fraction_digits;
      at = after_point;
    }
  }
  if (digits == 0) return {};
  const std::string_view mantissa = text.substr(mantissa_start, at - mantissa_start);

  // The exponent counts only when at least one digit follows "e" and its sign.
  std::string_view exponent_digits;
  bool negative_exponent = false;
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    std::size_t exponent_at = at + 1;
    bool minus = false;
    if (exponent_at < text.size() && (text[exponent_at] == '+' || text[exponent_at] == '-')) {
      minus = text[exponent_at] == '-';
      ++exponent_at;
    }
    std::size_t exponent_end = exponent_at;
    while (exponent_end < text.size() && is_digit(text[exponent_end])) ++exponent_end;
    if (exponent_end > exponent_at) {
      exponent_digits = text.substr(exponent_at, exponent_end - exponent_at);
      negative_exponent = minus;
      at = exponent_end;
    }
  }

  // from_chars reads exactly the text accepted above (without its sign) and
  // never looks at the locale.
  const char* first = text.data() + mantissa_start;
  const char* last = text.data() + at;
  double magnitude = 0.0;
  std::from_chars_result result = std::from_chars(first, last, magnitude, std::chars_format::general);
  if (result.ec == std::errc::result_out_of_range) {
    magnitude = leading_digit_power(mantissa, exponent_digits, negative_exponent) >= 0
                    ? std::numeric_limits<double>::infinity()
                    : 0.0;
  } else if (result.ec != std::errc() || result.ptr != last) {
    return {};  // cannot happen for the text accepted above
  }
  return {at, negative ? -magnitude : magnitude};
}

double parse_frame_rate_edit(std::string_view text) {
  return scan_decimal_prefix(text.substr(0, kFrameRateEditChars)).value;
}

void read_check_settings(DialogPort& dialog, CheckSettings& settings, SharedValues& shared) {
  if (auto value = parse_integer_edit(dialog.get_text(kEditBufferSize, kIntegerEditChars))) {
    settings.buffer_size = *value;
  }
  if (auto value = parse_integer_edit(dialog.get_text(kEditInitialFill, kIntegerEditChars))) {
    settings.initial_fill = *value;
  }
  if (auto value = parse_integer_edit(dialog.get_text(kEditBitRate, kIntegerEditChars))) {
    settings.bit_rate = *value;
  }
  std::string path = dialog.get_text(kEditStreamPath, kStreamPathChars);
  // The path is a C string for the file functions: it ends at a NUL.
  path.resize(std::min(path.find('\0'), std::min(path.size(), kStreamPathChars)));
  shared.stream_path = std::move(path);
  settings.frame_rate = parse_frame_rate_edit(dialog.get_text(kEditFrameRate, kFrameRateEditChars));
  shared.abort_requested.store(0);
}

}  // namespace tarnwell
