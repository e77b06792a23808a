// tarnwell.exe: registers the progress-bar class and shows the main dialog.
#include <windows.h>
#include <commctrl.h>

#include <memory>

#include "app/progress_throttle.h"
#include "app/win32/main_dialog.h"
#include "app/win32/win32_dialog_port.h"
#include "context/application_context.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  INITCOMMONCONTROLSEX classes = {};
  classes.dwSize = sizeof classes;
  classes.dwICC = ICC_PROGRESS_CLASS;
  InitCommonControlsEx(&classes);

  tarnwell::Win32DialogPort port;
  // The worker's bar updates, at most about 20 a second (each one waits for
  // the dialog thread); everything else goes straight to the dialog.
  tarnwell::ProgressThrottle throttled(port);
  auto context = std::make_unique<tarnwell::ApplicationContext>(throttled);
  tarnwell::MainDialog dialog(*context, port, instance);
  const INT_PTR result = dialog.run();
  // A verification or report thread may still be using the context: the
  // process ends here, with them, before anything they use is destroyed.
  ExitProcess(static_cast<UINT>(result));
}
