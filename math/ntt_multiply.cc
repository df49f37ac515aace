#include "math/ntt_multiply.h"

#include <glog/logging.h>
#include <immintrin.h>
#include <openssl/bn.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>
#include <utility>

namespace nurvik::lattis {
namespace {

using U128 = unsigned __int128;

// ---------------------------------------------------------------------------
// The primes, checked at compile time.

constexpr uint64_t MulModSlow(uint64_t a, uint64_t b, uint64_t p) {
  return static_cast<uint64_t>(static_cast<U128>(a) * b % p);
}

constexpr uint64_t PowMod(uint64_t a, uint64_t e, uint64_t p) {
  uint64_t r = 1;
  for (; e != 0; e >>= 1, a = MulModSlow(a, a, p)) {
    if (e & 1) r = MulModSlow(r, a, p);
  }
  return r;
}

// Miller-Rabin with the primes up to 37 as bases, which is exact below 2^64.
constexpr bool IsPrime(uint64_t n) {
  constexpr uint64_t kBases[] = {2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37};
  if (n < 2) return false;
  for (uint64_t q : kBases) {
    if (n % q == 0) return n == q;
  }
  uint64_t d = n - 1;
  int s = 0;
  for (; d % 2 == 0; d /= 2) ++s;
  for (uint64_t base : kBases) {
    uint64_t x = PowMod(base, d, n);
    bool composite = x != 1 && x != n - 1;
    for (int i = 1; i < s && composite; ++i) {
      x = MulModSlow(x, x, n);
      composite = x != n - 1;
    }
    if (composite) return false;
  }
  return true;
}

// p = k 2^s + 1 with 3 | k, and an element of order 3 * 2^s, s >= 26, so
// that all three primes have the roots of the longest transforms.
struct PrimeSpec {
  uint64_t p;
  int s;
  uint64_t root;
};

constexpr PrimeSpec kPrimes[3] = {
    {kNttPrimes[0], 26, 458209720746978},
    {kNttPrimes[1], 27, 887358078123764},
    {kNttPrimes[2], 28, 975709392904358},
};
// Transforms of up to 2^26 points, or 3 * 2^25.
constexpr int kMaxRootLog2 = 26;

// Each prime lies in (2^50 - 2^42, 2^50): lazy values below 4p fit in 52
// bits, and p0 p1 p2 > 2^149.99 exceeds every convolution coefficient of
// operands whose shorter one has at most 2^21 words.
constexpr bool ValidPrime(const PrimeSpec& s) {
  return IsPrime(s.p) && s.p < (uint64_t{1} << 50) &&
         s.p > (uint64_t{1} << 50) - (uint64_t{1} << 42) &&
         (s.p - 1) % (uint64_t{3} << s.s) == 0 && s.s >= kMaxRootLog2 &&
         PowMod(s.root, uint64_t{3} << (s.s - 1), s.p) == s.p - 1 &&
         PowMod(s.root, uint64_t{1} << s.s, s.p) != 1;
}
static_assert(ValidPrime(kPrimes[0]) && ValidPrime(kPrimes[1]) &&
              ValidPrime(kPrimes[2]));
static_assert(kPrimes[0].p != kPrimes[1].p && kPrimes[1].p != kPrimes[2].p &&
              kPrimes[0].p != kPrimes[2].p);

// ---------------------------------------------------------------------------
// Arithmetic modulo one prime. Values are kept lazily in [0, 2p) or [0, 4p).

inline uint64_t MulHi(uint64_t a, uint64_t b) {
  return static_cast<uint64_t>((static_cast<U128>(a) * b) >> 64);
}

inline uint64_t Reduce(uint64_t x, uint64_t m) { return x >= m ? x - m : x; }

// Shoup's product x w mod p in [0, 2p) for any 64-bit x, given w < p and
// wq = floor(w 2^64 / p): one high and two low multiplications.
inline uint64_t MulShoup(uint64_t x, uint64_t w, uint64_t wq, uint64_t p) {
  return x * w - MulHi(x, wq) * p;
}

// One prime's constants, all computed at compile time.
struct Field {
  constexpr explicit Field(const PrimeSpec& spec)
      : p(spec.p),
        p2(2 * spec.p),
        pinv(InverseMod64(spec.p)),
        pinv52((0 - pinv) & ((uint64_t{1} << 52) - 1)),
        recip(static_cast<uint64_t>((U128{1} << 113) / spec.p)),
        one{1, Companion(1)},
        minus_one{spec.p - 1, Companion(spec.p - 1)},
        omega3{PowMod(spec.root, uint64_t{1} << spec.s, spec.p), 0},
        omega3_sq{MulModSlow(omega3[0], omega3[0], spec.p), 0},
        inv3(PowMod(3, spec.p - 2, spec.p)),
        roots{},
        inv_pow2{} {
    omega3[1] = Companion(omega3[0]);
    omega3_sq[1] = Companion(omega3_sq[0]);
    uint64_t x = PowMod(spec.root, 3, p);  // order 2^s
    for (int j = spec.s; j > kMaxRootLog2; --j) x = MulModSlow(x, x, p);
    for (int k = kMaxRootLog2; k >= 0; --k, x = MulModSlow(x, x, p)) {
      roots[k] = x;
    }
    inv_pow2[0] = 1;
    for (int k = 1; k <= kMaxRootLog2; ++k) {
      inv_pow2[k] = MulModSlow(inv_pow2[k - 1], (p + 1) / 2, p);
    }
  }

  // p^-1 mod 2^64 by Newton's iteration, which doubles the correct low bits.
  static constexpr uint64_t InverseMod64(uint64_t p) {
    uint64_t inv = 1;
    for (int i = 0; i < 6; ++i) inv *= 2 - p * inv;
    return inv;
  }

  // floor(w 2^64 / p) for w < p without a division: recip = floor(2^113 / p)
  // gives it to within 2, and the remainder, below 3p, fixes it.
  constexpr uint64_t Companion(uint64_t w) const {
    uint64_t q = static_cast<uint64_t>((static_cast<U128>(w) * recip) >> 49);
    for (uint64_t rem = 0 - q * p; rem >= p; rem -= p) ++q;
    return q;
  }

  // x mod p in [0, 2p), for any 64-bit x: Shoup's product by 1.
  uint64_t ReduceWord(uint64_t x) const { return MulShoup(x, 1, one[1], p); }

  // a b 2^-64 mod p in [0, p), for a b < p 2^64 (Montgomery).
  uint64_t MulMont(uint64_t a, uint64_t b) const {
    const U128 t = static_cast<U128>(a) * b;
    const uint64_t hi = static_cast<uint64_t>(t >> 64);
    const uint64_t mh = MulHi(static_cast<uint64_t>(t) * pinv, p);
    return hi >= mh ? hi - mh : hi - mh + p;
  }

