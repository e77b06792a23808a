#include "app/info_command.h"

#include <cinttypes>
#include <vector>

#include "app/exit_codes.h"
#include "app/json_text.h"
#include "app/output_target.h"
#include "app/ts_input.h"
#include "base/control_ids.h"
#include "base/dialog_port.h"
#include "base/error_reporter.h"
#include "inspect/codec_text.h"
#include "paramsets/hrd_parameters.h"
#include "stream/stream_file.h"

namespace tarnwell {
namespace {

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
  std::string out = format_text(
      "{\"bit_rate_scale\":%u,\"cpb_size_scale\":%u,\"initial_cpb_removal_delay_length\":%u,"
      "\"cpb_removal_delay_length\":%u,\"dpb_output_delay_length\":%u,\"time_offset_length\":%u,\"schedules\":[",
      hrd.bit_rate_scale, hrd.cpb_size_scale, hrd.initial_cpb_removal_delay_length_minus1 + 1,
      hrd.cpb_removal_delay_length_minus1 + 1, hrd.dpb_output_delay_length_minus1 + 1, hrd.time_offset_length);
  const uint32_t count = hrd.cpb_cnt_minus1 < kMaxCpbEntries ? hrd.cpb_cnt_minus1 + 1 : kMaxCpbEntries;
  for (uint32_t i = 0; i < count; ++i) {
    out += format_text("%s{\"bit_rate\":%" PRIu64 ",\"cpb_size\":%" PRIu64 ",\"cbr\":%s}", i > 0 ? "," : "",
                       hrd_bit_rate(hrd, i), hrd_cpb_size(hrd, i), hrd.cbr_flag[i] != 0 ? "true" : "false");
  }
  return out + "]}";
}

void print_info_json(ApplicationContext& context, const std::string& extra_fields, std::FILE* out) {
  const ParameterSets& sets = context.parsing.paramsets();
  const SeqParamSet* sps = described_sps(sets);
  const FrameRateFraction& rate = context.shared.frame_rate;
  std::fprintf(out, "{\"profile\":%s,\"level\":%s,\"profile_idc\":%u,\"level_idc\":%u,",
               json_string(context.dialog.get_text(kEditProfile, 100)).c_str(),
               json_string(context.dialog.get_text(kEditLevel, 100)).c_str(), sets.last_profile_idc(),
               sets.last_level_idc());
  if (sps != nullptr) {
    std::fprintf(out,
                 "\"constraint_set0_flag\":%u,\"constraint_set1_flag\":%u,\"constraint_set2_flag\":%u,"
                 "\"constraint_set3_flag\":%u,",
                 sps->constraint_set0_flag, sps->constraint_set1_flag, sps->constraint_set2_flag,
                 sps->constraint_set3_flag);
  } else {
    std::fputs("\"constraint_set0_flag\":null,\"constraint_set1_flag\":null,\"constraint_set2_flag\":null,"
               "\"constraint_set3_flag\":null,",
               out);
  }
  std::fprintf(out, "\"frame_rate_num\":%u,\"frame_rate_den\":%llu,", rate.frame_rate_num,
               static_cast<unsigned long long>(rate.frame_rate_den));
  const bool vui = sps != nullptr && sps->vui_parameters_present_flag != 0;
  const bool nal = vui && sps->vui.nal_hrd_parameters_present_flag != 0;
  const bool vcl = vui && sps->vui.vcl_hrd_parameters_present_flag != 0;
  std::fprintf(out, "\"nal_hrd\":%s,\"vcl_hrd\":%s%s}\n", nal ? hrd_json(sps->vui.nal_hrd).c_str() : "null",
               vcl ? hrd_json(sps->vui.vcl_hrd).c_str() : "null", extra_fields.c_str());
}

// The transport stream's structure: the lines after profile and level, and
// the JSON fields (,"container":"ts","packet_size":...,"pid":...,"programs":[...]).
std::string ts_structure_text(const TsSource& source) {
  std::string out = format_text("Container: MPEG transport stream, %u-byte packets, H.264 from PID %u\n",
                                source.packet_size(), source.pid());
  for (const TsProgram& program : source.structure().programs) {
    out += program.pmt_seen ? format_text("Program %u: PMT PID %u, PCR PID %u\n", program.program_number,
                                          program.program_map_PID, program.PCR_PID)
                            : format_text("Program %u: PMT PID %u, no program map table found\n",
                                          program.program_number, program.program_map_PID);
    for (const TsElementaryStream& stream : program.streams) {
      out += format_text("  PID %u: stream_type 0x%02X, %s\n", stream.elementary_PID, stream.stream_type,
                         stream_type_description(stream.stream_type));
    }
  }
  return out;
}

std::string ts_structure_json(const TsSource& source) {
  std::string out = format_text(",\"container\":\"ts\",\"packet_size\":%u,\"pid\":%u,\"programs\":[",
                                source.packet_size(), source.pid());
  for (const TsProgram& program : source.structure().programs) {
    if (&program != &source.structure().programs.front()) out += ",";
    out += format_text("{\"program_number\":%u,\"pmt_pid\":%u,\"pcr_pid\":", program.program_number,
                       program.program_map_PID);
    out += program.pmt_seen ? std::to_string(program.PCR_PID) : "null";
    out += ",\"streams\":[";
    for (std::size_t i = 0; i < program.streams.size(); ++i) {
      const TsElementaryStream& stream = program.streams[i];
      out += format_text("%s{\"pid\":%u,\"stream_type\":%u,\"codec\":\"%s\"}", i > 0 ? "," : "", stream.elementary_PID,
                         stream.stream_type, stream_type_codec(stream.stream_type));
    }
    out += "]}";
  }
  return out + "]";
}

// A stream that cannot be read twice (a pipe) is copied whole into a
// temporary file first: the probe and the report each read it from the
// start. Null, with `reason` set, when the copy cannot be made.
std::FILE* rereadable_copy(std::FILE* input, std::string& reason) {
  std::FILE* spool = open_spool_file();
  FileSource source(input);
  if (spool == nullptr) {
    reason = "cannot make a temporary copy";
  } else if (!copy_elementary_stream(source, spool)) {
    reason = "cannot write its temporary copy";
  } else if (std::ferror(input) != 0 || std::fflush(spool) != 0 || std::fseek(spool, 0, SEEK_SET) != 0) {
    reason = "cannot read it into a temporary copy";
  } else {
    return spool;
  }
  if (spool != nullptr) std::fclose(spool);
  return nullptr;
}

struct CopyCloser {
  std::FILE* file = nullptr;
  ~CopyCloser() {
    if (file != nullptr) std::fclose(file);
  }
};

}  // namespace

