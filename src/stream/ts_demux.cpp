#include "stream/ts_demux.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace tarnwell {

namespace {

// Stream ids whose PES carries no optional header: the payload follows the
// six fixed bytes.
bool has_optional_header(uint8_t stream_id) {
  switch (stream_id) {
    case 0xBC:  // program_stream_map
    case 0xBE:  // padding_stream
    case 0xBF:  // private_stream_2
    case 0xF0:  // ECM
    case 0xF1:  // EMM
    case 0xF2:  // DSMCC_stream
    case 0xF8:  // ITU-T H.222.1 type E
    case 0xFF:  // program_stream_directory
      return false;
    default:
      return true;
  }
}

// A PTS or DTS: 33 bits in five bytes, with marker bits between the parts.
uint64_t read_timestamp(const uint8_t* b) {
  return (uint64_t{b[0] & 0x0Eu} << 29) | (uint64_t{b[1]} << 22) | (uint64_t{b[2] & 0xFEu} << 14) |
         (uint64_t{b[3]} << 7) | (uint64_t{b[4]} >> 1);
}

// Video PES packets begin with an access unit, so with a start code. Too
// few bytes to tell count as a beginning when they are all zero.
bool begins_with_start_code(const uint8_t* b, std::size_t n) {
  if (n >= 3 && b[0] == 0 && b[1] == 0 && b[2] == 1) return true;
  if (n >= 4 && b[0] == 0 && b[1] == 0 && b[2] == 0 && b[3] == 1) return true;
  if (n < 4) return std::all_of(b, b + n, [](uint8_t v) { return v == 0; });
  return false;
}

}  // namespace

uint32_t detect_ts_packet_size(const uint8_t* bytes, std::size_t count) {
  constexpr uint32_t kSizes[] = {188, 192, 204};
  constexpr std::size_t kPacketsToSee = 5;
  if (bytes == nullptr) return 0;
  for (uint32_t size : kSizes) {
    const std::size_t offset = size == 192 ? 4 : 0;
    const std::size_t packets = std::min(count / size, kPacketsToSee);
    if (packets == 0) continue;
    bool all = true;
    for (std::size_t k = 0; k < packets && all; ++k) all = bytes[offset + k * size] == kTsSyncByte;
    if (all) return size;
  }
  return 0;
}

TsPacketHeader read_packet_header(const uint8_t* p) {
  TsPacketHeader h;
  h.transport_error = (p[1] & 0x80) != 0;
  h.unit_start = (p[1] & 0x40) != 0;
  h.pid = static_cast<uint16_t>(((p[1] & 0x1F) << 8) | p[2]);
  const uint8_t adaptation_field_control = (p[3] >> 4) & 0x03;
  h.continuity_counter = p[3] & 0x0F;
  h.has_payload = (adaptation_field_control & 0x01) != 0;
  std::size_t offset = 4;
  if ((adaptation_field_control & 0x02) != 0) {
    const std::size_t adaptation_field_length = p[4];
    if (adaptation_field_length > 0) h.discontinuity = (p[5] & 0x80) != 0;
    offset = 5 + adaptation_field_length;
  }
  // An adaptation field that runs past the packet leaves no payload.
  if (h.has_payload && offset < kTsPacketBytes) {
    h.payload = p + offset;
    h.payload_length = kTsPacketBytes - offset;
  }
  return h;
}

void TsDemux::reset() { *this = TsDemux(std::move(warn_)); }

void TsDemux::warn(const char* format, ...) {
  if (!warn_) return;
  char text[256];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  warn_(text);
}

void TsDemux::read_tables(const uint8_t* packet, uint64_t number) {
  is_psi_pid_[kPatPid] = true;
  const TsPacketHeader h = read_packet_header(packet);
  if (!is_psi_pid_[h.pid] || !h.has_payload) return;
  PsiPid& psi = psi_[h.pid];
  bool lost = false;
  if (psi.last_cc >= 0 && !h.discontinuity) {
    if (h.continuity_counter == psi.last_cc) return;  // a repeated packet
    lost = h.continuity_counter != ((psi.last_cc + 1) & 0x0F);
  }
  psi.last_cc = h.continuity_counter;
  if (h.payload_length == 0) return;
  bool pat_read = false;
  psi.collector.push(h.payload, h.payload_length, h.unit_start, lost, [&](const uint8_t* section, std::size_t length) {
    const SectionResult result = read_psi_section(section, length, h.pid, structure_);
    if (result == SectionResult::kBadCrc) {
      ++counts_.bad_crc;
      warn("Transport stream: a table section on PID %u ending in packet %llu has a wrong CRC_32 and is ignored", h.pid,
           static_cast<unsigned long long>(number));
    }
    if (result == SectionResult::kRead && h.pid == kPatPid) pat_read = true;
  });
  if (pat_read) {
    for (const TsProgram& program : structure_.programs) is_psi_pid_[program.program_map_PID] = true;
  }
}

void TsDemux::select(uint16_t pid) {
  pid_ = pid;
  selected_ = true;
}

