// Big-integer algorithms on BoringSSL's BIGNUM that BoringSSL lacks, shared
// by the decimal text of ExactFloat and by parsing: balanced products of
// unbalanced operands, Newton reciprocals and quotients, bounded powers of 5,
// scaled bounds on m * 2^e * 10^k, and subquadratic conversion between
// binary and decimal. Internal to the library; not installed.
//
// All operands are non-negative. Every BoringSSL call that computes a result
// is a fatal check. Costs are given in M(n), the cost of a balanced product
// of n bits: Karatsuba, O(n^1.585), below the number-theoretic transform's
// thresholds (a few thousand to forty thousand bits), O(n log n) above.

#ifndef NURVIK_LATTIS_MATH_BIGINT_ALGORITHMS_H_
#define NURVIK_LATTIS_MATH_BIGINT_ALGORITHMS_H_

#include <openssl/bn.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace nurvik::lattis::bigint {

inline constexpr double kLog10Of2Wide = 0.30102999566398120;
inline constexpr double kLog2Of10 = 3.3219280948873623;
inline constexpr double kLog2Of5 = 2.3219280948873623;

struct BnFree {
  void operator()(BIGNUM* bn) const { BN_free(bn); }
};
using BnPtr = std::unique_ptr<BIGNUM, BnFree>;

// A fresh zero BIGNUM.
BnPtr NewBn();

// The length of a in 64-bit words.
int Words(const BIGNUM* a);

// True when a has a nonzero bit below bit n.
bool LowBitsNonzero(const BIGNUM* a, int n);

// *r = a * b; r may alias neither. Long operands go to the number-theoretic
// transform (math/ntt_multiply.h) from its measured thresholds on; below
// them BN_mul, which is Karatsuba only for operands of nearly equal length,
// so the longer one is cut in halves of whole pieces of the other's length,
// log(m / n) levels deep. O(M(n) m / n) for m >= n bits.
void Mul(BIGNUM* r, const BIGNUM* a, const BIGNUM* b, BN_CTX* ctx);

// *r = a^2; r may alias a. The transform's square (two transforms instead of
// three) for long a; below, BN_sqr while it is schoolbook or a's length is a
// power of two words (then Karatsuba), else BN_mul(a, a), which is
// Karatsuba for any balanced pair.
void Sqr(BIGNUM* r, const BIGNUM* a, BN_CTX* ctx);

// *r = floor(2^(2n) / b) for b > 0 of n bits: a Newton step from the
// reciprocal u of b's top h bits doubles the correct bits; a final
// correction makes it exact. The step costs about five products of n/2
// bits: b u, the error's top half times u, and b times the correction.
void Reciprocal(BIGNUM* r, const BIGNUM* b, BN_CTX* ctx);

// *q <= floor(a / b) <= *q + 2 for a < 2^(2n), given recip = floor(2^(2n) / b)
// for b of n bits; q aliases neither. One product of n bits: a's bits below
// n - 1 change the quotient estimate by less than one.
void QuotientBelow(BIGNUM* q, const BIGNUM* a, const BIGNUM* recip, int n,
                   BN_CTX* ctx);

// q = floor(a / b) and, unless rem is null, *rem = a mod b; q and rem alias
// neither operand. recip is floor(2^(2n) / b) for b of n bits, or null.
// Newton's quotient costs two Karatsuba products instead of BN_div's
// quadratic time; it needs a < 2^(2n) (larger a go to BN_div), and without
// a reciprocal it pays off only for divisors of about 50 000 bits and more.
void DivFloor(BIGNUM* q, BIGNUM* rem, const BIGNUM* a, const BIGNUM* b,
              const BIGNUM* recip, BN_CTX* ctx);

// floor(sqrt(v)) for v < 2^124, from the 64-bit long double root corrected
// by a unit or two whatever the floating-point environment.
uint64_t SqrtWords(unsigned __int128 v);

// *r = floor(sqrt(n)) and, unless rem is null, *rem = n - r^2; r and rem
// alias neither n nor each other. Newton from the root of n's top half:
// one step, a quotient by Newton's method and a squaring per halving, so
// O(M(n)) overall; at most 124 bits on the machine words.
void SqrtRem(BIGNUM* r, BIGNUM* rem, const BIGNUM* n, BN_CTX* ctx);

// lo * 2^*t <= 5^n <= (lo + err) * 2^*t with lo of about w bits: binary
// powering that cuts lo down after each step and carries the error bound,
// which grows about fourfold per cut and stays a few words long. Exact
// (err == 0, *t == 0) when 5^n has at most w bits. O(M(w) log n).
void PowerOf5Bounds(int64_t n, int64_t w, BIGNUM* lo, BIGNUM* err, int64_t* t,
                    BN_CTX* ctx);

// Multiplies lo and hi by 2^shift; a right shift rounds lo down and hi up,
// and *sticky tells whether lo lost a nonzero bit.
void ShiftBounds(BIGNUM* lo, BIGNUM* hi, int64_t shift, bool* sticky);

// Bounds lo <= m * 2^e * 10^k * 2^f <= hi from m and 5^|k| cut to about w
// bits, with one full product or quotient; the other bound follows from the
// error terms in linear time. Returns whether nothing was cut; then lo is the
// floor of the product. *sticky is set only when the product exceeds lo, and
// always then when nothing was cut. O(M(w) log |k|).
bool ScaledBounds(const BIGNUM* m, int64_t e, int64_t k, int64_t f, int64_t w,
                  BIGNUM* lo, BIGNUM* hi, bool* sticky, BN_CTX* ctx);

// log10 of m * 2^e for m > 0, from m's leading 53 bits.
double Log10Magnitude(const BIGNUM* m, int e);

// Appends the decimal digits of x (no leading zeros; "0" for zero), in
// subquadratic time: x is split by the powers 10^(c * 2^i), each made once
// with its reciprocal, down to pieces that BN_bn2dec converts.
// O(M(n) log n) for n bits.
void AppendDecimal(const BIGNUM* x, BN_CTX* ctx, std::string* out);

// *r = the integer that the decimal digits denote ('0' to '9' only; leading
// zeros allowed, empty is 0), in subquadratic time: halves joined by powers
// 10^(c * 2^i), each made once. O(M(n) log n) for n digits.
void DecimalToBn(std::string_view digits, BIGNUM* r, BN_CTX* ctx);

}  // namespace nurvik::lattis::bigint

#endif  // NURVIK_LATTIS_MATH_BIGINT_ALGORITHMS_H_
