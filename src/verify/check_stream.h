#pragma once
// The stream a check reads, from its first byte for every reading: a file
// named by the stream path (read as its default H.264 stream when it is a
// transport stream), an open stream given by the caller, or bytes given by
// the caller. A stream that cannot be sought is read once; while a search
// may need it again, a temporary copy is kept, and later readings take
// their bytes from there.
#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/check_settings.h"
#include "stream/byte_source.h"
#include "stream/ts_source.h"

namespace tarnwell {

class ParsingState;

inline constexpr uint64_t kUnknownStreamSize = std::numeric_limits<uint64_t>::max();

// Size of a file in bytes through a second, descriptor-level opening; the
// largest 64-bit value when it cannot be measured.
uint64_t measure_file_size(const std::string& path);
// Size of an open regular file; the largest 64-bit value when unknown.
uint64_t stream_file_size(std::FILE* file);

class CheckStream {
 public:
  CheckStream() = default;
  CheckStream(const CheckStream&) = delete;
  CheckStream& operator=(const CheckStream&) = delete;

  // Opens the stream: `input` or `source` when given (neither is closed
  // here), else the file at `path`. `head`: the first bytes of `input`,
  // already taken from it. `search`: a reading may be needed again. False
  // when there is nothing to read: outcome() and refusal() say why.
  // `warn` takes the transport stream layer's warnings.
  bool open(const std::string& path, std::FILE* input, RewindableSource* source, std::vector<uint8_t> head,
            bool search, TsWarningFn warn);
  Outcome outcome() const { return outcome_; }
  const std::string& refusal() const { return refusal_; }

  // Bytes in the stream; kUnknownStreamSize for a pipe or the elementary
  // stream of a transport stream.
  uint64_t size() const { return size_; }

  // Back to the first byte for a reading after the first; false when the
  // stream cannot be read again.
  bool rewind();
  // The reader of `parsing` takes its bytes from the stream, from where it
  // stands.
  void begin_stream(ParsingState& parsing);

 private:
  struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };

  // The file opened here, if any. Declared first, so that the readers of the
  // file below are gone before it closes.
  std::unique_ptr<std::FILE, FileCloser> owned_file_;
  std::FILE* file_ = nullptr;  // the file read: owned_file_ or the caller's input
  RewindableSource* source_ = nullptr;
  TsFileReading ts_file_;
  std::unique_ptr<std::FILE, FileCloser> spool_;
  std::optional<SpooledInput> spooled_;
  uint64_t size_ = kUnknownStreamSize;
  Outcome outcome_ = Outcome::Pass;
  std::string refusal_;
};

}  // namespace tarnwell
