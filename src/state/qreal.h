// The real scalar of every amplitude and matrix entry, and its tolerances.
//
// Amplitudes are plain doubles and all arithmetic on them is IEEE double
// arithmetic; what is special is comparison. Equality, order and hashing go
// through `percision_repr`, a fixed-point bucketing at 2^-24, so two
// simulations that differ only by rounding noise compare equal and hash
// equally. Every threshold of the simulator is defined here.
#ifndef TREVALON_STATE_QREAL_H_
#define TREVALON_STATE_QREAL_H_

#include <cmath>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>

#include "utils/siphash.h"

namespace trevalon::qreal {

inline constexpr double kQuantScale = 16777216.0;          // 2^24
inline constexpr double kNearZero = 5.960464477539063e-08;  // 2^-24
inline constexpr double kLooseScale = 256.0;                // 2^8

// Saturating double -> i64 conversion; NaN becomes 0.
inline int64_t saturate_i64(double x) {
  if (std::isnan(x)) return 0;
  if (x >= 9223372036854775808.0) return INT64_MAX;
  if (x < -9223372036854775808.0) return INT64_MIN;
  return static_cast<int64_t>(x);
}

// x * 2^24 rounded half away from zero, saturated to i64.
inline int64_t percision_repr(double x) { return saturate_i64(std::round(x * kQuantScale)); }

inline bool eq(double a, double b) { return percision_repr(a) == percision_repr(b); }
inline std::strong_ordering cmp(double a, double b) {
  return percision_repr(a) <=> percision_repr(b);
}
inline bool near_zero(double x) { return std::fabs(x) < kNearZero; }
inline bool loose_eq(double a, double b) {
  return saturate_i64(std::trunc(a * kLooseScale)) == saturate_i64(std::trunc(b * kLooseScale));
}

// Feeds the quantised value to a hasher as 8 little-endian bytes.
inline void hash_into(SipHasher13& h, double x) { h.write_i64(percision_repr(x)); }

// Fixed notation, never an exponent: exactly `precision` digits after the
// point when given, else the shortest digits that read back as `x`.
std::string to_text(double x, std::optional<int> precision = std::nullopt);

}  // namespace trevalon::qreal

#endif  // TREVALON_STATE_QREAL_H_
