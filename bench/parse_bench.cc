// Values from decimal text: ExactFloat::FromString against MPFR's
// mpfr_strtofr on the same texts, in the same run.
//
// Benchmark names are Parse/<implementation>/<digits>/<bits>: a text of that
// many random significant digits, half before and half after the point,
// rounded to nearest at `bits` bits; bits 0 asks for the exact value (an
// integer text, for ExactFloat the exact form of FromString, for MPFR a
// precision that holds every bit).

#include <benchmark/benchmark.h>
#include <mpfr.h>

#include <random>
#include <string>

#include "math/exactfloat.h"

namespace {

using nurvik::lattis::ExactFloat;

std::string Digits(int n, bool point) {
  std::mt19937_64 rng(n);
  std::string text;
  for (int i = 0; i < n; ++i) {
    if (point && i == n / 2) text.push_back('.');
    text.push_back(static_cast<char>('0' + rng() % 10));
  }
  text[0] = '7';
  return text;
}

void ParseExactFloat(benchmark::State& state) {
  const int bits = static_cast<int>(state.range(1));
  const std::string text = Digits(static_cast<int>(state.range(0)), bits > 0);
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        bits > 0
            ? ExactFloat::FromString(text, bits, ExactFloat::kRoundTiesToEven)
            : ExactFloat::FromString(text));
  }
}

void ParseMpfr(benchmark::State& state) {
  const int digits = static_cast<int>(state.range(0));
  const int bits = static_cast<int>(state.range(1));
  const std::string text = Digits(digits, bits > 0);
  mpfr_t x;
  mpfr_init2(x, bits > 0 ? bits : static_cast<mpfr_prec_t>(digits * 3.33) + 8);
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        mpfr_strtofr(x, text.c_str(), nullptr, 10, MPFR_RNDN));
  }
  mpfr_clear(x);
}

void Cases(benchmark::internal::Benchmark* b) {
  for (int digits : {17, 1000, 100000, 1000000}) {
    for (int bits : {53, 0}) b->Args({digits, bits});
  }
}

BENCHMARK(ParseExactFloat)->Name("Parse/ExactFloat")->Apply(Cases);
BENCHMARK(ParseMpfr)->Name("Parse/MPFR")->Apply(Cases);

}  // namespace

BENCHMARK_MAIN();
