#include "verify/replay_plan.h"

namespace tarnwell {

ReplayPlan::ReplayPlan(bool replay, uint64_t cache_bytes, ErrorReporter& reporter)
    : reporter_(reporter), previous_recorder_(reporter.recorder()), cache_(cache_bytes) {
  if (!replay) {
    cache_.give_up();
    return;
  }
  reporter_.set_recorder(&cache_);
}

ReplayPlan::~ReplayPlan() { reporter_.set_recorder(previous_recorder_); }

void ReplayPlan::begin_pass() {
  from_cache_ = !read_again_;
  event_cursor_ = 0;
  stop_ = PassStop();
}

bool ReplayPlan::serve(uint64_t index, uint32_t& bytes, FrameRateFraction& fraction) {
  if (!from_cache_ || index >= cache_.pictures()) return false;
  cache_.replay_events(index, event_cursor_, reporter_);
  fraction = cache_.fraction(index);
  bytes = cache_.picture_bytes(index);
  ++stop_.pictures;
  return true;
}

void ReplayPlan::keep(uint32_t bytes, const FrameRateFraction& fraction) {
  cache_.add_picture(bytes, fraction);
  ++stop_.pictures;
}

void ReplayPlan::end_pass(bool used_left_over_state, bool aborted) {
  stops_.push_back(stop_);
  if (aborted) return;
  if (!cache_.usable() || used_left_over_state) {
    cache_.give_up();
    read_again_ = true;
  } else {
    read_again_ = false;
  }
}

// A run that ended in a pass over kept pictures left the parsing state
// where the furthest reading stopped. Reading the stream again for every
// pass would have left it as the later passes' readings did: each reading
// starts from the state the one before left and overwrites what it reads,
// so only the passes that stopped short of every later pass matter. They
// are read again, from the furthest back to the last.
std::vector<PassStop> ReplayPlan::restoring_readings() {
  reporter_.set_recorder(previous_recorder_);
  std::vector<PassStop> chain;
  if (!from_cache_ || !cache_.usable()) return chain;
  // From the last pass backwards, each pass that read further than every
  // pass after it.
  for (auto it = stops_.rbegin(); it != stops_.rend(); ++it) {
    const bool further =
        chain.empty() || (!chain.back().at_end && (it->at_end || it->pictures > chain.back().pictures));
    if (further) chain.push_back(*it);
  }
  // The furthest stop of all is where the reading already is.
  if (!chain.empty()) chain.pop_back();
  return std::vector<PassStop>(chain.rbegin(), chain.rend());
}

}  // namespace tarnwell
