#pragma once
// Everything an application keeps once: the settings and shared values, the
// dialog it talks through, the error reporter and the one parsing state.
// The dialog is only named here: code that shows something in it includes
// the dialog port itself, and a check (verify/) shows its progress and
// outcome through an observer that the front end gives it instead.
// The Win32 program and the CLI each create one in main; every test creates
// its own, so two contexts never share anything.
#include <atomic>
#include <cstdint>
#include <functional>
#include <utility>

#include "base/check_settings.h"
#include "base/error_reporter.h"
#include "picture/parsing_state.h"

namespace tarnwell {

class DialogPort;

inline constexpr uint32_t kWindowBytes = 8000000;
inline constexpr char kBusyMessage[] = "Another check or report is still reading the stream.";

class ApplicationContext {
 public:
  // Proof of being the one user of the parsing state; lets go when destroyed.
  class ParsingLease {
   public:
    ParsingLease() = default;
    explicit ParsingLease(ApplicationContext* owner) : owner_(owner) {}
    ParsingLease(ParsingLease&& other) noexcept : owner_(std::exchange(other.owner_, nullptr)) {}
    ParsingLease& operator=(ParsingLease&& other) noexcept {
      if (this != &other) {
        release();
        owner_ = std::exchange(other.owner_, nullptr);
      }
      return *this;
    }
    ParsingLease(const ParsingLease&) = delete;
    ParsingLease& operator=(const ParsingLease&) = delete;
    ~ParsingLease() { release(); }
    explicit operator bool() const { return owner_ != nullptr; }
    void release() {
      if (owner_ != nullptr) owner_->let_go();
      owner_ = nullptr;
    }

   private:
    ApplicationContext* owner_ = nullptr;
  };

  explicit ApplicationContext(DialogPort& dialog_port, uint32_t window_bytes = kWindowBytes)
      : dialog(dialog_port), reporter(dialog_port), parsing(reporter, shared.frame_rate, window_bytes) {}
  ApplicationContext(const ApplicationContext&) = delete;
  ApplicationContext& operator=(const ApplicationContext&) = delete;

  // The one-user rule of the parsing state: a lease at once, or an empty
  // lease at once. Nobody ever waits for the state: a worker's control
  // updates complete only when the dialog thread handles them, so a wait on
  // the dialog thread could deadlock.
  ParsingLease try_take_parsing() {
    bool expected = false;
    if (!parsing_busy_.compare_exchange_strong(expected, true)) return ParsingLease();
    return ParsingLease(this);
  }
  bool parsing_busy() const { return parsing_busy_.load(); }

  // A probe that found the state busy asks to run again when the holder lets
  // go; the front end decides how (the dialog posts itself a message). The
  // holder may have let go between the probe's refused try and this request:
  // then no release is left to see it, and the request is answered here.
  void request_probe_after_release() {
    probe_pending_.store(true);
    if (!parsing_busy_.load() && probe_pending_.exchange(false) && on_released_) on_released_();
  }
  void set_on_parsing_released(std::function<void()> callback) { on_released_ = std::move(callback); }

  CheckSettings settings;
  SharedValues shared;
  DialogPort& dialog;
  ErrorReporter reporter;
  ParsingState parsing;

 private:
  void let_go() {
    parsing_busy_.store(false);
    if (probe_pending_.exchange(false) && on_released_) on_released_();
  }

  std::atomic<bool> parsing_busy_{false};
  std::atomic<bool> probe_pending_{false};
  std::function<void()> on_released_;
};

}  // namespace tarnwell
