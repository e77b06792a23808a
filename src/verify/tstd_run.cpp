#include "verify/tstd_run.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>

#include "base/ring_queue.h"
#include "paramsets/sps.h"
#include "stream/ts_packet_fields.h"

namespace tarnwell {
namespace {

constexpr std::size_t kBlockBytes = 1u << 18;
constexpr int64_t kPcrIntervalLimit = kTicksPerSecond / 10;
constexpr int64_t kTimestampWrap = int64_t{1} << 33;
constexpr std::size_t kMaxHeldViolations = 4096;
// Packets kept while no SPS has come to size the buffers: past this many the
// stream is taken to have none.
constexpr std::size_t kMaxHeldPackets = std::size_t{1} << 20;
// Packets waiting for the PCR after them: past this many, those after the
// last PCR take the last pair's rate, and without a pair the stream is
// taken to have too few PCRs.
constexpr std::size_t kMaxUntimed = std::size_t{1} << 20;

// Packets of `size` bytes from the first byte of `source`; the 188 bytes of
// each from its sync byte. Bytes that lose the sync are passed over until
// three packets in a row begin with it again.
class PacketReader {
 public:
  PacketReader(ByteSource& source, uint32_t size) : source_(source), size_(size), sync_(size == 192 ? 4 : 0) {
    block_.resize(kBlockBytes);
  }

  const uint8_t* next(uint64_t& skipped) {
    skipped = 0;
    for (;;) {
      if (!fill(size_)) return nullptr;
      const uint8_t* at = block_.data() + pos_ + sync_;
      if (at[0] == kTsSyncByte) {
        bool ok = true;
        if (skipped > 0 && fill(3 * size_)) ok = at[size_] == kTsSyncByte && at[2 * size_] == kTsSyncByte;
        at = block_.data() + pos_ + sync_;  // fill may have moved the bytes
        if (ok) {
          pos_ += size_;
          return at;
        }
      }
      ++pos_;
      ++skipped;
    }
  }

 private:
  bool fill(std::size_t want) {
    if (end_ - pos_ >= want) return true;
    std::memmove(block_.data(), block_.data() + pos_, end_ - pos_);
    end_ -= pos_;
    pos_ = 0;
    while (!ended_ && end_ < want) {
      const std::size_t got = source_.read(block_.data() + end_, block_.size() - end_);
      if (got == 0) ended_ = true;
      end_ += got;
    }
    return end_ - pos_ >= want;
  }

  ByteSource& source_;
  uint32_t size_;
  std::size_t sync_;
  std::vector<uint8_t> block_;
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  bool ended_ = false;
};

struct PesStart {
  uint64_t es_offset = 0;
  uint64_t sequence = 0;
  bool has_timestamp = false;
  uint64_t timestamp = 0;  // DTS, else PTS; 90 kHz, 33 bits
};

// What the packet loop hands on: packets with their times, PES starts, and
// the violations of the PCRs.
struct FeedSink {
  std::function<void(const TstdPacket&)> packet;
  std::function<void(TstdViolation)> violation;
};

// The chosen PID's elementary stream for the splitter, read packet by packet;
// on the way, every packet of the PID goes to the model once the PCRs
// around it have given it a time.
class TstdFeed final : public ByteSource {
 public:
  TstdFeed(ByteSource& packets, uint32_t packet_size, uint16_t pid, uint16_t pcr_pid, uint16_t pmt_pid,
           TsWarningFn warn, FeedSink sink)
      : reader_(packets, packet_size),
        demux_(std::move(warn)),
        pid_(pid),
        pcr_pid_(pcr_pid),
        pmt_pid_(pmt_pid),
        sink_(std::move(sink)) {
    demux_.select(pid_);
  }

  std::size_t read(uint8_t* into, std::size_t count) override {
    std::size_t done = 0;
    while (done < count) {
      if (out_pos_ < out_len_) {
        const std::size_t take = std::min(out_len_ - out_pos_, count - done);
        std::memcpy(into + done, out_.data() + out_pos_, take);
        out_pos_ += take;
        done += take;
        continue;
      }
      // With room for a whole payload its bytes go straight to the reader.
      const bool room = count - done >= kTsPacketBytes;
      std::size_t direct = 0;
      if (!step(room ? into + done : nullptr, direct)) break;
      done += direct;
    }
    return done;
  }

