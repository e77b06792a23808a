#include "stream/bit_reader.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "stream/nal_reader.h"
#include "support/bit_writer.h"

namespace tarnwell {
namespace {

using Bytes = std::vector<uint8_t>;
using test::BitWriter;

// A reader over the first byte_length bytes of data; the rest of data is
// what the buffer holds behind them.
BitReader over(const Bytes& data, int32_t byte_length, int32_t bit_offset = 0) {
  BitReader reader = make_bit_reader(data.data(), byte_length, static_cast<int32_t>(data.size()));
  reader.bit_offset = bit_offset;
  return reader;
}

TEST(BitReader, FixedLengthFieldsReadMostSignificantBitFirst) {
  Bytes data{0xA5, 0x00};
  BitReader reader = over(data, 1);
  EXPECT_EQ(read_u(3, "u(3)", reader), 5);
  EXPECT_EQ(read_u(5, "u(5)", reader), 5);
  EXPECT_EQ(reader.bit_offset, 8);
}

TEST(BitReader, ThirtyTwoBitFieldGivesTheWholePattern) {
  Bytes data{0xFF, 0xFF, 0xFF, 0xFF, 0x00};
  BitReader reader = over(data, 4);
  EXPECT_EQ(read_u(32, "u(32)", reader), -1);
  EXPECT_EQ(reader.bit_offset, 32);
}

TEST(BitReader, ZeroBitFieldReadsNothing) {
  Bytes data{0xFF, 0x00};
  BitReader reader = over(data, 1, 3);
  EXPECT_EQ(read_u(0, "u(0)", reader), 0);
  EXPECT_EQ(reader.bit_offset, 3);
}

TEST(BitReader, ReadMayTakeTheByteAfterTheDataButNotItsLastBit) {
  Bytes data{0xFF, 0xFF, 0xFF};
  BitReader reader = over(data, 1, 8);
  EXPECT_EQ(read_u(8, "u(8)", reader), 0);
  EXPECT_EQ(reader.bit_offset, 8);
  EXPECT_EQ(read_u(7, "u(7)", reader), 0x7F);
  EXPECT_EQ(reader.bit_offset, 15);
  EXPECT_EQ(read_u1("u(1)", reader), 0);
  EXPECT_EQ(reader.bit_offset, 15);
}

TEST(BitReader, ByteAfterTheDataStaysReadableWithoutAReadableCount) {
  Bytes data{0x80, 0xFE};
  BitReader reader = make_bit_reader(data.data(), 1, 0);
  reader.bit_offset = 8;
  EXPECT_EQ(read_u(7, "u(7)", reader), 0x7F);
}

TEST(BitReader, FieldsLongerThan32BitsOrNegativeFail) {
  Bytes data(16, 0xFF);
  BitReader reader = over(data, 8, 2);
  EXPECT_EQ(read_u(33, "u(33)", reader), 0);
  EXPECT_EQ(read_u(-1, "u(-1)", reader), 0);
  EXPECT_EQ(reader.bit_offset, 2);
}

TEST(BitReader, UnsignedExpGolombCodes) {
  Bytes data{0x80, 0x40, 0x28, 0x00};
  BitReader reader = over(data, 3);
  EXPECT_EQ(read_ue("ue 0", reader), 0);
  EXPECT_EQ(reader.bit_offset, 1);
  reader.bit_offset = 8;
  EXPECT_EQ(read_ue("ue 1", reader), 1);
  EXPECT_EQ(reader.bit_offset, 11);
  reader.bit_offset = 16;
  EXPECT_EQ(read_ue("ue 4", reader), 4);
  EXPECT_EQ(reader.bit_offset, 21);
}

TEST(BitReader, SignedExpGolombCodes) {
  Bytes minus_one{0x60, 0x00};
  BitReader reader = over(minus_one, 1);
  EXPECT_EQ(read_se("se -1", reader), -1);
  Bytes one{0x40, 0x00};
  reader = over(one, 1);
  EXPECT_EQ(read_se("se 1", reader), 1);
  Bytes two{0x20, 0x00, 0x00};
  reader = over(two, 2);
  EXPECT_EQ(read_se("se 2", reader), 2);
  EXPECT_EQ(reader.bit_offset, 5);
}

TEST(BitReader, ExpGolombCodeMayEndOnTheLastBitOfTheByteAfterTheData) {
  // From bit 1: seven zeros, the 1 at bit 8, seven info bits up to bit 15.
  Bytes data{0x00, 0x81, 0x00};
  BitReader reader = over(data, 1, 1);
  EXPECT_EQ(read_ue("ue", reader), 127 + 1);
  EXPECT_EQ(reader.bit_offset, 16);
  // A fixed-length read of the same bits fails.
  reader.bit_offset = 9;
  EXPECT_EQ(read_u(7, "u(7)", reader), 0);
  EXPECT_EQ(reader.bit_offset, 9);
}

TEST(BitReader, ExpGolombInfoBitsBeyondTheByteAfterTheDataFail) {
  Bytes data{0x00, 0x01, 0xFF, 0xFF};
  BitReader reader = over(data, 1, 0);
  EXPECT_EQ(read_ue("ue", reader), 0);
  EXPECT_EQ(reader.bit_offset, 0);
  EXPECT_EQ(read_se("se", reader), 0);
  EXPECT_EQ(reader.bit_offset, 0);
}

TEST(BitReader, ExpGolombWith31LeadingZerosIsTheLargestCode) {
  BitWriter writer;
  writer.ue(0xFFFFFFFEu).ue(0x80000000u).trailing_bits();
  Bytes data = writer.data();
  data.push_back(0);
  BitReader reader = over(data, static_cast<int32_t>(data.size()) - 1);
  EXPECT_EQ(static_cast<uint32_t>(read_ue("ue", reader)), 0xFFFFFFFEu);
  EXPECT_EQ(reader.bit_offset, 63);
  EXPECT_EQ(read_se("se", reader), -0x40000000);
}

TEST(BitReader, ExpGolombWith32LeadingZerosFails) {
  Bytes data{0x00, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x00, 0x80};
  BitReader reader = over(data, 9);
  EXPECT_EQ(read_ue("ue", reader), 0);
  EXPECT_EQ(reader.bit_offset, 0);
  EXPECT_EQ(read_se("se", reader), 0);
  EXPECT_EQ(reader.bit_offset, 0);
}

TEST(BitReader, ScanForTheFirstOneBitStopsAtTheReadableBytes) {
  // Only zeros within the readable bytes; a 1 bit lies beyond them.
  Bytes data{0x00, 0x00, 0x00, 0x01};
  BitReader reader = make_bit_reader(data.data(), 1, 3);
  EXPECT_EQ(read_ue("ue", reader), 0);
  EXPECT_EQ(reader.bit_offset, 0);
  // With lz 0 a code needs nothing beyond its 1 bit, even past the data; but
  // a code that would start beyond the readable bytes is not looked at.
  Bytes last{0x00, 0x01};
  reader = make_bit_reader(last.data(), 0, 2);
  reader.bit_offset = 15;
  EXPECT_EQ(read_ue("ue", reader), 0);
  EXPECT_EQ(reader.bit_offset, 16);
  EXPECT_EQ(read_ue("ue", reader), 0);
  EXPECT_EQ(reader.bit_offset, 16);
}

TEST(BitReader, MoreRbspDataOnlyBeforeTheStopBit) {
  Bytes data{0xFF, 0x5C, 0x00};  // last byte 0101 1100: stop bit at bit 13
  BitReader reader = over(data, 2);
  EXPECT_EQ(more_rbsp_data(reader), 1);
  reader.bit_offset = 7;
  EXPECT_EQ(more_rbsp_data(reader), 1);
  reader.bit_offset = 8;  // a 0 bit in the last byte
  EXPECT_EQ(more_rbsp_data(reader), 1);
  reader.bit_offset = 12;  // a 1 bit with a 1 bit after it
  EXPECT_EQ(more_rbsp_data(reader), 1);
  reader.bit_offset = 13;  // the stop bit
  EXPECT_EQ(more_rbsp_data(reader), 0);
  EXPECT_EQ(reader.bit_offset, 13);
  Bytes stop{0x80, 0x00};
  reader = over(stop, 1);
  EXPECT_EQ(more_rbsp_data(reader), 0);
}

TEST(BitReader, ElementsWrittenByTheBitWriterReadBack) {
  std::mt19937 random(31);
  for (int round = 0; round < 200; ++round) {
    struct Element {
      int kind;
      int bits;
      uint32_t value;
    };
    std::vector<Element> elements;
    BitWriter writer;
    const int count = 1 + static_cast<int>(random() % 30);
    for (int i = 0; i < count; ++i) {
      const int kind = static_cast<int>(random() % 3);
      const int bits = static_cast<int>(random() % 33);
      uint32_t value = static_cast<uint32_t>(random());
      if (kind == 0) {
        value = bits == 32 ? value : value & ((1u << bits) - 1u);
        writer.u(bits, value);
      } else if (kind == 1) {
        value >>= random() % 32;
        if (value == UINT32_MAX) value = 0;
        writer.ue(value);
      } else {
        value = static_cast<uint32_t>(static_cast<int32_t>(value >> (1 + random() % 31)) * (random() % 2 ? 1 : -1));
        writer.se(static_cast<int32_t>(value));
      }
      elements.push_back({kind, bits, value});
    }
    const int64_t stop_bit = writer.bit_count();
    writer.trailing_bits();
    Bytes data = writer.data();
    data.push_back(0x00);
    BitReader reader = make_bit_reader(data.data(), rbsp_data_length(data.data(), static_cast<int32_t>(data.size())),
                                       static_cast<int32_t>(data.size()));
    for (const Element& element : elements) {
      if (element.kind != 0 || element.bits > 0) {
        ASSERT_EQ(more_rbsp_data(reader), 1);
      }
      const int32_t got = element.kind == 0   ? read_u(element.bits, "u", reader)
                          : element.kind == 1 ? read_ue("ue", reader)
                                              : read_se("se", reader);
      ASSERT_EQ(static_cast<uint32_t>(got), element.value) << "round " << round << ", kind " << element.kind;
    }
    EXPECT_EQ(more_rbsp_data(reader), 0);
    EXPECT_EQ(reader.bit_offset, stop_bit);
  }
}

}  // namespace
}  // namespace tarnwell
