#include "support/ts_builder.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace tarnwell::test {

namespace {

uint32_t crc32_mpeg(const Bytes& bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (uint8_t byte : bytes) {
    crc ^= uint32_t{byte} << 24;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x80000000u) != 0 ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
  }
  return crc;
}

// table_id, the syntax header and body, section_length set, CRC appended.
Bytes finish_section(uint8_t table_id, uint16_t id, uint8_t version, const Bytes& body) {
  const std::size_t section_length = 5 + body.size() + 4;
  // Built a byte at a time: mingw's g++ 12 at -O3 takes a range insert
  // after an initializer list for an overflow.
  Bytes s;
  s.reserve(8 + body.size() + 4);
  for (uint8_t byte : {table_id, static_cast<uint8_t>(0xB0 | (section_length >> 8)),
                       static_cast<uint8_t>(section_length), static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id),
                       static_cast<uint8_t>(0xC1 | (version << 1)), uint8_t{0x00}, uint8_t{0x00}}) {
    s.push_back(byte);
  }
  for (uint8_t byte : body) s.push_back(byte);
  const uint32_t crc = crc32_mpeg(s);
  for (int shift = 24; shift >= 0; shift -= 8) s.push_back(static_cast<uint8_t>(crc >> shift));
  return s;
}

void put_pid(Bytes& out, uint8_t high_bits, uint16_t pid) {
  out.push_back(static_cast<uint8_t>(high_bits | (pid >> 8)));
  out.push_back(static_cast<uint8_t>(pid));
}

void put_timestamp(Bytes& out, uint8_t prefix, uint64_t t) {
  out.push_back(static_cast<uint8_t>((prefix << 4) | ((t >> 29) & 0x0E) | 1));
  out.push_back(static_cast<uint8_t>(t >> 22));
  out.push_back(static_cast<uint8_t>(((t >> 14) & 0xFE) | 1));
  out.push_back(static_cast<uint8_t>(t >> 7));
  out.push_back(static_cast<uint8_t>(((t << 1) & 0xFE) | 1));
}

}  // namespace

Bytes ts_packet(uint16_t pid, bool unit_start, uint8_t continuity_counter, const Bytes& payload, bool transport_error) {
  Bytes p = {0x47, static_cast<uint8_t>((transport_error ? 0x80 : 0) | (unit_start ? 0x40 : 0) | (pid >> 8)),
             static_cast<uint8_t>(pid), 0};
  const std::size_t room = 184;
  std::size_t take = payload.size() < room ? payload.size() : room;
  if (take < room) {
    // An adaptation field of stuffing fills what the payload leaves.
    const std::size_t field = room - take;  // bytes of the whole field, length byte included
    p.push_back(static_cast<uint8_t>(field - 1));
    if (field >= 2) p.push_back(0x00);  // no flags
    for (std::size_t i = 2; i < field; ++i) p.push_back(0xFF);
    p[3] = static_cast<uint8_t>(0x30 | (continuity_counter & 0x0F));
  } else {
    p[3] = static_cast<uint8_t>(0x10 | (continuity_counter & 0x0F));
  }
  p.insert(p.end(), payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(take));
  return p;
}

Bytes pat_section(const std::vector<std::pair<uint16_t, uint16_t>>& programs, uint8_t version) {
  Bytes body;
  for (const auto& [number, pmt_pid] : programs) {
    body.push_back(static_cast<uint8_t>(number >> 8));
    body.push_back(static_cast<uint8_t>(number));
    put_pid(body, 0xE0, pmt_pid);
  }
  return finish_section(0x00, 1, version, body);
}

Bytes pmt_section(uint16_t program_number, uint16_t pcr_pid, const std::vector<PmtEntry>& streams, uint8_t version) {
  Bytes body;
  put_pid(body, 0xE0, pcr_pid);
  body.push_back(0xF0);
  body.push_back(0x00);  // no program descriptors
  for (const PmtEntry& stream : streams) {
    body.push_back(stream.stream_type);
    put_pid(body, 0xE0, stream.pid);
    body.push_back(0xF0);
    body.push_back(0x00);
  }
  return finish_section(0x02, program_number, version, body);
}

