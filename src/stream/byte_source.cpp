#include "stream/byte_source.h"

#include <cstring>
#include <limits>

namespace tarnwell {

namespace {

bool seek_to(std::FILE* file, uint64_t offset) {
  if (offset > static_cast<uint64_t>(std::numeric_limits<long long>::max())) return false;
#ifdef _WIN32
  return _fseeki64(file, static_cast<long long>(offset), SEEK_SET) == 0;
#else
  return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

}  // namespace

std::size_t FileSource::read(uint8_t* into, std::size_t count) {
  return file_ == nullptr ? 0 : std::fread(into, 1, count, file_);
}

bool FileSource::restart() { return file_ != nullptr && std::fseek(file_, 0, SEEK_SET) == 0; }

std::size_t SpooledInput::read(uint8_t* into, std::size_t count) {
  std::size_t done = 0;
  // The part read before comes from the spool.
  if (position_ < spooled_) {
    if (spool_ == nullptr || !spool_complete_ || !seek_to(spool_, position_)) return 0;
    const uint64_t kept = spooled_ - position_;
    const std::size_t want = kept < count ? static_cast<std::size_t>(kept) : count;
    done = std::fread(into, 1, want, spool_);
    position_ += done;
    if (done < want) return done;  // the spool failed: the reading ends here
  }
  if (done == count) return done;
  // The rest is new: taken from the stream (its head first) and added to the spool.
  std::size_t fresh = 0;
  if (spooled_ < head_.size()) {
    const uint64_t left = head_.size() - spooled_;
    fresh = left < count - done ? static_cast<std::size_t>(left) : count - done;
    std::memcpy(into + done, head_.data() + spooled_, fresh);
  }
  if (done + fresh < count && stream_ != nullptr) {
    fresh += std::fread(into + done + fresh, 1, count - done - fresh, stream_);
  }
  if (fresh > 0 && spool_ != nullptr && spool_complete_) {
    if (!seek_to(spool_, spooled_) || std::fwrite(into + done, 1, fresh, spool_) != fresh) spool_complete_ = false;
  }
  spooled_ += fresh;
  position_ += fresh;
  return done + fresh;
}

bool SpooledInput::restart() {
  if (spooled_ > 0 && (spool_ == nullptr || !spool_complete_ || std::fflush(spool_) != 0)) return false;
  position_ = 0;
  return true;
}

}  // namespace tarnwell
