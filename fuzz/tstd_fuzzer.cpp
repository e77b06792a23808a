// The T-STD check over a whole transport stream: any bytes give a verdict
// or a refusal, never a crash, a hang or memory that grows past the bounds.
//
// Input, laid out as the demultiplexer's target takes it so that its seeds
// serve: byte 0, bits 0-1: the packet size (found from the bytes, 188, 192
// or 204); bits 2-3: the choice (the default, a program_number, a PID, the
// default again); bits 4-7: how many violations are kept; bytes 1-2: the
// program_number or PID; the rest: the transport stream.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "fuzz_support.h"
#include "ts_fuzz_choice.h"
#include "verify/tstd_run.h"

namespace {

using namespace tarnwell;
using tarnwell::fuzz::check;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const TsChoice choice = fuzz::ts_choice_from(data);
  const uint32_t keep = data[0] >> 4;
  MemorySource source(data + 3, size - 3);
  uint64_t rows = 0;
  TstdObserver observer;
  observer.row = [&rows](const TstdTraceRow&) { ++rows; };
  const TstdRunResult r = run_tstd(source, choice, keep, observer, [](const char*) {});
  if (r.status == TstdRunStatus::kDone) {
    check(r.violations.size() <= keep, "more violations listed than kept");
    check(r.violations.size() <= r.violation_count, "more violations listed than counted");
    check(rows == r.access_units, "one trace row per access unit");
    for (std::size_t i = 1; i < r.violations.size(); ++i) {
      check(r.violations[i - 1].ticks <= r.violations[i].ticks, "violations in time order");
    }
  }
  return 0;
}
