#include "app/cli_options.h"

#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <optional>
#include <string_view>
#include <vector>

#include "app/settings_input.h"
#include "base/error_reporter.h"
#include "verify/buffer_model.h"

namespace tarnwell {

namespace {

enum class OptionKind {
  BufferSize,
  InitialFill,
  BitRate,
  FrameRate,
  Strict,
  Exact,
  Warnings,
  Json,
  Trace,
  Hrd,
  Plot,
  Csv,
  BitRates,
  Point,
  Schedule,
  MaxViolations,
  Format,
  Program,
  Pid,
  Output,
};

// The commands that accept an option, as a set of bits.
constexpr unsigned bit(CliCommand command) { return 1u << static_cast<unsigned>(command); }
constexpr unsigned kCheck = bit(CliCommand::Check);
constexpr unsigned kInfo = bit(CliCommand::Info);
constexpr unsigned kCurve = bit(CliCommand::Curve);
constexpr unsigned kHrdCheck = bit(CliCommand::HrdCheck);
constexpr unsigned kDemux = bit(CliCommand::Demux);
constexpr unsigned kTstdCheck = bit(CliCommand::TstdCheck);
constexpr unsigned kReaders = kCheck | kInfo | kCurve | kHrdCheck | kDemux;

struct OptionSpec {
  const char* name;
  OptionKind kind;
  bool takes_value;
  unsigned commands;  // the commands that accept it
};

constexpr OptionSpec kOptions[] = {
    {"--buffer-size", OptionKind::BufferSize, true, kCheck},
    {"--initial-fill", OptionKind::InitialFill, true, kCheck},
    {"--bit-rate", OptionKind::BitRate, true, kCheck},
    {"--frame-rate", OptionKind::FrameRate, true, kCheck | kCurve},
    {"--strict", OptionKind::Strict, false, kCheck | kCurve},
    {"--exact", OptionKind::Exact, false, kCheck},
    {"--warnings", OptionKind::Warnings, true, kCheck | kInfo | kCurve | kDemux},
    {"--json", OptionKind::Json, false, kCheck | kInfo | kCurve | kHrdCheck | kTstdCheck},
    {"--trace", OptionKind::Trace, true, kCheck | kHrdCheck | kTstdCheck},
    {"--hrd", OptionKind::Hrd, true, kInfo},
    {"--plot", OptionKind::Plot, true, kCheck | kCurve | kHrdCheck | kTstdCheck},
    {"--csv", OptionKind::Csv, true, kCurve},
    {"--bit-rates", OptionKind::BitRates, true, kCurve},
    {"--point", OptionKind::Point, true, kHrdCheck},
    {"--schedule", OptionKind::Schedule, true, kHrdCheck},
    {"--max-violations", OptionKind::MaxViolations, true, kHrdCheck | kTstdCheck},
    {"--format", OptionKind::Format, true, kReaders},
    {"--program", OptionKind::Program, true, kReaders | kTstdCheck},
    {"--pid", OptionKind::Pid, true, kReaders | kTstdCheck},
    {"--output", OptionKind::Output, true, kDemux},
};

const OptionSpec* find_option(std::string_view name) {
  for (const OptionSpec& option : kOptions) {
    if (name == option.name) return &option;
  }
  return nullptr;
}

// One line into the options' error, cut to the buffer if an argument is huge.
void set_error(CliOptions& options, const char* format, ...) TARNWELL_PRINTF(2, 3);
void set_error(CliOptions& options, const char* format, ...) {
  char line[512];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(line, sizeof line, format, arguments);
  va_end(arguments);
  options.error = line;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Digits in `base` only (no sign, no blanks), the whole text, at most 4294967295.
std::optional<uint32_t> parse_whole_number(std::string_view text, int base = 10) {
  uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// A finite decimal number of 0 or more that is the whole text: no sign, no
// blanks, none of the hexadecimal, inf or nan forms.
std::optional<double> parse_decimal(std::string_view text) {
  if (text.empty() || !(is_digit(text[0]) || text[0] == '.')) return std::nullopt;
  DecimalPrefix number = scan_decimal_prefix(text);
  if (number.length != text.size() || !std::isfinite(number.value)) return std::nullopt;
  return number.value;
}

// A PID: decimal, or hexadecimal after 0x, from 0 to 8191.
std::optional<uint16_t> parse_pid(std::string_view text) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::optional<uint32_t> value = parse_whole_number(hex ? text.substr(2) : text, hex ? 16 : 10);
  if (!value || *value > 0x1FFF) return std::nullopt;
  return static_cast<uint16_t>(*value);
}

// A decimal number, or a fraction of two (30000/1001) with a denominator
// above 0 and a finite quotient.
std::optional<double> parse_rate(std::string_view text) {
  const std::size_t slash = text.find('/');
  if (slash == std::string_view::npos) return parse_decimal(text);
  const std::optional<double> num = parse_decimal(text.substr(0, slash));
  const std::optional<double> den = parse_decimal(text.substr(slash + 1));
  if (!num || !den || !(*den > 0.0)) return std::nullopt;
  const double rate = *num / *den;
  if (!std::isfinite(rate)) return std::nullopt;
  return rate;
}

// Bit counts and bit rates as x264's and ffmpeg's VBV options are written
// (8000000, 8000k, 8M, 1.5M): decimal digits with at most one point, then an
// optional suffix k (x 1000) or M (x 1000000); the whole text, no sign, no
// blanks, no exponent. The value must come out a whole number from 0 to
// 4294967295 ("1.5k" is 1500, "1.0005k" is refused); otherwise no value.
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

// The most rates one --bit-rates may ask for.
constexpr uint32_t kMaxCurveRates = 10000;

// --bit-rates: FROM:TO:STEP gives FROM, FROM + STEP, ... up to TO (FROM <= TO);
// R1,R2,... keeps its order. At most kMaxCurveRates rates, every number read
// by parse_scaled_number (8000k, 8M), 1 to 4294967295: 0 would ask for a
// search, not a rate. No value when the text is refused.
std::optional<std::vector<uint32_t>> parse_bit_rates(std::string_view text) {
  const auto rate = [](std::string_view number) -> std::optional<uint32_t> {
    const std::optional<uint32_t> value = parse_scaled_number(number);
    if (!value || *value == 0) return std::nullopt;
    return value;
  };
  std::vector<uint32_t> rates;
  const std::size_t colon = text.find(':');
  if (colon != std::string_view::npos) {
    const std::size_t second = text.find(':', colon + 1);
    if (second == std::string_view::npos) return std::nullopt;
    const std::optional<uint32_t> from = rate(text.substr(0, colon));
    const std::optional<uint32_t> to = rate(text.substr(colon + 1, second - colon - 1));
    const std::optional<uint32_t> step = rate(text.substr(second + 1));
    if (!from || !to || !step || *from > *to || (uint64_t{*to} - *from) / *step >= kMaxCurveRates) {
      return std::nullopt;
    }
    for (uint64_t r = *from; r <= *to; r += *step) rates.push_back(static_cast<uint32_t>(r));
    return rates;
  }
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = text.find(',', start);
    const std::size_t length = comma == std::string_view::npos ? text.npos : comma - start;
    const std::optional<uint32_t> r = rate(text.substr(start, length));
    if (!r || rates.size() == kMaxCurveRates) return std::nullopt;
    rates.push_back(*r);
    if (comma == std::string_view::npos) return rates;
    start = comma + 1;
  }
}

std::optional<WarningPolicy> parse_policy(std::string_view text) {
  if (text == "each") return WarningPolicy::Each;
  if (text == "once") return WarningPolicy::Once;
  if (text == "off") return WarningPolicy::Off;
  return std::nullopt;
}

// A path value; one that begins with "--" is taken for a forgotten value.
bool is_path_value(std::string_view text) {
  return !text.empty() && text.substr(0, 2) != "--";
}

// The refused value, for the end of an error line: ", not 'VALUE'", or
// nothing when no value was given.
std::string refused(const char* value) {
  if (value == nullptr) return "";
  std::string text(value);
  if (text.size() > 200) text = text.substr(0, 200) + "...";
  return ", not '" + text + "'";
}

// Stores one option's value; false (with the error set) when it is refused.
bool apply_value(CliOptions& options, const OptionSpec& option, const char* value) {
  const std::string_view text = value != nullptr ? value : "";
  const bool present = value != nullptr;
  // "tarnwell-cli: --NAME needs WHAT, not 'VALUE'".
  const auto refuse = [&](const char* what) {
    set_error(options, "tarnwell-cli: %s needs %s%s", option.name, what, refused(value).c_str());
    return false;
  };
  switch (option.kind) {
    case OptionKind::BufferSize:
    case OptionKind::InitialFill:
    case OptionKind::BitRate: {
      std::optional<uint32_t> number = present ? parse_scaled_number(text) : std::nullopt;
      if (!number) return refuse("a whole number from 0 to 4294967295 (k = 1000, M = 1000000)");
      if (option.kind == OptionKind::InitialFill) options.initial_fill_given = true;
      uint32_t& field = option.kind == OptionKind::BufferSize    ? options.settings.buffer_size
                        : option.kind == OptionKind::InitialFill ? options.settings.initial_fill
                                                                 : options.settings.bit_rate;
      field = *number;
      return true;
    }
    case OptionKind::FrameRate: {
      if (text == "stream") {
        options.stream_timing = true;
        options.settings.frame_rate = 0.0;
        return true;
      }
      std::optional<double> rate = present ? parse_rate(text) : std::nullopt;
      if (!rate) return refuse("a decimal number of 0 or more, a fraction such as 30000/1001, or stream");
      options.stream_timing = false;
      options.settings.frame_rate = *rate;
      return true;
    }
    case OptionKind::Warnings: {
      std::optional<WarningPolicy> policy = present ? parse_policy(text) : std::nullopt;
      if (!policy) return refuse("each, once or off");
      options.warnings = *policy;
      return true;
    }
    case OptionKind::Format:
      if (text != "ts" && text != "h264") return refuse("ts or h264");
      options.format = text == "ts" ? FormatOption::Ts : FormatOption::H264;
      return true;
    case OptionKind::Program: {
      std::optional<uint32_t> number = present ? parse_whole_number(text) : std::nullopt;
      if (!number || *number == 0 || *number > 65535) return refuse("a program_number from 1 to 65535");
      options.ts.by_program = true;
      options.ts.program_number = static_cast<uint16_t>(*number);
      return true;
    }
    case OptionKind::Pid: {
      std::optional<uint16_t> pid = present ? parse_pid(text) : std::nullopt;
      if (!pid) return refuse("a PID from 0 to 8191 (or 0x0 to 0x1FFF)");
      options.ts.by_pid = true;
      options.ts.pid = *pid;
      return true;
    }
    case OptionKind::Trace:
    case OptionKind::Hrd:
    case OptionKind::Plot:
    case OptionKind::Csv:
    case OptionKind::Output: {
      if (!present || !is_path_value(text)) return refuse("a file name");
      std::string& field = option.kind == OptionKind::Trace  ? options.trace_path
                           : option.kind == OptionKind::Hrd  ? options.hrd_path
                           : option.kind == OptionKind::Plot ? options.plot_path
                           : option.kind == OptionKind::Csv  ? options.csv_path
                                                             : options.output_path;
      field = text;
      return true;
    }
    case OptionKind::BitRates: {
      std::optional<std::vector<uint32_t>> rates = present ? parse_bit_rates(text) : std::nullopt;
      if (!rates) {
        return refuse("FROM:TO:STEP or R1,R2,... of whole numbers from 1 to 4294967295 (k = 1000, M = 1000000)");
      }
      options.bit_rates = std::move(*rates);
      return true;
    }
    case OptionKind::Point:
      if (text != "nal" && text != "vcl" && text != "both") return refuse("nal, vcl or both");
      options.point = text == "nal" ? HrdPointChoice::Nal : text == "vcl" ? HrdPointChoice::Vcl : HrdPointChoice::Both;
      return true;
    case OptionKind::Schedule: {
      if (text == "all") {
        options.all_schedules = true;
        return true;
      }
      std::optional<uint32_t> number = present ? parse_whole_number(text) : std::nullopt;
      if (!number || *number > 31) return refuse("a schedule from 0 to 31 or all");
      options.all_schedules = false;
      options.schedule = *number;
      return true;
    }
    case OptionKind::MaxViolations: {
      std::optional<uint32_t> number = present ? parse_whole_number(text) : std::nullopt;
      if (!number) return refuse("a whole number from 0 to 4294967295");
      options.max_violations = *number;
      return true;
    }
    case OptionKind::Strict:
      options.strict = true;
      return true;
    case OptionKind::Exact:
      options.exact = true;
      return true;
    case OptionKind::Json:
      options.json = true;
      return true;
  }
  return true;
}

}  // namespace

const char* command_name(CliCommand command) {
  switch (command) {
    case CliCommand::Check: return "check";
    case CliCommand::Info: return "info";
    case CliCommand::Curve: return "curve";
    case CliCommand::HrdCheck: return "hrd-check";
    case CliCommand::Demux: return "demux";
    case CliCommand::TstdCheck: return "tstd-check";
    case CliCommand::Help: return "--help";
    case CliCommand::Version: return "--version";
  }
  return "check";
}

CliOptions parse_cli_options(int argc, const char* const* argv) {
  CliOptions options;
  if (argc < 2 || argv == nullptr || argv[1] == nullptr) {
    set_error(options, "tarnwell-cli: missing command; try tarnwell-cli --help");
    return options;
  }
  const std::string_view command = argv[1];
  if (command == "--help" || command == "-h" || command == "--version") {
    options.command = command == "--version" ? CliCommand::Version : CliCommand::Help;
    if (argc > 2) set_error(options, "tarnwell-cli: %s takes no arguments", argv[1]);
    return options;
  }
  // An unknown command leaves the options' own, Help.
  for (CliCommand known : {CliCommand::Check, CliCommand::Info, CliCommand::Curve, CliCommand::HrdCheck,
                           CliCommand::Demux, CliCommand::TstdCheck}) {
    if (command == command_name(known)) options.command = known;
  }
  if (options.command == CliCommand::Help) {
    set_error(options, "tarnwell-cli: unknown command '%s'; try tarnwell-cli --help", argv[1]);
    return options;
  }

  bool file_given = false;
  bool options_ended = false;
  for (int i = 2; i < argc; ++i) {
    const std::string_view argument = argv[i] != nullptr ? argv[i] : "";
    const bool looks_like_option = !options_ended && argument.size() > 1 && argument[0] == '-';
    if (!options_ended && argument == "--") {
      options_ended = true;
      continue;
    }
    if (looks_like_option && (argument == "--help" || argument == "-h")) {
      options = CliOptions();
      options.command = CliCommand::Help;
      return options;
    }
    if (looks_like_option) {
      // "--name=value" carries its value; "--name" takes the next argument.
      const std::size_t equals = argument.substr(0, 2) == "--" ? argument.find('=') : std::string_view::npos;
      const std::string_view name = argument.substr(0, equals);
      const OptionSpec* option = find_option(name);
      if (option == nullptr || (option->commands & bit(options.command)) == 0) {
        const std::string shown(name);
        set_error(options, "tarnwell-cli: unknown option '%s' for %s", shown.c_str(), command_name(options.command));
        return options;
      }
      const char* value = nullptr;
      if (equals != std::string_view::npos) {
        if (!option->takes_value) {
          set_error(options, "tarnwell-cli: %s takes no value, not '%s'", option->name, argv[i] + equals + 1);
          return options;
        }
        value = argv[i] + equals + 1;
      } else if (option->takes_value && i + 1 < argc) {
        value = argv[++i];
      }
      if (!apply_value(options, *option, value)) return options;
      continue;
    }
    if (file_given) {
      set_error(options, "tarnwell-cli: %s takes one FILE, not also '%s'", command_name(options.command),
                argv[i] != nullptr ? argv[i] : "");
      return options;
    }
    options.file = argument;
    file_given = true;
  }
  if (options.file.empty()) {
    set_error(options, "tarnwell-cli: %s needs a FILE", command_name(options.command));
    return options;
  }
  if (options.ts.by_program && options.ts.by_pid) {
    set_error(options, "tarnwell-cli: --program and --pid cannot be given together");
    return options;
  }
  if (options.ts.by_program || options.ts.by_pid || options.command == CliCommand::Demux ||
      options.command == CliCommand::TstdCheck) {
    if (options.format == FormatOption::H264) {
      const bool ts_command = options.command == CliCommand::Demux || options.command == CliCommand::TstdCheck;
      set_error(options, "tarnwell-cli: %s reads a transport stream, not --format h264",
                ts_command ? command_name(options.command) : options.ts.by_pid ? "--pid" : "--program");
      return options;
    }
    options.format = FormatOption::Ts;
  }
  if (options.command == CliCommand::Demux && options.output_path.empty()) {
    set_error(options, "tarnwell-cli: demux needs --output PATH");
    return options;
  }
  if (options.exact && options.settings.buffer_size != 0 && options.settings.bit_rate != 0) {
    set_error(options, "tarnwell-cli: --exact finds the least buffer size or bit rate: give --buffer-size 0 or "
              "--bit-rate 0");
    return options;
  }
  // The rule the buffer-size search uses for the fill of its later passes.
  if (!options.initial_fill_given) options.settings.initial_fill = default_initial_fill(options.settings.buffer_size);
  return options;
}

const char* cli_usage() {
  return "tarnwell-cli check FILE [--buffer-size BITS] [--initial-fill BITS] [--bit-rate BITS_PER_S]\n"
         "                        [--frame-rate FPS|N/D|stream] [--strict] [--exact] [--warnings each|once|off]\n"
         "                        [--json] [--trace CSV] [--plot SVG]\n"
         "tarnwell-cli info FILE [--hrd PATH] [--json] [--warnings each|once|off]\n"
         "tarnwell-cli curve FILE [--bit-rates FROM:TO:STEP | R1,R2,...] [--frame-rate FPS|N/D|stream] [--strict]\n"
         "                        [--json] [--csv PATH] [--plot SVG] [--warnings each|once|off]\n"
         "tarnwell-cli hrd-check FILE [--point nal|vcl|both] [--schedule N|all] [--json] [--trace CSV]\n"
         "                            [--plot SVG] [--max-violations N]\n"
         "tarnwell-cli demux FILE --output PATH [--program N | --pid N] [--warnings each|once|off]\n"
         "tarnwell-cli tstd-check FILE [--program N | --pid N] [--json] [--trace CSV] [--plot SVG]\n"
         "                             [--max-violations N]\n"
         "tarnwell-cli --help | -h | --version\n"
         "\n"
         "FILE may be - for standard input; an output PATH of - is standard output.\n"
         "Every command takes [--format ts|h264] [--program N | --pid N]: a transport stream is read\n"
         "as its H.264 stream (by default the first of the lowest program_number that has one).\n"
         "Every command refuses a FILE that is neither H.264 nor a transport stream (MP4, HEVC, ...);\n"
         "--format h264 reads it as H.264 whatever it looks like.\n"
         "Bits and bit rates take k (x 1000) and M (x 1000000): --buffer-size 4M, --bit-rate 8000k.\n"
         "check: a buffer of 10000000 bits unless --buffer-size is given; an initial fill not\n"
         "given is 90% of the buffer size, truncated; a bit rate or buffer size of 0 is searched.\n"
         "The searches step on a grid (500000 between 1000000 and 10000000; finer below, coarser\n"
         "above) and report the first grid value that passes, not the least value that does.\n"
         "--exact reports the least value instead, to the bit: the least buffer size (with the\n"
         "least initial fill) or the least bit rate with which the check passes.\n"
         "--frame-rate 0 (the default) takes the stream's: 25 without fixed_frame_rate_flag;\n"
         "stream takes time_scale / (2 * num_units_in_tick) whenever the stream has timing.\n"
         "A check counts a picture as its NAL units without start codes, zero bytes and emulation\n"
         "prevention bytes, the NAL units in front of it included; hrd-check's b(n) counts every\n"
         "byte of the access unit at the NAL point, the VCL and filler NAL units at the VCL point.\n"
         "Ctrl-C ends any command with ABORTED (exit 130); output files are replaced only when\n"
         "complete.\n"
         "Options take their value as --option VALUE or --option=VALUE; -- ends the options.\n";
}

const char* cli_version() {
  return "tarnwell-cli 1.9";
}

}  // namespace tarnwell
