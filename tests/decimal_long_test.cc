// Decimal digits of values with long expansions, against GMP as an
// independent exact oracle: the whole expansion with mpz, rounded half to even
// on the digit string.

#include <gmp.h>
#include <mpfr.h>
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>

#include "math/exactfloat.h"

namespace nurvik::lattis {
namespace {

struct Mpz {
  Mpz() { mpz_init(z); }
  ~Mpz() { mpz_clear(z); }
  mpz_t z;
};

// The value m * 2^e (m > 0), built from 30-bit pieces of m.
ExactFloat FromMpz(const mpz_t m, int e) {
  ExactFloat r = 0;
  Mpz t;
  mpz_set(t.z, m);
  for (int shift = 0; mpz_sgn(t.z) != 0; shift += 30) {
    r += ldexp(ExactFloat(static_cast<int>(mpz_fdiv_ui(t.z, 1u << 30))), shift);
    mpz_fdiv_q_2exp(t.z, t.z, 30);
  }
  return ldexp(r, e);
}

// Digits and exponent of m * 2^e by the definition.
std::pair<std::string, int> Oracle(const mpz_t m, int e, int max_digits) {
  Mpz n;
  int s = 0;
  if (e >= 0) {
    mpz_mul_2exp(n.z, m, e);
  } else {
    mpz_ui_pow_ui(n.z, 5, -e);
    mpz_mul(n.z, n.z, m);
    s = e;
  }
  char* c = mpz_get_str(nullptr, 10, n.z);
  std::string text(c);
  free(c);
  std::string d = text.substr(0, max_digits);
  if (text.size() > static_cast<size_t>(max_digits)) {
    s += static_cast<int>(text.size()) - max_digits;
    const char next = text[max_digits];
    const bool tail = text.find_first_not_of('0', max_digits + 1) != std::string::npos;
    if (next > '5' || (next == '5' && (tail || (d.back() - '0') % 2 == 1))) {
      size_t i = d.size();
      while (i > 0 && d[i - 1] == '9') d[--i] = '0';
      if (i == 0) d.insert(0, "1"); else ++d[i - 1];
    }
  }
  while (d.back() == '0') { d.pop_back(); ++s; }
  return {d, static_cast<int>(d.size()) + s};
}

void ExpectDigits(const mpz_t m, int e, int max_digits) {
  const ExactFloat v = FromMpz(m, e);
  std::string digits;
  const int e10 = v.GetDecimalDigits(max_digits, &digits);
  const auto want = Oracle(m, e, max_digits);
  EXPECT_EQ(digits, want.first) << "e=" << e << " max_digits=" << max_digits;
  EXPECT_EQ(e10, want.second) << "e=" << e << " max_digits=" << max_digits;
}

TEST(DecimalLongSlowTest, RandomValuesMatchExactExpansion) {
  std::mt19937_64 rng(12345);
  gmp_randstate_t state;
  gmp_randinit_mt(state);
  gmp_randseed_ui(state, 6789);
  Mpz m;
  for (int i = 0; i < 300; ++i) {
    const int bits = 1 + static_cast<int>(rng() % (i % 10 == 0 ? 20000 : 300));
    mpz_urandomb(m.z, state, bits);
    mpz_setbit(m.z, 0);
    const int e = static_cast<int>(rng() % 280000) - 140000;
    const int max_digits = 1 + static_cast<int>(rng() % 60);
    ExpectDigits(m.z, e, max_digits);
    if (i % 10 == 0) ExpectDigits(m.z, e, 4000 + bits / 2);
  }
  // Long digit strings: Newton division and the split conversion.
  mpz_urandomb(m.z, state, 200000);
  mpz_setbit(m.z, 0);
  for (int e : {-150000, 0, 90000}) ExpectDigits(m.z, e, 70000);
  gmp_randclear(state);
}

// m * 10^-scale rounded to a binary value just above it, with `bits` bits
// after the point: its expansion starts with the digits of m and goes on
// with zeros for about as far as those bits reach.
TEST(DecimalLongSlowTest, CraftedNearTiesAndCarries) {
  const char* kPrefixes[] = {"12345", "99999999999999999999", "2", "3"};
  for (const char* prefix : kPrefixes) {
    for (int zeros : {0, 30, 300, 3000}) {
      const int kept = static_cast<int>(strlen(prefix));
      // Integers (e >= 0): prefix, then 5 and zeros, then 1 or nothing.
      for (const char* last : {"", "1", "0"}) {
        const std::string text = std::string(prefix) + "5" +
                                 std::string(zeros + 2500, '0') + last;
        Mpz n;
        mpz_set_str(n.z, text.c_str(), 10);
        const int e = static_cast<int>(mpz_scan1(n.z, 0));
        mpz_fdiv_q_2exp(n.z, n.z, e);
        ExpectDigits(n.z, e, kept);
        ExpectDigits(n.z, e, kept + 1);
      }
      // Fractions (e < 0): prefix 5 0...0 after the point, nudged up by the
      // binary rounding of the odd mantissa.
      const std::string text = std::string(prefix) + "5" + std::string(zeros, '0');
      const int scale = static_cast<int>(text.size()) + 3000;
      const int e = -(static_cast<int>(scale * 3.33) + 64);
      Mpz n, p;
      mpz_set_str(n.z, text.c_str(), 10);
      mpz_mul_2exp(n.z, n.z, -e);
      mpz_ui_pow_ui(p.z, 10, scale - 3000);
      mpz_cdiv_q(n.z, n.z, p.z);
      mpz_setbit(n.z, 0);
      ExpectDigits(n.z, e - 9966, kept);
      ExpectDigits(n.z, e - 9966, kept + 1);
    }
  }
}

// 2^k and 2^k (1 + 2^-p) at both ends of the exponent range: whole expansions
// of tens of millions of digits, and for bn_exp_ below -231000000 past the
// big-integer size limit.
TEST(DecimalLongSlowTest, ExtremeExponentsMatchMpfr) {
  const std::pair<int, int> kCases[] = {
      {0, 199999999},         {0, -200000001},        {3, 199999999},
      {40000000, -200000001}, {67108863, -200000001}, {67108863, 199999999},
      {1000, -123456789}};
  for (const auto& [p, k] : kCases) {
    ExactFloat v = ldexp(ExactFloat(1), k);
    if (p > 0) v += ldexp(ExactFloat(1), k - p);
    mpfr_t x;
    mpfr_init2(x, p + 2);
    mpfr_set_ui_2exp(x, 1, k, MPFR_RNDN);
    if (p > 0) {
      mpfr_t tiny;
      mpfr_init2(tiny, 2);
      mpfr_set_ui_2exp(tiny, 1, k - p, MPFR_RNDN);
      mpfr_add(x, x, tiny, MPFR_RNDN);
      mpfr_clear(tiny);
    }
    for (int max_digits : {1, 10, 40}) {
      std::string digits;
      const int e10 = v.GetDecimalDigits(max_digits, &digits);
      mpfr_exp_t mpfr_e = 0;
      char* s = mpfr_get_str(nullptr, &mpfr_e, 10, max_digits, x, MPFR_RNDN);
      std::string want(s);
      mpfr_free_str(s);
      while (want.back() == '0') want.pop_back();
      EXPECT_EQ(digits, want) << p << " " << k << " " << max_digits;
      EXPECT_EQ(e10, mpfr_e) << p << " " << k << " " << max_digits;
    }
    mpfr_clear(x);
  }
}

}  // namespace
}  // namespace nurvik::lattis
