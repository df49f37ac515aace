// Differential tests of ExactFloat against MPFR on seeded random values of
// mixed precision and exponent: signed zeros, infinities, NaN, runs of one
// bits (carries), cancelling pairs and exponents at the limits included.
// LATTIS_DIFF_SEED in the environment replaces the fixed seed.

#include <gtest/gtest.h>
#include <mpfr.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <random>
#include <string>

#include "math/exactfloat.h"
#include "tests/differential/mpfr_oracle.h"

namespace nurvik::lattis::testing {
namespace {

using EF = ExactFloat;

class Gen {
 public:
  Gen() {
    const char* seed = std::getenv("LATTIS_DIFF_SEED");
    rng_.seed(seed ? std::strtoull(seed, nullptr, 10) : 20240601);
  }
  int Uniform(int lo, int hi) {
    return std::uniform_int_distribution<int>(lo, hi)(rng_);
  }
  bool OneIn(int n) { return Uniform(1, n) == 1; }
  EF::RoundingMode Mode() { return EF::RoundingMode(Uniform(0, 5)); }

  // A random value; also built independently in *m when m is given. A
  // normal value gets exp() `exp`, or a random exponent for INT_MIN.
  EF Value(mpfr_ptr m = nullptr, int exp = INT_MIN) {
    Mpfr scratch;
    if (m == nullptr) m = scratch;
    if (OneIn(12)) {
      const int kind = Uniform(0, 4), sign = kind % 2 ? -1 : 1;
      mpfr_set_prec(m, 2);
      if (kind == 4) return mpfr_set_nan(m), EF::NaN();
      if (kind >= 2) return mpfr_set_inf(m, sign), EF::Infinity(sign);
      return mpfr_set_zero(m, sign), EF::SignedZero(sign);
    }
    const int prec_class = Uniform(0, 9);
    const int prec = prec_class < 4   ? Uniform(1, 8)
                     : prec_class < 7 ? Uniform(9, 64)
                     : prec_class < 9 ? Uniform(65, 300)
                                      : Uniform(301, 2500);
    // The mantissa, from the top in pieces of random bits, all ones or all
    // zeros; the first piece starts with a one.
    mpfr_set_prec(m, prec);
    mpfr_set_zero(m, 1);
    EF mantissa;
    for (int bits = prec; bits > 0;) {
      const int len = std::min(bits, Uniform(1, 52)), style = Uniform(0, 2);
      uint64_t piece = style == 0 ? rng_() : style == 1 ? ~uint64_t{0} : 0;
      piece &= (uint64_t{1} << len) - 1;
      if (bits == prec) piece |= uint64_t{1} << (len - 1);
      mantissa = ldexp(mantissa, len) + EF(static_cast<double>(piece));
      mpfr_mul_2ui(m, m, len, MPFR_RNDN);
      mpfr_add_ui(m, m, piece, MPFR_RNDN);
      bits -= len;
    }
    if (exp == INT_MIN) {
      const int exp_class = Uniform(0, 19);
      exp = exp_class < 7    ? Uniform(-64, 64)
            : exp_class < 12 ? Uniform(-1100, 1100)
            : exp_class < 15 ? Uniform(-1, 1) * 100000000 + Uniform(-60, 60)
            : exp_class < 18 ? (OneIn(2) ? EF::kMaxExp - Uniform(0, 60)
                                         : EF::kMinExp + Uniform(0, 60))
                             : Uniform(EF::kMinExp, EF::kMaxExp);
    }
    const int sign = OneIn(2) ? -1 : 1;
    mpfr_mul_2si(m, m, exp - prec, MPFR_RNDN);
    mpfr_mul_si(m, m, sign, MPFR_RNDN);
    return ldexp(mantissa, exp - prec) * EF(sign);
  }

  // A partner for a in sums and comparisons: equal, opposite, a rounded
  // (deep cancellation), of a nearby or far lower exponent, or unrelated.
  EF Partner(const EF& a) {
    const int kind = Uniform(0, 9);
    const int a_exp = a.is_normal() ? a.exp() : 0;
    if (kind == 0) return a;
    if (kind == 1) return -a;
    if (kind <= 3) {
      return a.RoundToMaxPrec(Uniform(1, a.prec() + 1), Mode()) *
             EF(OneIn(2) ? -1 : 1);
    }
    if (kind <= 5) return Value(nullptr, a_exp + Uniform(-3, 3));
    if (kind == 6) return Value(nullptr, a_exp - Uniform(4, 3000));
    EF b = Value();
    if (kind == 7 && b.is_normal() && OneIn(3)) {  // sums of ~kMaxPrec bits
      b = ldexp(b,
                a_exp - EF::kMaxPrec + Uniform(-1, 1) - (b.exp() - b.prec()));
    }
    return b;
  }

