#include "platform/interrupt.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#endif

namespace tarnwell {

namespace {

// The abort flag of the installed guard, null when none is installed. The
// handler runs in signal context (POSIX) or on a thread of the system's
// (Windows), so both the pointer and the flag must be lock-free atomics.
std::atomic<std::atomic<uint32_t>*> interrupt_target{nullptr};
static_assert(std::atomic<std::atomic<uint32_t>*>::is_always_lock_free);
static_assert(std::atomic<uint32_t>::is_always_lock_free);

// Stores 1 into the flag; false when there is no flag or it was set already,
// in which case the system's default action should follow.
bool raise_abort_flag() {
  std::atomic<uint32_t>* flag = interrupt_target.load();
  if (flag == nullptr) return false;
  return flag->exchange(1) == 0;
}

}  // namespace

#ifdef _WIN32

struct InterruptGuard::Previous {};

namespace {

BOOL WINAPI console_control_handler(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  return raise_abort_flag() ? TRUE : FALSE;
}

}  // namespace

InterruptGuard::InterruptGuard(std::atomic<uint32_t>& abort_flag) {
  std::atomic<uint32_t>* none = nullptr;
  if (!interrupt_target.compare_exchange_strong(none, &abort_flag)) return;
  if (!SetConsoleCtrlHandler(console_control_handler, TRUE)) {
    interrupt_target.store(nullptr);
    return;
  }
  installed_ = true;
}

InterruptGuard::~InterruptGuard() {
  if (!installed_) return;
  SetConsoleCtrlHandler(console_control_handler, FALSE);
  interrupt_target.store(nullptr);
}

#else

struct InterruptGuard::Previous {
  struct sigaction action {};
};

namespace {

void interrupt_signal_handler(int) {
  if (raise_abort_flag()) return;
  // Second Ctrl-C: the default action, which ends the process.
  signal(SIGINT, SIG_DFL);
  raise(SIGINT);
}

}  // namespace

InterruptGuard::InterruptGuard(std::atomic<uint32_t>& abort_flag)
    : previous_(std::make_unique<Previous>()) {
  std::atomic<uint32_t>* none = nullptr;
  if (!interrupt_target.compare_exchange_strong(none, &abort_flag)) return;
  struct sigaction action {};
  action.sa_handler = interrupt_signal_handler;
  sigemptyset(&action.sa_mask);
  // Reads and waits interrupted by Ctrl-C go on; the run sees the flag at
  // its next picture.
  action.sa_flags = SA_RESTART;
  if (sigaction(SIGINT, &action, &previous_->action) != 0) {
    interrupt_target.store(nullptr);
    return;
  }
  installed_ = true;
}

InterruptGuard::~InterruptGuard() {
  if (!installed_) return;
  sigaction(SIGINT, &previous_->action, nullptr);
  interrupt_target.store(nullptr);
}

#endif

}  // namespace tarnwell