std::vector<Bytes> section_packets(uint16_t pid, const Bytes& sections, uint8_t& continuity_counter) {
  Bytes data = {0x00};  // pointer_field
  data.insert(data.end(), sections.begin(), sections.end());
  std::vector<Bytes> packets;
  for (std::size_t pos = 0; pos < data.size(); pos += 184) {
    Bytes part(data.begin() + static_cast<std::ptrdiff_t>(pos),
               data.begin() + static_cast<std::ptrdiff_t>(std::min(pos + 184, data.size())));
    part.resize(184, 0xFF);  // sections are stuffed with 0xFF, not with an adaptation field
    packets.push_back(ts_packet(pid, pos == 0, continuity_counter++, part));
  }
  return packets;
}

Bytes pes_header(int64_t pts, int64_t dts, uint16_t pes_packet_length) {
  Bytes h = {0x00,
             0x00,
             0x01,
             0xE0,
             static_cast<uint8_t>(pes_packet_length >> 8),
             static_cast<uint8_t>(pes_packet_length),
             0x84,
             static_cast<uint8_t>(dts >= 0 ? 0xC0 : 0x80),
             static_cast<uint8_t>(dts >= 0 ? 10 : 5)};
  put_timestamp(h, dts >= 0 ? 3 : 2, static_cast<uint64_t>(pts));
  if (dts >= 0) put_timestamp(h, 1, static_cast<uint64_t>(dts));
  return h;
}

std::vector<Bytes> pes_packets(uint16_t pid, const Bytes& pes, uint8_t& continuity_counter) {
  std::vector<Bytes> packets;
  for (std::size_t pos = 0; pos < pes.size(); pos += 184) {
    Bytes part(pes.begin() + static_cast<std::ptrdiff_t>(pos),
               pes.begin() + static_cast<std::ptrdiff_t>(std::min(pos + 184, pes.size())));
    packets.push_back(ts_packet(pid, pos == 0, continuity_counter++, part));
  }
  return packets;
}

Bytes join(const std::vector<Bytes>& packets) {
  Bytes out;
  for (const Bytes& p : packets) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes reframe(const Bytes& ts188, uint32_t packet_size) {
  Bytes out;
  for (std::size_t pos = 0; pos + 188 <= ts188.size(); pos += 188) {
    if (packet_size == 192) out.insert(out.end(), {0x00, 0x01, 0x02, static_cast<uint8_t>(pos)});
    out.insert(out.end(), ts188.begin() + static_cast<std::ptrdiff_t>(pos),
               ts188.begin() + static_cast<std::ptrdiff_t>(pos + 188));
    if (packet_size == 204) out.insert(out.end(), 16, 0x47);  // parity bytes, made to look like sync bytes
  }
  return out;
}

std::vector<Bytes> split_packets(const Bytes& ts188) {
  std::vector<Bytes> packets;
  for (std::size_t pos = 0; pos + 188 <= ts188.size(); pos += 188) {
    packets.emplace_back(ts188.begin() + static_cast<std::ptrdiff_t>(pos),
                         ts188.begin() + static_cast<std::ptrdiff_t>(pos + 188));
  }
  return packets;
}

uint16_t packet_pid(const Bytes& packet) { return static_cast<uint16_t>(((packet[1] & 0x1F) << 8) | packet[2]); }

Bytes read_file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool write_file_bytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

bool run_ffmpeg(const std::string& arguments) {
#ifdef _WIN32
  (void)arguments;
  return false;
#else
  const std::string command = "ffmpeg -nostdin -loglevel error -y " + arguments + " </dev/null >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
#endif
}

bool ffmpeg_extract(const std::string& ts_path, const std::string& out_path, const std::string& map) {
  return run_ffmpeg("-i '" + ts_path + "' -map " + map + " -c copy -f h264 '" + out_path + "'");
}

}  // namespace tarnwell::test
