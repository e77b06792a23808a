#include "app/hrd_check_report.h"

#include <algorithm>
#include <cinttypes>
#include <string>

#include "app/fullness_plot.h"
#include "app/input_check.h"
#include "app/json_text.h"
#include "base/error_reporter.h"

namespace tarnwell {
namespace {

const char* point_label(HrdPoint point) { return point == HrdPoint::kNal ? "NAL" : "VCL"; }

}  // namespace

std::string hrd_seconds_text(int64_t us) {
  const bool negative = us < 0;
  const uint64_t m = negative ? 0 - static_cast<uint64_t>(us) : static_cast<uint64_t>(us);
  return format_text("%s%" PRIu64 ".%06" PRIu64, negative ? "-" : "", m / 1000000, m % 1000000);
}

void write_hrd_text_report(const HrdRunResult& run, std::FILE* out) {
  for (const HrdTestResult& t : run.tests) {
    const HrdTestConfig& c = t.config;
    std::fprintf(out, "%s schedule %u: %" PRIu64 " bit/s, CPB %" PRIu64 " bits, %s: ", point_label(c.point), c.schedule,
                 c.bit_rate, c.cpb_size, c.cbr ? "CBR" : "VBR");
    if (t.conforms) {
      // Per mille, rounded down, from integers only.
      const uint64_t permille =
          c.cpb_size == 0 ? 0 : t.peak_bits / c.cpb_size * 1000 + t.peak_bits % c.cpb_size * 1000 / c.cpb_size;
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
        amount = hrd_seconds_text(v.seconds_us) + " s late";
      } else if (v.kind == HrdViolationKind::kRemovalInterval) {
        amount = hrd_seconds_text(v.seconds_us) + " s short";
      } else if (v.kind == HrdViolationKind::kInitialDelay) {
        amount = hrd_seconds_text(v.seconds_us) + " s off";
      } else if (v.kind == HrdViolationKind::kBufferingPeriod) {
        amount = v.seconds_us > 0 ? hrd_seconds_text(v.seconds_us) + " s too long" : "invalid";
      } else if (v.kind == HrdViolationKind::kLevelLimit) {
        amount = "above the level";
      } else {
        amount = "missing";
      }
      std::fprintf(out, "    %s at access unit %" PRIu64 ", %s s: %s (%s)\n", hrd_violation_name(v.kind), v.access_unit,
                   hrd_seconds_text(v.time_us).c_str(), amount.c_str(), v.detail);
    }
    if (t.violation_count > t.violations.size()) {
      std::fprintf(out, "    ... %" PRIu64 " more\n", t.violation_count - t.violations.size());
    }
    for (const HrdParameterChange& change : t.changes) {
      const HrdTestConfig& p = change.config;
      std::fprintf(out,
                   "    new SPS from access unit %" PRIu64 ": %" PRIu64 " bit/s, CPB %" PRIu64
                   " bits, %s%s, t_c %u/%u s, level %s\n",
                   change.access_unit, p.bit_rate, p.cpb_size, p.cbr ? "CBR" : "VBR", p.low_delay ? ", low delay" : "",
                   p.num_units_in_tick, p.time_scale, change.level != nullptr ? change.level : "unknown");
    }
    if (t.ended) {
      std::fprintf(out, "    ended at access unit %" PRIu64 ": %s; the access units before it were tested\n",
                   t.ended_at, t.end_reason);
    }
    if (t.stopped) std::fprintf(out, "    stopped after access unit %" PRIu64 ": %s\n", t.access_units, t.stop_reason);
  }
  std::fprintf(out, "access units: %" PRIu64 ", not tested (before the first buffering period): %" PRIu64 "\n",
               run.access_units, run.untested_access_units);
}

