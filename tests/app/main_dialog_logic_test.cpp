#include "app/main_dialog_logic.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "context/application_context.h"
#include "platform/executable_path.h"
#include "support/recording_dialog.h"
#include "support/ts_builder.h"

namespace tarnwell {
namespace {

using test::RecordingDialog;

std::string stream(const char* file) { return std::string(TARNWELL_STREAMS_DIR) + "/" + file; }

// A name longer than `length` characters for the same stream: the folder
// repeated as "/." steps.
std::string long_name_of(const char* file, std::size_t length) {
  std::string path = TARNWELL_STREAMS_DIR;
  while (path.size() < length) path += "/.";
  return path + "/" + file;
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Like the real edit, writing edit 1001 raises its change notification.
class EditingDialog : public RecordingDialog {
 public:
  std::function<void()> on_path_edited;
  void set_text(int control, const std::string& text) override {
    RecordingDialog::set_text(control, text);
    if (control == kEditStreamPath && on_path_edited) on_path_edited();
  }
  // The user types into an edit.
  void type(int control, const std::string& text) { set_text(control, text); }
};

class MainDialogLogicTest : public ::testing::Test {
 protected:
  MainDialogLogicTest() {
    dialog.on_path_edited = [this] { logic.on_stream_path_changed(); };
    logic.initialise();
  }

  // Workers run at once, on the calling thread, and count as ended.
  ThreadHandle run_inline(std::function<void()> body) {
    ++workers_started;
    body();
    return ThreadHandle();
  }

  bool box_shown(const std::string& text) const {
    for (const auto& box : dialog.boxes()) {
      if (box.text == text) return true;
    }
    return false;
  }

  EditingDialog dialog;
  ApplicationContext context{dialog};
  std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                 ("tarnwell-dialog-logic-" + std::to_string(reinterpret_cast<std::uintptr_t>(this)));
  std::vector<std::string> opened;
  std::atomic<int> change_again_requests{0};
  int workers_started = 0;
  MainDialogLogic::ThreadStarter starter = [this](std::function<void()> body) { return run_inline(std::move(body)); };
  MainDialogLogic logic{context, (folder / "tarnwell.exe").string(),
                        [this](const std::string& path) { opened.push_back(path); },
                        [this] { ++change_again_requests; },
                        [this](std::function<void()> body) { return starter(std::move(body)); }};
};

// --- start -------------------------------------------------------------------

TEST_F(MainDialogLogicTest, InitialiseShowsTheDefaultsAndDisablesAbort) {
  EXPECT_EQ(dialog.text_of(kEditBufferSize), "10000000");
  EXPECT_EQ(dialog.text_of(kEditInitialFill), "9000000");
  EXPECT_EQ(dialog.text_of(kEditBitRate), "0");
  EXPECT_EQ(dialog.text_of(kEditFrameRate), "0");
  EXPECT_FALSE(dialog.enabled_of(kButtonAbort));
  EXPECT_TRUE(dialog.enabled_of(kButtonCheck));
  // The settings are not filled until Check.
  EXPECT_EQ(context.settings.buffer_size, 0u);
}

// --- the file name -------------------------------------------------------------

TEST_F(MainDialogLogicTest, NameOfAStreamShowsItsProfileAndLevelAndBecomesTheStreamPath) {
  dialog.type(kEditStreamPath, stream("x264_cbr_1000k_25fps.264"));
  EXPECT_EQ(dialog.text_of(kEditProfile), "High");
  EXPECT_EQ(dialog.text_of(kEditLevel), "3");
  EXPECT_EQ(context.shared.stream_path, stream("x264_cbr_1000k_25fps.264"));
  EXPECT_TRUE(dialog.boxes().empty());
}

// A folder's name is tested as the run opens the stream: a plain fopen opens a
// folder on Linux, which kept the previous file's profile and level.
TEST_F(MainDialogLogicTest, NameThatDoesNotOpenEmptiesTheStreamPathAndClearsProfileAndLevel) {
  for (const std::string& name : {stream("test_scalinglist_jm.264x"), std::string(TARNWELL_STREAMS_DIR)}) {
    SCOPED_TRACE(name);
    dialog.type(kEditStreamPath, stream("test_scalinglist_jm.264"));
    ASSERT_EQ(dialog.text_of(kEditProfile), "High");
    dialog.type(kEditStreamPath, name);
    EXPECT_EQ(dialog.text_of(kEditProfile), "");
    EXPECT_EQ(dialog.text_of(kEditLevel), "");
    EXPECT_EQ(context.shared.stream_path, "");
    EXPECT_TRUE(dialog.boxes().empty()) << "nothing is reported either way";
  }
}

// A container or another codec's stream is told by its first bytes: one box
// that says what it is, Profile and Level of the file before cleared, and
// none of the parser's boxes about what it would make of the bytes.
TEST_F(MainDialogLogicTest, NameOfAFileThatIsNoH264StreamShowsWhatItIsAndClearsProfileAndLevel) {
  std::filesystem::create_directories(folder);
  struct Case {
    const char* name;
    std::string bytes;
    std::string message;
  };
  std::string ts;
  for (int i = 0; i < 20; ++i) ts += "G" + std::string(187, '\x1F');
  const std::string mp4_path = (folder / "clip.mp4").string();
  const std::string mp4_out = (folder / "clip").string();
  const std::vector<Case> cases = {
      {"clip.mp4", std::string("\0\0\0\x18" "ftypmp42", 12) + std::string(500, '\0'),
       "'clip.mp4' is an MP4 file, not an H.264 Annex B stream. Extract its video first, for example with:\n"
       "ffmpeg -i \"" + mp4_path + "\" -c:v copy -bsf:v h264_mp4toannexb -f h264 \"" + mp4_out + ".264\""},
      // A transport stream is read as one: this one has no H.264 stream.
      {"clip.ts", ts, "no H.264 stream in the transport stream; no program association table was found"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = (folder / c.name).string();
    std::ofstream(path, std::ios::binary) << c.bytes;
    dialog.type(kEditStreamPath, stream("x264_cbr_1000k_25fps.264"));
    ASSERT_EQ(dialog.text_of(kEditProfile), "High");
    const std::size_t boxes_before = dialog.boxes().size();
    dialog.type(kEditStreamPath, path);
    EXPECT_EQ(dialog.text_of(kEditProfile), "");
    EXPECT_EQ(dialog.text_of(kEditLevel), "");
    EXPECT_EQ(context.shared.stream_path, path);
    const std::vector<test::ShownBox> boxes = dialog.boxes();
    ASSERT_EQ(boxes.size(), boxes_before + 1);
    EXPECT_EQ(boxes.back().text.substr(0, c.message.size()), c.message);
    EXPECT_EQ(boxes.back().kind, BoxKind::Warning);
  }
  std::filesystem::remove_all(folder);
}

// A transport stream is probed, checked and reported as the H.264 stream it
// carries.
TEST_F(MainDialogLogicTest, TransportStreamIsReadAsItsH264Stream) {
  std::filesystem::create_directories(folder);
  const test::Bytes es = test::read_file_bytes(stream("x264_cbr_1000k_25fps.264"));
  uint8_t psi_cc = 0;
  uint8_t pmt_cc = 0;
  uint8_t video_cc = 0;
  std::vector<test::Bytes> packets = test::section_packets(0, test::pat_section({{1, 0x1000}}), psi_cc);
  for (test::Bytes& p : test::section_packets(0x1000, test::pmt_section(1, 0x100, {{0x1B, 0x100}}), pmt_cc)) {
    packets.push_back(std::move(p));
  }
  test::Bytes pes = test::pes_header(0);
  pes.insert(pes.end(), es.begin(), es.end());
  for (test::Bytes& p : test::pes_packets(0x100, pes, video_cc)) packets.push_back(std::move(p));
  const std::string path = (folder / "x264.ts").string();
  ASSERT_TRUE(test::write_file_bytes(path, test::join(packets)));

  dialog.type(kEditStreamPath, path);
  EXPECT_EQ(dialog.text_of(kEditProfile), "High");
  EXPECT_EQ(dialog.text_of(kEditLevel), "3");
  dialog.type(kEditBufferSize, "1000000");
  dialog.type(kEditInitialFill, "900000");
  dialog.type(kEditBitRate, "1000000");
  logic.on_check();
  EXPECT_TRUE(dialog.boxes().empty());
  EXPECT_EQ(dialog.text_of(kEditFrameRate), "25.000");
  dialog.type(kEditBitRate, "100000");
  logic.on_check();
  ASSERT_FALSE(dialog.boxes().empty());
  EXPECT_EQ(dialog.boxes().back().text.rfind("UNDERFLOW", 0), 0u) << dialog.boxes().back().text;
  logic.on_hrd_info();
  EXPECT_NE(read_file(folder / "hrd.txt").find("[1000000 bits/s]"), std::string::npos);
  std::filesystem::remove_all(folder);
}

// The change handler reads the whole name, as Check does; it used to read
// only 254 characters and probe another file.
TEST_F(MainDialogLogicTest, NameLongerThan254CharactersIsProbedWhole) {
  const std::string name = long_name_of("test_scalinglist_jm.264", 300);
  dialog.type(kEditStreamPath, name);
  EXPECT_EQ(dialog.text_of(kEditProfile), "High");
  EXPECT_EQ(dialog.text_of(kEditLevel), "4");
  EXPECT_EQ(context.shared.stream_path, name);
}

TEST_F(MainDialogLogicTest, NameChangedWhileAnotherUserReadsTheStreamIsProbedWhenItLetsGo) {
  dialog.type(kEditStreamPath, stream("SVA_BA2_D.264"));
  ASSERT_EQ(dialog.text_of(kEditProfile), "Baseline");
  {
    ApplicationContext::ParsingLease report = context.try_take_parsing();
    ASSERT_TRUE(report);
    dialog.type(kEditStreamPath, stream("x264_cbr_1000k_25fps.264"));
    // Neither the path nor the fields change under the reader's feet.
    EXPECT_EQ(dialog.text_of(kEditProfile), "Baseline");
    EXPECT_EQ(context.shared.stream_path, stream("SVA_BA2_D.264"));
    EXPECT_EQ(change_again_requests.load(), 0);
  }
  // Letting go asks the dialog to run the change handling again.
  EXPECT_EQ(change_again_requests.load(), 1);
  logic.on_stream_path_changed();
  EXPECT_EQ(dialog.text_of(kEditProfile), "High");
  EXPECT_EQ(dialog.text_of(kEditLevel), "3");
  EXPECT_EQ(context.shared.stream_path, stream("x264_cbr_1000k_25fps.264"));
}

// --- Check -----------------------------------------------------------------------

TEST_F(MainDialogLogicTest, CheckReadsTheEditsAndRunsTheCheck) {
  dialog.type(kEditStreamPath, stream("x264_cbr_1000k_25fps.264"));
  dialog.type(kEditBufferSize, "1000000");
  dialog.type(kEditInitialFill, "900000");
  dialog.type(kEditBitRate, "1000000");
  context.shared.abort_requested = 1;
  logic.on_check();
  EXPECT_EQ(workers_started, 1);
  EXPECT_EQ(context.settings.buffer_size, 1000000u);
  EXPECT_EQ(context.settings.bit_rate, 1000000u);
  EXPECT_EQ(context.shared.abort_requested.load(), 0u);
  // The run passed: no message, the stream's frame rate shown, buttons idle.
  EXPECT_TRUE(dialog.boxes().empty());
  EXPECT_EQ(dialog.text_of(kEditFrameRate), "25.000");
  EXPECT_GT(dialog.progress_of(kProgressFile), 90u);
  EXPECT_TRUE(dialog.enabled_of(kButtonCheck));
  EXPECT_FALSE(dialog.enabled_of(kButtonAbort));
}

// The end of a stream without a message passes only a stream that had a
// picture: a run over none says so.
TEST_F(MainDialogLogicTest, CheckOfAStreamWithoutPicturesSaysThatNoPictureWasChecked) {
  dialog.type(kEditStreamPath, stream("sps_subsetsps_bothVUI.264"));
  dialog.type(kEditBitRate, "1000000");
  const std::size_t boxes_before = dialog.boxes().size();
  logic.on_check();
  const std::vector<test::ShownBox> boxes = dialog.boxes();
  ASSERT_GT(boxes.size(), boxes_before);
  EXPECT_EQ(boxes.back().text, "No picture was checked");
  EXPECT_EQ(boxes.back().caption, "Error");
  EXPECT_TRUE(dialog.enabled_of(kButtonCheck));
  EXPECT_FALSE(dialog.enabled_of(kButtonAbort));
}

TEST_F(MainDialogLogicTest, CheckIsIgnoredWhileTheLastRunLivesAndStartsOneAfterItEnded) {
  // Workers wait for the test's word before they run.
  std::promise<void> go;
  std::shared_future<void> gate = go.get_future().share();
  std::atomic<int> finished{0};
  starter = [&](std::function<void()> body) {
    ++workers_started;
    return start_thread(
        [gate, body = std::move(body), &finished] {
          gate.wait();
          body();
          ++finished;
        },
        kWorkerStackBytes);
  };
  auto wait_for_workers = [&] {
    while (finished.load() < workers_started || logic.worker_alive()) std::this_thread::yield();
  };
  dialog.type(kEditStreamPath, stream("SVA_BA2_D.264"));
  dialog.type(kEditBitRate, "1000000");
  logic.on_check();
  logic.on_check();
  EXPECT_EQ(workers_started, 1) << "the second press finds the first run alive";
  EXPECT_TRUE(logic.worker_alive());

  go.set_value();
  wait_for_workers();
  logic.on_check();
  EXPECT_EQ(workers_started, 2) << "a run that has ended does not hold Check back";
  wait_for_workers();
}

TEST_F(MainDialogLogicTest, CheckWhileAReportReadsTheStreamShowsTheBusyMessageAndChangesNothing) {
  dialog.type(kEditStreamPath, stream("x264_cbr_1000k_25fps.264"));
  dialog.type(kEditBufferSize, "1234");
  ApplicationContext::ParsingLease report = context.try_take_parsing();
  ASSERT_TRUE(report);
  logic.on_check();
  EXPECT_EQ(workers_started, 0);
  ASSERT_EQ(dialog.boxes().size(), 1u);
  EXPECT_EQ(dialog.boxes()[0].text, "Another check or report is still reading the stream.");
  EXPECT_EQ(dialog.boxes()[0].caption, "Error");
  EXPECT_EQ(context.settings.buffer_size, 0u) << "the settings are not read";
}

TEST_F(MainDialogLogicTest, AbortAsksTheRunToStop) {
  logic.on_abort();
  EXPECT_EQ(context.shared.abort_requested.load(), 1u);
}

// --- Browse ------------------------------------------------------------------------

// A cancelled Browse leaves the stream path as it was, so HRD Info still
// reads the stream the edit shows (it used to empty the path and fail).
TEST_F(MainDialogLogicTest, CancelledBrowseLeavesTheStreamPathAndTheEdit) {
  std::filesystem::create_directories(folder);
  dialog.type(kEditStreamPath, stream("x264_cbr_1000k_25fps.264"));
  dialog.clear_calls();
  logic.on_browse_closed("");
  EXPECT_TRUE(dialog.calls().empty());
  EXPECT_EQ(context.shared.stream_path, stream("x264_cbr_1000k_25fps.264"));

  logic.on_hrd_info();
  EXPECT_FALSE(box_shown("Cannot open input file"));
  EXPECT_EQ(opened.size(), 1u);
  std::filesystem::remove_all(folder);
}

TEST_F(MainDialogLogicTest, ChosenFileIsWrittenIntoTheEditAndProbed) {
  logic.on_browse_closed(stream("test_scalinglist_jm.264"));
  EXPECT_EQ(dialog.text_of(kEditStreamPath), stream("test_scalinglist_jm.264"));
  EXPECT_EQ(context.shared.stream_path, stream("test_scalinglist_jm.264"));
  EXPECT_EQ(dialog.text_of(kEditProfile), "High");
  EXPECT_EQ(dialog.text_of(kEditLevel), "4");
}

// --- HRD Info ------------------------------------------------------------------------

TEST_F(MainDialogLogicTest, HrdInfoWritesTheReportBesideTheExecutableAndOpensIt) {
  std::filesystem::create_directories(folder);
  dialog.type(kEditStreamPath, stream("x264_cbr_1000k_25fps.264"));
  logic.on_hrd_info();
  EXPECT_EQ(workers_started, 1);
  const std::filesystem::path report = folder / "hrd.txt";
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(std::filesystem::path(opened[0]), report);
  const std::string text = read_file(report);
  EXPECT_EQ(text.rfind("---HRD INFO---", 0), 0u) << text;
  EXPECT_NE(text.find("[1000000 bits/s]"), std::string::npos) << text;
  EXPECT_FALSE(logic.worker_alive()) << "the report's thread is not kept";
  std::filesystem::remove_all(folder);
}

TEST_F(MainDialogLogicTest, HrdInfoWhileTheStreamIsTakenShowsTheBusyMessageAndWritesNothing) {
  dialog.type(kEditStreamPath, stream("x264_cbr_1000k_25fps.264"));
  ApplicationContext::ParsingLease run = context.try_take_parsing();
  ASSERT_TRUE(run);
  logic.on_hrd_info();
  EXPECT_TRUE(box_shown("Another check or report is still reading the stream."));
  EXPECT_TRUE(opened.empty());
  EXPECT_FALSE(std::filesystem::exists(folder / "hrd.txt"));
}

// --- The buffer plot of the last check ----------------------------------------------

TEST_F(MainDialogLogicTest, PlotOfTheLastCheckIsWrittenBesideTheExecutableOnceACheckHasEnded) {
  dialog.type(kEditStreamPath, stream("x264_cbr_1000k_25fps.264"));
  dialog.type(kEditBufferSize, "1000000");
  dialog.type(kEditInitialFill, "900000");
  dialog.type(kEditBitRate, "900000");
  EXPECT_FALSE(logic.plot_available());
  EXPECT_FALSE(logic.on_plot_last_check());
  EXPECT_TRUE(dialog.boxes().empty());

  logic.on_check();
  ASSERT_TRUE(box_shown("UNDERFLOW frame size=115208 bits, underflow=47104 bits"));
  EXPECT_TRUE(logic.plot_available());
  // The program's folder does not exist yet: the file cannot be written.
  EXPECT_FALSE(logic.on_plot_last_check());
  EXPECT_TRUE(box_shown("Cannot open file for the buffer plot"));
  EXPECT_TRUE(opened.empty());

  std::filesystem::create_directories(folder);
  ASSERT_TRUE(logic.on_plot_last_check());
  const std::filesystem::path plot = folder / "tarnwell-plot.svg";
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(std::filesystem::path(opened[0]), plot);
  const std::string svg = read_file(plot);
  EXPECT_NE(svg.find("Buffer of x264_cbr_1000k_25fps.264: UNDERFLOW frame size=115208 bits"), std::string::npos);
  EXPECT_NE(svg.find("picture 150: UNDERFLOW"), std::string::npos);
  std::filesystem::remove_all(folder);
}

// --- dropped files --------------------------------------------------------------------

TEST_F(MainDialogLogicTest, DroppedFileIsWrittenIntoTheEditProbedAndBecomesTheStreamPath) {
  logic.on_files_dropped(1, stream("x264_cbr_1000k_25fps.264"));
  EXPECT_TRUE(dialog.boxes().empty());
  EXPECT_EQ(dialog.text_of(kEditStreamPath), stream("x264_cbr_1000k_25fps.264"));
  EXPECT_EQ(dialog.text_of(kEditProfile), "High");
  EXPECT_EQ(context.shared.stream_path, stream("x264_cbr_1000k_25fps.264"));
}

TEST_F(MainDialogLogicTest, TwoDroppedFilesShowTheWarningThenTakeTheFirst) {
  dialog.clear_calls();
  logic.on_files_dropped(2, stream("test_scalinglist_jm.264"));
  const std::vector<test::DialogCall> calls = dialog.calls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls[0].kind, test::DialogCall::Box);
  EXPECT_EQ(calls[0].text, "Multiple files dropped - only one file will be processed");
  EXPECT_EQ(calls[0].caption, "Warning");
  EXPECT_EQ(calls[0].box, BoxKind::Warning);
  EXPECT_EQ(dialog.text_of(kEditStreamPath), stream("test_scalinglist_jm.264"));
  EXPECT_EQ(dialog.text_of(kEditLevel), "4");
}

TEST_F(MainDialogLogicTest, DropWhosePathCannotBeReadShowsTheErrorAndChangesNothing) {
  dialog.type(kEditStreamPath, stream("x264_cbr_1000k_25fps.264"));
  dialog.clear_calls();
  logic.on_files_dropped(1, std::nullopt);
  ASSERT_EQ(dialog.calls().size(), 1u);
  EXPECT_EQ(dialog.boxes()[0].text, "Unable to get dropped file information");
  EXPECT_EQ(dialog.boxes()[0].kind, BoxKind::Error);
  EXPECT_EQ(context.shared.stream_path, stream("x264_cbr_1000k_25fps.264"));
}

TEST_F(MainDialogLogicTest, DroppedFileThatDoesNotOpenClearsProfileAndLevelYetBecomesTheStreamPath) {
  dialog.type(kEditStreamPath, stream("x264_cbr_1000k_25fps.264"));
  logic.on_files_dropped(1, stream("missing.264"));
  EXPECT_EQ(dialog.text_of(kEditProfile), "");
  EXPECT_EQ(dialog.text_of(kEditLevel), "");
  EXPECT_EQ(context.shared.stream_path, stream("missing.264"));
}

// A dropped path is taken whole; it used to be cut at 259 characters and the
// cut path, naming no file, was used.
TEST_F(MainDialogLogicTest, DroppedPathLongerThan259CharactersIsTakenWhole) {
  const std::string name = long_name_of("test_scalinglist_jm.264", 400);
  logic.on_files_dropped(1, name);
  EXPECT_EQ(dialog.text_of(kEditStreamPath), name);
  EXPECT_EQ(context.shared.stream_path, name);
  EXPECT_EQ(dialog.text_of(kEditProfile), "High");
}

}  // namespace
}  // namespace tarnwell
