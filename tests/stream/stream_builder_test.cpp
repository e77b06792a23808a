// The test support that later tests build their streams with: what it
// writes must be what the reader takes back (the NAL reader and the
// parsers' tests read its streams end to end).
#include "support/stream_builder.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "stream/nal_reader.h"
#include "support/bit_writer.h"

namespace tarnwell {
namespace {

using Bytes = std::vector<uint8_t>;
using test::add_emulation_prevention;
using test::BitWriter;
using test::StreamBuilder;

TEST(BitWriter, WritesTheCodesOfTheStandard) {
  EXPECT_EQ(BitWriter().ue(0).align_zero().data(), Bytes{0x80});
  EXPECT_EQ(BitWriter().ue(4).align_zero().data(), Bytes{0x28});
  EXPECT_EQ(BitWriter().se(-1).align_zero().data(), Bytes{0x60});
  EXPECT_EQ(BitWriter().se(2).align_zero().data(), Bytes{0x20});
  EXPECT_EQ(BitWriter().u(3, 5).trailing_bits().data(), Bytes{0xB0});
  EXPECT_EQ(BitWriter().u(8, 0x12).trailing_bits().data(), Bytes({0x12, 0x80}));
  BitWriter writer;
  writer.u(4, 0xA).u1(1).u(3, 0).bytes({0x01, 0x02});
  EXPECT_EQ(writer.data(), Bytes({0xA8, 0x01, 0x02}));
  EXPECT_EQ(writer.bit_count(), 24);
}

TEST(StreamBuilder, EscapesEveryZeroPairFollowedByASmallByte) {
  EXPECT_EQ(add_emulation_prevention({0x00, 0x00, 0x00}), Bytes({0x00, 0x00, 0x03, 0x00}));
  EXPECT_EQ(add_emulation_prevention({0x00, 0x00, 0x01, 0x00, 0x00, 0x02}),
            Bytes({0x00, 0x00, 0x03, 0x01, 0x00, 0x00, 0x03, 0x02}));
  EXPECT_EQ(add_emulation_prevention({0x00, 0x00, 0x04}), Bytes({0x00, 0x00, 0x04}));
  EXPECT_EQ(add_emulation_prevention({0x80, 0x00, 0x00}), Bytes({0x80, 0x00, 0x00, 0x03}));
}

TEST(StreamBuilder, EscapedPayloadsComeBackThroughEmulationPreventionRemoval) {
  std::mt19937 random(8);
  for (int round = 0; round < 2000; ++round) {
    Bytes rbsp(random() % 40);
    for (uint8_t& b : rbsp) b = static_cast<uint8_t>(random() % 2 ? 0 : random() % 5);
    if (rbsp.size() >= 2 && rbsp[rbsp.size() - 1] == 0 && rbsp[rbsp.size() - 2] != 0) rbsp.back() = 0x80;
    Bytes nal{0x65};
    Bytes payload = add_emulation_prevention(rbsp);
    nal.insert(nal.end(), payload.begin(), payload.end());
    const int32_t end = remove_emulation_prevention(nal.data(), static_cast<int32_t>(nal.size()), 1);
    ASSERT_EQ(Bytes(nal.begin() + 1, nal.begin() + end), rbsp) << "round " << round;
  }
}

TEST(StreamBuilder, JoinsNalUnitsWithThreeOrFourByteStartCodes) {
  StreamBuilder stream;
  stream.nal(3, 7, Bytes{0x42}, 3).nal(0, 6, Bytes{0x05}).nal_with_header(0x85, Bytes{0x00, 0x00, 0x01}, 3);
  EXPECT_EQ(stream.bytes(), Bytes({0x00, 0x00, 0x01, 0x67, 0x42, 0x00, 0x00, 0x00, 0x01, 0x06, 0x05, 0x00, 0x00, 0x01,
                                   0x85, 0x00, 0x00, 0x03, 0x01}));
  EXPECT_EQ(stream.nal_sizes(), std::vector<uint32_t>({2, 2, 4}));
}

}  // namespace
}  // namespace tarnwell
