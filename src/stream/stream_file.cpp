#include "stream/stream_file.h"

#include <sys/stat.h>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

namespace tarnwell {

std::FILE* open_stream_file(const char* path) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return nullptr;
#ifndef _WIN32
  struct stat info {};
  if (::fstat(::fileno(file), &info) != 0 || S_ISDIR(info.st_mode)) {
    std::fclose(file);
    return nullptr;
  }
#endif
  return file;
}

bool is_seekable_stream(std::FILE* file) {
#ifdef _WIN32
  struct _stat64 info {};
  return _fstat64(_fileno(file), &info) == 0 && (info.st_mode & _S_IFMT) == _S_IFREG;
#else
  struct stat info {};
  return ::fstat(::fileno(file), &info) == 0 && S_ISREG(info.st_mode);
#endif
}

std::FILE* open_spool_file() {
#ifdef _WIN32
  // Deleted when its last handle closes, which the system does at exit.
  wchar_t folder[MAX_PATH + 1];
  wchar_t path[MAX_PATH + 1];
  DWORD length = GetTempPathW(MAX_PATH + 1, folder);
  if (length == 0 || length > MAX_PATH) return nullptr;
  if (GetTempFileNameW(folder, L"tw", 0, path) == 0) return nullptr;
  HANDLE handle = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    DeleteFileW(path);
    return nullptr;
  }
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR | _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  std::FILE* file = _fdopen(fd, "w+b");
  if (file == nullptr) _close(fd);
  return file;
#else
  // Unlinked as soon as it is made: nothing is left behind, even on Ctrl-C.
  return std::tmpfile();
#endif
}

InputHead read_input_head(std::FILE* file, std::size_t count) {
  InputHead head;
  if (file == nullptr) return head;
  head.bytes.resize(count);
  std::size_t got = 0;
  // A pipe may give its bytes in parts; fread waits for all or the end.
  while (got < count) {
    const std::size_t n = std::fread(head.bytes.data() + got, 1, count - got, file);
    if (n == 0) break;
    got += n;
  }
  head.bytes.resize(got);
  if (is_seekable_stream(file) && std::fseek(file, 0, SEEK_SET) == 0) {
    std::clearerr(file);
  } else {
    head.taken = true;
  }
  return head;
}

}  // namespace tarnwell