  uint64_t p, p2;
  uint64_t pinv;          // p^-1 mod 2^64
  uint64_t pinv52;        // -p^-1 mod 2^52
  uint64_t recip;         // floor(2^113 / p)
  uint64_t one[2];        // 1 and its Shoup companion
  uint64_t minus_one[2];  // p - 1 and its companion
  uint64_t omega3[2];     // a cube root of unity and its companion
  uint64_t omega3_sq[2];  // its square and companion
  uint64_t inv3;          // 3^-1 mod p
  uint64_t roots[kMaxRootLog2 + 1];     // roots[k] has order 2^k
  uint64_t inv_pow2[kMaxRootLog2 + 1];  // 2^-k mod p
};

constexpr Field kFields[3] = {Field(kPrimes[0]), Field(kPrimes[1]),
                              Field(kPrimes[2])};
static_assert(kFields[0].omega3[0] != 1 && kFields[1].omega3[0] != 1 &&
              kFields[2].omega3[0] != 1);
static_assert(kFields[0].roots[1] == kPrimes[0].p - 1 &&
              kFields[1].roots[1] == kPrimes[1].p - 1 &&
              kFields[2].roots[1] == kPrimes[2].p - 1);

// ---------------------------------------------------------------------------
// Transforms of length n = 2^k. The forward transform reduces a polynomial
// modulo x^n - 1 step by step: a block k of length 2m holding a mod
// (x^2m - c^2) splits into a mod (x^m - c) (lo + c hi) and a mod (x^m + c)
// (lo - c hi), the blocks 2k and 2k + 1 of the next level. With c of block k
// equal to W[k] = w^bitrev(k), w of order n and bitrev over log2(n) - 1 bits,
// one table serves every level, and a table for n holds the one for n / 2 as
// its first half. The output is in bit-reversed order, which the pointwise
// product does not mind, and the inverse undoes the steps bottom-up with
// W[k]^-1 = -W[k ^ (h - 1)] (h the highest bit of k), so it needs no table of
// its own. Inputs of the forward transform lie in [0, 4p) and so do its
// outputs; the inverse keeps [0, 2p) (Harvey's lazy butterflies).

// Twiddles as pairs (W[k], its Shoup companion) for k in [from, half), given
// those below `from` (0 or a power of two).
void FillTwiddles(const Field& f, size_t from, size_t half, uint64_t* tw) {
  if (from == 0) {
    tw[0] = f.one[0];
    tw[1] = f.one[1];
    from = 1;
  }
  // W[j + i] = W[j] W[i] for j a power of two and i < j; W[j] has order 4j.
  for (size_t j = from; j < half; j *= 2) {
    const uint64_t r = f.roots[__builtin_ctzll(4 * j)];
    const uint64_t rq = f.Companion(r);
    for (size_t i = 0; i < j; ++i) {
      const uint64_t w = Reduce(MulShoup(tw[2 * i], r, rq, f.p), f.p);
      tw[2 * (j + i)] = w;
      tw[2 * (j + i) + 1] = f.Companion(w);
    }
  }
}

// The twiddles of transforms up to kCachedLength points, built once: as the
// table for n is the first half of the one for 2n, they serve every shorter
// transform as they are and every longer one as its first part. Immutable
// after the thread-safe initialisation.
constexpr size_t kCachedLength = size_t{1} << 16;

const uint64_t* CachedTwiddles(int i) {
  static const std::vector<uint64_t>* const tables = [] {
    auto* t = new std::vector<uint64_t>[3];
    for (int j = 0; j < 3; ++j) {
      t[j].resize(kCachedLength);
      FillTwiddles(kFields[j], 0, kCachedLength / 2, t[j].data());
    }
    return t;
  }();
  return tables[i].data();
}

inline const uint64_t* InverseTwiddle(const Field& f, const uint64_t* tw,
                                      size_t k) {
  if (k == 0) return f.minus_one;
  const size_t h = size_t{1} << (63 - __builtin_clzll(k));
  return tw + 2 * (k ^ (h - 1));
}

inline void ForwardButterfly(uint64_t& x, uint64_t& y, const uint64_t* w,
                             const Field& f) {
  const uint64_t u = Reduce(x, f.p2);
  const uint64_t t = MulShoup(y, w[0], w[1], f.p);
  x = u + t;
  y = u - t + f.p2;
}

// With w = -c^-1: (u, v) = (lo + c hi, lo - c hi) becomes (2 lo, 2 hi).
inline void InverseButterfly(uint64_t& x, uint64_t& y, const uint64_t* w,
                             const Field& f) {
  const uint64_t u = x, v = y;
  x = Reduce(u + v, f.p2);
  y = MulShoup(v - u + f.p2, w[0], w[1], f.p);
}

// Two levels at once on block k of length 4m: blocks 4k .. 4k + 3 of length m.
void ForwardRadix4(const Field& f, const uint64_t* tw, uint64_t* a, size_t m,
                   size_t k) {
  const uint64_t* w1 = tw + 2 * k;
  const uint64_t* w2 = tw + 4 * k;
  const uint64_t* w3 = tw + 4 * k + 2;
  for (size_t j = 0; j < m; ++j) {
    uint64_t x0 = a[j], x1 = a[j + m], x2 = a[j + 2 * m], x3 = a[j + 3 * m];
    ForwardButterfly(x0, x2, w1, f);
    ForwardButterfly(x1, x3, w1, f);
    ForwardButterfly(x0, x1, w2, f);
    ForwardButterfly(x2, x3, w3, f);
    a[j] = x0;
    a[j + m] = x1;
    a[j + 2 * m] = x2;
    a[j + 3 * m] = x3;
  }
}

void InverseRadix4(const Field& f, const uint64_t* tw, uint64_t* a, size_t m,
                   size_t k) {
  const uint64_t* w1 = InverseTwiddle(f, tw, k);
  const uint64_t* w2 = InverseTwiddle(f, tw, 2 * k);
  const uint64_t* w3 = InverseTwiddle(f, tw, 2 * k + 1);
  for (size_t j = 0; j < m; ++j) {
    uint64_t x0 = a[j], x1 = a[j + m], x2 = a[j + 2 * m], x3 = a[j + 3 * m];
    InverseButterfly(x0, x1, w2, f);
    InverseButterfly(x2, x3, w3, f);
    InverseButterfly(x0, x2, w1, f);
    InverseButterfly(x1, x3, w1, f);
    a[j] = x0;
    a[j + m] = x1;
    a[j + 2 * m] = x2;
    a[j + 3 * m] = x3;
  }
}

// Blocks up to this length are transformed level by level; longer ones
// depth-first, so that each level of a block runs while it is in cache.
constexpr size_t kLeafLength = 1024;

// Forward transform of block k of length n (a power of two).
void Forward(const Field& f, const uint64_t* tw, uint64_t* a, size_t n,
             size_t k) {
  if (n > kLeafLength) {
    const size_t m = n / 4;
    ForwardRadix4(f, tw, a, m, k);
    for (size_t i = 0; i < 4; ++i) Forward(f, tw, a + i * m, m, 4 * k + i);
    return;
  }
  size_t blocks = 1;
  for (; n >= 4; n /= 4, blocks *= 4, k *= 4) {
    for (size_t b = 0; b < blocks; ++b) {
      ForwardRadix4(f, tw, a + b * n, n / 4, k + b);
    }
  }
  if (n == 2) {
    for (size_t b = 0; b < blocks; ++b) {
      ForwardButterfly(a[2 * b], a[2 * b + 1], tw + 2 * (k + b), f);
    }
  }
}

void Inverse(const Field& f, const uint64_t* tw, uint64_t* a, size_t n,
             size_t k) {
  if (n > kLeafLength) {
    const size_t m = n / 4;
    for (size_t i = 0; i < 4; ++i) Inverse(f, tw, a + i * m, m, 4 * k + i);
    InverseRadix4(f, tw, a, m, k);
    return;
  }
  // Bottom-up: one radix-2 level first when log2(n) is odd.
  size_t len = 1, blocks = n, first = k * n;
  if (__builtin_ctzll(n) % 2 == 1) {
    blocks /= 2;
    first /= 2;
    for (size_t b = 0; b < blocks; ++b) {
      InverseButterfly(a[2 * b], a[2 * b + 1],
                       InverseTwiddle(f, tw, first + b), f);
    }
    len = 2;
  }
  while (blocks > 1) {
    blocks /= 4;
    first /= 4;
    for (size_t b = 0; b < blocks; ++b) {
      InverseRadix4(f, tw, a + 4 * len * b, len, first + b);
    }
    len *= 4;
  }
}

// ---------------------------------------------------------------------------
// The product.

// Words up to the highest nonzero one.
size_t MinimalWords(const BIGNUM* a) {
  size_t n = a->width;
  while (n > 0 && a->d[n - 1] == 0) --n;
  return n;
}

// Loads `len` words of x, reduced below 2p, as a polynomial into a (length n,
// a power of two >= 2, len <= n) and runs the forward transform's top level
// (c = 1) on the way, which for len <= n / 2 is a copy.
void LoadAndForward(const Field& f, const uint64_t* tw, const uint64_t* x,
                    size_t len, uint64_t* a, size_t n) {
  const size_t half = n / 2;
  const size_t high = len > half ? len - half : 0;
  const size_t low = std::min(len, half);
  for (size_t j = 0; j < high; ++j) {
    const uint64_t u = f.ReduceWord(x[j]);
    const uint64_t v = f.ReduceWord(x[j + half]);
    a[j] = u + v;
    a[j + half] = u - v + f.p2;
  }
  for (size_t j = high; j < low; ++j) a[j] = a[j + half] = f.ReduceWord(x[j]);
  for (size_t j = low; j < half; ++j) a[j] = a[j + half] = 0;
  Forward(f, tw, a, half, 0);
  Forward(f, tw, a + half, half, 1);
}

// Transforms of length n = 3m. As 3 and m are coprime, x^n - 1 is split
// without twiddles (Good and Thomas's prime-factor mapping): coefficient j
// goes to row j mod 3, column j mod m of a 3 x m array; three-point
// transforms down the columns and length-m transforms along the rows give a
// transform of length n, and the inverse undoes both in reverse order.

// Position of coefficient j in the rows (rows == 1: position j).
struct Layout {
  size_t rows, m;
};

// Three-point transforms of the columns j: (a[j], a[m + j], a[2m + j]) with
// w a cube root of unity, w^2 = -1 - w: one product per column. Inputs below
// 2p, outputs too. With w's square in place of w, the inverse times 3.
void Dft3(const Field& f, uint64_t* a, size_t m, const uint64_t* w) {
  const uint64_t p4 = 2 * f.p2;
  for (size_t j = 0; j < m; ++j) {
    const uint64_t x0 = a[j], x1 = a[m + j], x2 = a[2 * m + j];
    const uint64_t t = MulShoup(x1 - x2 + f.p2, w[0], w[1], f.p);
    a[j] = Reduce(Reduce(x0 + x1 + x2, p4), f.p2);
    a[m + j] = Reduce(Reduce(x0 - x2 + t + f.p2, p4), f.p2);
    a[2 * m + j] = Reduce(Reduce(x0 - x1 - t + p4, p4), f.p2);
  }
}

// Loads `len` words of x, reduced below 2p, into the 3 x m rows of a, and
// transforms the columns.
void LoadRowsDft3(const Field& f, const uint64_t* x, size_t len, uint64_t* a,
                  size_t m) {
  std::fill(a, a + 3 * m, 0);
  size_t row = 0, column = 0;
  for (size_t j = 0; j < len; ++j) {
    a[row * m + column] = f.ReduceWord(x[j]);
    row = row == 2 ? 0 : row + 1;
    column = (column + 1) & (m - 1);
  }
  Dft3(f, a, m, f.omega3);
}

// a = a b 2^-64 (Montgomery), b == a squares.
void Pointwise(const Field& f, uint64_t* a, const uint64_t* b, size_t n) {
  for (size_t j = 0; j < n; ++j) a[j] = f.MulMont(a[j], b[j]);
}

// ---------------------------------------------------------------------------
// The same transforms eight lanes at a time with AVX-512 IFMA (52-bit
// multiply-add), chosen at run time on processors that have it. Values below
// 4p < 2^52 are exact 52-bit lanes; Shoup's companion for 52 bits is
// floor(w 2^52 / p), the 64-bit one shifted right by 12. Levels whose
// butterflies pair words at least 8 apart run on vectors of consecutive
// words with broadcast twiddles; the last three levels run on two blocks of 8
// at a time, permuted across lanes. The pointwise product is Montgomery's
// with R = 2^52.

#define LATTIS_IFMA __attribute__((target("avx512f,avx512dq,avx512ifma")))

// Broadcast constants of one prime.
struct VecField {
  LATTIS_IFMA explicit VecField(const Field& f)
      : p(_mm512_set1_epi64(f.p)),
        p2(_mm512_set1_epi64(f.p2)),
        pneg(_mm512_set1_epi64((uint64_t{1} << 52) - f.p)),
        mask(_mm512_set1_epi64((uint64_t{1} << 52) - 1)),
        pinv(_mm512_set1_epi64(f.pinv52)),
        inv_p(_mm512_set1_pd(1.0 / static_cast<double>(f.p))) {}
  __m512i p, p2, pneg, mask, pinv;
  __m512d inv_p;
};

// Twiddles by lane and their 52-bit companions; from a pointer, one pair
// broadcast.
struct VecTwiddle {
  LATTIS_IFMA explicit VecTwiddle(const uint64_t* w)
      : w(_mm512_set1_epi64(w[0])), q(_mm512_set1_epi64(w[1] >> 12)) {}
  LATTIS_IFMA VecTwiddle(__m512i w, __m512i q) : w(w), q(q) {}
  __m512i w, q;
};

LATTIS_IFMA inline __m512i VecMulShoup(__m512i y, const VecTwiddle& w,
                                       const VecField& v) {
  const __m512i zero = _mm512_setzero_si512();
  const __m512i q = _mm512_madd52hi_epu64(zero, y, w.q);
  // y w - q p mod 2^52, exact since the difference lies in [0, 2p).
  const __m512i t = _mm512_madd52lo_epu64(zero, y, w.w);
  return _mm512_and_si512(_mm512_madd52lo_epu64(t, q, v.pneg), v.mask);
}

LATTIS_IFMA inline __m512i VecReduce(__m512i x, __m512i m) {
  return _mm512_mask_sub_epi64(x, _mm512_cmpge_epu64_mask(x, m), x, m);
}

LATTIS_IFMA inline void VecForwardButterfly(__m512i& x, __m512i& y,
                                            const VecTwiddle& w,
                                            const VecField& v) {
  const __m512i u = VecReduce(x, v.p2);
  const __m512i t = VecMulShoup(y, w, v);
  x = _mm512_add_epi64(u, t);
  y = _mm512_add_epi64(_mm512_sub_epi64(u, t), v.p2);
}

LATTIS_IFMA inline void VecInverseButterfly(__m512i& x, __m512i& y,
                                            const VecTwiddle& w,
                                            const VecField& v) {
  const __m512i u = x, s = y;
  x = VecReduce(_mm512_add_epi64(u, s), v.p2);
  y = VecMulShoup(_mm512_add_epi64(_mm512_sub_epi64(s, u), v.p2), w, v);
}

// ForwardRadix4 and InverseRadix4 for m a multiple of 8.
LATTIS_IFMA void VecForwardRadix4(const VecField& v,
                                  const uint64_t* tw, uint64_t* a, size_t m,
                                  size_t k) {
  const VecTwiddle w1(tw + 2 * k), w2(tw + 4 * k), w3(tw + 4 * k + 2);
  for (size_t j = 0; j < m; j += 8) {
    uint64_t* p = a + j;
    __m512i x0 = _mm512_loadu_si512(p), x1 = _mm512_loadu_si512(p + m),
            x2 = _mm512_loadu_si512(p + 2 * m),
            x3 = _mm512_loadu_si512(p + 3 * m);
    VecForwardButterfly(x0, x2, w1, v);
    VecForwardButterfly(x1, x3, w1, v);
    VecForwardButterfly(x0, x1, w2, v);
    VecForwardButterfly(x2, x3, w3, v);
    _mm512_storeu_si512(p, x0);
    _mm512_storeu_si512(p + m, x1);
    _mm512_storeu_si512(p + 2 * m, x2);
    _mm512_storeu_si512(p + 3 * m, x3);
  }
}

LATTIS_IFMA void VecInverseRadix4(const Field& f, const VecField& v,
                                  const uint64_t* tw, uint64_t* a, size_t m,
                                  size_t k) {
  const VecTwiddle w1(InverseTwiddle(f, tw, k)),
      w2(InverseTwiddle(f, tw, 2 * k)), w3(InverseTwiddle(f, tw, 2 * k + 1));
  for (size_t j = 0; j < m; j += 8) {
    uint64_t* p = a + j;
    __m512i x0 = _mm512_loadu_si512(p), x1 = _mm512_loadu_si512(p + m),
            x2 = _mm512_loadu_si512(p + 2 * m),
            x3 = _mm512_loadu_si512(p + 3 * m);
    VecInverseButterfly(x0, x1, w2, v);
    VecInverseButterfly(x2, x3, w3, v);
    VecInverseButterfly(x0, x2, w1, v);
    VecInverseButterfly(x1, x3, w1, v);
    _mm512_storeu_si512(p, x0);
    _mm512_storeu_si512(p + m, x1);
    _mm512_storeu_si512(p + 2 * m, x2);
    _mm512_storeu_si512(p + 3 * m, x3);
  }
}

// One level on block k of length 16.
LATTIS_IFMA void VecForwardRadix2(const VecField& v, const uint64_t* tw,
                                  uint64_t* a, size_t k) {
  __m512i x = _mm512_loadu_si512(a), y = _mm512_loadu_si512(a + 8);
  VecForwardButterfly(x, y, VecTwiddle(tw + 2 * k), v);
  _mm512_storeu_si512(a, x);
  _mm512_storeu_si512(a + 8, y);
}

LATTIS_IFMA void VecInverseRadix2(const Field& f, const VecField& v,
                                  const uint64_t* tw, uint64_t* a, size_t k) {
  __m512i x = _mm512_loadu_si512(a), y = _mm512_loadu_si512(a + 8);
  VecInverseButterfly(x, y, VecTwiddle(InverseTwiddle(f, tw, k)), v);
  _mm512_storeu_si512(a, x);
  _mm512_storeu_si512(a + 8, y);
}

// The last three levels on the blocks k and k + 1 of length 8 (k even), in
// two vectors. Each level pairs the words of its butterflies into two vectors
// by one permutation, and the next level permutes again from there; the words
// end in an order of their own, which the pointwise product does not mind
// and VecInverseTail starts from. Twiddle vectors come from the table by
// permutation too: forward ones are consecutive, inverse ones of blocks
// past 1 lie reversed in the table (the inverse of block g is in the same
// octave), and those of blocks 0 and 1 are gathered one by one.
LATTIS_IFMA inline VecTwiddle GatherTwiddles(const Field& f,
                                             const uint64_t* tw, size_t first,
                                             int lanes_per_block,
                                             bool inverse) {
  alignas(64) uint64_t w[8], q[8];
  for (int l = 0; l < 8; ++l) {
    const size_t k = first + l / lanes_per_block;
    const uint64_t* t = inverse ? InverseTwiddle(f, tw, k) : tw + 2 * k;
    w[l] = t[0];
    q[l] = t[1] >> 12;
  }
  return VecTwiddle(_mm512_load_si512(w), _mm512_load_si512(q));
}

LATTIS_IFMA inline __m512i ShiftRight12(__m512i x) {
  return _mm512_mask_srli_epi64(x, 0xff, x, 12);
}

// Lanes l get the pairs at qword offsets w_index[l] (and the companion after
// it) of the 16 qwords from t.
LATTIS_IFMA inline VecTwiddle PermuteTwiddles(const uint64_t* t,
                                              __m512i w_index, bool two) {
  const __m512i t0 = _mm512_loadu_si512(t);
  const __m512i t1 = two ? _mm512_loadu_si512(t + 8) : t0;
  const __m512i q_index = _mm512_add_epi64(w_index, _mm512_set1_epi64(1));
  return VecTwiddle(
      _mm512_permutex2var_epi64(t0, w_index, t1),
      ShiftRight12(_mm512_permutex2var_epi64(t0, q_index, t1)));
}

// Twiddles of the blocks first .. first + 8 / lanes_per_block - 1 (the level's
// blocks within the two blocks of 8), lanes_per_block lanes each.
LATTIS_IFMA inline VecTwiddle TailTwiddles(const Field& f, const uint64_t* tw,
                                           size_t first, int lanes_per_block,
                                           bool inverse) {
  const int blocks = 8 / lanes_per_block;
  alignas(64) uint64_t index[8];
  for (int l = 0; l < 8; ++l) {
    const int i = l / lanes_per_block;
    index[l] = 2 * (inverse ? blocks - 1 - i : i);
  }
  const __m512i w_index = _mm512_load_si512(index);
  if (!inverse) return PermuteTwiddles(tw + 2 * first, w_index, blocks == 8);
  if (first < 2) return GatherTwiddles(f, tw, first, lanes_per_block, true);
  const size_t h = size_t{1} << (63 - __builtin_clzll(first));
  return PermuteTwiddles(tw + 2 * (3 * h - blocks - first), w_index,
                         blocks == 8);
}

// Word positions of the permutations of the tail, as lanes of two vectors
// (8 + i is lane i of the second).
struct TailPermutations {
  LATTIS_IFMA TailPermutations()
      : halves_lo(_mm512_setr_epi64(0, 1, 2, 3, 8, 9, 10, 11)),
        halves_hi(_mm512_setr_epi64(4, 5, 6, 7, 12, 13, 14, 15)),
        pairs_lo(_mm512_setr_epi64(0, 1, 8, 9, 4, 5, 12, 13)),
        pairs_hi(_mm512_setr_epi64(2, 3, 10, 11, 6, 7, 14, 15)),
        words_lo(_mm512_setr_epi64(0, 8, 2, 10, 4, 12, 6, 14)),
        words_hi(_mm512_setr_epi64(1, 9, 3, 11, 5, 13, 7, 15)) {}
  __m512i halves_lo, halves_hi, pairs_lo, pairs_hi, words_lo, words_hi;
};

LATTIS_IFMA inline void Permute(__m512i& x, __m512i& y, __m512i lo,
                                __m512i hi) {
  const __m512i u = x;
  x = _mm512_permutex2var_epi64(u, lo, y);
  y = _mm512_permutex2var_epi64(u, hi, y);
}

LATTIS_IFMA void VecForwardTail(const Field& f, const VecField& v,
                                const uint64_t* tw, uint64_t* a, size_t k) {
  const TailPermutations t;
  __m512i x = _mm512_loadu_si512(a), y = _mm512_loadu_si512(a + 8);
  Permute(x, y, t.halves_lo, t.halves_hi);
  VecForwardButterfly(x, y, TailTwiddles(f, tw, k, 4, false), v);
  Permute(x, y, t.pairs_lo, t.pairs_hi);
  VecForwardButterfly(x, y, TailTwiddles(f, tw, 2 * k, 2, false), v);
  Permute(x, y, t.words_lo, t.words_hi);
  VecForwardButterfly(x, y, TailTwiddles(f, tw, 4 * k, 1, false), v);
  _mm512_storeu_si512(a, x);
  _mm512_storeu_si512(a + 8, y);
}

// Each permutation of VecForwardTail is its own inverse.
LATTIS_IFMA void VecInverseTail(const Field& f, const VecField& v,
                                const uint64_t* tw, uint64_t* a, size_t k) {
  const TailPermutations t;
  __m512i x = _mm512_loadu_si512(a), y = _mm512_loadu_si512(a + 8);
  VecInverseButterfly(x, y, TailTwiddles(f, tw, 4 * k, 1, true), v);
  Permute(x, y, t.words_lo, t.words_hi);
  VecInverseButterfly(x, y, TailTwiddles(f, tw, 2 * k, 2, true), v);
  Permute(x, y, t.pairs_lo, t.pairs_hi);
  VecInverseButterfly(x, y, TailTwiddles(f, tw, k, 4, true), v);
  Permute(x, y, t.halves_lo, t.halves_hi);
  _mm512_storeu_si512(a, x);
  _mm512_storeu_si512(a + 8, y);
}

// Forward and Inverse for n >= 16.
LATTIS_IFMA void VecForward(const Field& f, const VecField& v,
                            const uint64_t* tw, uint64_t* a, size_t n,
                            size_t k) {
  if (n > kLeafLength) {
    const size_t m = n / 4;
    VecForwardRadix4(v, tw, a, m, k);
    for (size_t i = 0; i < 4; ++i) {
      VecForward(f, v, tw, a + i * m, m, 4 * k + i);
    }
    return;
  }
  size_t blocks = 1;
  for (; n >= 32; n /= 4, blocks *= 4, k *= 4) {
    for (size_t b = 0; b < blocks; ++b) {
      VecForwardRadix4(v, tw, a + b * n, n / 4, k + b);
    }
  }
  if (n == 16) {
    for (size_t b = 0; b < blocks; ++b) VecForwardRadix2(v, tw, a + 16 * b, k + b);
    blocks *= 2;
    k *= 2;
  }
  for (size_t b = 0; b < blocks; b += 2) VecForwardTail(f, v, tw, a + 8 * b, k + b);
}

LATTIS_IFMA void VecInverse(const Field& f, const VecField& v,
                            const uint64_t* tw, uint64_t* a, size_t n,
                            size_t k) {
  if (n > kLeafLength) {
    const size_t m = n / 4;
    for (size_t i = 0; i < 4; ++i) {
      VecInverse(f, v, tw, a + i * m, m, 4 * k + i);
    }
    VecInverseRadix4(f, v, tw, a, m, k);
    return;
  }
  size_t blocks = n / 8, first = k * blocks, len = 8;
  for (size_t b = 0; b < blocks; b += 2) {
    VecInverseTail(f, v, tw, a + 8 * b, first + b);
  }
  if (__builtin_ctzll(blocks) % 2 == 1) {
    blocks /= 2;
    first /= 2;
    for (size_t b = 0; b < blocks; ++b) {
      VecInverseRadix2(f, v, tw, a + 16 * b, first + b);
    }
    len = 16;
  }
  while (blocks > 1) {
    blocks /= 4;
    first /= 4;
    for (size_t b = 0; b < blocks; ++b) {
      VecInverseRadix4(f, v, tw, a + 4 * len * b, len, first + b);
    }
    len *= 4;
  }
}

// x mod p in [0, 2p) for 64-bit lanes: the quotient from doubles is off by
// at most one, and a negative remainder gets p back.
LATTIS_IFMA inline __m512i VecReduceWords(__m512i x, const VecField& v) {
  const __m512d q = _mm512_mul_pd(_mm512_cvtepu64_pd(x), v.inv_p);
  const __m512i r =
      _mm512_sub_epi64(x, _mm512_mullo_epi64(_mm512_cvttpd_epu64(q), v.p));
  return _mm512_mask_add_epi64(r, _mm512_movepi64_mask(r), r, v.p);
}

// LoadAndForward for n >= 32.
LATTIS_IFMA void VecLoadAndForward(const Field& f, const uint64_t* tw,
                                   const uint64_t* x, size_t len, uint64_t* a,
                                   size_t n) {
  const VecField v(f);
  const size_t half = n / 2;
  const size_t high = len > half ? len - half : 0;
  const size_t low = std::min(len, half);
  size_t j = 0;
  for (; j + 8 <= high; j += 8) {
    const __m512i u = VecReduceWords(_mm512_loadu_si512(x + j), v);
    const __m512i w = VecReduceWords(_mm512_loadu_si512(x + j + half), v);
    _mm512_storeu_si512(a + j, _mm512_add_epi64(u, w));
    _mm512_storeu_si512(a + j + half,
                        _mm512_add_epi64(_mm512_sub_epi64(u, w), v.p2));
  }
  for (; j < high; ++j) {
    const uint64_t u = f.ReduceWord(x[j]), w = f.ReduceWord(x[j + half]);
    a[j] = u + w;
    a[j + half] = u - w + f.p2;
  }
  for (; j < low && j % 8 != 0; ++j) a[j] = a[j + half] = f.ReduceWord(x[j]);
  for (; j + 8 <= low; j += 8) {
    const __m512i u = VecReduceWords(_mm512_loadu_si512(x + j), v);
    _mm512_storeu_si512(a + j, u);
    _mm512_storeu_si512(a + j + half, u);
  }
  for (; j < low; ++j) a[j] = a[j + half] = f.ReduceWord(x[j]);
  std::fill(a + low, a + half, 0);
  std::fill(a + half + low, a + n, 0);
  VecForward(f, v, tw, a, half, 0);
  VecForward(f, v, tw, a + half, half, 1);
}

// The three-point transforms of Dft3 on the columns x0, x1, x2 (below 2p).
LATTIS_IFMA inline void VecDft3Columns(__m512i& x0, __m512i& x1, __m512i& x2,
                                       const VecTwiddle& w,
                                       const VecField& v) {
  const __m512i p4 = _mm512_add_epi64(v.p2, v.p2);
  const __m512i t =
      VecMulShoup(_mm512_add_epi64(_mm512_sub_epi64(x1, x2), v.p2), w, v);
  const __m512i y0 = _mm512_add_epi64(_mm512_add_epi64(x0, x1), x2);
  const __m512i y1 =
      _mm512_add_epi64(_mm512_add_epi64(_mm512_sub_epi64(x0, x2), t), v.p2);
  const __m512i y2 =
      _mm512_add_epi64(_mm512_sub_epi64(_mm512_sub_epi64(x0, x1), t), p4);
  x0 = VecReduce(VecReduce(y0, p4), v.p2);
  x1 = VecReduce(VecReduce(y1, p4), v.p2);
  x2 = VecReduce(VecReduce(y2, p4), v.p2);
}

// Dft3 for m a multiple of 8.
LATTIS_IFMA void VecDft3(const Field& f, uint64_t* a, size_t m,
                         const uint64_t* w) {
  const VecField v(f);
  const VecTwiddle t(w);
  for (size_t j = 0; j < m; j += 8) {
    __m512i x0 = _mm512_loadu_si512(a + j);
    __m512i x1 = _mm512_loadu_si512(a + m + j);
    __m512i x2 = _mm512_loadu_si512(a + 2 * m + j);
    VecDft3Columns(x0, x1, x2, t, v);
    _mm512_storeu_si512(a + j, x0);
    _mm512_storeu_si512(a + m + j, x1);
    _mm512_storeu_si512(a + 2 * m + j, x2);
  }
}

// LoadRowsDft3 for m a multiple of 8: row r, column c holds word
// j = (r e0 + c e1) mod 3m (e0 = 1 mod 3 and 0 mod m, e1 the other way
// round), so eight columns of a row are gathered at indices that step by
// 8 e1 mod 3m, and the three rows' columns are transformed at once.
LATTIS_IFMA void VecLoadRowsDft3(const Field& f, const uint64_t* x,
                                 size_t len, uint64_t* a, size_t m) {
  const VecField v(f);
  const VecTwiddle w(f.omega3);
  const size_t n = 3 * m;
  const size_t e0 = m % 3 == 1 ? m : 2 * m;
  const size_t e1 = m % 3 == 1 ? 2 * m + 1 : m + 1;
  alignas(64) uint64_t start[3][8];
  for (size_t r = 0; r < 3; ++r) {
    for (size_t l = 0; l < 8; ++l) start[r][l] = (r * e0 + l * e1) % n;
  }
  __m512i index[3];
  for (int r = 0; r < 3; ++r) index[r] = _mm512_load_si512(start[r]);
  const __m512i step = _mm512_set1_epi64((8 * e1) % n);
  const __m512i vn = _mm512_set1_epi64(n);
  const __m512i vlen = _mm512_set1_epi64(len);
  const __m512i zero = _mm512_setzero_si512();
  for (size_t c = 0; c < m; c += 8) {
    __m512i col[3];
    for (int r = 0; r < 3; ++r) {
      const __m512i words = _mm512_mask_i64gather_epi64(
          zero, _mm512_cmplt_epu64_mask(index[r], vlen), index[r],
          reinterpret_cast<const long long*>(x), 8);
      col[r] = VecReduceWords(words, v);
      index[r] = VecReduce(_mm512_add_epi64(index[r], step), vn);
    }
    VecDft3Columns(col[0], col[1], col[2], w, v);
    for (int r = 0; r < 3; ++r) _mm512_storeu_si512(a + r * m + c, col[r]);
  }
}

LATTIS_IFMA void VecForwardTransform(const Field& f, const uint64_t* tw,
                                     uint64_t* a, size_t n) {
  VecForward(f, VecField(f), tw, a, n, 0);
}

// a = a b 2^-52 (Montgomery) for inputs below 4p, reduced below 2p first so
// that the result lies in [0, 2p); n a multiple of 8.
LATTIS_IFMA void VecPointwise(const Field& f, uint64_t* a, const uint64_t* b,
                              size_t n) {
  const VecField v(f);
  const __m512i zero = _mm512_setzero_si512();
  const __m512i one = _mm512_set1_epi64(1);
  for (size_t j = 0; j < n; j += 8) {
    const __m512i x = VecReduce(_mm512_loadu_si512(a + j), v.p2);
    const __m512i y = VecReduce(_mm512_loadu_si512(b + j), v.p2);
    const __m512i lo = _mm512_madd52lo_epu64(zero, x, y);
    const __m512i hi = _mm512_madd52hi_epu64(zero, x, y);
    const __m512i m = _mm512_madd52lo_epu64(zero, lo, v.pinv);
    // x y + m p = (hi + hi(m p) + [lo != 0]) 2^52.
    __m512i r = _mm512_add_epi64(hi, _mm512_madd52hi_epu64(zero, m, v.p));
    r = _mm512_mask_add_epi64(r, _mm512_test_epi64_mask(lo, lo), r, one);
    _mm512_storeu_si512(a + j, r);
  }
}

LATTIS_IFMA void VecInverseTransform(const Field& f, const uint64_t* tw,
                                     uint64_t* a, size_t n) {
  VecInverse(f, VecField(f), tw, a, n, 0);
}

void ScalarForwardTransform(const Field& f, const uint64_t* tw, uint64_t* a,
                            size_t n) {
  Forward(f, tw, a, n, 0);
}

void ScalarInverseTransform(const Field& f, const uint64_t* tw, uint64_t* a,
                            size_t n) {
  Inverse(f, tw, a, n, 0);
}

// ---------------------------------------------------------------------------
// Garner's recombination of the three residues z_i of a coefficient (below
// 2 p_i, each n times the true residue times R^-1 from the Montgomery
// product, R = 2^montgomery_bits) into the digits y0 < p0, v1 < p1, v2 < p2
// of x = y0 + p0 v1 + p0 p1 v2: y0 = x0, v1 = (x1 - y0) / p0 mod p1 and
// v2 = (x2 - y0 - p0 v1) / (p0 p1) mod p2, for the true residues
// x_i = z_i R / n mod p_i. The factors R / n are folded into the constants.

constexpr uint64_t kInvP0ModP1 =
    PowMod(kNttPrimes[0] % kNttPrimes[1], kNttPrimes[1] - 2, kNttPrimes[1]);
constexpr uint64_t kInvP1ModP2 =
    PowMod(kNttPrimes[1] % kNttPrimes[2], kNttPrimes[2] - 2, kNttPrimes[2]);
constexpr uint64_t kInvP01ModP2 = MulModSlow(
    PowMod(kNttPrimes[0] % kNttPrimes[2], kNttPrimes[2] - 2, kNttPrimes[2]),
    kInvP1ModP2, kNttPrimes[2]);

struct Garner {
  Garner(size_t n, int montgomery_bits) {
    uint64_t scale[3];
    for (int i = 0; i < 3; ++i) {
      const Field& f = kFields[i];
      const uint64_t r =
          static_cast<uint64_t>((U128{1} << montgomery_bits) % f.p);
      const uint64_t inv_n =
          n % 3 == 0
              ? MulModSlow(f.inv_pow2[__builtin_ctzll(n / 3)], f.inv3, f.p)
              : f.inv_pow2[__builtin_ctzll(n)];
      scale[i] = MulModSlow(inv_n, r, f.p);
    }
    const uint64_t p1 = kFields[1].p, p2 = kFields[2].p;
    Set(c0, kFields[0], scale[0]);
    Set(c1, kFields[1], MulModSlow(scale[1], kInvP0ModP1, p1));
    Set(c1y, kFields[1], p1 - kInvP0ModP1);
    Set(c2, kFields[2], MulModSlow(scale[2], kInvP01ModP2, p2));
    Set(c2y, kFields[2], p2 - kInvP01ModP2);
    Set(c2v, kFields[2], p2 - kInvP1ModP2);
  }

