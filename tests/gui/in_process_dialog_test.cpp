// The real dialog inside the test's own process, on a thread of its own, for
// what can only be seen or done from inside: the window's font and icons,
// and files dropped on the file-name edit (a drop handle is valid only in
// the process that made it, so the tests build the drops themselves).
#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/win32/main_dialog.h"
#include "app/win32/win32_dialog_port.h"
#include "context/application_context.h"
#include "gui_support.h"
#include "test_streams.h"

namespace tarnwell::gui {
namespace {

// What the shell hands over on a drop: a DROPFILES header and the paths,
// each ended by a NUL, the list ended by another. An empty list is an empty
// name and the end: the system reads one byte past the first name.
HDROP make_drop(const std::vector<std::string>& paths) {
  std::size_t bytes = sizeof(DROPFILES) + 2;
  for (const std::string& path : paths) bytes += path.size() + 1;
  HGLOBAL memory = GlobalAlloc(GHND, bytes);
  if (memory == nullptr) return nullptr;
  auto* header = static_cast<DROPFILES*>(GlobalLock(memory));
  header->pFiles = sizeof(DROPFILES);
  header->fWide = FALSE;
  char* next = reinterpret_cast<char*>(header) + sizeof(DROPFILES);
  for (const std::string& path : paths) {
    std::memcpy(next, path.c_str(), path.size() + 1);
    next += path.size() + 1;
  }
  GlobalUnlock(memory);
  return static_cast<HDROP>(memory);
}

class InProcessDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    context_ = std::make_unique<ApplicationContext>(port_);
    dialog_object_ = std::make_unique<MainDialog>(*context_, port_, GetModuleHandleA(nullptr));
    thread_ = CreateThread(nullptr, 0, run_dialog, this, 0, nullptr);
    ASSERT_NE(thread_, nullptr);
    dialog_ = wait_for_window(GetCurrentProcessId(), kDialogTitle);
    ASSERT_NE(dialog_, nullptr);
    ASSERT_TRUE(settle(dialog_));
  }

  void TearDown() override {
    if (thread_ == nullptr) return;
    // A box that a failed test left open would keep the dialog from closing.
    for (std::optional<Box> left = box(); left; left = box()) {
      if (!answer(*left, left->has_cancel ? IDCANCEL : IDOK)) break;
    }
    if (dialog_ != nullptr) PostMessageA(dialog_, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForSingleObject(thread_, kPatienceMs), static_cast<DWORD>(WAIT_OBJECT_0));
    CloseHandle(thread_);
  }

  static DWORD WINAPI run_dialog(LPVOID self) {
    static_cast<InProcessDialog*>(self)->dialog_object_->run();
    return 0;
  }

  // Drops the files on edit 1001, as the shell does: the message is posted.
  void drop(const std::vector<std::string>& paths) {
    HDROP handle = make_drop(paths);
    ASSERT_NE(handle, nullptr);
    ASSERT_TRUE(PostMessageA(GetDlgItem(dialog_, 1001), WM_DROPFILES, reinterpret_cast<WPARAM>(handle), 0));
  }

  std::string text(int id) const { return control_text(dialog_, id); }
  std::optional<Box> box() { return find_box(GetCurrentProcessId(), dialog_); }
  std::optional<Box> next_box() { return wait_for_box(GetCurrentProcessId(), dialog_); }

  Win32DialogPort port_;
  std::unique_ptr<ApplicationContext> context_;
  std::unique_ptr<MainDialog> dialog_object_;
  HANDLE thread_ = nullptr;
  HWND dialog_ = nullptr;
};

TEST_F(InProcessDialog, CarriesIcon102AsItsBigAndSmallIcon) {
  const auto icon = reinterpret_cast<LRESULT>(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(102)));
  ASSERT_NE(icon, 0);
  EXPECT_EQ(SendMessageA(dialog_, WM_GETICON, ICON_BIG, 0), icon);
  EXPECT_EQ(SendMessageA(dialog_, WM_GETICON, ICON_SMALL, 0), icon);
}

