#include "stream/ts_sections.h"

#include <algorithm>
#include <cstring>

#include "stream/ts_packet_fields.h"

namespace tarnwell {

namespace {

constexpr std::array<uint32_t, 256> make_crc_table() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t crc = i << 24;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x80000000u) != 0 ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    table[i] = crc;
  }
  return table;
}

constexpr std::array<uint32_t, 256> kCrcTable = make_crc_table();
constexpr uint8_t kProgramMapTableId = 0x02;
constexpr uint8_t kAvcTimingAndHrdDescriptor = 0x2A;

struct StreamTypeName {
  uint8_t stream_type;
  const char* codec;
  const char* description;
};

constexpr StreamTypeName kStreamTypes[] = {
    {0x01, "mpeg1video", "MPEG-1 video"},
    {0x02, "mpeg2video", "MPEG-2 video"},
    {0x03, "mp2", "MPEG-1 audio"},
    {0x04, "mp2", "MPEG-2 audio"},
    {0x05, "private_sections", "private sections"},
    {0x06, "private_pes", "private data"},
    {0x0F, "aac", "AAC audio"},
    {0x10, "mpeg4", "MPEG-4 video"},
    {0x11, "aac_latm", "AAC LATM audio"},
    {0x15, "metadata", "metadata"},
    {0x1B, "h264", "H.264 video"},
    {0x1C, "mp4a", "MPEG-4 audio"},
    {0x20, "h264_mvc", "H.264 MVC video"},
    {0x24, "hevc", "HEVC video"},
    {0x33, "vvc", "VVC video"},
    {0x42, "cavs", "AVS video"},
    {0x80, "pcm_bluray", "LPCM audio"},
    {0x81, "ac3", "AC-3 audio"},
    {0x82, "dts", "DTS audio"},
    {0x86, "scte35", "SCTE-35 cues"},
    {0x87, "eac3", "E-AC-3 audio"},
    {0x90, "pgs", "PGS subtitles"},
    {0xEA, "vc1", "VC-1 video"},
};

const StreamTypeName* find_stream_type(uint8_t stream_type) {
  for (const StreamTypeName& name : kStreamTypes) {
    if (name.stream_type == stream_type) return &name;
  }
  return nullptr;
}

uint16_t pid_at(const uint8_t* bytes) { return static_cast<uint16_t>(((bytes[0] & 0x1F) << 8) | bytes[1]); }
uint16_t length12_at(const uint8_t* bytes) { return static_cast<uint16_t>(((bytes[0] & 0x0F) << 8) | bytes[1]); }

// One PAT section; `fresh`: a new table (first seen or new version), which
// replaces the programs, else a further section of the same table.
void read_pat(const uint8_t* s, std::size_t length, bool fresh, TsStructure& structure) {
  std::vector<TsProgram> programs;
  if (!fresh) programs = structure.programs;
  for (std::size_t pos = 8; pos + 4 <= length - 4; pos += 4) {
    const uint16_t program_number = static_cast<uint16_t>((s[pos] << 8) | s[pos + 1]);
    const uint16_t pmt_pid = pid_at(s + pos + 2);
    if (program_number == 0) continue;  // the network PID
    auto same = std::find_if(programs.begin(), programs.end(),
                             [&](const TsProgram& p) { return p.program_number == program_number; });
    if (same != programs.end()) continue;
    TsProgram program;
    program.program_number = program_number;
    program.program_map_PID = pmt_pid;
    // What the last table knew of this program's PMT stays while its PID does.
    const TsProgram* known = structure.find_program(program_number);
    if (known != nullptr && known->program_map_PID == pmt_pid) program = *known;
    programs.push_back(program);
  }
  std::sort(programs.begin(), programs.end(),
            [](const TsProgram& a, const TsProgram& b) { return a.program_number < b.program_number; });
  structure.programs = std::move(programs);
}

SectionResult read_pmt(const uint8_t* s, std::size_t length, uint16_t pid, TsStructure& structure) {
  if (length < 16) return SectionResult::kIgnored;
  const uint16_t program_number = static_cast<uint16_t>((s[3] << 8) | s[4]);
  const uint8_t version = static_cast<uint8_t>((s[5] >> 1) & 0x1F);
  auto program = std::find_if(structure.programs.begin(), structure.programs.end(), [&](const TsProgram& p) {
    return p.program_number == program_number && p.program_map_PID == pid;
  });
  if (program == structure.programs.end()) return SectionResult::kIgnored;
  if (program->pmt_seen && program->pmt_version == version) return SectionResult::kRead;
  program->pmt_seen = true;
  program->pmt_version = version;
  program->PCR_PID = pid_at(s + 8);
  program->streams.clear();
  const std::size_t end = length - 4;
  std::size_t pos = 12 + std::size_t{length12_at(s + 10)};
  while (pos + 5 <= end) {
    TsElementaryStream stream;
    stream.stream_type = s[pos];
    stream.elementary_PID = pid_at(s + pos + 1);
    program->streams.push_back(stream);
    pos += 5 + std::size_t{length12_at(s + pos + 3)};
  }
  return SectionResult::kRead;
}

}  // namespace

