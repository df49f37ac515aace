// Tests of the binary exponent functions, and of the <cmath>-like free
// functions against the C library on doubles.

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "math/exactfloat.h"
#include "tests/testing.h"

// Outside the library's namespace on purpose: unqualified calls must reach
// the ExactFloat overloads by argument-dependent lookup, beside <cmath>'s.
namespace {

using nurvik::lattis::ExactFloat;
using nurvik::lattis::Pow2;
using nurvik::lattis::Same;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr int kMinExp = ExactFloat::kMinExp;
constexpr int kMaxExp = ExactFloat::kMaxExp;

// Bit-identical, except that any two NaNs match.
bool SameDouble(double a, double b) {
  return std::isnan(a) ? std::isnan(b) : memcmp(&a, &b, sizeof(a)) == 0;
}

// Generic code written for double.
template <class T>
T Generic(const T& x) {
  using std::floor;
  int e = 0;
  const T f = frexp(x, &e);
  return floor(x) + ldexp(f, e + 3) + ceil(x) + trunc(x) + round(x) + rint(x) +
         scalbln(x, -2L) + logb(x) + T(ilogb(x) + int(lrint(x) + llround(x)));
}

TEST(CmathLookupTest, UnqualifiedCallsFindExactFloatOverloads) {
  for (double d : {-2.5, 0.75, 12345.5, -0.0}) {
    EXPECT_EQ(Generic(ExactFloat(d)).ToDouble(), Generic(d)) << d;
  }
}

// Values at the ends of the exponent range, and the widest mantissa.
TEST(ExponentFunctionsTest, LdexpAndScalbln) {
  EXPECT_TRUE(Same(ldexp(-ExactFloat::NaN(), 3), -ExactFloat::NaN()));
  EXPECT_TRUE(Same(ldexp(ExactFloat(-0.0), INT_MAX), -0.0));
  EXPECT_TRUE(Same(scalbln(ExactFloat(-kInf), LONG_MIN), -kInf));
  EXPECT_EQ(Pow2(kMaxExp - 1).exp(), kMaxExp);
  EXPECT_EQ(Pow2(kMinExp - 1).exp(), kMinExp);
  EXPECT_TRUE(
      Same(ldexp(Pow2(kMinExp - 1), kMaxExp - kMinExp), Pow2(kMaxExp - 1)));
  EXPECT_TRUE(Same(scalbln(-Pow2(kMaxExp - 1), long{kMinExp} - kMaxExp),
                   -Pow2(kMinExp - 1)));
  for (const ExactFloat& x :
       {ExactFloat(1), ExactFloat(-0.75), ldexp(ExactFloat(3), kMaxExp - 2),
        -Pow2(kMinExp - 1), Pow2(ExactFloat::kMaxPrec) - 1}) {
    SCOPED_TRACE(x.exp());
    const int s = x.sign_bit() ? -1 : 1;
    const ExactFloat inf = ExactFloat::Infinity(s);
    const ExactFloat zero = ExactFloat::SignedZero(s);
    EXPECT_TRUE(Same(ldexp(x, INT_MAX), inf));
    EXPECT_TRUE(Same(ldexp(x, INT_MIN), zero));
    EXPECT_TRUE(Same(ldexp(x, kMaxExp + 1 - x.exp()), inf));
    EXPECT_TRUE(Same(ldexp(x, kMinExp - 1 - x.exp()), zero));
    EXPECT_EQ(ldexp(x, kMaxExp - x.exp()).exp(), kMaxExp);
    EXPECT_EQ(ldexp(x, kMinExp - x.exp()).exp(), kMinExp);
    for (long n : {1L << 40, long{INT_MAX} + 1, LONG_MAX}) {
      EXPECT_TRUE(Same(scalbln(x, n), inf)) << n;
      EXPECT_TRUE(Same(scalbln(x, -n), zero)) << n;
    }
  }
}

// Finite doubles are left to the comparison with the C library below; here
// are the range ends and the values without an exponent, where frexp writes
// 0 and ilogb of NaN is INT_MIN (the C library's results vary by platform).
TEST(ExponentFunctionsTest, FrexpIlogbLogb) {
  struct Case {
    ExactFloat x, fraction;
    int exp, ilogb;
    ExactFloat logb;
  };
  const ExactFloat nan = ExactFloat::NaN(),
                   top = ldexp(ExactFloat(3), kMaxExp - 2);
  // clang-format off
  const Case cases[] = {
      {top, 0.75, kMaxExp, kMaxExp - 1, kMaxExp - 1},
      {-Pow2(kMinExp - 1), -0.5, kMinExp, kMinExp - 1, kMinExp - 1},
      {Pow2(400) - 1, 1 - Pow2(-400), 400, 399, 399},
      {0.0, 0.0, 0, INT_MIN, -kInf}, {-0.0, -0.0, 0, INT_MIN, -kInf},
      {kInf, kInf, 0, INT_MAX, kInf}, {-kInf, -kInf, 0, INT_MAX, kInf},
      {nan, nan, 0, INT_MIN, nan}, {-nan, -nan, 0, INT_MIN, -nan}};
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.x);
    int e = 12345;
    EXPECT_TRUE(Same(frexp(c.x, &e), c.fraction));
    EXPECT_EQ(e, c.exp);
    EXPECT_EQ(ilogb(c.x), c.ilogb);
    EXPECT_TRUE(Same(logb(c.x), c.logb));
  }
}

