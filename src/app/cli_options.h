#pragma once
// The command line of tarnwell-cli. Parsing only: the caller prints the error
// line on standard error and exits with code 2, or prints the usage text.
#include <string>

#include "base/check_settings.h"

namespace tarnwell {

enum class CliCommand { Check, Info, Help, Version };

// What happens to the parse warnings that the dialog shows in its
// Yes/No/Cancel box: every one shown, each kind shown once, none shown.
enum class WarningPolicy { Each, Once, Off };

struct CliOptions {
  CliCommand command = CliCommand::Help;
  std::string file;  // FILE of check and info
  // The dialog's defaults: buffer 10000000, initial fill 9000000, bit rate 0
  // (search it), frame rate 0 (take it from the stream).
  CheckSettings settings{10000000, 9000000, 0, 0.0};
  bool strict = false;  // the strict overflow check
  WarningPolicy warnings = WarningPolicy::Once;
  bool json = false;
  std::string trace_path;  // --trace CSV; empty: no trace
  std::string hrd_path;    // --hrd PATH; empty: "hrd.txt" beside the program
  // Not empty after a usage error: one line, without a line end, naming
  // what is wrong ("tarnwell-cli: --bit-rate needs ...").
  std::string error;
};

// argv[0] is the program's name, as main receives it.
//
// The rules, beyond the synopsis of cli_usage():
// - The first argument is the command: check, info, --help or --version;
//   --help and --version take no further arguments. --help after check or
//   info asks for the usage text as well, unless an error came before it.
// - Options and FILE may come in any order after the command; "--" ends the
//   options, so a FILE that begins with "-" can follow it. Every option takes
//   its value from the next argument (no "--opt=value" form). An option given
//   twice keeps its last value.
// - --buffer-size, --initial-fill and --bit-rate take decimal digits only,
//   the whole argument, 0 to 4294967295: no sign, no blanks, no exponent.
// - --frame-rate takes a decimal number, the whole argument: digits with at
//   most one point, then an optional exponent; no sign, so no negative rate;
//   no hexadecimal, inf or nan. The locale does not matter. It must be
//   finite; a number too small for a double counts as 0.
// - --trace and --hrd take a non-empty path that does not begin with "--"
//   (so a forgotten value does not swallow the next option); write "./--x"
//   for such a file.
CliOptions parse_cli_options(int argc, const char* const* argv);

// The synopsis, one line per form, each ending in a line feed.
const char* cli_usage();

// "tarnwell-cli 1.9", the answer to --version.
const char* cli_version();

}  // namespace tarnwell
