// check, info and the output files as the front end calls them, in process:
// the verdict and settings on out, the trace, plot and report made whole,
// the lines an input that could not be opened gives.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "app/app_fixture.h"
#include "app/check_command.h"
#include "app/info_command.h"
#include "app/output_target.h"
#include "support/recording_dialog.h"

namespace tarnwell {
namespace {

struct Ran {
  int code = 0;
  std::string out;
  std::string err;
};

// Runs one command unit with a fresh context over the stream at `path`
// (opened here unless `open` is false) and collects what it wrote.
template <typename Run>
Ran run_unit(const std::string& path, bool open, Run run) {
  test::TempFolder logs;
  test::RecordingDialog dialog;
  ApplicationContext context(dialog);
  context.reporter.set_stderr_enabled(false);
  context.shared.stream_path = path;
  std::FILE* input = open ? std::fopen(path.c_str(), "rb") : nullptr;
  std::FILE* out = std::fopen(logs.file("out").c_str(), "w");
  std::FILE* err = std::fopen(logs.file("err").c_str(), "w");
  Ran ran;
  ran.code = run(context, input, out, err);
  std::fclose(out);
  std::fclose(err);
  if (input != nullptr) std::fclose(input);
  ran.out = test::read_text(logs.file("out"));
  ran.err = test::read_text(logs.file("err"));
  return ran;
}

TEST(CheckCommand, VerdictTraceAndPlotOfARealStream) {
  test::TempFolder folder;
  CheckRequest request;
  request.options.command = CliCommand::Check;
  request.options.file = test::stream_path(test::kX264Stream);
  request.options.settings = CheckSettings{1000000, 900000, 1000000, 0.0};
  request.options.trace_path = folder.file("trace.csv");
  request.options.plot_path = folder.file("plot.svg");
  uint32_t passes = 0;
  request.on_pass = [&](uint32_t) { ++passes; };
  const Ran pass = run_unit(request.options.file, true, [&](ApplicationContext& context, std::FILE* in,
                                                            std::FILE* out, std::FILE* err) {
    context.settings = request.options.settings;
    return run_check(context, request, in, out, err);
  });
  EXPECT_EQ(pass.code, 0) << pass.err;
  EXPECT_EQ(pass.out, "PASS\nbuffer_size=1000000\ninitial_fill=900000\nbit_rate=1000000\nframe_rate=25.000\n");
  EXPECT_EQ(passes, 1u);
  const std::string trace = test::read_text(request.options.trace_path);
  EXPECT_EQ(trace.rfind("picture,size_bits,fullness_before,fullness_after\n0,125648,900000,814352\n", 0), 0u);
  EXPECT_NE(test::read_text(request.options.plot_path).find("Buffer of x264_cbr_1000k_25fps.264: PASS"),
            std::string::npos);

  // No input: the reason is said, the run ends as the dialog's does, the
  // trace is made all the same.
  request.input_error = "No such file or directory";
  request.options.file = folder.file("missing.264");
  const Ran missing = run_unit(request.options.file, false, [&](ApplicationContext& context, std::FILE* in,
                                                                std::FILE* out, std::FILE* err) {
    context.settings = request.options.settings;
    return run_check(context, request, in, out, err);
  });
  EXPECT_EQ(missing.code, 2);
  EXPECT_EQ(missing.err, "tarnwell-cli: cannot open '" + request.options.file + "': No such file or directory\n");
  EXPECT_EQ(missing.out.rfind("Cannot open input file\nbuffer_size=1000000\n", 0), 0u) << missing.out;
}

TEST(InfoCommand, ProfileLevelAndReportOrTheReasonItCannot) {
  test::TempFolder folder;
  CliRequest request;
  request.options.command = CliCommand::Info;
  request.options.file = test::stream_path(test::kX264Stream);
  request.options.hrd_path = folder.file("hrd.txt");
  const auto info = [&](ApplicationContext& context, std::FILE* in, std::FILE* out, std::FILE* err) {
    return run_info(context, request, in, out, err);
  };
  const Ran shown = run_unit(request.options.file, true, info);
  EXPECT_EQ(shown.code, 0) << shown.err;
  EXPECT_EQ(shown.out, "Profile: High\nLevel: 3\n");
  EXPECT_EQ(test::read_text(request.options.hrd_path), test::kX264HrdReport);

  request.options.hrd_path = folder.file("no-folder/hrd.txt");
  const Ran unwritable = run_unit(request.options.file, true, info);
  EXPECT_EQ(unwritable.code, 2);
  EXPECT_EQ(unwritable.err, "tarnwell-cli: Cannot open file for HRD info: " + request.options.hrd_path +
                                ": No such file or directory\n");
  request.options.hrd_path.clear();
  request.options.json = true;
  request.input_error = "it is a folder";
  request.options.file = folder.path();
  const Ran folder_input = run_unit(folder.path(), false, info);
  EXPECT_EQ(folder_input.code, 2);
  EXPECT_EQ(folder_input.err, "tarnwell-cli: cannot open '" + request.options.file + "': it is a folder\n");
  EXPECT_EQ(folder_input.out, "");
}

TEST(OutputFiles, PartsHoldRowsAsideAndAWholeTextReplacesAFile) {
  test::TempFolder folder;
  OutputParts parts;
  std::fputs("first pass\n", parts.part(0));
  std::fputs("test 2\n", parts.part(2));
  ASSERT_TRUE(parts.clear(0));
  std::fputs("second pass\n", parts.part(0));
  const std::string path = folder.file("rows.csv");
  std::FILE* out = std::fopen(path.c_str(), "wb");
  ASSERT_TRUE(parts.copy(0, out));
  ASSERT_TRUE(parts.copy(2, out));
  ASSERT_TRUE(parts.copy(7, out));  // never made: nothing
  std::fclose(out);
  EXPECT_EQ(test::read_bytes(path), "second pass\ntest 2\n");

  std::string reason;
  ASSERT_TRUE(write_output_file(path, "replaced", reason)) << reason;
  EXPECT_EQ(test::read_bytes(path), "replaced");
  EXPECT_FALSE(write_output_file(folder.path(), "x", reason));
  EXPECT_FALSE(reason.empty());
  // Nothing left beside the file.
  const auto entries = std::filesystem::directory_iterator(folder.path());
  EXPECT_EQ(std::distance(std::filesystem::begin(entries), std::filesystem::end(entries)), 1);
}

}  // namespace
}  // namespace tarnwell
