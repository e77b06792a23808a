// Writes the small seed inputs of the fuzz targets, made from the shared test
// streams: for the syntax target each stream's parameter sets, SEI and first
// slices in that target's input form; for the buffer model the picture sizes
// of the .sizes files under a few settings; for the whole parse the start of
// each stream behind each window choice. The streams themselves are the
// whole parse's other seed folder and are read in place.
//
//   make_fuzz_seeds STREAMS_DIR OUT_DIR
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "base/error_reporter.h"
#include "fuzz_support.h"
#include "stream/nal_reader.h"
#include "stream/ts_sections.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using namespace tarnwell;

struct Nal {
  int type = 0;
  int ref_idc = 0;
  Bytes rbsp;  // after the header byte, emulation prevention bytes removed
};

std::vector<Nal> read_nal_units(const fs::path& path, std::size_t limit) {
  std::vector<Nal> units;
  std::FILE* file = std::fopen(path.string().c_str(), "rb");
  if (file == nullptr) return units;
  fuzz::QuietDialog dialog;
  ErrorReporter reporter(dialog);
  NalReader reader(reporter);
  reader.begin_stream(file);
  NalUnit nal;
  while (units.size() < limit && reader.GetAnnexbNALU(nal) == 1) {
    reader.prepare(nal);
    if (nal.length < 1) continue;
    Nal unit;
    unit.type = nal.nal_unit_type;
    unit.ref_idc = nal.nal_ref_idc;
    unit.rbsp.assign(nal.bytes + 1, nal.bytes + nal.length);
    units.push_back(std::move(unit));
  }
  std::fclose(file);
  return units;
}

class SeedWriter {
 public:
  explicit SeedWriter(fs::path dir) : dir_(std::move(dir)) { fs::create_directories(dir_); }
  void write(const Bytes& bytes) {
    if (!seen_.insert(bytes).second) return;
    char name[32];
    std::snprintf(name, sizeof name, "seed-%04zu", seen_.size());
    std::ofstream out(dir_ / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }

 private:
  fs::path dir_;
  std::set<Bytes> seen_;
};

void append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }
void append_separator(Bytes& out) { append(out, Bytes{0x00, 0x00, 0x01}); }

Bytes head(const Bytes& bytes, std::size_t count) {
  return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(std::min(count, bytes.size())));
}

void syntax_seeds(const fs::path& stream, SeedWriter& out) {
  const std::vector<Nal> units = read_nal_units(stream, 400);
  const Nal* sps = nullptr;
  const Nal* pps = nullptr;
  int slices = 0;
  for (const Nal& unit : units) {
    if (unit.type == 7) {
      sps = &unit;
      Bytes b{0x00};
      append(b, unit.rbsp);
      out.write(b);
    } else if (unit.type == 8) {
      pps = &unit;
      Bytes b{0x01};
      append(b, unit.rbsp);
      out.write(b);
    } else if ((unit.type == 6 || unit.type == 1 || unit.type == 5) && sps != nullptr && pps != nullptr) {
      const bool slice = unit.type != 6;
      if (slice && ++slices > 6) continue;
      uint8_t control = slice ? 0x03 : 0x02;
      if (unit.type == 5) control |= 0x04;
      if (slice) control = static_cast<uint8_t>(control | (unit.ref_idc << 3));
      Bytes b{control};
      append(b, sps->rbsp);
      append_separator(b);
      append(b, pps->rbsp);
      append_separator(b);
      // The slice header lies in the first bytes; the slice data adds nothing.
      append(b, slice ? head(unit.rbsp, 48) : unit.rbsp);
      out.write(b);
    }
  }
}

void put_u32(Bytes& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}
void put_u64(Bytes& out, uint64_t value) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

std::vector<uint32_t> read_sizes(const fs::path& path) {
  std::vector<uint32_t> sizes;
  std::ifstream in(path);
  uint64_t bytes = 0;
  while (sizes.size() < 255 && in >> bytes) sizes.push_back(static_cast<uint32_t>(bytes * 8));
  return sizes;
}

// buffer_size, initial_fill, bit_rate, frame rate in hundredths (0: from the
// stream), flags.
struct ModelSettings {
  uint32_t buffer_size, initial_fill, bit_rate;
  uint64_t frame_rate_hundredths;
  uint8_t flags;
};

void model_seeds(const fs::path& sizes_file, SeedWriter& out) {
  const std::vector<uint32_t> sizes = read_sizes(sizes_file);
  if (sizes.empty()) return;
  static constexpr ModelSettings kSettings[] = {
      {1000000, 900000, 1000000, 0, 0},     // the x264 stream's own buffer, frame rate from the stream
      {1000000, 900000, 0, 0, 0},           // bit-rate search
      {0, 0, 1000000, 2500, 0},             // buffer-size search
      {1000000, 900000, 1000000, 2500, 1},  // strict overflow check
      {10000000, 9000000, 0, 2997, 2},      // the dialog's defaults, check box flipping
      {300000, 270000, 300000, 3000, 0},
  };
  for (const ModelSettings& s : kSettings) {
    Bytes b;
    put_u32(b, s.buffer_size);
    put_u32(b, s.initial_fill);
    put_u32(b, s.bit_rate);
    put_u64(b, s.frame_rate_hundredths);
    put_u32(b, 50);  // frame_rate_num
    put_u64(b, 2);   // frame_rate_den
    b.push_back(s.flags);
    for (uint32_t bits : sizes) put_u32(b, bits);
    out.write(b);
  }
}