int run_info(ApplicationContext& context, const CliRequest& request, std::FILE* input, std::FILE* out,
             std::FILE* err) {
  const CliOptions& options = request.options;
  auto aborted = [&] {
    if (context.shared.abort_requested.load() == 0) return false;
    std::fputs(options.json ? "{\"outcome\":\"aborted\"}\n" : "ABORTED\n", out);
    return true;
  };

  // The report file is made (under a temporary name) before the stream is read.
  std::string reason = request.input_error;
  OutputTarget report;
  const bool report_wanted = !options.json || !options.hrd_path.empty();
  if (report_wanted && !report.open(options.hrd_path.empty() ? "-" : options.hrd_path, reason, true)) {
    std::fprintf(err, "tarnwell-cli: Cannot open file for HRD info: %s: %s\n", options.hrd_path.c_str(),
                 reason.c_str());
    return kExitUsage;
  }
  CopyCloser copy;
  if (input != nullptr && !is_seekable_stream(input)) input = copy.file = rereadable_copy(input, reason);
  if (aborted()) return kExitInterrupted;
  if (input == nullptr) return cannot_open(err, options.file, reason);
  TsInput ts;
  std::vector<uint8_t> head;  // stays empty: the input is a file that can be sought by now
  const TsWarningFn warn = [&context](const char* text) { context.reporter.notify_error("%s", text); };
  if (!open_command_input(input_reading(options), input, ts, warn, head, out, err)) return kExitUsage;
  if (ts.source() != nullptr) {
    probe_profile_level(context, *ts.source());
  } else {
    probe_profile_level(context, input);
  }
  if (aborted()) return kExitInterrupted;
  if (ts.source() != nullptr ? !ts.source()->restart() : std::fseek(input, 0, SEEK_SET) != 0) {
    std::fprintf(err, "tarnwell-cli: cannot read '%s' again\n", options.file.c_str());
    return kExitUsage;
  }

  if (!options.json) {
    std::fprintf(out, "Profile: %s\nLevel: %s\n", context.dialog.get_text(kEditProfile, 100).c_str(),
                 context.dialog.get_text(kEditLevel, 100).c_str());
    if (ts.source() != nullptr) std::fputs(ts_structure_text(*ts.source()).c_str(), out);
    std::fflush(out);
  }
  if (report_wanted) {
    ApplicationContext::ParsingLease lease = context.try_take_parsing();
    if (ts.source() != nullptr) {
      write_hrd_report(context, *ts.source(), report.get());
    } else {
      write_hrd_report(context, input, report.get());
    }
  }
  if (aborted()) return kExitInterrupted;
  const bool sps_seen = context.parsing.sps_seen != 0;
  if (options.json) {
    const TsSource* source = ts.source();
    print_info_json(context, source != nullptr ? ts_structure_json(*source) + ts_errors_json(source) : "", out);
  }
  if (report_wanted && !report.commit(reason)) {
    std::fprintf(err, "tarnwell-cli: cannot write the HRD report to %s: %s\n",
                 options.hrd_path.empty() ? "standard output" : options.hrd_path.c_str(), reason.c_str());
    return kExitUsage;
  }
  if (!sps_seen) {
    std::fprintf(err, "tarnwell-cli: no sequence parameter set in '%s'\n", options.file.c_str());
    return kExitViolation;
  }
  return kExitPass;
}

}  // namespace tarnwell
