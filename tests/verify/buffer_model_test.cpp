#include "verify/buffer_model.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/recording_dialog.h"

namespace tarnwell {
namespace {

using test::RecordingDialog;

// Drives the model as a check drives it: passes over the picture sizes (in
// bits), restarting after a search step. The last picture of a stream is never
// applied, so callers pass only the applied ones.
struct ModelRun {
  CheckSettings settings;
  FrameRateFraction rate;
  RecordingDialog dialog;
  Outcome outcome = Outcome::Pass;
  int passes = 0;
  std::string message;

  void run(const std::vector<uint32_t>& pictures) {
    BufferModel model(settings, rate, dialog);
    for (;;) {
      ++passes;
      if (!model.begin_model_pass()) break;
      ModelStep step = ModelStep::Continue;
      for (uint32_t bits : pictures) {
        step = model.apply_picture(bits);
        if (step != ModelStep::Continue) break;
      }
      if (step != ModelStep::Restart) break;
    }
    outcome = model.outcome();
    message = model.message();
  }
};

std::vector<uint32_t> repeat(uint32_t bits, int count) { return std::vector<uint32_t>(static_cast<size_t>(count), bits); }

TEST(BufferModelRefusal, BothZeroAsksForABitrate) {
  ModelRun r;
  r.settings = {0, 0, 0, 25.0};
  r.run(repeat(1000, 3));
  EXPECT_EQ(r.outcome, Outcome::Refused);
  ASSERT_EQ(r.dialog.boxes().size(), 1u);
  EXPECT_EQ(r.dialog.boxes()[0].text, "You must specify a bitrate!");
  EXPECT_EQ(r.dialog.boxes()[0].caption, "Error");
  EXPECT_EQ(r.dialog.calls().size(), 1u);  // nothing but the box
}

TEST(BufferModelRefusal, InitialFillEqualToBufferIsAcceptedOneMoreRefused) {
  ModelRun ok;
  ok.settings = {1000, 1000, 25000, 25.0};
  ok.run(repeat(1000, 3));
  EXPECT_EQ(ok.outcome, Outcome::Pass);

  ModelRun refused;
  refused.settings = {1000, 1001, 25000, 25.0};
  refused.run(repeat(1000, 3));
  EXPECT_EQ(refused.outcome, Outcome::Refused);
  EXPECT_EQ(refused.message, "Initial fill cannot exceed buffer size");
}

TEST(BufferModelRefusal, NegativeEntriesCompareAsLargeUnsignedValues) {
  ModelRun r;  // initial fill typed as -1 exceeds any buffer size
  r.settings = {10000000, 4294967295u, 1000000, 25.0};
  r.run(repeat(1000, 3));
  EXPECT_EQ(r.message, "Initial fill cannot exceed buffer size");
}

TEST(BufferModelVerdict, PictureEqualToFullnessIsNoUnderflow) {
  ModelRun r;
  r.settings = {8000, 8000, 25, 25.0};  // one bit arrives a picture
  r.run({5000, 3001});
  EXPECT_EQ(r.outcome, Outcome::Pass);
}

TEST(BufferModelVerdict, UnderflowGivesSizeAndShortfallAndEmptiesTheBar) {
  ModelRun r;
  r.settings = {8000, 8000, 25, 25.0};
  r.run({5000, 3002});
  EXPECT_EQ(r.outcome, Outcome::Underflow);
  EXPECT_EQ(r.message, "UNDERFLOW frame size=3002 bits, underflow=1 bits");
  EXPECT_EQ(r.dialog.progress_of(kProgressFullness), 0u);
}

TEST(BufferModelVerdict, UndersizedPictureEndsTheRun) {
  ModelRun r;
  r.settings = {8000, 8000, 100000, 25.0};
  r.run({8001});
  EXPECT_EQ(r.outcome, Outcome::Undersized);
  EXPECT_EQ(r.message, "UNDERSIZED BUFFER frame size=8001 bits can't fit in buffer.\nIncrease your buffer size.");
}

TEST(BufferModelVerdict, FullnessLandingOnBufferSizeIsNoOverflow) {
  ModelRun r;
  r.dialog.set_checked(kCheckStrictOverflow, true);
  r.settings = {10000, 6000, 100000, 25.0};  // 4000 bits a picture
  r.run({4000, 4000, 4000});                 // 6000 -> 2000 -> 6000 -> ... never above 10000
  EXPECT_EQ(r.outcome, Outcome::Pass);

  ModelRun exact;
  exact.dialog.set_checked(kCheckStrictOverflow, true);
  exact.settings = {10000, 10000, 100000, 25.0};
  exact.run({4000, 4000});  // 10000 - 4000 + 4000 = 10000 exactly
  EXPECT_EQ(exact.outcome, Outcome::Pass);
}

TEST(BufferModelVerdict, StrictOverflowReportsExcessAndFillsTheBar) {
  ModelRun r;
  r.dialog.set_checked(kCheckStrictOverflow, true);
  r.settings = {10000, 10000, 100000, 25.0};
  r.run({3000});
  EXPECT_EQ(r.outcome, Outcome::Overflow);
  EXPECT_EQ(r.message, "OVERFLOW frame size=3000 bits, overflow=1000 bits\n");
  EXPECT_EQ(r.dialog.progress_of(kProgressFullness), 100u);
}

TEST(BufferModelVerdict, OverflowWithoutStrictCheckClipsSilently) {
  ModelRun r;
  r.settings = {10000, 10000, 100000, 25.0};
  r.run({3000, 10000});  // clipped to 10000, so the whole buffer is there for the second
  EXPECT_EQ(r.outcome, Outcome::Pass);
  EXPECT_TRUE(r.dialog.boxes().empty());
}

TEST(BufferModelVerdict, StrictCheckBoxIsReadAtEachOverflow) {
  CheckSettings settings{10000, 10000, 100000, 25.0};
  FrameRateFraction rate;
  RecordingDialog dialog;
  BufferModel model(settings, rate, dialog);
  ASSERT_TRUE(model.begin_model_pass());
  EXPECT_EQ(model.apply_picture(3000), ModelStep::Continue);  // unchecked: clipped
  EXPECT_EQ(model.fullness(), 10000u);
  dialog.set_checked(kCheckStrictOverflow, true);
  EXPECT_EQ(model.apply_picture(2000), ModelStep::Stopped);
  EXPECT_EQ(model.message(), "OVERFLOW frame size=2000 bits, overflow=2000 bits\n");
}

TEST(BufferModelVerdict, FullnessBarShowsFullnessBeforeRemoval) {
  CheckSettings settings{10000, 7500, 0, 25.0};
  FrameRateFraction rate;
  RecordingDialog dialog;
  BufferModel model(settings, rate, dialog);
  ASSERT_TRUE(model.begin_model_pass());
  settings.bit_rate = 0;
  model.apply_picture(2500);
  EXPECT_EQ(dialog.progress_of(kProgressFullness), 75u);
  model.apply_picture(0);
  EXPECT_EQ(dialog.progress_of(kProgressFullness), 50u);
}

TEST(BufferModelFrameRate, ArrivalDropsTheFractionAtEveryPicture) {
  for (auto [fps, per_picture] : {std::pair{30.0, 33333u}, std::pair{29.97, 33366u}}) {
    CheckSettings settings{10000000, 0, 1000000, fps};
    FrameRateFraction rate;
    RecordingDialog dialog;
    BufferModel model(settings, rate, dialog);
    ASSERT_TRUE(model.begin_model_pass());
    model.apply_picture(0);
    EXPECT_EQ(model.fullness(), per_picture);
    model.apply_picture(0);
    EXPECT_EQ(model.fullness(), 2 * per_picture) << fps;
  }
}

TEST(BufferModelFrameRate, TakenFromTheStreamAndShownOnce) {
  ModelRun r;
  r.settings = {10000000, 9000000, 1000000, 0.0};
  r.rate = {50, 2};
  r.run(repeat(40000, 5));
  EXPECT_EQ(r.outcome, Outcome::Pass);
  EXPECT_DOUBLE_EQ(r.settings.frame_rate, 25.0);
  EXPECT_EQ(r.dialog.text_of(kEditFrameRate), "25.000");
  int shown = 0;
  for (const auto& call : r.dialog.calls()) shown += call.kind == test::DialogCall::Text && call.control == kEditFrameRate;
  EXPECT_EQ(shown, 1);
}

TEST(BufferModelFrameRate, UnknownRateStopsAfterTheFirstRemoval) {
  for (FrameRateFraction rate : {FrameRateFraction{0, 2}, FrameRateFraction{50, 0}}) {
    ModelRun r;
    r.settings = {10000000, 9000000, 1000000, 0.5};
    r.rate = rate;
    r.run(repeat(1000, 3));
    EXPECT_EQ(r.outcome, Outcome::UnknownFrameRate);
    EXPECT_EQ(r.message, "Dont' know the frame rate!");
  }
}

TEST(BufferModelFrameRate, WideTimingValuesGiveTheirTrueRate) {
  // time_scale 2^31 + 2 and num_units_in_tick 2^30 + 1 would be negative or
  // wrapped in signed 32-bit arithmetic; as unsigned values they give 1.0.
  ModelRun r;
  r.settings = {10000000, 9000000, 1000000, 0.0};
  r.rate = {2147483650u, 2 * uint64_t{1073741825u}};
  r.run(repeat(1000, 2));
  EXPECT_EQ(r.outcome, Outcome::Pass);
  EXPECT_DOUBLE_EQ(r.settings.frame_rate, 1.0);
  EXPECT_EQ(r.dialog.text_of(kEditFrameRate), "1.000");
}

TEST(BufferModelArithmetic, HugeArrivalFillsTheBufferInsteadOfWrapping) {
  // 4,000,000,000 bits/s at 1 picture/s: the arrival exceeds 2^31 - 1.
  ModelRun clipped;
  clipped.settings = {4294967295u, 0, 4000000000u, 1.0};
  clipped.run({0, 0, 4294967295u});
  EXPECT_EQ(clipped.outcome, Outcome::Pass);

  ModelRun strict;
  strict.dialog.set_checked(kCheckStrictOverflow, true);
  strict.settings = {100000, 0, 4000000000u, 1.0};
  strict.run({0});
  EXPECT_EQ(strict.outcome, Outcome::Overflow);
  EXPECT_EQ(strict.message, "OVERFLOW frame size=0 bits, overflow=2147483647 bits\n");
}

TEST(BufferModelArithmetic, BufferTypedAsMinusOneSaturatesTheFullness) {
  CheckSettings settings{4294967295u, 4294967000u, 1000000, 1.0};
  FrameRateFraction rate;
  RecordingDialog dialog;
  BufferModel model(settings, rate, dialog);
  ASSERT_TRUE(model.begin_model_pass());
  EXPECT_EQ(model.apply_picture(0), ModelStep::Continue);
  EXPECT_EQ(model.fullness(), 4294967295u);
}

TEST(BufferModelSearch, BitRateStepsFromZeroInHundredThousands) {
  ModelRun r;
  r.settings = {10000000, 25000, 0, 10.0};
  r.run(repeat(25000, 4));  // needs 25,000 bits a picture: 250,000 bits/s
  EXPECT_EQ(r.outcome, Outcome::Pass);
  EXPECT_EQ(r.settings.bit_rate, 300000u);
  EXPECT_EQ(r.dialog.text_of(kEditBitRate), "300000");
  std::vector<uint32_t> shown;
  for (const auto& call : r.dialog.calls()) {
    if (call.kind == test::DialogCall::Unsigned && call.control == kEditBitRate) shown.push_back(call.value);
  }
  EXPECT_EQ(shown, (std::vector<uint32_t>{0, 100000, 200000, 300000}));
  EXPECT_EQ(r.passes, 4);
}

TEST(BufferModelSearch, BufferSizesTriedFollowTheStepTable) {
  ModelRun r;
  r.settings = {0, 12345, 1000000, 1000.0};  // 1,000 bits arrive a picture
  r.run({1000, 40000});
  EXPECT_EQ(r.outcome, Outcome::Pass);
  std::vector<uint32_t> sizes, fills;
  for (const auto& call : r.dialog.calls()) {
    if (call.kind != test::DialogCall::Unsigned) continue;
    if (call.control == kEditBufferSize) sizes.push_back(call.value);
    if (call.control == kEditInitialFill) fills.push_back(call.value);
  }
  ASSERT_EQ(sizes.size(), 30u);
  EXPECT_EQ(sizes[0], 0u);
  EXPECT_EQ(fills[0], 0u);
  EXPECT_EQ(sizes[1], 1000u);
  EXPECT_EQ(fills[1], 900u);
  EXPECT_EQ(sizes[25], 25000u);
  EXPECT_EQ(sizes[26], 30000u);
  EXPECT_EQ(fills[26], 27000u);
  // The first size whose 0.9 fill holds the 40,000-bit picture.
  EXPECT_EQ(r.settings.buffer_size, 45000u);
  EXPECT_EQ(r.settings.initial_fill, 40500u);
}

TEST(BufferModelSearch, StepTablesChangeAtTheirBounds) {
  EXPECT_EQ(bit_rate_step(999999), 100000u);
  EXPECT_EQ(bit_rate_step(1000000), 500000u);
  EXPECT_EQ(bit_rate_step(19999999), 1000000u);
  EXPECT_EQ(bit_rate_step(59999999), 3000000u);
  EXPECT_EQ(bit_rate_step(60000000), 10000000u);
  EXPECT_EQ(buffer_size_step(24999), 1000u);
  EXPECT_EQ(buffer_size_step(25000), 5000u);
  EXPECT_EQ(buffer_size_step(500000), 100000u);
  EXPECT_EQ(buffer_size_step(1000000), 500000u);
  EXPECT_EQ(buffer_size_step(10000000), 1000000u);
  EXPECT_EQ(buffer_size_step(20000000), 3000000u);
  EXPECT_EQ(buffer_size_step(60000000), 10000000u);
}

TEST(BufferModelSearch, BufferSearchNeverReportsUndersized) {
  ModelRun r;
  r.settings = {0, 0, 1000000, 25.0};
  r.run({90000, 10});
  EXPECT_EQ(r.outcome, Outcome::Pass);
  EXPECT_GE(r.settings.initial_fill, 90000u);
}

TEST(BufferModelSearch, StrictOverflowStillEndsABufferSearch) {
  ModelRun r;
  r.dialog.set_checked(kCheckStrictOverflow, true);
  r.settings = {0, 0, 1000000, 1.0};  // a million bits arrive at once
  r.run({500, 500});
  EXPECT_EQ(r.outcome, Outcome::Overflow);
}

TEST(BufferModelSearch, BitRateSearchPastTheLargestValueEndsWithAnError) {
  ModelRun r;
  r.settings = {4294967295u, 0, 0, 1.0};
  r.run({1, 4294967295u});  // nothing arrives fast enough
  EXPECT_EQ(r.outcome, Outcome::SearchExhausted);
  EXPECT_EQ(r.message, "Cannot find a workable bit rate below 4294967295 bits/s");
  EXPECT_EQ(r.settings.bit_rate, 4292000000u);  // the last value tried stays
  EXPECT_EQ(r.dialog.text_of(kEditBitRate), "4292000000");
}

TEST(BufferModelSearch, BufferSearchPastTheLargestValueEndsWithAnError) {
  ModelRun r;
  r.settings = {0, 0, 1, 1000.0};  // no bits arrive, and 0.9 of any size is too little
  r.run({4294967295u});
  EXPECT_EQ(r.outcome, Outcome::SearchExhausted);
  EXPECT_EQ(r.message, "Cannot find a workable buffer size below 4294967295 bits");
  EXPECT_EQ(r.settings.buffer_size, 4292000000u);
  EXPECT_EQ(r.dialog.text_of(kEditBufferSize), "4292000000");
}

// Whole checks of a real x264 stream, with outcomes computed independently.
std::vector<uint32_t> x264_picture_bits() {
  std::ifstream in(std::string(TARNWELL_STREAMS_DIR) + "/x264_cbr_1000k_25fps.sizes");
  std::vector<uint32_t> bits;
  for (uint32_t bytes; in >> bytes;) bits.push_back(bytes * 8);
  if (!bits.empty()) bits.pop_back();  // the picture still open at the end is never applied
  return bits;
}

struct CheckRow {
  CheckSettings settings;
  bool strict;
  Outcome outcome;
  std::string message;
  uint32_t found_buffer_size, found_initial_fill, found_bit_rate;
  std::string frame_rate_shown;
};

TEST(BufferModelRealStream, ReproducesTheIndependentChecks) {
  std::vector<uint32_t> pictures = x264_picture_bits();
  ASSERT_EQ(pictures.size(), 249u);
  const CheckRow rows[] = {
      {{1000000, 900000, 1000000, 0}, false, Outcome::Pass, "", 1000000, 900000, 1000000, "25.000"},
      {{1000000, 900000, 0, 0}, false, Outcome::Pass, "", 1000000, 900000, 1000000, "25.000"},
      {{0, 0, 1000000, 0}, false, Outcome::Pass, "", 455000, 409500, 1000000, "25.000"},
      {{300000, 270000, 1000000, 0}, false, Outcome::Underflow, "UNDERFLOW frame size=111704 bits, underflow=19728 bits",
       300000, 270000, 1000000, "25.000"},
      {{1000000, 900000, 2000000, 0}, true, Outcome::Overflow, "OVERFLOW frame size=42416 bits, overflow=32160 bits\n",
       1000000, 900000, 2000000, "25.000"},
  };
  for (const CheckRow& row : rows) {
    ModelRun r;
    r.settings = row.settings;
    r.rate = {50, 2};
    r.dialog.set_checked(kCheckStrictOverflow, row.strict);
    r.run(pictures);
    EXPECT_EQ(r.outcome, row.outcome) << row.message;
    EXPECT_EQ(r.message, row.message);
    EXPECT_EQ(r.settings.buffer_size, row.found_buffer_size);
    EXPECT_EQ(r.settings.initial_fill, row.found_initial_fill);
    EXPECT_EQ(r.settings.bit_rate, row.found_bit_rate);
    EXPECT_EQ(r.dialog.text_of(kEditFrameRate), row.frame_rate_shown);
  }
}

}  // namespace
}  // namespace tarnwell
