#include "verify/hrd_conformance.h"

#include <cinttypes>
#include <cstdio>
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

int64_t clamp64(Time v) {
  if (v > std::numeric_limits<int64_t>::max()) return std::numeric_limits<int64_t>::max();
  if (v < std::numeric_limits<int64_t>::min()) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(v);
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
  switch (kind) {
    case HrdViolationKind::kOverflow:
      return "overflow";
    case HrdViolationKind::kUnderflow:
      return "underflow";
    case HrdViolationKind::kInitialDelay:
      return "initial_delay";
    case HrdViolationKind::kRemovalInterval:
      return "removal_interval";
    case HrdViolationKind::kMissingTiming:
      return "missing_timing";
    case HrdViolationKind::kLevelLimit:
      return "level_limit";
  }
  return "unknown";
}

HrdConformanceTest::HrdConformanceTest(const HrdTestConfig& config, const HrdLevel& level, uint32_t max_violations)
    : level_(level), max_violations_(max_violations) {
  result_.config = config;
  if (config.bit_rate == 0 || config.time_scale == 0 || config.num_units_in_tick == 0) {
    stop("no bit rate or no timing information (num_units_in_tick, time_scale)");
    return;
  }
  const uint64_t l = std::lcm(uint64_t{90000}, uint64_t{config.time_scale});
  L_ = static_cast<Time>(l);
  D_ = mul(L_, static_cast<Time>(config.bit_rate));
  tick_ = mul(mul(static_cast<Time>(config.num_units_in_tick), static_cast<Time>(l / config.time_scale)),
              static_cast<Time>(config.bit_rate));
  per_90k_ = mul(static_cast<Time>(l / 90000), static_cast<Time>(config.bit_rate));
  if (overflow_) return;

  if (level_.limits != nullptr && level_.factor != 0) {
    const uint64_t max_br = uint64_t{level_.factor} * level_.limits->max_br;
    const uint64_t max_cpb = uint64_t{level_.factor} * level_.limits->max_cpb;
    char detail[192];
    if (config.bit_rate > max_br) {
      std::snprintf(detail, sizeof detail, "BitRate %" PRIu64 " bit/s above %" PRIu64 " bit/s of level %s",
                    config.bit_rate, max_br, level_.limits->name);
      violation(HrdViolationKind::kLevelLimit, false, 0, 0, 0, 0, detail);
    }
    if (config.cpb_size > max_cpb) {
      std::snprintf(detail, sizeof detail, "CpbSize %" PRIu64 " bits above %" PRIu64 " bits of level %s",
                    config.cpb_size, max_cpb, level_.limits->name);
      violation(HrdViolationKind::kLevelLimit, false, 0, 0, static_cast<int64_t>(config.cpb_size - max_cpb), 0, detail);
    }
  }
}

HrdConformanceTest::Time HrdConformanceTest::mul(Time a, Time b) {
  Time r = 0;
  if (__builtin_mul_overflow(a, b, &r)) {
    stop("times too large to compute exactly");
    return 0;
  }
  return r;
}

HrdConformanceTest::Time HrdConformanceTest::add(Time a, Time b) {
  Time r = 0;
  if (__builtin_add_overflow(a, b, &r)) {
    stop("times too large to compute exactly");
    return 0;
  }
  return r;
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
  const Time r = t - q * D_;  // 0 <= r < D_, and D_ < 2^103
  return clamp64(q * 1000000 + (r * 1000000 + D_ / 2) / D_);
}

void HrdConformanceTest::violation(HrdViolationKind kind, bool has_au, uint64_t au, Time when, int64_t bits,
                                   Time seconds, const char* detail) {
  result_.conforms = false;
  ++result_.violation_count;
  // An overflow is found only once later access units have arrived, after
  // their own violations: the list keeps the first max_violations in
  // access-unit order (a level limit, which has none, before all).
  std::vector<HrdViolation>& list = result_.violations;
  const auto order = [](bool with_au, uint64_t index) { return with_au ? index + 1 : 0; };
  const uint64_t key = order(has_au, au);
  std::size_t at = list.size();
  while (at > 0 && order(list[at - 1].has_access_unit, list[at - 1].access_unit) > key) --at;
  if (at >= max_violations_) return;
  if (list.size() >= max_violations_) list.pop_back();
  HrdViolation v;
  v.kind = kind;
  v.has_access_unit = has_au;
  v.access_unit = au;
  v.time_us = us(when);
  v.bits = bits;
  v.seconds_us = us(seconds);
  std::snprintf(v.detail, sizeof v.detail, "%s", detail);
  list.insert(list.begin() + static_cast<std::ptrdiff_t>(at), v);
}

