#pragma once
// What a verification run keeps of each picture it has read, so that a pass
// after a search step can go over the pictures again without reading the
// file: the picture's size in bytes, the stream's frame-rate fraction in
// force when it was applied, and the reports and standard-error lines that
// reading it produced, in order. A few bytes per picture; reports are rare
// and kept apart, with the index of the picture whose reading made them
// (verify/replay_plan.h records and replays through it). Above its limit the
// cache drops everything and records no more.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/check_settings.h"
#include "base/error_reporter.h"

namespace tarnwell {

inline constexpr uint64_t kDefaultPictureCacheBytes = uint64_t{64} << 20;

class PictureCache : public ReportRecorder {
 public:
  explicit PictureCache(uint64_t limit_bytes) : limit_bytes_(limit_bytes) {}
  PictureCache(const PictureCache&) = delete;
  PictureCache& operator=(const PictureCache&) = delete;

  // --- Recording ------------------------------------------------------------
  // The next picture, `bytes` long, applied with `fraction` in force.
  void add_picture(uint32_t bytes, const FrameRateFraction& fraction);
  // Drops everything; nothing is recorded any more.
  void give_up();

  void on_report(const char* text) override { add_event(EventKind::Report, text); }
  void on_stderr_line(const char* line) override { add_event(EventKind::StderrLine, line); }

  // --- Going over the pictures again ----------------------------------------
  // Not given up: the pictures recorded so far can be gone over again.
  bool usable() const { return !given_up_; }
  uint64_t pictures() const { return sizes_.size(); }
  uint32_t picture_bytes(uint64_t index) const { return sizes_[static_cast<std::size_t>(index)]; }
  // The fraction in force for picture `index`.
  FrameRateFraction fraction(uint64_t index) const;
  // Hands the reports and lines recorded for picture `index` to the
  // reporter, in their order. `cursor` walks the events of
  // one pass: 0 at its start, indexes asked in increasing order.
  void replay_events(uint64_t index, std::size_t& cursor, ErrorReporter& reporter) const;

 private:
  enum class EventKind : uint8_t { Report, StderrLine };
  struct Event {
    uint64_t picture;  // index of the picture whose reading made it
    uint32_t begin;    // offset of its text in text_
    EventKind kind;
  };
  struct FractionChange {
    uint64_t picture;  // first picture with this fraction
    FrameRateFraction fraction;
  };

  void add_event(EventKind kind, const char* text);
  void note_fraction(uint64_t index, const FrameRateFraction& fraction);
  // False (and everything given up) when `bytes` more would pass the limit.
  bool reserve(uint64_t bytes);

  uint64_t limit_bytes_;
  uint64_t bytes_used_ = 0;
  bool given_up_ = false;
  std::vector<uint32_t> sizes_;
  std::vector<FractionChange> fractions_;
  std::vector<Event> events_;
  std::string text_;  // the events' texts, each ending in a NUL
};

}  // namespace tarnwell
