#include "platform/executable_path.h"

#include <cstddef>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace tarnwell {

namespace {

// Far beyond any path the systems allow (32767 UTF-16 units on Windows, which
// a double-byte code page can turn into twice as many bytes).
constexpr std::size_t kLargestPathBytes = std::size_t{1} << 17;
constexpr std::size_t kFirstTryBytes = 260;

// The path's length as the system wrote it into `path`, 0 when it cannot tell.
// On Windows the ANSI form rather than GetModuleFileNameW converted to UTF-8:
// the path is handed on to fopen and ShellExecuteA, which read char paths in
// the ANSI code page, so a UTF-8 text would break every path with a non-ASCII
// character. (A program whose manifest makes UTF-8 its code page gets UTF-8
// here too.)
std::size_t read_executable_path(std::string& path) {
#ifdef _WIN32
  return GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
#else
  const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
  return length > 0 ? static_cast<std::size_t>(length) : 0;
#endif
}

}  // namespace

std::string executable_path() {
  std::string path(kFirstTryBytes, '\0');
  for (;;) {
    const std::size_t length = read_executable_path(path);
    if (length == 0) return {};
    // A cut path fills the whole buffer (readlink cuts silently and does not
    // terminate): grow until one fits with room left.
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    if (path.size() >= kLargestPathBytes) return {};
    path.resize(path.size() * 2);
  }
}

}  // namespace tarnwell
