// Single operations of ExactFloat and of its peers. Benchmark names are
// <case>/<implementation>; all implementations of a case get the same values,
// and each peer's precision is just large enough to keep the result exact.
//
//   FromDouble            construction from a double in [0, 1)
//   Sum/EqualExp          two 53-bit values with the same lowest bit
//   Sum/DistantExp        a value near 1 plus one near 2^-1000
//   Product/<n>           two n-bit mantissas (GMP: a fresh mpz result;
//                         BoringSSL: BN_mul into a fresh BIGNUM with a fresh
//                         BN_CTX, the floor of ExactFloat's product)
//   Compare               a < b for values from doubles
//   ToDouble              of values from doubles
//   ToDouble/Product      of 106-bit products of doubles (rounding)
//   ToString              of values from doubles, 17 significant digits
//                         (GMP: the whole exact decimal expansion)
//   Divide/<n>, Sqrt/<n>  quotient and root of n-bit mantissas to n bits,
//                         ties to even
//   Accumulate            sum += p[i] * q[i] over 1 000 products of doubles;
//                         one iteration is the whole loop

#include <benchmark/benchmark.h>
#include <mpfr.h>

#include <boost/multiprecision/cpp_bin_float.hpp>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "bench/peers.h"
#include "math/exactfloat.h"

namespace nurvik::lattis::bench {
namespace {

namespace mp = boost::multiprecision;
template <unsigned kBits>
using BoostFloat =
    mp::number<mp::cpp_bin_float<kBits, mp::digit_base_2>, mp::et_off>;

constexpr int kValues = 1024;  // a power of two, for cheap cycling

std::vector<double> Doubles(uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::vector<double> v(kValues);
  for (double& x : v) x = UniformDouble(rng);
  return v;
}

// Doubles in [0.5, 1) with the lowest of their 53 bits set: sums of two of
// them align without a shift.
std::vector<double> OddDoubles(uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::vector<double> v(kValues);
  for (double& x : v) {
    x = std::ldexp(static_cast<double>((rng() >> 11) | (1ULL << 52) | 1), -53);
  }
  return v;
}

// One RAII MPFR variable.
class Mpfr {
 public:
  explicit Mpfr(mpfr_prec_t prec) { mpfr_init2(v_, prec); }
  Mpfr(const Mpfr& b) {
    mpfr_init2(v_, mpfr_get_prec(b.v_));
    mpfr_set(v_, b.v_, MPFR_RNDN);
  }
  Mpfr& operator=(const Mpfr&) = delete;
  ~Mpfr() { mpfr_clear(v_); }
  mpfr_ptr get() { return v_; }
  mpfr_srcptr get() const { return v_; }

 private:
  mpfr_t v_;
};

std::vector<Mpfr> MpfrValues(const std::vector<double>& d) {
  std::vector<Mpfr> v(d.size(), Mpfr(53));
  for (size_t i = 0; i < d.size(); ++i) mpfr_set_d(v[i].get(), d[i], MPFR_RNDN);
  return v;
}

template <class T>
std::vector<T> Values(const std::vector<double>& d) {
  std::vector<T> v;
  v.reserve(d.size());
  for (double x : d) v.emplace_back(x);
  return v;
}

// ---------------------------------------------------------------------------
// Construction, comparison and conversion of values from doubles.

const std::vector<double>& Inputs() {
  static const std::vector<double> v = Doubles(1);
  return v;
}

template <class T>
void BM_FromDouble(benchmark::State& state) {
  const std::vector<double>& d = Inputs();
  unsigned i = 0;
  for (auto _ : state) {
    T v(d[i++ % kValues]);
    benchmark::DoNotOptimize(v);
  }
}

void BM_FromDoubleMpfr(benchmark::State& state) {
  const std::vector<double>& d = Inputs();
  Mpfr v(53);
  unsigned i = 0;
  for (auto _ : state) {
    mpfr_set_d(v.get(), d[i++ % kValues], MPFR_RNDN);
    benchmark::DoNotOptimize(v.get());
  }
}

template <class T>
void BM_Compare(benchmark::State& state) {
  const std::vector<T> v = Values<T>(Inputs());
  unsigned i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(v[i % kValues] < v[(i + 1) % kValues]);
    ++i;
  }
}

void BM_CompareMpfr(benchmark::State& state) {
  const std::vector<Mpfr> v = MpfrValues(Inputs());
  unsigned i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        mpfr_less_p(v[i % kValues].get(), v[(i + 1) % kValues].get()));
    ++i;
  }
}

