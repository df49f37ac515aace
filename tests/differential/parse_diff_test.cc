// Differential tests of ExactFloat::FromString against mpfr_strtofr, in all
// six rounding modes: random decimal and hexadecimal texts of every layout,
// short and thousands of digits long; exact ties between two p-bit values and
// ties broken by a digit far to the right; both ends of the exponent range
// and exponents far past it; and the exact one-argument form, which must
// return exactly the binary fractions and nothing else. Texts come in every
// layout the grammar allows (point anywhere or absent, exponent or not,
// leading and trailing zeros, either case), so that one value reaches the
// parser written in many ways. LATTIS_DIFF_SEED in the environment replaces
// the fixed seed.

#include <gtest/gtest.h>
#include <mpfr.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "math/exactfloat.h"
#include "tests/differential/mpfr_oracle.h"

namespace nurvik::lattis::testing {
namespace {

using EF = ExactFloat;

// A number text and an upper bound on the mantissa bits of its value when
// that value is a binary fraction: at that precision MPFR reads the text
// exactly if and only if FromString(text) may be exact.
struct Literal {
  std::string text;
  long exact_bits;  // NOLINT(runtime/int): MPFR's precision type
};

// Long texts in failure messages: the start and the end.
std::string Shorten(const std::string& s) {
  if (s.size() <= 200) return s;
  return s.substr(0, 100) + "...(" + std::to_string(s.size()) + " chars)..." +
         s.substr(s.size() - 60);
}

// digits - 1 for a decimal digit string of a positive integer; the result
// keeps the length (a leading zero is fine in a text).
std::string Decrement(std::string digits) {
  size_t i = digits.size();
  while (digits[--i] == '0') digits[i] = '9';
  --digits[i];
  return digits;
}

class ParseDiffTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { WidenMpfrExponentRange(); }

  ParseDiffTest() {
    const char* seed = std::getenv("LATTIS_DIFF_SEED");
    rng_.seed(seed ? std::strtoull(seed, nullptr, 10) : 20240917);
  }

  int Uniform(int lo, int hi) {
    return std::uniform_int_distribution<int>(lo, hi)(rng_);
  }
  bool OneIn(int n) { return Uniform(1, n) == 1; }
  std::string Sign() { return OneIn(2) ? "-" : OneIn(4) ? "+" : ""; }

  // Precisions: mostly 1 to 300 bits, sometimes zero or below, which round
  // to zero or one power of two, and a few extremes.
  int Prec() {
    const int kind = Uniform(0, 39);
    if (kind < 12) return Uniform(1, 8);
    if (kind < 24) return Uniform(9, 64);
    if (kind < 36) return Uniform(65, 300);
    if (kind < 39) return Uniform(-3, 0);
    static constexpr int kExtremes[] = {INT_MIN, EF::kMinExp - 1, -EF::kMaxExp,
                                        -1000};
    return kExtremes[Uniform(0, 3)];
  }

  std::string RandomDigits(int n, bool hex) {
    static constexpr char kHex[] = "0123456789abcdefABCDEF";
    std::string s(n, '0');
    for (char& c : s) c = kHex[Uniform(0, hex ? 21 : 9)];
    return s;
  }

  // "e" or "E" (hex: "p" or "P"), then the exponent with an optional "+"
  // and sometimes leading zeros.
  std::string ExponentText(int64_t e, bool hex) {
    std::string s = hex ? (OneIn(2) ? "p" : "P") : (OneIn(2) ? "e" : "E");
    if (e < 0) {
      s += '-';
    } else if (OneIn(3)) {
      s += '+';
    }
    s += std::string(OneIn(5) ? Uniform(1, 3) : 0, '0');
    return s + std::to_string(e < 0 ? -e : e);
  }