void write_hrd_json_report(const HrdRunResult& run, std::FILE* out, const std::string& extra_fields) {
  std::string s = "{\"tests\":[";
  for (std::size_t i = 0; i < run.tests.size(); ++i) {
    const HrdTestResult& t = run.tests[i];
    const HrdTestConfig& c = t.config;
    s += format_text("%s{\"point\":\"%s\",\"schedule\":%u,\"bit_rate\":%" PRIu64 ",\"cpb_size\":%" PRIu64
                     ",\"cbr\":%s,\"low_delay\":%s,\"conforms\":%s,\"peak_bits\":%" PRIu64 ",\"violations\":[",
                     i == 0 ? "" : ",", hrd_point_name(c.point), c.schedule, c.bit_rate, c.cpb_size,
                     c.cbr ? "true" : "false", c.low_delay ? "true" : "false", t.conforms ? "true" : "false",
                     t.peak_bits);
    for (std::size_t k = 0; k < t.violations.size(); ++k) {
      const HrdViolation& v = t.violations[k];
      std::string au = v.has_access_unit ? std::to_string(v.access_unit) : "null";
      std::string time = v.has_access_unit ? hrd_seconds_text(v.time_us) : "null";
      s += format_text("%s{\"kind\":\"%s\",\"access_unit\":%s,\"time\":%s,\"bits\":%" PRId64
                       ",\"seconds\":%s,\"detail\":",
                       k == 0 ? "" : ",", hrd_violation_name(v.kind), au.c_str(), time.c_str(), v.bits,
                       hrd_seconds_text(v.seconds_us).c_str());
      s += json_string(v.detail) + "}";
    }
    s += format_text("],\"violation_count\":%" PRIu64, t.violation_count);
    // Only a stream whose SPS changed the HRD values has these.
    if (!t.changes.empty()) s += ",\"parameter_changes\":[";
    for (std::size_t k = 0; k < t.changes.size(); ++k) {
      const HrdParameterChange& change = t.changes[k];
      const HrdTestConfig& p = change.config;
      s += format_text("%s{\"access_unit\":%" PRIu64 ",\"bit_rate\":%" PRIu64 ",\"cpb_size\":%" PRIu64
                       ",\"cbr\":%s,\"low_delay\":%s,\"num_units_in_tick\":%u,\"time_scale\":%u,\"level\":",
                       k == 0 ? "" : ",", change.access_unit, p.bit_rate, p.cpb_size, p.cbr ? "true" : "false",
                       p.low_delay ? "true" : "false", p.num_units_in_tick, p.time_scale);
      s += (change.level != nullptr ? json_string(change.level) : std::string("null")) + "}";
    }
    if (!t.changes.empty()) s += "]";
    if (t.ended) {
      s += format_text(",\"ended_at\":%" PRIu64 ",\"ended\":", t.ended_at);
      s += json_string(t.end_reason);
    }
    if (t.stopped) s += ",\"stopped\":" + json_string(t.stop_reason);
    s += "}";
  }
  s += format_text("],\"access_units\":%" PRIu64 ",\"untested_access_units\":%" PRIu64 ",\"level_limits\":",
                   run.access_units, run.untested_access_units);
  if (run.level == nullptr) {
    s += "null";
  } else {
    const LevelLimits& l = *run.level;
    const CpbBrFactors& f = run.factors;
    auto scaled = [](uint32_t factor, uint32_t value) {
      return factor == 0 ? std::string("null") : std::to_string(uint64_t{factor} * value);
    };
    s += format_text(
        "{\"level\":\"%s\",\"profile_idc\":%u,\"level_idc\":%u,\"max_mbps\":%u,\"max_br_vcl\":%s,"
        "\"max_cpb_vcl\":%s,\"max_br_nal\":%s,\"max_cpb_nal\":%s}",
        l.name, run.profile_idc, run.level_idc, l.max_mbps, scaled(f.vcl, l.max_br).c_str(),
        scaled(f.vcl, l.max_cpb).c_str(), scaled(f.nal, l.max_br).c_str(), scaled(f.nal, l.max_cpb).c_str());
  }
  s += extra_fields + "}\n";
  std::fputs(s.c_str(), out);
}

// The plot of the test hrd-check chose (the first failing one, else the
// first): the CPB fullness just before and after each removal against time,
// every access unit with a violation in red, the first one named.
std::string hrd_plot_svg(const std::string& file, const HrdTestResult& result, const FullnessSeries& series) {
  const HrdTestConfig& config = result.config;
  TimeSeriesPlot plot;
  const std::string name = file == "-" ? "standard input" : file_name_of(file);
  const std::string verdict =
      result.violation_count > 0
          ? format_text("%" PRIu64 " violation%s", result.violation_count, result.violation_count == 1 ? "" : "s")
      : result.conforms ? "conforms"
                        : "not completed";
  plot.title = format_text("CPB of %s: %s schedule %u: %s", name.c_str(), point_label(config.point), config.schedule,
                           verdict.c_str());
  plot.subtitle = format_text("%" PRIu64 " bit/s, CPB %" PRIu64 " bits, %s%s%s", config.bit_rate, config.cpb_size,
                              config.cbr ? "CBR" : "VBR", config.low_delay ? ", low delay" : "",
                              result.changes.empty() ? "" : " (until a new SPS)");
  plot.samples = series.samples();
  plot.capacity = static_cast<double>(config.cpb_size);
  plot.unit_name = "access unit";
  // The first violation at an access unit is named beside the first mark.
  const auto named = std::find_if(result.violations.begin(), result.violations.end(),
                                  [](const HrdViolation& v) { return v.has_access_unit; });
  const auto flagged =
      std::find_if(plot.samples.begin(), plot.samples.end(), [](const FullnessSample& s) { return s.flagged; });
  if (named != result.violations.end() && flagged != plot.samples.end()) {
    plot.marked = static_cast<std::size_t>(flagged - plot.samples.begin());
    plot.marked_text = hrd_violation_name(named->kind);
  }
  return time_series_svg(plot);
}

}  // namespace tarnwell
