// ExactFloat: a binary floating-point number with an arbitrary-length integer
// mantissa.
//
// Sums, differences and products of ExactFloat values are exact. A result is
// rounded only when the caller asks for it, with one of six rounding modes.
// Values convert to double, to saturated 64-bit integers and to exact decimal
// text, and the free functions of this header mirror <cmath>, so that numeric
// code written for double can run on exact values:
//
//   using nurvik::lattis::ExactFloat;
//   ExactFloat a = 0.1, b = 0.2;               // exactly the two doubles
//   ExactFloat sum = a + b;                    // exact, 54 bits
//   double d = sum.ToDouble();                 // 0.30000000000000004
//   std::string s = sum.ToString();            // 17 significant digits
//
// Like a double, a value is a normal number, a signed zero, a signed infinity
// or NaN, and operations on special values follow the IEEE 754 rules. Unlike a
// double, a normal value carries as many mantissa bits as its computation
// produced, up to kMaxPrec, with binary exponents exp() between kMinExp and
// kMaxExp. Past these limits a result saturates: below the exponent range it
// becomes a signed zero (there are no subnormals), above it a signed infinity,
// and a mantissa longer than kMaxPrec bits gives NaN.
//
// Costs: sizeof(ExactFloat) is 64 bytes, and a mantissa of up to four words
// (256 bits) lives inside the value: zero, infinity, NaN, every double and
// every int64, and the sums and products of a few of them, cost no
// allocation. On such mantissas sums, products, comparisons, rounding and
// conversions run on the machine words: a few nanoseconds, no BoringSSL call.
// A result that needs more words allocates its digits once. Sums cost O(n)
// in the bit length of the aligned operands, so the gap between exponents
// counts. Products of long mantissas (from a few thousand bits, or about
// forty thousand without AVX-512 IFMA) cost O(n log n) by a number-theoretic
// transform, also for operands of very different lengths; shorter ones go to
// BoringSSL, Karatsuba for mantissas of similar length, schoolbook O(n*m)
// otherwise. Quotients and square roots cost a few products of their length.
// Comparisons never shift a mantissa unless the two values have the same
// exp(). Rounding and conversion to double are O(n).
//
// Thread safety: no global state. Distinct values may be used from different
// threads at once, and one value may be read from many threads at once.
//
// Failures of the big-integer library (out of memory) end the process through
// a glog fatal check; no operation throws or returns an error code.

#ifndef NURVIK_LATTIS_MATH_EXACTFLOAT_H_
#define NURVIK_LATTIS_MATH_EXACTFLOAT_H_

#include <openssl/bn.h>

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

namespace nurvik::lattis {

// The owning holder of one BIGNUM, its header stored in place. Its digits
// live in one of three places:
//   - inline, in words_, while they fit kInlineWords words: no allocation;
//   - on the heap, allocated by BigNum itself (Reserve) for longer results
//     of the library's own word arithmetic and of calls whose output size it
//     knows in advance;
//   - on the heap, allocated by BoringSSL, for calls that size their own
//     output and scratch (BN_mul, BN_exp: see ReleaseInline).
// The first two carry BN_FLG_STATIC_DATA, so that BoringSSL neither frees
// nor grows them: every big-integer call that writes into them is preceded
// by Reserve with the words that call needs. Widths are kept minimal. Not
// copyable: ExactFloat copies the contents.
class BigNum {
 public:
  // 256 bits: a 3-D orientation determinant of doubles needs 165, a product
  // of two 2-word mantissas fits, and sizeof(ExactFloat) is 64 bytes, one
  // cache line. Measured against 3, 5 and 6 words: orientation was fastest
  // with 4; a 3-D in-sphere test, which needs 5, ran 5-10% faster with 5 or
  // 6 words, at 72 or 80 bytes a value and slower single operations.
  static constexpr int kInlineWords = 4;

  BigNum() noexcept { ResetInline(); }
  ~BigNum() {
    if (!is_inline()) FreeHeap();
  }
  BigNum(const BigNum&) = delete;
  BigNum& operator=(const BigNum&) = delete;

