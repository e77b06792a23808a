#include "app/hrd_check_command.h"

#include <algorithm>
#include <cinttypes>
#include <map>

#include "app/exit_codes.h"
#include "app/fullness_plot.h"
#include "app/hrd_check_report.h"
#include "app/output_target.h"
#include "app/ts_input.h"
#include "verify/hrd_run.h"

namespace tarnwell {

int run_hrd_check(const CliOptions& options, std::FILE* input, std::FILE* out, std::FILE* err,
                  const std::atomic<uint32_t>* abort_requested, const HrdRowSink* rows) {
  const bool nal = options.point != HrdPointChoice::Vcl;
  const bool vcl = options.point != HrdPointChoice::Nal;
  // The outputs are made (under temporary names) before the stream is read.
  OutputTarget plot_file;
  OutputTarget trace_file;
  std::string reason;
  if (!options.plot_path.empty() && !plot_file.open(options.plot_path, reason)) {
    return cannot_write(err, "plot", options.plot_path, reason);
  }
  if (!options.trace_path.empty() && !trace_file.open(options.trace_path, reason, true)) {
    return cannot_write(err, "trace", options.trace_path, reason);
  }
  if (input == nullptr) {
    std::fprintf(err, "tarnwell-cli: cannot open %s\n", options.file.c_str());
    return kExitUsage;
  }
  TsInput ts;
  std::vector<uint8_t> head;
  const TsWarningFn warn = [err](const char* text) { std::fprintf(err, "Warning: %s\n", text); };
  const InputReading how{options.file, options.format, options.ts, options.json, false, "hrd-check"};
  if (!open_command_input(how, input, ts, warn, head, out, err)) return kExitUsage;
  HrdRunOptions run_options;
  run_options.nal = nal;
  run_options.vcl = vcl;
  run_options.all_schedules = options.all_schedules;
  run_options.schedule = options.schedule;
  run_options.max_violations = options.max_violations;
  run_options.input_head = std::move(head);
  run_options.abort_requested = abort_requested;

  // Each test's trace and fullness (in bounded memory) are held aside while
  // the one pass runs; the chosen test's then become the CSV and the plot.
  OutputParts trace;
  std::map<std::size_t, FullnessSeries> series;
  const bool tracing = trace_file.is_open();
  const bool plotting = plot_file.is_open();
  const bool sink_rows = rows != nullptr && rows->row;
  HrdTraceFn trace_fn;
  if (tracing || plotting || sink_rows) {
    trace_fn = [&](std::size_t test, const HrdTraceRow& row) {
      std::FILE* part = tracing ? trace.part(test) : nullptr;
      if (part != nullptr) {
        std::fprintf(part, "%" PRIu64 ",%" PRIu64 ",%s,%s,%s,%s,%" PRId64 ",%" PRId64 "\n", row.access_unit, row.bits,
                     hrd_seconds_text(row.t_ai_us).c_str(), hrd_seconds_text(row.t_af_us).c_str(),
                     hrd_seconds_text(row.t_rn_us).c_str(), hrd_seconds_text(row.t_r_us).c_str(), row.fullness_before,
                     row.fullness_after);
      }
      if (sink_rows) rows->row(test, row);
      if (plotting) {
        series[test].add(FullnessSample{static_cast<double>(row.t_r_us) / 1e6, static_cast<double>(row.fullness_before),
                                        static_cast<double>(row.fullness_after), static_cast<double>(row.bits),
                                        row.violations != 0});
      }
    };
  }
  const HrdRunResult run = ts.source() != nullptr ? run_hrd_conformance(*ts.source(), run_options, trace_fn)
                                                  : run_hrd_conformance(input, run_options, trace_fn);

  const char* name = options.file.c_str();
  // What the splitter met on the way, whether or not the tests could run.
  const SplitterNotes& n = run.notes;
  const bool aborted = run.status == HrdRunStatus::kAborted;
  if (!aborted &&
      n.broken_sps + n.broken_pps + n.broken_slice_headers + n.broken_sei + n.buffering_period_without_sps > 0) {
    std::fprintf(err,
                 "Warning: unreadable NAL units: %" PRIu64 " SPS, %" PRIu64 " PPS, %" PRIu64 " slice headers, %" PRIu64
                 " SEI, %" PRIu64 " buffering periods naming an unknown SPS\n",
                 n.broken_sps, n.broken_pps, n.broken_slice_headers, n.broken_sei, n.buffering_period_without_sps);
  }
  if (!aborted && n.incomplete_last_unit) {
    std::fprintf(err,
                 "Warning: the last access unit of %s is incomplete (the stream ends inside it); it was tested with "
                 "the bytes that are there\n",
                 name);
  }
  switch (run.status) {
    case HrdRunStatus::kDone:
      break;
    case HrdRunStatus::kNoHrdParameters:
      std::fprintf(
          err, "tarnwell-cli: %s carries no HRD parameters%s; check verifies a stream against a buffer you choose\n",
          name, nal && vcl ? "" : (nal ? " for the NAL point" : " for the VCL point"));
      return kExitUsage;
    case HrdRunStatus::kNoBufferingPeriod:
      if (n.buffering_period_without_sps > 0) {
        std::fprintf(err,
                     "tarnwell-cli: %s: its buffering period SEI names seq_parameter_set_id %u, which no SPS "
                     "before it carries\n",
                     name, n.missing_sps_id);
        return kExitUsage;
      }
      std::fprintf(err,
                   "tarnwell-cli: %s carries HRD parameters but no buffering period SEI; check verifies a "
                   "stream against a buffer you choose\n",
                   name);
      return kExitUsage;
    case HrdRunStatus::kNoTimingInfo:
      std::fprintf(err,
                   "tarnwell-cli: %s carries no timing information (num_units_in_tick, time_scale) with its HRD "
                   "parameters; check verifies a stream against a buffer you choose\n",
                   name);
      return kExitUsage;
    case HrdRunStatus::kNoSuchSchedule:
      std::fprintf(err, "tarnwell-cli: %s has no schedule %u (--schedule)\n", name, options.schedule);
      return kExitUsage;
    case HrdRunStatus::kReadError:
      std::fprintf(err, "tarnwell-cli: cannot read %s\n", name);
      return kExitUsage;
    case HrdRunStatus::kOutOfMemory:
      std::fprintf(err, "tarnwell-cli: out of memory\n");
      return kExitUsage;
    case HrdRunStatus::kAborted:
      // The trace is dropped with its temporary file.
      std::fputs(options.json ? "{\"outcome\":\"aborted\"}\n" : "ABORTED\n", out);
      return kExitInterrupted;
  }

  // A test that could not be computed leaves the question open, whatever it
  // found before it stopped: its HRD data cannot be used as it stands.
  bool any_violation = false;
  bool any_stopped = false;
  for (const HrdTestResult& t : run.tests) {
    if (t.violation_count > 0) any_violation = true;
    if (t.stopped) {
      any_stopped = true;
      std::fprintf(err, "tarnwell-cli: the %s schedule %u test of %s could not be computed: %s\n",
                   t.config.point == HrdPoint::kNal ? "NAL" : "VCL", t.config.schedule, name, t.stop_reason);
    }
  }
  // The trace and the plot show the first test that does not conform, else the first.
  const auto failing =
      std::find_if(run.tests.begin(), run.tests.end(), [](const HrdTestResult& t) { return !t.conforms; });
  const std::size_t chosen = failing == run.tests.end() ? 0 : static_cast<std::size_t>(failing - run.tests.begin());
  if (rows != nullptr && rows->chosen && chosen < run.tests.size()) rows->chosen(chosen, run.tests[chosen]);
  if (tracing && !(std::fputs("access_unit,bits,t_ai,t_af,t_rn,t_r,fullness_before_removal,fullness_after_removal\n",
                              trace_file.get()) >= 0 &&
                   trace.copy(chosen, trace_file.get()) && trace_file.commit(reason))) {
    return cannot_write(err, "trace", options.trace_path, reason.empty() ? "cannot copy its rows" : reason);
  }
  if (options.json) {
    write_hrd_json_report(run, out, ts_errors_json(ts.source()));
  } else {
    write_hrd_text_report(run, out);
  }
  if (plotting && chosen < run.tests.size() &&
      !(plot_file.write(hrd_plot_svg(options.file, run.tests[chosen], series[chosen])) && plot_file.commit(reason))) {
    return cannot_write(err, "plot", options.plot_path, reason);
  }
  if (any_stopped) return kExitUsage;
  return any_violation ? kExitViolation : kExitPass;
}

}  // namespace tarnwell
