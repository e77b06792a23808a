#pragma once
// The main dialog: template 101 shown modally, its message handlers, the
// drop-aware window procedure of the file-name edit, the open-file dialog
// and the dropped-file handler. What the handlers decide is in
// MainDialogLogic; this class is the Win32 side of it.
#include <windows.h>
#include <shellapi.h>

#include <memory>

#include "app/main_dialog_logic.h"
#include "app/win32/win32_dialog_port.h"
#include "context/application_context.h"

namespace tarnwell {

// Posted to the dialog when a probe that found the parsing state taken may
// run: the holder has let go.
inline constexpr UINT kProbeAgainMessage = WM_APP + 1;

// The system menu's "Buffer plot of the last check": below 0xF000, where the
// system's own commands begin, with the low four bits clear, which
// WM_SYSCOMMAND keeps for the system.
inline constexpr UINT kPlotMenuCommand = 0x0110;

class MainDialog {
 public:
  // port must be the context's dialog port.
  MainDialog(ApplicationContext& context, Win32DialogPort& port, HINSTANCE instance);
  MainDialog(const MainDialog&) = delete;
  MainDialog& operator=(const MainDialog&) = delete;

  // Shows the dialog modally with no owner; its result, 0 after a normal close.
  INT_PTR run();

 private:
  static INT_PTR CALLBACK dialog_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  static LRESULT CALLBACK drop_aware_proc(HWND edit, UINT message, WPARAM wparam, LPARAM lparam);

  INT_PTR handle(UINT message, WPARAM wparam, LPARAM lparam);
  void add_plot_menu_item();
  void update_plot_menu_item();
  void on_init(HWND window);
  void on_close();
  void on_command(int id, int code);
  void on_browse();
  void on_drop(HDROP drop);
  void post_probe_again();

  ApplicationContext& context_;
  Win32DialogPort& port_;
  HINSTANCE instance_;
  HWND window_ = nullptr;
  WNDPROC old_edit_proc_ = nullptr;
  std::unique_ptr<MainDialogLogic> logic_;
};

}  // namespace tarnwell
