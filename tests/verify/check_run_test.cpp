#include "verify/check_run.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "app/dialog_check_observer.h"
#include "support/bit_writer.h"
#include "support/h264_writers.h"
#include "support/recording_dialog.h"
#include "support/stream_builder.h"

namespace tarnwell {
namespace {

using test::DialogCall;
using test::RecordingDialog;
using test::StreamBuilder;
using test::TempStreamFile;

// --- Built streams -----------------------------------------------------------

struct ClipOptions {
  bool unknown_frame_rate = false;
  bool extra_pps1 = false;    // a PPS 1 after PPS 0
  uint32_t slice_pps_id = 0;  // the PPS the slices name
};

// One IDR picture, then P pictures, one slice each, with the given numbers
// of slice data bytes. `pictures` holds every picture's size in bytes as the
// check counts it, the last one (never applied) included.
struct Clip {
  StreamBuilder stream;
  std::vector<uint32_t> pictures;

  uint32_t bits(std::size_t i) const { return pictures.at(i) * 8; }
};

Clip make_clip(const std::vector<uint32_t>& body_bytes, const ClipOptions& options = {}) {
  Clip clip;
  // With an unknown frame rate: VUI timing with time_scale 0, a frame rate of 0 / 2.
  clip.stream.nal(3, 7, test::sps_rbsp({.vui = options.unknown_frame_rate, .time_scale = 0}));
  clip.stream.nal(3, 8, test::pps_rbsp(0));
  if (options.extra_pps1) clip.stream.nal(3, 8, test::pps_rbsp(1));
  uint32_t leading = 0;  // the parameter sets count into the first picture
  for (uint32_t size : clip.stream.nal_sizes()) leading += size;
  for (std::size_t i = 0; i < body_bytes.size(); ++i) {
    const bool idr = i == 0;
    clip.stream.nal(3, idr ? 5 : 1,
                    test::slice_rbsp({.idr = idr,
                                      .pic_parameter_set_id = options.slice_pps_id,
                                      .frame_num = static_cast<uint32_t>(i),
                                      .body_bytes = body_bytes[i]}));
    clip.pictures.push_back(clip.stream.nal_sizes().back() + (idr ? leading : 0));
  }
  return clip;
}

// --- The run over the recording dialog ----------------------------------------

constexpr uint32_t kSmallWindow = 65536;
constexpr uint32_t kStreamWindow = 1 << 20;

struct RunFixture {
  explicit RunFixture(uint32_t window_bytes = kSmallWindow) : context(dialog, window_bytes), observer(dialog) {
    context.reporter.set_stderr_enabled(false);
  }

  CheckRunResult run(const std::string& path, const CheckSettings& settings) {
    context.settings = settings;
    context.shared.stream_path = path;
    CheckRun check(context, observer);
    check.on_pass_start = [this](uint32_t pass) {
      pass_starts.push_back(pass);
      if (pass == abort_at_pass) context.shared.abort_requested.store(1);
    };
    check.on_picture = [this, &check](const PictureTrace& trace) {
      traces.push_back(trace);
      busy_seen.push_back(!dialog.enabled_of(kButtonCheck) && !dialog.enabled_of(kButtonBrowse) &&
                          !dialog.enabled_of(kButtonHrdInfo) && dialog.enabled_of(kButtonAbort));
      if (traces.size() == abort_after_pictures) context.shared.abort_requested.store(1);
      if (traces.size() == stop_after_pictures) check.request_stop();
    };
    check.run();
    return check.result();
  }

  std::vector<std::string> error_boxes() const {
    std::vector<std::string> texts;
    for (const test::ShownBox& box : dialog.boxes()) {
      if (box.kind == BoxKind::Error) {
        EXPECT_EQ(box.caption, "Error");
        texts.push_back(box.text);
      }
    }
    return texts;
  }

  std::vector<uint32_t> positions(int control) const {
    std::vector<uint32_t> out;
    for (const DialogCall& call : dialog.calls()) {
      if (call.kind == DialogCall::Progress && call.control == control) out.push_back(call.value);
    }
    return out;
  }

  std::vector<std::pair<int, uint32_t>> unsigned_edits() const {
    std::vector<std::pair<int, uint32_t>> out;
    for (const DialogCall& call : dialog.calls()) {
      if (call.kind == DialogCall::Unsigned) out.emplace_back(call.control, call.value);
    }
    return out;
  }

