#include "app/demux_command.h"

#include <vector>

#include "app/exit_codes.h"
#include "app/output_target.h"
#include "app/ts_input.h"

namespace tarnwell {

int run_demux(ApplicationContext& context, const CliRequest& request, std::FILE* input, std::FILE* out,
              std::FILE* err) {
  const CliOptions& options = request.options;
  // The output is made (under a temporary name) before the stream is read.
  std::string reason;
  OutputTarget output;
  if (!output.open(options.output_path, reason)) {
    std::fprintf(err, "tarnwell-cli: cannot write %s: %s\n", options.output_path.c_str(), reason.c_str());
    return kExitUsage;
  }
  if (input == nullptr) return cannot_open(err, options.file, request.input_error);
  TsInput ts;
  std::vector<uint8_t> head;
  const TsWarningFn warn = [&context](const char* text) { context.reporter.notify_error("%s", text); };
  if (!open_command_input(input_reading(options), input, ts, warn, head, out, err)) return kExitUsage;
  const bool copied = copy_elementary_stream(*ts.source(), output.get());
  // An interrupted copy leaves the output as it was; standard output may be
  // the stream itself, so the word goes to standard error.
  if (context.shared.abort_requested.load() != 0) {
    std::fputs("ABORTED\n", err);
    return kExitInterrupted;
  }
  if (!copied || !output.commit(reason)) {
    std::fprintf(err, "tarnwell-cli: cannot write %s%s%s\n", options.output_path.c_str(), reason.empty() ? "" : ": ",
                 reason.c_str());
    return kExitUsage;
  }
  return kExitPass;
}

}  // namespace tarnwell
