#include "app/tstd_check_command.h"

#include <cinttypes>
#include <string>
#include <vector>

#include "app/exit_codes.h"
#include "app/json_text.h"
#include "app/output_target.h"
#include "app/plot_svg.h"
#include "app/ts_input.h"
#include "app/tstd_check_plot.h"
#include "base/error_reporter.h"
#include "stream/byte_source.h"
#include "verify/tstd_run.h"

namespace tarnwell {
namespace {

constexpr const char* kTraceHeader =
    "access_unit,bytes,decoding_time,last_byte_in_eb,eb_before_removal,mb_at_removal,tb_peak_since_previous\n";

// Rx = 1.2 * BitRate, which has at most one decimal.
std::string rx_text(uint64_t bit_rate) {
  const uint64_t six = 6 * bit_rate;
  if (six % 5 == 0) return std::to_string(six / 5);
  return std::to_string(six / 5) + "." + std::to_string(six % 5 * 2);
}

uint64_t mb_size_bits(const TstdParams& p) {
  const int64_t x375 = p.mb_size_bits_x375();
  return x375 > 0 ? static_cast<uint64_t>(x375 / 375) : 0;
}

bool has_bits(TstdKind kind) {
  return kind == TstdKind::kTbOverflow || kind == TstdKind::kMbOverflow || kind == TstdKind::kEbUnderflow;
}
bool has_seconds(const TstdViolation& v) {
  return v.kind != TstdKind::kTbOverflow && v.kind != TstdKind::kMbOverflow && v.kind != TstdKind::kDtsOrder &&
         v.seconds >= 0.0;
}

std::string counts_text(const TstdRunResult& r) {
  std::string text;
  for (std::size_t k = 0; k < kTstdKinds; ++k) {
    if (r.counts[k] == 0) continue;
    if (!text.empty()) text += ", ";
    text += format_text("%s %" PRIu64, tstd_kind_name(static_cast<TstdKind>(k)), r.counts[k]);
  }
  return text;
}

std::string violation_text(const TstdViolation& v) {
  std::string text = format_text("  %s at %.6f s", tstd_kind_name(v.kind), v.time);
  if (v.packet != kNoPacket) text += format_text(", packet %" PRIu64, v.packet);
  if (v.access_unit != kNoAccessUnit) text += format_text(", access unit %" PRIu64, v.access_unit);
  text += ":";
  if (v.kind == TstdKind::kEbUnderflow) {
    text += format_text(" %" PRIu64 " bits missing", v.bits);
    text += v.seconds >= 0.0 ? format_text(", last byte %.6f s late", v.seconds) : ", last byte never entered EB";
  } else if (has_bits(v.kind)) {
    text += format_text(" %" PRIu64 " bits over", v.bits);
  } else if (has_seconds(v)) {
    text += format_text(" %.6f s over the limit", v.seconds);
  }
  if (!v.detail.empty()) text += " (" + v.detail + ")";
  return text + "\n";
}

void write_text(const TstdRunResult& r, std::FILE* out) {
  const TstdParams& p = r.params;
  std::fprintf(out, "Transport stream: %u-byte packets, H.264 on PID %u, PCR PID %u, %" PRIu64 " access units\n",
               r.packet_size, r.pid, r.pcr_pid, r.access_units);
  std::fprintf(out, "TB: %" PRIu64 " bits, Rx %s bit/s, peak %" PRIu64 " bits\n", kTbBytes * 8,
               rx_text(p.bit_rate).c_str(), r.tb_peak_bits);
  std::fprintf(out, "MB: %" PRIu64 " bits, Rbx %" PRIu64 " bit/s, peak %" PRIu64 " bits\n", mb_size_bits(p),
               p.max_br_bits, r.mb_peak_bits);
  std::fprintf(out, "EB: %" PRIu64 " bits (%s), peak %" PRIu64 " bits\n", p.eb_size_bits,
               r.rates_from_hrd ? "CpbSize of the NAL HRD" : "the level's MaxCPB", r.eb_peak_bits);
  if (r.hrd_management) {
    std::fprintf(out,
                 "The AVC timing and HRD descriptor asks for HRD buffer management; the leak method was used "
                 "instead\n");
  }
  if (r.violation_count == 0) {
    std::fprintf(out, "Verdict: conforms\n");
    return;
  }
  std::fprintf(out, "Verdict: does not conform: %" PRIu64 " violations (%s)\n", r.violation_count,
               counts_text(r).c_str());
  for (const TstdViolation& v : r.violations) std::fputs(violation_text(v).c_str(), out);
  if (r.violations.size() < r.violation_count) {
    std::fprintf(out, "  ... %" PRIu64 " more\n", r.violation_count - r.violations.size());
  }
}

void write_json(const TstdRunResult& r, std::FILE* out) {
  const TstdParams& p = r.params;
  std::string s = format_text("{\"pid\":%u,\"pcr_pid\":%u,\"packet_size\":%u,\"access_units\":%" PRIu64 ",", r.pid,
                              r.pcr_pid, r.packet_size, r.access_units);
  s += format_text("\"buffers\":{\"tb\":{\"size_bits\":%" PRIu64 ",\"rate\":%s,\"peak_bits\":%" PRIu64 "},",
                   kTbBytes * 8, rx_text(p.bit_rate).c_str(), r.tb_peak_bits);
  s += format_text("\"mb\":{\"size_bits\":%" PRIu64 ",\"rate\":%" PRIu64 ",\"peak_bits\":%" PRIu64 "},",
                   mb_size_bits(p), p.max_br_bits, r.mb_peak_bits);
  s += format_text("\"eb\":{\"size_bits\":%" PRIu64 ",\"peak_bits\":%" PRIu64 "}},", p.eb_size_bits, r.eb_peak_bits);
  s += format_text("\"hrd_management_requested\":%s,", r.hrd_management ? "true" : "false");
  s += format_text("\"conforms\":%s,\"counts\":{", r.violation_count == 0 ? "true" : "false");
  for (std::size_t k = 0; k < kTstdKinds; ++k) {
    s += format_text("%s\"%s\":%" PRIu64, k > 0 ? "," : "", tstd_kind_name(static_cast<TstdKind>(k)), r.counts[k]);
  }
  s += "},\"violations\":[";
  for (std::size_t i = 0; i < r.violations.size(); ++i) {
    const TstdViolation& v = r.violations[i];
    s += format_text("%s{\"kind\":\"%s\",\"time\":%.6f,", i > 0 ? "," : "", tstd_kind_name(v.kind), v.time);
    s += v.packet != kNoPacket ? format_text("\"packet\":%" PRIu64 ",", v.packet) : "\"packet\":null,";
    s += v.access_unit != kNoAccessUnit ? format_text("\"access_unit\":%" PRIu64 ",", v.access_unit)
                                        : "\"access_unit\":null,";
    s += has_bits(v.kind) ? format_text("\"bits\":%" PRIu64 ",", v.bits) : "\"bits\":null,";
    s += has_seconds(v) ? format_text("\"seconds\":%.6f,", v.seconds) : "\"seconds\":null,";
    s += "\"detail\":" + (v.detail.empty() ? std::string("null") : json_string(v.detail)) + "}";
  }
  s += format_text("],\"violation_count\":%" PRIu64, r.violation_count);
  s += ts_errors_json(r.ts_errors) + "}\n";
  std::fputs(s.c_str(), out);
}

// The trace's rows as the model gives them, to a file (made under a
// temporary name, put in place when complete) or standard output.
class TraceWriter {
 public:
  bool open(const std::string& path, std::string& reason) {
    return target_.open(path, reason, true) && target_.write(kTraceHeader);
  }
  void row(const TstdTraceRow& r) {
    if (!target_.is_open()) return;
    const std::string last = r.last_byte_known ? format_text("%.9f", r.last_byte_in_eb.seconds()) : "";
    if (std::fprintf(target_.get(), "%" PRIu64 ",%" PRIu64 ",%.9f,%s,%" PRIu64 ",%" PRIu64 ",%" PRIu64 "\n",
                     r.access_unit, r.bytes, r.decoding_time.seconds(), last.c_str(), r.eb_before_bits, r.mb_bits,
                     r.tb_peak_bits) < 0) {
      failed_ = true;
    }
  }
  // A check that could not be done leaves no trace file behind.
  void discard() { target_.discard(); }
  // A trace whose rows could not all be written is not put in place.
  bool close(std::string& reason) {
    if (failed_) discard();
    return !failed_ && (!target_.is_open() || target_.commit(reason));
  }

