#include "verify/tstd_time.h"

#include <cstdint>
#include <utility>

namespace tarnwell {
namespace {

using i128 = __int128;
using u128 = unsigned __int128;

// Binary GCD: shifts and subtractions, no division.
uint64_t gcd64(uint64_t a, uint64_t b) {
  if (a == 0) return b;
  if (b == 0) return a;
  const int shift = __builtin_ctzll(a | b);
  a >>= __builtin_ctzll(a);
  do {
    b >>= __builtin_ctzll(b);
    if (a > b) std::swap(a, b);
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

Ticks Ticks::add_over_other_denominator(const Ticks& o) const {
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

int64_t Ticks::floor_times_wide(uint64_t p, uint64_t q) const {
  // whole * p / q first, then the remainder with the fraction.
  const i128 wp = static_cast<i128>(whole_) * p;
  i128 result = wp / static_cast<i128>(q);
  const i128 rest = wp % static_cast<i128>(q);
  const i128 frac = (rest * static_cast<i128>(den_) + static_cast<i128>(num_) * p) / (static_cast<i128>(q) * den_);
  result += frac;
  return static_cast<int64_t>(result);
}

}  // namespace tarnwell
