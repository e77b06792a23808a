#include "app/hrd_check_command.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "verify/hrd_run.h"

namespace tarnwell {
namespace {

std::string seconds_text(int64_t us) {
  const bool negative = us < 0;
  const uint64_t m = negative ? 0 - static_cast<uint64_t>(us) : static_cast<uint64_t>(us);
  char text[40];
  std::snprintf(text, sizeof text, "%s%" PRIu64 ".%06" PRIu64, negative ? "-" : "", m / 1000000, m % 1000000);
  return text;
}

std::string json_string(const char* text) {
  std::string out = "\"";
  for (const char* p = text; *p != '\0'; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

const char* point_label(HrdPoint point) { return point == HrdPoint::kNal ? "NAL" : "VCL"; }

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

void write_text(const HrdRunResult& run, std::FILE* out) {
  for (const HrdTestResult& t : run.tests) {
    const HrdTestConfig& c = t.config;
    std::fprintf(out, "%s schedule %u: %" PRIu64 " bit/s, CPB %" PRIu64 " bits, %s: ", point_label(c.point),
                 c.schedule, c.bit_rate, c.cpb_size, c.cbr ? "CBR" : "VBR");
    if (t.conforms) {
      // Per mille, rounded down, from integers only.
      const uint64_t permille = c.cpb_size == 0 ? 0 : t.peak_bits / c.cpb_size * 1000 + t.peak_bits % c.cpb_size * 1000 / c.cpb_size;
      std::fprintf(out, "conforms (peak %" PRIu64 " bits, %" PRIu64 ".%" PRIu64 "%%)\n", t.peak_bits, permille / 10,
                   permille % 10);
    } else if (t.violation_count > 0) {
      std::fprintf(out, "%" PRIu64 " violation%s\n", t.violation_count, t.violation_count == 1 ? "" : "s");
    } else {
      std::fprintf(out, "not completed\n");
    }
    for (const HrdViolation& v : t.violations) {
      if (!v.has_access_unit) {
        std::fprintf(out, "    %s: %s\n", hrd_violation_name(v.kind), v.detail);
        continue;
      }
      std::string amount;
      if (v.kind == HrdViolationKind::kOverflow) {
        amount = std::to_string(v.bits) + " bits over";
      } else if (v.kind == HrdViolationKind::kUnderflow) {
        amount = seconds_text(v.seconds_us) + " s late";
      } else if (v.kind == HrdViolationKind::kRemovalInterval) {
        amount = seconds_text(v.seconds_us) + " s short";
      } else if (v.kind == HrdViolationKind::kInitialDelay) {
        amount = seconds_text(v.seconds_us) + " s off";
      } else {
        amount = "missing";
      }
      std::fprintf(out, "    %s at access unit %" PRIu64 ", %s s: %s (%s)\n", hrd_violation_name(v.kind),
                   v.access_unit, seconds_text(v.time_us).c_str(), amount.c_str(), v.detail);
    }
    if (t.violation_count > t.violations.size()) {
      std::fprintf(out, "    ... %" PRIu64 " more\n", t.violation_count - t.violations.size());
    }
    if (t.stopped) std::fprintf(out, "    stopped after access unit %" PRIu64 ": %s\n", t.access_units, t.stop_reason);
  }
  std::fprintf(out, "access units: %" PRIu64 ", not tested (before the first buffering period): %" PRIu64 "\n",
               run.access_units, run.untested_access_units);
}

void write_json(const HrdRunResult& run, std::FILE* out) {
  std::string s = "{\"tests\":[";
  char buf[512];
  for (std::size_t i = 0; i < run.tests.size(); ++i) {
    const HrdTestResult& t = run.tests[i];
    const HrdTestConfig& c = t.config;
    std::snprintf(buf, sizeof buf,
                  "%s{\"point\":\"%s\",\"schedule\":%u,\"bit_rate\":%" PRIu64 ",\"cpb_size\":%" PRIu64
                  ",\"cbr\":%s,\"low_delay\":%s,\"conforms\":%s,\"peak_bits\":%" PRIu64 ",\"violations\":[",
                  i == 0 ? "" : ",", hrd_point_name(c.point), c.schedule, c.bit_rate, c.cpb_size,
                  c.cbr ? "true" : "false", c.low_delay ? "true" : "false", t.conforms ? "true" : "false",
                  t.peak_bits);
    s += buf;
    for (std::size_t k = 0; k < t.violations.size(); ++k) {
      const HrdViolation& v = t.violations[k];
      std::string au = v.has_access_unit ? std::to_string(v.access_unit) : "null";
      std::string time = v.has_access_unit ? seconds_text(v.time_us) : "null";
      std::snprintf(buf, sizeof buf, "%s{\"kind\":\"%s\",\"access_unit\":%s,\"time\":%s,\"bits\":%" PRId64
                    ",\"seconds\":%s,\"detail\":",
                    k == 0 ? "" : ",", hrd_violation_name(v.kind), au.c_str(), time.c_str(), v.bits,
                    seconds_text(v.seconds_us).c_str());
      s += buf;
      s += json_string(v.detail) + "}";
    }
    std::snprintf(buf, sizeof buf, "],\"violation_count\":%" PRIu64, t.violation_count);
    s += buf;
    if (t.stopped) s += ",\"stopped\":" + json_string(t.stop_reason);
    s += "}";
  }
  std::snprintf(buf, sizeof buf, "],\"access_units\":%" PRIu64 ",\"untested_access_units\":%" PRIu64
                ",\"level_limits\":", run.access_units, run.untested_access_units);
  s += buf;
  if (run.level == nullptr) {
    s += "null";
  } else {
    const LevelLimits& l = *run.level;
    const CpbBrFactors& f = run.factors;
    auto scaled = [](uint32_t factor, uint32_t value) {
      return factor == 0 ? std::string("null") : std::to_string(uint64_t{factor} * value);
    };
    std::snprintf(buf, sizeof buf,
                  "{\"level\":\"%s\",\"profile_idc\":%u,\"level_idc\":%u,\"max_mbps\":%u,\"max_br_vcl\":%s,"
                  "\"max_cpb_vcl\":%s,\"max_br_nal\":%s,\"max_cpb_nal\":%s}",
                  l.name, run.profile_idc, run.level_idc, l.max_mbps, scaled(f.vcl, l.max_br).c_str(),
                  scaled(f.vcl, l.max_cpb).c_str(), scaled(f.nal, l.max_br).c_str(), scaled(f.nal, l.max_cpb).c_str());
    s += buf;
  }
  s += "}\n";
  std::fputs(s.c_str(), out);
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
                 seconds_text(r.t_ai_us).c_str(), seconds_text(r.t_af_us).c_str(), seconds_text(r.t_rn_us).c_str(),
                 seconds_text(r.t_r_us).c_str(), r.fullness_before, r.fullness_after);
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
    const bool takes_value = arg == "--point" || arg == "--schedule" || arg == "--trace" || arg == "--plot" ||
                             arg == "--max-violations";
    if (!takes_value) {
      r.error = "tarnwell-cli: unknown option for hrd-check: " + arg;
      return r;
    }
    if (i + 1 >= argc || argv[i + 1] == nullptr || argv[i + 1][0] == '\0' ||
        std::strncmp(argv[i + 1], "--", 2) == 0) {
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
      std::fprintf(err, "tarnwell-cli: %s carries no HRD parameters%s; check verifies a stream against a buffer you choose\n",
                   name, request.nal && request.vcl ? "" : (request.nal ? " for the NAL point" : " for the VCL point"));
      return kHrdExitUnusable;
    case HrdRunStatus::kNoBufferingPeriod:
      std::fprintf(err, "tarnwell-cli: %s carries HRD parameters but no buffering period SEI; check verifies a "
                   "stream against a buffer you choose\n", name);
      return kHrdExitUnusable;
    case HrdRunStatus::kNoTimingInfo:
      std::fprintf(err, "tarnwell-cli: %s carries no timing information (num_units_in_tick, time_scale) with its HRD "
                   "parameters; check verifies a stream against a buffer you choose\n", name);
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
    write_json(run, out);
  } else {
    write_text(run, out);
  }
  return all_conform ? kHrdExitConforms : kHrdExitViolation;
}

}  // namespace tarnwell
