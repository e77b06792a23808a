#pragma once
// A second way through an Annex B byte stream, for the conformance check: it
// knows where every byte of the stream belongs. Each NAL unit comes with its
// byte positions and the first bytes of its payload, emulation prevention
// bytes still in. The file is read once, a block at a time; memory does not
// grow with the stream.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "stream/byte_source.h"

namespace tarnwell {

struct ScannedNal {
  uint64_t start = 0;       // first byte of this NAL unit in the byte stream (zero_byte or start code prefix)
  uint64_t header = 0;      // position of the NAL header byte
  uint64_t end = 0;         // one past the NAL unit's last byte; trailing zero bytes excluded
  uint64_t next_start = 0;  // where the next NAL unit begins, or the stream's length after the last one
  int32_t nal_unit_type = 0;
  int32_t nal_ref_idc = 0;
  // The first `kept` bytes from the header byte on, as in the stream.
  const uint8_t* data = nullptr;
  uint32_t kept = 0;
  bool complete = false;  // kept covers the whole NAL unit

  uint64_t size() const { return end - header; }
};

class AnnexbScanner {
 public:
  static constexpr uint32_t kDefaultBlockBytes = 1u << 20;
  // NAL units of types 1 to 5 keep at most kSliceKeepBytes (a slice header
  // needs far fewer); every other type up to keep_bytes.
  static constexpr uint32_t kSliceKeepBytes = 1024;

  explicit AnnexbScanner(uint32_t block_bytes = kDefaultBlockBytes, uint32_t keep_bytes = 1u << 20);
  AnnexbScanner(const AnnexbScanner&) = delete;
  AnnexbScanner& operator=(const AnnexbScanner&) = delete;

  // Starts a pass over file from its current position (the caller opens and
  // closes it). `head`: bytes already taken from the file (to see what the
  // input is), scanned first as if they came from it.
  void begin(std::FILE* file, std::vector<uint8_t> head = {});
  // The same, reading from `source` (which outlives the pass) instead.
  void begin(ByteSource& source);
  // 1: a NAL unit was delivered; 0: none is left (or the buffers could not be
  // allocated); -1: the file could not be read.
  int32_t next(ScannedNal& nal);

  bool allocated() const { return block_ != nullptr && keep_ != nullptr; }
  // The zero bytes just before the first NAL unit's start (leading_zero_8bits):
  // whatever comes before them is not part of a byte stream.
  uint64_t leading_zero_bytes() const { return leading_zero_bytes_; }

 private:
  enum class Scan { kFound, kEnd, kError };
  Scan find_start_code(bool keep);
  bool refill();
  void copy_kept(const uint8_t* src, std::size_t n);

  uint32_t block_bytes_;
  uint32_t keep_bytes_;
  std::unique_ptr<uint8_t[]> block_;
  std::unique_ptr<uint8_t[]> keep_;
  std::FILE* file_ = nullptr;
  ByteSource* source_ = nullptr;  // when set, read instead of file_
  std::vector<uint8_t> head_;
  std::size_t head_taken_ = 0;
  std::size_t len_ = 0;
  std::size_t pos_ = 0;
  uint64_t block_origin_ = 0;  // stream position of block_[0]
  uint64_t zero_run_ = 0;      // zero bytes just before pos_, since the last 0x01 of a start code
  bool started_ = false;
  bool ended_ = false;
  bool read_error_ = false;
  uint64_t leading_zero_bytes_ = 0;

  // The NAL unit being collected.
  uint64_t cur_start_ = 0;
  uint64_t cur_header_ = 0;
  uint32_t kept_ = 0;
  uint32_t keep_limit_ = 0;
  uint64_t seen_ = 0;  // payload bytes looked at since cur_header_

  // The start code found last.
  uint64_t found_at_ = 0;     // stream position of its 0x01
  uint64_t found_zeros_ = 0;  // zero bytes in front of that 0x01
};

}  // namespace tarnwell