double ToDouble(const ExactFloat& v) { return v.ToDouble(); }
double ToDouble(const GmpFloat& v) { return v.ToDouble(); }
template <unsigned kBits>
double ToDouble(const BoostFloat<kBits>& v) {
  return v.template convert_to<double>();
}

template <class T>
void BM_ToDouble(benchmark::State& state) {
  const std::vector<T> v = Values<T>(Inputs());
  unsigned i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(ToDouble(v[i++ % kValues]));
}

void BM_ToDoubleMpfr(benchmark::State& state) {
  const std::vector<Mpfr> v = MpfrValues(Inputs());
  unsigned i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(mpfr_get_d(v[i++ % kValues].get(), MPFR_RNDN));
  }
}

// Products of two doubles: 106 bits, so that ToDouble has to round.
template <class T>
void BM_ToDoubleProduct(benchmark::State& state) {
  const std::vector<double> a = Inputs(), b = Doubles(2);
  std::vector<T> v;
  for (int i = 0; i < kValues; ++i) v.push_back(T(a[i]) * T(b[i]));
  unsigned i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(ToDouble(v[i++ % kValues]));
}

void BM_ToDoubleProductMpfr(benchmark::State& state) {
  const std::vector<double> a = Inputs(), b = Doubles(2);
  std::vector<Mpfr> v(kValues, Mpfr(106));
  for (int i = 0; i < kValues; ++i) {
    mpfr_set_d(v[i].get(), a[i], MPFR_RNDN);
    mpfr_mul_d(v[i].get(), v[i].get(), b[i], MPFR_RNDN);
  }
  unsigned i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(mpfr_get_d(v[i++ % kValues].get(), MPFR_RNDN));
  }
}

std::string ToString(const ExactFloat& v) { return v.ToString(); }
std::string ToString(const GmpFloat& v) { return v.ToString(); }
std::string ToString(const BoostFloat<53>& v) { return v.str(17); }
std::string ToString(double v) {
  char text[32];
  snprintf(text, sizeof(text), "%.17g", v);
  return text;
}

template <class T>
void BM_ToString(benchmark::State& state) {
  const std::vector<T> v = Values<T>(Inputs());
  unsigned i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(ToString(v[i++ % kValues]));
}

void BM_ToStringMpfr(benchmark::State& state) {
  const std::vector<Mpfr> v = MpfrValues(Inputs());
  unsigned i = 0;
  for (auto _ : state) {
    char text[48];
    mpfr_snprintf(text, sizeof(text), "%.17Rg", v[i++ % kValues].get());
    benchmark::DoNotOptimize(std::string(text));
  }
}

// ---------------------------------------------------------------------------
// Sums.

// Pairs (a, b) with the same lowest bit, or with b scaled down by 2^-1000.
struct SumInputs {
  std::vector<double> a, b;
};

SumInputs SumCase(bool distant) {
  SumInputs in{OddDoubles(3), OddDoubles(4)};
  if (distant) {
    for (double& x : in.b) x = std::ldexp(x, -1000);
  }
  return in;
}

template <class T>
void BM_Sum(benchmark::State& state, bool distant) {
  const SumInputs in = SumCase(distant);
  const std::vector<T> a = Values<T>(in.a), b = Values<T>(in.b);
  unsigned i = 0;
  for (auto _ : state) {
    T r = a[i % kValues] + b[i % kValues];
    benchmark::DoNotOptimize(r);
    ++i;
  }
}

