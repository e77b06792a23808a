#include "app/win32/win32_dialog_port.h"

#include <commctrl.h>

#include <climits>

namespace tarnwell {
namespace {

// MessageBox style of each kind of box.
UINT message_box_style(BoxKind kind) {
  switch (kind) {
    case BoxKind::Error: return MB_OK | MB_ICONERROR;
    case BoxKind::Warning: return MB_OK | MB_ICONWARNING;
    case BoxKind::ReporterQuestion: return MB_YESNOCANCEL | MB_ICONWARNING;
  }
  return MB_OK | MB_ICONERROR;
}

}  // namespace

void Win32DialogPort::set_progress(int control, uint32_t position) {
  SendDlgItemMessageA(dialog_, control, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void Win32DialogPort::set_text(int control, const std::string& text) {
  SetDlgItemTextA(dialog_, control, text.c_str());
}

void Win32DialogPort::set_unsigned(int control, uint32_t value) {
  SetDlgItemInt(dialog_, control, value, FALSE);
}

std::string Win32DialogPort::get_text(int control, std::size_t max_chars) {
  if (max_chars > static_cast<std::size_t>(INT_MAX) - 1) max_chars = static_cast<std::size_t>(INT_MAX) - 1;
  std::string text(max_chars + 1, '\0');
  UINT copied = GetDlgItemTextA(dialog_, control, text.data(), static_cast<int>(max_chars + 1));
  text.resize(copied <= max_chars ? copied : max_chars);
  return text;
}

void Win32DialogPort::enable(int control, bool enabled) {
  EnableWindow(GetDlgItem(dialog_, control), enabled ? TRUE : FALSE);
}

bool Win32DialogPort::is_checked(int control) {
  return IsDlgButtonChecked(dialog_, control) == BST_CHECKED;
}

BoxAnswer Win32DialogPort::message_box(const std::string& text, const char* caption, BoxKind kind) {
  switch (MessageBoxA(dialog_, text.c_str(), caption, message_box_style(kind))) {
    case IDYES: return BoxAnswer::Yes;
    case IDNO: return BoxAnswer::No;
    case IDCANCEL: return BoxAnswer::Cancel;
    default: return BoxAnswer::Ok;
  }
}

}  // namespace tarnwell
