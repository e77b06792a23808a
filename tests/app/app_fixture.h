#pragma once
// What the probe, report and CLI tests share: the shared streams and their
// manifest, a scratch folder that is removed afterwards, files read back as
// text (support/process_runner.h), and the x264 stream's HRD report.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "support/process_runner.h"  // read_text
#include "support/stream_manifest.h"

namespace tarnwell::test {

// The file's bytes exactly.
inline std::string read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// What text mode writes for `text`: LF is stored as CR LF on Windows.
inline std::string as_written_in_text_mode(const std::string& text) {
#ifdef _WIN32
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
#else
  return text;
#endif
}

// A fresh folder in the temporary directory, removed with its content.
class TempFolder {
 public:
  TempFolder() {
    std::random_device device;
    char name[64];
    std::snprintf(name, sizeof name, "tarnwell-app-%08x%08x", device(), device());
    path_ = std::filesystem::temp_directory_path() / name;
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code error;
    std::filesystem::remove_all(path_, error);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // The folder's path in the system's own spelling, without a final separator.
  std::string path() const { return path_.string(); }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

inline constexpr char kX264Stream[] = "x264_cbr_1000k_25fps.264";

// The HRD report of the x264 stream: one SPS with NAL HRD parameters for a
// 1,000,000 bit/s CBR channel and a 1,000,000-bit buffer.
inline constexpr char kX264HrdReport[] =
    "---HRD INFO---\n\n"
    "NAL HRD INFO:\n\n"
    "cpb_cnt_minus1 = 0\n"
    "bit_rate_scale = 0\n"
    "cpb_size_scale = 2\n\n"
    "bit_rate_value_minus1[0] = 15624 [1000000 bits/s]\n"
    "cpb_size_value_minus1[0] = 15624 [1000000 bits]\n"
    "cbr_flag[0] = 1\n\n"
    "initial_cpb_removal_delay_length_minus1 = 18\n"
    "cpb_removal_delay_length_minus1 = 10\n"
    "dpb_output_delay_length_minus1 = 6\n"
    "time_offset_length = 0\n\n"
    "---END HRD INFO---\n\n";

inline constexpr char kEmptyHrdReport[] = "---HRD INFO---\n\n---END HRD INFO---\n\n";

}  // namespace tarnwell::test
