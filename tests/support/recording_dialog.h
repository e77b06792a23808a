#pragma once
// A DialogPort that remembers every call and answers message boxes from a
// script, for tests of everything that talks to the dialog.
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "base/dialog_port.h"

namespace tarnwell::test {

struct DialogCall {
  enum Kind { Progress, Text, Unsigned, Enable, Box } kind;
  int control = 0;
  uint32_t value = 0;   // progress position, unsigned value, enabled flag
  std::string text;     // control text or box text
  BoxKind box = BoxKind::Error;
  std::string caption;
};

struct ShownBox {
  std::string text;
  std::string caption;
  BoxKind kind;
};

class RecordingDialog : public DialogPort {
 public:
  void set_progress(int control, uint32_t position) override;
  void set_text(int control, const std::string& text) override;
  void set_unsigned(int control, uint32_t value) override;
  std::string get_text(int control, std::size_t max_chars) override;
  void enable(int control, bool enabled) override;
  bool is_checked(int control) override;
  BoxAnswer message_box(const std::string& text, const char* caption, BoxKind kind) override;

  // Answers for the next reporter questions, in order; Yes when none is left.
  void answer_next(BoxAnswer answer);
  void set_checked(int control, bool checked);
  // Text a control holds, as set_text/set_unsigned or the test left it.
  std::string text_of(int control) const;
  uint32_t progress_of(int control) const;
  bool enabled_of(int control) const;  // true until disabled

  std::vector<ShownBox> boxes() const;
  // The boxes' texts without the question the error reporter appends.
  std::vector<std::string> reports() const;
  std::vector<DialogCall> calls() const;
  void clear_calls();

 private:
  mutable std::mutex mutex_;
  std::vector<DialogCall> calls_;
  std::vector<ShownBox> boxes_;
  std::deque<BoxAnswer> answers_;
  std::map<int, std::string> texts_;
  std::map<int, uint32_t> progress_;
  std::map<int, bool> enabled_;
  std::map<int, bool> checked_;
};

}  // namespace tarnwell::test
