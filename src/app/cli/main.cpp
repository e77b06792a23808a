// tarnwell-cli: the check and the report of the dialog, from a command line.
#include <cstdio>
#include <string>

#include "app/cli/console_dialog.h"
#include "app/cli_options.h"
#include "context/application_context.h"
#include "inspect/hrd_report.h"
#include "inspect/stream_probe.h"
#include "platform/interrupt.h"
#include "stream/stream_file.h"
#include "verify/check_run.h"

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace tarnwell {
namespace {

constexpr int kExitPass = 0;
constexpr int kExitViolation = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

int exit_code_of(Outcome outcome) {
  switch (outcome) {
    case Outcome::Pass: return kExitPass;
    case Outcome::Refused:
    case Outcome::CannotOpen: return kExitUsage;
    case Outcome::Aborted: return kExitInterrupted;
    default: return kExitViolation;
  }
}

std::string json_string(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          out += escaped;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

void print_values(const CheckSettings& s) {
  std::printf("buffer_size=%u\ninitial_fill=%u\nbit_rate=%u\nframe_rate=%.3f\n", s.buffer_size, s.initial_fill,
              s.bit_rate, s.frame_rate);
}

// The trace of the last pass: emptied at every pass start, written as the
// run goes.
class TraceFile {
 public:
  explicit TraceFile(std::string path) : path_(std::move(path)) {}
  ~TraceFile() {
    if (file_ != nullptr) std::fclose(file_);
  }
  bool start_pass() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = std::fopen(path_.c_str(), "w");
    if (file_ == nullptr) return false;
    std::fputs("picture,size_bits,fullness_before,fullness_after\n", file_);
    return true;
  }
  void write(const PictureTrace& t) {
    if (file_ == nullptr) return;
    if (t.has_fullness_after) {
      std::fprintf(file_, "%llu,%u,%u,%u\n", static_cast<unsigned long long>(t.index), t.size_bits,
                   t.fullness_before, t.fullness_after);
    } else {
      std::fprintf(file_, "%llu,%u,%u,\n", static_cast<unsigned long long>(t.index), t.size_bits, t.fullness_before);
    }
  }

 private:
  std::string path_;
  std::FILE* file_ = nullptr;
};

int run_check(const CliOptions& options) {
  const bool progress = isatty(fileno(stderr)) != 0;
  ConsoleDialog dialog(options.warnings, options.strict, progress);
  ApplicationContext context(dialog);
  context.settings = options.settings;
  context.shared.stream_path = options.file;
  if (options.warnings == WarningPolicy::Off) {
    context.reporter.disable();
    context.reporter.set_stderr_enabled(false);
  }
  InterruptGuard interrupt(context.shared.abort_requested);

  if (!options.trace_path.empty()) {
    std::FILE* probe = std::fopen(options.trace_path.c_str(), "w");
    if (probe == nullptr) {
      std::fprintf(stderr, "tarnwell-cli: cannot write the trace file %s\n", options.trace_path.c_str());
      return kExitUsage;
    }
    std::fclose(probe);
  }
  TraceFile trace(options.trace_path);
  CheckRun run(context);
  run.on_pass_start = [&](uint32_t pass) {
    dialog.set_pass(pass);
    if (!options.trace_path.empty()) trace.start_pass();
  };
  if (!options.trace_path.empty()) run.on_picture = [&](const PictureTrace& t) { trace.write(t); };
  run.run();
  dialog.finish_progress();

  const CheckRunResult& result = run.result();
  const CheckSettings& s = context.settings;
  if (result.outcome == Outcome::Pass && result.pictures == 0 && options.warnings != WarningPolicy::Off) {
    std::fputs("Warning: no picture was checked\n", stderr);
  }
  if (options.json) {
    std::printf(
        "{\"outcome\":\"%s\",\"message\":%s,\"buffer_size\":%u,\"initial_fill\":%u,\"bit_rate\":%u,"
        "\"frame_rate\":%.3f,\"passes\":%u,\"reads\":%u,\"pictures\":%llu}\n",
        outcome_name(result.outcome), json_string(result.message).c_str(), s.buffer_size, s.initial_fill, s.bit_rate,
        s.frame_rate, result.passes, result.reads, static_cast<unsigned long long>(result.pictures));
  } else {
    if (result.outcome == Outcome::Pass) {
      std::puts("PASS");
    } else if (result.outcome == Outcome::Aborted) {
      std::puts("ABORTED");
    } else {
      std::fputs(result.message.c_str(), stdout);
      if (result.message.empty() || result.message.back() != '\n') std::fputc('\n', stdout);
    }
    print_values(s);
  }
  return exit_code_of(result.outcome);
}

int run_info(const CliOptions& options) {
  ConsoleDialog dialog(options.warnings, false, false);
  ApplicationContext context(dialog);
  context.shared.stream_path = options.file;
  if (options.warnings == WarningPolicy::Off) {
    context.reporter.disable();
    context.reporter.set_stderr_enabled(false);
  }
  if (probe_profile_level(context) != ProbeResult::Shown) {
    std::fprintf(stderr, "tarnwell-cli: %s: %s\n", dialog.error_text().c_str(), options.file.c_str());
    return kExitUsage;
  }
  std::FILE* out = stdout;
  if (!options.hrd_path.empty()) {
    out = std::fopen(options.hrd_path.c_str(), "w");
    if (out == nullptr) {
      std::fprintf(stderr, "tarnwell-cli: Cannot open file for HRD info: %s\n", options.hrd_path.c_str());
      return kExitUsage;
    }
  }
  std::printf("Profile: %s\nLevel: %s\n", dialog.get_text(kEditProfile, 100).c_str(),
              dialog.get_text(kEditLevel, 100).c_str());
  std::fflush(stdout);
  std::FILE* stream = open_stream_file(options.file.c_str());
  if (stream == nullptr) {
    std::fprintf(stderr, "tarnwell-cli: Cannot open input file: %s\n", options.file.c_str());
    if (out != stdout) std::fclose(out);
    return kExitUsage;
  }
  {
    ApplicationContext::ParsingLease lease = context.try_take_parsing();
    write_hrd_report(context, stream, out);
  }
  std::fclose(stream);
  if (out != stdout) std::fclose(out);
  return kExitPass;
}

}  // namespace
}  // namespace tarnwell

int main(int argc, char** argv) {
  using namespace tarnwell;
  CliOptions options = parse_cli_options(argc, argv);
  if (!options.error.empty()) {
    std::fprintf(stderr, "%s\n", options.error.c_str());
    return kExitUsage;
  }
  switch (options.command) {
    case CliCommand::Help: std::fputs(cli_usage(), stdout); return kExitPass;
    case CliCommand::Version: std::printf("%s\n", cli_version()); return kExitPass;
    case CliCommand::Check: return run_check(options);
    case CliCommand::Info: return run_info(options);
  }
  return kExitUsage;
}
