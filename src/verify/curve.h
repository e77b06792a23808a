#pragma once
// The rate-buffer curve of a stream: for a bit rate, the smallest initial
// fill and the smallest buffer size with which the check passes, computed from
// the picture sizes of one reading, with the buffer model's own arithmetic.
//
// With d the bits that arrive in one picture interval (arrival_per_picture,
// at most the largest 32-bit value, as apply_picture adds it), s_i the size
// of applied picture i (0 <= i < n) and S_m = s_0 + ... + s_{m-1}:
//
// - The fullness in front of picture i, with no clamping at the top, is
//   F + i*d - S_i. No picture underflows exactly when F >= S_{i+1} - i*d for
//   every i, so the smallest fill is the largest of these and 0.
// - Without the strict check, the model clamps the fullness to B after every
//   arrival. Clamping commutes with adding, so the fullness in front of
//   picture i is the least of F + i*d - S_i and, for every k < i, the
//   B + (i-1-k)*d - (S_i - S_{k+1}) that follows a clamp after picture k.
//   With P_m = S_m - m*d, picture i fits after every clamp exactly when
//   B >= d + P_{i+1} - P_{k+1}: the buffer must hold d plus the largest
//   rise of P over any stretch that starts after the first picture.
// - With the strict check, any arrival past B ends the run, so no clamp ever
//   happens on a passing run: B >= F + m*d - S_m = F - P_m for m = 1..n.
//
// In both cases B is also at least F (a larger fill is refused), at least
// every picture (a larger one is undersized) and at least 1 (0 means a
// search). Every bound is reached by some failing setting, so the values are
// exact to the bit; each pass is one walk over the sizes.
#include <cstdint>
#include <optional>
#include <vector>

namespace tarnwell {

struct CurvePoint {
  uint32_t bit_rate = 0;
  // False: no 32-bit buffer size or fill works at this rate; the values
  // below then hold the exact need, past the 32-bit range.
  bool valid = false;
  uint64_t min_buffer_size = 0;
  uint64_t min_initial_fill = 0;
};

// The largest picture count the curve computes with: its 64-bit sums cannot
// overflow below it.
inline constexpr uint64_t kMaxCurvePictures = uint64_t{1} << 31;

// One point of the curve. sizes: the applied pictures' sizes in bits, in
// decoding order; frame_rate: the frame rate in force (1.0 or more), as the
// check uses it. bit_rate 0 (a search, not a rate) and more than
// kMaxCurvePictures pictures give an invalid point with both values 0.
CurvePoint curve_point(const std::vector<uint32_t>& sizes, uint32_t bit_rate, double frame_rate, bool strict);

// The least bit rate with which the check passes at buffer size
// buffer_size and initial fill initial_fill: the exact answer of the
// bit-rate search, where the search itself steps on a grid. sizes and
// frame_rate as for curve_point. Without the strict check a higher rate
// never fails where a lower one passed, so the least rate is found by
// halving the range, one walk over the sizes per step. With it a higher
// rate may overflow instead: the least rate without an underflow is the
// only candidate (a passing run never reaches the clamp), and the caller's
// check at it decides. No value when no rate up to 4294967295 avoids an
// underflow (a picture larger than the buffer or the fill alone, or a
// stream that needs more).
std::optional<uint32_t> least_bit_rate(const std::vector<uint32_t>& sizes, uint32_t buffer_size,
                                       uint32_t initial_fill, double frame_rate, bool strict);

// The default bit rates: 16, evenly spaced from the average bit rate of the
// sizes at frame_rate, rounded up to a multiple of 1,000, to four times it.
// Rates past the 32-bit range are left out; no pictures give 1,000 to 4,000.
std::vector<uint32_t> default_curve_rates(const std::vector<uint32_t>& sizes, double frame_rate);

}  // namespace tarnwell
