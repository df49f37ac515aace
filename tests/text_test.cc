// Tests of decimal digit generation and the text forms of ExactFloat.

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "math/exactfloat.h"

namespace nurvik::lattis {
namespace {

using Digits = std::pair<std::string, int>;  // digit string and exponent E

Digits GetDigits(const ExactFloat& x, int max_digits) {
  std::string digits = "stale";
  const int e = x.GetDecimalDigits(max_digits, &digits);
  return {digits, e};
}

// The digits of |d| rounded to n significant digits by glibc's printf (exact,
// ties to even), trailing zeros removed; E is the printf exponent plus one.
Digits PrintfDigits(double d, int n) {
  char buf[1200];
  snprintf(buf, sizeof(buf), "%.*e", n - 1, std::fabs(d));
  const char* e = strchr(buf, 'e');
  std::string digits(buf, static_cast<size_t>(e - buf));
  if (n > 1) digits.erase(1, 1);  // the decimal point
  digits.resize(digits.find_last_not_of('0') + 1);
  return {digits, atoi(e + 1) + 1};
}

ExactFloat Pow10(int k) {
  ExactFloat r = 1;
  for (int i = 0; i < k; ++i) r *= 10;
  return r;
}

TEST(GetDecimalDigitsTest, Examples) {
  const double k2m10 = std::ldexp(1.0, -10);
  const struct {
    ExactFloat value;
    int max_digits;
    Digits want;
  } kCases[] = {
      {1, 10, {"1", 1}}, {100, 10, {"1", 3}}, {0.0625, 10, {"625", -1}},
      {-0.0625, 10, {"625", -1}},
      {std::ldexp(1.0, -14), 10, {"6103515625", -4}},
      {k2m10, 100, {"9765625", -3}}, {123.5, 10, {"1235", 3}},
      {std::ldexp(1.0, 100), 10, {"12676506", 31}},
      // Halves: to even, unless broken by a later digit.
      {123.5, 3, {"124", 3}}, {-123.5, 3, {"124", 3}}, {2.5, 1, {"2", 1}},
      {3.5, 1, {"4", 1}}, {1.5, 1, {"2", 1}}, {125, 2, {"12", 3}},
      {0.125, 2, {"12", 0}}, {0.375, 2, {"38", 0}},
      {2.5 + std::ldexp(1.0, -20), 1, {"3", 1}}, {-1250000010, 2, {"13", 10}},
      // More and less than a half.
      {std::ldexp(1.0, 35), 10, {"3435973837", 11}}, {126, 2, {"13", 3}},
      {124, 2, {"12", 3}},
      // Carries, and rounding that leaves trailing zeros.
      {9.5, 1, {"1", 2}}, {999.5, 3, {"1", 4}}, {-999.5, 3, {"1", 4}},
      {k2m10, 1, {"1", -2}}, {1996, 3, {"2", 4}}, {1204, 3, {"12", 4}}};
  for (const auto& c : kCases) {
    EXPECT_EQ(GetDigits(c.value, c.max_digits), c.want)
        << c.value.ToStringWithMaxDigits(40) << " at " << c.max_digits;
  }
  for (int t = 1; t <= 9; ++t) {  // a half broken by any nonzero digit
    EXPECT_EQ(GetDigits(250000000 + t, 1), Digits("3", 9)) << t;
  }
}

// Below 1, max_digits is taken as 1; special values give "0" with E = 0.
TEST(GetDecimalDigitsTest, OutOfContractArguments) {
  for (int n : {0, -1, -100, INT_MIN}) {
    EXPECT_EQ(GetDigits(9.5, n), Digits("1", 2)) << n;
    EXPECT_EQ(GetDigits(2.5, n), Digits("2", 1)) << n;
    EXPECT_EQ(GetDigits(0.0625, n), Digits("6", -1)) << n;
    EXPECT_EQ(ExactFloat(9.5).ToStringWithMaxDigits(n), "1e+1") << n;
    EXPECT_EQ(ExactFloat(-0.0625).ToStringWithMaxDigits(n), "-0.06") << n;
  }
  for (const ExactFloat& x :
       {ExactFloat::SignedZero(1), ExactFloat::SignedZero(-1),
        ExactFloat::Infinity(1), ExactFloat::Infinity(-1), ExactFloat::NaN(),
        -ExactFloat::NaN()}) {
    EXPECT_EQ(GetDigits(x, 10), Digits("0", 0)) << x;
    EXPECT_EQ(GetDigits(x, INT_MIN), Digits("0", 0)) << x;
  }
}

// k + 0.5 at the digit count of k is an exact half: it goes to the even one of
// k and k + 1, computed here with integers. k = 9...9 carries all the way.
TEST(GetDecimalDigitsTest, HalvesAfterIntegers) {
  std::mt19937_64 rng(42);
  for (int i = 0; i < 2000; ++i) {
    int64_t k = static_cast<int64_t>(rng() >> (12 + rng() % 52));
    if (i < 16) k = static_cast<int64_t>(std::pow(10.0, i)) - 1;
    if (k == 0) continue;
    const int n = static_cast<int>(std::to_string(k).size());
    std::string want = std::to_string(k % 2 == 0 ? k : k + 1);
    const int e = static_cast<int>(want.size());
    want.resize(want.find_last_not_of('0') + 1);
    EXPECT_EQ(GetDigits(k + 0.5, n), Digits(want, e)) << k;
    EXPECT_EQ(GetDigits(-(k + 0.5), n), Digits(want, e)) << k;
  }
}

// 10^j - 1/2 rounds up to 10^j through j nines; just below it rounds down.
TEST(GetDecimalDigitsTest, LongCarries) {
  const ExactFloat half = 0.5, tiny = std::ldexp(1.0, -200);
  for (int j = 1; j <= 60; ++j) {
    const ExactFloat x = Pow10(j) - half;
    EXPECT_EQ(GetDigits(x, j), Digits("1", j + 1)) << j;
    EXPECT_EQ(GetDigits(x - tiny, j), Digits(std::string(j, '9'), j)) << j;
    EXPECT_EQ(GetDigits(x, j + 1), Digits(std::string(j, '9') + "5", j)) << j;
  }
}

// Random doubles of four kinds, both signs: any bit pattern, subnormals,
// short mantissas (many exact decimal ties) and a few ulps from a power of ten
// (carries through nines). Each is checked at 1..40 digits, at its whole
// expansion and at one digit less (an exact half for every non-integer).
void CheckAgainstPrintf(uint64_t seed, int count) {
  constexpr uint64_t kExpMask = uint64_t{0x7ff} << 52;
  std::mt19937_64 rng(seed);
  for (int i = 0; i < count; ++i) {
    uint64_t bits = rng();
    if (i % 4 == 1) bits &= ~kExpMask;
    if (i % 4 == 2) {
      bits = (bits & ~kExpMask & ~((uint64_t{1} << 40) - 1)) |
             (uint64_t{993 + rng() % 60} << 52);
    }
    double d;
    memcpy(&d, &bits, sizeof(d));
    if (i % 4 == 3) {
      d = std::pow(10.0, static_cast<int>(rng() % 600) - 300);
      for (int s = static_cast<int>(rng() % 7) - 3; s != 0; s -= s > 0 ? 1 : -1)
        d = std::nextafter(d, s > 0 ? INFINITY : 0.0);
    }
    if (!std::isfinite(d) || d == 0) continue;
    const ExactFloat x(d);
    const int len = static_cast<int>(GetDigits(x, 2000).first.size());
    std::vector<int> counts = {len - 1, len, len + 1};
    for (int n = 1; n <= 40; ++n) counts.push_back(n);
    for (int n : counts) {
      if (n < 1) continue;
      ASSERT_EQ(GetDigits(x, n), PrintfDigits(d, n)) << d << " at " << n;
    }
  }
}

TEST(GetDecimalDigitsTest, MatchesPrintf) { CheckAgainstPrintf(1, 400); }
TEST(GetDecimalDigitsSlowTest, MatchesPrintf) { CheckAgainstPrintf(2, 8000); }

TEST(NumSignificantDigitsForPrecTest, Table) {
  const int kTable[][2] = {{0, 1},   {1, 2},   {2, 2},   {10, 5},  {24, 9},
                           {52, 17}, {53, 17}, {64, 21}, {100, 32}};
  for (const auto& [prec, want] : kTable) {
    EXPECT_EQ(ExactFloat::NumSignificantDigitsForPrec(prec), want) << prec;
  }
}

// ceil(prec * log10(2)) + 1 in long double, for every prec below 2^20, a
// stride beyond, and around the continued-fraction denominators of log10(2),
// where prec * log10(2) comes closest to an integer (5.7e-9 away at 51132157,
// far beyond the long double error).
TEST(NumSignificantDigitsForPrecTest, ManyPrecisions) {
  const long double kLog10Of2 = std::log10(2.0L);
  std::vector<int> precs = {ExactFloat::kMaxPrec};
  for (int q : {6107016, 6432163, 44699994, 51132157}) {
    precs.insert(precs.end(), {q - 1, q, q + 1});
  }
  for (int p = 0; p < (1 << 20); ++p) precs.push_back(p);
  for (int p = 1 << 20; p < ExactFloat::kMaxPrec; p += 997) precs.push_back(p);
  for (int p : precs) {
    const long double x = p * kLog10Of2;
    if (p > 0) {
      ASSERT_GT(std::fabs(x - std::nearbyint(x)), 1e-9L) << p;
    }
    ASSERT_EQ(ExactFloat::NumSignificantDigitsForPrec(p),
              static_cast<int>(std::ceil(x)) + 1)
        << p;
  }
}

TEST(ToStringTest, Examples) {
  const struct {
    ExactFloat value;
    const char* text;
  } kCases[] = {
      {ExactFloat::NaN(), "nan"}, {-ExactFloat::NaN(), "nan"}, {0, "0"},
      {ExactFloat::SignedZero(-1), "-0"}, {ExactFloat::Infinity(1), "inf"},
      {ExactFloat::Infinity(-1), "-inf"}, {1, "1"}, {0.5, "0.5"}, {1.5, "1.5"},
      {-2.5, "-2.5"}, {100, "100"}, {123.456, "123.456"}, {0.0625, "0.0625"},
      {std::ldexp(1.0, -10), "0.0009765625"},
      {std::ldexp(1.0, -13), "0.0001220703125"},   // E = -3: positional
      {std::ldexp(-1.0, -14), "-6.103515625e-5"},  // E = -4: exponent form
      {1e9, "1000000000"}, {1e10, "1e+10"}, {-1e10, "-1e+10"},  // E = 10, 11
      {std::ldexp(1.0, 35), "3.435973837e+10"},
      {std::ldexp(1.0, 100), "1.2676506e+30"},
      {std::ldexp(1.0, -100), "7.888609052e-31"},
      {0.1, "0.10000000000000001"}, {1.0 / 3, "0.33333333333333331"},
      {1e-5, "1.0000000000000001e-5"}, {1e100, "1e+100"},
      {std::ldexp(1.0, -1074), "4.940656458e-324"}};
  for (const auto& c : kCases) {
    EXPECT_EQ(c.value.ToString(), c.text);
    std::ostringstream os;
    os << c.value;
    EXPECT_EQ(os.str(), c.text);
  }
}

TEST(ToStringTest, WithMaxDigits) {
  const struct {
    ExactFloat value;
    int max_digits;
    const char* text;
  } kCases[] = {
      {123.5, 3, "124"}, {100, 2, "1e+2"}, {100, 3, "100"},
      {0.0625, 1, "0.06"}, {-0.0625, 1, "-0.06"},
      {9.5, 1, "1e+1"}, {999.5, 3, "1e+3"},  // carries raise E past the limit
      {1e9, 9, "1e+9"}, {123456789, 9, "123456789"},
      {1234567890, 9, "1.23456789e+9"}, {1234567890, 10, "1234567890"},
      {0.0001, 1, "0.0001"}, {0.00001, 1, "1e-5"},
      {0.000099999, 2, "0.0001"},  // a carry into positional form
      {0.000099999, 5, "9.9999e-5"}, {ExactFloat::SignedZero(-1), 0, "-0"},
      {ExactFloat::Infinity(-1), INT_MIN, "-inf"}};
  for (const auto& c : kCases) {
    EXPECT_EQ(c.value.ToStringWithMaxDigits(c.max_digits), c.text)
        << c.max_digits;
  }
  for (int n = 1; n <= 30; ++n) {  // both sides of E = max_digits
    const std::string exp_form = "1e+" + std::to_string(n);
    EXPECT_EQ(Pow10(n - 1).ToStringWithMaxDigits(n),
              "1" + std::string(n - 1, '0'));
    EXPECT_EQ(Pow10(n).ToStringWithMaxDigits(n), exp_form);
    EXPECT_EQ((Pow10(n) - 0.5).ToStringWithMaxDigits(n), exp_form);
  }
}

TEST(ToStringTest, UniqueString) {
  EXPECT_EQ(ExactFloat(1.5).ToUniqueString(), "1.5<2>");
  EXPECT_EQ(ExactFloat(100).ToUniqueString(), "100<5>");
  EXPECT_EQ(ExactFloat(1e10).ToUniqueString(), "1e+10<24>");
  EXPECT_EQ(ExactFloat(0.1).ToUniqueString(), "0.10000000000000001<52>");
  EXPECT_EQ(ExactFloat(std::ldexp(-1.0, 35)).ToUniqueString(),
            "-3.435973837e+10<1>");
  EXPECT_EQ(ExactFloat::SignedZero(-1).ToUniqueString(), "-0<0>");
  EXPECT_EQ((-ExactFloat::NaN()).ToUniqueString(), "nan<0>");
  EXPECT_EQ(ExactFloat::Infinity(1).ToUniqueString(), "inf<0>");
}

}  // namespace
}  // namespace nurvik::lattis
