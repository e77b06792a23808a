#pragma once
// Where the running program lives (the HRD report writes its file beside it).
#include <string>

namespace tarnwell {

// The separator that ends the folder part of the system's paths.
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// Full path of the running executable, however long; empty when the system
// cannot tell. On Windows the path is in the process's ANSI code page, the
// encoding that fopen and ShellExecuteA expect of it.
std::string executable_path();

}  // namespace tarnwell
