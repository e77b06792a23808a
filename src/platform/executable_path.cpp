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

}  // namespace

#ifdef _WIN32

// The ANSI form rather than GetModuleFileNameW converted to UTF-8: the path is
// handed on to fopen and ShellExecuteA, which read char paths in the ANSI code
// page, so a UTF-8 text would break every path with a non-ASCII character.
// (A program whose manifest makes UTF-8 its code page gets UTF-8 here too.)
std::string executable_path() {
  std::string path(kFirstTryBytes, '\0');
  for (;;) {
    DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    // A cut path fills the whole buffer; grow until one fits with room left.
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    if (path.size() >= kLargestPathBytes) return {};
    path.resize(path.size() * 2);
  }
}

#else

std::string executable_path() {
  std::string path(kFirstTryBytes, '\0');
  for (;;) {
    ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0) return {};
    // readlink does not terminate and cuts silently: a result that fills the
    // buffer may be cut, so grow until one fits with room left.
    if (static_cast<std::size_t>(length) < path.size()) {
      path.resize(static_cast<std::size_t>(length));
      return path;
    }
    if (path.size() >= kLargestPathBytes) return {};
    path.resize(path.size() * 2);
  }
}

#endif

std::string folder_of(std::string_view path) {
  std::size_t last = path.rfind(kPathSeparator);
  if (last == std::string_view::npos) return {};
  return std::string(path.substr(0, last + 1));
}

std::string executable_folder() {
  return folder_of(executable_path());
}

}  // namespace tarnwell
