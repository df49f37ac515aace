// MPFR as an oracle for ExactFloat: an exact conversion that uses only the
// public interface, reference versions of the rounding primitives, correctly
// rounded results of MPFR's operations in all six modes, a comparison of a
// result with the exact value under the library's limits, and seeded random
// values built both ways. Shared by the differential tests and the fuzz
// targets. Callers must first widen MPFR's exponent range with
// WidenMpfrExponentRange().

#ifndef NURVIK_LATTIS_TESTS_DIFFERENTIAL_MPFR_ORACLE_H_
#define NURVIK_LATTIS_TESTS_DIFFERENTIAL_MPFR_ORACLE_H_

#include <mpfr.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "math/exactfloat.h"

namespace nurvik::lattis::testing {

// An owned mpfr_t; the precision is set by whoever writes to it.
class Mpfr {
 public:
  Mpfr() { mpfr_init2(v_, 2); }
  ~Mpfr() { mpfr_clear(v_); }
  Mpfr(const Mpfr&) = delete;
  Mpfr& operator=(const Mpfr&) = delete;
  mpfr_ptr get() { return v_; }
  operator mpfr_ptr() { return v_; }  // NOLINT(runtime/explicit)

 private:
  mpfr_t v_;
};

// ExactFloat's exponent range (and every int shift past it) fits MPFR's
// widest one. The range is per thread.
inline void WidenMpfrExponentRange() {
  mpfr_set_emin(mpfr_get_emin_min());
  mpfr_set_emax(mpfr_get_emax_max());
}

// *out = x exactly, precision max(1, x.prec()). Works on the fraction of x
// in [0.5, 1), so that no part leaves the exponent range: at most 53 bits
// convert through ToDouble, exact there; longer ones are split into the
// upper half (truncated) and the exact rest. O(prec log prec).
inline void ToMpfr(const ExactFloat& x, mpfr_ptr out) {
  mpfr_set_prec(out, std::max(x.prec(), 1));
  const int sign = x.sign_bit() ? -1 : 1;
  if (x.is_nan()) return mpfr_set_nan(out);
  if (x.is_inf()) return mpfr_set_inf(out, sign);
  if (x.is_zero()) return mpfr_set_zero(out, sign);
  int exp = 0;
  const ExactFloat fraction = frexp(x, &exp);
  if (fraction.prec() <= 53) {
    mpfr_set_d(out, fraction.ToDouble(), MPFR_RNDN);
  } else {
    const ExactFloat high = fraction.RoundToMaxPrec(
        fraction.prec() / 2, ExactFloat::kRoundTowardZero);
    Mpfr high_m, low_m;
    ToMpfr(high, high_m);
    ToMpfr(fraction - high, low_m);
    mpfr_add(out, high_m, low_m, MPFR_RNDN);  // exact: the bits do not overlap
  }
  mpfr_mul_2si(out, out, exp, MPFR_RNDN);
}

inline std::string DescribeMpfr(mpfr_srcptr v) {
  char* text = nullptr;
  mpfr_asprintf(&text, "%Ra (%Pd bits)", v, mpfr_min_prec(v));
  std::string s(text);
  mpfr_free_str(text);
  return s.size() > 300 ? s.substr(0, 300) + "..." : s;
}

inline std::string Describe(const ExactFloat& x) {
  Mpfr m;
  ToMpfr(x, m);
  return DescribeMpfr(m);
}

inline mpfr_rnd_t MpfrMode(ExactFloat::RoundingMode mode) {
  switch (mode) {
    case ExactFloat::kRoundTowardZero:
      return MPFR_RNDZ;
    case ExactFloat::kRoundAwayFromZero:
      return MPFR_RNDA;
    case ExactFloat::kRoundTowardPositive:
      return MPFR_RNDU;
    case ExactFloat::kRoundTowardNegative:
      return MPFR_RNDD;
    default:
      return MPFR_RNDN;  // ties away from zero is handled by callers
  }
}

// *out = x rounded in direction `mode` to a multiple of 2^bit_exp, exactly:
// scaled to the units place and rounded by mpfr_rint / mpfr_round, which keep
// the sign of a zero result. Library limits are not applied; out != x.
inline void RoundToPowerOf2Oracle(mpfr_srcptr x, long bit_exp,  // NOLINT
                                  ExactFloat::RoundingMode mode, mpfr_ptr out) {
  mpfr_set_prec(out, mpfr_get_prec(x) + 1);
  mpfr_set(out, x, MPFR_RNDN);
  if (!mpfr_regular_p(x)) return;
  mpfr_mul_2si(out, out, -bit_exp, MPFR_RNDN);
  if (mode == ExactFloat::kRoundTiesAwayFromZero) {
    mpfr_round(out, out);
  } else {
    mpfr_rint(out, out, MpfrMode(mode));
  }
  mpfr_mul_2si(out, out, bit_exp, MPFR_RNDN);
}

// *out = x rounded in direction `mode` to at most max_prec bits; for
// max_prec >= 1 through MPFR's own rounding to a precision, otherwise (and
// for ties away from zero) as a multiple of 2^(exp - max_prec); out != x.
inline void RoundToMaxPrecOracle(mpfr_srcptr x, long max_prec,  // NOLINT
                                 ExactFloat::RoundingMode mode, mpfr_ptr out) {
  if (!mpfr_regular_p(x) || mpfr_min_prec(x) <= max_prec) {
    mpfr_set_prec(out, mpfr_get_prec(x));
    mpfr_set(out, x, MPFR_RNDN);
  } else if (max_prec >= 1 && mode != ExactFloat::kRoundTiesAwayFromZero) {
    mpfr_set_prec(out, max_prec);
    mpfr_set(out, x, MpfrMode(mode));
  } else {
    RoundToPowerOf2Oracle(x, mpfr_get_exp(x) - max_prec, mode, out);
  }
}

// Reads a whole number text of FromString's grammar without the suffix <N>
// (decimal, "0x" hexadecimal with a binary exponent, inf, infinity or nan,
// signed or not) with mpfr_strtofr into *out at `prec` bits, rounded in
// direction rnd. Returns false when MPFR does not read all of it; *ternary
// receives MPFR's ternary value, 0 exactly when *out is the text's value.
inline bool ParseMpfr(const std::string& text, long prec,  // NOLINT
                      mpfr_rnd_t rnd, mpfr_ptr out, int* ternary) {
  const size_t body = !text.empty() && (text[0] == '+' || text[0] == '-');
  const bool hex = text.size() >= body + 2 && text[body] == '0' &&
                   (text[body + 1] == 'x' || text[body + 1] == 'X');
  mpfr_set_prec(out, prec);
  char* end = nullptr;
  *ternary = mpfr_strtofr(out, text.c_str(), &end, hex ? 16 : 10, rnd);
  return end == text.c_str() + text.size();
}

// *out = the value of `text` (as for ParseMpfr) rounded as
// RoundToMaxPrec(max_prec, mode) rounds the exact value, without the
// library's limits. The five directed and ties-to-even modes are MPFR's own
// correctly rounded conversion at max_prec bits. Ties away from zero reads
// max_prec + 1 bits toward zero: when that is inexact the value lies strictly
// between that truncation t and the next (max_prec + 1)-bit number, so it
// rounds away exactly when the last bit of t is set (it is then above the
// midpoint) and to t otherwise. For max_prec <= 0 the result is zero or one
// power of two; 64 bits toward zero, with one more bit set when inexact,
// stand for the value in every mode. False when MPFR rejects the text.
inline bool RoundedParseOracle(const std::string& text, int max_prec,
                               ExactFloat::RoundingMode mode, mpfr_ptr out) {
  int ternary = 0;
  if (max_prec >= 1 && mode != ExactFloat::kRoundTiesAwayFromZero) {
    return ParseMpfr(text, max_prec, MpfrMode(mode), out, &ternary);
  }
  Mpfr t;
  if (max_prec >= 1) {
    if (!ParseMpfr(text, max_prec + 1L, MPFR_RNDZ, t, &ternary)) return false;
    if (ternary == 0) {
      RoundToMaxPrecOracle(t, max_prec, mode, out);
    } else {
      mpfr_set_prec(out, max_prec);
      mpfr_set(out, t, mpfr_min_prec(t) > max_prec ? MPFR_RNDA : MPFR_RNDZ);
    }
    return true;
  }
  if (!ParseMpfr(text, 64, MPFR_RNDZ, t, &ternary)) return false;
  if (ternary != 0) {
    mpfr_prec_round(t, 65, MPFR_RNDN);  // exact
    if (mpfr_signbit(t)) {
      mpfr_nextbelow(t);
    } else {
      mpfr_nextabove(t);
    }
  }
  RoundToMaxPrecOracle(t, max_prec, mode, out);
  return true;
}

// Whether x equals y, for x and y with the same exponent and precision.
// Up to 2^20 bits the whole value is compared; past that, for speed, the
// top 4096 bits (truncated) and the exact rest below the lowest 4096.
inline bool SameBits(const ExactFloat& x, mpfr_srcptr y) {
  constexpr int kPart = 4096;
  Mpfr x_part, y_part;
  if (x.prec() <= (1 << 20)) {
    ToMpfr(x, x_part);
    return mpfr_equal_p(x_part, y);
  }
  ToMpfr(x.RoundToMaxPrec(kPart, ExactFloat::kRoundTowardZero), x_part);
  mpfr_set_prec(y_part, kPart);
  mpfr_set(y_part, y, MPFR_RNDZ);
  if (!mpfr_equal_p(x_part, y_part)) return false;
  const int low_exp = x.exp() - x.prec() + kPart;
  ToMpfr(x - x.RoundToPowerOf2(low_exp, ExactFloat::kRoundTowardZero), x_part);
  RoundToPowerOf2Oracle(y, low_exp, ExactFloat::kRoundTowardZero, y_part);
  mpfr_sub(y_part, y, y_part, MPFR_RNDN);  // exact: at most kPart bits
  return mpfr_equal_p(x_part, y_part);
}

// What the library makes of the exact result x: NaN, infinities and zeros as
// they are; past the exponent range a signed infinity or zero, past kMaxPrec
// bits NaN; else x itself (kNormal).
enum class LimitState { kNaN, kInf, kZero, kNormal };
inline LimitState StateUnderLimits(mpfr_srcptr x) {
  if (mpfr_nan_p(x)) return LimitState::kNaN;
  if (mpfr_inf_p(x)) return LimitState::kInf;
  if (mpfr_zero_p(x)) return LimitState::kZero;
  if (mpfr_get_exp(x) > ExactFloat::kMaxExp) return LimitState::kInf;
  if (mpfr_get_exp(x) < ExactFloat::kMinExp) return LimitState::kZero;
  if (mpfr_min_prec(x) > ExactFloat::kMaxPrec) return LimitState::kNaN;
  return LimitState::kNormal;
}

// Replaces x by the value the library holds for it (see StateUnderLimits).
inline void ApplyLimits(mpfr_ptr x) {
  const int sign = mpfr_signbit(x) ? -1 : 1;
  switch (StateUnderLimits(x)) {
    case LimitState::kNaN:
      return mpfr_set_nan(x);
    case LimitState::kInf:
      return mpfr_set_inf(x, sign);
    case LimitState::kZero:
      return mpfr_set_zero(x, sign);
    case LimitState::kNormal:
      return;
  }
}

// *out = the exact result of an MPFR operation rounded as
// ExactFloat::RoundToMaxPrec(max_prec, mode) would round it, for
// max_prec >= 1; the library's limits are not applied. `op(r, rnd)` writes
// the result correctly rounded to r's precision in direction rnd and returns
// the ternary value (a lambda around mpfr_div, mpfr_sqrt, ...). The directed
// modes are MPFR's own. Both modes to nearest follow their rule on the
// truncation t to max_prec + 1 bits, whose last bit is the first bit
// dropped: a zero bit means below the midpoint (t truncated), a one bit with
// t inexact above it (rounded away), a one bit with t exact the midpoint
// itself (away from zero, or to the even neighbour by mpfr_set of the exact
// t). MPFR has no ties-away mode, and the RNDN of mpfr_div in MPFR 4.2.0
// sends some exact midpoints to the odd neighbour (targets of 64k - 1 bits,
// divisors longer than the quotient).
template <class Op>
void RoundedOracle(const Op& op, long max_prec,  // NOLINT(runtime/int)
                   ExactFloat::RoundingMode mode, mpfr_ptr out) {
  if (MpfrMode(mode) != MPFR_RNDN) {  // a directed mode
    mpfr_set_prec(out, max_prec);
    op(out, MpfrMode(mode));
    return;
  }
  Mpfr truncated;
  mpfr_set_prec(truncated, max_prec + 1);
  const bool inexact = op(truncated.get(), MPFR_RNDZ) != 0;
  const bool first_dropped_bit = mpfr_regular_p(truncated.get()) &&
                                 mpfr_min_prec(truncated.get()) > max_prec;
  mpfr_rnd_t rnd = MPFR_RNDZ;
  if (first_dropped_bit) {
    rnd = inexact || mode == ExactFloat::kRoundTiesAwayFromZero ? MPFR_RNDA
                                                                : MPFR_RNDN;
  }
  mpfr_set_prec(out, max_prec);
  mpfr_set(out, truncated, rnd);
}

// "" when `got` is what the library must return for the exact result `want`:
// the same value, sign (of zeros too) and precision, or, past the limits, the
// signed infinity, signed zero or NaN that replaces it. NaN signs are free.
inline std::string Mismatch(const ExactFloat& got, mpfr_srcptr want) {
  const bool sign_ok = got.sign_bit() == (mpfr_signbit(want) != 0);
  bool ok = false;
  switch (StateUnderLimits(want)) {
    case LimitState::kNaN:
      ok = got.is_nan();
      break;
    case LimitState::kInf:
      ok = got.is_inf() && sign_ok;
      break;
    case LimitState::kZero:
      ok = got.is_zero() && sign_ok;
      break;
    case LimitState::kNormal:
      ok = got.is_normal() && sign_ok && got.exp() == mpfr_get_exp(want) &&
           got.prec() == mpfr_min_prec(want) && SameBits(got, want);
      break;
  }
  if (ok) return "";
  return "expected " + DescribeMpfr(want) + ", got " + Describe(got);
}

// The same for an exact result that the library holds.
inline std::string Mismatch(const ExactFloat& got, const ExactFloat& want) {
  Mpfr m;
  ToMpfr(want, m);
  return Mismatch(got, m);
}

// Seeded random values, each built both as an ExactFloat and, independently,
// in an mpfr_t. LATTIS_DIFF_SEED in the environment replaces the seed.
class RandomValues {
 public:
  explicit RandomValues(uint64_t seed = 20240601) {
    const char* text = std::getenv("LATTIS_DIFF_SEED");
    rng_.seed(text != nullptr ? std::strtoull(text, nullptr, 10) : seed);
  }
  uint64_t Bits() { return rng_(); }
  int Uniform(int lo, int hi) {
    return std::uniform_int_distribution<int>(lo, hi)(rng_);
  }
  bool OneIn(int n) { return Uniform(1, n) == 1; }
  ExactFloat::RoundingMode Mode() {
    return ExactFloat::RoundingMode(Uniform(0, 5));
  }

