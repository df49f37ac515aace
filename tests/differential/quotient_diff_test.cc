// Differential tests of Divide, Sqrt, fma and the exact constructors against
// MPFR. Quotients and roots must be rounded in each of the six modes as
// RoundToMaxPrec would round the exact result: on random operands, on
// operand lengths at the word boundaries of the machine-word paths and past
// the thresholds of the long-division algorithms, on exact results, on
// midpoints and on values just beside both, and across both ends of the
// exponent range. fma is compared with MPFR's exact fma, the constructors
// with mpfr_set_ld, mpfr_set_sj and mpfr_set_uj. LATTIS_DIFF_SEED in the
// environment replaces the fixed seeds.

#include <gtest/gtest.h>
#include <mpfr.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <limits>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "math/exactfloat.h"
#include "tests/differential/mpfr_oracle.h"

namespace nurvik::lattis::testing {
namespace {

using EF = ExactFloat;

constexpr int kMinExp = EF::kMinExp;
constexpr int kMaxExp = EF::kMaxExp;

// Mantissa lengths and precisions at and beside the word boundaries up to
// past the four inline words, and the one-word lengths where Divide (up to
// 61 bits) and Sqrt (up to 59 bits) stay on the machine words.
constexpr int kBoundaryLengths[] = {1,   2,   53,  58,  59,  60,  61,  62,
                                    63,  64,  65,  127, 128, 129, 191, 192,
                                    193, 255, 256, 257, 319, 320, 321};

int BoundaryLength(RandomValues& gen) {
  return kBoundaryLengths[gen.Uniform(
      0, static_cast<int>(std::size(kBoundaryLengths)) - 1)];
}

class QuotientDiffTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { WidenMpfrExponentRange(); }

  // A result precision: a few bits, about a word, a few words, up to a few
  // thousand bits, a word boundary, or x's own length give or take a bit.
  int Precision(const EF& x) {
    const int kind = gen_.Uniform(0, 9);
    const int p = kind < 2   ? gen_.Uniform(1, 8)
                  : kind < 4 ? gen_.Uniform(9, 70)
                  : kind < 6 ? gen_.Uniform(71, 400)
                  : kind < 7 ? gen_.Uniform(401, 3000)
                  : kind < 9 ? BoundaryLength(gen_)
                             : x.prec() + gen_.Uniform(-2, 2);
    return std::max(p, 1);
  }

  // A normal value: the generator's mix without its special values.
  EF NormalValue(int exp = INT_MIN) {
    EF x;
    do {
      x = gen_.Value(nullptr, exp);
    } while (!x.is_normal());
    return x;
  }

  // Divide(a, b, max_prec, mode) in every mode against MPFR's quotient of
  // the same operands rounded the same way, under the library's limits.
  void ExpectQuotient(const EF& a, const EF& b, int max_prec) {
    ToMpfr(a, a_);
    ToMpfr(b, b_);
    for (int m = 0; m <= 5; ++m) {
      const auto mode = EF::RoundingMode(m);
      RoundedOracle(
          [&](mpfr_ptr r, mpfr_rnd_t rnd) { return mpfr_div(r, a_, b_, rnd); },
          max_prec, mode, want_);
      EXPECT_EQ(Mismatch(Divide(a, b, max_prec, mode), want_), "")
          << Describe(a) << " / " << Describe(b) << " to " << max_prec
          << " bits, mode " << m;
    }
  }

  // The same for Sqrt(a, max_prec, mode) and mpfr_sqrt.
  void ExpectRoot(const EF& a, int max_prec) {
    ToMpfr(a, a_);
    for (int m = 0; m <= 5; ++m) {
      const auto mode = EF::RoundingMode(m);
      RoundedOracle(
          [&](mpfr_ptr r, mpfr_rnd_t rnd) { return mpfr_sqrt(r, a_, rnd); },
          max_prec, mode, want_);
      EXPECT_EQ(Mismatch(Sqrt(a, max_prec, mode), want_), "")
          << "sqrt " << Describe(a) << " to " << max_prec << " bits, mode "
          << m;
    }
  }

