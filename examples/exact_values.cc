// Shows what exact arithmetic gives: sums and products of doubles with every
// bit kept, next to what double arithmetic rounds them to.
#include <cstdio>

#include "math/exactfloat.h"

using nurvik::lattis::ExactFloat;

int main() {
  const ExactFloat a = 0.1, b = 0.2, c = 0.3;
  const ExactFloat sum = a + b - c;
  std::printf("0.1 + 0.2 - 0.3 in double:  %.17g\n", 0.1 + 0.2 - 0.3);
  std::printf("0.1 + 0.2 - 0.3 exactly:    %s\n", sum.ToString().c_str());
  std::printf("                            %s\n",
              sum.ToStringWithMaxDigits(100).c_str());
  const ExactFloat product = a * b;
  std::printf("0.1 * 0.2 exactly:          %s\n",
              product.ToStringWithMaxDigits(200).c_str());
  std::printf("0.1 * 0.2 rounded to double: %.17g\n", product.ToDouble());
  return 0;
}