  // The run sets the controls busy first and idle last, and touches them
  // nowhere else.
  void expect_busy_then_idle() const {
    std::vector<DialogCall> calls = dialog.calls();
    std::vector<std::pair<int, uint32_t>> enables;
    for (const DialogCall& call : calls) {
      if (call.kind == DialogCall::Enable) enables.emplace_back(call.control, call.value);
    }
    const std::vector<std::pair<int, uint32_t>> expected = {
        {kButtonCheck, 0}, {kButtonBrowse, 0}, {kButtonHrdInfo, 0}, {kButtonAbort, 1},
        {kButtonCheck, 1}, {kButtonBrowse, 1}, {kButtonHrdInfo, 1}, {kButtonAbort, 0}};
    ASSERT_EQ(enables, expected);
    ASSERT_GE(calls.size(), 8u);
    for (std::size_t i = 0; i < 4; ++i) {
      EXPECT_EQ(calls[i].kind, DialogCall::Enable) << "call " << i;
      EXPECT_EQ(calls[calls.size() - 4 + i].kind, DialogCall::Enable) << "call " << calls.size() - 4 + i;
    }
    for (bool busy : busy_seen) EXPECT_TRUE(busy);
  }

  RecordingDialog dialog;
  ApplicationContext context;
  DialogCheckObserver observer;
  std::vector<uint32_t> pass_starts;
  std::vector<PictureTrace> traces;
  std::vector<bool> busy_seen;
  uint32_t abort_at_pass = 0;             // 0: never
  std::size_t abort_after_pictures = 0;   // 0: never
  std::size_t stop_after_pictures = 0;    // request_stop; 0: never
};

std::string stream_path(const char* name) { return std::string(TARNWELL_STREAMS_DIR) + "/" + name; }

std::vector<uint32_t> read_sizes(const char* name) {
  std::ifstream in(stream_path(name));
  std::vector<uint32_t> sizes;
  for (uint32_t size = 0; in >> size;) sizes.push_back(size);
  return sizes;
}

std::string format(const char* pattern, uint32_t a, uint32_t b = 0) {
  char text[256];
  std::snprintf(text, sizeof text, pattern, static_cast<int32_t>(a), static_cast<int32_t>(b));
  return text;
}

constexpr char kX264[] = "x264_cbr_1000k_25fps.264";

// --- Before the controls are touched ------------------------------------------

TEST(CheckRunStart, MissingFileOrBusyStateShowsOneBoxAndTouchesNoControl) {
  Clip clip = make_clip({100, 100, 100});
  TempStreamFile file(clip.stream);
  const CheckSettings settings{1000000, 900000, 1000000, 25.0};
  for (bool busy : {false, true}) {
    RunFixture f;
    ApplicationContext::ParsingLease lease;
    if (busy) lease = f.context.try_take_parsing();
    CheckRunResult result = f.run(busy ? file.path() : stream_path("no-such-stream.264"), settings);
    const char* message = busy ? "Another check or report is still reading the stream." : "Cannot open input file";
    EXPECT_EQ(result.outcome, busy ? Outcome::Refused : Outcome::CannotOpen);
    EXPECT_EQ(result.message, message);
    EXPECT_EQ(result.passes, 0u);
    std::vector<DialogCall> calls = f.dialog.calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].kind, DialogCall::Box);
    EXPECT_EQ(calls[0].text, message);
    EXPECT_EQ(calls[0].caption, "Error");
    EXPECT_EQ(f.context.parsing_busy(), busy);  // the holder's lease stays
    if (busy) {
      lease.release();
      EXPECT_EQ(f.run(file.path(), settings).outcome, Outcome::Pass);
      EXPECT_FALSE(f.context.parsing_busy());
    }
  }
}

TEST(CheckRunStart, FileSizeIsMeasuredThroughASecondOpening) {
  Clip clip = make_clip({10, 20});
  TempStreamFile file(clip.stream);
  EXPECT_EQ(measure_file_size(file.path()), clip.stream.bytes().size());
  EXPECT_EQ(measure_file_size(stream_path(kX264)), 1278410u);
  EXPECT_EQ(measure_file_size(stream_path("no-such-stream.264")), std::numeric_limits<uint64_t>::max());
}

// --- Every ending, with its message and the bars it leaves ---------------------