void BM_SumMpfr(benchmark::State& state, bool distant) {
  const SumInputs in = SumCase(distant);
  const std::vector<Mpfr> a = MpfrValues(in.a), b = MpfrValues(in.b);
  Mpfr r(distant ? 1060 : 54);
  unsigned i = 0;
  for (auto _ : state) {
    mpfr_add(r.get(), a[i % kValues].get(), b[i % kValues].get(), MPFR_RNDN);
    benchmark::DoNotOptimize(r.get());
    ++i;
  }
}

template <class T>
void BM_SumEqualExp(benchmark::State& state) {
  BM_Sum<T>(state, false);
}
template <class T>
void BM_SumDistantExp(benchmark::State& state) {
  BM_Sum<T>(state, true);
}
void BM_SumEqualExpMpfr(benchmark::State& state) { BM_SumMpfr(state, false); }
void BM_SumDistantExpMpfr(benchmark::State& state) { BM_SumMpfr(state, true); }

// ---------------------------------------------------------------------------
// Products of n-bit mantissas.

// Two odd n-bit mantissas with their top bit set, as 32-bit words, least
// significant first.
std::vector<uint32_t> MantissaWords(int bits, uint64_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint32_t> w((bits + 31) / 32);
  for (uint32_t& x : w) x = rng();
  const int top = (bits - 1) % 32;
  w.back() = (w.back() & ((uint64_t{2} << top) - 1)) | (uint32_t{1} << top);
  w.front() |= 1;
  return w;
}

// The value m * 2^-n built with ExactFloat's own arithmetic, halving the words
// at each level so that the work is O(n log n).
ExactFloat ExactFromWords(const uint32_t* w, int count) {
  if (count == 1) return ExactFloat(static_cast<double>(w[0]));
  const int half = count / 2;
  return ExactFromWords(w, half) +
         ldexp(ExactFromWords(w + half, count - half), 32 * half);
}

mpz_class MpzFromWords(const std::vector<uint32_t>& w) {
  mpz_class m;
  mpz_import(m.get_mpz_t(), w.size(), -1, sizeof(uint32_t), 0, 0, w.data());
  return m;
}

template <unsigned kBits>
BoostFloat<kBits> BoostFromWords(const std::vector<uint32_t>& w) {
  BoostFloat<kBits> v = 0;
  for (size_t i = w.size(); i-- > 0;) v = ldexp(v, 32) + w[i];
  return v;
}

void BM_ProductExact(benchmark::State& state) {
  const int n = state.range(0);
  const std::vector<uint32_t> wa = MantissaWords(n, 5), wb = MantissaWords(n, 6);
  const ExactFloat a = ldexp(ExactFromWords(wa.data(), wa.size()), -n);
  const ExactFloat b = ldexp(ExactFromWords(wb.data(), wb.size()), -n);
  // Cross-check against MPFR before timing.
  mpz_class ma = MpzFromWords(wa), mb = MpzFromWords(wb);
  Mpfr check(2 * n);
  mpfr_set_z(check.get(), ma.get_mpz_t(), MPFR_RNDN);
  mpfr_mul_z(check.get(), check.get(), mb.get_mpz_t(), MPFR_RNDN);
  mpfr_mul_2si(check.get(), check.get(), -2 * n, MPFR_RNDN);
  if (a.prec() != n || (a * b).ToDouble() != mpfr_get_d(check.get(), MPFR_RNDN)) {
    state.SkipWithError("ExactFloat's product disagrees with MPFR's");
    return;
  }
  for (auto _ : state) {
    ExactFloat r = a * b;
    benchmark::DoNotOptimize(r);
  }
}

void BM_ProductMpfr(benchmark::State& state) {
  const int n = state.range(0);
  Mpfr a(n), b(n), r(2 * n);
  mpfr_set_z_2exp(a.get(), MpzFromWords(MantissaWords(n, 5)).get_mpz_t(), -n,
                  MPFR_RNDN);
  mpfr_set_z_2exp(b.get(), MpzFromWords(MantissaWords(n, 6)).get_mpz_t(), -n,
                  MPFR_RNDN);
  for (auto _ : state) {
    mpfr_mul(r.get(), a.get(), b.get(), MPFR_RNDN);
    benchmark::DoNotOptimize(r.get());
  }
}

