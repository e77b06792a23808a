// End-to-end tests of tarnwell.exe: the program is started as a user starts
// it, and its dialog is worked and read from outside, as a user works and
// reads it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "gui_support.h"
#include "test_streams.h"

namespace tarnwell::gui {
namespace {

constexpr char kReporterQuestion[] =
    "\nHit Yes to continue notifying this specific error type; hit No to disable it.\n"
    "Hit Cancel to suppress all further errors.";
constexpr char kBusyMessage[] = "Another check or report is still reading the stream.";

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool starts_with(const std::string& text, const std::string& start) { return text.rfind(start, 0) == 0; }

class TarnwellDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    // The program runs from a folder of the GUI tests' own, so that the
    // hrd.txt it writes beside itself meets no other test's files.
    const std::string folder = windows_path(std::string(TARNWELL_GUI_WORK) + "/program");
    CreateDirectoryA(folder.c_str(), nullptr);
    program_ = folder + "\\tarnwell.exe";
    ASSERT_TRUE(CopyFileA(windows_path(TARNWELL_EXE).c_str(), program_.c_str(), FALSE)) << "cannot copy tarnwell.exe";
    DeleteFileA(hrd_path().c_str());

    std::string command = program_;
    command.insert(command.begin(), '"');
    command.push_back('"');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    const std::string work = windows_path(TARNWELL_GUI_WORK);
    ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, work.c_str(),
                               &startup, &process_))
        << "cannot start " << command;
    dialog_ = wait_for_window(process_.dwProcessId, kDialogTitle);
    ASSERT_NE(dialog_, nullptr) << "the dialog did not appear";
    ASSERT_TRUE(settle(dialog_));
    idle_threads_ = thread_count(process_.dwProcessId);
  }

  void TearDown() override {
    if (process_.hProcess == nullptr) return;
    if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
      TerminateProcess(process_.hProcess, 1);
      WaitForSingleObject(process_.hProcess, INFINITE);
    }
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }

  DWORD pid() const { return process_.dwProcessId; }
  std::string text(int id) const { return control_text(dialog_, id); }
  void set(int id, const std::string& value) { set_control_text(dialog_, id, value); }
  std::optional<Box> box() { return find_box(pid(), dialog_); }
  // The next box; with a caption, the one with it when more than one is open.
  std::optional<Box> next_box(const std::string& caption = {}) { return wait_for_box(pid(), dialog_, caption); }

  void enter_settings(const char* buffer_size, const char* initial_fill, const char* bit_rate,
                      const char* frame_rate = "0") {
    set(1004, buffer_size);
    set(1005, initial_fill);
    set(1006, bit_rate);
    set(1008, frame_rate);
  }

  bool idle() const {
    return is_enabled(dialog_, 1002) && is_enabled(dialog_, 1003) && is_enabled(dialog_, 1012) &&
           !is_enabled(dialog_, 1010);
  }

  // The run that a press of Check started has ended without a message: the
  // progress bar moved (the run took pictures), the buttons are idle, and the
  // worker thread is gone. Fails at once when a box shows up instead.
  ::testing::AssertionResult run_ended_quietly() {
    std::optional<Box> seen;
    const bool ended = wait_until([&] {
      if ((seen = box())) return true;
      return progress_of(dialog_, 1009) > 0 && idle() && thread_count(pid()) <= idle_threads_;
    });
    if (seen) return ::testing::AssertionFailure() << "a box appeared: " << seen->caption << ": " << seen->text;
    if (!ended) return ::testing::AssertionFailure() << "the run did not end";
    return ::testing::AssertionSuccess();
  }

  // The buttons are idle and the worker thread is gone.
  bool worker_gone() {
    return wait_until([&] { return idle() && thread_count(pid()) <= idle_threads_; });
  }

  std::string hrd_path() const { return program_.substr(0, program_.find_last_of('\\') + 1) + "hrd.txt"; }

  std::string program_;
  PROCESS_INFORMATION process_ = {};
  HWND dialog_ = nullptr;
  int idle_threads_ = 0;
};

// --- what the user sees when the program starts ------------------------------