TEST(CheckRunOutcome, EveryEndingShowsItsMessageAndLeavesTheBarsAsStated) {
  const std::vector<uint32_t> bodies = {400, 900, 300, 300, 600, 50};
  ClipOptions unknown_rate;
  unknown_rate.unknown_frame_rate = true;
  const Clip clip = make_clip(bodies);
  const Clip clip_without_rate = make_clip(bodies, unknown_rate);
  TempStreamFile file(clip.stream);
  TempStreamFile file_without_rate(clip_without_rate.stream);
  const uint32_t p0 = clip.bits(0), p1 = clip.bits(1);
  ASSERT_GT(p1, p0);
  // A bit rate of 1 at 25 pictures per second adds no bit per picture.
  const uint32_t small = p1 - 1;
  constexpr int kUntouched = -1;

  struct Case {
    const char* name;
    CheckSettings settings;
    Outcome outcome;
    std::string message;
    std::size_t pictures;   // applied, the one that ended the run included
    int fullness_bar;       // last position of bar 1013, or kUntouched
    bool strict = false;
    bool stream_rate_unknown = false;
    std::size_t abort_after = 0;
  };
  const Case cases[] = {
      {"both zero", {0, 0, 0, 25.0}, Outcome::Refused, "You must specify a bitrate!", 0, kUntouched},
      {"fill above size", {1000, 1001, 8000, 25.0}, Outcome::Refused, "Initial fill cannot exceed buffer size", 0,
       kUntouched},
      {"undersized", {small, small, 1, 25.0}, Outcome::Undersized,
       format("UNDERSIZED BUFFER frame size=%d bits can't fit in buffer.\nIncrease your buffer size.", p1), 2,
       static_cast<int>((small - p0) * 100.0 / small)},
      {"underflow", {10000000, p0 + p1 - 1, 1, 25.0}, Outcome::Underflow,
       format("UNDERFLOW frame size=%d bits, underflow=%d bits", p1, 1), 2, 0},
      {"strict overflow", {1000000, 1000000, (p0 + 10) * 25, 25.0}, Outcome::Overflow,
       format("OVERFLOW frame size=%d bits, overflow=%d bits\n", p0, 10), 1, 100, true},
      {"unknown frame rate", {1000000, 900000, 1000000, 0.0}, Outcome::UnknownFrameRate, "Dont' know the frame rate!",
       1, 90, false, true},
      {"aborted", {1000000, 900000, 1000000, 25.0}, Outcome::Aborted, "", 2, 0, false, false, 2},
      {"pass", {1000000, 1000000, 1000000000, 25.0}, Outcome::Pass, "", bodies.size() - 1, 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Clip& used = c.stream_rate_unknown ? clip_without_rate : clip;
    RunFixture f;
    f.dialog.set_checked(kCheckStrictOverflow, c.strict);
    f.abort_after_pictures = c.abort_after;
    CheckRunResult result = f.run(c.stream_rate_unknown ? file_without_rate.path() : file.path(), c.settings);
    EXPECT_EQ(result.outcome, c.outcome);
    EXPECT_EQ(result.message, c.message);
    EXPECT_EQ(f.error_boxes(), c.message.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.message});
    EXPECT_EQ(result.passes, 1u);
    EXPECT_EQ(result.pictures, c.pictures);
    ASSERT_EQ(f.traces.size(), c.pictures);
    // Only the picture that ended the run has no fullness after it.
    const bool ended_by_picture = c.outcome != Outcome::Pass && c.outcome != Outcome::Aborted;
    for (std::size_t i = 0; i < f.traces.size(); ++i) {
      EXPECT_EQ(f.traces[i].has_fullness_after, !(ended_by_picture && i + 1 == f.traces.size())) << i;
    }

    // The file bar: percent of the bytes taken over the file size, truncated;
    // never 100, since start codes and the last picture are not counted. An
    // abort then sets both bars to 0.
    std::vector<uint32_t> file_bar;
    uint64_t consumed = 0;
    const double file_size = static_cast<double>(used.stream.bytes().size());
    for (std::size_t i = 0; i < c.pictures; ++i) {
      consumed += used.pictures[i];
      file_bar.push_back(static_cast<uint32_t>(static_cast<double>(consumed) * 100.0 / file_size));
      EXPECT_EQ(f.traces[i].size_bits, used.bits(i));
    }
    if (c.outcome == Outcome::Aborted) file_bar.push_back(0);
    EXPECT_EQ(f.positions(kProgressFile), file_bar);
    for (uint32_t position : file_bar) EXPECT_LT(position, 100u);
    if (c.fullness_bar == kUntouched) {
      EXPECT_TRUE(f.positions(kProgressFullness).empty());
    } else {
      ASSERT_FALSE(f.positions(kProgressFullness).empty());
      EXPECT_EQ(f.positions(kProgressFullness).back(), static_cast<uint32_t>(c.fullness_bar));
    }
    EXPECT_EQ(f.dialog.text_of(kEditFrameRate), "");
    f.expect_busy_then_idle();
    EXPECT_FALSE(f.context.parsing_busy());
  }
}

