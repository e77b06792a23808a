#pragma once
// Where the NAL reader's bytes come from when they are not a plain file:
// a stream that cannot be sought, read once and kept in a temporary copy so
// that it can be read again from its first byte.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

namespace tarnwell {

class ByteSource {
 public:
  // Up to `count` bytes into `into`, as fread gives them: fewer only at the
  // end of the stream or after a read error.
  virtual std::size_t read(uint8_t* into, std::size_t count) = 0;

 protected:
  ~ByteSource() = default;
};

// A byte source that can be read again from its first byte.
class RewindableSource : public ByteSource {
 public:
  // The next read starts at the first byte again; false when it cannot.
  virtual bool restart() = 0;

 protected:
  ~RewindableSource() = default;
};

// An open file that can be sought (a regular file), read from where it
// stands and restarted at its first byte. The file is not closed here.
class FileSource final : public RewindableSource {
 public:
  explicit FileSource(std::FILE* file) : file_(file) {}
  std::size_t read(uint8_t* into, std::size_t count) override;
  bool restart() override;

 private:
  std::FILE* file_;
};

// A stream that cannot be sought (a pipe, a terminal, standard input), read
// through a spool: every byte taken from it is also written to a temporary
// file, so a later reading takes the bytes read before from the spool and
// goes on in the stream where it stopped; the stream is read once. Without a
// spool (none made or wanted, or a write to it failed) it is read once only.
class SpooledInput final : public RewindableSource {
 public:
  // Neither file is closed here. `spool` may be null. `head`: the stream's
  // first bytes, already taken from it (to see what the input is); they are
  // read first, as if they came from the stream.
  SpooledInput(std::FILE* stream, std::FILE* spool, std::vector<uint8_t> head = {})
      : stream_(stream), spool_(spool), head_(std::move(head)) {}
  SpooledInput(const SpooledInput&) = delete;
  SpooledInput& operator=(const SpooledInput&) = delete;

  std::size_t read(uint8_t* into, std::size_t count) override;

  // The next read starts at the first byte again. False, and nothing
  // changed, when the bytes read so far are not all in the spool.
  bool restart() override;

 private:
  std::FILE* stream_;
  std::FILE* spool_;
  std::vector<uint8_t> head_;
  bool spool_complete_ = true;  // every byte taken from the stream is in the spool
  uint64_t spooled_ = 0;        // bytes taken from the stream
  uint64_t position_ = 0;       // of the current reading
};

// Bytes in memory (which outlive it) read as a stream, in reads of at most
// `max_read` bytes (small, uneven reads let a test see records straddle its
// reader's refills).
class MemorySource final : public RewindableSource {
 public:
  MemorySource(const uint8_t* data, std::size_t size, std::size_t max_read = SIZE_MAX)
      : data_(data), size_(size), max_read_(max_read) {}
  std::size_t read(uint8_t* into, std::size_t count) override {
    const std::size_t take = std::min({count, size_ - pos_, max_read_});
    if (take > 0) std::memcpy(into, data_ + pos_, take);
    pos_ += take;
    return take;
  }
  bool restart() override {
    pos_ = 0;
    return true;
  }

 private:
  const uint8_t* data_;
  std::size_t size_;
  std::size_t max_read_;
  std::size_t pos_ = 0;
};

}  // namespace tarnwell
