#include "verify/check_stream.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <utility>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "picture/parsing_state.h"
#include "stream/stream_file.h"

namespace tarnwell {

uint64_t measure_file_size(const std::string& path) {
#ifdef _WIN32
  int fd = _open(path.c_str(), _O_RDONLY | _O_BINARY | _O_SEQUENTIAL);
  if (fd < 0) return kUnknownStreamSize;
  __int64 end = _lseeki64(fd, 0, SEEK_END);
  _close(fd);
#else
  int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return kUnknownStreamSize;
#ifdef POSIX_FADV_SEQUENTIAL
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
  off_t end = ::lseek(fd, 0, SEEK_END);
  ::close(fd);
#endif
  return end < 0 ? kUnknownStreamSize : static_cast<uint64_t>(end);
}

uint64_t stream_file_size(std::FILE* file) {
#ifdef _WIN32
  struct _stat64 info {};
  if (_fstat64(_fileno(file), &info) != 0 || info.st_size < 0) return kUnknownStreamSize;
#else
  struct stat info {};
  if (::fstat(::fileno(file), &info) != 0 || info.st_size < 0) return kUnknownStreamSize;
#endif
  return static_cast<uint64_t>(info.st_size);
}

bool CheckStream::open(const std::string& path, std::FILE* input, RewindableSource* source,
                       std::vector<uint8_t> head, bool search, TsWarningFn warn) {
  source_ = source;
  file_ = input;
  if (input == nullptr && source == nullptr) {
    owned_file_.reset(open_stream_file(path.c_str()));
    file_ = owned_file_.get();
  }
  std::FILE* file = file_;
  if (file == nullptr && source_ == nullptr) {
    outcome_ = Outcome::CannotOpen;
    refusal_ = "Cannot open input file";
    return false;
  }
  // A transport stream named by the path is read as its default H.264 stream.
  if (owned_file_ && ts_file_.begin(file, std::move(warn))) {
    if (ts_file_.source() == nullptr) {
      outcome_ = Outcome::CannotOpen;
      refusal_ = ts_file_.refusal();
      return false;
    }
    source_ = ts_file_.source();
  }
  if (source_ != nullptr) return true;
  if (is_seekable_stream(file)) {
    size_ = input == nullptr ? measure_file_size(path) : stream_file_size(file);
    return true;
  }
  if (search) spool_.reset(open_spool_file());
  spooled_.emplace(file, spool_.get(), std::move(head));
  return true;
}

bool CheckStream::rewind() {
  if (source_ != nullptr) return source_->restart();
  if (spooled_) return spooled_->restart();
  return std::fseek(file_, 0, SEEK_SET) == 0;
}

void CheckStream::begin_stream(ParsingState& parsing) {
  if (source_ != nullptr) {
    parsing.begin_stream(*source_);
  } else if (spooled_) {
    parsing.begin_stream(*spooled_);
  } else {
    parsing.begin_stream(file_);
  }
}

}  // namespace tarnwell
