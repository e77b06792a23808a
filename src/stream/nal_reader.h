#pragma once
// Cuts an Annex B byte stream into NAL units, one at a time, through a large
// read window, and keeps the NAL unit just cut in one NAL buffer where the
// picture assembler and the parsers read it in place. Also the two byte-level
// conversions every NAL unit goes through: removal of emulation prevention
// bytes and the length of the RBSP up to its stop bit.
#include <cstdint>
#include <cstdio>
#include <memory>

#include "base/error_reporter.h"
#include "stream/byte_source.h"
#include "stream/nal_unit.h"

namespace tarnwell {

inline constexpr uint32_t kReadWindowBytes = 8000000;
inline constexpr uint32_t kNalBufferBytes = 8000000;

// Removes emulation prevention bytes in place from bytes[begin .. end) and
// returns the index just after the last byte kept. An 0x03 that follows
// exactly two zero bytes (counted since the last non-zero byte or removal) is
// dropped; nothing else is checked.
int32_t remove_emulation_prevention(uint8_t* bytes, int32_t end, int32_t begin);

// For the count bytes after a NAL header byte: the number of bytes up to and
// including the last non-zero one (the byte with the stop bit); 0 when all
// are zero.
int32_t rbsp_data_length(const uint8_t* data, int32_t count);

class NalReader {
 public:
  // The window and the NAL buffer are allocated here, once; smaller sizes let
  // tests reach the window's and the buffer's ends with small inputs. A
  // failed allocation is reported, and the reader then delivers no NAL unit.
  explicit NalReader(ErrorReporter& reporter, uint32_t window_bytes = kReadWindowBytes,
                     uint32_t nal_buffer_bytes = kNalBufferBytes);
  NalReader(const NalReader&) = delete;
  NalReader& operator=(const NalReader&) = delete;

  // Part of the parsing-state reset: the next GetAnnexbNALU searches for the
  // first start code of a pass.
  void reset();

  // Reads the first block from the current position of file (opened or
  // rewound by the caller, who also closes it) and starts a pass. Returns the
  // number of bytes read.
  uint32_t begin_stream(std::FILE* file) { return begin_reading(file, nullptr); }
  // The same, reading from `source` (which outlives the pass) instead.
  uint32_t begin_stream(ByteSource& source) { return begin_reading(nullptr, &source); }

  // 1: a NAL unit was delivered into nal; 0: no NAL unit is left; -1: no start
  // code within the first nal_buffer_bytes - 1 bytes (7,999,999) searched at
  // the start of a pass (reported; the next call searches on). On 0 and -1
  // nal is left as it was. A start code at the very end of the file begins no
  // NAL unit.
  int32_t GetAnnexbNALU(NalUnit& nal);

  // The picture assembler's preparation of the NAL unit just delivered, as
  // NalUnit describes it: from the header byte on, emulation prevention bytes
  // removed (from the count of dropped bytes too). A parser then reads
  //   make_bit_reader(nal.bytes + 1, rbsp_data_length(nal.bytes + 1, nal.length - 1), nal.readable - 1)
  // A record that is not as this reader delivered it is left unchanged.
  void prepare(NalUnit& nal);

  int32_t seek_first_start_code() const { return seek_first_start_code_; }
  int32_t stream_ended() const { return stream_ended_; }
  uint32_t window_fill() const { return window_fill_; }
  bool allocated() const { return window_ != nullptr && nal_ != nullptr; }

 private:
  uint32_t begin_reading(std::FILE* file, ByteSource* source);
  uint32_t read_block();
  bool fill_window();
  int32_t find_first_start_code();
  int32_t read_body(NalUnit& nal);
  int32_t read_body_beyond_buffer(NalUnit& nal);
  void deliver(NalUnit& nal, int32_t kept_length, uint64_t dropped, uint64_t dropped_removed, int32_t readable);

  ErrorReporter& reporter_;
  uint32_t window_bytes_;
  uint32_t nal_bytes_;
  std::unique_ptr<uint8_t[]> window_;
  // nal_bytes_ bytes, plus one that is never written: the byte after the data
  // that the bit reader may look into exists even for a NAL unit that fills
  // the buffer.
  std::unique_ptr<uint8_t[]> nal_;
  std::FILE* file_ = nullptr;
  ByteSource* source_ = nullptr;  // when set, read instead of file_
  uint32_t window_fill_ = 0;
  uint32_t window_pos_ = 0;
  int32_t seek_first_start_code_ = 1;
  int32_t stream_ended_ = 0;

  // About the NAL unit delivered last, for prepare().
  bool prepare_pending_ = false;
  std::size_t first_03_ = 0;      // NAL buffer index of the first 0x03 after two zero bytes; kNoIndex: none
  uint64_t dropped_removed_ = 0;  // emulation prevention bytes among the bytes beyond the buffer
};

}  // namespace tarnwell
