#pragma once
// The DialogPort of the real dialog. Worker threads call it as well as the
// dialog thread: every control update is a message sent to the control, so
// it is carried out by the dialog thread when its message loop takes it, and
// message boxes are owned by the dialog whichever thread shows them.
#include <windows.h>

#include "base/dialog_port.h"

namespace tarnwell {

class Win32DialogPort : public DialogPort {
 public:
  // The dialog whose controls this port works; set once when the dialog is
  // created, before any worker can start.
  void attach(HWND dialog) { dialog_ = dialog; }

  void set_progress(int control, uint32_t position) override;
  void set_text(int control, const std::string& text) override;
  void set_unsigned(int control, uint32_t value) override;
  std::string get_text(int control, std::size_t max_chars) override;
  void enable(int control, bool enabled) override;
  bool is_checked(int control) override;
  BoxAnswer message_box(const std::string& text, const char* caption, BoxKind kind) override;

 private:
  HWND dialog_ = nullptr;
};

}  // namespace tarnwell
