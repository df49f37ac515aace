#include "math/exactfloat.h"

#include <gtest/gtest.h>

namespace nurvik::lattis {
namespace {

TEST(ExactFloatSmoke, OneAndAHalf) {
  ExactFloat x = 1.5;
  EXPECT_EQ(x.prec(), 2);
  EXPECT_EQ(x.ToString(), "1.5");
}

}  // namespace
}  // namespace nurvik::lattis
