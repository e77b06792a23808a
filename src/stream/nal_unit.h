#pragma once
#include <cstdint>

namespace tarnwell {

// The one NAL unit being processed. As GetAnnexbNALU delivers it, `bytes` is
// the start of the NAL buffer (the 3 start-code bytes) and `length` counts from
// there. After the picture assembler's preparation `bytes` is the NAL header
// byte and `length` the header plus the payload without emulation prevention
// bytes, as far as the NAL buffer kept it.
struct NalUnit {
  int32_t start_code_length = 0;
  int32_t length = 0;
  int32_t nal_unit_type = 0;
  int32_t nal_ref_idc = 0;
  int32_t forbidden_zero_bit = 0;
  uint8_t* bytes = nullptr;
  // Bytes written to the NAL buffer from `bytes` on, the next start code's
  // included: how far a bit reader may look for the end of a code.
  int32_t readable = 0;
  // A NAL unit longer than the NAL buffer keeps only its first part there;
  // this counts the bytes beyond it (after emulation prevention removal once
  // prepared), so the picture sizes still get the whole NAL unit's length.
  uint64_t dropped_bytes = 0;
};

}  // namespace tarnwell