TEST(CheckRunOutcome, SearchThatCannotSucceedEndsExhausted) {
  // The first picture is removed before any bits arrive, so no bit rate helps.
  Clip clip = make_clip({100, 10});
  TempStreamFile file(clip.stream);
  RunFixture f;
  CheckRunResult result = f.run(file.path(), {1000000, clip.bits(0) - 1, 0, 25.0});
  EXPECT_EQ(result.outcome, Outcome::SearchExhausted);
  EXPECT_EQ(f.error_boxes(), std::vector<std::string>{result.message});
  uint32_t passes = 1;
  uint64_t rate = 0;
  for (; rate + bit_rate_step(static_cast<uint32_t>(rate)) <= 0xFFFFFFFFu; ++passes) {
    rate += bit_rate_step(static_cast<uint32_t>(rate));
  }
  EXPECT_EQ(result.passes, passes);
  EXPECT_EQ(f.context.settings.bit_rate, rate);
  EXPECT_EQ(f.dialog.text_of(kEditBitRate), std::to_string(rate));
  f.expect_busy_then_idle();
}

// --- Searches over a real stream ------------------------------------------------

TEST(CheckRunSearch, BitRateSearchStartsEveryPassAtTheFirstPicture) {
  const std::vector<uint32_t> sizes = read_sizes("x264_cbr_1000k_25fps.sizes");
  ASSERT_EQ(sizes.size(), 250u);
  RunFixture f(kStreamWindow);
  CheckRunResult result = f.run(stream_path(kX264), {1000000, 900000, 0, 0.0});
  EXPECT_EQ(result.outcome, Outcome::Pass);
  EXPECT_TRUE(f.error_boxes().empty());
  EXPECT_EQ(result.passes, 11u);  // 0, 100000, ... 1000000
  EXPECT_EQ(result.pictures, 249u);
  const std::vector<uint32_t> expected_passes = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
  EXPECT_EQ(f.pass_starts, expected_passes);

  std::vector<std::pair<int, uint32_t>> expected_edits;
  for (uint32_t rate = 0; rate <= 1000000; rate += 100000) expected_edits.emplace_back(kEditBitRate, rate);
  EXPECT_EQ(f.unsigned_edits(), expected_edits);
  EXPECT_EQ(f.context.settings.bit_rate, 1000000u);
  EXPECT_EQ(f.dialog.text_of(kEditBitRate), "1000000");
  EXPECT_EQ(f.dialog.text_of(kEditFrameRate), "25.000");

  std::size_t pass_begins = 0;
  for (const PictureTrace& t : f.traces) {
    if (t.index != 0) continue;
    ++pass_begins;
    EXPECT_EQ(t.size_bits, sizes[0] * 8);
    EXPECT_EQ(t.fullness_before, 900000u);
  }
  EXPECT_EQ(pass_begins, 11u);
  ASSERT_GE(f.traces.size(), 249u);
  for (std::size_t i = 0; i < 249; ++i) EXPECT_EQ(f.traces[f.traces.size() - 249 + i].size_bits, sizes[i] * 8);
  EXPECT_LT(f.positions(kProgressFile).back(), 100u);
  f.expect_busy_then_idle();
}

