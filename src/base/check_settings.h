#pragma once
// The settings of a check and the values shared between the dialog and the
// workers. One instance of each lives in the application context.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>

namespace tarnwell {

struct CheckSettings {
  uint32_t buffer_size = 0;   // bits; 0 searches the smallest workable size
  uint32_t initial_fill = 0;  // bits in the buffer before the first removal
  uint32_t bit_rate = 0;      // bits per second; 0 searches the smallest workable rate
  double frame_rate = 0.0;    // pictures per second; below 1.0 takes it from the stream
};

// The stream's frame rate as published by the last stored sequence parameter
// set: time_scale / (2 * num_units_in_tick), or 50 / 2 without a fixed rate.
// The denominator is 64 bits wide so that doubling a 32-bit
// num_units_in_tick never wraps. 0 in either means unknown.
struct FrameRateFraction {
  uint32_t frame_rate_num = 0;
  uint64_t frame_rate_den = 0;
  // The same SPS's own timing, time_scale / (2 * num_units_in_tick), whenever
  // it carries timing information, fixed rate or not; 0 in both without.
  uint32_t timing_num = 0;
  uint64_t timing_den = 0;
  // True when frame_rate_num / frame_rate_den is the 25 pictures a second
  // taken for an SPS without fixed_frame_rate_flag.
  bool assumed = false;

  bool has_timing() const { return timing_num != 0 && timing_den != 0; }
  bool operator==(const FrameRateFraction&) const = default;
};

// How a check ended. The first column of every front end's verdict.
enum class Outcome {
  Pass,
  Underflow,
  Overflow,
  Undersized,
  UnknownFrameRate,
  Refused,
  CannotOpen,
  Aborted,
  SearchExhausted,
  NoPictures,  // the stream ended before any picture was applied: nothing was checked
};

inline constexpr char kNoPicturesMessage[] = "No picture was checked";

inline const char* outcome_name(Outcome outcome) {
  // In the order of Outcome.
  static constexpr const char* kNames[] = {
      "pass",    "underflow",   "overflow", "undersized",       "unknown_frame_rate",
      "refused", "cannot_open", "aborted",  "search_exhausted", "no_pictures"};
  const auto index = static_cast<std::size_t>(outcome);
  return index < std::size(kNames) ? kNames[index] : "pass";
}

// Values shared between the dialog thread and the workers.
struct SharedValues {
  std::atomic<uint32_t> abort_requested{0};  // written by the dialog, read by the run once per picture
  std::string stream_path;                   // at most 2047 characters
  FrameRateFraction frame_rate;              // written by SPS storage, read by the buffer model
};

}  // namespace tarnwell
