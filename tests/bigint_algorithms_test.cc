// The big-integer algorithms against GMP as an independent exact oracle:
// products and squares around the cut thresholds, reciprocals and quotients
// on both sides of the Newton threshold, bounded powers of 5 and scaled
// bounds against exact rationals, decimal conversion around the chunk sizes,
// and log10 against MPFR.

#include "math/bigint_algorithms.h"

#include <gmp.h>
#include <gtest/gtest.h>
#include <mpfr.h>
#include <openssl/bn.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace nurvik::lattis::bigint {
namespace {

struct Mpz {
  Mpz() { mpz_init(z); }
  ~Mpz() { mpz_clear(z); }
  Mpz(const Mpz&) = delete;
  Mpz& operator=(const Mpz&) = delete;
  mpz_t z;
};

void ToMpz(const BIGNUM* a, mpz_t z) {
  std::vector<uint8_t> bytes(BN_num_bytes(a));
  ASSERT_TRUE(BN_bn2le_padded(bytes.data(), bytes.size(), a));
  mpz_import(z, bytes.size(), -1, 1, 0, 0, bytes.data());
}

BnPtr ToBn(const mpz_t z) {
  std::vector<uint8_t> bytes((mpz_sizeinbase(z, 2) + 7) / 8);
  size_t count = 0;
  mpz_export(bytes.data(), &count, -1, 1, 0, 0, z);
  BnPtr bn(BN_le2bn(bytes.data(), count, nullptr));
  EXPECT_NE(bn, nullptr);
  return bn;
}

size_t Bits(const mpz_t z) {
  return mpz_sgn(z) == 0 ? 0 : mpz_sizeinbase(z, 2);
}

// Equality with the failure text in sizes, not in digits.
::testing::AssertionResult Equals(const BIGNUM* a, const mpz_t want) {
  Mpz got, diff;
  ToMpz(a, got.z);
  if (!BN_is_negative(a) && mpz_cmp(got.z, want) == 0) {
    return ::testing::AssertionSuccess();
  }
  mpz_xor(diff.z, got.z, want);
  return ::testing::AssertionFailure()
         << (BN_is_negative(a) ? "negative " : "") << BN_num_bits(a)
         << "-bit result where " << Bits(want) << " bits were due"
         << (mpz_sgn(diff.z) == 0 ? "" : "; the highest wrong bit is ")
         << (mpz_sgn(diff.z) == 0 ? "" : std::to_string(Bits(diff.z) - 1));
}

std::string Digits(const mpz_t z) {
  char* c = mpz_get_str(nullptr, 10, z);
  std::string s(c);
  free(c);
  return s;
}

enum class Shape { kRandom, kRuns, kAllOnes, kPowerOfTwo };
constexpr Shape kShapes[] = {Shape::kRandom, Shape::kRuns, Shape::kAllOnes,
                             Shape::kPowerOfTwo};

const char* Name(Shape shape) {
  switch (shape) {
    case Shape::kRandom:
      return "random";
    case Shape::kRuns:
      return "runs";
    case Shape::kAllOnes:
      return "all ones";
    case Shape::kPowerOfTwo:
      return "power of two";
  }
  return "";
}

class BigintAlgorithmsTest : public ::testing::Test {
 protected:
  BigintAlgorithmsTest() : ctx_(BN_CTX_new()) {
    gmp_randinit_mt(state_);
    gmp_randseed_ui(state_, 271828);
  }
  ~BigintAlgorithmsTest() override {
    gmp_randclear(state_);
    BN_CTX_free(ctx_);
  }

  // Sets z to an integer of exactly `bits` bits (zero for none) of the shape.
  void Make(mpz_t z, Shape shape, size_t bits) {
    mpz_set_ui(z, 0);
    if (bits == 0) return;
    switch (shape) {
      case Shape::kRandom:
        mpz_urandomb(z, state_, bits - 1);
        mpz_setbit(z, bits - 1);
        break;
      case Shape::kRuns:
        mpz_rrandomb(z, state_, bits);
        break;
      case Shape::kAllOnes:
        mpz_setbit(z, bits);
        mpz_sub_ui(z, z, 1);
        break;
      case Shape::kPowerOfTwo:
        mpz_setbit(z, bits - 1);
        break;
    }
  }

  // A random string of `length` decimal digits, the first nonzero.
  std::string RandomDigits(size_t length) {
    std::string s(length, '0');
    for (size_t i = 0; i < length; ++i) {
      s[i] = static_cast<char>('0' + gmp_urandomm_ui(state_, 10));
    }
    if (length > 0) s[0] = static_cast<char>('1' + gmp_urandomm_ui(state_, 9));
    return s;
  }

  // DecimalToBn and AppendDecimal on `digits` (leading zeros allowed) against
  // mpz_set_str and mpz_get_str.
  void ExpectDecimalRoundTrip(const std::string& digits) {
    SCOPED_TRACE(::testing::Message() << digits.size() << " digits, "
                                      << digits.substr(0, 12) << "...");
    Mpz want;
    if (digits.empty()) {
      mpz_set_ui(want.z, 0);
    } else {
      ASSERT_EQ(mpz_set_str(want.z, digits.c_str(), 10), 0);
    }
    BnPtr r = NewBn();
    ASSERT_TRUE(BN_set_word(r.get(), 12345));  // overwritten
    DecimalToBn(digits, r.get(), ctx_);
    EXPECT_TRUE(Equals(r.get(), want.z));
    std::string text = "x=";
    AppendDecimal(r.get(), ctx_, &text);
    EXPECT_EQ(text, "x=" + Digits(want.z));
  }