  BIGNUM* get() { return &bn_; }
  const BIGNUM* get() const { return &bn_; }

  // The digits, least significant first, and their count (minimal: the top
  // word is nonzero, and zero has width 0).
  BN_ULONG* words() { return bn_.d; }
  const BN_ULONG* words() const { return bn_.d; }
  int width() const { return bn_.width; }
  void set_width(int width) { bn_.width = width; }
  bool is_inline() const { return bn_.d == words_; }
  // True when the digits fit the inline words, wherever they are stored.
  bool is_small() const { return bn_.width <= kInlineWords; }

  // Makes room for `words` words, keeping the current digits, before they
  // are written directly or by a big-integer call that needs at most that
  // many. Digits of BigNum's own that are too short move to a longer heap
  // block (one allocation); BoringSSL's digits are left for it to grow.
  void Reserve(int words) {
    if (words > bn_.dmax && (bn_.flags & BN_FLG_STATIC_DATA) != 0) {
      Grow(words);
    }
  }
  // For a zero mantissa about to receive the result of a big-integer call
  // that sizes its own output (BN_mul, BN_exp): hands the digits over to
  // BoringSSL, which then allocates what the call needs. Frees a heap block
  // of BigNum's own; allocates nothing.
  void ReleaseInline() {
    if ((bn_.flags & BN_FLG_STATIC_DATA) != 0) {
      if (!is_inline()) FreeHeap();
      bn_.d = nullptr;
      bn_.width = bn_.dmax = 0;
      bn_.flags = 0;
    }
  }

  // Takes b's digits and leaves b an inline zero. O(1): heap digits change
  // hands, inline ones are copied; never allocates.
  void MoveFrom(BigNum& b) noexcept {
    if (!is_inline()) FreeHeap();
    if (b.is_inline()) {
      ResetInline();
      CopyInline(b);
    } else {
      bn_ = b.bn_;
      b.ResetInline();
    }
  }
  // Sets the digits to a copy of b's when they fit the inline words (heap
  // digits of *this are released first). Returns false, changing nothing,
  // when they do not.
  bool CopySmall(const BigNum& b) {
    if (!b.is_small()) return false;
    if (!is_inline()) {
      FreeHeap();
      ResetInline();
    }
    CopyInline(b);
    return true;
  }

 private:
  void ResetInline() {
    bn_.d = words_;
    bn_.width = 0;
    bn_.dmax = kInlineWords;
    bn_.neg = 0;
    bn_.flags = BN_FLG_STATIC_DATA;
  }
  // Copies b's digits, which fit, into the inline words; *this is inline.
  void CopyInline(const BigNum& b) {
    for (int i = 0; i < b.bn_.width; ++i) words_[i] = b.bn_.d[i];
    bn_.width = b.bn_.width;
  }
  // Moves the digits to a heap block of BigNum's own with room for `words`.
  void Grow(int words);
  // Releases heap digits, whoever allocated them; leaves bn_ to be reset.
  void FreeHeap() noexcept;

  BIGNUM bn_;
  BN_ULONG words_[kInlineWords];
};

class ExactFloat {
 public:
  // The smallest and largest exp() of a normal value: magnitudes lie in
  // [2^(kMinExp-1), 2^kMaxExp).
  static constexpr int kMinExp = -200000000;
  static constexpr int kMaxExp = 200000000;
  // The largest number of mantissa bits of a normal value.
  static constexpr int kMaxPrec = 67108864;
  // bn_exp_ codes of the special states: the three largest ints, so that
  // "normal" is the single test bn_exp_ < kExpZero.
  static constexpr int kExpZero = 2147483645;
  static constexpr int kExpInfinity = 2147483646;
  static constexpr int kExpNaN = 2147483647;
  // Mantissa bits of a double.
  static constexpr int kDoubleMantissaBits = 53;

  // Rounding directions. Rounding works on the magnitude: the kept bits are
  // truncated, then incremented by one unit when the mode says so. Any other
  // value is treated as kRoundTiesToEven.
  enum RoundingMode {
    kRoundTiesToEven,        // to nearest, ties to the even neighbour
    kRoundTiesAwayFromZero,  // to nearest, ties away from zero
    kRoundTowardZero,        // truncation
    kRoundAwayFromZero,      // up in magnitude whenever bits are dropped
    kRoundTowardPositive,    // toward +infinity
    kRoundTowardNegative,    // toward -infinity
  };

