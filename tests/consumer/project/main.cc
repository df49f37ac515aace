// A client of the installed library: includes the header as
// "math/exactfloat.h" and links through the lattis package.
#include <cstdio>

#include "math/exactfloat.h"

int main() {
  using nurvik::lattis::ExactFloat;
  const ExactFloat sum = ExactFloat(0.1) + ExactFloat(0.2) - ExactFloat(0.3);
  std::printf("%s\n", sum.ToString().c_str());
  return sum == ldexp(ExactFloat(1), -55) ? 0 : 1;
}
