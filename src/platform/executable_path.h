#pragma once
// Where the running program lives: its full path, and the folder that holds
// it (the HRD report writes its file there).
#include <string>
#include <string_view>

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

// The folder part of path: everything up to and including its last
// kPathSeparator. A path without a separator gives the empty text, so that a
// file name appended to it names a file in the current directory.
std::string folder_of(std::string_view path);

// folder_of(executable_path()).
std::string executable_folder();

}  // namespace tarnwell
