// Tests of ExactFloat::FromString: the grammar, the values the exact form
// holds and the ones it refuses, the rounded form at the ends of the exponent
// range and below one bit, the <N> suffix, exponents far past the range, and
// round trips of every text the library writes. Independent reference:
// glibc's correctly rounded strtod and strtof.

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "math/exactfloat.h"
#include "tests/differential/mpfr_oracle.h"
#include "tests/testing.h"

namespace nurvik::lattis {
namespace {

using EF = ExactFloat;
using std::string_view_literals::operator""sv;

constexpr EF::RoundingMode kModes[] = {
    EF::kRoundTiesToEven,   EF::kRoundTiesAwayFromZero,
    EF::kRoundTowardZero,   EF::kRoundAwayFromZero,
    EF::kRoundTowardPositive, EF::kRoundTowardNegative};

// Same(), with nullopt a failure of its own.
::testing::AssertionResult Holds(const std::optional<EF>& got, const EF& want) {
  if (!got) return ::testing::AssertionFailure() << "nullopt";
  return Same(*got, want);
}

std::string Quoted(std::string_view text) {
  std::string s = "\"";
  for (char c : text) {
    s += c == '\0' ? std::string("\\0") : std::string(1, c);
  }
  return s.size() > 80 ? s.substr(0, 80) + "...\"" : s + "\"";
}

// The integer that decimal digits denote, by exact arithmetic.
EF DecimalInteger(std::string_view digits) {
  EF v;
  for (char c : digits) v = v * EF(10) + EF(c - '0');
  return v;
}

EF Pow10(int k) {
  EF r = 1, ten = 10;
  for (; k > 0; k >>= 1) {
    if (k & 1) r *= ten;
    ten *= ten;
  }
  return r;
}

TEST(FromStringTest, MalformedTextIsRejectedByBothForms) {
  const std::string_view kCases[] = {
      // Mantissas and exponents without digits, and more than one point.
      "", "+", "-", ".", "+.", "-.", "e5", ".e5", "1e", "1e+", "1e-", "1E",
      "1.2.3", "1..2", "..1", "1e3.5", "1e3e4", "1e+-3",
      // Signs.
      "--1", "+-1", "-+1", "++1", "1-", "1+", "-+inf", "--nan",
      // Blanks and trailing garbage.
      " 1", "1 ", "\t1", "1\n", "- 1", "1x", "1f", "12a", "1,5", "1_000",
      "1e5x", "1.5.", "x1", "0b1",
      // Hexadecimal text.
      "0x", "0X", "0x.", "-0x", "+0x", "0xp1", "0x.p1", "0x1p", "0x1p+",
      "0x1p-", "0x1P", "0x1.2.3", "0xg", "0x1pA", "0x1p1.5", "0x1p0x1",
      "00x1", "0x+1", "0x-1", "x0", "0x1e3e+1", "0x 1",
      // A decimal mantissa takes no p, and e is no exponent of hex text.
      "1p3", "1P3", "1.5p-2", "1e3p1",
      // Words.
      "inf5", "infx", "infinit", "infinityy", "in", "i", "infin", "nanx",
      "nan(1)", "nan1", "na", "-nan-", "i nf", "inf ", " nan", "0inf",
      "inf.", "\xe2\x88\x9e",
      // The suffix <N>.
      "<3>", "1<>", "1<-3>", "1<+3>", "1<3", "1<3>x", "1<0>", "-1<0>",
      "0x1<0>", "1e5<0>", "1<3><3>", "1<<3>", "1<3>>", "1< 3>", "1<3 >",
      "1<3.0>", "1<0x3>", "<0>", "+<3>", "-<0>", "1>", "<3>1", "1<3>2",
      "1<3e1>", "inf<>", "nan<x>", "0<-0>",
      // Embedded NUL.
      "\0"sv, "1\0"sv, "\0" "1"sv, "1\0" "5"sv, "0x1\0p3"sv, "inf\0"sv,
      "nan\0"sv, "1<3\0>"sv, "1\0<3>"sv, "1<3>\0"sv, "-\0" "1"sv,
      "1e\0" "5"sv};
  for (std::string_view text : kCases) {
    EXPECT_FALSE(EF::FromString(text)) << Quoted(text);
    for (int max_prec : {INT_MIN, -1, 0, 1, 53, 300, INT_MAX}) {
      for (EF::RoundingMode mode : kModes) {
        EXPECT_FALSE(EF::FromString(text, max_prec, mode))
            << Quoted(text) << " to " << max_prec << " bits, mode " << mode;
      }
    }
  }
}

// Texts of the grammar with exact values: both forms give the value, the
// rounded form at every precision that holds it and in every mode.
TEST(FromStringTest, ValidTextGivesItsValue) {
  const EF kInf = EF::Infinity(1), kZero = EF::SignedZero(1),
           kNegZero = EF::SignedZero(-1);
  const struct {
    std::string text;
    EF want;
  } kCases[] = {
      // Zeros keep their sign, whatever the digits and the exponent.
      {"0", kZero}, {"+0", kZero}, {"-0", kNegZero}, {"0.0", kZero},
      {"-0.0e5", kNegZero}, {"-0x0p3", kNegZero}, {"0x0", kZero},
      {"-0X0.000P-99", kNegZero}, {"000", kZero}, {".0", kZero},
      {"0.", kZero}, {"-.0e-7", kNegZero},
      {"-0e-999999999999999999999999", kNegZero},
      {"0x0p99999999999999999999999", kZero},
      // Decimal text.
      {"1", 1}, {"+1", 1}, {"-1", -1}, {"1.", 1}, {".5", 0.5}, {"-.5e1", -5},
      {"0.5", 0.5}, {"00012.500", 12.5}, {"1E3", 1000}, {"1e+3", 1000},
      {"1e00003", 1000}, {"1e-0", 1}, {"25e-2", 0.25}, {"6.25E-2", 0.0625},
      {"0.0625", 0.0625}, {"1234.5625e1", 12345.625},
      {"9007199254740993", Pow2(53) + EF(1)}, {"1e22", 1e22},
      {"0." + std::string(56, '0') + "1e57", 1},
      {"1" + std::string(41, '0') + "e-41", 1},
      {"-" + std::string(30, '0') + "3." + std::string(30, '0'), -3},
      {"1e27", Pow10(27)}, {"-1e60", -Pow10(60)},
      {"12345678901234567890123456789", DecimalInteger(
                                            "12345678901234567890123456789")},
      // Hexadecimal text: e is a digit there, p the binary exponent.
      {"0x1e3", 483}, {"0X1E3", 483}, {"-0xAbCdEf", -11259375}, {"0x1p3", 8},
      {"0x1P-3", 0.125}, {"0x1p+3", 8}, {"0x.8", 0.5}, {"0x8.", 8},
      {"0x1.8p1", 3}, {"0x0.0001p16", 1}, {"0x00001000p-12", 1},
      {"0x1p-0", 1}, {"0xfp0", 15}, {"0x1e3e", 7742}, {"-0x.0008p+12", -0.5},
      {"0x1.fffffffffffff8p0", Pow2(1) - Pow2(-53)},
      {"0x123456789abcdef0123456789abcdefp-4",
       ldexp(ldexp(EF(0x123456789abcdefULL), 64) + EF(0x0123456789abcdefULL),
             -4)},
      // Special values, in any case, signed.
      {"inf", kInf}, {"INF", kInf}, {"Inf", kInf}, {"+inf", kInf},
      {"-inf", -kInf}, {"infinity", kInf}, {"INFINITY", kInf},
      {"iNfInItY", kInf}, {"-Infinity", -kInf}, {"nan", EF::NaN()},
      {"NaN", EF::NaN()}, {"NAN", EF::NaN()}, {"+nan", EF::NaN()},
      {"-nan", -EF::NaN()}, {"-NaN", -EF::NaN()},
      // The suffix rounds to N bits, ties to even, before anything else.
      {"0<0>", kZero}, {"-0<0>", kNegZero}, {"0<5>", kZero},
      {"-0x0p1<0>", kNegZero}, {"inf<0>", kInf}, {"-inf<0>", -kInf},
      {"-Infinity<7>", -kInf}, {"nan<0>", EF::NaN()}, {"-nan<3>", -EF::NaN()},
      {"1<1>", 1}, {"1<01>", 1}, {"3<1>", 4}, {"-3<1>", -4}, {"5<2>", 4},
      {"7<2>", 8}, {"1.5<1>", 2}, {"2.5<1>", 2}, {"0x1.8<1>", 2},
      {"1e1<2>", 8}, {"0.1<4>", 0.1015625}, {"-0.1<4>", -0.1015625},
      {"0x1.7p0<3>", 1.5}, {"0x1.7p0<300>", 1.4375},
      {"0.1<53>", 0.1}, {"0.3<53>", 0.3}, {"1e-1<24>", 0.100000001490116119384765625},
      {"3<4294967296>", 3}, {"0x1.8p0<99999999999>", 1.5}};
  for (const auto& [text, want] : kCases) {
    EXPECT_TRUE(Holds(EF::FromString(text), want)) << Quoted(text);
    for (int max_prec : {std::max(want.prec(), 1), want.prec() + 1, 1000,
                         EF::kMaxPrec, INT_MAX - 2}) {
      for (EF::RoundingMode mode : kModes) {
        EXPECT_TRUE(Holds(EF::FromString(text, max_prec, mode), want))
            << Quoted(text) << " to " << max_prec << " bits, mode " << mode;
      }
    }
  }
}

// The suffix comes first, the rounding asked for after it: two roundings.
TEST(FromStringTest, SuffixRoundsBeforeTheRequestedRounding) {
  // 1.0111b: 1.10b at 3 bits, then a tie at 1 bit that goes to 2.
  EXPECT_TRUE(Holds(EF::FromString("0x1.7p0<3>", 1, EF::kRoundTiesToEven), 2));
  EXPECT_TRUE(Holds(EF::FromString("0x1.7p0", 1, EF::kRoundTiesToEven), 1));
  EXPECT_TRUE(Holds(EF::FromString("0x1.7p0<3>", 2, EF::kRoundTowardZero),
                    1.5));
  // 10 = 1010b is a tie at 2 bits: 8. Upward from 8 changes nothing.
  EXPECT_TRUE(Holds(EF::FromString("1e1<2>", 1, EF::kRoundTowardPositive), 8));
  // The suffix always rounds ties to even, whatever the mode asked for.
  for (EF::RoundingMode mode : kModes) {
    EXPECT_TRUE(Holds(EF::FromString("-2.5<1>", 60, mode), -2)) << mode;
    EXPECT_TRUE(Holds(EF::FromString("0.1<4>", 60, mode), 0.1015625)) << mode;
  }
  // The suffix first, then the range: 1.1b * 2^(kMinExp - 2) at 1 bit is a
  // tie that rounds up into the range.
  EXPECT_TRUE(Holds(EF::FromString("0x1.8p-200000002<1>"),
                    Pow2(EF::kMinExp - 1)));
  EXPECT_FALSE(EF::FromString("0x1.8p-200000002<2>"));
  EXPECT_FALSE(EF::FromString("0x1.fp199999999<2>"));  // rounds up past it
  EXPECT_TRUE(Holds(EF::FromString("0x1.fp199999999<2>", 2,
                                   EF::kRoundTowardZero),
                    EF::Infinity(1)));
}

// Short decimal texts at 53 and 24 bits against glibc's strtod and strtof,
// which round correctly to nearest, ties to even, and read our grammar too.
TEST(FromStringTest, MatchesStrtodAndStrtof) {
  std::mt19937_64 rng(7);
  auto uniform = [&](int lo, int hi) {
    return std::uniform_int_distribution<int>(lo, hi)(rng);
  };
  for (int i = 0; i < 3000; ++i) {
    std::string text = uniform(0, 1) ? "-" : "";
    const int digits = uniform(1, 30);
    const int point = uniform(-1, digits);
    for (int d = 0; d < digits; ++d) {
      if (d == point) text += '.';
      text += static_cast<char>('0' + (uniform(0, 3) == 0 ? 9 : uniform(0, 9)));
    }
    if (point == digits) text += '.';
    const bool single = i % 3 == 0;
    const int e = single ? uniform(-30, 30) : uniform(-290, 290);
    text += "e" + std::to_string(e);
    if (single) {
      const float f = std::strtof(text.c_str(), nullptr);
      if (std::fabs(f) < FLT_MIN || std::isinf(f)) continue;
      EXPECT_TRUE(Holds(EF::FromString(text, 24, EF::kRoundTiesToEven),
                        static_cast<double>(f)))
          << text;
    } else {
      const double d = std::strtod(text.c_str(), nullptr);
      if (std::fabs(d) < DBL_MIN || std::isinf(d)) continue;
      EXPECT_TRUE(Holds(EF::FromString(text, 53, EF::kRoundTiesToEven), d))
          << text;
    }
  }
}

TEST(FromStringTest, ExactFormRefusesWhatItCannotHold) {
  const std::string_view kNotDyadic[] = {
      "0.1", "1e-1", "0.3", "-0.2", "3e-400", "0.05", "-7e-3",
      "1.0000000000000000000000000000001",
      "0.00000000000000000000000000000000000000001",
      "123456789012345678901234567890.1", "1e-100000",
      "0.1<100000000>"};  // rounded to more bits than a value holds
  for (std::string_view text : kNotDyadic) {
    EXPECT_FALSE(EF::FromString(text)) << text;
    // Rounded, a value below 2^0 and of at most the bits asked for, with the
    // two directed roundings one unit apart.
    for (int max_prec : {1, 2, 53, 300}) {
      const auto down = EF::FromString(text, max_prec, EF::kRoundTowardZero);
      const auto up = EF::FromString(text, max_prec, EF::kRoundAwayFromZero);
      ASSERT_TRUE(down && up) << text;
      if (text.find('<') != std::string_view::npos) {
        EXPECT_TRUE(down->is_nan() && up->is_nan()) << text;
        continue;
      }
      ASSERT_TRUE(down->is_normal() && up->is_normal()) << text;
      EXPECT_LE(down->prec(), max_prec) << text;
      EXPECT_LE(up->prec(), max_prec) << text;
      EXPECT_LT(abs(*down), abs(*up)) << text;
      EXPECT_TRUE(Same(abs(*up) - abs(*down),
                       Pow2(down->exp() - max_prec)))
          << text << " to " << max_prec;
    }
  }
  // Past the exponent range: a signed infinity or zero when rounded,
  // whatever the mode and the precision.
  const struct {
    std::string_view text;
    EF rounded;
  } kOutOfRange[] = {
      {"1e61000000", EF::Infinity(1)},
      {"-1e61000000", EF::Infinity(-1)},
      {"0x1p200000000", EF::Infinity(1)},
      {"-0x1p200000000", EF::Infinity(-1)},
      {"0x8p199999997", EF::Infinity(1)},
      {"0x1p-200000002", EF::SignedZero(1)},
      {"-0x1p-200000002", EF::SignedZero(-1)},
      {"0x0.1p-200000000", EF::SignedZero(1)},
      {"1e-61000000", EF::SignedZero(1)},
      {"-1e-61000000", EF::SignedZero(-1)},
      {"-1.5e-60206000", EF::SignedZero(-1)},  // below 2^(kMinExp - 2)
      {"1.5e60206000", EF::Infinity(1)}};
  for (const auto& [text, rounded] : kOutOfRange) {
    EXPECT_FALSE(EF::FromString(text)) << text;
    for (int max_prec : {1, 20, 300}) {
      for (EF::RoundingMode mode : kModes) {
        EXPECT_TRUE(Holds(EF::FromString(text, max_prec, mode), rounded))
            << text << " to " << max_prec << " bits, mode " << mode;
      }
    }
  }
  // More than kMaxPrec bits: kMaxPrec one bits fit, one more digit does not.
  const std::string ones = "0x" + std::string(EF::kMaxPrec / 4, 'f');
  const auto longest = EF::FromString(ones);
  ASSERT_TRUE(longest);
  EXPECT_EQ(longest->prec(), EF::kMaxPrec);
  EXPECT_TRUE(Same(*longest, ldexp(EF(1), EF::kMaxPrec) - EF(1)));
  EXPECT_FALSE(EF::FromString(ones + "1"));
  EXPECT_TRUE(Holds(EF::FromString(ones + "1", 10, EF::kRoundTowardZero),
                    ldexp(EF(1023), EF::kMaxPrec + 4 - 10)));
  EXPECT_TRUE(Holds(EF::FromString(ones + "1", 10, EF::kRoundTiesToEven),
                    Pow2(EF::kMaxPrec + 4)));
  EXPECT_TRUE(EF::FromString(ones + "1", INT_MAX, EF::kRoundTowardZero)
                  ->is_nan());
  // Decimal text of more than kMaxPrec bits: 5^29000000 has 67.3 million.
  EXPECT_FALSE(EF::FromString("1e29000000"));
  EXPECT_FALSE(EF::FromString("3e-29000000"));
  const auto rounded = EF::FromString("1e29000000", 20, EF::kRoundTowardZero);
  ASSERT_TRUE(rounded && rounded->is_normal());
  EXPECT_EQ(rounded->exp(), 96335915);  // floor(29000000 log2(10)) + 1
}

// exp() must lie in [kMinExp, kMaxExp]; the range applies after rounding.
TEST(FromStringTest, ExponentRangeEdges) {
  const EF kTop = Pow2(EF::kMaxExp - 1), kBottom = Pow2(EF::kMinExp - 1);
  EXPECT_TRUE(Holds(EF::FromString("0x1p199999999"), kTop));
  EXPECT_TRUE(Holds(EF::FromString("-0x1p199999999"), -kTop));
  EXPECT_TRUE(Holds(EF::FromString("0x1p-200000001"), kBottom));
  EXPECT_TRUE(Holds(EF::FromString("0x0.0004p-199999987"), kBottom));
  EXPECT_TRUE(Holds(EF::FromString("0x1.fffp199999999"),
                    ldexp(EF(0x1fff), EF::kMaxExp - 13)));
  const struct {
    std::string_view text;
    int max_prec;
    EF::RoundingMode mode;
    EF want;
  } kCases[] = {
      // Rounding up from just below 2^kMaxExp leaves the range.
      {"0x1.fffp199999999", 2, EF::kRoundTowardZero, ldexp(EF(3), 199999998)},
      {"0x1.fffp199999999", 2, EF::kRoundTowardPositive, EF::Infinity(1)},
      {"0x1.fffp199999999", 2, EF::kRoundTiesToEven, EF::Infinity(1)},
      {"0x1.fffp199999999", 2, EF::kRoundTowardNegative,
       ldexp(EF(3), 199999998)},
      {"-0x1.fffp199999999", 2, EF::kRoundTowardPositive,
       -ldexp(EF(3), 199999998)},
      {"-0x1.fffp199999999", 2, EF::kRoundTowardNegative, EF::Infinity(-1)},
      {"-0x1.fffp199999999", 2, EF::kRoundAwayFromZero, EF::Infinity(-1)},
      {"0x1.fffp199999999", 13, EF::kRoundAwayFromZero,
       ldexp(EF(0x1fff), EF::kMaxExp - 13)},
      // Rounding up from just below 2^(kMinExp - 1) enters it.
      {"0x1.8p-200000002", 1, EF::kRoundTiesToEven, kBottom},
      {"0x1.8p-200000002", 1, EF::kRoundTiesAwayFromZero, kBottom},
      {"0x1.8p-200000002", 1, EF::kRoundTowardZero, EF::SignedZero(1)},
      {"0x1.8p-200000002", 2, EF::kRoundAwayFromZero, EF::SignedZero(1)},
      {"-0x1.8p-200000002", 1, EF::kRoundTowardNegative, -kBottom},
      {"-0x1.8p-200000002", 1, EF::kRoundTowardPositive, EF::SignedZero(-1)},
      {"0x1.fffffp-200000002", 8, EF::kRoundTowardPositive, kBottom},
      {"0x1.fffffp-200000002", 8, EF::kRoundTowardNegative, EF::SignedZero(1)},
      // 2^(kMinExp - 2) at 0 bits is a tie between 0 and 2^(kMinExp - 1).
      {"0x1p-200000002", 0, EF::kRoundTiesToEven, EF::SignedZero(1)},
      {"0x1p-200000002", 0, EF::kRoundTiesAwayFromZero, kBottom},
      {"0x1p-200000002", 0, EF::kRoundTowardPositive, kBottom},
      {"0x1p-200000002", 0, EF::kRoundTowardZero, EF::SignedZero(1)},
      {"-0x1p-200000002", 0, EF::kRoundAwayFromZero, -kBottom},
      {"0x1p-200000003", 0, EF::kRoundAwayFromZero, EF::SignedZero(1)},
      {"0x1p-200000003", -1, EF::kRoundAwayFromZero, kBottom},
      {"0x1p-200000003", -1, EF::kRoundTiesAwayFromZero, EF::SignedZero(1)},
      // 2^(kMaxExp - 1) to 0 bits or fewer: 2^kMaxExp, out of range.
      {"0x1p199999999", 0, EF::kRoundTiesAwayFromZero, EF::Infinity(1)},
      {"0x1p199999999", 0, EF::kRoundTiesToEven, EF::SignedZero(1)},
      {"0x1p199999998", 0, EF::kRoundTowardPositive, kTop},
      // Far below the range, rounded to far fewer than 0 bits: in range again.
      {"0x1p-300000000", -250000000, EF::kRoundAwayFromZero, Pow2(-49999999)},
      {"0x1p-300000000", -250000000, EF::kRoundTowardNegative,
       EF::SignedZero(1)},
      {"-0x1p-300000000", INT_MIN, EF::kRoundAwayFromZero, EF::Infinity(-1)}};
  for (const auto& c : kCases) {
    EXPECT_TRUE(Holds(EF::FromString(c.text, c.max_prec, c.mode), c.want))
        << c.text << " to " << c.max_prec << " bits, mode " << c.mode;
  }
}

// "As RoundToMaxPrec would round": for texts that the exact form holds, the
// rounded form must equal RoundToMaxPrec on the exact value, at every
// precision including those below one bit.
TEST(FromStringTest, RoundedFormIsRoundToMaxPrecOfTheExactValue) {
  const std::string_view kTexts[] = {
      "1",    "3",     "-3",      "0x1.8p5",  "-0x1.0001p-7", "12.5",
      "-0.375", "0x1.7p0", "0xffffffffffffffffffffp-40", "1e27",
      "-123456789012345678901234567890", "0x1p-200000001",
      "0x1.ffffp199999999", "0x1234567890abcdef1234567890abcdefp-300",
      "0x3p-3", "-0x5p1000"};
  const int kPrecs[] = {INT_MIN, INT_MIN + 1, -250000000, -100, -2, -1, 0, 1,
                        2,       3,           16,         63,   64, 65, 100};
  for (std::string_view text : kTexts) {
    const auto exact = EF::FromString(text);
    ASSERT_TRUE(exact) << text;
    for (int max_prec : kPrecs) {
      for (EF::RoundingMode mode : kModes) {
        EXPECT_TRUE(Holds(EF::FromString(text, max_prec, mode),
                          exact->RoundToMaxPrec(max_prec, mode)))
            << text << " to " << max_prec << " bits, mode " << mode;
      }
    }
  }
}

// Non-dyadic values below one bit: only the exponent, the sign and the
// mode count. 0.1 lies in [2^-4, 2^-3).
TEST(FromStringTest, NonDyadicBelowOneBit) {
  const EF kEighth = 0.125, kQuarter = 0.25, kZero = EF::SignedZero(1);
  const struct {
    int max_prec;
    EF::RoundingMode mode;
    EF want;
  } kCases[] = {
      {0, EF::kRoundTiesToEven, kEighth},
      {0, EF::kRoundTiesAwayFromZero, kEighth},
      {0, EF::kRoundTowardZero, kZero},
      {0, EF::kRoundAwayFromZero, kEighth},
      {0, EF::kRoundTowardPositive, kEighth},
      {0, EF::kRoundTowardNegative, kZero},
      {-1, EF::kRoundTiesToEven, kZero},
      {-1, EF::kRoundTiesAwayFromZero, kZero},
      {-1, EF::kRoundAwayFromZero, kQuarter},
      {-1, EF::kRoundTowardPositive, kQuarter},
      {-30, EF::kRoundAwayFromZero, Pow2(-3 + 30)},
      {INT_MIN, EF::kRoundTowardPositive, EF::Infinity(1)},
      {INT_MIN, EF::kRoundTowardNegative, kZero},
      {INT_MIN, EF::kRoundTiesToEven, kZero}};
  for (const auto& c : kCases) {
    EXPECT_TRUE(Holds(EF::FromString("0.1", c.max_prec, c.mode), c.want))
        << c.max_prec << " bits, mode " << c.mode;
    // The same magnitude for -0.1, with up and down exchanged.
    const EF::RoundingMode mirrored =
        c.mode == EF::kRoundTowardPositive   ? EF::kRoundTowardNegative
        : c.mode == EF::kRoundTowardNegative ? EF::kRoundTowardPositive
                                             : c.mode;
    EXPECT_TRUE(Holds(EF::FromString("-0.1", c.max_prec, mirrored), -c.want))
        << c.max_prec << " bits, mode " << mirrored;
  }
}

// Exponents far past the range give their zero or infinity at once, in both
// directions and with every precision.
TEST(FromStringTest, FarExponentsAnswerAtOnce) {
  const struct {
    std::string_view text;
    EF rounded;
  } kCases[] = {
      {"1e999999999999999999", EF::Infinity(1)},
      {"-1e999999999999999999", EF::Infinity(-1)},
      {"1e-999999999999999999", EF::SignedZero(1)},
      {"-1e-999999999999999999", EF::SignedZero(-1)},
      {"123.456e999999999999999999", EF::Infinity(1)},
      {"0.000000000000000000001e999999999999999999", EF::Infinity(1)},
      {"10000000000000000000000e-999999999999999999", EF::SignedZero(1)},
      {"0x1p999999999999999999", EF::Infinity(1)},
      {"-0x1p-999999999999999999", EF::SignedZero(-1)},
      {"0xfffffffffffffffffffffp-999999999999999999", EF::SignedZero(1)},
      {"1e-700000000", EF::SignedZero(1)}};
  for (const auto& [text, rounded] : kCases) {
    EXPECT_FALSE(EF::FromString(text)) << text;
    for (int max_prec : {1, 20, 64, 1000}) {
      for (EF::RoundingMode mode : kModes) {
        EXPECT_TRUE(Holds(EF::FromString(text, max_prec, mode), rounded))
            << text << " to " << max_prec << " bits, mode " << mode;
      }
    }
    // Below one bit, only a zero side far enough down stays zero.
    if (rounded.is_zero() && text.find("999999999999999999") !=
                                 std::string_view::npos) {
      EXPECT_TRUE(Holds(EF::FromString(text, INT_MIN, EF::kRoundAwayFromZero),
                        rounded))
          << text;
    }
  }
  // 10^-700000000 lies in [2^(E-1), 2^E) with E = -2325349666: at INT_MIN
  // bits, rounded away, 2^(E + 2^31) = 2^-177866018, back in range.
  EXPECT_TRUE(Holds(EF::FromString("1e-700000000", INT_MIN,
                                   EF::kRoundAwayFromZero),
                    Pow2(-177866018)));
  EXPECT_TRUE(Holds(EF::FromString("-1e-700000000", INT_MIN,
                                   EF::kRoundTowardZero),
                    EF::SignedZero(-1)));
}

// Far below the range, rounded to few bits: the directed roundings are one
// unit apart and nearest is one of them.
TEST(FromStringTest, LongExponentsRoundCheaply) {
  for (std::string_view text : {"1e-60000000", "7.25e-60000001", "3e60205998",
                                "-1e-28000000"}) {
    const auto down = EF::FromString(text, 20, EF::kRoundTowardZero);
    const auto up = EF::FromString(text, 20, EF::kRoundAwayFromZero);
    const auto nearest = EF::FromString(text, 20, EF::kRoundTiesToEven);
    ASSERT_TRUE(down && up && nearest) << text;
    ASSERT_TRUE(down->is_normal() && up->is_normal()) << text;
    EXPECT_TRUE(Same(abs(*up) - abs(*down), Pow2(down->exp() - 20))) << text;
    EXPECT_TRUE(Same(*nearest, *down) || Same(*nearest, *up)) << text;
  }
}

// Texts written by the library, reread.

// Random values, special ones now and then, with exponents near 1, in the
// double range, anywhere and at both ends of the range.
using ValueGen = testing::RandomValues;

std::vector<EF> SpecialAndEdgeValues() {
  return {EF::SignedZero(1),
          EF::SignedZero(-1),
          EF::Infinity(1),
          EF::Infinity(-1),
          EF::NaN(),
          -EF::NaN(),
          1,
          -1,
          0.1,
          1e300,
          std::ldexp(1.0, -1074),
          Pow2(EF::kMinExp - 1),
          -Pow2(EF::kMinExp - 1),
          Pow2(EF::kMaxExp - 1),
          ldexp(Pow2(60) - EF(1), EF::kMaxExp - 60),
          ldexp(Pow2(200) - EF(1), EF::kMinExp - 1 - 199),
          ldexp(EF(3), EF::kMinExp - 2),
          Pow10(100),
          Pow2(1000) + EF(1)};
}

void CheckUniqueStringRoundTrip(const EF& x) {
  const std::string text = x.ToUniqueString();
  const auto back = EF::FromString(text);
  ASSERT_TRUE(back) << text;
  if (x.is_nan()) {
    EXPECT_TRUE(back->is_nan()) << text;
    return;
  }
  EXPECT_TRUE(Same(*back, x)) << text;
  EXPECT_EQ(back->prec(), x.prec()) << text;
  // The rounded form agrees at every precision that holds x.
  for (EF::RoundingMode mode : kModes) {
    EXPECT_TRUE(Holds(EF::FromString(text, std::max(x.prec(), 1), mode), x))
        << text << " mode " << mode;
  }
}

// ToString's text, rounded to prec() bits ties to even, is x again; its
// exact value, when the exact form holds it, rounds the same way.
void CheckToStringRoundTrip(const EF& x) {
  const std::string text = x.ToString();
  const auto rounded =
      EF::FromString(text, std::max(x.prec(), 1), EF::kRoundTiesToEven);
  ASSERT_TRUE(rounded) << text;
  if (x.is_nan()) {
    EXPECT_TRUE(rounded->is_nan()) << text;
    return;
  }
  EXPECT_TRUE(Same(*rounded, x)) << text;
  const auto exact = EF::FromString(text);
  if (exact) {
    EXPECT_TRUE(Same(exact->RoundToMaxPrec(std::max(x.prec(), 1),
                                           EF::kRoundTiesToEven),
                     x))
        << text;
  }
}

// ToStringWithMaxDigits(n): the text parses in both forms; enough bits of it
// write the same text again; and n >= NumSignificantDigitsForPrec(prec())
// digits bring x back at prec() bits.
void CheckMaxDigitsText(const EF& x, int n) {
  const std::string text = x.ToStringWithMaxDigits(n);
  const int bits = 4 * n + 64;
  const auto reread = EF::FromString(text, bits, EF::kRoundTiesToEven);
  ASSERT_TRUE(reread) << text;
  EXPECT_TRUE(EF::FromString(text, 1, EF::kRoundTowardZero)) << text;
  if (!x.is_normal()) {
    EXPECT_TRUE(Same(*reread, x) || x.is_nan()) << text;
    return;
  }
  if (reread->is_normal()) {  // else the text lies past the range
    EXPECT_EQ(reread->ToStringWithMaxDigits(n), text);
  } else {
    EXPECT_TRUE(x.exp() > EF::kMaxExp - 4 || x.exp() < EF::kMinExp + 4)
        << text;
  }
  if (n >= EF::NumSignificantDigitsForPrec(x.prec())) {
    EXPECT_TRUE(Holds(EF::FromString(text, x.prec(), EF::kRoundTiesToEven), x))
        << text << " at " << x.prec() << " bits";
  }
}

void CheckTextRoundTrips(const EF& x, ValueGen* gen) {
  CheckUniqueStringRoundTrip(x);
  CheckToStringRoundTrip(x);
  const int full = EF::NumSignificantDigitsForPrec(x.prec());
  for (int n : {1, 2, gen->Uniform(3, 40), full - 1, full}) {
    if (n >= 1) CheckMaxDigitsText(x, n);
  }
}

TEST(FromStringTest, TextsOfSpecialAndEdgeValuesRoundTrip) {
  ValueGen gen(3);
  for (const EF& x : SpecialAndEdgeValues()) CheckTextRoundTrips(x, &gen);
}

TEST(FromStringTest, TextsOfRandomValuesRoundTrip) {
  ValueGen gen(11);
  for (int i = 0; i < 150; ++i) CheckTextRoundTrips(gen.Value(), &gen);
}

TEST(FromStringSlowTest, TextsOfRandomValuesRoundTrip) {
  ValueGen gen(12);
  for (int i = 0; i < 2000; ++i) CheckTextRoundTrips(gen.Value(), &gen);
}

}  // namespace
}  // namespace nurvik::lattis
