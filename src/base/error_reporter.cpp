#include "base/error_reporter.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>

#include "base/dialog_port.h"

namespace tarnwell {

std::string format_text(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  va_list again;
  va_copy(again, arguments);
  const int length = std::vsnprintf(nullptr, 0, format, arguments);
  va_end(arguments);
  std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
  if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, again);
  va_end(again);
  return text;
}

uint32_t message_hash(const char* text) {
  uint32_t hash = 5381;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p) {
    hash = hash * 33u + *p;
  }
  return hash;
}

void ErrorReporter::notify_error(const char* format, ...) {
  if (!enabled_ || muted_) return;

  // The report is cut to the room left beside the question, so the box text
  // never runs past the buffer; the hash is taken of the text as cut.
  va_list args;
  va_start(args, format);
  std::vsnprintf(text_, kMessageRoom + 1, format, args);
  va_end(args);
  if (recorder_ != nullptr) recorder_->on_report(text_);
  ask_about_text();
}

void ErrorReporter::replay_report(const char* text) {
  if (!enabled_) return;
  std::snprintf(text_, kMessageRoom + 1, "%s", text);
  ask_about_text();
}

void ErrorReporter::ask_about_text() {
  const uint32_t hash = message_hash(text_);
  const auto suppressed_end = suppressed_.begin() + suppressed_count_;
  if (std::find(suppressed_.begin(), suppressed_end, hash) != suppressed_end) return;

  std::strncat(text_, kReporterQuestion, sizeof text_ - std::strlen(text_) - 1);
  BoxAnswer answer = dialog_.message_box(text_, caption_of(BoxKind::ReporterQuestion), BoxKind::ReporterQuestion);
  if (answer == BoxAnswer::No) {
    if (suppressed_count_ < kSuppressedUsed) suppressed_[static_cast<std::size_t>(suppressed_count_++)] = hash;
  } else if (answer == BoxAnswer::Cancel) {
    enabled_ = false;
  }
}

void ErrorReporter::report_out_of_memory(const char* label) { notify_error("Could not allocate memory: %s", label); }

void ErrorReporter::write_stderr_line(const char* line) {
  if (muted_) return;
  if (recorder_ != nullptr) recorder_->on_stderr_line(line);
  put_stderr_line(line);
}

void ErrorReporter::replay_stderr_line(const char* line) { put_stderr_line(line); }

void ErrorReporter::put_stderr_line(const char* line) {
  if (!stderr_enabled_) return;
  std::FILE* out = stderr_stream_ != nullptr ? stderr_stream_ : stderr;
  std::fputs(line, out);
  std::fflush(out);
}

}  // namespace tarnwell
