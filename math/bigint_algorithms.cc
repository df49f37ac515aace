#include "math/bigint_algorithms.h"

#include <glog/logging.h>
#include <openssl/bn.h>
#include <openssl/mem.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "math/ntt_multiply.h"

namespace nurvik::lattis::bigint {
namespace {

// Divisors of at most this many bits go to BN_div's schoolbook division,
// faster there than Newton's reciprocal.
constexpr int kNewtonBits = 1 << 14;
// Without a reciprocal at hand, Newton's quotient pays for one: one-shot
// quotients by divisors of at most this many bits go to BN_div (measured
// crossover: 45 000 bits; 64 000-bit divisors take 0.92 ms against 1.16).
constexpr int kNewtonQuotientBits = 3 << 14;
// Products with an operand shorter than this many words go to BN_mul as is.
constexpr int kBalanceWords = 32;
// BN_mul's scratch space for balanced operands of more than 2^20 words would
// pass BoringSSL's size limit, and the call would fail.
constexpr int kMaxMulWords = 1 << 20;

}  // namespace

BnPtr NewBn() {
  BnPtr bn(BN_new());
  CHECK(bn != nullptr);
  return bn;
}

int Words(const BIGNUM* a) { return (BN_num_bits(a) + BN_BITS2 - 1) / BN_BITS2; }

bool LowBitsNonzero(const BIGNUM* a, int n) {
  return !BN_is_zero(a) && static_cast<int>(BN_count_low_zero_bits(a)) < n;
}

void Mul(BIGNUM* r, const BIGNUM* a, const BIGNUM* b, BN_CTX* ctx) {
  if (Words(a) < Words(b)) std::swap(a, b);
  if (Words(b) <= kNttMaxShortWords && NttIsFaster(Words(a), Words(b), false)) {
    NttMultiply(r, a, b);
    return;
  }
  const bool balanced =
      Words(b) < kBalanceWords || Words(a) - Words(b) <= 1;
  if (balanced && Words(a) <= kMaxMulWords) {
    CHECK(BN_mul(r, a, b, ctx));
    return;
  }
  // a = hi * 2^cut + lo
  const int pieces = Words(a) / Words(b);
  const int cut =
      (balanced ? (Words(a) + 1) / 2 : (pieces + 1) / 2 * Words(b)) * BN_BITS2;
  BnPtr hi = NewBn(), lo = NewBn(), t = NewBn();
  CHECK(BN_rshift(hi.get(), a, cut));
  CHECK(BN_lshift(t.get(), hi.get(), cut));
  CHECK(BN_sub(lo.get(), a, t.get()));
  Mul(t.get(), hi.get(), b, ctx);
  CHECK(BN_lshift(t.get(), t.get(), cut));
  Mul(hi.get(), lo.get(), b, ctx);
  CHECK(BN_add(r, t.get(), hi.get()));
}

void Sqr(BIGNUM* r, const BIGNUM* a, BN_CTX* ctx) {
  if (Words(a) <= kNttMaxShortWords && NttIsFaster(Words(a), Words(a), true)) {
    NttMultiply(r, a, a);
  } else if (Words(a) < 16) {
    CHECK(BN_sqr(r, a, ctx));
  } else if (Words(a) <= kMaxMulWords) {
    CHECK(BN_mul(r, a, a, ctx));
  } else {
    BnPtr t = NewBn();
    Mul(t.get(), a, a, ctx);
    CHECK(BN_copy(r, t.get()));
  }
}

void Reciprocal(BIGNUM* r, const BIGNUM* b, BN_CTX* ctx) {
  const int n = BN_num_bits(b);
  BnPtr pow = NewBn(), t = NewBn(), u = NewBn(), c = NewBn();
  BN_zero(pow.get());
  CHECK(BN_set_bit(pow.get(), 2 * n));
  if (n <= kNewtonBits) {
    CHECK(BN_div(r, nullptr, pow.get(), b, ctx));
    return;
  }
  const int h = n / 2 + 32;
  CHECK(BN_rshift(t.get(), b, n - h));
  Reciprocal(u.get(), t.get(), ctx);  // r0 = u 2^(n-h) ~ 2^(2n) / b
  Mul(c.get(), b, u.get(), ctx);      // t = 2^(2n) - b r0, about 2n - h bits
  CHECK(BN_lshift(c.get(), c.get(), n - h));
  CHECK(BN_sub(t.get(), pow.get(), c.get()));
  // r = r0 + t r0 / 2^(2n) = r0 + t u / 2^(n+h), from t's top h + 64 bits:
  // the bits dropped change the correction by far less than one.
  const int s = std::max(0, static_cast<int>(BN_num_bits(t.get())) - h - 64);
  CHECK(BN_rshift(c.get(), t.get(), s));
  Mul(pow.get(), c.get(), u.get(), ctx);
  CHECK(BN_rshift(c.get(), pow.get(), n + h - s));
  CHECK(BN_lshift(r, u.get(), n - h));
  CHECK(BN_add(r, r, c.get()));
  Mul(pow.get(), b, c.get(), ctx);  // 2^(2n) - b r = t - b c, into [0, b)
  CHECK(BN_sub(t.get(), t.get(), pow.get()));
  while (BN_is_negative(t.get())) {
    CHECK(BN_sub_word(r, 1));
    CHECK(BN_add(t.get(), t.get(), b));
  }
  while (BN_ucmp(t.get(), b) >= 0) {
    CHECK(BN_add_word(r, 1));
    CHECK(BN_sub(t.get(), t.get(), b));
  }
}

void QuotientBelow(BIGNUM* q, const BIGNUM* a, const BIGNUM* recip, int n,
                   BN_CTX* ctx) {
  BnPtr top = NewBn();
  CHECK(BN_rshift(top.get(), a, n - 1));
  Mul(q, top.get(), recip, ctx);
  CHECK(BN_rshift(q, q, n + 1));
}

namespace {

// Quotients of at most this many bits, or by divisors of at most this many,
// go to BN_div inside the recursive division.
constexpr int kRecursiveDivisionBits = 12000;

void DivideRecursive(BIGNUM* q, BIGNUM* r, const BIGNUM* a, const BIGNUM* b,
                     int k, BN_CTX* ctx);

// The step of DivideRecursive with an estimate from b's top k bits: q and
// *r for a < b 2^k and b of m >= k bits. b = b1 2^(m-k) + b2 and a = a_hi
// 2^(m-k) + a3: the quotient of a_hi by b1 (recursively, or 2^k - 1 when
// a_hi's top bits reach b1) overestimates q by at most two, which the sign
// of a_hi mod b1 2^(m-k) + a3 - q b2 corrects.
void DivideByTop(BIGNUM* q, BIGNUM* r, const BIGNUM* a, const BIGNUM* b, int k,
                 BN_CTX* ctx) {
  const int m = BN_num_bits(b);
  BN_CTX_start(ctx);
  BIGNUM* b1 = BN_CTX_get(ctx);
  BIGNUM* b2 = BN_CTX_get(ctx);
  BIGNUM* a_hi = BN_CTX_get(ctx);
  BIGNUM* t = BN_CTX_get(ctx);
  CHECK(t != nullptr);
  CHECK(BN_rshift(b1, b, m - k));
  CHECK(BN_copy(b2, b));
  CHECK(BN_mask_bits(b2, m - k));
  CHECK(BN_rshift(a_hi, a, m - k));
  CHECK(BN_rshift(t, a_hi, k));
  if (BN_cmp(t, b1) < 0) {
    DivideRecursive(q, r, a_hi, b1, k, ctx);
  } else {  // q = 2^k - 1, r = a_hi - q b1 = a_hi - b1 2^k + b1
    BN_zero(q);
    CHECK(BN_set_bit(q, k));
    CHECK(BN_sub_word(q, 1));
    CHECK(BN_lshift(t, b1, k));
    CHECK(BN_sub(r, a_hi, t));
    CHECK(BN_add(r, r, b1));
  }
  // r = r 2^(m-k) + a3 - q b2
  CHECK(BN_lshift(r, r, m - k));
  CHECK(BN_copy(t, a));
  CHECK(BN_mask_bits(t, m - k));
  CHECK(BN_add(r, r, t));
  Mul(t, q, b2, ctx);
  CHECK(BN_sub(r, r, t));
  while (BN_is_negative(r)) {
    CHECK(BN_sub_word(q, 1));
    CHECK(BN_add(r, r, b));
  }
  BN_CTX_end(ctx);
}

// q = floor(a / b) and *r = a mod b for a < b 2^k (a quotient of k bits, k
// at most about twice b's length):
// Burnikel and Ziegler's recursion, the high half of the quotient and then
// the low half, each from b's top bits, so that a balanced division costs
// about two products of its size instead of BN_div's quadratic time.
void DivideRecursive(BIGNUM* q, BIGNUM* r, const BIGNUM* a, const BIGNUM* b,
                     int k, BN_CTX* ctx) {
  const int m = BN_num_bits(b);
  if (k <= kRecursiveDivisionBits || m < k - k / 2 ||
      m <= kRecursiveDivisionBits) {
    CHECK(BN_div(q, r, a, b, ctx));
    return;
  }
  const int low = k / 2, high = k - low;
  BN_CTX_start(ctx);
  BIGNUM* part = BN_CTX_get(ctx);
  BIGNUM* q_high = BN_CTX_get(ctx);
  BIGNUM* r_high = BN_CTX_get(ctx);
  CHECK(r_high != nullptr);
  CHECK(BN_rshift(part, a, low));
  DivideByTop(q_high, r_high, part, b, high, ctx);
  // r_high 2^low + (a mod 2^low) < b 2^low
  CHECK(BN_lshift(r_high, r_high, low));
  CHECK(BN_copy(part, a));
  CHECK(BN_mask_bits(part, low));
  CHECK(BN_add(part, part, r_high));
  DivideByTop(q, r, part, b, low, ctx);
  CHECK(BN_lshift(q_high, q_high, low));
  CHECK(BN_add(q, q, q_high));
  BN_CTX_end(ctx);
}

}  // namespace

void DivFloor(BIGNUM* q, BIGNUM* rem, const BIGNUM* a, const BIGNUM* b,
              const BIGNUM* recip, BN_CTX* ctx) {
  const int n = BN_num_bits(b);
  const int a_bits = BN_num_bits(a);
  if (n <= (recip == nullptr ? kNewtonQuotientBits : kNewtonBits) ||
      a_bits > 2 * n) {
    if (a_bits < n) {
      BN_zero(q);
      if (rem != nullptr) CHECK(BN_copy(rem, a));
    } else if (n > kRecursiveDivisionBits && a_bits <= 2 * n) {
      BnPtr own_rem = NewBn();
      DivideRecursive(q, rem == nullptr ? own_rem.get() : rem, a, b,
                      a_bits - n + 1, ctx);
    } else {
      CHECK(BN_div(q, rem, a, b, ctx));
    }
    return;
  }
  BnPtr own = NewBn(), t = NewBn();
  if (recip == nullptr) {
    Reciprocal(own.get(), b, ctx);
    recip = own.get();
  }
  QuotientBelow(q, a, recip, n, ctx);
  Mul(own.get(), q, b, ctx);
  CHECK(BN_sub(t.get(), a, own.get()));
  while (BN_ucmp(t.get(), b) >= 0) {
    CHECK(BN_add_word(q, 1));
    CHECK(BN_sub(t.get(), t.get(), b));
  }
  if (rem != nullptr) CHECK(BN_copy(rem, t.get()));
}


namespace {

using DoubleWord = unsigned __int128;

DoubleWord ToDoubleWord(const BIGNUM* a) {
  uint8_t bytes[16];
  CHECK(BN_bn2le_padded(bytes, sizeof(bytes), a));
  DoubleWord v = 0;
  for (int i = 15; i >= 0; --i) v = v << 8 | bytes[i];
  return v;
}

void SetDoubleWord(BIGNUM* r, DoubleWord v) {
  CHECK(BN_set_u64(r, static_cast<uint64_t>(v >> 64)));
  CHECK(BN_lshift(r, r, 64));
  CHECK(BN_add_word(r, static_cast<uint64_t>(v)));
}

}  // namespace

uint64_t SqrtWords(DoubleWord v) {
  auto r = static_cast<uint64_t>(std::sqrt(static_cast<long double>(v)));
  while (DoubleWord{r} * r > v) --r;
  while (DoubleWord{r + 1} * (r + 1) <= v) ++r;
  return r;
}

void SqrtRem(BIGNUM* r, BIGNUM* rem, const BIGNUM* n, BN_CTX* ctx) {
  const int bits = BN_num_bits(n);
  if (bits <= 124) {
    const DoubleWord v = ToDoubleWord(n);
    const uint64_t root = SqrtWords(v);
    CHECK(BN_set_u64(r, root));
    if (rem != nullptr) SetDoubleWord(rem, v - DoubleWord{root} * root);
    return;
  }
  // Temporaries come from ctx, reused across the recursion.
  BN_CTX_start(ctx);
  BIGNUM* scaled = BN_CTX_get(ctx);
  BIGNUM* high = BN_CTX_get(ctx);
  BIGNUM* low = BN_CTX_get(ctx);
  BIGNUM* t = BN_CTX_get(ctx);
  BIGNUM* q = BN_CTX_get(ctx);
  BIGNUM* u = BN_CTX_get(ctx);
  BIGNUM* own_rem = BN_CTX_get(ctx);
  CHECK(own_rem != nullptr);
  if (rem == nullptr) rem = own_rem;
  // The split below needs n of 4k - 1 or 4k bits; n 4^c has them for c of
  // 0 or 1, and then floor(sqrt(n)) = s >> c for s = floor(sqrt(n 4^c)).
  const int c = bits % 4 == 1 || bits % 4 == 2 ? 1 : 0;
  CHECK(BN_lshift(scaled, n, 2 * c));
  // Zimmermann's recursion on n = a3 b^3 + a2 b^2 + a1 b + a0, b = 2^k,
  // a3 >= b/4: (s', r') = SqrtRem(a3 b + a2), (q, u) = DivRem(r' b + a1,
  // 2 s'), s = s' b + q, r = u b + a0 - q^2, and one correction if r < 0.
  // Costs a root of half the size, a quotient of a quarter and a square of
  // a quarter.
  const int k = (bits + 2 * c + 1) / 4;
  CHECK(BN_rshift(high, scaled, 2 * k));
  SqrtRem(r, t, high, ctx);  // s', r'
  // r' b + a1, with a1 = bits k .. 2k of n.
  CHECK(BN_rshift(low, scaled, k));
  CHECK(BN_mask_bits(low, k));
  CHECK(BN_lshift(t, t, k));
  CHECK(BN_add(t, t, low));
  CHECK(BN_lshift1(high, r));  // 2 s'
  DivFloor(q, u, t, high, nullptr, ctx);
  CHECK(BN_lshift(r, r, k));
  CHECK(BN_add(r, r, q));  // s
  // rem = u b + a0 - q^2
  CHECK(BN_copy(low, scaled));
  CHECK(BN_mask_bits(low, k));
  CHECK(BN_lshift(rem, u, k));
  CHECK(BN_add(rem, rem, low));
  Sqr(t, q, ctx);
  CHECK(BN_sub(rem, rem, t));
  if (BN_is_negative(rem)) {  // r + 2 s - 1, s - 1
    CHECK(BN_add(rem, rem, r));
    CHECK(BN_add(rem, rem, r));
    CHECK(BN_sub_word(rem, 1));
    CHECK(BN_sub_word(r, 1));
  }
  if (c == 1) {
    // n 4 = (2 s0 + t)^2 + rem with t the low bit of s: n = s0^2 + (rem +
    // t (4 s0 + t)) / 4.
    const bool odd = BN_is_odd(r);
    CHECK(BN_rshift1(r, r));
    if (odd) {
      CHECK(BN_lshift(t, r, 2));
      CHECK(BN_add_word(t, 1));
      CHECK(BN_add(rem, rem, t));
    }
    CHECK(BN_rshift(rem, rem, 2));
  }
  BN_CTX_end(ctx);
}

void PowerOf5Bounds(int64_t n, int64_t w, BIGNUM* lo, BIGNUM* err, int64_t* t,
                    BN_CTX* ctx) {
  CHECK(BN_one(lo));
  BN_zero(err);
  *t = 0;
  BnPtr f = NewBn();  // (lo + err)^2 - lo^2, scaled along with lo
  for (int bit = 62; bit >= 0; --bit) {
    if (BN_is_one(lo) && (n >> bit) == 0) continue;
    if (BN_is_zero(err)) {
      BN_zero(f.get());
    } else {
      CHECK(BN_lshift1(f.get(), lo));
      CHECK(BN_add(f.get(), f.get(), err));
      CHECK(BN_mul(f.get(), f.get(), err, ctx));  // err is short: linear time
    }
    Sqr(lo, lo, ctx);
    *t *= 2;
    if ((n >> bit) & 1) {
      CHECK(BN_mul_word(lo, 5));
      CHECK(BN_mul_word(f.get(), 5));
    }
    const int64_t cut = BN_num_bits(lo) - w;
    if (cut > 0) {  // lo + f < (floor(lo / 2^cut) + floor(f / 2^cut) + 2) 2^cut
      CHECK(BN_rshift(lo, lo, static_cast<int>(cut)));
      CHECK(BN_rshift(err, f.get(), static_cast<int>(cut)));
      CHECK(BN_add_word(err, 2));
      *t += cut;
    } else {
      CHECK(BN_copy(err, f.get()));
    }
  }
}

void ShiftBounds(BIGNUM* lo, BIGNUM* hi, int64_t shift, bool* sticky) {
  if (shift >= 0) {
    CHECK(BN_lshift(lo, lo, static_cast<int>(shift)));
    CHECK(BN_lshift(hi, hi, static_cast<int>(shift)));
    return;
  }
  const int n = static_cast<int>(-shift);
  *sticky = *sticky || LowBitsNonzero(lo, n);
  CHECK(BN_rshift(lo, lo, n));
  CHECK(BN_rshift(hi, hi, n));
  CHECK(BN_add_word(hi, 1));
}

bool ScaledBounds(const BIGNUM* m, int64_t e, int64_t k, int64_t f, int64_t w,
                  BIGNUM* lo, BIGNUM* hi, bool* sticky, BN_CTX* ctx) {
  const int64_t u = std::max<int64_t>(0, BN_num_bits(m) - w);
  BnPtr m_lo = NewBn(), m_hi = NewBn(), p = NewBn(), err = NewBn();
  CHECK(BN_rshift(m_lo.get(), m, static_cast<int>(u)));
  CHECK(BN_copy(m_hi.get(), m_lo.get()));
  if (u > 0) CHECK(BN_add_word(m_hi.get(), 1));
  int64_t t = 0;
  PowerOf5Bounds(std::abs(k), w, p.get(), err.get(), &t, ctx);
  *sticky = false;
  if (k >= 0) {  // m * 5^k * 2^(e + k + f)
    // hi = m_hi (p + err) = lo + (m_hi - m_lo) p + m_hi err
    Mul(lo, m_lo.get(), p.get(), ctx);
    CHECK(BN_mul(hi, m_hi.get(), err.get(), ctx));
    CHECK(BN_add(hi, hi, lo));
    if (u > 0) CHECK(BN_add(hi, hi, p.get()));
    ShiftBounds(lo, hi, u + t + e + k + f, sticky);
  } else {  // m * 2^(e + k + f) / 5^-k
    ShiftBounds(m_lo.get(), m_hi.get(), u - t + e + k + f, sticky);
    // lo = q0 with q0 <= q = floor(m_lo / p) <= q0 + g: exact when nothing
    // was cut, else Newton's quotient without its remainder.
    BnPtr rem = NewBn(), slack = NewBn();
    const int n = BN_num_bits(p.get());
    const bool approx = (u > 0 || t > 0) && n > kNewtonBits &&
                        static_cast<int>(BN_num_bits(m_lo.get())) <= 2 * n;
    int g = 0;
    if (approx) {
      Reciprocal(rem.get(), p.get(), ctx);
      QuotientBelow(lo, m_lo.get(), rem.get(), n, ctx);
      g = 2;
    } else {
      DivFloor(lo, rem.get(), m_lo.get(), p.get(), nullptr, ctx);
      *sticky = *sticky || !BN_is_zero(rem.get());
    }
    // With p >= 2^(n-1): m_hi / p < q + 1 + (m_hi - m_lo) / 2^(n-1), and
    // m_lo / (p + err) >= q (1 - err / p) >= q0 - q0 err / 2^(n-1)
    // > q0 - 1 - floor(q0 err / 2^(n-1)).
    CHECK(BN_sub(slack.get(), m_hi.get(), m_lo.get()));
    CHECK(BN_rshift(slack.get(), slack.get(), n - 1));
    CHECK(BN_add(hi, lo, slack.get()));
    CHECK(BN_add_word(hi, 2 + g));
    if (approx || !BN_is_zero(err.get())) {
      CHECK(BN_mul(slack.get(), lo, err.get(), ctx));
      CHECK(BN_rshift(slack.get(), slack.get(), n - 1));
      CHECK(BN_add_word(slack.get(), 1));
      CHECK(BN_sub(lo, lo, slack.get()));
      if (BN_is_negative(lo)) BN_zero(lo);
      *sticky = *sticky || !BN_is_zero(m);
    }
  }
  return u == 0 && t == 0;
}

double Log10Magnitude(const BIGNUM* m, int e) {
  const int drop = std::max(0, static_cast<int>(BN_num_bits(m)) - 53);
  BnPtr top = NewBn();
  CHECK(BN_rshift(top.get(), m, drop));
  uint64_t lead = 0;
  CHECK(BN_get_u64(top.get(), &lead));
  return std::log10(static_cast<double>(lead)) +
         (static_cast<double>(e) + drop) * kLog10Of2Wide;
}

namespace {

// Appends the next power of the ladder 10^(chunk * 2^i) to *powers: 10^chunk
// first, then the square of the last one.
void PushPowerOf10(int64_t chunk, std::vector<BnPtr>* powers, BN_CTX* ctx) {
  BnPtr p = NewBn();
  if (powers->empty()) {
    BnPtr ten = NewBn(), exp = NewBn();
    CHECK(BN_set_word(ten.get(), 10));
    CHECK(BN_set_word(exp.get(), static_cast<BN_ULONG>(chunk)));
    CHECK(BN_exp(p.get(), ten.get(), exp.get(), ctx));
  } else {
    Sqr(p.get(), powers->back().get(), ctx);
  }
  powers->push_back(std::move(p));
}

// Decimal text of big integers in subquadratic time: split by the powers
// 10^(chunk * 2^i), each made once with its reciprocal, down to pieces that
// BN_bn2dec converts. The chunk, at most kMaxChunkDigits, is fitted to the
// number so that every split is nearly even.
class DecimalWriter {
 public:
  explicit DecimalWriter(BN_CTX* ctx) : ctx_(ctx) {}

