// Picture counts and sizes of the shared real streams, taken the way a check
// takes them, against the sizes listed beside each stream.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "picture/parsing_state.h"
#include "picture_fixture.h"
#include "support/recording_dialog.h"
#include "support/stream_manifest.h"

namespace tarnwell {
namespace {

using test::ManifestRow;
using test::RecordingDialog;

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
  std::FILE* file = std::fopen(test::stream_path(row.file).c_str(), "rb");
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
  const std::vector<uint32_t> expected = test::read_sizes(row.sizes_file);
  EXPECT_EQ(expected.size(), row.pictures);
  EXPECT_EQ(pass.sizes, expected);
  EXPECT_LT(pass.counted, row.bytes);

  // A second pass in the same state, as a search step makes one, finds the
  // same pictures.
  std::rewind(file);
  EXPECT_EQ(take_pictures(state, file).sizes, pass.sizes);
  std::fclose(file);
}

INSTANTIATE_TEST_SUITE_P(Manifest, RealStream, ::testing::ValuesIn(test::read_manifest()), test::row_name);

TEST(RealStreamManifest, ListsEveryStream) { EXPECT_EQ(test::read_manifest().size(), 16u); }

}  // namespace
}  // namespace tarnwell