  // After the last packet: the packets after the last PCR take the last
  // pair's rate.
  void finish() {
    if (have_rate_) time_pending(std::numeric_limits<int64_t>::max());
  }

  RingQueue<PesStart>& pes_starts() { return pes_; }
  const TsDemux& demux() const { return demux_; }
  uint64_t packets() const { return number_; }
  uint64_t pcrs() const { return pcrs_; }
  bool have_rate() const { return have_rate_; }
  bool first_pcr(int64_t& ticks) const {
    ticks = first_pcr_;
    return pcrs_ > 0;
  }
  bool hrd_management() const { return hrd_management_; }

 private:
  struct Untimed {
    uint64_t number = 0;
    int64_t position = 0;  // of its first byte, counting 188-byte packets
    uint32_t header = 0;
    uint32_t pes = 0;
    uint32_t es = 0;
    uint64_t es_begin = 0;
  };

  // One packet; its elementary stream bytes to `direct` (their count in
  // `taken`) when given, else kept in out_.
  bool step(uint8_t* direct, std::size_t& taken) {
    if (gave_up_) return false;
    uint64_t skipped = 0;
    const uint8_t* packet = reader_.next(skipped);
    if (packet == nullptr) return false;
    if (skipped > 0) demux_.note_sync_loss(number_, skipped);
    const uint64_t number = number_++;
    demux_.read_tables(packet, number);
    const TsPacketHeader h = read_packet_header(packet);
    if (h.pid == pmt_pid_ && h.payload_length > 0) {
      pmt_sections_.push(h.payload, h.payload_length, h.unit_start, false,
                         [this](const uint8_t* section, std::size_t length) {
                           if (avc_hrd_management_flag(section, length, pid_) == 1) hrd_management_ = true;
                         });
    }
    if (h.pid == pcr_pid_) take_pcr(packet, number);
    if (h.pid != pid_) return true;
    const uint64_t starts_before = demux_.pes_count();
    const TsSlice slice = demux_.take_payload(packet, number);
    if (demux_.pes_count() != starts_before) {
      PesStart start;
      start.es_offset = es_total_;
      start.sequence = demux_.pes_count();
      pes_.push_back(start);
    }
    // A PES header cut over packets gives its timestamps with its last part.
    if (!pes_.empty() && pes_.back().sequence == demux_.pes_count()) {
      const TsPesHeader& ph = demux_.pes_header();
      pes_.back().has_timestamp = ph.has_dts || ph.has_pts;
      pes_.back().timestamp = ph.has_dts ? ph.dts : ph.pts;
    }
    Untimed u;
    u.number = number;
    u.position = static_cast<int64_t>(number * kTsPacketBytes);
    u.header = h.payload_length > 0 ? static_cast<uint32_t>(kTsPacketBytes - h.payload_length)
                                    : static_cast<uint32_t>(kTsPacketBytes);
    u.es = static_cast<uint32_t>(slice.length);
    u.pes = static_cast<uint32_t>(kTsPacketBytes) - u.header - u.es;
    u.es_begin = es_total_;
    es_total_ += slice.length;
    untimed_.push_back(u);
    if (untimed_.size() > kMaxUntimed) {
      if (!have_rate_) {
        gave_up_ = true;
        return false;
      }
      time_pending(std::numeric_limits<int64_t>::max());
    }
    if (slice.length > 0 && direct != nullptr) {
      std::memcpy(direct, slice.data, slice.length);
      taken = slice.length;
    } else if (slice.length > 0) {
      std::memcpy(out_.data(), slice.data, slice.length);
      out_pos_ = 0;
      out_len_ = slice.length;
    }
    if (have_rate_) time_pending(last_position_);  // a packet that carries the PCR itself
    return true;
  }

