#pragma once
// The Annex B reader written the plain way, one byte at a time, with a NAL
// buffer that grows as far as a NAL unit needs. The tests require the real
// reader to deliver exactly what this one delivers.
#include <cstdint>
#include <cstdio>
#include <vector>

namespace tarnwell::test {

struct ReferenceNal {
  int32_t start_code_length = 0;
  int64_t length = 0;  // from the start of the buffer, the whole NAL unit
  int32_t nal_unit_type = 0;
  int32_t nal_ref_idc = 0;
  int32_t forbidden_zero_bit = 0;
  std::vector<uint8_t> buffer;  // every byte written for this NAL unit
};

class ReferenceReader {
 public:
  // search_limit: bytes read in the search for the first start code before
  // it gives up (the NAL buffer's size less one).
  ReferenceReader(uint32_t window_bytes, uint32_t search_limit);

  void reset() { seek_first_start_code_ = 1; }
  uint32_t begin_stream(std::FILE* file);
  int32_t GetAnnexbNALU(ReferenceNal& nal);

  int32_t seek_first_start_code() const { return seek_first_start_code_; }
  int32_t stream_ended() const { return stream_ended_; }
  int failed_searches() const { return failed_searches_; }

 private:
  int next_stream_byte(uint8_t& out);

  std::vector<uint8_t> window_;
  uint32_t search_limit_;
  std::FILE* file_ = nullptr;
  uint32_t window_fill_ = 0;
  uint32_t window_pos_ = 0;
  int32_t seek_first_start_code_ = 1;
  int32_t stream_ended_ = 0;
  int failed_searches_ = 0;
  std::vector<uint8_t> buffer_;
};

// Emulation prevention removal with an explicit zero counter, byte by byte.
int64_t reference_remove_emulation_prevention(uint8_t* bytes, int64_t end, int64_t begin);

}  // namespace tarnwell::test
