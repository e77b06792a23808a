// The T-STD check over a hand-built transport stream: the x264 stream's
// first access units in PES packets with and without timestamps, timed by
// PCRs on a PID of their own. Decoding times follow the PES a unit starts
// in, or the interval after the one before; the framing does not matter.
#include "verify/tstd_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "picture/access_unit_splitter.h"
#include "support/ts_builder.h"
#include "verify/tstd_feed.h"

namespace tarnwell {
namespace {

using test::Bytes;

// A packet of `pid` with only an adaptation field carrying a PCR.
Bytes pcr_packet(uint16_t pid, uint64_t pcr, uint8_t cc) {
  Bytes p(188, 0xFF);
  p[0] = 0x47;
  p[1] = static_cast<uint8_t>(pid >> 8);
  p[2] = static_cast<uint8_t>(pid);
  p[3] = static_cast<uint8_t>(0x20 | (cc & 0x0F));
  p[4] = 183;
  p[5] = 0x10;
  const uint64_t base = pcr / 300;
  const uint64_t ext = pcr % 300;
  p[6] = static_cast<uint8_t>(base >> 25);
  p[7] = static_cast<uint8_t>(base >> 17);
  p[8] = static_cast<uint8_t>(base >> 9);
  p[9] = static_cast<uint8_t>(base >> 1);
  p[10] = static_cast<uint8_t>((base & 1) << 7 | 0x7E | (ext >> 8));
  p[11] = static_cast<uint8_t>(ext);
  return p;
}

struct Unit {
  std::size_t begin;
  std::size_t end;
};

// The first `count` access units of a stream file, as the splitter finds them.
std::vector<Unit> first_units(const std::string& path, std::size_t count) {
  std::vector<Unit> units;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return units;
  AccessUnitSplitter splitter;
  splitter.begin(f);
  AccessUnit au;
  while (units.size() < count && splitter.next(au) == 1) {
    units.push_back(Unit{static_cast<std::size_t>(au.start), static_cast<std::size_t>(au.start + au.nal_bits / 8)});
  }
  std::fclose(f);
  return units;
}

TEST(TstdRunTest, DecodingTimesComeFromThePesOrTheIntervalBefore) {
  const Bytes es = test::read_file_bytes(std::string(TARNWELL_STREAMS_DIR) + "/x264_cbr_1000k_25fps.264");
  const std::vector<Unit> units = first_units(std::string(TARNWELL_STREAMS_DIR) + "/x264_cbr_1000k_25fps.264", 7);
  ASSERT_EQ(units.size(), 7u);
  auto bytes_of = [&](std::size_t from, std::size_t to) {
    return Bytes(es.begin() + static_cast<std::ptrdiff_t>(units[from].begin),
                 es.begin() + static_cast<std::ptrdiff_t>(units[to].end));
  };
  const int64_t d0 = 900000;  // 10 s on the 90 kHz clock
  // PES 0: units 0 and 1 with a PTS; PES 1: unit 2 without a timestamp;
  // PES 2, 3: units 3 and 4 with PTS and DTS; PES 4: units 5 and 6 without.
  const Bytes no_timestamp = {0x00, 0x00, 0x01, 0xE0, 0x00, 0x00, 0x80, 0x00, 0x00};
  std::vector<Bytes> pes = {test::pes_header(d0), no_timestamp, test::pes_header(d0 + 12600, d0 + 10800),
                            test::pes_header(d0 + 16200, d0 + 14400), no_timestamp};
  const std::vector<std::pair<std::size_t, std::size_t>> spans = {{0, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 6}};
  uint8_t cc_pat = 0, cc_pmt = 0, cc_video = 0, cc_pcr = 0;
  std::vector<Bytes> packets;
  for (Bytes& p : test::section_packets(0, test::pat_section({{1, 0x1000}}), cc_pat)) packets.push_back(p);
  for (Bytes& p : test::section_packets(0x1000, test::pmt_section(1, 0x1FF, {{0x1B, 0x100}}), cc_pmt)) {
    packets.push_back(p);
  }
  packets.push_back(pcr_packet(0x1FF, 27000000ull * 9, cc_pcr++));  // 9 s
  for (std::size_t i = 0; i < pes.size(); ++i) {
    Bytes whole = pes[i];
    const Bytes body = bytes_of(spans[i].first, spans[i].second);
    whole.insert(whole.end(), body.begin(), body.end());
    for (Bytes& p : test::pes_packets(0x100, whole, cc_video)) packets.push_back(p);
  }
  packets.push_back(pcr_packet(0x1FF, 27000000ull * 9 + 2700000, cc_pcr++));  // 9.1 s
  const Bytes ts = test::join(packets);

  for (uint32_t size : {188u, 204u}) {
    SCOPED_TRACE(size);
    const Bytes framed = size == 188 ? ts : test::reframe(ts, size);
    MemorySource source(framed.data(), framed.size());
    std::vector<TstdTraceRow> rows;
    TstdObserver observer;
    observer.row = [&rows](const TstdTraceRow& r) { rows.push_back(r); };
    const TstdRunResult r = run_tstd(source, TsChoice(), 10, observer, [](const char*) {});
    ASSERT_EQ(r.status, TstdRunStatus::kDone) << r.refusal;
    EXPECT_EQ(r.packet_size, size);
    EXPECT_EQ(r.pid, 0x100);
    EXPECT_EQ(r.pcr_pid, 0x1FF);
    EXPECT_TRUE(r.rates_from_hrd);
    EXPECT_EQ(r.params.bit_rate, 1000000u);
    ASSERT_EQ(rows.size(), 7u);
    // Before two timed removals the interval is the SPS's frame time, 1/25 s.
    const int64_t frame = 27000000 / 25;
    const int64_t expected[7] = {d0 * 300 + 0 * frame,     d0 * 300 + 1 * frame, d0 * 300 + 2 * frame,
                                 (d0 + 10800) * 300,       (d0 + 14400) * 300,   (d0 + 14400 + 3600) * 300,
                                 (d0 + 14400 + 7200) * 300};
    for (std::size_t k = 0; k < rows.size(); ++k) {
      EXPECT_EQ(rows[k].access_unit, k);
      EXPECT_EQ(rows[k].bytes, units[k].end - units[k].begin);
      EXPECT_EQ(rows[k].decoding_time.floor(), expected[k]) << k;
      EXPECT_TRUE(rows[k].decoding_time.is_whole());
    }
    // PCRs exactly 0.1 s apart keep the interval; the decoding times advance.
    EXPECT_EQ(r.counts[static_cast<std::size_t>(TstdKind::kDtsOrder)], 0u);
    EXPECT_EQ(r.counts[static_cast<std::size_t>(TstdKind::kPcrInterval)], 0u);
  }
}

// Sync found again a few packets before the end of the reader's block, where
// looking two packets ahead moves the bytes to its front.
TEST(TstdPacketReaderTest, SyncIsFoundAgainNearTheEndOfABlock) {
  Bytes null_packet(188, 0xFF);
  null_packet[0] = 0x47;
  null_packet[1] = 0x1F;
  null_packet[3] = 0x10;
  std::vector<Bytes> packets(3000, null_packet);  // more than two blocks
  const std::size_t junk_at = 1391;
  ASSERT_GT((junk_at * 188 + 100) + 3 * 188, kTstdBlockBytes);
  Bytes ts = test::join(std::vector<Bytes>(packets.begin(), packets.begin() + junk_at));
  ts.insert(ts.end(), 100, 0x00);
  const Bytes rest = test::join(std::vector<Bytes>(packets.begin() + junk_at, packets.end()));
  ts.insert(ts.end(), rest.begin(), rest.end());

  MemorySource source(ts.data(), ts.size());
  TstdPacketReader reader(source, 188);
  std::size_t read = 0;
  uint64_t skipped = 0;
  uint64_t total_skipped = 0;
  while (const uint8_t* packet = reader.next(skipped)) {
    EXPECT_EQ(std::memcmp(packet, null_packet.data(), 188), 0) << read;
    EXPECT_EQ(skipped, read == junk_at ? 100u : 0u) << read;
    total_skipped += skipped;
    ++read;
  }
  EXPECT_EQ(read, packets.size());
  EXPECT_EQ(total_skipped, 100u);
}

}  // namespace
}  // namespace tarnwell