  void take_pcr(const uint8_t* packet, uint64_t number) {
    const TsPcr pcr = read_pcr(packet);
    if (!pcr.present) return;
    const int64_t position = static_cast<int64_t>(number * kTsPacketBytes + kPcrByte);
    const int64_t raw = static_cast<int64_t>(pcr.value);
    ++pcrs_;
    if (pcrs_ == 1) {
      first_pcr_ = raw;
      last_pcr_ = raw;
      last_raw_ = raw;
      last_position_ = position;
      return;
    }
    int64_t delta = raw - last_raw_;
    const int64_t wrap = static_cast<int64_t>(kPcrWrap);
    if (delta <= -wrap / 2) delta += wrap;
    if (delta > wrap / 2) delta -= wrap;
    const Ticks at = Ticks::whole(last_pcr_ + delta);
    if (!pcr.discontinuity && delta > kPcrIntervalLimit) {
      TstdViolation v;
      v.kind = TstdKind::kPcrInterval;
      v.ticks = at;
      v.packet = number;
      v.seconds = Ticks::whole(delta - kPcrIntervalLimit).seconds();
      char text[96];
      std::snprintf(text, sizeof text, "PCRs %.6f s apart", Ticks::whole(delta).seconds());
      v.detail = text;
      sink_.violation(std::move(v));
    } else if (!pcr.discontinuity && delta <= 0) {
      TstdViolation v;
      v.kind = TstdKind::kPcrInterval;
      v.ticks = Ticks::whole(last_pcr_);
      v.packet = number;
      char text[128];
      std::snprintf(text, sizeof text, "PCR discontinuity without discontinuity_indicator (%+.6f s)",
                    Ticks::whole(delta).seconds());
      v.detail = text;
      sink_.violation(std::move(v));
    }
    if (delta > 0 && !pcr.discontinuity) {
      rate_ticks_ = delta;
      rate_bytes_ = position - last_position_;
      byte_time_ = Ticks::ratio(rate_ticks_, rate_bytes_);
      have_rate_ = true;
    }
    // The bytes up to this PCR take the pair's rate (or the last good one's
    // across a discontinuity) from the PCR before.
    if (have_rate_) time_pending(position);
    last_pcr_ += delta;
    last_raw_ = raw;
    last_position_ = position;
  }

  // Times the waiting packets that begin before `limit`.
  void time_pending(int64_t limit) {
    while (!untimed_.empty() && untimed_.front().position < limit) {
      const Untimed& u = untimed_.front();
      TstdPacket p;
      p.number = u.number;
      p.arrival = Ticks::ratio(static_cast<__int128>(last_pcr_) * rate_bytes_ +
                                   static_cast<__int128>(u.position - last_position_) * rate_ticks_,
                               rate_bytes_);
      p.byte_time = byte_time_;
      p.header_bytes = u.header;
      p.pes_header_bytes = u.pes;
      p.es_bytes = u.es;
      p.es_begin = u.es_begin;
      untimed_.pop_front();
      sink_.packet(p);
    }
  }

  PacketReader reader_;
  TsDemux demux_;
  uint16_t pid_;
  uint16_t pcr_pid_;
  uint16_t pmt_pid_;
  FeedSink sink_;
  SectionCollector pmt_sections_;
  bool hrd_management_ = false;
  bool gave_up_ = false;  // too many packets without two PCRs to time them
  uint64_t number_ = 0;
  uint64_t es_total_ = 0;
  std::array<uint8_t, kTsPacketBytes> out_{};
  std::size_t out_pos_ = 0;
  std::size_t out_len_ = 0;
  RingQueue<PesStart> pes_;
  RingQueue<Untimed> untimed_;

