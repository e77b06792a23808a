#include "platform/interrupt.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace tarnwell {

inline constexpr int kTemporarySlots = 8;

// Read by the handler in signal context (POSIX) or on a thread of the
// system's (Windows): every field the handler reads is a lock-free atomic or
// is written before the guard is published.
struct InterruptState {
  std::atomic<uint32_t>* flag = nullptr;
  std::atomic<int> input_fd{-1};
  std::atomic<const char*> temporaries[kTemporarySlots] = {};
#ifndef _WIN32
  // The watched input's file, so that a descriptor closed and taken by
  // another file since is left alone.
  std::atomic<uint64_t> input_device{0};
  std::atomic<uint64_t> input_inode{0};
  int null_fd = -1;
  struct sigaction previous {};
#endif
};

namespace {

// The installed guard's state, null when none is installed.
std::atomic<InterruptState*> interrupt_target{nullptr};
static_assert(std::atomic<InterruptState*>::is_always_lock_free);
static_assert(std::atomic<uint32_t>::is_always_lock_free);
static_assert(std::atomic<int>::is_always_lock_free);
static_assert(std::atomic<const char*>::is_always_lock_free);

// Stores 1 into the flag; false when there is no guard or the flag was set
// already, in which case the system's default action should follow.
bool raise_abort_flag(InterruptState* state) {
  return state != nullptr && state->flag->exchange(1) == 0;
}

void remove_temporaries(InterruptState* state) {
  for (std::atomic<const char*>& slot : state->temporaries) {
    const char* path = slot.exchange(nullptr);
#ifdef _WIN32
    if (path != nullptr) DeleteFileA(path);
#else
    if (path != nullptr) unlink(path);
#endif
  }
}

#ifdef _WIN32

void end_input_wait(InterruptState* state) {
  const int fd = state->input_fd.load();
  if (fd < 0) return;
  const intptr_t handle = _get_osfhandle(fd);
  if (handle != -1) CancelIoEx(reinterpret_cast<HANDLE>(handle), nullptr);
}

BOOL WINAPI console_control_handler(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  InterruptState* state = interrupt_target.load();
  if (raise_abort_flag(state)) {
    end_input_wait(state);
    return TRUE;
  }
  if (state != nullptr) remove_temporaries(state);
  return FALSE;
}

#else

void interrupt_signal_handler(int) {
  const int saved_errno = errno;
  InterruptState* state = interrupt_target.load();
  if (raise_abort_flag(state)) {
    const int fd = state->input_fd.load();
    struct stat info {};
    if (fd >= 0 && state->null_fd >= 0 && fstat(fd, &info) == 0 &&
        static_cast<uint64_t>(info.st_dev) == state->input_device.load() &&
        static_cast<uint64_t>(info.st_ino) == state->input_inode.load()) {
      dup2(state->null_fd, fd);
    }
    errno = saved_errno;
    return;
  }
  // Second Ctrl-C: the temporary files go, then the default action, which
  // ends the process.
  if (state != nullptr) remove_temporaries(state);
  signal(SIGINT, SIG_DFL);
  raise(SIGINT);
}

#endif

}  // namespace

#ifdef _WIN32

InterruptGuard::InterruptGuard(std::atomic<uint32_t>& abort_flag) : state_(std::make_unique<InterruptState>()) {
  state_->flag = &abort_flag;
  InterruptState* none = nullptr;
  if (!interrupt_target.compare_exchange_strong(none, state_.get())) return;
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

InterruptGuard::InterruptGuard(std::atomic<uint32_t>& abort_flag) : state_(std::make_unique<InterruptState>()) {
  state_->flag = &abort_flag;
  state_->null_fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  InterruptState* none = nullptr;
  if (!interrupt_target.compare_exchange_strong(none, state_.get())) return;
  struct sigaction action {};
  action.sa_handler = interrupt_signal_handler;
  sigemptyset(&action.sa_mask);
  // Reads and waits interrupted by Ctrl-C go on (a read of the watched input
  // restarts on the null device); the command sees the flag at its next step.
  action.sa_flags = SA_RESTART;
  if (sigaction(SIGINT, &action, &state_->previous) != 0) {
    interrupt_target.store(nullptr);
    return;
  }
  installed_ = true;
}

InterruptGuard::~InterruptGuard() {
  if (installed_) {
    sigaction(SIGINT, &state_->previous, nullptr);
    interrupt_target.store(nullptr);
  }
  if (state_->null_fd >= 0) ::close(state_->null_fd);
}

#endif

void InterruptGuard::watch_input(int fd) {
#ifndef _WIN32
  struct stat info {};
  if (fd >= 0 && ::fstat(fd, &info) != 0) fd = -1;
  state_->input_fd.store(-1);
  state_->input_device.store(static_cast<uint64_t>(info.st_dev));
  state_->input_inode.store(static_cast<uint64_t>(info.st_ino));
#endif
  state_->input_fd.store(fd);
  // A Ctrl-C that came before the input was named ends its reading now.
  if (fd >= 0 && state_->flag->load() != 0) {
#ifdef _WIN32
    end_input_wait(state_.get());
#else
    if (state_->null_fd >= 0) ::dup2(state_->null_fd, fd);
#endif
  }
}

int InterruptGuard::track_temporary(const char* path) {
  InterruptState* state = interrupt_target.load();
  if (state == nullptr || path == nullptr) return -1;
  for (int i = 0; i < kTemporarySlots; ++i) {
    const char* none = nullptr;
    if (state->temporaries[i].compare_exchange_strong(none, path)) return i;
  }
  return -1;
}

void InterruptGuard::untrack_temporary(int slot) {
  InterruptState* state = interrupt_target.load();
  if (state == nullptr || slot < 0 || slot >= kTemporarySlots) return;
  state->temporaries[slot].store(nullptr);
}

}  // namespace tarnwell