TsSlice TsDemux::take_payload(const uint8_t* packet, uint64_t number) {
  const TsPacketHeader h = read_packet_header(packet);
  if (!selected_ || h.pid != pid_) return {};
  const unsigned long long n = number;
  if (h.transport_error) {
    ++counts_.transport_error;
    warn("Transport stream: packet %llu on PID %u has its transport_error_indicator set", n, h.pid);
  }
  if (!h.has_payload) return {};
  if (last_cc_ >= 0 && !h.discontinuity) {
    // The standard lets a packet come twice in a row: the copy adds nothing.
    if (h.continuity_counter == last_cc_ && !duplicate_seen_) {
      duplicate_seen_ = true;
      return {};
    }
    const int32_t expected = (last_cc_ + 1) & 0x0F;
    if (h.continuity_counter != expected) {
      ++counts_.continuity;
      warn(
          "Transport stream: continuity error on PID %u at packet %llu (continuity_counter %u, expected %d): "
          "packets lost",
          h.pid, n, h.continuity_counter, expected);
    }
  }
  if (h.continuity_counter != last_cc_) duplicate_seen_ = false;
  last_cc_ = h.continuity_counter;
  if (h.payload_length == 0) return {};

  if (h.unit_start) {
    state_ = PesState::kHeader;
    header_fill_ = 0;
    orphan_reported_ = false;
    pes_ = TsPesHeader();
    pes_.packet = number;
    ++pes_count_;
    return take_header(h.payload, h.payload_length, number);
  }
  switch (state_) {
    case PesState::kNone:
      if (!orphan_reported_) {
        orphan_reported_ = true;
        ++counts_.pes_mid_access_unit;
        warn("Transport stream: data on PID %u from packet %llu before its first PES start is skipped", h.pid, n);
      }
      return {};
    case PesState::kSkip:
      return {};
    case PesState::kHeader:
      return take_header(h.payload, h.payload_length, number);
    case PesState::kPayload:
      return take_pes_payload(h.payload, h.payload_length, number);
  }
  return {};
}

TsSlice TsDemux::take_header(const uint8_t* bytes, std::size_t length, uint64_t number) {
  std::size_t used = 0;
  // The header collects across packets until `want` bytes are in.
  auto gather = [&](std::size_t want) {
    const std::size_t take = std::min(want > header_fill_ ? want - header_fill_ : 0, length - used);
    std::memcpy(header_ + header_fill_, bytes + used, take);
    header_fill_ += take;
    used += take;
    return header_fill_ >= want;
  };
  if (!gather(6)) return {};
  if (header_[0] != 0 || header_[1] != 0 || header_[2] != 1) {
    state_ = PesState::kSkip;
    ++counts_.pes_mid_access_unit;
    warn("Transport stream: PES on PID %u at packet %llu does not begin with a start code; skipped", pid_,
         static_cast<unsigned long long>(number));
    return {};
  }
  pes_.stream_id = header_[3];
  pes_.PES_packet_length = static_cast<uint16_t>((header_[4] << 8) | header_[5]);
  std::size_t header_size = 6;
  if (has_optional_header(pes_.stream_id)) {
    if (!gather(9)) return {};
    header_size = 9 + std::size_t{header_[8]};
    if (!gather(header_size)) return {};
    const uint8_t PTS_DTS_flags = header_[7] >> 6;
    if ((PTS_DTS_flags & 0x02) != 0 && header_size >= 14) {
      pes_.has_pts = true;
      pes_.pts = read_timestamp(header_ + 9);
    }
    if (PTS_DTS_flags == 0x03 && header_size >= 19) {
      pes_.has_dts = true;
      pes_.dts = read_timestamp(header_ + 14);
    }
  }
  unbounded_ = pes_.PES_packet_length == 0;
  const std::size_t after_length = header_size - 6;
  payload_left_ = pes_.PES_packet_length > after_length ? pes_.PES_packet_length - after_length : 0;
  state_ = PesState::kPayload;
  first_payload_ = true;
  return take_pes_payload(bytes + used, length - used, number);
}

TsSlice TsDemux::take_pes_payload(const uint8_t* bytes, std::size_t length, uint64_t number) {
  std::size_t take = length;
  if (!unbounded_) {
    take = static_cast<std::size_t>(std::min<uint64_t>(payload_left_, length));
    payload_left_ -= take;
    if (payload_left_ == 0) state_ = PesState::kSkip;  // bytes after a bounded PES belong to none
  }
  if (take > 0 && first_payload_) {
    first_payload_ = false;
    if (!begins_with_start_code(bytes, take)) {
      ++counts_.pes_mid_access_unit;
      warn("Transport stream: PES on PID %u at packet %llu starts in the middle of an access unit", pid_,
           static_cast<unsigned long long>(number));
    }
  }
  return TsSlice{take > 0 ? bytes : nullptr, take};
}

void TsDemux::note_sync_loss(uint64_t number, uint64_t skipped) {
  ++counts_.sync_loss;
  warn("Transport stream: sync lost before packet %llu; %llu bytes skipped to find it again",
       static_cast<unsigned long long>(number), static_cast<unsigned long long>(skipped));
}

void TsDemux::note_trailing_bytes(uint64_t number, uint64_t count) {
  ++counts_.sync_loss;
  warn("Transport stream: the last %llu bytes, after packet %llu, are not a whole packet",
       static_cast<unsigned long long>(count), static_cast<unsigned long long>(number));
}

}  // namespace tarnwell
