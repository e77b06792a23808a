#pragma once
// tarnwell-cli tstd-check: does a transport stream, as multiplexed (its PCR
// timing, packet order and PES timestamps), keep the system target
// decoder's TB, MB and EB for its H.264 video within bounds? The text and
// JSON reports, the per-access-unit trace, the picture, the exit code.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

#include "app/cli_options.h"

namespace tarnwell {

// Runs the check over input (null: FILE could not be opened; not closed
// here) and writes the report to out, problems and warnings to err. Returns
// 0 when nothing is violated, 1 when anything is, 2 when the stream cannot be
// tested or an output cannot be written, 130 interrupted. The output files
// are made (under temporary names) before the stream is read and put in
// place only when complete.
int run_tstd_check(const CliOptions& options, std::FILE* input, std::FILE* out, std::FILE* err,
                   const std::atomic<uint32_t>* abort_requested = nullptr);

}  // namespace tarnwell
