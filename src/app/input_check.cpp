#include "app/input_check.h"

#include <utility>

#include "stream/stream_file.h"

namespace tarnwell {

namespace {

// A word for a POSIX shell: in single quotes, each ' written as '\''.
std::string shell_quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

// How ffmpeg gets the H.264 out of a container as an Annex B byte stream:
// MP4 and Matroska keep it with length prefixes, which the bitstream filter
// turns into start codes; the MPEG streams carry it with start codes already.
// Empty for what holds no H.264.
const char* ffmpeg_video_options(InputKind kind) {
  switch (kind) {
    case InputKind::Mp4:
    case InputKind::Matroska: return "-c:v copy -bsf:v h264_mp4toannexb -f h264";
    case InputKind::TransportStream:
    case InputKind::ProgramStream: return "-map 0:v:0 -c:v copy -f h264";
    default: return "";
  }
}

bool is_other_codec(InputKind kind) { return kind == InputKind::Hevc || kind == InputKind::MpegVideo; }

// What the input is: "an MPEG transport stream (188-byte packets)".
std::string what_it_is(const InputFormat& format) {
  std::string text = input_kind_name(format.kind);
  if (format.kind == InputKind::TransportStream) {
    text += " (" + std::to_string(format.packet_size) + "-byte packets)";
  }
  return text;
}

}  // namespace

std::string file_name_of(const std::string& path) {
  const std::size_t cut = path.find_last_of("/\\");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string unsupported_input_message(const InputFormat& format, const std::string& path, const char* command) {
  if (format.kind == InputKind::H264) return "";
  const bool from_stdin = path == "-";
  std::string text = (from_stdin ? std::string("standard input") : shell_quoted(path)) + " is " + what_it_is(format);
  if (is_other_codec(format.kind)) return text + "; Tarnwell reads H.264";
  text += ", not an H.264 Annex B stream";
  const std::string options = ffmpeg_video_options(format.kind);
  if (options.empty()) return text;
  return text + "; extract its video with: ffmpeg -i " + (from_stdin ? std::string("-") : shell_quoted(path)) + " " +
         options + " - | tarnwell-cli " + command + " -";
}

std::string unsupported_file_message(const InputFormat& format, const std::string& path) {
  if (format.kind == InputKind::H264) return "";
  // Appended piece by piece: mingw-w64's g++ 12 at -O3 warns falsely
  // (-Wrestrict) about "'" + std::string.
  std::string text(1, '\'');
  text += file_name_of(path);
  text += "' is ";
  text += what_it_is(format);
  if (is_other_codec(format.kind)) return text + "; Tarnwell reads H.264.";
  text += ", not an H.264 Annex B stream.";
  const std::string options = ffmpeg_video_options(format.kind);
  if (options.empty()) return text;
  // The extracted stream beside the file, with the extension .264.
  std::string out = path;
  const std::size_t dot = out.find_last_of('.');
  const std::size_t cut = out.find_last_of("/\\");
  if (dot != std::string::npos && (cut == std::string::npos || dot > cut)) out.resize(dot);
  return text + " Extract its video first, for example with:\nffmpeg -i \"" + path + "\" " + options + " \"" + out +
         ".264\"";
}

InputCheck check_input(std::FILE* input, const std::string& path, const char* command) {
  InputCheck check;
  InputHead head = read_input_head(input, kInputHeadBytes);
  check.format = recognize_input(head.bytes.data(), head.bytes.size());
  check.supported = check.format.kind == InputKind::H264;
  check.message = unsupported_input_message(check.format, path, command);
  if (head.taken) check.head = std::move(head.bytes);
  return check;
}

}  // namespace tarnwell