  // Reciprocal(b) of n-bit b is floor(2^(2n) / b), by GMP.
  void ExpectReciprocal(const mpz_t b) {
    Mpz pow, want;
    mpz_setbit(pow.z, 2 * mpz_sizeinbase(b, 2));
    mpz_fdiv_q(want.z, pow.z, b);
    BnPtr r = NewBn();
    Reciprocal(r.get(), ToBn(b).get(), ctx_);
    EXPECT_TRUE(Equals(r.get(), want.z));
  }

  BN_CTX* ctx_;
  gmp_randstate_t state_;
};

using BigintAlgorithmsSlowTest = BigintAlgorithmsTest;

TEST_F(BigintAlgorithmsTest, WordsAndLowBits) {
  struct Case {
    int set_bit;  // -1 for zero
    int words;
    int first_nonzero_low_bits;  // smallest n with LowBitsNonzero(a, n)
  };
  const Case cases[] = {{-1, 0, -1},     {0, 1, 1},     {63, 1, 64},
                        {64, 2, 65},     {127, 2, 128}, {128, 3, 129},
                        {1000, 16, 1001}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.set_bit);
    BnPtr a = NewBn();
    EXPECT_TRUE(BN_is_zero(a.get()));
    if (c.set_bit >= 0) {
      ASSERT_TRUE(BN_set_bit(a.get(), c.set_bit));
    }
    EXPECT_EQ(Words(a.get()), c.words);
    for (int n : {0, 1, c.set_bit, c.set_bit + 1, c.set_bit + 2, 5000}) {
      if (n < 0) continue;
      EXPECT_EQ(LowBitsNonzero(a.get(), n),
                c.first_nonzero_low_bits >= 0 && n >= c.first_nonzero_low_bits)
          << n;
    }
  }
  // A number with words set above too: only the low bits count.
  BnPtr a = NewBn();
  ASSERT_TRUE(BN_set_bit(a.get(), 70));
  ASSERT_TRUE(BN_set_bit(a.get(), 5000));
  EXPECT_FALSE(LowBitsNonzero(a.get(), 70));
  EXPECT_TRUE(LowBitsNonzero(a.get(), 71));
  EXPECT_EQ(Words(a.get()), 79);
}

TEST_F(BigintAlgorithmsTest, MulMatchesGmp) {
  // Lengths in words: one-word operands, the balance threshold of 32 words
  // with differences of one and two words, and ratios that cut the longer
  // operand into whole and partial pieces.
  const std::pair<int, int> lengths[] = {
      {1, 1},      {1, 2},       {1, 5000},    {5000, 1},    {2, 4000},
      {31, 31},    {31, 32},     {32, 32},     {32, 33},     {33, 33},
      {32, 34},    {34, 32},     {33, 35},     {31, 1000},   {32, 1000},
      {33, 1000},  {40, 1000},   {100, 250},   {250, 100},   {100, 301},
      {999, 1000}, {1000, 3001}, {1024, 4096}, {2048, 2048}, {3000, 6001}};
  // Operands of full top words and of top words with one bit.
  const int spare_bits[] = {0, 63};
  Mpz za, zb, want;
  BnPtr r = NewBn();
  for (const auto& [wa, wb] : lengths) {
    for (Shape sa : kShapes) {
      for (Shape sb : {Shape::kRandom, Shape::kAllOnes, Shape::kPowerOfTwo}) {
        if (sa == Shape::kRuns && sb != Shape::kRandom) continue;
        const int spare = spare_bits[(wa + wb) % 2];
        SCOPED_TRACE(::testing::Message() << wa << " x " << wb << " words, "
                                          << Name(sa) << " x " << Name(sb));
        Make(za.z, sa, 64 * wa - spare);
        Make(zb.z, sb, 64 * wb);
        BnPtr a = ToBn(za.z), b = ToBn(zb.z);
        Mul(r.get(), a.get(), b.get(), ctx_);
        mpz_mul(want.z, za.z, zb.z);
        EXPECT_TRUE(Equals(r.get(), want.z));
      }
    }
  }
  // The same object as both operands, and zero on either side.
  for (int words : {1, 33, 1000}) {
    Make(za.z, Shape::kRandom, 64 * words);
    BnPtr a = ToBn(za.z), zero = NewBn();
    Mul(r.get(), a.get(), a.get(), ctx_);
    mpz_mul(want.z, za.z, za.z);
    EXPECT_TRUE(Equals(r.get(), want.z)) << words;
    Mul(r.get(), a.get(), zero.get(), ctx_);
    EXPECT_TRUE(BN_is_zero(r.get())) << words;
    Mul(r.get(), zero.get(), a.get(), ctx_);
    EXPECT_TRUE(BN_is_zero(r.get())) << words;
  }
}

// A product of a long operand by one of 32 words or more, piece by piece,
// needs memory in proportion to the operands: here 2^16 words by 32 words
// (half a megabyte each) in an address space 256 MiB above the current one.
TEST(MulMemoryDeathTest, LongTimesShortFitsInLinearMemory) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "sanitizers reserve address space beyond any limit";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
  GTEST_SKIP() << "sanitizers reserve address space beyond any limit";
