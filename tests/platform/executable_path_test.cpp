#include "platform/executable_path.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace tarnwell {
namespace {

#ifdef _WIN32
constexpr char kTestProgram[] = "test_platform.exe";
#else
constexpr char kTestProgram[] = "test_platform";
#endif

bool ends_with(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

TEST(ExecutablePath, NamesThisTestProgram) {
  std::string path = executable_path();
  EXPECT_TRUE(ends_with(path, std::string(1, kPathSeparator) + kTestProgram)) << path;
}

TEST(ExecutablePath, FolderHoldsThisProgram) {
  const std::string path = executable_path();
  const std::string folder = path.substr(0, path.rfind(kPathSeparator) + 1);
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), kPathSeparator);
  std::FILE* self = std::fopen((folder + kTestProgram).c_str(), "rb");
  EXPECT_NE(self, nullptr) << folder;
  if (self != nullptr) std::fclose(self);
}

}  // namespace
}  // namespace tarnwell