  // Positive zero.
  ExactFloat() : sign_(1), bn_exp_(kExpZero) {}

  // The exact value of v, signed zeros and infinities included. Every NaN,
  // whatever its sign bit or payload, becomes the one NaN with sign_bit() false.
  ExactFloat(double v);  // NOLINT(runtime/explicit): exact, so implicit

  // The exact value of v; 0 gives positive zero. Every integer type converts
  // exactly and without ambiguity: the narrower ones promote to int.
  ExactFloat(int v);                 // NOLINT(runtime/explicit): exact
  ExactFloat(long v);                // NOLINT(runtime/explicit, runtime/int)
  ExactFloat(long long v);           // NOLINT(runtime/explicit, runtime/int)
  ExactFloat(unsigned v);            // NOLINT(runtime/explicit)
  ExactFloat(unsigned long v);       // NOLINT(runtime/explicit, runtime/int)
  ExactFloat(unsigned long long v);  // NOLINT(runtime/explicit, runtime/int)
  // The exact value of an x87 extended double (64-bit significand),
  // subnormals, signed zeros and infinities included; every NaN becomes the
  // one NaN with sign_bit() false, as for double.
  ExactFloat(long double v);  // NOLINT(runtime/explicit): exact

  // Copies cost O(prec()) and allocate only for mantissas longer than
  // BigNum::kInlineWords words. Moves are O(1), never allocate, and leave the
  // source a positive zero.
  ExactFloat(const ExactFloat& b) : sign_(b.sign_), bn_exp_(b.bn_exp_) {
    if (!bn_.CopySmall(b.bn_)) CopyLarge(b);
  }
  ExactFloat& operator=(const ExactFloat& b);
  ExactFloat(ExactFloat&& b) noexcept : sign_(b.sign_), bn_exp_(b.bn_exp_) {
    bn_.MoveFrom(b.bn_);
    b.sign_ = 1;
    b.bn_exp_ = kExpZero;
  }
  ExactFloat& operator=(ExactFloat&& b) noexcept {
    if (this != &b) {
      sign_ = b.sign_;
      bn_exp_ = b.bn_exp_;
      bn_.MoveFrom(b.bn_);
      b.sign_ = 1;
      b.bn_exp_ = kExpZero;
    }
    return *this;
  }
  ~ExactFloat() = default;

  // Special values. Signs are +1 or -1.
  static ExactFloat SignedZero(int sign);
  static ExactFloat Infinity(int sign);
  static ExactFloat NaN();

  // The number of significant mantissa bits; 0 for zero, infinity and NaN.
  int prec() const {
    const int w = bn_.width();
    return w == 0 ? 0 : w * BN_BITS2 - __builtin_clzl(bn_.words()[w - 1]);
  }
  // For a normal value, the magnitude lies in [2^(exp()-1), 2^exp()).
  // Meaningful only for normal values.
  int exp() const { return bn_exp_ + prec(); }

  bool is_zero() const { return bn_exp_ == kExpZero; }
  bool is_inf() const { return bn_exp_ == kExpInfinity; }
  bool is_nan() const { return bn_exp_ == kExpNaN; }
  bool is_normal() const { return bn_exp_ < kExpZero; }
  bool is_finite() const { return bn_exp_ <= kExpZero; }
  // True for every negative value, -0, -inf and a NaN made negative by
  // negation or copysign.
  bool sign_bit() const { return sign_ < 0; }
  // -1, 0 or +1; 0 for both zeros and for NaN.
  int sgn() const { return is_zero() || is_nan() ? 0 : sign_; }

  // The value rounded in direction `mode` to an integer multiple of
  // 2^bit_exp. Special values come back unchanged; a rounded result past the
  // exponent range becomes a signed infinity or zero. Every int is accepted.
  // O(prec()).
  ExactFloat RoundToPowerOf2(int bit_exp, RoundingMode mode) const;

