#include "stream/ts_source.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "stream/input_format.h"
#include "stream/stream_file.h"

namespace tarnwell {

namespace {

constexpr std::size_t kBlockBytes = 1u << 18;

// "program 1 (PMT PID 4096): PID 256 H.264 video (stream_type 0x1B), ...;
// program 2 ...", or that no program table was found.
std::string describe_programs(const TsStructure& structure) {
  if (!structure.pat_seen) return "no program association table was found";
  if (structure.programs.empty()) return "its program association table lists no program";
  std::string text;
  char part[160];
  for (const TsProgram& program : structure.programs) {
    if (!text.empty()) text += "; ";
    std::snprintf(part, sizeof part, "program %u (PMT PID %u)", program.program_number, program.program_map_PID);
    text += part;
    if (!program.pmt_seen) {
      text += ": no program map table found";
      continue;
    }
    if (program.streams.empty()) text += ": no stream";
    for (std::size_t i = 0; i < program.streams.size(); ++i) {
      const TsElementaryStream& stream = program.streams[i];
      std::snprintf(part, sizeof part, "%sPID %u %s (stream_type 0x%02X)", i == 0 ? ": " : ", ", stream.elementary_PID,
                    stream_type_description(stream.stream_type), stream.stream_type);
      text += part;
    }
  }
  return text;
}

}  // namespace

TsSource::TsSource(RewindableSource& packets, const TsChoice& choice, TsWarningFn warn)
    : packets_(packets), choice_(choice), demux_(std::move(warn)) {}

bool TsSource::fill(std::size_t want) {
  if (block_fill_ - block_pos_ >= want) return true;
  if (block_.size() < kBlockBytes) block_.resize(kBlockBytes);
  if (block_pos_ > 0) {
    std::memmove(block_.data(), block_.data() + block_pos_, block_fill_ - block_pos_);
    block_fill_ -= block_pos_;
    block_pos_ = 0;
  }
  while (!ended_ && block_fill_ < want) {
    const std::size_t got = packets_.read(block_.data() + block_fill_, block_.size() - block_fill_);
    if (got == 0) ended_ = true;
    block_fill_ += got;
  }
  return block_fill_ - block_pos_ >= want;
}

const uint8_t* TsSource::next_packet() {
  const std::size_t size = packet_size_;
  if (!fill(size)) {
    const std::size_t left = block_fill_ - block_pos_;
    block_pos_ = block_fill_;
    if (left > 0) demux_.note_trailing_bytes(number_ == 0 ? 0 : number_ - 1, left);
    return nullptr;
  }
  if (block_[block_pos_ + sync_offset_] != kTsSyncByte) {
    // Sync is found again where three packets in a row begin with the sync
    // byte (fewer at the end of the stream).
    uint64_t skipped = 0;
    for (;;) {
      if (!fill(3 * size)) {
        if (!fill(size)) {  // no sync before the end: one loss, the rest skipped
          const std::size_t left = block_fill_ - block_pos_;
          block_pos_ = block_fill_;
          demux_.note_sync_loss(number_, skipped + left);
          return nullptr;
        }
      }
      const std::size_t available = block_fill_ - block_pos_;
      const uint8_t* at = block_.data() + block_pos_ + sync_offset_;
      bool found = at[0] == kTsSyncByte;
      for (std::size_t k = 1; k < 3 && found; ++k) {
        if (sync_offset_ + k * size < available) found = at[k * size] == kTsSyncByte;
      }
      if (found) break;
      ++block_pos_;
      ++skipped;
    }
    demux_.note_sync_loss(number_, skipped);
  }
  const uint8_t* packet = block_.data() + block_pos_ + sync_offset_;
  block_pos_ += size;
  ++number_;
  return packet;
}

bool TsSource::open() {
  opened_ = false;
  refusal_.clear();
  demux_.reset();
  block_fill_ = 0;
  block_pos_ = 0;
  ended_ = false;
  number_ = 0;
  held_.clear();
  held_pos_ = 0;
  out_ = TsSlice();

  packet_size_ = choice_.packet_size;
  if (packet_size_ == 0) {
    fill(kBlockBytes);
    packet_size_ = detect_ts_packet_size(block_.data() + block_pos_, block_fill_ - block_pos_);
    // Not framed as any size: read as 188-byte packets, which finds the sync
    // wherever it is.
    if (packet_size_ == 0) packet_size_ = kTsPacketBytes;
  }
  sync_offset_ = packet_size_ == 192 ? 4 : 0;

  // The tables come first; the packets read meanwhile are held, to be
  // demultiplexed once the stream is chosen.
  while (number_ < kMaxHeldPackets) {
    const uint8_t* packet = next_packet();
    if (packet == nullptr) break;
    demux_.read_tables(packet, number_ - 1);
    held_.insert(held_.end(), packet, packet + kTsPacketBytes);
    if (demux_.structure().all_pmts_seen()) break;
  }
  structure_ = demux_.structure();
  if (!choose()) return false;
  demux_.select(pid_);
  opened_ = true;
  return true;
}

bool TsSource::choose() {
  const TsStructure& s = structure_;
  char text[160];
  if (choice_.by_pid) {
    pid_ = choice_.pid;
    const int32_t type = s.stream_type_of(pid_);
    if (type >= 0 && type != kStreamTypeH264) {
      std::snprintf(text, sizeof text, "PID %u carries %s (stream_type 0x%02X), not H.264 video; ", pid_,
                    stream_type_description(static_cast<uint8_t>(type)), static_cast<unsigned>(type));
      refusal_ = text + describe_programs(s);
      return false;
    }
    if (type < 0 && s.all_pmts_seen()) {
      std::snprintf(text, sizeof text, "PID %u is not a stream of any program; ", pid_);
      refusal_ = text + describe_programs(s);
      return false;
    }
    return true;
  }
  for (const TsProgram& program : s.programs) {
    if (choice_.by_program && program.program_number != choice_.program_number) continue;
    for (const TsElementaryStream& stream : program.streams) {
      if (stream.stream_type == kStreamTypeH264) {
        pid_ = stream.elementary_PID;
        return true;
      }
    }
  }
  if (choice_.by_program && s.find_program(choice_.program_number) == nullptr) {
    std::snprintf(text, sizeof text, "no program %u in the transport stream; ", choice_.program_number);
  } else if (choice_.by_program) {
    std::snprintf(text, sizeof text, "program %u has no H.264 stream; ", choice_.program_number);
  } else {
    std::snprintf(text, sizeof text, "no H.264 stream in the transport stream; ");
  }
  refusal_ = text + describe_programs(s);
  return false;
}

std::size_t TsSource::read(uint8_t* into, std::size_t count) {
  if (!opened_) return 0;
  std::size_t done = 0;
  while (done < count) {
    if (out_.length > 0) {
      const std::size_t take = std::min(out_.length, count - done);
      std::memcpy(into + done, out_.data, take);
      done += take;
      out_.data += take;
      out_.length -= take;
      continue;
    }
    if (held_pos_ * kTsPacketBytes < held_.size()) {
      out_ = demux_.take_payload(held_.data() + held_pos_ * kTsPacketBytes, held_pos_);
      ++held_pos_;
      continue;
    }
    if (!held_.empty()) std::vector<uint8_t>().swap(held_);  // all handed out: the memory goes back
    const uint8_t* packet = next_packet();
    if (packet == nullptr) break;
    demux_.read_tables(packet, number_ - 1);
    out_ = demux_.take_payload(packet, number_ - 1);
  }
  return done;
}

// Packets of this reading that went through the demultiplexer: the held ones
// have been read from the file but count only once they are handed out, or a
// restart that held the whole stream would look as far as the reading before.
uint64_t TsSource::packets_demultiplexed() const {
  return held_pos_ * kTsPacketBytes < held_.size() ? held_pos_ : number_;
}

bool TsSource::restart() {
  if (packets_demultiplexed() >= best_packets_) {
    best_packets_ = packets_demultiplexed();
    best_errors_ = demux_.counts();
  }
  if (!packets_.restart()) return false;
  return open();
}

TsErrorCounts TsSource::errors() const {
  return packets_demultiplexed() >= best_packets_ ? demux_.counts() : best_errors_;
}

bool TsFileReading::begin(std::FILE* file, TsWarningFn warn) {
  const InputHead head = read_input_head(file, kInputHeadBytes);
  if (head.taken) return false;  // a stream that cannot be sought is not looked at here
  if (recognize_input(head.bytes.data(), head.bytes.size()).kind != InputKind::TransportStream) return false;
  ts_.emplace(file_.emplace(file), TsChoice{}, std::move(warn));
  if (!ts_->open()) {
    refusal_ = ts_->refusal();
    ts_.reset();
  }
  return true;
}

}  // namespace tarnwell
