// The application context's threads as the dialog uses them: the check on a
// worker thread with the worker's stack, Abort from the dialog thread, and
// the probe, the HRD report and further checks arriving while the parsing
// state is held. Built with ThreadSanitizer by the tsan preset, where a data
// race fails the program; elsewhere the same tests check the outcomes.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/dialog_check_observer.h"
#include "context/application_context.h"
#include "inspect/codec_text.h"
#include "platform/thread.h"
#include "support/recording_dialog.h"
#include "verify/check_run.h"

namespace tarnwell {
namespace {

using test::RecordingDialog;

std::string stream_path(const char* name) { return std::string(TARNWELL_STREAMS_DIR) + "/" + name; }

constexpr char kX264[] = "x264_cbr_1000k_25fps.264";  // 250 pictures, High profile, level 3
constexpr char kSmall[] = "SVA_BA2_D.264";             // 17 pictures, Baseline, level 2.1

// Waits for a thread that is known to end; a generous bound turns a thread
// that never ends into a failure instead of a hang.
bool wait_until_ended(const ThreadHandle& thread) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::minutes(5);
  while (!has_ended(thread)) {
    if (std::chrono::steady_clock::now() > give_up) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Spins until `flag` is set; the other side sets it soon.
void wait_for(const std::atomic<bool>& flag) {
  while (!flag.load()) std::this_thread::yield();
}

bool controls_idle(const RecordingDialog& dialog) {
  return dialog.enabled_of(kButtonCheck) && dialog.enabled_of(kButtonBrowse) && dialog.enabled_of(kButtonHrdInfo) &&
         !dialog.enabled_of(kButtonAbort);
}

// A folder for the HRD report's "executable", removed afterwards.
class ReportFolder {
 public:
  ReportFolder() {
    std::random_device device;
    path_ = std::filesystem::temp_directory_path() / ("tarnwell-threads-" + std::to_string(device()));
    std::filesystem::create_directories(path_);
  }
  ~ReportFolder() {
    std::error_code error;
    std::filesystem::remove_all(path_, error);
  }
  std::string executable() const { return (path_ / "tarnwell").string(); }

 private:
  std::filesystem::path path_;
};

struct Fixture {
  RecordingDialog dialog;
  ApplicationContext context{dialog};
  DialogCheckObserver observer{dialog};
  Fixture(const char* stream, const CheckSettings& settings) {
    context.shared.stream_path = stream_path(stream);
    context.settings = settings;
    // The x264 stream's picture timing SEI comes before its first slice.
    context.reporter.set_stderr_enabled(false);
  }
};

const CheckSettings kX264Settings{1000000, 900000, 1000000, 0.0};

TEST(WorkerThread, CheckOnTheWorkerStackEndsAsOnTheCallingThread) {
  Fixture on_worker(kX264, kX264Settings);
  CheckRun worker_run(on_worker.context, on_worker.observer);
  ThreadHandle worker = start_thread([&worker_run] { worker_run.run(); }, kWorkerStackBytes);
  ASSERT_TRUE(worker.started());
  ASSERT_TRUE(wait_until_ended(worker));

  Fixture here(kX264, kX264Settings);
  CheckRun here_run(here.context, here.observer);
  here_run.run();

  EXPECT_EQ(worker_run.result().outcome, Outcome::Pass);
  EXPECT_EQ(worker_run.result().pictures, here_run.result().pictures);
  EXPECT_EQ(on_worker.dialog.text_of(kEditFrameRate), "25.000");
  EXPECT_EQ(on_worker.dialog.progress_of(kProgressFile), here.dialog.progress_of(kProgressFile));
  EXPECT_TRUE(controls_idle(on_worker.dialog));
  EXPECT_FALSE(on_worker.context.parsing_busy());
}

TEST(WorkerThread, AbortFromTheDialogThreadStopsTheRunBeforeItsNextPicture) {
  Fixture f(kX264, kX264Settings);
  std::atomic<bool> first_picture{false};
  CheckRun run(f.context, f.observer);
  run.on_picture = [&](const PictureTrace& trace) {
    if (trace.index != 0) return;
    first_picture.store(true);
    // The dialog thread presses Abort while the run is between two pictures.
    while (f.context.shared.abort_requested.load() == 0) std::this_thread::yield();
  };
  ThreadHandle worker = start_thread([&run] { run.run(); }, kWorkerStackBytes);
  ASSERT_TRUE(worker.started());
  wait_for(first_picture);
  EXPECT_TRUE(f.context.parsing_busy());
  EXPECT_TRUE(f.dialog.enabled_of(kButtonAbort));
  f.context.shared.abort_requested.store(1);
  ASSERT_TRUE(wait_until_ended(worker));

  EXPECT_EQ(run.result().outcome, Outcome::Aborted);
  EXPECT_EQ(run.result().pictures, 1u);
  EXPECT_TRUE(run.result().message.empty());
  EXPECT_EQ(f.dialog.progress_of(kProgressFile), 0u);
  EXPECT_EQ(f.dialog.progress_of(kProgressFullness), 0u);
  EXPECT_TRUE(f.dialog.boxes().empty());
  EXPECT_TRUE(controls_idle(f.dialog));
  EXPECT_FALSE(f.context.parsing_busy());
}

TEST(BusyRule, EveryOtherUserIsRefusedAtOnceWhileTheRunHoldsTheState) {
  Fixture f(kX264, kX264Settings);
  std::atomic<bool> holding{false};
  std::atomic<bool> go_on{false};
  std::atomic<int> released{0};
  f.context.set_on_parsing_released([&released] { released.fetch_add(1); });
  CheckRun run(f.context, f.observer);
  run.on_picture = [&](const PictureTrace& trace) {
    if (trace.index != 0) return;
    holding.store(true);
    wait_for(go_on);
  };
  ThreadHandle worker = start_thread([&run] { run.run(); }, kWorkerStackBytes);
  ASSERT_TRUE(worker.started());
  wait_for(holding);

  // The probe of a file-name change, an HRD report and a second Check, all
  // while the run is between two pictures: none waits, none parses.
  EXPECT_EQ(probe_profile_level(f.context), ProbeResult::Busy);
  ReportFolder folder;
  int opened = 0;
  EXPECT_EQ(hrd_report_thread(f.context, folder.executable(), [&opened](const std::string&) { ++opened; }),
            HrdReportResult::Busy);
  CheckRun second(f.context, f.observer);
  second.run();
  EXPECT_EQ(second.result().outcome, Outcome::Refused);
  EXPECT_EQ(second.result().message, kBusyMessage);
  EXPECT_EQ(released.load(), 0);

  go_on.store(true);
  ASSERT_TRUE(wait_until_ended(worker));
  EXPECT_EQ(run.result().outcome, Outcome::Pass);
  // The refused probe asked to run again: asked once, told once.
  EXPECT_EQ(released.load(), 1);
  EXPECT_EQ(opened, 0);
  std::vector<test::ShownBox> boxes = f.dialog.boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, kBusyMessage);
  EXPECT_EQ(boxes[1].text, kBusyMessage);

  EXPECT_EQ(probe_profile_level(f.context), ProbeResult::Shown);
  EXPECT_EQ(f.dialog.text_of(kEditProfile), "High");
  EXPECT_EQ(f.dialog.text_of(kEditLevel), "3");
}

TEST(BusyRule, ProbeRefusedJustBeforeTheHolderLetGoIsStillRunAgain) {
  // The probe found the state busy; the holder let go before the probe
  // asked to be run again. The request must not wait for a release that
  // already happened.
  RecordingDialog dialog;
  ApplicationContext context(dialog);
  int released = 0;
  context.set_on_parsing_released([&released] { ++released; });
  ApplicationContext::ParsingLease holder = context.try_take_parsing();
  ASSERT_TRUE(holder);
  ASSERT_FALSE(context.try_take_parsing());  // the probe's refused try
  holder.release();
  EXPECT_EQ(released, 0);
  context.request_probe_after_release();  // the probe's request, too late
  EXPECT_EQ(released, 1);
  context.try_take_parsing().release();
  EXPECT_EQ(released, 1);
}

TEST(BusyRule, ProbesReportsAndChecksFromManyThreadsParseOneAtATime) {
  Fixture f(kSmall, CheckSettings{10000000, 9000000, 10000000, 25.0});
  ReportFolder folder;
  std::atomic<int> released{0};
  f.context.set_on_parsing_released([&released] { released.fetch_add(1); });
  constexpr int kRounds = 12;
  struct Tally {
    std::atomic<int> done{0};
    std::atomic<int> busy{0};
    std::atomic<int> other{0};
  } probes, reports, checks;
  std::atomic<int> requests{0};

  std::vector<ThreadHandle> threads;
  threads.push_back(start_thread(
      [&] {
        for (int i = 0; i < kRounds; ++i) {
          ProbeResult r = probe_profile_level(f.context);
          (r == ProbeResult::Shown ? probes.done : r == ProbeResult::Busy ? probes.busy : probes.other).fetch_add(1);
          if (r == ProbeResult::Busy) requests.fetch_add(1);
        }
      },
      kWorkerStackBytes));
  for (int t = 0; t < 2; ++t) {
    threads.push_back(start_thread(
        [&] {
          for (int i = 0; i < kRounds; ++i) {
            HrdReportResult r = hrd_report_thread(f.context, folder.executable(), {});
            (r == HrdReportResult::Written  ? reports.done
             : r == HrdReportResult::Busy   ? reports.busy
                                            : reports.other)
                .fetch_add(1);
          }
        },
        kWorkerStackBytes));
  }
  threads.push_back(start_thread(
      [&] {
        for (int i = 0; i < kRounds; ++i) {
          CheckRun run(f.context, f.observer);
          run.run();
          Outcome o = run.result().outcome;
          (o == Outcome::Pass ? checks.done : o == Outcome::Refused ? checks.busy : checks.other).fetch_add(1);
        }
      },
      kWorkerStackBytes));
  for (const ThreadHandle& thread : threads) {
    ASSERT_TRUE(thread.started());
    ASSERT_TRUE(wait_until_ended(thread));
  }

  EXPECT_EQ(probes.done + probes.busy, kRounds);
  EXPECT_EQ(reports.done + reports.busy, 2 * kRounds);
  EXPECT_EQ(checks.done + checks.busy, kRounds);
  EXPECT_EQ(probes.other + reports.other + checks.other, 0);
  EXPECT_GE(probes.done + reports.done + checks.done, 1);
  EXPECT_FALSE(f.context.parsing_busy());
  // Every refused probe's request was answered (requests made while one was
  // already pending are answered together).
  EXPECT_LE(released.load(), requests.load());
  EXPECT_EQ(requests.load() > 0, released.load() > 0);

  // The state is whole afterwards: one more of each gives the usual answers.
  EXPECT_EQ(probe_profile_level(f.context), ProbeResult::Shown);
  EXPECT_EQ(f.dialog.text_of(kEditProfile), "Baseline");
  EXPECT_EQ(f.dialog.text_of(kEditLevel), "2.1");
  CheckRun last(f.context, f.observer);
  last.run();
  EXPECT_EQ(last.result().outcome, Outcome::Pass);
}

}  // namespace
}  // namespace tarnwell
