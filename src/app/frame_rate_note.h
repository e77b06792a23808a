#pragma once
// The line tarnwell-cli adds when the frame rate of a check or a curve is the
// 25 pictures a second assumed for an SPS without fixed_frame_rate_flag
// while that SPS carries timing of its own (ffmpeg's libx264 writes 30 fps
// streams that way).
#include <string>

#include "base/check_settings.h"

namespace tarnwell {

// The stream's own timing, time_scale / (2 * num_units_in_tick); 0.0 when
// the SPS carries no timing information.
double stream_timing_rate(const FrameRateFraction& fraction);

// One line with its line end naming the stream's own rate and the option
// that uses it, when `taken` (the fraction in force when the rate was taken
// from the stream) is the assumed 25 pictures a second beside timing
// information; empty otherwise.
std::string assumed_frame_rate_note(const FrameRateFraction& taken);

}  // namespace tarnwell
