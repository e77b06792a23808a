#pragma once
// Ctrl-C for the console front end: it asks the running command to stop, the
// way the dialog's Abort button does, ends a wait for input at once, and
// leaves no temporary file behind.
#include <atomic>
#include <cstdint>
#include <memory>

namespace tarnwell {

// The handler's view of the installed guard (implementation's).
struct InterruptState;

// While a guard lives, Ctrl-C (SIGINT; on Windows the console's Ctrl-C and
// Ctrl-Break events) stores 1 into the abort flag. A Ctrl-C that finds the
// flag already set is left to the system's default action, which ends the
// process: a second Ctrl-C still stops a program that no longer polls the
// flag. Before that default action the temporary files being tracked are
// removed.
//
// The system's handler mechanism takes a plain function, so the guard's
// state has to live where that function can find it: one atomic pointer
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

  // The input the command reads, by descriptor. A read of it that waits (a
  // pipe whose writer has stalled, a terminal) must end at the first
  // Ctrl-C: on POSIX the handler puts the null device in the descriptor's
  // place, so the read under way, restarted after the handler, and every
  // later one find the end of the input at once (the command then sees the
  // abort flag and ends as aborted, never as a pass over what it had read).
  // On Windows the handler cancels the read under way. -1 watches nothing.
  void watch_input(int fd);

  // A temporary file that a second Ctrl-C, which ends the process, removes
  // first. The path must stay valid until untracked. Returns the slot to
  // untrack, or -1 when no guard is installed or every slot is taken.
  static int track_temporary(const char* path);
  static void untrack_temporary(int slot);

 private:
  std::unique_ptr<InterruptState> state_;
  bool installed_ = false;
};

}  // namespace tarnwell
