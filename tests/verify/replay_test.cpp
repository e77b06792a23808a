// A run that goes over kept pictures instead of reading the stream again
// must be indistinguishable from one that reads the stream for every pass:
// the same outcome, message, values, control updates, boxes, standard-error
// lines and picture traces. Every test here runs the same check twice, in two
// fresh contexts, once each way, and compares everything the user or a
// caller could see.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "app/dialog_check_observer.h"
#include "context/application_context.h"
#include "support/bit_writer.h"
#include "support/h264_writers.h"
#include "support/recording_dialog.h"
#include "support/stream_builder.h"
#include "verify/check_run.h"
#include "verify/picture_cache.h"

namespace tarnwell {
namespace {

using test::SliceOptions;
using test::SpsOptions;
using test::pps_rbsp;
using test::slice_rbsp;
using test::sps_rbsp;
using test::DialogCall;
using test::RecordingDialog;
using test::StreamBuilder;
using test::TempStreamFile;

constexpr uint32_t kWindow = 1 << 20;

std::string stream_path(const char* name) { return std::string(TARNWELL_STREAMS_DIR) + "/" + name; }

// --- One check, observed ------------------------------------------------------

struct Scenario {
  std::string path;
  CheckSettings settings;
  bool strict = false;
  std::vector<BoxAnswer> answers;     // for the reporter's questions, in order; then Yes
  uint64_t abort_after_pictures = 0;  // abort once this many pictures were applied, over all passes
  uint32_t abort_at_pass = 0;         // abort when this pass starts
  uint64_t cache_bytes = kDefaultPictureCacheBytes;
  std::string earlier_path;  // a check of this stream first, in the same context
};

struct Observed {
  CheckRunResult result;
  CheckSettings settings;
  FrameRateFraction fraction;
  std::vector<std::string> calls;   // every control update and box, in order
  std::vector<std::string> events;  // pass starts and applied pictures, in order
  std::string stderr_text;
  bool reporter_enabled = true;
  int suppressed = 0;
  int32_t last_profile = 0;  // what a later probe of a stream without SPS would show
};

std::string spelled(const DialogCall& call) {
  switch (call.kind) {
    case DialogCall::Progress: return "bar " + std::to_string(call.control) + "=" + std::to_string(call.value);
    case DialogCall::Text: return "text " + std::to_string(call.control) + "=" + call.text;
    case DialogCall::Unsigned: return "edit " + std::to_string(call.control) + "=" + std::to_string(call.value);
    case DialogCall::Enable: return "enable " + std::to_string(call.control) + "=" + std::to_string(call.value);
    case DialogCall::Box: return "box " + call.caption + ": " + call.text;
  }
  return "?";
}

std::string read_all(std::FILE* file) {
  std::string text;
  std::rewind(file);
  char block[4096];
  std::size_t n = 0;
  while ((n = std::fread(block, 1, sizeof block, file)) > 0) text.append(block, n);
  return text;
}

Observed observe(const Scenario& scenario, bool replay) {
  RecordingDialog dialog;
  auto context = std::make_unique<ApplicationContext>(dialog, kWindow);
  std::FILE* err = std::tmpfile();
  EXPECT_NE(err, nullptr);
  if (err != nullptr) {
    context->reporter.set_stderr_stream(err);
  } else {
    context->reporter.set_stderr_enabled(false);
  }
  dialog.set_checked(kCheckStrictOverflow, scenario.strict);
  DialogCheckObserver observer(dialog);

  if (!scenario.earlier_path.empty()) {
    context->settings = {100000000, 90000000, 100000000, 25.0};
    context->shared.stream_path = scenario.earlier_path;
    CheckRun earlier(*context, observer);
    earlier.replay = replay;
    earlier.run();
    dialog.clear_calls();
  }

  for (BoxAnswer answer : scenario.answers) dialog.answer_next(answer);
  context->settings = scenario.settings;
  context->shared.stream_path = scenario.path;
  context->shared.abort_requested.store(0);

  Observed seen;
  uint64_t applied = 0;
  CheckRun run(*context, observer);
  run.replay = replay;
  run.replay_cache_bytes = scenario.cache_bytes;
  run.on_pass_start = [&](uint32_t pass) {
    seen.events.push_back("pass " + std::to_string(pass));
    if (pass == scenario.abort_at_pass) context->shared.abort_requested.store(1);
  };
  run.on_picture = [&](const PictureTrace& t) {
    char line[128];
    std::snprintf(line, sizeof line, "picture %llu: %u bits, %u before, %d %u",
                  static_cast<unsigned long long>(t.index), t.size_bits, t.fullness_before,
                  t.has_fullness_after ? 1 : 0, t.fullness_after);
    seen.events.push_back(line);
    if (++applied == scenario.abort_after_pictures) context->shared.abort_requested.store(1);
  };
  run.run();

  seen.result = run.result();
  seen.settings = context->settings;
  seen.fraction = context->shared.frame_rate;
  for (const DialogCall& call : dialog.calls()) seen.calls.push_back(spelled(call));
  if (err != nullptr) {
    seen.stderr_text = read_all(err);
    std::fclose(err);
  }
  seen.reporter_enabled = context->reporter.enabled();
  seen.suppressed = context->reporter.suppressed_count();
  seen.last_profile = context->parsing.paramsets().last_profile_idc();
  return seen;
}

// The replaying run's observation, after checking it against a re-reading one.
Observed replayed_and_reread_agree(const Scenario& scenario) {
  const Observed replayed = observe(scenario, true);
  const Observed reread = observe(scenario, false);
  const auto visible = [](const Observed& o) {
    return std::make_tuple(std::string(outcome_name(o.result.outcome)), o.result.message, o.result.passes,
                           o.result.pictures, o.settings.buffer_size, o.settings.initial_fill, o.settings.bit_rate,
                           o.settings.frame_rate, o.fraction.frame_rate_num, o.fraction.frame_rate_den,
                           o.reporter_enabled, o.suppressed, o.stderr_text, o.last_profile);
  };
  EXPECT_EQ(visible(replayed), visible(reread));
  EXPECT_EQ(replayed.calls, reread.calls);
  EXPECT_EQ(replayed.events, reread.events);
  // Reading again means reading for every pass; replaying never reads more.
  EXPECT_EQ(reread.result.reads, reread.result.passes);
  EXPECT_LE(replayed.result.reads, replayed.result.passes);
  EXPECT_GE(replayed.result.reads, replayed.result.passes > 0 ? 1u : 0u);
  return replayed;
}

// --- Built streams ------------------------------------------------------------

// An SEI with one picture timing payload: before the first slice of a
// reading no SPS is active, so it writes the standard-error warning.
const std::vector<uint8_t> kPicTimingSei = {0x01, 0x01, 0x00, 0x80};
// An undefined NAL unit type: a reporter question whose text names its length.
void add_undefined(StreamBuilder& stream, std::size_t payload_bytes) {
  stream.nal(0, 20, std::vector<uint8_t>(payload_bytes, 0x55));
}

// Pictures of the given slice data sizes, with reports and standard-error
// lines along the way: undefined NAL units before some pictures (some
// texts repeat, so No has something to suppress), an SEI that warns on
// standard error at the start of every reading, and an undefined NAL unit
// after the last picture, which only a reading that reaches the end sees.
StreamBuilder noisy_stream(const std::vector<uint32_t>& bodies) {
  StreamBuilder stream;
  stream.nal(0, 6, kPicTimingSei);
  stream.nal(3, 7, sps_rbsp({})).nal(3, 8, pps_rbsp(0, 0));
  add_undefined(stream, 3);
  for (std::size_t i = 0; i < bodies.size(); ++i) {
    if (i % 3 == 1) add_undefined(stream, 4 + i % 2);
    if (i % 5 == 2) stream.nal(0, 2, std::vector<uint8_t>{0x80});  // data partition A: not supported
    SliceOptions slice;
    slice.idr = i == 0;
    slice.frame_num = static_cast<uint32_t>(i);
    slice.body_bytes = bodies[i];
    stream.nal(3, slice.idr ? 5 : 1, slice_rbsp(slice));
  }
  add_undefined(stream, 9);
  return stream;
}

// Picture sizes that make searches take several steps: a large IDR picture,
// then a mix.
std::vector<uint32_t> search_bodies() {
  std::vector<uint32_t> bodies = {3000};
  for (uint32_t i = 1; i < 40; ++i) bodies.push_back(200 + (i * 37) % 900 + (i % 9 == 0 ? 2500 : 0));
  return bodies;
}

// --- Searches and checks over built streams -----------------------------------

// A bit-rate search over noisy_stream(search_bodies()) that takes several
// passes, the later ones reading further than the first.
const CheckSettings kNoisyRateSearch = {400000, 40000, 0, 250.0};

TEST(ReplayAgrees, ReportsAndWarningLinesAreShownAgainAtTheSamePoints) {
  TempStreamFile file(noisy_stream(search_bodies()));
  const std::vector<std::vector<BoxAnswer>> scripts = {
      {},
      {BoxAnswer::No, BoxAnswer::No, BoxAnswer::No},
      {BoxAnswer::Yes, BoxAnswer::No, BoxAnswer::Yes, BoxAnswer::Yes, BoxAnswer::No, BoxAnswer::Cancel},
      {BoxAnswer::Cancel},
  };
  const std::vector<CheckSettings> settings = {
      kNoisyRateSearch,
      {400000, 40000, 0, 0.0},      // bit-rate search, frame rate from the stream
      {0, 0, 700001, 25.0},         // buffer-size search
      {123457, 100003, 0, 29.97},   // bit-rate search from odd values
      {0, 777, 333333, 0.0},        // buffer-size search with an odd fill given (the search clears it)
      {60000, 54000, 1000000, 0.0}, // no search
  };
  // Every script under every setting, strict or not in turn.
  for (std::size_t k = 0; k < settings.size() * scripts.size(); ++k) {
    Scenario scenario;
    scenario.path = file.path();
    scenario.settings = settings[k % settings.size()];
    scenario.answers = scripts[k / settings.size()];
    scenario.strict = (k + k / settings.size()) % 2 == 1;
    SCOPED_TRACE(k);
    EXPECT_EQ(replayed_and_reread_agree(scenario).result.reads, 1u);
  }
}

TEST(ReplayAgrees, SearchesShowTheKeptReportsInEveryPass) {
  // The reports of the first pictures come again with every pass, as a
  // reading would make them; the tail's only in the pass that ends the run.
  TempStreamFile file(noisy_stream(search_bodies()));
  Scenario scenario;
  scenario.path = file.path();
  scenario.settings = kNoisyRateSearch;
  const Observed seen = replayed_and_reread_agree(scenario);
  EXPECT_EQ(outcome_name(seen.result.outcome), std::string("pass"));
  ASSERT_GT(seen.result.passes, 3u);
  EXPECT_EQ(seen.result.reads, 1u);
  std::size_t first_report = 0;
  std::size_t tail_report = 0;
  for (const std::string& call : seen.calls) {
    if (call.find("Found NALU type 20, len 4 undefined") != std::string::npos) ++first_report;
    if (call.find("Found NALU type 20, len 10 undefined") != std::string::npos) ++tail_report;
  }
  EXPECT_EQ(first_report, seen.result.passes);
  EXPECT_EQ(tail_report, 1u);
  std::size_t lines = 0;
  for (std::size_t at = 0; (at = seen.stderr_text.find("no active SPS", at)) != std::string::npos; ++at) ++lines;
  EXPECT_EQ(lines, seen.result.passes);
}

TEST(ReplayAgrees, AbortAtAnyPictureLeavesTheSameState) {
  TempStreamFile file(noisy_stream(search_bodies()));
  Scenario scenario;
  scenario.path = file.path();
  scenario.settings = kNoisyRateSearch;
  const Observed full = replayed_and_reread_agree(scenario);
  uint64_t applied = 0;
  for (const std::string& event : full.events) applied += event.rfind("picture", 0) == 0 ? 1 : 0;
  ASSERT_GT(applied, 50u);
  for (uint64_t at : {uint64_t{1}, uint64_t{2}, uint64_t{17}, applied / 2, applied - 1}) {
    SCOPED_TRACE(at);
    scenario.abort_after_pictures = at;
    EXPECT_EQ(outcome_name(replayed_and_reread_agree(scenario).result.outcome), std::string("aborted"));
  }
  scenario.abort_after_pictures = 0;
  for (uint32_t pass : {2u, 3u, full.result.passes}) {
    SCOPED_TRACE(pass);
    scenario.abort_at_pass = pass;
    EXPECT_EQ(replayed_and_reread_agree(scenario).result.passes, pass);
  }
}

TEST(ReplayAgrees, ARunEndingShortOfTheFurthestReadingLeavesTheStateOfReReading) {
  // A Main SPS replaces the Baseline one after picture 2. The first pass of
  // the search reads past it; a later pass that stops before it (by Abort)
  // must leave the Baseline SPS stored, as reading the stream again would.
  StreamBuilder stream;
  stream.nal(3, 7, sps_rbsp({})).nal(3, 8, pps_rbsp(0, 0));
  for (uint32_t i = 0; i < 30; ++i) {
    if (i == 3) {
      SpsOptions main_profile;
      main_profile.profile_idc = 77;
      stream.nal(3, 7, sps_rbsp(main_profile));
    }
    SliceOptions slice;
    slice.idr = i == 0;
    slice.frame_num = i;
    slice.body_bytes = 20;
    stream.nal(3, slice.idr ? 5 : 1, slice_rbsp(slice));
  }
  TempStreamFile file(stream);
  Scenario scenario;
  scenario.path = file.path();
  scenario.settings = {2000, 2000, 0, 25.0};
  const Observed full = replayed_and_reread_agree(scenario);
  ASSERT_GT(full.result.passes, 1u);
  bool baseline_seen = false;
  for (uint64_t at = 1; at < 40; ++at) {
    SCOPED_TRACE(at);
    scenario.abort_after_pictures = at;
    baseline_seen = baseline_seen || replayed_and_reread_agree(scenario).last_profile == 66;
  }
  EXPECT_TRUE(baseline_seen);
}

TEST(ReplayAgrees, FrameRateFractionChangingMidStreamIsRestoredPerPicture) {
  // A second SPS with another frame rate arrives halfway: each picture's
  // fraction is the one in force when a reading reached it. The first
  // fraction is below 1.0, so the model takes the fraction again at every
  // picture, and a wrong one would show in the fullness and in edit 1008.
  StreamBuilder stream;
  SpsOptions slow;
  slow.time_scale = 1;  // 0.5 pictures per second
  stream.nal(3, 7, sps_rbsp(slow)).nal(3, 8, pps_rbsp(0, 0));
  const std::vector<uint32_t> bodies = search_bodies();
  for (std::size_t i = 0; i < bodies.size(); ++i) {
    if (i == 20) {
      SpsOptions fast;
      fast.time_scale = 60;
      stream.nal(3, 7, sps_rbsp(fast));
    }
    SliceOptions slice;
    slice.idr = i == 0;
    slice.frame_num = static_cast<uint32_t>(i);
    slice.body_bytes = bodies[i];
    stream.nal(3, slice.idr ? 5 : 1, slice_rbsp(slice));
  }
  TempStreamFile file(stream);
  for (const CheckSettings& s : {CheckSettings{400000, 40000, 0, 0.0}, CheckSettings{400000, 40000, 0, 0.5},
                                 CheckSettings{0, 0, 1000, 0.0}, CheckSettings{0, 0, 1000, 0.7}}) {
    for (uint32_t abort_pass : {0u, 2u, 4u}) {
      SCOPED_TRACE(testing::Message() << s.buffer_size << "/" << s.bit_rate << "/" << s.frame_rate << " abort "
                                      << abort_pass);
      Scenario scenario;
      scenario.path = file.path();
      scenario.settings = s;
      scenario.abort_at_pass = abort_pass;
      EXPECT_EQ(replayed_and_reread_agree(scenario).result.reads, 1u);
    }
  }
}

TEST(ReplayAgrees, CacheOverItsLimitReadsTheStreamAgain) {
  TempStreamFile file(noisy_stream(search_bodies()));
  Scenario scenario;
  scenario.path = file.path();
  scenario.settings = kNoisyRateSearch;
  scenario.answers = {BoxAnswer::No, BoxAnswer::Yes, BoxAnswer::No};
  const Observed unlimited = replayed_and_reread_agree(scenario);
  ASSERT_EQ(unlimited.result.reads, 1u);
  // From too small for anything to large enough for the first passes but
  // not for all of them, so that the limit is passed while a later pass
  // reads on: from then on every pass reads the stream again.
  bool passed_in_a_later_pass = false;
  for (uint64_t limit : {0, 8, 200, 400, 800}) {
    SCOPED_TRACE(limit);
    scenario.cache_bytes = limit;
    const Observed limited = replayed_and_reread_agree(scenario);
    EXPECT_GT(limited.result.reads, 1u);
    EXPECT_EQ(limited.events, unlimited.events);
    passed_in_a_later_pass |= limited.result.reads < limited.result.passes;
  }
  EXPECT_TRUE(passed_in_a_later_pass);
}

// --- Streams whose reading depends on what earlier readings left ----------------

// Slices that name PPS 1 before PPS 1 arrives halfway: the first reading
// activates an empty slot (with a question for every slice), a reading
// after one that got halfway the PPS stored there, which names an SPS with
// a longer frame_num, so even the picture boundaries change. `early_pps1`
// puts a PPS 1 naming SPS 0 in front of everything instead, and none halfway.
StreamBuilder late_pps_stream(bool early_pps1 = false) {
  StreamBuilder stream;
  SpsOptions long_frame_num;
  long_frame_num.seq_parameter_set_id = 1;
  long_frame_num.log2_max_frame_num_minus4 = 4;
  stream.nal(3, 7, sps_rbsp({})).nal(3, 7, sps_rbsp(long_frame_num)).nal(3, 8, pps_rbsp(0, 0));
  if (early_pps1) stream.nal(3, 8, pps_rbsp(1, 0));
  const std::vector<uint32_t> bodies = search_bodies();
  for (std::size_t i = 0; i < bodies.size(); ++i) {
    if (i == 20 && !early_pps1) stream.nal(3, 8, pps_rbsp(1, 1));
    SliceOptions slice;
    slice.idr = i == 0;
    slice.pic_parameter_set_id = i < 20 ? 1 : 0;
    slice.frame_num = static_cast<uint32_t>(i / 2);
    slice.body_bytes = bodies[i];
    // Read as part of the longer frame_num: the two slices of a pair differ.
    slice.body_byte = i % 2 == 0 ? 0xA5 : 0x5A;
    stream.nal(3, slice.idr ? 5 : 1, slice_rbsp(slice));
  }
  return stream;
}

// PPS 0 replaced between two slices of one picture: the new PPS adds
// delta_pic_order_cnt[1] to the slice header. The slice after the
// replacement compares that value with the one the slice before it carried
// over from earlier readings: 0 in a fresh context, the 7 of the last slice
// read after a reading that got past it. So whether it begins a new picture
// depends on what the reading before left.
StreamBuilder replaced_pps_stream() {
  StreamBuilder stream;
  SpsOptions poc1;
  poc1.pic_order_cnt_type = 1;
  stream.nal(3, 7, sps_rbsp(poc1)).nal(3, 8, pps_rbsp(0, 0, 0));
  const std::vector<uint32_t> bodies = search_bodies();
  for (std::size_t i = 0; i < bodies.size(); ++i) {
    const bool replaced = i >= 12;
    if (i == 12) stream.nal(3, 8, pps_rbsp(0, 0, 1));
    SliceOptions slice;
    slice.idr = i == 0;
    slice.frame_num = static_cast<uint32_t>(replaced ? i - 1 : i);  // slice 12 goes on with picture 11
    slice.pic_order_cnt_type = 1;
    slice.pic_order_present = replaced;
    slice.delta_pic_order_cnt_1 = 7;
    slice.body_bytes = bodies[i];
    stream.nal(3, slice.idr ? 5 : 1, slice_rbsp(slice));
  }
  return stream;
}

TEST(ReplayFallsBack, SliceNamingAPpsThatArrivesLaterReadsAgainAndAgrees) {
  TempStreamFile file(late_pps_stream());
  for (const CheckSettings& s : {CheckSettings{400000, 40000, 0, 0.0}, CheckSettings{0, 0, 700001, 25.0}}) {
    for (const std::vector<BoxAnswer>& answers :
         {std::vector<BoxAnswer>{}, std::vector<BoxAnswer>{BoxAnswer::No}, std::vector<BoxAnswer>{BoxAnswer::Cancel}}) {
      SCOPED_TRACE(testing::Message() << s.buffer_size << "/" << s.bit_rate << " answers " << answers.size());
      Scenario scenario;
      scenario.path = file.path();
      scenario.settings = s;
      scenario.answers = answers;
      const Observed seen = replayed_and_reread_agree(scenario);
      ASSERT_GT(seen.result.passes, 2u);
      EXPECT_EQ(seen.result.reads, seen.result.passes);
    }
  }
}

TEST(ReplayFallsBack, PpsReplacedWithinAPictureReadsAgainAndAgrees) {
  TempStreamFile file(replaced_pps_stream());
  // The bit-rate searches read past the replacement before their last pass;
  // the buffer-size search gets there only in its last pass, when nothing
  // is gone over again.
  struct Case {
    CheckSettings settings;
    bool reads_again;
  };
  for (const Case& c : {Case{{400000, 40000, 0, 0.0}, true}, Case{{400000, 40000, 0, 250.0}, true},
                        Case{{0, 0, 700001, 25.0}, false}}) {
    SCOPED_TRACE(testing::Message() << c.settings.buffer_size << "/" << c.settings.bit_rate);
    Scenario scenario;
    scenario.path = file.path();
    scenario.settings = c.settings;
    const Observed seen = replayed_and_reread_agree(scenario);
    ASSERT_GT(seen.result.passes, 2u);
    if (c.reads_again) {
      EXPECT_GT(seen.result.reads, 1u);
    } else {
      EXPECT_EQ(seen.result.reads, 1u);
    }
  }
}

TEST(ReplayFallsBack, SlotsLeftByAnEarlierRunReadAgainAndAgree) {
  // The first stream leaves a PPS 1 that names SPS 0; the second uses that
  // slot before storing its own PPS 1 halfway.
  TempStreamFile holder(late_pps_stream(true));
  TempStreamFile borrower(late_pps_stream());
  Scenario scenario;
  scenario.path = borrower.path();
  scenario.earlier_path = holder.path();
  scenario.settings = {400000, 40000, 0, 0.0};
  const Observed seen = replayed_and_reread_agree(scenario);
  ASSERT_GT(seen.result.passes, 2u);
  EXPECT_GT(seen.result.reads, 1u);
}

// --- The tracking itself ----------------------------------------------------------

struct Reading {
  Reading() { reporter.set_stderr_enabled(false); }

