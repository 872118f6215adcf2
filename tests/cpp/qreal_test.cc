#include "state/qreal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace trevalon::qreal {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(Qreal, QuantisedEquality) {
  EXPECT_TRUE(eq(1e-8, 0.0));
  EXPECT_TRUE(eq(-0.0, 0.0));
  EXPECT_TRUE(eq(kNaN, 0.0));
  EXPECT_FALSE(eq(std::ldexp(1.0, -25), 0.0));  // rounds half away from zero
  EXPECT_TRUE(eq(0.5 + std::ldexp(1.0, -26), 0.5));
  EXPECT_FALSE(eq(0.5 + std::ldexp(1.0, -24), 0.5));
  EXPECT_TRUE(eq(1e300, 1e301));
  EXPECT_EQ(percision_repr(1e300), INT64_MAX);
  EXPECT_EQ(percision_repr(-1e300), INT64_MIN);
  EXPECT_EQ(cmp(kNaN, kNaN), std::strong_ordering::equal);
  EXPECT_EQ(cmp(kNaN, 0.0), std::strong_ordering::equal);
  EXPECT_EQ(cmp(-1.0, 1.0), std::strong_ordering::less);
}

TEST(Qreal, Tolerances) {
  EXPECT_FALSE(near_zero(std::ldexp(1.0, -24)));
  EXPECT_TRUE(near_zero(std::ldexp(1.0, -24) - std::ldexp(1.0, -60)));
  EXPECT_FALSE(near_zero(kNaN));
  EXPECT_FALSE(loose_eq(0.0039, 0.0040));
  EXPECT_TRUE(loose_eq(-0.0039, 0.0039));
  EXPECT_TRUE(loose_eq(1.9999, 1.998));
  EXPECT_FALSE(loose_eq(1.9999, 1.996));
}

TEST(Qreal, Text) {
  EXPECT_EQ(to_text(1.0), "1");
  EXPECT_EQ(to_text(1e-7), "0.0000001");
  EXPECT_EQ(to_text(0.70710678, 4), "0.7071");
  EXPECT_EQ(to_text(-0.5, 4), "-0.5000");
  EXPECT_EQ(to_text(1e300).size(), 301u);
}

}  // namespace
}  // namespace trevalon::qreal
