// What an input is, from its first bytes: every real H.264 stream and the
// shapes real encoders give it are H.264; containers, other codecs and
// common files are named. Built inputs, and real ones: the shared streams,
// and files that ffmpeg and x264 make where they are installed.
#include "stream/input_format.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "support/stream_builder.h"

namespace tarnwell {
namespace {

using Bytes = std::vector<uint8_t>;

InputFormat recognize(const Bytes& bytes) { return recognize_input(bytes.data(), bytes.size()); }

Bytes read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes shared_stream(const std::string& name) { return read_file(std::string(TARNWELL_STREAMS_DIR) + "/" + name); }

// The NAL units of an Annex B stream, header byte first, start codes and
// zero bytes in front of them left out.
std::vector<Bytes> nal_units(const Bytes& stream) {
  std::vector<Bytes> units;
  std::size_t i = 0;
  std::size_t begin = std::string::npos;
  while (i + 2 < stream.size()) {
    if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1) {
      if (begin != std::string::npos) {
        std::size_t end = i;
        while (end > begin && stream[end - 1] == 0) --end;
        units.emplace_back(stream.begin() + static_cast<std::ptrdiff_t>(begin),
                           stream.begin() + static_cast<std::ptrdiff_t>(end));
      }
      begin = i + 3;
      i += 3;
      continue;
    }
    ++i;
  }
  if (begin != std::string::npos) units.emplace_back(stream.begin() + static_cast<std::ptrdiff_t>(begin), stream.end());
  return units;
}

Bytes joined(const std::vector<Bytes>& units, int start_code_bytes) {
  Bytes out;
  for (const Bytes& unit : units) {
    if (start_code_bytes == 4) out.push_back(0);
    out.insert(out.end(), {0, 0, 1});
    out.insert(out.end(), unit.begin(), unit.end());
  }
  return out;
}

Bytes random_bytes(std::size_t count, uint32_t seed) {
  std::mt19937 random(seed);
  Bytes bytes(count);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

// Transport stream packets of `size` bytes (192: a 4-byte time code first,
// 204: 16 parity bytes last), filled with random payload, the first `cut`
// bytes left out as in a stream cut at a random place.
Bytes transport_stream(uint32_t size, std::size_t packets, std::size_t cut) {
  Bytes out;
  const std::size_t sync_at = size == 192 ? 4 : 0;
  for (std::size_t p = 0; p < packets; ++p) {
    Bytes packet = random_bytes(size, static_cast<uint32_t>(p + 7));
    packet[sync_at] = 0x47;
    out.insert(out.end(), packet.begin(), packet.end());
  }
  return Bytes(out.begin() + static_cast<std::ptrdiff_t>(cut), out.end());
}

// An H.265 stream's start: VPS, SPS and PPS headers (two bytes each, then a
// payload), and a slice.
Bytes hevc_start() {
  test::StreamBuilder stream;
  stream.nal_with_header(0x40, {0x01, 0x0C, 0x01, 0xFF, 0xFF, 0x01, 0x60});
  stream.nal_with_header(0x42, {0x01, 0x01, 0x01, 0x60, 0x00, 0x00, 0x03, 0x00, 0x90});
  stream.nal_with_header(0x44, {0x01, 0xC1, 0x72, 0xB4, 0x62, 0x40});
  stream.nal_with_header(0x26, {0x01, 0xAF, 0x06, 0xB8, 0x63, 0xEF, 0x3A, 0x7F});
  return stream.bytes();
}

Bytes text_bytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(InputFormat, EveryFormOfH264IsH264AndEveryOtherFormatIsNamed) {
  const Bytes x264 = shared_stream("x264_cbr_1000k_25fps.264");
  ASSERT_GT(x264.size(), kInputHeadBytes);
  const std::vector<Bytes> units = nal_units(x264);
  ASSERT_GT(units.size(), 4u);
  ASSERT_EQ(units[2][0] & 0x1F, 6);  // SPS, PPS, then SEI
  std::vector<Bytes> aud_first = units;
  aud_first.insert(aud_first.begin(), Bytes{0x09, 0xF0});
  std::vector<Bytes> sei_first = units;
  std::swap(sei_first[0], sei_first[2]);

  struct Case {
    const char* name;
    Bytes bytes;
    InputKind kind;
    uint32_t packet_size = 0;
  };
  const std::vector<Case> cases = {
      {"x264 as written", x264, InputKind::H264},
      {"leading zero bytes", concat(Bytes(1000, 0), x264), InputKind::H264},
      {"3-byte start codes", joined(units, 3), InputKind::H264},
      {"AUD first", joined(aud_first, 4), InputKind::H264},
      {"SEI first", joined(sei_first, 3), InputKind::H264},
      {"garbage before the first start code", concat(random_bytes(5000, 1), x264), InputKind::H264},
      {"text before the first start code", concat(text_bytes("stream dump v1\n"), x264), InputKind::H264},
      {"more text than is looked at", Bytes(kInputHeadBytes, 'j'), InputKind::H264},
      {"only its first 100 bytes", Bytes(x264.begin(), x264.begin() + 100), InputKind::H264},
      {"empty", {}, InputKind::H264},
      {"all zero", Bytes(5000, 0), InputKind::H264},
      {"random bytes", random_bytes(70000, 2), InputKind::H264},
      {"transport stream, 188, cut", transport_stream(188, 400, 100), InputKind::TransportStream, 188},
      {"transport stream, 192", transport_stream(192, 400, 0), InputKind::TransportStream, 192},
      {"transport stream, 204, cut", transport_stream(204, 20, 203), InputKind::TransportStream, 204},
      {"transport stream of 4 packets", transport_stream(188, 4, 0), InputKind::TransportStream, 188},
      {"MP4", concat(Bytes{0, 0, 0, 0x20}, text_bytes("ftypisom")), InputKind::Mp4},
      {"Matroska", Bytes{0x1A, 0x45, 0xDF, 0xA3, 0x9F, 0x42, 0x86}, InputKind::Matroska},
      {"H.265", hevc_start(), InputKind::Hevc},
      {"MPEG-2 video", Bytes{0, 0, 1, 0xB3, 0x08, 0x00, 0x60, 0x13}, InputKind::MpegVideo},
      {"program stream", Bytes{0, 0, 1, 0xBA, 0x44, 0x00, 0x04, 0x00}, InputKind::ProgramStream},
      {"JPEG", Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10}, InputKind::Jpeg},
      {"PNG", Bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0}, InputKind::Png},
      {"ZIP", concat(text_bytes("PK"), Bytes{3, 4, 20, 0}), InputKind::Zip},
      {"gzip", Bytes{0x1F, 0x8B, 0x08, 0x00}, InputKind::Gzip},
      {"PDF", text_bytes("%PDF-1.7\n%\xE2\xE3\xCF\xD3\n"), InputKind::Pdf},
      {"text", text_bytes("frame,size\n1,2000\n2,3000 \xC2\xB5s\n"), InputKind::Text},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const InputFormat format = recognize(c.bytes);
    EXPECT_EQ(format.kind, c.kind) << input_kind_name(format.kind);
    EXPECT_EQ(format.packet_size, c.packet_size);
  }

