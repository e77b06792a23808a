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

// One read: 'u' read_u(bits), 'e' read_ue, 's' read_se, 'm' more_rbsp_data;
// from bit `at` when it is not negative; then the value and the offset after it.
struct Read {
  char kind;
  int bits;
  int32_t value;
  int32_t offset;
  int32_t at = -1;
};

struct ReadCase {
  const char* name;
  Bytes data;
  int32_t byte_length;
  int32_t readable;  // -1: all of data
  int32_t bit_offset;
  std::vector<Read> reads;
};

// Values and offsets away from the edges are the round trip's below.
TEST(BitReader, EveryReadAtTheEdgesOfTheDataAndTheBuffer) {
  const ReadCase cases[] = {
      {"zero-bit field", {0xFF, 0x00}, 1, -1, 3, {{'u', 0, 0, 3}}},
      {"longer than 32 bits or negative", Bytes(16, 0xFF), 8, -1, 2, {{'u', 33, 0, 2}, {'u', -1, 0, 2}}},
      // The byte after the data may be read, but not its last bit.
      {"byte after the data", {0xFF, 0xFF, 0xFF}, 1, -1, 8, {{'u', 8, 0, 8}, {'u', 7, 0x7F, 15}, {'u', 1, 0, 15}}},
      {"byte after the data without a readable count", {0x80, 0xFE}, 1, 0, 8, {{'u', 7, 0x7F, 15}}},
      // From bit 1: seven zeros, the 1 at bit 8, seven info bits up to bit
      // 15; a fixed-length read of the same bits fails.
      {"Exp-Golomb ending on the last bit after the data", {0x00, 0x81, 0x00}, 1, -1, 1,
       {{'e', 0, 128, 16}, {'u', 7, 0, 9, 9}}},
      {"Exp-Golomb info bits beyond the byte after the data", {0x00, 0x01, 0xFF, 0xFF}, 1, -1, 0,
       {{'e', 0, 0, 0}, {'s', 0, 0, 0}}},
      {"32 leading zeros", {0x00, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x00, 0x80}, 9, -1, 0,
       {{'e', 0, 0, 0}, {'s', 0, 0, 0}}},
      // Only zeros within the readable bytes; a 1 bit lies beyond them.
      {"scan stops at the readable bytes", {0x00, 0x00, 0x00, 0x01}, 1, 3, 0, {{'e', 0, 0, 0}}},
      // With no leading zero a code needs nothing beyond its 1 bit, even past
      // the data; a code starting beyond the readable bytes is not looked at.
      {"code at the last readable bit", {0x00, 0x01}, 0, 2, 15, {{'e', 0, 0, 16}, {'e', 0, 0, 16}}},
      // Last byte 0101 1100: the stop bit is bit 13.
      {"more data before the stop bit", {0xFF, 0x5C, 0x00}, 2, -1, 0,
       {{'m', 0, 1, 0}, {'m', 0, 1, 7, 7}, {'m', 0, 1, 8, 8}, {'m', 0, 1, 12, 12}, {'m', 0, 0, 13, 13}}},
      {"stop bit only", {0x80, 0x00}, 1, -1, 0, {{'m', 0, 0, 0}}},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.name);
    BitReader reader = make_bit_reader(c.data.data(), c.byte_length,
                                       c.readable < 0 ? static_cast<int32_t>(c.data.size()) : c.readable);
    reader.bit_offset = c.bit_offset;
    for (std::size_t i = 0; i < c.reads.size(); ++i) {
      const Read& r = c.reads[i];
      if (r.at >= 0) reader.bit_offset = r.at;
      const int32_t got = r.kind == 'u'   ? read_u(r.bits, "u", reader)
                          : r.kind == 'e' ? read_ue("ue", reader)
                          : r.kind == 's' ? read_se("se", reader)
                                          : more_rbsp_data(reader);
      EXPECT_EQ(got, r.value) << "read " << i;
      EXPECT_EQ(reader.bit_offset, r.offset) << "read " << i;
    }
  }
}

