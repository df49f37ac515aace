// Tests of the value core: states, limits, normal form, copying, and
// conversion between ExactFloat and int or double.

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "math/exactfloat.h"
#include "tests/testing.h"

namespace nurvik::lattis {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

uint64_t Bits(double d) {
  uint64_t u;
  memcpy(&u, &d, sizeof(u));
  return u;
}

double FromBits(uint64_t u) {
  double d;
  memcpy(&d, &u, sizeof(d));
  return d;
}

// The state predicates of x as words, then sgn().
std::string Flags(const ExactFloat& x) {
  std::string s;
  if (x.is_zero()) s += "zero ";
  if (x.is_inf()) s += "inf ";
  if (x.is_nan()) s += "nan ";
  if (x.is_normal()) s += "normal ";
  if (x.is_finite()) s += "finite ";
  if (x.sign_bit()) s += "- ";
  return s + std::to_string(x.sgn());
}

TEST(ExactFloatStateTest, PredicatesOfEveryState) {
  EXPECT_EQ(Flags(ExactFloat()), "zero finite 0");
  EXPECT_EQ(Flags(ExactFloat::SignedZero(1)), "zero finite 0");
  EXPECT_EQ(Flags(ExactFloat::SignedZero(-1)), "zero finite - 0");
  EXPECT_EQ(Flags(ExactFloat::Infinity(1)), "inf 1");
  EXPECT_EQ(Flags(ExactFloat::Infinity(-1)), "inf - -1");
  EXPECT_EQ(Flags(ExactFloat::NaN()), "nan 0");
  EXPECT_EQ(Flags(-ExactFloat::NaN()), "nan - 0");
  EXPECT_EQ(Flags(ExactFloat(-3)), "normal finite - -1");
  EXPECT_EQ(ExactFloat::Infinity(-1).prec() + ExactFloat::NaN().prec(), 0);
}

TEST(ExactFloatStateTest, ConstructionFromIntAndDouble) {
  struct Case {
    ExactFloat x;
    double value;
    int prec, exp;
  };
  // clang-format off
  const Case cases[] = {
      {INT_MIN, -0x1p31, 1, 32}, {INT_MAX, INT_MAX, 31, 31}, {-1, -1, 1, 1},
      {8, 8, 1, 4}, {0.75, 0.75, 2, 0}, {0x1p-1074, 0x1p-1074, 1, -1073},
      {-DBL_MAX, -DBL_MAX, 53, 1024}, {DBL_MIN, DBL_MIN, 1, -1021}};
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_TRUE(c.x.is_normal());
    EXPECT_EQ(c.x.prec(), c.prec);
    EXPECT_EQ(c.x.exp(), c.exp);
    EXPECT_EQ(c.x.sign_bit(), c.value < 0);
    EXPECT_EQ(c.x.ToDouble(), c.value);
  }
  EXPECT_TRUE(Same(ExactFloat(0), ExactFloat()));
  EXPECT_TRUE(Same(ExactFloat(0.0), ExactFloat()));
  EXPECT_TRUE(Same(ExactFloat(-0.0), ExactFloat::SignedZero(-1)));
  EXPECT_TRUE(Same(ExactFloat(kInf), ExactFloat::Infinity(1)));
  EXPECT_TRUE(Same(ExactFloat(-kInf), ExactFloat::Infinity(-1)));
  for (uint64_t bits : {0x7ff8000000000000u, 0xfff8000000000000u,
                        0x7ff0000000000001u, 0xfff4000000000abcu}) {
    const ExactFloat x(FromBits(bits));
    EXPECT_TRUE(x.is_nan() && !x.sign_bit()) << std::hex << bits;
  }
}

