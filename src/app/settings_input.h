#pragma once
// How the Check handler reads the dialog's edits into the settings. The
// number formats are the dialog's own, independent of the process's locale.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "base/check_settings.h"
#include "base/dialog_port.h"

namespace tarnwell {

// Edits 1004 to 1006 are read as at most this many characters.
inline constexpr std::size_t kIntegerEditChars = 9;
// Edit 1008.
inline constexpr std::size_t kFrameRateEditChars = 79;
// Edit 1001, read at Check.
inline constexpr std::size_t kStreamPathChars = 2047;

// A leading signed decimal number, read the way the scan format "%d" reads
// it: blanks, an optional sign, at least one digit; whatever follows is
// ignored. Only the first kIntegerEditChars characters are looked at, so the
// value always fits in 32 bits. A negative number comes back as its 32-bit
// two's complement. No number at the start gives no value.
std::optional<uint32_t> parse_integer_edit(std::string_view text);

// The longest leading part of text that is a decimal floating-point number:
// blanks, an optional sign, digits with at most one decimal point (at least
// one digit in all), then an optional exponent (e or E, optional sign,
// digits). No hexadecimal, no inf, no nan.
struct DecimalPrefix {
  std::size_t length = 0;  // characters taken, blanks included; 0 when there is no number
  double value = 0.0;      // a number too large for a double is +-infinity, too small +-0
};
DecimalPrefix scan_decimal_prefix(std::string_view text);

// Edit 1008: the first kFrameRateEditChars characters as scan_decimal_prefix
// reads them; 0.0 when they do not begin with a number.
double parse_frame_rate_edit(std::string_view text);

// What the Check handler reads, in this order: edits 1004, 1005 and 1006 into
// buffer_size, initial_fill and bit_rate (an edit without a number leaves its
// field as it was), edit 1001 into stream_path, edit 1008 into frame_rate;
// then abort_requested := 0.
void read_check_settings(DialogPort& dialog, CheckSettings& settings, SharedValues& shared);

}  // namespace tarnwell
