// tarnwell-cli: the check and the report of the dialog, from a command line.
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "app/check_plot.h"
#include "app/check_trace.h"
#include "app/cli/cli_files.h"
#include "app/cli/console_dialog.h"
#include "app/cli_options.h"
#include "app/curve_command.h"
#include "app/exit_codes.h"
#include "app/frame_rate_note.h"
#include "app/hrd_check_command.h"
#include "app/hrd_check_report.h"
#include "app/input_check.h"
#include "app/json_text.h"
#include "app/output_target.h"
#include "app/plot_svg.h"
#include "app/ts_input.h"
#include "app/tstd_check_command.h"
#include "context/application_context.h"
#include "inspect/hrd_listing.h"
#include "inspect/stream_identity.h"
#include "paramsets/hrd_parameters.h"
#include "platform/interrupt.h"
#include "stream/stream_file.h"
#include "verify/check_run.h"
#include "verify/exact_search.h"

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace tarnwell {
namespace {

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

void print_values(const CheckSettings& s) {
  std::printf("buffer_size=%u\ninitial_fill=%u\nbit_rate=%u\nframe_rate=%.3f\n", s.buffer_size, s.initial_fill,
              s.bit_rate, s.frame_rate);
}

// The reporter's questions follow --warnings; the lines the parsers write to
// standard error themselves (the picture-timing warning) only with "each".
void apply_warning_policy(ApplicationContext& context, WarningPolicy policy) {
  if (policy == WarningPolicy::Off) context.reporter.disable();
  context.reporter.set_stderr_enabled(policy == WarningPolicy::Each);
}

// An output option naming the input is refused before anything is opened:
// true after the refusal line is printed.
bool output_on_input(const std::vector<std::pair<const char*, std::string>>& outputs, const std::string& file) {
  const std::string refusal = refuse_outputs_on_input(outputs, file);
  if (refusal.empty()) return false;
  std::fprintf(stderr, "%s\n", refusal.c_str());
  return true;
}

void print_cannot_open(const std::string& path, const std::string& reason) {
  std::fprintf(stderr, "tarnwell-cli: cannot open '%s': %s\n", path.c_str(), reason.c_str());
}

// What FILE is read as: what its first bytes show it to be (unless --format
// says), then the transport stream layer when it is one. `head` gets the
// first bytes taken from a pipe to look at them, for an Annex B reading to
// take first (a transport stream reading takes them itself). False after the
// refusal is printed, with `code` the exit code.
bool open_input_as(const CliOptions& options, std::FILE* file, const char* command, TsInput& ts, TsWarningFn warn,
                   std::vector<uint8_t>& head, int& code) {
  if (file == nullptr) return true;
  FormatOption format = options.format;
  if (format == FormatOption::Unstated) {
    InputCheck check = check_input(file, options.file, command);
    if (check.format.kind == InputKind::TransportStream) {
      format = FormatOption::Ts;
    } else if (!check.supported) {
      code = refuse_input(check, options.json, stdout, stderr);
      return false;
    }
    head = std::move(check.head);
  }
  if (format != FormatOption::Ts) return true;
  std::string refusal;
  const bool search = options.settings.buffer_size == 0 || options.settings.bit_rate == 0;
  const bool read_again = options.command == CliCommand::Info || (options.command == CliCommand::Check && search);
  const bool opened = ts.open(file, options.ts, read_again, std::move(warn), refusal, std::move(head));
  head.clear();
  if (opened) return true;
  const std::string message = "'" + options.file + "': " + refusal;
  if (options.json) {
    std::printf("{\"outcome\":\"unsupported_input\",\"message\":%s}\n", json_string(message).c_str());
  } else {
    std::fprintf(stderr, "tarnwell-cli: %s\n", message.c_str());
  }
  code = kExitUsage;
  return false;
}

TsWarningFn reporter_warnings(ApplicationContext& context) {
  return [&context](const char* text) { context.reporter.notify_error("%s", text); };
}

void print_cannot_write(const char* what, const std::string& path, const std::string& reason) {
  std::fprintf(stderr, "tarnwell-cli: cannot write the %s file %s: %s\n", what, path.c_str(), reason.c_str());
}

// Closes the input unless it is standard input.
struct InputCloser {
  std::FILE* file = nullptr;
  ~InputCloser() {
    if (file != nullptr && file != stdin) std::fclose(file);
  }
};

int run_check(const CliOptions& options) {
  if (output_on_input({{"--trace", options.trace_path}, {"--plot", options.plot_path}}, options.file)) return kExitUsage;
  const bool progress = isatty(fileno(stderr)) != 0;
  // --exact reads the stream with the strict box unchecked and applies the
  // strict choice itself.
  ConsoleDialog dialog(options.warnings, options.strict && !options.exact, progress);
  ApplicationContext context(dialog);
  context.settings = options.settings;
  context.shared.stream_path = options.file;
  apply_warning_policy(context, options.warnings);
  InterruptGuard interrupt(context.shared.abort_requested);

  // The outputs are made (under temporary names) before the stream is read.
  std::string reason;
  const bool tracing = !options.trace_path.empty();
  const bool plotting = !options.plot_path.empty();
  CheckTrace trace;
  OutputTarget plot_file;
  if (tracing && !trace.open(options.trace_path, reason)) {
    print_cannot_write("trace", options.trace_path, reason);
    return kExitUsage;
  }
  if (plotting && !plot_file.open(options.plot_path, reason)) {
    print_cannot_write("plot", options.plot_path, reason);
    return kExitUsage;
  }
  InputCloser input{open_cli_input(options.file, reason)};
  if (input.file == nullptr) print_cannot_open(options.file, reason);
  // Watched before its first bytes are looked at: Ctrl-C ends any wait for them.
  if (input.file != nullptr) interrupt.watch_input(fileno(input.file));
  TsInput ts;
  std::vector<uint8_t> head;
  int refused = kExitUsage;
  if (!open_input_as(options, input.file, "check", ts, reporter_warnings(context), head, refused)) return refused;

  CheckPlotRecorder plot;
  CheckRun run(context);
  ExactSearch exact(context, options.strict);
  // Without an input the run opens the path itself and ends as the dialog's
  // check does for a file it cannot open.
  run.input = exact.input = input.file;
  run.source = exact.source = ts.source();
  run.input_head = head;
  exact.input_head = std::move(head);
  run.stream_timing = exact.stream_timing = options.stream_timing;
  run.abort_cuts_input = true;
  run.on_pass_start = exact.on_pass_start = [&](uint32_t pass) {
    dialog.set_pass(pass);
    if (tracing) trace.start_pass();
    if (plotting) plot.start_pass();
  };
  if (tracing || plotting) {
    run.on_picture = exact.on_picture = [&](const PictureTrace& t) {
      if (tracing) trace.write(t);
      if (plotting) plot.record(t);
    };
  }
  if (progress) run.on_bytes_read = [&](uint64_t bytes) { dialog.set_bytes_read(bytes); };
  if (options.exact) {
    exact.run();
  } else {
    run.run();
  }
  dialog.finish_progress();

  const CheckRunResult& result = options.exact ? exact.result() : run.result();
  const CheckSettings& s = context.settings;
  if (result.rate_taken && !options.stream_timing) {
    std::fputs(assumed_frame_rate_note(result.taken_fraction).c_str(), stderr);
  }
  // An interrupted run leaves its outputs as they were.
  const bool aborted = result.outcome == Outcome::Aborted;
  if (tracing && !aborted && !trace.finish(reason)) {
    print_cannot_write("trace", options.trace_path, reason);
    return kExitUsage;
  }
  if (plotting && !aborted &&
      !(plot_file.write(check_plot_svg(
            CheckPlotInput{options.file, context.settings, options.strict, result.outcome, result.message}, plot)) &&
        plot_file.commit(reason))) {
    print_cannot_write("plot", options.plot_path, reason);
    return kExitUsage;
  }
  if (options.json) {
    std::printf(
        "{\"outcome\":\"%s\",\"message\":%s,\"buffer_size\":%u,\"initial_fill\":%u,\"bit_rate\":%u,"
        "\"frame_rate\":%.3f,\"passes\":%u,\"reads\":%u,\"pictures\":%llu%s}\n",
        outcome_name(result.outcome), json_string(result.message).c_str(), s.buffer_size, s.initial_fill, s.bit_rate,
        s.frame_rate, result.passes, result.reads, static_cast<unsigned long long>(result.pictures),
        ts_errors_json(ts.source()).c_str());
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

// The SPS that info describes: the active one, else the first stored.
const SeqParamSet* described_sps(const ParameterSets& sets) {
  const SeqParamSet* active = sets.active_sps();
  if (active != nullptr && active->valid != 0) return active;
  for (const SeqParamSet& sps : sets.sps_table()) {
    if (sps.valid != 0) return &sps;
  }
  return nullptr;
}

std::string hrd_json(const HrdParameters& hrd) {
  std::string out;
  char text[256];
  std::snprintf(text, sizeof text,
                "{\"bit_rate_scale\":%u,\"cpb_size_scale\":%u,\"initial_cpb_removal_delay_length\":%u,"
                "\"cpb_removal_delay_length\":%u,\"dpb_output_delay_length\":%u,\"time_offset_length\":%u,"
                "\"schedules\":[",
                hrd.bit_rate_scale, hrd.cpb_size_scale, hrd.initial_cpb_removal_delay_length_minus1 + 1,
                hrd.cpb_removal_delay_length_minus1 + 1, hrd.dpb_output_delay_length_minus1 + 1,
                hrd.time_offset_length);
  out += text;
  const uint32_t count = hrd.cpb_cnt_minus1 < kMaxCpbEntries ? hrd.cpb_cnt_minus1 + 1 : kMaxCpbEntries;
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t bit_rate = hrd_bit_rate(hrd, i);
    const uint64_t cpb_size = hrd_cpb_size(hrd, i);
    std::snprintf(text, sizeof text, "%s{\"bit_rate\":%llu,\"cpb_size\":%llu,\"cbr\":%s}", i > 0 ? "," : "",
                  static_cast<unsigned long long>(bit_rate), static_cast<unsigned long long>(cpb_size),
                  hrd.cbr_flag[i] != 0 ? "true" : "false");
    out += text;
  }
  return out + "]}";
}

void print_info_json(const ApplicationContext& context, ConsoleDialog& dialog, const std::string& extra_fields) {
  const ParameterSets& sets = context.parsing.paramsets();
  const SeqParamSet* sps = described_sps(sets);
  const FrameRateFraction& rate = context.shared.frame_rate;
  std::printf("{\"profile\":%s,\"level\":%s,\"profile_idc\":%u,\"level_idc\":%u,",
              json_string(dialog.get_text(kEditProfile, 100)).c_str(),
              json_string(dialog.get_text(kEditLevel, 100)).c_str(), sets.last_profile_idc(), sets.last_level_idc());
  if (sps != nullptr) {
    std::printf("\"constraint_set0_flag\":%u,\"constraint_set1_flag\":%u,\"constraint_set2_flag\":%u,"
                "\"constraint_set3_flag\":%u,",
                sps->constraint_set0_flag, sps->constraint_set1_flag, sps->constraint_set2_flag,
                sps->constraint_set3_flag);
  } else {
    std::printf("\"constraint_set0_flag\":null,\"constraint_set1_flag\":null,\"constraint_set2_flag\":null,"
                "\"constraint_set3_flag\":null,");
  }
  std::printf("\"frame_rate_num\":%u,\"frame_rate_den\":%llu,", rate.frame_rate_num,
              static_cast<unsigned long long>(rate.frame_rate_den));
  const bool vui = sps != nullptr && sps->vui_parameters_present_flag != 0;
  const bool nal = vui && sps->vui.nal_hrd_parameters_present_flag != 0;
  const bool vcl = vui && sps->vui.vcl_hrd_parameters_present_flag != 0;
  std::printf("\"nal_hrd\":%s,\"vcl_hrd\":%s%s}\n", nal ? hrd_json(sps->vui.nal_hrd).c_str() : "null",
              vcl ? hrd_json(sps->vui.vcl_hrd).c_str() : "null", extra_fields.c_str());
}

// A stream that cannot be read twice (a pipe) is copied whole into a
// temporary file first: the probe and the report each read it from the
// start. Null, with `reason` set, when the copy cannot be made.
std::FILE* rereadable_copy(std::FILE* input, std::string& reason) {
  std::FILE* spool = open_spool_file();
  if (spool == nullptr) {
    reason = "cannot make a temporary copy";
    return nullptr;
  }
  std::vector<char> block(1 << 20);
  std::size_t n = 0;
  while ((n = std::fread(block.data(), 1, block.size(), input)) > 0) {
    if (std::fwrite(block.data(), 1, n, spool) != n) {
      reason = "cannot write its temporary copy";
      std::fclose(spool);
      return nullptr;
    }
  }
  if (std::ferror(input) != 0 || std::fflush(spool) != 0 || std::fseek(spool, 0, SEEK_SET) != 0) {
    reason = "cannot read it into a temporary copy";
    std::fclose(spool);
    return nullptr;
  }
  return spool;
}

int run_info(const CliOptions& options) {
  if (output_on_input({{"--hrd", options.hrd_path}}, options.file)) return kExitUsage;
  ConsoleDialog dialog(options.warnings, false, false);
  ApplicationContext context(dialog);
  context.shared.stream_path = options.file;
  apply_warning_policy(context, options.warnings);
  InterruptGuard interrupt(context.shared.abort_requested);
  auto aborted = [&] {
    if (context.shared.abort_requested.load() == 0) return false;
    std::puts(options.json ? "{\"outcome\":\"aborted\"}" : "ABORTED");
    return true;
  };

  // The report file is made (under a temporary name) before the stream is read.
  std::string reason;
  OutputTarget report;
  const bool report_wanted = !options.json || !options.hrd_path.empty();
  if (report_wanted && !report.open(options.hrd_path.empty() ? "-" : options.hrd_path, reason, true)) {
    std::fprintf(stderr, "tarnwell-cli: Cannot open file for HRD info: %s: %s\n", options.hrd_path.c_str(),
                 reason.c_str());
    return kExitUsage;
  }
  InputCloser input{open_cli_input(options.file, reason)};
  if (input.file != nullptr) interrupt.watch_input(fileno(input.file));
  if (input.file != nullptr && !is_seekable_stream(input.file)) {
    std::FILE* copy = rereadable_copy(input.file, reason);
    if (input.file != stdin) std::fclose(input.file);
    input.file = copy;
  }
  if (aborted()) return kExitInterrupted;
  if (input.file == nullptr) {
    print_cannot_open(options.file, reason);
    return kExitUsage;
  }
  TsInput ts;
  std::vector<uint8_t> head;  // stays empty: the input is a file that can be sought by now
  int refused = kExitUsage;
  if (!open_input_as(options, input.file, "info", ts, reporter_warnings(context), head, refused)) return refused;
  if (ts.source() != nullptr) {
    probe_profile_level(context, *ts.source());
  } else {
    probe_profile_level(context, input.file);
  }
  if (aborted()) return kExitInterrupted;
  if (ts.source() != nullptr ? !ts.source()->restart() : std::fseek(input.file, 0, SEEK_SET) != 0) {
    std::fprintf(stderr, "tarnwell-cli: cannot read '%s' again\n", options.file.c_str());
    return kExitUsage;
  }

  if (!options.json) {
    std::printf("Profile: %s\nLevel: %s\n", dialog.get_text(kEditProfile, 100).c_str(),
                dialog.get_text(kEditLevel, 100).c_str());
    if (ts.source() != nullptr) std::fputs(ts_structure_text(*ts.source()).c_str(), stdout);
    std::fflush(stdout);
  }
  if (report_wanted) {
    ApplicationContext::ParsingLease lease = context.try_take_parsing();
    if (ts.source() != nullptr) {
      write_hrd_report(context, *ts.source(), report.get());
    } else {
      write_hrd_report(context, input.file, report.get());
    }
  }
  if (aborted()) return kExitInterrupted;
  const bool sps_seen = context.parsing.sps_seen != 0;
  if (options.json) {
    print_info_json(context, dialog,
                    ts.source() != nullptr ? ts_structure_json(*ts.source()) + ts_errors_json(ts.source()) : "");
  }
  if (report_wanted && !report.commit(reason)) {
    std::fprintf(stderr, "tarnwell-cli: cannot write the HRD report to %s: %s\n",
                 options.hrd_path.empty() ? "standard output" : options.hrd_path.c_str(), reason.c_str());
    return kExitUsage;
  }
  if (!sps_seen) {
    std::fprintf(stderr, "tarnwell-cli: no sequence parameter set in '%s'\n", options.file.c_str());
    return kExitViolation;
  }
  return kExitPass;
}

int run_curve_cli(const CliOptions& options) {
  if (output_on_input({{"--csv", options.csv_path}, {"--plot", options.plot_path}}, options.file)) return kExitUsage;
  const bool progress = isatty(fileno(stderr)) != 0;
  // The reading runs the check with the strict box unchecked; the request
  // carries the strict choice into the arithmetic.
  ConsoleDialog dialog(options.warnings, false, progress);
  ApplicationContext context(dialog);
  context.shared.stream_path = options.file;
  apply_warning_policy(context, options.warnings);
  InterruptGuard interrupt(context.shared.abort_requested);

  std::string reason;
  InputCloser input{open_cli_input(options.file, reason)};
  if (input.file == nullptr) {
    print_cannot_open(options.file, reason);
    return kExitUsage;
  }
  interrupt.watch_input(fileno(input.file));
  // The outputs must be known writable before the input's first bytes are
  // waited for: made here, under temporary names, and dropped just before
  // the command makes its own.
  OutputTarget trial_csv;
  OutputTarget trial_plot;
  if (!options.csv_path.empty() && !trial_csv.open(options.csv_path, reason)) {
    print_cannot_write("CSV", options.csv_path, reason);
    return kExitUsage;
  }
  if (!options.plot_path.empty() && !trial_plot.open(options.plot_path, reason)) {
    print_cannot_write("plot", options.plot_path, reason);
    return kExitUsage;
  }
  TsInput ts;
  std::vector<uint8_t> head;
  int refused = kExitUsage;
  if (!open_input_as(options, input.file, "curve", ts, reporter_warnings(context), head, refused)) return refused;
  CurveRequest request;
  request.bit_rates = options.bit_rates;
  request.frame_rate = options.settings.frame_rate;
  request.stream_timing = options.stream_timing;
  request.strict = options.strict;
  request.json = options.json;
  request.csv_path = options.csv_path;
  request.plot_path = options.plot_path;
  request.input = input.file;
  request.ts = ts.source();
  request.input_head = std::move(head);
  trial_csv.discard();
  trial_plot.discard();
  dialog.set_pass(1);
  const int code = run_curve(context, request, stdout, stderr);
  dialog.finish_progress();
  return code;
}

int run_hrd_check_cli(const CliOptions& options) {
  if (output_on_input({{"--trace", options.trace_path}, {"--plot", options.plot_path}}, options.file)) return kExitUsage;
  HrdCheckRequest request;
  request.file = options.file;
  request.nal = options.point != HrdPointChoice::Vcl;
  request.vcl = options.point != HrdPointChoice::Nal;
  request.all_schedules = options.all_schedules;
  request.schedule = options.schedule;
  request.json = options.json;
  request.trace_path = options.trace_path;
  request.plot_path = options.plot_path;
  request.max_violations = options.max_violations;
  std::atomic<uint32_t> abort_requested{0};
  request.abort_requested = &abort_requested;
  InterruptGuard interrupt(abort_requested);

  std::string reason;
  const bool plotting = !options.plot_path.empty();
  OutputTarget plot_file;
  if (plotting && !plot_file.open(options.plot_path, reason)) {
    print_cannot_write("plot", options.plot_path, reason);
    return kExitUsage;
  }
  InputCloser input{open_cli_input(options.file, reason)};
  if (input.file == nullptr) {
    print_cannot_open(options.file, reason);
    return kExitUsage;
  }
  interrupt.watch_input(fileno(input.file));
  // The trace must be known writable before the input's first bytes are
  // waited for: made here, under a temporary name, and dropped just before
  // the command makes its own.
  OutputTarget trial_trace;
  if (!options.trace_path.empty() && !trial_trace.open(options.trace_path, reason, true)) {
    print_cannot_write("trace", options.trace_path, reason);
    return kExitUsage;
  }
  TsInput ts;
  const TsWarningFn warn = [](const char* text) { std::fprintf(stderr, "Warning: %s\n", text); };
  std::vector<uint8_t> head;
  int refused = kExitUsage;
  if (!open_input_as(options, input.file, "hrd-check", ts, warn, head, refused)) return refused;
  request.ts = ts.source();
  request.input_head = std::move(head);
  // Every test's fullness, in bounded memory, until the run says which
  // test the plot shows.
  std::map<std::size_t, FullnessSeries> series;
  bool chosen = false;
  HrdTestResult chosen_result;
  std::size_t chosen_test = 0;
  HrdRowSink sink;
  sink.row = [&](std::size_t test, const HrdTraceRow& row) {
    series[test].add(FullnessSample{static_cast<double>(row.t_r_us) / 1e6, static_cast<double>(row.fullness_before),
                                    static_cast<double>(row.fullness_after), static_cast<double>(row.bits),
                                    row.violations != 0});
  };
  sink.chosen = [&](std::size_t test, const HrdTestResult& result) {
    chosen = true;
    chosen_test = test;
    chosen_result = result;
  };
  trial_trace.discard();
  const int code = run_hrd_check(request, input.file, stdout, stderr, plotting ? &sink : nullptr);
  if (plotting && chosen && code != kExitInterrupted &&
      !(plot_file.write(hrd_plot_svg(options.file, chosen_result, series[chosen_test])) &&
        plot_file.commit(reason))) {
    print_cannot_write("plot", options.plot_path, reason);
    return kExitUsage;
  }
  return code;
}

// The chosen elementary stream, as the other commands read it, to a file.
int run_demux_cli(const CliOptions& options) {
  if (output_on_input({{"--output", options.output_path}}, options.file)) return kExitUsage;
  ConsoleDialog dialog(options.warnings, false, false);
  ApplicationContext context(dialog);
  apply_warning_policy(context, options.warnings);
  InterruptGuard interrupt(context.shared.abort_requested);
  // The output is made (under a temporary name) before the stream is read.
  std::string reason;
  OutputTarget output;
  if (!output.open(options.output_path, reason)) {
    std::fprintf(stderr, "tarnwell-cli: cannot write %s: %s\n", options.output_path.c_str(), reason.c_str());
    return kExitUsage;
  }
  InputCloser input{open_cli_input(options.file, reason)};
  if (input.file == nullptr) {
    print_cannot_open(options.file, reason);
    return kExitUsage;
  }
  interrupt.watch_input(fileno(input.file));
  TsInput ts;
  std::vector<uint8_t> head;
  int refused = kExitUsage;
  if (!open_input_as(options, input.file, "demux", ts, reporter_warnings(context), head, refused)) return refused;
  const bool copied = copy_elementary_stream(*ts.source(), output.get());
  // An interrupted copy leaves the output as it was; standard output may be
  // the stream itself, so the word goes to standard error.
  if (context.shared.abort_requested.load() != 0) {
    std::fputs("ABORTED\n", stderr);
    return kExitInterrupted;
  }
  if (!copied || !output.commit(reason)) {
    std::fprintf(stderr, "tarnwell-cli: cannot write %s%s%s\n", options.output_path.c_str(), reason.empty() ? "" : ": ",
                 reason.c_str());
    return kExitUsage;
  }
  return kExitPass;
}

int run_tstd_check_cli(const CliOptions& options) {
  if (output_on_input({{"--trace", options.trace_path}, {"--plot", options.plot_path}}, options.file)) return kExitUsage;
  TstdCheckRequest request;
  request.file = options.file;
  request.choice = options.ts;
  request.json = options.json;
  request.trace_path = options.trace_path;
  request.plot_path = options.plot_path;
  request.max_violations = options.max_violations;
  std::atomic<uint32_t> abort_requested{0};
  request.abort_requested = &abort_requested;
  InterruptGuard interrupt(abort_requested);
  std::string reason;
  InputCloser input{open_cli_input(options.file, reason)};
  if (input.file == nullptr) {
    print_cannot_open(options.file, reason);
    return kExitUsage;
  }
  interrupt.watch_input(fileno(input.file));
  return run_tstd_check(request, input.file, stdout, stderr);
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
    case CliCommand::Curve: return run_curve_cli(options);
    case CliCommand::HrdCheck: return run_hrd_check_cli(options);
    case CliCommand::Demux: return run_demux_cli(options);
    case CliCommand::TstdCheck: return run_tstd_check_cli(options);
  }
  return kExitUsage;
}
