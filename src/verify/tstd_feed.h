#pragma once
// The packet side of the T-STD check: the chosen PID's elementary stream,
// read packet by packet for the access unit splitter, and on the way every
// packet of the PID handed on with its arrival time once the PCRs around it
// have given it one, the PES starts with their timestamps, and the
// violations of the PCRs.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "base/ring_queue.h"
#include "stream/byte_source.h"
#include "stream/ts_demux.h"
#include "stream/ts_sections.h"
#include "verify/tstd_model.h"
#include "verify/tstd_time.h"

namespace tarnwell {

inline constexpr std::size_t kTstdBlockBytes = 1u << 18;

// Packets of `size` bytes from the first byte of `source`; the 188 bytes of
// each from its sync byte. Bytes that lose the sync are passed over until
// three packets in a row begin with it again.
class TstdPacketReader {
 public:
  TstdPacketReader(ByteSource& source, uint32_t size);

  // The next packet's 188 bytes, or null at the end; `skipped`: the bytes
  // passed over before it.
  const uint8_t* next(uint64_t& skipped);

 private:
  bool fill(std::size_t want);

  ByteSource& source_;
  uint32_t size_;
  std::size_t sync_;
  std::vector<uint8_t> block_;
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  bool ended_ = false;
};

struct TstdPesStart {
  uint64_t es_offset = 0;
  uint64_t sequence = 0;
  bool has_timestamp = false;
  uint64_t timestamp = 0;  // DTS, else PTS; 90 kHz, 33 bits
};

// What the packet loop hands on: packets with their times, and the
// violations of the PCRs.
struct TstdFeedSink {
  std::function<void(const TstdPacket&)> packet;
  std::function<void(TstdViolation)> violation;
};

class TstdFeed final : public ByteSource {
 public:
  TstdFeed(ByteSource& packets, uint32_t packet_size, uint16_t pid, uint16_t pcr_pid, uint16_t pmt_pid,
           TsWarningFn warn, TstdFeedSink sink);

  std::size_t read(uint8_t* into, std::size_t count) override;

  // After the last packet: the packets after the last PCR take the last
  // pair's rate.
  void finish();

  RingQueue<TstdPesStart>& pes_starts() { return pes_; }
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
  bool step(uint8_t* direct, std::size_t& taken);
  void take_pcr(const uint8_t* packet, uint64_t number);
  // Times the waiting packets that begin before `limit`.
  void time_pending(int64_t limit);

  TstdPacketReader reader_;
  TsDemux demux_;
  uint16_t pid_;
  uint16_t pcr_pid_;
  uint16_t pmt_pid_;
  TstdFeedSink sink_;
  SectionCollector pmt_sections_;
  bool hrd_management_ = false;
  bool gave_up_ = false;  // too many packets without two PCRs to time them
  uint64_t number_ = 0;
  uint64_t es_total_ = 0;
  std::array<uint8_t, kTsPacketBytes> out_{};
  std::size_t out_pos_ = 0;
  std::size_t out_len_ = 0;
  RingQueue<TstdPesStart> pes_;
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

}  // namespace tarnwell
