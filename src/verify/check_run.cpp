#include "verify/check_run.h"

#include <cstdio>
#include <limits>
#include <vector>

#include "verify/check_stream.h"
#include "verify/replay_plan.h"

namespace tarnwell {

namespace {

// A picture's size in bits. Pictures of 512 MiB and more do not fit 32 bits;
// they saturate, so the model sees a picture no buffer holds rather than a
// small wrapped one.
uint32_t picture_bits(uint32_t bytes) {
  uint64_t bits = uint64_t{bytes} * 8;
  return bits > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max()
                                                     : static_cast<uint32_t>(bits);
}

// A reading of the stream from its first byte, with the parsing state reset
// (the parameter-set tables stay); false when the stream cannot be read
// again.
bool begin_reading(CheckStream& stream, ParsingState& parsing, bool first) {
  if (!first && !stream.rewind()) return false;
  parsing.begin_pass();
  stream.begin_stream(parsing);
  return true;
}

}  // namespace

void CheckRun::run() {
  result_ = CheckRunResult();
  stop_requested_ = false;
  ApplicationContext::ParsingLease lease = context_.try_take_parsing();
  if (!lease) return end_with(Outcome::Refused, kBusyMessage);

  const CheckSettings& settings = context_.settings;
  CheckStream stream;
  if (!stream.open(context_.shared.stream_path, input, source, input_head,
                   settings.buffer_size == 0 || settings.bit_rate == 0,
                   [this](const char* text) { context_.reporter.notify_error("%s", text); })) {
    return end_with(stream.outcome(), stream.refusal());
  }
  observer_.on_busy(true);

  BufferModel model(context_.settings, context_.shared.frame_rate, observer_);
  model.set_stream_timing(stream_timing);
  ReplayPlan plan(replay, replay_cache_bytes, context_.reporter);
  PassEnd end = PassEnd::Ended;
  for (bool restart = true; restart; restart = end == PassEnd::Restart) {
    if (plan.reads_next_pass()) {
      if (!begin_reading(stream, context_.parsing, result_.reads == 0)) {
        end_with(Outcome::CannotOpen, kCannotReadAgainMessage);
        observer_.on_busy(false);
        return;
      }
      ++result_.reads;
    }
    ++result_.passes;
    result_.pictures = 0;
    if (on_pass_start) on_pass_start(result_.passes);
    if (!model.begin_model_pass()) break;
    plan.begin_pass();
    end = run_pass(stream, model, plan);
    plan.end_pass(context_.parsing.used_left_over_state(), end == PassEnd::Aborted);
  }
  finish(model, end == PassEnd::Aborted);
  restore_parsing_state(stream, plan);
  // The end of the stream without a message passes only a stream that had
  // a picture to check.
  if (result_.outcome == Outcome::NoPictures) observer_.on_stop(result_.message);
  observer_.on_busy(false);
}

void CheckRun::end_with(Outcome outcome, const std::string& message) {
  result_.outcome = outcome;
  result_.message = message;
  observer_.on_stop(result_.message);
}

CheckRun::PassEnd CheckRun::run_pass(CheckStream& stream, BufferModel& model, ReplayPlan& plan) {
  std::atomic<uint32_t>& abort_requested = context_.shared.abort_requested;
  uint64_t consumed = 0;
  for (uint64_t index = 0;; ++index) {
    if (stop_requested_ || abort_requested.load() != 0) return abort_pass();
    uint32_t bytes = 0;
    // Unless the cache serves the picture, the reading goes on where it
    // stopped (or starts, in a pass that reads the stream again). The
    // fraction in force is the one it left: the last picture gone over
    // restored it. A reading that finds the end ends the run, so no pass
    // ever goes over the end again.
    if (!plan.serve(index, bytes, context_.shared.frame_rate)) {
      if (!context_.parsing.take_picture(bytes)) {
        if (abort_cuts_input && abort_requested.load() != 0) return abort_pass();
        plan.reached_end();
        return PassEnd::Ended;
      }
      plan.keep(bytes, context_.shared.frame_rate);
    }

    const uint32_t bits = picture_bits(bytes);
    consumed += bytes;
    observer_.on_stream_progress(percent_of(consumed, stream.size()));
    if (on_bytes_read && stream.size() == kUnknownStreamSize) on_bytes_read(consumed);

    const ModelStep step = model.apply_picture(bits);
    if (on_picture) on_picture(trace_of_picture(model, result_.pictures, bits, step));
    ++result_.pictures;
    if (step == ModelStep::Restart) return PassEnd::Restart;
    if (step == ModelStep::Stopped) return PassEnd::Ended;
  }
}

CheckRun::PassEnd CheckRun::abort_pass() {
  observer_.on_stream_progress(0);
  observer_.on_fullness(0);
  return PassEnd::Aborted;
}

void CheckRun::finish(const BufferModel& model, bool aborted) {
  result_.rate_taken = model.taken_rate();
  result_.taken_fraction = model.taken_fraction();
  if (aborted) {
    result_.outcome = Outcome::Aborted;
    return;
  }
  result_.outcome = model.outcome();
  result_.message = model.message();
  if (result_.outcome == Outcome::Pass && result_.pictures == 0) {
    result_.outcome = Outcome::NoPictures;
    result_.message = kNoPicturesMessage;
  }
}

void CheckRun::restore_parsing_state(CheckStream& stream, ReplayPlan& plan) {
  const std::vector<PassStop> readings = plan.restoring_readings();
  if (readings.empty()) return;
  context_.reporter.set_muted(true);
  for (const PassStop& stop : readings) {
    if (!begin_reading(stream, context_.parsing, false)) break;
    uint32_t bytes = 0;
    for (uint64_t taken = 0; stop.at_end || taken < stop.pictures; ++taken) {
      if (!context_.parsing.take_picture(bytes)) break;
    }
  }
  context_.reporter.set_muted(false);
}

}  // namespace tarnwell
