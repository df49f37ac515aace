// Helpers shared by the unit tests.

#ifndef NURVIK_LATTIS_TESTS_TESTING_H_
#define NURVIK_LATTIS_TESTS_TESTING_H_

#include <string>

#include "gtest/gtest.h"
#include "math/exactfloat.h"

namespace nurvik::lattis {

// Identity of results: NaNs match on their sign, other values on == and on
// the sign, so that the sign of a zero counts (for normal values == implies
// the same mantissa and exponent). Failure text gives the size of a wide
// value instead of its decimal digits.
inline ::testing::AssertionResult Same(const ExactFloat& x,
                                       const ExactFloat& y) {
  if (x.is_nan() == y.is_nan() && x.sign_bit() == y.sign_bit() &&
      (x.is_nan() || x == y)) {
    return ::testing::AssertionSuccess();
  }
  auto text = [](const ExactFloat& v) {
    return (v.prec() > 200 ? std::to_string(v.prec()) + " bits"
                           : v.ToString()) +
           (v.sign_bit() ? " (-)" : " (+)");
  };
  return ::testing::AssertionFailure() << text(x) << " is not " << text(y);
}

inline ExactFloat Pow2(int e) { return ldexp(ExactFloat(1), e); }

}  // namespace nurvik::lattis

#endif  // NURVIK_LATTIS_TESTS_TESTING_H_
