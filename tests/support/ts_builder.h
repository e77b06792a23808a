#pragma once
// Transport streams for tests: hand-built packets for the corner cases of
// sections and PES, and real multiplexes made by ffmpeg (natively only)
// with the damage a broadcast chain does to them.
#include <cstdint>
#include <string>
#include <vector>

namespace tarnwell::test {

using Bytes = std::vector<uint8_t>;

// One 188-byte packet: header, an adaptation field when `stuffing` or a
// short payload needs one, the payload (at most 184 bytes less the field).
Bytes ts_packet(uint16_t pid, bool unit_start, uint8_t continuity_counter, const Bytes& payload,
                bool transport_error = false);

// A section with its CRC_32: PAT (program_number -> PMT PID pairs) and PMT.
struct PmtEntry {
  uint8_t stream_type;
  uint16_t pid;
};
Bytes pat_section(const std::vector<std::pair<uint16_t, uint16_t>>& programs, uint8_t version = 0);
Bytes pmt_section(uint16_t program_number, uint16_t pcr_pid, const std::vector<PmtEntry>& streams, uint8_t version = 0);

// Packets of a PSI PID carrying `sections` back to back behind one
// pointer_field of 0, spanning as many packets as they need.
std::vector<Bytes> section_packets(uint16_t pid, const Bytes& sections, uint8_t& continuity_counter);

// A PES header for stream_id 0xE0 with a PTS (and a DTS when dts >= 0),
// PES_packet_length 0 unless given.
Bytes pes_header(int64_t pts, int64_t dts = -1, uint16_t pes_packet_length = 0);
// The packets of one PES (header then payload) on pid.
std::vector<Bytes> pes_packets(uint16_t pid, const Bytes& pes, uint8_t& continuity_counter);

Bytes join(const std::vector<Bytes>& packets);
// Every 188-byte packet with four bytes before it (192) or sixteen after it (204).
Bytes reframe(const Bytes& ts188, uint32_t packet_size);
std::vector<Bytes> split_packets(const Bytes& ts188);
uint16_t packet_pid(const Bytes& packet);

Bytes read_file_bytes(const std::string& path);
bool write_file_bytes(const std::string& path, const Bytes& bytes);

// ffmpeg with these arguments (after "-loglevel error -y"); false when it
// could not run or failed. Always false on Windows, where the tests that
// need it skip.
bool run_ffmpeg(const std::string& arguments);
// ffmpeg's own extraction of a video stream: -map MAP -c copy -f h264, the
// first video stream by default.
bool ffmpeg_extract(const std::string& ts_path, const std::string& out_path, const std::string& map = "0:v:0");

}  // namespace tarnwell::test
