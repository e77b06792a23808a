#include "verify/hrd_run.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

#include "paramsets/sps.h"

namespace tarnwell {
namespace {

struct TestSlot {
  HrdPoint point;
  uint32_t schedule;
  std::unique_ptr<HrdConformanceTest> test;
};

HrdAccessUnitInput input_for(const AccessUnit& au, const TestSlot& slot) {
  const bool nal = slot.point == HrdPoint::kNal;
  const BufferingPeriod& bp = au.buffering_period;
  HrdAccessUnitInput in;
  in.bits = nal ? au.nal_bits : au.vcl_bits;
  in.has_buffering_period = au.has_buffering_period && (nal ? bp.nal_present : bp.vcl_present);
  if (in.has_buffering_period) {
    in.initial_cpb_removal_delay =
        (nal ? bp.nal_initial_cpb_removal_delay : bp.vcl_initial_cpb_removal_delay)[slot.schedule];
    in.initial_cpb_removal_delay_offset =
        (nal ? bp.nal_initial_cpb_removal_delay_offset : bp.vcl_initial_cpb_removal_delay_offset)[slot.schedule];
  }
  in.has_picture_timing = au.has_picture_timing;
  in.cpb_removal_delay = au.picture_timing.cpb_removal_delay;
  in.pic_size_in_mbs = au.pic_size_in_mbs;
  in.field = au.field_pic;
  in.idr = au.idr;
  return in;
}

// The point's HRD block, null when the SPS carries none.
const HrdParameters* point_hrd(const SeqParamSet& sps, HrdPoint point) {
  if (point == HrdPoint::kNal) return sps.vui.nal_hrd_parameters_present_flag != 0 ? &sps.vui.nal_hrd : nullptr;
  return sps.vui.vcl_hrd_parameters_present_flag != 0 ? &sps.vui.vcl_hrd : nullptr;
}

HrdLevel point_level(const SeqParamSet& sps, HrdPoint point) {
  const CpbBrFactors factors = cpb_br_factors(sps.profile_idc);
  return {find_level_limits(sps.profile_idc, sps.level_idc, sps.constraint_set3_flag),
          point == HrdPoint::kNal ? factors.nal : factors.vcl};
}

// The tests one SPS asks for, by conformance point and schedule.
struct PlannedTest {
  HrdTestConfig config;
  HrdLevel level;
};

// A.3.1 i/j, A.3.3 g/h: BitRate and CpbSize within the level's limits for at
// least one schedule of the point. Empty when one is; else what is wrong
// with each.
std::string level_limit_problem(const HrdParameters& hrd, const HrdLevel& level) {
  if (level.limits == nullptr || level.factor == 0) return "";
  const uint64_t max_br = uint64_t{level.factor} * level.limits->max_br;
  const uint64_t max_cpb = uint64_t{level.factor} * level.limits->max_cpb;
  char text[160];
  std::snprintf(text, sizeof text,
                "no schedule within level %s (BitRate at most %" PRIu64 " bit/s, CpbSize at most %" PRIu64 " bits):",
                level.limits->name, max_br, max_cpb);
  std::string problem = text;
  for (uint32_t s = 0; s <= hrd.cpb_cnt_minus1 && s < kMaxCpbEntries; ++s) {
    const uint64_t bit_rate = hrd_bit_rate(hrd, s);
    const uint64_t cpb_size = hrd_cpb_size(hrd, s);
    if (bit_rate <= max_br && cpb_size <= max_cpb) return "";
    std::snprintf(text, sizeof text, "%s schedule %u %" PRIu64 " bit/s, %" PRIu64 " bits", s == 0 ? "" : ";", s,
                  bit_rate, cpb_size);
    problem += text;
  }
  return problem;
}

class Run {
 public:
  Run(const HrdRunOptions& options, const HrdTraceFn& trace, HrdRunResult& result)
      : options_(options), trace_(trace), result_(result) {}