#endif
#endif
  auto run = [] {
    uint64_t pages = 0;
    std::ifstream statm("/proc/self/statm");
    if (!(statm >> pages)) std::exit(2);
    const rlim_t limit = static_cast<rlim_t>(pages) * sysconf(_SC_PAGESIZE) +
                         (rlim_t{256} << 20);
    const rlimit lim = {limit, limit};
    if (setrlimit(RLIMIT_AS, &lim) != 0) std::exit(3);
    BN_CTX* ctx = BN_CTX_new();
    BnPtr a = NewBn(), b = NewBn(), r = NewBn(), want = NewBn();
    if (!BN_rand(a.get(), 64 << 16, BN_RAND_TOP_ONE, BN_RAND_BOTTOM_ANY) ||
        !BN_rand(b.get(), 64 * 32, BN_RAND_TOP_ONE, BN_RAND_BOTTOM_ANY) ||
        !BN_mul(want.get(), a.get(), b.get(), ctx)) {
      std::exit(4);
    }
    Mul(r.get(), a.get(), b.get(), ctx);
    std::exit(BN_cmp(r.get(), want.get()) == 0 ? 0 : 1);
  };
  EXPECT_EXIT(run(), ::testing::ExitedWithCode(0), "");
}

TEST_F(BigintAlgorithmsTest, SqrMatchesGmpAlsoInPlace) {
  // BN_sqr below 16 words, BN_mul from there on.
  const int lengths[] = {0,  1,  2,  15, 16,  17,   31,   32,
                         33, 63, 64, 65, 100, 1000, 1024, 4096};
  Mpz za, want;
  for (int words : lengths) {
    for (Shape shape : kShapes) {
      for (bool in_place : {false, true}) {
        SCOPED_TRACE(::testing::Message() << words << " words, " << Name(shape)
                                          << (in_place ? ", in place" : ""));
        Make(za.z, shape, words == 0 ? 0 : 64 * words - (in_place ? 5 : 0));
        mpz_mul(want.z, za.z, za.z);
        BnPtr a = ToBn(za.z);
        if (in_place) {
          Sqr(a.get(), a.get(), ctx_);
          EXPECT_TRUE(Equals(a.get(), want.z));
        } else {
          BnPtr r = NewBn();
          Sqr(r.get(), a.get(), ctx_);
          EXPECT_TRUE(Equals(r.get(), want.z));
          EXPECT_TRUE(Equals(a.get(), za.z));
        }
      }
    }
  }
}

TEST_F(BigintAlgorithmsTest, ReciprocalIsExactFloor) {
  // Schoolbook up to 2^14 bits; the Newton step recurses on n / 2 + 32 bits,
  // so 32704 and 32705 bits take one step and 32706 two.
  const int lengths[] = {1,     2,     3,      63,     64,    65,    1000,
                         16383, 16384, 16385,  16448,  32704, 32705, 32706,
                         32768, 65536, 100003, 131072, 262144};
  // Divisors at both ends of the range of n bits, one past its bottom, and
  // random ones.
  Mpz zb;
  for (int n : lengths) {
    for (Shape shape : kShapes) {
      for (int plus_one : {0, 1}) {
        if (plus_one && (shape != Shape::kPowerOfTwo || n == 1)) continue;
        SCOPED_TRACE(::testing::Message() << n << " bits, " << Name(shape)
                                          << (plus_one ? " + 1" : ""));
        Make(zb.z, shape, n);
        mpz_add_ui(zb.z, zb.z, plus_one);
        ExpectReciprocal(zb.z);
      }
    }
  }
}

// Dividends for a divisor b of n bits below 2^(2n): the ends of the range,
// multiples of b and their neighbours, and random ones of several lengths.
std::vector<Mpz*> Dividends(const mpz_t b, int n, gmp_randstate_t state,
                            std::vector<Mpz>* store) {
  std::vector<Mpz*> out;
  auto add = [&]() -> mpz_ptr {
    out.push_back(&(*store)[out.size()]);
    mpz_set_ui(out.back()->z, 0);
    return out.back()->z;
  };
  mpz_set_ui(add(), 0);
  mpz_set_ui(add(), 1);
  mpz_sub_ui(add(), b, 1);
  mpz_set(add(), b);
  mpz_add_ui(add(), b, 1);
  mpz_ptr top = add();
  mpz_setbit(top, 2 * n);
  mpz_sub_ui(top, top, 1);
  mpz_ptr half = add();
  mpz_setbit(half, 2 * n - 1);
  // The largest multiple of b below 2^(2n), and one less.
  mpz_ptr big = add();
  mpz_fdiv_q(big, top, b);
  mpz_mul(big, big, b);
  mpz_sub_ui(add(), big, 1);
  for (int i = 0; i < 3; ++i) {
    mpz_ptr q = add();
    mpz_urandomb(q, state, n);
    mpz_ptr multiple = add();
    mpz_mul(multiple, q, b);
    mpz_ptr below = add();
    if (mpz_sgn(multiple) > 0) mpz_sub_ui(below, multiple, 1);
    mpz_urandomb(add(), state, 2 * n);
    mpz_urandomb(add(), state, n + 1 + gmp_urandomm_ui(state, n));
    mpz_rrandomb(add(), state, 2 * n);
    // Random top bits over n - 1 ones: the bits that the estimate drops
    // weigh the most.
    mpz_ptr ones = add();
    mpz_urandomb(ones, state, n + 1);
    mpz_mul_2exp(ones, ones, n - 1);
    mpz_setbit(ones, 2 * n - 1);
    mpz_t low;
    mpz_init(low);
    mpz_setbit(low, n - 1);
    mpz_sub_ui(low, low, 1);
    mpz_ior(ones, ones, low);
    mpz_clear(low);
  }
  return out;
}

