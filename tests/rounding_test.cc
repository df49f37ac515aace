// Tests of RoundToPowerOf2, RoundToMaxPrec, ToDouble, the integral rounding
// functions and the saturating conversions to 64-bit integers.

#include <cfenv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

#include "math/exactfloat.h"
#include "tests/testing.h"

namespace nurvik::lattis {
namespace {

using M = ExactFloat::RoundingMode;
constexpr M kModes[] = {
    ExactFloat::kRoundTiesToEven,     ExactFloat::kRoundTiesAwayFromZero,
    ExactFloat::kRoundTowardZero,     ExactFloat::kRoundAwayFromZero,
    ExactFloat::kRoundTowardPositive, ExactFloat::kRoundTowardNegative};
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr int64_t kI64Max = std::numeric_limits<int64_t>::max();
constexpr int64_t kI64Min = std::numeric_limits<int64_t>::min();

// Each row is checked as given and negated; negation swaps the directed modes.
TEST(RoundToPowerOf2Test, ToIntegerInEveryModeAndSign) {
  constexpr int kMirror[] = {0, 1, 2, 3, 5, 4};
  const double cases[][7] = {
      // x, then the result for each mode in enumerator order
      {2.5, 2, 3, 2, 3, 3, 2},  {3.5, 4, 4, 3, 4, 4, 3},
      {0.5, 0, 1, 0, 1, 1, 0},  {0.25, 0, 0, 0, 1, 1, 0},
      {0.75, 1, 1, 0, 1, 1, 0}, {2.25, 2, 2, 2, 3, 3, 2},
      {2.75, 3, 3, 2, 3, 3, 2}, {1.75, 2, 2, 1, 2, 2, 1},
  };
  for (const auto& c : cases) {
    for (int m = 0; m < 6; ++m) {
      SCOPED_TRACE(testing::Message() << c[0] << " mode " << m);
      const ExactFloat x(c[0]);
      EXPECT_TRUE(Same(x.RoundToPowerOf2(0, kModes[m]), c[1 + m]));
      EXPECT_TRUE(Same((-x).RoundToPowerOf2(0, kModes[kMirror[m]]), -c[1 + m]));
    }
  }
  // A mode outside the enumeration rounds ties to even.
  EXPECT_TRUE(Same(ExactFloat(2.5).RoundToPowerOf2(0, static_cast<M>(7)), 2));
  EXPECT_TRUE(Same(ExactFloat(3.5).RoundToPowerOf2(0, static_cast<M>(7)), 4));
}

TEST(RoundToPowerOf2Test, OtherPowersOfTwo) {
  struct Case {
    double x;
    int bit_exp;
    M mode;
    double want;
  };
  const M even = ExactFloat::kRoundTiesToEven;
  const M away = ExactFloat::kRoundTiesAwayFromZero;
  // clang-format off
  const Case cases[] = {
      {0.625, -2, even, 0.5}, {0.875, -2, even, 1}, {6, 2, even, 8},
      {10, 2, even, 8}, {14, 2, even, 16}, {0.625, -2, away, 0.75},
      {10, 2, away, 12}, {13, 1, ExactFloat::kRoundTowardZero, 12},
      {-6, 2, ExactFloat::kRoundTowardPositive, -4},
      {0x1.fffffffffffffp-1000, -1000, even, 0x1p-999}};
  // clang-format on
  for (const Case& c : cases) {
    EXPECT_TRUE(
        Same(ExactFloat(c.x).RoundToPowerOf2(c.bit_exp, c.mode), c.want))
        << c.x << " " << c.bit_exp;
  }
  for (M mode : kModes) {
    for (int bit_exp : {-3, -2}) {  // 0.75 is a multiple of 2^-2 already
      EXPECT_TRUE(Same(ExactFloat(0.75).RoundToPowerOf2(bit_exp, mode), 0.75));
    }
    for (double s : {-0.0, -kInf, kNaN}) {  // special values come back as is
      const ExactFloat x(s);
      EXPECT_TRUE(Same(x.RoundToPowerOf2(-5, mode), x));
      EXPECT_TRUE(Same((-x).RoundToPowerOf2(5, mode), -x));
    }
  }
}

// Arguments far outside the exponent range: either nothing is dropped (an
// exact copy) or everything is, giving a signed zero or, when the mode
// increments, 2^bit_exp (infinite past kMaxExp).
TEST(RoundToPowerOf2Test, ExtremeArguments) {
  constexpr int kMax = ExactFloat::kMaxExp;
  for (const ExactFloat& x :
       {ExactFloat(1), ExactFloat(-0.75), ldexp(ExactFloat(3), kMax - 2),
        -Pow2(ExactFloat::kMinExp - 1), Pow2(4000) - 1}) {
    const int s = x.sign_bit() ? -1 : 1;
    for (M mode : kModes) {
      SCOPED_TRACE(testing::Message() << x.exp() << " mode " << mode);
      const bool up = mode == ExactFloat::kRoundAwayFromZero ||
                      mode == (s > 0 ? ExactFloat::kRoundTowardPositive
                                     : ExactFloat::kRoundTowardNegative);
      const ExactFloat zero = ExactFloat::SignedZero(s);
      const ExactFloat inf = ExactFloat::Infinity(s);
      for (int bit_exp : {INT_MAX, INT_MAX - 1, INT_MAX - 2, INT_MAX - 3,
                          1 << 30, kMax + 2, kMax + 1, kMax, kMax - 1}) {
        if (bit_exp <= x.exp()) continue;  // the top bit would be the half bit
        const ExactFloat want = !up ? zero
                                : bit_exp >= kMax
                                    ? inf
                                    : ldexp(ExactFloat(s), bit_exp);
        EXPECT_TRUE(Same(x.RoundToPowerOf2(bit_exp, mode), want)) << bit_exp;
      }
      for (int bit_exp : {INT_MIN, INT_MIN + 1, -(1 << 30), -267108864}) {
        EXPECT_TRUE(Same(x.RoundToPowerOf2(bit_exp, mode), x)) << bit_exp;
      }
      EXPECT_TRUE(Same(x.RoundToMaxPrec(INT_MAX, mode), x));
      for (int max_prec : {INT_MIN, INT_MIN + 1, -(1 << 30)}) {
        EXPECT_TRUE(Same(x.RoundToMaxPrec(max_prec, mode), up ? inf : zero))
            << max_prec;
      }
    }
  }
}

TEST(RoundToMaxPrecTest, Examples) {
  const ExactFloat x(23);
  for (M mode : kModes) {
    const bool down = mode == ExactFloat::kRoundTowardZero ||
                      mode == ExactFloat::kRoundTowardNegative;
    EXPECT_TRUE(Same(x.RoundToMaxPrec(3, mode), down ? 20 : 24)) << mode;
    EXPECT_TRUE(Same(x.RoundToMaxPrec(5, mode), x));
  }
  EXPECT_TRUE(Same(x.RoundToMaxPrec(0, ExactFloat::kRoundTiesToEven), 32));
  EXPECT_TRUE(Same(x.RoundToMaxPrec(0, ExactFloat::kRoundTowardZero), 0));
  EXPECT_TRUE(Same(x.RoundToMaxPrec(-1, ExactFloat::kRoundAwayFromZero), 64));
  const ExactFloat big = ldexp(ExactFloat(3), 199999998);
  EXPECT_TRUE(
      Same(big.RoundToMaxPrec(1, ExactFloat::kRoundAwayFromZero), kInf));
  EXPECT_TRUE(Same(big.RoundToMaxPrec(1, ExactFloat::kRoundTowardZero),
                   Pow2(199999999)));
}

TEST(ToDoubleTest, Examples) {
  const ExactFloat one(1);
  EXPECT_EQ((Pow2(53) + one).ToDouble(), 0x1p53);
  EXPECT_EQ((Pow2(53) + ExactFloat(3)).ToDouble(), 0x1p53 + 4);
  EXPECT_EQ((one + Pow2(-60)).ToDouble(), 1.0);
  EXPECT_EQ((-one - Pow2(-53) - Pow2(-60)).ToDouble(), -0x1.0000000000001p0);
  EXPECT_EQ(ldexp(Pow2(54) - one, 970).ToDouble(), kInf);
  EXPECT_EQ(ldexp(Pow2(54) - 2, 970).ToDouble(), 0x1.fffffffffffffp1023);
  // Rounded once, on the subnormal grid: just above half of 2^-1074.
  EXPECT_EQ(ldexp(one + Pow2(-60), -1075).ToDouble(), 0x1p-1074);
}

// The result is the correctly rounded double under every rounding mode of
// the floating-point environment.
TEST(RoundingTest, ToDoubleIgnoresTheEnvironment) {
  const ExactFloat one(1);
  const struct {
    ExactFloat x;
    double expected;
  } cases[] = {
      {Pow2(-1075), 0.0},
      {-Pow2(-1075), -0.0},
      {ldexp(ExactFloat(3), -1076), 0x1p-1074},
      {ldexp(one + Pow2(-60), -1075), 0x1p-1074},
      {ldexp(ExactFloat(5), -1077) + Pow2(-1200), 0x1p-1074},
      {ldexp(Pow2(54) - one, 970), HUGE_VAL},
      {-Pow2(2000), -HUGE_VAL},
      {one + Pow2(-60), 1.0},
      {-(one + Pow2(-53) + Pow2(-60)), -0x1.0000000000001p0},
  };
  for (int mode : {FE_TONEAREST, FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
    ASSERT_EQ(fesetround(mode), 0);
    for (const auto& c : cases) {
      const double d = c.x.ToDouble();
      EXPECT_EQ(d, c.expected) << c.x << " mode " << mode;
      EXPECT_EQ(std::signbit(d), std::signbit(c.expected)) << c.x;
    }
  }
  fesetround(FE_TONEAREST);
}

// Doubles below 2^63 in magnitude are compared with the C library elsewhere;
// these are the limits, where ExactFloat saturates.
TEST(IntegralRoundingTest, IntegerConversionsSaturate) {
  EXPECT_TRUE(Same(floor(Pow2(100) + 0.5), Pow2(100)));  // exact, unbounded
  const ExactFloat p63 = Pow2(63), half(0.5);
  struct Case {
    ExactFloat x;
    int64_t rint, round;
  };
  // clang-format off
  const Case cases[] = {
      {-0.5, 0, -1}, {-0.0, 0, 0},
      {p63 - 1, kI64Max, kI64Max}, {p63 - 1.5, kI64Max - 1, kI64Max},
      {p63 - half, kI64Max, kI64Max}, {p63, kI64Max, kI64Max},
      {p63 * p63, kI64Max, kI64Max}, {1.5 - p63, kI64Min + 2, kI64Min + 1},
      {half - p63, kI64Min, kI64Min}, {-p63, kI64Min, kI64Min},
      {-p63 - half, kI64Min, kI64Min}, {kInf, kI64Max, kI64Max},
      {-kInf, kI64Min, kI64Min}, {kNaN, kI64Max, kI64Max},
      {-ExactFloat::NaN(), kI64Max, kI64Max}};
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.x);
    EXPECT_EQ(lrint(c.x), c.rint);
    EXPECT_EQ(llrint(c.x), c.rint);
    EXPECT_EQ(lround(c.x), c.round);
    EXPECT_EQ(llround(c.x), c.round);
  }
  const ExactFloat x = half - p63;
  EXPECT_EQ(x.ToInteger<long>(ExactFloat::kRoundTowardZero), kI64Min + 1);
  EXPECT_EQ(x.ToInteger<long>(ExactFloat::kRoundTowardNegative), kI64Min);
  EXPECT_EQ((p63 - half).ToInteger<long long>(ExactFloat::kRoundTowardZero),
            kI64Max);
}

}  // namespace
}  // namespace nurvik::lattis
