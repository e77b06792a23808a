#include "verify/tstd_feed.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

#include "stream/ts_packet_fields.h"

namespace tarnwell {
namespace {

constexpr int64_t kPcrIntervalLimit = kTicksPerSecond / 10;
// Packets waiting for the PCR after them: past this many, those after the
// last PCR take the last pair's rate, and without a pair the stream is
// taken to have too few PCRs.
constexpr std::size_t kMaxUntimed = std::size_t{1} << 20;

}  // namespace

TstdPacketReader::TstdPacketReader(ByteSource& source, uint32_t size)
    : source_(source), size_(size), sync_(size == 192 ? 4 : 0) {
  block_.resize(kTstdBlockBytes);
}

const uint8_t* TstdPacketReader::next(uint64_t& skipped) {
  skipped = 0;
  for (;;) {
    if (!fill(size_)) return nullptr;
    const uint8_t* at = block_.data() + pos_ + sync_;
    if (at[0] == kTsSyncByte) {
      // After a loss, sync is found again where three packets in a row begin
      // with the sync byte (fewer at the end of the stream).
      const bool ahead = skipped > 0 && fill(3 * size_);
      at = block_.data() + pos_ + sync_;  // fill may have moved the bytes
      if (!ahead || (at[size_] == kTsSyncByte && at[2 * size_] == kTsSyncByte)) {
        pos_ += size_;
        return at;
      }
    }
    ++pos_;
    ++skipped;
  }
}

bool TstdPacketReader::fill(std::size_t want) {
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

TstdFeed::TstdFeed(ByteSource& packets, uint32_t packet_size, uint16_t pid, uint16_t pcr_pid, uint16_t pmt_pid,
                   TsWarningFn warn, TstdFeedSink sink)
    : reader_(packets, packet_size),
      demux_(std::move(warn)),
      pid_(pid),
      pcr_pid_(pcr_pid),
      pmt_pid_(pmt_pid),
      sink_(std::move(sink)) {
  demux_.select(pid_);
}

// The functions of one packet build into this loop, as the compiler would
// do of its own for functions seen only here.
[[gnu::flatten]] std::size_t TstdFeed::read(uint8_t* into, std::size_t count) {
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

void TstdFeed::finish() {
  if (have_rate_) time_pending(std::numeric_limits<int64_t>::max());
}

bool TstdFeed::step(uint8_t* direct, std::size_t& taken) {
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
    TstdPesStart start;
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

void TstdFeed::take_pcr(const uint8_t* packet, uint64_t number) {
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
  if (!pcr.discontinuity && (delta > kPcrIntervalLimit || delta <= 0)) {
    TstdViolation v;
    v.kind = TstdKind::kPcrInterval;
    v.packet = number;
    char text[128];
    if (delta > 0) {
      v.ticks = Ticks::whole(last_pcr_ + delta);
      v.seconds = Ticks::whole(delta - kPcrIntervalLimit).seconds();
      std::snprintf(text, sizeof text, "PCRs %.6f s apart", Ticks::whole(delta).seconds());
    } else {
      v.ticks = Ticks::whole(last_pcr_);
      std::snprintf(text, sizeof text, "PCR discontinuity without discontinuity_indicator (%+.6f s)",
                    Ticks::whole(delta).seconds());
    }
    v.detail = text;
    sink_.violation(std::move(v));
  }
  if (delta > 0 && !pcr.discontinuity) {
    rate_ticks_ = delta;
    rate_bytes_ = position - last_position_;
    byte_time_ = Ticks::fraction(rate_ticks_, rate_bytes_);
    have_rate_ = true;
  }
  // The bytes up to this PCR take the pair's rate (or the last good one's
  // across a discontinuity) from the PCR before.
  if (have_rate_) time_pending(position);
  last_pcr_ += delta;
  last_raw_ = raw;
  last_position_ = position;
}

void TstdFeed::time_pending(int64_t limit) {
  while (!untimed_.empty() && untimed_.front().position < limit) {
    const Untimed& u = untimed_.front();
    TstdPacket p;
    p.number = u.number;
    int64_t at_pcr = 0;
    int64_t since = 0;
    int64_t numerator = 0;
    if (__builtin_mul_overflow(last_pcr_, rate_bytes_, &at_pcr) ||
        __builtin_mul_overflow(u.position - last_position_, rate_ticks_, &since) ||
        __builtin_add_overflow(at_pcr, since, &numerator)) {
      p.arrival = Ticks::ratio(static_cast<__int128>(last_pcr_) * rate_bytes_ +
                                   static_cast<__int128>(u.position - last_position_) * rate_ticks_,
                               rate_bytes_);
    } else {
      p.arrival = Ticks::fraction(numerator, rate_bytes_);
    }
    p.byte_time = byte_time_;
    p.header_bytes = u.header;
    p.pes_header_bytes = u.pes;
    p.es_bytes = u.es;
    p.es_begin = u.es_begin;
    untimed_.pop_front();
    sink_.packet(p);
  }
}

}  // namespace tarnwell
