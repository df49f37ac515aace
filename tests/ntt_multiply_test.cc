// NttMultiply against GMP's mpz_mul: lengths at the edges of the transform
// sizes and of the piece cutting, adversarial digit patterns, squares,
// aliased and fixed-storage results, and both kernel sets.

#include "math/ntt_multiply.h"

#include <gmp.h>
#include <openssl/bn.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace nurvik::lattis {
namespace {

struct BnFree {
  void operator()(BIGNUM* bn) const { BN_free(bn); }
};
using BnPtr = std::unique_ptr<BIGNUM, BnFree>;

enum class Digits { kRandom, kOnes, kPowerOfTwo, kLowOnes, kSparse };

std::vector<uint64_t> MakeWords(size_t n, Digits digits, std::mt19937_64& rng) {
  std::vector<uint64_t> w(n, 0);
  for (size_t i = 0; i < n; ++i) {
    switch (digits) {
      case Digits::kRandom:
        w[i] = rng();
        break;
      case Digits::kOnes:
        w[i] = ~uint64_t{0};
        break;
      case Digits::kPowerOfTwo:
        break;
      case Digits::kLowOnes:  // 2^k - 1 with k not a multiple of 64
        w[i] = i + 1 < n ? ~uint64_t{0} : ~uint64_t{0} >> 17;
        break;
      case Digits::kSparse:
        w[i] = rng() % 16 == 0 ? uint64_t{1} << (rng() % 64) : 0;
        break;
    }
  }
  if (n > 0 && digits == Digits::kPowerOfTwo) w[n - 1] = uint64_t{1} << 63;
  if (n > 0 && w[n - 1] == 0) w[n - 1] = 1;
  return w;
}

BnPtr ToBn(const std::vector<uint64_t>& w) {
  BnPtr bn(BN_le2bn(reinterpret_cast<const uint8_t*>(w.data()), 8 * w.size(),
                    nullptr));
  EXPECT_NE(bn, nullptr);
  return bn;
}

class Mpz {
 public:
  Mpz() { mpz_init(z_); }
  explicit Mpz(const BIGNUM* bn) : Mpz() {
    mpz_import(z_, bn->width, -1, sizeof(BN_ULONG), 0, 0, bn->d);
  }
  ~Mpz() { mpz_clear(z_); }
  Mpz(const Mpz&) = delete;
  Mpz& operator=(const Mpz&) = delete;
  mpz_t& get() { return z_; }