struct ExpectedControl {
  int id;
  const char* class_name;
  const char* text;
  int x, y, width, height;
  bool tab_stop;
};

// In the template's order, which is the order of the dialog's child windows.
const ExpectedControl kControls[] = {
    {-1, "Static", "&Source AVC elementary stream file:", 6, 6, 182, 11, false},
    {1001, "Edit", "", 6, 18, 314, 14, true},
    {1003, "Button", "B&rowse", 325, 18, 49, 14, true},
    {1002, "Button", "&Check", 273, 271, 47, 14, true},
    {-1, "Static", "Buffer Size\n(bits)", 11, 48, 61, 17, false},
    {1004, "Edit", "10000000", 60, 49, 79, 14, true},
    {-1, "Static", "(Specify as 0 for auto detect.)", 149, 52, 116, 14, false},
    {-1, "Static", "Initial Fill\n(bits)", 10, 76, 61, 23, false},
    {1005, "Edit", "9000000", 60, 79, 79, 14, true},
    {1007, "Button", "Strict Overflow Check (requires stuffing)", 10, 172, 195, 10, true},
    {-1, "Static", "Bit Rate\n(bits/sec)", 11, 111, 61, 19, false},
    {1006, "Edit", "0", 60, 113, 79, 14, true},
    {-1, "Static", "(Specify as 0 for auto detect.)", 150, 116, 160, 14, false},
    {-1, "Static", "Frame Rate\n(frames/sec)", 10, 143, 61, 20, false},
    {1008, "Edit", "0", 60, 145, 79, 14, true},
    {-1, "Static", "(Specify as 0 for auto detect.)", 151, 148, 160, 14, false},
    {1015, "Static", "Buffer Fullness", 8, 204, 152, 10, false},
    {1013, "msctls_progress32", "", 6, 218, 368, 11, false},
    {1014, "Static", "Progress", 8, 239, 152, 10, false},
    {1009, "msctls_progress32", "", 5, 252, 369, 11, false},
    {1010, "Button", "&Abort", 327, 271, 47, 14, true},
    {1012, "Button", "HRD Info", 326, 37, 49, 14, true},
    {-1, "Static", "Profile", 278, 60, 44, 13, false},
    {1016, "Edit", "", 326, 57, 49, 14, true},
    {-1, "Static", "Level", 278, 78, 44, 13, false},
    {1017, "Edit", "", 325, 76, 50, 14, true},
};

