// The dialog's bars at most about 20 times a second, with the values a run
// leaves shown as without the throttle. The clock is the test's own.
#include "app/progress_throttle.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "app/dialog_check_observer.h"
#include "context/application_context.h"
#include "support/recording_dialog.h"
#include "verify/check_run.h"

namespace tarnwell {
namespace {

using std::chrono::milliseconds;
using test::DialogCall;
using test::RecordingDialog;

std::vector<DialogCall> bar_calls(const RecordingDialog& dialog) {
  std::vector<DialogCall> bars;
  for (const DialogCall& call : dialog.calls()) {
    if (call.kind == DialogCall::Progress) bars.push_back(call);
  }
  return bars;
}

std::vector<std::string> other_calls(const RecordingDialog& dialog) {
  std::vector<std::string> others;
  for (const DialogCall& call : dialog.calls()) {
    if (call.kind == DialogCall::Progress) continue;
    others.push_back(std::to_string(call.kind) + " " + std::to_string(call.control) + " " +
                     std::to_string(call.value) + " " + call.text);
  }
  return others;
}

// A search over the x264 stream: every pass sets both bars for every
// picture. Through the throttle the dialog gets a small part of those
// updates, everything else exactly as before, and the same bars at the end.
TEST(ProgressThrottle, ARunShowsTheSameEndWithAFractionOfTheBarUpdates) {
  auto check = [](DialogPort& port) {
    ApplicationContext context(port);
    context.reporter.set_stderr_enabled(false);
    context.shared.stream_path = std::string(TARNWELL_STREAMS_DIR) + "/x264_cbr_1000k_25fps.264";
    context.settings = CheckSettings{1000000, 900000, 0, 0.0};
    DialogCheckObserver observer(port);
    CheckRun run(context, observer);
    run.run();
    return run.result();
  };
  RecordingDialog plain;
  const CheckRunResult plain_result = check(plain);

  RecordingDialog shown;
  std::chrono::steady_clock::time_point now{};
  // Each look at the clock finds a millisecond gone: about 25 pictures an interval.
  ProgressThrottle throttle(shown, [&] { return now += milliseconds(1); });
  const CheckRunResult throttled_result = check(throttle);

  EXPECT_EQ(throttled_result.outcome, plain_result.outcome);
  EXPECT_EQ(throttled_result.passes, plain_result.passes);
  EXPECT_GT(plain_result.passes, 1u);
  EXPECT_EQ(other_calls(shown), other_calls(plain));
  EXPECT_EQ(shown.progress_of(kProgressFile), plain.progress_of(kProgressFile));
  EXPECT_EQ(shown.progress_of(kProgressFullness), plain.progress_of(kProgressFullness));
  const std::size_t all = bar_calls(plain).size();
  EXPECT_GT(all, 1000u);
  EXPECT_LT(bar_calls(shown).size(), all / 8);
}

}  // namespace
}  // namespace tarnwell
