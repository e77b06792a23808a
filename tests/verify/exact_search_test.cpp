// check --exact: the value found passes through the whole check of the file
// and one bit (or one bit per second) less fails, on real streams, strict
// and not; the search's grid value is never below it; the least bit rate
// against the model alone on random sequences.
#include "verify/exact_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/dialog_check_observer.h"
#include "support/recording_dialog.h"
#include "verify/buffer_model.h"
#include "verify/curve.h"

namespace tarnwell {
namespace {

using test::RecordingDialog;

std::string shared_stream(const char* name) { return std::string(TARNWELL_STREAMS_DIR) + "/" + name; }

// The whole check of the file at path with these settings.
CheckRunResult check_file(const std::string& path, const CheckSettings& settings, bool strict,
                          CheckSettings* after = nullptr) {
  RecordingDialog dialog;
  dialog.set_checked(kCheckStrictOverflow, strict);
  ApplicationContext context(dialog, 1 << 20);
  context.reporter.set_stderr_enabled(false);
  context.settings = settings;
  context.shared.stream_path = path;
  DialogCheckObserver observer(dialog);
  CheckRun run(context, observer);
  run.run();
  if (after != nullptr) *after = context.settings;
  return run.result();
}

// What --exact leaves in the settings, and its result.
CheckRunResult exact(const std::string& path, const CheckSettings& settings, bool strict, CheckSettings& found) {
  RecordingDialog dialog;  // the reading needs the strict box unchecked
  ApplicationContext context(dialog, 1 << 20);
  context.reporter.set_stderr_enabled(false);
  context.settings = settings;
  context.shared.stream_path = path;
  DialogCheckObserver observer(dialog);
  ExactSearch search(context, observer, strict);
  search.run();
  found = context.settings;
  return search.result();
}

struct RealCase {
  const char* stream;
  uint32_t bit_rate;     // for the buffer-size search
  uint32_t buffer_size;  // and initial fill, for the bit-rate search
  uint32_t initial_fill;
};

TEST(ExactSearch, FoundValuePassesAndOneLessFailsOnRealStreams) {
  const RealCase cases[] = {
      {"x264_cbr_1000k_25fps.264", 1000000, 1000000, 900000},
      {"x264_cbr_1000k_25fps.264", 700000, 3000000, 1500000},
      {"BA1_FT_C.264", 400000, 2000000, 1800000},
      {"CVFC1_Sony_C.jsv", 2000000, 4000000, 400000},
      {"Cisco_Men_whisper_640x320_CABAC_Bframe_9.264", 500000, 500000, 100000},
      {"MR1_BT_A.h264", 300000, 600000, 300000},
  };
  for (const RealCase& c : cases) {
    const std::string path = shared_stream(c.stream);
    for (bool strict : {false, true}) {
      SCOPED_TRACE(testing::Message() << c.stream << (strict ? " strict" : ""));
      // Buffer size 0: the least buffer, at the least fill.
      CheckSettings found;
      CheckRunResult result = exact(path, CheckSettings{0, 0, c.bit_rate, 0.0}, strict, found);
      ASSERT_EQ(result.outcome, Outcome::Pass) << result.message;
      EXPECT_EQ(result.reads, 1u);
      const double frame_rate = found.frame_rate;
      EXPECT_EQ(check_file(path, found, strict).outcome, Outcome::Pass);
      const uint32_t fill_below = std::min(found.initial_fill, found.buffer_size - 1);
      const Outcome smaller =
          check_file(path, CheckSettings{found.buffer_size - 1, fill_below, c.bit_rate, frame_rate}, strict).outcome;
      EXPECT_NE(smaller, Outcome::Pass);
      EXPECT_NE(smaller, Outcome::Refused);
      if (found.initial_fill > 0) {
        EXPECT_EQ(
            check_file(path, CheckSettings{found.buffer_size, found.initial_fill - 1, c.bit_rate, frame_rate}, strict)
                .outcome,
            Outcome::Underflow);
      }
      // The search steps on its grid: never below the exact answer.
      CheckSettings searched;
      if (check_file(path, CheckSettings{0, 0, c.bit_rate, 0.0}, strict, &searched).outcome == Outcome::Pass) {
        EXPECT_GE(searched.buffer_size, found.buffer_size);
      }

      // Bit rate 0: the least rate at the buffer and fill given.
      result = exact(path, CheckSettings{c.buffer_size, c.initial_fill, 0, 0.0}, strict, found);
      if (result.outcome != Outcome::Pass) {
        // Only the strict check may leave no rate: the least one that keeps
        // the buffer from running dry overflows it.
        EXPECT_TRUE(strict) << result.message;
        EXPECT_EQ(result.outcome, Outcome::Overflow) << result.message;
        EXPECT_EQ(check_file(path, found, strict).outcome, Outcome::Overflow);
        continue;
      }
      EXPECT_EQ(found.buffer_size, c.buffer_size);
      EXPECT_EQ(found.initial_fill, c.initial_fill);
      EXPECT_EQ(check_file(path, found, strict).outcome, Outcome::Pass);
      const CheckRunResult below =
          check_file(path, CheckSettings{c.buffer_size, c.initial_fill, found.bit_rate - 1, found.frame_rate}, strict);
      EXPECT_EQ(below.outcome, Outcome::Underflow) << found.bit_rate;
      if (check_file(path, CheckSettings{c.buffer_size, c.initial_fill, 0, 0.0}, strict, &searched).outcome ==
          Outcome::Pass) {
        EXPECT_GE(searched.bit_rate, found.bit_rate);
      }
    }
  }
}

// The search's strict choice is its own: the dialog's box, checked or not,
// changes neither the reading nor the check of the found value.
TEST(ExactSearch, StrictChoiceIsTheSearchsNotTheBoxs) {
  const std::string path = shared_stream("x264_cbr_1000k_25fps.264");
  for (bool strict : {false, true}) {
    SCOPED_TRACE(strict ? "strict" : "not strict");
    CheckSettings expected;
    const CheckRunResult plain = exact(path, {0, 0, 1000000, 0.0}, strict, expected);
    RecordingDialog dialog;
    dialog.set_checked(kCheckStrictOverflow, !strict);
    ApplicationContext context(dialog, 1 << 20);
    context.reporter.set_stderr_enabled(false);
    context.settings = {0, 0, 1000000, 0.0};
    context.shared.stream_path = path;
    DialogCheckObserver observer(dialog);
    ExactSearch search(context, observer, strict);
    search.run();
    EXPECT_EQ(search.result().outcome, plain.outcome);
    EXPECT_EQ(search.result().pictures, plain.pictures);
    EXPECT_EQ(context.settings.buffer_size, expected.buffer_size);
    EXPECT_EQ(context.settings.initial_fill, expected.initial_fill);
  }
}

TEST(ExactSearch, RefusalsAndStreamsThatNoRateFits) {
  const std::string path = shared_stream("x264_cbr_1000k_25fps.264");
  CheckSettings found;
  EXPECT_EQ(exact(path, CheckSettings{0, 0, 0, 0.0}, false, found).message, "You must specify a bitrate!");
  const CheckRunResult missing = exact(path + ".missing", CheckSettings{0, 0, 1000000, 0.0}, false, found);
  EXPECT_EQ(missing.outcome, Outcome::CannotOpen);
  EXPECT_EQ(missing.message, "Cannot open input file");
  EXPECT_EQ(missing.passes + missing.reads, 0u);
  // A picture larger than the buffer: no rate helps, and the check says why.
  const CheckRunResult small = exact(path, CheckSettings{20000, 20000, 0, 0.0}, false, found);
  EXPECT_EQ(small.outcome, Outcome::Undersized) << small.message;
}

}  // namespace
}  // namespace tarnwell
