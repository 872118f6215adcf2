// quantise: an inline, exact twin of qreal::percision_repr for the hot loops
// of state comparison, ordering and hashing, where libm's round() would be
// an out-of-line call per amplitude.
//
// Adding the largest double below one half (with the sign of the value) and
// truncating rounds halves away from zero and moves no other value across an
// integer, at every magnitude; NaN and out-of-range values saturate as in
// percision_repr. Exactness is checked against percision_repr in the tests.
#ifndef TREVALON_STATE_QUANTISE_H_
#define TREVALON_STATE_QUANTISE_H_

#include <cmath>
#include <cstdint>

#include "state/qreal.h"

namespace trevalon {

inline int64_t quantise(double x) {
  const double y = x * qreal::kQuantScale;
  const double t = y + std::copysign(0.49999999999999994, y);
  // The conversion truncates; NaN and values beyond i64 take the slow path.
  if (std::fabs(t) < 9223372036854775808.0) [[likely]] return static_cast<int64_t>(t);
  return qreal::saturate_i64(std::trunc(t));
}

}  // namespace trevalon

#endif  // TREVALON_STATE_QUANTISE_H_
