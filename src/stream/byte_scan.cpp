#include "stream/byte_scan.h"

#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tarnwell {

std::size_t find_zero_pair(const uint8_t* p, std::size_t n) {
  std::size_t k = 0;
#if defined(__SSE2__)
  // Sixteen candidates at a time: byte k and byte k + 1 both zero.
  const __m128i zero = _mm_setzero_si128();
  while (k + 17 <= n) {
    __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k));
    __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k + 1));
    __m128i both = _mm_and_si128(_mm_cmpeq_epi8(here, zero), _mm_cmpeq_epi8(next, zero));
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(both));
    if (mask != 0) return k + static_cast<std::size_t>(std::countr_zero(mask));
    k += 16;
  }
#endif
  for (; k + 1 < n; ++k) {
    if (p[k] == 0 && p[k + 1] == 0) return k;
  }
  return n;
}

CopyScan copy_until_start_code(const uint8_t* src, uint8_t* dst, std::size_t n, std::size_t* first_03) {
  std::size_t i = 0;
#if defined(__SSE2__)
  // Bit t + 2 of `zeros` tells whether byte t of the block is zero, bits 0
  // and 1 carry the two bytes before the block. A byte can only end a start
  // code or be an emulation prevention byte where both bits below its own are
  // set, which is rare in coded data: such bytes are looked at one by one.
  uint32_t carry = (dst[-2] == 0 ? 1u : 0u) | (dst[-1] == 0 ? 2u : 0u);
  const __m128i zero = _mm_setzero_si128();
  while (i + 16 <= n) {
    __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), block);
    uint32_t zeros = carry | (static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, zero))) << 2);
    uint32_t after_pair = zeros & (zeros >> 1) & 0xFFFFu;
    while (after_pair != 0) {
      std::size_t t = i + static_cast<std::size_t>(std::countr_zero(after_pair));
      if (src[t] == 0x01) return {t + 1, true};
      if (src[t] == 0x03 && *first_03 == kNoIndex) *first_03 = t;
      after_pair &= after_pair - 1;
    }
    carry = zeros >> 16;
    i += 16;
  }
#endif
  uint8_t before2 = i >= 2 ? src[i - 2] : (i == 1 ? dst[-1] : dst[-2]);
  uint8_t before1 = i >= 1 ? src[i - 1] : dst[-1];
  for (; i < n; ++i) {
    uint8_t b = src[i];
    dst[i] = b;
    if (before2 == 0 && before1 == 0) {
      if (b == 0x01) return {i + 1, true};
      if (b == 0x03 && *first_03 == kNoIndex) *first_03 = i;
    }
    before2 = before1;
    before1 = b;
  }
  return {n, false};
}

}  // namespace tarnwell