  // The value rounded in direction `mode` to at most max_prec significant
  // bits (for max_prec <= 0: zero or the single power of two
  // 2^(exp() - max_prec)). O(prec()).
  ExactFloat RoundToMaxPrec(int max_prec, RoundingMode mode) const;

  // The nearest double, ties to even, rounded once (also into the subnormal
  // range) and whatever the floating-point environment's rounding mode;
  // magnitudes that round to 2^1024 or more give a signed infinity. No
  // allocation for values that are already doubles.
  double ToDouble() const;

  // The value rounded to an integer in direction `mode`, saturated: NaN gives
  // the largest T, magnitudes of 2^63 or more give the limit of their sign.
  // Instantiated for long and long long.
  template <class T>
  T ToInteger(RoundingMode mode) const;

  // The exact value of a_sign*|a| + b_sign*|b| (signs are +1 or -1); a NaN
  // operand comes back as stored, `a` first. Exact cancellation gives +0.
  // Cost O(prec + exponent gap).
  static ExactFloat SignedSum(int a_sign, const ExactFloat* a, int b_sign,
                              const ExactFloat* b);

  // A copy with the opposite sign, in every state (NaN included).
  ExactFloat operator-() const;

  // |*this| < |b|. Neither may be NaN.
  bool UnsignedLess(const ExactFloat& b) const;
  // The sign of |*this| - |b| as negative, zero or positive. Both must be
  // normal with bn_exp_ >= b.bn_exp_. Allocates one aligned copy of *this.
  int ScaleAndCompare(const ExactFloat& b) const;

  // Replaces *digits with the significant decimal digits of |*this|, rounded
  // half to even to at most max_digits digits (no trailing zeros, first digit
  // not zero) and returns E such that |*this| ~= 0.d1d2...dk * 10^E.
  // Cost grows with max_digits and prec(), not with the length of the whole
  // decimal expansion. A max_digits below 1 is taken as 1. Zero, infinity and
  // NaN, which have no digits, give "0" with E = 0.
  int GetDecimalDigits(int max_digits, std::string* digits) const;

  // ceil(prec * log10(2)) + 1: the decimal digits that show a mantissa of
  // `prec` bits.
  static int NumSignificantDigitsForPrec(int prec);

  // Text with max(10, NumSignificantDigitsForPrec(prec())) significant digits:
  // positional for magnitudes in [1e-4, 10^digits), otherwise d.ddde+N.
  // Special values: "nan", "0", "-0", "inf", "-inf". Shows about
  // 0.3 * prec() digits, so a mantissa of millions of bits takes seconds.
  std::string ToString() const;
  // Text with at most max_digits significant digits (below 1 taken as 1).
  std::string ToStringWithMaxDigits(int max_digits) const;
  // ToString() followed by "<prec()>", distinct for values of distinct
  // precision.
  std::string ToUniqueString() const;

  // Values from text. The grammar, for the whole text (no blanks skipped,
  // nothing after the number):
  //   [+|-] ( inf | infinity | nan                            (any case)
  //         | D [. D] [(e|E) [+|-] N]                 decimal digits D
  //         | (0x|0X) H [. H] [(p|P) [+|-] N] )   hex digits H; p: 2^N
  //   then optionally <N>, the suffix that ToUniqueString writes,
  // where N is decimal digits and the mantissa has at least one digit on
  // either side of its optional point. The sign applies to zeros, infinities
  // and NaN too. A suffix <N> rounds the value to N bits, ties to even,
  // before anything else; N = 0 is allowed only for zeros, infinities and
  // NaN. Every text of ToString, ToStringWithMaxDigits and ToUniqueString
  // parses, and FromString(x.ToUniqueString()) is x with its prec().
  //
  // Exactly the value that `text` denotes, or nullopt when the text is
  // malformed or its value cannot be held exactly: not a dyadic rational
  // ("0.1"), outside the exponent range, or longer than kMaxPrec bits.
  static std::optional<ExactFloat> FromString(std::string_view text);
  // The value of `text` rounded as RoundToMaxPrec(max_prec, mode) rounds its
  // exact, possibly infinite, binary expansion; past the exponent range a
  // signed zero or infinity. nullopt only for malformed text.
  //
  // Cost of both: O(M(n) log n) for n digits, plus O(M(max_prec) log |e|)
  // to round with a decimal exponent e, which is never formed as a whole
  // power of 10; M(n) is the cost of an n-bit product. Short texts take
  // about a microsecond, a million digits a fraction of a second.
  static std::optional<ExactFloat> FromString(std::string_view text,
                                              int max_prec, RoundingMode mode);

