#pragma once
// What an input is, told from its first bytes, before anything reads it as
// an H.264 Annex B byte stream: containers, other codecs and files that are
// not video would otherwise be cut into "NAL units" at whatever 00 00 01 they
// hold and give a plausible, wrong verdict. Only clear evidence refuses:
// anything else is H.264, an empty or all-zero input included (it ends as a
// check over no pictures).
#include <cstddef>
#include <cstdint>

namespace tarnwell {

// How many first bytes the recognition looks at; fewer when the input is
// shorter.
inline constexpr std::size_t kInputHeadBytes = 64 * 1024;

enum class InputKind {
  H264,             // H.264 Annex B byte stream (or nothing else recognised)
  TransportStream,  // MPEG-2 transport stream; packet_size says which kind
  Mp4,              // ISO base media file: MP4, MOV, 3GP
  Matroska,         // Matroska or WebM
  Hevc,             // H.265/HEVC Annex B byte stream
  MpegVideo,        // MPEG-1/2 video elementary stream
  ProgramStream,    // MPEG program stream (VOB, MPG)
  Jpeg,
  Png,
  Zip,
  Gzip,
  Pdf,
  Text,             // the whole input, shorter than kInputHeadBytes, is text
};

struct InputFormat {
  InputKind kind = InputKind::H264;
  // For a transport stream: 188, 192 (a 4-byte time code before each
  // packet) or 204 (16 bytes of Reed-Solomon parity after each); else 0.
  uint32_t packet_size = 0;
  // Where the first sync byte is, for a transport stream.
  std::size_t first_sync = 0;
};

// What the bytes at the start of an input are. `head` holds the input's
// first `size` bytes (at most kInputHeadBytes are looked at).
InputFormat recognize_input(const uint8_t* head, std::size_t size);

// A short name for the kind: "an MP4 file", "an H.265/HEVC stream", ...
const char* input_kind_name(InputKind kind);

}  // namespace tarnwell
