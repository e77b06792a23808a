// The rate-buffer curve: exact to the bit through the check itself, on a
// real stream and on a field-coded one, strict and not; the reading of the
// sizes; the default rates.
#include "verify/curve.h"

#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <string>
#include <vector>

#include "app/dialog_check_observer.h"
#include "support/bit_writer.h"
#include "support/recording_dialog.h"
#include "support/stream_builder.h"
#include "verify/buffer_model.h"
#include "verify/check_run.h"
#include "verify/picture_sizes.h"

namespace tarnwell {
namespace {

using test::BitWriter;
using test::RecordingDialog;
using test::StreamBuilder;
using test::TempStreamFile;

// --- The check, as the curve's judge ------------------------------------------

// The whole check of the file at path with these settings.
Outcome check_file(const std::string& path, const CheckSettings& settings, bool strict) {
  RecordingDialog dialog;
  dialog.set_checked(kCheckStrictOverflow, strict);
  ApplicationContext context(dialog, 1 << 20);
  context.reporter.set_stderr_enabled(false);
  context.settings = settings;
  context.shared.stream_path = path;
  DialogCheckObserver observer(dialog);
  CheckRun run(context, observer);
  run.run();
  return run.result().outcome;
}

// The buffer model alone over a list of sizes: the check without a file.
Outcome check_sizes(const std::vector<uint32_t>& sizes, CheckSettings settings, bool strict) {
  RecordingDialog dialog;
  dialog.set_checked(kCheckStrictOverflow, strict);
  const FrameRateFraction rate{25, 1};
  DialogCheckObserver observer(dialog);
  BufferModel model(settings, rate, observer);
  if (!model.begin_model_pass()) return model.outcome();
  for (uint32_t bits : sizes) {
    if (model.apply_picture(bits) != ModelStep::Continue) return model.outcome();
  }
  return Outcome::Pass;
}

// check passes at (B, F, R) and fails at (B - 1, F, R) and (B, F - 1, R)
// whenever those are settings of a check (not a search, not refused).
template <typename Check>
void expect_exact(const CurvePoint& point, double frame_rate, bool strict, Check check) {
  SCOPED_TRACE(testing::Message() << "rate " << point.bit_rate << (strict ? " strict" : "") << ": B "
                                  << point.min_buffer_size << ", F " << point.min_initial_fill);
  constexpr uint64_t kMax = std::numeric_limits<uint32_t>::max();
  if (!point.valid) {
    // No 32-bit buffer works: not even the largest one.
    ASSERT_TRUE(point.min_buffer_size > kMax || point.min_initial_fill > kMax);
    if (point.min_initial_fill <= kMax) {
      const auto fill = static_cast<uint32_t>(point.min_initial_fill);
      EXPECT_NE(check(CheckSettings{static_cast<uint32_t>(kMax), fill, point.bit_rate, frame_rate}, strict),
                Outcome::Pass);
    }
    return;
  }
  const auto buffer = static_cast<uint32_t>(point.min_buffer_size);
  const auto fill = static_cast<uint32_t>(point.min_initial_fill);
  EXPECT_EQ(check(CheckSettings{buffer, fill, point.bit_rate, frame_rate}, strict), Outcome::Pass);
  if (buffer - 1 >= fill && buffer > 1) {
    const Outcome smaller = check(CheckSettings{buffer - 1, fill, point.bit_rate, frame_rate}, strict);
    EXPECT_NE(smaller, Outcome::Pass);
    EXPECT_NE(smaller, Outcome::Refused);
  }
  if (fill > 0) {
    EXPECT_EQ(check(CheckSettings{buffer, fill - 1, point.bit_rate, frame_rate}, strict), Outcome::Underflow);
  }
}

// --- Streams -------------------------------------------------------------------

std::string shared_stream(const char* name) { return std::string(TARNWELL_STREAMS_DIR) + "/" + name; }

// Field pictures: an SPS without frame_mbs_only_flag, then pairs of fields
// (top then bottom, one frame_num a pair) of varied sizes, 25 frames a
// second.
StreamBuilder field_coded_stream() {
  StreamBuilder stream;
  BitWriter sps;
  sps.u(8, 77).u(8, 0).u(8, 30).ue(0);         // Main profile, level 3.0, SPS 0
  sps.ue(0).ue(2);                             // log2_max_frame_num_minus4, pic_order_cnt_type 2
  sps.ue(2).u1(0).ue(10).ue(4);                // two reference frames, 11 x (2 * 5) macroblocks
  sps.u1(0).u1(0).u1(1).u1(0);                 // fields, no MBAFF, direct_8x8_inference, no cropping
  sps.u1(1).u1(0).u1(0).u1(0).u1(0);           // VUI: no aspect ratio, overscan, signal, chroma location
  sps.u1(1).u(32, 1).u(32, 50).u1(1);          // timing: 50 / (2 * 1)
  sps.u1(0).u1(0).u1(0).u1(0);
  stream.nal(3, 7, sps.trailing_bits());
  BitWriter pps;
  pps.ue(0).ue(0).u1(0).u1(0).ue(0).ue(0).ue(0).u1(0).u(2, 0).se(0).se(0).se(0).u1(1).u1(0).u1(0);
  stream.nal(3, 8, pps.trailing_bits());
  const uint32_t body[] = {900, 300, 120, 700, 80, 40, 1500, 60, 200, 200, 90, 2400, 30, 30, 500, 610};
  for (uint32_t frame = 0; frame < 8; ++frame) {
    for (uint32_t bottom = 0; bottom < 2; ++bottom) {
      const bool idr = frame == 0;
      BitWriter slice;
      slice.ue(0).ue(idr ? 7 : 5).ue(0).u(4, frame).u1(1).u1(bottom);
      if (idr) slice.ue(0);
      for (uint32_t i = 0; i < body[2 * frame + bottom]; ++i) slice.u(8, 0x5A);
      stream.nal(idr ? 3 : 2, idr ? 5 : 1, slice.trailing_bits());
    }
  }
  return stream;
}

std::vector<uint32_t> some_rates(const std::vector<uint32_t>& sizes, double frame_rate) {
  std::vector<uint32_t> rates = default_curve_rates(sizes, frame_rate);
  std::vector<uint32_t> picked = {rates.front(), rates[5], rates.back()};
  picked.push_back(rates.front() / 3);  // below the average: a large fill
  picked.push_back(1);                  // nothing arrives: fill holds every picture
  return picked;
}

// --- Exactness through the check -------------------------------------------------

TEST(CurveExactness, X264StreamStrictAndNot) {
  RecordingDialog dialog;
  ApplicationContext context(dialog, 1 << 20);
  context.reporter.set_stderr_enabled(false);
  context.shared.stream_path = shared_stream("x264_cbr_1000k_25fps.264");
  DialogCheckObserver observer(dialog);
  const PictureSizes sizes = read_picture_sizes(context, observer);
  ASSERT_EQ(sizes.outcome, Outcome::Pass) << sizes.message;
  ASSERT_EQ(sizes.bits.size(), 249u);  // 250 pictures, the last never applied
  ASSERT_EQ(sizes.fraction.frame_rate_num, 50u);
  ASSERT_EQ(sizes.fraction.frame_rate_den, 2u);

  const std::string path = context.shared.stream_path;
  for (bool strict : {false, true}) {
    for (uint32_t rate : some_rates(sizes.bits, 25.0)) {
      // Frame rate 0: the check takes the stream's, as the curve does.
      expect_exact(curve_point(sizes.bits, rate, 25.0, strict), 0.0, strict,
                   [&](const CheckSettings& s, bool st) { return check_file(path, s, st); });
    }
  }
}

// The reading fills the largest buffer past its size at every picture: it
// answers the strict question itself, so a checked box changes nothing,
// where the check itself would stop at the first overflow.
TEST(PictureSizes, ReadingNeverAsksTheStrictBox) {
  std::vector<uint32_t> unchecked;
  for (bool strict : {false, true}) {
    RecordingDialog dialog;
    dialog.set_checked(kCheckStrictOverflow, strict);
    ApplicationContext context(dialog, 1 << 20);
    context.reporter.set_stderr_enabled(false);
    context.shared.stream_path = shared_stream("x264_cbr_1000k_25fps.264");
    context.settings = CheckSettings{1000, 900, 2000, 25.0};
    DialogCheckObserver observer(dialog);
    const PictureSizes sizes = read_picture_sizes(context, observer);
    ASSERT_EQ(sizes.outcome, Outcome::Pass) << sizes.message;
    EXPECT_TRUE(dialog.boxes().empty());
    EXPECT_EQ(context.settings.buffer_size, 1000u);  // the caller's settings are back
    EXPECT_EQ(context.settings.frame_rate, 25.0);
    if (!strict) unchecked = sizes.bits;
    EXPECT_EQ(sizes.bits, unchecked);
  }
  EXPECT_EQ(unchecked.size(), 249u);
  constexpr uint32_t kAll = std::numeric_limits<uint32_t>::max();
  EXPECT_EQ(check_file(shared_stream("x264_cbr_1000k_25fps.264"), CheckSettings{kAll, kAll, kAll, 1.0}, true),
            Outcome::Overflow);
}

TEST(CurveExactness, FieldCodedStreamStrictAndNot) {
  TempStreamFile file(field_coded_stream());
  RecordingDialog dialog;
  ApplicationContext context(dialog, 1 << 20);
  context.reporter.set_stderr_enabled(false);
  context.shared.stream_path = file.path();
  DialogCheckObserver observer(dialog);
  const PictureSizes sizes = read_picture_sizes(context, observer);
  ASSERT_EQ(sizes.outcome, Outcome::Pass) << sizes.message;
  EXPECT_TRUE(dialog.boxes().empty());
  ASSERT_GE(sizes.bits.size(), 7u);

  for (bool strict : {false, true}) {
    for (uint32_t rate : some_rates(sizes.bits, 25.0)) {
      expect_exact(curve_point(sizes.bits, rate, 25.0, strict), 25.0, strict,
                   [&](const CheckSettings& s, bool st) { return check_file(file.path(), s, st); });
    }
  }
}

// Many short random sequences against the model alone: bursts, empty
// stretches, rates whose arrival truncates, the arrival capped at 32 bits.
TEST(CurveExactness, RandomSequencesAgainstTheModel) {
  std::mt19937 random(14);
  for (int round = 0; round < 300; ++round) {
    std::vector<uint32_t> sizes(1 + random() % 40);
    for (uint32_t& size : sizes) size = random() % 4 == 0 ? random() % 200000 : random() % 20000;
    const double frame_rate = round % 3 == 0 ? 29.97 : 25.0;
    const uint32_t rate = round == 0 ? std::numeric_limits<uint32_t>::max() : 1 + random() % 2000000;
    for (bool strict : {false, true}) {
      expect_exact(curve_point(sizes, rate, frame_rate, strict), frame_rate, strict,
                   [&](const CheckSettings& s, bool st) { return check_sizes(sizes, s, st); });
      if (HasFatalFailure()) return;
    }
  }
}

// --- Edges and the default rates --------------------------------------------------

TEST(CurveEdges, NeedsPastThirtyTwoBitsAreInvalidNotWrapped) {
  // Two pictures of the largest size with nothing arriving: the fill must
  // hold both, 2^33 - 2 bits.
  const std::vector<uint32_t> sizes(2, std::numeric_limits<uint32_t>::max());
  const CurvePoint point = curve_point(sizes, 1, 25.0, false);
  EXPECT_FALSE(point.valid);
  EXPECT_EQ(point.min_initial_fill, 2 * uint64_t{std::numeric_limits<uint32_t>::max()});
  EXPECT_FALSE(curve_point(sizes, 0, 25.0, false).valid);  // 0 is a search, not a rate
  const CurvePoint none = curve_point({}, 1000, 25.0, true);
  EXPECT_TRUE(none.valid);
  EXPECT_EQ(none.min_buffer_size, 1u);  // 0 would ask for a search
  EXPECT_EQ(none.min_initial_fill, 0u);
}

TEST(CurveDefaults, SixteenRatesFromTheRoundedAverageToFourTimesIt) {
  // 1,000,001 bits a picture at 10 pictures a second: 10,000,010 bit/s.
  const std::vector<uint32_t> rates = default_curve_rates(std::vector<uint32_t>(7, 1000001), 10.0);
  ASSERT_EQ(rates.size(), 16u);
  EXPECT_EQ(rates.front(), 10001000u);
  EXPECT_EQ(rates[1], 12001200u);
  EXPECT_EQ(rates.back(), 40004000u);
  EXPECT_EQ(default_curve_rates({}, 25.0).front(), 1000u);
  // Past the 32-bit range the rates stop.
  EXPECT_LT(default_curve_rates(std::vector<uint32_t>(3, 2000000000), 1.0).size(), 16u);
}

}  // namespace
}  // namespace tarnwell