TEST(BitReader, ExpGolombWith31LeadingZerosIsTheLargestCode) {
  BitWriter writer;
  writer.ue(0xFFFFFFFEu).ue(0x80000000u).trailing_bits();
  Bytes data = writer.data();
  data.push_back(0);
  BitReader reader = make_bit_reader(data.data(), static_cast<int32_t>(data.size()) - 1, static_cast<int32_t>(data.size()));
  EXPECT_EQ(static_cast<uint32_t>(read_ue("ue", reader)), 0xFFFFFFFEu);
  EXPECT_EQ(reader.bit_offset, 63);
  EXPECT_EQ(read_se("se", reader), -0x40000000);
}

// The status remembers the first failure; a bounded reader takes nothing
// from beyond its data, and the byte after it need not exist.
TEST(BitReader, StatusRecordsTheFirstFailureAndBoundedReadsStayInTheData) {
  const Bytes one = {0xA0};  // 1010 0000
  BitReader bounded = make_bounded_bit_reader(one.data(), 1);
  EXPECT_EQ(read_u(3, "u", bounded), 5);
  EXPECT_EQ(read_ue("ue", bounded), 0);  // five zeros, no 1 bit within the data
  EXPECT_EQ(bounded.status, ReadStatus::kTruncated);
  EXPECT_EQ(bounded.bit_offset, 3);
  EXPECT_EQ(read_u(5, "u", bounded), 0);  // still readable: the status stays the first failure
  EXPECT_EQ(bounded.bit_offset, 8);
  EXPECT_EQ(read_u1("u", bounded), 0);
  EXPECT_EQ(bounded.status, ReadStatus::kTruncated);

  // The unbounded reader takes the same code from the byte after the data.
  const Bytes two = {0x01, 0x40};
  BitReader lenient = make_bit_reader(two.data(), 1, 2);
  EXPECT_EQ(read_ue("ue", lenient), 0x80 - 1 + 0x20);
  EXPECT_EQ(lenient.status, ReadStatus::kOk);
  BitReader strict = make_bounded_bit_reader(two.data(), 1);
  EXPECT_EQ(read_ue("ue", strict), 0);
  EXPECT_EQ(strict.status, ReadStatus::kTruncated);

  // 32 leading zeros within the data do not fit: out of range, not truncated.
  const Bytes zeros = {0x00, 0x00, 0x00, 0x00, 0x80};
  BitReader wide = make_bounded_bit_reader(zeros.data(), 5);
  EXPECT_EQ(read_se("se", wide), 0);
  EXPECT_EQ(wide.status, ReadStatus::kOutOfRange);
  BitReader null_reader = make_bounded_bit_reader(nullptr, 4);
  EXPECT_EQ(read_u1("u", null_reader), 0);
  EXPECT_EQ(null_reader.status, ReadStatus::kTruncated);
  BitReader wrong_width = make_bounded_bit_reader(one.data(), 1);
  EXPECT_EQ(read_u(33, "u", wrong_width), 0);
  EXPECT_EQ(wrong_width.status, ReadStatus::kOutOfRange);

  // ue_max returns what it read; a value beyond the range marks the status.
  BitWriter writer;
  writer.ue(31).ue(32).ue(5).trailing_bits();
  BitReader ranged = make_bounded_bit_reader(writer.data().data(), static_cast<int32_t>(writer.data().size()));
  EXPECT_EQ(read_ue_max("ue", 31, ranged), 31u);
  EXPECT_TRUE(ranged.ok());
  EXPECT_EQ(read_ue_max("ue", 31, ranged), 32u);
  EXPECT_EQ(ranged.status, ReadStatus::kOutOfRange);
  EXPECT_EQ(read_ue_max("ue", 4, ranged), 5u);
  EXPECT_EQ(bits_left(ranged), 8 * static_cast<int64_t>(writer.data().size()) - ranged.bit_offset);
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