void BM_ProductGmp(benchmark::State& state) {
  const int n = state.range(0);
  const GmpFloat a(MpzFromWords(MantissaWords(n, 5)), -n);
  const GmpFloat b(MpzFromWords(MantissaWords(n, 6)), -n);
  for (auto _ : state) {
    GmpFloat r = a * b;
    benchmark::DoNotOptimize(r);
  }
}

void BM_ProductBoringSsl(benchmark::State& state) {
  const int n = state.range(0);
  BIGNUM* a = BN_new();
  BIGNUM* b = BN_new();
  for (auto [bn, seed] : {std::pair{a, 5}, std::pair{b, 6}}) {
    const std::vector<uint32_t> w = MantissaWords(n, seed);
    std::vector<uint8_t> bytes(w.size() * 4);
    for (size_t i = 0; i < w.size(); ++i) {
      for (int k = 0; k < 4; ++k) bytes[i * 4 + k] = w[i] >> (8 * k);
    }
    Check(BN_le2bn(bytes.data(), bytes.size(), bn) != nullptr);
  }
  for (auto _ : state) {
    BIGNUM r;
    BN_init(&r);
    BN_CTX* ctx = BN_CTX_new();
    Check(ctx != nullptr);
    Check(BN_mul(&r, a, b, ctx));
    BN_CTX_free(ctx);
    benchmark::DoNotOptimize(r);
    BN_free(&r);
  }
  BN_free(a);
  BN_free(b);
}

template <unsigned kBits>
void BM_ProductBoost(benchmark::State& state) {
  const int n = state.range(0);
  using Out = BoostFloat<2 * kBits>;
  const Out a = ldexp(BoostFromWords<2 * kBits>(MantissaWords(n, 5)), -n);
  const Out b = ldexp(BoostFromWords<2 * kBits>(MantissaWords(n, 6)), -n);
  for (auto _ : state) {
    Out r = a * b;
    benchmark::DoNotOptimize(r);
  }
}

// ---------------------------------------------------------------------------
// Quotients and square roots of n-bit mantissas, rounded to n bits.

void BM_DivideExact(benchmark::State& state) {
  const int n = state.range(0);
  const std::vector<uint32_t> wa = MantissaWords(n, 5), wb = MantissaWords(n, 6);
  const ExactFloat a = ldexp(ExactFromWords(wa.data(), wa.size()), -n);
  const ExactFloat b = ldexp(ExactFromWords(wb.data(), wb.size()), -n);
  for (auto _ : state) {
    ExactFloat r = Divide(a, b, n, ExactFloat::kRoundTiesToEven);
    benchmark::DoNotOptimize(r);
  }
}

void BM_DivideMpfr(benchmark::State& state) {
  const int n = state.range(0);
  Mpfr a(n), b(n), r(n);
  mpfr_set_z_2exp(a.get(), MpzFromWords(MantissaWords(n, 5)).get_mpz_t(), -n,
                  MPFR_RNDN);
  mpfr_set_z_2exp(b.get(), MpzFromWords(MantissaWords(n, 6)).get_mpz_t(), -n,
                  MPFR_RNDN);
  for (auto _ : state) {
    mpfr_div(r.get(), a.get(), b.get(), MPFR_RNDN);
    benchmark::DoNotOptimize(r.get());
  }
}

void BM_SqrtExact(benchmark::State& state) {
  const int n = state.range(0);
  const std::vector<uint32_t> wa = MantissaWords(n, 5);
  const ExactFloat a = ldexp(ExactFromWords(wa.data(), wa.size()), -n);
  for (auto _ : state) {
    ExactFloat r = Sqrt(a, n, ExactFloat::kRoundTiesToEven);
    benchmark::DoNotOptimize(r);
  }
}