TEST_F(TarnwellDialog, ShowsItsTitleControlsAndDefaults) {
  EXPECT_EQ(text_of(dialog_), kDialogTitle);
  const LONG style = GetWindowLongA(dialog_, GWL_STYLE);
  EXPECT_EQ(style & (WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME),
            WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME);

  // Dialog units: the client area is 381 x 295 of them; the base units that
  // give exactly that size map every control's rectangle.
  RECT client = {};
  GetClientRect(dialog_, &client);
  int base_x = 0, base_y = 0;
  for (int b = 1; b < 64; ++b) {
    if (MulDiv(381, b, 4) == client.right) base_x = b;
    if (MulDiv(295, b, 8) == client.bottom) base_y = b;
  }
  ASSERT_NE(base_x, 0) << "client width " << client.right << " is not 381 dialog units";
  ASSERT_NE(base_y, 0) << "client height " << client.bottom << " is not 295 dialog units";

  // Centred on the screen.
  RECT frame = {};
  GetWindowRect(dialog_, &frame);
  EXPECT_LE(std::abs((frame.left + frame.right) / 2 - GetSystemMetrics(SM_CXSCREEN) / 2), 2);
  EXPECT_LE(std::abs((frame.top + frame.bottom) / 2 - GetSystemMetrics(SM_CYSCREEN) / 2), 2);

  std::vector<int> tab_order;
  std::size_t index = 0;
  for (HWND child = GetWindow(dialog_, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT), ++index) {
    ASSERT_LT(index, std::size(kControls)) << "more controls than the template holds";
    const ExpectedControl& want = kControls[index];
    SCOPED_TRACE(testing::Message() << "control #" << index << " (" << want.id << ")");
    EXPECT_EQ(GetDlgCtrlID(child), want.id);
    EXPECT_EQ(class_of(child), want.class_name);
    if (want.class_name != std::string("msctls_progress32")) {
      EXPECT_EQ(text_of(child), want.text);
    }
    RECT rect = {};
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, dialog_, reinterpret_cast<POINT*>(&rect), 2);
    EXPECT_EQ(rect.left, MulDiv(want.x, base_x, 4));
    EXPECT_EQ(rect.top, MulDiv(want.y, base_y, 8));
    EXPECT_EQ(rect.right - rect.left, MulDiv(want.width, base_x, 4));
    EXPECT_EQ(rect.bottom - rect.top, MulDiv(want.height, base_y, 8));
    const LONG child_style = GetWindowLongA(child, GWL_STYLE);
    EXPECT_EQ((child_style & WS_TABSTOP) != 0, want.tab_stop);
    if (child_style & WS_TABSTOP) tab_order.push_back(GetDlgCtrlID(child));
    if (class_of(child) == "Button" && want.id != 1007) {
      EXPECT_EQ(child_style & BS_TYPEMASK, BS_PUSHBUTTON) << "no button is a default button";
    }
  }
  EXPECT_EQ(index, std::size(kControls));
  EXPECT_EQ(tab_order, (std::vector<int>{1001, 1003, 1002, 1004, 1005, 1007, 1006, 1008, 1010, 1012, 1016, 1017}));

  EXPECT_NE(GetWindowLongA(GetDlgItem(dialog_, 1001), GWL_EXSTYLE) & WS_EX_ACCEPTFILES, 0);
  EXPECT_EQ(GetWindowLongA(GetDlgItem(dialog_, 1007), GWL_STYLE) & BS_TYPEMASK, BS_AUTOCHECKBOX);
  for (int id : {1016, 1017}) {
    const LONG edit_style = GetWindowLongA(GetDlgItem(dialog_, id), GWL_STYLE);
    EXPECT_NE(edit_style & ES_READONLY, 0) << id;
    EXPECT_EQ(edit_style & (ES_CENTER | ES_RIGHT), ES_CENTER) << id;
  }

  EXPECT_FALSE(is_checked(dialog_, 1007));
  EXPECT_EQ(progress_of(dialog_, 1009), 0u);
  EXPECT_EQ(progress_of(dialog_, 1013), 0u);
  EXPECT_TRUE(idle()) << "Check, Browse and HRD Info enabled, Abort disabled";
}

