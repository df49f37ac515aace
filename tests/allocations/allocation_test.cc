// Allocator calls made by ExactFloat on small values, counted by replacing
// malloc, calloc, realloc and free in this binary (BoringSSL's allocator
// calls them too). Values whose mantissas fit the inline words must not
// allocate at all; a longer result allocates its digits once.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <random>
#include <utility>
#include <vector>

#include "math/exactfloat.h"

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* p, size_t size);
void __libc_free(void* p);
}

namespace {

std::atomic<bool> counting{false};
std::atomic<long> allocations{0};  // NOLINT(runtime/int)
std::atomic<long> frees{0};        // NOLINT(runtime/int)

void Count(std::atomic<long>* counter) {  // NOLINT(runtime/int)
  if (counting.load(std::memory_order_relaxed)) ++*counter;
}

}  // namespace

extern "C" {
void* malloc(size_t size) {
  Count(&allocations);
  return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
  Count(&allocations);
  return __libc_calloc(count, size);
}
void* realloc(void* p, size_t size) {
  Count(&allocations);
  return __libc_realloc(p, size);
}
void free(void* p) {
  if (p != nullptr) Count(&frees);
  __libc_free(p);
}
}

namespace nurvik::lattis {
namespace {

// Allocator calls made while a scope is alive.
class AllocationCounter {
 public:
  AllocationCounter() {
    ::allocations = 0;
    ::frees = 0;
    counting = true;
  }
  ~AllocationCounter() { counting = false; }
  long allocations() const { return ::allocations; }  // NOLINT(runtime/int)
  long frees() const { return ::frees; }              // NOLINT(runtime/int)
};

// A uniform double in [0, 1) on the grid of 2^-53.
double Coordinate(std::mt19937_64& rng) {
  return std::ldexp(static_cast<double>(rng() >> 11), -53);
}

template <class T>
T Orientation(const double (&p)[12]) {
  const T adx = T(p[0]) - T(p[9]), ady = T(p[1]) - T(p[10]),
          adz = T(p[2]) - T(p[11]);
  const T bdx = T(p[3]) - T(p[9]), bdy = T(p[4]) - T(p[10]),
          bdz = T(p[5]) - T(p[11]);
  const T cdx = T(p[6]) - T(p[9]), cdy = T(p[7]) - T(p[10]),
          cdz = T(p[8]) - T(p[11]);
  return adx * (bdy * cdz - bdz * cdy) + bdx * (cdy * adz - cdz * ady) +
         cdx * (ady * bdz - adz * bdy);
}

TEST(AllocationTest, OrientationOnDoublesAllocatesNothing) {
  std::mt19937_64 rng(7);
  std::vector<std::array<double, 12>> inputs(1000);
  for (auto& p : inputs) {
    for (double& x : p) x = Coordinate(rng);
    if (rng() % 2 == 0) p[9] = p[0], p[10] = p[1];  // coplanar-ish
  }
  int positive = 0;
  AllocationCounter counter;
  for (const auto& p : inputs) {
    double q[12];
    std::copy(p.begin(), p.end(), q);
    positive += Orientation<ExactFloat>(q).sgn() > 0;
  }
  EXPECT_EQ(counter.allocations(), 0);
  EXPECT_EQ(counter.frees(), 0);
  EXPECT_GT(positive, 0);
}

TEST(AllocationTest, SumOfProductsOfDoublesAllocatesNothing) {
  std::mt19937_64 rng(8);
  std::vector<ExactFloat> p, q;
  for (int i = 0; i < 1000; ++i) {
    p.emplace_back(Coordinate(rng));
    q.emplace_back(-Coordinate(rng));
  }
  AllocationCounter counter;
  ExactFloat sum;
  for (int i = 0; i < 1000; ++i) sum += p[i] * q[i];
  EXPECT_TRUE(sum < 0);
  EXPECT_EQ(counter.allocations(), 0);
}

TEST(AllocationTest, SmallValuesCopyMoveRoundAndConvertWithoutAllocating) {
  const ExactFloat third = ExactFloat(1.0 / 3) * ExactFloat(1.0 / 7);
  AllocationCounter counter;
  ExactFloat copy = third;
  ExactFloat moved = std::move(copy);
  copy = moved;
  copy = -copy;
  const double d = copy.ToDouble();
  const ExactFloat rounded = third.RoundToMaxPrec(20, ExactFloat::kRoundAwayFromZero);
  const bool less = rounded < third || third < rounded;
  const long long n = llround(ldexp(third, 70));  // NOLINT(runtime/int)
  EXPECT_EQ(counter.allocations(), 0);
  EXPECT_LT(d, 0);
  EXPECT_TRUE(less);
  EXPECT_GT(n, 0);
}

TEST(AllocationTest, LongResultsAllocateTheirDigitsOnce) {
  // Four-word mantissas: their product needs eight words, a sum across a
  // gap of 1000 bits seventeen.
  const ExactFloat a = ldexp(ExactFloat(1), 255) - 1, b = ldexp(a, -1000) + a;
  const ExactFloat c = ldexp(ExactFloat(1), 255) + 1;
  {
    AllocationCounter counter;
    const ExactFloat product = a * c;
    EXPECT_EQ(counter.allocations(), 1);
    const ExactFloat moved = std::move(const_cast<ExactFloat&>(product));
    EXPECT_EQ(counter.allocations(), 1);
    EXPECT_EQ(moved.prec(), 510);
  }
  {
    AllocationCounter counter;
    const ExactFloat sum = c + ldexp(c, -1000);
    EXPECT_EQ(counter.allocations(), 1);
    EXPECT_EQ(sum.prec(), 1256);
  }
  {
    AllocationCounter counter;
    { const ExactFloat copy = b; }
    EXPECT_EQ(counter.allocations(), 1);
    EXPECT_EQ(counter.frees(), 1);
  }
}

}  // namespace
}  // namespace nurvik::lattis