uint32_t mpeg_crc32(const uint8_t* bytes, std::size_t count) {
  uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < count; ++i) crc = (crc << 8) ^ kCrcTable[((crc >> 24) ^ bytes[i]) & 0xFF];
  return crc;
}

const TsProgram* TsStructure::find_program(uint16_t program_number) const {
  for (const TsProgram& program : programs) {
    if (program.program_number == program_number) return &program;
  }
  return nullptr;
}

int32_t TsStructure::stream_type_of(uint16_t pid) const {
  for (const TsProgram& program : programs) {
    for (const TsElementaryStream& stream : program.streams) {
      if (stream.elementary_PID == pid) return stream.stream_type;
    }
  }
  return -1;
}

bool TsStructure::all_pmts_seen() const {
  if (!pat_seen) return false;
  return std::all_of(programs.begin(), programs.end(), [](const TsProgram& p) { return p.pmt_seen; });
}

const char* stream_type_codec(uint8_t stream_type) {
  const StreamTypeName* name = find_stream_type(stream_type);
  return name != nullptr ? name->codec : "unknown";
}

const char* stream_type_description(uint8_t stream_type) {
  const StreamTypeName* name = find_stream_type(stream_type);
  return name != nullptr ? name->description : "unknown stream type";
}

void SectionCollector::append(const uint8_t* bytes, std::size_t length, const SectionFn& done, std::size_t& used) {
  used = 0;
  while (used < length) {
    std::size_t want = 3;
    if (fill_ >= 3) want = 3 + std::size_t{length12_at(section_.data() + 1)};
    if (want > kMaxSection) {  // no such section: what follows cannot be trusted
      reset();
      used = length;
      return;
    }
    const std::size_t take = std::min(want - fill_, length - used);
    std::memcpy(section_.data() + fill_, bytes + used, take);
    fill_ += take;
    used += take;
    if (fill_ >= 3 && fill_ == 3 + std::size_t{length12_at(section_.data() + 1)}) {
      const std::size_t total = fill_;
      reset();
      done(section_.data(), total);
      return;
    }
  }
}

void SectionCollector::push(const uint8_t* payload, std::size_t length, bool unit_start, bool lost,
                            const SectionFn& done) {
  if (lost) reset();
  std::size_t used = 0;
  if (!unit_start) {
    // A section ends here at most; the rest of the packet is stuffing.
    if (collecting_) append(payload, length, done, used);
    return;
  }
  if (length == 0) return;
  const std::size_t pointer = payload[0];
  std::size_t pos = 1;
  if (collecting_) {
    // The bytes before the pointed-to section end the one being collected;
    // when they do not, that section is broken.
    append(payload + pos, std::min(pointer, length - pos), done, used);
    reset();
  }
  pos += pointer;
  while (pos < length && payload[pos] != 0xFF) {
    collecting_ = true;
    fill_ = 0;
    append(payload + pos, length - pos, done, used);
    pos += used;
    if (collecting_) break;  // continues in the next packet
  }
}

int32_t avc_hrd_management_flag(const uint8_t* section, std::size_t length, uint16_t pid) {
  if (length < 16 || section[0] != kProgramMapTableId) return -1;
  const std::size_t end = std::min<std::size_t>(3 + length12_at(section + 1), length);
  if (end < 4) return -1;
  const std::size_t loop_end = end - 4;  // before CRC_32
  std::size_t at = 12 + std::size_t{length12_at(section + 10)};
  while (at + 5 <= loop_end) {
    const std::size_t es_info_length = length12_at(section + at + 3);
    std::size_t d = at + 5;
    const std::size_t d_end = std::min(d + es_info_length, loop_end);
    if (pid_at(section + at + 1) == pid) {
      while (d + 2 <= d_end) {
        const std::size_t descriptor_length = section[d + 1];
        if (section[d] == kAvcTimingAndHrdDescriptor && descriptor_length >= 1 && d + 3 <= d_end) {
          return section[d + 2] >> 7;
        }
        d += 2 + descriptor_length;
      }
      return -1;
    }
    at = d + es_info_length;
  }
  return -1;
}

SectionResult read_psi_section(const uint8_t* section, std::size_t length, uint16_t pid, TsStructure& structure) {
  const uint8_t table_id = section[0];
  if (length < 12 || (section[1] & 0x80) == 0) return SectionResult::kIgnored;
  if (mpeg_crc32(section, length) != 0) return SectionResult::kBadCrc;
  if ((section[5] & 0x01) == 0) return SectionResult::kIgnored;  // not yet current
  const uint8_t version = static_cast<uint8_t>((section[5] >> 1) & 0x1F);
  if (table_id == 0x00 && pid == kPatPid) {
    const bool fresh = !structure.pat_seen || structure.pat_version != version;
    read_pat(section, length, fresh, structure);
    structure.pat_seen = true;
    structure.pat_version = version;
    return SectionResult::kRead;
  }
  if (table_id == kProgramMapTableId) return read_pmt(section, length, pid, structure);
  return SectionResult::kIgnored;
}

}  // namespace tarnwell
