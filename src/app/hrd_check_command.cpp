#include "app/hrd_check_command.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/hrd_check_report.h"
#include "verify/hrd_run.h"

namespace tarnwell {
namespace {

bool parse_u32(const char* text, uint32_t& value) {
  if (text == nullptr || *text == '\0') return false;
  uint64_t v = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return false;
    v = v * 10 + static_cast<uint64_t>(*p - '0');
    if (v > 0xFFFFFFFFu) return false;
  }
  value = static_cast<uint32_t>(v);
  return true;
}

// Each test's trace goes to a file of its own beside the CSV while the one
// pass runs; the chosen test's file becomes the CSV, the others go.
class TraceFiles {
 public:
  explicit TraceFiles(std::string path) : path_(std::move(path)) {}
  ~TraceFiles() { close_all(true); }

  bool write(std::size_t test, const HrdTraceRow& r) {
    while (files_.size() <= test) {
      const std::string name = part_name(files_.size());
      std::FILE* f = std::fopen(name.c_str(), "w");
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
  std::string part_name(std::size_t i) const { return path_ + ".part" + std::to_string(i); }
  void close_all(bool remove) {
    for (std::size_t i = 0; i < files_.size(); ++i) {
      if (files_[i] != nullptr) std::fclose(files_[i]);
      files_[i] = nullptr;
      if (remove) std::remove(part_name(i).c_str());
    }
  }

  std::string path_;
  std::vector<std::FILE*> files_;
  bool failed_ = false;
};
}  // namespace

const char* hrd_check_usage() {
  return "tarnwell-cli hrd-check FILE [--point nal|vcl|both] [--schedule N|all] [--json] [--trace CSV] [--plot SVG] "
         "[--max-violations N]\n";
}

HrdCheckRequest parse_hrd_check_args(int argc, const char* const* argv) {
  HrdCheckRequest r;
  bool options_ended = false;
  bool have_file = false;
  for (int i = 0; i < argc; ++i) {
    const std::string arg = argv[i] != nullptr ? argv[i] : "";
    const bool is_option = !options_ended && arg.size() > 2 && arg.compare(0, 2, "--") == 0;
    if (!options_ended && arg == "--") {
      options_ended = true;
      continue;
    }
    if (!is_option) {
      if (have_file) {
        r.error = "tarnwell-cli: hrd-check takes one FILE, got a second one: " + arg;
        return r;
      }
      r.file = arg;
      have_file = true;
      continue;
    }
    if (arg == "--json") {
      r.json = true;
      continue;
    }
    const bool takes_value =
        arg == "--point" || arg == "--schedule" || arg == "--trace" || arg == "--plot" || arg == "--max-violations";
    if (!takes_value) {
      r.error = "tarnwell-cli: unknown option for hrd-check: " + arg;
      return r;
    }
    if (i + 1 >= argc || argv[i + 1] == nullptr || argv[i + 1][0] == '\0' || std::strncmp(argv[i + 1], "--", 2) == 0) {
      r.error = "tarnwell-cli: " + arg + " needs a value";
      return r;
    }
    const std::string value = argv[++i];
    if (arg == "--point") {
      if (value == "nal" || value == "vcl" || value == "both") {
        r.nal = value != "vcl";
        r.vcl = value != "nal";
      } else {
        r.error = "tarnwell-cli: --point takes nal, vcl or both, not " + value;
        return r;
      }
    } else if (arg == "--schedule") {
      if (value == "all") {
        r.all_schedules = true;
      } else if (parse_u32(value.c_str(), r.schedule) && r.schedule <= 31) {
        r.all_schedules = false;
      } else {
        r.error = "tarnwell-cli: --schedule takes all or a number from 0 to 31, not " + value;
        return r;
      }
    } else if (arg == "--max-violations") {
      if (!parse_u32(value.c_str(), r.max_violations)) {
        r.error = "tarnwell-cli: --max-violations takes a number from 0 to 4294967295, not " + value;
        return r;
      }
    } else if (arg == "--trace") {
      r.trace_path = value;
    } else {
      r.plot_path = value;
    }
  }
  if (!have_file) r.error = "tarnwell-cli: hrd-check needs a FILE (or - for standard input)";
  return r;
}

int run_hrd_check(const HrdCheckRequest& request, std::FILE* input, std::FILE* out, std::FILE* err,
                  const HrdRowSink* rows) {
  if (input == nullptr) {
    std::fprintf(err, "tarnwell-cli: cannot open %s\n", request.file.c_str());
    return kHrdExitUnusable;
  }
  HrdRunOptions options;
  options.nal = request.nal;
  options.vcl = request.vcl;
  options.all_schedules = request.all_schedules;
  options.schedule = request.schedule;
  options.max_violations = request.max_violations;

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
  const HrdRunResult run = run_hrd_conformance(input, options, trace_fn);

  const char* name = request.file.c_str();
  switch (run.status) {
    case HrdRunStatus::kDone:
      break;
    case HrdRunStatus::kNoHrdParameters:
      std::fprintf(
          err, "tarnwell-cli: %s carries no HRD parameters%s; check verifies a stream against a buffer you choose\n",
          name, request.nal && request.vcl ? "" : (request.nal ? " for the NAL point" : " for the VCL point"));
      return kHrdExitUnusable;
    case HrdRunStatus::kNoBufferingPeriod:
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

  bool all_conform = true;
  std::size_t chosen = 0;
  bool chose = false;
  for (std::size_t i = 0; i < run.tests.size(); ++i) {
    if (!run.tests[i].conforms) {
      all_conform = false;
      if (!chose) {
        chosen = i;
        chose = true;
      }
    }
  }
  if (rows != nullptr && rows->chosen && chosen < run.tests.size()) rows->chosen(chosen, run.tests[chosen].config);
  if (trace && !trace->keep(chosen)) {
    std::fprintf(err, "tarnwell-cli: cannot write the trace file %s\n", request.trace_path.c_str());
    return kHrdExitUnusable;
  }
  const SplitterNotes& n = run.notes;
  if (n.broken_sps + n.broken_pps + n.broken_slice_headers + n.broken_sei + n.buffering_period_without_sps > 0) {
    std::fprintf(err,
                 "Warning: unreadable NAL units: %" PRIu64 " SPS, %" PRIu64 " PPS, %" PRIu64 " slice headers, %" PRIu64
                 " SEI, %" PRIu64 " buffering periods naming an unknown SPS\n",
                 n.broken_sps, n.broken_pps, n.broken_slice_headers, n.broken_sei, n.buffering_period_without_sps);
  }
  if (request.json) {
    write_hrd_json_report(run, out);
  } else {
    write_hrd_text_report(run, out);
  }
  return all_conform ? kHrdExitConforms : kHrdExitViolation;
}

}  // namespace tarnwell
