#include "app/progress_throttle.h"

namespace tarnwell {

void ProgressThrottle::send_held(bool due) {
  Bar taken[2] = {{kProgressFile}, {kProgressFullness}};
  {
    std::lock_guard lock(mutex_);
    const auto now = now_();
    if (!due && sent_before_ && now - last_sent_ < kBarInterval) return;
    if (!bars_[0].held && !bars_[1].held) return;
    sent_before_ = true;
    last_sent_ = now;
    for (int i = 0; i < 2; ++i) {
      taken[i] = bars_[i];
      bars_[i].held = false;
    }
  }
  for (const Bar& bar : taken) {
    if (bar.held) dialog_.set_progress(bar.control, bar.position);
  }
}

void ProgressThrottle::set_progress(int control, uint32_t position) {
  const int index = control == kProgressFile ? 0 : control == kProgressFullness ? 1 : -1;
  if (index < 0) {
    dialog_.set_progress(control, position);  // not one of the two bars: nothing to hold back
    return;
  }
  {
    std::lock_guard lock(mutex_);
    bars_[index].held = true;
    bars_[index].position = position;
  }
  send_held(false);
}

void ProgressThrottle::flush() { send_held(true); }

void ProgressThrottle::set_text(int control, const std::string& text) {
  flush();
  dialog_.set_text(control, text);
}

void ProgressThrottle::set_unsigned(int control, uint32_t value) {
  flush();
  dialog_.set_unsigned(control, value);
}

std::string ProgressThrottle::get_text(int control, std::size_t max_chars) {
  return dialog_.get_text(control, max_chars);
}

void ProgressThrottle::enable(int control, bool enabled) {
  flush();
  dialog_.enable(control, enabled);
}

bool ProgressThrottle::is_checked(int control) { return dialog_.is_checked(control); }

BoxAnswer ProgressThrottle::message_box(const std::string& text, const char* caption, BoxKind kind) {
  flush();
  return dialog_.message_box(text, caption, kind);
}

}  // namespace tarnwell
