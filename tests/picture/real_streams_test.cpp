// Picture counts and sizes of the shared real streams, taken the way a check
// takes them, against the sizes listed beside each stream.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "picture/parsing_state.h"
#include "picture_fixture.h"
#include "support/recording_dialog.h"

namespace tarnwell {
namespace {

using test::RecordingDialog;

const std::string kStreams = TARNWELL_STREAMS_DIR;

struct ManifestRow {
  std::string file;
  uint64_t bytes = 0;
  uint32_t pictures = 0;
  std::string sizes_file;
};

std::vector<ManifestRow> read_manifest() {
  std::vector<ManifestRow> rows;
  std::ifstream in(kStreams + "/manifest.csv");
  std::string line;
  std::getline(in, line);  // column names
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    std::vector<std::string> cells;
    std::stringstream cells_in(line);
    std::string cell;
    while (std::getline(cells_in, cell, ',')) cells.push_back(cell);
    if (line.back() == ',') cells.emplace_back();
    if (cells.size() < 7) continue;
    ManifestRow row;
    row.file = cells[0];
    row.bytes = std::stoull(cells[1]);
    row.pictures = static_cast<uint32_t>(std::stoul(cells[5]));
    row.sizes_file = cells[6];
    rows.push_back(row);
  }
  return rows;
}

std::vector<uint32_t> read_sizes(const std::string& name) {
  std::vector<uint32_t> sizes;
  if (name.empty()) return sizes;
  std::ifstream in(kStreams + "/" + name);
  uint32_t size = 0;
  while (in >> size) sizes.push_back(size);
  return sizes;
}

// One pass as the verification run makes it. The picture still open when the
// stream ends closes the list: its slices in picture_bytes, the non-slice NAL
// units met after its first slice in pending_bytes.
struct Pass {
  std::vector<uint32_t> sizes;  // complete pictures, then the open one if a picture began
  uint64_t counted = 0;         // every byte the pass counted
};

Pass take_pictures(ParsingState& state, std::FILE* file) {
  Pass pass;
  state.begin_pass();
  state.begin_stream(file);
  uint32_t bytes = 0;
  while (state.take_picture(bytes)) {
    pass.sizes.push_back(bytes);
    pass.counted += bytes;
  }
  if (state.picture_begun()) {
    pass.sizes.push_back(state.picture_bytes() + state.pending_bytes());
  }
  pass.counted += static_cast<uint64_t>(state.picture_bytes()) + state.pending_bytes();
  return pass;
}

class RealStream : public ::testing::TestWithParam<ManifestRow> {};

TEST_P(RealStream, PictureSizesMatchTheListedSizes) {
  const ManifestRow& row = GetParam();
  std::FILE* file = std::fopen((kStreams + "/" + row.file).c_str(), "rb");
  ASSERT_NE(file, nullptr) << row.file;

  RecordingDialog dialog;
  ErrorReporter reporter(dialog);
  reporter.set_stderr_enabled(false);
  FrameRateFraction rate;
  ParsingState state(reporter, rate);
  const Pass pass = take_pictures(state, file);

  // Only the stream of a subset SPS and its slice holds types this tool
  // does not know; every other stream parses without a report.
  std::vector<std::string> expected_reports;
  if (row.file == "sps_subsetsps_bothVUI.264") {
    expected_reports = {"Found NALU type 15, len 21 undefined, ignore NALU, moving on\n",
                        "Found NALU type 20, len 11273 undefined, ignore NALU, moving on\n"};
  }
  EXPECT_EQ(dialog.reports(), expected_reports);

  EXPECT_EQ(pass.sizes.size(), row.pictures);
  const std::vector<uint32_t> expected = read_sizes(row.sizes_file);
  EXPECT_EQ(expected.size(), row.pictures);
  EXPECT_EQ(pass.sizes, expected);
  EXPECT_LT(pass.counted, row.bytes);

  // A second pass in the same state, as a search step makes one, finds the
  // same pictures.
  std::rewind(file);
  EXPECT_EQ(take_pictures(state, file).sizes, pass.sizes);
  std::fclose(file);
}

std::string row_name(const ::testing::TestParamInfo<ManifestRow>& info) {
  std::string name = info.param.file;
  for (char& c : name) {
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) c = '_';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Manifest, RealStream, ::testing::ValuesIn(read_manifest()), row_name);

TEST(RealStreamManifest, ListsEveryStream) { EXPECT_EQ(read_manifest().size(), 16u); }

}  // namespace
}  // namespace tarnwell