  uint64_t pcrs_ = 0;
  int64_t first_pcr_ = 0;
  int64_t last_pcr_ = 0;  // unwrapped
  int64_t last_raw_ = 0;
  int64_t last_position_ = 0;
  bool have_rate_ = false;
  int64_t rate_ticks_ = 0;  // a byte takes rate_ticks_ / rate_bytes_ ticks
  int64_t rate_bytes_ = 1;
  Ticks byte_time_;  // rate_ticks_ / rate_bytes_
};

// Decoding times of access units from the PES timestamps.
class DecodingClock {
 public:
  // The decoding time of the access unit that starts at `es_begin`.
  int64_t time_of(uint64_t es_begin, RingQueue<PesStart>& pes, const TstdFeed& feed, int64_t default_interval) {
    while (pes.size() >= 2 && pes[1].es_offset <= es_begin) pes.pop_front();
    const PesStart* in = !pes.empty() && pes.front().es_offset <= es_begin ? &pes.front() : nullptr;
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
  uint16_t pmt_pid = kNullPid;
  {
    // Bytes that do not read as packets are refused here, before the
    // program tables are looked for in them.
    std::vector<uint8_t> head(kBlockBytes);
    std::size_t got = 0;
    for (std::size_t n = 1; got < head.size() && n > 0; got += n)
      n = packets.read(head.data() + got, head.size() - got);
    if (detect_ts_packet_size(head.data(), got) == 0 && choice.packet_size == 0) {
      result.status = TstdRunStatus::kRefused;
      result.refusal = "not a transport stream (no sync byte 0x47 every 188, 192 or 204 bytes at its start)";
      return result;
    }
    if (!packets.restart()) {
      result.status = TstdRunStatus::kReadError;
      return result;
    }
  }
  {
    TsSource chooser(packets, choice, [](const char*) {});
    if (!chooser.open()) {
      result.status = TstdRunStatus::kRefused;
      result.refusal = chooser.refusal();
      return result;
    }
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
      result.status = TstdRunStatus::kRefused;
      result.refusal = text;
      return result;
    }
  }
  if (!packets.restart()) {
    result.status = TstdRunStatus::kReadError;
    return result;
  }

  std::optional<TstdModel> model;
  std::vector<TstdPacket> held_packets;
  std::vector<TstdAccessUnit> held_units;
  std::vector<TstdViolation> held_violations;
  uint64_t dropped_pcr_violations = 0;
  bool too_long_without_sps = false;
  FeedSink sink;
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
  if (!splitter.allocated()) {
    result.status = TstdRunStatus::kOutOfMemory;
    return result;
  }
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
      if (level == nullptr) {
        result.status = TstdRunStatus::kNoLevel;
        return result;
      }
      const CpbBrFactors factors = cpb_br_factors(sps.profile_idc);
      const uint64_t nal_factor = factors.nal != 0 ? factors.nal : 1200;
      TstdParams p;
      p.max_br_bits = uint64_t{1200} * level->max_br;
      p.max_cpb_bits = uint64_t{1200} * level->max_cpb;
      if (sps.vui.nal_hrd_parameters_present_flag != 0) {
        p.bit_rate = hrd_bit_rate(sps.vui.nal_hrd, sps.vui.nal_hrd.cpb_cnt_minus1);
        p.eb_size_bits = hrd_cpb_size(sps.vui.nal_hrd, sps.vui.nal_hrd.cpb_cnt_minus1);
        result.rates_from_hrd = true;
      } else {
        p.bit_rate = nal_factor * level->max_br;
        p.eb_size_bits = p.max_cpb_bits;
      }
      if (sps.vui.timing_info_present_flag != 0 && sps.vui.time_scale != 0 && sps.vui.num_units_in_tick != 0) {
        default_interval = static_cast<int64_t>(uint64_t{2} * sps.vui.num_units_in_tick * kTicksPerSecond / sps.vui.time_scale);
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
  if (got < 0) {
    result.status = TstdRunStatus::kReadError;
    return result;
  }
  feed.finish();
  result.packets = feed.packets();
  result.pcrs = feed.pcrs();
  result.ts_errors = feed.demux().counts();
  result.notes = splitter.notes();
  result.hrd_management = feed.hrd_management();
  if (too_long_without_sps) {
    result.status = TstdRunStatus::kNoSps;
    return result;
  }
  if (!feed.have_rate()) {
    result.status = TstdRunStatus::kFewPcrs;
    return result;
  }
  if (!model) {
    result.status = TstdRunStatus::kNoSps;
    return result;
  }
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