TEST_F(TarnwellDialog, EscapeAndEnterDoNothingAndTheCloseBoxEndsTheProgramWithZero) {
  HWND edit = GetDlgItem(dialog_, 1004);
  for (WPARAM key : {VK_ESCAPE, VK_RETURN}) {
    PostMessageA(edit, WM_KEYDOWN, key, 1);
    PostMessageA(edit, WM_KEYUP, key, 0xC0000001);
  }
  post_command(dialog_, IDOK);
  post_command(dialog_, IDCANCEL);
  ASSERT_TRUE(settle(dialog_));
  EXPECT_TRUE(IsWindowVisible(dialog_));
  EXPECT_EQ(WaitForSingleObject(process_.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_FALSE(box());

  PostMessageA(dialog_, WM_SYSCOMMAND, SC_CLOSE, 0);
  ASSERT_EQ(WaitForSingleObject(process_.hProcess, kPatienceMs), static_cast<DWORD>(WAIT_OBJECT_0));
  DWORD code = 1;
  GetExitCodeProcess(process_.hProcess, &code);
  EXPECT_EQ(code, 0u);
}

// --- checks ------------------------------------------------------------------

TEST_F(TarnwellDialog, PassingCheckOfTheX264StreamShowsNoMessage) {
  set(1001, stream_path(kX264Stream));
  enter_settings("1000000", "900000", "1000000");
  ASSERT_TRUE(press(dialog_, 1002));
  ASSERT_TRUE(run_ended_quietly());
  EXPECT_EQ(text(1008), "25.000") << "the frame rate taken from the stream";
  EXPECT_LT(progress_of(dialog_, 1009), 100u) << "the last picture is never taken";
  EXPECT_GT(progress_of(dialog_, 1009), 90u);
  EXPECT_EQ(text(1004), "1000000");
  EXPECT_EQ(text(1006), "1000000");
  EXPECT_TRUE(take_screenshot(TARNWELL_GUI_WORK, std::string(TARNWELL_GUI_WORK) + "/dialog-after-check.png"));
}

TEST_F(TarnwellDialog, UnderflowShowsItsMessageWithTheFullnessBarAtZero) {
  set(1001, stream_path(kX264Stream));
  enter_settings("300000", "270000", "1000000");
  ASSERT_TRUE(press(dialog_, 1002));
  std::optional<Box> shown = next_box();
  ASSERT_TRUE(shown);
  EXPECT_EQ(shown->caption, "Error");
  EXPECT_EQ(shown->text, "UNDERFLOW frame size=111704 bits, underflow=19728 bits");
  EXPECT_TRUE(shown->has_ok);
  EXPECT_FALSE(shown->has_yes || shown->has_no);
  EXPECT_EQ(progress_of(dialog_, 1013), 0u);
  EXPECT_FALSE(is_enabled(dialog_, 1002)) << "busy until the box is answered";
  ASSERT_TRUE(answer(*shown, IDOK));
  ASSERT_TRUE(worker_gone());
  EXPECT_EQ(progress_of(dialog_, 1013), 0u);
  EXPECT_FALSE(box());
}

TEST_F(TarnwellDialog, BitRateSearchLeavesTheFoundRateAndTheStreamsFrameRate) {
  set(1001, stream_path(kX264Stream));
  enter_settings("1000000", "900000", "0");
  ASSERT_TRUE(press(dialog_, 1002));
  ASSERT_TRUE(run_ended_quietly());
  EXPECT_EQ(text(1006), "1000000");
  EXPECT_EQ(text(1008), "25.000");
  EXPECT_EQ(text(1004), "1000000");
  EXPECT_EQ(text(1005), "900000");
}

TEST_F(TarnwellDialog, AbortDuringASearchEmptiesBothBarsAndKeepsTheLastValuesTried) {
  const std::string damaged = make_damaged_stream(TARNWELL_GUI_WORK);
  ASSERT_FALSE(damaged.empty());
  set(1001, damaged);
  enter_settings("1000000", "900000", "0");
  ASSERT_TRUE(press(dialog_, 1002));

  // The search's passes end in underflows until the one at 600,000 bit/s
  // reaches the damaged NAL unit; its report holds the worker there.
  std::optional<Box> report = next_box();
  ASSERT_TRUE(report);
  EXPECT_EQ(report->caption, "Warning");
  EXPECT_TRUE(starts_with(report->text, kDamagedNalMessageStart)) << report->text;
  EXPECT_TRUE(report->has_yes && report->has_no && report->has_cancel);
  EXPECT_EQ(text(1006), "600000");
  EXPECT_TRUE(is_enabled(dialog_, 1010));
  EXPECT_GT(progress_of(dialog_, 1009), 0u);

  post_command(dialog_, 1010);  // Abort, pressed while the report is on the screen
  ASSERT_TRUE(settle(dialog_));
  ASSERT_TRUE(answer(*report, IDYES));
  ASSERT_TRUE(worker_gone());
  EXPECT_EQ(progress_of(dialog_, 1009), 0u);
  EXPECT_EQ(progress_of(dialog_, 1013), 0u);
  EXPECT_EQ(text(1006), "600000");
  EXPECT_EQ(text(1004), "1000000");
  EXPECT_EQ(text(1005), "900000");
  EXPECT_FALSE(box()) << "an aborted run shows no message";
}

TEST_F(TarnwellDialog, TwoQuickPressesOfCheckStartOneRun) {
  const std::string damaged = make_damaged_stream(TARNWELL_GUI_WORK);
  ASSERT_FALSE(damaged.empty());
  set(1001, damaged);
  enter_settings("1000000", "900000", "1000000");
  // Both presses are queued before the dialog handles the first, so the
  // second comes before the run has disabled the button.
  post_command(dialog_, 1002);
  post_command(dialog_, 1002);
  std::optional<Box> report = next_box();
  ASSERT_TRUE(report);
  EXPECT_TRUE(starts_with(report->text, kDamagedNalMessageStart)) << report->text;
  ASSERT_TRUE(answer(*report, IDYES));
  // One run: it ends without a message, and no second run (which would
  // report the damaged unit again, or find the stream busy) follows.
  ASSERT_TRUE(run_ended_quietly());
  EXPECT_FALSE(box());
}

TEST_F(TarnwellDialog, ClosingDuringARunEndsTheProgramAtOnce) {
  const std::string damaged = make_damaged_stream(TARNWELL_GUI_WORK);
  ASSERT_FALSE(damaged.empty());
  set(1001, damaged);
  enter_settings("1000000", "900000", "1000000");
  ASSERT_TRUE(press(dialog_, 1002));
  ASSERT_TRUE(next_box()) << "the run is held by the report of the damaged NAL unit";
  // The close box sends WM_CLOSE; the report owns the dialog just now, so
  // the message is sent directly.
  PostMessageA(dialog_, WM_CLOSE, 0, 0);
  ASSERT_EQ(WaitForSingleObject(process_.hProcess, kPatienceMs), static_cast<DWORD>(WAIT_OBJECT_0));
  DWORD code = 1;
  GetExitCodeProcess(process_.hProcess, &code);
  EXPECT_EQ(code, 0u);
}

// --- the error reporter across runs ------------------------------------------

TEST_F(TarnwellDialog, ReportAnsweredNoIsNotShownInTheNextRun) {
  const std::string damaged = make_damaged_stream(TARNWELL_GUI_WORK);
  ASSERT_FALSE(damaged.empty());
  set(1001, damaged);
  enter_settings("1000000", "900000", "1000000");
  ASSERT_TRUE(press(dialog_, 1002));
  std::optional<Box> report = next_box();
  ASSERT_TRUE(report);
  EXPECT_TRUE(starts_with(report->text, kDamagedNalMessageStart)) << report->text;
  EXPECT_TRUE(report->text.size() > sizeof kReporterQuestion &&
              report->text.compare(report->text.size() - (sizeof kReporterQuestion - 1), std::string::npos,
                                   kReporterQuestion) == 0)
      << "the question follows the message";
  ASSERT_TRUE(answer(*report, IDNO));
  ASSERT_TRUE(run_ended_quietly());

  // The second run passes the damaged unit without a word and ends at the
  // underflow of picture 50.
  enter_settings("300000", "270000", "1000000");
  ASSERT_TRUE(press(dialog_, 1002));
  std::optional<Box> outcome = next_box();
  ASSERT_TRUE(outcome);
  EXPECT_EQ(outcome->caption, "Error");
  EXPECT_TRUE(starts_with(outcome->text, "UNDERFLOW frame size=111704 bits, underflow=")) << outcome->text;
  ASSERT_TRUE(answer(*outcome, IDOK));
  ASSERT_TRUE(worker_gone());
}

TEST_F(TarnwellDialog, CancelSilencesEveryLaterReport) {
  // The probe of the name reports the first undefined NAL unit; Cancel.
  TextSetter naming(dialog_, 1001, stream_path(kUndefinedNalStream));
  std::optional<Box> report = next_box();
  ASSERT_TRUE(report);
  EXPECT_EQ(report->caption, "Warning");
  EXPECT_TRUE(starts_with(report->text, "Found NALU type 15, len ")) << report->text;
  ASSERT_TRUE(answer(*report, IDCANCEL));
  ASSERT_TRUE(naming.join()) << "the type-20 unit is not reported any more";
  EXPECT_EQ(text(1016), "Baseline");
  EXPECT_EQ(text(1017), "1.1");

  // Other messages stay silent too, in a run of another stream.
  const std::string damaged = make_damaged_stream(TARNWELL_GUI_WORK);
  ASSERT_FALSE(damaged.empty());
  set(1001, damaged);
  enter_settings("300000", "270000", "1000000");
  ASSERT_TRUE(press(dialog_, 1002));
  std::optional<Box> outcome = next_box();
  ASSERT_TRUE(outcome);
  EXPECT_EQ(outcome->caption, "Error") << "run outcomes are not reports: " << outcome->text;
  ASSERT_TRUE(answer(*outcome, IDOK));
  ASSERT_TRUE(worker_gone());
}

// --- the file name -------------------------------------------------------------

TEST_F(TarnwellDialog, TypingTheFileNameShowsProfileAndLevelAndANameThatDoesNotOpenClearsThem) {
  const std::string path = stream_path(kX264Stream);
  type_into(dialog_, 1001, path.substr(0, path.size() - 1));
  EXPECT_EQ(text(1016), "");
  EXPECT_EQ(text(1017), "");
  type_into(dialog_, 1001, path.substr(path.size() - 1));
  EXPECT_EQ(text(1001), path);
  EXPECT_EQ(text(1016), "High");
  EXPECT_EQ(text(1017), "3");
  type_into(dialog_, 1001, "x");
  EXPECT_EQ(text(1016), "");
  EXPECT_EQ(text(1017), "");
  type_into(dialog_, 1001, "\b");
  EXPECT_EQ(text(1016), "High");
  EXPECT_EQ(text(1017), "3");
  EXPECT_FALSE(box());
}

// A typed name of a file that is no H.264 stream gets one box that says what
// it is, and Profile and Level of the file before go; a check of a stream
// without pictures says that nothing was checked instead of passing.
TEST_F(TarnwellDialog, AnMp4FileIsToldByItsNameAndAStreamWithoutPicturesDoesNotPass) {
  const std::string mp4 = windows_path(std::string(TARNWELL_GUI_WORK) + "/clip.mp4");
  const std::string empty = windows_path(std::string(TARNWELL_GUI_WORK) + "/empty.264");
  std::ofstream(mp4, std::ios::binary) << std::string("\0\0\0\x18" "ftypmp42", 12) << std::string(500, '\0');
  std::ofstream(empty, std::ios::binary).close();

  set(1001, stream_path(kX264Stream));
  ASSERT_EQ(text(1016), "High");
  TextSetter naming(dialog_, 1001, mp4);
  std::optional<Box> told = next_box();
  ASSERT_TRUE(told);
  EXPECT_EQ(told->caption, "Warning");
  EXPECT_TRUE(starts_with(told->text, "'clip.mp4' is an MP4 file, not an H.264 Annex B stream.")) << told->text;
  EXPECT_TRUE(told->has_ok);
  EXPECT_FALSE(told->has_yes || told->has_no);
  ASSERT_TRUE(answer(*told, IDOK));
  ASSERT_TRUE(naming.join());
  EXPECT_EQ(text(1016), "");
  EXPECT_EQ(text(1017), "");
  EXPECT_FALSE(box());

  set(1001, empty);
  enter_settings("1000000", "900000", "1000000");
  ASSERT_TRUE(press(dialog_, 1002));
  std::optional<Box> outcome = next_box();
  ASSERT_TRUE(outcome);
  EXPECT_EQ(outcome->caption, "Error");
  EXPECT_EQ(outcome->text, "No picture was checked");
  ASSERT_TRUE(answer(*outcome, IDOK));
  ASSERT_TRUE(worker_gone());
}

// A name longer than 254 characters is read whole by the change handler
// (it used to see only the first 254, which named another file).
TEST_F(TarnwellDialog, NameLongerThan254CharactersIsProbedWhole) {
  std::string path = windows_path(TARNWELL_STREAMS_DIR);
  while (path.size() < 300) path += "\\.";
  path += std::string("\\") + kScalingListStream;
  set(1001, path);
  EXPECT_EQ(text(1001), path);
  EXPECT_EQ(text(1016), "High");
  EXPECT_EQ(text(1017), "4");
}

TEST_F(TarnwellDialog, BrowseChoosesTheFileAndItsProfileIsShown) {
  ASSERT_TRUE(press(dialog_, 1003));
  HWND chooser = wait_for_window(pid(), "Choose Input File");
  ASSERT_NE(chooser, nullptr);
  // The file name field of the open-file dialog (cmb13, or edt1 in the old style).
  HWND name = GetDlgItem(chooser, 0x47c);
  if (name == nullptr) name = GetDlgItem(chooser, 0x480);
  ASSERT_NE(name, nullptr);
  const std::string path = windows_path(stream_path(kScalingListStream));
  SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
  post_command(chooser, IDOK);
  ASSERT_TRUE(wait_until([&] { return !IsWindow(chooser); }));
  ASSERT_TRUE(wait_until([&] { return text(1016) == "High"; }));
  EXPECT_EQ(text(1017), "4");
  EXPECT_EQ(text(1001), path);
}

// --- HRD Info ------------------------------------------------------------------

// The x264 stream's one SPS carries a NAL HRD block for 1,000,000 bit/s CBR
// with a 1,000,000-bit buffer (the field values as ffmpeg's trace_headers
// reads them). The file is written in text mode: CR LF line ends.
constexpr char kX264HrdReport[] =
    "---HRD INFO---\r\n\r\n"
    "NAL HRD INFO:\r\n\r\n"
    "cpb_cnt_minus1 = 0\r\n"
    "bit_rate_scale = 0\r\n"
    "cpb_size_scale = 2\r\n\r\n"
    "bit_rate_value_minus1[0] = 15624 [1000000 bits/s]\r\n"
    "cpb_size_value_minus1[0] = 15624 [1000000 bits]\r\n"
    "cbr_flag[0] = 1\r\n\r\n"
    "initial_cpb_removal_delay_length_minus1 = 18\r\n"
    "cpb_removal_delay_length_minus1 = 10\r\n"
    "dpb_output_delay_length_minus1 = 6\r\n"
    "time_offset_length = 0\r\n\r\n"
    "---END HRD INFO---\r\n\r\n";

TEST_F(TarnwellDialog, HrdInfoWritesTheReportBesideTheProgramAndOpensIt) {
  set(1001, stream_path(kX264Stream));
  ASSERT_TRUE(press(dialog_, 1012));
  ASSERT_TRUE(wait_until([&] { return read_file(hrd_path()).find("---END HRD INFO---\r\n\r\n") != std::string::npos; }));
  EXPECT_EQ(read_file(hrd_path()), kX264HrdReport);
  // The shell's viewer shows it (the test script ends the viewer).
  EXPECT_TRUE(wait_until([&] {
    for (HWND window = GetTopWindow(nullptr); window != nullptr; window = GetWindow(window, GW_HWNDNEXT)) {
      if (IsWindowVisible(window) && text_of(window).find("hrd") != std::string::npos) return true;
    }
    return false;
  })) << "no viewer window shows hrd.txt";
  EXPECT_FALSE(box());
}

// A cancelled Browse leaves the stream path as the edit shows it, so HRD Info
// still reads the stream (it used to empty the path and fail).
TEST_F(TarnwellDialog, CancelledBrowseKeepsTheStreamPathForHrdInfo) {
  set(1001, stream_path(kX264Stream));
  ASSERT_TRUE(press(dialog_, 1003));
  HWND chooser = wait_for_window(pid(), "Choose Input File");
  ASSERT_NE(chooser, nullptr);
  post_command(chooser, IDCANCEL);
  ASSERT_TRUE(wait_until([&] { return !IsWindow(chooser); }));
  EXPECT_EQ(text(1001), stream_path(kX264Stream));
  EXPECT_EQ(text(1016), "High");

  ASSERT_TRUE(press(dialog_, 1012));
  std::optional<Box> seen;
  ASSERT_TRUE(wait_until([&] {
    if ((seen = box())) return true;
    return read_file(hrd_path()).find("---END HRD INFO---") != std::string::npos;
  }));
  ASSERT_FALSE(seen.has_value()) << seen->text;
  EXPECT_EQ(read_file(hrd_path()), kX264HrdReport);
}

// --- the buffer plot ----------------------------------------------------------

// Alt+Space opens the system menu, B chooses "Buffer plot of the last check":
// the plot of the check that just ended goes beside the program.
TEST_F(TarnwellDialog, SystemMenuWritesThePlotOfTheLastCheckBesideTheProgram) {
  const std::string plot = program_.substr(0, program_.find_last_of('\\') + 1) + "tarnwell-plot.svg";
  DeleteFileA(plot.c_str());
  set(1001, stream_path(kX264Stream));
  enter_settings("1000000", "900000", "1000000");
  ASSERT_TRUE(press(dialog_, 1002));
  ASSERT_TRUE(run_ended_quietly());

  PostMessageA(dialog_, WM_SYSCOMMAND, SC_KEYMENU, ' ');
  ASSERT_TRUE(wait_until([&] {
    for (HWND window : windows_of(pid())) {
      if (class_of(window) == "#32768") return true;
    }
    return false;
  })) << "the system menu did not open";
  PostMessageA(dialog_, WM_CHAR, 'b', 0);
  ASSERT_TRUE(wait_until([&] { return read_file(plot).find("</svg>") != std::string::npos; }))
      << "no plot written at " << plot;
  const std::string svg = read_file(plot);
  EXPECT_NE(svg.find("Buffer of x264_cbr_1000k_25fps.264: PASS"), std::string::npos);
  EXPECT_NE(svg.find("buffer size 1000000 bits, initial fill 900000 bits, bit rate 1000000 bit/s, frame rate 25.000 fps"),
            std::string::npos);
}

// --- one user of the stream at a time ------------------------------------------

TEST_F(TarnwellDialog, WhileAReportReadsTheStreamCheckIsRefusedAndTheProbeWaits) {
  {
    TextSetter naming(dialog_, 1001, stream_path(kUndefinedNalStream));
    // The probe reads the whole stream: its two undefined units are reported.
    while (!naming.done()) {
      std::optional<Box> report = next_box();
      if (!report) break;
      answer(*report, IDYES);
      wait_until([&] { return naming.done() || box().has_value(); });
    }
    ASSERT_TRUE(naming.join());
  }
  EXPECT_EQ(text(1016), "Baseline");

  // The report's parse stops at its first undefined unit, holding the stream.
  ASSERT_TRUE(press(dialog_, 1012));
  std::optional<Box> report = next_box();
  ASSERT_TRUE(report);
  EXPECT_TRUE(starts_with(report->text, "Found NALU type 15, len ")) << report->text;

  // Check now is refused with the busy message, and starts no run.
  post_command(dialog_, 1002);
  std::optional<Box> refusal = next_box("Error");
  ASSERT_TRUE(refusal);
  EXPECT_EQ(refusal->text, kBusyMessage);
  ASSERT_TRUE(answer(*refusal, IDOK));

  // A second HRD Info is refused the same way, by its own thread.
  post_command(dialog_, 1012);
  refusal = next_box("Error");
  ASSERT_TRUE(refusal);
  EXPECT_EQ(refusal->text, kBusyMessage);
  ASSERT_TRUE(answer(*refusal, IDOK));

  // A new name waits: Profile and Level still show the stream being read.
  set(1001, stream_path(kX264Stream));
  EXPECT_EQ(text(1016), "Baseline");
  EXPECT_EQ(text(1017), "1.1");

  // The report goes on to its end; then the new name is probed.
  ASSERT_TRUE(answer(*report, IDYES));
  report = next_box();
  ASSERT_TRUE(report);
  EXPECT_TRUE(starts_with(report->text, "Found NALU type 20, len ")) << report->text;
  ASSERT_TRUE(answer(*report, IDYES));
  ASSERT_TRUE(wait_until([&] { return text(1016) == "High"; }));
  EXPECT_EQ(text(1017), "3");
  EXPECT_TRUE(wait_until([&] { return read_file(hrd_path()).find("---END HRD INFO---") != std::string::npos; }));
  EXPECT_TRUE(idle());
}

}  // namespace
}  // namespace tarnwell::gui