TEST_F(BigintAlgorithmsTest, QuotientBelowIsWithinTwo) {
  const int lengths[] = {1, 2, 64, 65, 1000, 16384, 16385, 40000};
  std::vector<Mpz> store(64);
  Mpz zb, pow, zrecip, want, got;
  BnPtr q = NewBn();
  for (int n : lengths) {
    for (Shape shape : kShapes) {
      SCOPED_TRACE(::testing::Message() << n << " bits, " << Name(shape));
      Make(zb.z, shape, n);
      mpz_set_ui(pow.z, 0);
      mpz_setbit(pow.z, 2 * n);
      mpz_fdiv_q(zrecip.z, pow.z, zb.z);
      BnPtr recip = ToBn(zrecip.z);
      for (Mpz* za : Dividends(zb.z, n, state_, &store)) {
        SCOPED_TRACE(::testing::Message() << "a of " << Bits(za->z) << " bits");
        BnPtr a = ToBn(za->z);
        QuotientBelow(q.get(), a.get(), recip.get(), n, ctx_);
        mpz_fdiv_q(want.z, za->z, zb.z);
        ToMpz(q.get(), got.z);
        EXPECT_FALSE(BN_is_negative(q.get()));
        EXPECT_LE(mpz_cmp(got.z, want.z), 0);
        mpz_add_ui(got.z, got.z, 2);
        EXPECT_GE(mpz_cmp(got.z, want.z), 0);
      }
    }
  }
}

TEST_F(BigintAlgorithmsTest, DivFloorIsExact) {
  // BN_div; the recursive division past 12 000 bits (one and two levels
  // deep) without a reciprocal; Newton's quotient past 2^14 bits with a
  // reciprocal given and past about 50 000 bits without.
  const int lengths[] = {1, 64, 12001, 16384, 16385, 24001, 50000};
  std::vector<Mpz> store(64);
  Mpz zb, pow, zrecip, want_q, want_r;
  for (int n : lengths) {
    for (Shape shape : kShapes) {
      Make(zb.z, shape, n);
      mpz_set_ui(pow.z, 0);
      mpz_setbit(pow.z, 2 * n);
      mpz_fdiv_q(zrecip.z, pow.z, zb.z);
      BnPtr b = ToBn(zb.z), recip = ToBn(zrecip.z);
      std::vector<Mpz*> dividends = Dividends(zb.z, n, state_, &store);
      // Dividends from 2^(2n) on, where BN_div takes over.
      Mpz above, far;
      mpz_urandomb(far.z, state_, 3 * n);
      mpz_setbit(above.z, 2 * n);
      dividends.push_back(&above);
      dividends.push_back(&far);
      for (size_t i = 0; i < dividends.size(); ++i) {
        const Mpz* za = dividends[i];
        mpz_fdiv_qr(want_q.z, want_r.z, za->z, zb.z);
        BnPtr a = ToBn(za->z);
        for (bool with_recip : {false, true}) {
          // A reciprocal of its own for some dividends.
          if (!with_recip && i % 4 != 0) continue;
          for (bool with_rem : {false, true}) {
            SCOPED_TRACE(::testing::Message()
                         << n << "-bit " << Name(shape) << " b, a of "
                         << Bits(za->z) << " bits"
                         << (with_recip ? ", recip given" : "")
                         << (with_rem ? ", remainder" : ""));
            BnPtr q = NewBn(), rem = NewBn();
            ASSERT_TRUE(BN_set_word(q.get(), 77));
            ASSERT_TRUE(BN_set_word(rem.get(), 77));
            DivFloor(q.get(), with_rem ? rem.get() : nullptr, a.get(), b.get(),
                     with_recip ? recip.get() : nullptr, ctx_);
            EXPECT_TRUE(Equals(q.get(), want_q.z));
            if (with_rem) {
              EXPECT_TRUE(Equals(rem.get(), want_r.z));
            }
          }
        }
      }
    }
  }
}

int BitLength(int64_t n) {
  int bits = 0;
  for (; n > 0; n >>= 1) ++bits;
  return bits;
}

TEST_F(BigintAlgorithmsTest, SqrtRemMatchesGmp) {
  // Every length up to past the machine-word base (124 bits) and the ones
  // that the recursion splits differently (4k - 2 ... 4k + 1), in every
  // shape, and perfect squares and their neighbours.
  std::vector<size_t> lengths;
  for (size_t bits = 0; bits <= 300; ++bits) lengths.push_back(bits);
  for (size_t bits : {1021, 1022, 1023, 1024, 1025, 5000, 20001, 50002}) {
    lengths.push_back(bits);
  }
  for (size_t bits : lengths) {
    for (Shape shape : kShapes) {
      for (int square = 0; square <= 2; ++square) {
        Mpz n, root, rem;
        Make(n.z, shape, bits);
        if (square > 0) {  // n^2 - 1 and n^2 for a root of bits / 2 bits
          Make(n.z, shape, bits / 2);
          mpz_mul(n.z, n.z, n.z);
          if (square == 1 && mpz_sgn(n.z) > 0) mpz_sub_ui(n.z, n.z, 1);
        }
        mpz_sqrtrem(root.z, rem.z, n.z);
        BnPtr bn = ToBn(n.z), r = NewBn(), remainder = NewBn();
        SqrtRem(r.get(), remainder.get(), bn.get(), ctx_);
        EXPECT_TRUE(Equals(r.get(), root.z)) << bits << " " << Name(shape);
        EXPECT_TRUE(Equals(remainder.get(), rem.z)) << bits << " " << Name(shape);
        SqrtRem(r.get(), nullptr, bn.get(), ctx_);
        EXPECT_TRUE(Equals(r.get(), root.z)) << bits << " without remainder";
      }
    }
  }
}