  // Appends the digits of x (no leading zeros; "0" for zero). Use once.
  void Append(const BIGNUM* x, std::string* out) {
    const int64_t digits =
        static_cast<int64_t>(BN_num_bits(x) * kLog10Of2Wide) + 1;
    if (digits <= 2 * kMaxChunkDigits) {
      AppendLeaf(x, 0, out);
      return;
    }
    int level = 0;
    while ((kMaxChunkDigits << (level + 1)) < digits) ++level;
    chunk_ = (digits + (int64_t{2} << level) - 1) >> (level + 1);
    AppendPadded(x, 0, out);
  }

 private:
  static constexpr int64_t kMaxChunkDigits = 256;

  // Appends x padded with zeros to `width` digits. The split is at the
  // smallest power P = 10^h with bits(x) <= 2 bits(P), so the remainder fills
  // h digits, the quotient is nonzero with at most about as many, and
  // Newton's quotient applies; only the leading quotients can be short.
  void AppendPadded(const BIGNUM* x, size_t width, std::string* out) {
    const int bits = BN_num_bits(x);
    int level = 0;
    while (2 * static_cast<int>(BN_num_bits(Power(level))) < bits) ++level;
    if (level == 0) {
      AppendLeaf(x, width, out);
      return;
    }
    // x > 2^(2 * bits(10^(h/2))) > 10^h: the quotient is nonzero and x has
    // more than h digits.
    const size_t h = static_cast<size_t>(chunk_) << level;
    BnPtr q = NewBn(), r = NewBn();
    DivFloor(q.get(), r.get(), x, powers_[level].get(), recips_[level].get(),
             ctx_);
    AppendPadded(q.get(), width == 0 ? 0 : width - h, out);
    AppendPadded(r.get(), h, out);
  }

