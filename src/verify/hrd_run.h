#pragma once
// The whole HRD conformance check over one stream: one reading of the file,
// access units from the splitter, one HrdConformanceTest per chosen
// conformance point and schedule, set up from the SPS that the first
// buffering period SEI names. Access units before that one are counted as
// not tested.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <vector>

#include "paramsets/level_limits.h"
#include "picture/access_unit_splitter.h"
#include "verify/hrd_conformance.h"

namespace tarnwell {

struct HrdRunOptions {
  bool nal = true;
  bool vcl = true;
  bool all_schedules = true;
  uint32_t schedule = 0;  // when not all_schedules
  uint32_t max_violations = 10;
  // Bytes already taken from the input (to see what it is), read first.
  std::vector<uint8_t> input_head;
  // Polled once per access unit and at the end of the input; set: the run
  // ends as kAborted. Optional.
  const std::atomic<uint32_t>* abort_requested = nullptr;
};

enum class HrdRunStatus {
  kDone,               // the tests ran; their results say whether the stream conforms
  kNoHrdParameters,    // no SPS with HRD parameters (for the chosen points)
  kNoBufferingPeriod,  // HRD parameters, but no buffering period SEI to start from
  kNoTimingInfo,       // the SPS lacks num_units_in_tick or time_scale
  kNoSuchSchedule,     // the chosen schedule is beyond cpb_cnt_minus1
  kReadError,
  kOutOfMemory,
  kAborted,            // abort_requested was seen
};

struct HrdRunResult {
  HrdRunStatus status = HrdRunStatus::kDone;
  std::vector<HrdTestResult> tests;
  uint64_t access_units = 0;           // every access unit of the stream
  uint64_t untested_access_units = 0;  // those before the first buffering period
  uint32_t profile_idc = 0;
  uint32_t level_idc = 0;
  const LevelLimits* level = nullptr;  // null: level_idc not in Table A-1
  CpbBrFactors factors;
  SplitterNotes notes;
};

// Called with the test's index in HrdRunResult::tests and one trace row.
using HrdTraceFn = std::function<void(std::size_t test, const HrdTraceRow& row)>;

HrdRunResult run_hrd_conformance(std::FILE* input, const HrdRunOptions& options, const HrdTraceFn& trace = {},
                                 uint32_t block_bytes = AnnexbScanner::kDefaultBlockBytes);
// The same over a byte source (a transport stream's elementary stream).
HrdRunResult run_hrd_conformance(ByteSource& input, const HrdRunOptions& options, const HrdTraceFn& trace = {},
                                 uint32_t block_bytes = AnnexbScanner::kDefaultBlockBytes);

}  // namespace tarnwell
