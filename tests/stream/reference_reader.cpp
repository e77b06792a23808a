#include "reference_reader.h"

namespace tarnwell::test {

ReferenceReader::ReferenceReader(uint32_t window_bytes, uint32_t search_limit)
    : window_(window_bytes), search_limit_(search_limit) {}

uint32_t ReferenceReader::begin_stream(std::FILE* file) {
  file_ = file;
  window_fill_ = static_cast<uint32_t>(std::fread(window_.data(), 1, window_.size(), file_));
  window_pos_ = 0;
  seek_first_start_code_ = 1;
  return window_fill_;
}

int ReferenceReader::next_stream_byte(uint8_t& out) {
  if (window_pos_ < window_fill_) {
    out = window_[window_pos_++];
    return 0;
  }
  if (window_fill_ < window_.size()) return -1;
  window_fill_ = static_cast<uint32_t>(std::fread(window_.data(), 1, window_.size(), file_));
  window_pos_ = 0;
  if (window_fill_ == 0) return -1;
  out = window_[window_pos_++];
  return 0;
}

int32_t ReferenceReader::GetAnnexbNALU(ReferenceNal& nal) {
  std::vector<uint8_t>& buf = buffer_;
  if (seek_first_start_code_ == 1) {
    buf.clear();
    for (;;) {
      uint8_t b = 0;
      if (next_stream_byte(b) != 0) return 0;
      buf.push_back(b);
      std::size_t n = buf.size();
      if (n >= 3 && buf[n - 3] == 0 && buf[n - 2] == 0 && buf[n - 1] == 1) break;
      stream_ended_ = 0;
      if (n == search_limit_) {
        ++failed_searches_;
        return -1;
      }
    }
  } else if (stream_ended_ == 1) {
    return 0;
  }
  buf.assign({0x00, 0x00, 0x01});
  seek_first_start_code_ = 0;
  int64_t length = 0;
  for (;;) {
    std::size_t count = buf.size();
    if (count >= 4 && buf[count - 3] == 0 && buf[count - 2] == 0 && buf[count - 1] == 1) {
      if (buf[count - 4] != 0) {
        length = static_cast<int64_t>(count) - 3;
      } else {
        int64_t z = 0;
        for (int64_t i = static_cast<int64_t>(count) - 5; buf[static_cast<std::size_t>(i)] == 0; --i) ++z;
        length = static_cast<int64_t>(count) - 4 - z;
      }
      break;
    }
    uint8_t b = 0;
    if (next_stream_byte(b) != 0) {
      stream_ended_ = 1;
      // A start code at the very end of the file begins no NAL unit.
      if (count == 3) return 0;
      length = static_cast<int64_t>(count);
      break;
    }
    buf.push_back(b);
  }
  nal.start_code_length = 3;
  nal.length = length;
  nal.forbidden_zero_bit = (buf[3] >> 7) & 1;
  nal.nal_ref_idc = (buf[3] >> 5) & 3;
  nal.nal_unit_type = buf[3] & 0x1F;
  nal.buffer = buf;
  return 1;
}

int64_t reference_remove_emulation_prevention(uint8_t* bytes, int64_t end, int64_t begin) {
  if (end < begin) return end;
  int64_t i = begin;
  int64_t j = begin;
  int zeros = 0;
  while (i < end) {
    if (zeros == 2 && bytes[i] == 0x03) {
      if (i == end - 1) return j;
      ++i;
      zeros = 0;
    }
    bytes[j] = bytes[i];
    zeros = bytes[i] == 0x00 ? zeros + 1 : 0;
    ++i;
    ++j;
  }
  return j;
}

}  // namespace tarnwell::test
