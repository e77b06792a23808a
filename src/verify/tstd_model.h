#pragma once
// The transport stream system target decoder for one H.264 stream, leak
// method: the transport buffer TB, the multiplexing buffer MB and the
// elementary stream buffer EB, fed with the video PID's packets as they
// arrive and emptied by access units at their decoding times.
//
// Bytes are whole: a byte enters TB at its arrival time and leaves it, first
// in first out, one byte time (8 / Rx) after it reached TB's head; a packet's
// PES bytes enter MB when its last byte has left TB; elementary stream bytes
// leave MB one byte time (8 / Rbx) after they reached its head while EB has
// room. Times are exact fractions of 27 MHz ticks and contents whole bytes.
//
// One reading suffices: TB needs only the packets, taken as they come. MB
// and EB need the removals, and an access unit's removal is known once the
// splitter has found where the next one starts; packets wait (as a few
// numbers each, never their bytes) until the last removal known lies beyond
// them, since a removal not yet known is never earlier than a known one.
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/ring_queue.h"
#include "verify/tstd_time.h"

namespace tarnwell {

inline constexpr uint64_t kTbBytes = 512;

struct TstdParams {
  uint64_t bit_rate = 0;      // BitRate the transport buffer leaks at 1.2 times (Rx = 1.2 * bit_rate)
  uint64_t max_br_bits = 0;   // 1200 * MaxBR: Rbx, bits/s
  uint64_t max_cpb_bits = 0;  // 1200 * MaxCPB, bits
  uint64_t eb_size_bits = 0;  // EBS, a multiple of 8
  // MBS in bits times 375: BSmux + BSoh = 2 * max(Rbx, 2,000,000) / 375.
  int64_t mb_size_bits_x375() const;
};

// One packet of the video PID.
struct TstdPacket {
  uint64_t number = 0;            // in the file, from 0
  Ticks arrival;                  // of its first byte
  Ticks byte_time;                // ticks between two bytes' arrivals (from the PCRs around it)
  uint32_t header_bytes = 0;      // transport header and adaptation field
  uint32_t pes_header_bytes = 0;  // PES packet header bytes it carries
  uint32_t es_bytes = 0;          // elementary stream bytes
  uint64_t es_begin = 0;          // position of its first elementary stream byte in the stream
};

struct TstdAccessUnit {
  uint64_t index = 0;
  uint64_t es_begin = 0;
  uint64_t es_end = 0;        // one past its last byte
  int64_t decoding_time = 0;  // ticks, DTS * 300 unwrapped
};

enum class TstdKind : uint32_t {
  kTbOverflow,
  kTbNotEmpty,
  kMbOverflow,
  kEbUnderflow,
  kDataDelay,
  kDtsOrder,
  kPcrInterval,
};
inline constexpr std::size_t kTstdKinds = 7;
const char* tstd_kind_name(TstdKind kind);

inline constexpr uint64_t kNoAccessUnit = ~uint64_t{0};
inline constexpr uint64_t kNoPacket = ~uint64_t{0};

struct TstdViolation {
  TstdKind kind = TstdKind::kTbOverflow;
  double time = 0.0;  // seconds on the PCR clock
  Ticks ticks;        // the same, exact, for ordering
  uint64_t packet = kNoPacket;
  uint64_t access_unit = kNoAccessUnit;
  uint64_t bits = 0;  // over (overflow) or missing (underflow)
  // Late: past the limit, or after the decoding time; below 0 for an
  // underflow whose last byte never entered EB.
  double seconds = 0.0;
  std::string detail;
};

struct TstdTraceRow {
  uint64_t access_unit = 0;
  uint64_t bytes = 0;
  Ticks decoding_time;
  bool last_byte_known = false;  // false: its last byte never entered EB
  Ticks last_byte_in_eb;
  uint64_t eb_before_bits = 0;
  uint64_t mb_bits = 0;
  uint64_t tb_peak_bits = 0;  // since the previous removal
};

// Buffer levels as they change, for the picture: the level just after
// (high) and just before (low) a change.
enum class TstdBuffer { kTb, kMb, kEb };
struct TstdLevel {
  TstdBuffer buffer = TstdBuffer::kTb;
  Ticks time;
  uint64_t high_bits = 0;
  uint64_t low_bits = 0;
};

struct TstdObserver {
  std::function<void(const TstdTraceRow&)> row;
  std::function<void(const TstdLevel&)> level;
};

class TstdModel {
 public:
  TstdModel(const TstdParams& params, uint32_t keep_violations, TstdObserver observer = {});

  // Packets in the order of the stream, access units in decoding order.
  void add_packet(const TstdPacket& packet);
  void add_access_unit(const TstdAccessUnit& au);
  // A violation found outside the buffers (the PCR's).
  void report(TstdViolation violation);
  // No more input: every waiting packet and removal is taken.
  void finish();

  uint64_t tb_peak_bits() const { return tb_peak_ * 8; }
  uint64_t mb_peak_bits() const { return mb_peak_ * 8; }
  uint64_t eb_peak_bits() const { return eb_peak_ * 8; }
  uint64_t count(TstdKind kind) const { return counts_[static_cast<std::size_t>(kind)]; }
  uint64_t violation_count() const;
  // The first violations in time, at most keep_violations.
  std::vector<TstdViolation> violations() const;
  uint64_t access_units() const { return removed_; }

