#pragma once
// A check shown in the main dialog's controls: the settings' edits, the two
// bars, the buttons a run disables, the outcome's "Error" box and the strict
// overflow check box. The Win32 dialog, the console (whose port draws the
// bars as a progress line) and the tests' recording dialog all show a check
// through it.
#include <string>

#include "base/dialog_port.h"
#include "base/error_reporter.h"
#include "verify/check_observer.h"

namespace tarnwell {

class DialogCheckObserver final : public CheckObserver {
 public:
  explicit DialogCheckObserver(DialogPort& dialog) : dialog_(dialog) {}

  // Busy: Check, Browse and HRD Info off, Abort on; idle the other way round.
  void on_busy(bool busy) override {
    dialog_.enable(kButtonCheck, !busy);
    dialog_.enable(kButtonBrowse, !busy);
    dialog_.enable(kButtonHrdInfo, !busy);
    dialog_.enable(kButtonAbort, busy);
  }
  void on_stream_progress(uint32_t percent) override { dialog_.set_progress(kProgressFile, percent); }
  void on_fullness(uint32_t percent) override { dialog_.set_progress(kProgressFullness, percent); }
  void on_value(CheckValue which, uint32_t value) override {
    switch (which) {
      case CheckValue::BufferSize: dialog_.set_unsigned(kEditBufferSize, value); return;
      case CheckValue::InitialFill: dialog_.set_unsigned(kEditInitialFill, value); return;
      case CheckValue::BitRate: dialog_.set_unsigned(kEditBitRate, value); return;
    }
  }
  void on_frame_rate(double frame_rate) override { dialog_.set_text(kEditFrameRate, format_text("%.3f", frame_rate)); }
  void on_stop(const std::string& text) override {
    dialog_.message_box(text, caption_of(BoxKind::Error), BoxKind::Error);
  }
  // The check box as it is at the moment of asking.
  bool strict_overflow() override { return dialog_.is_checked(kCheckStrictOverflow); }

 private:
  DialogPort& dialog_;
};

}  // namespace tarnwell
