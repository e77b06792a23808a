#include "verify/picture_sizes.h"

#include <limits>

#include "verify/check_run.h"

namespace tarnwell {

PictureSizes read_picture_sizes(ApplicationContext& context) {
  PictureSizes sizes;
  if (context.dialog.is_checked(kCheckStrictOverflow)) {
    sizes.outcome = Outcome::Refused;
    sizes.message = kStrictReadingMessage;
    return sizes;
  }
  const CheckSettings kept = context.settings;
  constexpr uint32_t kAll = std::numeric_limits<uint32_t>::max();
  context.settings = CheckSettings{kAll, kAll, kAll, 1.0};

  CheckRun run(context);
  run.replay = false;  // one pass: nothing to go over again
  run.on_picture = [&](const PictureTrace& trace) {
    if (trace.index == 0) sizes.fraction = context.shared.frame_rate;
    sizes.bits.push_back(trace.size_bits);
  };
  run.run();
  context.settings = kept;

  const CheckRunResult& result = run.result();
  sizes.outcome = result.outcome;
  sizes.message = result.message;
  if (result.outcome != Outcome::Pass) sizes.bits.clear();
  return sizes;
}

}  // namespace tarnwell
