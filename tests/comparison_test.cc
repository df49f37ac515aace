// Equality, ordering, the selection functions and hashing: special-value
// tables, <cmath> on doubles as an oracle, and random exact sums ordered by
// the sign of their exact difference.

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "math/exactfloat.h"
#include "tests/testing.h"

namespace nurvik::lattis {
namespace {

// The six comparison operators, for doubles and for ExactFloat alike.
template <class T>
std::vector<bool> Relations(const T& a, const T& b) {
  return {a == b, a != b, a<b, a <= b, a> b, a >= b};
}

// A double from random bits with the low mantissa bits cleared at random,
// so that equal exp() comes with different bn_exp_. Every class of double,
// NaN included, occurs.
double RandomBits(std::mt19937_64& rng) {
  const uint64_t bits = rng() & (~uint64_t{0} << (rng() % 53));
  double d;
  memcpy(&d, &bits, sizeof(d));
  return d;
}

TEST(ComparisonTest, SpecialValueTables) {
  const ExactFloat n = ExactFloat::NaN(), m = -n;
  const ExactFloat ni = ExactFloat::Infinity(-1), pi = ExactFloat::Infinity(1);
  const ExactFloat nz = ExactFloat::SignedZero(-1), pz = ExactFloat(0);
  const std::vector<ExactFloat> v = {n, m, ni, -3, -2, nz, pz, 2, 3, pi};
  // '1' where v[i] == v[j], and where v[i] < v[j].
  const char* const kEqual[] = {
      "0000000000", "0000000000", "0010000000", "0001000000", "0000100000",
      "0000011000", "0000011000", "0000000100", "0000000010", "0000000001"};
  const char* const kLess[] = {
      "0000000000", "0000000000", "0001111111", "0000111111", "0000011111",
      "0000000111", "0000000111", "0000000011", "0000000001", "0000000000"};
  const std::vector<ExactFloat> copies = v;  // distinct objects, same values
  for (size_t i = 0; i < v.size(); ++i) {
    for (size_t j = 0; j < v.size(); ++j) {
      SCOPED_TRACE(::testing::Message()
                   << "a = v[" << i << "], b = v[" << j << "]");
      const bool eq = kEqual[i][j] == '1', lt = kLess[i][j] == '1',
                 gt = kLess[j][i] == '1';
      const std::vector<bool> want = {eq, !eq, lt, lt || eq, gt, gt || eq};
      EXPECT_EQ(Relations(v[i], v[j]), want);
      EXPECT_EQ(Relations(v[i], copies[j]), want);
    }
  }
}

TEST(ComparisonTest, OrderingAgreesWithDoubles) {
  std::mt19937_64 rng(7321);
  for (int i = 0; i < 100000; ++i) {
    // b: equal, opposite, adjacent, a's exponent field, or independent.
    const double a = RandomBits(rng);
    uint64_t bits;
    memcpy(&bits, &a, sizeof(bits));
    bits ^= rng() & ~(~uint64_t{0} << (rng() % 53));
    double same_field;
    memcpy(&same_field, &bits, sizeof(same_field));
    const double choices[] = {a, -a, std::nextafter(a, i % 2 ? 1e300 : -1e300),
                              same_field, RandomBits(rng)};
    const double b = choices[i % 5];
    const ExactFloat x = a, y = b;
    SCOPED_TRACE(::testing::Message() << std::hexfloat << a << " " << b);
    EXPECT_EQ(Relations(x, y), Relations(a, b));
  }
}

// Exact sums of doubles, many of them close to each other, relate as the
// sign of their exact difference says: x < y exactly when 0 < y - x.
TEST(ComparisonTest, OrderingAgreesWithExactDifference) {
  std::mt19937_64 rng(991);
  // Mantissas of random length (zero now and then) scaled into about
  // [2^-100, 2^80): exponent gaps are small enough for fast sums.
  auto finite = [&rng] {
    const double m = static_cast<double>(rng() >> (11 + rng() % 53));
    return std::ldexp(m, static_cast<int>(rng() % 160) - 80 - 26);
  };
  for (int i = 0; i < 50000; ++i) {
    const double a1 = (rng() & 1 ? -1 : 1) * finite(), a2 = finite();
    // The same sum, an adjacent addend, or independent addends.
    const double c = finite();
    const double pairs[][2] = {
        {a2, a1}, {a1, std::nextafter(a2, c)}, {a1, -a1 + a2}, {-c, finite()}};
    const double b1 = pairs[i % 4][0], b2 = pairs[i % 4][1];
    const ExactFloat x = ExactFloat(a1) + a2, y = ExactFloat(b1) + b2;
    SCOPED_TRACE(::testing::Message() << std::hexfloat << a1 << " + " << a2
                                      << " vs " << b1 << " + " << b2);
    EXPECT_EQ(Relations(x, y), Relations(ExactFloat(0), y - x));
    EXPECT_EQ(x == y, (x - y).is_zero());
  }
}

// abs, fabs, copysign, fmax, fmin and fdim agree with <cmath> wherever the
// double functions are fully determined.
TEST(SelectionTest, AgreesWithCmath) {
  const double inf = HUGE_VAL, nan = std::nan("");
  const std::vector<double> d = {-inf, -3, -2, -0.5, -0.0, 0.0,
                                 0.5,  2,  3,  inf,  nan};
  for (double a : d) {
    const ExactFloat x = a;
    EXPECT_TRUE(Same(abs(x), std::fabs(a))) << a;
    EXPECT_TRUE(Same(fabs(x), std::fabs(a))) << a;
    for (double b : d) {
      SCOPED_TRACE(::testing::Message() << a << " " << b);
      const ExactFloat y = b;
      if (!std::isnan(a)) {
        EXPECT_TRUE(Same(copysign(x, y), std::copysign(a, b)));
      }
      if (a != 0 || b != 0 || std::signbit(a) == std::signbit(b)) {
        EXPECT_TRUE(Same(fmax(x, y), std::fmax(a, b)));
        EXPECT_TRUE(Same(fmin(x, y), std::fmin(a, b)));
      }
      EXPECT_TRUE(Same(fdim(x, y), std::fdim(a, b)));
    }
  }
}

TEST(SelectionTest, ZerosAndNaNSigns) {
  const ExactFloat n = ExactFloat::NaN(), m = -n, three = 3;
  const ExactFloat nz = ExactFloat::SignedZero(-1), pz = ExactFloat(0);
  EXPECT_TRUE(Same(fmax(pz, nz), pz));
  EXPECT_TRUE(Same(fmax(nz, pz), pz));
  EXPECT_TRUE(Same(fmin(pz, nz), nz));
  EXPECT_TRUE(Same(fmin(nz, pz), nz));
  EXPECT_TRUE(Same(fdim(nz, pz), pz));
  EXPECT_TRUE(Same(fdim(-5, -3), pz));
  EXPECT_TRUE(Same(fdim(-3, -5), 2));
  EXPECT_TRUE(Same(abs(m), n));
  EXPECT_TRUE(Same(fabs(m), n));
  EXPECT_TRUE(Same(copysign(n, -1), m));
  EXPECT_TRUE(Same(copysign(m, nz), m));
  EXPECT_TRUE(Same(copysign(m, 1), n));
  EXPECT_TRUE(Same(copysign(three, m), -3));
  EXPECT_TRUE(Same(copysign(nz, n), pz));
  for (const auto& f : {fmax, fmin}) {
    EXPECT_TRUE(Same(f(m, three), three));
    EXPECT_TRUE(Same(f(three, m), three));
    EXPECT_TRUE(Same(f(m, n), n));  // two NaNs: a copy of the second
    EXPECT_TRUE(Same(f(n, m), m));
  }
  EXPECT_TRUE(Same(fdim(m, three), m));
  EXPECT_TRUE(Same(fdim(three, m), m));  // not negated as a subtrahend
  EXPECT_TRUE(Same(fdim(m, n), m));
  EXPECT_TRUE(Same(fdim(n, m), n));
}

TEST(SelectionTest, DifferenceAtTheLimits) {
  constexpr int kMaxPrec = ExactFloat::kMaxPrec;
  const ExactFloat top = Pow2(199999999);
  EXPECT_TRUE(Same(fdim(top, -top), ExactFloat::Infinity(1)));
  EXPECT_TRUE(Same(fdim(Pow2(kMaxPrec + 1), 1), ExactFloat::NaN()));
  const ExactFloat widest = fdim(Pow2(kMaxPrec), 1);
  EXPECT_EQ(widest.prec(), kMaxPrec);
  EXPECT_TRUE(widest + 1 == Pow2(kMaxPrec));
}

TEST(HashTest, EqualValuesHashAlike) {
  const std::hash<ExactFloat> hash;
  EXPECT_EQ(hash(ExactFloat(0)), hash(ExactFloat::SignedZero(-1)));
  EXPECT_EQ(hash(ExactFloat(6)), hash(ExactFloat(2.0) * ExactFloat(3.0)));
  EXPECT_EQ(hash(ExactFloat(-6)), hash(ExactFloat(-1.5) * 4));
  EXPECT_EQ(hash(ExactFloat(1) - 1), hash(ExactFloat::SignedZero(-1)));
  // A mantissa that grew and shrank again hashes like one built directly.
  std::mt19937_64 rng(5);
  const ExactFloat big = Pow2(300);
  for (int i = 0; i < 1000; ++i) {
    double a = RandomBits(rng);
    if (!std::isfinite(a)) continue;
    const ExactFloat x = a, y = (x + big) - big;
    ASSERT_TRUE(x == y);
    EXPECT_EQ(hash(x), hash(y)) << a;
  }
}

}  // namespace
}  // namespace nurvik::lattis