void BM_SqrtMpfr(benchmark::State& state) {
  const int n = state.range(0);
  Mpfr a(n), r(n);
  mpfr_set_z_2exp(a.get(), MpzFromWords(MantissaWords(n, 5)).get_mpz_t(), -n,
                  MPFR_RNDN);
  for (auto _ : state) {
    mpfr_sqrt(r.get(), a.get(), MPFR_RNDN);
    benchmark::DoNotOptimize(r.get());
  }
}

// ---------------------------------------------------------------------------
// Accumulation of 1 000 products with +=.

constexpr int kTerms = 1000;

template <class T>
void BM_Accumulate(benchmark::State& state) {
  const std::vector<T> p = Values<T>(Doubles(7)), q = Values<T>(Doubles(8));
  for (auto _ : state) {
    T sum(0.0);
    for (int i = 0; i < kTerms; ++i) sum += p[i] * q[i];
    benchmark::DoNotOptimize(sum);
  }
}

// RawBn has no +=: the same assignment of a fresh sum.
void BM_AccumulateBoringSsl(benchmark::State& state) {
  const std::vector<RawBn> p = Values<RawBn>(Doubles(7));
  const std::vector<RawBn> q = Values<RawBn>(Doubles(8));
  for (auto _ : state) {
    RawBn sum(0.0);
    for (int i = 0; i < kTerms; ++i) sum = sum + p[i] * q[i];
    benchmark::DoNotOptimize(sum);
  }
}

void BM_AccumulateMpfr(benchmark::State& state) {
  const std::vector<Mpfr> p = MpfrValues(Doubles(7)), q = MpfrValues(Doubles(8));
  // Products are multiples of 2^-106 below 1; their sum stays below 2^10.
  Mpfr product(106), sum(128);
  for (auto _ : state) {
    mpfr_set_zero(sum.get(), 1);
    for (int i = 0; i < kTerms; ++i) {
      mpfr_mul(product.get(), p[i].get(), q[i].get(), MPFR_RNDN);
      mpfr_add(sum.get(), sum.get(), product.get(), MPFR_RNDN);
    }
    benchmark::DoNotOptimize(sum.get());
  }
}

}  // namespace
}  // namespace nurvik::lattis::bench

