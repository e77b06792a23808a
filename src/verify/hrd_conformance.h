#pragma once
// The Annex C model of one conformance test (one conformance point, one
// schedule): arrival (C.1.1) and removal (C.1.2) times of each access unit,
// the CPB's fullness around each removal, and the checks of C.3 and A.3.
// Times are exact rationals: every time is an integer count of 1/D seconds,
// with D a multiple of 90000, time_scale and BitRate (lcm(90000, time_scale)
// * BitRate to begin with), so arrival ends, removal times and the 90 kHz
// delays all land on it. A buffering period that brings other HRD values (a
// new SPS) moves every stored time onto a D that is also a multiple of the
// new ones. Streaming: the state is a handful of numbers plus the access
// units that wait for removal and the arrival intervals of the last few.
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "paramsets/level_limits.h"

namespace tarnwell {

enum class HrdPoint { kNal, kVcl };
enum class HrdViolationKind {
  kOverflow,
  kUnderflow,
  kInitialDelay,
  kRemovalInterval,
  kMissingTiming,
  kLevelLimit,
  kBufferingPeriod,
};

const char* hrd_point_name(HrdPoint point);             // "nal", "vcl"
const char* hrd_violation_name(HrdViolationKind kind);  // "overflow", ...

struct HrdTestConfig {
  HrdPoint point = HrdPoint::kNal;
  uint32_t schedule = 0;
  uint64_t bit_rate = 0;  // BitRate[SchedSelIdx], bit/s
  uint64_t cpb_size = 0;  // CpbSize[SchedSelIdx], bits
  bool cbr = false;
  bool low_delay = false;
  uint32_t num_units_in_tick = 0;
  uint32_t time_scale = 0;
  // cpb_removal_delay_length_minus1 + 1: cpb_removal_delay counts modulo 2^this.
  uint32_t cpb_removal_delay_length = 32;

  bool operator==(const HrdTestConfig&) const = default;
};

struct HrdViolation {
  HrdViolationKind kind = HrdViolationKind::kOverflow;
  bool has_access_unit = false;
  uint64_t access_unit = 0;
  int64_t time_us = 0;     // when it happens, microseconds from the HRD's start
  int64_t bits = 0;        // overflow: bits above CpbSize
  int64_t seconds_us = 0;  // underflow: late by; removal interval: short by; initial delay: off by
  char detail[320] = {};
};

// HRD values that a later buffering period's SPS brought: the access units
// from access_unit on are tested with them.
struct HrdParameterChange {
  uint64_t access_unit = 0;
  HrdTestConfig config;
  const char* level = nullptr;  // the level's name; null when unknown
};

struct HrdTestResult {
  HrdTestConfig config;
  bool conforms = true;
  uint64_t peak_bits = 0;                // largest fullness just before a removal, rounded down
  std::vector<HrdViolation> violations;  // the first max_violations, in access-unit order
  uint64_t violation_count = 0;
  uint64_t access_units = 0;
  bool stopped = false;  // the test could not go on; stop_reason says why
  char stop_reason[160] = {};
  std::vector<HrdParameterChange> changes;
  // The schedule no longer existed from ended_at on (a new SPS with fewer
  // schedules or without this point's HRD values); the access units before
  // it were tested.
  bool ended = false;
  uint64_t ended_at = 0;
  char end_reason[160] = {};
};

// One access unit as a test sees it, counted from the HRD's initialisation.
struct HrdAccessUnitInput {
  uint64_t bits = 0;
  bool has_buffering_period = false;
  uint32_t initial_cpb_removal_delay = 0;
  uint32_t initial_cpb_removal_delay_offset = 0;
  bool has_picture_timing = false;
  uint32_t cpb_removal_delay = 0;
  uint64_t pic_size_in_mbs = 0;
  bool field = false;
  bool idr = false;  // begins a coded video sequence
};

// One row per access unit once its removal has been reckoned with. Times in
// microseconds; fullness in whole bits, rounded down: the bits that had
// arrived by t_r (by the arrival times, whatever the order of removals)
// less those removed before, negative when the access unit had not fully
// arrived.
struct HrdTraceRow {
  uint64_t access_unit = 0;
  uint64_t bits = 0;
  int64_t t_ai_us = 0;
  int64_t t_af_us = 0;
  int64_t t_rn_us = 0;
  int64_t t_r_us = 0;
  int64_t fullness_before = 0;
  int64_t fullness_after = 0;
  uint64_t cpb_size = 0;
  uint32_t violations = 0;  // bit (1 << kind) for each kind of violation found at this access unit
};

struct HrdLevel {
  const LevelLimits* limits = nullptr;  // null: unknown level, no level checks
  uint32_t factor = 0;                  // cpbBrVclFactor or cpbBrNalFactor for the point; 0: unknown
};

class HrdConformanceTest {
 public:
  using TraceSink = std::function<void(const HrdTraceRow&)>;