TEST(CheckRunSearch, BufferSizeSearchGrowsBufferAndFillTogether) {
  RunFixture f(kStreamWindow);
  CheckRunResult result = f.run(stream_path(kX264), {0, 500, 1000000, 0.0});
  EXPECT_EQ(result.outcome, Outcome::Pass);
  EXPECT_EQ(result.passes, 112u);  // 0, 1000 ... 25000, 30000 ... 455000
  EXPECT_EQ(f.context.settings.buffer_size, 455000u);
  EXPECT_EQ(f.context.settings.initial_fill, 409500u);
  EXPECT_EQ(f.dialog.text_of(kEditBufferSize), "455000");
  EXPECT_EQ(f.dialog.text_of(kEditInitialFill), "409500");

  const std::vector<std::pair<int, uint32_t>> edits = f.unsigned_edits();
  ASSERT_EQ(edits.size(), 2 * 112u);
  const std::vector<std::pair<int, uint32_t>> first = {
      {kEditInitialFill, 0}, {kEditBufferSize, 0}, {kEditInitialFill, 900}, {kEditBufferSize, 1000}};
  const std::vector<std::pair<int, uint32_t>> opening(edits.begin(), edits.begin() + 4);
  EXPECT_EQ(opening, first);
  EXPECT_EQ(edits[edits.size() - 2], std::make_pair(static_cast<int>(kEditInitialFill), 409500u));
  EXPECT_EQ(edits.back(), std::make_pair(static_cast<int>(kEditBufferSize), 455000u));
  // The first pass starts empty, every later one at 0.9 of its size.
  std::vector<uint32_t> starts;
  for (const PictureTrace& t : f.traces) {
    if (t.index == 0) starts.push_back(t.fullness_before);
  }
  ASSERT_EQ(starts.size(), 112u);
  EXPECT_EQ(starts[0], 0u);
  EXPECT_EQ(starts[1], 900u);
  EXPECT_EQ(starts.back(), 409500u);
}

TEST(CheckRunSearch, AbortDuringASearchKeepsTheLastValueTried) {
  RunFixture f(kStreamWindow);
  f.abort_at_pass = 3;
  CheckRunResult result = f.run(stream_path(kX264), {1000000, 900000, 0, 0.0});
  EXPECT_EQ(result.outcome, Outcome::Aborted);
  EXPECT_EQ(result.passes, 3u);
  EXPECT_EQ(result.pictures, 0u);
  EXPECT_TRUE(f.error_boxes().empty());
  EXPECT_EQ(f.context.settings.bit_rate, 200000u);
  EXPECT_EQ(f.dialog.text_of(kEditBitRate), "200000");
  EXPECT_EQ(f.positions(kProgressFile).back(), 0u);
  EXPECT_EQ(f.positions(kProgressFullness).back(), 0u);
  f.expect_busy_then_idle();
}

// A caller's own stop ends the run as the user's Abort does, without
// touching the user's flag.
TEST(CheckRunSearch, CallersStopEndsTheRunAsAbortWithoutTheUsersFlag) {
  RunFixture f(kStreamWindow);
  f.stop_after_pictures = 5;
  CheckRunResult result = f.run(stream_path(kX264), {1000000, 900000, 1000000, 0.0});
  EXPECT_EQ(result.outcome, Outcome::Aborted);
  EXPECT_EQ(result.pictures, 5u);
  EXPECT_EQ(f.context.shared.abort_requested.load(), 0u);
  EXPECT_TRUE(f.error_boxes().empty());
  EXPECT_EQ(f.positions(kProgressFile).back(), 0u);
  EXPECT_EQ(f.positions(kProgressFullness).back(), 0u);
  f.expect_busy_then_idle();
}

// --- Runs in one context ------------------------------------------------------

TEST(CheckRunContext, SecondRunStartsWithTheParameterSetsOfTheFirst) {
  // The second stream's slices name PPS 1, which only the first stream holds.
  const std::vector<uint32_t> bodies = {400, 900, 300};
  ClipOptions first_options;
  first_options.extra_pps1 = true;
  ClipOptions second_options;
  second_options.slice_pps_id = 1;
  TempStreamFile first_file(make_clip(bodies, first_options).stream);
  TempStreamFile second_file(make_clip(bodies, second_options).stream);
  const CheckSettings settings{1000000, 900000, 1000000, 25.0};

  RunFixture fresh;
  fresh.dialog.answer_next(BoxAnswer::Cancel);
  fresh.run(second_file.path(), settings);
  ASSERT_FALSE(fresh.dialog.boxes().empty());
  EXPECT_NE(fresh.dialog.boxes()[0].text.find("Picture Parameter Set with ID 1"), std::string::npos);

  RunFixture f;
  EXPECT_EQ(f.run(first_file.path(), settings).outcome, Outcome::Pass);
  f.dialog.clear_calls();
  f.traces.clear();
  CheckRunResult again = f.run(second_file.path(), settings);
  EXPECT_EQ(again.outcome, Outcome::Pass);
  EXPECT_TRUE(f.dialog.boxes().empty());
  EXPECT_EQ(again.pictures, bodies.size() - 1);
  f.expect_busy_then_idle();
}

}  // namespace
}  // namespace tarnwell
