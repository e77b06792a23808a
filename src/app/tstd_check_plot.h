#pragma once
// The picture of tstd-check: TB, MB and EB fullness over time in three
// bands of one SVG, each buffer's size as a dashed line, every violation
// kept for the report marked across the bands. Each band is the shared
// time-series picture, fed in bounded memory with the extremes of every
// stretch, so no peak of a long stream is lost.
#include <string>
#include <vector>

#include "app/fullness_plot.h"
#include "verify/tstd_model.h"

namespace tarnwell {

class TstdPlotRecorder {
 public:
  void add(const TstdLevel& level);
  std::string svg(const std::string& title, const TstdParams& params,
                  const std::vector<TstdViolation>& violations) const;

 private:
  FullnessSeries series_[3];
  bool started_ = false;
  double origin_ = 0.0;  // the first change's time: the bands begin there
  double last_time_ = 0.0;
  double last_level_[3] = {0.0, 0.0, 0.0};
};

}  // namespace tarnwell
