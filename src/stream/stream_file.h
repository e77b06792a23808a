#pragma once
// Opening the stream file, the same way for every user of the parsing state.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

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

// The first bytes of an input, to see what it is before anything reads it.
struct InputHead {
  std::vector<uint8_t> bytes;  // up to the count asked for; fewer when the input is shorter
  // The bytes are gone from the input (a pipe) and must be read before the
  // rest of it; false when the input was sought back to its first byte.
  bool taken = false;
};

// Up to `count` first bytes of `file`, which is at its first byte. A regular
// file is sought back to it; from anything else the bytes are taken.
InputHead read_input_head(std::FILE* file, std::size_t count);

}  // namespace tarnwell
