#pragma once
// The SVG plot of a check's last pass: the rows --trace writes, recorded as
// the run goes, drawn as the buffer's sawtooth with the picture sizes under
// it, the verdict in the title and the picture that ended a failing run in
// red. No second reading of the stream.
#include <string>
#include <vector>

#include "app/fullness_plot.h"
#include "base/check_settings.h"
#include "verify/check_run.h"

namespace tarnwell {

// Keeps what the plot needs of the last pass's trace rows, in bounded
// memory however long the stream: the last row as it is (the picture that
// ended the run), the rows before it in a FullnessSeries whose time is the
// picture index. Hook it to a CheckRun:
//   run.on_pass_start = [&](uint32_t) { recorder.start_pass(); };
//   run.on_picture = [&](const PictureTrace& t) { recorder.record(t); };
class CheckPlotRecorder {
 public:
  void start_pass();
  void record(const PictureTrace& row);

  // The rows before the last one.
  const FullnessSeries& earlier() const { return earlier_; }
  bool has_last() const { return has_last_; }
  const PictureTrace& last() const { return last_; }
  uint64_t rows() const { return earlier_.added() + (has_last_ ? 1 : 0); }

 private:
  FullnessSeries earlier_;
  PictureTrace last_;
  bool has_last_ = false;
};

// What the plot shows of a finished check.
struct CheckPlotInput {
  std::string stream_path;   // the title names its file
  CheckSettings settings;    // as the run left them: a search's result, the frame rate in force
  bool strict = false;
  Outcome outcome = Outcome::Pass;
  std::string message;       // the outcome's box text
};

// "PASS", "ABORTED", or the message on one line.
std::string check_verdict(Outcome outcome, const std::string& message);

std::string check_plot_svg(const CheckPlotInput& input, const CheckPlotRecorder& recorded);

// The plot written to path; false when the file cannot be written.
bool write_check_plot(const std::string& path, const CheckPlotInput& input, const CheckPlotRecorder& recorded);

}  // namespace tarnwell
