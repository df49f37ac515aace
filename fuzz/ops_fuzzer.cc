// Decodes four values and a sequence of operations on them. Every result
// must be in normal form; sums must undo exactly, products match MPFR, and
// the order must stay a strict weak order in which equal values look alike.

#include <mpfr.h>

#include <cstddef>
#include <cstdint>
#include <functional>

#include "fuzz/fuzz_input.h"

using nurvik::lattis::ExactFloat;
namespace fuzz = nurvik::lattis::fuzz;
namespace oracle = nurvik::lattis::testing;

namespace {

// (a + b) - b == a unless the sum left the exponent range or grew too long.
void CheckSum(const ExactFloat& a, const ExactFloat& b, const ExactFloat& sum) {
  if (!a.is_finite() || !b.is_finite() || !sum.is_finite()) return;
  if (sum.is_zero() && a != -b) return;  // underflow
  FUZZ_CHECK(sum - b == a, a, b, sum);
  FUZZ_CHECK(sum - a == b, a, b, sum);
}

void CheckProduct(const ExactFloat& a, const ExactFloat& b,
                  const ExactFloat& product) {
  oracle::Mpfr am, bm, want;
  oracle::ToMpfr(a, am);
  oracle::ToMpfr(b, bm);
  mpfr_set_prec(want, mpfr_get_prec(am) + mpfr_get_prec(bm));
  mpfr_mul(want, am, bm, MPFR_RNDN);
  FUZZ_CHECK(oracle::Mismatch(product, want).empty(), a, b, product);
}

void CheckOrder(const ExactFloat* v, int n) {
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      const ExactFloat &x = v[i], &y = v[j];
      FUZZ_CHECK(!(x < y && y < x), x, y);
      if (!x.is_nan() && !y.is_nan()) {
        FUZZ_CHECK((x < y) + (x == y) + (y < x) == 1, x, y);
      }
      if (x == y) {
        FUZZ_CHECK(std::hash<ExactFloat>()(x) == std::hash<ExactFloat>()(y), x,
                   y);
        if (x.sign_bit() == y.sign_bit() && fuzz::CheapText(x, x.prec())) {
          FUZZ_CHECK(x.ToUniqueString() == y.ToUniqueString(), x, y);
        }
      }
      for (int k = 0; k < n; ++k) {
        const ExactFloat& z = v[k];
        if (x < y && (y < z || y == z)) FUZZ_CHECK(x < z, x, y, z);
        if (x == y && y == z) FUZZ_CHECK(x == z, x, y, z);
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  oracle::WidenMpfrExponentRange();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  ExactFloat v[5];  // four registers and the latest result
  for (int i = 0; i < 4; ++i) fuzz::CheckNormalForm(v[i] = in.Value());
  for (int step = 0; step < 16 && !in.empty(); ++step) {
    const uint8_t op = in.Byte();
    const ExactFloat &a = v[op & 3], &b = v[op >> 2 & 3];
    ExactFloat& r = v[4];
    switch (op >> 4) {
      case 0:
        CheckSum(a, b, r = a + b);
        break;
      case 1:
        CheckSum(a, -b, r = a - b);
        break;
      case 2:
        CheckProduct(a, b, r = a * b);
        break;
      case 3:
        r = a.RoundToMaxPrec(in.Byte() % 80 - 8, in.Mode());
        break;
      case 4:
        r = a.RoundToPowerOf2(a.is_normal() ? a.exp() - in.Byte() % 80 : 0,
                              in.Mode());
        break;
      case 5:
        r = ldexp(a, static_cast<int8_t>(in.Byte()));
        break;
      case 6:
        r = -a;
        break;
      case 7:
        r = copysign(abs(a), b);
        break;
      case 8:
        r = fmax(a, b);
        break;
      case 9:
        r = fmin(a, b);
        break;
      case 10:
        r = fdim(a, b);
        break;
      case 11: {
        int exp = 0;
        r = frexp(a, &exp);
        FUZZ_CHECK(!a.is_normal() || ldexp(r, exp) == a, a, r);
        break;
      }
      case 12:
        r = ExactFloat(a.ToDouble());
        break;
      case 13:
        r = in.Byte() & 1 ? rint(a) : round(a);
        break;
      case 14:
        r = ExactFloat::SignedSum(in.Byte() & 1 ? -1 : 1, &a, -1, &b);
        break;
      default:
        r = logb(a);
        break;
    }
    fuzz::CheckNormalForm(r);
    CheckOrder(v, 5);
    if (r.prec() <= (1 << 16)) v[in.Byte() & 3] = r;
  }
  return 0;
}
