#include "inspect/decoder_buffer_text.h"

#include <algorithm>

#include "base/dialog_port.h"
#include "stream/stream_file.h"
#include "stream/ts_source.h"

namespace tarnwell {

namespace {

void show_error(ApplicationContext& context, const char* text) {
  context.dialog.message_box(text, caption_of(BoxKind::Error), BoxKind::Error);
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
  parsing.paramsets().set_sps_listener([out](const SeqParamSet& sps) { print_decoder_buffer_text(sps, out); });
  parsing.next_picture();
  std::fputs("---END HRD INFO---\n\n", out);
  // No later parse may print into a file that its owner is about to close.
  parsing.paramsets().set_sps_listener(nullptr);
}

}  // namespace

void print_decoder_buffer_text(const SeqParamSet& sps, std::FILE* out) {
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