  static void AppendLeaf(const BIGNUM* x, size_t width, std::string* out) {
    char* text = BN_bn2dec(x);
    CHECK(text != nullptr);
    const size_t n = strlen(text);
    if (width > n) out->append(width - n, '0');
    out->append(text, n);
    OPENSSL_free(text);
  }

  // 10^(chunk_ * 2^level), and its reciprocal when Newton uses it.
  const BIGNUM* Power(int level) {
    while (static_cast<int>(powers_.size()) <= level) {
      PushPowerOf10(chunk_, &powers_, ctx_);
      const BIGNUM* p = powers_.back().get();
      BnPtr recip;
      if (static_cast<int>(BN_num_bits(p)) > kNewtonBits) {
        recip = NewBn();
        Reciprocal(recip.get(), p, ctx_);
      }
      recips_.push_back(std::move(recip));
    }
    return powers_[level].get();
  }

  BN_CTX* ctx_;
  int64_t chunk_ = kMaxChunkDigits;
  std::vector<BnPtr> powers_;
  std::vector<BnPtr> recips_;
};

// Integers from decimal digits in subquadratic time: the digits are split so
// that the low part has c * 2^i digits, joined by the powers 10^(c * 2^i),
// each made once, down to leaves of at most c digits that are read 19 at a
// time.
class DecimalReader {
 public:
  explicit DecimalReader(BN_CTX* ctx) : ctx_(ctx) {}

