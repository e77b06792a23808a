#include "app/cli/cli_files.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "stream/stream_file.h"

namespace tarnwell {

bool is_same_file(const std::string& output, const std::string& input) {
  if (output.empty() || output == "-" || input.empty()) return false;
  std::error_code error;
  if (input != "-") return std::filesystem::equivalent(output, input, error) && !error;
#ifdef _WIN32
  return false;
#else
  struct stat in {};
  struct stat out {};
  return ::fstat(0, &in) == 0 && ::stat(output.c_str(), &out) == 0 && in.st_dev == out.st_dev &&
         in.st_ino == out.st_ino;
#endif
}

std::string refuse_outputs_on_input(const std::vector<std::pair<const char*, std::string>>& outputs,
                                    const std::string& input) {
  for (const auto& [option, path] : outputs) {
    if (is_same_file(path, input)) {
      return std::string("tarnwell-cli: ") + option + " '" + path + "' is the input file; it is not overwritten";
    }
  }
  return "";
}

std::FILE* open_cli_input(const std::string& path, std::string& reason) {
  if (path == "-") {
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    return stdin;
  }
  errno = 0;
  std::FILE* file = open_stream_file(path.c_str());
  if (file == nullptr) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
      reason = "it is a folder";
    } else {
      reason = errno != 0 ? std::strerror(errno) : "unknown error";
    }
  }
  return file;
}

}  // namespace tarnwell