 private:
  mpz_t z_;
};

// r is a * b (given before the call as GMP values), with minimal width and
// no sign.
::testing::AssertionResult IsProduct(const BIGNUM* r, Mpz& a, Mpz& b) {
  Mpz want, got(r);
  mpz_mul(want.get(), a.get(), b.get());
  if (r->neg != 0) return ::testing::AssertionFailure() << "negative";
  if (r->width > 0 && r->d[r->width - 1] == 0) {
    return ::testing::AssertionFailure() << "width " << r->width
                                         << " is not minimal";
  }
  if (mpz_cmp(want.get(), got.get()) != 0) {
    mpz_xor(want.get(), want.get(), got.get());
    return ::testing::AssertionFailure()
           << "wrong product of " << mpz_size(a.get()) << " x "
           << mpz_size(b.get()) << " words; lowest wrong bit "
           << mpz_scan1(want.get(), 0);
  }
  return ::testing::AssertionSuccess();
}

using Multiply = void (*)(BIGNUM*, const BIGNUM*, const BIGNUM*);

struct LengthCase {
  size_t na, nb;
};

// Lengths around the transform sizes (na + nb - 1 at 2^k or 3 * 2^k and
// just past),
// the first vector transform (32 points), the depth-first transforms (past
// 1024), the cached twiddles (2^16 points), and unbalanced pairs that are
// cut into pieces, with shorter operands of one, two and three words.
const LengthCase kLengths[] = {
    {1, 1},       {2, 1},       {1, 2},      {2, 2},       {3, 2},
    {5, 4},       {8, 8},       {9, 8},      {16, 16},     {16, 17},
    {17, 17},     {33, 31},     {32, 33},    {100, 1},     {1000, 2},
    {777, 3},     {512, 512},   {512, 513},  {1024, 1024}, {1025, 1024},
    {2049, 2048}, {3000, 1000}, {5000, 700}, {20000, 17},  {4097, 63},
    {32768, 32768}, {32769, 32768}, {40000, 30000},
    // 3 * 2^k: na + nb - 1 = 48, 49, 3072, 3073
    {24, 25},     {25, 25},     {1536, 1537}, {1537, 1537},
};

void CheckLengths(Multiply multiply, Digits digits) {
  std::mt19937_64 rng(static_cast<int>(digits) + 1);
  for (const LengthCase& c : kLengths) {
    SCOPED_TRACE(::testing::Message() << c.na << " x " << c.nb << " words");
    BnPtr a = ToBn(MakeWords(c.na, digits, rng));
    BnPtr b = ToBn(MakeWords(c.nb, digits, rng));
    BnPtr r(BN_new());
    Mpz za(a.get()), zb(b.get());
    multiply(r.get(), a.get(), b.get());
    EXPECT_TRUE(IsProduct(r.get(), za, zb));
    multiply(r.get(), a.get(), a.get());
    EXPECT_TRUE(IsProduct(r.get(), za, za));
  }
}

TEST(NttMultiplyTest, LengthsAndDigitPatterns) {
  for (Digits d : {Digits::kRandom, Digits::kOnes, Digits::kPowerOfTwo,
                   Digits::kLowOnes, Digits::kSparse}) {
    SCOPED_TRACE(static_cast<int>(d));
    CheckLengths(NttMultiply, d);
  }
}

// Words next to multiples of the primes, where reducing a word to a residue
// from an estimated quotient is most easily off by one.
TEST(NttMultiplyTest, WordsNearMultiplesOfThePrimes) {
  std::mt19937_64 rng(8);
  for (Multiply multiply : {NttMultiply, NttMultiplyPortable}) {
    for (uint64_t p : kNttPrimes) {
      std::vector<uint64_t> w;
      for (uint64_t k : {uint64_t{1}, uint64_t{2}, (~uint64_t{0}) / p}) {
        for (uint64_t d : {uint64_t{0}, uint64_t{1}, uint64_t{2}}) {
          w.push_back(k * p - d);
          w.push_back(k * p + d);
        }
      }
      while (w.size() < 600) {
        const uint64_t k = 1 + rng() % (~uint64_t{0} / p);
        w.push_back(k * p - rng() % 3);
      }
      BnPtr a = ToBn(w);
      Mpz za(a.get());
      BnPtr r(BN_new());
      multiply(r.get(), a.get(), a.get());
      EXPECT_TRUE(IsProduct(r.get(), za, za)) << p;
    }
  }
}

TEST(NttMultiplyTest, PortableKernels) {
  CheckLengths(NttMultiplyPortable, Digits::kRandom);
  CheckLengths(NttMultiplyPortable, Digits::kOnes);
}

TEST(NttMultiplyTest, ZeroOperands) {
  BnPtr zero(BN_new()), x = ToBn({5, 7}), r(BN_new());
  for (const BIGNUM* b : {zero.get(), x.get()}) {
    ASSERT_TRUE(BN_set_word(r.get(), 99));
    BN_set_negative(r.get(), 1);
    NttMultiply(r.get(), zero.get(), b);
    EXPECT_TRUE(BN_is_zero(r.get()));
    EXPECT_EQ(r->neg, 0);
    NttMultiply(r.get(), b, zero.get());
    EXPECT_TRUE(BN_is_zero(r.get()));
  }
}

TEST(NttMultiplyTest, SignsMultiplyAsInBnMul) {
  std::mt19937_64 rng(11);
  BN_CTX* ctx = BN_CTX_new();
  for (int sa : {0, 1}) {
    for (int sb : {0, 1}) {
      BnPtr a = ToBn(MakeWords(700, Digits::kRandom, rng));
      BnPtr b = ToBn(MakeWords(650, Digits::kRandom, rng));
      BnPtr r(BN_new()), want(BN_new());
      BN_set_negative(a.get(), sa);
      BN_set_negative(b.get(), sb);
      NttMultiply(r.get(), a.get(), b.get());
      ASSERT_TRUE(BN_mul(want.get(), a.get(), b.get(), ctx));
      EXPECT_EQ(BN_cmp(r.get(), want.get()), 0) << sa << sb;
      EXPECT_EQ(BN_is_negative(r.get()), sa != sb);
    }
  }
  BN_CTX_free(ctx);
}

TEST(NttMultiplyTest, AliasedResults) {
  std::mt19937_64 rng(3);
  for (size_t n : {1, 40, 3000}) {
    SCOPED_TRACE(n);
    const std::vector<uint64_t> wa = MakeWords(n, Digits::kRandom, rng);
    const std::vector<uint64_t> wb = MakeWords(n / 2 + 1, Digits::kRandom, rng);
    BnPtr a = ToBn(wa), b = ToBn(wb);
    Mpz za(a.get()), zb(b.get());
    NttMultiply(a.get(), a.get(), b.get());  // r == a
    EXPECT_TRUE(IsProduct(a.get(), za, zb));
    a = ToBn(wa);
    NttMultiply(b.get(), a.get(), b.get());  // r == b
    EXPECT_TRUE(IsProduct(b.get(), za, zb));
    NttMultiply(a.get(), a.get(), a.get());  // r == a == b
    EXPECT_TRUE(IsProduct(a.get(), za, za));
  }
}

// Operands whose widths count high zero words, and a result that held a
// longer negative value.
TEST(NttMultiplyTest, NonMinimalWidthsAndStaleResult) {
  std::mt19937_64 rng(4);
  std::vector<uint64_t> wa = MakeWords(300, Digits::kRandom, rng);
  std::vector<uint64_t> wb = MakeWords(200, Digits::kRandom, rng);
  Mpz za, zb;
  {
    BnPtr a = ToBn(wa), b = ToBn(wb);
    mpz_set(za.get(), Mpz(a.get()).get());
    mpz_set(zb.get(), Mpz(b.get()).get());
  }
  wa.resize(700, 0);
  wb.resize(201, 0);
  BIGNUM a, b;
  BN_init(&a);
  BN_init(&b);
  a.d = wa.data();
  a.width = a.dmax = static_cast<int>(wa.size());
  a.flags |= BN_FLG_STATIC_DATA;
  b.d = wb.data();
  b.width = b.dmax = static_cast<int>(wb.size());
  b.flags |= BN_FLG_STATIC_DATA;
  BnPtr r(BN_new());
  ASSERT_TRUE(BN_set_bit(r.get(), 64 * 2000));
  BN_set_negative(r.get(), 1);
  NttMultiply(r.get(), &a, &b);
  EXPECT_TRUE(IsProduct(r.get(), za, zb));
  NttMultiply(r.get(), &a, &a);
  EXPECT_TRUE(IsProduct(r.get(), za, za));
  BN_free(&a);
  BN_free(&b);
}

// A result with fixed storage just large enough is filled in place; the
// product's top word may be zero (1 x 1 words) or not.
TEST(NttMultiplyTest, StaticResultStorage) {
  std::mt19937_64 rng(5);
  for (Digits d : {Digits::kRandom, Digits::kPowerOfTwo}) {
    for (size_t n : {1, 64, 1500}) {
      SCOPED_TRACE(::testing::Message() << n << " words, " << int(d));
      BnPtr a = ToBn(MakeWords(n, d, rng)), b = ToBn(MakeWords(n, d, rng));
      Mpz za(a.get()), zb(b.get());
      std::vector<uint64_t> storage(2 * n, 0xdeadbeef);
      BIGNUM r;
      BN_init(&r);
      r.d = storage.data();
      r.dmax = static_cast<int>(storage.size());
      r.flags |= BN_FLG_STATIC_DATA;
      NttMultiply(&r, a.get(), b.get());
      EXPECT_EQ(r.d, storage.data());
      EXPECT_TRUE(IsProduct(&r, za, zb));
      NttMultiply(&r, a.get(), a.get());
      EXPECT_EQ(r.d, storage.data());
      EXPECT_TRUE(IsProduct(&r, za, za));
      BN_free(&r);
    }
  }
}

// FastMultiply on both sides of each threshold, with r aliasing an operand.
TEST(FastMultiplyTest, AroundTheThresholds) {
  const NttThresholds& t = NttThresholdsHere();
  std::mt19937_64 rng(9);
  BN_CTX* ctx = BN_CTX_new();
  ASSERT_NE(ctx, nullptr);
  for (int base : {t.balanced, t.square, t.unbalanced}) {
    for (int delta : {-1, 0, 1}) {
      const size_t n = base + delta;
      for (size_t longer : {n, n + 1, 3 * n}) {
        SCOPED_TRACE(::testing::Message() << longer << " x " << n);
        BnPtr a = ToBn(MakeWords(longer, Digits::kRandom, rng));
        BnPtr b = ToBn(MakeWords(n, Digits::kOnes, rng));
        Mpz za(a.get()), zb(b.get());
        BnPtr r(BN_new());
        FastMultiply(r.get(), b.get(), a.get(), ctx);
        EXPECT_TRUE(IsProduct(r.get(), zb, za));
        FastMultiply(b.get(), b.get(), b.get(), ctx);
        EXPECT_TRUE(IsProduct(b.get(), zb, zb));
        FastMultiply(a.get(), a.get(), r.get(), ctx);
        mpz_mul(zb.get(), zb.get(), za.get());
        EXPECT_TRUE(IsProduct(a.get(), za, zb));
      }
    }
  }
  BN_CTX_free(ctx);
}

TEST(NttMultiplyDeathTest, ShorterOperandTooLong) {
  BnPtr a(BN_new());
  ASSERT_TRUE(BN_set_bit(a.get(), 64 * kNttMaxShortWords));
  BnPtr r(BN_new());
  EXPECT_DEATH(NttMultiply(r.get(), a.get(), a.get()), "Check failed");
}

// The largest operands: (2^(2^26) - 1)^2 = 2^(2^27) - 2^(2^26 + 1) + 1, whose
// words are known, and a random pair against GMP.
TEST(NttMultiplySlowTest, LargestOperands) {
  constexpr size_t kWords = size_t{1} << 20;
  std::mt19937_64 rng(6);
  BnPtr ones = ToBn(MakeWords(kWords, Digits::kOnes, rng));
  BnPtr r(BN_new());
  for (bool square : {true, false}) {
    BnPtr copy(BN_dup(ones.get()));
    NttMultiply(r.get(), ones.get(), square ? ones.get() : copy.get());
    ASSERT_EQ(r->width, static_cast<int>(2 * kWords));
    size_t wrong = 0;
    for (size_t i = 0; i < 2 * kWords; ++i) {
      const uint64_t want = i == 0 ? 1
                            : i < kWords ? 0
                            : i == kWords ? ~uint64_t{1}
                                          : ~uint64_t{0};
      wrong += r->d[i] != want;
    }
    EXPECT_EQ(wrong, 0u) << "square " << square;
  }
  BnPtr a = ToBn(MakeWords(kWords, Digits::kRandom, rng));
  BnPtr b = ToBn(MakeWords(kWords, Digits::kRandom, rng));
  Mpz za(a.get()), zb(b.get());
  NttMultiply(r.get(), a.get(), b.get());
  EXPECT_TRUE(IsProduct(r.get(), za, zb));
}

}  // namespace
}  // namespace nurvik::lattis
