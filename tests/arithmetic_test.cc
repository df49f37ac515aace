// Exact sums, differences, products and negation: the special-value rules,
// the exponent and precision limits, aliased operands, and error-free
// transformations of doubles as an independent oracle.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "math/exactfloat.h"
#include "tests/testing.h"

namespace nurvik::lattis {
namespace {

// A double of sign and random mantissa length with biased exponent field
// `biased` (0 gives zeros and subnormals).
double RandomDouble(std::mt19937_64& rng, int biased) {
  uint64_t bits = rng() & (~uint64_t{0} >> 12) & (~uint64_t{0} << (rng() % 53));
  bits |= uint64_t{static_cast<uint32_t>(biased)} << 52 | (rng() & 1) << 63;
  double d;
  memcpy(&d, &bits, sizeof(d));
  return d;
}

TEST(ArithmeticTest, SpecialValueTables) {
  const ExactFloat n = ExactFloat::NaN(), m = -n;
  const ExactFloat ni = ExactFloat::Infinity(-1), pi = ExactFloat::Infinity(1);
  const ExactFloat nz = ExactFloat::SignedZero(-1), pz = ExactFloat(0);
  ASSERT_TRUE(m.is_nan() && m.sign_bit() && !n.sign_bit());
  const std::vector<ExactFloat> v = {n, m, ni, -3, nz, pz, 5, pi};
  // Row a, column b, in the order of v.
  const std::vector<std::vector<ExactFloat>> sum = {
      {n, n, n, n, n, n, n, n},      {m, m, m, m, m, m, m, m},
      {n, m, ni, ni, ni, ni, ni, n}, {n, m, ni, -6, -3, -3, 2, pi},
      {n, m, ni, -3, nz, pz, 5, pi}, {n, m, ni, -3, pz, pz, 5, pi},
      {n, m, ni, 2, 5, 5, 10, pi},   {n, m, n, pi, pi, pi, pi, pi}};
  const std::vector<std::vector<ExactFloat>> diff = {
      {n, n, n, n, n, n, n, n},      {m, m, m, m, m, m, m, m},
      {n, m, n, ni, ni, ni, ni, ni}, {n, m, pi, pz, -3, -3, -8, ni},
      {n, m, pi, 3, pz, nz, -5, ni}, {n, m, pi, 3, pz, pz, -5, ni},
      {n, m, pi, 8, 5, 5, pz, ni},   {n, m, pi, pi, pi, pi, pi, n}};
  const std::vector<std::vector<ExactFloat>> prod = {
      {n, n, n, n, n, n, n, n},        {m, m, m, m, m, m, m, m},
      {n, m, pi, pi, n, n, ni, ni},    {n, m, pi, 9, pz, nz, -15, ni},
      {n, m, n, pz, pz, nz, nz, n},    {n, m, n, nz, nz, pz, pz, n},
      {n, m, ni, -15, nz, pz, 25, pi}, {n, m, ni, ni, n, n, pi, pi}};
  const std::vector<ExactFloat> neg = {m, n, pi, 3, pz, nz, -5, ni};
  for (size_t i = 0; i < v.size(); ++i) {
    EXPECT_TRUE(Same(-v[i], neg[i])) << i;
    for (size_t j = 0; j < v.size(); ++j) {
      SCOPED_TRACE(::testing::Message()
                   << "a = v[" << i << "], b = v[" << j << "]");
      EXPECT_TRUE(Same(v[i] + v[j], sum[i][j]));
      EXPECT_TRUE(Same(v[i] - v[j], diff[i][j]));
      EXPECT_TRUE(Same(v[i] * v[j], prod[i][j]));
    }
  }
}

TEST(ArithmeticTest, SameObjectAsBothOperands) {
  const ExactFloat n = ExactFloat::NaN(), m = -n;
  const ExactFloat pi = ExactFloat::Infinity(1), pz = ExactFloat(0);
  const ExactFloat nz = ExactFloat::SignedZero(-1);
  const ExactFloat wide = 1 + Pow2(-200);
  struct Case {
    ExactFloat x, twice, diff, square;
  };
  const std::vector<Case> cases = {
      {3, 6, pz, 9},
      {-0.75, -1.5, pz, 0.5625},
      {wide, 2 + Pow2(-199), pz, 1 + Pow2(-199) + Pow2(-400)},
      {pz, pz, pz, pz},
      {nz, nz, pz, pz},
      {pi, pi, n, pi},
      {-pi, -pi, n, pi},
      {n, n, n, n},
      {m, m, m, m}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.x.ToString());
    const ExactFloat& x = c.x;
    EXPECT_TRUE(Same(x + x, c.twice));
    EXPECT_TRUE(Same(x - x, c.diff));
    EXPECT_TRUE(Same(x * x, c.square));
    ExactFloat y = x;
    EXPECT_TRUE(Same(y += y, c.twice));
    y = x;
    EXPECT_TRUE(Same(y -= y, c.diff));
    y = x;
    EXPECT_TRUE(Same(y *= y, c.square));
  }
}

TEST(ArithmeticTest, ExponentLimits) {
  const ExactFloat pi = ExactFloat::Infinity(1), pz = ExactFloat(0);
  const ExactFloat top = Pow2(199999999);
  ASSERT_EQ(top.exp(), ExactFloat::kMaxExp);
  EXPECT_TRUE(Same(top + top, pi));
  EXPECT_TRUE(Same(-top - top, -pi));
  EXPECT_TRUE(Same(top - Pow2(199999998), Pow2(199999998)));
  EXPECT_TRUE(Same(Pow2(199999998) + Pow2(199999998), top));
  EXPECT_TRUE(Same(Pow2(100000000) * Pow2(99999999), top));
  EXPECT_TRUE(Same(Pow2(100000000) * Pow2(100000000), pi));
  EXPECT_TRUE(Same(Pow2(150000000) * -Pow2(60000000), -pi));
  EXPECT_TRUE(Same(-Pow2(-150000000) * Pow2(-60000000), -pz));
  EXPECT_TRUE(Same(Pow2(-100000000) * Pow2(-100000001), Pow2(-200000001)));

  // Cancellation below the range keeps the sign of the exact difference;
  // exact cancellation gives +0.
  const ExactFloat bottom = Pow2(-200000001);
  const ExactFloat three = ldexp(ExactFloat(3), -200000002);
  ASSERT_EQ(bottom.exp(), ExactFloat::kMinExp);
  ASSERT_EQ(three.exp(), ExactFloat::kMinExp);
  EXPECT_TRUE(Same(three - bottom, pz));
  EXPECT_TRUE(Same(bottom - three, -pz));
  EXPECT_TRUE(Same(-three + bottom, -pz));
  EXPECT_TRUE(Same(-bottom - ExactFloat(-bottom), pz));
  EXPECT_TRUE(Same(ExactFloat(three) - three, pz));
}

TEST(ArithmeticTest, PrecisionLimitOfSums) {
  constexpr int kMaxPrec = ExactFloat::kMaxPrec;
  const ExactFloat one = 1;
  const ExactFloat widest = one + Pow2(1 - kMaxPrec);
  EXPECT_EQ(widest.prec(), kMaxPrec);
  EXPECT_TRUE(widest - one == Pow2(1 - kMaxPrec));
  EXPECT_TRUE(Same(one + Pow2(-kMaxPrec), ExactFloat::NaN()));
  EXPECT_TRUE(Same(-one - Pow2(-kMaxPrec), ExactFloat::NaN()));
  EXPECT_EQ((Pow2(-kMaxPrec) - one).prec(), kMaxPrec);  // -(1 - 2^-kMaxPrec)
}

// Products of two 2^25-bit mantissas: several seconds each.
constexpr int kHalf = ExactFloat::kMaxPrec / 2;

TEST(ArithmeticSlowTest, SquareJustBelowPrecisionLimit) {
  const ExactFloat h = Pow2(kHalf - 1) + 1;
  const ExactFloat hh = h * h;
  EXPECT_EQ(hh.prec(), 2 * kHalf - 1);
  EXPECT_TRUE(hh == Pow2(2 * kHalf - 2) + Pow2(kHalf) + 1);
}

TEST(ArithmeticSlowTest, ProductAtPrecisionLimit) {
  const ExactFloat h = Pow2(kHalf - 1) + 1, g = Pow2(kHalf) + 1;
  const ExactFloat hg = h * -g;
  EXPECT_EQ(hg.prec(), 2 * kHalf);
  EXPECT_TRUE(-hg == Pow2(2 * kHalf - 1) + Pow2(kHalf) + Pow2(kHalf - 1) + 1);
}

TEST(ArithmeticSlowTest, SquareBeyondPrecisionLimit) {
  const ExactFloat g = Pow2(kHalf) + 1;
  EXPECT_TRUE(Same(g * -g, ExactFloat::NaN()));
}

// Knuth's two-sum and the fma two-product give the exact error of a double
// operation, so the exact result must equal rounded result plus error.
TEST(ArithmeticTest, ErrorFreeTransformationsOfDoubles) {
  std::mt19937_64 rng(20240611);
  int sums = 0, products = 0;
  for (int i = 0; i < 50000; ++i) {
    // Half of the pairs have exponents at most 60 apart; a quarter nearly
    // cancel, and some cancel exactly.
    const int ea = static_cast<int>(rng() % 2047);
    const int near =
        std::clamp(ea + static_cast<int>(rng() % 121) - 60, 0, 2046);
    const double a = RandomDouble(rng, ea);
    double b = RandomDouble(rng, i % 2 ? near : static_cast<int>(rng() % 2047));
    if (i % 4 == 1 && a != 0) {
      const double k = static_cast<double>(rng() % 2001) - 1000;
      b = -a + std::ldexp(k, std::ilogb(a) - 52 - static_cast<int>(rng() % 8));
    }
    if (i % 16 == 3) b = -a;
    const ExactFloat x = a, y = b;
    SCOPED_TRACE(::testing::Message() << std::hexfloat << a << " " << b);
    EXPECT_TRUE(Same(x + y, y + x));
    EXPECT_TRUE(Same(x * y, y * x));
    EXPECT_TRUE((x + y) - y == x);
    EXPECT_TRUE(x - y == -(y - x));

    const double s = a + b;
    if (std::isfinite(s)) {
      const double bb = s - a;
      const double e = (a - (s - bb)) + (b - bb);
      EXPECT_TRUE(x + y == ExactFloat(s) + ExactFloat(e));
      EXPECT_TRUE(x - ExactFloat(-b) == ExactFloat(s) + ExactFloat(e));
      ++sums;
    }
    const double p = a * b;
    if (a != 0 && b != 0 && std::isfinite(p) &&
        std::ilogb(a) + std::ilogb(b) >= -1074 + 105) {
      EXPECT_TRUE(x * y == ExactFloat(p) + ExactFloat(std::fma(a, b, -p)));
      ++products;
    }
  }
  // The sample must actually exercise both oracles.
  EXPECT_GT(sums, 45000);
  EXPECT_GT(products, 15000);
}

}  // namespace
}  // namespace nurvik::lattis