  // An int argument: near `center`, one of the extremes, or anything.
  int IntNear(int64_t center) {
    static constexpr int kExtremes[] = {INT_MIN,
                                        INT_MIN + 1,
                                        INT_MAX,
                                        INT_MAX - 1,
                                        0,
                                        1,
                                        -1,
                                        EF::kMaxExp,
                                        EF::kMaxExp + 1,
                                        EF::kMaxExp + 2,
                                        EF::kMaxExp + 3,
                                        EF::kMinExp,
                                        EF::kMinExp - 1,
                                        EF::kMinExp - EF::kMaxPrec};
    const int kind = Uniform(0, 9);
    if (kind < 7) {
      return static_cast<int>(std::clamp<int64_t>(
          center + Uniform(-3, 3) * (kind < 5 ? 1 : 1000), INT_MIN, INT_MAX));
    }
    if (kind < 9) {
      return kExtremes[Uniform(0, static_cast<int>(std::size(kExtremes)) - 1)];
    }
    return static_cast<int>(rng_());
  }

 private:
  std::mt19937_64 rng_;
};

class MpfrDiffTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { WidenMpfrExponentRange(); }
  Gen gen_;
  Mpfr a_, b_, want_;
};

TEST_F(MpfrDiffTest, ConversionMatchesIndependentConstruction) {
  for (int i = 0; i < 3000; ++i) {
    const EF x = gen_.Value(want_);
    EXPECT_EQ(Mismatch(x, want_), "") << "case " << i;
    ToMpfr(x, a_);
    EXPECT_TRUE(mpfr_equal_p(a_, want_) || mpfr_nan_p(want_)) << i;
  }
}

TEST_F(MpfrDiffTest, SumDifferenceProduct) {
  for (int i = 0; i < 4000; ++i) {
    const EF a = gen_.Value(), b = gen_.Partner(a);
    ToMpfr(a, a_);
    ToMpfr(b, b_);
    // Bits from the top of the larger operand to the lowest of either.
    int64_t top = INT_MIN, low = INT_MAX;
    for (const EF* x : {&a, &b}) {
      if (!x->is_normal()) continue;
      top = std::max<int64_t>(top, x->exp());
      low = std::min<int64_t>(low, x->exp() - x->prec());
    }
    // Wide gaps cost O(gap) bits each: a few are enough, and none far beyond
    // kMaxPrec (NaN anyway).
    if (top - low <= 100000 ||
        (top - low <= 2 * EF::kMaxPrec && gen_.OneIn(10))) {
      mpfr_set_prec(want_, std::max<int64_t>(top - low, 0) + 2);
      mpfr_add(want_, a_, b_, MPFR_RNDN);
      EXPECT_EQ(Mismatch(a + b, want_), "")
          << Describe(a) << " + " << Describe(b);
      mpfr_sub(want_, a_, b_, MPFR_RNDN);
      EXPECT_EQ(Mismatch(a - b, want_), "")
          << Describe(a) << " - " << Describe(b);
    }
    mpfr_set_prec(want_, mpfr_get_prec(a_) + mpfr_get_prec(b_));
    mpfr_mul(want_, a_, b_, MPFR_RNDN);
    EXPECT_EQ(Mismatch(a * b, want_), "")
        << Describe(a) << " * " << Describe(b);
  }
}

TEST_F(MpfrDiffTest, RoundToPowerOf2AndToMaxPrecInAllModes) {
  for (int i = 0; i < 3000; ++i) {
    const EF x = gen_.Value();
    ToMpfr(x, a_);
    const int lsb = x.is_normal() ? x.exp() - x.prec() : 0;
    const int bit_exp =
        gen_.IntNear(int64_t{lsb} + gen_.Uniform(-2, x.prec() + 2));
    const int max_prec = gen_.IntNear(gen_.Uniform(-2, x.prec() + 1));
    for (int m = 0; m <= 5; ++m) {
      const auto mode = EF::RoundingMode(m);
      RoundToPowerOf2Oracle(a_, bit_exp, mode, want_);
      EXPECT_EQ(Mismatch(x.RoundToPowerOf2(bit_exp, mode), want_), "")
          << Describe(x) << " to 2^" << bit_exp << " mode " << m;
      RoundToMaxPrecOracle(a_, max_prec, mode, want_);
      EXPECT_EQ(Mismatch(x.RoundToMaxPrec(max_prec, mode), want_), "")
          << Describe(x) << " to " << max_prec << " bits, mode " << m;
    }
  }
}

TEST_F(MpfrDiffTest, ToDouble) {
  for (int i = 0; i < 4000; ++i) {
    // Exponents around the double range, where rounding and overflow happen.
    const EF x = gen_.OneIn(4) ? gen_.Value()
                               : gen_.Value(nullptr, gen_.Uniform(-1100, 1030));
    ToMpfr(x, a_);
    const double got = x.ToDouble(), want = mpfr_get_d(a_, MPFR_RNDN);
    if (std::isnan(want)) {
      EXPECT_TRUE(std::isnan(got));
    } else {  // correctly rounded, subnormals included
      EXPECT_EQ(std::memcmp(&got, &want, sizeof(got)), 0)
          << Describe(x) << ": " << got << " vs " << want;
    }
  }
}

TEST_F(MpfrDiffTest, Comparisons) {
  for (int i = 0; i < 6000; ++i) {
    const EF a = gen_.Value(), b = gen_.Partner(a);
    ToMpfr(a, a_);
    ToMpfr(b, b_);
    const std::string where = Describe(a) + " vs " + Describe(b);
    EXPECT_EQ(a == b, mpfr_equal_p(a_, b_) != 0) << where;
    EXPECT_EQ(a != b, mpfr_equal_p(a_, b_) == 0) << where;
    EXPECT_EQ(a < b, mpfr_less_p(a_, b_) != 0) << where;
    EXPECT_EQ(a <= b, mpfr_lessequal_p(a_, b_) != 0) << where;
    EXPECT_EQ(a > b, mpfr_greater_p(a_, b_) != 0) << where;
    EXPECT_EQ(a >= b, mpfr_greaterequal_p(a_, b_) != 0) << where;
    if (!a.is_nan() && !b.is_nan()) {
      EXPECT_EQ((b < a) - (a < b), mpfr_cmp(a_, b_) > 0   ? 1
                                   : mpfr_cmp(a_, b_) < 0 ? -1
                                                          : 0)
          << where;
    }
  }
}

TEST_F(MpfrDiffTest, IntegralRounding) {
  using MpfrRound = int (*)(mpfr_ptr, mpfr_srcptr);
  const struct {
    EF (*f)(const EF&);
    MpfrRound ref;
  } kFunctions[] = {{ceil, mpfr_ceil},
                    {floor, mpfr_floor},
                    {trunc, mpfr_trunc},
                    {round, mpfr_round},
                    {rint, [](mpfr_ptr r, mpfr_srcptr x) {
                       return mpfr_rint(r, x, MPFR_RNDN);
                     }}};
  for (int i = 0; i < 4000; ++i) {
    const EF x = gen_.OneIn(4) ? gen_.Value()
                               : gen_.Value(nullptr, gen_.Uniform(-3, 66));
    ToMpfr(x, a_);
    mpfr_set_prec(want_, mpfr_get_prec(a_) + 1);
    for (const auto& [f, ref] : kFunctions) {
      ref(want_, a_);
      EXPECT_EQ(Mismatch(f(x), want_), "") << Describe(x);
    }
    // Saturated 64-bit conversions: NaN and >= 2^63 give the largest value.
    for (int m = 0; m <= 5; ++m) {
      const auto mode = EF::RoundingMode(m);
      RoundToPowerOf2Oracle(a_, 0, mode, want_);
      long long want = LLONG_MAX;  // NOLINT(runtime/int)
      if (mpfr_number_p(want_) && mpfr_fits_slong_p(want_, MPFR_RNDN)) {
        want = mpfr_get_si(want_, MPFR_RNDN);
      } else if (!mpfr_nan_p(want_) && mpfr_sgn(want_.get()) < 0) {
        want = LLONG_MIN;
      }
      EXPECT_EQ(x.ToInteger<long long>(mode), want)
          << Describe(x) << " mode " << m;  // NOLINT
      EXPECT_EQ(x.ToInteger<long>(mode), want)
          << Describe(x) << " mode " << m;  // NOLINT
      if (mode == EF::kRoundTiesToEven) {
        EXPECT_EQ(lrint(x), want);
        EXPECT_EQ(llrint(x), want);
      } else if (mode == EF::kRoundTiesAwayFromZero) {
        EXPECT_EQ(lround(x), want);
        EXPECT_EQ(llround(x), want);
      }
    }
  }
}

TEST_F(MpfrDiffTest, DecimalDigits) {
  for (int i = 0; i < 2000; ++i) {
    // Half near 1, half anywhere in the exponent range, where the expansion
    // has up to 2e8 digits and only the digits asked for may be computed.
    const EF x = gen_.Value(nullptr, gen_.OneIn(2) ? gen_.Uniform(-1100, 1100)
                                                   : gen_.Uniform(EF::kMinExp,
                                                                  EF::kMaxExp));
    if (!x.is_normal()) continue;
    ToMpfr(x, a_);
    mpfr_abs(a_.get(), a_.get(), MPFR_RNDN);
    for (int max_digits : {gen_.Uniform(1, 40), gen_.Uniform(41, 800)}) {
      std::string got;
      const int got_exp = x.GetDecimalDigits(max_digits, &got);
      mpfr_exp_t want_exp = 0;
      char* text =
          mpfr_get_str(nullptr, &want_exp, 10, max_digits, a_, MPFR_RNDN);
      std::string want(text);
      mpfr_free_str(text);
      want.erase(want.find_last_not_of('0') + 1);
      EXPECT_EQ(got, want) << Describe(x) << " to " << max_digits << " digits";
      EXPECT_EQ(got_exp, want_exp)
          << Describe(x) << " to " << max_digits << " digits";
    }
  }
}

}  // namespace
}  // namespace nurvik::lattis::testing