  HrdConformanceTest(const HrdTestConfig& config, const HrdLevel& level, uint32_t max_violations);

  void set_trace(TraceSink sink) { trace_ = std::move(sink); }
  // From the next access unit on (a buffering period whose SPS brings other
  // HRD values), the test goes on with these.
  void change_parameters(const HrdTestConfig& config, const HrdLevel& level);
  // The test's schedule no longer exists from the next access unit on.
  void end(const char* reason);
  // A violation found outside the model (a level limit that no schedule
  // keeps), at the next access unit or, before the first, for the stream.
  void report(HrdViolationKind kind, const char* detail);
  void add(const HrdAccessUnitInput& au);
  // Reckons with the removals still waiting; call once after the last add.
  void finish();
  const HrdTestResult& result() const { return result_; }

  // Largest count of access units waiting for removal before the test stops.
  static constexpr std::size_t kMaxWaiting = 1u << 20;
  // Arrival intervals kept for the fullness at a removal time that lies
  // before the newest arrival (an underflow, removal times that go back).
  static constexpr std::size_t kArrivalHistory = 4096;

 private:
  using Time = __int128;
  struct Waiting {
    uint64_t index;
    uint64_t bits;
    Time t_ai, t_af, t_rn, t_r;
    uint32_t violations;
  };
  struct Arrival {
    Time t_ai, t_af;
    Time per_bit;           // time units per bit while it arrived
    uint64_t bits_before;   // bits of every earlier access unit
    uint64_t bits;
  };

  Time mul(Time a, Time b);
  Time add(Time a, Time b);
  Time too_large();  // stops the test; 0
  void stop(const char* reason);
  void violation(HrdViolationKind kind, bool has_au, uint64_t au, Time when, int64_t bits, Time seconds,
                 const char* detail);
  int64_t us(Time t) const;
  bool set_time_base(const HrdTestConfig& config);
  void arrived_by(Time t, Time& num, Time& den) const;
  uint64_t unwrap_removal_delay(uint32_t raw);
  void check_buffering_period(const HrdAccessUnitInput& au, uint64_t n);
  void remove_until(Time limit, bool all);

  HrdTestResult result_;
  HrdTestConfig current_config_;  // result_.config until a new SPS changes it
  HrdLevel level_;
  uint32_t max_violations_;
  TraceSink trace_;

  Time D_ = 0;        // the time unit is 1/D_ s
  Time per_bit_ = 0;  // time units per bit at BitRate
  Time tick_ = 0;     // t_c in time units
  Time per_90k_ = 0;  // 1/90000 s in time units
  bool overflow_ = false;
  bool ended_ = false;

  uint64_t n_ = 0;
  Time prev_t_af_ = 0;
  Time prev_t_r_ = 0;
  Time prev_t_rn_ = 0;
  Time prev_interval_ = 0;  // last nominal removal interval, for an access unit without timing
  Time t_b_ = 0;            // nominal removal time of the current buffering period's first access unit
  uint64_t delay_in_period_ = 0;  // the previous access unit's cpb_removal_delay, unwrapped, from t_b_
  uint32_t bp_delay_ = 0;
  uint32_t bp_offset_ = 0;
  bool has_cvs_sum_ = false;
  uint64_t cvs_sum_ = 0;  // initial_cpb_removal_delay + offset of the coded video sequence's first buffering period
  uint64_t prev_pic_size_ = 0;
  uint64_t arrived_bits_ = 0;  // bits of every access unit added so far
  uint64_t removed_bits_ = 0;
  uint32_t current_violations_ = 0;  // kinds found at the access unit being added
  std::deque<Waiting> waiting_;
  std::deque<Arrival> arrivals_;
};

}  // namespace tarnwell
