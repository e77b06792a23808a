#pragma once
// The command line of tarnwell-cli. Parsing only: the caller prints the error
// line on standard error and exits with code 2, or prints the usage text.
#include <cstdint>
#include <string>
#include <vector>

#include "base/check_settings.h"
#include "stream/ts_source.h"

namespace tarnwell {

enum class CliCommand { Check, Info, Curve, HrdCheck, Demux, TstdCheck, Help, Version };

// The conformance points hrd-check tests.
enum class HrdPointChoice { Both, Nal, Vcl };

// How FILE is read: as an Annex B byte stream, or as a transport stream
// whose H.264 elementary stream is read. Not stated: as what its first bytes
// show it to be (refused unless H.264 or a transport stream).
enum class FormatOption { Unstated, H264, Ts };

// What happens to the parse warnings that the dialog shows in its
// Yes/No/Cancel box: every one shown, each kind shown once, none shown.
enum class WarningPolicy { Each, Once, Off };

struct CliOptions {
  CliCommand command = CliCommand::Help;
  std::string file;  // FILE of every command; "-" is standard input
  // The dialog's defaults: buffer 10000000, bit rate 0 (search it), frame
  // rate 0 (take it from the stream). An initial fill not given is 90% of
  // the buffer size, truncated (9000000 for the default buffer).
  CheckSettings settings{10000000, 9000000, 0, 0.0};
  bool initial_fill_given = false;
  // --frame-rate stream: the frame rate is the SPS's own timing whenever it
  // has timing information (settings.frame_rate is then 0).
  bool stream_timing = false;
  bool strict = false;  // the strict overflow check
  bool exact = false;   // check --exact: the least value that passes instead of the search's grid
  WarningPolicy warnings = WarningPolicy::Once;
  bool json = false;
  std::string trace_path;  // --trace CSV; empty: no trace
  std::string hrd_path;    // --hrd PATH; empty: "hrd.txt" beside the program
  std::string plot_path;   // --plot SVG; empty: no plot
  std::string csv_path;    // curve --csv PATH
  std::vector<uint32_t> bit_rates;  // curve --bit-rates FROM:TO:STEP or R1,R2,...; empty: the default rates
  HrdPointChoice point = HrdPointChoice::Both;         // hrd-check --point
  bool all_schedules = true;                 // hrd-check --schedule all (the default)
  uint32_t schedule = 0;                     // hrd-check --schedule N
  uint32_t max_violations = 10;              // hrd-check and tstd-check --max-violations
  FormatOption format = FormatOption::Unstated;  // --format; --program, --pid, demux and tstd-check ask for ts
  TsChoice ts;                               // --program N, --pid N
  std::string output_path;                   // demux --output PATH
  // Not empty after a usage error: one line, without a line end, naming
  // what is wrong ("tarnwell-cli: --bit-rate needs ...").
  std::string error;
};

// What a command is asked: its command line, and the system's reason when
// the front end could not open FILE (the command then gets no input).
struct CliRequest {
  CliOptions options;
  std::string input_error;
};

// "check", "hrd-check", ..., "--help": the command as it is typed.
const char* command_name(CliCommand command);

// argv[0] is the program's name, as main receives it.
//
// The rules, beyond the synopsis of cli_usage():
// - The first argument is the command: check, info, curve, hrd-check,
//   --help (or -h) or --version; --help and --version take no further
//   arguments. --help or -h after a command asks for the usage text as well,
//   unless an error came before it.
// - Options and FILE may come in any order after the command; "--" ends the
//   options, so a FILE that begins with "-" can follow it; "-" alone is
//   standard input. An option takes its value from the next argument or
//   after "=" in the same one ("--bit-rate=5"). An option given twice keeps
//   its last value. An error names the option and the value refused.
// - --buffer-size, --initial-fill and --bit-rate take a whole number from 0
//   to 4294967295, with an optional k or M suffix (parse_scaled_number).
// - --frame-rate takes a decimal number, the whole argument: digits with at
//   most one point, then an optional exponent; no sign, so no negative rate;
//   no hexadecimal, inf or nan. The locale does not matter. It must be
//   finite; a number too small for a double counts as 0. A fraction of two
//   such numbers (30000/1001, the denominator above 0) is its quotient;
//   "stream" takes the SPS's own timing (stream_timing).
// - --exact needs a search: --buffer-size 0 or --bit-rate 0 (the default).
// - --format takes ts or h264, for every command. --program takes a
//   program_number from 1 to 65535, --pid a PID from 0 to 8191 in decimal or
//   0x hexadecimal; either reads FILE as a transport stream, and they exclude
//   each other.
// - demux reads a transport stream and needs --output.
// - --trace, --hrd, --plot, --csv and --output take a non-empty path that does not
//   begin with "--" (so a forgotten value does not swallow the next option);
//   write "./--x" for such a file. "-" is standard output.
CliOptions parse_cli_options(int argc, const char* const* argv);

// The synopsis, one line per form, each ending in a line feed.
const char* cli_usage();

// "tarnwell-cli 1.9", the answer to --version.
const char* cli_version();

}  // namespace tarnwell
