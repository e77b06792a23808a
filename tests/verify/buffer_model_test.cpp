#include "verify/buffer_model.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/dialog_check_observer.h"
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
    DialogCheckObserver observer(dialog);
    BufferModel model(settings, rate, observer);
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

// Whole runs that end in a verdict: the boundary of every rule, the messages
// and the fullness bar they leave (-1: not looked at).
TEST(BufferModelVerdict, EveryRuleAtItsBoundary) {
  struct Case {
    const char* name;
    CheckSettings settings;
    bool strict;
    std::vector<uint32_t> pictures;
    Outcome outcome;
    const char* message;  // nullptr: not looked at
    int bar = -1;
    FrameRateFraction rate = {};
  };
  const char* const kFillTooLarge = "Initial fill cannot exceed buffer size";
  const Case cases[] = {
      {"both zero", {0, 0, 0, 25.0}, false, repeat(1000, 3), Outcome::Refused, "You must specify a bitrate!"},
      {"fill equal to size", {1000, 1000, 25000, 25.0}, false, repeat(1000, 3), Outcome::Pass, ""},
      {"fill one above size", {1000, 1001, 25000, 25.0}, false, repeat(1000, 3), Outcome::Refused, kFillTooLarge},
      // A fill typed as -1 compares as a large unsigned value.
      {"fill typed -1", {10000000, 4294967295u, 1000000, 25.0}, false, repeat(1000, 3), Outcome::Refused,
       kFillTooLarge},
      // One bit arrives a picture.
      {"picture equal to fullness", {8000, 8000, 25, 25.0}, false, {5000, 3001}, Outcome::Pass, ""},
      {"underflow", {8000, 8000, 25, 25.0}, false, {5000, 3002}, Outcome::Underflow,
       "UNDERFLOW frame size=3002 bits, underflow=1 bits", 0},
      {"undersized", {8000, 8000, 100000, 25.0}, false, {8001}, Outcome::Undersized,
       "UNDERSIZED BUFFER frame size=8001 bits can't fit in buffer.\nIncrease your buffer size."},
      // 4000 bits a picture: 6000 -> 2000 -> 6000 ..., and 10000 - 4000 + 4000 = 10000 exactly.
      {"strict, below size", {10000, 6000, 100000, 25.0}, true, {4000, 4000, 4000}, Outcome::Pass, ""},
      {"strict, landing on size", {10000, 10000, 100000, 25.0}, true, {4000, 4000}, Outcome::Pass, ""},
      {"strict overflow", {10000, 10000, 100000, 25.0}, true, {3000}, Outcome::Overflow,
       "OVERFLOW frame size=3000 bits, overflow=1000 bits\n", 100},
      // Clipped to 10000, so the whole buffer is there for the second.
      {"overflow clipped", {10000, 10000, 100000, 25.0}, false, {3000, 10000}, Outcome::Pass, ""},
      // 4,000,000,000 bits/s at 1 picture/s: the arrival exceeds 2^31 - 1 and must not wrap.
      {"huge arrival clipped", {4294967295u, 0, 4000000000u, 1.0}, false, {0, 0, 4294967295u}, Outcome::Pass, ""},
      {"huge arrival strict", {100000, 0, 4000000000u, 1.0}, true, {0}, Outcome::Overflow,
       "OVERFLOW frame size=0 bits, overflow=2147483647 bits\n"},
      // Buffer and rate typed as -1 at a stream rate of 1/2: about 8.59e9 bits
      // arrive at once, past any 32-bit fullness, and the excess is shown capped.
      {"arrival past 2^32, strict", {4294967295u, 8000, 4294967295u, 0.0}, true, {8000}, Outcome::Overflow,
       "OVERFLOW frame size=8000 bits, overflow=2147483647 bits\n", 100, {1, 2}},
      {"buffer search, large first picture", {0, 0, 1000000, 25.0}, false, {90000, 10}, Outcome::Pass, ""},
      // A million bits arrive at once.
      {"strict overflow ends a buffer search", {0, 0, 1000000, 1.0}, true, {500, 500}, Outcome::Overflow, nullptr},
      // Nothing arrives fast enough; the last value tried stays.
      {"bit-rate search exhausted", {4294967295u, 0, 0, 1.0}, false, {1, 4294967295u}, Outcome::SearchExhausted,
       "Cannot find a workable bit rate below 4294967295 bits/s"},
      // No bits arrive, and 0.9 of any size is too little.
      {"buffer search exhausted", {0, 0, 1, 1000.0}, false, {4294967295u}, Outcome::SearchExhausted,
       "Cannot find a workable buffer size below 4294967295 bits"},
      {"unknown rate, time scale 0", {10000000, 9000000, 1000000, 0.5}, false, repeat(1000, 3),
       Outcome::UnknownFrameRate, "Dont' know the frame rate!", -1, {0, 2}},
      {"unknown rate, tick 0", {10000000, 9000000, 1000000, 0.5}, false, repeat(1000, 3), Outcome::UnknownFrameRate,
       "Dont' know the frame rate!", -1, {50, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ModelRun r;
    r.settings = c.settings;
    r.rate = c.rate;
    r.dialog.set_checked(kCheckStrictOverflow, c.strict);
    r.run(c.pictures);
    EXPECT_EQ(r.outcome, c.outcome);
    EXPECT_EQ(r.message, c.message != nullptr ? std::string(c.message) : r.message);
    if (c.bar >= 0) {
      EXPECT_EQ(r.dialog.progress_of(kProgressFullness), static_cast<uint32_t>(c.bar));
    }
    EXPECT_EQ(r.dialog.boxes().empty(), c.outcome == Outcome::Pass);
    if (c.outcome == Outcome::Refused) {
      EXPECT_EQ(r.dialog.calls().size(), 1u);  // nothing but the box
    }
  }
}

TEST(BufferModelVerdict, StrictCheckBoxIsReadAtEachOverflow) {
  CheckSettings settings{10000, 10000, 100000, 25.0};
  FrameRateFraction rate;
  RecordingDialog dialog;
  DialogCheckObserver observer(dialog);
  BufferModel model(settings, rate, observer);
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
  DialogCheckObserver observer(dialog);
  BufferModel model(settings, rate, observer);
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
    DialogCheckObserver observer(dialog);
    BufferModel model(settings, rate, observer);
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

TEST(BufferModelArithmetic, BufferTypedAsMinusOneSaturatesTheFullness) {
  CheckSettings settings{4294967295u, 4294967000u, 1000000, 1.0};
  FrameRateFraction rate;
  RecordingDialog dialog;
  DialogCheckObserver observer(dialog);
  BufferModel model(settings, rate, observer);
  ASSERT_TRUE(model.begin_model_pass());
  EXPECT_EQ(model.apply_picture(0), ModelStep::Continue);
  EXPECT_EQ(model.fullness(), 4294967295u);
}

// The values a search shows pass by pass are checked over a real stream
// with the whole check (check_run_test); here the step tables' bounds.
TEST(BufferModelSearch, StepTablesChangeAtTheirBoundsAndExhaustedSearchesKeepTheLastValue) {
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

  ModelRun rate_search;
  rate_search.settings = {4294967295u, 0, 0, 1.0};
  rate_search.run({1, 4294967295u});
  EXPECT_EQ(rate_search.dialog.text_of(kEditBitRate), "4292000000");
  ModelRun size_search;
  size_search.settings = {0, 0, 1, 1000.0};
  size_search.run({4294967295u});
  EXPECT_EQ(size_search.dialog.text_of(kEditBufferSize), "4292000000");
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
    SCOPED_TRACE(row.message);
    ModelRun r;
    r.settings = row.settings;
    r.rate = {50, 2};
    r.dialog.set_checked(kCheckStrictOverflow, row.strict);
    r.run(pictures);
    EXPECT_EQ(r.outcome, row.outcome);
    EXPECT_EQ(r.message, row.message);
    EXPECT_EQ(r.settings.buffer_size, row.found_buffer_size);
    EXPECT_EQ(r.settings.initial_fill, row.found_initial_fill);
    EXPECT_EQ(r.settings.bit_rate, row.found_bit_rate);
    EXPECT_EQ(r.dialog.text_of(kEditFrameRate), row.frame_rate_shown);
  }
}

}  // namespace
}  // namespace tarnwell
