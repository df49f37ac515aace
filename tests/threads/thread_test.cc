// Every operation of ExactFloat run from several threads at once on shared
// const operands. Each thread must reproduce the single-threaded results;
// under ThreadSanitizer the run also shows that reads share nothing mutable.

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "math/exactfloat.h"

namespace nurvik::lattis {
namespace {

using EF = ExactFloat;

// A record of every operation on (a, b), as text.
std::string RunAll(const EF& a, const EF& b) {
  std::ostringstream out;
  // Results are recorded by fingerprint: decimal text of huge exponents is
  // slow.
  auto put = [&out](const EF& x) {
    out << x.is_nan() << x.is_inf() << x.sign_bit() << x.prec() << ','
        << (x.is_normal() ? x.exp() : 0) << ',' << std::hash<EF>()(x) << ' ';
  };
  put(a + b), put(a - b), put(a * b), put(-a), put(EF(a)), put(abs(a));
  put(copysign(a, b)), put(fmax(a, b)), put(fmin(a, b)), put(fdim(a, b));
  put(ceil(a)), put(floor(a)), put(trunc(a)), put(round(a)), put(rint(a));
  put(EF::SignedSum(-1, &a, 1, &b));
  for (int m = 0; m <= 5; ++m) {
    const auto mode = EF::RoundingMode(m);
    put(a.RoundToPowerOf2(-3, mode)), put(a.RoundToMaxPrec(7, mode));
    out << a.ToInteger<long>(mode) << ' '
        << a.ToInteger<long long>(mode);  // NOLINT
  }
  out << lrint(a) << lround(a) << llrint(a) << llround(a) << ' ';
  int exp = 0;
  put(ldexp(a, 5)), put(scalbln(a, -7)), put(frexp(a, &exp)), put(logb(a));
  out << exp << ilogb(a) << ' ' << a.ToDouble() << ' ';
  out << (a == b) << (a != b) << (a < b) << (a <= b) << (a > b) << (a >= b);
  if (!a.is_nan() && !b.is_nan()) out << a.UnsignedLess(b);
  if (a.is_normal() && b.is_normal() && a.exp() == b.exp()) {
    out << (a.prec() <= b.prec() ? b.ScaleAndCompare(a) : a.ScaleAndCompare(b));
  }
  out << a.sgn() << ' ';
  // Decimal text costs grow with the exponent: only for moderate ones.
  if (!a.is_normal() || (a.exp() > -2000 && a.exp() < 2000)) {
    std::string digits;
    out << a.GetDecimalDigits(12, &digits) << digits << ' ' << a.ToString()
        << a.ToStringWithMaxDigits(3) << a.ToUniqueString();
  }
  return out.str();
}

TEST(ThreadTest, ConcurrentReadersAgreeWithOneThread) {
  const EF big =
      ldexp(EF(0x1.23456789abcdfp0) * EF(-0x1.fedcba9876543p0), 80) + EF(0.1);
  const std::vector<EF> values = {EF(0),
                                  EF::SignedZero(-1),
                                  EF::Infinity(1),
                                  EF::Infinity(-1),
                                  EF::NaN(),
                                  EF(1),
                                  EF(-2.5),
                                  EF(0.1),
                                  EF(1e300) * EF(1e300),
                                  big,
                                  -big,
                                  ldexp(EF(3), 5000),
                                  ldexp(EF(-1), -5000)};
  std::vector<std::string> want;
  for (const EF& a : values) {
    for (const EF& b : values) want.push_back(RunAll(a, b));
  }
  constexpr int kThreads = 4, kRounds = 20;
  std::vector<int> mismatches(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < kRounds; ++round) {
        size_t k = 0;
        for (const EF& a : values) {
          for (const EF& b : values) mismatches[t] += RunAll(a, b) != want[k++];
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t)
    EXPECT_EQ(mismatches[t], 0) << "thread " << t;
}

}  // namespace
}  // namespace nurvik::lattis