 private:
  OutputTarget target_;
  bool failed_ = false;
};

// The packets, ending as the input does once Ctrl-C was pressed.
class AbortableSource final : public RewindableSource {
 public:
  AbortableSource(RewindableSource& inner, const std::atomic<uint32_t>* abort) : inner_(inner), abort_(abort) {}
  std::size_t read(uint8_t* into, std::size_t count) override {
    if (aborted()) return 0;
    return inner_.read(into, count);
  }
  bool restart() override { return !aborted() && inner_.restart(); }
  bool aborted() const { return abort_ != nullptr && abort_->load() != 0; }

 private:
  RewindableSource& inner_;
  const std::atomic<uint32_t>* abort_;
};

}  // namespace

int run_tstd_check(const CliOptions& options, std::FILE* input, std::FILE* out, std::FILE* err,
                   const std::atomic<uint32_t>* abort_requested) {
  const char* name = options.file.c_str();
  if (input == nullptr) {
    std::fprintf(err, "tarnwell-cli: cannot open %s\n", name);
    return kExitUsage;
  }
  // The stream is read twice from its first byte: once to choose the PID, once for the check.
  TsInput ts;
  RewindableSource& packets = ts.open_packets(input, true);

  std::string reason;
  TraceWriter trace;
  if (!options.trace_path.empty() && !trace.open(options.trace_path, reason)) {
    return cannot_write(err, "trace", options.trace_path, reason);
  }
  OutputTarget plot_file;
  if (!options.plot_path.empty() && !plot_file.open(options.plot_path, reason)) {
    return cannot_write(err, "plot", options.plot_path, reason);
  }
  TstdPlotRecorder plot;
  TstdObserver observer;
  if (!options.trace_path.empty()) observer.row = [&trace](const TstdTraceRow& row) { trace.row(row); };
  if (!options.plot_path.empty()) observer.level = [&plot](const TstdLevel& level) { plot.add(level); };
  const TsWarningFn warn = [err](const char* text) { std::fprintf(err, "Warning: %s\n", text); };

  AbortableSource abortable(packets, abort_requested);
  const TstdRunResult r = run_tstd(abortable, options.ts, options.max_violations, observer, warn);
  if (abortable.aborted()) {
    trace.discard();
    std::fputs(options.json ? "{\"outcome\":\"aborted\"}\n" : "ABORTED\n", out);
    return kExitInterrupted;
  }
  if (r.status != TstdRunStatus::kDone) trace.discard();
  switch (r.status) {
    case TstdRunStatus::kDone:
      break;
    case TstdRunStatus::kRefused:
      std::fprintf(err, "tarnwell-cli: '%s': %s\n", name, r.refusal.c_str());
      return kExitUsage;
    case TstdRunStatus::kFewPcrs:
      std::fprintf(err,
                   "tarnwell-cli: '%s': fewer than two PCRs on PCR PID %u (%" PRIu64
                   " found); the packets "
                   "cannot be timed\n",
                   name, r.pcr_pid, r.pcrs);
      return kExitUsage;
    case TstdRunStatus::kNoSps:
      std::fprintf(err, "tarnwell-cli: '%s': no sequence parameter set in the H.264 stream on PID %u\n", name, r.pid);
      return kExitUsage;
    case TstdRunStatus::kNoLevel:
      std::fprintf(err, "tarnwell-cli: '%s': level_idc %u of profile_idc %u is not a level of Table A-1\n", name,
                   r.level_idc, r.profile_idc);
      return kExitUsage;
    case TstdRunStatus::kReadError:
      std::fprintf(err, "tarnwell-cli: cannot read %s\n", name);
      return kExitUsage;
    case TstdRunStatus::kOutOfMemory:
      std::fprintf(err, "tarnwell-cli: out of memory\n");
      return kExitUsage;
  }
  if (!trace.close(reason)) {
    std::fprintf(err, "tarnwell-cli: cannot write the trace file %s%s%s\n", options.trace_path.c_str(),
                 reason.empty() ? "" : ": ", reason.c_str());
    return kExitUsage;
  }
  if (options.json) {
    write_json(r, out);
  } else {
    write_text(r, out);
  }
  if (!options.plot_path.empty()) {
    const std::string title = r.violation_count == 0
                                  ? "tstd-check " + options.file + ": conforms"
                                  : "tstd-check " + options.file + ": does not conform (" + counts_text(r) + ")";
    if (!(plot_file.write(plot.svg(title, r.params, r.violations)) && plot_file.commit(reason))) {
      return cannot_write(err, "plot", options.plot_path, reason);
    }
  }
  return r.violation_count == 0 ? kExitPass : kExitViolation;
}

}  // namespace tarnwell
