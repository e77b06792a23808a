#pragma once
// The dialog's two progress bars, updated at most about 20 times a second.
//
// The run sets the file and fullness bars for every picture. In the dialog
// each update is a message to the dialog thread that the worker waits for,
// so a long stream spent most of its check on bar updates. This port passes
// every call on to the dialog's own port, except that bar positions are
// held back until kBarInterval has passed since the last ones went out. The
// positions held back go out before any other call that changes what the
// dialog shows (a text, a number, a button, a box) and on flush(), so the
// values shown when a run ends are those it set last, as without the
// throttle. Reads (texts, the check box) pass straight through.
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>

#include "base/dialog_port.h"

namespace tarnwell {

inline constexpr std::chrono::milliseconds kBarInterval{50};

class ProgressThrottle final : public DialogPort {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  // `now` tells the time; tests give a clock of their own.
  explicit ProgressThrottle(DialogPort& dialog, Clock now = [] { return std::chrono::steady_clock::now(); })
      : dialog_(dialog), now_(std::move(now)) {}
  ProgressThrottle(const ProgressThrottle&) = delete;
  ProgressThrottle& operator=(const ProgressThrottle&) = delete;

  void set_progress(int control, uint32_t position) override;
  void set_text(int control, const std::string& text) override;
  void set_unsigned(int control, uint32_t value) override;
  std::string get_text(int control, std::size_t max_chars) override;
  void enable(int control, bool enabled) override;
  bool is_checked(int control) override;
  BoxAnswer message_box(const std::string& text, const char* caption, BoxKind kind) override;

  // Sends the positions held back.
  void flush();

 private:
  struct Bar {
    int control;
    bool held = false;  // a position not sent yet
    uint32_t position = 0;
  };
  // Takes the held positions when `due` (or when the interval has passed);
  // the caller sends them without holding the lock, since a send may wait
  // for the dialog thread, which may itself be calling this port.
  void send_held(bool due);

  DialogPort& dialog_;
  Clock now_;
  std::mutex mutex_;
  Bar bars_[2] = {{kProgressFile}, {kProgressFullness}};
  bool sent_before_ = false;
  std::chrono::steady_clock::time_point last_sent_;
};

}  // namespace tarnwell
