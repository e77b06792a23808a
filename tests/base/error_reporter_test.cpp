#include "base/error_reporter.h"

#include <gtest/gtest.h>

#include <string>

#include "support/recording_dialog.h"

namespace tarnwell {
namespace {

using test::RecordingDialog;

constexpr char kUndefinedType[] = "Found NALU type %d, len %d undefined, ignore NALU, moving on\n";

struct Reporter {
  RecordingDialog dialog;
  ErrorReporter reporter{dialog};
  std::size_t shown() const { return dialog.boxes().size(); }
};

TEST(ErrorReporter, ShowsTheReportWithTheQuestionInAWarningBox) {
  Reporter r;
  r.reporter.notify_error(kUndefinedType, 20, 10);
  ASSERT_EQ(r.shown(), 1u);
  const auto box = r.dialog.boxes()[0];
  EXPECT_EQ(box.text, std::string("Found NALU type 20, len 10 undefined, ignore NALU, moving on\n") + kReporterQuestion);
  EXPECT_EQ(box.caption, "Warning");
  EXPECT_EQ(box.kind, BoxKind::ReporterQuestion);
  EXPECT_EQ(sizeof kReporterQuestion - 1, 121u);
}

TEST(ErrorReporter, NoSilencesExactlyThatTextAndNotTheSameMessageWithAnotherNumber) {
  Reporter r;
  r.dialog.answer_next(BoxAnswer::No);
  r.reporter.notify_error(kUndefinedType, 20, 10);
  r.reporter.notify_error(kUndefinedType, 20, 10);
  EXPECT_EQ(r.shown(), 1u);
  r.reporter.notify_error(kUndefinedType, 20, 11);
  EXPECT_EQ(r.shown(), 2u);
  EXPECT_EQ(r.reporter.suppressed_count(), 1);
}

TEST(ErrorReporter, YesChangesNothing) {
  Reporter r;
  r.dialog.answer_next(BoxAnswer::Yes);
  r.reporter.notify_error("data partitioning not implemented\n");
  r.reporter.notify_error("data partitioning not implemented\n");
  EXPECT_EQ(r.shown(), 2u);
  EXPECT_EQ(r.reporter.suppressed_count(), 0);
  EXPECT_TRUE(r.reporter.enabled());
}

TEST(ErrorReporter, CancelSilencesEveryLaterReport) {
  Reporter r;
  r.dialog.answer_next(BoxAnswer::Cancel);
  r.reporter.notify_error(kUndefinedType, 0, 3);
  EXPECT_FALSE(r.reporter.enabled());
  r.reporter.notify_error(kUndefinedType, 0, 3);
  r.reporter.notify_error("GetAnnexbNALU can't read start code");
  r.reporter.report_out_of_memory("AllocSPS: SPS");
  EXPECT_EQ(r.shown(), 1u);
}

TEST(ErrorReporter, ListHolds255SilencedMessagesAndThe256thIsShownAgain) {
  Reporter r;
  for (int i = 0; i < 256; ++i) r.dialog.answer_next(BoxAnswer::No);
  for (int i = 0; i < 256; ++i) r.reporter.notify_error(kUndefinedType, 13, i);
  EXPECT_EQ(r.shown(), 256u);
  EXPECT_EQ(r.reporter.suppressed_count(), 255);
  // The first 255 stay silent; the 256th comes back at every report.
  r.reporter.notify_error(kUndefinedType, 13, 0);
  r.reporter.notify_error(kUndefinedType, 13, 254);
  EXPECT_EQ(r.shown(), 256u);
  r.reporter.notify_error(kUndefinedType, 13, 255);
  r.reporter.notify_error(kUndefinedType, 13, 255);
  EXPECT_EQ(r.shown(), 258u);
}

TEST(ErrorReporter, MessagesWithTheSameHashAreSilencedTogether) {
  ASSERT_EQ(message_hash("Ez"), message_hash("FY"));
  Reporter r;
  r.dialog.answer_next(BoxAnswer::No);
  r.reporter.notify_error("Ez");
  r.reporter.notify_error("FY");
  EXPECT_EQ(r.shown(), 1u);
}

TEST(ErrorReporter, OverlongReportIsCutToTheRoomBesideTheQuestion) {
  Reporter r;
  const std::string long_text(3000, 'x');
  r.dialog.answer_next(BoxAnswer::No);
  r.reporter.notify_error("%s", long_text.c_str());
  ASSERT_EQ(r.shown(), 1u);
  const std::string text = r.dialog.boxes()[0].text;
  EXPECT_EQ(text, std::string(ErrorReporter::kMessageRoom, 'x') + kReporterQuestion);
  EXPECT_EQ(text.size(), static_cast<std::size_t>(ErrorReporter::kTextBytes - 1));
  // The cut text is what was silenced: a report that is cut the same way stays silent.
  r.reporter.notify_error("%s", (long_text + "y").c_str());
  EXPECT_EQ(r.shown(), 1u);
}

TEST(ErrorReporter, OutOfMemoryReportNamesTheAllocation) {
  Reporter r;
  r.reporter.report_out_of_memory("AllocPPS: slice_group_id");
  ASSERT_EQ(r.shown(), 1u);
  EXPECT_EQ(r.dialog.boxes()[0].text, std::string("Could not allocate memory: AllocPPS: slice_group_id") + kReporterQuestion);
}

TEST(MessageHash, IsDjb2) {
  EXPECT_EQ(message_hash(""), 5381u);
  EXPECT_EQ(message_hash("a"), 5381u * 33u + 97u);
  // Wraps modulo 2^32 and takes bytes as unsigned.
  EXPECT_EQ(message_hash("\xFF\xFF\xFF\xFF\xFF\xFF\xFF"),
            [] {
              uint32_t h = 5381;
              for (int i = 0; i < 7; ++i) h = h * 33u + 255u;
              return h;
            }());
}

}  // namespace
}  // namespace tarnwell
