// FromString on arbitrary text. The first byte picks the rounding mode, the
// next two the precision; the rest, up to 4096 bytes, is the text. Both
// forms must return (quickly: the cost is bounded by the text's length and
// the precision, never by the size of an exponent), and
//   - the rounded form is nullopt only where the exact form is too, and its
//     value is MPFR's reading of the text rounded the same way (the suffix
//     <N> first rounds to N bits, ties to even);
//   - the exact form is MPFR's exact reading when there is one within the
//     limits, and nullopt otherwise; an exact value rounded by
//     RoundToMaxPrec is the rounded form's value;
//   - every value comes back from its own text: FromString(ToUniqueString())
//     is the same value with the same prec(), and the text of ToString()
//     rounded to prec() bits, ties to even, is the value again.
// Precisions are capped at a few thousand bits, suffixes <N> at 5000, and
// the exact form is skipped for decimal exponents that make it build an
// integer of millions of bits: those cost what their size demands.

#include <mpfr.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz/fuzz_input.h"

using nurvik::lattis::ExactFloat;
namespace fuzz = nurvik::lattis::fuzz;
namespace oracle = nurvik::lattis::testing;

namespace {

constexpr size_t kMaxTextBytes = 4096;
constexpr int64_t kMaxSuffixBits = 5000;
constexpr int64_t kSaturated = 1000000000000000000;       // 1e18
constexpr int64_t kMpfrExponentLimit = 1000000000000000;  // 1e15

// The parts of a text that decide the cost of parsing it and the size of an
// exact reading. Computed for any bytes; meaningful for well-formed texts.
struct Shape {
  std::string number;   // the text without a suffix <N>
  int64_t suffix = -1;  // N, saturated; -1 without a suffix
  bool hex = false;
  int64_t digits = 0;    // mantissa digits
  bool nonzero = false;  // a mantissa digit other than 0
  // A mantissa of one nonzero digit, and that a power of two: with a binary
  // exponent, the value is a power of two.
  bool power_of_two = false;
  int64_t exponent = 0;  // the e/E or p/P field, saturated
};

int64_t SaturatedDecimal(std::string_view s) {
  int64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') break;
    v = v >= kSaturated / 10 ? kSaturated
                             : std::min(kSaturated, v * 10 + (c - '0'));
  }
  return v;
}

