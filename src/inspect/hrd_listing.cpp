#include "inspect/hrd_listing.h"

#include "base/dialog_port.h"
#include "stream/stream_file.h"
#include "stream/ts_source.h"

namespace tarnwell {

namespace {

void show_error(ApplicationContext& context, const char* text) {
  context.dialog.message_box(text, caption_of(BoxKind::Error), BoxKind::Error);
}

}  // namespace

namespace {

template <typename Input>
void write_report(ApplicationContext& context, Input& stream, std::FILE* out) {
  ParsingState& parsing = context.parsing;
  std::fputs("---HRD INFO---\n\n", out);
  parsing.reset_parsing_state();
  parsing.begin_stream(stream);
  parsing.paramsets().set_hrd_report_file(out);
  parsing.paramsets().set_hrd_report_enabled(1);
  parsing.next_picture();
  std::fputs("---END HRD INFO---\n\n", out);
  // The switch stays on as the report leaves it, but no later parse may write
  // into a file that its owner is about to close.
  parsing.paramsets().set_hrd_report_file(nullptr);
}

}  // namespace

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
