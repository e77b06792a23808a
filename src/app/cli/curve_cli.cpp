#include "app/cli/curve_cli.h"

#include <cstdio>

#include "app/cli/cli_files.h"
#include "app/cli/console_dialog.h"
#include "platform/interrupt.h"

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace tarnwell {

int run_curve_cli(const std::string& file, const CurveRequest& request, WarningPolicy warnings) {
  const bool progress = isatty(fileno(stderr)) != 0;
  // The reading runs the check with the strict box unchecked; the request
  // carries the strict choice into the arithmetic.
  ConsoleDialog dialog(warnings, false, progress);
  ApplicationContext context(dialog);
  context.shared.stream_path = file;
  // As check: the parsers' own standard-error lines only with "each".
  if (warnings == WarningPolicy::Off) context.reporter.disable();
  context.reporter.set_stderr_enabled(warnings == WarningPolicy::Each);
  InterruptGuard interrupt(context.shared.abort_requested);

  std::string reason;
  std::FILE* input = open_cli_input(file, reason);
  if (input == nullptr) {
    std::fprintf(stderr, "tarnwell-cli: cannot open '%s': %s\n", file.c_str(), reason.c_str());
    return 2;
  }
  CurveRequest reading = request;
  reading.input = input;
  dialog.set_pass(1);
  const int code = run_curve(context, reading, stdout, stderr);
  if (input != stdin) std::fclose(input);
  dialog.finish_progress();
  return code;
}

}  // namespace tarnwell
