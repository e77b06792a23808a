#include "verify/buffer_model.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace tarnwell {

namespace {

constexpr uint64_t kMaxU32 = std::numeric_limits<uint32_t>::max();
constexpr uint64_t kMaxU64 = std::numeric_limits<uint64_t>::max();
constexpr uint32_t kMaxI32 = static_cast<uint32_t>(std::numeric_limits<int32_t>::max());

// A 32-bit value printed by "%d": its bit pattern read as signed.
int32_t as_signed(uint32_t value) { return static_cast<int32_t>(value); }

// Truncates a quotient toward zero into 64 bits. NaN and negatives give 0;
// values past the range saturate instead of being undefined.
uint64_t truncate_to_u64(double value) {
  if (!(value > 0.0)) return 0;
  if (value >= 18446744073709551616.0) return std::numeric_limits<uint64_t>::max();
  return static_cast<uint64_t>(value);
}

}  // namespace

uint32_t percent_of(uint64_t part, uint64_t whole) {
  if (whole == 0) return 0;
  uint64_t percent = truncate_to_u64(static_cast<double>(part) * 100.0 / static_cast<double>(whole));
  return percent > kMaxU32 ? static_cast<uint32_t>(kMaxU32) : static_cast<uint32_t>(percent);
}

uint32_t bit_rate_step(uint32_t bit_rate) {
  if (bit_rate < 1000000) return 100000;
  if (bit_rate < 10000000) return 500000;
  if (bit_rate < 20000000) return 1000000;
  if (bit_rate < 60000000) return 3000000;
  return 10000000;
}

uint32_t buffer_size_step(uint32_t buffer_size) {
  if (buffer_size < 25000) return 1000;
  if (buffer_size < 500000) return 5000;
  if (buffer_size < 1000000) return 100000;
  if (buffer_size < 10000000) return 500000;
  if (buffer_size < 20000000) return 1000000;
  if (buffer_size < 60000000) return 3000000;
  return 10000000;
}

uint32_t default_initial_fill(uint32_t buffer_size) {
  return static_cast<uint32_t>(truncate_to_u64(static_cast<double>(buffer_size) * 0.9));
}

uint64_t arrival_per_picture(uint32_t bit_rate, double frame_rate) {
  return truncate_to_u64(static_cast<double>(bit_rate) / frame_rate);
}

BufferModel::BufferModel(CheckSettings& settings, const FrameRateFraction& stream_rate, CheckObserver& observer)
    : settings_(settings), stream_rate_(stream_rate), observer_(observer) {}

ModelStep BufferModel::stop(Outcome outcome, const char* text) {
  outcome_ = outcome;
  message_ = text;
  observer_.on_stop(message_);
  return ModelStep::Stopped;
}

bool BufferModel::begin_model_pass() {
  fullness_ = settings_.initial_fill;
  if (settings_.buffer_size == 0 && settings_.bit_rate == 0) {
    stop(Outcome::Refused, "You must specify a bitrate!");
    return false;
  }
  if (settings_.buffer_size == 0) {
    mode_ = SearchMode::BufferSize;
    settings_.initial_fill = 0;
    observer_.on_value(CheckValue::InitialFill, 0);
    observer_.on_value(CheckValue::BufferSize, settings_.buffer_size);
    fullness_ = 0;
  } else if (settings_.bit_rate == 0) {
    mode_ = SearchMode::BitRate;
    observer_.on_value(CheckValue::BitRate, 0);
  }
  if (settings_.initial_fill > settings_.buffer_size) {
    stop(Outcome::Refused, "Initial fill cannot exceed buffer size");
    return false;
  }
  return true;
}