  static void Set(uint64_t* c, const Field& f, uint64_t w) {
    c[0] = w;
    c[1] = f.Companion(w);
  }

  // Pairs (w, companion): y0 = z0 c0, v1 = z1 c1 + y0 c1y and
  // v2 = z2 c2 + y0 c2y + v1 c2v.
  uint64_t c0[2], c1[2], c1y[2], c2[2], c2y[2], c2v[2];
};

inline void GarnerDigits(const Garner& g, uint64_t& z0, uint64_t& z1,
                         uint64_t& z2) {
  const uint64_t p0 = kFields[0].p, p1 = kFields[1].p, p2 = kFields[2].p;
  const uint64_t y0 = Reduce(MulShoup(z0, g.c0[0], g.c0[1], p0), p0);
  uint64_t v1 = MulShoup(z1, g.c1[0], g.c1[1], p1) +
                MulShoup(y0, g.c1y[0], g.c1y[1], p1);
  v1 = Reduce(Reduce(v1, 2 * p1), p1);
  uint64_t v2 = MulShoup(z2, g.c2[0], g.c2[1], p2) +
                MulShoup(y0, g.c2y[0], g.c2y[1], p2) +
                MulShoup(v1, g.c2v[0], g.c2v[1], p2);
  v2 = Reduce(Reduce(Reduce(v2, 4 * p2), 2 * p2), p2);
  z0 = y0;
  z1 = v1;
  z2 = v2;
}

// The digits of positions [0, count), in place.
void ScalarGarner(const Garner& g, uint64_t* const z[3], size_t count) {
  for (size_t i = 0; i < count; ++i) {
    GarnerDigits(g, z[0][i], z[1][i], z[2][i]);
  }
}

LATTIS_IFMA void VecGarner(const Garner& g, uint64_t* const z[3],
                           size_t count) {
  const VecField v0(kFields[0]), v1(kFields[1]), v2(kFields[2]);
  const VecTwiddle c0(g.c0), c1(g.c1), c1y(g.c1y), c2(g.c2), c2y(g.c2y),
      c2v(g.c2v);
  const __m512i p2x4 = _mm512_add_epi64(v2.p2, v2.p2);
  size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const __m512i y0 =
        VecReduce(VecMulShoup(_mm512_loadu_si512(z[0] + i), c0, v0), v0.p);
    __m512i d1 =
        _mm512_add_epi64(VecMulShoup(_mm512_loadu_si512(z[1] + i), c1, v1),
                         VecMulShoup(y0, c1y, v1));
    d1 = VecReduce(VecReduce(d1, v1.p2), v1.p);
    __m512i d2 = _mm512_add_epi64(
        _mm512_add_epi64(VecMulShoup(_mm512_loadu_si512(z[2] + i), c2, v2),
                         VecMulShoup(y0, c2y, v2)),
        VecMulShoup(d1, c2v, v2));
    d2 = VecReduce(VecReduce(VecReduce(d2, p2x4), v2.p2), v2.p);
    _mm512_storeu_si512(z[0] + i, y0);
    _mm512_storeu_si512(z[1] + i, d1);
    _mm512_storeu_si512(z[2] + i, d2);
  }
  for (; i < count; ++i) GarnerDigits(g, z[0][i], z[1][i], z[2][i]);
}

// Sums x = y0 + p0 v1 + p0 p1 v2 over the `len` coefficients, read through
// `layout`, with carries into out[0 .. len], the product's words. x < 2^150,
// so the carry stays below 2^87.
void Assemble(uint64_t* const z[3], const Layout& layout, size_t len,
              uint64_t* out) {
  const uint64_t p0 = kFields[0].p;
  const U128 p01 = static_cast<U128>(p0) * kFields[1].p;
  const uint64_t p01_lo = static_cast<uint64_t>(p01);
  const uint64_t p01_hi = static_cast<uint64_t>(p01 >> 64);
  const size_t mask = layout.m - 1;
  U128 carry = 0;
  size_t row = 0;
  for (size_t i = 0; i < len; ++i) {
    const size_t at = row * layout.m + (i & mask);
    row = row + 1 == layout.rows ? 0 : row + 1;
    const uint64_t v2 = z[2][at];
    const U128 low = carry + z[0][at] + static_cast<U128>(p0) * z[1][at] +
                     static_cast<U128>(p01_lo) * v2;
    out[i] = static_cast<uint64_t>(low);
    carry = (low >> 64) + static_cast<U128>(p01_hi) * v2;
  }
  CHECK(carry >> 64 == 0);
  out[len] = static_cast<uint64_t>(carry);
}

// The kernels of one product: scalar, or IFMA for transforms of 32 points
// and more (rows of 16 and more).
struct Kernels {
  void (*load_and_forward)(const Field&, const uint64_t*, const uint64_t*,
                           size_t, uint64_t*, size_t);
  void (*forward)(const Field&, const uint64_t*, uint64_t*, size_t);
  void (*load_rows_dft3)(const Field&, const uint64_t*, size_t, uint64_t*,
                         size_t);
  void (*dft3)(const Field&, uint64_t*, size_t, const uint64_t*);
  void (*pointwise)(const Field&, uint64_t*, const uint64_t*, size_t);
  void (*inverse)(const Field&, const uint64_t*, uint64_t*, size_t);
  void (*garner)(const Garner&, uint64_t* const[3], size_t);
  int montgomery_bits;

