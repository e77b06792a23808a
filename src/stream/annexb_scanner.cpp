#include "stream/annexb_scanner.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace tarnwell {

AnnexbScanner::AnnexbScanner(uint32_t block_bytes, uint32_t keep_bytes)
    : block_bytes_(std::clamp<uint32_t>(block_bytes, 1, 1u << 28)),
      keep_bytes_(std::clamp<uint32_t>(keep_bytes, 16, 1u << 28)) {
  block_.reset(new (std::nothrow) uint8_t[block_bytes_]);
  keep_.reset(new (std::nothrow) uint8_t[keep_bytes_]);
}

void AnnexbScanner::begin(ByteSource& source) {
  begin(static_cast<std::FILE*>(nullptr));
  source_ = &source;
}

void AnnexbScanner::begin(std::FILE* file, std::vector<uint8_t> head) {
  file_ = file;
  source_ = nullptr;
  head_ = std::move(head);
  head_taken_ = 0;
  len_ = 0;
  pos_ = 0;
  block_origin_ = 0;
  zero_run_ = 0;
  started_ = false;
  ended_ = false;
  read_error_ = false;
  leading_zero_bytes_ = 0;
}

bool AnnexbScanner::refill() {
  if ((file_ == nullptr && source_ == nullptr) || !allocated()) return false;
  block_origin_ += len_;
  pos_ = 0;
  if (head_taken_ < head_.size()) {
    len_ = std::min<std::size_t>(block_bytes_, head_.size() - head_taken_);
    std::memcpy(block_.get(), head_.data() + head_taken_, len_);
    head_taken_ += len_;
    return true;
  }
  if (source_ != nullptr) {
    len_ = source_->read(block_.get(), block_bytes_);
    return len_ > 0;
  }
  len_ = std::fread(block_.get(), 1, block_bytes_, file_);
  if (len_ == 0 && std::ferror(file_) != 0) read_error_ = true;
  return len_ > 0;
}

void AnnexbScanner::copy_kept(const uint8_t* src, std::size_t n) {
  if (n == 0) return;
  if (seen_ == 0) {
    // The header byte decides how much of this NAL unit is worth keeping.
    const int32_t type = src[0] & 0x1F;
    keep_limit_ = (type >= 1 && type <= 5) ? std::min(kSliceKeepBytes, keep_bytes_) : keep_bytes_;
  }
  seen_ += n;
  if (kept_ >= keep_limit_) return;
  const std::size_t room = keep_limit_ - kept_;
  const std::size_t take = std::min(room, n);
  std::memcpy(keep_.get() + kept_, src, take);
  kept_ += static_cast<uint32_t>(take);
}

// Moves on to just after the next 0x01 that follows at least two zero bytes,
// copying the bytes passed over into the kept bytes when asked. Zero bytes
// are counted as they pass so the run in front of the 0x01 is known even
// when it spans blocks.
AnnexbScanner::Scan AnnexbScanner::find_start_code(bool keep) {
  for (;;) {
    if (pos_ == len_ && !refill()) return read_error_ ? Scan::kError : Scan::kEnd;
    const uint8_t* b = block_.get() + pos_;
    const std::size_t n = len_ - pos_;
    const void* hit = std::memchr(b, 0x01, n);
    const std::size_t upto = hit == nullptr ? n : static_cast<std::size_t>(static_cast<const uint8_t*>(hit) - b);
    if (keep) copy_kept(b, upto);
    if (upto > 0) {
      std::size_t t = 0;
      while (t < upto && b[upto - 1 - t] == 0) ++t;
      zero_run_ = t == upto ? zero_run_ + t : t;
    }
    if (hit == nullptr) {
      pos_ = len_;
      continue;
    }
    const uint64_t at = block_origin_ + pos_ + upto;
    pos_ += upto + 1;
    if (zero_run_ >= 2) {
      found_at_ = at;
      found_zeros_ = zero_run_;
      zero_run_ = 0;
      return Scan::kFound;
    }
    if (keep) copy_kept(b + upto, 1);
    zero_run_ = 0;
  }
}

int32_t AnnexbScanner::next(ScannedNal& nal) {
  if (!allocated() || ended_) return 0;
  if (!started_) {
    started_ = true;
    Scan s = find_start_code(false);
    if (s != Scan::kFound) {
      ended_ = true;
      return s == Scan::kError ? -1 : 0;
    }
    cur_header_ = found_at_ + 1;
    cur_start_ = found_at_ - 2 - (found_zeros_ >= 3 ? 1 : 0);
    leading_zero_bytes_ = found_zeros_ - 2 - (found_zeros_ >= 3 ? 1 : 0);
  }
  kept_ = 0;
  seen_ = 0;
  keep_limit_ = keep_bytes_;
  Scan s = find_start_code(true);
  if (s == Scan::kError) {
    ended_ = true;
    return -1;
  }
  uint64_t end = 0;
  uint64_t next_start = 0;
  if (s == Scan::kFound) {
    // One zero byte in front of the start code prefix is the next NAL unit's
    // zero_byte; any more are this one's trailing zero bytes.
    next_start = found_at_ - 2 - (found_zeros_ >= 3 ? 1 : 0);
    end = found_at_ >= found_zeros_ ? found_at_ - found_zeros_ : 0;
  } else {
    ended_ = true;
    next_start = block_origin_ + len_;
    end = next_start >= zero_run_ ? next_start - zero_run_ : 0;
    // A start code at the very end of the stream begins no NAL unit.
    if (next_start == cur_header_) return 0;
  }
  // The zero run may reach back over the header byte itself (a zero header).
  end = std::max(end, cur_header_);
  next_start = std::max(next_start, cur_header_);
  const uint64_t size = end - cur_header_;
  kept_ = static_cast<uint32_t>(std::min<uint64_t>(kept_, size));

  nal.start = cur_start_;
  nal.header = cur_header_;
  nal.end = end;
  nal.next_start = next_start;
  nal.data = keep_.get();
  nal.kept = kept_;
  nal.complete = kept_ == size;
  nal.nal_unit_type = kept_ > 0 ? (keep_[0] & 0x1F) : 0;
  nal.nal_ref_idc = kept_ > 0 ? ((keep_[0] >> 5) & 3) : 0;

  if (s == Scan::kFound) {
    cur_header_ = found_at_ + 1;
    cur_start_ = next_start;
  }
  return 1;
}

}  // namespace tarnwell
