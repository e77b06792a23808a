#include "verify/tstd_run.h"

#include <cstdio>
#include <optional>
#include <vector>

#include "base/ring_queue.h"
#include "paramsets/sps.h"
#include "verify/tstd_feed.h"

namespace tarnwell {
namespace {

constexpr int64_t kTimestampWrap = int64_t{1} << 33;
constexpr std::size_t kMaxHeldViolations = 4096;
// Packets kept while no SPS has come to size the buffers: past this many the
// stream is taken to have none.
constexpr std::size_t kMaxHeldPackets = std::size_t{1} << 20;

// Decoding times of access units from the PES timestamps.
class DecodingClock {
 public:
  // The decoding time of the access unit that starts at `es_begin`.
  int64_t time_of(uint64_t es_begin, RingQueue<TstdPesStart>& pes, const TstdFeed& feed, int64_t default_interval) {
    while (pes.size() >= 2 && pes[1].es_offset <= es_begin) pes.pop_front();
    const TstdPesStart* in = !pes.empty() && pes.front().es_offset <= es_begin ? &pes.front() : nullptr;
    const bool first_in_pes = in != nullptr && in->sequence != last_sequence_;
    if (in != nullptr) last_sequence_ = in->sequence;
    if (first_in_pes && in->has_timestamp) {
      const int64_t t = unwrap(in->timestamp, feed) * 300;
      if (timed_ >= 1) interval_ = t - last_timed_;
      ++timed_;
      last_timed_ = t;
      last_ = t;
      return t;
    }
    const int64_t step = timed_ >= 2 ? interval_ : default_interval;
    last_ += step;
    return last_;
  }

 private:
  int64_t unwrap(uint64_t timestamp, const TstdFeed& feed) {
    int64_t reference = 0;
    if (have_previous_) {
      reference = previous_;
    } else if (int64_t pcr = 0; feed.first_pcr(pcr)) {
      reference = pcr / 300;
    } else {
      reference = static_cast<int64_t>(timestamp);
    }
    int64_t delta = static_cast<int64_t>(timestamp) - (reference % kTimestampWrap + kTimestampWrap) % kTimestampWrap;
    if (delta <= -kTimestampWrap / 2) delta += kTimestampWrap;
    if (delta > kTimestampWrap / 2) delta -= kTimestampWrap;
    previous_ = reference + delta;
    have_previous_ = true;
    return previous_;
  }