  // The transform of `len` words of x into a, laid out as `layout`.
  void LoadAndTransform(const Field& f, const uint64_t* tw, const uint64_t* x,
                        size_t len, uint64_t* a, const Layout& layout) const {
    if (layout.rows == 1) {
      load_and_forward(f, tw, x, len, a, layout.m);
      return;
    }
    load_rows_dft3(f, x, len, a, layout.m);
    for (int r = 0; r < 3; ++r) forward(f, tw, a + r * layout.m, layout.m);
  }

  void InverseTransform(const Field& f, const uint64_t* tw, uint64_t* a,
                        const Layout& layout) const {
    if (layout.rows == 1) {
      inverse(f, tw, a, layout.m);
      return;
    }
    for (int r = 0; r < 3; ++r) inverse(f, tw, a + r * layout.m, layout.m);
    dft3(f, a, layout.m, f.omega3_sq);
  }
};

constexpr Kernels kScalarKernels = {
    LoadAndForward, ScalarForwardTransform, LoadRowsDft3,
    Dft3,           Pointwise,              ScalarInverseTransform,
    ScalarGarner,   64};
constexpr Kernels kVecKernels = {
    VecLoadAndForward, VecForwardTransform, VecLoadRowsDft3,
    VecDft3,           VecPointwise,        VecInverseTransform,
    VecGarner,         52};

bool HasIfma() {
  static const bool ifma = __builtin_cpu_supports("avx512f") &&
                           __builtin_cpu_supports("avx512dq") &&
                           __builtin_cpu_supports("avx512ifma");
  return ifma;
}

const Kernels& ChooseKernels(size_t n, bool portable) {
  return HasIfma() && !portable && n >= 32 ? kVecKernels : kScalarKernels;
}

// How the longer operand is cut: pieces of `piece` words, each convolved
// with the shorter operand in a cyclic transform of length n = rows * m
// (rows 1 or 3), which holds the piece + shorter - 1 coefficients of the
// piece's product without wrapping.
struct Plan {
  size_t n;
  Layout layout;
  size_t piece;
  size_t pieces;
};

// The longest transforms: 2^26 points, or 3 rows of 2^25.
constexpr size_t kMaxLength = size_t{1} << kMaxRootLog2;

// The cost of a plan in word operations: the transforms, n (log2 m + 1)
// each plus about two levels' worth for the columns of three rows, and per
// piece a pointwise product and its sum into the residues.
double PlanCost(const Layout& layout, size_t pieces, bool square) {
  const double n = static_cast<double>(layout.rows * layout.m);
  const double levels =
      __builtin_ctzll(layout.m) + 1 + (layout.rows == 3 ? 2 : 0);
  const double transforms = square ? 2 : 2 * static_cast<double>(pieces) + 1;
  return n * levels * transforms + 2 * n * static_cast<double>(pieces);
}

// The cheapest transform for these operands (na >= nb) among lengths 2^k and
// 3 * 2^k (the latter with rows of at least 16); squares take the whole
// product in one transform.
Plan ChoosePlan(size_t na, size_t nb, bool square) {
  const size_t full = na + nb - 1;
  Plan best{0, {0, 0}, 0, 0};
  double best_cost = 0;
  for (size_t p = 2; p <= kMaxLength; p *= 2) {
    for (const Layout layout : {Layout{1, p}, Layout{3, p / 2}}) {
      const size_t n = layout.rows * layout.m;
      if ((layout.rows == 3 && layout.m < 16) || n <= nb ||
          (square && n < full)) {
        continue;
      }
      const size_t piece = std::min(na, n - nb + 1);
      const size_t pieces = (na + piece - 1) / piece;
      const double cost = PlanCost(layout, pieces, square);
      if (best.n == 0 || cost < best_cost) {
        best = {n, layout, piece, pieces};
        best_cost = cost;
      }
      if (n >= full) return best;
    }
  }
  return best;
}

void Multiply(BIGNUM* r, const BIGNUM* a, const BIGNUM* b, bool portable) {
  const bool square = a == b;
  size_t na = MinimalWords(a), nb = MinimalWords(b);
  if (na == 0 || nb == 0) {
    BN_zero(r);
    return;
  }
  if (na < nb) {
    std::swap(a, b);
    std::swap(na, nb);
  }
  CHECK_LE(nb, size_t{kNttMaxShortWords});
  const Plan plan = ChoosePlan(na, nb, square);
  const size_t n = plan.n;
  const Layout& layout = plan.layout;
  const Kernels& kernels = ChooseKernels(n, portable);
  const size_t len = na + nb - 1;  // coefficients of the convolution
  const bool whole = plan.pieces == 1;
  // Residues (each of length n, or len when pieces are summed into them),
  // then the shorter operand's transform, a piece's transform and, past the
  // cached ones, the twiddles of the length-m transforms.
  const size_t res_len = whole ? n : len;
  const bool own_twiddles = layout.m > kCachedLength;
  const size_t total = 3 * res_len + (square ? 0 : n) + (whole ? 0 : n) +
                       (own_twiddles ? layout.m : 0);
  std::unique_ptr<uint64_t[]> memory(new uint64_t[total]);
  uint64_t* res[3];
  for (int i = 0; i < 3; ++i) res[i] = memory.get() + i * res_len;
  uint64_t* const tb = memory.get() + 3 * res_len;
  uint64_t* const tp = tb + (square ? 0 : n);
  uint64_t* const own = tp + (whole ? 0 : n);

  for (int i = 0; i < 3; ++i) {
    const Field& f = kFields[i];
    const uint64_t* tw = CachedTwiddles(i);
    if (own_twiddles) {
      std::copy(tw, tw + kCachedLength, own);
      FillTwiddles(f, kCachedLength / 2, layout.m / 2, own);
      tw = own;
    }
    if (square) {
      kernels.LoadAndTransform(f, tw, a->d, na, res[i], layout);
      kernels.pointwise(f, res[i], res[i], n);
      kernels.InverseTransform(f, tw, res[i], layout);
      continue;
    }
    kernels.LoadAndTransform(f, tw, b->d, nb, tb, layout);
    if (whole) {
      kernels.LoadAndTransform(f, tw, a->d, na, res[i], layout);
      kernels.pointwise(f, res[i], tb, n);
      kernels.InverseTransform(f, tw, res[i], layout);
      continue;
    }
    std::fill(res[i], res[i] + len, 0);
    for (size_t start = 0; start < na; start += plan.piece) {
      const size_t piece = std::min(plan.piece, na - start);
      kernels.LoadAndTransform(f, tw, a->d + start, piece, tp, layout);
      kernels.pointwise(f, tp, tb, n);
      kernels.InverseTransform(f, tw, tp, layout);
      uint64_t* dst = res[i] + start;
      size_t row = 0;
      for (size_t j = 0; j < piece + nb - 1; ++j) {
        const uint64_t z = tp[row * layout.m + (j & (layout.m - 1))];
        row = row + 1 == layout.rows ? 0 : row + 1;
        dst[j] = Reduce(dst[j] + Reduce(z, f.p), f.p);
      }
    }
  }

  // a and b are no longer read: r may be either of them.
  const size_t words = na + nb;
  BN_zero(r);
  CHECK(BN_set_bit(r, static_cast<int>(words * BN_BITS2 - 1)));
  // Summed pieces are in natural order: one row as long as any index.
  const Layout res_layout = whole ? layout : Layout{1, size_t{1} << 62};
  kernels.garner(Garner(n, kernels.montgomery_bits), res, res_len);
  Assemble(res, res_layout, len, r->d);
  if (r->d[words - 1] == 0) {
    CHECK(BN_mask_bits(r, static_cast<int>((words - 1) * BN_BITS2)));
  }
}

}  // namespace

