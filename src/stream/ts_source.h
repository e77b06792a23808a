#pragma once
// A transport stream read as the elementary stream of one of its H.264
// PIDs: a byte source for the NAL reader and the other stream readers, over
// the transport stream's own byte source (a file, or a pipe through its
// spool). Reading it again from the first byte reads and demultiplexes the
// transport stream again; nothing of the elementary stream is stored.
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "stream/byte_source.h"
#include "stream/ts_demux.h"

namespace tarnwell {

// Which stream to read, and how the packets are framed.
struct TsChoice {
  uint32_t packet_size = 0;  // 188, 192 or 204; 0: found from the first bytes
  bool by_program = false;   // the H.264 stream of this program_number
  uint16_t program_number = 0;
  bool by_pid = false;  // this PID
  uint16_t pid = 0;
};

class TsSource final : public RewindableSource {
 public:
  // `packets` is read from where it stands now; restart() restarts it.
  TsSource(RewindableSource& packets, const TsChoice& choice, TsWarningFn warn);
  TsSource(const TsSource&) = delete;
  TsSource& operator=(const TsSource&) = delete;

  // The first reading's start: the packet size, the program tables, the
  // choice of stream. False, with refusal() set, when there is no H.264
  // stream to read (or not the one asked for). Must come before read().
  bool open();
  const std::string& refusal() const { return refusal_; }

  std::size_t read(uint8_t* into, std::size_t count) override;
  // Reads the transport stream again from its first byte; the same stream
  // is chosen again.
  bool restart() override;

  uint32_t packet_size() const { return packet_size_; }
  uint16_t pid() const { return pid_; }
  // The program tables as they stood when the stream was chosen.
  const TsStructure& structure() const { return structure_; }
  // The damage of the reading that went furthest through the stream.
  TsErrorCounts errors() const;
  uint64_t packets_read() const { return number_; }
  const TsDemux& demux() const { return demux_; }

  // Packets read before the choice and kept to be demultiplexed after it:
  // tables come first in a multiplex, so this is rarely more than a few.
  static constexpr std::size_t kMaxHeldPackets = 16384;

 private:
  bool choose();
  uint64_t packets_demultiplexed() const;
  bool fill(std::size_t want);
  // The next 188-byte packet, past any bytes that lost the sync; null at the end.
  const uint8_t* next_packet();

  RewindableSource& packets_;
  TsChoice choice_;
  TsDemux demux_;
  std::string refusal_;
  bool opened_ = false;

  uint32_t packet_size_ = kTsPacketBytes;
  std::size_t sync_offset_ = 0;  // of the sync byte within each packet (4 for 192-byte packets)
  std::vector<uint8_t> block_;
  std::size_t block_fill_ = 0;
  std::size_t block_pos_ = 0;
  bool ended_ = false;
  uint64_t number_ = 0;  // packets read in this reading

  // Packets held while the stream is not yet chosen: the reading's first ones,
  // so held_pos_ is the number of the next to hand out.
  std::vector<uint8_t> held_;
  std::size_t held_pos_ = 0;

  uint16_t pid_ = kNullPid;
  TsStructure structure_;
  TsSlice out_;  // bytes of the last packet not yet handed out

  TsErrorCounts best_errors_;
  uint64_t best_packets_ = 0;
};

// A file that the readers open by path themselves (the dialog's run, probe
// and HRD report), read as the default H.264 stream of the transport stream
// it holds, when its first bytes show it to be one.
class TsFileReading {
 public:
  TsFileReading() = default;
  TsFileReading(const TsFileReading&) = delete;
  TsFileReading& operator=(const TsFileReading&) = delete;

  // Looks at the first bytes of `file` (which can be sought and stands at
  // its first byte; it is left there). False when it is no transport stream.
  // True when it is one: then source() reads its H.264 stream, or is null
  // with refusal() saying why there is none.
  bool begin(std::FILE* file, TsWarningFn warn);
  TsSource* source() { return ts_ ? &*ts_ : nullptr; }
  const std::string& refusal() const { return refusal_; }

 private:
  std::optional<FileSource> file_;
  std::optional<TsSource> ts_;
  std::string refusal_;
};

}  // namespace tarnwell