 private:
  struct Chunk {  // a packet's bytes on their way from TB into MB
    Ticks time;   // when its last byte left TB
    uint64_t packet = 0;
    uint32_t pes_header = 0;
    uint64_t es_begin = 0;
    uint64_t es_end = 0;
    uint64_t tb_peak = 0;
  };
  struct Arrival {  // where a packet's elementary stream bytes arrived
    uint64_t es_begin = 0;
    uint64_t es_end = 0;
    // Its first elementary stream byte arrived at arrival.plus_times(byte_time, lead), worked out only for the
    // few packets where an access unit begins.
    Ticks arrival;
    uint64_t lead = 0;
    Ticks byte_time;
    uint64_t packet = 0;
  };
  struct Entry {  // a run of elementary stream bytes entering EB a byte time apart
    uint64_t es_begin = 0;
    uint64_t es_end = 0;
    Ticks start;  // byte es_begin enters at start + (k + 1) byte times
    uint64_t k = 0;
  };
  struct Removal {
    TstdAccessUnit au;
    Ticks time;
    bool first_known = false;
    Ticks first_arrival;
    uint64_t first_packet = 0;
  };
  struct Pending {  // an access unit removed before its last byte entered EB
    uint64_t es_end = 0;
    Ticks removal;
    std::size_t violation = static_cast<std::size_t>(-1);  // index in kept_ of eb_underflow
  };
  enum class Server { kIdle, kBusy, kBlocked };

  std::size_t keep(TstdViolation violation);
  void tb_take(const TstdPacket& packet);
  uint64_t tb_departed(const Ticks& t) const;
  void close_tb_stretch(const Ticks& end);
  void resolve_arrivals();
  void process(bool all);
  void advance(const Ticks& t);
  void take_chunk(const Chunk& chunk);
  void remove(Removal& removal);
  uint64_t eb_fill() const { return es_entered_ > es_removed_ ? es_entered_ - es_removed_ : 0; }
  bool entry_time(uint64_t es_last, Ticks& time) const;
  void flush_rows(bool all);
  void emit_level(TstdBuffer buffer, const Ticks& time, uint64_t high, uint64_t low);

  TstdParams params_;
  uint32_t keep_violations_;
  TstdObserver observer_;
  uint64_t eb_size_ = 0;  // bytes
  int64_t mb_size_x375_ = 0;
  Ticks tb_byte_;  // 8 / Rx in ticks
  Ticks mb_byte_;  // 8 / Rbx in ticks

  // TB: bytes entered, and the busy period now going on: the bytes before
  // base_ had left when it began at busy_start_; byte base_ + j leaves at
  // busy_start_ + (j + 1) byte times.
  bool tb_started_ = false;
  uint64_t tb_entered_ = 0;
  uint64_t tb_base_ = 0;
  Ticks tb_busy_start_;
  Ticks tb_last_departure_;
  Ticks tb_stretch_start_;  // TB last empty here
  uint64_t tb_peak_ = 0;
  uint64_t tb_peak_since_chunk_ = 0;

  RingQueue<Chunk> chunks_;      // left TB, not yet in MB (waiting for the removals before them)
  RingQueue<Arrival> arrivals_;  // for the first byte of access units not yet known
  RingQueue<Removal> removals_;  // known, not yet done
  std::size_t unresolved_ = 0;   // removals_ from here on lack their first byte's arrival
  bool have_removal_ = false;
  Ticks last_removal_;  // of the last access unit known: nothing waits beyond it
  int64_t last_decoding_time_ = 0;
  uint64_t last_es_end_ = 0;

  // MB: the packets whose elementary stream bytes have not all left, as far
  // as MB needs them: where their bytes end and the PES header bytes before.
  struct InMb {
    uint64_t es_end = 0;
    uint64_t pes_header = 0;
  };
  RingQueue<InMb> mb_;
  uint64_t mb_bytes_ = 0;
  uint64_t mb_es_ = 0;
  Ticks now_;  // MB and EB are known up to here
  Server server_ = Server::kIdle;
  Ticks serve_start_;  // bytes leave MB at serve_start_ + (served_ + 1) byte times
  uint64_t served_ = 0;
  uint64_t es_entered_ = 0;  // elementary stream bytes that have left MB (entered EB)
  uint64_t es_removed_ = 0;  // elementary stream bytes removed with their access units
  RingQueue<Entry> entries_;
  RingQueue<Pending> pending_;
  struct WaitingRow {
    TstdTraceRow row;
    bool waiting = false;  // for its last byte to enter EB
  };
  RingQueue<WaitingRow> rows_;
  uint64_t tb_peak_since_removal_ = 0;
  uint64_t mb_peak_ = 0;
  uint64_t eb_peak_ = 0;
  uint64_t removed_ = 0;

  std::array<uint64_t, kTstdKinds> counts_{};
  std::vector<TstdViolation> kept_;  // at most keep_violations_ of each kind
  std::array<uint64_t, kTstdKinds> kept_per_kind_{};
};

}  // namespace tarnwell
