#include "stream/bit_reader.h"

#include <algorithm>

namespace tarnwell {

namespace {

constexpr int64_t kMaxBitOffset = INT32_MAX;

// Bytes from `data` on that a read may look at: the data, the byte after it
// (whose bits before its last one a read may take), and beyond that as far
// as the buffer was written for this NAL unit.
int64_t byte_limit(const BitReader& reader) {
  if (reader.bounded) return reader.byte_length;
  return std::max<int64_t>(reader.readable_bytes, int64_t{reader.byte_length} + 1);
}

// A read failed at bit `position`: out of data, or (within the data) a value
// that does not fit.
bool fail_at(BitReader& reader, int64_t position, bool within_data_means_range) {
  const bool beyond = position >= int64_t{reader.byte_length} * 8;
  reader.fail(within_data_means_range && !beyond ? ReadStatus::kOutOfRange : ReadStatus::kTruncated);
  return false;
}

uint32_t bit_at(const BitReader& reader, int64_t position) {
  return (reader.data[position >> 3] >> (7 - (position & 7))) & 1u;
}

// One Exp-Golomb code: its code number into *code_number, false when the
// read fails (position unchanged then).
bool read_exp_golomb(BitReader& reader, uint32_t* code_number) {
  if (reader.data == nullptr || reader.bit_offset < 0) return fail_at(reader, INT64_MAX, false);
  const int64_t limit = byte_limit(reader);
  // Info bits may come from the byte after the data, never from beyond it.
  const int64_t info_limit = reader.bounded ? limit : int64_t{reader.byte_length} + 1;
  int64_t position = reader.bit_offset;
  int leading_zeros = 0;
  for (;;) {
    if ((position >> 3) >= limit) return fail_at(reader, position, false);
    if (bit_at(reader, position) != 0) break;
    ++position;
    // The code number would not fit in 32 bits.
    if (++leading_zeros >= 32) return fail_at(reader, position - 1, true);
  }
  ++position;
  uint32_t info = 0;
  for (int i = 0; i < leading_zeros; ++i) {
    if ((position >> 3) >= info_limit) return fail_at(reader, position, false);
    info = (info << 1) | bit_at(reader, position);
    ++position;
  }
  if (position > kMaxBitOffset) return fail_at(reader, position, false);
  reader.bit_offset = static_cast<int32_t>(position);
  *code_number = (1u << leading_zeros) - 1u + info;
  return true;
}

}  // namespace

int32_t read_u(int n, const char* /*label*/, BitReader& reader) {
  if (n < 0 || n > 32) {
    reader.fail(ReadStatus::kOutOfRange);
    return 0;
  }
  if (n == 0) return 0;
  if (reader.data == nullptr || reader.bit_offset < 0) return fail_at(reader, INT64_MAX, false);
  const int64_t limit = byte_limit(reader);
  int64_t position = reader.bit_offset;
  uint32_t value = 0;
  for (int i = 0; i < n; ++i) {
    if ((position >> 3) >= limit) return fail_at(reader, position, false);
    value = (value << 1) | bit_at(reader, position);
    ++position;
    // Stepping from bit 0 of a byte into a byte beyond the one after the
    // data fails, so the last bit of the byte after the data is never taken.
    if ((position & 7) == 0 && (position >> 3) > reader.byte_length) return fail_at(reader, position, false);
  }
  if (position > kMaxBitOffset) return fail_at(reader, position, false);
  reader.bit_offset = static_cast<int32_t>(position);
  return static_cast<int32_t>(value);
}

int32_t read_u1(const char* label, BitReader& reader) { return read_u(1, label, reader); }

int32_t read_ue(const char* /*label*/, BitReader& reader) {
  uint32_t code_number = 0;
  if (!read_exp_golomb(reader, &code_number)) return 0;
  return static_cast<int32_t>(code_number);
}

uint32_t read_ue_max(const char* /*label*/, uint32_t max, BitReader& reader) {
  uint32_t code_number = 0;
  if (!read_exp_golomb(reader, &code_number)) return 0;
  if (code_number > max) reader.fail(ReadStatus::kOutOfRange);
  return code_number;
}

int32_t read_se(const char* /*label*/, BitReader& reader) {
  uint32_t code_number = 0;
  if (!read_exp_golomb(reader, &code_number)) return 0;
  // 0, 1, 2, 3, 4, ... map to 0, 1, -1, 2, -2, ...; every code number below
  // 2^32 - 1 maps into the signed 32-bit range.
  const int64_t magnitude = (int64_t{code_number} + 1) / 2;
  return static_cast<int32_t>((code_number & 1u) != 0 ? magnitude : -magnitude);
}

int32_t more_rbsp_data(const BitReader& reader) {
  if (reader.bit_offset < 0) return 1;
  const int64_t byte = reader.bit_offset / 8;
  if (byte < int64_t{reader.byte_length} - 1) return 1;
  if (reader.data == nullptr || byte >= byte_limit(reader)) return 0;
  const uint32_t bit = 7u - static_cast<uint32_t>(reader.bit_offset % 8);
  const uint32_t value = reader.data[byte];
  if (((value >> bit) & 1u) == 0) return 1;
  return (value & ((1u << bit) - 1u)) != 0 ? 1 : 0;
}

}  // namespace tarnwell