TEST_F(BigintAlgorithmsTest, SqrtWordsIsExactFloor) {
  for (int bits = 0; bits <= 124; ++bits) {
    for (Shape shape : kShapes) {
      Mpz n, root;
      Make(n.z, shape, bits);
      mpz_sqrt(root.z, n.z);
      unsigned __int128 v = 0;
      for (int i = bits; i-- > 0;) v = v << 1 | mpz_tstbit(n.z, i);
      EXPECT_EQ(SqrtWords(v), mpz_get_ui(root.z)) << bits << " " << Name(shape);
    }
  }
}

TEST_F(BigintAlgorithmsTest, PowerOf5BoundsEncloseThePower) {
  const int64_t exponents[] = {0,    1,    2,     3,     22,    27,
                               28,   55,   56,    100,   1000,  4095,
                               4096, 4097, 65535, 65536, 99999, 100000};
  Mpz power, z, bound;
  BnPtr lo = NewBn(), err = NewBn();
  for (int64_t n : exponents) {
    mpz_ui_pow_ui(power.z, 5, n);
    const int64_t bits = static_cast<int64_t>(Bits(power.z));
    // Widths around the exact length too.
    for (int64_t w :
         {int64_t{1}, int64_t{2}, int64_t{3}, int64_t{7}, int64_t{53},
          int64_t{64}, int64_t{65}, int64_t{100}, int64_t{1000}, int64_t{30000},
          bits - 1, bits, bits + 1, int64_t{1} << 20, INT64_MAX}) {
      if (w < 1) continue;
      SCOPED_TRACE(::testing::Message() << "5^" << n << ", w = " << w);
      int64_t t = -1;
      ASSERT_TRUE(BN_set_word(lo.get(), 99));
      ASSERT_TRUE(BN_set_word(err.get(), 99));
      PowerOf5Bounds(n, w, lo.get(), err.get(), &t, ctx_);
      if (bits <= w) {
        EXPECT_TRUE(Equals(lo.get(), power.z));
        EXPECT_TRUE(BN_is_zero(err.get()));
        EXPECT_EQ(t, 0);
        continue;
      }
      ASSERT_GE(t, 0);
      EXPECT_NEAR(BN_num_bits(lo.get()), w, 1);
      ToMpz(lo.get(), z.z);
      mpz_mul_2exp(bound.z, z.z, t);
      EXPECT_LE(mpz_cmp(bound.z, power.z), 0);
      ToMpz(err.get(), bound.z);
      mpz_add(bound.z, bound.z, z.z);
      mpz_mul_2exp(bound.z, bound.z, t);
      EXPECT_GE(mpz_cmp(bound.z, power.z), 0);
      // Fourfold growth per cut at most, with room to spare in lo.
      if (w >= 2 * BitLength(n)) {
        EXPECT_LE(BN_num_bits(err.get()), 2 * BitLength(n) + 2);
      }
    }
  }
}

// Exponents whose powers are too long to form: the bounds in log2 against
// n log2(5) with MPFR.
TEST_F(BigintAlgorithmsTest, PowerOf5BoundsForHugeExponents) {
  constexpr mpfr_prec_t kPrec = 512;
  mpfr_t exact, bound, x;
  mpfr_inits2(kPrec, exact, bound, x, static_cast<mpfr_ptr>(nullptr));
  Mpz z;
  BnPtr lo = NewBn(), err = NewBn();
  for (int64_t n : {int64_t{1} << 40, int64_t{1000000000039},
                    int64_t{3000000000000000001}}) {
    for (int64_t w : {64, 128, 1000}) {
      SCOPED_TRACE(::testing::Message() << "5^" << n << ", w = " << w);
      int64_t t = -1;
      PowerOf5Bounds(n, w, lo.get(), err.get(), &t, ctx_);
      EXPECT_NEAR(BN_num_bits(lo.get()), w, 1);
      if (w >= 2 * BitLength(n)) {
        EXPECT_LE(BN_num_bits(err.get()), 2 * BitLength(n) + 2);
      }
      mpfr_set_ui(x, 5, MPFR_RNDN);
      mpfr_log2(exact, x, MPFR_RNDN);
      mpfr_set_sj(x, n, MPFR_RNDN);
      mpfr_mul(exact, exact, x, MPFR_RNDN);
      ToMpz(lo.get(), z.z);
      mpfr_set_z(bound, z.z, MPFR_RNDN);
      mpfr_log2(bound, bound, MPFR_RNDN);
      mpfr_add_si(bound, bound, t, MPFR_RNDN);
      EXPECT_LE(mpfr_cmp(bound, exact), 0);
      Mpz sum;
      ToMpz(err.get(), sum.z);
      mpz_add(sum.z, sum.z, z.z);
      mpfr_set_z(bound, sum.z, MPFR_RNDN);
      mpfr_log2(bound, bound, MPFR_RNDN);
      mpfr_add_si(bound, bound, t, MPFR_RNDN);
      EXPECT_GE(mpfr_cmp(bound, exact), 0);
    }
  }
  mpfr_clears(exact, bound, x, static_cast<mpfr_ptr>(nullptr));
}

// What lo holds below a right shift.
enum class LostBits { kRandom, kZeros, kTopOnly };

