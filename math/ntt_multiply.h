// Multiplication of long non-negative BIGNUMs in O(n log n) by a
// number-theoretic transform, for the lengths where BoringSSL's BN_mul
// (schoolbook and Karatsuba) is slow. Internal header: not installed.
//
// The product is exact: the digits of a and b, one 64-bit word per
// coefficient, are convolved modulo three primes p just below 2^50 and the
// convolution is rebuilt by the Chinese remainder theorem (Garner) with
// carries. Transforms have 2^k or 3 * 2^k points, the latter split by the
// prime-factor mapping into three rows of 2^k; butterflies keep values
// lazily below 4p with Shoup's multiplication, two levels per pass over
// memory, depth-first once a block outgrows the cache. On processors with
// AVX-512 IFMA (checked at run time) the transforms, pointwise products and
// Garner's digits run on eight 52-bit lanes; elsewhere on portable 64-bit
// scalar code. Operands of very different lengths are cut into pieces near
// the shorter one's length, whose transform serves them all.

#ifndef NURVIK_LATTIS_MATH_NTT_MULTIPLY_H_
#define NURVIK_LATTIS_MATH_NTT_MULTIPLY_H_

#include <openssl/bn.h>

#include <cstddef>
#include <cstdint>

namespace nurvik::lattis {

// The primes: 16777209 * 2^26 + 1, 8388591 * 2^27 + 1 and 4194201 * 2^28 + 1,
// each in (2^50 - 2^42, 2^50), so that lazily reduced values below 4p fit in
// 52 bits, and with p - 1 a multiple of 3 * 2^26.
constexpr uint64_t kNttPrimes[3] = {1125899437080577, 1125897625141249,
                                    1125872257990657};

// *r = a * b for a and b of any widths (minimal or not) and signs, as BN_mul
// computes it; r gets its minimal width. r may alias a or b. a == b squares,
// with two transforms per prime instead of three.
//
// Cost: for operands of na >= nb words, about 3 transforms per prime (2 for a
// square) of n points, n the cheapest of 2^k and 3 * 2^k at least
// na + nb - 1, or, when the longer operand is cut, 1 + 2 per piece of
// transforms about twice the shorter operand's length: O((na + nb)
// log nb). With IFMA, two 2^20-bit operands take about 0.7 ms (a quarter of
// GMP's mpz_mul), two 2^25-bit ones about 65 ms (a third); the portable
// kernels take about 2.5 times as long.
//
// Peak working memory, besides r: 3 n words of residues, n for the shorter
// operand's transform (none for a square), n for a piece's transform when
// the longer operand is cut (the residues then have the product's length),
// and, for rows longer than 2^16 points, a twiddle table of one row's
// length; the twiddles of shorter transforms are built once, 1.5 MiB shared
// by all calls. For the largest operands, two of 2^20 words (n = 2^21), that
// is 5 n words = 80 MiB for a 16 MiB product (64 MiB for a square), five
// times the product.
//
// r is sized with BoringSSL's own calls (BN_set_bit), so a BIGNUM with
// BN_FLG_STATIC_DATA digits works as long as they hold the product. The
// shorter operand may have at most kNttMaxShortWords words; beyond that the
// three primes no longer determine the convolution (a fatal CHECK).
void NttMultiply(BIGNUM* r, const BIGNUM* a, const BIGNUM* b);

// NttMultiply with the portable scalar kernels only, whatever the processor:
// the code path of machines without AVX-512 IFMA, for tests and comparisons.
void NttMultiplyPortable(BIGNUM* r, const BIGNUM* a, const BIGNUM* b);

// The shorter operand's largest length for NttMultiply: 2^21 words, since
// 2^21 (2^64 - 1)^2 < p0 p1 p2.
constexpr int kNttMaxShortWords = 1 << 21;

// Operand lengths in words from which NttMultiply beats BoringSSL, measured
// with bench/multiply_bench (the Crossover cases). BN_mul is Karatsuba only
// for operands whose lengths differ by at most one word ("balanced") and
// schoolbook otherwise, so the shorter operand of an unbalanced pair needs
// fewer words; squares compare with the faster of BN_sqr and BN_mul.
struct NttThresholds {
  int balanced;    // both operands at least this long
  int square;      // the operand of a square
  int unbalanced;  // the shorter operand, lengths more than one word apart
};
// With the AVX-512 IFMA kernels, and with the portable ones.
constexpr NttThresholds kNttThresholdsIfma = {80, 96, 40};
constexpr NttThresholds kNttThresholdsPortable = {640, 320, 96};

// The thresholds of the kernels that NttMultiply uses on this processor.
const NttThresholds& NttThresholdsHere();

// Whether NttMultiply beats BoringSSL for operands of these lengths in words
// (a square when `square`), per NttThresholdsHere().
bool NttIsFaster(size_t a_words, size_t b_words, bool square);

// *r = a * b by the faster of BoringSSL and NttMultiply for these lengths,
// per NttThresholdsHere(); below the thresholds BN_mul (BN_sqr for squares of
// power-of-two or short lengths, where it is Karatsuba or schoolbook and
// faster). r may alias a or b; a == b squares. ctx serves BoringSSL.
void FastMultiply(BIGNUM* r, const BIGNUM* a, const BIGNUM* b, BN_CTX* ctx);

}  // namespace nurvik::lattis

#endif  // NURVIK_LATTIS_MATH_NTT_MULTIPLY_H_