Shape ShapeOf(std::string_view text) {
  Shape shape;
  const size_t open = text.rfind('<');
  if (!text.empty() && text.back() == '>' && open != std::string_view::npos) {
    shape.suffix = SaturatedDecimal(text.substr(open + 1));
    text = text.substr(0, open);
  }
  shape.number.assign(text);
  const size_t body = !text.empty() && (text[0] == '+' || text[0] == '-');
  shape.hex = text.size() >= body + 2 && text[body] == '0' &&
              (text[body + 1] == 'x' || text[body + 1] == 'X');
  const size_t mark = text.find_last_of(shape.hex ? "pP" : "eE");
  const std::string_view mantissa =
      text.substr(0, mark == std::string_view::npos ? text.size() : mark);
  for (char c : mantissa) {
    const bool digit =
        (c >= '0' && c <= '9') ||
        (shape.hex && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')));
    shape.digits += digit;
    if (digit && c != '0') {
      shape.power_of_two = shape.hex && !shape.nonzero &&
                           (c == '1' || c == '2' || c == '4' || c == '8');
      shape.nonzero = true;
    }
  }
  if (mark != std::string_view::npos) {
    std::string_view field = text.substr(mark + 1);
    const bool negative = !field.empty() && field[0] == '-';
    if (!field.empty() && (field[0] == '-' || field[0] == '+')) {
      field.remove_prefix(1);
    }
    shape.exponent = SaturatedDecimal(field) * (negative ? -1 : 1);
  }
  return shape;
}

int Precision(uint16_t v) {
  static constexpr int kExtremes[] = {INT_MIN, ExactFloat::kMinExp - 1,
                                      -ExactFloat::kMaxExp, 0, 3000};
  if (v >= 65000) return kExtremes[v % 5];
  if (v >= 60000) return v % 3000;
  return v % 620 - 20;
}

bool SameValue(const ExactFloat& a, const ExactFloat& b) {
  if (a.is_nan() || b.is_nan()) return a.is_nan() && b.is_nan();
  return a.sign_bit() == b.sign_bit() && a.prec() == b.prec() &&
         (a == b || (a.is_inf() && b.is_inf()));
}

// The value of a text through its own texts.
void CheckRoundTrip(const ExactFloat& x) {
  fuzz::CheckNormalForm(x);
  const std::optional<ExactFloat> unique =
      ExactFloat::FromString(x.ToUniqueString());
  FUZZ_CHECK(unique.has_value() && SameValue(*unique, x), x);
  const std::optional<ExactFloat> text = ExactFloat::FromString(
      x.ToString(), x.prec(), ExactFloat::kRoundTiesToEven);
  FUZZ_CHECK(text.has_value() && SameValue(*text, x), x);
}

// The exact form against MPFR's reading at enough bits for any binary
// fraction the text can denote: a decimal mantissa of n digits times 10^e
// needs at most 4n + 3 max(e, 0) bits, a hexadecimal one 4n.
void CheckExactForm(const Shape& shape,
                    const std::optional<ExactFloat>& exact) {
  if (!shape.hex && shape.exponent > 4000) return;  // costly to bound
  const int64_t bits =
      4 * shape.digits +
      (shape.hex ? 0 : 3 * std::max<int64_t>(shape.exponent, 0)) + 64;
  oracle::Mpfr want;
  int ternary = 0;
  FUZZ_CHECK(oracle::ParseMpfr(shape.number, bits, MPFR_RNDN, want, &ternary));
  const bool representable =
      ternary == 0 &&
      (!mpfr_regular_p(want) || (mpfr_get_exp(want) >= ExactFloat::kMinExp &&
                                 mpfr_get_exp(want) <= ExactFloat::kMaxExp &&
                                 mpfr_min_prec(want) <= ExactFloat::kMaxPrec));
  FUZZ_CHECK(exact.has_value() == representable);
  if (exact) FUZZ_CHECK(oracle::Mismatch(*exact, want).empty(), *exact);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  oracle::WidenMpfrExponentRange();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const auto mode = ExactFloat::RoundingMode(data[0] % 6);
  const int prec = Precision(static_cast<uint16_t>(data[1] << 8 | data[2]));
  const std::string_view text(reinterpret_cast<const char*>(data) + 3,
                              std::min(size - 3, kMaxTextBytes));
  const Shape shape = ShapeOf(text);
  if (shape.suffix > kMaxSuffixBits) return 0;

  const std::optional<ExactFloat> rounded =
      ExactFloat::FromString(text, prec, mode);
  // Decimal integers of 10^4000 and more hold a power of 5 of as many
  // bits as the exponent says, up to kMaxPrec; far past that the exact
  // form gives up at once.
  const bool exact_is_cheap =
      shape.hex || shape.exponent <= 4000 || shape.exponent > 29200000;
  const std::optional<ExactFloat> exact =
      exact_is_cheap ? ExactFloat::FromString(text) : std::nullopt;
  if (!rounded) {
    FUZZ_CHECK(!exact.has_value(), *exact);
    return 0;
  }
  CheckRoundTrip(*rounded);
  if (exact) {
    CheckRoundTrip(*exact);
    FUZZ_CHECK(SameValue(exact->RoundToMaxPrec(prec, mode), *rounded), *exact,
               *rounded);
  }

  // Past 10^15 the exponent alone decides (the digits move it by 4 * 4096
  // at most): a signed zero, or for large values infinity, unless rounding
  // to max_prec <= 0 bits, a multiple of 2^(exp - max_prec), gives zero
  // first. That happens to nearest unless the value is at least half that
  // unit: for max_prec = 0 always, but a tie for a power of two. MPFR's own
  // reading of such exponents is not to be trusted: 4.2 reads
  // "0.01e-9223372036854775808" as infinity.
  if (shape.exponent > kMpfrExponentLimit ||
      shape.exponent < -kMpfrExponentLimit) {
    const bool negative = text[0] == '-';
    FUZZ_CHECK(rounded->sign_bit() == negative, *rounded);
    if (!shape.nonzero) {
      FUZZ_CHECK(rounded->is_zero(), *rounded);
      FUZZ_CHECK(exact.has_value() && exact->is_zero() &&
                     exact->sign_bit() == negative,
                 *rounded);
      return 0;
    }
    FUZZ_CHECK(!exact.has_value(), *exact);
    if (shape.exponent < 0) {
      FUZZ_CHECK(rounded->is_zero(), *rounded);
    } else if (prec >= 1) {
      FUZZ_CHECK(rounded->is_inf(), *rounded);
    } else if (shape.suffix < 0) {
      // (With a suffix, the N-bit value is past the range before the second
      // rounding; as below, what that rounding then gives is not checked.)
      const bool up =
          mode == ExactFloat::kRoundAwayFromZero ||
          mode == (negative ? ExactFloat::kRoundTowardNegative
                            : ExactFloat::kRoundTowardPositive) ||
          (prec == 0 &&
           (mode == ExactFloat::kRoundTiesAwayFromZero ||
            (mode != ExactFloat::kRoundTowardZero &&
             mode != ExactFloat::kRoundTowardPositive &&
             mode != ExactFloat::kRoundTowardNegative && !shape.power_of_two)));
      FUZZ_CHECK(up ? rounded->is_inf() : rounded->is_zero(), *rounded);
    }
    return 0;
  }

  oracle::Mpfr want;
  if (shape.suffix < 0) {
    FUZZ_CHECK(oracle::RoundedParseOracle(shape.number, prec, mode, want));
    FUZZ_CHECK(oracle::Mismatch(*rounded, want).empty(), *rounded);
    if (exact_is_cheap) CheckExactForm(shape, exact);
    return 0;
  }
  // The suffix rounds to N bits first; N = 0 only for zeros, infinities
  // and NaN, which no rounding changes.
  oracle::Mpfr first;
  int ternary = 0;
  FUZZ_CHECK(oracle::ParseMpfr(shape.number, std::max<int64_t>(shape.suffix, 1),
                               MPFR_RNDN, first, &ternary));
  if (mpfr_regular_p(first) && (mpfr_get_exp(first) < ExactFloat::kMinExp ||
                                mpfr_get_exp(first) > ExactFloat::kMaxExp)) {
    // Outside the range: the exact form has nothing to return, and rounding
    // again to max_prec >= 1 bits cannot bring a value above the range back.
    // Whether the rounded form saturates the N-bit value before rounding it
    // again (which can lift one just below the range to its smallest value,
    // or make a zero of one above it for max_prec <= 0) is not checked.
    FUZZ_CHECK(!exact.has_value(), *exact);
    if (prec >= 1 && mpfr_get_exp(first) > ExactFloat::kMaxExp) {
      FUZZ_CHECK(rounded->is_inf() &&
                     rounded->sign_bit() == (mpfr_signbit(first) != 0),
                 *rounded);
    }
    return 0;
  }
  oracle::RoundToMaxPrecOracle(first, prec, mode, want);
  FUZZ_CHECK(oracle::Mismatch(*rounded, want).empty(), *rounded);
  if (exact_is_cheap) {
    FUZZ_CHECK(exact.has_value() && oracle::Mismatch(*exact, first).empty(),
               *rounded);
  }
  return 0;
}