  RecordingDialog dialog;
  ErrorReporter reporter{dialog};
  FrameRateFraction rate;
  ParsingState parsing{reporter, rate, 65536};

  // One reading of the whole stream, as a pass makes it; the picture sizes.
  std::vector<uint32_t> read(const std::string& path) {
    std::vector<uint32_t> sizes;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    EXPECT_NE(file, nullptr);
    if (file == nullptr) return sizes;
    parsing.begin_pass();
    parsing.begin_stream(file);
    uint32_t bytes = 0;
    while (parsing.take_picture(bytes)) sizes.push_back(bytes);
    std::fclose(file);
    return sizes;
  }
};

TEST(LeftOverState, OrdinaryStreamsReadTheSameAnyNumberOfTimes) {
  // Parameter sets in front of the slices that use them; pic_order_cnt_type
  // 1 without delta_pic_order_cnt[1], whose carried value is compared with
  // itself only.
  StreamBuilder poc1;
  SpsOptions sps;
  sps.pic_order_cnt_type = 1;
  poc1.nal(3, 7, sps_rbsp(sps)).nal(3, 8, pps_rbsp(0, 0, 0));
  for (uint32_t i = 0; i < 6; ++i) {
    SliceOptions slice;
    slice.idr = i == 0;
    slice.frame_num = i / 2;  // two slices a picture
    slice.pic_order_cnt_type = 1;
    poc1.nal(3, slice.idr ? 5 : 1, slice_rbsp(slice));
  }
  TempStreamFile poc1_file(poc1);
  TempStreamFile noisy_file(noisy_stream(search_bodies()));
  Reading reading;
  for (const std::string& path : {poc1_file.path(), noisy_file.path(), stream_path("MPS_MW_A.264"),
                                  stream_path("CVFC1_Sony_C.jsv"), poc1_file.path()}) {
    SCOPED_TRACE(path);
    const std::vector<uint32_t> first = reading.read(path);
    EXPECT_FALSE(reading.parsing.used_left_over_state());
    EXPECT_EQ(reading.read(path), first);
    EXPECT_FALSE(reading.parsing.used_left_over_state());
  }
}

TEST(LeftOverState, EachKindOfLeftOverUseIsSeenAndReadingsDiffer) {
  TempStreamFile late(late_pps_stream());
  TempStreamFile replaced(replaced_pps_stream());
  for (const std::string& path : {late.path(), replaced.path()}) {
    SCOPED_TRACE(path);
    Reading reading;
    const std::vector<uint32_t> first = reading.read(path);
    EXPECT_TRUE(reading.parsing.used_left_over_state());
    // What the flag is for: the next reading gives other pictures.
    EXPECT_NE(reading.read(path), first);
    EXPECT_TRUE(reading.parsing.used_left_over_state());
  }
}

// --- Real streams ---------------------------------------------------------------

struct StreamFacts {
  uint64_t pictures = 0;  // applied in a passing check
  uint32_t largest_bits = 0;
  uint64_t total_bits = 0;
};

StreamFacts facts_of(const std::string& path) {
  RecordingDialog dialog;
  ApplicationContext context(dialog, kWindow);
  context.reporter.disable();
  context.reporter.set_stderr_enabled(false);
  context.settings = {4000000000u, 4000000000u, 4000000000u, 25.0};
  context.shared.stream_path = path;
  StreamFacts facts;
  DialogCheckObserver observer(dialog);
  CheckRun run(context, observer);
  run.on_picture = [&](const PictureTrace& t) {
    ++facts.pictures;
    facts.largest_bits = std::max(facts.largest_bits, t.size_bits);
    facts.total_bits += t.size_bits;
  };
  run.run();
  return facts;
}

TEST(ReplayAgrees, EveryRealStreamUnderEverySetting) {
  const char* const names[] = {"BA1_FT_C.264",
                               "BANM_MW_D.264",
                               "BA_MW_D.264",
                               "CVFC1_Sony_C.jsv",
                               "Cisco_Men_whisper_640x320_CABAC_Bframe_9.264",
                               "MIDR_MW_D.264",
                               "MPS_MW_A.264",
                               "MR1_BT_A.h264",
                               "NRF_MW_E.264",
                               "SVA_BA2_D.264",
                               "SVA_FM1_E.264",
                               "SarVui.264",
                               "sps_subsetsps_bothVUI.264",
                               "test_qcif_cabac.264",
                               "test_scalinglist_jm.264",
                               "x264_cbr_1000k_25fps.264"};
  for (const char* name : names) {
    SCOPED_TRACE(name);
    const std::string path = stream_path(name);
    const StreamFacts facts = facts_of(path);
    const uint32_t largest = std::max<uint32_t>(facts.largest_bits, 8);
    const uint64_t average = facts.pictures > 0 ? facts.total_bits / facts.pictures : 0;
    const uint32_t buffer = largest * 2 + 1001;
    const uint32_t rate = static_cast<uint32_t>(average * 25 + average * 25 / 3 + 1);

    std::vector<Scenario> scenarios;
    auto add = [&](CheckSettings s, bool strict) {
      Scenario scenario;
      scenario.path = path;
      scenario.settings = s;
      scenario.strict = strict;
      scenarios.push_back(scenario);
    };
    add({buffer, buffer / 10 * 9, 0, 0.0}, false);            // bit-rate search from 0
    add({buffer + 2, buffer / 6 * 5 + 1, 0, 29.97}, true);    // from odd values, strict
    add({0, 0, rate, 0.0}, false);                            // buffer-size search from 0
    add({0, 12345, rate + 999, 25.0}, true);                  // odd values, strict
    add({largest - largest / 4, largest / 2, 0, 0.0}, false);  // a bit-rate search that meets a picture too large
    add({buffer, buffer / 2, rate / 2 + 1, 0.0}, false);      // no search
    {
      Scenario aborted = scenarios[2];
      aborted.abort_after_pictures = facts.pictures + facts.pictures / 2 + 1;
      scenarios.push_back(aborted);
      aborted.abort_after_pictures = 0;
      aborted.abort_at_pass = 2;
      scenarios.push_back(aborted);
    }
    for (std::size_t i = 0; i < scenarios.size(); ++i) {
      SCOPED_TRACE(i);
      const Observed seen = replayed_and_reread_agree(scenarios[i]);
      EXPECT_EQ(seen.result.reads, seen.result.passes > 0 ? 1u : 0u);
    }
  }
}

}  // namespace
}  // namespace tarnwell
