#include "app/cli/console_dialog.h"

#include <cstring>

#include "base/error_reporter.h"

namespace tarnwell {

void ConsoleDialog::set_progress(int control, uint32_t position) {
  std::lock_guard lock(mutex_);
  if (control == kProgressFile) file_percent_ = position;
  if (control == kProgressFullness) fullness_percent_ = position;
  draw_progress(false);
}

void ConsoleDialog::set_text(int control, const std::string& text) {
  std::lock_guard lock(mutex_);
  texts_[control] = text;
}

void ConsoleDialog::set_unsigned(int control, uint32_t value) {
  std::lock_guard lock(mutex_);
  texts_[control] = std::to_string(value);
}

std::string ConsoleDialog::get_text(int control, std::size_t max_chars) {
  std::lock_guard lock(mutex_);
  auto it = texts_.find(control);
  return it == texts_.end() ? std::string() : it->second.substr(0, max_chars);
}

void ConsoleDialog::set_pass(uint32_t pass) {
  std::lock_guard lock(mutex_);
  pass_ = pass;
  draw_progress(false);
}

void ConsoleDialog::set_bytes_read(uint64_t bytes) {
  std::lock_guard lock(mutex_);
  size_unknown_ = true;
  bytes_read_ = bytes;
  draw_progress(false);
}

void ConsoleDialog::draw_progress(bool now) {
  if (!show_progress_) return;
  // Two updates a picture would flood a terminal: the line is drawn at most
  // every tenth of a second, and the last state once more at the end.
  const auto time = std::chrono::steady_clock::now();
  if (!now && progress_shown_ && time - last_draw_ < std::chrono::milliseconds(100)) {
    draw_pending_ = true;
    return;
  }
  last_draw_ = time;
  draw_pending_ = false;
  char file_part[48];
  if (size_unknown_) {
    std::snprintf(file_part, sizeof file_part, "read %.1f MB", static_cast<double>(bytes_read_) / 1e6);
  } else {
    std::snprintf(file_part, sizeof file_part, "file %3u%%", file_percent_);
  }
  if (pass_ > 1) {
    std::fprintf(err_, "\r%s  buffer %3u%%  pass %u \033[K", file_part, fullness_percent_, pass_);
  } else {
    std::fprintf(err_, "\r%s  buffer %3u%% \033[K", file_part, fullness_percent_);
  }
  std::fflush(err_);
  progress_shown_ = true;
}

void ConsoleDialog::finish_progress() {
  std::lock_guard lock(mutex_);
  if (draw_pending_) draw_progress(true);
  if (!progress_shown_) return;
  std::fputs("\r\033[K", err_);
  std::fflush(err_);
  progress_shown_ = false;
}

BoxAnswer ConsoleDialog::message_box(const std::string& text, const char*, BoxKind kind) {
  std::lock_guard lock(mutex_);
  if (kind != BoxKind::ReporterQuestion) return BoxAnswer::Ok;
  // The reporter appends its question; a console has no use for it.
  std::string message = text;
  const std::size_t question = std::strlen(kReporterQuestion);
  if (message.size() >= question && message.compare(message.size() - question, question, kReporterQuestion) == 0) {
    message.resize(message.size() - question);
  }
  if (!message.empty() && message.back() == '\n') message.pop_back();
  // Once: a line already written is not written again in this run, even
  // when the reporter's list of suppressed messages is full.
  if (policy_ != WarningPolicy::Once || shown_.insert(message).second) {
    if (progress_shown_) std::fputs("\r\033[K", err_);
    std::fprintf(err_, "Warning: %s\n", message.c_str());
    std::fflush(err_);
    progress_shown_ = false;
  }
  switch (policy_) {
    case WarningPolicy::Each: return BoxAnswer::Yes;
    case WarningPolicy::Once: return BoxAnswer::No;
    case WarningPolicy::Off: return BoxAnswer::Cancel;
  }
  return BoxAnswer::No;
}

}  // namespace tarnwell