TEST_F(BigintAlgorithmsTest, ShiftBounds) {
  Mpz zlo, zhi, want, low;
  for (int lo_bits : {0, 1, 64, 300}) {
    for (int64_t shift : {int64_t{0}, int64_t{1}, int64_t{100}, int64_t{-1},
                          int64_t{-63}, int64_t{-64}, int64_t{-65},
                          int64_t{-299}, int64_t{-300}, int64_t{-400}}) {
      for (LostBits lost :
           {LostBits::kRandom, LostBits::kZeros, LostBits::kTopOnly}) {
        for (bool sticky_in : {false, true}) {
          SCOPED_TRACE(::testing::Message()
                       << lo_bits << "-bit lo, shift " << shift
                       << ", lost bits " << static_cast<int>(lost)
                       << (sticky_in ? ", sticky" : ""));
          Make(zlo.z, Shape::kRandom, lo_bits);
          const int64_t n = -shift;
          if (lost != LostBits::kRandom && n > 0) {
            mpz_fdiv_q_2exp(zlo.z, zlo.z, n);
            mpz_mul_2exp(zlo.z, zlo.z, n);
            if (lost == LostBits::kTopOnly) mpz_setbit(zlo.z, n - 1);
          }
          Make(zhi.z, Shape::kRandom, lo_bits + 3);
          mpz_add(zhi.z, zhi.z, zlo.z);
          BnPtr lo = ToBn(zlo.z), hi = ToBn(zhi.z);
          bool sticky = sticky_in;
          ShiftBounds(lo.get(), hi.get(), shift, &sticky);
          if (shift >= 0) {
            mpz_mul_2exp(want.z, zlo.z, shift);
            EXPECT_TRUE(Equals(lo.get(), want.z));
            mpz_mul_2exp(want.z, zhi.z, shift);
            EXPECT_TRUE(Equals(hi.get(), want.z));
            EXPECT_EQ(sticky, sticky_in);
            continue;
          }
          mpz_fdiv_q_2exp(want.z, zlo.z, n);
          EXPECT_TRUE(Equals(lo.get(), want.z));
          mpz_fdiv_r_2exp(low.z, zlo.z, n);
          EXPECT_EQ(sticky, sticky_in || mpz_sgn(low.z) != 0);
          // Rounded up, by at most one past the floor.
          mpz_cdiv_q_2exp(want.z, zhi.z, n);
          Mpz got;
          ToMpz(hi.get(), got.z);
          EXPECT_GE(mpz_cmp(got.z, want.z), 0);
          mpz_fdiv_q_2exp(want.z, zhi.z, n);
          mpz_add_ui(want.z, want.z, 1);
          EXPECT_LE(mpz_cmp(got.z, want.z), 0);
        }
      }
    }
  }
}

// The exact m * 2^(e+f) * 10^k as floor and fractional part.
struct Exact {
  Mpz floor;
  bool integer;
};

void ExactScaled(const mpz_t m, int e, int64_t k, int f, Exact* out) {
  Mpz num, den, rem;
  mpz_set(num.z, m);
  mpz_set_ui(den.z, 1);
  const int64_t s = int64_t{e} + f;
  if (s >= 0) {
    mpz_mul_2exp(num.z, num.z, s);
  } else {
    mpz_mul_2exp(den.z, den.z, -s);
  }
  Mpz ten;
  mpz_ui_pow_ui(ten.z, 10, std::abs(k));
  mpz_mul(k >= 0 ? num.z : den.z, k >= 0 ? num.z : den.z, ten.z);
  mpz_fdiv_qr(out->floor.z, rem.z, num.z, den.z);
  out->integer = mpz_sgn(rem.z) == 0;
}

// Checks ScaledBounds(m, e, k, f, w) against the exact value.
void ExpectScaledBounds(const mpz_t m, int e, int64_t k, int f, int64_t w,
                        BN_CTX* ctx) {
  SCOPED_TRACE(::testing::Message()
               << Bits(m) << "-bit m, e = " << e << ", k = " << k
               << ", f = " << f << ", w = " << w);
  Exact exact;
  ExactScaled(m, e, k, f, &exact);
  Mpz power, got_lo, got_hi, width, allowed;
  mpz_ui_pow_ui(power.z, 5, std::abs(k));
  const bool uncut = static_cast<int64_t>(Bits(m)) <= w &&
                     static_cast<int64_t>(Bits(power.z)) <= w;
  BnPtr bm = ToBn(m), lo = NewBn(), hi = NewBn();
  bool sticky = true;
  const bool returned =
      ScaledBounds(bm.get(), e, k, f, w, lo.get(), hi.get(), &sticky, ctx);
  EXPECT_EQ(returned, uncut);
  ASSERT_FALSE(BN_is_negative(lo.get()));
  ToMpz(lo.get(), got_lo.z);
  ToMpz(hi.get(), got_hi.z);
  // lo <= x <= hi, for integers: lo <= floor(x) and hi >= ceil(x).
  const int floor_vs_lo = mpz_cmp(got_lo.z, exact.floor.z);
  EXPECT_LE(floor_vs_lo, 0);
  mpz_add_ui(width.z, exact.floor.z, exact.integer ? 0 : 1);
  EXPECT_GE(mpz_cmp(got_hi.z, width.z), 0);
  const bool above_lo = floor_vs_lo < 0 || !exact.integer;
  if (sticky) {
    EXPECT_TRUE(above_lo) << "sticky with x == lo";
  }
  if (uncut) {
    EXPECT_EQ(floor_vs_lo, 0);
    EXPECT_EQ(sticky, !exact.integer);
  }
  // Bounds about w bits wide: hi - lo <= x 2^(2 bits(|k|) + 6 - w) + 8.
  mpz_sub(width.z, got_hi.z, got_lo.z);
  const int64_t scale = 2 * BitLength(std::abs(k)) + 6 - w;
  mpz_add_ui(allowed.z, exact.floor.z, 1);
  if (scale >= 0) {
    mpz_mul_2exp(allowed.z, allowed.z, scale);
  } else {
    mpz_fdiv_q_2exp(allowed.z, allowed.z, -scale);
  }
  mpz_add_ui(allowed.z, allowed.z, 8);
  EXPECT_LE(mpz_cmp(width.z, allowed.z), 0)
      << "bounds " << Bits(width.z) << " bits apart around a "
      << Bits(exact.floor.z) << "-bit value";
}

