// A stream that cannot be sought (a pipe) must give exactly what the same
// bytes give as a file, also when a search has to read it again from its
// first byte: those readings come from the temporary copy made while the
// first one read the pipe.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/dialog_check_observer.h"
#include "context/application_context.h"
#include "stream/byte_source.h"
#include "stream/stream_file.h"
#include "support/recording_dialog.h"
#include "verify/check_run.h"

namespace tarnwell {
namespace {

using test::RecordingDialog;

#ifndef _WIN32
std::string stream_path(const char* name) { return std::string(TARNWELL_STREAMS_DIR) + "/" + name; }

struct Seen {
  CheckRunResult result;
  CheckSettings settings;
  std::vector<std::string> trace;
  uint32_t last_profile = 0;
};

// One check in a fresh context, reading `input` when it is set, else the path.
Seen check(const std::string& path, std::FILE* input, const CheckSettings& settings, uint64_t cache_bytes) {
  RecordingDialog dialog;
  ApplicationContext context(dialog, 1 << 20);
  context.reporter.set_stderr_enabled(false);
  context.settings = settings;
  context.shared.stream_path = path;
  Seen seen;
  DialogCheckObserver observer(dialog);
  CheckRun run(context, observer);
  run.input = input;
  run.replay_cache_bytes = cache_bytes;
  run.on_pass_start = [&](uint32_t pass) { seen.trace.push_back("pass " + std::to_string(pass)); };
  run.on_picture = [&](const PictureTrace& t) {
    seen.trace.push_back(std::to_string(t.size_bits) + " " + std::to_string(t.fullness_before) + " " +
                         std::to_string(t.fullness_after));
  };
  run.run();
  seen.result = run.result();
  seen.settings = context.settings;
  seen.last_profile = context.parsing.paramsets().last_profile_idc();
  return seen;
}

// Pipes through a shell: natively only.
TEST(UnseekableInput, PipeGivesWhatTheFileGivesEvenWhenASearchReadsAgain) {
  const std::string path = stream_path("x264_cbr_1000k_25fps.264");
  const CheckSettings searches[] = {
      {1000000, 900000, 0, 0.0},  // bit-rate search
      {0, 0, 1000000, 0.0},       // buffer-size search
      {1000000, 900000, 800000, 0.0},  // no search: underflow
  };
  // No cache at all, a cache given up after a few pictures, the default.
  for (uint64_t cache_bytes : {uint64_t{0}, uint64_t{4000}, kDefaultPictureCacheBytes}) {
    for (const CheckSettings& settings : searches) {
      SCOPED_TRACE(std::to_string(cache_bytes) + " bytes, bit rate " + std::to_string(settings.bit_rate));
      const Seen file = check(path, nullptr, settings, cache_bytes);
      std::FILE* pipe = popen(("cat '" + path + "'").c_str(), "r");
      ASSERT_NE(pipe, nullptr);
      ASSERT_FALSE(is_seekable_stream(pipe));
      const Seen piped = check(path, pipe, settings, cache_bytes);
      pclose(pipe);
      EXPECT_EQ(outcome_name(piped.result.outcome), std::string(outcome_name(file.result.outcome)));
      EXPECT_EQ(piped.result.message, file.result.message);
      EXPECT_EQ(piped.result.passes, file.result.passes);
      EXPECT_EQ(piped.result.reads, file.result.reads);
      EXPECT_EQ(piped.result.pictures, file.result.pictures);
      EXPECT_EQ(piped.settings.bit_rate, file.settings.bit_rate);
      EXPECT_EQ(piped.settings.buffer_size, file.settings.buffer_size);
      EXPECT_EQ(piped.settings.initial_fill, file.settings.initial_fill);
      EXPECT_EQ(piped.trace, file.trace);
      EXPECT_EQ(piped.last_profile, file.last_profile);
      if (cache_bytes == 0 && settings.bit_rate == 0) {
        EXPECT_GT(piped.result.reads, 1u);
      }
    }
  }
}
#endif

}  // namespace
}  // namespace tarnwell
