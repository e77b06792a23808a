#include "inspect/codec_text.h"

#include <algorithm>
#include <cstdio>
#include <span>

#include "base/dialog_port.h"
#include "base/error_reporter.h"
#include "stream/stream_file.h"
#include "stream/ts_source.h"

namespace tarnwell {

namespace {

void show_error(ApplicationContext& context, const char* text) {
  context.dialog.message_box(text, caption_of(BoxKind::Error), BoxKind::Error);
}

struct Named {
  int32_t value;
  const char* text;
};

constexpr Named kProfiles[] = {{66, "Baseline"}, {77, "Main"},        {88, "Extended"},   {100, "High"},
                               {110, "High 10"}, {122, "High 4:2:2"}, {144, "High 4:4:4"}};
constexpr Named kLevels[] = {{10, "1"},   {11, "1.1"}, {12, "1.2"}, {13, "1.3"}, {20, "2"},
                             {21, "2.1"}, {22, "2.2"}, {30, "3"},   {31, "3.1"}, {32, "3.2"},
                             {40, "4"},   {41, "4.1"}, {42, "4.2"}, {50, "5"},   {51, "5.1"}};

// The table's text for `value`, else "reserved [value]".
std::string name_of(std::span<const Named> table, int32_t value) {
  for (const Named& named : table) {
    if (named.value == value) return named.text;
  }
  return format_text("reserved [%d]", value);
}

template <typename Input>
void probe_stream(ApplicationContext& context, Input& file) {
  ParsingState& parsing = context.parsing;
  parsing.reset_parsing_state();
  parsing.begin_stream(file);
  parsing.next_picture();

  const ParameterSets& sets = parsing.paramsets();
  context.dialog.set_text(kEditProfile, profile_text(sets.last_profile_idc()));
  context.dialog.set_text(kEditLevel, level_text(sets.last_level_idc(), sets.last_constraint_set3_flag()));
}

// The probe of an input the caller opened, once the parsing state is free.
template <typename Input>
ProbeResult probe_when_free(ApplicationContext& context, Input& input) {
  ApplicationContext::ParsingLease lease = context.try_take_parsing();
  if (!lease) {
    context.request_probe_after_release();
    return ProbeResult::Busy;
  }
  probe_stream(context, input);
  return ProbeResult::Shown;
}

void print_hrd_block(const HrdParameters& hrd, std::FILE* out) {
  std::fprintf(out, "cpb_cnt_minus1 = %d\n", static_cast<int32_t>(hrd.cpb_cnt_minus1));
  std::fprintf(out, "bit_rate_scale = %d\n", static_cast<int32_t>(hrd.bit_rate_scale));
  std::fprintf(out, "cpb_size_scale = %d\n\n", static_cast<int32_t>(hrd.cpb_size_scale));
  // The scales are 4-bit fields, so the shifts stay below 32; the products
  // wrap as the report has always shown them.
  const uint32_t bit_rate_unit = 1u << (6 + (hrd.bit_rate_scale & 15u));
  const uint32_t cpb_size_unit = 1u << (4 + (hrd.cpb_size_scale & 15u));
  const uint64_t announced = static_cast<uint64_t>(hrd.cpb_cnt_minus1) + 1;
  const uint64_t kept = std::min<uint64_t>(announced, kMaxCpbEntries);
  for (uint64_t i = 0; i < kept; ++i) {
    const int32_t index = static_cast<int32_t>(i);
    std::fprintf(out, "bit_rate_value_minus1[%d] = %d [%u bits/s]\n", index,
                 static_cast<int32_t>(hrd.bit_rate_value_minus1[i]),
                 (hrd.bit_rate_value_minus1[i] + 1u) * bit_rate_unit);
    std::fprintf(out, "cpb_size_value_minus1[%d] = %d [%u bits]\n", index,
                 static_cast<int32_t>(hrd.cpb_size_value_minus1[i]),
                 (hrd.cpb_size_value_minus1[i] + 1u) * cpb_size_unit);
    std::fprintf(out, "cbr_flag[%d] = %d\n\n", index, static_cast<int32_t>(hrd.cbr_flag[i]));
  }
  if (announced > kept) {
    std::fprintf(out, "%u more entries announced by cpb_cnt_minus1 not printed\n\n",
                 static_cast<uint32_t>(announced - kept));
  }
  std::fprintf(out, "initial_cpb_removal_delay_length_minus1 = %d\n",
               static_cast<int32_t>(hrd.initial_cpb_removal_delay_length_minus1));
  std::fprintf(out, "cpb_removal_delay_length_minus1 = %d\n",
               static_cast<int32_t>(hrd.cpb_removal_delay_length_minus1));
  std::fprintf(out, "dpb_output_delay_length_minus1 = %d\n", static_cast<int32_t>(hrd.dpb_output_delay_length_minus1));
  std::fprintf(out, "time_offset_length = %d\n\n", static_cast<int32_t>(hrd.time_offset_length));
}

template <typename Input>
void write_report(ApplicationContext& context, Input& stream, std::FILE* out) {
  ParsingState& parsing = context.parsing;
  std::fputs("---HRD INFO---\n\n", out);
  parsing.reset_parsing_state();
  parsing.begin_stream(stream);
  parsing.paramsets().set_sps_listener([out](const SeqParamSet& sps) { print_hrd_blocks(sps, out); });
  parsing.next_picture();
  std::fputs("---END HRD INFO---\n\n", out);
  // No later parse may print into a file that its owner is about to close.
  parsing.paramsets().set_sps_listener(nullptr);
}

}  // namespace

std::string profile_text(int32_t profile_idc) { return name_of(kProfiles, profile_idc); }

std::string level_text(int32_t level_idc, int32_t constrained_set3_flag) {
  if (level_idc == 9 || (level_idc == 11 && constrained_set3_flag == 1)) return "1b";
  return name_of(kLevels, level_idc);
}

ProbeResult probe_profile_level(ApplicationContext& context) {
  ApplicationContext::ParsingLease lease = context.try_take_parsing();
  if (!lease) {
    context.request_probe_after_release();
    return ProbeResult::Busy;
  }
  std::FILE* file = open_stream_file(context.shared.stream_path.c_str());
  if (file == nullptr) {
    show_error(context, "Cannot open input file");
    return ProbeResult::CannotOpen;
  }
  // A transport stream is probed through its default H.264 stream.
  TsFileReading ts;
  if (ts.begin(file, [&context](const char* text) { context.reporter.notify_error("%s", text); })) {
    if (ts.source() != nullptr) {
      probe_stream(context, *ts.source());
    } else {
      context.dialog.set_text(kEditProfile, "");
      context.dialog.set_text(kEditLevel, "");
      context.dialog.message_box(ts.refusal(), caption_of(BoxKind::Warning), BoxKind::Warning);
    }
  } else {
    probe_stream(context, file);
  }
  std::fclose(file);
  return ProbeResult::Shown;
}

ProbeResult probe_profile_level(ApplicationContext& context, std::FILE* stream) {
  return probe_when_free(context, stream);
}

ProbeResult probe_profile_level(ApplicationContext& context, ByteSource& source) {
  return probe_when_free(context, source);
}

void print_hrd_blocks(const SeqParamSet& sps, std::FILE* out) {
  if (sps.vui.nal_hrd_parameters_present_flag == 1) {
    std::fputs("NAL HRD INFO:\n\n", out);
    print_hrd_block(sps.vui.nal_hrd, out);
  }
  if (sps.vui.vcl_hrd_parameters_present_flag == 1) {
    std::fputs("VCL HRD INFO:\n\n", out);
    print_hrd_block(sps.vui.vcl_hrd, out);
  }
}

void write_hrd_report(ApplicationContext& context, std::FILE* stream, std::FILE* out) {
  write_report(context, stream, out);
}

void write_hrd_report(ApplicationContext& context, ByteSource& source, std::FILE* out) {
  write_report(context, source, out);
}

std::string hrd_report_path(const std::string& executable_path) {
#ifdef _WIN32
  const std::size_t cut = executable_path.find_last_of('\\');
#else
  const std::size_t cut = executable_path.find_last_of('/');
#endif
  std::string folder = cut == std::string::npos ? std::string() : executable_path.substr(0, cut + 1);
  return folder + kHrdReportName;
}

HrdReportResult hrd_report_thread(ApplicationContext& context, const std::string& executable_path,
                                  const std::function<void(const std::string&)>& open_with_shell) {
  ApplicationContext::ParsingLease lease = context.try_take_parsing();
  if (!lease) {
    show_error(context, kBusyMessage);
    return HrdReportResult::Busy;
  }
  std::FILE* stream = open_stream_file(context.shared.stream_path.c_str());
  if (stream == nullptr) {
    show_error(context, "Cannot open input file");
    return HrdReportResult::CannotOpenStream;
  }
  const std::string path = hrd_report_path(executable_path);
  std::FILE* out = std::fopen(path.c_str(), "w");
  if (out == nullptr) {
    show_error(context, "Cannot open file for HRD info");
    std::fclose(stream);
    return HrdReportResult::CannotOpenReport;
  }
  // A transport stream's report is that of its default H.264 stream.
  TsFileReading ts;
  if (ts.begin(stream, [&context](const char* text) { context.reporter.notify_error("%s", text); })) {
    if (ts.source() == nullptr) {
      show_error(context, ts.refusal().c_str());
      std::fclose(stream);
      std::fclose(out);
      return HrdReportResult::CannotOpenStream;
    }
    write_hrd_report(context, *ts.source(), out);
  } else {
    write_hrd_report(context, stream, out);
  }
  std::fclose(stream);
  std::fclose(out);
  lease.release();
  if (open_with_shell) open_with_shell(path);
  return HrdReportResult::Written;
}

}  // namespace tarnwell