  // x plus or minus 2^(lowest bit of x - below): a value just beside x, on
  // either side, below every bit of x.
  EF Beside(const EF& x, int below) {
    const EF tiny =
        ldexp(EF(gen_.OneIn(2) ? 1 : -1), x.exp() - x.prec() - below);
    return x + tiny;
  }

  RandomValues gen_;
  Mpfr a_, b_, want_;
};

// Suites that take more than a second; sanitizer builds skip them.
class QuotientDiffSlowTest : public QuotientDiffTest {};

TEST_F(QuotientDiffTest, RandomQuotientsInEveryMode) {
  for (int i = 0; i < 3000; ++i) {
    const EF a = gen_.Value(), b = gen_.Value();
    ExpectQuotient(a, b, Precision(gen_.OneIn(2) ? a : b));
  }
}

TEST_F(QuotientDiffTest, RandomRootsInEveryMode) {
  for (int i = 0; i < 2500; ++i) {
    // Mostly nonnegative operands; a negative one now and then gives NaN.
    EF x = gen_.Value();
    if (!gen_.OneIn(10)) x = abs(x);
    ExpectRoot(x, Precision(x));
  }
}

TEST_F(QuotientDiffTest, ExactQuotientsMidpointsAndTheirNeighbours) {
  for (int i = 0; i < 1000; ++i) {
    // q, also at the ends of the exponent range, times a divisor that moves
    // the dividend toward 1 so that it stays inside the range.
    const int q_exp = gen_.OneIn(4)
                          ? (gen_.OneIn(2) ? kMaxExp - gen_.Uniform(0, 4)
                                           : kMinExp + gen_.Uniform(0, 4))
                          : gen_.Uniform(-1100, 1100);
    const EF q = NormalValue(q_exp);
    const EF b =
        NormalValue(q_exp > 0 ? -gen_.Uniform(0, 300) : gen_.Uniform(1, 300));
    const EF a = b * q;
    ASSERT_TRUE(a.is_normal());
    // Exact in every mode, at q's own length and beyond.
    const int extra = gen_.OneIn(3) ? 0 : gen_.Uniform(1, 200);
    for (int m = 0; m <= 5; ++m) {
      EXPECT_EQ(
          Mismatch(Divide(a, b, q.prec() + extra, EF::RoundingMode(m)), q), "")
          << Describe(a) << " / " << Describe(b) << ", mode " << m;
    }
    // q's mantissa is odd: one bit shorter, q is a midpoint, and ties go
    // their two ways.
    if (q.prec() >= 2) ExpectQuotient(a, b, q.prec() - 1);
    // Just above or below the midpoint, and just beside a representable
    // value, where only a remainder tells the directed modes apart.
    const EF near = Beside(a, gen_.Uniform(1, 100));
    if (q.prec() >= 2) ExpectQuotient(near, b, q.prec() - 1);
    ExpectQuotient(near, b, q.prec());
  }
}

TEST_F(QuotientDiffTest, PerfectSquaresMidpointsAndTheirNeighbours) {
  for (int i = 0; i < 1000; ++i) {
    // Roots whose squares reach both ends of the exponent range.
    const int r_exp = gen_.OneIn(4)
                          ? (gen_.OneIn(2) ? kMaxExp / 2 - gen_.Uniform(0, 2)
                                           : kMinExp / 2 + gen_.Uniform(1, 3))
                          : gen_.Uniform(-1100, 1100);
    const EF r = abs(NormalValue(r_exp));
    const EF x = r * r;
    ASSERT_TRUE(x.is_normal());
    const int extra = gen_.OneIn(3) ? 0 : gen_.Uniform(1, 200);
    for (int m = 0; m <= 5; ++m) {
      EXPECT_EQ(Mismatch(Sqrt(x, r.prec() + extra, EF::RoundingMode(m)), r), "")
          << "sqrt " << Describe(x) << ", mode " << m;
    }
    if (r.prec() >= 2) ExpectRoot(x, r.prec() - 1);  // r is a midpoint
    const EF near = Beside(x, gen_.Uniform(1, 100));
    if (r.prec() >= 2) ExpectRoot(near, r.prec() - 1);
    ExpectRoot(near, r.prec());
  }
}

TEST_F(QuotientDiffTest, WordBoundaryLengths) {
  for (int a_bits : kBoundaryLengths) {
    for (int b_bits : kBoundaryLengths) {
      const EF a = gen_.OfLength(a_bits, gen_.Uniform(-100, 100));
      const EF b = gen_.OfLength(b_bits, gen_.Uniform(-100, 100));
      // The quotient's natural length, and word boundaries.
      ExpectQuotient(a, b, std::max(1, a_bits - b_bits + gen_.Uniform(0, 2)));
      for (int k = 0; k < 3; ++k) ExpectQuotient(a, b, BoundaryLength(gen_));
      // a as a quotient: exact at its length, a midpoint one bit shorter.
      ExpectQuotient(a * b, b, a_bits);
      if (a_bits >= 2) ExpectQuotient(a * b, b, a_bits - 1);
    }
    // Roots of both exponent parities, and of squares.
    for (int b_bits : kBoundaryLengths) {
      ExpectRoot(abs(gen_.OfLength(a_bits, gen_.Uniform(-100, 100))), b_bits);
    }
    const EF r = abs(gen_.OfLength(a_bits, gen_.Uniform(-100, 100)));
    ExpectRoot(r * r, a_bits);
    if (a_bits >= 2) ExpectRoot(r * r, a_bits - 1);
    ExpectRoot(Beside(r * r, gen_.Uniform(1, 70)), a_bits);
  }
}

TEST_F(QuotientDiffTest, QuotientsAcrossTheEndsOfTheExponentRange) {
  // Outcomes of the cases, to make sure that every kind of crossing is met.
  int infinities = 0, zeros = 0, normals_at_top = 0, normals_at_bottom = 0;
  int carried_to_infinity = 0, carried_into_range = 0;
  Mpfr down, up;
  for (int i = 0; i < 1500; ++i) {
    // One operand at a limit, the other near 1: quotients whose exponent is
    // within a few places of kMaxExp + 1 or kMinExp - 1. All-ones mantissas
    // and divisors of one bit make rounding carry across the limit.
    const bool top = gen_.OneIn(2);
    const int edge = gen_.Uniform(0, 3), near_one = gen_.Uniform(-3, 3);
    int a_exp = top ? kMaxExp - edge : kMinExp + edge, b_exp = near_one;
    if (gen_.OneIn(2)) {
      a_exp = near_one;
      b_exp = top ? kMinExp + edge : kMaxExp - edge;
    }
    const int a_bits = gen_.OneIn(4) ? 1 : gen_.Uniform(1, 300);
    const int b_bits = gen_.OneIn(3) ? 1 : gen_.Uniform(1, 300);
    const EF a = gen_.OfLength(a_bits, a_exp), b = gen_.OfLength(b_bits, b_exp);
    const int max_prec = gen_.Uniform(1, a_bits + 2);
    ExpectQuotient(a, b, max_prec);

    mpfr_set_prec(want_, max_prec);
    mpfr_div(want_, a_, b_, MPFR_RNDN);
    const LimitState state = StateUnderLimits(want_);
    const bool at_top = mpfr_get_exp(want_) > 0;
    infinities += state == LimitState::kInf;
    zeros += state == LimitState::kZero;
    normals_at_top += state == LimitState::kNormal && at_top;
    normals_at_bottom += state == LimitState::kNormal && !at_top;
    mpfr_set_prec(down, max_prec);
    mpfr_set_prec(up, max_prec);
    mpfr_div(down, a_, b_, MPFR_RNDZ);
    mpfr_div(up, a_, b_, MPFR_RNDA);
    carried_to_infinity += StateUnderLimits(down) == LimitState::kNormal &&
                           StateUnderLimits(up) == LimitState::kInf;
    carried_into_range += StateUnderLimits(down) == LimitState::kZero &&
                          StateUnderLimits(up) == LimitState::kNormal;
  }
  EXPECT_GT(infinities, 0);
  EXPECT_GT(zeros, 0);
  EXPECT_GT(normals_at_top, 0);
  EXPECT_GT(normals_at_bottom, 0);
  EXPECT_GT(carried_to_infinity, 0);
  EXPECT_GT(carried_into_range, 0);
}

TEST_F(QuotientDiffTest, RootsAtTheEndsOfTheExponentRange) {
  for (int i = 0; i < 500; ++i) {
    const int exp = gen_.OneIn(2) ? kMaxExp - gen_.Uniform(0, 3)
                                  : kMinExp + gen_.Uniform(0, 3);
    const EF x = abs(gen_.OfLength(gen_.Uniform(1, 300), exp));
    ExpectRoot(x, Precision(x));
  }
}

TEST_F(QuotientDiffTest, FmaIsExact) {
  Mpfr c_m, product;
  int compared = 0, limited_products = 0;
  for (int i = 0; i < 3000; ++i) {
    const EF a = gen_.Value(), b = gen_.Value();
    // c: a partner of the product (equal, opposite, rounded: cancellation;
    // nearby or far exponents), or of about the product's exponent clamped
    // into the range, where a product past the range meets a finite c.
    EF c;
    if (a.is_normal() && b.is_normal() && gen_.OneIn(3)) {
      c = gen_.Value(nullptr,
                     static_cast<int>(std::clamp<int64_t>(
                         int64_t{a.exp()} + b.exp() + gen_.Uniform(-2, 1),
                         kMinExp, kMaxExp)));
    } else {
      c = gen_.Partner(a * b);
    }
    ToMpfr(a, a_);
    ToMpfr(b, b_);
    ToMpfr(c, c_m);
    mpfr_set_prec(product, mpfr_get_prec(a_) + mpfr_get_prec(b_));
    mpfr_mul(product, a_, b_, MPFR_RNDN);  // exact
    // The product's limits apply first: past the range it is a signed
    // infinity or zero, whatever c; then the sum is exact.
    const bool limited = mpfr_regular_p(product) &&
                         StateUnderLimits(product) != LimitState::kNormal;
    ApplyLimits(product);
    // Precision for an exact result: from the top of the larger term to the
    // lowest bit of either, plus a carry.
    int64_t bits = std::max(mpfr_get_prec(product), mpfr_get_prec(c_m)) + 2;
    if (mpfr_regular_p(product) && mpfr_regular_p(c_m)) {
      const int64_t top = std::max(mpfr_get_exp(product), mpfr_get_exp(c_m));
      const int64_t low =
          std::min(mpfr_get_exp(product) - mpfr_min_prec(product),
                   mpfr_get_exp(c_m) - mpfr_min_prec(c_m));
      bits = top - low + 2;
    }
    if (bits > 100000) continue;  // far apart: the sum's own tests cover it
    ++compared;
    limited_products += limited;
    mpfr_set_prec(want_, bits);
    if (limited) {
      mpfr_add(want_, product, c_m, MPFR_RNDN);
    } else {
      mpfr_fma(want_, a_, b_, c_m, MPFR_RNDN);
    }
    EXPECT_EQ(Mismatch(fma(a, b, c), want_), "")
        << Describe(a) << " * " << Describe(b) << " + " << Describe(c);
  }
  EXPECT_GT(compared, 2000);
  EXPECT_GT(limited_products, 50);
}

// Divisors past the thresholds of the recursive division (12 000 bits) and
// of Newton's quotient (49 152 bits), with quotients of their length: random
// dividends, exact quotients, midpoints and values just beside them; long
// quotients by short divisors (which the library lengthens) and short
// quotients of long operands.
TEST_F(QuotientDiffSlowTest, LongDivisors) {
  struct Case {
    int b_bits, max_prec;
  };
  const Case cases[] = {{12001, 12001}, {13000, 13000}, {13000, 12999},
                        {49153, 49153}, {50000, 50000}, {50000, 49999},
                        {1, 13000},     {64, 50000},    {1000, 60000},
                        {13000, 100},   {50000, 64}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.b_bits) + "-bit divisor, " +
                 std::to_string(c.max_prec) + " bits");
    const EF b = gen_.OfLength(c.b_bits, gen_.Uniform(-100, 100));
    // A dividend as long as divisor and quotient together, or shorter.
    for (int a_bits : {c.b_bits + c.max_prec, std::max(1, c.b_bits / 2)}) {
      ExpectQuotient(gen_.OfLength(a_bits, gen_.Uniform(-100, 100)), b,
                     c.max_prec);
    }
    // q of max_prec bits: exact; q of one more bit: a midpoint.
    for (int q_bits : {c.max_prec, c.max_prec + 1}) {
      const EF q = gen_.OfLength(q_bits, gen_.Uniform(-100, 100));
      const EF a = b * q;
      if (q_bits == c.max_prec) {
        EXPECT_EQ(Mismatch(Divide(a, b, c.max_prec, gen_.Mode()), q), "");
      }
      ExpectQuotient(a, b, c.max_prec);
      ExpectQuotient(Beside(a, gen_.Uniform(1, 100)), b, c.max_prec);
    }
  }
}

