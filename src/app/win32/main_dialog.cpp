#include "app/win32/main_dialog.h"

#include <commdlg.h>

#include <optional>
#include <string>

#include "platform/executable_path.h"
#include "platform/shell_open.h"

namespace tarnwell {

namespace {

// Where the subclassed edit finds its dialog object.
constexpr char kDialogProperty[] = "TarnwellMainDialog";

}  // namespace

MainDialog::MainDialog(ApplicationContext& context, Win32DialogPort& port, HINSTANCE instance)
    : context_(context), port_(port), instance_(instance) {}

INT_PTR MainDialog::run() {
  return DialogBoxParamA(instance_, MAKEINTRESOURCEA(kDialogTemplate), nullptr, dialog_proc,
                         reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK MainDialog::dialog_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrA(window, DWLP_USER, lparam);
    reinterpret_cast<MainDialog*>(lparam)->on_init(window);
    return TRUE;
  }
  auto* self = reinterpret_cast<MainDialog*>(GetWindowLongPtrA(window, DWLP_USER));
  if (self == nullptr) return FALSE;
  return self->handle(message, wparam, lparam);
}

INT_PTR MainDialog::handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITMENUPOPUP:
      // The system menu is about to show: the plot item follows the last run.
      if (HIWORD(lparam) != 0) update_plot_menu_item();
      return FALSE;
    case WM_SYSCOMMAND:
      if ((wparam & 0xFFF0u) != kPlotMenuCommand) return FALSE;
      logic_->on_plot_last_check();
      return TRUE;
    case WM_CLOSE:
      on_close();
      return TRUE;
    case WM_COMMAND:
      on_command(LOWORD(wparam), HIWORD(wparam));
      return TRUE;
    case kProbeAgainMessage:
      logic_->on_stream_path_changed();
      return TRUE;
    default:
      return FALSE;
  }
}

void MainDialog::post_probe_again() {
  // Called from whichever thread let go of the parsing state.
  PostMessageA(window_, kProbeAgainMessage, 0, 0);
}

void MainDialog::add_plot_menu_item() {
  HMENU system = GetSystemMenu(window_, FALSE);
  if (system == nullptr) return;
  AppendMenuA(system, MF_SEPARATOR, 0, nullptr);
  AppendMenuA(system, MF_STRING | MF_GRAYED, kPlotMenuCommand, kPlotMenuText);
}

void MainDialog::update_plot_menu_item() {
  HMENU system = GetSystemMenu(window_, FALSE);
  if (system == nullptr) return;
  EnableMenuItem(system, kPlotMenuCommand, MF_BYCOMMAND | (logic_->plot_available() ? MF_ENABLED : MF_GRAYED));
}

void MainDialog::on_init(HWND window) {
  window_ = window;
  port_.attach(window);
  logic_ = std::make_unique<MainDialogLogic>(
      context_, executable_path(),
      [window](const std::string& path) {
        ShellOpenOptions options;
        options.owner_window = window;
        shell_open(path, options);
      },
      [this] { post_probe_again(); });

  HICON icon = LoadIconA(instance_, MAKEINTRESOURCEA(kDialogIcon));
  SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
  SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));

  logic_->initialise();
  add_plot_menu_item();

  HWND edit = GetDlgItem(window, kEditStreamPath);
  SetPropA(edit, kDialogProperty, this);
  old_edit_proc_ = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(drop_aware_proc)));
}

void MainDialog::on_close() {
  HWND edit = GetDlgItem(window_, kEditStreamPath);
  if (old_edit_proc_ != nullptr) {
    SetWindowLongPtrA(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(old_edit_proc_));
    old_edit_proc_ = nullptr;
  }
  RemovePropA(edit, kDialogProperty);
  // Running workers are neither stopped nor waited for: they end with the process.
  EndDialog(window_, 0);
}

void MainDialog::on_command(int id, int code) {
  switch (id) {
    case kEditStreamPath:
      if (code == EN_CHANGE) logic_->on_stream_path_changed();
      break;
    case kButtonCheck:
      logic_->on_check();
      break;
    case kButtonBrowse:
      on_browse();
      break;
    case kButtonAbort:
      logic_->on_abort();
      break;
    case kButtonHrdInfo:
      logic_->on_hrd_info();
      break;
    default:
      // Enter and Escape arrive here as commands 1 and 2: they do nothing.
      break;
  }
}

void MainDialog::on_browse() {
  // A buffer of the dialog's own: a cancelled dialog leaves the stream path
  // as it was, matching what edit 1001 still shows.
  char chosen[kBrowseBufferChars] = {};
  OPENFILENAMEA request = {};
  request.lStructSize = sizeof request;
  request.hwndOwner = window_;
  request.lpstrFilter = "All Files\0*.*\0";
  request.nFilterIndex = 1;
  request.lpstrFile = chosen;
  request.nMaxFile = static_cast<DWORD>(sizeof chosen);
  request.lpstrTitle = "Choose Input File";
  request.Flags = OFN_CREATEPROMPT;
  if (!GetOpenFileNameA(&request)) chosen[0] = '\0';
  logic_->on_browse_closed(chosen);
}

void MainDialog::on_drop(HDROP drop) {
  const UINT count = DragQueryFileA(drop, 0xFFFFFFFFu, nullptr, 0);
  // The first path whole, however long: its length is asked first.
  std::optional<std::string> first;
  const UINT length = count > 0 ? DragQueryFileA(drop, 0, nullptr, 0) : 0;
  if (length > 0) {
    std::string path(length + 1, '\0');
    const UINT copied = DragQueryFileA(drop, 0, path.data(), length + 1);
    if (copied > 0) {
      path.resize(copied);
      first = std::move(path);
    }
  }
  DragFinish(drop);
  logic_->on_files_dropped(count, first);
}

LRESULT CALLBACK MainDialog::drop_aware_proc(HWND edit, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* self = static_cast<MainDialog*>(GetPropA(edit, kDialogProperty));
  if (self == nullptr) return DefWindowProcA(edit, message, wparam, lparam);
  if (message == WM_DROPFILES) {
    self->on_drop(reinterpret_cast<HDROP>(wparam));
    return 1;
  }
  return CallWindowProcA(self->old_edit_proc_, edit, message, wparam, lparam);
}

}  // namespace tarnwell
