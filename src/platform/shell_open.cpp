#include "platform/shell_open.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;
#endif

namespace tarnwell {

#ifdef _WIN32

bool shell_open(const std::string& path, const ShellOpenOptions& options) {
  HINSTANCE result = ShellExecuteA(static_cast<HWND>(options.owner_window), "open", path.c_str(),
                                   nullptr, nullptr, SW_SHOWNORMAL);
  // Values above 32 mean success; the rest are SE_ERR_ codes.
  return reinterpret_cast<std::intptr_t>(result) > 32;
}

#else

namespace {

// Run by /bin/sh with the viewer as $0 and the file as $1. The viewer is put
// in the background, so the shell ends at once and is reaped here, and the
// viewer, orphaned, is reaped by the system: no zombie is left behind and
// nothing waits for the viewer. A background job of a non-interactive shell
// ignores SIGINT, so Ctrl-C on the program does not close the viewer.
// Exit code 3 tells that the viewer is not installed.
constexpr char kLaunchScript[] = "command -v \"$0\" >/dev/null || exit 3; \"$0\" \"$1\" & exit 0";

}  // namespace

bool shell_open(const std::string& path, const ShellOpenOptions& options) {
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return false;
  bool prepared = posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0) == 0 &&
                  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0) == 0 &&
                  posix_spawn_file_actions_adddup2(&actions, 1, 2) == 0;
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  // The program's own open files (the stream, the report) stay its own.
  prepared = prepared && posix_spawn_file_actions_addclosefrom_np(&actions, 3) == 0;
#endif
  pid_t shell = 0;
  int spawned = -1;
  if (prepared) {
    std::string script = kLaunchScript;
    std::string viewer = options.viewer;
    std::string file = path;
    char shell_name[] = "sh";
    char command_flag[] = "-c";
    char* arguments[] = {shell_name, command_flag, script.data(), viewer.data(), file.data(), nullptr};
    spawned = posix_spawn(&shell, "/bin/sh", &actions, nullptr, arguments, environ);
  }
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return false;

  int status = 0;
  pid_t waited = 0;
  do {
    waited = waitpid(shell, &status, 0);
  } while (waited == -1 && errno == EINTR);
  // Exit code 3, like any other failure of the shell, means nothing was started.
  return waited == shell && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

#endif

}  // namespace tarnwell
