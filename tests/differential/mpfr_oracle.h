// MPFR as an oracle for ExactFloat: an exact conversion that uses only the
// public interface, reference versions of the rounding primitives, and a
// comparison of a result with the exact value under the library's limits.
// Shared by the differential test and the fuzz targets. Callers must first
// widen MPFR's exponent range with WidenMpfrExponentRange().

#ifndef NURVIK_LATTIS_TESTS_DIFFERENTIAL_MPFR_ORACLE_H_
#define NURVIK_LATTIS_TESTS_DIFFERENTIAL_MPFR_ORACLE_H_

#include <mpfr.h>

#include <algorithm>
#include <string>

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

// "" when `got` is what the library must return for the exact result `want`:
// the same value, sign (of zeros too) and precision, or, past the limits, the
// signed infinity, signed zero or NaN that replaces it. NaN signs are free.
inline std::string Mismatch(const ExactFloat& got, mpfr_srcptr want) {
  enum { kNaN, kInf, kZero, kNormal } state = kNormal;
  if (mpfr_nan_p(want)) {
    state = kNaN;
  } else if (mpfr_inf_p(want)) {
    state = kInf;
  } else if (mpfr_zero_p(want)) {
    state = kZero;
  } else if (mpfr_get_exp(want) > ExactFloat::kMaxExp) {
    state = kInf;
  } else if (mpfr_get_exp(want) < ExactFloat::kMinExp) {
    state = kZero;
  } else if (mpfr_min_prec(want) > ExactFloat::kMaxPrec) {
    state = kNaN;
  }
  const bool sign_ok = got.sign_bit() == (mpfr_signbit(want) != 0);
  bool ok = false;
  switch (state) {
    case kNaN:
      ok = got.is_nan();
      break;
    case kInf:
      ok = got.is_inf() && sign_ok;
      break;
    case kZero:
      ok = got.is_zero() && sign_ok;
      break;
    case kNormal:
      ok = got.is_normal() && sign_ok && got.exp() == mpfr_get_exp(want) &&
           got.prec() == mpfr_min_prec(want) && SameBits(got, want);
      break;
  }
  if (ok) return "";
  return "expected " + DescribeMpfr(want) + ", got " + Describe(got);
}

}  // namespace nurvik::lattis::testing

#endif  // NURVIK_LATTIS_TESTS_DIFFERENTIAL_MPFR_ORACLE_H_