  // A text of sign * digits * 10^exp (digits an integer, possibly with
  // leading zeros) in a random layout: the point anywhere or nowhere, or the
  // whole exponent written out as zeros when it is small.
  Literal Decimal(const std::string& sign, const std::string& digits,
                  int64_t exp) {
    const int n = static_cast<int>(digits.size());
    Literal lit{sign, 4L * n + 3 * std::max<int64_t>(exp, 0) + 64};
    std::string& t = lit.text;
    if (OneIn(3)) t += std::string(Uniform(1, 3), '0');
    if (std::abs(exp) <= 400 && OneIn(3)) {  // positional, no exponent
      if (exp >= 0) {
        t += digits + std::string(exp, '0');
        if (OneIn(3)) t += "." + std::string(Uniform(0, 3), '0');
      } else if (n + exp > 0) {
        t += digits.substr(0, n + exp) + "." + digits.substr(n + exp);
      } else {
        t += (OneIn(4) ? "." : "0.") + std::string(-(n + exp), '0') + digits;
      }
      return lit;
    }
    int64_t field = exp;
    if (OneIn(3)) {
      t += digits;
    } else {  // k digits before the point
      const int k = Uniform(0, n);
      t += (k == 0 && OneIn(2) ? "0" : "") + digits.substr(0, k) + "." +
           digits.substr(k) + std::string(OneIn(4) ? Uniform(1, 3) : 0, '0');
      field += n - k;
    }
    if (field != 0 || OneIn(2)) t += ExponentText(field, false);
    return lit;
  }

  // A text of sign * hexdigits * 2^exp in a random layout.
  Literal Hex(const std::string& sign, const std::string& digits, int64_t exp) {
    const int n = static_cast<int>(digits.size());
    Literal lit{sign + (OneIn(2) ? "0x" : "0X"), 4L * n + 64};
    std::string& t = lit.text;
    if (OneIn(4)) t += std::string(Uniform(1, 3), '0');
    int64_t field = exp;
    if (OneIn(3)) {
      t += digits;
    } else {
      const int k = Uniform(0, n);
      t += digits.substr(0, k) + "." + digits.substr(k) +
           std::string(OneIn(4) ? Uniform(1, 3) : 0, '0');
      field += 4 * (n - k);
    }
    if (field != 0 || OneIn(2)) t += ExponentText(field, true);
    return lit;
  }

  // Random digits, sometimes with leading or trailing zeros or all zeros,
  // times a random power of 10 (of 2 for hex) up to max_exp.
  Literal RandomText(int min_digits, int max_digits, int max_exp, bool hex) {
    std::string digits = RandomDigits(Uniform(min_digits, max_digits), hex);
    if (OneIn(5)) digits[0] = '0';
    if (OneIn(5)) digits.back() = '0';
    if (OneIn(40)) digits.assign(digits.size(), '0');
    const int exp = OneIn(4) ? Uniform(-5, 5) : Uniform(-max_exp, max_exp);
    return hex ? Hex(Sign(), digits, exp) : Decimal(Sign(), digits, exp);
  }

  // A random odd mantissa of `bits` bits times 2^exp, in *out.
  void BinaryFraction(int bits, int64_t exp, mpfr_ptr out) {
    std::string s(bits, '0');
    for (char& c : s) c = static_cast<char>('0' + Uniform(0, 1));
    s.front() = s.back() = '1';
    mpfr_set_prec(out, bits);
    mpfr_set_str(out, s.c_str(), 2, MPFR_RNDN);  // exact
    mpfr_mul_2si(out, out, exp, MPFR_RNDN);
    if (OneIn(2)) mpfr_neg(out, out, MPFR_RNDN);
  }

  // The exact decimal expansion of a normal x as sign, digits and exponent
  // (digits * 10^*exp10): a binary fraction of p bits and lowest bit 2^f has
  // at most p + |f| + 2 significant digits, so mpfr_get_str with that many
  // rounds nothing. Checked by reading it back exactly.
  std::string ExactDigits(mpfr_srcptr x, std::string* sign, int64_t* exp10) {
    const long bits = mpfr_min_prec(x);       // NOLINT(runtime/int)
    const long low = mpfr_get_exp(x) - bits;  // NOLINT(runtime/int)
    mpfr_exp_t e = 0;
    char* raw =
        mpfr_get_str(nullptr, &e, 10, bits + std::abs(low) + 2, x, MPFR_RNDN);
    std::string digits(raw + (raw[0] == '-'));
    mpfr_free_str(raw);
    digits.erase(digits.find_last_not_of('0') + 1);
    *sign = mpfr_signbit(x) ? "-" : OneIn(4) ? "+" : "";
    *exp10 = e - static_cast<int64_t>(digits.size());
    Mpfr back;
    int ternary = 0;
    const std::string text = digits + "e" + std::to_string(*exp10);
    EXPECT_TRUE(ParseMpfr(text, bits, MPFR_RNDN, back, &ternary));
    EXPECT_TRUE(ternary == 0 && mpfr_cmpabs(back, x) == 0) << text;
    return digits;
  }

