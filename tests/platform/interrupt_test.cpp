#include "platform/interrupt.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <unistd.h>
#endif

namespace tarnwell {
namespace {

TEST(InterruptGuard, OnlyOneGuardAtATime) {
  std::atomic<uint32_t> first_flag{0};
  std::atomic<uint32_t> second_flag{0};
  {
    InterruptGuard first(first_flag);
    EXPECT_TRUE(first.installed());
    InterruptGuard second(second_flag);
    EXPECT_FALSE(second.installed());
  }
  // The first guard is gone, so a new one may take its place.
  InterruptGuard third(second_flag);
  EXPECT_TRUE(third.installed());
}

// Exit codes of the child process in the tests below.
constexpr int kFirstCtrlCNotSeen = 3;
constexpr int kSecondCtrlCIgnored = 4;

#ifdef _WIN32

// Sends Ctrl-C to the console this process alone is attached to.
void press_ctrl_c() {
  GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
}

// The handler runs on a thread of the system's: wait for it, with a bound.
bool flag_raised(const std::atomic<uint32_t>& flag) {
  for (int i = 0; i < 10000 && flag.load() == 0; ++i) Sleep(1);
  return flag.load() == 1;
}

// Runs in a child process (a death test) with a console of its own, so that
// the Ctrl-C reaches nobody else.
void press_ctrl_c_twice_in_own_console() {
  FreeConsole();
  AllocConsole();
  std::atomic<uint32_t> abort_flag{0};
  InterruptGuard guard(abort_flag);
  press_ctrl_c();
  if (!guard.installed() || !flag_raised(abort_flag)) std::_Exit(kFirstCtrlCNotSeen);
  std::fputs("first Ctrl-C caught\n", stderr);
  std::fflush(stderr);
  press_ctrl_c();
  Sleep(10000);
  std::_Exit(kSecondCtrlCIgnored);
}

TEST(InterruptGuardDeathTest, FirstCtrlCSetsTheFlagSecondEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // Windows' default handler exits with STATUS_CONTROL_C_EXIT, Wine's with 0;
  // the child's own exits are 3 and 4.
  auto ended_by_ctrl_c = [](int status) {
    return status == static_cast<int>(STATUS_CONTROL_C_EXIT) || status == 0;
  };
  EXPECT_EXIT(press_ctrl_c_twice_in_own_console(), ended_by_ctrl_c, "first Ctrl-C caught");
}

#else

void press_ctrl_c_twice(const std::string& temporary) {
  std::atomic<uint32_t> abort_flag{0};
  InterruptGuard guard(abort_flag);
  std::FILE* file = std::fopen(temporary.c_str(), "w");
  if (file == nullptr || InterruptGuard::track_temporary(temporary.c_str()) < 0) _exit(kFirstCtrlCNotSeen);
  raise(SIGINT);
  if (!guard.installed() || abort_flag.load() != 1) _exit(kFirstCtrlCNotSeen);
  std::fputs("first Ctrl-C caught\n", stderr);
  std::fflush(stderr);
  raise(SIGINT);
  _exit(kSecondCtrlCIgnored);
}

// The second Ctrl-C ends the process, removing the tracked temporary file
// first.
TEST(InterruptGuardDeathTest, FirstCtrlCSetsTheFlagSecondEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // The same name in the child, which runs this test again from its start.
  const std::string temporary = testing::TempDir() + "tarnwell-interrupt-test.tmp";
  EXPECT_EXIT(press_ctrl_c_twice(temporary), testing::KilledBySignal(SIGINT), "first Ctrl-C caught");
  EXPECT_NE(access(temporary.c_str(), F_OK), 0);
  std::remove(temporary.c_str());
}

// A read of the watched input that would wait forever (a pipe whose writer
// is silent) finds its end once Ctrl-C came; a descriptor that now belongs
// to another file is left alone.
TEST(InterruptGuard, CtrlCEndsTheWaitForTheWatchedInputOnly) {
  int silent[2];
  ASSERT_EQ(pipe(silent), 0);
  std::atomic<uint32_t> abort_flag{0};
  {
    InterruptGuard guard(abort_flag);
    ASSERT_TRUE(guard.installed());
    guard.watch_input(silent[0]);
    raise(SIGINT);
    char byte = 0;
    EXPECT_EQ(read(silent[0], &byte, 1), 0);
  }
  close(silent[0]);
  close(silent[1]);

  int first[2];
  ASSERT_EQ(pipe(first), 0);
  abort_flag = 0;
  InterruptGuard guard(abort_flag);
  guard.watch_input(first[0]);
  const int number = first[0];
  close(first[0]);
  close(first[1]);
  int other[2];
  ASSERT_EQ(pipe(other), 0);
  ASSERT_EQ(other[0], number);  // the lowest free descriptor is taken again
  raise(SIGINT);
  ASSERT_EQ(write(other[1], "x", 1), 1);
  char byte = 0;
  EXPECT_EQ(read(other[0], &byte, 1), 1);
  close(other[0]);
  close(other[1]);
}

void (*current_sigint_handler())(int) {
  struct sigaction current {};
  sigaction(SIGINT, nullptr, &current);
  return current.sa_handler;
}

TEST(InterruptGuard, CtrlCSetsTheAbortFlag) {
  std::atomic<uint32_t> abort_flag{0};
  InterruptGuard guard(abort_flag);
  ASSERT_TRUE(guard.installed());
  raise(SIGINT);
  EXPECT_EQ(abort_flag.load(), 1u);
  // Cleared by the next Check, the flag is ready for the next Ctrl-C.
  abort_flag = 0;
  raise(SIGINT);
  EXPECT_EQ(abort_flag.load(), 1u);
}

TEST(InterruptGuard, GivesBackThePreviousHandling) {
  void (*before)(int) = current_sigint_handler();
  {
    std::atomic<uint32_t> abort_flag{0};
    InterruptGuard guard(abort_flag);
    ASSERT_TRUE(guard.installed());
    EXPECT_NE(current_sigint_handler(), before);
  }
  EXPECT_EQ(current_sigint_handler(), before);
}

#endif

}  // namespace
}  // namespace tarnwell
