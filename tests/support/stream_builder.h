#pragma once
// Builds Annex B byte streams for tests: RBSPs wrapped into NAL units with
// emulation prevention bytes, joined by 3- or 4-byte start codes, written to
// a temporary file for the code that reads a FILE* or opens a path.
//
//   StreamBuilder stream;
//   stream.nal(3, 7, sps).nal(3, 8, pps).nal(3, 5, idr_slice, 3);
//   TempStreamFile file(stream);
//   reader.begin_stream(file.file());
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "support/bit_writer.h"

namespace tarnwell::test {

// The NAL unit payload for an RBSP: an 0x03 after every two zero bytes that
// are followed by a byte of 0x03 or less, and after two final zero bytes. (A
// single final zero byte stays as it is; a reader takes it for a zero byte in
// front of the next start code.)
std::vector<uint8_t> add_emulation_prevention(const std::vector<uint8_t>& rbsp);

class StreamBuilder {
 public:
  // A NAL unit with forbidden_zero_bit 0. start_code_bytes is 3 or 4.
  StreamBuilder& nal(int nal_ref_idc, int nal_unit_type, const std::vector<uint8_t>& rbsp,
                     int start_code_bytes = 4);
  StreamBuilder& nal(int nal_ref_idc, int nal_unit_type, const BitWriter& rbsp, int start_code_bytes = 4);
  // A NAL unit whose header byte is given whole, forbidden_zero_bit included.
  StreamBuilder& nal_with_header(uint8_t header, const std::vector<uint8_t>& rbsp, int start_code_bytes = 4);
  // Bytes appended as they are: junk before the first start code, trailing
  // zero bytes, a broken tail.
  StreamBuilder& raw(const std::vector<uint8_t>& bytes);

  const std::vector<uint8_t>& bytes() const { return bytes_; }
  // Each NAL unit's size as the picture assembler counts it: the header byte
  // plus the RBSP, without start code and emulation prevention bytes.
  const std::vector<uint32_t>& nal_sizes() const { return nal_sizes_; }

 private:
  std::vector<uint8_t> bytes_;
  std::vector<uint32_t> nal_sizes_;
};

// A file in the temporary directory holding the given bytes, open for
// reading at offset 0; closed and deleted with the object.
class TempStreamFile {
 public:
  explicit TempStreamFile(const std::vector<uint8_t>& bytes);
  explicit TempStreamFile(const StreamBuilder& stream) : TempStreamFile(stream.bytes()) {}
  ~TempStreamFile();
  TempStreamFile(const TempStreamFile&) = delete;
  TempStreamFile& operator=(const TempStreamFile&) = delete;

  // Null after close() or when the file could not be made (a test failure).
  std::FILE* file() const { return file_; }
  const std::string& path() const { return path_; }
  // Closes the FILE*; the file itself stays until the object goes, for code
  // that opens the path on its own.
  void close();

 private:
  std::string path_;
  std::FILE* file_ = nullptr;
};

}  // namespace tarnwell::test