  Literal ExactDecimal(mpfr_srcptr x) {
    std::string sign;
    int64_t exp10 = 0;
    const std::string digits = ExactDigits(x, &sign, &exp10);
    return Decimal(sign, digits, exp10);
  }

  // The exact hexadecimal digits of a normal x, in mixed case.
  Literal ExactHex(mpfr_srcptr x) {
    mpfr_exp_t e = 0;
    char* raw =
        mpfr_get_str(nullptr, &e, 16, mpfr_get_prec(x) / 4 + 2, x, MPFR_RNDN);
    std::string digits(raw + (raw[0] == '-'));
    mpfr_free_str(raw);
    digits.erase(digits.find_last_not_of('0') + 1);
    for (char& c : digits) {
      if (c >= 'a' && OneIn(2)) c = static_cast<char>(c - 'a' + 'A');
    }
    return Hex(mpfr_signbit(x) ? "-" : "", digits,
               4 * (e - static_cast<int64_t>(digits.size())));
  }

  // FromString(text, prec, mode) in every mode against the oracle: the value
  // rounded once, past the limits the signed zero, infinity or NaN that
  // replaces it.
  void ExpectRounded(const std::string& text, int prec) {
    for (int m = 0; m <= 5; ++m) {
      const auto mode = EF::RoundingMode(m);
      ASSERT_TRUE(RoundedParseOracle(text, prec, mode, want_)) << text;
      const std::optional<EF> got = EF::FromString(text, prec, mode);
      ASSERT_TRUE(got.has_value()) << Shorten(text);
      EXPECT_EQ(Mismatch(*got, want_), "")
          << Shorten(text) << " to " << prec << " bits, mode " << m;
    }
  }

  // A tie sign * digits * 10^exp10 broken both ways by a digit `zeros + 1`
  // places past its last: a 1 after zeros above it, and below it the digits
  // less one unit followed by nines.
  void ExpectTiesBroken(const std::string& sign, const std::string& digits,
                        int64_t exp10, int zeros, int prec) {
    const int64_t e = exp10 - zeros - 1;
    ExpectRounded(Decimal(sign, digits + std::string(zeros, '0') + "1", e).text,
                  prec);
    ExpectRounded(
        Decimal(sign, Decrement(digits) + std::string(zeros + 1, '9'), e).text,
        prec);
  }

  // FromString(text) against the exact reading at lit.exact_bits: the value
  // when MPFR reads it exactly and it lies within the limits, else nullopt.
  // Rounded to kMaxPrec or INT_MAX bits, such a value comes back unchanged in
  // every mode. A value a / b that is not a binary fraction has no run of
  // equal bits longer than log2(b), far below 100 000 bits for these texts:
  // rounded to kMaxPrec + 100 000 bits or more it keeps more than kMaxPrec,
  // which gives NaN.
  void ExpectExact(const Literal& lit) {
    int ternary = 0;
    ASSERT_TRUE(ParseMpfr(lit.text, lit.exact_bits, MPFR_RNDN, want_, &ternary))
        << lit.text;
    const bool representable =
        ternary == 0 &&
        (!mpfr_regular_p(want_) || (mpfr_get_exp(want_) >= EF::kMinExp &&
                                    mpfr_get_exp(want_) <= EF::kMaxExp &&
                                    mpfr_min_prec(want_) <= EF::kMaxPrec));
    const std::optional<EF> got = EF::FromString(lit.text);
    const bool inside = mpfr_regular_p(want_) &&
                        mpfr_get_exp(want_) > EF::kMinExp + 64 &&
                        mpfr_get_exp(want_) < EF::kMaxExp - 64;
    for (int prec : {INT_MAX, EF::kMaxPrec + 100000, EF::kMaxPrec}) {
      if (representable ? prec == EF::kMaxPrec + 100000
                        : ternary == 0 || !inside || prec == EF::kMaxPrec) {
        continue;
      }
      for (int m = 0; m <= 5; ++m) {
        const std::optional<EF> wide =
            EF::FromString(lit.text, prec, EF::RoundingMode(m));
        ASSERT_TRUE(wide.has_value()) << Shorten(lit.text);
        EXPECT_TRUE(representable ? Mismatch(*wide, want_).empty()
                                  : wide->is_nan())
            << Shorten(lit.text) << " to " << prec << " bits, mode " << m
            << " gave " << Describe(*wide);
      }
    }
    if (!representable) {
      EXPECT_FALSE(got.has_value())
          << Shorten(lit.text) << " gave " << Describe(*got);
      return;
    }
    ASSERT_TRUE(got.has_value()) << Shorten(lit.text);
    EXPECT_EQ(Mismatch(*got, want_), "") << Shorten(lit.text);
  }

