// Differential tests of ExactFloat against MPFR on seeded random values of
// mixed precision and exponent: signed zeros, infinities, NaN, runs of one
// bits (carries), cancelling pairs and exponents at the limits included.
// LATTIS_DIFF_SEED in the environment replaces the fixed seed.

#include <gtest/gtest.h>
#include <mpfr.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "math/exactfloat.h"
#include "tests/differential/mpfr_oracle.h"

namespace nurvik::lattis::testing {
namespace {

using EF = ExactFloat;

class MpfrDiffTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { WidenMpfrExponentRange(); }
  RandomValues gen_;
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
