#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/app_fixture.h"
#include "inspect/codec_text.h"
#include "platform/executable_path.h"
#include "support/bit_writer.h"
#include "support/recording_dialog.h"
#include "support/stream_builder.h"

namespace tarnwell {
namespace {

using test::BitWriter;
using test::RecordingDialog;
using test::StreamBuilder;
using test::TempFolder;
using test::TempStreamFile;

// An SPS with the given profile, level and constrained_set3_flag, written in
// the syntax of its profile, then a PPS and two pictures.
StreamBuilder stream_with_sps(uint32_t profile_idc, uint32_t constrained_set3_flag, uint32_t level_idc) {
  BitWriter sps;
  sps.u(8, profile_idc).u(3, 0).u1(constrained_set3_flag).u(4, 0).u(8, level_idc).ue(0);
  switch (profile_idc) {
    case 100: case 110: case 122: case 144: case 44: case 83: case 86:
      sps.ue(1).ue(0).ue(0).u1(0).u1(0);  // 4:2:0, 8 bits, no scaling matrices
      break;
    default:
      break;
  }
  sps.ue(0).ue(2).ue(1).u1(0).ue(10).ue(8).u1(1).u1(1).u1(0).u1(0).trailing_bits();
  BitWriter pps;
  pps.ue(0).ue(0).u1(0).u1(0).ue(0).ue(0).ue(0).u1(0).u(2, 0).se(0).se(0).se(0).u1(1).u1(0).u1(0).trailing_bits();
  BitWriter idr;
  idr.ue(0).ue(7).ue(0).u(4, 0).ue(0).u(8, 0xA5).trailing_bits();
  BitWriter p;
  p.ue(0).ue(5).ue(0).u(4, 1).u(8, 0xA5).trailing_bits();
  StreamBuilder stream;
  stream.nal(3, 7, sps).nal(3, 8, pps).nal(3, 5, idr).nal(2, 1, p);
  return stream;
}

// A PPS and slices, but no SPS anywhere.
StreamBuilder stream_without_sps() {
  BitWriter pps;
  pps.ue(0).ue(0).u1(0).u1(0).ue(0).ue(0).ue(0).u1(0).u(2, 0).se(0).se(0).se(0).u1(1).u1(0).u1(0).trailing_bits();
  BitWriter idr;
  idr.ue(0).ue(7).ue(0).u(4, 0).ue(0).u(8, 0xA5).trailing_bits();
  StreamBuilder stream;
  stream.nal(3, 8, pps).nal(3, 5, idr).nal(3, 5, idr);
  return stream;
}

struct AppFixture {
  explicit AppFixture(uint32_t window_bytes = 1 << 20) : context(dialog, window_bytes) {
    context.reporter.set_stderr_enabled(false);
  }
  ProbeResult probe(const std::string& path) {
    context.shared.stream_path = path;
    return probe_profile_level(context);
  }
  std::vector<std::string> error_boxes() const {
    std::vector<std::string> texts;
    for (const test::ShownBox& box : dialog.boxes()) {
      if (box.kind == BoxKind::Error) texts.push_back(box.text);
    }
    return texts;
  }

