#pragma once
// Syntax elements read bit by bit from a NAL unit in place: u(n), u(1),
// ue(v), se(v) and more_rbsp_data(). A read that runs past the data returns 0
// and leaves the position where it was; there is no other error path.
#include <cstdint>

namespace tarnwell {

struct BitReader {
  int32_t bit_offset = 0;   // next bit, counted from the most significant bit of data[0]
  int32_t byte_length = 0;  // length of the data; the last byte counted holds the stop bit
  const uint8_t* data = nullptr;
  // Bytes that may be looked at from `data` on (the NAL buffer's bytes written
  // for this NAL unit). Bounds the scan for an Exp-Golomb code's first 1 bit.
  // Never less than byte_length + 1 in effect: the byte after the data may
  // always be looked at (the NAL buffer holds it), so 0 means just that.
  int32_t readable_bytes = 0;
};

// Sets a reader over `count` bytes, with `readable` bytes that may be looked at.
inline BitReader make_bit_reader(const uint8_t* data, int32_t byte_length, int32_t readable) {
  BitReader reader;
  reader.data = data;
  reader.byte_length = byte_length;
  reader.readable_bytes = readable;
  return reader;
}

// The label names the syntax element read ("SPS: level_idc"); the reads do
// not use it, it makes each call read like the syntax table.
int32_t read_u(int n, const char* label, BitReader& reader);
int32_t read_u1(const char* label, BitReader& reader);
int32_t read_ue(const char* label, BitReader& reader);
int32_t read_se(const char* label, BitReader& reader);
int32_t more_rbsp_data(const BitReader& reader);

}  // namespace tarnwell