  uint64_t last_sequence_ = 0;
  uint64_t timed_ = 0;
  int64_t last_timed_ = 0;
  int64_t interval_ = 0;
  int64_t last_ = 0;
  bool have_previous_ = false;
  int64_t previous_ = 0;
};

}  // namespace

TstdRunResult run_tstd(RewindableSource& packets, const TsChoice& choice, uint32_t max_violations,
                       const TstdObserver& observer, const TsWarningFn& warn) {
  TstdRunResult result;
  const auto stop = [&result](TstdRunStatus status, std::string refusal = {}) {
    result.status = status;
    result.refusal = std::move(refusal);
    return result;
  };
  uint16_t pmt_pid = kNullPid;
  {
    // Bytes that do not read as packets are refused here, before the
    // program tables are looked for in them.
    std::vector<uint8_t> head(kTstdBlockBytes);
    std::size_t got = 0;
    for (std::size_t n = 1; got < head.size() && n > 0; got += n)
      n = packets.read(head.data() + got, head.size() - got);
    if (detect_ts_packet_size(head.data(), got) == 0 && choice.packet_size == 0) {
      return stop(TstdRunStatus::kRefused,
                  "not a transport stream (no sync byte 0x47 every 188, 192 or 204 bytes at its start)");
    }
    if (!packets.restart()) return stop(TstdRunStatus::kReadError);
  }
  {
    TsSource chooser(packets, choice, [](const char*) {});
    if (!chooser.open()) return stop(TstdRunStatus::kRefused, chooser.refusal());
    result.pid = chooser.pid();
    result.packet_size = chooser.packet_size();
    bool found = false;
    for (const TsProgram& program : chooser.structure().programs) {
      for (const TsElementaryStream& s : program.streams) {
        if (!found && s.elementary_PID == result.pid) {
          found = true;
          result.pcr_pid = program.PCR_PID;
          pmt_pid = program.program_map_PID;
        }
      }
    }
    if (!found) {
      char text[128];
      std::snprintf(text, sizeof text, "PID %u is in no program map table, so it has no PCR_PID", result.pid);
      return stop(TstdRunStatus::kRefused, text);
    }
  }
  if (!packets.restart()) return stop(TstdRunStatus::kReadError);

  std::optional<TstdModel> model;
  std::vector<TstdPacket> held_packets;
  std::vector<TstdAccessUnit> held_units;
  std::vector<TstdViolation> held_violations;
  uint64_t dropped_pcr_violations = 0;
  bool too_long_without_sps = false;
  TstdFeedSink sink;
  sink.packet = [&](const TstdPacket& p) {
    if (model) {
      model->add_packet(p);
    } else if (held_packets.size() < kMaxHeldPackets) {
      held_packets.push_back(p);
    } else {
      too_long_without_sps = true;
    }
  };
  sink.violation = [&](TstdViolation v) {
    if (model) {
      model->report(std::move(v));
    } else if (held_violations.size() < kMaxHeldViolations) {
      held_violations.push_back(std::move(v));
    } else {
      ++dropped_pcr_violations;
    }
  };
  TstdFeed feed(packets, result.packet_size, result.pid, result.pcr_pid, pmt_pid, warn, sink);
  AccessUnitSplitter splitter;
  if (!splitter.allocated()) return stop(TstdRunStatus::kOutOfMemory);
  splitter.begin(feed);
  DecodingClock clock;
  int64_t default_interval = kTicksPerSecond / 25;
  AccessUnit au;
  int32_t got = 0;
  while (!too_long_without_sps && (got = splitter.next(au)) == 1) {
    TstdAccessUnit unit;
    unit.index = au.index;
    unit.es_begin = au.start;
    unit.es_end = au.start + au.nal_bits / 8;
    if (!model && au.sps != nullptr) {
      const SeqParamSet& sps = *au.sps;
      result.profile_idc = sps.profile_idc;
      result.level_idc = sps.level_idc;
      const LevelLimits* level = find_level_limits(sps.profile_idc, sps.level_idc, sps.constraint_set3_flag);
      if (level == nullptr) return stop(TstdRunStatus::kNoLevel);
      const CpbBrFactors factors = cpb_br_factors(sps.profile_idc);
      const uint64_t nal_factor = factors.nal != 0 ? factors.nal : 1200;
      TstdParams p;
      p.max_br_bits = uint64_t{1200} * level->max_br;
      p.max_cpb_bits = uint64_t{1200} * level->max_cpb;
      const VuiParameters& vui = sps.vui;
      if (vui.nal_hrd_parameters_present_flag != 0) {
        p.bit_rate = hrd_bit_rate(vui.nal_hrd, vui.nal_hrd.cpb_cnt_minus1);
        p.eb_size_bits = hrd_cpb_size(vui.nal_hrd, vui.nal_hrd.cpb_cnt_minus1);
        result.rates_from_hrd = true;
      } else {
        p.bit_rate = nal_factor * level->max_br;
        p.eb_size_bits = p.max_cpb_bits;
      }
      if (vui.timing_info_present_flag != 0 && vui.time_scale != 0 && vui.num_units_in_tick != 0) {
        default_interval = static_cast<int64_t>(uint64_t{2} * vui.num_units_in_tick * kTicksPerSecond / vui.time_scale);
      }
      result.params = p;
      model.emplace(p, max_violations, observer);
      for (TstdViolation& v : held_violations) model->report(std::move(v));
      for (const TstdPacket& hp : held_packets) model->add_packet(hp);
      for (const TstdAccessUnit& hu : held_units) model->add_access_unit(hu);
      std::vector<TstdViolation>().swap(held_violations);
      std::vector<TstdPacket>().swap(held_packets);
      std::vector<TstdAccessUnit>().swap(held_units);
    }
    unit.decoding_time = clock.time_of(unit.es_begin, feed.pes_starts(), feed, default_interval);
    if (model) {
      model->add_access_unit(unit);
    } else {
      held_units.push_back(unit);
    }
  }
  if (got < 0) return stop(TstdRunStatus::kReadError);
  feed.finish();
  result.packets = feed.packets();
  result.pcrs = feed.pcrs();
  result.ts_errors = feed.demux().counts();
  result.notes = splitter.notes();
  result.hrd_management = feed.hrd_management();
  if (too_long_without_sps) return stop(TstdRunStatus::kNoSps);
  if (!feed.have_rate()) return stop(TstdRunStatus::kFewPcrs);
  if (!model) return stop(TstdRunStatus::kNoSps);
  model->finish();
  result.access_units = model->access_units();
  result.tb_peak_bits = model->tb_peak_bits();
  result.mb_peak_bits = model->mb_peak_bits();
  result.eb_peak_bits = model->eb_peak_bits();
  for (std::size_t k = 0; k < kTstdKinds; ++k) result.counts[k] = model->count(static_cast<TstdKind>(k));
  result.counts[static_cast<std::size_t>(TstdKind::kPcrInterval)] += dropped_pcr_violations;
  result.violation_count = model->violation_count() + dropped_pcr_violations;
  result.violations = model->violations();
  return result;
}

}  // namespace tarnwell