  RecordingDialog dialog;
  ApplicationContext context;
};

// --- The profile/level probe ---------------------------------------------------

TEST(StreamProbe, ShowsProfileAndLevelOfEveryManifestStream) {
  for (const test::ManifestRow& row : test::read_manifest()) {
    SCOPED_TRACE(row.file);
    AppFixture f;  // as probed first after program start
    EXPECT_EQ(f.probe(test::stream_path(row.file)), ProbeResult::Shown);
    EXPECT_EQ(f.dialog.text_of(kEditProfile), profile_text(row.profile_idc));
    EXPECT_EQ(f.dialog.text_of(kEditLevel), level_text(row.level_idc, row.constraint_set3_flag));
    EXPECT_TRUE(f.error_boxes().empty());
    EXPECT_FALSE(f.context.parsing_busy());
  }
  AppFixture f;
  f.probe(test::stream_path(test::kX264Stream));
  EXPECT_EQ(f.dialog.text_of(kEditProfile), "High");
  EXPECT_EQ(f.dialog.text_of(kEditLevel), "3");
  f.probe(test::stream_path("Cisco_Men_whisper_640x320_CABAC_Bframe_9.264"));
  EXPECT_EQ(f.dialog.text_of(kEditProfile), "Main");
  EXPECT_EQ(f.dialog.text_of(kEditLevel), "reserved [52]");
}

TEST(StreamProbe, TableEdgesFromBuiltStreams) {
  struct Case {
    uint32_t profile_idc, constrained_set3_flag, level_idc;
    const char* profile;
    const char* level;
  };
  const Case cases[] = {
      {66, 0, 9, "Baseline", "1b"},          {66, 0, 11, "Baseline", "1.1"},
      {100, 1, 11, "High", "1b"},            {110, 0, 51, "High 10", "5.1"},
      {122, 0, 42, "High 4:2:2", "4.2"},     {77, 0, 52, "Main", "reserved [52]"},
      {44, 0, 30, "reserved [44]", "3"},     {86, 1, 12, "reserved [86]", "1.2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.profile_idc) + "/" + std::to_string(c.level_idc));
    TempStreamFile file(stream_with_sps(c.profile_idc, c.constrained_set3_flag, c.level_idc));
    AppFixture f(65536);
    EXPECT_EQ(f.probe(file.path()), ProbeResult::Shown);
    EXPECT_EQ(f.dialog.text_of(kEditProfile), c.profile);
    EXPECT_EQ(f.dialog.text_of(kEditLevel), c.level);
  }
}

TEST(StreamProbe, WithoutAnAcceptedSpsTheRecordedValuesStay) {
  TempStreamFile no_sps(stream_without_sps());
  TempStreamFile refused(stream_with_sps(200, 0, 40));
  TempStreamFile high(stream_with_sps(100, 0, 41));

  AppFixture f(65536);  // nothing parsed since the program started
  EXPECT_EQ(f.probe(no_sps.path()), ProbeResult::Shown);
  EXPECT_EQ(f.dialog.text_of(kEditProfile), "reserved [0]");
  EXPECT_EQ(f.dialog.text_of(kEditLevel), "reserved [0]");

  f.probe(high.path());
  f.probe(refused.path());  // only the profile is recorded
  EXPECT_EQ(f.dialog.text_of(kEditProfile), "reserved [200]");
  EXPECT_EQ(f.dialog.text_of(kEditLevel), "4.1");
  f.probe(no_sps.path());
  EXPECT_EQ(f.dialog.text_of(kEditProfile), "reserved [200]");
  EXPECT_EQ(f.dialog.text_of(kEditLevel), "4.1");
}

TEST(StreamProbe, FileThatDoesNotOpenShowsTheBoxAndKeepsTheEdits) {
  AppFixture f;
  f.dialog.set_text(kEditProfile, "High");
  f.dialog.set_text(kEditLevel, "3");
  f.dialog.clear_calls();
  EXPECT_EQ(f.probe(test::stream_path("no-such-stream.264")), ProbeResult::CannotOpen);
  ASSERT_EQ(f.dialog.calls().size(), 1u);
  EXPECT_EQ(f.dialog.boxes()[0].text, "Cannot open input file");
  EXPECT_EQ(f.dialog.boxes()[0].caption, "Error");
  EXPECT_EQ(f.dialog.text_of(kEditProfile), "High");
  EXPECT_EQ(f.dialog.text_of(kEditLevel), "3");
  EXPECT_FALSE(f.context.parsing_busy());
}

TEST(StreamProbe, BusyProbeChangesNothingAndAsksToRunWhenTheHolderLetsGo) {
  AppFixture f;
  int released = 0;
  f.context.set_on_parsing_released([&released] { ++released; });
  ApplicationContext::ParsingLease lease = f.context.try_take_parsing();
  ASSERT_TRUE(lease);
  EXPECT_EQ(f.probe(test::stream_path(test::kX264Stream)), ProbeResult::Busy);
  EXPECT_TRUE(f.dialog.calls().empty());
  EXPECT_EQ(released, 0);
  lease.release();
  EXPECT_EQ(released, 1);

  // Asked once, called once: a later holder's release calls nothing.
  f.context.try_take_parsing().release();
  EXPECT_EQ(released, 1);
  EXPECT_EQ(f.probe(test::stream_path(test::kX264Stream)), ProbeResult::Shown);
  EXPECT_EQ(f.dialog.text_of(kEditProfile), "High");
}

// --- The HRD report --------------------------------------------------------------

// A folder for a program's executable. Natively deeper than 300 characters:
// the report must not depend on a short path. Windows programs (Wine too)
// keep to MAX_PATH without the long-path prefix, so there it stays short.
std::string program_folder(const TempFolder& temp) {
  std::filesystem::path folder = temp.path();
#ifndef _WIN32
  for (int i = 0; folder.string().size() <= 300; ++i) {
    folder /= "a-folder-with-a-long-name-for-the-installed-program-" + std::to_string(i);
  }
#endif
  folder /= "bin";
  std::filesystem::create_directories(folder);
  return folder.string();
}

struct ReportRun {
  HrdReportResult result;
  std::vector<std::string> opened;
};

ReportRun report(AppFixture& f, const std::string& stream, const std::string& executable) {
  f.context.shared.stream_path = stream;
  ReportRun run;
  run.result = hrd_report_thread(f.context, executable,
                                 [&run](const std::string& path) { run.opened.push_back(path); });
  EXPECT_FALSE(f.context.parsing_busy());
  return run;
}

TEST(HrdReport, WritesHrdTxtBesideAnExecutableInADeepFolder) {
  TempFolder temp;
  const std::string folder = program_folder(temp);
#ifndef _WIN32
  ASSERT_GT(folder.size(), 300u);
#endif
  const std::string executable = folder + kPathSeparator + "tarnwell";
  const std::string report_path = folder + kPathSeparator + "hrd.txt";
  {
    std::ofstream old(report_path, std::ios::binary);
    old << std::string(4000, 'x');  // an earlier, longer report
  }

  AppFixture f;
  ReportRun run = report(f, test::stream_path(test::kX264Stream), executable);
  EXPECT_EQ(run.result, HrdReportResult::Written);
  EXPECT_EQ(test::read_bytes(report_path), test::as_written_in_text_mode(test::kX264HrdReport));
  EXPECT_EQ(run.opened, std::vector<std::string>{report_path});
  EXPECT_TRUE(f.error_boxes().empty());
  EXPECT_TRUE(f.dialog.calls().empty());  // no control is touched

  // A stream without SPS: only the framing lines, again replacing the file.
  TempStreamFile no_sps(stream_without_sps());
  run = report(f, no_sps.path(), executable);
  EXPECT_EQ(run.result, HrdReportResult::Written);
  EXPECT_EQ(test::read_bytes(report_path), test::as_written_in_text_mode(test::kEmptyHrdReport));

  // A following check or probe prints nothing into the closed report.
  EXPECT_FALSE(f.context.parsing.paramsets().sps_listener());
}

TEST(HrdReport, FailuresShowTheirBoxAndOpenNothing) {
  TempFolder temp;
  const std::string executable = temp.file("tarnwell");
  struct Case {
    std::string stream;
    std::string executable;
    HrdReportResult result;
    const char* message;
  };
  const Case cases[] = {
      {test::stream_path("no-such-stream.264"), executable, HrdReportResult::CannotOpenStream,
       "Cannot open input file"},
      {test::stream_path(test::kX264Stream), temp.file("missing-folder") + kPathSeparator + "tarnwell",
       HrdReportResult::CannotOpenReport, "Cannot open file for HRD info"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    AppFixture f;
    ReportRun run = report(f, c.stream, c.executable);
    EXPECT_EQ(run.result, c.result);
    EXPECT_EQ(f.error_boxes(), std::vector<std::string>{c.message});
    EXPECT_EQ(f.dialog.boxes()[0].caption, "Error");
    EXPECT_TRUE(run.opened.empty());
    EXPECT_FALSE(std::filesystem::exists(temp.file("hrd.txt")));
  }

  AppFixture f;
  ApplicationContext::ParsingLease lease = f.context.try_take_parsing();
  f.context.shared.stream_path = test::stream_path(test::kX264Stream);
  EXPECT_EQ(hrd_report_thread(f.context, executable, nullptr), HrdReportResult::Busy);
  EXPECT_EQ(f.error_boxes(), std::vector<std::string>{"Another check or report is still reading the stream."});
  EXPECT_FALSE(std::filesystem::exists(temp.file("hrd.txt")));
}

}  // namespace
}  // namespace tarnwell
