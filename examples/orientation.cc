// Orientation of three points, decided exactly.
//
// The sign of the determinant
//   (q.x - p.x) * (r.y - p.y) - (q.y - p.y) * (r.x - p.x)
// says whether r lies left of (+), right of (-) or on (0) the line through p
// and q. Geometry code branches on this sign, and for nearly collinear points
// double arithmetic rounds the products so badly that the sign comes out wrong:
// points appear collinear when they are not, or on the wrong side. With
// ExactFloat the differences and products are exact, so the sign is right.
#include <cstdio>

#include "math/exactfloat.h"

using nurvik::lattis::ExactFloat;

struct Point {
  double x, y;
};

template <class T>
int Sign(const T& v) {
  return (v > T(0)) - (v < T(0));
}

// The determinant's sign with T as the arithmetic; T = ExactFloat is exact.
template <class T>
int Orientation(const Point& p, const Point& q, const Point& r) {
  const T px = p.x, py = p.y;
  return Sign((T(q.x) - px) * (T(r.y) - py) - (T(q.y) - py) * (T(r.x) - px));
}

int main() {
  const char kSignChar[] = "-0+";
  // q and r lie on the diagonal y = x; p moves by single units in the last
  // place (2^-53) away from (0.5, 0.5), which is on the diagonal too.
  const Point q = {12, 12}, r = {24, 24};
  const double ulp = 0x1p-53;
  std::printf(
      "Orientation of p = (0.5 + i ulp, 0.5 + j ulp), q = (12, 12), "
      "r = (24, 24)\nas double / exact; '*' marks a wrong double "
      "sign.\n\n   j:");
  for (int j = 0; j < 12; ++j) std::printf("%6d", j);
  std::printf("\n");
  for (int i = 0; i < 6; ++i) {
    std::printf("i=%2d:", i);
    for (int j = 0; j < 12; ++j) {
      const Point p = {0.5 + i * ulp, 0.5 + j * ulp};
      const int fast = Orientation<double>(p, q, r);
      const int exact = Orientation<ExactFloat>(p, q, r);
      std::printf("  %c/%c%c", kSignChar[fast + 1], kSignChar[exact + 1],
                  fast == exact ? ' ' : '*');
    }
    std::printf("\n");
  }

  // A point that double arithmetic puts on the wrong side of the line.
  const Point p = {0.5 + 41 * ulp, 0.5 + 48 * ulp};
  const double fast = (q.x - p.x) * (r.y - p.y) - (q.y - p.y) * (r.x - p.x);
  const ExactFloat px = p.x, py = p.y;
  const ExactFloat exact = (q.x - px) * (r.y - py) - (q.y - py) * (r.x - px);
  std::printf(
      "\np = (%.17g, %.17g)\n  double determinant: %.17g\n"
      "  exact determinant:  %s\n",
      p.x, p.y, fast, exact.ToString().c_str());
  return 0;
}
