#pragma once
// The T-STD check of a whole transport stream in one reading: the packets
// of the chosen H.264 PID timed by the PCRs around them, its elementary
// stream split into access units as the HRD check splits them, each removed
// at the decoding time of the PES packet it starts in.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "paramsets/level_limits.h"
#include "picture/access_unit_splitter.h"
#include "stream/byte_source.h"
#include "stream/ts_source.h"
#include "verify/tstd_model.h"

namespace tarnwell {

enum class TstdRunStatus {
  kDone,
  kRefused,    // not a transport stream, or no H.264 stream (refusal says which)
  kFewPcrs,    // fewer than two PCRs on the program's PCR_PID
  kNoSps,      // no sequence parameter set before the stream ended
  kNoLevel,    // the SPS's level is not one of Table A-1's
  kReadError,  // the input could not be read again from its first byte
  kOutOfMemory,
};

struct TstdRunResult {
  TstdRunStatus status = TstdRunStatus::kDone;
  std::string refusal;
  uint16_t pid = 0;
  uint16_t pcr_pid = 0;
  uint32_t packet_size = 0;
  uint64_t packets = 0;
  uint64_t pcrs = 0;
  uint64_t access_units = 0;
  uint32_t profile_idc = 0;
  uint32_t level_idc = 0;
  bool rates_from_hrd = false;  // BitRate and CpbSize of the SPS's NAL HRD parameters
  bool hrd_management = false;  // an AVC timing and HRD descriptor asks for HRD buffer management
  TstdParams params;
  uint64_t tb_peak_bits = 0;
  uint64_t mb_peak_bits = 0;
  uint64_t eb_peak_bits = 0;
  std::array<uint64_t, kTstdKinds> counts{};
  uint64_t violation_count = 0;
  std::vector<TstdViolation> violations;  // the first ones in time
  TsErrorCounts ts_errors;
  SplitterNotes notes;
};

TstdRunResult run_tstd(RewindableSource& packets, const TsChoice& choice, uint32_t max_violations,
                       const TstdObserver& observer, const TsWarningFn& warn);

}  // namespace tarnwell
