#pragma once
// The program tables of an MPEG transport stream: the program association
// table (PID 0) and the program map tables it points to. Sections are
// collected from the packets of their PID (a section may span packets, and
// one packet may end one section and begin others), checked against their
// CRC-32 and read into one TsStructure, which follows version changes.
#include <array>
#include <cstdint>
#include <functional>
#include <vector>

namespace tarnwell {

inline constexpr uint16_t kPatPid = 0x0000;
inline constexpr uint16_t kNullPid = 0x1FFF;
inline constexpr uint8_t kStreamTypeH264 = 0x1B;

// The CRC-32 of MPEG-2 sections (polynomial 0x04C11DB7, all ones at the
// start, no reflection); a whole section, its CRC_32 field included, gives 0.
uint32_t mpeg_crc32(const uint8_t* bytes, std::size_t count);

struct TsElementaryStream {
  uint16_t elementary_PID = 0;
  uint8_t stream_type = 0;
};

struct TsProgram {
  uint16_t program_number = 0;
  uint16_t program_map_PID = 0;
  bool pmt_seen = false;
  uint8_t pmt_version = 0;
  uint16_t PCR_PID = kNullPid;
  std::vector<TsElementaryStream> streams;  // in the order of the PMT
};

struct TsStructure {
  bool pat_seen = false;
  uint8_t pat_version = 0;
  std::vector<TsProgram> programs;  // by program_number, ascending; the network PID is left out

  const TsProgram* find_program(uint16_t program_number) const;
  // The stream type of an elementary PID in any program's PMT; -1 when no
  // PMT seen names it.
  int32_t stream_type_of(uint16_t pid) const;
  bool all_pmts_seen() const;
};

// A short name for a stream_type ("h264", "aac", ...) and a description
// for text ("H.264 video"); "unknown" and "unknown stream type" otherwise.
const char* stream_type_codec(uint8_t stream_type);
const char* stream_type_description(uint8_t stream_type);

// Collects the sections of one PSI PID from its packets' payloads.
class SectionCollector {
 public:
  // A complete section (its whole bytes, CRC_32 included, not yet checked).
  using SectionFn = std::function<void(const uint8_t* section, std::size_t length)>;

  // The payload of one packet of the PID; `unit_start` is its
  // payload_unit_start_indicator. `lost` says packets were lost before this
  // one: the section being collected is dropped.
  void push(const uint8_t* payload, std::size_t length, bool unit_start, bool lost, const SectionFn& done);
  void reset() {
    fill_ = 0;
    collecting_ = false;
  }

 private:
  void append(const uint8_t* bytes, std::size_t length, const SectionFn& done, std::size_t& used);

  static constexpr std::size_t kMaxSection = 4096;
  std::array<uint8_t, kMaxSection> section_{};
  std::size_t fill_ = 0;
  bool collecting_ = false;
};

// What reading one section did.
enum class SectionResult { kIgnored, kBadCrc, kRead };

// Reads a PAT or PMT section (after its CRC is checked) into structure;
// other tables and sections not current are ignored. A PAT of a new version
// replaces the programs (keeping what is known of PMTs whose PID stays); a
// PMT of a new version replaces the program's streams.
SectionResult read_psi_section(const uint8_t* section, std::size_t length, uint16_t pid, TsStructure& structure);

}  // namespace tarnwell