// Roots of 13 000 to 100 000 bits: the quotients inside the root's
// recursion, by divisors of half the root's length, go through the
// recursive division and, for the longest, Newton's quotient.
TEST_F(QuotientDiffSlowTest, LongRoots) {
  for (int bits : {13000, 30000, 100000}) {
    SCOPED_TRACE(std::to_string(bits) + " bits");
    ExpectRoot(abs(gen_.OfLength(2 * bits + gen_.Uniform(0, 1),
                                 gen_.Uniform(-100, 100))),
               bits);
    ExpectRoot(abs(gen_.OfLength(bits / 3, gen_.Uniform(-100, 100))), bits);
    for (int r_bits : {bits, bits + 1}) {  // exact, then a midpoint
      const EF r = abs(gen_.OfLength(r_bits, gen_.Uniform(-100, 100)));
      const EF x = r * r;
      if (r_bits == bits) {
        EXPECT_EQ(Mismatch(Sqrt(x, bits, gen_.Mode()), r), "");
      }
      ExpectRoot(x, bits);
      ExpectRoot(Beside(x, gen_.Uniform(1, 100)), bits);
    }
  }
}

class ConstructorDiffTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { WidenMpfrExponentRange(); }

  // The x87 extended value of the given fields: sign, 15-bit biased
  // exponent, 64-bit significand with its explicit integer bit.
  static long double LongDouble(bool negative, int biased_exp,
                                uint64_t significand) {
    static_assert(std::numeric_limits<long double>::digits == 64,
                  "x87 extended long double");
    unsigned char bytes[sizeof(long double)] = {};
    const auto sign_exp =
        static_cast<uint16_t>((negative ? 0x8000 : 0) | biased_exp);
    std::memcpy(bytes, &significand, sizeof(significand));
    std::memcpy(bytes + 8, &sign_exp, sizeof(sign_exp));
    long double v;
    std::memcpy(&v, bytes, sizeof(v));
    return v;
  }

  void ExpectLongDouble(long double v) {
    const EF x = v;
    mpfr_set_prec(want_, 64);
    mpfr_set_ld(want_, v, MPFR_RNDN);  // exact at 64 bits
    EXPECT_EQ(Mismatch(x, want_), "") << static_cast<double>(v);
    if (x.is_nan()) {
      EXPECT_FALSE(x.sign_bit()) << "every NaN is the one NaN";
    }
  }

  // T's conversion of v against mpfr_set_sj or mpfr_set_uj.
  template <class T>
  void ExpectInteger(T v) {
    const EF x = v;
    mpfr_set_prec(want_, 64);
    if constexpr (std::is_signed_v<T>) {
      mpfr_set_sj(want_, v, MPFR_RNDN);
    } else {
      mpfr_set_uj(want_, v, MPFR_RNDN);
    }
    EXPECT_EQ(Mismatch(x, want_), "") << v << " of " << sizeof(T) << " bytes";
  }

  // v through every integer type: the signed and unsigned 64-bit types and
  // int and unsigned with v's low and high 32 bits.
  void ExpectIntegers(uint64_t v) {
    ExpectInteger(static_cast<long>(v));                // NOLINT(runtime/int)
    ExpectInteger(static_cast<long long>(v));           // NOLINT(runtime/int)
    ExpectInteger(static_cast<unsigned long>(v));       // NOLINT(runtime/int)
    ExpectInteger(static_cast<unsigned long long>(v));  // NOLINT(runtime/int)
    for (uint32_t half :
         {static_cast<uint32_t>(v), static_cast<uint32_t>(v >> 32)}) {
      ExpectInteger(static_cast<unsigned>(half));
      ExpectInteger(static_cast<int>(half));
    }
  }

  RandomValues gen_;
  Mpfr want_;
};