  // An H.264 stream whose SPS comes first is H.264 even where H.265's
  // parameter-set headers show up in it (as data partitions would).
  EXPECT_EQ(recognize(concat(Bytes(x264.begin(), x264.begin() + 1000), hevc_start())).kind, InputKind::H264);
  // Fewer than four packets are no evidence; a sync byte that misses one
  // packet is none either.
  EXPECT_EQ(recognize(transport_stream(188, 3, 0)).kind, InputKind::H264);
  Bytes broken = transport_stream(188, 400, 0);
  broken[188 * 5] = 0x46;
  EXPECT_EQ(recognize(broken).kind, InputKind::H264);
}

TEST(InputFormat, EverySharedStreamIsH264) {
  int streams = 0;
  for (const auto& entry : std::filesystem::directory_iterator(TARNWELL_STREAMS_DIR)) {
    const std::string ext = entry.path().extension().string();
    if (ext != ".264" && ext != ".h264" && ext != ".jsv") continue;
    SCOPED_TRACE(entry.path().string());
    EXPECT_EQ(recognize(read_file(entry.path().string())).kind, InputKind::H264);
    ++streams;
  }
  EXPECT_GE(streams, 16);
}

#ifndef _WIN32
// What ffmpeg and x264 write, when they are installed.
TEST(InputFormat, FilesThatFfmpegAndX264MakeAreTold) {
  if (std::system("command -v ffmpeg >/dev/null 2>&1 && command -v x264 >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "ffmpeg or x264 is not installed";
  }
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / "tarnwell-input-format-test";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  const std::string f = (folder / "").string();
  const std::string ffmpeg = "ffmpeg -y -hide_banner -loglevel error ";
  const std::string lavfi = "-f lavfi -i testsrc=size=160x96:rate=25 -frames:v 8 -pix_fmt yuv420p ";
  const std::string y4m = "ffmpeg -hide_banner -loglevel error " + lavfi + "-f yuv4mpegpipe - | ";
  struct Case {
    const char* name;
    std::string command;
    InputKind kind;
  };
  const std::vector<Case> cases = {
      {"x264.264", y4m + "x264 --quiet --demuxer y4m -o " + f + "x264.264 -", InputKind::H264},
      {"aud.264", y4m + "x264 --quiet --demuxer y4m --aud -o " + f + "aud.264 -", InputKind::H264},
      {"in.mp4", ffmpeg + lavfi + "-c:v libx264 " + f + "in.mp4", InputKind::Mp4},
      {"in.mkv", ffmpeg + lavfi + "-c:v libx264 " + f + "in.mkv", InputKind::Matroska},
      {"in.ts", ffmpeg + lavfi + "-c:v libx264 " + f + "in.ts", InputKind::TransportStream},
      {"in.m2ts", ffmpeg + lavfi + "-c:v libx264 -f mpegts -mpegts_m2ts_mode 1 " + f + "in.m2ts",
       InputKind::TransportStream},
      {"hevc.265", ffmpeg + lavfi + "-c:v libx265 -x265-params log-level=none -f hevc " + f + "hevc.265",
       InputKind::Hevc},
      {"mpeg2.m2v", ffmpeg + lavfi + "-c:v mpeg2video -f mpeg2video " + f + "mpeg2.m2v", InputKind::MpegVideo},
      {"mpeg2.vob", ffmpeg + lavfi + "-c:v mpeg2video -f vob " + f + "mpeg2.vob", InputKind::ProgramStream},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(std::system((c.command + " 2>/dev/null").c_str()), 0) << c.command;
    const InputFormat format = recognize(read_file(f + c.name));
    EXPECT_EQ(format.kind, c.kind) << input_kind_name(format.kind);
  }
  std::filesystem::remove_all(folder);
}
#endif

}  // namespace
}  // namespace tarnwell
