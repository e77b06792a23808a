#pragma once
// The fullness of a buffer over time as the commands draw it: the samples
// (one a removal from the buffer), a series of any length kept in bounded
// memory as a run goes, and its SVG picture (the check's sawtooth, the
// HRD's per-unit fullness).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/plot_svg.h"

namespace tarnwell {

// One removal from the buffer (a picture, an access unit).
struct FullnessSample {
  double time_s = 0.0;  // removal time, seconds from the first removal's
  double before = 0.0;  // fullness just before the removal, bits
  double after = 0.0;   // just after it; below 0 when the unit underflowed
  double size = 0.0;    // the bits removed, for the strip under the fullness
  bool flagged = false;  // drawn in the mark's colour: something was found wrong at this unit
};

struct TimeSeriesPlot {
  std::string title;     // first heading line
  std::string subtitle;  // second heading line; may be empty
  std::vector<FullnessSample> samples;  // by increasing time
  double capacity = 0.0;                // the buffer size as a horizontal line; 0: none
  bool has_initial_fill = false;
  double initial_fill = 0.0;            // marked on the fullness axis at time 0
  bool show_sizes = true;               // the strip of removed sizes
  // Above 0: a second scale along the top, unit index = time * units_per_second.
  double units_per_second = 0.0;
  std::string unit_name = "picture";
  // The fullness one interval after the last removal (the arrival that ended
  // a run by overflow, or the level a passing run ends with); none when
  // end_time_s is not after the last sample.
  double end_time_s = 0.0;
  double end_level = 0.0;
  // An index into samples drawn in red with marked_text beside it; beyond
  // the samples, nothing is marked.
  std::size_t marked = static_cast<std::size_t>(-1);
  std::string marked_text;
};
// (Every flagged sample gets a red stroke of its own, at most one per pixel
// column; the marked one also gets its circle and text.)

// Above this many samples the fullness is drawn as one column per pixel,
// each holding the least and the largest value of the samples in it.
inline constexpr std::size_t kMaxExactSamples = 2000;

// The range of one pixel column of a decimated series.
struct ColumnRange {
  bool empty = true;
  double low = 0.0;         // least fullness (an "after" value, or a rise's start)
  double high = 0.0;        // largest fullness (a "before" value)
  double size_high = 0.0;   // largest removed size
};

// samples cut into `columns` equal stretches of [t0, t1]; a sample at time t
// falls into column floor((t - t0) / (t1 - t0) * columns), the last one
// taking t1. Every sample lands in exactly one column.
std::vector<ColumnRange> decimate_columns(const std::vector<FullnessSample>& samples, double t0, double t1,
                                          uint32_t columns);

std::string time_series_svg(const TimeSeriesPlot& plot);

// A series of any length in bounded memory, for recording while a run goes.
// Up to 2 * kKeptSamples samples are kept as they came; past that, adjacent
// pairs merge into one sample (the time of the first, before = the largest
// fullness, after = the least, size = the largest), so the kept samples
// always hold the extremes of the stretches they stand for. A series that
// never grew past 2 * kKeptSamples (more than kMaxExactSamples) is exact.
class FullnessSeries {
 public:
  static constexpr std::size_t kKeptSamples = 4096;

  void clear();
  void add(const FullnessSample& sample);
  const std::vector<FullnessSample>& samples() const { return samples_; }
  uint64_t added() const { return added_; }

 private:
  std::vector<FullnessSample> samples_;
  uint64_t width_ = 1;       // samples added per kept sample
  uint64_t last_fill_ = 0;   // samples merged into the last kept one
  uint64_t added_ = 0;
};

}  // namespace tarnwell
