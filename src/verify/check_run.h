#pragma once
// One verification of a whole stream file against the buffer model: passes
// over the stream, one after another, until the model stops the run, the
// stream ends (the passing verdict) or the user aborts. Runs as the body of
// the verification worker thread.
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "context/application_context.h"
#include "stream/byte_source.h"
#include "verify/buffer_model.h"
#include "verify/check_observer.h"
#include "verify/check_stream.h"
#include "verify/picture_cache.h"

namespace tarnwell {

// One applied picture, for a trace of the last pass.
struct PictureTrace {
  uint64_t index = 0;          // from 0 within the pass
  uint32_t size_bits = 0;
  uint32_t fullness_before = 0;
  bool has_fullness_after = false;  // false for the picture that ended the pass
  uint32_t fullness_after = 0;
};

// The row of the picture the model has just applied (`step` is what
// apply_picture returned).
inline PictureTrace trace_of_picture(const BufferModel& model, uint64_t index, uint32_t bits, ModelStep step) {
  PictureTrace trace;
  trace.index = index;
  trace.size_bits = bits;
  trace.fullness_before = model.fullness_before();
  trace.has_fullness_after = step == ModelStep::Continue;
  trace.fullness_after = trace.has_fullness_after ? model.fullness() : 0;
  return trace;
}

// The text of a run that must read the stream from its first byte again
// and cannot: a stream that cannot be sought and whose temporary copy could
// not be made or written.
inline constexpr char kCannotReadAgainMessage[] = "Cannot read the input file again";

struct CheckRunResult {
  Outcome outcome = Outcome::Pass;
  std::string message;        // the box text of the outcome; empty on a pass and on abort
  uint32_t passes = 0;        // calls of begin_model_pass
  uint32_t reads = 0;         // times the stream was read from its first byte
  uint64_t pictures = 0;      // calls of apply_picture in the last pass
  // Whether the frame rate was taken from the stream, and the stream's
  // fraction in force when it last was.
  bool rate_taken = false;
  FrameRateFraction taken_fraction;
};

class ReplayPlan;

class CheckRun {
 public:
  // The observer is told everything the run and its model show the user.
  CheckRun(ApplicationContext& context, CheckObserver& observer) : context_(context), observer_(observer) {}

  // Called at the start of every pass (1 for the first) and for every
  // applied picture; both optional.
  std::function<void(uint32_t pass)> on_pass_start;
  std::function<void(const PictureTrace&)> on_picture;
  // For a stream whose size is unknown (a pipe): the bytes of the pictures
  // applied so far in the pass, after each. Optional.
  std::function<void(uint64_t bytes)> on_bytes_read;

  // An open stream to read instead of opening the stream path (standard
  // input); the run neither closes it nor needs to seek it.
  std::FILE* input = nullptr;
  // Bytes to read instead of a file (the elementary stream of a transport
  // stream); every later reading restarts it. Neither opened nor closed
  // here, and its size is unknown.
  RewindableSource* source = nullptr;
  // The first bytes of `input` when they were taken from it already (to see
  // what the input is) and it cannot be sought back: read before the rest.
  std::vector<uint8_t> input_head;

  // The front end's Ctrl-C also cuts the input short (the console puts an
  // empty input in its place, so that a wait for a stalled pipe ends): an
  // end of the stream met with the abort flag set is then an abort, never a
  // pass over what was read. The dialog's Abort leaves the input alone.
  bool abort_cuts_input = false;

  // Take the SPS's own timing for the frame rate whenever it has timing
  // information (BufferModel::set_stream_timing). The dialog never does.
  bool stream_timing = false;

  // A pass after a search step goes over the pictures already read, kept in
  // memory, instead of reading the stream again, as long as that gives
  // exactly what reading it again would (see replay_plan.h). False: every
  // pass reads the stream from its first byte.
  bool replay = true;
  // Above this many bytes of kept pictures the run reads the stream again
  // for every later pass.
  uint64_t replay_cache_bytes = kDefaultPictureCacheBytes;

  // The whole run, from opening the stream to telling the observer it is
  // idle again: passes over the stream until the model stops the run, the
  // stream ends or the user aborts. A stream that ends before any picture
  // was applied ends as NoPictures, with its box: nothing was checked, so
  // nothing passed.
  void run();
  const CheckRunResult& result() const { return result_; }

  // Ends the run before its next picture, as the user's Abort does; for a
  // caller that needs no more of the stream (called from on_picture).
  void request_stop() { stop_requested_ = true; }

 private:
  enum class PassEnd { Restart, Ended, Aborted };

  // The result and the box of an outcome the model did not reach.
  void end_with(Outcome outcome, const std::string& message);
  // One pass of the model over the pictures, from the cache or the stream.
  PassEnd run_pass(CheckStream& stream, BufferModel& model, ReplayPlan& plan);
  PassEnd abort_pass();
  void finish(const BufferModel& model, bool aborted);
  // After a run that ended in a pass over kept pictures, the parsing state
  // as reading the stream for every pass would have left it.
  void restore_parsing_state(CheckStream& stream, ReplayPlan& plan);

  ApplicationContext& context_;
  CheckObserver& observer_;
  CheckRunResult result_;
  bool stop_requested_ = false;
};

}  // namespace tarnwell
