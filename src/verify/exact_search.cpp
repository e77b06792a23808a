#include "verify/exact_search.h"

#include <limits>
#include <vector>

#include "verify/buffer_model.h"
#include "verify/curve.h"
#include "verify/picture_sizes.h"

namespace tarnwell {

namespace {

constexpr uint32_t kMaxU32 = std::numeric_limits<uint32_t>::max();

}  // namespace

void ExactSearch::run() {
  result_ = CheckRunResult();
  CheckSettings& settings = context_.settings;
  auto stop = [&](Outcome outcome, const char* text) {
    result_.outcome = outcome;
    result_.message = text;
    observer_.on_stop(result_.message);
  };
  if (settings.buffer_size == 0 && settings.bit_rate == 0) {
    stop(Outcome::Refused, "You must specify a bitrate!");
    return;
  }
  const bool buffer_search = settings.buffer_size == 0;

  if (on_pass_start) on_pass_start(1);
  const PictureSizes sizes = read_picture_sizes(context_, observer_, input, source, input_head);
  // A file that cannot be opened is neither gone over nor read, as in a check.
  const bool opened = sizes.outcome != Outcome::CannotOpen;
  result_.passes = opened ? 1 : 0;
  result_.reads = opened ? 1 : 0;
  if (sizes.outcome != Outcome::Pass) {
    result_.outcome = sizes.outcome;
    result_.message = sizes.message;
    return;
  }

  // The frame rate as the check takes it at its first picture; one value for
  // the whole stream, which is what the closed forms need.
  double frame_rate = settings.frame_rate;
  if (frame_rate < 1.0 && !sizes.bits.empty()) {
    const FrameRateFraction& fraction = sizes.fraction;
    const bool timing = stream_timing && fraction.has_timing();
    const uint32_t num = timing ? fraction.timing_num : fraction.frame_rate_num;
    const uint64_t den = timing ? fraction.timing_den : fraction.frame_rate_den;
    if (num == 0 || den == 0) {
      stop(Outcome::UnknownFrameRate, "Dont' know the frame rate!");
      return;
    }
    frame_rate = static_cast<double>(num) / static_cast<double>(den);
    if (frame_rate < 1.0) {
      stop(Outcome::Refused, kSlowExactMessage);
      return;
    }
    result_.rate_taken = true;
    result_.taken_fraction = fraction;
  }

  if (!sizes.bits.empty()) {
    if (buffer_search) {
      const CurvePoint point = curve_point(sizes.bits, settings.bit_rate, frame_rate, strict_);
      if (!point.valid) {
        stop(Outcome::SearchExhausted, "Cannot find a workable buffer size below 4294967295 bits");
        return;
      }
      settings.buffer_size = static_cast<uint32_t>(point.min_buffer_size);
      settings.initial_fill = static_cast<uint32_t>(point.min_initial_fill);
    } else if (settings.initial_fill <= settings.buffer_size) {
      const std::optional<uint32_t> rate =
          least_bit_rate(sizes.bits, settings.buffer_size, settings.initial_fill, frame_rate, strict_);
      // No rate avoids an underflow: the check at the largest rate says
      // why, unless the stream simply needs more than 32 bits of rate.
      settings.bit_rate = rate ? *rate : kMaxU32;
    }
    settings.frame_rate = frame_rate;
  } else if (buffer_search) {
    // Nothing to hold: the least valid setting.
    settings.buffer_size = 1;
    settings.initial_fill = 0;
  } else {
    settings.bit_rate = 1;
  }
  observer_.on_value(CheckValue::InitialFill, settings.initial_fill);
  observer_.on_value(CheckValue::BufferSize, settings.buffer_size);
  observer_.on_value(CheckValue::BitRate, settings.bit_rate);

  // The check of the found value, over the same sizes.
  ++result_.passes;
  if (on_pass_start) on_pass_start(result_.passes);
  BufferModel model(settings, sizes.fraction, observer_);
  if (!model.begin_model_pass()) {
    result_.outcome = model.outcome();
    result_.message = model.message();
    return;
  }
  for (uint32_t bits : sizes.bits) {
    if (context_.shared.abort_requested.load() != 0) {
      result_.outcome = Outcome::Aborted;
      result_.message.clear();
      return;
    }
    const ModelStep step = model.apply_picture(bits);
    if (on_picture) {
      on_picture(trace_of_picture(model, result_.pictures, bits, step));
    }
    ++result_.pictures;
    if (step != ModelStep::Continue) break;
  }
  result_.outcome = model.outcome();
  result_.message = model.message();
  if (!buffer_search && result_.outcome == Outcome::Underflow && settings.bit_rate == kMaxU32) {
    stop(Outcome::SearchExhausted, "Cannot find a workable bit rate below 4294967295 bits/s");
  }
}

}  // namespace tarnwell
