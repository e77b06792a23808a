#pragma once
// The decoder buffer as a leaky bucket counted in bits: bits arrive at the
// bit rate, one whole picture leaves at every picture time. Fed one picture
// size at a time, it answers whether the run goes on, restarts with a larger
// buffer size or bit rate (the searches), or has ended.
#include <cstdint>
#include <string>

#include "base/check_settings.h"
#include "verify/check_observer.h"

namespace tarnwell {

enum class SearchMode { None, BufferSize, BitRate };

enum class ModelStep { Continue, Restart, Stopped };

// Amount added to the bit rate or buffer size by one search step.
uint32_t bit_rate_step(uint32_t bit_rate);
uint32_t buffer_size_step(uint32_t buffer_size);
// The initial fill the buffer-size search gives each buffer size it tries:
// 90% of it, truncated.
uint32_t default_initial_fill(uint32_t buffer_size);

// Bits that arrive in one picture interval: bit_rate / frame_rate in double,
// the fraction dropped (truncated toward zero). NaN and negatives give 0,
// values past 64 bits saturate. apply_picture adds at most the largest 32-bit
// value of it to the fullness.
uint64_t arrival_per_picture(uint32_t bit_rate, double frame_rate);
// part * 100 / whole in double, truncated; 0 for an empty whole, saturating at 32 bits.
uint32_t percent_of(uint64_t part, uint64_t whole);

class BufferModel {
 public:
  // The observer is told of every value the model writes, of the fullness
  // and of the stop, and is asked whether an overflow stops the run.
  BufferModel(CheckSettings& settings, const FrameRateFraction& stream_rate, CheckObserver& observer);

  // When the model takes the frame rate from the stream, take the SPS's own
  // timing (time_scale / (2 * num_units_in_tick)) whenever it has timing
  // information, instead of the 25 pictures a second assumed without
  // fixed_frame_rate_flag. Off unless a front end asks for it.
  void set_stream_timing(bool on) { stream_timing_ = on; }
  // The fraction in force when the frame rate was last taken from the stream;
  // taken_rate() says whether it ever was.
  bool taken_rate() const { return taken_rate_; }
  const FrameRateFraction& taken_fraction() const { return taken_fraction_; }

  // Start of every pass. False: the run is refused, its message shown.
  bool begin_model_pass();
  // One picture of picture_bits bits, in decoding order.
  ModelStep apply_picture(uint32_t picture_bits);

  uint32_t fullness() const { return fullness_; }
  // The fullness before the last picture's removal, as the fullness bar took it.
  uint32_t fullness_before() const { return fullness_before_; }
  SearchMode mode() const { return mode_; }
  // Meaningful once the model has stopped; Pass until then.
  Outcome outcome() const { return outcome_; }
  // The text of the box shown when the model stopped; empty otherwise.
  const std::string& message() const { return message_; }

 private:
  ModelStep stop(Outcome outcome, const char* text);
  ModelStep search_step();

  CheckSettings& settings_;
  const FrameRateFraction& stream_rate_;
  CheckObserver& observer_;
  uint32_t fullness_ = 0;
  uint32_t fullness_before_ = 0;
  SearchMode mode_ = SearchMode::None;
  bool stream_timing_ = false;
  bool taken_rate_ = false;
  FrameRateFraction taken_fraction_;
  Outcome outcome_ = Outcome::Pass;
  std::string message_;
};

}  // namespace tarnwell
