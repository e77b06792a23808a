#pragma once
// What the parsed sequence parameter sets at the start of a stream say, as
// text for the user, before any check: the profile and level in the
// read-only edits 1016 and 1017, and the HRD parameter blocks written to
// hrd.txt beside the executable. Both parse the stream up to its first coded
// picture through the parsing state.
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "context/application_context.h"
#include "paramsets/sps.h"
#include "stream/byte_source.h"

namespace tarnwell {

// --- Profile and level -------------------------------------------------------
std::string profile_text(int32_t profile_idc);
std::string level_text(int32_t level_idc, int32_t constrained_set3_flag);

enum class ProbeResult { Shown, CannotOpen, Busy };

// Busy: another user holds the parsing state; the probe asks to run again
// when it lets go and changes nothing now.
ProbeResult probe_profile_level(ApplicationContext& context);
// The same over a stream the caller has opened (and closes): read from its
// current position.
ProbeResult probe_profile_level(ApplicationContext& context, std::FILE* stream);
// The same over `source`, from where it stands.
ProbeResult probe_profile_level(ApplicationContext& context, ByteSource& source);

// --- HRD parameter blocks (hrd.txt) -------------------------------------------
// The blocks that the stream's SPSs carry, framed by a first and a last line,
// opened with the desktop's viewer. The lines are printed from each SPS as it
// is parsed.
inline constexpr char kHrdReportName[] = "hrd.txt";

// The report's lines for one parsed SPS: each HRD block it carries, with its
// bit rates and CPB sizes in 32-bit unsigned arithmetic.
void print_hrd_blocks(const SeqParamSet& sps, std::FILE* out);

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