  // Ends the process with "Unimplemented ExactFloat method called".
  [[noreturn]] static void Unimplemented();

 private:
  friend ExactFloat operator*(const ExactFloat& a, const ExactFloat& b);
  friend ExactFloat Divide(const ExactFloat& a, const ExactFloat& b,
                           int max_prec, RoundingMode mode);
  friend ExactFloat Sqrt(const ExactFloat& a, int max_prec, RoundingMode mode);
  friend bool operator==(const ExactFloat& a, const ExactFloat& b);
  friend bool operator<(const ExactFloat& a, const ExactFloat& b);
  friend ExactFloat abs(const ExactFloat& a);
  friend ExactFloat copysign(const ExactFloat& a, const ExactFloat& b);
  friend ExactFloat fmax(const ExactFloat& a, const ExactFloat& b);
  friend ExactFloat fmin(const ExactFloat& a, const ExactFloat& b);
  friend ExactFloat ldexp(const ExactFloat& a, int exp);
  friend struct std::hash<ExactFloat>;

  void set_zero(int sign);
  void set_inf(int sign);
  void set_nan();
  void set_sign(int sign) { sign_ = sign; }
  // Brings a freshly computed result into normal form: odd mantissa, exp()
  // within range (else signed zero or infinity), prec() <= kMaxPrec (else NaN).
  void Canonicalize();
  // Exact conversion of a value of at most 53 bits (ToDouble's last step).
  double ToDoubleHelper() const;
  // Sets the mantissa, of a value being built, to one machine word.
  void SetMantissaWord(uint64_t magnitude);
  // sign * |a| / |b| (both normal) or sqrt(|a|) (b null) rounded to
  // max_prec bits: Divide's and Sqrt's body.
  static ExactFloat RoundedQuotient(int sign, const ExactFloat& a,
                                    const ExactFloat& b, int max_prec,
                                    RoundingMode mode);
  static ExactFloat RoundedRoot(const ExactFloat& a, int max_prec,
                                RoundingMode mode);
  // The copy constructor's path for mantissas longer than the inline words.
  void CopyLarge(const ExactFloat& b);
  // The value of `text`, exactly (exact_only) or rounded: FromString's body.
  static std::optional<ExactFloat> FromText(std::string_view text,
                                            bool exact_only, int max_prec,
                                            RoundingMode mode);
  // sign * mantissa * 2^exp, for a mantissa of any length and any exponent,
  // rounded to max_prec bits as RoundToMaxPrec would; past the exponent
  // range a signed zero or infinity, past kMaxPrec bits NaN.
  static ExactFloat RoundedFromMantissa(int sign, const BIGNUM* mantissa,
                                        int64_t exp, int max_prec,
                                        RoundingMode mode);
  // The same for a nonzero mantissa of one word, on the machine word.
  static ExactFloat RoundedFromWord(int sign, uint64_t mantissa, int64_t exp,
                                    int max_prec, RoundingMode mode);
  // GetDecimalDigits on the whole exact decimal expansion.
  int GetDecimalDigitsExact(int max_digits, std::string* digits) const;
  // GetDecimalDigits from bounds on |*this| * 10^k cut to the digits asked
  // for, refined only near a rounding boundary; e10 is the decimal exponent
  // or one off.
  int GetDecimalDigitsBounded(int max_digits, int e10,
                              std::string* digits) const;