TEST_F(InProcessDialog, UsesMsSansSerifAt8Points) {
  auto font = reinterpret_cast<HFONT>(SendMessageA(dialog_, WM_GETFONT, 0, 0));
  ASSERT_NE(font, nullptr);
  LOGFONTA description = {};
  ASSERT_NE(GetObjectA(font, sizeof description, &description), 0);
  EXPECT_STREQ(description.lfFaceName, "MS Sans Serif");
  HDC screen = GetDC(nullptr);
  EXPECT_EQ(description.lfHeight, -MulDiv(8, GetDeviceCaps(screen, LOGPIXELSY), 72));
  ReleaseDC(nullptr, screen);
}

TEST_F(InProcessDialog, OneDroppedFileIsTakenAndProbed) {
  const std::string path = stream_path(kX264Stream);
  drop({path});
  ASSERT_TRUE(settle(dialog_));
  EXPECT_FALSE(box());
  EXPECT_EQ(text(1001), path);
  EXPECT_EQ(text(1016), "High");
  EXPECT_EQ(text(1017), "3");
  EXPECT_EQ(context_->shared.stream_path, path);
}

TEST_F(InProcessDialog, TwoDroppedFilesShowTheWarningThenTheFirstIsTaken) {
  const std::string first = stream_path(kScalingListStream);
  drop({first, stream_path(kX264Stream)});
  std::optional<Box> warning = next_box();
  ASSERT_TRUE(warning);
  EXPECT_EQ(warning->caption, "Warning");
  EXPECT_EQ(warning->text, "Multiple files dropped - only one file will be processed");
  EXPECT_TRUE(warning->has_ok);
  EXPECT_FALSE(warning->has_yes || warning->has_no || warning->has_cancel);
  EXPECT_EQ(text(1001), "") << "the file is taken after the warning";
  ASSERT_TRUE(answer(*warning, IDOK));
  ASSERT_TRUE(settle(dialog_));
  EXPECT_EQ(text(1001), first);
  EXPECT_EQ(text(1016), "High");
  EXPECT_EQ(text(1017), "4");
}

// A path longer than 259 characters is taken whole (it used to be cut, and
// the cut path, naming no file, was used).
TEST_F(InProcessDialog, DroppedPathLongerThan259CharactersIsTakenWhole) {
  std::string path = windows_path(TARNWELL_STREAMS_DIR);
  while (path.size() < 300) path += "\\.";
  path += std::string("\\") + kScalingListStream;
  drop({path});
  ASSERT_TRUE(settle(dialog_));
  EXPECT_EQ(text(1001), path);
  EXPECT_EQ(context_->shared.stream_path, path);
  EXPECT_EQ(text(1016), "High");
  EXPECT_EQ(text(1017), "4");
}

TEST_F(InProcessDialog, DroppedFileThatDoesNotOpenClearsProfileAndLevelButBecomesTheStreamPath) {
  drop({stream_path(kX264Stream)});
  ASSERT_TRUE(settle(dialog_));
  ASSERT_EQ(text(1016), "High");
  const std::string missing = stream_path("no such stream.264");
  drop({missing});
  ASSERT_TRUE(settle(dialog_));
  EXPECT_EQ(text(1001), missing);
  EXPECT_EQ(text(1016), "");
  EXPECT_EQ(text(1017), "");
  EXPECT_EQ(context_->shared.stream_path, missing);
  EXPECT_FALSE(box());
}

TEST_F(InProcessDialog, DropWithoutAFileShowsTheErrorAndChangesNothing) {
  drop({});
  std::optional<Box> error = next_box();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->caption, "Error");
  EXPECT_EQ(error->text, "Unable to get dropped file information");
  ASSERT_TRUE(answer(*error, IDOK));
  EXPECT_EQ(text(1001), "");
}

}  // namespace
}  // namespace tarnwell::gui
