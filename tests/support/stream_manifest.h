#pragma once
// The shared test streams and their manifest: one row a stream, with its
// size, the profile and level in front of its first slice, its picture count
// and the file that lists its picture sizes (empty for a stream without
// pictures).
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace tarnwell::test {

inline std::string stream_path(const std::string& name) { return std::string(TARNWELL_STREAMS_DIR) + "/" + name; }

struct ManifestRow {
  std::string file;
  uint64_t bytes = 0;
  uint32_t profile_idc = 0;
  uint32_t level_idc = 0;
  uint32_t constraint_set3_flag = 0;
  uint32_t pictures = 0;
  std::string sizes_file;
};

inline std::vector<ManifestRow> read_manifest() {
  std::ifstream in(stream_path("manifest.csv"));
  std::vector<ManifestRow> rows;
  std::string line;
  std::getline(in, line);  // column names
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    std::vector<std::string> cells;
    std::stringstream fields(line);
    for (std::string cell; std::getline(fields, cell, ',');) cells.push_back(cell);
    if (cells.size() < 6) {
      ADD_FAILURE() << "short manifest row: " << line;
      continue;
    }
    const auto number = [&cells](std::size_t i) { return static_cast<uint32_t>(std::stoul(cells[i])); };
    rows.push_back({cells[0], std::stoull(cells[1]), number(2), number(3), number(4), number(5),
                    cells.size() > 6 ? cells[6] : std::string()});
  }
  return rows;
}

inline std::vector<uint32_t> read_sizes(const std::string& sizes_file) {
  std::vector<uint32_t> sizes;
  if (sizes_file.empty()) return sizes;
  std::ifstream in(stream_path(sizes_file));
  for (uint32_t size = 0; in >> size;) sizes.push_back(size);
  return sizes;
}

// A test name for a row: the file name with every other character than a
// letter or digit made '_'.
inline std::string row_name(const ::testing::TestParamInfo<ManifestRow>& info) {
  std::string name = info.param.file;
  for (char& c : name) {
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) c = '_';
  }
  return name;
}

}  // namespace tarnwell::test
