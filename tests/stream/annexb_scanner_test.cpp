// The conformance check's scanner: byte positions of every NAL unit (the
// zero byte of a four-byte start code with the NAL unit it starts, trailing
// zero bytes with the one before them), the same for every block size.
#include "stream/annexb_scanner.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/stream_builder.h"

namespace tarnwell {
namespace {

struct Seen {
  uint64_t start, header, end, next_start;
  int32_t type;
  uint32_t kept;
  bool complete;
};

std::vector<Seen> scan(const std::vector<uint8_t>& bytes, uint32_t block, uint32_t keep = 1u << 20) {
  test::TempStreamFile file(bytes);
  AnnexbScanner scanner(block, keep);
  scanner.begin(file.file());
  std::vector<Seen> out;
  ScannedNal nal;
  while (scanner.next(nal) == 1) {
    out.push_back({nal.start, nal.header, nal.end, nal.next_start, nal.nal_unit_type, nal.kept, nal.complete});
  }
  return out;
}

TEST(AnnexbScanner, PositionsOfStartCodesAndZeroBytesForEveryBlockSize) {
  // FF 00 | 00 00 00 01 67 AA BB | 00 (trailing) 00 00 00 01 68 CC | 00 00 01 65 00 00 03 01 11 | 00 00 at EOF
  const std::vector<uint8_t> bytes = {0xFF, 0x00, 0x00, 0x00, 0x00, 0x01, 0x67, 0xAA, 0xBB,
                                      0x00, 0x00, 0x00, 0x00, 0x01, 0x68, 0xCC, 0x00, 0x00,
                                      0x01, 0x65, 0x00, 0x00, 0x03, 0x01, 0x11, 0x00, 0x00};
  for (uint32_t block : {1u, 2u, 3u, 5u, 1024u}) {
    SCOPED_TRACE(block);
    const std::vector<Seen> nals = scan(bytes, block);
    ASSERT_EQ(nals.size(), 3u);
    // The first NAL unit's zero_byte is the one just before 00 00 01; the zero before it is a leading zero.
    EXPECT_EQ(nals[0].start, 2u);
    EXPECT_EQ(nals[0].header, 6u);
    EXPECT_EQ(nals[0].end, 9u);
    EXPECT_EQ(nals[0].next_start, 10u);  // one trailing zero byte stays with the SPS
    EXPECT_EQ(nals[0].type, 7);
    EXPECT_EQ(nals[1].start, 10u);
    EXPECT_EQ(nals[1].end, 16u);
    EXPECT_EQ(nals[1].next_start, 16u);  // a three-byte start code
    EXPECT_EQ(nals[2].type, 5);
    EXPECT_EQ(nals[2].end, 25u);  // emulation prevention byte counted, zero bytes at the end not
    EXPECT_EQ(nals[2].next_start, 27u);
    EXPECT_EQ(nals[2].kept, 6u);
    EXPECT_TRUE(nals[2].complete);
  }
}

TEST(AnnexbScanner, StreamsWithoutNalUnits) {
  EXPECT_TRUE(scan({}, 16).empty());
  EXPECT_TRUE(scan({0x00, 0x00, 0x00}, 16).empty());
  EXPECT_TRUE(scan({0x00, 0x00, 0x01}, 16).empty());  // a start code at the very end begins nothing
  // A zero header byte right before the next start code: an empty NAL unit, no position before its header.
  const std::vector<Seen> nals = scan({0x00, 0x00, 0x01, 0x00, 0x00, 0x01, 0x09, 0xF0}, 2);
  ASSERT_EQ(nals.size(), 2u);
  EXPECT_EQ(nals[0].end, nals[0].header);
  EXPECT_EQ(nals[1].type, 9);
}

}  // namespace
}  // namespace tarnwell
