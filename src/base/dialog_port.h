#pragma once
// Everything the core asks of a window system. The Win32 dialog, the console
// front end and the recording fake of the tests implement it. Worker threads
// call it as well as the dialog thread; an implementation makes that safe.
#include <cstdint>
#include <string>

#include "base/control_ids.h"

namespace tarnwell {

// The three boxes the system shows.
enum class BoxKind {
  Error,             // caption "Error", error icon, OK: run outcomes, the shell's own failures
  Warning,           // caption "Warning", warning icon, OK
  ReporterQuestion,  // caption "Warning", warning icon, Yes/No/Cancel: the error reporter
};

enum class BoxAnswer { Ok, Yes, No, Cancel };

inline const char* caption_of(BoxKind kind) { return kind == BoxKind::Error ? "Error" : "Warning"; }

class DialogPort {
 public:
  virtual ~DialogPort() = default;

  // Position of progress bar 1009 or 1013, 0 to 100.
  virtual void set_progress(int control, uint32_t position) = 0;
  virtual void set_text(int control, const std::string& text) = 0;
  // Unsigned decimal, as SetDlgItemInt with bSigned FALSE shows it.
  virtual void set_unsigned(int control, uint32_t value) = 0;
  // At most max_chars characters of the control's text.
  virtual std::string get_text(int control, std::size_t max_chars) = 0;
  virtual void enable(int control, bool enabled) = 0;
  virtual bool is_checked(int control) = 0;
  // Modal; the calling thread waits for the answer.
  virtual BoxAnswer message_box(const std::string& text, const char* caption, BoxKind kind) = 0;
};

}  // namespace tarnwell
