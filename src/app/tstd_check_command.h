#pragma once
// tarnwell-cli tstd-check: does a transport stream, as multiplexed (its PCR
// timing, packet order and PES timestamps), keep the system target
// decoder's TB, MB and EB for its H.264 video within bounds? The text and
// JSON reports, the per-access-unit trace, the picture, the exit code.
#include <cstdint>
#include <atomic>
#include <cstdio>
#include <string>

#include "stream/ts_source.h"

namespace tarnwell {

struct TstdCheckRequest {
  std::string file;  // FILE as given, for messages; "-" for standard input
  TsChoice choice;   // --program N | --pid N
  bool json = false;
  std::string trace_path;  // --trace CSV; "-" standard output; empty: none
  std::string plot_path;   // --plot SVG; empty: none
  uint32_t max_violations = 10;
  // Ctrl-C: the run ends with ABORTED (JSON outcome "aborted"), exit 130,
  // and no output written. Optional.
  const std::atomic<uint32_t>* abort_requested = nullptr;
};

// Runs the check over input (null: FILE could not be opened; not closed
// here) and writes the report to out, problems and warnings to err. Returns
// 0 when nothing is violated, 1 when anything is, 2 when the stream cannot be
// tested or an output cannot be written, 130 interrupted. The output files
// are made (under temporary names) before the stream is read and put in
// place only when complete.
int run_tstd_check(const TstdCheckRequest& request, std::FILE* input, std::FILE* out, std::FILE* err);

}  // namespace tarnwell