  // A suffix <bits> on `text` rounds its value to that many bits, ties to
  // even, before anything else: the exact form returns that rounding, and
  // the rounded form rounds it again. For values well inside the range.
  void ExpectSuffix(const std::string& text, int bits, int prec) {
    const std::string suffixed = text + "<" + std::to_string(bits) + ">";
    Mpfr first;
    int ternary = 0;
    ASSERT_TRUE(ParseMpfr(text, bits, MPFR_RNDN, first, &ternary)) << text;
    const std::optional<EF> exact = EF::FromString(suffixed);
    ASSERT_TRUE(exact.has_value()) << suffixed;
    EXPECT_EQ(Mismatch(*exact, first), "") << suffixed;
    for (int m = 0; m <= 5; ++m) {
      const auto mode = EF::RoundingMode(m);
      RoundToMaxPrecOracle(first, prec, mode, want_);
      const std::optional<EF> got = EF::FromString(suffixed, prec, mode);
      ASSERT_TRUE(got.has_value()) << suffixed;
      EXPECT_EQ(Mismatch(*got, want_), "")
          << suffixed << " to " << prec << " bits, mode " << m;
    }
  }

  std::mt19937_64 rng_;
  Mpfr want_, x_;
};

using ParseDiffSlowTest = ParseDiffTest;

TEST_F(ParseDiffTest, ShortDecimalTexts) {
  for (int i = 0; i < 6000; ++i) {
    const Literal lit = RandomText(1, 60, 400, false);
    ExpectRounded(lit.text, Prec());
    ExpectExact(lit);
  }
}

TEST_F(ParseDiffTest, ShortHexadecimalTexts) {
  for (int i = 0; i < 4000; ++i) {
    const Literal lit = RandomText(1, 60, 1200, true);
    ExpectRounded(lit.text, Prec());
    ExpectExact(lit);
  }
}

TEST_F(ParseDiffTest, SpecialValuesAndZeros) {
  for (const char* body :
       {"inf", "INF", "Inf", "infinity", "INFINITY", "iNfInItY", "nan", "NaN",
        "NAN", "0", "0.", ".0", "000.000e+12", "0e-999", "0x0", "0X0.0p-77"}) {
    for (const char* sign : {"", "+", "-"}) {
      const std::string text = std::string(sign) + body;
      ExpectExact({text, 64});
      ExpectRounded(text, Uniform(1, 100));
      ExpectRounded(text, Uniform(-3, 0));
    }
  }
}

// Texts of thousands of digits: their values are decided by their leading
// digits unless they lie very close to a rounding boundary.
TEST_F(ParseDiffSlowTest, LongTexts) {
  for (int i = 0; i < 1500; ++i) {
    const Literal lit = RandomText(1000, 5000, 400, OneIn(4));
    ExpectRounded(lit.text, Prec());
    ExpectExact(lit);
  }
}

// Odd (p + 1)-bit mantissas lie exactly halfway between two p-bit values;
// written out in full, they are ties in text. A nonzero digit after a run of
// zeros, or the tie minus one unit of a longer text ("...4999...9"), breaks
// the tie, as close to it as the digits allow.
TEST_F(ParseDiffTest, TiesAndNearTies) {
  for (int i = 0; i < 1200; ++i) {
    const int prec = Uniform(0, 2) == 0   ? Uniform(1, 8)
                     : Uniform(0, 1) == 0 ? Uniform(9, 64)
                                          : Uniform(65, 300);
    BinaryFraction(prec + 1, Uniform(-400, 400) - (prec + 1), x_);
    std::string sign;
    int64_t exp10 = 0;
    const std::string digits = ExactDigits(x_, &sign, &exp10);
    const Literal tie = Decimal(sign, digits, exp10);
    ExpectRounded(tie.text, prec);
    ExpectExact(tie);
    ExpectRounded(tie.text, prec + 1);  // exact at p + 1 bits
    ExpectRounded(ExactHex(x_).text, prec);
    ExpectTiesBroken(sign, digits, exp10, Uniform(0, 40), prec);
  }
}

// The same with the breaking digit hundreds to thousands of digits away,
// past the digits that decide every other value.
TEST_F(ParseDiffSlowTest, TiesBrokenFarAway) {
  for (int i = 0; i < 1500; ++i) {
    const int prec = Uniform(1, 300);
    BinaryFraction(prec + 1, Uniform(-400, 400) - (prec + 1), x_);
    std::string sign;
    int64_t exp10 = 0;
    const std::string digits = ExactDigits(x_, &sign, &exp10);
    ExpectTiesBroken(sign, digits, exp10, Uniform(200, 3000), prec);
  }
}

// Every binary fraction has a finite decimal expansion, which the exact form
// must return bit for bit; x / 5 for a mantissa not divisible by 5 (the
// expansion of 2x with the exponent lowered by one) is not a binary fraction
// and must give nullopt, however many of its trailing digits agree with one.
TEST_F(ParseDiffTest, ExactFormOnBinaryFractions) {
  for (int i = 0; i < 1500; ++i) {
    const int bits = Uniform(0, 3) == 0 ? Uniform(1, 10) : Uniform(11, 300);
    BinaryFraction(bits, Uniform(-500, 500) - bits, x_);
    const Literal decimal = ExactDecimal(x_);
    ExpectExact(decimal);
    ExpectExact(ExactHex(x_));
    ExpectRounded(decimal.text, Uniform(1, bits + 2));

    std::string sign;
    int64_t exp10 = 0;
    mpfr_mul_2ui(x_, x_, 1, MPFR_RNDN);
    const std::string digits = ExactDigits(x_, &sign, &exp10);
    const Literal fifth = Decimal(sign, digits, exp10 - 1);
    ExpectExact(fifth);
    ExpectRounded(fifth.text, Uniform(1, 300));
  }
  for (const char* text : {"0.1", "-0.2", "3.3", "1e-1", "0.3e1", "2.5e-1",
                           "0.625", "1.0000000000000000000000000000001",
                           "5e-324", "4.9406564584124654e-324"}) {
    ExpectExact({text, 256});
  }
}

// The suffix <N> of ToUniqueString: rounding to N bits, ties to even, comes
// first, and the exact form returns the rounded value.
TEST_F(ParseDiffTest, PrecisionSuffix) {
  for (int i = 0; i < 600; ++i) {
    const Literal lit = RandomText(1, 60, 300, OneIn(4));
    int ternary = 0;
    ASSERT_TRUE(ParseMpfr(lit.text, 2, MPFR_RNDN, x_, &ternary)) << lit.text;
    if (mpfr_zero_p(x_)) continue;  // zeros take only <0>
    ExpectSuffix(lit.text, Uniform(1, 200), Uniform(1, 300));
  }
}

// Values at both ends of the exponent range, written with up to 60 decimal
// digits or exactly in hexadecimal: rounding may carry a value just below
// 2^kMaxExp to infinity, or one just below 2^(kMinExp - 1), the smallest
// positive value, up to it.
TEST_F(ParseDiffTest, ExponentRangeEnds) {
  // Results away from zero: saturated, or normal at either end exponent.
  int saturated = 0, at_ends = 0;
  for (int i = 0; i < 1000; ++i) {
    const int prec = Uniform(1, 200);
    const bool top = OneIn(2);
    // 1 - 2^-k, or random bits, just below a power of two near the end.
    const int k = Uniform(1, prec + 3);
    const int64_t exp =
        top ? EF::kMaxExp + Uniform(-2, 1) : EF::kMinExp - 1 + Uniform(-1, 2);
    if (OneIn(2)) {
      mpfr_set_prec(x_, k + 1);
      mpfr_set_si_2exp(x_, 1, exp, MPFR_RNDN);
      Mpfr low;
      mpfr_set_prec(low, 2);
      mpfr_set_si_2exp(low, 1, exp - k, MPFR_RNDN);
      mpfr_sub(x_, x_, low, MPFR_RNDN);  // exact
      if (OneIn(2)) mpfr_neg(x_, x_, MPFR_RNDN);
    } else {
      const int bits = Uniform(1, 100);
      BinaryFraction(bits, exp - bits, x_);
    }
    // Decimal text, rounded from the exact value in some direction: with
    // more digits than prec bits hold, it lies very close to a prec-bit
    // boundary, which must be settled without the whole power 10^(6e7).
    mpfr_exp_t e = 0;
    const int n = Uniform(1, 60);
    char* raw = mpfr_get_str(nullptr, &e, 10, n, x_,
                             MpfrMode(EF::RoundingMode(Uniform(0, 5))));
    std::string digits(raw + (raw[0] == '-'));
    const std::string sign = raw[0] == '-' ? "-" : "";
    mpfr_free_str(raw);
    const Literal decimal = Decimal(sign, digits, e - n);
    ExpectRounded(decimal.text, prec);
    // An integer times 10^(about 6e7) holds a multiple of 5^(6e7), more than
    // kMaxPrec bits; at the bottom, n digits times 10^(about -6e7) cannot be
    // divisible by 5^(6e7). Neither is exact.
    EXPECT_FALSE(EF::FromString(decimal.text).has_value()) << decimal.text;
    const Literal hex = ExactHex(x_);
    ExpectRounded(hex.text, prec);
    ExpectExact(hex);
    const EF away = *EF::FromString(hex.text, prec, EF::kRoundAwayFromZero);
    saturated += !away.is_normal();
    at_ends += away.is_normal() &&
               (away.exp() == EF::kMaxExp || away.exp() == EF::kMinExp);
  }
  EXPECT_GT(saturated, 100);
  EXPECT_GT(at_ends, 100);
}

// Exponents far past the range, with up to 45 exponent digits (every
// length around the 19 digits of 2^63): every nonzero value becomes the
// signed infinity or zero on its side in every mode, and the exact form gives
// nullopt; zeros stay signed zeros. The cost depends on the digits and the
// precision, not on the size of the exponent.
TEST_F(ParseDiffTest, ExponentsFarPastTheRange) {
  const std::string long_digits = RandomDigits(3000, false) + "1";
  struct Case {
    std::string text;
    int side;  // +1 past the top, -1 past the bottom, 0 for a zero
  };
  std::vector<Case> cases = {
      {"1e999999999", 1},
      {"-1e999999999", 1},
      {"1e-999999999", -1},
      {"-0.5e-999999999", -1},
      {"123.456e+400000000", 1},
      {"9e60206000", 1},
      {"1e-60206000", -1},
      {"1e" + std::string(40, '9'), 1},
      {"-7.5e-" + std::string(40, '9'), -1},
      {"0x1p999999999999", 1},
      {"-0X.8P-4000000000", -1},
      {"0x1p200000000", 1},
      {"-0x1p-200000002", -1},
      {long_digits + "e-70000000", -1},
      {"0." + long_digits + "e70000000", 1},
      {"0x" + long_digits + "p-" + std::string(25, '7'), -1},
      {"0e999999999999", 0},
      {"-0.000e-" + std::string(30, '9'), 0},
      {"-0x0p99999999999", 0},
  };
  for (int n = 10; n <= 45; ++n) {
    const std::string nines(n, '9'), power = "1" + std::string(n - 1, '0');
    cases.push_back({"1e" + nines, 1});
    cases.push_back({"-1e-" + nines, -1});
    cases.push_back({"-2.5E+" + power, 1});
    cases.push_back({"0.0025e-" + power, -1});
    cases.push_back({"0x1.8p" + nines, 1});
    cases.push_back({"-0x1p-" + power, -1});
  }
  for (const auto& [text, side] : cases) {
    const bool negative = text[0] == '-';
    const std::optional<EF> exact = EF::FromString(text);
    if (side == 0) {
      ASSERT_TRUE(exact.has_value()) << Shorten(text);
      EXPECT_TRUE(exact->is_zero() && exact->sign_bit() == negative)
          << Shorten(text);
    } else {
      EXPECT_FALSE(exact.has_value()) << Shorten(text);
    }
    for (int prec : {1, 2, 53, 300}) {
      for (int m = 0; m <= 5; ++m) {
        const std::optional<EF> got =
            EF::FromString(text, prec, EF::RoundingMode(m));
        ASSERT_TRUE(got.has_value()) << Shorten(text);
        EXPECT_TRUE(side > 0 ? got->is_inf() : got->is_zero())
            << Shorten(text) << " to " << prec << " bits, mode " << m
            << " gave " << Describe(*got);
        EXPECT_EQ(got->sign_bit(), negative) << Shorten(text);
      }
    }
  }
}

// 10^k = 5^k * 2^k: its mantissa 5^k has ceil(k log2 5) bits, 67 117 554 for
// k = 28 906 000, past kMaxPrec. The exact form cannot hold it; rounded, it
// is an ordinary value far inside the range.
TEST_F(ParseDiffTest, IntegerLongerThanMaxPrec) {
  const std::string text = "1e28906000";
  EXPECT_FALSE(EF::FromString(text).has_value());
  ExpectRounded(text, 1);
  ExpectRounded(text, 113);
}

}  // namespace
}  // namespace nurvik::lattis::testing
