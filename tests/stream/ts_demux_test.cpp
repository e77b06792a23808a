// The transport stream demultiplexer: packet sizes, program tables, the
// choice of stream, PES reassembly and damage, on hand-built packets and on
// multiplexes that ffmpeg makes, whose video must come out byte for byte as
// ffmpeg's own extraction gives it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "stream/ts_source.h"
#include "support/ts_builder.h"

namespace tarnwell {
namespace {

using test::Bytes;

struct Demuxed {
  bool opened = false;
  std::string refusal;
  Bytes es;
  uint16_t pid = 0;
  uint32_t packet_size = 0;
  TsErrorCounts errors;
  std::vector<std::string> warnings;
  TsStructure structure;
  TsPesHeader last_pes;
};

Demuxed demux(const Bytes& ts, TsChoice choice = {}) {
  Demuxed d;
  MemorySource memory(ts.data(), ts.size(), 1000);
  TsSource source(memory, choice, [&](const char* text) { d.warnings.push_back(text); });
  d.opened = source.open();
  d.refusal = source.refusal();
  uint8_t block[4096];
  std::size_t n = 0;
  while ((n = source.read(block, sizeof block)) > 0) d.es.insert(d.es.end(), block, block + n);
  d.pid = source.pid();
  d.packet_size = source.packet_size();
  d.errors = source.errors();
  d.structure = source.structure();
  d.last_pes = source.demux().pes_header();
  return d;
}

Bytes access_unit(uint8_t fill, std::size_t size) {
  Bytes au = {0x00, 0x00, 0x00, 0x01, 0x09, 0xF0, 0x00, 0x00, 0x01, 0x65};
  au.resize(size, fill);
  return au;
}

// PAT, the PMTs of the programs, then one PES per access unit on each video PID.
struct Mux {
  std::vector<Bytes> packets;
  uint8_t cc[8192] = {};
  void tables(const std::vector<std::pair<uint16_t, uint16_t>>& programs, const std::vector<Bytes>& pmts) {
    for (const Bytes& p : test::section_packets(0, test::pat_section(programs), cc[0])) packets.push_back(p);
    for (std::size_t i = 0; i < pmts.size(); ++i) {
      const uint16_t pid = programs[i].second;
      for (const Bytes& p : test::section_packets(pid, pmts[i], cc[pid])) packets.push_back(p);
    }
  }
  void pes(uint16_t pid, const Bytes& payload, int64_t pts = 3600, int64_t dts = -1) {
    Bytes pes = test::pes_header(pts, dts);
    pes.insert(pes.end(), payload.begin(), payload.end());
    for (const Bytes& p : test::pes_packets(pid, pes, cc[pid])) packets.push_back(p);
  }
  Bytes bytes() const { return test::join(packets); }
};

Bytes concat(const std::vector<Bytes>& parts) { return test::join(parts); }

TEST(TsPacketSize, FoundFromTheSyncBytesOfTheFirstPackets) {
  Mux mux;
  mux.tables({{1, 0x100}}, {test::pmt_section(1, 0x101, {{0x1B, 0x101}})});
  mux.pes(0x101, access_unit(0x11, 2000));
  const Bytes ts = mux.bytes();
  EXPECT_EQ(detect_ts_packet_size(ts.data(), ts.size()), 188u);
  const Bytes m2ts = test::reframe(ts, 192);
  EXPECT_EQ(detect_ts_packet_size(m2ts.data(), m2ts.size()), 192u);
  // The trailing bytes look like sync bytes, so 188 must fail on the
  // packet after them, not be fooled by them.
  const Bytes dvb = test::reframe(ts, 204);
  EXPECT_EQ(detect_ts_packet_size(dvb.data(), dvb.size()), 204u);
  const Bytes annexb = access_unit(0x47, 4000);
  EXPECT_EQ(detect_ts_packet_size(annexb.data(), annexb.size()), 0u);
  EXPECT_EQ(detect_ts_packet_size(ts.data(), 100), 0u);  // not one whole packet
  for (uint32_t size : {188u, 192u, 204u}) {
    SCOPED_TRACE(size);
    const Demuxed d = demux(size == 188 ? ts : test::reframe(ts, size));
    EXPECT_EQ(d.packet_size, size);
    EXPECT_EQ(d.es, access_unit(0x11, 2000));
  }
}

TEST(TsTables, SectionsSpanningPacketsChooseTheLowestProgramWithH264) {
  // Many streams make the PMTs longer than one packet; program 3 comes first
  // in the PAT but program 2 is the lowest number with H.264.
  std::vector<test::PmtEntry> many;
  for (uint16_t pid = 0x300; pid < 0x340; ++pid) many.push_back({0x0F, pid});
  many.push_back({0x1B, 0x3FF});
  Mux mux;
  mux.tables({{3, 0x30}, {1, 0x10}, {2, 0x20}},
             {test::pmt_section(3, 0x3FF, many), test::pmt_section(1, 0x11, {{0x02, 0x11}}),
              test::pmt_section(2, 0x21, {{0x0F, 0x22}, {0x1B, 0x21}, {0x1B, 0x23}})});
  mux.pes(0x3FF, access_unit(0x33, 500));
  mux.pes(0x21, access_unit(0x22, 500));
  mux.pes(0x23, access_unit(0x23, 500));
  const Demuxed d = demux(mux.bytes());
  ASSERT_TRUE(d.opened) << d.refusal;
  EXPECT_EQ(d.pid, 0x21);
  EXPECT_EQ(d.es, access_unit(0x22, 500));
  ASSERT_EQ(d.structure.programs.size(), 3u);
  EXPECT_EQ(d.structure.programs[0].program_number, 1);
  EXPECT_EQ(d.structure.programs[2].streams.size(), many.size());

  TsChoice program3;
  program3.by_program = true;
  program3.program_number = 3;
  EXPECT_EQ(demux(mux.bytes(), program3).es, access_unit(0x33, 500));
  TsChoice pid23;
  pid23.by_pid = true;
  pid23.pid = 0x23;
  EXPECT_EQ(demux(mux.bytes(), pid23).es, access_unit(0x23, 500));
}

TEST(TsTables, BadCrcIgnoredWithWarningAndNewVersionFollowed) {
  Mux mux;
  Bytes bad_pat = test::pat_section({{1, 0x20}});
  bad_pat[9] ^= 0x01;  // the PMT PID, behind the CRC's back
  for (const Bytes& p : test::section_packets(0, bad_pat, mux.cc[0])) mux.packets.push_back(p);
  mux.tables({{1, 0x10}}, {test::pmt_section(1, 0x11, {{0x1B, 0x11}})});
  mux.pes(0x11, access_unit(0x11, 300));
  // Version 1 of the PMT moves the video to another PID; the stream chosen
  // stays chosen, the tables follow.
  for (const Bytes& p : test::section_packets(0x10, test::pmt_section(1, 0x12, {{0x1B, 0x12}}, 1), mux.cc[0x10]))
    mux.packets.push_back(p);
  mux.pes(0x12, access_unit(0x12, 300));
  const Bytes muxed = mux.bytes();
  MemorySource memory(muxed.data(), muxed.size(), 1000);
  std::vector<std::string> warnings;
  TsSource source(memory, {}, [&](const char* text) { warnings.push_back(text); });
  ASSERT_TRUE(source.open());
  Bytes es(4000);
  es.resize(source.read(es.data(), es.size()));
  EXPECT_EQ(es, access_unit(0x11, 300));
  EXPECT_EQ(source.errors().bad_crc, 1u);
  EXPECT_EQ(warnings,
            std::vector<std::string>{
                "Transport stream: a table section on PID 0 ending in packet 0 has a wrong CRC_32 and is ignored"});
  ASSERT_EQ(source.demux().structure().programs.size(), 1u);
  const TsProgram& now = source.demux().structure().programs[0];
  EXPECT_EQ(now.program_map_PID, 0x10);
  EXPECT_EQ(now.pmt_version, 1);
  ASSERT_EQ(now.streams.size(), 1u);
  EXPECT_EQ(now.streams[0].elementary_PID, 0x12);
  EXPECT_EQ(source.structure().programs[0].streams[0].elementary_PID, 0x11);  // as it stood at the choice
}

TEST(TsTables, PointerFieldEndsOneSectionAndStartsTheNext) {
  // A PMT cut over two packets: the second packet's pointer_field skips the
  // PMT's tail and points to a new version of it in the same packet.
  const Bytes pmt0 = test::pmt_section(1, 0x11, {{0x1B, 0x11}});
  const Bytes pmt1 = test::pmt_section(1, 0x13, {{0x1B, 0x13}}, 1);
  uint8_t cc0 = 0;
  std::vector<Bytes> packets = test::section_packets(0, test::pat_section({{1, 0x10}}), cc0);
  const std::size_t head = 10;
  Bytes first(1 + head, 0x00);  // pointer_field 0, then the PMT's first bytes
  std::copy(pmt0.begin(), pmt0.begin() + head, first.begin() + 1);
  packets.push_back(test::ts_packet(0x10, true, 0, first));
  // The first packet ended in stuffing by the adaptation field; now the rest.
  Bytes second(184, 0xFF);
  second[0] = static_cast<uint8_t>(pmt0.size() - head);
  const auto tail_end = std::copy(pmt0.begin() + head, pmt0.end(), second.begin() + 1);
  std::copy(pmt1.begin(), pmt1.end(), tail_end);
  packets.push_back(test::ts_packet(0x10, true, 1, second));
  uint8_t cc = 0;
  Bytes pes = test::pes_header(0);
  const Bytes au = access_unit(0x13, 100);
  pes.insert(pes.end(), au.begin(), au.end());
  for (const Bytes& p : test::pes_packets(0x13, pes, cc)) packets.push_back(p);
  const Demuxed d = demux(test::join(packets));
  ASSERT_TRUE(d.opened) << d.refusal;
  EXPECT_EQ(d.pid, 0x13);
  EXPECT_EQ(d.structure.programs[0].pmt_version, 1);
  EXPECT_TRUE(d.warnings.empty());
}

TEST(TsPes, HeaderFieldsDuplicatesAndBoundedLength) {
  Mux mux;
  mux.tables({{1, 0x10}}, {test::pmt_section(1, 0x11, {{0x1B, 0x11}})});
  mux.pes(0x11, access_unit(0x01, 400), 900000, 897000);
  // The second PES's header comes twice (a duplicate is allowed once).
  const std::size_t before = mux.packets.size();
  mux.pes(0x11, access_unit(0x02, 400), 0x1FFFFFFFF, 0x100000000);
  mux.packets.insert(mux.packets.begin() + static_cast<std::ptrdiff_t>(before + 1), mux.packets[before + 1]);
  // A bounded PES: bytes after its length belong to no PES.
  Bytes bounded = test::pes_header(1000, -1, static_cast<uint16_t>(8 + 50));
  const Bytes au3 = access_unit(0x03, 50);
  bounded.insert(bounded.end(), au3.begin(), au3.end());
  bounded.insert(bounded.end(), 20, 0xEE);
  for (const Bytes& p : test::pes_packets(0x11, bounded, mux.cc[0x11])) mux.packets.push_back(p);
  const Demuxed d = demux(mux.bytes());
  ASSERT_TRUE(d.opened) << d.refusal;
  EXPECT_EQ(d.es, concat({access_unit(0x01, 400), access_unit(0x02, 400), au3}));
  EXPECT_TRUE(d.warnings.empty()) << d.warnings[0];
  EXPECT_TRUE(d.last_pes.has_pts);
  EXPECT_EQ(d.last_pes.pts, 1000u);
  EXPECT_FALSE(d.last_pes.has_dts);

  // A header cut over two packets (the first filled by its adaptation
  // field), with 33-bit timestamps.
  Mux two;
  two.tables({{1, 0x10}}, {test::pmt_section(1, 0x11, {{0x1B, 0x11}})});
  const Bytes header = test::pes_header(0x1FFFFFFFF, 0x100000001);
  two.packets.push_back(test::ts_packet(0x11, true, 0, Bytes(header.begin(), header.begin() + 4)));
  Bytes rest(header.begin() + 4, header.end());
  const Bytes au = access_unit(0x02, 40);
  rest.insert(rest.end(), au.begin(), au.end());
  two.packets.push_back(test::ts_packet(0x11, false, 1, rest));
  const Demuxed t = demux(two.bytes());
  EXPECT_EQ(t.es, au);
  EXPECT_EQ(t.last_pes.pts, 0x1FFFFFFFFu);
  EXPECT_EQ(t.last_pes.dts, 0x100000001u);
  EXPECT_TRUE(t.warnings.empty());
}

TEST(TsDamage, EachKindWarnedWithPidAndPacketAndCounted) {
  Mux mux;
  mux.tables({{1, 0x10}}, {test::pmt_section(1, 0x11, {{0x1B, 0x11}})});
  // Video before the PES start: the stream was cut in the middle of one.
  mux.packets.push_back(test::ts_packet(0x11, false, mux.cc[0x11]++, Bytes(184, 0x55)));
  mux.pes(0x11, access_unit(0x01, 600));
  mux.pes(0x11, Bytes(300, 0x77));  // no start code: the middle of an access unit
  mux.pes(0x11, access_unit(0x02, 600));
  const std::size_t tables = 2;
  std::vector<Bytes> packets = mux.packets;
  packets[tables + 2][1] |= 0x80;                                            // transport_error_indicator
  packets.erase(packets.begin() + static_cast<std::ptrdiff_t>(tables + 3));  // a lost packet
  Bytes ts = test::join(packets);
  const Bytes garbage = {0x00, 0x47, 0x01, 0x47, 0x02};
  ts.insert(ts.begin() + 188 * 7, garbage.begin(), garbage.end());
  const Demuxed d = demux(ts);
  ASSERT_TRUE(d.opened) << d.refusal;
  EXPECT_EQ(d.errors.pes_mid_access_unit, 2u);
  EXPECT_EQ(d.errors.transport_error, 1u);
  EXPECT_EQ(d.errors.continuity, 1u);
  EXPECT_EQ(d.errors.sync_loss, 1u);
  EXPECT_EQ(d.errors.bad_crc, 0u);
  const std::vector<std::string> expected = {
      "Transport stream: data on PID 17 from packet 2 before its first PES start is skipped",
      "Transport stream: packet 4 on PID 17 has its transport_error_indicator set",
      "Transport stream: continuity error on PID 17 at packet 5 (continuity_counter 4, expected 3): packets lost",
      "Transport stream: PES on PID 17 at packet 6 starts in the middle of an access unit",
      "Transport stream: sync lost before packet 7; 5 bytes skipped to find it again",
  };
  EXPECT_EQ(d.warnings, expected);
  // What arrived is kept: the first access unit without its lost packet.
  Bytes first = access_unit(0x01, 600);
  const std::size_t lost_from = 184 - 14;  // the PES header takes 14 bytes of the first packet
  first.erase(first.begin() + static_cast<std::ptrdiff_t>(lost_from + 184),
              first.begin() + static_cast<std::ptrdiff_t>(lost_from + 2 * 184));
  EXPECT_EQ(d.es, concat({first, Bytes(300, 0x77), access_unit(0x02, 600)}));
}

TEST(TsSourceReading, RestartReadsTheSameBytesAndKeepsTheFurthestCounts) {
  // With a PMT that never comes, the whole stream is held at the start of
  // each reading: a restart that has handed nothing out yet is still not as
  // far as the reading before it.
  for (const bool pmt_missing : {false, true}) {
    SCOPED_TRACE(pmt_missing);
    Mux mux;
    mux.tables(pmt_missing ? std::vector<std::pair<uint16_t, uint16_t>>{{1, 0x10}, {2, 0x20}}
                           : std::vector<std::pair<uint16_t, uint16_t>>{{1, 0x10}},
               {test::pmt_section(1, 0x11, {{0x1B, 0x11}})});
    for (uint8_t i = 0; i < 20; ++i) mux.pes(0x11, access_unit(i, 1000 + i));
    mux.packets.erase(mux.packets.end() - 3);
    const Bytes joined = mux.bytes();
    MemorySource memory(joined.data(), joined.size(), 1000);
    std::vector<std::string> warnings;
    TsSource source(memory, {}, [&](const char* text) { warnings.push_back(text); });
    ASSERT_TRUE(source.open());
    Bytes all(200000);
    const std::size_t first = source.read(all.data(), all.size());
    ASSERT_TRUE(source.restart());
    EXPECT_EQ(source.errors().continuity, 1u);  // from the whole first reading
    Bytes part(5000);
    EXPECT_EQ(source.read(part.data(), part.size()), part.size());
    EXPECT_TRUE(std::equal(part.begin(), part.end(), all.begin()));
    EXPECT_EQ(source.errors().continuity, 1u);
    ASSERT_TRUE(source.restart());
    Bytes again(200000);
    EXPECT_EQ(source.read(again.data(), again.size()), first);
    EXPECT_EQ(warnings.size(), 2u);  // once per reading that got there
  }
}

// Real multiplexes: the elementary stream must be what ffmpeg extracts.
class FfmpegMux : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef _WIN32
    GTEST_SKIP() << "ffmpeg makes the multiplexes natively";
#else
    std::random_device device;
    folder_ = std::filesystem::temp_directory_path() / ("tarnwell-ts-" + std::to_string(device()));
    std::filesystem::create_directories(folder_);
#endif
  }
  void TearDown() override {
    std::error_code error;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, error);
  }
  std::string path(const std::string& name) const { return (folder_ / name).string(); }
  // ffmpeg's extraction and ours of the file, compared.
  Demuxed expect_same_as_ffmpeg(const std::string& name, const Bytes& ts) {
    EXPECT_TRUE(test::write_file_bytes(path(name), ts));
    EXPECT_TRUE(test::ffmpeg_extract(path(name), path(name + ".264")));
    const Bytes expected = test::read_file_bytes(path(name + ".264"));
    const Demuxed d = demux(ts);
    EXPECT_TRUE(d.opened) << d.refusal;
    EXPECT_GT(expected.size(), 10000u);
    EXPECT_TRUE(d.es == expected) << name << ": " << d.es.size() << " bytes, ffmpeg " << expected.size();
    return d;
  }
  std::filesystem::path folder_;
};

