#include "verify/hrd_run.h"

#include <memory>
#include <new>

#include "paramsets/full_sps.h"

namespace tarnwell {
namespace {

struct TestSlot {
  HrdPoint point;
  uint32_t schedule;
  std::unique_ptr<HrdConformanceTest> test;
};

HrdAccessUnitInput input_for(const AccessUnit& au, const TestSlot& slot) {
  HrdAccessUnitInput in;
  in.bits = slot.point == HrdPoint::kNal ? au.nal_bits : au.vcl_bits;
  const BufferingPeriod& bp = au.buffering_period;
  const bool present = slot.point == HrdPoint::kNal ? bp.nal_present : bp.vcl_present;
  if (au.has_buffering_period && present) {
    in.has_buffering_period = true;
    in.initial_cpb_removal_delay = slot.point == HrdPoint::kNal ? bp.nal_initial_cpb_removal_delay[slot.schedule]
                                                                : bp.vcl_initial_cpb_removal_delay[slot.schedule];
    in.initial_cpb_removal_delay_offset = slot.point == HrdPoint::kNal
                                              ? bp.nal_initial_cpb_removal_delay_offset[slot.schedule]
                                              : bp.vcl_initial_cpb_removal_delay_offset[slot.schedule];
  }
  in.has_picture_timing = au.has_picture_timing;
  in.cpb_removal_delay = au.picture_timing.cpb_removal_delay;
  in.pic_size_in_mbs = au.pic_size_in_mbs;
  in.field = au.field_pic;
  return in;
}

class Run {
 public:
  Run(const HrdRunOptions& options, const HrdTraceFn& trace, HrdRunResult& result)
      : options_(options), trace_(trace), result_(result) {}

  // Sets up the tests from the SPS of the first access unit with a
  // buffering period. False when the run cannot go on.
  bool initialise(const FullSps& sps) {
    result_.profile_idc = sps.profile_idc;
    result_.level_idc = sps.level_idc;
    result_.level = find_level_limits(sps.profile_idc, sps.level_idc, sps.constraint_set3_flag);
    result_.factors = cpb_br_factors(sps.profile_idc);
    if (sps.timing_info_present_flag == 0 || sps.num_units_in_tick == 0 || sps.time_scale == 0) {
      result_.status = HrdRunStatus::kNoTimingInfo;
      return false;
    }
    bool schedule_missing = false;
    for (HrdPoint point : {HrdPoint::kNal, HrdPoint::kVcl}) {
      const bool chosen = point == HrdPoint::kNal ? options_.nal : options_.vcl;
      const bool present =
          point == HrdPoint::kNal ? sps.nal_hrd_parameters_present_flag != 0 : sps.vcl_hrd_parameters_present_flag != 0;
      if (!chosen || !present) continue;
      const HrdParameters& hrd = point == HrdPoint::kNal ? sps.nal_hrd : sps.vcl_hrd;
      if (!options_.all_schedules && options_.schedule > hrd.cpb_cnt_minus1) {
        schedule_missing = true;
        continue;
      }
      for (uint32_t s = 0; s <= hrd.cpb_cnt_minus1 && s < kMaxCpbEntries; ++s) {
        if (!options_.all_schedules && s != options_.schedule) continue;
        HrdTestConfig config;
        config.point = point;
        config.schedule = s;
        config.bit_rate = hrd_bit_rate(hrd, s);
        config.cpb_size = hrd_cpb_size(hrd, s);
        config.cbr = hrd.cbr_flag[s] != 0;
        config.low_delay = sps.low_delay_hrd_flag != 0;
        config.num_units_in_tick = sps.num_units_in_tick;
        config.time_scale = sps.time_scale;
        HrdLevel level;
        level.limits = result_.level;
        level.factor = point == HrdPoint::kNal ? result_.factors.nal : result_.factors.vcl;
        TestSlot slot{point, s, std::make_unique<HrdConformanceTest>(config, level, options_.max_violations)};
        if (trace_) {
          const std::size_t index = slots_.size();
          const HrdTraceFn* trace = &trace_;
          slot.test->set_trace([trace, index](const HrdTraceRow& row) { (*trace)(index, row); });
        }
        slots_.push_back(std::move(slot));
      }
    }
    if (slots_.empty()) {
      result_.status = schedule_missing ? HrdRunStatus::kNoSuchSchedule : HrdRunStatus::kNoHrdParameters;
      return false;
    }
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
  const HrdRunOptions& options_;
  const HrdTraceFn& trace_;
  HrdRunResult& result_;
  std::vector<TestSlot> slots_;
  bool started_ = false;
  bool seen_hrd_ = false;
};

}  // namespace

HrdRunResult run_hrd_conformance(std::FILE* input, const HrdRunOptions& options, const HrdTraceFn& trace,
                                 uint32_t block_bytes) {
  HrdRunResult result;
  auto splitter = std::unique_ptr<AccessUnitSplitter>(new (std::nothrow) AccessUnitSplitter(block_bytes));
  if (!splitter || !splitter->allocated()) {
    result.status = HrdRunStatus::kOutOfMemory;
    return result;
  }
  splitter->begin(input);
  Run run(options, trace, result);
  // One access unit held back: a last one without a picture (a trailing SEI
  // or parameter set) gives its bytes to the one before it.
  auto held = std::make_unique<AccessUnit>();
  auto held_sps = std::make_unique<FullSps>();
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

}  // namespace tarnwell
