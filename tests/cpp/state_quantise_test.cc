#include "state/quantise.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "state/qreal.h"
#include "state/rng.h"

namespace trevalon {
namespace {

TEST(StateQuantiseTest, AgreesWithPrecisionReprEverywhere) {
  const double q = 1.0 / qreal::kQuantScale;
  std::vector<double> values = {0.0, -0.0, q / 2, -q / 2, q / 2 - 1e-30, 1.5 * q, 2.5 * q, -2.5 * q,
                                0.5, -0.5, 1.0, 0.7071067811865476, 1e300, -1e300, 5e-324,
                                std::numeric_limits<double>::infinity(),
                                -std::numeric_limits<double>::infinity(),
                                std::numeric_limits<double>::quiet_NaN(), 549755813888.0,
                                9223372036854775807.0 * q, -9223372036854775808.0 * q};
  // Every half-quantum and its neighbours over a wide range of magnitudes.
  for (double k = 0.5; k < 1e17; k = k * 3 + 0.5) {
    for (double s : {1.0, -1.0}) {
      const double h = s * k * q;
      values.push_back(h);
      values.push_back(std::nextafter(h, 0.0));
      values.push_back(std::nextafter(h, 2 * h));
    }
  }
  Rng64 rng = Rng64::from_seed(5);
  for (int i = 0; i < 100000; ++i) values.push_back((rng.uniform() - 0.5) * std::ldexp(1.0, i % 40 - 20));
  for (double v : values) EXPECT_EQ(quantise(v), qreal::percision_repr(v)) << v;
}

}  // namespace
}  // namespace trevalon
