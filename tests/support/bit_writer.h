#pragma once
// Writes syntax elements the way the parsers read them, so a test can spell
// out an SPS, PPS, SEI payload or slice header in the standard's order:
//
//   BitWriter sps;
//   sps.u(8, 66).u(8, 0).u(8, 30).ue(0)   // profile_idc .. seq_parameter_set_id
//      .ue(0).ue(0).ue(4)                 // log2_max_frame_num_minus4 ...
//      .trailing_bits();
#include <cstdint>
#include <vector>

namespace tarnwell::test {

class BitWriter {
 public:
  // u(n): the low n bits of value (0 <= n <= 32), most significant first.
  BitWriter& u(int n, uint32_t value);
  BitWriter& u1(uint32_t flag) { return u(1, flag); }
  // ue(v) for any code number up to 2^32 - 2.
  BitWriter& ue(uint32_t value);
  // se(v): 1, -1, 2, -2, ... as code numbers 1, 2, 3, 4, ...
  BitWriter& se(int32_t value);
  // rbsp_trailing_bits(): the stop bit, then zero bits up to a byte boundary.
  BitWriter& trailing_bits();
  // Zero bits up to the next byte boundary (nothing when aligned).
  BitWriter& align_zero();
  // Whole bytes; the writer must be byte aligned.
  BitWriter& bytes(const std::vector<uint8_t>& data);

  int64_t bit_count() const { return bits_; }
  bool byte_aligned() const { return bits_ % 8 == 0; }
  // The bytes written so far; a partial last byte is padded with zero bits.
  const std::vector<uint8_t>& data() const { return data_; }

 private:
  void put_bit(uint32_t bit);

  std::vector<uint8_t> data_;
  int64_t bits_ = 0;
};

}  // namespace tarnwell::test
