#include "math/exactfloat.h"

#include <glog/logging.h>
#include <openssl/bn.h>
#include <openssl/mem.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <ostream>

namespace nurvik::lattis {

// ---------------------------------------------------------------------------
// Representation
//
// A normal value is sign_ * bn_ * 2^bn_exp_ with bn_ odd (one representation
// per value), kMinExp <= exp() <= kMaxExp and prec() <= kMaxPrec. It follows
// that bn_exp_ lies in [kMinExp - kMaxPrec, kMaxExp - 1], so sums and
// differences of two exponents always fit an int. Zero, infinity and NaN hold
// an empty mantissa and a state code in bn_exp_.

ExactFloat::ExactFloat(const ExactFloat& b) : sign_(b.sign_), bn_exp_(b.bn_exp_) {
  CHECK(BN_copy(bn_.get(), b.bn_.get()));
}

ExactFloat& ExactFloat::operator=(const ExactFloat& b) {
  if (this != &b) {
    sign_ = b.sign_;
    bn_exp_ = b.bn_exp_;
    CHECK(BN_copy(bn_.get(), b.bn_.get()));
  }
  return *this;
}

ExactFloat::ExactFloat(ExactFloat&& b) noexcept
    : sign_(b.sign_), bn_exp_(b.bn_exp_) {
  bn_.Swap(b.bn_);  // b.bn_ receives our fresh, empty mantissa
  b.sign_ = 1;
  b.bn_exp_ = kExpZero;
}

ExactFloat& ExactFloat::operator=(ExactFloat&& b) noexcept {
  if (this != &b) {
    sign_ = b.sign_;
    bn_exp_ = b.bn_exp_;
    bn_.Swap(b.bn_);
    b.set_zero(1);  // keeps our old digit storage for reuse, zeroed
  }
  return *this;
}

ExactFloat ExactFloat::SignedZero(int sign) {
  ExactFloat r;
  r.set_zero(sign);
  return r;
}

ExactFloat ExactFloat::Infinity(int sign) {
  ExactFloat r;
  r.set_inf(sign);
  return r;
}

ExactFloat ExactFloat::NaN() {
  ExactFloat r;
  r.set_nan();
  return r;
}

int ExactFloat::prec() const { return BN_num_bits(bn_.get()); }

void ExactFloat::Unimplemented() {
  LOG(FATAL) << "Unimplemented ExactFloat method called";
  abort();  // not reached; LOG(FATAL) does not return
}

void ExactFloat::set_zero(int sign) {
  sign_ = sign;
  bn_exp_ = kExpZero;
  if (!BN_is_zero(bn_.get())) BN_zero(bn_.get());
}

void ExactFloat::set_inf(int sign) {
  sign_ = sign;
  bn_exp_ = kExpInfinity;
  if (!BN_is_zero(bn_.get())) BN_zero(bn_.get());
}

void ExactFloat::set_nan() {
  sign_ = 1;
  bn_exp_ = kExpNaN;
  if (!BN_is_zero(bn_.get())) BN_zero(bn_.get());
}

void ExactFloat::Canonicalize() {
  if (bn_exp_ >= kExpZero) return;
  // exp() does not change when trailing zero bits move into the exponent.
  const int e = exp();
  if (e < kMinExp || BN_is_zero(bn_.get())) {
    set_zero(sign_);
  } else if (e > kMaxExp) {
    set_inf(sign_);
  } else if (!BN_is_odd(bn_.get())) {
    const int shift = BN_count_low_zero_bits(bn_.get());
    if (shift > 0) {
      CHECK(BN_rshift(bn_.get(), bn_.get(), shift));
      bn_exp_ += shift;
    }
  }
  if (prec() > kMaxPrec) set_nan();
}

// ---------------------------------------------------------------------------
// Construction from machine numbers

ExactFloat::ExactFloat(double v) : sign_(std::signbit(v) ? -1 : 1), bn_exp_(0) {
  if (std::isnan(v)) {
    set_nan();
  } else if (std::isinf(v)) {
    set_inf(sign_);
  } else {
    // frexp splits subnormals exactly; the scaled fraction is an integer
    // below 2^53, so both steps are exact.
    int e = 0;
    const double f = std::frexp(std::fabs(v), &e);
    const auto m = static_cast<uint64_t>(std::ldexp(f, kDoubleMantissaBits));
    auto set_u64 = [](BIGNUM* bn, uint64_t v) { CHECK(BN_set_u64(bn, v)); };
    set_u64(bn_.get(), m);
    bn_exp_ = e - kDoubleMantissaBits;
    Canonicalize();
  }
}

ExactFloat::ExactFloat(int v) : sign_(v < 0 ? -1 : 1), bn_exp_(0) {
  // Widened first: the magnitude of INT_MIN does not fit an int.
  SetMantissaMagnitude(v);
  Canonicalize();
}

void ExactFloat::SetMantissaMagnitude(int64_t v) {
  CHECK(BN_set_word(bn_.get(), std::abs(v)));
}

double ExactFloat::ToDoubleHelper() const {
  if (is_normal()) {
    uint64_t m = 0;
    BN_get_u64(bn_.get(), &m);  // cannot fail: at most 53 bits
    // ldexp rounds into the subnormal range and saturates; multiplying by
    // the sign keeps the sign of such zeros and infinities.
    return std::ldexp(static_cast<double>(m), bn_exp_) *
           static_cast<double>(sign_);
  }
  if (is_zero()) return sign_ < 0 ? -0.0 : 0.0;
  if (is_inf()) return sign_ < 0 ? -HUGE_VAL : HUGE_VAL;
  // The default quiet NaN, 0x7ff8000000000000, with the sign of sign_.
  uint64_t bits = uint64_t{0x7ff8000000000000} | (sign_ < 0 ? uint64_t{1} << 63 : 0);
  double nan;
  memcpy(&nan, &bits, sizeof(nan));
  return nan;
}

// ---------------------------------------------------------------------------
// Rounding

ExactFloat ExactFloat::RoundToPowerOf2(int bit_exp, RoundingMode mode) const {
  if (!is_normal()) return *this;
  // Widened: bit_exp may be any int. Past kMaxExp + 2 every bit is dropped
  // and the half bit reads 0 for every normal value, so a larger bit_exp
  // gives the same result (zero, or a power of two that overflows).
  const int64_t wide_shift = int64_t{bit_exp} - bn_exp_;
  if (wide_shift <= 0) return *this;
  const int kept_exp = std::min(bit_exp, kMaxExp + 2);
  const int shift = kept_exp - bn_exp_;

  // Decide the increment from the operand's bits, before any shift.
  const BIGNUM* m = bn_.get();
  auto any_dropped = [&] { return BN_count_low_zero_bits(m) < shift; };
  bool increment = false;
  switch (mode) {
    case kRoundTiesAwayFromZero:
      increment = BN_is_bit_set(m, shift - 1);
      break;
    case kRoundTowardZero:
      break;
    case kRoundAwayFromZero:
      increment = any_dropped();
      break;
    case kRoundTowardPositive:
      increment = sign_ > 0 && any_dropped();
      break;
    case kRoundTowardNegative:
      increment = sign_ < 0 && any_dropped();
      break;
    default:  // kRoundTiesToEven
      increment = BN_is_bit_set(m, shift - 1) &&
                  (BN_is_bit_set(m, shift) ||
                   BN_count_low_zero_bits(m) < shift - 1);
      break;
  }

  ExactFloat r;
  r.bn_exp_ = kept_exp;
  CHECK(BN_rshift(r.bn_.get(), bn_.get(), shift));
  if (increment) CHECK(BN_add_word(r.bn_.get(), 1));
  r.sign_ = sign_;
  r.Canonicalize();
  return r;
}

ExactFloat ExactFloat::RoundToMaxPrec(int max_prec, RoundingMode mode) const {
  // Widened: max_prec may be any int.
  const int64_t shift = int64_t{prec()} - max_prec;
  if (shift <= 0) return *this;
  const int64_t bit_exp = bn_exp_ + shift;
  return RoundToPowerOf2(static_cast<int>(std::min<int64_t>(bit_exp, INT_MAX)),
                         mode);
}

double ExactFloat::ToDouble() const {
  if (prec() <= kDoubleMantissaBits) return ToDoubleHelper();
  return RoundToMaxPrec(kDoubleMantissaBits, kRoundTiesToEven).ToDoubleHelper();
}

template <class T>
T ExactFloat::ToInteger(RoundingMode mode) const {
  static_assert(sizeof(T) == 8, "64-bit integers only");
  constexpr T kMax = std::numeric_limits<T>::max();
  constexpr T kMin = std::numeric_limits<T>::min();
  const ExactFloat r = RoundToPowerOf2(0, mode);
  if (r.is_nan()) return kMax;
  if (r.is_zero()) return 0;
  if (r.is_inf() || r.exp() > 63) return r.sign_ < 0 ? kMin : kMax;
  uint64_t m = 0;
  if (!BN_get_u64(r.bn_.get(), &m)) m = 0;
  const auto magnitude = static_cast<T>(m << r.bn_exp_);  // below 2^63
  return r.sign_ < 0 ? -magnitude : magnitude;
}

template long ExactFloat::ToInteger<long>(RoundingMode) const;  // NOLINT
template long long ExactFloat::ToInteger<long long>(RoundingMode) const;  // NOLINT

ExactFloat ceil(const ExactFloat& a) {
  return a.RoundToPowerOf2(0, ExactFloat::kRoundTowardPositive);
}
ExactFloat floor(const ExactFloat& a) {
  return a.RoundToPowerOf2(0, ExactFloat::kRoundTowardNegative);
}
ExactFloat trunc(const ExactFloat& a) {
  return a.RoundToPowerOf2(0, ExactFloat::kRoundTowardZero);
}
ExactFloat round(const ExactFloat& a) {
  return a.RoundToPowerOf2(0, ExactFloat::kRoundTiesAwayFromZero);
}
ExactFloat rint(const ExactFloat& a) {
  return a.RoundToPowerOf2(0, ExactFloat::kRoundTiesToEven);
}
long lrint(const ExactFloat& a) {  // NOLINT(runtime/int)
  return a.ToInteger<long>(ExactFloat::kRoundTiesToEven);  // NOLINT
}
long lround(const ExactFloat& a) {  // NOLINT(runtime/int)
  return a.ToInteger<long>(ExactFloat::kRoundTiesAwayFromZero);  // NOLINT
}
long long llrint(const ExactFloat& a) {  // NOLINT(runtime/int)
  return a.ToInteger<long long>(ExactFloat::kRoundTiesToEven);  // NOLINT
}
long long llround(const ExactFloat& a) {  // NOLINT(runtime/int)
  return a.ToInteger<long long>(ExactFloat::kRoundTiesAwayFromZero);  // NOLINT
}

// ---------------------------------------------------------------------------
// Arithmetic

ExactFloat ExactFloat::SignedSum(int a_sign, const ExactFloat* a, int b_sign,
                                 const ExactFloat* b) {
  if (a->is_nan()) return *a;
  if (b->is_nan()) return *b;
  if (a->is_inf()) {
    if (b->is_inf() && a_sign != b_sign) return NaN();
    return Infinity(a_sign);
  }
  if (b->is_inf()) return Infinity(b_sign);
  if (a->is_zero() || b->is_zero()) {
    if (a->is_normal() || b->is_normal()) {
      const bool a_normal = a->is_normal();
      ExactFloat r = a_normal ? *a : *b;
      r.sign_ = a_normal ? a_sign : b_sign;
      return r;
    }
    return SignedZero(a_sign == b_sign ? a_sign : 1);
  }

  // Both normal. Align the operand with the larger exponent (a) to the
  // other's; only pointers and signs are swapped.
  if (a->bn_exp_ < b->bn_exp_) {
    std::swap(a, b);
    std::swap(a_sign, b_sign);
  }
  ExactFloat r;
  if (a->bn_exp_ > b->bn_exp_) {
    CHECK(BN_lshift(r.bn_.get(), a->bn_.get(), a->bn_exp_ - b->bn_exp_));
    a = &r;  // from here on, a's mantissa is the aligned copy in r
  }
  r.bn_exp_ = b->bn_exp_;
  if (a_sign == b_sign) {
    CHECK(BN_add(r.bn_.get(), a->bn_.get(), b->bn_.get()));
    r.sign_ = a_sign;
  } else {
    CHECK(BN_sub(r.bn_.get(), a->bn_.get(), b->bn_.get()));
    if (BN_is_zero(r.bn_.get())) {
      r.sign_ = 1;  // exact cancellation gives +0
    } else if (BN_is_negative(r.bn_.get())) {
      r.sign_ = b_sign;
      BN_set_negative(r.bn_.get(), 0);
    } else {
      r.sign_ = a_sign;
    }
  }
  r.Canonicalize();
  return r;
}

ExactFloat operator+(const ExactFloat& a, const ExactFloat& b) {
  return ExactFloat::SignedSum(a.sign_bit() ? -1 : 1, &a,
                               b.sign_bit() ? -1 : 1, &b);
}

ExactFloat operator-(const ExactFloat& a, const ExactFloat& b) {
  return ExactFloat::SignedSum(a.sign_bit() ? -1 : 1, &a,
                               b.sign_bit() ? 1 : -1, &b);
}

ExactFloat ExactFloat::operator-() const {
  ExactFloat r(*this);
  r.sign_ = -sign_;
  return r;
}

ExactFloat operator*(const ExactFloat& a, const ExactFloat& b) {
  const int s = a.sign_ * b.sign_;
  if (a.is_nan()) return a;
  if (b.is_nan()) return b;
  if (a.is_inf()) return b.is_zero() ? ExactFloat::NaN() : ExactFloat::Infinity(s);
  if (b.is_inf()) return a.is_zero() ? ExactFloat::NaN() : ExactFloat::Infinity(s);
  if (a.is_zero() || b.is_zero()) return ExactFloat::SignedZero(s);

  ExactFloat r;
  r.sign_ = s;
  r.bn_exp_ = a.bn_exp_ + b.bn_exp_;  // both in normal range: cannot overflow
  BN_CTX* ctx = BN_CTX_new();
  CHECK(ctx != nullptr);
  CHECK(BN_mul(r.bn_.get(), a.bn_.get(), b.bn_.get(), ctx));
  BN_CTX_free(ctx);
  r.Canonicalize();
  return r;
}

// ---------------------------------------------------------------------------
// Comparison

bool operator==(const ExactFloat& a, const ExactFloat& b) {
  if (a.is_nan() || b.is_nan()) return false;
  if (a.bn_exp_ != b.bn_exp_) return false;
  if (a.is_zero()) return true;  // both zero, whatever their signs
  if (a.sign_ != b.sign_) return false;
  return BN_ucmp(a.bn_.get(), b.bn_.get()) == 0;
}

bool operator<(const ExactFloat& a, const ExactFloat& b) {
  if (a.is_nan() || b.is_nan()) return false;
  if (a.is_zero() && b.is_zero()) return false;
  if (a.sign_ != b.sign_) return a.sign_ < b.sign_;
  return a.sign_ > 0 ? a.UnsignedLess(b) : b.UnsignedLess(a);
}

bool ExactFloat::UnsignedLess(const ExactFloat& b) const {
  if (is_inf() || b.is_zero()) return false;
  if (is_zero() || b.is_inf()) return true;
  const int a_exp = exp(), b_exp = b.exp();
  if (a_exp != b_exp) return a_exp < b_exp;
  return bn_exp_ >= b.bn_exp_ ? ScaleAndCompare(b) < 0
                              : b.ScaleAndCompare(*this) > 0;
}

int ExactFloat::ScaleAndCompare(const ExactFloat& b) const {
  ExactFloat tmp = *this;
  CHECK(BN_lshift(tmp.bn_.get(), tmp.bn_.get(), bn_exp_ - b.bn_exp_));
  return BN_ucmp(tmp.bn_.get(), b.bn_.get());
}

ExactFloat abs(const ExactFloat& a) {
  ExactFloat r(a);
  r.set_sign(1);
  return r;
}

ExactFloat fabs(const ExactFloat& a) { return abs(a); }

ExactFloat copysign(const ExactFloat& a, const ExactFloat& b) {
  const int sign = b.sign_;
  ExactFloat r(a);
  r.set_sign(sign);
  return r;
}

ExactFloat fmax(const ExactFloat& a, const ExactFloat& b) {
  if (a.is_nan()) return b;
  if (b.is_nan()) return a;
  if (a.sign_ != b.sign_) return a.sign_ > 0 ? a : b;
  return a < b ? b : a;
}

ExactFloat fmin(const ExactFloat& a, const ExactFloat& b) {
  if (a.is_nan()) return b;
  if (b.is_nan()) return a;
  if (a.sign_ != b.sign_) return a.sign_ < 0 ? a : b;
  return a < b ? a : b;
}

ExactFloat fdim(const ExactFloat& a, const ExactFloat& b) {
  if (a.is_nan() || b.is_nan() || b < a) return a - b;
  return ExactFloat(0);
}

// ---------------------------------------------------------------------------
// Binary exponent functions

ExactFloat ldexp(const ExactFloat& a, int exp) {
  if (!a.is_normal()) return a;
  // Clamp so that e + exp stays within one step of the range: every exp
  // beyond a bound gives the same zero or infinity as the bound itself.
  const int e = a.exp();
  exp = std::max(exp, ExactFloat::kMinExp - 1 - e);
  exp = std::min(exp, ExactFloat::kMaxExp + 1 - e);
  ExactFloat r(a);
  r.bn_exp_ += exp;
  r.Canonicalize();
  return r;
}

ExactFloat scalbln(const ExactFloat& a, long exp) {  // NOLINT(runtime/int)
  const long clamped = std::clamp<long>(exp, INT_MIN, INT_MAX);  // NOLINT
  return ldexp(a, static_cast<int>(clamped));
}

ExactFloat frexp(const ExactFloat& a, int* exp) {
  if (!a.is_normal()) {
    *exp = 0;
    return a;
  }
  *exp = a.exp();
  return ldexp(a, -*exp);
}

int ilogb(const ExactFloat& a) {
  if (a.is_normal()) return a.exp() - 1;
  return a.is_inf() ? INT_MAX : INT_MIN;
}

ExactFloat logb(const ExactFloat& a) {
  if (a.is_normal()) return ExactFloat(a.exp() - 1);
  if (a.is_zero()) return ExactFloat::Infinity(-1);
  if (a.is_inf()) return ExactFloat::Infinity(1);
  return a;
}

// ---------------------------------------------------------------------------
// Decimal text

int ExactFloat::NumSignificantDigitsForPrec(int prec) {
  // One ulp below the double nearest log10(2); equal results for every prec
  // up to kMaxPrec.
  constexpr double kLog10Of2 = 0.30102999566398114;
  return static_cast<int>(std::ceil(prec * kLog10Of2) + 1.0);
}

namespace {

// Rounds the decimal numeral `text` (no leading zero, length n) to its first
// max_digits digits, half to even on the whole tail, into *digits. Returns the
// number of digits dropped. A carry out of the first digit makes *digits one
// longer ("1" followed by zeros).
int RoundDecimalText(const char* text, size_t n, size_t max_digits,
                     std::string* digits) {
  if (n <= max_digits) {
    digits->assign(text, n);
    return 0;
  }
  digits->assign(text, max_digits);
  const char d = text[max_digits];
  bool round_up = d > '5';
  if (d == '5') {
    const bool odd = ((*digits)[max_digits - 1] - '0') % 2 == 1;
    round_up = odd || strpbrk(text + max_digits + 1, "123456789") != nullptr;
  }
  if (round_up) {
    size_t i = max_digits;
    while (i > 0 && (*digits)[i - 1] == '9') (*digits)[--i] = '0';
    if (i == 0) {
      digits->insert(0, "1");
    } else {
      ++(*digits)[i - 1];
    }
  }
  return static_cast<int>(n - max_digits);
}

// Drops trailing zeros from a nonempty digit string that starts with a
// nonzero digit; returns how many were dropped.
int StripTrailingZeros(std::string* digits) {
  const size_t keep = digits->find_last_not_of('0') + 1;
  const int dropped = static_cast<int>(digits->size() - keep);
  digits->resize(keep);
  return dropped;
}

}  // namespace

int ExactFloat::GetDecimalDigits(int max_digits, std::string* digits) const {
  max_digits = std::max(max_digits, 1);
  if (!is_normal()) {
    *digits = "0";
    return 0;
  }
  return GetDecimalDigitsExact(max_digits, digits);
}

int ExactFloat::GetDecimalDigitsExact(int max_digits, std::string* digits) const {
  // The exact decimal integer N with |value| = N * 10^s: m * 2^bn_exp_ when
  // bn_exp_ >= 0, else m * 5^-bn_exp_ (since 2^-k = 5^k * 10^-k).
  BigNum bn_holder;
  BIGNUM* bn = bn_holder.get();
  int s = 0;
  if (bn_exp_ >= 0) {
    CHECK(BN_lshift(bn, bn_.get(), bn_exp_));
  } else {
    s = bn_exp_;
    BigNum power_holder;
    BIGNUM* power = power_holder.get();
    CHECK(BN_set_word(power, -bn_exp_));
    CHECK(BN_set_word(bn, 5));
    BN_CTX* ctx = BN_CTX_new();
    CHECK(ctx != nullptr);
    CHECK(BN_exp(bn, bn, power, ctx));
    CHECK(BN_mul(bn, bn, bn_.get(), ctx));
    BN_CTX_free(ctx);
  }
  char* text = BN_bn2dec(bn);
  CHECK(text != nullptr);
  s += RoundDecimalText(text, strlen(text), max_digits, digits);
  OPENSSL_free(text);
  s += StripTrailingZeros(digits);
  return static_cast<int>(digits->size()) + s;
}

std::string ExactFloat::ToStringWithMaxDigits(int max_digits) const {
  if (!is_normal()) {
    if (is_nan()) return "nan";
    if (is_zero()) return sign_ < 0 ? "-0" : "0";
    return sign_ < 0 ? "-inf" : "inf";
  }
  max_digits = std::max(max_digits, 1);
  std::string digits;
  const int e = GetDecimalDigits(max_digits, &digits);
  const int k = static_cast<int>(digits.size());
  std::string str;
  if (sign_ < 0) str.push_back('-');
  if (e < -3 || e > max_digits) {
    str.push_back(digits[0]);
    if (k > 1) {
      str.push_back('.');
      str.append(digits, 1, std::string::npos);
    }
    char exp_text[20];
    snprintf(exp_text, sizeof(exp_text), "e%+02d", e - 1);
    str += exp_text;
  } else if (e <= 0) {
    str += "0.";
    str.append(-e, '0');
    str += digits;
  } else if (e < k) {
    str.append(digits, 0, e);
    str.push_back('.');
    str.append(digits, e, std::string::npos);
  } else {
    str += digits;
    str.append(e - k, '0');
  }
  return str;
}

std::string ExactFloat::ToString() const {
  return ToStringWithMaxDigits(
      std::max(10, NumSignificantDigitsForPrec(prec())));
}

std::string ExactFloat::ToUniqueString() const {
  char prec_text[20];
  snprintf(prec_text, sizeof(prec_text), "<%d>", prec());
  return ToString() + prec_text;
}

std::ostream& operator<<(std::ostream& os, const ExactFloat& a) {
  return os << a.ToString();
}

}  // namespace nurvik::lattis

size_t std::hash<nurvik::lattis::ExactFloat>::operator()(
    const nurvik::lattis::ExactFloat& a) const noexcept {
  // Normal values are equal exactly when sign, bn_exp_ and mantissa agree;
  // both zeros share bn_exp_ and an empty mantissa, and are hashed by
  // bn_exp_ alone.
  size_t h = std::hash<int>()(a.bn_exp_);
  if (!a.is_normal()) return h;
  h = h * 31 + std::hash<int>()(a.sign_);
  const BIGNUM* m = a.bn_.get();
  const int words = (BN_num_bits(m) + BN_BITS2 - 1) / BN_BITS2;
  for (int i = 0; i < words; ++i) {
    h = h * 1000003 ^ std::hash<BN_ULONG>()(m->d[i]);
  }
  return h;
}
