#include "platform/thread.h"

#include <atomic>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#endif

namespace tarnwell {

namespace {

// The body runs inside a noexcept frame: an exception that escaped it would
// otherwise unwind into the system's thread start routine.
void run_body(std::function<void()>& body) noexcept {
  body();
}

}  // namespace

#ifdef _WIN32

struct ThreadRecord {
  HANDLE handle = nullptr;
  ~ThreadRecord() {
    if (handle != nullptr) CloseHandle(handle);
  }
};

namespace {

DWORD WINAPI thread_entry(LPVOID argument) {
  std::function<void()> body = std::move(*static_cast<std::function<void()>*>(argument));
  delete static_cast<std::function<void()>*>(argument);
  run_body(body);
  return 0;
}

}  // namespace

ThreadHandle start_thread(std::function<void()> body, std::size_t stack_bytes) {
  auto* argument = new std::function<void()>(std::move(body));
  // The size is the reservation, so the thread's whole stack is this size
  // whatever the executable's own default reserve is.
  DWORD id = 0;
  HANDLE handle = CreateThread(nullptr, stack_bytes, thread_entry, argument,
                               STACK_SIZE_PARAM_IS_A_RESERVATION, &id);
  if (handle == nullptr) {
    delete argument;
    return ThreadHandle();
  }
  auto record = std::make_unique<ThreadRecord>();
  record->handle = handle;
  return ThreadHandle(std::move(record));
}

bool has_ended(const ThreadHandle& thread) {
  if (!thread.record_) return true;
  return WaitForSingleObject(thread.record_->handle, 0) == WAIT_OBJECT_0;
}

#else

namespace {

// What the new thread and its handle share. The thread holds its own
// reference, so the record outlives whichever of the two lets go first.
struct ThreadShared {
  std::function<void()> body;
  std::atomic<bool> ended{false};
};

void* thread_entry(void* argument) {
  auto* start = static_cast<std::shared_ptr<ThreadShared>*>(argument);
  std::shared_ptr<ThreadShared> shared = std::move(*start);
  delete start;
  run_body(shared->body);
  shared->body = nullptr;
  shared->ended.store(true, std::memory_order_release);
  return nullptr;
}

}  // namespace

struct ThreadRecord {
  pthread_t thread{};
  std::shared_ptr<ThreadShared> shared;
  ~ThreadRecord() {
    // An ended thread is joined so that its stack is freed now; a living
    // one is detached and frees its own resources when it ends, or ends
    // with the process.
    if (shared->ended.load(std::memory_order_acquire)) {
      pthread_join(thread, nullptr);
    } else {
      pthread_detach(thread);
    }
  }
};

ThreadHandle start_thread(std::function<void()> body, std::size_t stack_bytes) {
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) return ThreadHandle();
  if (pthread_attr_setstacksize(&attributes, stack_bytes) != 0) {
    pthread_attr_destroy(&attributes);
    return ThreadHandle();
  }
  auto shared = std::make_shared<ThreadShared>();
  shared->body = std::move(body);
  auto* start = new std::shared_ptr<ThreadShared>(shared);
  pthread_t thread{};
  int failed = pthread_create(&thread, &attributes, thread_entry, start);
  pthread_attr_destroy(&attributes);
  if (failed != 0) {
    delete start;
    return ThreadHandle();
  }
  auto record = std::make_unique<ThreadRecord>();
  record->thread = thread;
  record->shared = std::move(shared);
  return ThreadHandle(std::move(record));
}

bool has_ended(const ThreadHandle& thread) {
  if (!thread.record_) return true;
  return thread.record_->shared->ended.load(std::memory_order_acquire);
}

#endif

ThreadHandle::ThreadHandle() = default;
ThreadHandle::~ThreadHandle() = default;
ThreadHandle::ThreadHandle(ThreadHandle&& other) noexcept = default;
ThreadHandle& ThreadHandle::operator=(ThreadHandle&& other) noexcept = default;
ThreadHandle::ThreadHandle(std::unique_ptr<ThreadRecord> record) : record_(std::move(record)) {}

}  // namespace tarnwell
