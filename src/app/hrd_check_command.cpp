#include "app/hrd_check_command.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/hrd_check_report.h"
#include "app/ts_input.h"
#include "stream/stream_file.h"
#include "verify/hrd_run.h"

namespace tarnwell {
namespace {

// Each test's trace goes to a file of its own beside the CSV while the one
// pass runs; the chosen test's file becomes the CSV, the others go.
class TraceFiles {
 public:
  explicit TraceFiles(std::string path) : path_(std::move(path)) {}
  ~TraceFiles() { close_all(true); }

  bool write(std::size_t test, const HrdTraceRow& r) {
    while (files_.size() <= test) {
      // On standard output the parts are unnamed temporary files.
      std::FILE* f = to_stdout() ? open_spool_file() : std::fopen(part_name(files_.size()).c_str(), "w");
      if (f == nullptr) {
        failed_ = true;
        return false;
      }
      std::fputs("access_unit,bits,t_ai,t_af,t_rn,t_r,fullness_before_removal,fullness_after_removal\n", f);
      files_.push_back(f);
    }
    std::fprintf(files_[test], "%" PRIu64 ",%" PRIu64 ",%s,%s,%s,%s,%" PRId64 ",%" PRId64 "\n", r.access_unit, r.bits,
                 hrd_seconds_text(r.t_ai_us).c_str(), hrd_seconds_text(r.t_af_us).c_str(),
                 hrd_seconds_text(r.t_rn_us).c_str(), hrd_seconds_text(r.t_r_us).c_str(), r.fullness_before,
                 r.fullness_after);
    return true;
  }

  // Keeps the chosen test's rows as the CSV (a header only when it has none).
  bool keep(std::size_t chosen) {
    if (to_stdout()) return keep_on_stdout(chosen);
    close_all(false);
    std::remove(path_.c_str());
    bool ok = !failed_;
    if (chosen < files_.size()) {
      ok = ok && std::rename(part_name(chosen).c_str(), path_.c_str()) == 0;
    } else {
      std::FILE* f = std::fopen(path_.c_str(), "w");
      if (f != nullptr) {
        std::fputs("access_unit,bits,t_ai,t_af,t_rn,t_r,fullness_before_removal,fullness_after_removal\n", f);
        ok = std::fclose(f) == 0 && ok;
      } else {
        ok = false;
      }
    }
    for (std::size_t i = 0; i < files_.size(); ++i) {
      if (i != chosen) std::remove(part_name(i).c_str());
    }
    files_.clear();
    return ok;
  }

 private:
  bool to_stdout() const { return path_ == "-"; }

  bool keep_on_stdout(std::size_t chosen) {
    bool ok = !failed_;
    if (chosen < files_.size()) {
      std::FILE* part = files_[chosen];
      ok = ok && std::fflush(part) == 0 && std::fseek(part, 0, SEEK_SET) == 0;
      char block[65536];
      std::size_t n = 0;
      while (ok && (n = std::fread(block, 1, sizeof block, part)) > 0) ok = std::fwrite(block, 1, n, stdout) == n;
    } else {
      std::fputs("access_unit,bits,t_ai,t_af,t_rn,t_r,fullness_before_removal,fullness_after_removal\n", stdout);
    }
    close_all(false);
    files_.clear();
    return ok && std::fflush(stdout) == 0;
  }

  std::string part_name(std::size_t i) const { return path_ + ".part" + std::to_string(i); }
  void close_all(bool remove) {
    for (std::size_t i = 0; i < files_.size(); ++i) {
      if (files_[i] != nullptr) std::fclose(files_[i]);
      files_[i] = nullptr;
      if (remove && !to_stdout()) std::remove(part_name(i).c_str());
    }
  }