// Reckons with the removals at or before `limit` (all of them when `all`):
// the newest access unit has arrived from newest_t_ai_ on, every earlier one
// completely.
void HrdConformanceTest::remove_until(Time limit, bool all) {
  while (!waiting_.empty() && !overflow_) {
    const Waiting w = waiting_.front();
    if (!all && w.t_r > limit) return;
    waiting_.pop_front();
    // Fullness in 1/L_ bits: R bits/s over (t - t_ai) / D_ seconds is (t - t_ai) / L_ bits.
    Time partial = w.t_r - newest_t_ai_;
    const Time newest_full = mul(static_cast<Time>(newest_bits_), L_);
    if (all || partial > newest_full) partial = newest_full;
    if (partial < 0) partial = 0;
    const Time whole = static_cast<Time>(arrived_bits_) - static_cast<Time>(removed_bits_);
    const Time before = add(mul(whole, L_), partial);
    if (overflow_) return;
    if (before > peak_) peak_ = before;
    const Time limit_bits = mul(static_cast<Time>(result_.config.cpb_size), L_);
    if (before > limit_bits) {
      const int64_t over = clamp64(ceil_div(before - limit_bits, L_));
      char detail[192];
      std::snprintf(detail, sizeof detail, "CPB holds %" PRId64 " bits before the removal, CpbSize %" PRIu64,
                    clamp64(floor_div(before, L_)), result_.config.cpb_size);
      violation(HrdViolationKind::kOverflow, true, w.index, w.t_r, over, 0, detail);
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
      row.fullness_before = clamp64(floor_div(before, L_));
      row.fullness_after = clamp64(floor_div(before - mul(static_cast<Time>(w.bits), L_), L_));
      row.cpb_size = result_.config.cpb_size;
      trace_(row);
    }
  }
  result_.peak_bits = static_cast<uint64_t>(clamp64(floor_div(peak_, L_)));
}

void HrdConformanceTest::add(const HrdAccessUnitInput& au) {
  if (overflow_) return;
  const uint64_t n = n_++;
  result_.access_units = n_;
  const HrdTestConfig& c = result_.config;
  char detail[192];
  char a[32];
  char b[32];

  // Nominal removal time (C.1.2).
  Time t_rn = 0;
  if (n == 0) {
    // The first removal comes from the buffering period alone; the picture
    // timing is still required.
    if (!au.has_picture_timing) violation(HrdViolationKind::kMissingTiming, true, 0, 0, 0, 0, "no picture timing SEI");
    t_rn = mul(static_cast<Time>(au.initial_cpb_removal_delay), per_90k_);
    t_b_ = t_rn;
  } else if (au.has_picture_timing) {
    t_rn = add(t_b_, mul(static_cast<Time>(au.cpb_removal_delay), tick_));
  } else {
    violation(HrdViolationKind::kMissingTiming, true, n, prev_t_rn_, 0, 0,
              "no picture timing SEI; removal assumed one interval after the previous one");
    t_rn = add(prev_t_rn_, prev_interval_ > 0 ? prev_interval_ : mul(tick_, au.field ? 1 : 2));
  }
  if (n > 0 && au.has_buffering_period) t_b_ = t_rn;
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
  const Time t_af = add(t_ai, mul(static_cast<Time>(au.bits), L_));

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

  // The previous newest access unit has now arrived completely.
  if (n > 0) arrived_bits_ += newest_bits_;
  newest_bits_ = au.bits;
  newest_t_ai_ = t_ai;
  if (waiting_.size() >= kMaxWaiting) {
    stop("more than 1048576 access units wait for removal at once");
    return;
  }
  waiting_.push_back(Waiting{n, au.bits, t_ai, t_af, t_rn, t_r});
  remove_until(t_af, false);

  if (n > 0) prev_interval_ = t_rn - prev_t_rn_;
  prev_t_rn_ = t_rn;
  prev_t_af_ = t_af;
  prev_t_r_ = t_r;
  prev_pic_size_ = au.pic_size_in_mbs;
}

void HrdConformanceTest::finish() {
  if (overflow_) return;
  remove_until(0, true);
}

}  // namespace tarnwell
