#include "app/check_command.h"

#include <vector>

#include "app/check_plot.h"
#include "app/dialog_check_observer.h"
#include "app/exit_codes.h"
#include "app/frame_rate_note.h"
#include "app/json_text.h"
#include "app/output_target.h"
#include "app/ts_input.h"
#include "verify/check_run.h"
#include "verify/exact_search.h"

namespace tarnwell {
namespace {

// --trace: picture,size_bits,fullness_before,fullness_after for every
// picture of the last pass. The rows of the pass are held aside (emptied at
// every pass start) and written when the run ends, under a temporary name
// until then; standard output and devices get them only then, since what
// went there cannot be taken back.
class CheckTrace {
 public:
  bool open(const std::string& path, std::string& reason) { return target_.open(path, reason, true); }
  void start_pass() {
    started_ = true;
    if (!rows_.clear(0)) write_failed_ = true;
  }
  void write(const PictureTrace& t) {
    std::FILE* part = rows_.part(0);
    if (part == nullptr) return;
    if (t.has_fullness_after) {
      std::fprintf(part, "%llu,%u,%u,%u\n", static_cast<unsigned long long>(t.index), t.size_bits,
                   t.fullness_before, t.fullness_after);
    } else {
      std::fprintf(part, "%llu,%u,%u,\n", static_cast<unsigned long long>(t.index), t.size_bits, t.fullness_before);
    }
  }
  // The trace in place; false, with the reason, when it could not be
  // written. A file that no pass began stays empty; standard output and
  // devices get the header whatever happened.
  bool finish(std::string& reason) {
    const bool header = started_ || !target_.can_rewind();
    if (write_failed_ ||
        (header && (std::fputs("picture,size_bits,fullness_before,fullness_after\n", target_.get()) < 0 ||
                    !rows_.copy(0, target_.get())))) {
      target_.discard();
      reason = write_failed_ ? "cannot empty it for the next pass" : "cannot copy its rows";
      return false;
    }
    return target_.commit(reason);
  }

 private:
  OutputTarget target_;
  OutputParts rows_;
  bool write_failed_ = false;
  bool started_ = false;
};

int exit_code_of(Outcome outcome) {
  switch (outcome) {
    case Outcome::Pass: return kExitPass;
    case Outcome::Refused:
    case Outcome::CannotOpen:
    case Outcome::NoPictures: return kExitUsage;
    case Outcome::Aborted: return kExitInterrupted;
    default: return kExitViolation;
  }
}

}  // namespace

int run_check(ApplicationContext& context, const CheckRequest& request, std::FILE* input, std::FILE* out,
              std::FILE* err) {
  const CliOptions& options = request.options;
  // The outputs are made (under temporary names) before the stream is read.
  std::string reason;
  const bool tracing = !options.trace_path.empty();
  const bool plotting = !options.plot_path.empty();
  CheckTrace trace;
  OutputTarget plot_file;
  if (tracing && !trace.open(options.trace_path, reason)) {
    return cannot_write(err, "trace", options.trace_path, reason);
  }
  if (plotting && !plot_file.open(options.plot_path, reason)) {
    return cannot_write(err, "plot", options.plot_path, reason);
  }
  if (input == nullptr) cannot_open(err, options.file, request.input_error);
  TsInput ts;
  std::vector<uint8_t> head;
  const TsWarningFn warn = [&context](const char* text) { context.reporter.notify_error("%s", text); };
  if (!open_command_input(input_reading(options), input, ts, warn, head, out, err)) return kExitUsage;

  CheckPlotRecorder plot;
  DialogCheckObserver observer(context.dialog);
  CheckRun run(context, observer);
  ExactSearch exact(context, observer, options.strict);
  // Without an input the run opens the path itself and ends as the dialog's
  // check does for a file it cannot open.
  run.input = exact.input = input;
  run.source = exact.source = ts.source();
  run.input_head = head;
  exact.input_head = std::move(head);
  run.stream_timing = exact.stream_timing = options.stream_timing;
  run.abort_cuts_input = true;
  run.on_pass_start = exact.on_pass_start = [&](uint32_t pass) {
    if (request.on_pass) request.on_pass(pass);
    if (tracing) trace.start_pass();
    if (plotting) plot.start_pass();
  };
  if (tracing || plotting) {
    run.on_picture = exact.on_picture = [&](const PictureTrace& t) {
      if (tracing) trace.write(t);
      if (plotting) plot.record(t);
    };
  }
  if (request.on_bytes_read) run.on_bytes_read = request.on_bytes_read;
  if (options.exact) {
    exact.run();
  } else {
    run.run();
  }
  if (request.on_run_end) request.on_run_end();

  const CheckRunResult& result = options.exact ? exact.result() : run.result();
  const CheckSettings& s = context.settings;
  if (result.rate_taken && !options.stream_timing) {
    std::fputs(assumed_frame_rate_note(result.taken_fraction).c_str(), err);
  }
  // An interrupted run leaves its outputs as they were.
  const bool aborted = result.outcome == Outcome::Aborted;
  if (tracing && !aborted && !trace.finish(reason)) {
    return cannot_write(err, "trace", options.trace_path, reason);
  }
  if (plotting && !aborted &&
      !(plot_file.write(check_plot_svg(
            CheckPlotInput{options.file, context.settings, options.strict, result.outcome, result.message}, plot)) &&
        plot_file.commit(reason))) {
    return cannot_write(err, "plot", options.plot_path, reason);
  }
  if (options.json) {
    std::fprintf(out,
                 "{\"outcome\":\"%s\",\"message\":%s,\"buffer_size\":%u,\"initial_fill\":%u,\"bit_rate\":%u,"
                 "\"frame_rate\":%.3f,\"passes\":%u,\"reads\":%u,\"pictures\":%llu%s}\n",
                 outcome_name(result.outcome), json_string(result.message).c_str(), s.buffer_size, s.initial_fill,
                 s.bit_rate, s.frame_rate, result.passes, result.reads,
                 static_cast<unsigned long long>(result.pictures), ts_errors_json(ts.source()).c_str());
    return exit_code_of(result.outcome);
  }
  if (result.outcome == Outcome::Pass) {
    std::fputs("PASS\n", out);
  } else if (result.outcome == Outcome::Aborted) {
    std::fputs("ABORTED\n", out);
  } else {
    std::fputs(result.message.c_str(), out);
    if (result.message.empty() || result.message.back() != '\n') std::fputc('\n', out);
  }
  std::fprintf(out, "buffer_size=%u\ninitial_fill=%u\nbit_rate=%u\nframe_rate=%.3f\n", s.buffer_size,
               s.initial_fill, s.bit_rate, s.frame_rate);
  return exit_code_of(result.outcome);
}

}  // namespace tarnwell