// One search step after an underflow. A step that would carry the value past
// the largest 32-bit number ends the search instead of wrapping to a small
// value; the settings and edits keep the last value tried.
ModelStep BufferModel::search_step() {
  if (mode_ == SearchMode::BitRate) {
    uint64_t next = uint64_t{settings_.bit_rate} + bit_rate_step(settings_.bit_rate);
    if (next > kMaxU32) {
      return stop(Outcome::SearchExhausted, "Cannot find a workable bit rate below 4294967295 bits/s");
    }
    settings_.bit_rate = static_cast<uint32_t>(next);
    observer_.on_value(CheckValue::BitRate, settings_.bit_rate);
    return ModelStep::Restart;
  }
  uint64_t next = uint64_t{settings_.buffer_size} + buffer_size_step(settings_.buffer_size);
  if (next > kMaxU32) {
    return stop(Outcome::SearchExhausted, "Cannot find a workable buffer size below 4294967295 bits");
  }
  settings_.buffer_size = static_cast<uint32_t>(next);
  settings_.initial_fill = default_initial_fill(settings_.buffer_size);
  observer_.on_value(CheckValue::InitialFill, settings_.initial_fill);
  observer_.on_value(CheckValue::BufferSize, settings_.buffer_size);
  return ModelStep::Restart;
}

ModelStep BufferModel::apply_picture(uint32_t picture_bits) {
  char text[256];
  fullness_before_ = fullness_;
  observer_.on_fullness(percent_of(fullness_, settings_.buffer_size));

  if (mode_ != SearchMode::BufferSize && picture_bits > settings_.buffer_size) {
    std::snprintf(text, sizeof text,
                  "UNDERSIZED BUFFER frame size=%d bits can't fit in buffer.\nIncrease your buffer size.",
                  as_signed(picture_bits));
    return stop(Outcome::Undersized, text);
  }

  // A picture exactly as large as the fullness empties the buffer: no underflow.
  if (picture_bits > fullness_) {
    if (mode_ != SearchMode::None) return search_step();
    observer_.on_fullness(0);
    std::snprintf(text, sizeof text, "UNDERFLOW frame size=%d bits, underflow=%d bits", as_signed(picture_bits),
                  as_signed(picture_bits - fullness_));
    return stop(Outcome::Underflow, text);
  }
  fullness_ -= picture_bits;

  if (settings_.frame_rate < 1.0) {
    const bool timing = stream_timing_ && stream_rate_.has_timing();
    const uint32_t num = timing ? stream_rate_.timing_num : stream_rate_.frame_rate_num;
    const uint64_t den = timing ? stream_rate_.timing_den : stream_rate_.frame_rate_den;
    if (num == 0 || den == 0) {
      return stop(Outcome::UnknownFrameRate, "Dont' know the frame rate!");
    }
    taken_rate_ = true;
    taken_fraction_ = stream_rate_;
    settings_.frame_rate = static_cast<double>(num) / static_cast<double>(den);
    observer_.on_frame_rate(settings_.frame_rate);
  }

  // One picture interval of bits arrives; the fraction is dropped at every
  // picture. The sum is formed in 64 bits from the whole increment, so an
  // arrival that would carry the fullness past the largest 32-bit value is
  // judged as the overflow it is (with its true excess) instead of wrapping
  // around to a small fullness or being cut to exactly a full 32-bit buffer.
  // Only a sum past the 64-bit range saturates.
  uint64_t increment = arrival_per_picture(settings_.bit_rate, settings_.frame_rate);
  uint64_t arrived = increment > kMaxU64 - fullness_ ? kMaxU64 : fullness_ + increment;

  // A fullness exactly at the buffer size is no overflow.
  if (arrived > settings_.buffer_size) {
    if (observer_.strict_overflow()) {
      observer_.on_fullness(100);
      uint64_t excess = arrived - settings_.buffer_size;
      uint32_t shown = excess > kMaxI32 ? kMaxI32 : static_cast<uint32_t>(excess);
      fullness_ = arrived > kMaxU32 ? static_cast<uint32_t>(kMaxU32) : static_cast<uint32_t>(arrived);
      std::snprintf(text, sizeof text, "OVERFLOW frame size=%d bits, overflow=%d bits\n", as_signed(picture_bits),
                    as_signed(shown));
      return stop(Outcome::Overflow, text);
    }
    fullness_ = settings_.buffer_size;
  } else {
    fullness_ = static_cast<uint32_t>(arrived);
  }
  return ModelStep::Continue;
}

}  // namespace tarnwell