TEST_F(ConstructorDiffTest, LongDoubleBitPatterns) {
  constexpr uint64_t kIntegerBit = uint64_t{1} << 63;
  constexpr uint64_t kOnes = ~uint64_t{0};
  for (bool negative : {false, true}) {
    for (const auto& [biased_exp, significand] :
         std::vector<std::pair<int, uint64_t>>{
             {0, 0},                          // zero
             {0, 1},                          // smallest subnormal
             {0, kIntegerBit - 1},            // largest subnormal
             {0, uint64_t{1} << 62},          // a subnormal power of two
             {1, kIntegerBit},                // smallest normal
             {16383, kIntegerBit},            // 1
             {16383, kOnes},                  // just below 2
             {16383 + 63, kIntegerBit | 1},   // 2^63 + 1
             {32766, kOnes},                  // LDBL_MAX
             {32767, kIntegerBit},            // infinity
             {32767, kIntegerBit | 1 << 30},  // signaling NaN
             {32767, kOnes},                  // quiet NaN
         }) {
      ExpectLongDouble(LongDouble(negative, biased_exp, significand));
    }
  }
  for (int i = 0; i < 5000; ++i) {
    // Exponents of subnormals, of the ends of the normal range and of
    // anything; significands of random bits, cut to a random length, with
    // the integer bit that the exponent implies.
    const int kind = gen_.Uniform(0, 4);
    const int biased_exp = kind == 0   ? 0
                           : kind == 1 ? gen_.Uniform(1, 70)
                           : kind == 2 ? gen_.Uniform(32700, 32767)
                                       : gen_.Uniform(1, 32766);
    uint64_t significand = gen_.Bits();
    if (gen_.OneIn(2)) {
      significand &= kOnes << gen_.Uniform(0, 63);
    }
    significand = biased_exp == 0 ? significand & ~kIntegerBit
                                  : significand | kIntegerBit;
    ExpectLongDouble(LongDouble(gen_.OneIn(2), biased_exp, significand));
  }
}

TEST_F(ConstructorDiffTest, EveryIntegerType) {
  std::vector<uint64_t> values = {0, 1, ~uint64_t{0}};  // 0, 1, -1
  for (int k = 0; k < 64; ++k) {
    const uint64_t p = uint64_t{1} << k;  // 2^63 is INT64_MIN
    for (uint64_t v : {p, p - 1, p + 1}) {
      values.push_back(v);
      values.push_back(0 - v);
    }
  }
  for (int i = 0; i < 3000; ++i) {
    const uint64_t v = gen_.Bits() >> gen_.Uniform(0, 63);
    values.push_back(gen_.OneIn(2) ? v : 0 - v);
  }
  for (uint64_t v : values) ExpectIntegers(v);
}

}  // namespace
}  // namespace nurvik::lattis::testing