  std::string path_;
  std::vector<std::FILE*> files_;
  bool failed_ = false;
};
}  // namespace

int run_hrd_check(const HrdCheckRequest& request, std::FILE* input, std::FILE* out, std::FILE* err,
                  const HrdRowSink* rows) {
  if (input == nullptr && request.ts == nullptr) {
    std::fprintf(err, "tarnwell-cli: cannot open %s\n", request.file.c_str());
    return kHrdExitUnusable;
  }
  HrdRunOptions options;
  options.nal = request.nal;
  options.vcl = request.vcl;
  options.all_schedules = request.all_schedules;
  options.schedule = request.schedule;
  options.max_violations = request.max_violations;
  options.input_head = request.input_head;

  std::unique_ptr<TraceFiles> trace;
  if (!request.trace_path.empty()) trace = std::make_unique<TraceFiles>(request.trace_path);
  HrdTraceFn trace_fn;
  const bool sink_rows = rows != nullptr && rows->row;
  if (trace || sink_rows) {
    TraceFiles* files = trace.get();
    trace_fn = [files, rows, sink_rows](std::size_t test, const HrdTraceRow& row) {
      if (files != nullptr) files->write(test, row);
      if (sink_rows) rows->row(test, row);
    };
  }
  const HrdRunResult run = request.ts != nullptr ? run_hrd_conformance(*request.ts, options, trace_fn)
                                                 : run_hrd_conformance(input, options, trace_fn);

  const char* name = request.file.c_str();
  // What the splitter met on the way, whether or not the tests could run.
  const SplitterNotes& n = run.notes;
  if (n.broken_sps + n.broken_pps + n.broken_slice_headers + n.broken_sei + n.buffering_period_without_sps > 0) {
    std::fprintf(err,
                 "Warning: unreadable NAL units: %" PRIu64 " SPS, %" PRIu64 " PPS, %" PRIu64 " slice headers, %" PRIu64
                 " SEI, %" PRIu64 " buffering periods naming an unknown SPS\n",
                 n.broken_sps, n.broken_pps, n.broken_slice_headers, n.broken_sei, n.buffering_period_without_sps);
  }
  if (n.incomplete_last_unit) {
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
          name, request.nal && request.vcl ? "" : (request.nal ? " for the NAL point" : " for the VCL point"));
      return kHrdExitUnusable;
    case HrdRunStatus::kNoBufferingPeriod:
      if (n.buffering_period_without_sps > 0) {
        std::fprintf(err,
                     "tarnwell-cli: %s: its buffering period SEI names seq_parameter_set_id %u, which no SPS "
                     "before it carries\n",
                     name, n.missing_sps_id);
        return kHrdExitUnusable;
      }
      std::fprintf(err,
                   "tarnwell-cli: %s carries HRD parameters but no buffering period SEI; check verifies a "
                   "stream against a buffer you choose\n",
                   name);
      return kHrdExitUnusable;
    case HrdRunStatus::kNoTimingInfo:
      std::fprintf(err,
                   "tarnwell-cli: %s carries no timing information (num_units_in_tick, time_scale) with its HRD "
                   "parameters; check verifies a stream against a buffer you choose\n",
                   name);
      return kHrdExitUnusable;
    case HrdRunStatus::kNoSuchSchedule:
      std::fprintf(err, "tarnwell-cli: %s has no schedule %u (--schedule)\n", name, request.schedule);
      return kHrdExitUnusable;
    case HrdRunStatus::kReadError:
      std::fprintf(err, "tarnwell-cli: cannot read %s\n", name);
      return kHrdExitUnusable;
    case HrdRunStatus::kOutOfMemory:
      std::fprintf(err, "tarnwell-cli: out of memory\n");
      return kHrdExitUnusable;
  }

  // A test that could not be computed leaves the question open, whatever it
  // found before it stopped: its HRD data cannot be used as it stands.
  bool any_violation = false;
  bool any_stopped = false;
  std::size_t chosen = 0;
  bool chose = false;
  for (std::size_t i = 0; i < run.tests.size(); ++i) {
    const HrdTestResult& t = run.tests[i];
    if (t.violation_count > 0) any_violation = true;
    if (t.stopped) {
      any_stopped = true;
      std::fprintf(err, "tarnwell-cli: the %s schedule %u test of %s could not be computed: %s\n",
                   t.config.point == HrdPoint::kNal ? "NAL" : "VCL", t.config.schedule, name, t.stop_reason);
    }
    if (!t.conforms && !chose) {
      chosen = i;
      chose = true;
    }
  }
  if (rows != nullptr && rows->chosen && chosen < run.tests.size()) rows->chosen(chosen, run.tests[chosen]);
  if (trace && !trace->keep(chosen)) {
    std::fprintf(err, "tarnwell-cli: cannot write the trace file %s\n", request.trace_path.c_str());
    return kHrdExitUnusable;
  }
  if (request.json) {
    write_hrd_json_report(run, out, ts_errors_json(request.ts));
  } else {
    write_hrd_text_report(run, out);
  }
  if (any_stopped) return kHrdExitUnusable;
  return any_violation ? kHrdExitViolation : kHrdExitConforms;
}

}  // namespace tarnwell
