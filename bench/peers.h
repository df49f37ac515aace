// Peer number types for the benchmarks, each exact for the work it is given:
//
//   GmpFloat  a plain by-value design on GMP: an mpz mantissa and an int
//             exponent, a fresh mpz per result, no normal form.
//   RawBn     the least work that ExactFloat's design requires of BoringSSL:
//             a fresh BIGNUM per result, a fresh BN_CTX per product, and the
//             odd-mantissa normal form, with none of ExactFloat's state
//             dispatch or range checks.
//
// MPFR and Boost's cpp_bin_float are used directly by the benchmarks.

#ifndef NURVIK_LATTIS_BENCH_PEERS_H_
#define NURVIK_LATTIS_BENCH_PEERS_H_

#include <gmp.h>
#include <gmpxx.h>
#include <openssl/bn.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <utility>

namespace nurvik::lattis::bench {

// Aborts when a big-integer call fails; these are benchmarks, not a library.
inline void Check(int ok) {
  if (!ok) abort();
}

// Splits a finite double into an integer mantissa of at most 53 bits and a
// binary exponent: v == m * 2^e.
inline int64_t SplitDouble(double v, int* e) {
  const double f = std::frexp(v, e);
  *e -= 53;
  return static_cast<int64_t>(std::ldexp(f, 53));
}

// A uniform double in [0, 1): a multiple of 2^-53 drawn from 53 random bits.
inline double UniformDouble(std::mt19937_64& rng) {
  return std::ldexp(static_cast<double>(rng() >> 11), -53);
}

class GmpFloat {
 public:
  GmpFloat() = default;
  explicit GmpFloat(double v) {
    m_ = static_cast<long>(SplitDouble(v, &e_));  // NOLINT(runtime/int)
  }
  // m * 2^e for an n-bit mantissa given as an mpz.
  GmpFloat(const mpz_class& m, int e) : m_(m), e_(e) {}

  friend GmpFloat operator+(const GmpFloat& a, const GmpFloat& b) {
    return Sum(a, b, mpz_add);
  }
  friend GmpFloat operator-(const GmpFloat& a, const GmpFloat& b) {
    return Sum(a, b, mpz_sub);
  }
  friend GmpFloat operator*(const GmpFloat& a, const GmpFloat& b) {
    GmpFloat r;
    mpz_mul(r.m_.get_mpz_t(), a.m_.get_mpz_t(), b.m_.get_mpz_t());
    r.e_ = a.e_ + b.e_;
    return r;
  }
  GmpFloat& operator+=(const GmpFloat& b) { return *this = *this + b; }
  friend bool operator<(const GmpFloat& a, const GmpFloat& b) {
    return (a - b).sgn() < 0;
  }

  int sgn() const { return mpz_sgn(m_.get_mpz_t()); }
  double ToDouble() const {
    // mpz_get_d truncates; exact for mantissas of at most 53 bits.
    return std::ldexp(mpz_get_d(m_.get_mpz_t()), e_);
  }
  // The exact decimal value in scientific notation, digits untrimmed.
  std::string ToString() const {
    mpz_class n = m_;
    int scale = 0;
    if (e_ >= 0) {
      mpz_mul_2exp(n.get_mpz_t(), n.get_mpz_t(), e_);
    } else {
      mpz_class five;
      mpz_ui_pow_ui(five.get_mpz_t(), 5, -e_);
      n *= five;
      scale = e_;
    }
    std::string digits = n.get_str();
    return digits + "e" + std::to_string(scale);
  }

 private:
  template <class Op>
  static GmpFloat Sum(const GmpFloat& a, const GmpFloat& b, Op op) {
    GmpFloat r;
    if (a.e_ > b.e_) {
      mpz_mul_2exp(r.m_.get_mpz_t(), a.m_.get_mpz_t(), a.e_ - b.e_);
      op(r.m_.get_mpz_t(), r.m_.get_mpz_t(), b.m_.get_mpz_t());
      r.e_ = b.e_;
    } else {
      mpz_mul_2exp(r.m_.get_mpz_t(), b.m_.get_mpz_t(), b.e_ - a.e_);
      op(r.m_.get_mpz_t(), a.m_.get_mpz_t(), r.m_.get_mpz_t());
      r.e_ = a.e_;
    }
    return r;
  }

  mpz_class m_;
  int e_ = 0;
};

class RawBn {
 public:
  RawBn() { BN_init(&bn_); }
  explicit RawBn(double v) {
    BN_init(&bn_);
    const int64_t m = SplitDouble(v, &e_);
    Check(BN_set_u64(&bn_, m < 0 ? -static_cast<uint64_t>(m) : m));
    BN_set_negative(&bn_, m < 0);
    Normalize();
  }
  RawBn(RawBn&& b) noexcept : bn_(b.bn_), e_(b.e_) { BN_init(&b.bn_); }
  RawBn(const RawBn&) = delete;
  RawBn& operator=(const RawBn&) = delete;
  RawBn& operator=(RawBn&& b) noexcept {
    std::swap(bn_, b.bn_);
    e_ = b.e_;
    return *this;
  }
  ~RawBn() { BN_free(&bn_); }

  friend RawBn operator+(const RawBn& a, const RawBn& b) {
    return Sum(a, b, BN_add);
  }
  friend RawBn operator-(const RawBn& a, const RawBn& b) {
    return Sum(a, b, BN_sub);
  }
  friend RawBn operator*(const RawBn& a, const RawBn& b) {
    RawBn r;
    BN_CTX* ctx = BN_CTX_new();
    Check(ctx != nullptr);
    Check(BN_mul(&r.bn_, &a.bn_, &b.bn_, ctx));
    BN_CTX_free(ctx);
    r.e_ = a.e_ + b.e_;
    r.Normalize();
    return r;
  }

  int sgn() const {
    return BN_is_zero(&bn_) ? 0 : BN_is_negative(&bn_) ? -1 : 1;
  }
  const BIGNUM* get() const { return &bn_; }

 private:
  template <class Op>
  static RawBn Sum(const RawBn& a, const RawBn& b, Op op) {
    RawBn r;
    if (a.e_ > b.e_) {
      Check(BN_lshift(&r.bn_, &a.bn_, a.e_ - b.e_));
      Check(op(&r.bn_, &r.bn_, &b.bn_));
      r.e_ = b.e_;
    } else if (b.e_ > a.e_) {
      Check(BN_lshift(&r.bn_, &b.bn_, b.e_ - a.e_));
      Check(op(&r.bn_, &a.bn_, &r.bn_));
      r.e_ = a.e_;
    } else {
      Check(op(&r.bn_, &a.bn_, &b.bn_));
      r.e_ = a.e_;
    }
    r.Normalize();
    return r;
  }

  // The normal form: an odd mantissa (zero keeps exponent 0).
  void Normalize() {
    if (BN_is_zero(&bn_)) {
      e_ = 0;
    } else if (!BN_is_odd(&bn_)) {
      const int k = BN_count_low_zero_bits(&bn_);
      Check(BN_rshift(&bn_, &bn_, k));
      e_ += k;
    }
  }

  BIGNUM bn_;
  int e_ = 0;
};

}  // namespace nurvik::lattis::bench

#endif  // NURVIK_LATTIS_BENCH_PEERS_H_
