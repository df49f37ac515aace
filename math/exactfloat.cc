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
#include <utility>

#include "math/bigint_algorithms.h"
#include "math/ntt_multiply.h"

namespace nurvik::lattis {

// ---------------------------------------------------------------------------
// Representation
//
// A normal value is sign_ * bn_ * 2^bn_exp_ with bn_ odd (one representation
// per value), kMinExp <= exp() <= kMaxExp and prec() <= kMaxPrec. It follows
// that bn_exp_ lies in [kMinExp - kMaxPrec, kMaxExp - 1], so sums and
// differences of two exponents always fit an int. Zero, infinity and NaN hold
// an empty mantissa and a state code in bn_exp_.

static_assert(sizeof(ExactFloat) == 64, "two ints, a BIGNUM, four words");

void BigNum::Grow(int words) {
  auto* d = static_cast<BN_ULONG*>(std::malloc(sizeof(BN_ULONG) * words));
  CHECK(d != nullptr);
  std::copy_n(bn_.d, bn_.width, d);
  if (!is_inline()) std::free(bn_.d);
  bn_.d = d;
  bn_.dmax = words;
}

void BigNum::FreeHeap() noexcept {
  if ((bn_.flags & BN_FLG_STATIC_DATA) != 0) {
    std::free(bn_.d);
  } else {
    BN_free(&bn_);
  }
}

namespace {

// Machine-word arithmetic on the digits of small mantissas. Every function
// takes little-endian word arrays with explicit lengths and allocates
// nothing; lengths are minimal on input unless a function says otherwise.
using Word = BN_ULONG;
static_assert(sizeof(Word) == 8 && BN_BITS2 == 64, "64-bit words");
using DoubleWord = unsigned __int128;
constexpr int kWordBits = BN_BITS2;
constexpr int kInlineWords = BigNum::kInlineWords;

int64_t WordsForBits(int64_t bits) {
  return (bits + kWordBits - 1) / kWordBits;
}

// The length of d[0..n) without its leading zero words.
int MinimalWidth(const Word* d, int n) {
  while (n > 0 && d[n - 1] == 0) --n;
  return n;
}

// Bit i of d[0..n); 0 past the top.
bool WordBit(const Word* d, int n, int64_t i) {
  return i / kWordBits < n && ((d[i / kWordBits] >> (i % kWordBits)) & 1) != 0;
}

// The number of trailing zero bits of a nonzero d.
int LowZeroBits(const Word* d) {
  int i = 0;
  while (d[i] == 0) ++i;
  return i * kWordBits + __builtin_ctzl(d[i]);
}

// Word i of a[0..na) * 2^shift.
Word ShiftedWord(const Word* a, int na, int64_t shift, int64_t i) {
  const int64_t j = i - shift / kWordBits;
  const int bits = static_cast<int>(shift % kWordBits);
  const Word at = j >= 0 && j < na ? a[j] : 0;
  if (bits == 0) return at;
  const Word below = j >= 1 && j <= na ? a[j - 1] : 0;
  return at << bits | below >> (kWordBits - bits);
}

// r = floor(a[0..na) / 2^shift); r may be a. Returns the result's length.
int ShiftRightWords(Word* r, const Word* a, int na, int64_t shift) {
  const int64_t skip = shift / kWordBits;
  if (skip >= na) return 0;
  const int bits = static_cast<int>(shift % kWordBits);
  const int n = na - static_cast<int>(skip);
  for (int i = 0; i < n; ++i) {
    Word w = a[skip + i] >> bits;
    if (bits != 0 && i + 1 < n) w |= a[skip + i + 1] << (kWordBits - bits);
    r[i] = w;
  }
  return MinimalWidth(r, n);
}

// The trailing zero bits of a nonzero 128-bit integer.
int LowZeroBits128(DoubleWord v) {
  const auto low = static_cast<Word>(v);
  return low != 0 ? __builtin_ctzl(low)
                  : kWordBits + __builtin_ctzl(static_cast<Word>(v >> 64));
}

// Sets an inline zero mantissa to the nonzero v.
void SetWords128(BigNum* bn, DoubleWord v) {
  bn->words()[0] = static_cast<Word>(v);
  bn->words()[1] = static_cast<Word>(v >> kWordBits);
  bn->set_width(bn->words()[1] != 0 ? 2 : 1);
}

// r[0..n) = a * 2^shift + b, or - b when `subtract`, in one pass that writes
// each word once; n words hold the result and a carry. A difference that
// comes out negative is replaced by its magnitude, and then the result is
// true.
bool AlignedSumWords(Word* r, int64_t n, const Word* a, int na, int64_t shift,
                     const Word* b, int nb, bool subtract) {
  Word carry = 0;  // the borrow, for a difference
  auto step = [&](int64_t i, Word x) {
    const Word y = i < nb ? b[i] : 0;
    if (subtract) {
      r[i] = x - y - carry;
      carry = x < y || (x == y && carry != 0);
    } else {
      const DoubleWord sum = DoubleWord{x} + y + carry;
      r[i] = static_cast<Word>(sum);
      carry = static_cast<Word>(sum >> kWordBits);
    }
  };
  // Three runs: below a's lowest word (b alone), a's shifted words, and
  // above them (carries and the rest of b).
  const int64_t skip = std::min(shift / kWordBits, n);
  const int bits = static_cast<int>(shift % kWordBits);
  const int64_t low = std::min<int64_t>(skip, nb);
  int64_t i = 0;
  if (subtract) {
    for (; i < low; ++i) {
      r[i] = Word{0} - b[i] - carry;
      carry = b[i] != 0 || carry != 0;
    }
    for (; i < skip; ++i) r[i] = Word{0} - carry;
  } else {
    for (; i < low; ++i) r[i] = b[i];
    for (; i < skip; ++i) r[i] = 0;
  }
  Word below = 0;
  for (int j = 0; i < n && j <= na; ++i, ++j) {
    const Word at = j < na ? a[j] : 0;
    step(i, bits == 0 ? at : at << bits | below >> (kWordBits - bits));
    below = at;
  }
  for (; i < n; ++i) step(i, 0);
  if (carry == 0) return false;
  // r holds 2^(64 n) - |difference|: negate it.
  Word borrow = 0;
  for (int64_t i = 0; i < n; ++i) {
    const Word x = r[i];
    r[i] = Word{0} - x - borrow;
    borrow = x != 0 || borrow != 0;
  }
  return true;
}

// The sign of a[0..na) * 2^shift - b[0..nb), from the top word down.
int CompareShiftedWords(const Word* a, int na, int64_t shift, const Word* b,
                        int nb) {
  const int64_t top = std::max<int64_t>(na + shift / kWordBits + 1, nb);
  for (int64_t i = top; i-- > 0;) {
    const Word x = ShiftedWord(a, na, shift, i), y = i < nb ? b[i] : 0;
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

// r[0..na+nb) = a * b by the schoolbook method; r overlaps neither. The
// first row stores without reading r, so r needs no clearing.
void MultiplyWords(Word* r, const Word* a, int na, const Word* b, int nb) {
  for (int i = 0; i < na; ++i) {
    Word carry = 0;
    for (int j = 0; j < nb; ++j) {
      const DoubleWord t =
          DoubleWord{a[i]} * b[j] + (i == 0 ? 0 : r[i + j]) + carry;
      r[i + j] = static_cast<Word>(t);
      carry = static_cast<Word>(t >> kWordBits);
    }
    r[i + nb] = carry;
  }
}

}  // namespace

ExactFloat& ExactFloat::operator=(const ExactFloat& b) {
  if (this != &b) {
    sign_ = b.sign_;
    bn_exp_ = b.bn_exp_;
    if (!bn_.CopySmall(b.bn_)) CopyLarge(b);
  }
  return *this;
}

void ExactFloat::CopyLarge(const ExactFloat& b) {
  bn_.Reserve(b.bn_.width());
  CHECK(BN_copy(bn_.get(), b.bn_.get()));
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

void ExactFloat::Unimplemented() {
  LOG(FATAL) << "Unimplemented ExactFloat method called";
  abort();  // not reached; LOG(FATAL) does not return
}

void ExactFloat::set_zero(int sign) {
  sign_ = sign;
  bn_exp_ = kExpZero;
  if (bn_.width() != 0) BN_zero(bn_.get());
}

void ExactFloat::set_inf(int sign) {
  sign_ = sign;
  bn_exp_ = kExpInfinity;
  if (bn_.width() != 0) BN_zero(bn_.get());
}

void ExactFloat::set_nan() {
  sign_ = 1;
  bn_exp_ = kExpNaN;
  if (bn_.width() != 0) BN_zero(bn_.get());
}

void ExactFloat::Canonicalize() {
  if (bn_exp_ >= kExpZero) return;
  bn_.set_width(MinimalWidth(bn_.words(), bn_.width()));
  // One bit count serves every test: moving trailing zero bits into the
  // exponent leaves exp() unchanged and shortens prec() by as many bits, and
  // zero and infinity have prec() 0.
  int p = prec();
  const int e = bn_exp_ + p;
  if (e < kMinExp || p == 0) {
    set_zero(sign_);
    return;
  }
  if (e > kMaxExp) {
    set_inf(sign_);
    return;
  }
  if ((bn_.words()[0] & 1) == 0) {
    int shift = 0;
    if (bn_.is_small()) {
      shift = LowZeroBits(bn_.words());
      bn_.set_width(
          ShiftRightWords(bn_.words(), bn_.words(), bn_.width(), shift));
    } else {
      shift = BN_count_low_zero_bits(bn_.get());  // > 0: even, not 0
      CHECK(BN_rshift(bn_.get(), bn_.get(), shift));
    }
    bn_exp_ += shift;
    p -= shift;
  }
  if (p > kMaxPrec) set_nan();
}

// ---------------------------------------------------------------------------
// Construction from machine numbers

namespace {
// The double grid: finite magnitudes lie below 2^kMaxDoubleExp, and every
// double is a multiple of 2^kMinDoubleBitExp (the smallest subnormal).
constexpr int kMaxDoubleExp = 1024;
constexpr int kMinDoubleBitExp = -1074;
}  // namespace

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
    if (m == 0) {
      set_zero(sign_);
    } else {
      // Normal form without Canonicalize: the trailing zero bits move into
      // the exponent on the machine word, and a double's exponent and 53 bits
      // lie far inside the limits.
      const int zeros = __builtin_ctzll(m);
      bn_.words()[0] = m >> zeros;
      bn_.set_width(1);
      bn_exp_ = e - kDoubleMantissaBits + zeros;
    }
  }
}

namespace {

// |v| for every 64-bit v, INT64_MIN included.
uint64_t Magnitude(int64_t v) {
  return v < 0 ? uint64_t{0} - static_cast<uint64_t>(v)
               : static_cast<uint64_t>(v);
}

}  // namespace

ExactFloat::ExactFloat(int v) : ExactFloat(static_cast<long long>(v)) {}
ExactFloat::ExactFloat(long v)  // NOLINT(runtime/int)
    : ExactFloat(static_cast<long long>(v)) {}  // NOLINT(runtime/int)
ExactFloat::ExactFloat(long long v)  // NOLINT(runtime/int)
    : sign_(v < 0 ? -1 : 1), bn_exp_(0) {
  SetMantissaWord(Magnitude(v));
  Canonicalize();
}
ExactFloat::ExactFloat(unsigned v)
    : ExactFloat(static_cast<unsigned long long>(v)) {}  // NOLINT(runtime/int)
ExactFloat::ExactFloat(unsigned long v)  // NOLINT(runtime/int)
    : ExactFloat(static_cast<unsigned long long>(v)) {}  // NOLINT(runtime/int)
ExactFloat::ExactFloat(unsigned long long v)  // NOLINT(runtime/int)
    : sign_(1), bn_exp_(0) {
  SetMantissaWord(v);
  Canonicalize();
}

ExactFloat::ExactFloat(long double v)
    : sign_(std::signbit(v) ? -1 : 1), bn_exp_(0) {
  if (std::isnan(v)) {
    set_nan();
  } else if (std::isinf(v)) {
    set_inf(sign_);
  } else {
    // frexp splits subnormals exactly, and the 64-bit significand scaled to
    // an integer fits the word.
    int e = 0;
    const long double f = std::frexp(std::fabs(v), &e);
    SetMantissaWord(static_cast<uint64_t>(std::ldexp(f, 64)));
    bn_exp_ = e - 64;
    Canonicalize();
  }
}

void ExactFloat::SetMantissaWord(uint64_t magnitude) {
  bn_.words()[0] = magnitude;
  bn_.set_width(magnitude != 0);
}

namespace {

// sign * m * 2^e for m * 2^e on the double grid below 2^1024: e lies in
// [-1074, 1023], so 2^e is a double and the product is exact, whatever the
// floating-point environment.
double GridDouble(uint64_t m, int e, int sign) {
  const uint64_t power_bits = e >= -1022
                                  ? static_cast<uint64_t>(e + 1023) << 52
                                  : uint64_t{1} << (e - kMinDoubleBitExp);
  double power;
  memcpy(&power, &power_bits, sizeof(power));
  return static_cast<double>(m) * power * static_cast<double>(sign);
}

}  // namespace

double ExactFloat::ToDoubleHelper() const {
  if (is_normal()) {
    // Magnitudes of 2^1024 and more overflow here, not in ldexp, whose
    // overflow result follows the floating-point environment.
    if (exp() > kMaxDoubleExp) return sign_ < 0 ? -HUGE_VAL : HUGE_VAL;
    // The one word of at most 53 bits.
    return GridDouble(bn_.words()[0], bn_exp_, sign_);
  }
  if (is_zero()) return sign_ < 0 ? -0.0 : 0.0;
  if (is_inf()) return sign_ < 0 ? -HUGE_VAL : HUGE_VAL;
  // The default quiet NaN, 0x7ff8000000000000, with the sign of sign_.
  const uint64_t bits =
      uint64_t{0x7ff8000000000000} | (sign_ < 0 ? uint64_t{1} << 63 : 0);
  double nan;
  memcpy(&nan, &bits, sizeof(nan));
  return nan;
}

// ---------------------------------------------------------------------------
// Rounding

namespace {

// Whether rounding the magnitude at bit `shift` (shift > 0 low bits dropped)
// increments the kept part, from at most two single-bit tests and one count
// of the mantissa's low zero bits.
template <class BitSet, class LowZeros>
bool RoundsUp(ExactFloat::RoundingMode mode, int sign, int shift,
              BitSet bit_set, LowZeros low_zeros) {
  auto any_dropped = [&] { return low_zeros() < shift; };
  switch (mode) {
    case ExactFloat::kRoundTiesAwayFromZero:
      return bit_set(shift - 1);
    case ExactFloat::kRoundTowardZero:
      return false;
    case ExactFloat::kRoundAwayFromZero:
      return any_dropped();
    case ExactFloat::kRoundTowardPositive:
      return sign > 0 && any_dropped();
    case ExactFloat::kRoundTowardNegative:
      return sign < 0 && any_dropped();
    default:  // kRoundTiesToEven
      return bit_set(shift - 1) &&
             (bit_set(shift) || low_zeros() < shift - 1);
  }
}

}  // namespace

ExactFloat ExactFloat::RoundToPowerOf2(int bit_exp, RoundingMode mode) const {
  if (!is_normal()) return *this;
  // Widened: bit_exp may be any int. Past kMaxExp + 2 every bit is dropped
  // and the half bit reads 0 for every normal value, so a larger bit_exp
  // gives the same result (zero, or a power of two that overflows).
  const int64_t wide_shift = int64_t{bit_exp} - bn_exp_;
  if (wide_shift <= 0) return *this;
  const int kept_exp = std::min(bit_exp, kMaxExp + 2);
  const int shift = kept_exp - bn_exp_;

  ExactFloat r;
  r.sign_ = sign_;
  r.bn_exp_ = kept_exp;
  if (bn_.width() <= 2) {
    // One 128-bit integer; the kept part, below 2^127, cannot overflow.
    const Word* d = bn_.words();
    const DoubleWord m =
        DoubleWord{d[0]} | (bn_.width() == 2 ? DoubleWord{d[1]} << 64 : 0);
    const bool increment = RoundsUp(
        mode, sign_, shift,
        [&](int i) { return i < 128 && ((m >> i) & 1) != 0; },
        [&] { return LowZeroBits128(m); });
    DoubleWord kept = shift < 128 ? m >> shift : 0;
    if (increment) ++kept;
    if (kept != 0) {
      const int zeros = LowZeroBits128(kept);
      kept >>= zeros;
      r.bn_exp_ += zeros;
      SetWords128(&r.bn_, kept);
    }
  } else if (bn_.is_small()) {
    // Machine words: the kept part, plus one, in a word more than the
    // mantissa; its trailing zero bits go straight into the exponent, and
    // what remains fits the inline words (a carry out of the top leaves a
    // power of two).
    const Word* d = bn_.words();
    const int n = bn_.width();
    const bool increment = RoundsUp(
        mode, sign_, shift, [&](int i) { return WordBit(d, n, i); },
        [&] { return LowZeroBits(d); });
    Word kept[kInlineWords + 1];
    int kept_width = ShiftRightWords(kept, d, n, shift);
    if (increment) {
      int i = 0;
      while (i < kept_width && ++kept[i] == 0) ++i;
      if (i == kept_width) kept[kept_width++] = 1;
    }
    if (kept_width > 0) {
      const int zeros = LowZeroBits(kept);
      r.bn_.set_width(
          ShiftRightWords(r.bn_.words(), kept, kept_width, zeros));
      r.bn_exp_ += zeros;
    }
  } else {
    // Decide the increment from the operand's bits, before any shift.
    const BIGNUM* m = bn_.get();
    const bool increment = RoundsUp(
        mode, sign_, shift, [&](int i) { return BN_is_bit_set(m, i); },
        [&] { return static_cast<int>(BN_count_low_zero_bits(m)); });
    r.bn_.Reserve(bn_.width() + 1);  // BN_rshift writes the operand's width
    CHECK(BN_rshift(r.bn_.get(), bn_.get(), shift));
    if (increment) CHECK(BN_add_word(r.bn_.get(), 1));
  }
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

ExactFloat ExactFloat::RoundedFromMantissa(int sign, const BIGNUM* mantissa,
                                           int64_t exp, int max_prec,
                                           RoundingMode mode) {
  if (BN_is_zero(mantissa)) return SignedZero(sign);
  // Round the mantissa as a value of exp() 0, where every precision fits the
  // exponent range, then scale: ldexp applies the range. Below one bit the
  // result is zero or a single power of two, the same for every max_prec
  // below 0 but for its exponent.
  const int bits = BN_num_bits(mantissa);
  ExactFloat t;
  t.sign_ = sign;
  t.bn_exp_ = -bits;
  t.bn_.Reserve(bits / kWordBits + 1);
  CHECK(BN_copy(t.bn_.get(), mantissa));
  ExactFloat r = t.RoundToMaxPrec(std::max(max_prec, -1), mode);
  r.Canonicalize();
  const int64_t below = max_prec < -1 ? -int64_t{max_prec} - 1 : 0;
  return scalbln(r, static_cast<long>(  // NOLINT(runtime/int)
                        std::clamp<int64_t>(exp + bits + below, INT_MIN,
                                            INT_MAX)));
}

ExactFloat ExactFloat::RoundedFromWord(int sign, uint64_t mantissa, int64_t exp,
                                       int max_prec, RoundingMode mode) {
  const int bits = kWordBits - __builtin_clzll(mantissa);
  if (max_prec < 1) {
    BigNum m;
    m.words()[0] = mantissa;
    m.set_width(1);
    return RoundedFromMantissa(sign, m.get(), exp, max_prec, mode);
  }
  const int shift = std::max(0, bits - max_prec);
  uint64_t kept = mantissa >> shift;
  if (shift > 0 &&
      RoundsUp(
          mode, sign, shift,
          [&](int i) { return ((mantissa >> i) & 1) != 0; },
          [&] { return __builtin_ctzll(mantissa); })) {
    ++kept;  // at most 2^max_prec: no carry out of the word
  }
  const int zeros = __builtin_ctzll(kept);
  kept >>= zeros;
  ExactFloat r;
  r.sign_ = sign;
  const int64_t low = exp + shift + zeros;
  const int64_t top = low + kWordBits - __builtin_clzll(kept);
  if (top < kMinExp) {
    r.set_zero(sign);
  } else if (top > kMaxExp) {
    r.set_inf(sign);
  } else {
    r.SetMantissaWord(kept);
    r.bn_exp_ = static_cast<int>(low);
  }
  return r;
}

double ExactFloat::ToDouble() const {
  // One rounding, to 53 bits or, below 2^-1022, to the subnormal grid
  // 2^-1074: the scaling in ToDoubleHelper is then exact, so the result is
  // the correctly rounded double whatever the floating-point environment.
  if (!is_normal()) return ToDoubleHelper();
  const int bit_exp = std::max(exp() - kDoubleMantissaBits, kMinDoubleBitExp);
  if (bn_exp_ >= bit_exp) return ToDoubleHelper();  // already a double
  if (bn_.width() <= 2) {
    // The same rounding on one 128-bit integer, without a rounded value.
    const Word* d = bn_.words();
    const DoubleWord m =
        DoubleWord{d[0]} | (bn_.width() == 2 ? DoubleWord{d[1]} << 64 : 0);
    const int shift = bit_exp - bn_exp_;
    if (shift > 128) return GridDouble(0, 0, sign_);  // below half the grid
    const DoubleWord kept = shift < 128 ? m >> shift : 0;
    const DoubleWord dropped = shift < 128 ? m - (kept << shift) : m;
    const DoubleWord half = DoubleWord{1} << (shift - 1);
    const bool up = dropped > half || (dropped == half && (kept & 1) != 0);
    const auto rounded = static_cast<uint64_t>(kept) + up;  // at most 2^53
    if (bit_exp + 64 - __builtin_clzll(rounded | 1) > kMaxDoubleExp) {
      return sign_ < 0 ? -HUGE_VAL : HUGE_VAL;
    }
    return GridDouble(rounded, bit_exp, sign_);
  }
  return RoundToPowerOf2(bit_exp, kRoundTiesToEven).ToDoubleHelper();
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
  const uint64_t m = r.bn_.words()[0];  // one word: below 2^63
  const auto magnitude = static_cast<T>(m << r.bn_exp_);
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
  // Every path returns r, so that r is built in the caller's storage and
  // never moved.
  ExactFloat r;
  if (a->is_nan() || b->is_nan()) {
    r = a->is_nan() ? *a : *b;
    return r;
  }
  if (a->is_inf() || b->is_inf()) {
    if (!a->is_inf()) {
      r.set_inf(b_sign);
    } else if (b->is_inf() && a_sign != b_sign) {
      r.set_nan();
    } else {
      r.set_inf(a_sign);
    }
    return r;
  }
  if (a->is_zero() || b->is_zero()) {
    if (a->is_normal() || b->is_normal()) {
      const bool a_normal = a->is_normal();
      r = a_normal ? *a : *b;
      r.sign_ = a_normal ? a_sign : b_sign;
    } else {
      r.set_zero(a_sign == b_sign ? a_sign : 1);
    }
    return r;
  }

  // Both normal. Align the operand with the larger exponent (a) to the
  // other's; only pointers and signs are swapped.
  if (a->bn_exp_ < b->bn_exp_) {
    std::swap(a, b);
    std::swap(a_sign, b_sign);
  }
  const int gap = a->bn_exp_ - b->bn_exp_;
  r.bn_exp_ = b->bn_exp_;
  // Room for the aligned a, or b, and a carry.
  const int64_t words =
      std::max<int64_t>(WordsForBits(int64_t{a->prec()} + gap),
                        b->bn_.width()) + 1;
  r.bn_.Reserve(static_cast<int>(words));
  if (a->bn_.is_small() && b->bn_.is_small()) {
    // Machine words: a shifted into r's digits, then b added or subtracted
    // in place.
    Word* d = r.bn_.words();
    const bool negative = AlignedSumWords(
        d, words, a->bn_.words(), a->bn_.width(), gap, b->bn_.words(),
        b->bn_.width(), a_sign != b_sign);
    r.bn_.set_width(MinimalWidth(d, static_cast<int>(words)));
    // Exact cancellation gives +0.
    r.sign_ = r.bn_.width() == 0 ? 1 : negative ? b_sign : a_sign;
    r.Canonicalize();
    return r;
  }
  if (gap > 0) {
    CHECK(BN_lshift(r.bn_.get(), a->bn_.get(), a->bn_exp_ - b->bn_exp_));
    a = &r;  // from here on, a's mantissa is the aligned copy in r
  }
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
  // Every path returns r, so that r is built in the caller's storage and
  // never moved.
  ExactFloat r;
  if (a.is_nan() || b.is_nan()) {
    r = a.is_nan() ? a : b;
    return r;
  }
  if (a.is_inf() || b.is_inf()) {
    if (a.is_zero() || b.is_zero()) {
      r.set_nan();
    } else {
      r.set_inf(s);
    }
    return r;
  }
  if (a.is_zero() || b.is_zero()) {
    r.set_zero(s);
    return r;
  }

  r.sign_ = s;
  r.bn_exp_ = a.bn_exp_ + b.bn_exp_;  // both in normal range: cannot overflow
  if (a.bn_.is_small() && b.bn_.is_small()) {
    // Machine words, no BN_CTX: the product of two odd mantissas is odd.
    const int words = a.bn_.width() + b.bn_.width();
    r.bn_.Reserve(words);
    MultiplyWords(r.bn_.words(), a.bn_.words(), a.bn_.width(), b.bn_.words(),
                  b.bn_.width());
    r.bn_.set_width(MinimalWidth(r.bn_.words(), words));
  } else if (NttIsFaster(a.bn_.width(), b.bn_.width(), &a == &b)) {
    r.bn_.ReleaseInline();  // the transform sizes its output itself
    NttMultiply(r.bn_.get(), a.bn_.get(), b.bn_.get());
  } else {
    r.bn_.ReleaseInline();  // BN_mul sizes its output itself
    BN_CTX* ctx = BN_CTX_new();
    CHECK(ctx != nullptr);
    CHECK(BN_mul(r.bn_.get(), a.bn_.get(), b.bn_.get(), ctx));
    BN_CTX_free(ctx);
  }
  r.Canonicalize();
  return r;
}

namespace {

int BitLength(DoubleWord v) {
  const auto high = static_cast<Word>(v >> kWordBits);
  return high != 0 ? 2 * kWordBits - __builtin_clzl(high)
         : v != 0  ? kWordBits - __builtin_clzl(static_cast<Word>(v))
                   : 0;
}

}  // namespace

// Quotients and roots are rounded to odd at q_bits = max(max_prec, 1) + 2
// bits: the truncation, with its last bit set when anything was dropped,
// stands for every value strictly between two truncations, so rounding it
// again to max_prec bits, in any mode, rounds as the exact result would.
ExactFloat ExactFloat::RoundedQuotient(int sign, const ExactFloat& a,
                                       const ExactFloat& b, int max_prec,
                                       RoundingMode mode) {
  const int64_t q_bits = int64_t{std::max(max_prec, 1)} + 2;
  const int64_t exp = int64_t{a.bn_exp_} - b.bn_exp_;
  const int a_bits = a.prec(), b_bits = b.prec();
  // a 2^s has b_bits + q_bits bits or more: the quotient has at least q_bits.
  const int64_t s = std::max<int64_t>(0, q_bits + b_bits - a_bits);
  if (a.bn_.width() == 1 && b.bn_.width() == 1 && q_bits <= 63) {
    // One 128-bit quotient, a 2^s below 2^127.
    const Word divisor = b.bn_.words()[0];
    const DoubleWord dividend = DoubleWord{a.bn_.words()[0]} << s;
    DoubleWord q = dividend / divisor;
    bool sticky = q * divisor != dividend;
    const int drop = BitLength(q) - static_cast<int>(q_bits);
    sticky = sticky || (q & ((DoubleWord{1} << drop) - 1)) != 0;
    q >>= drop;
    return RoundedFromWord(sign, static_cast<Word>(q) | sticky,
                           exp - s + drop, max_prec, mode);
  }
  BN_CTX* ctx = BN_CTX_new();
  CHECK(ctx != nullptr);
  bigint::BnPtr dividend = bigint::NewBn(), divisor = bigint::NewBn(),
                q = bigint::NewBn(), rem = bigint::NewBn();
  CHECK(BN_lshift(dividend.get(), a.bn_.get(), static_cast<int>(s)));
  // Newton's quotient needs a dividend below the divisor squared: a divisor
  // shorter than the quotient is lengthened by zero bits, on both.
  const int pad =
      std::max(0, static_cast<int>(BN_num_bits(dividend.get())) - 2 * b_bits);
  CHECK(BN_lshift(dividend.get(), dividend.get(), pad));
  CHECK(BN_lshift(divisor.get(), b.bn_.get(), pad));
  bigint::DivFloor(q.get(), rem.get(), dividend.get(), divisor.get(), nullptr,
                   ctx);
  BN_CTX_free(ctx);
  const int drop = BN_num_bits(q.get()) - static_cast<int>(q_bits);
  const bool sticky =
      !BN_is_zero(rem.get()) || bigint::LowBitsNonzero(q.get(), drop);
  CHECK(BN_rshift(q.get(), q.get(), drop));
  if (sticky) CHECK(BN_set_bit(q.get(), 0));
  return RoundedFromMantissa(sign, q.get(), exp - s + drop, max_prec, mode);
}

ExactFloat ExactFloat::RoundedRoot(const ExactFloat& a, int max_prec,
                                   RoundingMode mode) {
  const int64_t q_bits = int64_t{std::max(max_prec, 1)} + 2;
  // a = m 2^e with e made even by one bit of m; then the root of m 4^s,
  // s chosen so that it has at least q_bits bits, times 2^(e/2 - s).
  const int odd = a.bn_exp_ & 1;
  const int64_t half_exp = (int64_t{a.bn_exp_} - odd) / 2;
  const int m_bits = a.prec() + odd;
  const int64_t s = std::max<int64_t>(0, (2 * q_bits - m_bits) / 2 + 1);
  if (a.bn_.width() == 1 && q_bits <= 61) {
    // At most 2 q_bits + 2 <= 124 bits.
    const DoubleWord n = DoubleWord{a.bn_.words()[0]} << (odd + 2 * s);
    DoubleWord root = bigint::SqrtWords(n);
    bool sticky = root * root != n;
    const int drop = BitLength(root) - static_cast<int>(q_bits);
    sticky = sticky || (root & ((DoubleWord{1} << drop) - 1)) != 0;
    root >>= drop;
    return RoundedFromWord(1, static_cast<Word>(root) | sticky,
                           half_exp - s + drop, max_prec, mode);
  }
  BN_CTX* ctx = BN_CTX_new();
  CHECK(ctx != nullptr);
  bigint::BnPtr n = bigint::NewBn(), root = bigint::NewBn(),
                rem = bigint::NewBn();
  CHECK(BN_lshift(n.get(), a.bn_.get(), static_cast<int>(odd + 2 * s)));
  bigint::SqrtRem(root.get(), rem.get(), n.get(), ctx);
  BN_CTX_free(ctx);
  const int drop = BN_num_bits(root.get()) - static_cast<int>(q_bits);
  const bool sticky =
      !BN_is_zero(rem.get()) || bigint::LowBitsNonzero(root.get(), drop);
  CHECK(BN_rshift(root.get(), root.get(), std::max(drop, 0)));
  if (sticky) CHECK(BN_set_bit(root.get(), 0));
  return RoundedFromMantissa(1, root.get(), half_exp - s + drop, max_prec,
                             mode);
}

ExactFloat Divide(const ExactFloat& a, const ExactFloat& b, int max_prec,
                  ExactFloat::RoundingMode mode) {
  const int sign = a.sign_ * b.sign_;
  if (a.is_nan()) return a;
  if (b.is_nan()) return b;
  if (a.is_inf()) {
    return b.is_inf() ? ExactFloat::NaN() : ExactFloat::Infinity(sign);
  }
  if (b.is_inf()) return ExactFloat::SignedZero(sign);
  if (b.is_zero()) {
    return a.is_zero() ? ExactFloat::NaN() : ExactFloat::Infinity(sign);
  }
  if (a.is_zero()) return ExactFloat::SignedZero(sign);
  return ExactFloat::RoundedQuotient(sign, a, b, max_prec, mode);
}

ExactFloat Sqrt(const ExactFloat& a, int max_prec,
                ExactFloat::RoundingMode mode) {
  if (a.is_nan() || a.is_zero()) return a;  // sqrt(-0) is -0
  if (a.sign_ < 0) return ExactFloat::NaN();
  if (a.is_inf()) return a;
  return ExactFloat::RoundedRoot(a, max_prec, mode);
}

ExactFloat fma(const ExactFloat& a, const ExactFloat& b, const ExactFloat& c) {
  return a * b + c;
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
  const int shift = bn_exp_ - b.bn_exp_;
  if (bn_.is_small() && b.bn_.is_small()) {
    return CompareShiftedWords(bn_.words(), bn_.width(), shift, b.bn_.words(),
                               b.bn_.width());
  }
  // A copy with room for the shift: one allocation.
  ExactFloat tmp;
  tmp.bn_.Reserve(bn_.width() + shift / kWordBits + 1);
  CHECK(BN_copy(tmp.bn_.get(), bn_.get()));
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

// Adds one to a decimal numeral; a carry out of the first digit makes it one
// digit longer ("1" followed by zeros).
void IncrementDecimal(std::string* digits) {
  size_t i = digits->size();
  while (i > 0 && (*digits)[i - 1] == '9') (*digits)[--i] = '0';
  if (i == 0) {
    digits->insert(0, "1");
  } else {
    ++(*digits)[i - 1];
  }
}

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
  if (round_up) IncrementDecimal(digits);
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

using bigint::BnPtr;
using bigint::DivFloor;
using bigint::kLog2Of10;
using bigint::kLog2Of5;
using bigint::Log10Magnitude;
using bigint::LowBitsNonzero;
using bigint::NewBn;
using bigint::PowerOf5Bounds;
using bigint::ScaledBounds;

// Expansions of at most this many digits are formed whole; longer ones go
// through bounded scaling, whose cost barely grows with the length. Whole
// formation is a shift for bn_exp_ >= 0 but a power of 5 for bn_exp_ < 0.
// Measured for 17 digits of a 53-bit mantissa: bounded scaling 1.1-2.1 us at
// any length; whole formation 0.6 us at 24 digits, 1.3 us at 100 and 1.9 us
// at 200 for bn_exp_ >= 0, and 1.3 us at 24, 1.7 us at 50 and 2.5 us at 100
// for bn_exp_ < 0.
constexpr int64_t kExactDecimalDigits = 128;
constexpr int64_t kExactDecimalDigitsNegativeExp = 24;

}  // namespace

int ExactFloat::GetDecimalDigits(int max_digits, std::string* digits) const {
  max_digits = std::max(max_digits, 1);
  if (!is_normal()) {
    *digits = "0";
    return 0;
  }
  // Decimal exponent, right or one off; the expansion has about
  // e10 - min(bn_exp_, 0) digits.
  const int e10 =
      static_cast<int>(std::floor(Log10Magnitude(bn_.get(), bn_exp_))) + 1;
  if (int64_t{e10} - std::min(bn_exp_, 0) <=
      (bn_exp_ >= 0 ? kExactDecimalDigits : kExactDecimalDigitsNegativeExp)) {
    return GetDecimalDigitsExact(max_digits, digits);
  }
  return GetDecimalDigitsBounded(max_digits, e10, digits);
}

int ExactFloat::GetDecimalDigitsExact(int max_digits, std::string* digits) const {
  // The exact decimal integer N with |value| = N * 10^s: m * 2^bn_exp_ when
  // bn_exp_ >= 0, else m * 5^-bn_exp_ (since 2^-k = 5^k * 10^-k).
  BigNum bn_holder;
  BIGNUM* bn = bn_holder.get();
  int s = 0;
  if (bn_exp_ >= 0) {
    bn_holder.Reserve(bn_.width() + bn_exp_ / kWordBits + 1);
    CHECK(BN_lshift(bn, bn_.get(), bn_exp_));
  } else {
    s = bn_exp_;
    bn_holder.ReleaseInline();  // BN_exp and BN_mul size their output
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

int ExactFloat::GetDecimalDigitsBounded(int max_digits, int e10,
                                        std::string* digits) const {
  const BIGNUM* m = bn_.get();
  const int e = bn_exp_;
  // Digits past the whole expansion are zeros: capping the count there keeps
  // 10^k within the big-integer size limit.
  const int64_t length = int64_t{e10} - std::min(e, 0);
  const int64_t d = std::min<int64_t>(max_digits, length + 2);
  // x is bounded with `frac` binary places below its unit, at first 32, and
  // the working bits beyond them: kGuardBits keep the cut bounds' error below
  // the last place. Each round doubles the working bits and moves the new
  // ones into frac, so that a fraction close to an integer or to a half is
  // told apart as soon as the bits show it, not only once 10^k is exact.
  constexpr int kGuardBits = 64;
  BN_CTX* ctx = BN_CTX_new();
  CHECK(ctx != nullptr);
  BnPtr lo = NewBn(), hi = NewBn(), kept = NewBn(), kept_hi = NewBn();
  for (;;) {
    // x = |value| * 10^k has d integer digits when e10 is right. Bound
    // x * 2^frac, doubling the working bits until its floor and the side
    // of the half are certain; enough bits make the bounds exact.
    const int64_t k = d - e10;
    const int64_t exact_bits = std::max<int64_t>(
        prec(), static_cast<int64_t>(std::abs(k) * kLog2Of5) + 2);
    const int64_t int_bits = static_cast<int64_t>(d * kLog2Of10);
    int64_t w = int_bits + 32 + kGuardBits;
    bool round_up = false;
    for (;; w *= 2) {
      const int frac = static_cast<int>(w - int_bits - kGuardBits);
      bool sticky = false;
      const bool exact =
          ScaledBounds(m, e, k, frac, std::min(w, exact_bits), lo.get(),
                       hi.get(), &sticky, ctx);
      CHECK(BN_rshift(kept.get(), lo.get(), frac));
      const bool half = BN_is_bit_set(lo.get(), frac - 1);
      const bool above = LowBitsNonzero(lo.get(), frac - 1) || sticky;
      if (exact) {
        round_up = half && (above || BN_is_odd(kept.get()));
        break;
      }
      CHECK(BN_rshift(kept_hi.get(), hi.get(), frac));
      if (BN_cmp(kept.get(), kept_hi.get()) == 0) {
        if (!BN_is_bit_set(hi.get(), frac - 1)) break;  // below half
        if (half && above) {
          round_up = true;
          break;
        }
      }
      // An exact tie, which only x = m * 2^e / 10^(e+1) with 5^(e+1)
      // dividing m can be, is settled without the whole power of 5.
      if (e >= 0 && -k == int64_t{e} + 1 && (e + 1) * kLog2Of5 < prec()) {
        BnPtr power = NewBn(), err = NewBn(), rem = NewBn();
        int64_t t = 0;
        PowerOf5Bounds(int64_t{e} + 1, INT64_MAX, power.get(), err.get(), &t,
                       ctx);
        DivFloor(kept.get(), rem.get(), m, power.get(), nullptr, ctx);
        if (BN_is_zero(rem.get())) {  // x = kept / 2, kept odd
          CHECK(BN_rshift1(kept.get(), kept.get()));
          round_up = BN_is_odd(kept.get());
          break;
        }
      }
    }
    std::string text;
    bigint::AppendDecimal(kept.get(), ctx, &text);
    if (static_cast<int64_t>(text.size()) != d) {  // e10 was one off
      e10 += static_cast<int64_t>(text.size()) > d ? 1 : -1;
      continue;
    }
    BN_CTX_free(ctx);
    if (round_up) IncrementDecimal(&text);
    const int e_out = e10 + static_cast<int>(text.size() - d);
    StripTrailingZeros(&text);
    *digits = std::move(text);
    return e_out;
  }
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

// ---------------------------------------------------------------------------
// Values from text

namespace {

// Exponent digits saturate here: every exponent past it gives the same zero
// or infinity, whatever the digits and the precision, and sums of it with
// digit counts stay far inside int64.
constexpr int64_t kExponentLimit = 1000000000000000000;

// A text, taken apart by the grammar of FromString.
struct Text {
  enum class Kind { kNumber, kInfinity, kNaN };
  Kind kind = Kind::kNumber;
  int sign = 1;
  bool hex = false;
  // The significant digits, without leading or trailing zeros; empty for
  // zero. The value is digits * 10^exp, or digits * 2^exp for hex digits.
  std::string digits;
  int64_t exp = 0;
  int64_t round_bits = -1;  // N of a suffix <N>, saturated; -1 without one
};

bool IsDigit(char c, bool hex) {
  return (c >= '0' && c <= '9') ||
         (hex && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')));
}

bool EqualsLower(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i] >= 'A' && text[i] <= 'Z' ? text[i] - 'A' + 'a'
                                                     : text[i];
    if (c != lower[i]) return false;
  }
  return true;
}

// Reads decimal digits at *pos into *value, saturated at `limit`; returns
// how many there were. The saturation is decided before the product, which
// would overflow past INT64_MAX / 10.
size_t ReadDecimal(std::string_view text, size_t* pos, int64_t limit,
                   int64_t* value) {
  const size_t start = *pos;
  *value = 0;
  for (; *pos < text.size() && IsDigit(text[*pos], false); ++*pos) {
    const int digit = text[*pos] - '0';
    *value = *value > (limit - digit) / 10 ? limit : *value * 10 + digit;
  }
  return *pos - start;
}

bool ParseText(std::string_view text, Text* out) {
  size_t pos = 0;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    out->sign = text[pos++] == '-' ? -1 : 1;
  }
  // The suffix <N>, if the text ends with '>'.
  if (!text.empty() && text.back() == '>') {
    const size_t open = text.rfind('<');
    if (open == std::string_view::npos || open < pos) return false;
    size_t digit_pos = open + 1;
    if (ReadDecimal(text, &digit_pos, kExponentLimit, &out->round_bits) == 0 ||
        digit_pos != text.size() - 1) {
      return false;
    }
    text = text.substr(0, open);
  }
  const std::string_view body = text.substr(pos);
  if (EqualsLower(body, "inf") || EqualsLower(body, "infinity")) {
    out->kind = Text::Kind::kInfinity;
    return true;
  }
  if (EqualsLower(body, "nan")) {
    out->kind = Text::Kind::kNaN;
    return true;
  }
  if (body.size() >= 2 && body[0] == '0' && (body[1] == 'x' || body[1] == 'X')) {
    out->hex = true;
    pos += 2;
  }
  // Mantissa digits, with at most one point.
  int64_t fraction_digits = 0;
  bool point = false;
  size_t mantissa_digits = 0;
  for (; pos < text.size(); ++pos) {
    const char c = text[pos];
    if (c == '.' && !point) {
      point = true;
    } else if (IsDigit(c, out->hex)) {
      ++mantissa_digits;
      fraction_digits += point;
      if (!out->digits.empty() || c != '0') out->digits.push_back(c);
    } else {
      break;
    }
  }
  if (mantissa_digits == 0) return false;
  int64_t exp = 0;
  if (pos < text.size() &&
      (out->hex ? text[pos] == 'p' || text[pos] == 'P'
                : text[pos] == 'e' || text[pos] == 'E')) {
    ++pos;
    int exp_sign = 1;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
      exp_sign = text[pos++] == '-' ? -1 : 1;
    }
    if (ReadDecimal(text, &pos, kExponentLimit, &exp) == 0) return false;
    exp *= exp_sign;
  }
  if (pos != text.size()) return false;
  // Trailing zeros move into the exponent.
  const size_t kept = out->digits.find_last_not_of('0') + 1;
  const auto trailing = static_cast<int64_t>(out->digits.size() - kept);
  out->digits.resize(out->digits.empty() ? 0 : kept);
  const int digit_bits = out->hex ? 4 : 1;
  out->exp = exp + (trailing - fraction_digits) * digit_bits;
  return out->round_bits != 0 || out->digits.empty();
}

// m * 2^z * 10^e10 for the decimal digits of a text: m odd, the powers of
// two of the digits' integer in z.
struct Decimal {
  bigint::BnPtr m = bigint::NewBn();
  int64_t z = 0;
  int64_t e10 = 0;
  std::string_view digits;  // the significant digits, for divisibility tests

  // log2 of the value, within a unit or so.
  double Log2() const {
    return static_cast<double>(BN_num_bits(m.get())) +
           static_cast<double>(z) + static_cast<double>(e10) * kLog2Of10;
  }
  // Bits of 5^|e10| bounded above.
  double PowerBits() const {
    return std::abs(static_cast<double>(e10)) * kLog2Of5 + 1;
  }
};

Decimal ReadDecimalText(const Text& text, BN_CTX* ctx) {
  Decimal d;
  d.digits = text.digits;
  d.e10 = text.exp;
  bigint::DecimalToBn(text.digits, d.m.get(), ctx);
  d.z = BN_count_low_zero_bits(d.m.get());
  CHECK(BN_rshift(d.m.get(), d.m.get(), static_cast<int>(d.z)));
  return d;
}

// Whether 5^k divides the integer of the digits, from its last digits: 5^k
// divides 10^k, so only the last k digits count. Decides at once unless all
// of the last 27 digits pass (5^27 < 2^63); then *exact_test is set. Fewer
// digits than that are all read: a number of j digits can be a multiple of
// 5^j (5^21 has 15 digits). The tail, up to 10^27, is reduced modulo 5^j as
// it is read, in double words.
bool MayBeDivisibleByPowerOf5(std::string_view digits, int64_t k,
                              bool* exact_test) {
  const size_t j = static_cast<size_t>(std::min<int64_t>(k, 27));
  uint64_t tail = 0, power = 1;
  for (size_t i = 0; i < j; ++i) power *= 5;
  for (size_t i = digits.size() - std::min(j, digits.size());
       i < digits.size(); ++i) {
    tail = static_cast<uint64_t>(
        (DoubleWord{tail} * 10 + static_cast<uint64_t>(digits[i] - '0')) %
        power);
  }
  *exact_test = k > 27;
  return tail == 0;
}

// The exact integer mantissa of the value, as *n * 2^*exp, when the value is
// dyadic and its mantissa estimated at no more than max_bits bits; false
// otherwise. Costs at most a product or quotient of the text's size and
// max_bits.
bool ExactMantissa(const Decimal& d, int64_t max_bits, BIGNUM* n, int64_t* exp,
                   BN_CTX* ctx) {
  const double m_bits = BN_num_bits(d.m.get());
  if (d.e10 == 0) {
    CHECK(BN_copy(n, d.m.get()));
    *exp = d.z;
    return true;
  }
  bigint::BnPtr power = bigint::NewBn(), err = bigint::NewBn();
  int64_t scale = 0;
  if (d.e10 > 0) {  // an integer: m * 5^e10 * 2^(z + e10)
    if (m_bits + d.PowerBits() - 2 > static_cast<double>(max_bits)) {
      return false;
    }
    bigint::PowerOf5Bounds(d.e10, INT64_MAX, power.get(), err.get(), &scale,
                           ctx);
    bigint::Mul(n, d.m.get(), power.get(), ctx);
    *exp = d.z + d.e10;
    return true;
  }
  // m * 2^(z - k) / 5^k is dyadic exactly when 5^k divides m.
  const int64_t k = -d.e10;
  bool exact_test = false;
  if (d.PowerBits() - 2 > m_bits ||
      !MayBeDivisibleByPowerOf5(d.digits, k, &exact_test)) {
    return false;
  }
  bigint::BnPtr rem = bigint::NewBn();
  bigint::PowerOf5Bounds(k, INT64_MAX, power.get(), err.get(), &scale, ctx);
  bigint::DivFloor(n, rem.get(), d.m.get(), power.get(), nullptr, ctx);
  if (!BN_is_zero(rem.get())) return false;
  *exp = d.z - k;
  return true;
}

// The leading q_bits bits of the value, truncated, as *q * 2^*exp, for a
// value that no q_bits-bit number equals. Bounds on a scaled value with
// twice the working bits each round, until both bounds agree on those bits;
// the bounds become exact at the size of the whole computation, but a
// value that no short number equals is told apart from the nearest
// boundary long before.
void LeadingBits(const Decimal& d, int64_t q_bits, BIGNUM* q, int64_t* exp,
                 BN_CTX* ctx) {
  const int64_t exact_bits =
      std::max<int64_t>(BN_num_bits(d.m.get()),
                        static_cast<int64_t>(d.PowerBits()) + 2) + 64;
  // x * 2^f keeps about w - 64 bits: the cut bounds' error stays below its
  // last place, and a value close to a q_bits boundary is told apart as soon
  // as w shows it.
  int64_t lead = static_cast<int64_t>(std::floor(d.Log2()));
  bigint::BnPtr lo = bigint::NewBn(), hi = bigint::NewBn(),
                q_hi = bigint::NewBn();
  int64_t w = std::min(q_bits + 128, exact_bits);
  for (;;) {
    const int64_t f = std::max(w, q_bits + 128) - 64 - lead;
    bool sticky = false;
    const bool exact = bigint::ScaledBounds(d.m.get(), d.z, d.e10, f, w,
                                            lo.get(), hi.get(), &sticky, ctx);
    const int64_t drop = BN_num_bits(lo.get()) - q_bits;
    if (drop < 2) {  // the estimate of the magnitude was off: scale up
      lead -= 64 - drop;
      continue;
    }
    CHECK(BN_rshift(q, lo.get(), static_cast<int>(drop)));
    CHECK(BN_rshift(q_hi.get(), hi.get(), static_cast<int>(drop)));
    if (exact || BN_cmp(q, q_hi.get()) == 0) {
      *exp = drop - f;
      return;
    }
    w = std::min(2 * w, exact_bits);
  }
}

// The leading q_bits bits of a nonzero decimal, truncated: *q * 2^*exp with
// *q of exactly q_bits bits; *exact tells whether that is the decimal.
void Truncation(const Decimal& d, int64_t q_bits, BIGNUM* q, int64_t* exp,
                bool* exact, BN_CTX* ctx) {
  if (!ExactMantissa(d, q_bits + 64, q, exp, ctx)) {
    LeadingBits(d, q_bits, q, exp, ctx);
    *exact = false;
    return;
  }
  const int64_t shift = BN_num_bits(q) - q_bits;
  *exact = shift <= 0 || !bigint::LowBitsNonzero(q, static_cast<int>(shift));
  if (shift > 0) {
    CHECK(BN_rshift(q, q, static_cast<int>(shift)));
  } else {
    CHECK(BN_lshift(q, q, static_cast<int>(-shift)));
  }
  *exp += shift;
}

// For a decimal of many more digits than q_bits needs: the truncation of
// the value to q_bits bits, rounded to odd, from its leading digits alone.
// The value lies strictly between the leading digits and one unit more in
// their last place (the digits end in a nonzero digit); when both bounds
// truncate alike, so does the value, and it is not that truncation. False
// when they differ or lie far past the range.
bool TruncationFromLeadingDigits(const Text& text, int64_t q_bits, BIGNUM* q,
                                 int64_t* exp, BN_CTX* ctx) {
  const size_t kept = static_cast<size_t>(q_bits * bigint::kLog10Of2Wide) + 30;
  if (text.digits.size() <= kept) return false;
  Text lo;
  lo.digits = text.digits.substr(0, kept);
  lo.exp = text.exp + static_cast<int64_t>(text.digits.size() - kept);
  Text hi = lo;
  IncrementDecimal(&hi.digits);
  const Decimal d_lo = ReadDecimalText(lo, ctx), d_hi = ReadDecimalText(hi, ctx);
  constexpr double kNear = 1 << 20;
  if (d_lo.Log2() > ExactFloat::kMaxExp + kNear ||
      d_lo.Log2() < ExactFloat::kMinExp - kNear) {
    return false;
  }
  bigint::BnPtr q_hi = bigint::NewBn();
  int64_t exp_hi = 0;
  bool exact_lo = false, exact_hi = false;
  Truncation(d_lo, q_bits, q, exp, &exact_lo, ctx);
  Truncation(d_hi, q_bits, q_hi.get(), &exp_hi, &exact_hi, ctx);
  if (*exp != exp_hi || BN_cmp(q, q_hi.get()) != 0) return false;
  CHECK(BN_set_bit(q, 0));
  return true;
}


// The value of a parsed number text, or what stands for it in rounding:
// |value| = n * 2^exp, or a truncation of it rounded to odd (`exact` false).
struct Mantissa {
  bigint::BnPtr n = bigint::NewBn();
  int64_t exp = 0;
  bool exact = true;
  bool too_long = false;  // rounded to max_prec, longer than kMaxPrec bits
};

// NumberMantissa on machine words, for at most 19 digits (below 2^64) and a
// power of 5 below 2^47: D * 5^e10 exactly, or D / 5^k exactly or rounded
// to odd at q_bits <= 64 bits from one 128-bit quotient. False for other
// texts.
bool ShortMantissa(const Text& text, bool exact_only, int64_t q_bits,
                   Mantissa* r) {
  constexpr int kMaxPower = 20;  // 5^20 < 2^47
  const int64_t e10 = text.exp;
  if (text.digits.size() > 19 || e10 < -kMaxPower || e10 > 27) return false;
  uint64_t digits = 0;
  for (char c : text.digits) digits = digits * 10 + static_cast<uint64_t>(c - '0');
  uint64_t power = 1;
  for (int64_t i = 0; i < std::abs(e10); ++i) power *= 5;
  auto set = [&](DoubleWord n, int64_t exp) {
    CHECK(BN_set_u64(r->n.get(), static_cast<uint64_t>(n >> 64)));
    CHECK(BN_lshift(r->n.get(), r->n.get(), 64));
    CHECK(BN_add_word(r->n.get(), static_cast<uint64_t>(n)));
    r->exp = exp;
  };
  auto bits = [](DoubleWord v) {
    const auto high = static_cast<uint64_t>(v >> 64);
    return high != 0 ? 128 - __builtin_clzll(high)
                     : 64 - __builtin_clzll(static_cast<uint64_t>(v) | 1);
  };
  if (e10 >= 0) {  // 5^27 < 2^63: the product fits
    set(DoubleWord{digits} * power, e10);
    return true;
  }
  if (digits % power == 0) {
    set(digits / power, e10);
    return true;
  }
  r->exact = false;
  if (exact_only) return true;
  // q = floor(D 2^s / 5^k) has at least q_bits + 1 bits and D 2^s fits.
  const int64_t s = q_bits + bits(power) - bits(digits) + 1;
  if (q_bits > 64 || s < 0) return false;
  const DoubleWord q = (DoubleWord{digits} << s) / power;
  const int drop = bits(q) - static_cast<int>(q_bits);
  set((q >> drop) | 1, e10 - s + drop);  // not dyadic: never exact
  return true;
}

// The mantissa of a nonzero number text: exact when `exact_only` (false
// when the value is not dyadic or far past the range), else exact or
// rounded to odd at max(max_prec, 1) + 2 bits, so that rounding it to
// max_prec bits rounds as the value would.
Mantissa NumberMantissa(const Text& text, bool exact_only, int max_prec) {
  Mantissa r;
  if (text.hex) {
    BIGNUM* parsed = r.n.get();
    CHECK(BN_hex2bn(&parsed, text.digits.c_str()) != 0);
    r.exp = text.exp;
    return r;
  }
  const int64_t q_bits = int64_t{std::max(max_prec, 1)} + 2;
  if (ShortMantissa(text, exact_only, q_bits, &r)) return r;
  BN_CTX* ctx = BN_CTX_new();
  CHECK(ctx != nullptr);
  if (!exact_only &&
      TruncationFromLeadingDigits(text, q_bits, r.n.get(), &r.exp, ctx)) {
    r.exact = false;
    BN_CTX_free(ctx);
    return r;
  }
  const Decimal d = ReadDecimalText(text, ctx);
  const double log2 = d.Log2();
  // Far past the range only the side counts: 3 * 2^(log2 - 2), not exact,
  // stands for every value there.
  constexpr double kFar = 1 << 20;
  const double highest_result = log2 + std::max(0.0, -static_cast<double>(max_prec));
  if (log2 > ExactFloat::kMaxExp + kFar ||
      highest_result < ExactFloat::kMinExp - kFar) {
    r.exact = false;
    if (!exact_only) {
      CHECK(BN_set_word(r.n.get(), 3));
      r.exp = static_cast<int64_t>(log2) - 2;
    }
  } else if (!ExactMantissa(
                 d, exact_only ? int64_t{ExactFloat::kMaxPrec} + 1 : q_bits + 64,
                 r.n.get(), &r.exp, ctx)) {
    r.exact = false;
    // No number of kMaxPrec bits or fewer lies within 2^-closeness
    // (relatively) of a value with no short expansion.
    const int64_t closeness =
        BN_num_bits(d.m.get()) + static_cast<int64_t>(d.PowerBits()) + 64;
    if (!exact_only && max_prec > int64_t{ExactFloat::kMaxPrec} + closeness) {
      r.too_long = true;
    } else if (!exact_only) {
      // The truncation with its last bit set stands for every value strictly
      // between two truncations.
      LeadingBits(d, q_bits, r.n.get(), &r.exp, ctx);
      CHECK(BN_set_bit(r.n.get(), 0));
    }
  }
  BN_CTX_free(ctx);
  return r;
}

}  // namespace

std::optional<ExactFloat> ExactFloat::FromText(std::string_view text,
                                               bool exact_only, int max_prec,
                                               RoundingMode mode) {
  Text t;
  if (!ParseText(text, &t)) return std::nullopt;
  if (t.kind == Text::Kind::kInfinity) return Infinity(t.sign);
  if (t.kind == Text::Kind::kNaN) return t.sign < 0 ? -NaN() : NaN();
  if (t.digits.empty()) return SignedZero(t.sign);
  if (t.round_bits >= 0) {
    // The suffix rounds first; the result, in range, is exact.
    const int bits = static_cast<int>(std::min<int64_t>(t.round_bits, INT_MAX));
    const Mantissa m = NumberMantissa(t, false, bits);
    const ExactFloat v =
        m.too_long ? NaN()
                   : RoundedFromMantissa(t.sign, m.n.get(), m.exp, bits,
                                         kRoundTiesToEven);
    if (!exact_only) return v.RoundToMaxPrec(max_prec, mode);
    if (!v.is_normal()) return std::nullopt;  // out of range or too long
    return v;
  }
  const Mantissa m = NumberMantissa(t, exact_only, max_prec);
  if (m.too_long) return NaN();
  if (!exact_only) {
    return RoundedFromMantissa(t.sign, m.n.get(), m.exp, max_prec, mode);
  }
  // Exact: nothing rounded, nothing past the limits.
  const int64_t bits = BN_num_bits(m.n.get());
  const int64_t top = m.exp + bits;
  if (!m.exact ||
      bits - static_cast<int64_t>(BN_count_low_zero_bits(m.n.get())) >
          kMaxPrec ||
      top < kMinExp || top > kMaxExp) {
    return std::nullopt;
  }
  return RoundedFromMantissa(t.sign, m.n.get(), m.exp, INT_MAX, mode);
}

std::optional<ExactFloat> ExactFloat::FromString(std::string_view text) {
  return FromText(text, true, INT_MAX, kRoundTiesToEven);
}

std::optional<ExactFloat> ExactFloat::FromString(std::string_view text,
                                                 int max_prec,
                                                 RoundingMode mode) {
  return FromText(text, false, max_prec, mode);
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