  int sign_;    // +1 or -1, in every state
  int bn_exp_;  // exponent of the mantissa's lowest bit, or a state code
  BigNum bn_;   // magnitude of the mantissa; 0 for special values
};

// Exact sum, difference and product (see SignedSum for the rules).
ExactFloat operator+(const ExactFloat& a, const ExactFloat& b);
ExactFloat operator-(const ExactFloat& a, const ExactFloat& b);
ExactFloat operator*(const ExactFloat& a, const ExactFloat& b);

// a / b rounded to at most max_prec bits in direction `mode`, as
// RoundToMaxPrec(max_prec, mode) would round the exact quotient: exact
// whenever the quotient fits. The sign is the product of the signs; a NaN
// operand comes back as stored (a first); 0/0 and inf/inf are NaN, a nonzero
// value over zero an infinity, a finite value over an infinity and zero over
// a nonzero value a zero. Past the exponent range a signed zero or infinity.
// O(M(max_prec + prec)) for mantissas of prec bits, M(n) the cost of an n-bit
// product; on mantissas of one word to at most 61 bits, machine words only.
ExactFloat Divide(const ExactFloat& a, const ExactFloat& b, int max_prec,
                  ExactFloat::RoundingMode mode);
// The square root of a, rounded the same way: NaN for a negative value
// (-inf included), -0 for -0, +inf for +inf. O(M(max_prec + prec)).
ExactFloat Sqrt(const ExactFloat& a, int max_prec,
                ExactFloat::RoundingMode mode);
// Exactly a * b + c: the product's rules (and limits), then the sum's.
ExactFloat fma(const ExactFloat& a, const ExactFloat& b, const ExactFloat& c);

inline ExactFloat& operator+=(ExactFloat& a, const ExactFloat& b) {
  return a = a + b;
}
inline ExactFloat& operator-=(ExactFloat& a, const ExactFloat& b) {
  return a = a - b;
}
inline ExactFloat& operator*=(ExactFloat& a, const ExactFloat& b) {
  return a = a * b;
}

// Exact comparisons, IEEE style: the zeros are equal, and every comparison
// with a NaN is false except !=.
bool operator==(const ExactFloat& a, const ExactFloat& b);
bool operator<(const ExactFloat& a, const ExactFloat& b);
inline bool operator!=(const ExactFloat& a, const ExactFloat& b) {
  return !(a == b);
}
inline bool operator<=(const ExactFloat& a, const ExactFloat& b) {
  return a < b || a == b;
}
inline bool operator>(const ExactFloat& a, const ExactFloat& b) {
  return b < a;
}
inline bool operator>=(const ExactFloat& a, const ExactFloat& b) {
  return b <= a;
}

// Sign and selection, as in <cmath>. None of them rounds. fmax and fmin pass
// a single NaN operand over and give +0 and -0 for opposite zeros; fdim's
// zero is always +0.
ExactFloat abs(const ExactFloat& a);
ExactFloat fabs(const ExactFloat& a);
ExactFloat copysign(const ExactFloat& a, const ExactFloat& b);
ExactFloat fmax(const ExactFloat& a, const ExactFloat& b);
ExactFloat fmin(const ExactFloat& a, const ExactFloat& b);
ExactFloat fdim(const ExactFloat& a, const ExactFloat& b);

// Integral rounding with a fixed direction (never the floating-point
// environment's): ceil up, floor down, trunc toward zero, round ties away
// from zero, rint ties to even. Exact and unbounded.
ExactFloat ceil(const ExactFloat& a);
ExactFloat floor(const ExactFloat& a);
ExactFloat trunc(const ExactFloat& a);
ExactFloat round(const ExactFloat& a);
ExactFloat rint(const ExactFloat& a);
// Saturated conversions to 64-bit integers (see ExactFloat::ToInteger);
// lrint and llrint round ties to even, lround and llround away from zero.
long lrint(const ExactFloat& a);        // NOLINT(runtime/int)
long lround(const ExactFloat& a);       // NOLINT(runtime/int)
long long llrint(const ExactFloat& a);  // NOLINT(runtime/int)
long long llround(const ExactFloat& a);  // NOLINT(runtime/int)

// a * 2^exp, exactly, for every int: past the exponent range the result is a
// signed zero or infinity. O(prec()) for the copy; the mantissa is not shifted.
ExactFloat ldexp(const ExactFloat& a, int exp);
// As ldexp, for every long.
ExactFloat scalbln(const ExactFloat& a, long exp);  // NOLINT(runtime/int)
// The fraction of a in [0.5, 1) with a's sign; *exp receives a.exp(). For
// zero, infinity and NaN, *exp is 0 and a comes back unchanged.
ExactFloat frexp(const ExactFloat& a, int* exp);
// exp() - 1; INT_MIN for zero and NaN, INT_MAX for infinity.
int ilogb(const ExactFloat& a);
// exp() - 1 as a value; -inf for zero, +inf for infinity, NaN unchanged.
ExactFloat logb(const ExactFloat& a);

// Writes a.ToString().
std::ostream& operator<<(std::ostream& os, const ExactFloat& a);

}  // namespace nurvik::lattis