TEST_F(BigintAlgorithmsTest, ScaledBoundsEncloseTheProduct) {
  struct Mantissa {
    Shape shape;
    int bits;
  };
  const Mantissa mantissas[] = {
      {Shape::kPowerOfTwo, 1},    {Shape::kAllOnes, 2},  {Shape::kRandom, 53},
      {Shape::kAllOnes, 64},      {Shape::kRuns, 200},   {Shape::kRandom, 1000},
      {Shape::kPowerOfTwo, 3000}, {Shape::kRandom, 2100}};
  const int64_t scales[] = {-3000, -400, -28, -27, -1, 0, 1, 27, 28, 400, 3000};
  Mpz m;
  for (const Mantissa& mantissa : mantissas) {
    Make(m.z, mantissa.shape, mantissa.bits);
    for (int e : {-2000, -64, 0, 7, 1500}) {
      for (int64_t k : scales) {
        for (int f : {0, 32, -45}) {
          for (int64_t w : {64, 96, 200, 2000, 1 << 30}) {
            ExpectScaledBounds(m.z, e, k, f, w, ctx_);
          }
        }
      }
    }
  }
}

// Powers of 5 of more than 2^14 bits, cut: the quotient is Newton's when m's
// shifted bounds have at most twice the power's bits, else BN_div's.
TEST_F(BigintAlgorithmsTest, ScaledBoundsThroughNewtonQuotient) {
  Mpz m;
  for (int bits : {1000, 25000}) {
    Make(m.z, Shape::kRandom, bits);
    for (int e : {0, 20000, 43000, 50000, 70000}) {
      for (int64_t w : {17000, 20000}) {
        // The same shifted bounds from both mantissas.
        ExpectScaledBounds(m.z, e - bits + 1000, -10000, 32, w, ctx_);
      }
    }
  }
  // Newton's estimate lags the most, by two, when its divisor lies just above
  // a power of two and the dividend's bits below the divisor's length are
  // ones: p = 5^12655 = 2^29384 (1 + 2.8e-5) of n bits, uncut for
  // w = 2n - 2, and m of w + 10 bits: random top bits, n - 3 ones, and 10
  // bits that are cut.
  constexpr int64_t kK = 12655;
  Mpz power, ones;
  mpz_ui_pow_ui(power.z, 5, kK);
  const int n = static_cast<int>(Bits(power.z));
  const int64_t w = 2 * n - 2;
  for (int i = 0; i < 12; ++i) {
    Make(m.z, Shape::kRandom, n + 1);
    mpz_mul_2exp(m.z, m.z, n - 3);
    mpz_set_ui(ones.z, 0);
    mpz_setbit(ones.z, n - 3);
    mpz_sub_ui(ones.z, ones.z, 1);
    mpz_ior(m.z, m.z, ones.z);
    mpz_mul_2exp(m.z, m.z, 10);
    mpz_add_ui(m.z, m.z, gmp_urandomm_ui(state_, 1024));
    ASSERT_EQ(static_cast<int64_t>(Bits(m.z)), w + 10);
    // The cut m shifted by 10 + e - kK + f = 2 bits, to 2n bits.
    ExpectScaledBounds(m.z, static_cast<int>(kK) - 40, -kK, 32, w, ctx_);
  }
  // Uncut and past the Newton threshold: the exact quotient.
  Make(m.z, Shape::kRandom, 30000);
  ExpectScaledBounds(m.z, 30000, -10000, 32, 40000, ctx_);
  ExpectScaledBounds(m.z, 30000, 10000, 32, 40000, ctx_);
}

// m = 0 is a non-negative operand too: x = 0 = lo, so sticky must stay clear
// whether or not the power of 5 was cut.
TEST_F(BigintAlgorithmsTest, ScaledBoundsOfZero) {
  Mpz zero;
  for (int64_t k : {-10000, -100, -1, 0, 1, 100}) {
    for (int64_t w : {64, 20000, 1 << 30}) {
      ExpectScaledBounds(zero.z, 5, k, 32, w, ctx_);
    }
  }
}

