// Decoding of fuzzer bytes into ExactFloat values and ints, and the checks
// shared by the fuzz targets. A failed check prints and aborts.

#ifndef NURVIK_LATTIS_FUZZ_FUZZ_INPUT_H_
#define NURVIK_LATTIS_FUZZ_FUZZ_INPUT_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "math/exactfloat.h"
#include "tests/differential/mpfr_oracle.h"

#define FUZZ_CHECK(cond, ...)                                               \
  do {                                                                      \
    if (!(cond)) {                                                          \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, \
                   #cond);                                                  \
      ::nurvik::lattis::fuzz::PrintValues(__VA_ARGS__);                     \
      std::abort();                                                         \
    }                                                                       \
  } while (0)

namespace nurvik::lattis::fuzz {

inline void PrintValues() {}
template <class... Rest>
void PrintValues(const ExactFloat& x, const Rest&... rest) {
  std::fprintf(stderr, "  %s\n", testing::Describe(x).c_str());
  PrintValues(rest...);
}

// Reads the input front to back; past its end every read gives 0.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return pos_ >= size_; }
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint32_t U32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = v << 8 | Byte();
    return v;
  }
  int Int() { return static_cast<int>(U32()); }
  ExactFloat::RoundingMode Mode() {
    return ExactFloat::RoundingMode(Byte() % 6);
  }

  // A value: a special one, or a mantissa of up to 61 bytes (inline digits
  // or heap digits) times a power of two whose exponent reaches past both
  // ends of the range.
  ExactFloat Value() {
    const uint8_t head = Byte();
    switch (head % 16) {
      case 0:
        return ExactFloat::SignedZero(head & 16 ? -1 : 1);
      case 1:
        return ExactFloat::Infinity(head & 16 ? -1 : 1);
      case 2:
        return ExactFloat::NaN();
      default:
        break;
    }
    ExactFloat mantissa;
    for (int n = 1 + head / 16 * 4; n > 0; --n) {
      mantissa = ldexp(mantissa, 8) + ExactFloat(static_cast<int>(Byte()));
    }
    const int exp_kind = Byte();
    const int exp = exp_kind < 192   ? static_cast<int8_t>(Byte())
                    : exp_kind < 240 ? static_cast<int16_t>(U32())
                                     : Int();
    if (head & 32) mantissa = -mantissa;
    return ldexp(mantissa, exp);
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// The normal form as seen through the public interface: special values have
// no bits; a normal value lies within the limits and has an odd mantissa.
inline void CheckNormalForm(const ExactFloat& x) {
  if (!x.is_normal()) {
    FUZZ_CHECK(x.prec() == 0 && x.is_zero() + x.is_inf() + x.is_nan() == 1, x);
    return;
  }
  FUZZ_CHECK(x.prec() >= 1 && x.prec() <= ExactFloat::kMaxPrec, x);
  FUZZ_CHECK(x.exp() >= ExactFloat::kMinExp && x.exp() <= ExactFloat::kMaxExp,
             x);
  const int lsb = x.exp() - x.prec();
  FUZZ_CHECK(x.RoundToPowerOf2(lsb, ExactFloat::kRoundTowardZero) == x, x);
  FUZZ_CHECK(x.RoundToPowerOf2(lsb + 1, ExactFloat::kRoundTowardZero) != x, x);
}

// Whether the text of x with max_digits digits is cheap: its cost grows with
// the digits produced, at most the whole expansion, and with the mantissa.
inline bool CheapText(const ExactFloat& x, int max_digits) {
  return !x.is_normal() ||
         (x.prec() < 3000 &&
          (max_digits <= 3000 || (x.exp() > -3000 && x.exp() < 3000)));
}

}  // namespace nurvik::lattis::fuzz

#endif  // NURVIK_LATTIS_FUZZ_FUZZ_INPUT_H_
