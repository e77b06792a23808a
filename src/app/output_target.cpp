#include "app/output_target.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "app/exit_codes.h"
#include "platform/interrupt.h"
#include "stream/stream_file.h"

namespace tarnwell {

namespace {

std::string system_reason(int error) { return error != 0 ? std::strerror(error) : "unknown error"; }

// The path with a leading dot on its last component and a suffix of the
// process's id and a counter, in the same folder (so the renaming never
// crosses file systems).
std::string temporary_name(const std::string& path, unsigned attempt) {
  const std::size_t cut = path.find_last_of("/\\");
  const std::string folder = cut == std::string::npos ? "" : path.substr(0, cut + 1);
  // Cut so that the additions keep the name within the systems' 255 bytes.
  const std::string name = (cut == std::string::npos ? path : path.substr(cut + 1)).substr(0, 200);
#ifdef _WIN32
  const long pid = _getpid();
#else
  const long pid = static_cast<long>(::getpid());
#endif
  return folder + "." + name + ".tarnwell-" + std::to_string(pid) + "-" + std::to_string(attempt) + ".tmp";
}

#ifndef _WIN32
// A link is written through: the file it names is the one replaced.
std::string resolved(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
  char target[PATH_MAX];
  if (::realpath(path.c_str(), target) == nullptr) return path;
  return target;
}
#endif

}  // namespace

bool OutputTarget::open(const std::string& path, std::string& reason, bool text) {
  discard();
  if (path == "-") {
#ifdef _WIN32
    // Bytes (a stream, a plot) go out as they are, not with CR LF line ends.
    if (!text) _setmode(_fileno(stdout), _O_BINARY);
#endif
    file_ = stdout;
    to_stdout_ = true;
    return true;
  }
  to_stdout_ = false;
#ifdef _WIN32
  path_ = path;
  struct _stat64 info {};
  const bool exists = _stat64(path_.c_str(), &info) == 0;
  const bool folder = exists && (info.st_mode & _S_IFMT) == _S_IFDIR;
  const bool device = exists && (info.st_mode & _S_IFMT) != _S_IFREG && !folder;
#else
  path_ = resolved(path);
  struct stat info {};
  const bool exists = ::stat(path_.c_str(), &info) == 0;
  const bool folder = exists && S_ISDIR(info.st_mode);
  // The system's own files (/dev/null, /dev/stdout and the /proc links
  // behind it) are written where they are, never replaced.
  const bool device = (exists && !S_ISREG(info.st_mode) && !folder) || path_.rfind("/dev/", 0) == 0 ||
                      path_.rfind("/proc/", 0) == 0 || path.rfind("/dev/", 0) == 0 || path.rfind("/proc/", 0) == 0;
#endif
  if (folder) {
    reason = system_reason(EISDIR);
    return false;
  }
  if (device) {
    // A device or pipe: nothing to put in place, nothing left behind.
    errno = 0;
    file_ = std::fopen(path.c_str(), text ? "w" : "wb");
    if (file_ == nullptr) reason = system_reason(errno);
    return file_ != nullptr;
  }
#ifdef _WIN32
  if (exists && _access(path_.c_str(), 2) != 0) {
#else
  if (exists && ::access(path_.c_str(), W_OK) != 0) {
#endif
    reason = system_reason(errno);
    return false;
  }
  int fd = -1;
  for (unsigned attempt = 0; fd < 0 && attempt < 100; ++attempt) {
    temp_ = temporary_name(path_, attempt);
    errno = 0;
#ifdef _WIN32
    // Shared for deletion, so that a second Ctrl-C can remove it while it is
    // open (the system removes it when the process's handle closes).
    const HANDLE handle =
        CreateFileA(temp_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      errno = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS      ? EEXIST
              : error == ERROR_PATH_NOT_FOUND || error == ERROR_FILE_NOT_FOUND ? ENOENT
              : error == ERROR_ACCESS_DENIED                                   ? EACCES
                                                                               : EIO;
    } else {
      fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | (text ? _O_TEXT : _O_BINARY));
      if (fd < 0) CloseHandle(handle);
    }
#else
    fd = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
#endif
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    reason = system_reason(errno);
    temp_.clear();
    return false;
  }
  slot_ = InterruptGuard::track_temporary(temp_.c_str());
#ifdef _WIN32
  file_ = _fdopen(fd, text ? "w" : "wb");
  if (file_ == nullptr) _close(fd);
#else
  // The file replaced keeps its permissions.
  if (exists) ::fchmod(fd, info.st_mode & 07777);
  file_ = ::fdopen(fd, text ? "w" : "wb");
  if (file_ == nullptr) ::close(fd);
#endif
  if (file_ == nullptr) {
    reason = system_reason(errno);
    discard();
    return false;
  }
  return true;
}

bool OutputTarget::write(const std::string& text) {
  return file_ != nullptr && std::fwrite(text.data(), 1, text.size(), file_) == text.size();
}

bool OutputTarget::commit(std::string& reason) {
  if (file_ == nullptr) {
    reason = "not open";
    return false;
  }
  if (to_stdout_) {
    errno = 0;
    const bool ok = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
    if (!ok) reason = system_reason(errno);
    file_ = nullptr;
    return ok;
  }
  errno = 0;
  bool ok = std::fflush(file_) == 0 && std::ferror(file_) == 0;
  int error = errno;
  const bool closed = std::fclose(file_) == 0;
  if (ok && !closed) error = errno;
  ok = ok && closed;
  file_ = nullptr;
  if (ok && !temp_.empty()) {
#ifdef _WIN32
    ok = MoveFileExA(temp_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
    if (!ok) error = EACCES;
#else
    ok = std::rename(temp_.c_str(), path_.c_str()) == 0;
    if (!ok) error = errno;
#endif
  }
  if (!ok) {
    reason = system_reason(error != 0 ? error : EIO);
    discard();
    return false;
  }
  InterruptGuard::untrack_temporary(slot_);
  slot_ = -1;
  temp_.clear();
  return true;
}

void OutputTarget::discard() {
  if (file_ != nullptr && !to_stdout_) std::fclose(file_);
  file_ = nullptr;
  if (!temp_.empty()) std::remove(temp_.c_str());
  InterruptGuard::untrack_temporary(slot_);
  slot_ = -1;
  temp_.clear();
}

int cannot_write(std::FILE* err, const char* what, const std::string& path, const std::string& reason) {
  std::fprintf(err, "tarnwell-cli: cannot write the %s file %s: %s\n", what, path.c_str(), reason.c_str());
  return kExitUsage;
}

bool write_output_file(const std::string& path, const std::string& text, std::string& reason, bool text_mode) {
  OutputTarget target;
  return target.open(path, reason, text_mode) && target.write(text) && target.commit(reason);
}

OutputParts::~OutputParts() {
  for (std::FILE* f : files_) std::fclose(f);
}

std::FILE* OutputParts::part(std::size_t i) {
  while (!failed_ && files_.size() <= i) {
    std::FILE* f = open_spool_file();
    failed_ = f == nullptr;
    if (f != nullptr) files_.push_back(f);
  }
  return failed_ ? nullptr : files_[i];
}

bool OutputParts::clear(std::size_t i) {
  std::FILE* f = part(i);
  if (f == nullptr || std::fflush(f) != 0) return false;
#ifdef _WIN32
  if (_chsize_s(_fileno(f), 0) != 0) return false;
#else
  if (::ftruncate(::fileno(f), 0) != 0) return false;
#endif
  std::rewind(f);
  return true;
}

bool OutputParts::copy(std::size_t i, std::FILE* out) {
  if (failed_) return false;
  if (i >= files_.size()) return true;
  std::FILE* f = files_[i];
  bool ok = std::fflush(f) == 0 && std::fseek(f, 0, SEEK_SET) == 0;
  char block[65536];
  std::size_t n = 0;
  while (ok && (n = std::fread(block, 1, sizeof block, f)) > 0) ok = std::fwrite(block, 1, n, out) == n;
  return ok && std::ferror(f) == 0;
}

}  // namespace tarnwell
