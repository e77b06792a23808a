// The buffer model on arbitrary settings: buffer size, initial fill, bit
// rate, frame rate, the stream's frame-rate fraction, the strict overflow
// check and a sequence of picture sizes, run as the verification run drives
// it, with restarts for both searches. The number of pictures applied is
// bounded so that a search over many passes still ends quickly.
//
// Input, little-endian: buffer_size u32, initial_fill u32, bit_rate u32,
// frame rate u64 (bit 63 set: the low 63 bits as a double's bits, sign
// cleared; else the value % 12001 in hundredths), frame_rate_num u32,
// frame_rate_den u64, flags u8 (bit 0: strict check; bit 1: the check box
// flips after every look), then picture sizes in bits, u32 each (at most
// kMaxPictures).
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/dialog_check_observer.h"
#include "fuzz_support.h"
#include "verify/buffer_model.h"

namespace {

using namespace tarnwell;
using tarnwell::fuzz::check;
using tarnwell::fuzz::InputCursor;

constexpr std::size_t kMaxPictures = 64;
constexpr uint32_t kMaxApplied = 2000;

// The strict check box, optionally flipped by the user between two looks.
class ModelDialog : public fuzz::QuietDialog {
 public:
  ModelDialog(bool strict, bool flips) : QuietDialog(strict), checked_(strict), flips_(flips) {}
  bool is_checked(int) override {
    const bool now = checked_;
    if (flips_) checked_ = !checked_;
    return now;
  }

 private:
  bool checked_;
  bool flips_;
};

double frame_rate_from(uint64_t raw) {
  if ((raw >> 63) == 0) return static_cast<double>(raw % 12001) / 100.0;
  const uint64_t bits = raw & ~(uint64_t{1} << 63);
  double value = 0.0;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

bool starts_with(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// What a stopped model must have shown.
void check_stop(const BufferModel& model, const CheckSettings& settings, uint32_t picture_bits) {
  const std::string& message = model.message();
  check(!message.empty() && message.size() <= 255, "stop without a message of at most 255 characters");
  char expected[256];
  switch (model.outcome()) {
    case Outcome::Undersized:
      check(model.mode() != SearchMode::BufferSize, "undersized buffer in the buffer-size search");
      check(picture_bits > settings.buffer_size, "undersized buffer for a picture that fits");
      std::snprintf(expected, sizeof expected,
                    "UNDERSIZED BUFFER frame size=%d bits can't fit in buffer.\nIncrease your buffer size.",
                    static_cast<int32_t>(picture_bits));
      check(message == expected, "undersized message text");
      break;
    case Outcome::Underflow:
      check(model.mode() == SearchMode::None, "underflow reported during a search");
      check(picture_bits > model.fullness_before(), "underflow for a picture that fits the fullness");
      std::snprintf(expected, sizeof expected, "UNDERFLOW frame size=%d bits, underflow=%d bits",
                    static_cast<int32_t>(picture_bits), static_cast<int32_t>(picture_bits - model.fullness_before()));
      check(message == expected, "underflow message text");
      break;
    case Outcome::Overflow:
      check(picture_bits <= model.fullness_before(), "overflow after an underflowing picture");
      check(starts_with(message, "OVERFLOW frame size="), "overflow message text");
      break;
    case Outcome::UnknownFrameRate:
      check(message == "Dont' know the frame rate!", "unknown frame rate message text");
      break;
    case Outcome::SearchExhausted:
      check(model.mode() != SearchMode::None, "search exhausted without a search");
      break;
    default:
      check(false, "the model stopped with an outcome it cannot reach");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  InputCursor in(data, size);
  CheckSettings settings;
  settings.buffer_size = in.u32();
  settings.initial_fill = in.u32();
  settings.bit_rate = in.u32();
  settings.frame_rate = frame_rate_from(in.take(8));
  FrameRateFraction stream_rate;
  stream_rate.frame_rate_num = in.u32();
  stream_rate.frame_rate_den = in.take(8);
  const uint8_t flags = static_cast<uint8_t>(in.take(1));
  std::vector<uint32_t> pictures;
  while (!in.at_end() && pictures.size() < kMaxPictures) pictures.push_back(in.u32());

  ModelDialog dialog((flags & 1) != 0, (flags & 2) != 0);
  DialogCheckObserver observer(dialog);
  BufferModel model(settings, stream_rate, observer);
  const bool both_zero = settings.buffer_size == 0 && settings.bit_rate == 0;

  uint32_t applied = 0;
  uint32_t passes = 0;
  for (;;) {
    ++passes;
    const CheckSettings at_start = settings;
    if (!model.begin_model_pass()) {
      check(model.outcome() == Outcome::Refused, "a refused pass with another outcome");
      check(passes == 1, "a pass after a search step was refused");
      check(both_zero ? model.message() == "You must specify a bitrate!"
                      : model.message() == "Initial fill cannot exceed buffer size",
            "refusal message text");
      return 0;
    }
    check(!both_zero, "both values 0 were not refused");
    if (passes == 1) {
      const SearchMode expected = at_start.buffer_size == 0 ? SearchMode::BufferSize
                                  : at_start.bit_rate == 0  ? SearchMode::BitRate
                                                            : SearchMode::None;
      check(model.mode() == expected, "search mode chosen from the settings");
    }
    check(settings.initial_fill <= settings.buffer_size || model.mode() == SearchMode::BufferSize,
          "a pass began with more fill than buffer");

    bool restart = false;
    for (uint32_t bits : pictures) {
      if (applied == kMaxApplied) return 0;
      ++applied;
      const CheckSettings before = settings;
      const ModelStep step = model.apply_picture(bits);
      if (step == ModelStep::Continue) {
        check(model.fullness() <= settings.buffer_size, "fullness above the buffer size");
        check(settings.frame_rate >= 1.0 || settings.frame_rate != settings.frame_rate ||
                  before.frame_rate < 1.0,
              "frame rate fell below 1.0");
        continue;
      }
      if (step == ModelStep::Stopped) {
        check_stop(model, settings, bits);
        return 0;
      }
      // A search step: exactly one value grows by its step, nothing wraps.
      check(bits > model.fullness_before(), "a search step without an underflow");
      if (model.mode() == SearchMode::BitRate) {
        check(settings.bit_rate == before.bit_rate + bit_rate_step(before.bit_rate), "bit-rate step");
        check(settings.bit_rate > before.bit_rate, "bit rate did not grow");
        check(settings.buffer_size == before.buffer_size, "bit-rate search changed the buffer size");
      } else {
        check(model.mode() == SearchMode::BufferSize, "restart without a search");
        check(settings.buffer_size == before.buffer_size + buffer_size_step(before.buffer_size),
              "buffer-size step");
        check(settings.buffer_size > before.buffer_size, "buffer size did not grow");
        check(settings.initial_fill <= settings.buffer_size, "initial fill above the searched buffer size");
        check(settings.bit_rate == before.bit_rate, "buffer-size search changed the bit rate");
      }
      restart = true;
      break;
    }
    if (!restart) return 0;  // the end of the stream: the last values tried stand
  }
}