namespace {

using nurvik::lattis::ExactFloat;
using namespace nurvik::lattis::bench;  // NOLINT(build/namespaces)

BENCHMARK(BM_FromDouble<ExactFloat>)->Name("FromDouble/ExactFloat");
BENCHMARK(BM_FromDoubleMpfr)->Name("FromDouble/MPFR");
BENCHMARK(BM_FromDouble<GmpFloat>)->Name("FromDouble/GMP");
BENCHMARK(BM_FromDouble<RawBn>)->Name("FromDouble/BoringSSL");
BENCHMARK(BM_FromDouble<BoostFloat<53>>)->Name("FromDouble/Boost");

BENCHMARK(BM_SumEqualExp<ExactFloat>)->Name("Sum/EqualExp/ExactFloat");
BENCHMARK(BM_SumEqualExpMpfr)->Name("Sum/EqualExp/MPFR");
BENCHMARK(BM_SumEqualExp<GmpFloat>)->Name("Sum/EqualExp/GMP");
BENCHMARK(BM_SumEqualExp<RawBn>)->Name("Sum/EqualExp/BoringSSL");
BENCHMARK(BM_SumEqualExp<BoostFloat<54>>)->Name("Sum/EqualExp/Boost");
BENCHMARK(BM_SumDistantExp<ExactFloat>)->Name("Sum/DistantExp/ExactFloat");
BENCHMARK(BM_SumDistantExpMpfr)->Name("Sum/DistantExp/MPFR");
BENCHMARK(BM_SumDistantExp<GmpFloat>)->Name("Sum/DistantExp/GMP");
BENCHMARK(BM_SumDistantExp<RawBn>)->Name("Sum/DistantExp/BoringSSL");
BENCHMARK(BM_SumDistantExp<BoostFloat<1060>>)->Name("Sum/DistantExp/Boost");

#define LATTIS_PRODUCT_SIZES Arg(53)->Arg(1024)->Arg(65536)->Arg(1048576)
BENCHMARK(BM_ProductExact)->Name("Product/ExactFloat")->LATTIS_PRODUCT_SIZES;
BENCHMARK(BM_ProductMpfr)->Name("Product/MPFR")->LATTIS_PRODUCT_SIZES;
BENCHMARK(BM_ProductGmp)->Name("Product/GMP")->LATTIS_PRODUCT_SIZES;
BENCHMARK(BM_ProductBoringSsl)->Name("Product/BoringSSL")->LATTIS_PRODUCT_SIZES;
#undef LATTIS_PRODUCT_SIZES
BENCHMARK(BM_ProductBoost<53>)->Name("Product/Boost")->Arg(53);
BENCHMARK(BM_ProductBoost<1024>)->Name("Product/Boost")->Arg(1024);
BENCHMARK(BM_ProductBoost<65536>)->Name("Product/Boost")->Arg(65536);

BENCHMARK(BM_DivideExact)->Name("Divide/ExactFloat")->Arg(53)->Arg(10000);
BENCHMARK(BM_DivideMpfr)->Name("Divide/MPFR")->Arg(53)->Arg(10000);
BENCHMARK(BM_SqrtExact)->Name("Sqrt/ExactFloat")->Arg(53)->Arg(10000);
BENCHMARK(BM_SqrtMpfr)->Name("Sqrt/MPFR")->Arg(53)->Arg(10000);

BENCHMARK(BM_Compare<ExactFloat>)->Name("Compare/ExactFloat");
BENCHMARK(BM_CompareMpfr)->Name("Compare/MPFR");
BENCHMARK(BM_Compare<GmpFloat>)->Name("Compare/GMP");
BENCHMARK(BM_Compare<BoostFloat<53>>)->Name("Compare/Boost");
BENCHMARK(BM_Compare<double>)->Name("Compare/double");

BENCHMARK(BM_ToDouble<ExactFloat>)->Name("ToDouble/ExactFloat");
BENCHMARK(BM_ToDoubleMpfr)->Name("ToDouble/MPFR");
BENCHMARK(BM_ToDouble<GmpFloat>)->Name("ToDouble/GMP");
BENCHMARK(BM_ToDouble<BoostFloat<53>>)->Name("ToDouble/Boost");
BENCHMARK(BM_ToDoubleProduct<ExactFloat>)->Name("ToDouble/Product/ExactFloat");
BENCHMARK(BM_ToDoubleProductMpfr)->Name("ToDouble/Product/MPFR");
BENCHMARK(BM_ToDoubleProduct<BoostFloat<106>>)->Name("ToDouble/Product/Boost");

BENCHMARK(BM_ToString<ExactFloat>)->Name("ToString/ExactFloat");
BENCHMARK(BM_ToStringMpfr)->Name("ToString/MPFR");
BENCHMARK(BM_ToString<GmpFloat>)->Name("ToString/GMP");
BENCHMARK(BM_ToString<BoostFloat<53>>)->Name("ToString/Boost");
BENCHMARK(BM_ToString<double>)->Name("ToString/double");

BENCHMARK(BM_Accumulate<ExactFloat>)->Name("Accumulate/ExactFloat");
BENCHMARK(BM_AccumulateMpfr)->Name("Accumulate/MPFR");
BENCHMARK(BM_Accumulate<GmpFloat>)->Name("Accumulate/GMP");
BENCHMARK(BM_AccumulateBoringSsl)->Name("Accumulate/BoringSSL");
BENCHMARK(BM_Accumulate<BoostFloat<128>>)->Name("Accumulate/Boost");
BENCHMARK(BM_Accumulate<double>)->Name("Accumulate/double");

}  // namespace

BENCHMARK_MAIN();
