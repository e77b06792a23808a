#pragma once
// Worker threads with a stack size of their own, and a test, without
// waiting, of whether one has ended. CreateThread on Windows, pthreads
// elsewhere.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace tarnwell {

// Stack of the verification worker and of every HRD report thread.
inline constexpr std::size_t kWorkerStackBytes = 1024000;

struct ThreadRecord;  // the system's thread object, one per started thread

// Owns one started thread's system resources. Releasing the handle does not
// stop or wait for the thread: on Windows the thread handle is closed; on
// POSIX the thread is joined if it has already ended (the join then waits at
// most for the thread's last few instructions) and detached otherwise, so a thread that nobody waits for
// leaves nothing behind and simply ends with the process.
// A default-constructed handle stands for "no thread was started".
class ThreadHandle {
 public:
  ThreadHandle();
  ~ThreadHandle();
  ThreadHandle(ThreadHandle&& other) noexcept;
  ThreadHandle& operator=(ThreadHandle&& other) noexcept;
  ThreadHandle(const ThreadHandle&) = delete;
  ThreadHandle& operator=(const ThreadHandle&) = delete;

  // False for a default-constructed handle and after a failed start.
  bool started() const { return record_ != nullptr; }

 private:
  friend ThreadHandle start_thread(std::function<void()> body, std::size_t stack_bytes);
  friend bool has_ended(const ThreadHandle& thread);
  explicit ThreadHandle(std::unique_ptr<ThreadRecord> record);
  std::unique_ptr<ThreadRecord> record_;
};

// Runs body on a new thread whose whole stack is stack_bytes (on Windows the
// reservation, rounded up by the system to its allocation granularity; on
// POSIX at least PTHREAD_STACK_MIN). The body's captures are destroyed on the
// new thread before it counts as ended. A body that throws ends the process
// (std::terminate): exceptions do not cross the thread boundary.
// Returns a handle that is not started() when the system refuses the thread.
ThreadHandle start_thread(std::function<void()> body, std::size_t stack_bytes);

// True when the thread has ended; a zero-time test that never waits.
// A handle that was never started counts as ended.
bool has_ended(const ThreadHandle& thread);

}  // namespace tarnwell
