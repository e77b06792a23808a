#include "verify/picture_sizes.h"

#include <limits>
#include <utility>

#include "verify/check_run.h"

namespace tarnwell {

PictureSizes read_picture_sizes(ApplicationContext& context, CheckObserver& observer, std::FILE* input,
                                RewindableSource* source, std::vector<uint8_t> input_head) {
  PictureSizes sizes;
  const CheckSettings kept = context.settings;
  constexpr uint32_t kAll = std::numeric_limits<uint32_t>::max();
  context.settings = CheckSettings{kAll, kAll, kAll, 1.0};

  // Every arrival fills the largest buffer past its size: an overflow that
  // only the strict check stops at, so the reading answers that itself.
  FixedStrictObserver unstrict(observer, false);
  CheckRun run(context, unstrict);
  run.input = input;
  run.source = source;
  run.input_head = std::move(input_head);
  run.replay = false;  // one pass: nothing to go over again
  // The readings of the curve and of --exact serve the console, whose Ctrl-C
  // may cut the input short: that is no complete reading.
  run.abort_cuts_input = true;
  bool too_many = false;
  run.on_picture = [&](const PictureTrace& trace) {
    if (trace.index == 0) sizes.fraction = context.shared.frame_rate;
    if (sizes.bits.size() == kMaxKeptPictures) {
      // The run stops at its next picture, as after Abort.
      too_many = true;
      run.request_stop();
      return;
    }
    sizes.bits.push_back(trace.size_bits);
  };
  run.run();
  context.settings = kept;

  const CheckRunResult& result = run.result();
  sizes.outcome = result.outcome;
  sizes.message = result.message;
  if (too_many) {
    sizes.outcome = Outcome::Refused;
    sizes.message = kTooManyPicturesMessage;
  }
  if (result.outcome != Outcome::Pass) sizes.bits.clear();
  return sizes;
}

}  // namespace tarnwell
