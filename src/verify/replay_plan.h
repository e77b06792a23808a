#pragma once
// Which passes of a check go over the pictures already read instead of
// reading the stream again, and which readings put the parsing state back
// where reading the stream for every pass would have left it.
//
// A pass after a search step needs the same pictures as the pass before it:
// their sizes, the frame-rate fraction in force at each, and the reports the
// reading made along the way. The first pass reads the stream and keeps all
// of that (PictureCache); a later pass takes the pictures from the cache,
// shows the kept reports again through the reporter at the same points (so
// suppression by No and Cancel works as before), restores the fraction
// before each picture, and reads the stream on, from where the reading
// stopped, only when it needs more pictures than were read. The parsing
// state stays where the reading stopped, counters included: a pass that goes
// over kept pictures neither rewinds nor resets anything.
//
// The rule that makes this exact: a reading of the stream (everything from
// reset_parsing_state on) depends on the file and on the state earlier
// readings left behind: the parameter-set tables, the active PPS and the
// slice-header values carried from slice to slice. Reading the stream again
// gives the same pictures and reports as long as the reading never used such
// left-over state. The parsing state tracks that
// (ParsingState::used_left_over_state): an activation of a table slot the
// reading had not stored, a boundary test whose answer turned on a carried
// slice-header value that no slice of the reading had assigned. The
// frame-rate fraction needs no tracking of its own: a picture is complete
// only after an activation, and activating a slot stored in this reading
// means an SPS of this reading published its fraction. When the reading did
// use left-over state, or the cache passed its limit, every later pass reads
// the stream again from its first byte, as a run without the cache does.
//
// What a run leaves behind in the parsing state must not differ either: a
// run that ends in a pass over kept pictures reads the stream again, up to
// where the passes that matter stopped (restoring_readings).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/check_settings.h"
#include "base/error_reporter.h"
#include "verify/picture_cache.h"

namespace tarnwell {

// Where a pass's reading stopped: pictures taken from its first byte (kept
// or read), or the end of the stream.
struct PassStop {
  uint64_t pictures = 0;
  bool at_end = false;
};

class ReplayPlan {
 public:
  // replay false: every pass reads the stream from its first byte. The
  // cache records the reporter's reports for as long as the plan lives.
  ReplayPlan(bool replay, uint64_t cache_bytes, ErrorReporter& reporter);
  ReplayPlan(const ReplayPlan&) = delete;
  ReplayPlan& operator=(const ReplayPlan&) = delete;
  ~ReplayPlan();

  // Whether the next pass reads the stream from its first byte.
  bool reads_next_pass() const { return read_again_; }

  // --- One pass ---------------------------------------------------------------
  void begin_pass();
  // Picture `index` of the pass, from the cache when it holds it: its bytes,
  // the fraction in force restored, its reports shown again. False when the
  // pass must read the picture from the stream.
  bool serve(uint64_t index, uint32_t& bytes, FrameRateFraction& fraction);
  // A picture read from the stream, with the fraction in force.
  void keep(uint32_t bytes, const FrameRateFraction& fraction);
  // The reading found the end of the stream.
  void reached_end() { stop_.at_end = true; }
  // The pass is over; `used_left_over_state`: the reading so far used state
  // that earlier readings left. An aborted pass decides nothing more.
  void end_pass(bool used_left_over_state, bool aborted);

  // --- After the last pass ----------------------------------------------------
  // The readings, in order, that leave the parsing state as reading the
  // stream for every pass would have: each from the first byte to the
  // stop given. None unless the last pass went over kept pictures. The
  // cache records no more reports from here on.
  std::vector<PassStop> restoring_readings();

 private:
  ErrorReporter& reporter_;
  ReportRecorder* previous_recorder_;
  PictureCache cache_;
  bool read_again_ = true;
  bool from_cache_ = false;  // the pass goes over kept pictures
  std::size_t event_cursor_ = 0;
  PassStop stop_;
  std::vector<PassStop> stops_;
};

}  // namespace tarnwell
