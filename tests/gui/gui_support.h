#pragma once
// Working the real dialog the way a user does, from outside: find windows by
// their title, type into edits, press buttons, read what the controls show,
// read and answer message boxes. Every function works on window handles, so
// it serves a dialog in another process (tarnwell.exe) as well as one in the
// test's own process (the drop tests).
//
// Waits poll what the user would see; their time limits only turn a hang
// into a failure and never decide an outcome.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tarnwell::gui {

inline constexpr char kDialogTitle[] = "Tarnwell 1.9 by Orvinbelk";
inline constexpr DWORD kPatienceMs = 60000;

// Polls until ready() holds; false when kPatienceMs (or limit_ms) passed first.
bool wait_until(const std::function<bool()>& ready, DWORD limit_ms = kPatienceMs);

// A visible top-level window of process `process_id` whose title is `title`.
HWND find_window(DWORD process_id, const std::string& title);
HWND wait_for_window(DWORD process_id, const std::string& title);
// Every visible top-level window of the process.
std::vector<HWND> windows_of(DWORD process_id);

std::string class_of(HWND window);
// WM_GETTEXT, which reaches into another process's controls.
std::string text_of(HWND window);
std::string control_text(HWND dialog, int id);
uint32_t progress_of(HWND dialog, int id);
bool is_enabled(HWND dialog, int id);
bool is_checked(HWND dialog, int id);

// Replaces an edit's text at once (WM_SETTEXT); returns when the dialog has
// handled it, change notification included.
void set_control_text(HWND dialog, int id, const std::string& text);
// Types text character by character (WM_CHAR); each character is handled,
// change notification included, before the next is typed.
void type_into(HWND dialog, int id, const std::string& text);
// Sets the edit's text from a helper thread, for a change whose handling
// shows message boxes that the caller must answer; join() it afterwards.
class TextSetter {
 public:
  TextSetter(HWND dialog, int id, std::string text);
  ~TextSetter();
  // Waits for the dialog to finish handling the change.
  bool join(DWORD limit_ms = kPatienceMs);
  bool done() const;

 private:
  HANDLE thread_ = nullptr;
  HWND edit_;
  std::string text_;
  static DWORD WINAPI run(LPVOID self);
};

// A press of a button as a click does it: only an enabled button can be
// pressed; returns at once, the dialog handles the press in its own time.
bool press(HWND dialog, int id);
// The command a press sends, posted without looking at the button: two of
// them in a row are two presses queued before the dialog handles either.
void post_command(HWND dialog, int id);
// Returns once the dialog has handled every message posted to it before.
bool settle(HWND dialog);

// A message box on the screen.
struct Box {
  HWND window = nullptr;
  std::string caption;
  std::string text;
  bool has_ok = false, has_yes = false, has_no = false, has_cancel = false;
};
// The box `window`, if it is a message box.
std::optional<Box> read_box(HWND window);
// A message box of the process (a dialog of class #32770 other than
// `except`), with the caption `caption` unless that is empty.
std::optional<Box> find_box(DWORD process_id, HWND except, const std::string& caption = {});
std::optional<Box> wait_for_box(DWORD process_id, HWND except, const std::string& caption = {});
// Presses IDOK, IDYES, IDNO or IDCANCEL and waits for the box to go away.
bool answer(const Box& box, int button);

// Threads of a process, to tell when a worker has ended.
int thread_count(DWORD process_id);

// The Windows form of a path, with backslashes; a Unix path is taken to be
// on drive Z:, which Wine maps to the Unix root.
std::string windows_path(const std::string& path);

// Takes a picture of the whole virtual screen into png_path through the
// test script, which watches `work_dir` for the request.
bool take_screenshot(const std::string& work_dir, const std::string& png_path);

}  // namespace tarnwell::gui
