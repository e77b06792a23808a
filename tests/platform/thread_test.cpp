#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#endif

namespace tarnwell {
namespace {

// Size of the calling thread's whole stack as the system set it up.
std::size_t current_stack_bytes() {
#ifdef _WIN32
  // The stack is one reservation: add up the regions that share its base.
  int local = 0;
  MEMORY_BASIC_INFORMATION region{};
  if (VirtualQuery(&local, &region, sizeof region) == 0) return 0;
  void* reservation = region.AllocationBase;
  std::size_t size = 0;
  auto* address = static_cast<char*>(reservation);
  while (VirtualQuery(address, &region, sizeof region) != 0 && region.AllocationBase == reservation) {
    size += region.RegionSize;
    address += region.RegionSize;
  }
  return size;
#else
  pthread_attr_t attributes;
  if (pthread_getattr_np(pthread_self(), &attributes) != 0) return 0;
  void* base = nullptr;
  std::size_t size = 0;
  pthread_attr_getstack(&attributes, &base, &size);
  pthread_attr_destroy(&attributes);
  return size;
#endif
}

// Touches a block of the stack page by page, so that a stack smaller than
// the block faults instead of passing unnoticed.
[[gnu::noinline]] uint32_t use_stack(std::size_t bytes) {
  constexpr std::size_t kBlock = 900 * 1024;
  volatile unsigned char block[kBlock];
  std::size_t used = bytes < kBlock ? bytes : kBlock;
  for (std::size_t i = 0; i < used; i += 1024) block[i] = 1;
  uint32_t sum = 0;
  for (std::size_t i = 0; i < used; i += 1024) sum += block[i];
  return sum;
}

// Polls until the thread has ended; gives up after a generous bound so that
// a thread that never ends fails the test instead of hanging it.
bool ends_eventually(const ThreadHandle& thread) {
  for (int i = 0; i < 20000; ++i) {
    if (has_ended(thread)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

TEST(Thread, RunsWithTheRequestedStack) {
  std::atomic<std::size_t> stack_bytes{0};
  std::atomic<uint32_t> sum{0};
  ThreadHandle thread = start_thread(
      [&] {
        stack_bytes = current_stack_bytes();
        sum = use_stack(900 * 1024);
      },
      kWorkerStackBytes);
  ASSERT_TRUE(thread.started());
  ASSERT_TRUE(ends_eventually(thread));
  // The system may round up to its page or allocation granularity, but no
  // more: a default-sized stack (1 MB to 8 MB, depending on the system and
  // the linker) would be a different number.
  EXPECT_GE(stack_bytes.load(), kWorkerStackBytes);
  EXPECT_LE(stack_bytes.load(), kWorkerStackBytes + 64 * 1024);
  EXPECT_EQ(sum.load(), 900u);
}

TEST(Thread, HasEndedOnlyAfterTheBodyReturns) {
  std::atomic<bool> release{false};
  std::atomic<bool> running{false};
  ThreadHandle thread = start_thread(
      [&] {
        running = true;
        while (!release) std::this_thread::yield();
      },
      kWorkerStackBytes);
  ASSERT_TRUE(thread.started());
  while (!running) std::this_thread::yield();
  EXPECT_FALSE(has_ended(thread));
  EXPECT_FALSE(has_ended(thread));  // asking does not change the answer
  release = true;
  EXPECT_TRUE(ends_eventually(thread));
  EXPECT_TRUE(has_ended(thread));
}

TEST(Thread, BodyCapturesAreGoneWhenTheThreadHasEnded) {
  auto token = std::make_shared<int>(7);
  std::weak_ptr<int> watch = token;
  ThreadHandle thread = start_thread([held = std::move(token)] { (void)*held; }, kWorkerStackBytes);
  ASSERT_TRUE(ends_eventually(thread));
  EXPECT_TRUE(watch.expired());
}

TEST(Thread, RefusedThreadIsNotStartedAndDropsItsBody) {
  auto token = std::make_shared<int>(7);
  std::weak_ptr<int> watch = token;
  std::atomic<bool> ran{false};
  // No system gives a thread a stack of a quarter of the address space.
  ThreadHandle thread = start_thread([&ran, held = std::move(token)] { ran = true; },
                                     std::size_t{1} << 62);
  EXPECT_FALSE(thread.started());
  EXPECT_TRUE(has_ended(thread));
  EXPECT_FALSE(ran.load());
  EXPECT_TRUE(watch.expired());
}

TEST(Thread, NeverStartedCountsAsEnded) {
  ThreadHandle none;
  EXPECT_FALSE(none.started());
  EXPECT_TRUE(has_ended(none));
}

TEST(Thread, HandleReleasedWhileTheThreadRunsLeavesItRunning) {
  // Like an HRD report thread: nobody keeps the handle or waits.
  auto release = std::make_shared<std::atomic<bool>>(false);
  auto finished = std::make_shared<std::atomic<bool>>(false);
  {
    ThreadHandle thread = start_thread(
        [release, finished] {
          while (!*release) std::this_thread::yield();
          *finished = true;
        },
        kWorkerStackBytes);
    ASSERT_TRUE(thread.started());
  }
  *release = true;
  for (int i = 0; i < 20000 && !*finished; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_TRUE(finished->load());
}

TEST(Thread, MovedHandleKeepsTrackOfTheThread) {
  std::atomic<bool> release{false};
  ThreadHandle first = start_thread([&] { while (!release) std::this_thread::yield(); }, kWorkerStackBytes);
  ThreadHandle second;
  second = std::move(first);
  EXPECT_TRUE(second.started());
  EXPECT_FALSE(has_ended(second));
  release = true;
  EXPECT_TRUE(ends_eventually(second));
}

TEST(Thread, ManyShortThreadsInARow) {
  // One worker at a time, replaced as each ends: the pattern of repeated Checks.
  std::atomic<int> runs{0};
  ThreadHandle worker;
  for (int i = 0; i < 50; ++i) {
    ASSERT_TRUE(ends_eventually(worker));
    worker = start_thread([&] { ++runs; }, kWorkerStackBytes);
    ASSERT_TRUE(worker.started());
  }
  ASSERT_TRUE(ends_eventually(worker));
  EXPECT_EQ(runs.load(), 50);
}

}  // namespace
}  // namespace tarnwell
