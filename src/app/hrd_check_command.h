#pragma once
// tarnwell-cli hrd-check: does the stream keep the promises it carries (its
// SPS's HRD parameters and its buffering period and picture timing SEI)?
// The text and JSON reports, the trace and the plot, and the exit code. The
// front end opens FILE (or takes standard input for "-") and hands the
// stream in.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "app/cli_options.h"
#include "verify/hrd_conformance.h"

namespace tarnwell {

// Every test's per-access-unit rows as the one pass goes (time,
// fullness before and after removal, bits, CpbSize, the kinds of violation
// found there), then, once the tests are done, which test the plot shows:
// the first failing one, else the first. --plot draws them.
struct HrdRowSink {
  std::function<void(std::size_t test, const HrdTraceRow& row)> row;
  std::function<void(std::size_t test, const HrdTestResult& result)> chosen;
};

// Runs the check over input (null: FILE could not be opened) and writes the
// report to out, problems to err. Returns the exit code: 0 every test
// conforms, 1 a test found a violation, 2 no usable HRD data or a file that
// cannot be opened or written, or an input it does not read, 130
// interrupted. The output files are made before the stream is read.
int run_hrd_check(const CliOptions& options, std::FILE* input, std::FILE* out, std::FILE* err,
                  const std::atomic<uint32_t>* abort_requested = nullptr, const HrdRowSink* rows = nullptr);

}  // namespace tarnwell
