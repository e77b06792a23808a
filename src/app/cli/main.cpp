// tarnwell-cli: parses the command line and hands each command its request,
// its input and the console.
#include <atomic>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "app/check_command.h"
#include "app/cli/cli_files.h"
#include "app/cli/console_dialog.h"
#include "app/cli_options.h"
#include "app/curve_command.h"
#include "app/demux_command.h"
#include "app/exit_codes.h"
#include "app/hrd_check_command.h"
#include "app/info_command.h"
#include "app/ts_input.h"
#include "app/tstd_check_command.h"
#include "context/application_context.h"
#include "platform/interrupt.h"

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace tarnwell {
namespace {

// An output option naming the input is refused before anything is opened:
// true after the refusal line is printed.
bool output_on_input(const std::vector<std::pair<const char*, std::string>>& outputs, const std::string& file) {
  const std::string refusal = refuse_outputs_on_input(outputs, file);
  if (refusal.empty()) return false;
  std::fprintf(stderr, "%s\n", refusal.c_str());
  return true;
}

// The console and the context of the commands that read through the
// dialog's parsing state. The reporter's questions follow --warnings; the
// lines the parsers write to standard error themselves (the picture-timing
// warning) only with "each".
struct Console {
  Console(const CliOptions& options, bool strict, bool progress)
      : dialog(options.warnings, strict, progress), context(dialog), interrupt(context.shared.abort_requested) {
    if (options.warnings == WarningPolicy::Off) context.reporter.disable();
    context.reporter.set_stderr_enabled(options.warnings == WarningPolicy::Each);
    context.shared.stream_path = options.file;
  }
  ConsoleDialog dialog;
  ApplicationContext context;
  InterruptGuard interrupt;
};

// FILE opened ("-": standard input) and watched before its first bytes are
// looked at, so that Ctrl-C ends any wait for them; closed unless it is
// standard input.
struct CliInput {
  CliInput(const std::string& path, InterruptGuard& interrupt) : file(open_cli_input(path, reason)) {
    if (file != nullptr) interrupt.watch_input(fileno(file));
  }
  ~CliInput() {
    if (file != nullptr && file != stdin) std::fclose(file);
  }
  CliInput(const CliInput&) = delete;
  CliInput& operator=(const CliInput&) = delete;
  std::string reason;  // why it could not be opened
  std::FILE* file;
};

int run_check_cli(const CliOptions& options) {
  if (output_on_input({{"--trace", options.trace_path}, {"--plot", options.plot_path}}, options.file)) return kExitUsage;
  const bool progress = isatty(fileno(stderr)) != 0;
  // --exact reads the stream with the strict box unchecked and applies the
  // strict choice itself.
  Console console(options, options.strict && !options.exact, progress);
  ConsoleDialog& dialog = console.dialog;
  console.context.settings = options.settings;
  CliInput input(options.file, console.interrupt);
  CheckRequest request{{options, input.reason}, [&](uint32_t pass) { dialog.set_pass(pass); }, nullptr,
                       [&] { dialog.finish_progress(); }};
  if (progress) request.on_bytes_read = [&](uint64_t bytes) { dialog.set_bytes_read(bytes); };
  return run_check(console.context, request, input.file, stdout, stderr);
}

// info and demux: their one output option, no progress line, the strict box unchecked.
using CommandFn = int (*)(ApplicationContext&, const CliRequest&, std::FILE*, std::FILE*, std::FILE*);
int run_plain_cli(const CliOptions& options, const char* output_option, const std::string& output, CommandFn run) {
  if (output_on_input({{output_option, output}}, options.file)) return kExitUsage;
  Console console(options, false, false);
  CliInput input(options.file, console.interrupt);
  return run(console.context, CliRequest{options, input.reason}, input.file, stdout, stderr);
}

int run_curve_cli(const CliOptions& options) {
  if (output_on_input({{"--csv", options.csv_path}, {"--plot", options.plot_path}}, options.file)) return kExitUsage;
  // The reading runs the check with the strict box unchecked; the request
  // carries the strict choice into the arithmetic.
  Console console(options, false, isatty(fileno(stderr)) != 0);
  CliInput input(options.file, console.interrupt);
  if (input.file == nullptr) return cannot_open(stderr, options.file, input.reason);
  console.dialog.set_pass(1);
  const int code = run_curve(console.context, options, input.file, stdout, stderr);
  console.dialog.finish_progress();
  return code;
}

// hrd-check and tstd-check: their own Ctrl-C flag, no parsing state.
using AbortableFn = int (*)(const CliOptions&, std::FILE* input, std::FILE* out, std::FILE* err,
                            const std::atomic<uint32_t>* abort_requested);
int run_abortable_cli(const CliOptions& options, AbortableFn run) {
  if (output_on_input({{"--trace", options.trace_path}, {"--plot", options.plot_path}}, options.file)) return kExitUsage;
  std::atomic<uint32_t> abort_requested{0};
  InterruptGuard interrupt(abort_requested);
  CliInput input(options.file, interrupt);
  if (input.file == nullptr) return cannot_open(stderr, options.file, input.reason);
  return run(options, input.file, stdout, stderr, &abort_requested);
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
    case CliCommand::Check: return run_check_cli(options);
    case CliCommand::Info: return run_plain_cli(options, "--hrd", options.hrd_path, run_info);
    case CliCommand::Curve: return run_curve_cli(options);
    case CliCommand::HrdCheck:
      return run_abortable_cli(
          options, [](const CliOptions& o, std::FILE* in, std::FILE* out, std::FILE* err,
                      const std::atomic<uint32_t>* abort) { return run_hrd_check(o, in, out, err, abort); });
    case CliCommand::Demux: return run_plain_cli(options, "--output", options.output_path, run_demux);
    case CliCommand::TstdCheck:
      return run_abortable_cli(options, run_tstd_check);
  }
  return kExitUsage;
}
