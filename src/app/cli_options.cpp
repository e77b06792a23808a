#include "app/cli_options.h"

#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string_view>

#include "app/settings_input.h"
#include "base/error_reporter.h"

namespace tarnwell {

namespace {

enum class OptionKind { BufferSize, InitialFill, BitRate, FrameRate, Strict, Warnings, Json, Trace, Hrd };

struct OptionSpec {
  const char* name;
  OptionKind kind;
  bool takes_value;
  CliCommand command;  // the one command that accepts it
};

constexpr OptionSpec kOptions[] = {
    {"--buffer-size", OptionKind::BufferSize, true, CliCommand::Check},
    {"--initial-fill", OptionKind::InitialFill, true, CliCommand::Check},
    {"--bit-rate", OptionKind::BitRate, true, CliCommand::Check},
    {"--frame-rate", OptionKind::FrameRate, true, CliCommand::Check},
    {"--strict", OptionKind::Strict, false, CliCommand::Check},
    {"--warnings", OptionKind::Warnings, true, CliCommand::Check},
    {"--json", OptionKind::Json, false, CliCommand::Check},
    {"--trace", OptionKind::Trace, true, CliCommand::Check},
    {"--hrd", OptionKind::Hrd, true, CliCommand::Info},
};

const OptionSpec* find_option(std::string_view name) {
  for (const OptionSpec& option : kOptions) {
    if (name == option.name) return &option;
  }
  return nullptr;
}

const char* command_name(CliCommand command) {
  return command == CliCommand::Check ? "check" : "info";
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

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// Decimal digits only, the whole text, at most 4294967295.
std::optional<uint32_t> parse_whole_number(std::string_view text) {
  if (text.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    if (!is_digit(c)) return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
    if (value > UINT32_MAX) return std::nullopt;
  }
  return static_cast<uint32_t>(value);
}

// A finite decimal number of 0 or more that is the whole text: no sign, no
// blanks, none of the hexadecimal, inf or nan forms.
std::optional<double> parse_rate(std::string_view text) {
  if (text.empty() || !(is_digit(text[0]) || text[0] == '.')) return std::nullopt;
  DecimalPrefix number = scan_decimal_prefix(text);
  if (number.length != text.size() || !std::isfinite(number.value)) return std::nullopt;
  return number.value;
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

// Stores one option's value; false (with the error set) when it is refused.
bool apply_value(CliOptions& options, const OptionSpec& option, const char* value) {
  const std::string_view text = value != nullptr ? value : "";
  const bool present = value != nullptr;
  switch (option.kind) {
    case OptionKind::BufferSize:
    case OptionKind::InitialFill:
    case OptionKind::BitRate: {
      std::optional<uint32_t> number = present ? parse_whole_number(text) : std::nullopt;
      if (!number) {
        set_error(options, "tarnwell-cli: %s needs a whole number from 0 to 4294967295", option.name);
        return false;
      }
      uint32_t& field = option.kind == OptionKind::BufferSize    ? options.settings.buffer_size
                        : option.kind == OptionKind::InitialFill ? options.settings.initial_fill
                                                                 : options.settings.bit_rate;
      field = *number;
      return true;
    }
    case OptionKind::FrameRate: {
      std::optional<double> rate = present ? parse_rate(text) : std::nullopt;
      if (!rate) {
        set_error(options, "tarnwell-cli: %s needs a decimal number of 0 or more", option.name);
        return false;
      }
      options.settings.frame_rate = *rate;
      return true;
    }
    case OptionKind::Warnings: {
      std::optional<WarningPolicy> policy = present ? parse_policy(text) : std::nullopt;
      if (!policy) {
        set_error(options, "tarnwell-cli: %s needs each, once or off", option.name);
        return false;
      }
      options.warnings = *policy;
      return true;
    }
    case OptionKind::Trace:
    case OptionKind::Hrd: {
      if (!present || !is_path_value(text)) {
        set_error(options, "tarnwell-cli: %s needs a file name", option.name);
        return false;
      }
      (option.kind == OptionKind::Trace ? options.trace_path : options.hrd_path) = text;
      return true;
    }
    case OptionKind::Strict:
      options.strict = true;
      return true;
    case OptionKind::Json:
      options.json = true;
      return true;
  }
  return true;
}

}  // namespace

CliOptions parse_cli_options(int argc, const char* const* argv) {
  CliOptions options;
  if (argc < 2 || argv == nullptr || argv[1] == nullptr) {
    set_error(options, "tarnwell-cli: missing command; try tarnwell-cli --help");
    return options;
  }
  const std::string_view command = argv[1];
  if (command == "--help" || command == "--version") {
    options.command = command == "--help" ? CliCommand::Help : CliCommand::Version;
    if (argc > 2) set_error(options, "tarnwell-cli: %s takes no arguments", argv[1]);
    return options;
  }
  if (command == "check") {
    options.command = CliCommand::Check;
  } else if (command == "info") {
    options.command = CliCommand::Info;
  } else {
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
    if (looks_like_option && argument == "--help") {
      options = CliOptions();
      options.command = CliCommand::Help;
      return options;
    }
    if (looks_like_option) {
      const OptionSpec* option = find_option(argument);
      if (option == nullptr || option->command != options.command) {
        set_error(options, "tarnwell-cli: unknown option '%s' for %s", argv[i],
                  command_name(options.command));
        return options;
      }
      const char* value = nullptr;
      if (option->takes_value && i + 1 < argc) value = argv[++i];
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
  }
  return options;
}

const char* cli_usage() {
  return "tarnwell-cli check FILE [--buffer-size BITS] [--initial-fill BITS] [--bit-rate BITS_PER_S]\n"
         "                        [--frame-rate FPS] [--strict] [--warnings each|once|off] [--json] [--trace CSV]\n"
         "tarnwell-cli info FILE [--hrd PATH]\n"
         "tarnwell-cli --help | --version\n";
}

const char* cli_version() {
  return "tarnwell-cli 1.9";
}

}  // namespace tarnwell
