#include "app/frame_rate_note.h"

#include "base/error_reporter.h"

namespace tarnwell {

double stream_timing_rate(const FrameRateFraction& fraction) {
  if (!fraction.has_timing()) return 0.0;
  return static_cast<double>(fraction.timing_num) / static_cast<double>(fraction.timing_den);
}

std::string assumed_frame_rate_note(const FrameRateFraction& taken) {
  if (!taken.assumed || !taken.has_timing()) return "";
  return format_text(
      "tarnwell-cli: frame rate 25.000 assumed, as the SPS has no fixed_frame_rate_flag; its timing information "
      "says %.3f, which --frame-rate stream uses\n",
      stream_timing_rate(taken));
}

}  // namespace tarnwell
