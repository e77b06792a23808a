#include "stream/input_format.h"

#include <bit>
#include <cstring>
#include <initializer_list>

namespace tarnwell {

namespace {

bool starts_with(const uint8_t* head, std::size_t size, const char* magic, std::size_t length) {
  return size >= length && std::memcmp(head, magic, length) == 0;
}

// An ISO base media file begins with a box: a 32-bit size (0: to the end of
// the file, 1: a 64-bit size follows, else at least the 8 bytes of the box
// header) and a type that only such files put first.
bool is_iso_media(const uint8_t* head, std::size_t size) {
  if (size < 8) return false;
  const uint32_t box_size = (uint32_t{head[0]} << 24) | (uint32_t{head[1]} << 16) | (uint32_t{head[2]} << 8) | head[3];
  if (box_size != 0 && box_size != 1 && box_size < 8) return false;
  static constexpr const char* kFirstBoxes[] = {"ftyp", "moov", "mdat", "free", "wide"};
  for (const char* type : kFirstBoxes) {
    if (std::memcmp(head + 4, type, 4) == 0) return true;
  }
  return false;
}

// A transport stream of `packet` bytes a packet: the sync byte 0x47 at the
// same place in every packet. The first sync may be anywhere in the first
// packet (a cut stream); from there it must repeat at every packet the head
// holds, up to kSyncsNeeded of them, and the head must hold at least
// kSyncsAtLeast. Chance alone puts 0x47 at 16 places a packet apart about
// once in 2^120 tries.
bool find_transport_stream(const uint8_t* head, std::size_t size, uint32_t packet, std::size_t& first_sync) {
  constexpr std::size_t kSyncsNeeded = 16;
  constexpr std::size_t kSyncsAtLeast = 4;
  for (std::size_t start = 0; start < packet && start < size; ++start) {
    if (head[start] != 0x47) continue;
    const std::size_t available = (size - start + packet - 1) / packet;
    const std::size_t needed = available < kSyncsNeeded ? available : kSyncsNeeded;
    if (needed < kSyncsAtLeast) return false;
    std::size_t found = 0;
    while (found < needed && head[start + found * packet] == 0x47) ++found;
    if (found == needed) {
      first_sync = start;
      return true;
    }
  }
  return false;
}

// The profile_idc values of H.264 (A.2 and the SVC and MVC annexes).
bool is_h264_profile(uint8_t profile_idc) {
  switch (profile_idc) {
    case 44: case 66: case 77: case 83: case 86: case 88: case 100: case 110: case 118: case 122: case 128:
    case 134: case 135: case 138: case 139: case 144: case 244:
      return true;
    default:
      return false;
  }
}

// What the NAL units of the head look like, read both ways.
struct NalEvidence {
  bool h264_sps = false;       // an H.264 SPS (type 7) naming a known profile
  unsigned hevc_sets = 0;      // bit i: an H.265 VPS, SPS or PPS header (types 32 + i) was seen
  bool mpeg_at_start = false;  // the first start code, after zero bytes only, is MPEG's
  uint8_t first_code = 0;      // the byte after that start code
};

NalEvidence read_nal_evidence(const uint8_t* head, std::size_t size) {
  NalEvidence evidence;
  bool first = true;
  std::size_t zeros = 0;
  for (std::size_t i = 0; i + 1 < size; ++i) {
    if (head[i] == 0) {
      ++zeros;
      continue;
    }
    const bool start_code = head[i] == 1 && zeros >= 2;
    zeros = 0;
    if (!start_code) {
      first = false;
      continue;
    }
    const uint8_t byte0 = head[i + 1];
    const uint8_t byte1 = i + 2 < size ? head[i + 2] : 0;
    if (first) {
      evidence.first_code = byte0;
      evidence.mpeg_at_start = byte0 == 0xB3 || byte0 == 0xBA;
      first = false;
    }
    // H.264: forbidden_zero_bit 0, nal_unit_type 7, then profile_idc.
    if ((byte0 & 0x80) == 0 && (byte0 & 0x1F) == 7 && is_h264_profile(byte1)) evidence.h264_sps = true;
    // H.265: forbidden_zero_bit 0, nal_unit_type 32 to 34, nuh_layer_id 0,
    // nuh_temporal_id_plus1 1. Read as H.264 these are types 0, 2 and 4
    // (unspecified, data partitions A and C).
    if ((byte0 == 0x40 || byte0 == 0x42 || byte0 == 0x44) && byte1 == 0x01) {
      evidence.hevc_sets |= 1u << ((byte0 - 0x40) / 2);
    }
  }
  return evidence;
}

// Text: no control bytes but tab, line feed, form feed and carriage return,
// and every byte from 0x80 up in a well-formed UTF-8 sequence (one cut by the
// end of the head counts). Without a zero byte it holds no start code either.
bool is_text(const uint8_t* head, std::size_t size) {
  if (size == 0) return false;
  std::size_t i = 0;
  while (i < size) {
    const uint8_t c = head[i];
    if (c < 0x80) {
      if ((c < 0x20 && c != '\t' && c != '\n' && c != '\f' && c != '\r') || c == 0x7F) return false;
      ++i;
      continue;
    }
    // The bytes that follow a lead byte; 0: no lead byte of well-formed UTF-8.
    const std::size_t follow = c < 0xC2 ? 0 : c <= 0xDF ? 1 : c <= 0xEF ? 2 : c <= 0xF4 ? 3 : 0;
    if (follow == 0) return false;
    for (std::size_t k = 1; k <= follow; ++k) {
      if (i + k >= size) return true;
      if ((head[i + k] & 0xC0) != 0x80) return false;
    }
    i += follow + 1;
  }
  return true;
}

}  // namespace

InputFormat recognize_input(const uint8_t* head, std::size_t size) {
  InputFormat format;
  if (head == nullptr) return format;
  if (size > kInputHeadBytes) size = kInputHeadBytes;

  if (starts_with(head, size, "\x1A\x45\xDF\xA3", 4)) {
    format.kind = InputKind::Matroska;
  } else if (starts_with(head, size, "\xFF\xD8\xFF", 3)) {
    format.kind = InputKind::Jpeg;
  } else if (starts_with(head, size, "\x89PNG\r\n\x1A\n", 8)) {
    format.kind = InputKind::Png;
  } else if (starts_with(head, size, "PK\x03\x04", 4) || starts_with(head, size, "PK\x05\x06", 4) ||
             starts_with(head, size, "PK\x07\x08", 4)) {
    format.kind = InputKind::Zip;
  } else if (starts_with(head, size, "\x1F\x8B\x08", 3)) {
    format.kind = InputKind::Gzip;
  } else if (starts_with(head, size, "%PDF-", 5)) {
    format.kind = InputKind::Pdf;
  } else if (is_iso_media(head, size)) {
    format.kind = InputKind::Mp4;
  }
  if (format.kind != InputKind::H264) return format;

  for (uint32_t packet : {188u, 192u, 204u}) {
    if (find_transport_stream(head, size, packet, format.first_sync)) {
      format.kind = InputKind::TransportStream;
      format.packet_size = packet;
      return format;
    }
  }

  const NalEvidence evidence = read_nal_evidence(head, size);
  if (evidence.mpeg_at_start && !evidence.h264_sps) {
    format.kind = evidence.first_code == 0xB3 ? InputKind::MpegVideo : InputKind::ProgramStream;
    return format;
  }
  // Two of the three parameter-set headers of H.265 and no H.264 SPS: one
  // such pair of bytes alone could be an H.264 data partition.
  if (std::popcount(evidence.hevc_sets) >= 2 && !evidence.h264_sps) {
    format.kind = InputKind::Hevc;
    return format;
  }
  // Text only when the whole input was seen: a long run of text may be junk
  // in front of a stream's first start code.
  if (size < kInputHeadBytes && is_text(head, size)) format.kind = InputKind::Text;
  return format;
}

const char* input_kind_name(InputKind kind) {
  switch (kind) {
    case InputKind::H264: return "an H.264 Annex B stream";
    case InputKind::TransportStream: return "an MPEG transport stream";
    case InputKind::Mp4: return "an MP4 file";
    case InputKind::Matroska: return "a Matroska/WebM file";
    case InputKind::Hevc: return "an H.265/HEVC stream";
    case InputKind::MpegVideo: return "an MPEG-1/2 video stream";
    case InputKind::ProgramStream: return "an MPEG program stream";
    case InputKind::Jpeg: return "a JPEG image";
    case InputKind::Png: return "a PNG image";
    case InputKind::Zip: return "a ZIP archive";
    case InputKind::Gzip: return "a gzip file";
    case InputKind::Pdf: return "a PDF document";
    case InputKind::Text: return "a text file";
  }
  return "an H.264 Annex B stream";
}

}  // namespace tarnwell
