#include "gui_support.h"

#include <commctrl.h>
#include <tlhelp32.h>

#include <cstdio>
#include <fstream>

namespace tarnwell::gui {

namespace {

constexpr UINT kSendLimitMs = 30000;
// The id that a message box gives its text.
constexpr int kBoxTextId = 0xFFFF;

LRESULT send(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutA(window, message, wparam, lparam, SMTO_NORMAL, kSendLimitMs, &result)) return 0;
  return static_cast<LRESULT>(result);
}

struct WindowSearch {
  DWORD process_id;
  std::vector<HWND> found;
};

BOOL CALLBACK collect_window(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<WindowSearch*>(data);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == search->process_id && IsWindowVisible(window)) search->found.push_back(window);
  return TRUE;
}

}  // namespace

bool wait_until(const std::function<bool()>& ready, DWORD limit_ms) {
  const ULONGLONG start = GetTickCount64();
  for (;;) {
    if (ready()) return true;
    if (GetTickCount64() - start > limit_ms) return false;
    Sleep(20);
  }
}

std::vector<HWND> windows_of(DWORD process_id) {
  WindowSearch search{process_id, {}};
  EnumWindows(collect_window, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND find_window(DWORD process_id, const std::string& title) {
  for (HWND window : windows_of(process_id)) {
    if (text_of(window) == title) return window;
  }
  return nullptr;
}

HWND wait_for_window(DWORD process_id, const std::string& title) {
  HWND found = nullptr;
  wait_until([&] { return (found = find_window(process_id, title)) != nullptr; });
  return found;
}

std::string class_of(HWND window) {
  char name[256] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

std::string text_of(HWND window) {
  const LRESULT length = send(window, WM_GETTEXTLENGTH, 0, 0);
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  const LRESULT copied = send(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(copied));
  return text;
}

std::string control_text(HWND dialog, int id) { return text_of(GetDlgItem(dialog, id)); }

uint32_t progress_of(HWND dialog, int id) {
  return static_cast<uint32_t>(send(GetDlgItem(dialog, id), PBM_GETPOS, 0, 0));
}

bool is_enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }

bool is_checked(HWND dialog, int id) {
  return send(GetDlgItem(dialog, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void set_control_text(HWND dialog, int id, const std::string& text) {
  send(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void type_into(HWND dialog, int id, const std::string& text) {
  HWND edit = GetDlgItem(dialog, id);
  for (char c : text) send(edit, WM_CHAR, static_cast<unsigned char>(c), 1);
}

TextSetter::TextSetter(HWND dialog, int id, std::string text)
    : edit_(GetDlgItem(dialog, id)), text_(std::move(text)) {
  thread_ = CreateThread(nullptr, 0, run, this, 0, nullptr);
}

TextSetter::~TextSetter() {
  if (thread_ != nullptr) {
    join();
    CloseHandle(thread_);
  }
}

DWORD WINAPI TextSetter::run(LPVOID self) {
  auto* setter = static_cast<TextSetter*>(self);
  // No time limit: the change handling waits for the boxes the test answers.
  SendMessageA(setter->edit_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(setter->text_.c_str()));
  return 0;
}

bool TextSetter::join(DWORD limit_ms) {
  return thread_ != nullptr && WaitForSingleObject(thread_, limit_ms) == WAIT_OBJECT_0;
}

bool TextSetter::done() const { return thread_ != nullptr && WaitForSingleObject(thread_, 0) == WAIT_OBJECT_0; }

bool press(HWND dialog, int id) {
  HWND button = GetDlgItem(dialog, id);
  if (button == nullptr || !IsWindowEnabled(button)) return false;
  return PostMessageA(button, BM_CLICK, 0, 0) != FALSE;
}

void post_command(HWND dialog, int id) {
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

bool settle(HWND dialog) {
  // Posted messages are handled in order: once a posted marker has taken
  // effect, everything posted before it has been handled too. The marker is
  // the step of the fullness bar, which the dialog never uses: 1 is set now,
  // 2 is posted, and every look sets 1 again and tells what was there.
  HWND marker = GetDlgItem(dialog, 1013);
  send(marker, PBM_SETSTEP, 1, 0);
  if (!PostMessageA(marker, PBM_SETSTEP, 2, 0)) return false;
  return wait_until([&] { return send(marker, PBM_SETSTEP, 1, 0) == 2; });
}

std::optional<Box> read_box(HWND window) {
  if (class_of(window) != "#32770") return std::nullopt;
  HWND text = GetDlgItem(window, kBoxTextId);
  if (text == nullptr) return std::nullopt;
  Box box;
  box.window = window;
  box.caption = text_of(window);
  box.text = text_of(text);
  box.has_ok = GetDlgItem(window, IDOK) != nullptr;
  box.has_yes = GetDlgItem(window, IDYES) != nullptr;
  box.has_no = GetDlgItem(window, IDNO) != nullptr;
  box.has_cancel = GetDlgItem(window, IDCANCEL) != nullptr;
  return box;
}

std::optional<Box> find_box(DWORD process_id, HWND except, const std::string& caption) {
  for (HWND window : windows_of(process_id)) {
    if (window == except) continue;
    std::optional<Box> box = read_box(window);
    if (box && (caption.empty() || box->caption == caption)) return box;
  }
  return std::nullopt;
}

std::optional<Box> wait_for_box(DWORD process_id, HWND except, const std::string& caption) {
  std::optional<Box> box;
  wait_until([&] { return (box = find_box(process_id, except, caption)).has_value(); });
  return box;
}

bool answer(const Box& box, int button) {
  HWND control = GetDlgItem(box.window, button);
  if (control == nullptr) return false;
  PostMessageA(box.window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(control));
  return wait_until([&] { return !IsWindow(box.window) || !IsWindowVisible(box.window); });
}

int thread_count(DWORD process_id) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  int count = 0;
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == process_id) ++count;
  }
  CloseHandle(snapshot);
  return count;
}

std::string windows_path(const std::string& path) {
  std::string converted = !path.empty() && path[0] == '/' ? "Z:" + path : path;
  for (char& c : converted) {
    if (c == '/') c = '\\';
  }
  return converted;
}

bool take_screenshot(const std::string& work_dir, const std::string& png_path) {
  const std::string request = windows_path(work_dir + "/screenshot.request");
  const std::string done = windows_path(work_dir + "/screenshot.done");
  DeleteFileA(done.c_str());
  {
    std::ofstream out(request + ".tmp");
    out << png_path << "\n";
  }
  // The script looks for the request under its final name only once it is whole.
  if (!MoveFileExA((request + ".tmp").c_str(), request.c_str(), MOVEFILE_REPLACE_EXISTING)) return false;
  const bool taken = wait_until([&] { return GetFileAttributesA(done.c_str()) != INVALID_FILE_ATTRIBUTES; });
  DeleteFileA(done.c_str());
  return taken;
}

}  // namespace tarnwell::gui