// Values at the limits, built by exact sums so that Canonicalize alone
// decides their state.
TEST(ExactFloatStateTest, CanonicalizeLimits) {
  const ExactFloat one(1);
  const ExactFloat top = ldexp(one, ExactFloat::kMaxExp - 1);
  EXPECT_EQ(top.exp(), ExactFloat::kMaxExp);
  EXPECT_TRUE(Same(top + top, ExactFloat::Infinity(1)));
  EXPECT_TRUE(Same(-top - top, ExactFloat::Infinity(-1)));

  // 3 * 2^(kMinExp-2) has exp() kMinExp; minus 2^(kMinExp-1) it leaves
  // 2^(kMinExp-2), just below the range, which flushes to a signed zero.
  const ExactFloat low = ldexp(ExactFloat(3), ExactFloat::kMinExp - 2);
  const ExactFloat bottom = ldexp(one, ExactFloat::kMinExp - 1);
  EXPECT_EQ(low.exp(), ExactFloat::kMinExp);
  EXPECT_EQ(bottom.exp(), ExactFloat::kMinExp);
  EXPECT_TRUE(Same(low - bottom, ExactFloat::SignedZero(1)));
  EXPECT_TRUE(Same(bottom - low, ExactFloat::SignedZero(-1)));

  const ExactFloat p = ldexp(one, ExactFloat::kMaxPrec);
  const ExactFloat widest = p - one;
  EXPECT_TRUE(widest.is_normal());
  EXPECT_EQ(widest.prec(), ExactFloat::kMaxPrec);
  EXPECT_TRUE(Same(p + one, ExactFloat::NaN()));
  EXPECT_TRUE(Same(-p - one, ExactFloat::NaN()));
  // One bit too many, but the last one is a trailing zero.
  EXPECT_EQ((widest + widest).prec(), ExactFloat::kMaxPrec);
}

TEST(ExactFloatStateTest, CopyAndMove) {
  for (const ExactFloat& v :
       {ExactFloat(-3.5), ExactFloat::SignedZero(-1), ExactFloat::Infinity(-1),
        -ExactFloat::NaN(), ldexp(ExactFloat(1), 300) - ExactFloat(1)}) {
    SCOPED_TRACE(v);
    ExactFloat a(v);
    ExactFloat& alias = a;
    a = alias;
    EXPECT_TRUE(Same(a, v));
    ExactFloat b(7);
    b = a;
    EXPECT_TRUE(Same(b, v));
    ExactFloat c(std::move(a));
    EXPECT_TRUE(Same(c, v));
    EXPECT_TRUE(Same(a, ExactFloat()));  // NOLINT(bugprone-use-after-move)
    b = std::move(c);
    EXPECT_TRUE(Same(b, v));
    EXPECT_TRUE(Same(c, ExactFloat()));  // NOLINT(bugprone-use-after-move)
  }
}

// double -> ExactFloat -> double is the identity on every non-NaN bit
// pattern (each is tried with both signs); every NaN comes back as the
// default quiet NaN.
TEST(ExactFloatStateTest, DoubleRoundTrip) {
  std::vector<uint64_t> patterns = {0, 1, 0x000fffffffffffff,
                                    0x7fefffffffffffff, 0x7ff0000000000000};
  std::mt19937_64 rng(20240611);
  for (int i = 0; i < 100000; ++i) {
    patterns.push_back(rng());
    patterns.push_back(rng() & 0x000fffffffffffff);  // subnormal or zero
  }
  for (uint64_t bits : patterns) {
    for (uint64_t b : {bits, bits ^ (uint64_t{1} << 63)}) {
      const double d = FromBits(b);
      ASSERT_EQ(Bits(ExactFloat(d).ToDouble()),
                std::isnan(d) ? 0x7ff8000000000000u : b)
          << std::hex << b;
    }
  }
  EXPECT_EQ(Bits((-ExactFloat::NaN()).ToDouble()), 0xfff8000000000000u);
}

TEST(ExactFloatDeathTest, Unimplemented) {
  EXPECT_DEATH(ExactFloat::Unimplemented(),
               "Unimplemented ExactFloat method called");
}

}  // namespace
}  // namespace nurvik::lattis
