#include "app/cli/console_dialog.h"

#include <cstring>

#include "base/error_reporter.h"

namespace tarnwell {

void ConsoleDialog::set_progress(int control, uint32_t position) {
  std::lock_guard lock(mutex_);
  if (control == kProgressFile) file_percent_ = position;
  if (control == kProgressFullness) fullness_percent_ = position;
  draw_progress();
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
  draw_progress();
}

void ConsoleDialog::draw_progress() {
  if (!show_progress_) return;
  if (pass_ > 1) {
    std::fprintf(err_, "\rfile %3u%%  buffer %3u%%  pass %u ", file_percent_, fullness_percent_, pass_);
  } else {
    std::fprintf(err_, "\rfile %3u%%  buffer %3u%% ", file_percent_, fullness_percent_);
  }
  std::fflush(err_);
  progress_shown_ = true;
}

void ConsoleDialog::finish_progress() {
  std::lock_guard lock(mutex_);
  if (!progress_shown_) return;
  std::fputs("\r\033[K", err_);
  std::fflush(err_);
  progress_shown_ = false;
}

BoxAnswer ConsoleDialog::message_box(const std::string& text, const char*, BoxKind kind) {
  std::lock_guard lock(mutex_);
  if (kind != BoxKind::ReporterQuestion) {
    error_text_ = text;
    return BoxAnswer::Ok;
  }
  // The reporter appends its question; a console has no use for it.
  std::string message = text;
  const std::size_t question = std::strlen(kReporterQuestion);
  if (message.size() >= question && message.compare(message.size() - question, question, kReporterQuestion) == 0) {
    message.resize(message.size() - question);
  }
  if (!message.empty() && message.back() == '\n') message.pop_back();
  if (progress_shown_) std::fputs("\r\033[K", err_);
  std::fprintf(err_, "Warning: %s\n", message.c_str());
  std::fflush(err_);
  switch (policy_) {
    case WarningPolicy::Each: return BoxAnswer::Yes;
    case WarningPolicy::Once: return BoxAnswer::No;
    case WarningPolicy::Off: return BoxAnswer::Cancel;
  }
  return BoxAnswer::No;
}

}  // namespace tarnwell
