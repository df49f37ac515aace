// Differential tests against MPFR at every mantissa length around the word
// boundaries, from one word to past the inline capacity: results that grow
// from inline to heap digits, shrink back after cancellation or rounding,
// copies and moves between the two, and self-operand calls.

#include <gtest/gtest.h>
#include <mpfr.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "math/exactfloat.h"
#include "tests/differential/mpfr_oracle.h"

namespace nurvik::lattis::testing {
namespace {

using EF = ExactFloat;

constexpr int kMaxWords = 9;

// Bit lengths 64k - 1, 64k and 64k + 1 for k = 1 ... kMaxWords.
std::vector<int> BoundaryLengths() {
  std::vector<int> lengths;
  for (int k = 1; k <= kMaxWords; ++k) {
    for (int d : {-1, 0, 1}) lengths.push_back(64 * k + d);
  }
  return lengths;
}

class WordBoundaryTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { WidenMpfrExponentRange(); }

  RandomValues gen_{20261208};
  Mpfr a_, b_, want_;
};

TEST_F(WordBoundaryTest, SumsAndDifferencesAcrossLengthsAndGaps) {
  for (int a_bits : BoundaryLengths()) {
    for (int b_bits : BoundaryLengths()) {
      // Gaps from none to several words, and a deep cancellation: b equals
      // a rounded, so that a - b keeps only a's low bits.
      for (int gap : {0, 1, 63, 64, 65, 200, 700}) {
        const EF a = gen_.OfLength(a_bits, 10, a_);
        const EF b =
            gen_.OfLength(b_bits, 10 - gap + gen_.Uniform(-1, 1), b_);
        mpfr_set_prec(want_, a_bits + b_bits + gap + 8);
        mpfr_add(want_, a_, b_, MPFR_RNDN);
        EXPECT_EQ(Mismatch(a + b, want_), "") << Describe(a) << " + "
                                              << Describe(b);
        mpfr_sub(want_, a_, b_, MPFR_RNDN);
        EXPECT_EQ(Mismatch(a - b, want_), "") << Describe(a) << " - "
                                              << Describe(b);
      }
      const EF a = gen_.OfLength(a_bits, 0, a_);
      const EF b = a.RoundToMaxPrec(b_bits / 4 + 1, EF::kRoundTowardZero);
      ToMpfr(b, b_);
      mpfr_set_prec(want_, a_bits + 2);
      mpfr_sub(want_, a_, b_, MPFR_RNDN);
      EXPECT_EQ(Mismatch(a - b, want_), "") << Describe(a) << " cancels";
    }
  }
}

TEST_F(WordBoundaryTest, ProductsAcrossLengths) {
  for (int a_bits : BoundaryLengths()) {
    for (int b_bits : BoundaryLengths()) {
      const EF a = gen_.OfLength(a_bits, gen_.Uniform(-100, 100), a_);
      const EF b = gen_.OfLength(b_bits, gen_.Uniform(-100, 100), b_);
      mpfr_set_prec(want_, a_bits + b_bits);
      mpfr_mul(want_, a_, b_, MPFR_RNDN);
      EXPECT_EQ(Mismatch(a * b, want_), "") << Describe(a) << " * "
                                            << Describe(b);
    }
  }
}

TEST_F(WordBoundaryTest, ComparisonsWithEqualExp) {
  for (int a_bits : BoundaryLengths()) {
    for (int b_bits : BoundaryLengths()) {
      const EF a = abs(gen_.OfLength(a_bits, 5, a_));
      const EF b = abs(gen_.OfLength(b_bits, 5, b_));
      mpfr_abs(a_, a_, MPFR_RNDN);
      mpfr_abs(b_, b_, MPFR_RNDN);
      const int want = mpfr_cmp(a_, b_);
      EXPECT_EQ(a < b, want < 0) << Describe(a) << " < " << Describe(b);
      EXPECT_EQ(b < a, want > 0) << Describe(b) << " < " << Describe(a);
      EXPECT_EQ(a == b, want == 0);
      // Equal values of equal length, also after a round trip through the
      // other representation.
      EXPECT_TRUE(a == EF(a));
      EXPECT_FALSE(a < EF(a));
    }
  }
}

TEST_F(WordBoundaryTest, RoundingAtWordBoundariesInAllModes) {
  for (int bits : BoundaryLengths()) {
    const EF x = gen_.OfLength(bits, gen_.Uniform(-70, 70), a_);
    const int lsb = x.exp() - x.prec();
    for (int keep : {1, 52, 53, 63, 64, 65, 127, 128, 129, 255, 256, 257,
                     bits - 1, bits, bits + 1}) {
      for (int m = 0; m <= 5; ++m) {
        const auto mode = EF::RoundingMode(m);
        RoundToMaxPrecOracle(a_, keep, mode, want_);
        EXPECT_EQ(Mismatch(x.RoundToMaxPrec(keep, mode), want_), "")
            << Describe(x) << " to " << keep << " bits, mode " << m;
        RoundToPowerOf2Oracle(a_, lsb + bits - keep, mode, want_);
        EXPECT_EQ(
            Mismatch(x.RoundToPowerOf2(lsb + bits - keep, mode), want_), "")
            << Describe(x) << " to 2^" << lsb + bits - keep << ", mode "
            << m;
      }
    }
    EXPECT_EQ(x.ToDouble(), mpfr_get_d(a_, MPFR_RNDN)) << Describe(x);
    const EF small = ldexp(x, -x.exp() + 40);  // below 2^40
    mpfr_set_prec(b_, bits);
    mpfr_mul_2si(b_, a_, -x.exp() + 40, MPFR_RNDN);
    mpfr_set_prec(want_, bits + 1);
    mpfr_round(want_, b_);
    EXPECT_EQ(llround(small), mpfr_get_sj(want_, MPFR_RNDZ)) << Describe(small);
    EXPECT_EQ(llrint(small), mpfr_get_sj(b_, MPFR_RNDN)) << Describe(small);
  }
}

TEST_F(WordBoundaryTest, ToDoubleDropsEveryCountOfBitsIntoTheSubnormals) {
  // Mantissas of one and two words whose lowest bit lies `drop` places below
  // the smallest subnormal, so that rounding drops exactly that many bits.
  for (int bits : {53, 64, 65, 100, 127, 128}) {
    for (int drop = 1; drop <= 131; ++drop) {
      const EF x = gen_.OfLength(bits, -1074 - drop + bits, a_);
      EXPECT_EQ(x.ToDouble(), mpfr_get_d(a_, MPFR_RNDN))
          << Describe(x) << " dropping " << drop;
    }
  }
}

TEST_F(WordBoundaryTest, CopiesMovesAndSelfOperands) {
  for (int a_bits : BoundaryLengths()) {
    for (int b_bits : {1, 64, 65, 256, 257, 320}) {
      const EF a = gen_.OfLength(a_bits, 3, a_);
      const EF b = gen_.OfLength(b_bits, -2, b_);
      EF x = a;  // copy, then assignments in every direction
      EXPECT_EQ(Mismatch(x, a_), "");
      x = b;
      EXPECT_EQ(Mismatch(x, b_), "");
      x = a;
      EXPECT_EQ(Mismatch(x, a_), "");
      EF y = std::move(x);
      EXPECT_EQ(Mismatch(y, a_), "");
      EXPECT_TRUE(x.is_zero() && !x.sign_bit());  // NOLINT: moved-from
      x = b;
      std::swap(x, y);
      EXPECT_EQ(Mismatch(x, a_), "");
      EXPECT_EQ(Mismatch(y, b_), "");
      y = std::move(x);
      EXPECT_EQ(Mismatch(y, a_), "");
      const EF& alias = y;
      y = alias;  // self-assignment
      EXPECT_EQ(Mismatch(y, a_), "");
      y = std::move(y);  // NOLINT: self-move keeps the value
      EXPECT_EQ(Mismatch(y, a_), "");

      // x = x * x, x += x, x - x through one object.
      EF z = a;
      z = z * z;
      mpfr_set_prec(want_, 2 * a_bits);
      mpfr_sqr(want_, a_, MPFR_RNDN);
      EXPECT_EQ(Mismatch(z, want_), "") << Describe(a) << " squared";
      z = a;
      z += z;
      mpfr_set_prec(want_, a_bits);
      mpfr_mul_2si(want_, a_, 1, MPFR_RNDN);
      EXPECT_EQ(Mismatch(z, want_), "") << Describe(a) << " doubled";
      EXPECT_TRUE(EF::SignedSum(1, &z, -1, &z).is_zero());

      // Vectors grow by moving their elements.
      std::vector<EF> v;
      for (int i = 0; i < 20; ++i) v.push_back(i % 2 ? a : b);
      for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(Mismatch(v[i], i % 2 ? a_ : b_), "") << i;
      }
    }
  }
}

}  // namespace
}  // namespace nurvik::lattis::testing