void NttMultiply(BIGNUM* r, const BIGNUM* a, const BIGNUM* b) {
  const bool negative = BN_is_negative(a) != BN_is_negative(b);
  Multiply(r, a, b, false);
  BN_set_negative(r, negative);
}

void NttMultiplyPortable(BIGNUM* r, const BIGNUM* a, const BIGNUM* b) {
  const bool negative = BN_is_negative(a) != BN_is_negative(b);
  Multiply(r, a, b, true);
  BN_set_negative(r, negative);
}

const NttThresholds& NttThresholdsHere() {
  return HasIfma() ? kNttThresholdsIfma : kNttThresholdsPortable;
}

bool NttIsFaster(size_t a_words, size_t b_words, bool square) {
  const NttThresholds& t = NttThresholdsHere();
  const size_t shorter = std::min(a_words, b_words);
  const size_t longer = std::max(a_words, b_words);
  if (square) return a_words >= static_cast<size_t>(t.square);
  return shorter >= static_cast<size_t>(longer - shorter <= 1 ? t.balanced
                                                               : t.unbalanced);
}

void FastMultiply(BIGNUM* r, const BIGNUM* a, const BIGNUM* b, BN_CTX* ctx) {
  const size_t na = MinimalWords(a), nb = MinimalWords(b);
  if (NttIsFaster(na, nb, a == b)) {
    NttMultiply(r, a, b);
  } else if (a == b && (na < 16 || (na & (na - 1)) == 0)) {
    CHECK(BN_sqr(r, a, ctx));
  } else {
    CHECK(BN_mul(r, a, b, ctx));
  }
}

}  // namespace nurvik::lattis