// Random bit patterns, and doubles near integers where rounding has work.
std::vector<double> SampleDoubles() {
  std::vector<double> v = {0.0,  kInf, kNaN,   DBL_MAX, DBL_MIN, 0x1p-1074,
                           0.25, 0.5,  0.75,   1,       1.5,     2.5,
                           3,    8,    0x1p52, 0x1p63};
  std::mt19937_64 rng(0x5eed);
  for (int i = 0; i < 20000; ++i) {
    uint64_t bits = rng();
    double d;
    memcpy(&d, &bits, sizeof(d));
    v.push_back(d);
    bits = (bits & 0x800fffffffffffff) | (uint64_t{1018 + rng() % 70} << 52);
    memcpy(&d, &bits, sizeof(d));  // exponent -5 to 64
    v.push_back(d);
    const double k =
        static_cast<double>(static_cast<int64_t>(rng()) >> (rng() % 64));
    v.insert(v.end(),
             {k + 0.5, std::nextafter(k, kInf), std::nextafter(k, -kInf)});
  }
  for (size_t i = 0; i < 16; ++i) v.push_back(-v[i]);
  return v;
}

// A scaled double has at most 53 bits, so ToDouble rounds it once, as the C
// library does: into the subnormals and past the range alike.
TEST(CmathOracleTest, MatchesCLibraryOnDoubles) {
  std::mt19937 rng(42);
  std::uniform_int_distribution<int> random_n(-2200, 2200);
  for (double d : SampleDoubles()) {
    SCOPED_TRACE(testing::Message() << std::hexfloat << d);
    const ExactFloat x(d);
    ASSERT_TRUE(SameDouble(ceil(x).ToDouble(), std::ceil(d)));
    ASSERT_TRUE(SameDouble(floor(x).ToDouble(), std::floor(d)));
    ASSERT_TRUE(SameDouble(trunc(x).ToDouble(), std::trunc(d)));
    ASSERT_TRUE(SameDouble(round(x).ToDouble(), std::round(d)));
    ASSERT_TRUE(SameDouble(rint(x).ToDouble(), std::rint(d)));
    ASSERT_TRUE(SameDouble(logb(x).ToDouble(), std::logb(d)));
    for (int n : {0, 1, -1, 53, -54, 1023, -1022, -1074, 2098, -2098, kMaxExp,
                  kMinExp, INT_MAX, INT_MIN, random_n(rng)}) {
      ASSERT_TRUE(SameDouble(ldexp(x, n).ToDouble(), std::ldexp(d, n))) << n;
    }
    for (long n : {-1075L, 1L << 40, -(1L << 40), LONG_MAX, LONG_MIN}) {
      ASSERT_TRUE(SameDouble(scalbln(x, n).ToDouble(), std::scalbln(d, n)))
          << n;
    }
    if (std::isfinite(d)) {
      int e = 0, want_e = 0;
      ASSERT_TRUE(SameDouble(frexp(x, &e).ToDouble(), std::frexp(d, &want_e)));
      ASSERT_EQ(e, want_e);
    }
    if (std::isfinite(d) && d != 0) {
      ASSERT_EQ(ilogb(x), std::ilogb(d));
    }
    if (std::fabs(d) < 0x1p63) {
      ASSERT_EQ(lrint(x), std::lrint(d));
      ASSERT_EQ(lround(x), std::lround(d));
      ASSERT_EQ(llrint(x), std::llrint(d));
      ASSERT_EQ(llround(x), std::llround(d));
    }
  }
}

}  // namespace
