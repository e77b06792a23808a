#include "support/bit_writer.h"

#include <gtest/gtest.h>

namespace tarnwell::test {

void BitWriter::put_bit(uint32_t bit) {
  if (bits_ % 8 == 0) data_.push_back(0);
  if (bit != 0) data_.back() = static_cast<uint8_t>(data_.back() | (0x80u >> (bits_ % 8)));
  ++bits_;
}

BitWriter& BitWriter::u(int n, uint32_t value) {
  EXPECT_TRUE(n >= 0 && n <= 32) << "u(" << n << ")";
  for (int i = n - 1; i >= 0; --i) put_bit((value >> i) & 1u);
  return *this;
}

BitWriter& BitWriter::ue(uint32_t value) {
  EXPECT_NE(value, UINT32_MAX) << "ue(v) has no code for 2^32 - 1";
  const uint64_t code = uint64_t{value} + 1;
  int length = 0;
  while ((code >> (length + 1)) != 0) ++length;
  for (int i = 0; i < length; ++i) put_bit(0);
  for (int i = length; i >= 0; --i) put_bit(static_cast<uint32_t>((code >> i) & 1u));
  return *this;
}

BitWriter& BitWriter::se(int32_t value) {
  EXPECT_NE(value, INT32_MIN) << "se(v) has no code for -2^31";
  const int64_t v = value;
  return ue(static_cast<uint32_t>(v > 0 ? 2 * v - 1 : -2 * v));
}

BitWriter& BitWriter::trailing_bits() {
  put_bit(1);
  return align_zero();
}

BitWriter& BitWriter::align_zero() {
  while (bits_ % 8 != 0) put_bit(0);
  return *this;
}

BitWriter& BitWriter::bytes(const std::vector<uint8_t>& data) {
  EXPECT_TRUE(byte_aligned()) << "bytes() needs a byte-aligned writer";
  for (uint8_t b : data) u(8, b);
  return *this;
}

}  // namespace tarnwell::test
