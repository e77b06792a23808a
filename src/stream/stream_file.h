#pragma once
// Opening the stream file, the same way for every user of the parsing state.
#include <cstdio>

namespace tarnwell {

// The stream file opened for binary reading ("rb"), or null when it cannot
// be opened or is a directory. POSIX opens a directory for reading and fails
// every read afterwards, which would read as an empty stream and pass.
std::FILE* open_stream_file(const char* path);

// True when `file` is a regular file, which can be read again from its first
// byte; a pipe, a terminal or a device cannot be sought back.
bool is_seekable_stream(std::FILE* file);

// A temporary file for binary reading and writing that the system deletes
// when it is closed or the process ends, however it ends. Null when none can
// be made.
std::FILE* open_spool_file();

}  // namespace tarnwell
