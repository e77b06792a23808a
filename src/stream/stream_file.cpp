#include "stream/stream_file.h"

#include <sys/stat.h>

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

}  // namespace tarnwell
