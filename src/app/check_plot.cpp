#include "app/check_plot.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "app/fullness_plot.h"
#include "app/input_check.h"
#include "app/output_target.h"
#include "base/error_reporter.h"
#include "verify/buffer_model.h"

namespace tarnwell {

namespace {

// A row as a sample whose time is the picture index.
FullnessSample sample_of(const PictureTrace& row) {
  FullnessSample sample;
  sample.time_s = static_cast<double>(row.index);
  sample.before = row.fullness_before;
  sample.after = static_cast<double>(row.fullness_before) - static_cast<double>(row.size_bits);
  sample.size = row.size_bits;
  return sample;
}

}  // namespace

void CheckPlotRecorder::start_pass() {
  earlier_.clear();
  has_last_ = false;
}

void CheckPlotRecorder::record(const PictureTrace& row) {
  if (has_last_) earlier_.add(sample_of(last_));
  last_ = row;
  has_last_ = true;
}

std::string check_verdict(Outcome outcome, const std::string& message) {
  if (outcome == Outcome::Pass) return "PASS";
  if (outcome == Outcome::Aborted) return "ABORTED";
  std::string line;
  for (char c : message) {
    if (c == '\n' || c == '\r') {
      if (!line.empty() && line.back() != ' ') line += ' ';
    } else {
      line += c;
    }
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

std::string check_plot_svg(const CheckPlotInput& input, const CheckPlotRecorder& recorded) {
  const CheckSettings& s = input.settings;
  // Before the first picture's arrival the frame rate may not be known yet:
  // the pictures are then drawn one a second.
  const bool rate_known = s.frame_rate >= 1.0;
  const double fps = rate_known ? s.frame_rate : 1.0;

  TimeSeriesPlot plot;
  plot.title = "Buffer of " + file_name_of(input.stream_path) + ": " + check_verdict(input.outcome, input.message);
  const std::string rate = rate_known ? format_text("%.3f fps", s.frame_rate) : "unknown (one picture a second drawn)";
  plot.subtitle = format_text("buffer size %u bits, initial fill %u bits, bit rate %u bit/s, frame rate %s%s",
                              s.buffer_size, s.initial_fill, s.bit_rate, rate.c_str(), input.strict ? ", strict" : "");
  plot.capacity = s.buffer_size;
  plot.has_initial_fill = true;
  plot.initial_fill = s.initial_fill;
  plot.units_per_second = fps;
  plot.samples = recorded.earlier().samples();
  if (recorded.has_last()) plot.samples.push_back(sample_of(recorded.last()));
  for (FullnessSample& sample : plot.samples) sample.time_s /= fps;
  if (recorded.has_last()) {
    const PictureTrace& last = recorded.last();
    const double next = static_cast<double>(last.index + 1) / fps;
    if (last.has_fullness_after) {
      plot.end_time_s = next;
      plot.end_level = last.fullness_after;
    } else if (input.outcome == Outcome::Overflow) {
      // The arrival that carried the fullness past the buffer size.
      const uint64_t arrival =
          std::min<uint64_t>(arrival_per_picture(s.bit_rate, fps), std::numeric_limits<uint32_t>::max());
      plot.end_time_s = next;
      plot.end_level = plot.samples.back().after + static_cast<double>(arrival);
    }
    const bool failed = input.outcome == Outcome::Underflow || input.outcome == Outcome::Overflow ||
                        input.outcome == Outcome::Undersized;
    if (failed && !last.has_fullness_after) {
      plot.marked = plot.samples.size() - 1;
      plot.marked_text = format_text("picture %llu: ", static_cast<unsigned long long>(last.index)) + input.message;
    }
  }
  return time_series_svg(plot);
}

bool write_check_plot(const std::string& path, const CheckPlotInput& input, const CheckPlotRecorder& recorded) {
  std::string reason;
  return write_output_file(path, check_plot_svg(input, recorded), reason);
}

}  // namespace tarnwell