  // Sets up the tests from the SPS of the first access unit with a
  // buffering period. False when the run cannot go on.
  bool initialise(const SeqParamSet& sps) {
    result_.profile_idc = sps.profile_idc;
    result_.level_idc = sps.level_idc;
    result_.level = find_level_limits(sps.profile_idc, sps.level_idc, sps.constraint_set3_flag);
    result_.factors = cpb_br_factors(sps.profile_idc);
    if (!has_timing(sps)) {
      result_.status = HrdRunStatus::kNoTimingInfo;
      return false;
    }
    bool schedule_missing = false;
    for (const PlannedTest& planned : plan(sps, &schedule_missing)) {
      TestSlot slot{planned.config.point, planned.config.schedule,
                    std::make_unique<HrdConformanceTest>(planned.config, planned.level, options_.max_violations)};
      if (trace_) {
        const std::size_t index = slots_.size();
        const HrdTraceFn* trace = &trace_;
        slot.test->set_trace([trace, index](const HrdTraceRow& row) { (*trace)(index, row); });
      }
      slots_.push_back(std::move(slot));
    }
    if (slots_.empty()) {
      result_.status = schedule_missing ? HrdRunStatus::kNoSuchSchedule : HrdRunStatus::kNoHrdParameters;
      return false;
    }
    check_level_limits(sps);
    return true;
  }

  // False when the run stops.
  bool take(const AccessUnit& au) {
    ++result_.access_units;
    if (au.sps != nullptr && au.sps->cpb_dpb_delays_present()) seen_hrd_ = true;
    if (!started_) {
      if (!au.has_buffering_period || au.sps == nullptr) {
        ++result_.untested_access_units;
        return true;
      }
      started_ = true;
      if (!initialise(*au.sps)) return false;
      active_ = *au.sps;
    } else if (au.has_buffering_period && au.sps != nullptr && !same_hrd(*au.sps, active_)) {
      change_sps(*au.sps);
    }
    for (TestSlot& slot : slots_) slot.test->add(input_for(au, slot));
    return true;
  }

  void finish() {
    for (TestSlot& slot : slots_) {
      slot.test->finish();
      result_.tests.push_back(slot.test->result());
    }
    if (!started_) result_.status = seen_hrd_ ? HrdRunStatus::kNoBufferingPeriod : HrdRunStatus::kNoHrdParameters;
  }

 private:
  static bool has_timing(const SeqParamSet& sps) {
    return sps.vui.timing_info_present_flag != 0 && sps.vui.num_units_in_tick != 0 && sps.vui.time_scale != 0;
  }

  // What a test takes from the SPS: the HRD blocks, the time base, the level.
  static bool same_hrd(const SeqParamSet& a, const SeqParamSet& b) {
    return a.vui.nal_hrd_parameters_present_flag == b.vui.nal_hrd_parameters_present_flag &&
           a.vui.vcl_hrd_parameters_present_flag == b.vui.vcl_hrd_parameters_present_flag &&
           (a.vui.nal_hrd_parameters_present_flag == 0 || a.vui.nal_hrd == b.vui.nal_hrd) &&
           (a.vui.vcl_hrd_parameters_present_flag == 0 || a.vui.vcl_hrd == b.vui.vcl_hrd) &&
           a.vui.low_delay_hrd_flag == b.vui.low_delay_hrd_flag &&
           a.vui.timing_info_present_flag == b.vui.timing_info_present_flag &&
           a.vui.num_units_in_tick == b.vui.num_units_in_tick && a.vui.time_scale == b.vui.time_scale &&
           a.profile_idc == b.profile_idc && a.level_idc == b.level_idc &&
           a.constraint_set3_flag == b.constraint_set3_flag;
  }

  std::vector<PlannedTest> plan(const SeqParamSet& sps, bool* schedule_missing) const {
    std::vector<PlannedTest> tests;
    for (HrdPoint point : {HrdPoint::kNal, HrdPoint::kVcl}) {
      const HrdParameters* hrd = point_hrd(sps, point);
      if (hrd == nullptr || !(point == HrdPoint::kNal ? options_.nal : options_.vcl)) continue;
      if (!options_.all_schedules && options_.schedule > hrd->cpb_cnt_minus1) {
        if (schedule_missing != nullptr) *schedule_missing = true;
        continue;
      }
      for (uint32_t s = 0; s <= hrd->cpb_cnt_minus1 && s < kMaxCpbEntries; ++s) {
        if (!options_.all_schedules && s != options_.schedule) continue;
        const HrdTestConfig config{.point = point,
                                   .schedule = s,
                                   .bit_rate = hrd_bit_rate(*hrd, s),
                                   .cpb_size = hrd_cpb_size(*hrd, s),
                                   .cbr = hrd->cbr_flag[s] != 0,
                                   .low_delay = sps.vui.low_delay_hrd_flag != 0,
                                   .num_units_in_tick = sps.vui.num_units_in_tick,
                                   .time_scale = sps.vui.time_scale,
                                   .cpb_removal_delay_length = sps.timing_hrd().cpb_removal_delay_length_minus1 + 1};
        tests.push_back({config, point_level(sps, point)});
      }
    }
    return tests;
  }

