#pragma once
// Opening the stream file, the same way for every user of the parsing state.
#include <cstdio>

namespace tarnwell {

// The stream file opened for binary reading ("rb"), or null when it cannot
// be opened or is a directory. POSIX opens a directory for reading and fails
// every read afterwards, which would read as an empty stream and pass.
std::FILE* open_stream_file(const char* path);

}  // namespace tarnwell
