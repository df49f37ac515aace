// Decimal text of 2^k and 2^k (1 + 2^-p) across the exponent range, against
// MPFR's mpfr_get_str for the same value and digit count.
//
// Arguments: k, p (0 for a one-bit mantissa), digits (0 for ToString's count).
// ToString of a 67-million-bit mantissa asks for 20 million digits and takes
// minutes; that case runs only at 40 digits.

#include <benchmark/benchmark.h>
#include <mpfr.h>

#include <algorithm>
#include <string>

#include "math/exactfloat.h"

namespace {

using nurvik::lattis::ExactFloat;

ExactFloat Value(int k, int p) {
  ExactFloat one = 1;
  return ldexp(p > 0 ? one + ldexp(one, -p) : one, k);
}

int Digits(const ExactFloat& v, int digits) {
  return digits > 0
             ? digits
             : std::max(10, ExactFloat::NumSignificantDigitsForPrec(v.prec()));
}

void DecimalExactFloat(benchmark::State& state) {
  const ExactFloat v = Value(state.range(0), state.range(1));
  const int digits = Digits(v, state.range(2));
  for (auto _ : state) benchmark::DoNotOptimize(v.ToStringWithMaxDigits(digits));
}

void DecimalMpfr(benchmark::State& state) {
  const int k = state.range(0), p = state.range(1);
  const int digits = Digits(Value(k, p), state.range(2));
  mpfr_t x, tiny;
  mpfr_init2(x, p + 2);
  mpfr_init2(tiny, 2);
  mpfr_set_ui_2exp(x, 1, k, MPFR_RNDN);
  mpfr_set_ui_2exp(tiny, 1, k - p, MPFR_RNDN);
  if (p > 0) mpfr_add(x, x, tiny, MPFR_RNDN);
  for (auto _ : state) {
    mpfr_exp_t e = 0;
    char* s = mpfr_get_str(nullptr, &e, 10, digits, x, MPFR_RNDN);
    benchmark::DoNotOptimize(s);
    mpfr_free_str(s);
  }
  mpfr_clear(tiny);
  mpfr_clear(x);
}

void Cases(benchmark::internal::Benchmark* b) {
  for (int k : {199999999, -199999999, 1000000, -1000000}) {
    for (int p : {0, 100000, 1000000, 67108863}) {
      for (int digits : {0, 40}) {
        if (p < 67108863 || digits > 0) b->Args({k, p, digits});
      }
    }
  }
  b->Unit(benchmark::kMillisecond);
}

BENCHMARK(DecimalExactFloat)->Name("DecimalText/ExactFloat")->Apply(Cases);
BENCHMARK(DecimalMpfr)->Name("DecimalText/MPFR")->Apply(Cases);

}  // namespace

BENCHMARK_MAIN();
