#pragma once
// The dialog of tarnwell-cli: control texts are kept for reading back, the
// progress bars become one progress line on standard error when it is a
// terminal, the reporter's questions become "Warning: " lines answered by the
// --warnings policy (once: each distinct line once per run, whatever the
// reporter's own list can hold), and the outcome boxes are kept for the
// verdict. The progress line is redrawn at most ten times a second.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "app/cli_options.h"
#include "base/dialog_port.h"

namespace tarnwell {

class ConsoleDialog : public DialogPort {
 public:
  ConsoleDialog(WarningPolicy policy, bool strict, bool show_progress, std::FILE* err = stderr)
      : policy_(policy), strict_(strict), show_progress_(show_progress), err_(err) {}

  void set_progress(int control, uint32_t position) override;
  void set_text(int control, const std::string& text) override;
  void set_unsigned(int control, uint32_t value) override;
  std::string get_text(int control, std::size_t max_chars) override;
  void enable(int, bool) override {}
  bool is_checked(int control) override { return control == kCheckStrictOverflow && strict_; }
  BoxAnswer message_box(const std::string& text, const char* caption, BoxKind kind) override;

  void set_pass(uint32_t pass);
  // For a stream of unknown size: the line shows the bytes read instead of
  // a percentage of the file.
  void set_bytes_read(uint64_t bytes);
  // Clears the progress line, if one is shown.
  void finish_progress();

 private:
  void draw_progress(bool now);

  std::mutex mutex_;
  WarningPolicy policy_;
  bool strict_;
  bool show_progress_;
  std::FILE* err_;
  std::map<int, std::string> texts_;
  uint32_t file_percent_ = 0;
  uint32_t fullness_percent_ = 0;
  uint32_t pass_ = 0;
  bool progress_shown_ = false;
  bool size_unknown_ = false;
  uint64_t bytes_read_ = 0;
  bool draw_pending_ = false;
  std::chrono::steady_clock::time_point last_draw_{};
  std::set<std::string> shown_;  // warning lines already written, for --warnings once
};

}  // namespace tarnwell
