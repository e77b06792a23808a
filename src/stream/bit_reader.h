#pragma once
// Syntax elements read bit by bit from a NAL unit in place: u(n), u(1),
// ue(v), se(v) and more_rbsp_data(). A read that runs past the data returns 0
// and leaves the position where it was. The reader also remembers its first
// failure (a read past the data, an Exp-Golomb code that does not fit, a value
// beyond its range): a reading that must tell a broken structure from one
// whose values are zero asks the status, the check's reading ignores it.
#include <cstdint>

namespace tarnwell {

enum class ReadStatus : uint8_t { kOk, kTruncated, kOutOfRange };

struct BitReader {
  int32_t bit_offset = 0;   // next bit, counted from the most significant bit of data[0]
  int32_t byte_length = 0;  // length of the data; the last byte counted holds the stop bit
  const uint8_t* data = nullptr;
  // Bytes that may be looked at from `data` on (the NAL buffer's bytes written
  // for this NAL unit). Bounds the scan for an Exp-Golomb code's first 1 bit.
  // Never less than byte_length + 1 in effect: the byte after the data may
  // always be looked at (the NAL buffer holds it), so 0 means just that.
  int32_t readable_bytes = 0;
  // Nothing beyond byte_length is looked at, not even the byte after the data:
  // the reader runs over bytes that may end there.
  bool bounded = false;
  // The first failure; a failing read sets it, nothing clears it.
  ReadStatus status = ReadStatus::kOk;

  bool ok() const { return status == ReadStatus::kOk; }
  void fail(ReadStatus why) {
    if (status == ReadStatus::kOk) status = why;
  }
};

// Sets a reader over `count` bytes, with `readable` bytes that may be looked at.
inline BitReader make_bit_reader(const uint8_t* data, int32_t byte_length, int32_t readable) {
  BitReader reader;
  reader.data = data;
  reader.byte_length = byte_length;
  reader.readable_bytes = readable;
  return reader;
}

// A reader over exactly data[0 .. byte_length): a read that needs a bit beyond fails.
inline BitReader make_bounded_bit_reader(const uint8_t* data, int32_t byte_length) {
  BitReader reader = make_bit_reader(data, data == nullptr || byte_length < 0 ? 0 : byte_length, 0);
  reader.bounded = true;
  return reader;
}

// The label names the syntax element read ("SPS: level_idc"); the reads do
// not use it, it makes each call read like the syntax table.
int32_t read_u(int n, const char* label, BitReader& reader);
int32_t read_u1(const char* label, BitReader& reader);
int32_t read_ue(const char* label, BitReader& reader);
int32_t read_se(const char* label, BitReader& reader);
// ue(v) whose value may not exceed `max`: a larger value is returned as read
// and sets the status to out of range.
uint32_t read_ue_max(const char* label, uint32_t max, BitReader& reader);
int32_t more_rbsp_data(const BitReader& reader);
// Bits from the position to the end of the data.
inline int64_t bits_left(const BitReader& reader) { return int64_t{reader.byte_length} * 8 - reader.bit_offset; }

}  // namespace tarnwell
