#include "verify/hrd_conformance.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <iterator>
#include <limits>
#include <numeric>

namespace tarnwell {
namespace {

using Time = __int128;

Time floor_div(Time a, Time b) {
  Time q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

Time ceil_div(Time a, Time b) { return -floor_div(-a, b); }

// By hand: std::gcd refuses __int128 in standard (non-GNU) C++.
Time gcd(Time a, Time b) {
  while (b != 0) {
    const Time r = a % b;
    a = b;
    b = r;
  }
  return a;
}

int64_t clamp64(Time v) {
  return static_cast<int64_t>(
      std::clamp<Time>(v, std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max()));
}

// Six decimals of a microsecond count, sign included.
void format_seconds(char* out, std::size_t size, int64_t us) {
  const bool negative = us < 0;
  const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(us) : static_cast<uint64_t>(us);
  std::snprintf(out, size, "%s%" PRIu64 ".%06" PRIu64, negative ? "-" : "", magnitude / 1000000, magnitude % 1000000);
}

}  // namespace

const char* hrd_point_name(HrdPoint point) { return point == HrdPoint::kNal ? "nal" : "vcl"; }

const char* hrd_violation_name(HrdViolationKind kind) {
  // In the order of HrdViolationKind.
  static constexpr const char* kNames[] = {"overflow",       "underflow",   "initial_delay",   "removal_interval",
                                           "missing_timing", "level_limit", "buffering_period"};
  const auto index = static_cast<std::size_t>(kind);
  return index < std::size(kNames) ? kNames[index] : "unknown";
}

HrdConformanceTest::HrdConformanceTest(const HrdTestConfig& config, const HrdLevel& level, uint32_t max_violations)
    : level_(level), max_violations_(max_violations) {
  result_.config = config;
  current_config_ = config;
  set_time_base(config);
}

// Sets D_ and the units that hang on it for config; the first time from
// scratch, later onto a multiple of the present D_, with every stored time
// moved onto it. False when the test had to stop.
bool HrdConformanceTest::set_time_base(const HrdTestConfig& config) {
  if (config.bit_rate == 0 || config.time_scale == 0 || config.num_units_in_tick == 0) {
    stop("no bit rate or no timing information (num_units_in_tick, time_scale)");
    return false;
  }
  const uint64_t l = std::lcm(uint64_t{90000}, uint64_t{config.time_scale});
  const Time wanted = mul(static_cast<Time>(l), static_cast<Time>(config.bit_rate));
  if (overflow_) return false;
  Time d = wanted;
  if (D_ > 0) {
    const Time factor = wanted / gcd(D_, wanted);
    d = mul(D_, factor);
    if (overflow_) return false;
    // Every stored time in units of 1/d s.
    for (Time* t : {&prev_t_af_, &prev_t_r_, &prev_t_rn_, &prev_interval_, &t_b_}) *t = mul(*t, factor);
    for (Waiting& w : waiting_) {
      for (Time* t : {&w.t_ai, &w.t_af, &w.t_rn, &w.t_r}) *t = mul(*t, factor);
    }
    for (Arrival& a : arrivals_) {
      for (Time* t : {&a.t_ai, &a.t_af, &a.per_bit}) *t = mul(*t, factor);
    }
    if (overflow_) return false;
  }
  D_ = d;
  per_bit_ = d / static_cast<Time>(config.bit_rate);
  tick_ = mul(static_cast<Time>(config.num_units_in_tick), d / static_cast<Time>(config.time_scale));
  per_90k_ = d / 90000;
  return !overflow_;
}

void HrdConformanceTest::change_parameters(const HrdTestConfig& config, const HrdLevel& level) {
  if (overflow_ || ended_) return;
  result_.changes.push_back({n_, config, level.limits != nullptr ? level.limits->name : nullptr});
  level_ = level;
  current_config_ = config;
  set_time_base(config);
}

void HrdConformanceTest::end(const char* reason) {
  if (overflow_ || ended_) return;
  ended_ = true;
  result_.ended = true;
  result_.ended_at = n_;
  std::snprintf(result_.end_reason, sizeof result_.end_reason, "%s", reason);
  // What had arrived is still removed, at the times already known.
  remove_until(0, true);
}

void HrdConformanceTest::report(HrdViolationKind kind, const char* detail) {
  if (overflow_ || ended_) return;
  violation(kind, n_ > 0, n_, prev_t_rn_, 0, 0, detail);
}

HrdConformanceTest::Time HrdConformanceTest::mul(Time a, Time b) {
  Time r = 0;
  return __builtin_mul_overflow(a, b, &r) ? too_large() : r;
}

HrdConformanceTest::Time HrdConformanceTest::add(Time a, Time b) {
  Time r = 0;
  return __builtin_add_overflow(a, b, &r) ? too_large() : r;
}

HrdConformanceTest::Time HrdConformanceTest::too_large() {
  stop("times too large to compute exactly");
  return 0;
}

void HrdConformanceTest::stop(const char* reason) {
  if (!result_.stopped) std::snprintf(result_.stop_reason, sizeof result_.stop_reason, "%s", reason);
  result_.stopped = true;
  // A test that could not be completed does not vouch for the stream.
  result_.conforms = false;
  overflow_ = true;
}

int64_t HrdConformanceTest::us(Time t) const {
  if (D_ <= 0) return 0;
  const Time q = floor_div(t, D_);
  const Time r = t - q * D_;  // 0 <= r < D_
  if (r > std::numeric_limits<Time>::max() / 1000000) return clamp64(q * 1000000);
  return clamp64(q * 1000000 + (r * 1000000 + D_ / 2) / D_);
}

void HrdConformanceTest::violation(HrdViolationKind kind, bool has_au, uint64_t au, Time when, int64_t bits,
                                   Time seconds, const char* detail) {
  result_.conforms = false;
  ++result_.violation_count;
  if (has_au && au == n_) current_violations_ |= 1u << static_cast<uint32_t>(kind);
  // An overflow is found only once later access units have arrived, after
  // their own violations: the list keeps the first max_violations in
  // access-unit order (a level limit of the whole stream before all).
  std::vector<HrdViolation>& list = result_.violations;
  const auto order = [](bool with_au, uint64_t index) { return with_au ? index + 1 : 0; };
  const uint64_t key = order(has_au, au);
  std::size_t at = list.size();
  while (at > 0 && order(list[at - 1].has_access_unit, list[at - 1].access_unit) > key) --at;
  if (at >= max_violations_) return;
  if (list.size() >= max_violations_) list.pop_back();
  HrdViolation v{.kind = kind,
                 .has_access_unit = has_au,
                 .access_unit = au,
                 .time_us = us(when),
                 .bits = bits,
                 .seconds_us = us(seconds)};
  std::snprintf(v.detail, sizeof v.detail, "%s", detail);
  list.insert(list.begin() + static_cast<std::ptrdiff_t>(at), v);
}

// The bits that had arrived by time t, as num / den bits: every access unit
// whose last bit came by t, and the part of the one arriving at t. Arrival
// intervals follow each other in time, so the one that holds t is found by
// its start.
void HrdConformanceTest::arrived_by(Time t, Time& num, Time& den) const {
  den = 1;
  if (arrivals_.empty()) {
    num = static_cast<Time>(arrived_bits_);
    return;
  }
  auto after = std::upper_bound(arrivals_.begin(), arrivals_.end(), t,
                                [](Time value, const Arrival& a) { return value < a.t_ai; });
  if (after == arrivals_.begin()) {
    // Before the oldest interval kept: what had arrived before it.
    num = static_cast<Time>(arrivals_.front().bits_before);
    return;
  }
  const Arrival& a = *(after - 1);
  if (t >= a.t_af) {
    num = static_cast<Time>(a.bits_before) + static_cast<Time>(a.bits);
    return;
  }
  den = a.per_bit;
  num = static_cast<Time>(a.bits_before) * a.per_bit + (t - a.t_ai);
}

// Reckons with the removals at or before `limit` (all of them when `all`).
void HrdConformanceTest::remove_until(Time limit, bool all) {
  while (!waiting_.empty() && !overflow_) {
    Waiting w = waiting_.front();
    if (!all && w.t_r > limit) return;
    waiting_.pop_front();
    Time num = 0;
    Time den = 1;
    arrived_by(w.t_r, num, den);
    const Time before = num - mul(static_cast<Time>(removed_bits_), den);  // in 1/den bits
    const Time limit_bits = mul(static_cast<Time>(current_config_.cpb_size), den);
    if (overflow_) return;
    const int64_t before_bits = clamp64(floor_div(before, den));
    if (before_bits > 0 && static_cast<uint64_t>(before_bits) > result_.peak_bits) {
      result_.peak_bits = static_cast<uint64_t>(before_bits);
    }
    if (before > limit_bits) {
      const int64_t over = clamp64(ceil_div(before - limit_bits, den));
      char detail[192];
      std::snprintf(detail, sizeof detail, "CPB holds %" PRId64 " bits before the removal, CpbSize %" PRIu64,
                    before_bits, current_config_.cpb_size);
      violation(HrdViolationKind::kOverflow, true, w.index, w.t_r, over, 0, detail);
      w.violations |= 1u << static_cast<uint32_t>(HrdViolationKind::kOverflow);
    }
    removed_bits_ += w.bits;
    if (trace_) {
      HrdTraceRow row;
      row.access_unit = w.index;
      row.bits = w.bits;
      row.t_ai_us = us(w.t_ai);
      row.t_af_us = us(w.t_af);
      row.t_rn_us = us(w.t_rn);
      row.t_r_us = us(w.t_r);
      row.fullness_before = before_bits;
      row.fullness_after = clamp64(floor_div(before - mul(static_cast<Time>(w.bits), den), den));
      row.cpb_size = current_config_.cpb_size;
      row.violations = w.violations;
      trace_(row);
    }
  }
}

// cpb_removal_delay is the remainder of a counter modulo 2^length (D.2.3):
// the delay meant is the smallest one with that remainder that is not below
// the previous access unit's in the same buffering period.
uint64_t HrdConformanceTest::unwrap_removal_delay(uint32_t raw) {
  const uint32_t length = std::clamp<uint32_t>(current_config_.cpb_removal_delay_length, 1, 32);
  const uint64_t modulus = uint64_t{1} << length;
  uint64_t v = (delay_in_period_ & ~(modulus - 1)) | (raw & (modulus - 1));
  if (v < delay_in_period_) v += modulus;
  return v;
}

// D.2.2: the initial delay is not 0 and not longer than the CPB takes to
// fill at BitRate; delay plus offset stays the same over a coded video
// sequence.
void HrdConformanceTest::check_buffering_period(const HrdAccessUnitInput& au, uint64_t n) {
  const HrdTestConfig& c = current_config_;
  char detail[192];
  const uint64_t delay = au.initial_cpb_removal_delay;
  if (delay == 0) {
    violation(HrdViolationKind::kBufferingPeriod, true, n, 0, 0, 0, "initial_cpb_removal_delay is 0");
  } else if (static_cast<Time>(delay) * c.bit_rate > static_cast<Time>(90000) * c.cpb_size) {
    // 90000 * CpbSize / BitRate, rounded down, in 90 kHz units.
    const uint64_t bound = static_cast<uint64_t>(static_cast<Time>(90000) * c.cpb_size / c.bit_rate);
    std::snprintf(detail, sizeof detail,
                  "initial_cpb_removal_delay %" PRIu64 " above %" PRIu64 " (90000 * CpbSize %" PRIu64
                  " / BitRate %" PRIu64 ")",
                  delay, bound, c.cpb_size, c.bit_rate);
    violation(HrdViolationKind::kBufferingPeriod, true, n, 0, 0, static_cast<Time>(delay - bound) * per_90k_, detail);
  }
  const uint64_t sum = delay + au.initial_cpb_removal_delay_offset;
  if (n == 0 || au.idr || !has_cvs_sum_) {
    has_cvs_sum_ = true;
    cvs_sum_ = sum;
  } else if (sum != cvs_sum_) {
    std::snprintf(detail, sizeof detail,
                  "initial_cpb_removal_delay + initial_cpb_removal_delay_offset %" PRIu64
                  ", %" PRIu64 " earlier in the coded video sequence",
                  sum, cvs_sum_);
    violation(HrdViolationKind::kBufferingPeriod, true, n, 0, 0, 0, detail);
  }
}

void HrdConformanceTest::add(const HrdAccessUnitInput& au) {
  if (overflow_ || ended_) return;
  const uint64_t n = n_;
  const HrdTestConfig& c = current_config_;
  char detail[192];
  char a[32];
  char b[32];

  if (au.idr) has_cvs_sum_ = false;
  if (au.has_buffering_period) check_buffering_period(au, n);

  // Nominal removal time (C.1.2).
  Time t_rn = 0;
  if (n == 0) {
    // The first removal comes from the buffering period alone; the picture
    // timing is still required.
    if (!au.has_picture_timing) violation(HrdViolationKind::kMissingTiming, true, 0, 0, 0, 0, "no picture timing SEI");
    t_rn = mul(static_cast<Time>(au.initial_cpb_removal_delay), per_90k_);
    t_b_ = t_rn;
    delay_in_period_ = 0;
  } else if (au.has_picture_timing) {
    const uint64_t delay = unwrap_removal_delay(au.cpb_removal_delay);
    t_rn = add(t_b_, mul(static_cast<Time>(delay), tick_));
    delay_in_period_ = delay;
  } else {
    violation(HrdViolationKind::kMissingTiming, true, n, prev_t_rn_, 0, 0,
              "no picture timing SEI; removal assumed one interval after the previous one");
    t_rn = add(prev_t_rn_, prev_interval_ > 0 ? prev_interval_ : mul(tick_, au.field ? 1 : 2));
    const Time ticks = tick_ > 0 ? floor_div(t_rn - t_b_, tick_) : 0;
    delay_in_period_ = ticks > 0 ? static_cast<uint64_t>(clamp64(ticks)) : 0;
  }
  if (n > 0 && au.has_buffering_period) {
    t_b_ = t_rn;
    delay_in_period_ = 0;
  }
  if (overflow_) return;

  // Arrival (C.1.1).
  Time t_ai = 0;
  if (n > 0) {
    t_ai = prev_t_af_;
    if (!c.cbr) {
      const uint64_t delay =
          au.has_buffering_period ? uint64_t{au.initial_cpb_removal_delay} : uint64_t{bp_delay_} + uint64_t{bp_offset_};
      const Time earliest = t_rn - mul(static_cast<Time>(delay), per_90k_);
      if (earliest > t_ai) t_ai = earliest;
    }
  }
  if (au.has_buffering_period) {
    bp_delay_ = au.initial_cpb_removal_delay;
    bp_offset_ = au.initial_cpb_removal_delay_offset;
  }
  const Time t_af = add(t_ai, mul(static_cast<Time>(au.bits), per_bit_));

  // Removal with low_delay_hrd_flag 1: a late access unit goes at the next tick.
  Time t_r = t_rn;
  if (c.low_delay && t_af > t_rn) t_r = add(t_rn, mul(ceil_div(t_af - t_rn, tick_), tick_));
  if (overflow_) return;

  if (!c.low_delay && t_af > t_rn) {
    format_seconds(a, sizeof a, us(t_af - t_rn));
    std::snprintf(detail, sizeof detail, "last bit arrives %s s after the removal time", a);
    violation(HrdViolationKind::kUnderflow, true, n, t_rn, 0, t_af - t_rn, detail);
  }

  if (n > 0 && au.has_buffering_period) {
    // Delta t_g,90 in 90 kHz units: 90000 * (t_rn - t_af(n-1)) / D_ = (t_rn - t_af(n-1)) / per_90k_.
    const Time gap = t_rn - prev_t_af_;
    const Time lo = floor_div(gap, per_90k_);
    const Time hi = ceil_div(gap, per_90k_);
    const Time delay = au.initial_cpb_removal_delay;
    const bool bad = c.cbr ? (delay < lo || delay > hi) : delay > hi;
    if (bad) {
      if (c.cbr) {
        std::snprintf(detail, sizeof detail, "initial_cpb_removal_delay %u, allowed %" PRId64 " to %" PRId64,
                      au.initial_cpb_removal_delay, clamp64(lo), clamp64(hi));
      } else {
        std::snprintf(detail, sizeof detail, "initial_cpb_removal_delay %u, allowed at most %" PRId64,
                      au.initial_cpb_removal_delay, clamp64(hi));
      }
      const Time off = delay > hi ? mul(delay - hi, per_90k_) : mul(lo - delay, per_90k_);
      violation(HrdViolationKind::kInitialDelay, true, n, t_rn, 0, off, detail);
    }
  }

  if (n > 0 && level_.limits != nullptr) {
    // A.3: t_rn(n) - t_r(n-1) >= Max(PicSizeInMbs / MaxMBPS, fR).
    const Time interval = t_rn - prev_t_r_;
    const Time fr_den = level_.limits->level_number >= 60 ? 300 : (au.field ? 344 : 172);
    const Time need_mbps = ceil_div(mul(static_cast<Time>(prev_pic_size_), D_), level_.limits->max_mbps);
    const Time need_fr = ceil_div(D_, fr_den);
    const bool short_mbps = mul(interval, level_.limits->max_mbps) < mul(static_cast<Time>(prev_pic_size_), D_);
    const bool short_fr = mul(interval, fr_den) < D_;
    if (!overflow_ && (short_mbps || short_fr)) {
      const Time need = need_mbps > need_fr ? need_mbps : need_fr;
      format_seconds(a, sizeof a, us(interval));
      format_seconds(b, sizeof b, us(need));
      std::snprintf(detail, sizeof detail, "removed %s s after the previous access unit, at least %s s needed", a, b);
      violation(HrdViolationKind::kRemovalInterval, true, n, t_rn, 0, need - interval, detail);
    }
  }
  if (overflow_) return;

  if (waiting_.size() >= kMaxWaiting) {
    stop("more than 1048576 access units wait for removal at once");
    return;
  }
  if (arrivals_.size() >= kArrivalHistory) arrivals_.pop_front();
  arrivals_.push_back(Arrival{t_ai, t_af, per_bit_, arrived_bits_, au.bits});
  arrived_bits_ += au.bits;
  waiting_.push_back(Waiting{n, au.bits, t_ai, t_af, t_rn, t_r, current_violations_});
  current_violations_ = 0;
  ++n_;
  result_.access_units = n_;
  remove_until(t_af, false);

  if (n > 0) prev_interval_ = t_rn - prev_t_rn_;
  prev_t_rn_ = t_rn;
  prev_t_af_ = t_af;
  prev_t_r_ = t_r;
  prev_pic_size_ = au.pic_size_in_mbs;
}

void HrdConformanceTest::finish() {
  if (overflow_ || ended_) return;
  remove_until(0, true);
}

}  // namespace tarnwell
