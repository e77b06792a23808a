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
// reduction. Every operation is exact or rounds by the value alone,
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
  static inline Ticks fraction(int64_t numerator, int64_t denominator);

  int64_t floor() const { return whole_; }
  bool is_whole() const { return num_ == 0; }
  // In seconds, for reports and pictures (never for a verdict).
  double seconds() const;

  inline Ticks operator+(const Ticks& other) const;
  Ticks operator-(const Ticks& other) const;
  // times k, k at most 2^40
  Ticks times(uint64_t k) const;
  // *this + u.times(k), the same value, in one step where it can.
  inline Ticks plus_times(const Ticks& u, uint64_t k) const;
  // floor(this * p / q) for this >= 0, p and q above 0 and at most 2^40.
  inline int64_t floor_times(uint64_t p, uint64_t q) const;
  // (*this - earlier).floor_times(p, q), without reducing the difference where it can.
  inline int64_t floor_times_since(const Ticks& earlier, uint64_t p, uint64_t q) const;

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
  static constexpr unsigned __int128 kMaxDenominator = static_cast<unsigned __int128>(1) << 62;
  // Past the int64 range (hundreds of years of ticks) a time stays at its end.
  static int64_t clamped_whole(__int128 whole) {
    return whole > INT64_MAX / 2 ? INT64_MAX / 2 : whole < INT64_MIN / 2 ? INT64_MIN / 2 : static_cast<int64_t>(whole);
  }
  // The cases of the inline operations that need 128 bits or a reduction.
  Ticks add_over_other_denominator(const Ticks& other) const;
  int64_t floor_times_wide(uint64_t p, uint64_t q) const;

  // whole_ + num_ / den_, 0 <= num_ < den_ <= 2^62, not always reduced.
  int64_t whole_ = 0;
  uint64_t num_ = 0;
  uint64_t den_ = 1;
};

inline constexpr int64_t kTicksPerSecond = 27000000;

// The operations done for every packet, here so that they inline.

Ticks Ticks::fraction(int64_t numerator, int64_t denominator) {
  if (denominator <= 0 || static_cast<uint64_t>(denominator) > (uint64_t{1} << 62)) return ratio(numerator, denominator);
  int64_t q = numerator / denominator;
  int64_t r = numerator % denominator;
  if (r < 0) {
    r += denominator;
    --q;
  }
  Ticks t;
  t.whole_ = q;
  t.num_ = static_cast<uint64_t>(r);
  t.den_ = r == 0 ? 1 : static_cast<uint64_t>(denominator);
  return t;
}

Ticks Ticks::operator+(const Ticks& o) const {
  if (o.num_ == 0) {
    Ticks t = *this;
    t.whole_ += o.whole_;
    return t;
  }
  if (num_ == 0) {
    Ticks t = o;
    t.whole_ += whole_;
    return t;
  }
  if (den_ != o.den_) return add_over_other_denominator(o);
  uint64_t n = num_ + o.num_;  // below 2^63
  int64_t carry = 0;
  if (n >= den_) {
    n -= den_;
    carry = 1;
  }
  Ticks t;
  t.whole_ = whole_ + o.whole_ + carry;
  t.num_ = n;
  t.den_ = n == 0 ? 1 : den_;
  return t;
}

Ticks Ticks::plus_times(const Ticks& u, uint64_t k) const {
  // A time plus a number of byte times: the time's denominator usually
  // divides the byte time's (both come from the same PCR pair), and then
  // the sum is exact over the byte time's denominator (at most 2^62)
  // without the reductions of times and +.
  if (u.num_ == 0) {  // whole byte times: no fraction to add
    Ticks t = *this;
    t.whole_ += clamped_whole(static_cast<__int128>(u.whole_) * static_cast<__int128>(k));
    return t;
  }
  uint64_t ck = 0;
  if ((u.den_ != den_ && den_ != 1 && u.den_ % den_ != 0) || __builtin_mul_overflow(u.num_, k, &ck)) {
    return *this + u.times(k);
  }
  const uint64_t d = u.den_;
  const int64_t whole_k = clamped_whole(static_cast<__int128>(u.whole_) * static_cast<__int128>(k) + ck / d);
  // two terms below d, at most 2^62 each
  uint64_t n = (num_ == 0 ? 0 : den_ == d ? num_ : num_ * (d / den_)) + ck % d;
  int64_t carry = 0;
  if (n >= d) {
    n -= d;
    carry = 1;
  }
  Ticks t;
  t.whole_ = whole_ + whole_k + carry;
  t.num_ = n;
  t.den_ = n == 0 ? 1 : d;
  return t;
}

int64_t Ticks::floor_times(uint64_t p, uint64_t q) const {
  // In 64 bits where every product fits: the same quotients.
  uint64_t whole_p = 0;
  uint64_t rest_den = 0;
  uint64_t num_p = 0;
  uint64_t sum = 0;
  uint64_t q_den = 0;
  if (whole_ >= 0 && !__builtin_mul_overflow(static_cast<uint64_t>(whole_), p, &whole_p) &&
      !__builtin_mul_overflow(whole_p % q, den_, &rest_den) && !__builtin_mul_overflow(num_, p, &num_p) &&
      !__builtin_add_overflow(rest_den, num_p, &sum) && !__builtin_mul_overflow(q, den_, &q_den)) {
    return static_cast<int64_t>(whole_p / q + sum / q_den);
  }
  return floor_times_wide(p, q);
}

int64_t Ticks::floor_times_since(const Ticks& earlier, uint64_t p, uint64_t q) const {
  // Where the product of the denominators stays within 2^62 the subtraction
  // is exact (its reduced denominator divides that product), and a floor
  // depends only on the value: the difference over the product of the
  // denominators, not reduced, gives the same floor. Over a common
  // denominator the difference needs no product.
  Ticks difference;
  difference.whole_ = whole_ - earlier.whole_;
  uint64_t a = num_;
  uint64_t b = earlier.num_;
  uint64_t d = den_;
  if (den_ != earlier.den_) {
    const unsigned __int128 product = static_cast<unsigned __int128>(den_) * earlier.den_;
    if (product > kMaxDenominator) return (*this - earlier).floor_times(p, q);
    d = static_cast<uint64_t>(product);
    a = num_ * earlier.den_;  // below d
    b = earlier.num_ * den_;  // below d
  }
  if (a >= b) {
    difference.num_ = a - b;
  } else {
    difference.num_ = a + (d - b);
    --difference.whole_;
  }
  difference.den_ = d;
  return difference.floor_times(p, q);
}

}  // namespace tarnwell
