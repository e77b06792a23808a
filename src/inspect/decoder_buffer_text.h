#pragma once
// The HRD info report: the HRD parameter blocks that the stream's sequence
// parameter sets carry, framed by a first and a last line, written to
// hrd.txt beside the executable and opened with the desktop's viewer. The
// lines are printed from each SPS as it is parsed.
#include <cstdio>
#include <functional>
#include <string>

#include "context/application_context.h"
#include "paramsets/sps.h"
#include "stream/byte_source.h"

namespace tarnwell {

inline constexpr char kHrdReportName[] = "hrd.txt";

// The report's lines for one parsed SPS: each HRD block it carries, with its
// bit rates and CPB sizes in 32-bit unsigned arithmetic.
void print_decoder_buffer_text(const SeqParamSet& sps, std::FILE* out);

// Parses the start of the stream in `stream`, printing the HRD blocks of every
// SPS parsed into `out`, framed. The caller holds the parsing lease.
void write_hrd_report(ApplicationContext& context, std::FILE* stream, std::FILE* out);
// The same, reading from `source` from where it stands.
void write_hrd_report(ApplicationContext& context, ByteSource& source, std::FILE* out);

// The path of hrd.txt for an executable at `executable_path`: its folder (cut
// after the last separator), or the current folder when it has none.
std::string hrd_report_path(const std::string& executable_path);

enum class HrdReportResult { Written, Busy, CannotOpenStream, CannotOpenReport };

// The body of the report's thread: opens the stream, writes hrd.txt beside the
// executable, then asks the shell to open it through `open_with_shell`.
HrdReportResult hrd_report_thread(ApplicationContext& context, const std::string& executable_path,
                                  const std::function<void(const std::string&)>& open_with_shell);

}  // namespace tarnwell
