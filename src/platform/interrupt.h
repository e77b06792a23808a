#pragma once
// Ctrl-C for the console front end: it asks the running check to stop, the
// way the dialog's Abort button does.
#include <atomic>
#include <cstdint>
#include <memory>

namespace tarnwell {

// While a guard lives, Ctrl-C (SIGINT; on Windows the console's Ctrl-C and
// Ctrl-Break events) stores 1 into the abort flag. A Ctrl-C that finds the
// flag already set is left to the system's default action, which ends the
// process: a second Ctrl-C still stops a program that no longer polls the
// flag.
//
// The system's handler mechanism takes a plain function, so the flag's
// address has to live where that function can find it: one atomic pointer
// inside the implementation, the only process-wide state of this layer. That
// is why at most one guard can be installed at a time; main installs it
// after creating the application context, whose abort flag must outlive it.
class InterruptGuard {
 public:
  explicit InterruptGuard(std::atomic<uint32_t>& abort_flag);
  // Gives Ctrl-C back to the handling that was in place before.
  ~InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

  // False when another guard was installed already or the system refused.
  bool installed() const { return installed_; }

 private:
  struct Previous;  // POSIX: the SIGINT action replaced
  std::unique_ptr<Previous> previous_;
  bool installed_ = false;
};

}  // namespace tarnwell