void whole_parse_seeds(const fs::path& stream, SeedWriter& out) {
  std::ifstream in(stream, std::ios::binary);
  Bytes start(6000);
  in.read(reinterpret_cast<char*>(start.data()), static_cast<std::streamsize>(start.size()));
  start.resize(static_cast<std::size_t>(in.gcount()));
  for (uint8_t window = 1; window <= 8; window += 3) {
    Bytes b{window};
    append(b, start);
    out.write(b);
  }
}

// A 188-byte packet: header, stuffing in an adaptation field, payload.
Bytes ts_packet(uint16_t pid, bool unit_start, uint8_t& cc, const Bytes& payload) {
  Bytes p = {0x47, static_cast<uint8_t>((unit_start ? 0x40 : 0) | (pid >> 8)), static_cast<uint8_t>(pid),
             static_cast<uint8_t>(0x30 | (cc++ & 0x0F))};
  const std::size_t field = 184 - payload.size();
  p.push_back(static_cast<uint8_t>(field - 1));
  if (field >= 2) p.push_back(0x00);
  p.resize(4 + field, 0xFF);
  append(p, payload);
  return p;
}

Bytes section(uint8_t table_id, uint16_t id, const Bytes& body) {
  const std::size_t length = 5 + body.size() + 4;
  Bytes s = {table_id, static_cast<uint8_t>(0xB0 | (length >> 8)), static_cast<uint8_t>(length),
             static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id), 0xC1, 0x00, 0x00};
  append(s, body);
  const uint32_t crc = tarnwell::mpeg_crc32(s.data(), s.size());
  for (int shift = 24; shift >= 0; shift -= 8) s.push_back(static_cast<uint8_t>(crc >> shift));
  return s;
}

// The start of a stream as a transport stream (PAT, PMT with an H.264 and
// an AAC PID, PES packets of about 1000 bytes), behind each packet-size choice.
void ts_seeds(const fs::path& stream, SeedWriter& out) {
  std::ifstream in(stream, std::ios::binary);
  Bytes es(4000);
  in.read(reinterpret_cast<char*>(es.data()), static_cast<std::streamsize>(es.size()));
  es.resize(static_cast<std::size_t>(in.gcount()));
  uint8_t cc[3] = {};
  Bytes ts;
  Bytes pat = {0x00};
  append(pat, section(0x00, 1, {0x00, 0x01, 0xE1, 0x00}));
  append(ts, ts_packet(0, true, cc[0], pat));
  Bytes pmt = {0x00};
  append(pmt, section(0x02, 1, {0xE1, 0x01, 0xF0, 0x00, 0x1B, 0xE1, 0x01, 0xF0, 0x00, 0x0F, 0xE1, 0x02, 0xF0, 0x00}));
  append(ts, ts_packet(0x100, true, cc[1], pmt));
  for (std::size_t pes_start = 0; pes_start < es.size(); pes_start += 1000) {
    Bytes pes = {0x00, 0x00, 0x01, 0xE0, 0x00, 0x00, 0x80, 0x80, 0x05, 0x21, 0x00, 0x01, 0x00, 0x01};
    append(pes, Bytes(es.begin() + static_cast<std::ptrdiff_t>(pes_start),
                      es.begin() + static_cast<std::ptrdiff_t>(std::min(pes_start + 1000, es.size()))));
    for (std::size_t at = 0; at < pes.size(); at += 184) {
      append(ts, ts_packet(0x101, at == 0, cc[2],
                           Bytes(pes.begin() + static_cast<std::ptrdiff_t>(at),
                                 pes.begin() + static_cast<std::ptrdiff_t>(std::min(at + 184, pes.size())))));
    }
  }
  for (uint8_t choice = 0; choice < 4; ++choice) {
    Bytes b{choice, 0x01, 0x01};
    append(b, ts);
    out.write(b);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_fuzz_seeds STREAMS_DIR OUT_DIR\n");
    return 2;
  }
  const fs::path streams = argv[1];
  const fs::path out = argv[2];
  SeedWriter syntax(out / "syntax");
  SeedWriter model(out / "buffer_model");
  SeedWriter whole(out / "whole_parse");
  SeedWriter ts(out / "ts_demux");
  SeedWriter tstd(out / "tstd");  // the T-STD target reads the same layout
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(streams, error)) {
    const fs::path& path = entry.path();
    const std::string ext = path.extension().string();
    if (ext == ".264" || ext == ".h264" || ext == ".jsv") {
      syntax_seeds(path, syntax);
      whole_parse_seeds(path, whole);
      ts_seeds(path, ts);
      ts_seeds(path, tstd);
    } else if (ext == ".sizes") {
      model_seeds(path, model);
    }
  }
  if (error) {
    std::fprintf(stderr, "make_fuzz_seeds: cannot read %s: %s\n", streams.string().c_str(), error.message().c_str());
    return 1;
  }
  return 0;
}
