#pragma once
// The packet layer of an MPEG transport stream: packet sizes, the program
// tables carried in every reading, and the PES reassembly of one chosen PID
// into its elementary stream. Packets go in one at a time; the elementary
// stream's bytes come out as slices of the packet just given, so nothing is
// copied and the memory used does not grow with the stream. Damage (see
// TsErrorCounts) is reported and counted, never fatal.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>

#include "base/error_reporter.h"
#include "stream/ts_sections.h"

namespace tarnwell {

inline constexpr uint8_t kTsSyncByte = 0x47;
inline constexpr std::size_t kTsPacketBytes = 188;

// The packet size of a transport stream from its first bytes: 188, 192 (a
// four-byte prefix before each packet, as in .m2ts files) or 204 (sixteen
// bytes after each packet); 0 when the bytes do not read as one. Five
// packets' sync bytes in a row decide, or as many whole packets as there are
// when the bytes are fewer.
uint32_t detect_ts_packet_size(const uint8_t* bytes, std::size_t count);

// Counts of damage by kind, for a reading of the stream.
struct TsErrorCounts {
  uint64_t continuity = 0;           // packets of the chosen PID lost before the one counted
  uint64_t transport_error = 0;      // packets of the chosen PID with transport_error_indicator set
  uint64_t sync_loss = 0;            // places where the sync byte was not where it should be
  uint64_t pes_mid_access_unit = 0;  // PES data that does not begin where an access unit does
  uint64_t bad_crc = 0;              // PAT and PMT sections ignored for a wrong CRC_32
};

// The header fields of the chosen PID's current PES. PTS and DTS are
// 33-bit counts of a 90 kHz clock.
struct TsPesHeader {
  uint64_t packet = 0;  // number of the packet that began it
  uint8_t stream_id = 0;
  uint16_t PES_packet_length = 0;  // 0: unbounded (video)
  bool has_pts = false;
  uint64_t pts = 0;
  bool has_dts = false;
  uint64_t dts = 0;
};

// One line of text per damage found (without "Warning: ").
using TsWarningFn = std::function<void(const char* text)>;

// The parts of one packet's header that the demultiplexer uses.
struct TsPacketHeader {
  bool transport_error = false;
  bool unit_start = false;
  uint16_t pid = 0;
  uint8_t continuity_counter = 0;
  bool has_payload = false;    // adaptation_field_control says a payload follows
  bool discontinuity = false;  // the adaptation field's discontinuity_indicator
  const uint8_t* payload = nullptr;
  std::size_t payload_length = 0;  // 0: no payload (or a broken adaptation field)
};

// `packet` holds 188 bytes beginning with the sync byte.
TsPacketHeader read_packet_header(const uint8_t* packet);

struct TsSlice {
  const uint8_t* data = nullptr;
  std::size_t length = 0;
};

class TsDemux {
 public:
  explicit TsDemux(TsWarningFn warn) : warn_(std::move(warn)) {}

  // A new reading: tables, PES state and counts start empty.
  void reset();

  // The program tables in a packet (packets of other PIDs are passed over).
  // `number` counts packets from 0 in the reading, for the warnings.
  void read_tables(const uint8_t* packet, uint64_t number);

  // From here on take_payload gives the bytes of this PID.
  void select(uint16_t pid);

  // The chosen PID's elementary stream bytes that this packet carries: a
  // slice of the packet, empty for every other PID.
  TsSlice take_payload(const uint8_t* packet, uint64_t number);

  // A loss of sync found by the packet reader: `skipped` bytes were passed
  // over before packet `number`.
  void note_sync_loss(uint64_t number, uint64_t skipped);
  // Bytes at the end of the stream that are not a whole packet.
  void note_trailing_bytes(uint64_t number, uint64_t count);

  const TsStructure& structure() const { return structure_; }
  const TsErrorCounts& counts() const { return counts_; }
  // The header of the chosen PID's current PES, and how many PES began.
  const TsPesHeader& pes_header() const { return pes_; }
  uint64_t pes_count() const { return pes_count_; }

 private:
  enum class PesState { kNone, kHeader, kPayload, kSkip };
  struct PsiPid {
    SectionCollector collector;
    int32_t last_cc = -1;
  };

  void warn(const char* format, ...) TARNWELL_PRINTF(2, 3);
  TsSlice take_header(const uint8_t* bytes, std::size_t length, uint64_t number);
  TsSlice take_pes_payload(const uint8_t* bytes, std::size_t length, uint64_t number);

  TsWarningFn warn_;
  TsStructure structure_;
  std::map<uint16_t, PsiPid> psi_;
  std::array<bool, 8192> is_psi_pid_{};  // PID 0 and the PMT PIDs of the PAT
  TsErrorCounts counts_;

  uint16_t pid_ = kNullPid;
  bool selected_ = false;
  int32_t last_cc_ = -1;
  bool duplicate_seen_ = false;  // the packet with last_cc_ came twice already
  PesState state_ = PesState::kNone;
  bool orphan_reported_ = false;  // payload without a PES start was reported since the last start
  uint8_t header_[6 + 3 + 255] = {};
  std::size_t header_fill_ = 0;
  bool first_payload_ = false;  // the next payload byte is the PES's first
  bool unbounded_ = false;      // PES_packet_length 0: the PES ends at the next start
  uint64_t payload_left_ = 0;   // bytes a bounded PES may still carry
  TsPesHeader pes_;
  uint64_t pes_count_ = 0;
};

}  // namespace tarnwell
