#include "platform/shell_open.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>

namespace tarnwell {
namespace {

namespace fs = std::filesystem;

TEST(ShellOpen, NonexistentFileReturnsWithoutShowingAnything) {
  fs::path missing = fs::temp_directory_path() / "tarnwell-no-such-dir" / "hrd.txt";
  ShellOpenOptions options;
  options.viewer = "tarnwell-no-such-viewer";  // Windows: the shell refuses the missing file
  EXPECT_FALSE(shell_open(missing.string(), options));
}

#ifndef _WIN32

TEST(ShellOpen, MissingViewerIsNoError) {
  ShellOpenOptions options;
  options.viewer = "tarnwell-no-such-viewer";
  EXPECT_FALSE(shell_open("/etc/hostname", options));
  options.viewer = "";
  EXPECT_FALSE(shell_open("/etc/hostname", options));
}

TEST(ShellOpen, ViewerGetsThePathAsOneArgumentInTheBackground) {
  // "touch" stands in for the viewer: the file it creates shows that the
  // path arrived whole, blanks, quotes and a dollar sign included.
  fs::path folder = fs::temp_directory_path() / "tarnwell shell 'open' $HOME";
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  ASSERT_TRUE(fs::create_directories(folder));
  fs::path target = folder / "hrd.txt";
  ShellOpenOptions options;
  options.viewer = "touch";
  EXPECT_TRUE(shell_open(target.string(), options));
  // The viewer is not waited for: poll, with a bound so that a fault fails
  // instead of hanging.
  for (int i = 0; i < 10000 && !fs::exists(target); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_TRUE(fs::exists(target));
  fs::remove_all(folder, ignored);
}

#endif

}  // namespace
}  // namespace tarnwell
