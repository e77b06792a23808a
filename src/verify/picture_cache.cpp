#include "verify/picture_cache.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <limits>

namespace tarnwell {

bool PictureCache::reserve(uint64_t bytes) {
  if (given_up_) return false;
  if (bytes > limit_bytes_ || bytes_used_ > limit_bytes_ - bytes) {
    give_up();
    return false;
  }
  bytes_used_ += bytes;
  return true;
}

void PictureCache::give_up() {
  given_up_ = true;
  bytes_used_ = 0;
  // Swapped with empty ones, so that the memory goes too.
  decltype(sizes_)().swap(sizes_);
  decltype(fractions_)().swap(fractions_);
  decltype(events_)().swap(events_);
  decltype(text_)().swap(text_);
}

void PictureCache::note_fraction(uint64_t index, const FrameRateFraction& fraction) {
  // Kept only where it changes: most streams publish one fraction.
  if (!fractions_.empty() && fractions_.back().fraction == fraction) return;
  if (!reserve(sizeof(FractionChange))) return;
  fractions_.push_back(FractionChange{index, fraction});
}

void PictureCache::add_picture(uint32_t bytes, const FrameRateFraction& fraction) {
  if (given_up_) return;
  note_fraction(sizes_.size(), fraction);
  if (!reserve(sizeof(uint32_t))) return;
  sizes_.push_back(bytes);
}

void PictureCache::add_event(EventKind kind, const char* text) {
  if (given_up_) return;
  const std::size_t length = std::strlen(text);
  // Offsets are 32 bits wide; a limit that large is never set.
  if (text_.size() + length + 1 > std::numeric_limits<uint32_t>::max()) {
    give_up();
    return;
  }
  if (!reserve(sizeof(Event) + length + 1)) return;
  events_.push_back(Event{sizes_.size(), static_cast<uint32_t>(text_.size()), kind});
  text_.append(text, length);
  text_.push_back('\0');
}

FrameRateFraction PictureCache::fraction(uint64_t index) const {
  auto after = std::upper_bound(fractions_.begin(), fractions_.end(), index,
                                [](uint64_t i, const FractionChange& change) { return i < change.picture; });
  if (after == fractions_.begin()) return FrameRateFraction{};
  return std::prev(after)->fraction;
}

void PictureCache::replay_events(uint64_t index, std::size_t& cursor, ErrorReporter& reporter) const {
  while (cursor < events_.size() && events_[cursor].picture < index) ++cursor;
  for (; cursor < events_.size() && events_[cursor].picture == index; ++cursor) {
    const Event& event = events_[cursor];
    const char* text = text_.c_str() + event.begin;
    if (event.kind == EventKind::Report) {
      reporter.replay_report(text);
    } else {
      reporter.replay_stderr_line(text);
    }
  }
}

}  // namespace tarnwell
