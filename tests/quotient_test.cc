// Special values of Divide, Sqrt and fma, exact results, and the rounding
// of quotients and roots on a few values worked out by hand.

#include <cmath>
#include <limits>

#include "gtest/gtest.h"
#include "math/exactfloat.h"
#include "tests/testing.h"

namespace nurvik::lattis {
namespace {

using EF = ExactFloat;

const EF kNaN = EF::NaN();
const EF kNegNaN = -EF::NaN();
const EF kInf = EF::Infinity(1);
const EF kNegInf = EF::Infinity(-1);
const EF kZero = EF::SignedZero(1);
const EF kNegZero = EF::SignedZero(-1);

TEST(DivideTest, SpecialValues) {
  struct Case {
    EF a, b, want;
  };
  const Case cases[] = {
      // NaN operands come back as stored, the first one first.
      {kNegNaN, 2, kNegNaN},
      {2, kNegNaN, kNegNaN},
      {kNegNaN, kNaN, kNegNaN},
      {kNaN, kNegNaN, kNaN},
      {kNegNaN, kZero, kNegNaN},
      // Invalid: a fresh NaN.
      {kZero, kNegZero, kNaN},
      {kInf, kNegInf, kNaN},
      // Infinities and zeros, with the product of the signs.
      {kInf, -3, kNegInf},
      {kNegInf, kNegZero, kInf},
      {kNegInf, 0, kNegInf},
      {-5, kInf, kNegZero},
      {kNegZero, kNegInf, kZero},
      {5, kNegZero, kNegInf},
      {-5, kNegZero, kInf},
      {kNegZero, 7, kNegZero},
      {kZero, -7, kNegZero},
  };
  for (const Case& c : cases) {
    for (int m = 0; m <= 5; ++m) {
      const EF got = Divide(c.a, c.b, 10, EF::RoundingMode(m));
      EXPECT_TRUE(Same(got, c.want))
          << c.a << " / " << c.b << " gave " << got << ", mode " << m;
      if (c.want.is_nan() && !c.a.is_nan() && !c.b.is_nan()) {
        EXPECT_FALSE(got.sign_bit()) << "a fresh NaN has sign +1";
      }
    }
  }
}

TEST(SqrtTest, SpecialValues) {
  struct Case {
    EF a, want;
  };
  const Case cases[] = {
      {kNegNaN, kNegNaN}, {kNegZero, kNegZero}, {kZero, kZero},
      {kInf, kInf},       {kNegInf, kNaN},      {-4, kNaN},
      {-EF(0.25), kNaN},
  };
  for (const Case& c : cases) {
    for (int m = 0; m <= 5; ++m) {
      EXPECT_TRUE(Same(Sqrt(c.a, 10, EF::RoundingMode(m)), c.want)) << c.a;
    }
  }
}

TEST(DivideTest, ExactQuotientsAreExact) {
  EXPECT_TRUE(Same(Divide(6, 4, 2, EF::kRoundTowardZero), EF(1.5)));
  EXPECT_TRUE(Same(Divide(-1, 1024, 1, EF::kRoundAwayFromZero),
                   -EF(1.0 / 1024)));
  // 3 * 5 * 7 / 15 = 7, to any precision of at least 3 bits.
  EXPECT_TRUE(Same(Divide(105, -15, 3, EF::kRoundTiesToEven), -7));
  const EF big = ldexp(EF(1), 300) + 1;
  EXPECT_TRUE(Same(Divide(big * big, big, 301, EF::kRoundTowardZero), big));
}

TEST(DivideTest, RoundsOneThirdInEveryMode) {
  // 1/3 = 0.0101|0101...b: to 4 bits, 0.0101b plus 2/3 of a unit.
  const EF down = ldexp(EF(5), -4), up = ldexp(EF(11), -5);
  const struct {
    EF::RoundingMode mode;
    EF positive, negative;
  } cases[] = {
      {EF::kRoundTiesToEven, up, -up},
      {EF::kRoundTiesAwayFromZero, up, -up},
      {EF::kRoundTowardZero, down, -down},
      {EF::kRoundAwayFromZero, up, -up},
      {EF::kRoundTowardPositive, up, -down},
      {EF::kRoundTowardNegative, down, -up},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(Same(Divide(1, 3, 4, c.mode), c.positive)) << c.mode;
    EXPECT_TRUE(Same(Divide(-1, 3, 4, c.mode), c.negative)) << c.mode;
  }
  // Below one bit: zero or the single power of two above.
  EXPECT_TRUE(Same(Divide(1, 3, 0, EF::kRoundTiesToEven), 0.5));
  EXPECT_TRUE(Same(Divide(1, 3, -2, EF::kRoundTiesToEven), 0));
  EXPECT_TRUE(Same(Divide(-1, 3, -2, EF::kRoundAwayFromZero), -2));
}

TEST(SqrtTest, PerfectSquaresAndRoundedRoots) {
  EXPECT_TRUE(Same(Sqrt(EF(0.25), 1, EF::kRoundTowardZero), 0.5));
  EXPECT_TRUE(Same(Sqrt(EF(9) * ldexp(EF(1), -1001) * 2, 2,
                        EF::kRoundTowardZero),
                   ldexp(EF(3), -500)));
  // sqrt(2) = 1.0110101000001...b
  EXPECT_TRUE(Same(Sqrt(2, 5, EF::kRoundTowardZero), 1.375));
  EXPECT_TRUE(Same(Sqrt(2, 5, EF::kRoundTiesToEven), 1.4375));
  EXPECT_TRUE(Same(Sqrt(2, 5, EF::kRoundTowardNegative), 1.375));
  // The double nearest sqrt(2), whatever the path taken.
  for (int bits : {53, 100, 5000}) {
    EXPECT_EQ(Sqrt(2, bits, EF::kRoundTiesToEven).ToDouble(), std::sqrt(2.0))
        << bits;
  }
}

TEST(QuotientTest, RangeLimits) {
  const EF tiny = ldexp(EF(1), EF::kMinExp - 1), huge = ldexp(EF(1), 199999999);
  EXPECT_TRUE(Same(Divide(tiny, 2, 10, EF::kRoundTiesToEven), 0));
  EXPECT_TRUE(Same(Divide(-tiny, 3, 10, EF::kRoundAwayFromZero), -0.0));
  EXPECT_TRUE(Same(Divide(huge, 0.5, 10, EF::kRoundTiesToEven), kInf));
  // (2^kMaxExp - 2^(kMaxExp-11)) / 1 rounded up to 10 bits carries into
  // 2^kMaxExp: infinity; toward zero it stays below.
  const EF top = ldexp(ldexp(EF(1), 11) - 1, EF::kMaxExp - 11);
  EXPECT_TRUE(Same(Divide(top, 1, 10, EF::kRoundAwayFromZero), kInf));
  EXPECT_TRUE(Divide(top, 1, 10, EF::kRoundTowardZero).is_normal());
  EXPECT_EQ(Sqrt(huge, 10, EF::kRoundTiesToEven).exp(), 100000000);
}

TEST(FmaTest, ProductThenSum) {
  EXPECT_TRUE(Same(fma(0.1, 10, -1), EF(0.1) * EF(10) - 1));
  EXPECT_TRUE(Same(fma(kInf, 0, 1), kNaN));
  EXPECT_TRUE(Same(fma(kNegNaN, 0, kNaN), kNegNaN));
  EXPECT_TRUE(Same(fma(2, kInf, kNegInf), kNaN));
  EXPECT_TRUE(Same(fma(kNegZero, 5, kZero), kZero));
  EXPECT_TRUE(Same(fma(kNegZero, 5, kNegZero), kNegZero));
  EXPECT_TRUE(Same(fma(3, 3, -9), 0));
}

TEST(ConstructorTest, EveryIntegerTypeConvertsExactly) {
  const EF from_ll = 5000000000LL, from_l = -5000000000L, from_u = 4000000000u;
  EXPECT_TRUE(Same(from_ll, ldexp(EF(9765625), 9)));  // 5^10 2^9
  EXPECT_TRUE(Same(from_l, -from_ll));
  EXPECT_TRUE(Same(from_u, EF(4000000000.0)));
  EXPECT_TRUE(Same(EF(std::numeric_limits<long long>::min()),
                   -ldexp(EF(1), 63)));
  EXPECT_TRUE(Same(EF(std::numeric_limits<unsigned long long>::max()),
                   ldexp(EF(1), 64) - 1));
  EXPECT_TRUE(Same(EF(std::numeric_limits<long>::max()), ldexp(EF(1), 63) - 1));
  EXPECT_TRUE(Same(EF(0UL), kZero));
  const EF from_char = 'a', from_short = static_cast<short>(-3);  // NOLINT
  EXPECT_TRUE(Same(from_char, 97));
  EXPECT_TRUE(Same(from_short, -3));
}

TEST(ConstructorTest, LongDoubleIsExact) {
  using L = std::numeric_limits<long double>;
  EXPECT_TRUE(Same(EF(1.5L), 1.5));
  EXPECT_TRUE(Same(EF(-0.0L), kNegZero));
  EXPECT_TRUE(Same(EF(-L::infinity()), kNegInf));
  EXPECT_TRUE(Same(EF(-L::quiet_NaN()), kNaN));
  // 1 + 2^-63 needs all 64 significand bits.
  const EF one_plus = 1.0L + std::ldexp(1.0L, -63);
  EXPECT_EQ(one_plus.prec(), 64);
  EXPECT_TRUE(Same(EF(L::max()), ldexp(ldexp(EF(1), 64) - 1, 16384 - 64)));
  EXPECT_TRUE(Same(EF(L::denorm_min()), ldexp(EF(1), -16445)));
  EXPECT_TRUE(Same(EF(L::min()), ldexp(EF(1), -16382)));
}

}  // namespace
}  // namespace nurvik::lattis
