#include "stream/nal_reader.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "stream/byte_scan.h"

namespace tarnwell {

namespace {

constexpr uint32_t kStartCodeBytes = 3;
// Smallest NAL buffer: room for a start code, a header byte and the bytes
// that the emulation prevention rule looks back at.
constexpr uint32_t kMinNalBufferBytes = 16;
// Largest sizes, so that every index and length fits a 32-bit signed value.
constexpr uint32_t kMaxBufferBytes = 1u << 30;

// remove_emulation_prevention, with the scan for emulation prevention bytes
// starting at index scan_from (an 0x03 before it is known not to follow two
// zero bytes). An 0x03 at index i is dropped exactly when bytes i - 2 and
// i - 1 are zero and byte i - 3 is not zero or lies before begin: that is
// when the count of zero bytes since the last non-zero byte or removal is 2.
// Kept bytes move down in runs; each run moves only after the bytes that
// decide about the next removal have been looked at.
int32_t remove_emulation_prevention_from(uint8_t* bytes, int32_t end, int32_t begin, int32_t scan_from) {
  if (end < begin) return end;
  int32_t write = begin;  // next index to write
  int32_t run = begin;    // first byte not yet moved
  int32_t pos = std::max(begin, scan_from - 2);
  while (pos < end) {
    int32_t k = pos + static_cast<int32_t>(find_zero_pair(bytes + pos, static_cast<std::size_t>(end - pos)));
    if (k + 2 >= end) break;
    uint8_t after = bytes[k + 2];
    if (after == 0x03 && (k - 1 < begin || bytes[k - 1] != 0)) {
      int32_t i = k + 2;
      if (write != run) std::memmove(bytes + write, bytes + run, static_cast<std::size_t>(i - run));
      write += i - run;
      run = i + 1;
      if (i == end - 1) return write;
      pos = i + 1;
    } else if (after == 0x00) {
      // Three or more zero bytes: an 0x03 right after them stays.
      int32_t x = k + 3;
      while (x < end && bytes[x] == 0) ++x;
      pos = x + 1;
    } else {
      pos = k + 3;
    }
  }
  if (write != run) std::memmove(bytes + write, bytes + run, static_cast<std::size_t>(end - run));
  return write + (end - run);
}

// Zeroed, so that every byte a reader may look at has a value, and the pages
// are touched here rather than in the first pass.
uint8_t* allocate(uint32_t count) { return new (std::nothrow) uint8_t[count](); }

}  // namespace

int32_t remove_emulation_prevention(uint8_t* bytes, int32_t end, int32_t begin) {
  return remove_emulation_prevention_from(bytes, end, begin, begin);
}

int32_t rbsp_data_length(const uint8_t* data, int32_t count) {
  for (int32_t i = count - 1; i >= 0; --i) {
    if (data[i] != 0) return i + 1;
  }
  return 0;
}

NalReader::NalReader(ErrorReporter& reporter, uint32_t window_bytes, uint32_t nal_buffer_bytes)
    : reporter_(reporter),
      window_bytes_(std::clamp<uint32_t>(window_bytes, 1, kMaxBufferBytes)),
      nal_bytes_(std::clamp(nal_buffer_bytes, kMinNalBufferBytes, kMaxBufferBytes)) {
  window_.reset(allocate(window_bytes_));
  if (!window_) {
    reporter_.report_out_of_memory("NalReader: read window");
    return;
  }
  nal_.reset(allocate(nal_bytes_ + 1));
  if (!nal_) reporter_.report_out_of_memory("NalReader: NAL buffer");
}

void NalReader::reset() { seek_first_start_code_ = 1; }

uint32_t NalReader::begin_reading(std::FILE* file, ByteSource* source) {
  file_ = file;
  source_ = source;
  window_pos_ = 0;
  window_fill_ = 0;
  if (allocated() && (file_ != nullptr || source_ != nullptr)) window_fill_ = read_block();
  seek_first_start_code_ = 1;
  return window_fill_;
}

uint32_t NalReader::read_block() {
  std::size_t got = source_ != nullptr ? source_->read(window_.get(), window_bytes_)
                                       : std::fread(window_.get(), 1, window_bytes_, file_);
  return static_cast<uint32_t>(got);
}

// The window is used up: read the next block, unless the last one was short
// (the file ended there). False at the end of the file.
bool NalReader::fill_window() {
  if (window_fill_ < window_bytes_ || (file_ == nullptr && source_ == nullptr)) return false;
  window_fill_ = read_block();
  window_pos_ = 0;
  return window_fill_ > 0;
}

int32_t NalReader::GetAnnexbNALU(NalUnit& nal) {
  if (!allocated()) return 0;
  prepare_pending_ = false;
  if (seek_first_start_code_ == 1) {
    int32_t found = find_first_start_code();
    if (found != 1) return found;
  } else if (stream_ended_ == 1) {
    return 0;
  }
  // The start code was consumed by the search or by the previous call.
  uint8_t* buf = nal_.get();
  buf[0] = 0x00;
  buf[1] = 0x00;
  buf[2] = 0x01;
  seek_first_start_code_ = 0;
  return read_body(nal);
}

// Reads until the last three bytes read in this search are 0x00 0x00 0x01.
// The search gives up after as many bytes as the NAL buffer holds less one;
// the next search then starts afresh with the byte after them.
int32_t NalReader::find_first_start_code() {
  const uint32_t limit = nal_bytes_ - 1;
  uint32_t seen = 0;
  uint8_t before2 = 0xFF;
  uint8_t before1 = 0xFF;
  for (;;) {
    if (window_pos_ == window_fill_ && !fill_window()) {
      if (seen > 0) stream_ended_ = 0;
      return 0;
    }
    const uint8_t* src = window_.get() + window_pos_;
    const uint32_t avail = std::min(window_fill_ - window_pos_, limit - seen);
    uint32_t from = 0;
    while (from < avail) {
      const void* hit = std::memchr(src + from, 0x01, avail - from);
      if (hit == nullptr) break;
      uint32_t k = static_cast<uint32_t>(static_cast<const uint8_t*>(hit) - src);
      uint8_t b1 = k >= 1 ? src[k - 1] : before1;
      uint8_t b2 = k >= 2 ? src[k - 2] : (k == 1 ? before1 : before2);
      if (seen + k >= 2 && b1 == 0 && b2 == 0) {
        window_pos_ += k + 1;
        stream_ended_ = 0;
        return 1;
      }
      from = k + 1;
    }
    if (avail >= 2) {
      before2 = src[avail - 2];
      before1 = src[avail - 1];
    } else if (avail == 1) {
      before2 = before1;
      before1 = src[0];
    }
    seen += avail;
    window_pos_ += avail;
    stream_ended_ = 0;
    if (seen == limit) {
      reporter_.notify_error("GetAnnexbNALU can't read start code");
      return -1;
    }
  }
}

// Copies the NAL unit's body behind the start code until the next start code
// or the end of the file. Zero bytes in front of the next start code (the
// extra zero of a 4-byte start code and any trailing zeros) belong to no NAL
// unit; at the end of the file they stay with the last one.
int32_t NalReader::read_body(NalUnit& nal) {
  uint8_t* buf = nal_.get();
  uint32_t count = kStartCodeBytes;
  first_03_ = kNoIndex;
  for (;;) {
    if (window_pos_ == window_fill_ && !fill_window()) {
      stream_ended_ = 1;
      // A start code at the very end of the file begins no NAL unit.
      if (count == kStartCodeBytes) return 0;
      // The byte after the data, which the bit reader may look into.
      if (count < nal_bytes_) buf[count] = 0;
      deliver(nal, static_cast<int32_t>(count), 0, 0, static_cast<int32_t>(count));
      return 1;
    }
    if (count == nal_bytes_) return read_body_beyond_buffer(nal);
    const uint32_t avail = std::min(window_fill_ - window_pos_, nal_bytes_ - count);
    std::size_t hit = kNoIndex;
    CopyScan scan = copy_until_start_code(window_.get() + window_pos_, buf + count, avail, &hit);
    if (first_03_ == kNoIndex && hit != kNoIndex) first_03_ = count + hit;
    count += static_cast<uint32_t>(scan.consumed);
    window_pos_ += static_cast<uint32_t>(scan.consumed);
    if (scan.start_code) {
      // Back over the zero bytes in front of the 0x01; the 0x01 of this NAL
      // unit's own start code at index 2 stops the walk.
      uint32_t end = count - 2;
      while (buf[end - 1] == 0) --end;
      deliver(nal, static_cast<int32_t>(end), 0, 0, static_cast<int32_t>(count));
      return 1;
    }
  }
}

// The NAL buffer is full and the NAL unit goes on. Its first part stays in
// the buffer for the parsers; the rest is read without being kept, counting
// its bytes and the emulation prevention bytes among them, and watching for
// the next start code exactly as if the buffer went on.
int32_t NalReader::read_body_beyond_buffer(NalUnit& nal) {
  const uint8_t* buf = nal_.get();
  const uint32_t size = nal_bytes_;
  uint8_t before3 = buf[size - 3];
  uint8_t before2 = buf[size - 2];
  uint8_t before1 = buf[size - 1];
  uint32_t zeros_from = size;
  while (buf[zeros_from - 1] == 0) --zeros_from;
  uint64_t zero_run = size - zeros_from;
  uint64_t count = size;
  uint64_t removed = 0;
  for (;;) {
    if (window_pos_ == window_fill_ && !fill_window()) {
      stream_ended_ = 1;
      deliver(nal, static_cast<int32_t>(size), count - size, removed, static_cast<int32_t>(size));
      return 1;
    }
    const uint8_t* src = window_.get() + window_pos_;
    const uint32_t avail = window_fill_ - window_pos_;
    for (uint32_t i = 0; i < avail; ++i) {
      uint8_t b = src[i];
      ++count;
      if (before2 == 0 && before1 == 0) {
        if (b == 0x01) {
          window_pos_ += i + 1;
          uint64_t length = count - 1 - zero_run;
          uint64_t kept = std::min<uint64_t>(length, size);
          deliver(nal, static_cast<int32_t>(kept), length - kept, removed, static_cast<int32_t>(size));
          return 1;
        }
        // Three bytes after the NAL header byte at the least, so the byte
        // before the two zeros is always part of the payload.
        if (b == 0x03 && before3 != 0) ++removed;
      }
      zero_run = b == 0 ? zero_run + 1 : 0;
      before3 = before2;
      before2 = before1;
      before1 = b;
    }
    window_pos_ += avail;
  }
}

void NalReader::deliver(NalUnit& nal, int32_t kept_length, uint64_t dropped, uint64_t dropped_removed,
                        int32_t readable) {
  const uint8_t* buf = nal_.get();
  nal.start_code_length = static_cast<int32_t>(kStartCodeBytes);
  nal.length = kept_length;
  nal.bytes = nal_.get();
  const uint8_t header = buf[kStartCodeBytes];
  nal.forbidden_zero_bit = (header >> 7) & 1;
  nal.nal_ref_idc = (header >> 5) & 3;
  nal.nal_unit_type = header & 0x1F;
  nal.readable = readable;
  nal.dropped_bytes = dropped;
  dropped_removed_ = dropped_removed;
  prepare_pending_ = true;
}

void NalReader::prepare(NalUnit& nal) {
  // Only a NAL unit as delivered, so a second call changes nothing.
  if (nal.bytes != nal_.get() || nal.length < nal.start_code_length) return;
  const int32_t start = nal.start_code_length;
  uint8_t* header = nal.bytes + start;
  const int32_t raw = nal.length - start;
  int32_t scan_from = 1;
  uint64_t removed_beyond = 0;
  if (prepare_pending_) {
    // The body was scanned on its way into the buffer: removal can start at
    // the first 0x03 that follows two zero bytes, or is not needed at all.
    scan_from = first_03_ == kNoIndex ? std::max(raw, 1) : static_cast<int32_t>(first_03_) - start;
    removed_beyond = dropped_removed_;
  }
  prepare_pending_ = false;
  nal.bytes = header;
  nal.length = remove_emulation_prevention_from(header, raw, 1, scan_from);
  nal.readable = std::max(nal.readable - start, 0);
  nal.dropped_bytes = nal.dropped_bytes >= removed_beyond ? nal.dropped_bytes - removed_beyond : 0;
}

}  // namespace tarnwell
