#pragma once
// Exact times on the 27 MHz system clock: a whole number of ticks and a
// fraction of one tick. Byte arrival times between two PCRs, and the leaks
// of the transport stream buffers, fall between ticks; comparing them with
// a rounded clock could turn a buffer that is exactly full into one that
// overflows, so they are kept as fractions. Denominators stay far below the
// limit for real streams (a PCR interval's byte count times a bit rate);
// one that would pass 2^62 is rounded down to that precision.
//
// A fraction is not always in lowest terms: the times of one PCR interval
// keep its byte count as denominator, so that adding byte times needs no
// reduction. Every operation is exact or rounds by the reduced value alone,
// so the form never changes a value; comparisons and seconds() go by value.
#include <cstdint>

namespace tarnwell {

class Ticks {
 public:
  constexpr Ticks() = default;
  static constexpr Ticks whole(int64_t ticks) {
    Ticks t;
    t.whole_ = ticks;
    return t;
  }
  // numerator / denominator ticks; denominator above 0.
  static Ticks ratio(__int128 numerator, __int128 denominator);
  // The same value, kept over `denominator` where that is at most 2^62 (no reduction).
  static Ticks fraction(__int128 numerator, __int128 denominator);

  int64_t floor() const { return whole_; }
  bool is_whole() const { return num_ == 0; }
  // In seconds, for reports and pictures (never for a verdict).
  double seconds() const;

  Ticks operator+(const Ticks& other) const;
  Ticks operator-(const Ticks& other) const;
  // times k, k at most 2^40
  Ticks times(uint64_t k) const;
  // *this + u.times(k), the same value in the same form, in one step where it can.
  Ticks plus_times(const Ticks& u, uint64_t k) const;
  // floor(this * p / q) for this >= 0, p and q above 0 and at most 2^40.
  int64_t floor_times(uint64_t p, uint64_t q) const;
  // (*this - earlier).floor_times(p, q), without reducing the difference where it can.
  int64_t floor_times_since(const Ticks& earlier, uint64_t p, uint64_t q) const;

  friend bool operator==(const Ticks& a, const Ticks& b) {
    if (a.whole_ != b.whole_) return false;
    if (a.den_ == b.den_) return a.num_ == b.num_;
    return static_cast<unsigned __int128>(a.num_) * b.den_ == static_cast<unsigned __int128>(b.num_) * a.den_;
  }
  friend bool operator<(const Ticks& a, const Ticks& b) {
    if (a.whole_ != b.whole_) return a.whole_ < b.whole_;
    if (a.den_ == b.den_) return a.num_ < b.num_;
    return static_cast<unsigned __int128>(a.num_) * b.den_ < static_cast<unsigned __int128>(b.num_) * a.den_;
  }
  friend bool operator<=(const Ticks& a, const Ticks& b) { return !(b < a); }
  friend bool operator>(const Ticks& a, const Ticks& b) { return b < a; }
  friend bool operator>=(const Ticks& a, const Ticks& b) { return !(a < b); }

 private:
  // whole_ + num_ / den_, 0 <= num_ < den_ <= 2^62, not always reduced.
  int64_t whole_ = 0;
  uint64_t num_ = 0;
  uint64_t den_ = 1;
};

inline constexpr int64_t kTicksPerSecond = 27000000;

}  // namespace tarnwell