  // A random value of mixed precision and exponent, or now and then a
  // signed zero, a signed infinity or NaN; also built in *m when m is given.
  // A normal value gets exp() `exp`, or a random exponent for INT_MIN.
  ExactFloat Value(mpfr_ptr m = nullptr, int exp = INT_MIN) {
    Mpfr scratch;
    if (m == nullptr) m = scratch;
    if (OneIn(12)) {
      const int kind = Uniform(0, 4), sign = kind % 2 ? -1 : 1;
      mpfr_set_prec(m, 2);
      if (kind == 4) return mpfr_set_nan(m), ExactFloat::NaN();
      if (kind >= 2) return mpfr_set_inf(m, sign), ExactFloat::Infinity(sign);
      return mpfr_set_zero(m, sign), ExactFloat::SignedZero(sign);
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
    ExactFloat mantissa;
    for (int bits = prec; bits > 0;) {
      const int len = std::min(bits, Uniform(1, 52)), style = Uniform(0, 2);
      uint64_t piece = style == 0 ? rng_() : style == 1 ? ~uint64_t{0} : 0;
      piece &= (uint64_t{1} << len) - 1;
      if (bits == prec) piece |= uint64_t{1} << (len - 1);
      mantissa = ldexp(mantissa, len) + ExactFloat(static_cast<double>(piece));
      mpfr_mul_2ui(m, m, len, MPFR_RNDN);
      mpfr_add_ui(m, m, piece, MPFR_RNDN);
      bits -= len;
    }
    if (exp == INT_MIN) {
      constexpr int kMin = ExactFloat::kMinExp, kMax = ExactFloat::kMaxExp;
      const int exp_class = Uniform(0, 19);
      exp = exp_class < 7    ? Uniform(-64, 64)
            : exp_class < 12 ? Uniform(-1100, 1100)
            : exp_class < 15 ? Uniform(-1, 1) * 100000000 + Uniform(-60, 60)
            : exp_class < 18
                ? (OneIn(2) ? kMax - Uniform(0, 60) : kMin + Uniform(0, 60))
                : Uniform(kMin, kMax);
    }
    const int sign = OneIn(2) ? -1 : 1;
    mpfr_mul_2si(m, m, exp - prec, MPFR_RNDN);
    mpfr_mul_si(m, m, sign, MPFR_RNDN);
    return ldexp(mantissa, exp - prec) * ExactFloat(sign);
  }

  // A normal value of random sign with an odd mantissa of exactly `bits`
  // bits and exp() `exp`, also built in *m (from an mpz). Mantissa patterns:
  // random bits, all ones (carries), or only the top and bottom bits.
  ExactFloat OfLength(int bits, int exp, mpfr_ptr m) {
    const int pattern = Uniform(0, 2);
    std::vector<uint32_t> pieces((bits + 31) / 32);
    for (uint32_t& p : pieces) {
      p = pattern == 0   ? static_cast<uint32_t>(rng_())
          : pattern == 1 ? ~uint32_t{0}
                         : 0;
    }
    const int top = (bits - 1) % 32;
    pieces.back() &= static_cast<uint32_t>((uint64_t{2} << top) - 1);
    pieces.back() |= uint32_t{1} << top;
    pieces.front() |= 1;
    ExactFloat v;
    for (size_t i = pieces.size(); i-- > 0;) {
      v = ldexp(v, 32) + ExactFloat(static_cast<double>(pieces[i]));
    }
    mpz_t z;
    mpz_init(z);
    mpz_import(z, pieces.size(), -1, sizeof(uint32_t), 0, 0, pieces.data());
    mpfr_set_prec(m, bits);
    mpfr_set_z_2exp(m, z, exp - bits, MPFR_RNDN);
    mpz_clear(z);
    const bool negative = OneIn(2);
    if (negative) mpfr_neg(m, m, MPFR_RNDN);
    return negative ? -ldexp(v, exp - bits) : ldexp(v, exp - bits);
  }
  ExactFloat OfLength(int bits, int exp) {
    Mpfr scratch;
    return OfLength(bits, exp, scratch);
  }

  // A partner for a in sums and comparisons: equal, opposite, a rounded
  // (deep cancellation), of a nearby or far lower exponent, or unrelated.
  ExactFloat Partner(const ExactFloat& a) {
    const int kind = Uniform(0, 9);
    const int a_exp = a.is_normal() ? a.exp() : 0;
    if (kind == 0) return a;
    if (kind == 1) return -a;
    if (kind <= 3) {
      return a.RoundToMaxPrec(Uniform(1, a.prec() + 1), Mode()) *
             ExactFloat(OneIn(2) ? -1 : 1);
    }
    if (kind <= 5) return Value(nullptr, a_exp + Uniform(-3, 3));
    if (kind == 6) return Value(nullptr, a_exp - Uniform(4, 3000));
    ExactFloat b = Value();
    if (kind == 7 && b.is_normal() && OneIn(3)) {  // sums of ~kMaxPrec bits
      b = ldexp(b, a_exp - ExactFloat::kMaxPrec + Uniform(-1, 1) -
                       (b.exp() - b.prec()));
    }
    return b;
  }

  // An int argument: near `center`, one of the extremes, or anything.
  int IntNear(int64_t center) {
    static constexpr int kExtremes[] = {
        INT_MIN,
        INT_MIN + 1,
        INT_MAX,
        INT_MAX - 1,
        0,
        1,
        -1,
        ExactFloat::kMaxExp,
        ExactFloat::kMaxExp + 1,
        ExactFloat::kMaxExp + 2,
        ExactFloat::kMaxExp + 3,
        ExactFloat::kMinExp,
        ExactFloat::kMinExp - 1,
        ExactFloat::kMinExp - ExactFloat::kMaxPrec};
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

}  // namespace nurvik::lattis::testing

#endif  // NURVIK_LATTIS_TESTS_DIFFERENTIAL_MPFR_ORACLE_H_