TEST_F(FfmpegMux, EveryFramingGivesFfmpegsBytes) {
  ASSERT_TRUE(test::run_ffmpeg(
      "-f lavfi -i testsrc2=size=320x240:rate=25:duration=4 -f lavfi -i sine=duration=4 -c:v libx264 -g 25 -bf 2 "
      "-c:a aac -muxrate 3000000 -f mpegts '" +
      path("audio.ts") + "'"));
  const Bytes ts = test::read_file_bytes(path("audio.ts"));
  Demuxed clean = expect_same_as_ffmpeg("clean.ts", ts);
  EXPECT_TRUE(clean.warnings.empty());
  ASSERT_EQ(clean.structure.programs.size(), 1u);
  EXPECT_EQ(clean.structure.programs[0].streams.size(), 2u);
  EXPECT_EQ(expect_same_as_ffmpeg("dvb.ts", test::reframe(ts, 204)).packet_size, 204u);
  ASSERT_TRUE(test::run_ffmpeg("-i '" + path("audio.ts") + "' -map 0 -c copy -mpegts_m2ts_mode 1 -f mpegts '" +
                               path("audio.m2ts") + "'"));
  EXPECT_EQ(expect_same_as_ffmpeg("copy.m2ts", test::read_file_bytes(path("audio.m2ts"))).packet_size, 192u);

}

}  // namespace
}  // namespace tarnwell
