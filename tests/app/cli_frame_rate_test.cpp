// The frame rate the user expects and the numbers as users write them, in
// tarnwell-cli: ffmpeg's libx264 writes 30 fps streams without
// fixed_frame_rate_flag, so the rule's 25 fps is named on standard error
// with the stream's own rate; --frame-rate stream and fractions; k and M
// suffixes; check --exact end to end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/app_fixture.h"
#include "support/process_runner.h"

namespace tarnwell {
namespace {

using test::TempFolder;

class Cli {
 public:
  test::ProcessResult run(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{TARNWELL_CLI};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return test::run_and_read(argv, folder.file("out.txt"), folder.file("err.txt"));
  }
  TempFolder folder;
};

constexpr char kNote30[] =
    "tarnwell-cli: frame rate 25.000 assumed, as the SPS has no fixed_frame_rate_flag; its timing information "
    "says 30.000, which --frame-rate stream uses\n";

// Two seconds at 30 fps through ffmpeg's libx264 (time_scale 60,
// num_units_in_tick 1, fixed_frame_rate_flag 0); empty when ffmpeg cannot.
std::string ffmpeg_30fps_stream(const TempFolder& folder) {
#ifdef _WIN32
  (void)folder;
  return "";
#else
  const std::string path = folder.file("ffmpeg-30fps.264");
  const std::string command =
      "ffmpeg -nostdin -loglevel error -f lavfi -i testsrc2=size=176x144:rate=30 -t 2 "
      "-c:v libx264 -b:v 200k -f h264 '" +
      path + "' >/dev/null 2>&1";
  return std::system(command.c_str()) == 0 ? path : "";
#endif
}

std::string line_of(const std::string& text, const std::string& key) {
  const std::size_t at = text.find(key + "=");
  return at == std::string::npos ? "" : text.substr(at, text.find('\n', at) - at);
}

TEST(CliFrameRate, AssumedRateIsNamedAndStreamTakesTheStreamsTiming) {
  Cli cli;
  const std::string ffmpeg = ffmpeg_30fps_stream(cli.folder);
  if (ffmpeg.empty()) GTEST_SKIP() << "ffmpeg with libx264 is needed";

  test::ProcessResult r = cli.run({"check", ffmpeg, "--bit-rate", "1M"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(line_of(r.out, "frame_rate"), "frame_rate=25.000");  // the rule stays
  EXPECT_EQ(r.err, kNote30);

  r = cli.run({"check", ffmpeg, "--bit-rate", "1M", "--frame-rate", "stream"});
  EXPECT_EQ(line_of(r.out, "frame_rate"), "frame_rate=30.000");
  EXPECT_EQ(r.err, "");
  r = cli.run({"check", ffmpeg, "--bit-rate", "1M", "--frame-rate", "30000/1001"});
  EXPECT_EQ(line_of(r.out, "frame_rate"), "frame_rate=29.970");
  EXPECT_EQ(r.err, "");

  r = cli.run({"curve", ffmpeg, "--bit-rates", "300k"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, kNote30);
  r = cli.run({"curve", ffmpeg, "--bit-rates", "300k", "--frame-rate", "stream", "--json"});
  EXPECT_EQ(r.out.rfind("{\"frame_rate\":30.000,", 0), 0u) << r.out;
  EXPECT_EQ(r.err, "");

  // A fixed rate (the x264 stream's 25 fps) and no timing at all (a
  // conformance stream without VUI): nothing to name, and "stream" gives
  // what the rule gives.
  for (const char* name : {test::kX264Stream, "BA_MW_D.264"}) {
    SCOPED_TRACE(name);
    for (const char* rate : {"0", "stream"}) {
      r = cli.run({"check", test::stream_path(name), "--bit-rate", "2M", "--frame-rate", rate});
      EXPECT_EQ(line_of(r.out, "frame_rate"), "frame_rate=25.000");
      EXPECT_EQ(r.err, "");
    }
  }
}

}  // namespace
}  // namespace tarnwell
