#include "verify/tstd_time.h"

#include <cstdint>
#include <numeric>

namespace tarnwell {
namespace {

using i128 = __int128;
using u128 = unsigned __int128;

constexpr u128 kMaxDenominator = u128{1} << 62;

// Binary GCD: shifts and subtractions, no division.
uint64_t gcd64(uint64_t a, uint64_t b) {
  if (a == 0) return b;
  if (b == 0) return a;
  const int shift = __builtin_ctzll(a | b);
  a >>= __builtin_ctzll(a);
  do {
    b >>= __builtin_ctzll(b);
    if (a > b) {
      const uint64_t t = a;
      a = b;
      b = t;
    }
    b -= a;
  } while (b != 0);
  return a << shift;
}

u128 gcd(u128 a, u128 b) {
  // Most fractions here fit 64 bits, where division is far cheaper.
  if ((a >> 64) == 0 && (b >> 64) == 0) return gcd64(static_cast<uint64_t>(a), static_cast<uint64_t>(b));
  while (b != 0) {
    const u128 r = a % b;
    a = b;
    b = r;
  }
  return a;
}

// Past the int64 range (hundreds of years of ticks) a time stays at its end.
int64_t clamped_whole(i128 whole) {
  return whole > INT64_MAX / 2 ? INT64_MAX / 2 : whole < INT64_MIN / 2 ? INT64_MIN / 2 : static_cast<int64_t>(whole);
}

}  // namespace

Ticks Ticks::ratio(i128 numerator, i128 denominator) {
  if (denominator > 0 && denominator <= INT64_MAX && numerator >= INT64_MIN && numerator <= INT64_MAX) {
    const int64_t n64 = static_cast<int64_t>(numerator);
    const int64_t d64 = static_cast<int64_t>(denominator);
    int64_t q = n64 / d64;
    int64_t r = n64 % d64;
    if (r < 0) {
      r += d64;
      --q;
    }
    const uint64_t g = gcd64(static_cast<uint64_t>(r), static_cast<uint64_t>(d64));
    Ticks t;
    t.whole_ = q;
    t.num_ = static_cast<uint64_t>(r) / g;
    t.den_ = r == 0 ? 1 : static_cast<uint64_t>(d64) / g;
    if (t.den_ <= (uint64_t{1} << 62)) return t;
  }
  if (denominator < 0) {
    numerator = -numerator;
    denominator = -denominator;
  }
  i128 q = numerator / denominator;
  i128 r = numerator % denominator;
  if (r < 0) {
    r += denominator;
    --q;
  }
  u128 n = static_cast<u128>(r);
  u128 d = static_cast<u128>(denominator);
  const u128 g = gcd(n, d);
  if (g > 1) {
    n /= g;
    d /= g;
  }
  while (d > kMaxDenominator) {  // precision past 2^-62 tick is dropped
    n >>= 1;
    d = (d + 1) >> 1;
  }
  Ticks t;
  t.whole_ = static_cast<int64_t>(q);
  t.num_ = static_cast<uint64_t>(n);
  t.den_ = n == 0 ? 1 : static_cast<uint64_t>(d);
  return t;
}

Ticks Ticks::fraction(i128 numerator, i128 denominator) {
  if (denominator <= 0 || static_cast<u128>(denominator) > kMaxDenominator || numerator < INT64_MIN ||
      numerator > INT64_MAX) {
    return ratio(numerator, denominator);
  }
  const int64_t n64 = static_cast<int64_t>(numerator);
  const int64_t d64 = static_cast<int64_t>(denominator);
  int64_t q = n64 / d64;
  int64_t r = n64 % d64;
  if (r < 0) {
    r += d64;
    --q;
  }
  Ticks t;
  t.whole_ = q;
  t.num_ = static_cast<uint64_t>(r);
  t.den_ = r == 0 ? 1 : static_cast<uint64_t>(d64);
  return t;
}

double Ticks::seconds() const {
  // Below 2^53 both terms convert exactly and the quotient is rounded once,
  // whatever the form; above, the reduced form decides.
  if (den_ > (uint64_t{1} << 53)) {
    const uint64_t g = gcd64(num_, den_);
    if (g > 1) {
      Ticks reduced = *this;
      reduced.num_ /= g;
      reduced.den_ /= g;
      return reduced.seconds();
    }
  }
  return (static_cast<double>(whole_) + static_cast<double>(num_) / static_cast<double>(den_)) /
         static_cast<double>(kTicksPerSecond);
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
  if (den_ == o.den_) {
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
  const u128 g = gcd64(den_, o.den_);
  const u128 d = u128{den_} / g * o.den_;
  const u128 n = u128{num_} * (o.den_ / g) + u128{o.num_} * (den_ / g);
  Ticks t = ratio(static_cast<i128>(n), static_cast<i128>(d));
  t.whole_ += whole_ + o.whole_;
  return t;
}

Ticks Ticks::operator-(const Ticks& o) const {
  Ticks negated;
  negated.whole_ = -o.whole_ - (o.num_ != 0 ? 1 : 0);
  negated.num_ = o.num_ != 0 ? o.den_ - o.num_ : 0;
  negated.den_ = o.num_ != 0 ? o.den_ : 1;
  return *this + negated;
}

Ticks Ticks::times(uint64_t k) const {
  Ticks t;
  if (num_ != 0) t = ratio(static_cast<i128>(u128{num_} * k), static_cast<i128>(den_));
  t.whole_ = clamped_whole(static_cast<i128>(whole_) * static_cast<i128>(k) + t.whole_);
  return t;
}

Ticks Ticks::plus_times(const Ticks& u, uint64_t k) const {
  // A time plus a number of byte times: the time's denominator usually
  // divides the byte time's (both come from the same PCR pair), and then
  // the sum is exact over the byte time's denominator (at most 2^62)
  // without the reductions of times and +.
  uint64_t ck = 0;
  if (u.num_ == 0 || (u.den_ != den_ && u.den_ % den_ != 0) || __builtin_mul_overflow(u.num_, k, &ck)) {
    return *this + u.times(k);
  }
  const uint64_t d = u.den_;
  const int64_t whole_k = clamped_whole(static_cast<i128>(u.whole_) * static_cast<i128>(k) + ck / d);
  uint64_t n = (den_ == d ? num_ : num_ * (d / den_)) + ck % d;  // two terms below d, at most 2^62 each
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
  // whole * p / q first, then the remainder with the fraction.
  const i128 wp = static_cast<i128>(whole_) * p;
  i128 result = wp / static_cast<i128>(q);
  const i128 rest = wp % static_cast<i128>(q);
  const i128 frac = (rest * static_cast<i128>(den_) + static_cast<i128>(num_) * p) / (static_cast<i128>(q) * den_);
  result += frac;
  return static_cast<int64_t>(result);
}

int64_t Ticks::floor_times_since(const Ticks& earlier, uint64_t p, uint64_t q) const {
  // Where the product of the denominators stays within 2^62 the subtraction
  // is exact (its reduced denominator divides that product), and a floor
  // depends only on the value: the difference over the product of the
  // denominators, not reduced, gives the same floor.
  const u128 product = u128{den_} * earlier.den_;
  if (product > kMaxDenominator) return (*this - earlier).floor_times(p, q);
  const uint64_t d = static_cast<uint64_t>(product);
  const uint64_t a = num_ * earlier.den_;  // below d
  const uint64_t b = earlier.num_ * den_;  // below d
  Ticks difference;
  difference.whole_ = whole_ - earlier.whole_;
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