// Consistent with ==: equal values (both zeros among them) hash alike.
template <>
struct std::hash<nurvik::lattis::ExactFloat> {
  size_t operator()(const nurvik::lattis::ExactFloat& a) const noexcept;
};

// The limits of ExactFloat in the conventions of double: finite magnitudes
// lie below 2^max_exponent, the smallest positive value is
// 2^(min_exponent - 1), and there are no subnormals. Sums, differences and
// products are exact and rounding is always explicit (a RoundingMode
// argument), so round_style is indeterminate and is_exact, which generic
// code takes to mean "integer or rational", is false. The value functions
// build their results on each call: max() and lowest() hold kMaxPrec bits
// (8 MiB) and take milliseconds.
template <>
struct std::numeric_limits<nurvik::lattis::ExactFloat> {
 private:
  using T = nurvik::lattis::ExactFloat;

 public:
  static constexpr bool is_specialized = true;
  static constexpr bool is_signed = true;
  static constexpr bool is_integer = false;
  static constexpr bool is_exact = false;
  static constexpr bool has_infinity = true;
  static constexpr bool has_quiet_NaN = true;
  static constexpr bool has_signaling_NaN = false;
  static constexpr std::float_denorm_style has_denorm = std::denorm_absent;
  static constexpr bool has_denorm_loss = false;
  static constexpr std::float_round_style round_style =
      std::round_indeterminate;
  static constexpr bool is_iec559 = false;
  static constexpr bool is_bounded = true;
  static constexpr bool is_modulo = false;
  static constexpr int radix = 2;
  static constexpr int digits = T::kMaxPrec;
  // floor((digits - 1) * log10(2)) and ceil(digits * log10(2)) + 1.
  static constexpr int digits10 = 20201780;
  static constexpr int max_digits10 = 20201783;
  static constexpr int min_exponent = T::kMinExp;
  static constexpr int max_exponent = T::kMaxExp;
  // The smallest and largest powers of 10 within the range.
  static constexpr int min_exponent10 = -60205999;
  static constexpr int max_exponent10 = 60205999;
  static constexpr bool traps = false;
  static constexpr bool tinyness_before = false;

  // 2^(kMinExp - 1), the smallest positive value.
  static T min() { return nurvik::lattis::ldexp(T(1), T::kMinExp - 1); }
  // kMaxPrec one bits ending just below 2^kMaxExp.
  static T max() {
    const T ones = nurvik::lattis::ldexp(T(1), T::kMaxPrec) - T(1);
    return nurvik::lattis::ldexp(ones, T::kMaxExp - T::kMaxPrec);
  }
  static T lowest() { return -max(); }
  // 2^(1 - digits): the gap between 1 and the next larger value.
  static T epsilon() { return nurvik::lattis::ldexp(T(1), 1 - digits); }
  // Half a unit in the last place, for rounding to nearest.
  static T round_error() { return T(0.5); }
  static T infinity() { return T::Infinity(1); }
  static T quiet_NaN() { return T::NaN(); }
  static T signaling_NaN() { return T::NaN(); }
  // No subnormals: the smallest positive value.
  static T denorm_min() { return min(); }
};

#endif  // NURVIK_LATTIS_MATH_EXACTFLOAT_H_
