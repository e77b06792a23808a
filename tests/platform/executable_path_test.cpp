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
  std::string folder = executable_folder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), kPathSeparator);
  std::FILE* self = std::fopen((folder + kTestProgram).c_str(), "rb");
  EXPECT_NE(self, nullptr) << folder;
  if (self != nullptr) std::fclose(self);
}

TEST(FolderOf, CutsAfterTheLastSeparator) {
  const std::string s(1, kPathSeparator);
  EXPECT_EQ(folder_of("C:" + s + "tools" + s + "tarnwell.exe"), "C:" + s + "tools" + s);
  EXPECT_EQ(folder_of(s + "tarnwell"), s);
  EXPECT_EQ(folder_of("dir" + s), "dir" + s);
}

TEST(FolderOf, PathWithoutSeparatorGivesTheCurrentDirectory) {
  // Appending the report's name then names it in the current directory.
  EXPECT_EQ(folder_of("tarnwell.exe"), "");
  EXPECT_EQ(folder_of("") + "hrd.txt", "hrd.txt");
}

TEST(FolderOf, OnlyTheSystemsOwnSeparatorCounts) {
#ifdef _WIN32
  EXPECT_EQ(folder_of("C:\\a/b/tarnwell.exe"), "C:\\");
#else
  EXPECT_EQ(folder_of("/opt/a\\b\\tarnwell"), "/opt/");
#endif
}

TEST(FolderOf, LongPathIsSearchedToItsEnd) {
  // Far beyond the 255 characters that a fixed path buffer would hold.
  const std::string s(1, kPathSeparator);
  std::string folder = "C:";
  for (int i = 0; i < 40; ++i) folder += s + "folder" + std::to_string(i);
  folder += s;
  ASSERT_GT(folder.size(), 300u);
  EXPECT_EQ(folder_of(folder + "tarnwell.exe"), folder);
}

}  // namespace
}  // namespace tarnwell