TEST_F(BigintAlgorithmsTest, Log10MagnitudeIsTight) {
  // log10(m) + e log10(2), apart: 2^e passes MPFR's exponent range.
  constexpr mpfr_prec_t kPrec = 256;
  mpfr_t exact, log_m, log_2;
  mpfr_inits2(kPrec, exact, log_m, log_2, static_cast<mpfr_ptr>(nullptr));
  mpfr_set_ui(log_2, 2, MPFR_RNDN);
  mpfr_log10(log_2, log_2, MPFR_RNDN);
  Mpz m;
  struct Mantissa {
    Shape shape;
    int bits;
  };
  std::vector<Mantissa> mantissas;
  for (int bits : {1, 2, 52, 53, 54, 64, 100, 1000, 5000}) {
    for (Shape shape : kShapes) mantissas.push_back({shape, bits});
  }
  for (const Mantissa& mantissa : mantissas) {
    Make(m.z, mantissa.shape, mantissa.bits);
    BnPtr bm = ToBn(m.z);
    mpfr_set_z(log_m, m.z, MPFR_RNDN);
    mpfr_log10(log_m, log_m, MPFR_RNDN);
    for (int e :
         {-(1 << 30), -100000, -5000, -1075, -53, -1, 0, 1, 1000, 1 << 30}) {
      mpfr_mul_si(exact, log_2, e, MPFR_RNDN);
      mpfr_add(exact, exact, log_m, MPFR_RNDN);
      const double want = mpfr_get_d(exact, MPFR_RNDN);
      // Rounding in log10 of the leading bits and in the product of the
      // binary exponent by log10(2).
      const double tolerance =
          0x1p-50 *
          (16 + 0.31 * std::fabs(static_cast<double>(e) + mantissa.bits));
      EXPECT_NEAR(Log10Magnitude(bm.get(), e), want, tolerance)
          << mantissa.bits << "-bit " << Name(mantissa.shape)
          << " m, e = " << e;
    }
  }
  // Exact powers of ten: 10^j as m and as 5^j * 2^j.
  for (int j : {1, 22, 23, 300, 1000}) {
    mpz_ui_pow_ui(m.z, 10, j);
    BnPtr ten = ToBn(m.z);
    EXPECT_NEAR(Log10Magnitude(ten.get(), 0), j, 0x1p-50 * (16 + j)) << j;
    mpz_ui_pow_ui(m.z, 5, j);
    BnPtr five = ToBn(m.z);
    EXPECT_NEAR(Log10Magnitude(five.get(), j), j, 0x1p-50 * (16 + j)) << j;
    EXPECT_NEAR(Log10Magnitude(five.get(), -j), j * (1 - 2 * M_LN2 / M_LN10),
                0x1p-50 * (16 + j))
        << j;
  }
  mpfr_clears(exact, log_m, log_2, static_cast<mpfr_ptr>(nullptr));
}

// Lengths around the leaves of 256 digits and the powers 10^(256 * 2^i),
// the 19-digit words of the leaves, and the chunk that AppendDecimal fits
// to the length.
std::vector<size_t> DecimalLengths() {
  std::vector<size_t> lengths;
  for (size_t n = 0; n <= 40; ++n) lengths.push_back(n);
  for (size_t base : {256, 512, 1024, 2048, 4096, 8192}) {
    for (size_t n = base - 2; n <= base + 2; ++n) lengths.push_back(n);
  }
  for (size_t n :
       {500, 777, 1500, 3000, 4933, 5000, 9865, 9866, 10000, 20000, 40000}) {
    lengths.push_back(n);
  }
  return lengths;
}

TEST_F(BigintAlgorithmsTest, DecimalOfRandomDigits) {
  for (size_t length : DecimalLengths())
    ExpectDecimalRoundTrip(RandomDigits(length));
}

TEST_F(BigintAlgorithmsTest, DecimalOfPowersOfTenAndAllNines) {
  std::vector<size_t> exponents;
  for (size_t k = 0; k <= 40; ++k) exponents.push_back(k);
  for (size_t base : {256, 512, 1024, 2048, 4096, 9864}) {
    for (size_t k = base - 3; k <= base + 3; ++k) exponents.push_back(k);
  }
  exponents.push_back(20000);
  for (size_t k : exponents) {
    const std::string nines(k, '9');
    ExpectDecimalRoundTrip(nines);                      // 10^k - 1
    ExpectDecimalRoundTrip("1" + std::string(k, '0'));  // 10^k
    ExpectDecimalRoundTrip("1" + std::string(k, '0') + "1");
    // A leading digit over zeros that fill whole pieces of the split.
    ExpectDecimalRoundTrip("7" + std::string(k, '0') + "5" + nines);
  }
}

TEST_F(BigintAlgorithmsTest, DecimalToBnLeadingZeros) {
  for (size_t zeros : {1, 5, 19, 255, 256, 257, 600}) {
    ExpectDecimalRoundTrip(std::string(zeros, '0'));
    for (size_t length : {1, 10, 256, 300, 1100}) {
      ExpectDecimalRoundTrip(std::string(zeros, '0') + RandomDigits(length));
    }
  }
}

TEST_F(BigintAlgorithmsSlowTest, MillionDigitDecimal) {
  ExpectDecimalRoundTrip(RandomDigits(1000000));
  ExpectDecimalRoundTrip("1" + std::string(1000000, '0'));
}

// Balanced operands too long for both BN_mul (2^20 words) and the
// transform's shorter operand (2^21 words) are cut in halves: a square in
// place, through Mul.
TEST_F(BigintAlgorithmsSlowTest, SqrPastBnMulLimit) {
  constexpr int kWords = (1 << 21) + 1;
  Mpz za, want;
  Make(za.z, Shape::kRandom, 64 * kWords);
  BnPtr a = ToBn(za.z);
  Sqr(a.get(), a.get(), ctx_);
  mpz_mul(want.z, za.z, za.z);
  EXPECT_TRUE(Equals(a.get(), want.z));
}

TEST_F(BigintAlgorithmsSlowTest, ReciprocalOfMillionsOfBits) {
  Mpz zb;
  for (int n : {1 << 20, 1 << 21, (1 << 22) + 17}) {
    for (Shape shape : {Shape::kAllOnes, Shape::kRandom}) {
      SCOPED_TRACE(::testing::Message() << n << " bits, " << Name(shape));
      Make(zb.z, shape, n);
      ExpectReciprocal(zb.z);
    }
  }
}

}  // namespace
}  // namespace nurvik::lattis::bigint
