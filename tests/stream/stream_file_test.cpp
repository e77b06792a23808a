#include "stream/stream_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

namespace tarnwell {
namespace {

// A directory opens for reading on POSIX and then fails every read: taken as
// a stream, it would read as an empty one and pass every check.
TEST(StreamFile, DirectoryIsNotAStream) {
  std::random_device device;
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("tarnwell-stream-file-" + std::to_string(device()));
  std::filesystem::create_directories(folder);
  EXPECT_EQ(open_stream_file(folder.string().c_str()), nullptr);

  const std::string path = (folder / "stream.264").string();
  std::FILE* out = std::fopen(path.c_str(), "wb");
  ASSERT_NE(out, nullptr);
  std::fputs("\x00\x00\x01", out);
  std::fclose(out);
  std::FILE* file = open_stream_file(path.c_str());
  EXPECT_NE(file, nullptr);
  if (file != nullptr) std::fclose(file);
  EXPECT_EQ(open_stream_file((folder / "missing.264").string().c_str()), nullptr);

  std::error_code error;
  std::filesystem::remove_all(folder, error);
}

}  // namespace
}  // namespace tarnwell