  // A level limit is broken only when no schedule of the point keeps it; the
  // tests of that point say so.
  void check_level_limits(const SeqParamSet& sps) {
    for (HrdPoint point : {HrdPoint::kNal, HrdPoint::kVcl}) {
      const HrdParameters* hrd = point_hrd(sps, point);
      const std::string problem = hrd == nullptr ? "" : level_limit_problem(*hrd, point_level(sps, point));
      if (problem.empty()) continue;
      for (TestSlot& slot : slots_) {
        if (slot.point == point) slot.test->report(HrdViolationKind::kLevelLimit, problem.c_str());
      }
    }
  }

  // A buffering period activated an SPS with other HRD values: each test
  // goes on with its schedule's new values, or ends when the schedule is gone.
  void change_sps(const SeqParamSet& sps) {
    active_ = sps;
    const std::vector<PlannedTest> planned = has_timing(sps) ? plan(sps, nullptr) : std::vector<PlannedTest>{};
    for (TestSlot& slot : slots_) {
      const auto match = std::find_if(planned.begin(), planned.end(), [&slot](const PlannedTest& p) {
        return p.config.point == slot.point && p.config.schedule == slot.schedule;
      });
      if (match != planned.end()) {
        slot.test->change_parameters(match->config, match->level);
        continue;
      }
      char reason[160] = "a new SPS without timing information";
      if (has_timing(sps)) {
        std::snprintf(reason, sizeof reason, "a new SPS without %s schedule %u", hrd_point_name(slot.point),
                      slot.schedule);
      }
      slot.test->end(reason);
    }
    check_level_limits(sps);
  }

  const HrdRunOptions& options_;
  const HrdTraceFn& trace_;
  HrdRunResult& result_;
  std::vector<TestSlot> slots_;
  SeqParamSet active_;
  bool started_ = false;
  bool seen_hrd_ = false;
};

template <typename Input>
HrdRunResult run_over(Input& input, const HrdRunOptions& options, const HrdTraceFn& trace, uint32_t block_bytes) {
  HrdRunResult result;
  auto splitter = std::unique_ptr<AccessUnitSplitter>(new (std::nothrow) AccessUnitSplitter(block_bytes));
  if (!splitter || !splitter->allocated()) {
    result.status = HrdRunStatus::kOutOfMemory;
    return result;
  }
  if constexpr (std::is_same_v<Input, std::FILE*>) {
    splitter->begin(input, options.input_head);
  } else {
    splitter->begin(input);  // a byte source gives every byte itself
  }
  Run run(options, trace, result);
  // One access unit held back: a last one without a picture (a trailing SEI
  // or parameter set) gives its bytes to the one before it.
  auto held = std::make_unique<AccessUnit>();
  auto held_sps = std::make_unique<SeqParamSet>();
  bool have_held = false;
  AccessUnit au;
  bool going = true;
  int32_t got = 0;
  auto aborted = [&] { return options.abort_requested != nullptr && options.abort_requested->load() != 0; };
  while (going && (got = splitter->next(au)) == 1) {
    if (aborted()) break;
    if (!au.has_picture && have_held) {
      held->nal_bits += au.nal_bits;
      held->vcl_bits += au.vcl_bits;
      continue;
    }
    if (have_held) going = run.take(*held);
    *held = au;
    if (au.sps != nullptr) {
      *held_sps = *au.sps;
      held->sps = held_sps.get();
    }
    have_held = true;
  }
  // An interrupt may also have cut the input short: no verdict either way.
  if (aborted()) {
    result.status = HrdRunStatus::kAborted;
    return result;
  }
  if (going && have_held) going = run.take(*held);
  result.notes = splitter->notes();
  if (got < 0) {
    result.status = HrdRunStatus::kReadError;
    return result;
  }
  if (going) run.finish();
  return result;
}

}  // namespace

HrdRunResult run_hrd_conformance(std::FILE* input, const HrdRunOptions& options, const HrdTraceFn& trace,
                                 uint32_t block_bytes) {
  return run_over(input, options, trace, block_bytes);
}

HrdRunResult run_hrd_conformance(ByteSource& input, const HrdRunOptions& options, const HrdTraceFn& trace,
                                 uint32_t block_bytes) {
  return run_over(input, options, trace, block_bytes);
}

}  // namespace tarnwell
