#pragma once
// Whether an input is one the commands read, and the one line that says what
// it is and what to do when it is not: every command looks at the first
// bytes of its input before it reads the stream.
#include <cstdio>
#include <string>
#include <vector>

#include "stream/input_format.h"

namespace tarnwell {

struct InputCheck {
  bool supported = true;
  InputFormat format;
  // When not supported: what the input is and what to do, without the
  // program's name and without a line end.
  std::string message;
  // The first bytes taken from an input that cannot be sought (a pipe): the
  // reading must take them first (CheckRun::input_head and its kin).
  std::vector<uint8_t> head;
};

// Looks at the first bytes of `input` (at its first byte; a regular file is
// sought back to it). `path` is FILE as given ("-": standard input),
// `command` the command's name, for the ffmpeg line the message offers.
InputCheck check_input(std::FILE* input, const std::string& path, const char* command);

// The file name of a path, either separator: what the messages and the
// pictures' titles name.
std::string file_name_of(const std::string& path);

// What `format` is and how to get H.264 out of it, for tarnwell-cli: "'in.mp4'
// is an MP4 file, not an H.264 Annex B stream; extract its video with: ffmpeg
// -i 'in.mp4' ... | tarnwell-cli check -". Empty for H.264.
std::string unsupported_input_message(const InputFormat& format, const std::string& path, const char* command);

// The same for the dialog's box, about the file whose path was typed, with
// the ffmpeg line writing a file beside it.
std::string unsupported_file_message(const InputFormat& format, const std::string& path);

}  // namespace tarnwell
