#include "support/recording_dialog.h"

#include "base/error_reporter.h"

namespace tarnwell::test {

void RecordingDialog::set_progress(int control, uint32_t position) {
  std::lock_guard lock(mutex_);
  calls_.push_back({DialogCall::Progress, control, position, {}, BoxKind::Error, {}});
  progress_[control] = position;
}

void RecordingDialog::set_text(int control, const std::string& text) {
  std::lock_guard lock(mutex_);
  calls_.push_back({DialogCall::Text, control, 0, text, BoxKind::Error, {}});
  texts_[control] = text;
}

void RecordingDialog::set_unsigned(int control, uint32_t value) {
  std::lock_guard lock(mutex_);
  calls_.push_back({DialogCall::Unsigned, control, value, {}, BoxKind::Error, {}});
  texts_[control] = std::to_string(value);
}

std::string RecordingDialog::get_text(int control, std::size_t max_chars) {
  std::lock_guard lock(mutex_);
  auto it = texts_.find(control);
  if (it == texts_.end()) return {};
  return it->second.substr(0, max_chars);
}

void RecordingDialog::enable(int control, bool enabled) {
  std::lock_guard lock(mutex_);
  calls_.push_back({DialogCall::Enable, control, enabled ? 1u : 0u, {}, BoxKind::Error, {}});
  enabled_[control] = enabled;
}

bool RecordingDialog::is_checked(int control) {
  std::lock_guard lock(mutex_);
  auto it = checked_.find(control);
  return it != checked_.end() && it->second;
}

BoxAnswer RecordingDialog::message_box(const std::string& text, const char* caption, BoxKind kind) {
  std::lock_guard lock(mutex_);
  calls_.push_back({DialogCall::Box, 0, 0, text, kind, caption});
  boxes_.push_back({text, caption, kind});
  if (kind != BoxKind::ReporterQuestion) return BoxAnswer::Ok;
  if (answers_.empty()) return BoxAnswer::Yes;
  BoxAnswer answer = answers_.front();
  answers_.pop_front();
  return answer;
}

void RecordingDialog::answer_next(BoxAnswer answer) {
  std::lock_guard lock(mutex_);
  answers_.push_back(answer);
}

void RecordingDialog::set_checked(int control, bool checked) {
  std::lock_guard lock(mutex_);
  checked_[control] = checked;
}

std::string RecordingDialog::text_of(int control) const {
  std::lock_guard lock(mutex_);
  auto it = texts_.find(control);
  return it == texts_.end() ? std::string() : it->second;
}

uint32_t RecordingDialog::progress_of(int control) const {
  std::lock_guard lock(mutex_);
  auto it = progress_.find(control);
  return it == progress_.end() ? 0 : it->second;
}

bool RecordingDialog::enabled_of(int control) const {
  std::lock_guard lock(mutex_);
  auto it = enabled_.find(control);
  return it == enabled_.end() || it->second;
}

std::vector<ShownBox> RecordingDialog::boxes() const {
  std::lock_guard lock(mutex_);
  return boxes_;
}

std::vector<std::string> RecordingDialog::reports() const {
  const std::string question = kReporterQuestion;
  std::vector<std::string> texts;
  for (const ShownBox& box : boxes()) {
    std::string text = box.text;
    if (text.size() >= question.size() && text.compare(text.size() - question.size(), question.size(), question) == 0) {
      text.resize(text.size() - question.size());
    }
    texts.push_back(text);
  }
  return texts;
}

std::vector<DialogCall> RecordingDialog::calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

void RecordingDialog::clear_calls() {
  std::lock_guard lock(mutex_);
  calls_.clear();
  boxes_.clear();
}

}  // namespace tarnwell::test
