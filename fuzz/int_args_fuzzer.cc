// Every function that takes an integer argument, with arbitrary ints, against
// MPFR: RoundToPowerOf2, RoundToMaxPrec, ldexp, scalbln and
// ToStringWithMaxDigits (digits and layout).

#include <mpfr.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_input.h"

using nurvik::lattis::ExactFloat;
namespace fuzz = nurvik::lattis::fuzz;
namespace oracle = nurvik::lattis::testing;

namespace {

// The text that ToStringWithMaxDigits must give for a normal x (|x| in xm).
std::string ExpectedText(const ExactFloat& x, mpfr_ptr xm, int max_digits) {
  max_digits = std::max(max_digits, 1);
  // Enough digits for the exact expansion: no rounding past this count.
  const int64_t exact_digits =
      int64_t{x.prec()} + std::abs(x.exp() - x.prec()) + 2;
  mpfr_exp_t e = 0;
  char* raw =
      mpfr_get_str(nullptr, &e, 10, std::min<int64_t>(max_digits, exact_digits),
                   xm, MPFR_RNDN);
  std::string digits(raw + (raw[0] == '-'));
  mpfr_free_str(raw);
  digits.erase(digits.find_last_not_of('0') + 1);
  const int k = static_cast<int>(digits.size());
  std::string text = x.sign_bit() ? "-" : "";
  if (e < -3 || e > max_digits) {
    text += digits.substr(0, 1) + (k > 1 ? "." + digits.substr(1) : "") + "e" +
            (e - 1 < 0 ? "-" : "+") + std::to_string(std::abs(e - 1));
  } else if (e <= 0) {
    text += "0." + std::string(-e, '0') + digits;
  } else if (e < k) {
    text += digits.substr(0, e) + "." + digits.substr(e);
  } else {
    text += digits + std::string(e - k, '0');
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  oracle::WidenMpfrExponentRange();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  const ExactFloat x = in.Value();
  oracle::Mpfr xm, want;
  oracle::ToMpfr(x, xm);
  while (!in.empty()) {
    const int n = in.Int();
    const ExactFloat::RoundingMode mode = in.Mode();
    ExactFloat r = x.RoundToPowerOf2(n, mode);
    oracle::RoundToPowerOf2Oracle(xm, n, mode, want);
    FUZZ_CHECK(oracle::Mismatch(r, want).empty(), x, r);
    fuzz::CheckNormalForm(r);

    r = x.RoundToMaxPrec(n, mode);
    oracle::RoundToMaxPrecOracle(xm, n, mode, want);
    FUZZ_CHECK(oracle::Mismatch(r, want).empty(), x, r);
    fuzz::CheckNormalForm(r);

    r = ldexp(x, n);
    mpfr_set_prec(want, mpfr_get_prec(xm));
    mpfr_mul_2si(want, xm, n, MPFR_RNDN);
    FUZZ_CHECK(oracle::Mismatch(r, want).empty(), x, r);

    const long wide =
        static_cast<long>(uint64_t{in.U32()} << 32 | in.U32());  // NOLINT
    r = scalbln(x, wide);
    // Past 2^40 every shift leaves the range; MPFR's own range is narrower
    // than a long.
    mpfr_mul_2si(want, xm,
                 std::clamp<long>(wide, -(1L << 40), 1L << 40),  // NOLINT
                 MPFR_RNDN);
    FUZZ_CHECK(oracle::Mismatch(r, want).empty(), x, r);

    if (fuzz::CheapText(x, n)) {
      const std::string text = x.ToStringWithMaxDigits(n);
      if (x.is_normal()) {
        mpfr_abs(xm, xm, MPFR_RNDN);
        FUZZ_CHECK(text == ExpectedText(x, xm, n), x);
        oracle::ToMpfr(x, xm);
      } else {
        FUZZ_CHECK(text == (x.is_nan()   ? "nan"
                            : x.is_inf() ? (x.sign_bit() ? "-inf" : "inf")
                                         : (x.sign_bit() ? "-0" : "0")),
                   x);
      }
    }
  }
  return 0;
}