  void Read(std::string_view digits, BIGNUM* r) {
    if (digits.size() <= kLeafDigits) {
      ReadLeaf(digits, r);
      return;
    }
    int level = 0;
    while ((kLeafDigits << (level + 1)) < digits.size()) ++level;
    const size_t low = kLeafDigits << level;  // the high part is not longer
    BnPtr high_value = NewBn(), low_value = NewBn();
    Read(digits.substr(0, digits.size() - low), high_value.get());
    Read(digits.substr(digits.size() - low), low_value.get());
    Mul(r, high_value.get(), Power(level), ctx_);
    CHECK(BN_add(r, r, low_value.get()));
  }

 private:
  static constexpr size_t kLeafDigits = 256;
  static constexpr int kWordDigits = 19;  // 10^19 < 2^64

  static void ReadLeaf(std::string_view digits, BIGNUM* r) {
    BN_zero(r);
    size_t pos = 0;
    while (pos < digits.size()) {
      // The first piece takes the odd digits, so that the rest are whole.
      size_t len = digits.size() % kWordDigits;
      if (pos > 0 || len == 0) len = kWordDigits;
      uint64_t piece = 0, scale = 1;
      for (size_t i = 0; i < len; ++i) {
        piece = piece * 10 + static_cast<uint64_t>(digits[pos + i] - '0');
        scale *= 10;
      }
      CHECK(BN_mul_word(r, scale));
      CHECK(BN_add_word(r, piece));
      pos += len;
    }
  }

  // 10^(kLeafDigits * 2^level).
  const BIGNUM* Power(int level) {
    while (static_cast<int>(powers_.size()) <= level) {
      PushPowerOf10(kLeafDigits, &powers_, ctx_);
    }
    return powers_[level].get();
  }

  BN_CTX* ctx_;
  std::vector<BnPtr> powers_;
};

}  // namespace

void DecimalToBn(std::string_view digits, BIGNUM* r, BN_CTX* ctx) {
  DecimalReader(ctx).Read(digits, r);
}

void AppendDecimal(const BIGNUM* x, BN_CTX* ctx, std::string* out) {
  DecimalWriter(ctx).Append(x, out);
}

}  // namespace nurvik::lattis::bigint
