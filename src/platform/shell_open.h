#pragma once
// The desktop shell's "open" of a file: the file is shown by the program the
// desktop associates with it. Nothing waits for that program.
#include <string>

namespace tarnwell {

struct ShellOpenOptions {
  // Windows: the window that owns whatever the shell shows (an HWND).
  void* owner_window = nullptr;
  // Elsewhere: the program run with the file as its one argument. Tests name
  // a harmless program or one that does not exist, so no viewer appears.
  // Not used on Windows.
  std::string viewer = "xdg-open";
};

// Windows: ShellExecuteA with the verb "open" and SW_SHOWNORMAL.
// Elsewhere: starts options.viewer in the background, its input and output
// on /dev/null; a missing viewer is no error, it only means nothing is shown.
// Returns true when the shell took the file or the viewer was started; the
// system's callers do not look at it.
bool shell_open(const std::string& path, const ShellOpenOptions& options = {});

}  // namespace tarnwell
