// Products and squares of long integers. Benchmark names are
// <case>/<implementation>/<size>, with the same random operands for every
// implementation of a case:
//
//   Multiply/<bits>       two operands of exactly `bits` bits
//   Square/<bits>         one operand of `bits` bits, squared
//     ExactFloat: FastMultiply (BN_mul below the thresholds, NttMultiply
//     above); Portable/ExactFloat: NttMultiplyPortable, the path of
//     processors without AVX-512 IFMA; BoringSSL: BN_mul, for squares the
//     faster of BN_sqr and BN_mul at that length; GMP: mpz_mul.
//   Crossover/<words>, CrossoverSquare/<words>, CrossoverUnbalanced/<words>
//     (the longer operand 4x as long): NttMultiply (ExactFloat) against
//     BN_mul, or the faster of BN_sqr and BN_mul for squares (BoringSSL), near
//     the thresholds; the same with the portable kernels under
//     Crossover.../Portable/ExactFloat.
//
// Each result of the library is checked once against GMP's before timing.

#include <benchmark/benchmark.h>
#include <gmp.h>
#include <openssl/bn.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "math/ntt_multiply.h"

namespace nurvik::lattis {
namespace {

void Check(bool ok) {
  if (!ok) abort();
}

// A random integer of `words` words with its top bit set, as BIGNUM and mpz.
struct Operand {
  Operand(size_t words, uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::vector<uint64_t> w(words);
    for (uint64_t& x : w) x = rng();
    w.back() |= uint64_t{1} << 63;
    bn = BN_le2bn(reinterpret_cast<const uint8_t*>(w.data()), 8 * words,
                  nullptr);
    Check(bn != nullptr);
    mpz_init(z);
    mpz_import(z, words, -1, 8, 0, 0, w.data());
  }
  ~Operand() {
    BN_free(bn);
    mpz_clear(z);
  }
  Operand(const Operand&) = delete;
  Operand& operator=(const Operand&) = delete;

  BIGNUM* bn;
  mpz_t z;
};

void CheckAgainstGmp(const BIGNUM* r, const mpz_t a, const mpz_t b) {
  mpz_t want, got;
  mpz_init(want);
  mpz_init(got);
  mpz_mul(want, a, b);
  mpz_import(got, r->width, -1, 8, 0, 0, r->d);
  Check(mpz_cmp(want, got) == 0);
  mpz_clear(want);
  mpz_clear(got);
}

enum class Impl { kExactFloat, kPortable, kBoringSsl, kGmp, kNtt };

// Seconds per call of f, the best of three.
template <class F>
double TimeOnce(F f) {
  double best = 1e30;
  for (int i = 0; i < 3; ++i) {
    const auto start = std::chrono::steady_clock::now();
    f();
    best = std::min(best, std::chrono::duration<double>(
                              std::chrono::steady_clock::now() - start)
                              .count());
  }
  return best;
}

// Operands of `words` words, the first `ratio` times as long; a == b for a
// square.
void Run(benchmark::State& state, Impl impl, size_t words, bool square,
         int ratio) {
  Operand x(words * ratio, 1), y(words, 2);
  const BIGNUM* a = x.bn;
  const BIGNUM* b = square ? x.bn : y.bn;
  BN_CTX* ctx = BN_CTX_new();
  Check(ctx != nullptr);
  BIGNUM* r = BN_new();
  mpz_t c;
  mpz_init(c);
  // BoringSSL squares by the faster of BN_sqr and BN_mul for the length.
  bool use_sqr = false;
  if (impl == Impl::kBoringSsl && square) {
    use_sqr = TimeOnce([&] { Check(BN_sqr(r, a, ctx)); }) <
              TimeOnce([&] { Check(BN_mul(r, a, a, ctx)); });
  }
  auto once = [&] {
    switch (impl) {
      case Impl::kExactFloat:
        FastMultiply(r, a, b, ctx);
        break;
      case Impl::kNtt:
        NttMultiply(r, a, b);
        break;
      case Impl::kPortable:
        NttMultiplyPortable(r, a, b);
        break;
      case Impl::kBoringSsl:
        Check(use_sqr ? BN_sqr(r, a, ctx) : BN_mul(r, a, b, ctx));
        break;
      case Impl::kGmp:
        mpz_mul(c, x.z, square ? x.z : y.z);
        break;
    }
  };
  once();
  if (impl != Impl::kGmp) CheckAgainstGmp(r, x.z, square ? x.z : y.z);
  for (auto _ : state) {
    once();
    benchmark::ClobberMemory();
  }
  mpz_clear(c);
  BN_free(r);
  BN_CTX_free(ctx);
}

struct Family {
  const char* name;
  Impl impl;
};

void Register(const std::string& name, Impl impl, size_t words, bool square,
              int ratio) {
  auto* b = benchmark::RegisterBenchmark(
      name.c_str(), [=](benchmark::State& s) { Run(s, impl, words, square, ratio); });
  b->Unit(benchmark::kMicrosecond);
}

void RegisterAll() {
  const Family kMain[] = {{"ExactFloat", Impl::kExactFloat},
                          {"Portable/ExactFloat", Impl::kPortable},
                          {"BoringSSL", Impl::kBoringSsl},
                          {"GMP", Impl::kGmp}};
  for (const char* op : {"Multiply", "Square"}) {
    for (int log2_bits : {10, 12, 14, 16, 18, 20, 22, 25, 26}) {
      const size_t words = (size_t{1} << log2_bits) / 64;
      for (const Family& f : kMain) {
        Register(std::string(op) + "/" + f.name + "/" +
                     std::to_string(size_t{1} << log2_bits),
                 f.impl, words, op[0] == 'S', 1);
      }
    }
  }
  const Family kCrossover[] = {{"ExactFloat", Impl::kNtt},
                               {"Portable/ExactFloat", Impl::kPortable},
                               {"BoringSSL", Impl::kBoringSsl}};
  const size_t kWords[] = {16, 24, 32, 48, 64, 80, 96, 112, 128, 160, 192,
                           224, 256, 320, 384, 448, 512, 640, 768};
  for (const char* op :
       {"Crossover", "CrossoverSquare", "CrossoverUnbalanced"}) {
    const bool square = std::string(op) == "CrossoverSquare";
    const int ratio = std::string(op) == "CrossoverUnbalanced" ? 4 : 1;
    for (size_t words : kWords) {
      for (const Family& f : kCrossover) {
        Register(std::string(op) + "/" + f.name + "/" + std::to_string(words),
                 f.impl, words, square, ratio);
      }
    }
  }
}

}  // namespace
}  // namespace nurvik::lattis

// Unless the command line sets it, every case runs for at least 0.1 s (the
// longest ones for a single call), which keeps the binary within a few
// minutes; a per-case minimum time would change the benchmark names.
int main(int argc, char** argv) {
  std::vector<char*> args(argv, argv + argc);
  std::string min_time = "--benchmark_min_time=0.1";
  bool has_min_time = false;
  for (char* a : args) {
    has_min_time |= std::string(a).rfind("--benchmark_min_time", 0) == 0;
  }
  if (!has_min_time) args.insert(args.begin() + 1, min_time.data());
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  nurvik::lattis::RegisterAll();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
