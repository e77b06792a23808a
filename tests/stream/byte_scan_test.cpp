#include "stream/byte_scan.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace tarnwell {
namespace {

using Bytes = std::vector<uint8_t>;

// Mostly zeros, 0x01 and 0x03, so that pairs and start codes fall on every
// position of a block.
Bytes dense_bytes(std::mt19937& random, std::size_t n) {
  Bytes bytes(n);
  for (uint8_t& b : bytes) {
    const uint32_t r = random() % 8;
    b = r < 4 ? 0x00 : r == 4 ? 0x01 : r == 5 ? 0x03 : static_cast<uint8_t>(random());
  }
  return bytes;
}

TEST(ByteScan, FindZeroPairAgreesWithAByteLoop) {
  std::mt19937 random(1);
  for (int round = 0; round < 4000; ++round) {
    Bytes bytes = dense_bytes(random, random() % 70);
    // Sparse zeros too, so that whole blocks hold no pair.
    if (round % 2 == 1) {
      for (uint8_t& b : bytes) b = b == 0 && random() % 8 != 0 ? 0x55 : b;
    }
    std::size_t expected = bytes.size();
    for (std::size_t k = 0; k + 1 < bytes.size(); ++k) {
      if (bytes[k] == 0 && bytes[k + 1] == 0) {
        expected = k;
        break;
      }
    }
    ASSERT_EQ(find_zero_pair(bytes.data(), bytes.size()), expected) << "round " << round;
  }
}

TEST(ByteScan, CopyStopsAfterTheFirstStartCodeAndNotesTheFirstEscape) {
  std::mt19937 random(2);
  for (int round = 0; round < 4000; ++round) {
    // Two bytes of history, then the source.
    Bytes history = dense_bytes(random, 2);
    Bytes src = dense_bytes(random, random() % 60);
    if (round % 3 == 0) {
      for (uint8_t& b : src) b = b == 0x01 ? 0x02 : b;
    }
    Bytes all = history;
    all.insert(all.end(), src.begin(), src.end());
    std::size_t expected_consumed = src.size();
    bool expected_start_code = false;
    std::size_t expected_03 = kNoIndex;
    for (std::size_t i = 0; i < src.size(); ++i) {
      if (all[i] == 0 && all[i + 1] == 0) {
        if (src[i] == 0x03 && expected_03 == kNoIndex) expected_03 = i;
        if (src[i] == 0x01) {
          expected_consumed = i + 1;
          expected_start_code = true;
          break;
        }
      }
    }
    Bytes dst(2 + src.size() + 1, 0xEE);
    dst[0] = history[0];
    dst[1] = history[1];
    std::size_t first_03 = kNoIndex;
    CopyScan scan = copy_until_start_code(src.data(), dst.data() + 2, src.size(), &first_03);
    ASSERT_EQ(scan.consumed, expected_consumed) << "round " << round;
    ASSERT_EQ(scan.start_code, expected_start_code) << "round " << round;
    ASSERT_EQ(first_03, expected_03) << "round " << round;
    ASSERT_TRUE(std::equal(src.begin(), src.begin() + static_cast<std::ptrdiff_t>(scan.consumed), dst.begin() + 2));
    ASSERT_EQ(dst.back(), 0xEE) << "wrote past the end";
    // An index already noted stays.
    std::size_t noted = 7;
    copy_until_start_code(src.data(), dst.data() + 2, src.size(), &noted);
    ASSERT_EQ(noted, 7u);
  }
}

}  // namespace
}  // namespace tarnwell
