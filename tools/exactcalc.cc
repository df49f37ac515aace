// exactcalc: evaluates arithmetic expressions exactly with ExactFloat and
// prints the results. See kUsage for the grammar, the functions, the output
// forms and the limits that keep every expression to seconds of work.

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "math/exactfloat.h"

namespace {

namespace lt = nurvik::lattis;
using lt::ExactFloat;
using Mode = ExactFloat::RoundingMode;

constexpr char kUsage[] = R"(Usage: exactcalc [OPTION]... [--] [EXPR]...

Evaluates each EXPR exactly and prints its result on one line. Without EXPR,
evaluates standard input one line at a time (blank lines are skipped).

Grammar: + - * /, unary -, parentheses and function calls; x / y only when
  the quotient is exact (otherwise use div).
  Numbers: decimal (123, 1.5, 2.5e-1, 1e400) and hexadecimal (0xff,
  0x1.8p3, 0x1p-1074) literals are exact whenever their value is a binary
  fraction within ExactFloat's range and precision. Other literals (0.1,
  1e-3) become the nearest double, then exactly that double; with --prec N,
  the literal rounded to N bits, ties to even, instead. inf and nan name the
  special values.
  pow(x, n)          x to the power n, for an integer n from 0 to 10000
  roundbits(x, bits, mode)  x rounded to at most `bits` significant bits
  div(x, y, bits, mode)     x / y rounded to `bits` bits
  sqrt(x, bits, mode)       the square root of x rounded to `bits` bits
  fma(x, y, z)              x * y + z, exactly
  todouble(x)        the nearest double to x
  abs fabs ceil floor trunc round rint logb (x)     as in <cmath>
  lrint lround llrint llround ilogb (x)   their integer results, exactly
  frexp(x)           the fraction of x in [0.5, 1); frexp_exp(x) its exponent
  copysign fmax fmin fdim (x, y)          as in <cmath>
  ldexp scalbln (x, n)                    x * 2^n, for an integer n
Rounding modes (any letter case): TiesToEven TiesAwayFromZero TowardZero
  AwayFromZero TowardPositive TowardNegative.

Output forms (the last one given applies to all expressions):
  (default)   10 significant digits, more when the value's bits need them
              (17 for a double, 32 for 100 bits)
  --digits N  at most N significant digits, rounded half to even
  --unique    the default text followed by <precision in bits>
  --exact     every decimal digit of the exact value
  --double    the nearest double, printed with %.17g
Input option:
  --prec N    literals that are not exact are rounded to N bits (N >= 1),
              ties to even, instead of to the nearest double
An argument starting with "--" is an option; write -(-x) or put "--" before
expressions that start with "--".

Limits, so that no expression runs for minutes: nesting of parentheses,
calls and unary minus up to 200 levels; literals of up to 1000000 digits; pow results of up to 67108864 bits (longer ones would be NaN);
products worth about 20 seconds per expression; text of up to 1000000
significant digits (--double has no limit).
Results beyond the exponent and precision range are infinities, zeros and
NaN, as ExactFloat defines them.

Errors go to standard error with their column; the exit status is 1 when any
expression failed, 2 for a usage error.
)";

// Bounds that keep the work for one expression to seconds.
constexpr int kMaxDepth = 200;
constexpr long kMaxPowExponent = 10000;  // NOLINT(runtime/int)
// Products of this cost in all (see ProductCost) take about 20 seconds.
constexpr double kMaxProductCost = 6e9;
// Literals convert in subquadratic time: a million digits take 0.2 seconds.
constexpr size_t kMaxLiteralDigits = 1000000;
// Decimal digits that a text form may need; ExactFloat produces a million in
// about ten seconds.
constexpr double kMaxTextDigits = 1e6;

struct ModeName {
  const char* name;
  Mode mode;
};
constexpr ModeName kModes[] = {
    {"TiesToEven", ExactFloat::kRoundTiesToEven},
    {"TiesAwayFromZero", ExactFloat::kRoundTiesAwayFromZero},
    {"TowardZero", ExactFloat::kRoundTowardZero},
    {"AwayFromZero", ExactFloat::kRoundAwayFromZero},
    {"TowardPositive", ExactFloat::kRoundTowardPositive},
    {"TowardNegative", ExactFloat::kRoundTowardNegative},
};

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// The cost of a * b in word multiplications: BoringSSL uses Karatsuba only for
// mantissas whose lengths differ by at most one word, else the schoolbook
// method.
double WordProductCost(double wa, double wb) {
  return std::abs(wa - wb) <= 1 ? std::pow(std::max(wa, wb), 1.585) : wa * wb;
}
double ProductCost(const ExactFloat& a, const ExactFloat& b) {
  return WordProductCost(a.prec() / 64 + 1, b.prec() / 64 + 1);
}
// A quotient or root of `bits` bits from operands of `prec` bits in all:
// a few balanced products of that length.
double RoundedResultCost(long bits, int prec) {  // NOLINT(runtime/int)
  const double words = (std::max<double>(bits, 1) + prec) / 64 + 1;
  return 4 * WordProductCost(words, words);
}

// The exact value of any 64-bit integer, as two halves that an int and a
// double each hold exactly.
ExactFloat FromInt64(int64_t v) {
  const int high = static_cast<int>(v >> 32);  // floor(v / 2^32)
  const double low = static_cast<double>(static_cast<uint32_t>(v));
  return ldexp(ExactFloat(high), 32) + ExactFloat(low);
}

// A recursive-descent evaluator for one expression. The first error stops
// evaluation and is kept with its position.
class Evaluator {
 public:
  // Literals that are not exact become the nearest double, or, for
  // literal_prec > 0, are rounded to that many bits.
  Evaluator(std::string_view text, int literal_prec)
      : text_(text), literal_prec_(literal_prec) {}

  bool Evaluate(ExactFloat* result) {
    if (!ParseSum(result)) return false;
    SkipSpace();
    return AtEnd() || Fail(Unexpected());
  }
  const std::string& error() const { return error_; }
  size_t column() const { return error_pos_ + 1; }

 private:
  using Unary = ExactFloat (*)(const ExactFloat&);
  using Binary = ExactFloat (*)(const ExactFloat&, const ExactFloat&);
  struct UnaryFunction {
    const char* name;
    Unary f;
  };
  struct BinaryFunction {
    const char* name;
    Binary f;
  };
  static constexpr UnaryFunction kUnary[] = {
      {"abs", &lt::abs},
      {"fabs", &lt::fabs},
      {"ceil", &lt::ceil},
      {"floor", &lt::floor},
      {"trunc", &lt::trunc},
      {"round", &lt::round},
      {"rint", &lt::rint},
      {"logb", &lt::logb},
      {"lrint", [](const ExactFloat& a) { return FromInt64(lt::lrint(a)); }},
      {"lround", [](const ExactFloat& a) { return FromInt64(lt::lround(a)); }},
      {"llrint", [](const ExactFloat& a) { return FromInt64(lt::llrint(a)); }},
      {"llround",
       [](const ExactFloat& a) { return FromInt64(lt::llround(a)); }},
      {"ilogb", [](const ExactFloat& a) { return ExactFloat(lt::ilogb(a)); }},
      {"frexp",
       [](const ExactFloat& a) {
         int e = 0;
         return lt::frexp(a, &e);
       }},
      {"frexp_exp",
       [](const ExactFloat& a) {
         int e = 0;
         lt::frexp(a, &e);
         return ExactFloat(e);
       }},
      {"todouble",
       [](const ExactFloat& a) { return ExactFloat(a.ToDouble()); }},
  };
  static constexpr BinaryFunction kBinary[] = {
      {"copysign", &lt::copysign},
      {"fmax", &lt::fmax},
      {"fmin", &lt::fmin},
      {"fdim", &lt::fdim},
  };

  bool Fail(std::string message) { return FailAt(pos_, std::move(message)); }
  bool FailAt(size_t pos, std::string message) {
    error_ = std::move(message);
    error_pos_ = pos;
    return false;
  }
  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }
  void SkipSpace() {
    while (Peek() == ' ' || Peek() == '\t') ++pos_;
  }
  // Consumes `c` after optional blanks, if it comes next.
  bool Accept(char c) {
    SkipSpace();
    if (AtEnd() || text_[pos_] != c) return false;
    ++pos_;
    return true;
  }
  std::string Unexpected() const {
    return AtEnd() ? "unexpected end of expression"
                   : "unexpected '" + std::string(1, text_[pos_]) + "'";
  }
  // Counts one level of nesting; the matching Leave() runs only on success,
  // since the first error ends the evaluation.
  bool Enter() {
    return ++depth_ <= kMaxDepth ||
           Fail("nesting deeper than " + std::to_string(kMaxDepth) + " levels");
  }
  bool Leave() {
    --depth_;
    return true;
  }
  static bool IsNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
  }
  std::string_view ScanName() {
    const size_t start = pos_;
    while (IsNameChar(Peek())) ++pos_;
    return text_.substr(start, pos_ - start);
  }
  size_t ScanDigits(bool hex) {
    const size_t start = pos_;
    while (hex ? std::isxdigit(static_cast<unsigned char>(Peek()))
               : std::isdigit(static_cast<unsigned char>(Peek()))) {
      ++pos_;
    }
    return pos_ - start;
  }

  // sum := product (('+' | '-') product)*
  bool ParseSum(ExactFloat* out) {
    if (!Enter() || !ParseProduct(out)) return false;
    for (;;) {
      const bool plus = Accept('+');
      if (!plus && !Accept('-')) return Leave();
      ExactFloat b;
      if (!ParseProduct(&b)) return false;
      *out = plus ? *out + b : *out - b;
    }
  }

  // product := unary (('*' | '/') unary)*
  bool ParseProduct(ExactFloat* out) {
    if (!ParseUnary(out)) return false;
    for (;;) {
      const bool times = Accept('*');
      if (!times && !Accept('/')) return true;
      const size_t op = pos_ - 1;
      ExactFloat b;
      if (!ParseUnary(&b)) return false;
      if (!(times ? Multiply(op, out, b) : ExactQuotient(op, out, b))) {
        return false;
      }
    }
  }

  // *a = *a / b when the quotient is exact: then rounding it to kMaxPrec
  // bits toward zero and away from zero agree.
  bool ExactQuotient(size_t op, ExactFloat* a, const ExactFloat& b) {
    if (!Charge(op, ProductCost(*a, b) + ProductCost(b, b))) return false;
    const ExactFloat down =
        lt::Divide(*a, b, ExactFloat::kMaxPrec, ExactFloat::kRoundTowardZero);
    const ExactFloat up = lt::Divide(*a, b, ExactFloat::kMaxPrec,
                                     ExactFloat::kRoundAwayFromZero);
    if (!(down == up || (down.is_nan() && up.is_nan()))) {
      return FailAt(op, "the quotient is not exact (use div(x, y, bits, mode))");
    }
    *a = down;
    return true;
  }

  // Adds `cost` to the expression's work, unless that would take too long.
  bool Charge(size_t op, double cost) {
    work_ += cost;
    return work_ <= kMaxProductCost ||
           FailAt(op, "too much work: the products would take minutes");
  }

  // *a = *a * b, unless the expression's products would cost too much.
  bool Multiply(size_t op, ExactFloat* a, const ExactFloat& b) {
    if (!Charge(op, ProductCost(*a, b))) return false;
    *a = *a * b;
    return true;
  }

  // unary := '-' unary | primary
  bool ParseUnary(ExactFloat* out) {
    if (!Accept('-')) return ParsePrimary(out);
    if (!Enter() || !ParseUnary(out)) return false;
    *out = -*out;
    return Leave();
  }

  // primary := number | name | name '(' arguments ')' | '(' sum ')'
  bool ParsePrimary(ExactFloat* out) {
    SkipSpace();
    const char c = Peek();
    if (c == '(') {
      ++pos_;
      if (!ParseSum(out)) return false;
      return Accept(')') || Fail("expected ')'");
    }
    if (std::isdigit(static_cast<unsigned char>(c)) || c == '.') {
      return ParseNumber(out);
    }
    if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
      const size_t start = pos_;
      const std::string_view name = ScanName();
      if (name == "inf") {
        *out = ExactFloat::Infinity(1);
        return true;
      }
      if (name == "nan") {
        *out = ExactFloat::NaN();
        return true;
      }
      return ParseCall(name, start, out);
    }
    return Fail(Unexpected());
  }

  bool ParseNumber(ExactFloat* out) {
    const size_t start = pos_;
    const bool hex =
        text_.substr(pos_, 2) == "0x" || text_.substr(pos_, 2) == "0X";
    if (hex) pos_ += 2;
    size_t digits = ScanDigits(hex);
    if (Peek() == '.') {
      ++pos_;
      digits += ScanDigits(hex);
    }
    bool malformed = digits == 0;
    if (std::tolower(static_cast<unsigned char>(Peek())) == (hex ? 'p' : 'e')) {
      ++pos_;
      if (Peek() == '+' || Peek() == '-') ++pos_;
      malformed |= ScanDigits(false) == 0;
    }
    if (malformed || IsNameChar(Peek()) || Peek() == '.') {
      while (IsNameChar(Peek()) || Peek() == '.') ++pos_;
      return FailAt(start, "malformed number '" +
                               std::string(text_.substr(start, pos_ - start)) +
                               "'");
    }
    if (digits > kMaxLiteralDigits) {
      return FailAt(start, "literal longer than " +
                               std::to_string(kMaxLiteralDigits) + " digits");
    }
    const std::string_view literal = text_.substr(start, pos_ - start);
    if (std::optional<ExactFloat> exact = ExactFloat::FromString(literal)) {
      *out = *std::move(exact);
    } else if (literal_prec_ > 0) {
      *out = *ExactFloat::FromString(literal, literal_prec_,
                                     ExactFloat::kRoundTiesToEven);
    } else {
      *out = std::strtod(std::string(literal).c_str(), nullptr);
    }
    return true;
  }

  // The value of an argument that must be an integer; magnitudes beyond the
  // long range saturate.
  bool IntegerArgument(const ExactFloat& v, size_t pos, long* n) {  // NOLINT
    if (!v.is_finite() || lt::trunc(v) != v) {
      return FailAt(pos, "expected an integer");
    }
    *n = lt::lrint(v);
    return true;
  }

  bool ParseMode(Mode* mode) {
    SkipSpace();
    const size_t start = pos_;
    const std::string_view name = ScanName();
    for (const ModeName& m : kModes) {
      if (EqualsIgnoreCase(name, m.name)) {
        *mode = m.mode;
        return true;
      }
    }
    return FailAt(start, "unknown rounding mode '" + std::string(name) +
                             "' (see --help)");
  }

  bool ParseCall(std::string_view name, size_t name_pos, ExactFloat* out) {
    const std::string quoted = "'" + std::string(name) + "'";
    Unary unary = nullptr;
    Binary binary = nullptr;
    for (const UnaryFunction& f : kUnary) {
      if (name == f.name) unary = f.f;
    }
    for (const BinaryFunction& f : kBinary) {
      if (name == f.name) binary = f.f;
    }
    // Functions that round end in a precision and a mode.
    const bool rounded =
        name == "roundbits" || name == "div" || name == "sqrt";
    const bool is_scale = name == "ldexp" || name == "scalbln";
    size_t arity = 0;
    if (unary != nullptr) arity = 1;
    if (binary != nullptr || is_scale || name == "pow") arity = 2;
    if (rounded || name == "fma") arity = name == "div" ? 4 : 3;
    if (arity == 0) return FailAt(name_pos, "unknown name " + quoted);
    if (!Accept('(')) return Fail("expected '(' after " + quoted);

    std::vector<ExactFloat> args;
    std::vector<size_t> arg_pos;
    Mode mode = ExactFloat::kRoundTiesToEven;
    do {
      SkipSpace();
      arg_pos.push_back(pos_);
      if (rounded && args.size() == arity - 1) {
        if (!ParseMode(&mode)) return false;
        args.emplace_back();
      } else {
        args.emplace_back();
        if (!ParseSum(&args.back())) return false;
      }
    } while (args.size() < arity && Accept(','));
    if (args.size() < arity) return Fail("expected ','");
    if (Accept(',')) {
      return FailAt(pos_ - 1, quoted + " takes " + std::to_string(arity) +
                                  (arity == 1 ? " argument" : " arguments"));
    }
    if (!Accept(')')) return Fail("expected ')'");

    if (unary != nullptr) {
      *out = unary(args[0]);
    } else if (binary != nullptr) {
      *out = binary(args[0], args[1]);
    } else if (name == "fma") {
      if (!Charge(name_pos, ProductCost(args[0], args[1]))) return false;
      *out = lt::fma(args[0], args[1], args[2]);
    } else if (rounded) {
      long n = 0;  // NOLINT(runtime/int)
      const size_t bits_arg = arity - 2;
      if (!IntegerArgument(args[bits_arg], arg_pos[bits_arg], &n)) {
        return false;
      }
      const int bits =
          static_cast<int>(std::clamp<long>(n, INT_MIN, INT_MAX));  // NOLINT
      if (name == "roundbits") {
        *out = args[0].RoundToMaxPrec(bits, mode);
      } else if (name == "div") {
        if (!Charge(name_pos,
                    RoundedResultCost(n, args[0].prec() + args[1].prec()))) {
          return false;
        }
        *out = lt::Divide(args[0], args[1], bits, mode);
      } else {
        if (!Charge(name_pos, RoundedResultCost(n, args[0].prec()))) {
          return false;
        }
        *out = lt::Sqrt(args[0], bits, mode);
      }
    } else {
      long n = 0;  // NOLINT(runtime/int)
      if (!IntegerArgument(args[1], arg_pos[1], &n)) return false;
      if (is_scale) {
        *out = lt::scalbln(args[0], n);
      } else {
        return Pow(args[0], n, arg_pos[1], out);
      }
    }
    return true;
  }

  // x^n by repeated squaring, refused up front when the result would have
  // more than kMaxPrec bits (a product of odd mantissas keeps all of them).
  bool Pow(const ExactFloat& x, long n, size_t pos,
           ExactFloat* out) {  // NOLINT
    if (n < 0 || n > kMaxPowExponent) {
      return FailAt(pos, "pow exponent must lie in [0, " +
                             std::to_string(kMaxPowExponent) + "]");
    }
    if (static_cast<int64_t>(x.prec() - 1) * n + 1 > ExactFloat::kMaxPrec) {
      return FailAt(pos, "pow result would exceed " +
                             std::to_string(ExactFloat::kMaxPrec) + " bits");
    }
    ExactFloat result = 1;
    for (int bit = 14; bit >= 0; --bit) {  // 2^14 > kMaxPowExponent
      if (!Multiply(pos, &result, result)) return false;
      if (((n >> bit) & 1) != 0 && !Multiply(pos, &result, x)) return false;
    }
    *out = std::move(result);
    return true;
  }

  std::string_view text_;
  int literal_prec_;
  size_t pos_ = 0;
  int depth_ = 0;
  double work_ = 0;  // ProductCost of the products so far
  std::string error_;
  size_t error_pos_ = 0;
};

enum class Form { kDefault, kDigits, kUnique, kExact, kDouble };

// The number of decimal digits of the exact expansion of a normal value,
// plus one: N * 10^s with N = m * 2^low or m * 5^-low for the mantissa m.
double ExpansionDigits(const ExactFloat& v) {
  if (!v.is_normal()) return 1;
  const double prec = v.prec(), low = v.exp() - prec;
  return low >= 0 ? (prec + low) * std::log10(2.0) + 2
                  : prec * std::log10(2.0) - low * std::log10(5.0) + 2;
}

// Renders v in the chosen form, or explains why the text is not produced.
bool Format(const ExactFloat& v, Form form, int max_digits, std::string* text) {
  if (form == Form::kDouble) {
    char buffer[32];
    std::snprintf(buffer, sizeof(buffer), "%.17g", v.ToDouble());
    *text = buffer;
    return true;
  }
  const double expansion = ExpansionDigits(v);
  double digits = expansion;  // the significant digits the form asks for
  if (form == Form::kDigits) {
    digits = std::min<double>(max_digits, expansion);
  } else if (form != Form::kExact) {
    digits = std::min<double>(
        std::max(10, ExactFloat::NumSignificantDigitsForPrec(v.prec())),
        expansion);
  }
  if (digits > kMaxTextDigits) {
    *text = "the result needs about " + std::to_string(std::lround(digits)) +
            " decimal digits, more than the 1000000 that are printed (try "
            "--digits or --double)";
    return false;
  }
  switch (form) {
    case Form::kDigits:
      *text = v.ToStringWithMaxDigits(max_digits);
      break;
    case Form::kUnique:
      *text = v.ToUniqueString();
      break;
    case Form::kExact:
      *text = v.ToStringWithMaxDigits(static_cast<int>(expansion));
      break;
    default:
      *text = v.ToString();
  }
  return true;
}

struct Options {
  Form form = Form::kDefault;
  int max_digits = 0;    // for Form::kDigits
  int literal_prec = 0;  // --prec, or 0 for the nearest double
};

// Evaluates and prints one expression; `where` names it in error messages.
bool Run(std::string_view expr, const std::string& where,
         const Options& options) {
  Evaluator evaluator(expr, options.literal_prec);
  ExactFloat result;
  std::string text;
  if (!evaluator.Evaluate(&result)) {
    std::cerr << "exactcalc: " << where << ", column " << evaluator.column()
              << ": " << evaluator.error() << "\n";
    return false;
  }
  if (!Format(result, options.form, options.max_digits, &text)) {
    std::cerr << "exactcalc: " << where << ", column 1: " << text << "\n";
    return false;
  }
  std::cout << text << "\n";
  return true;
}

int UsageError(const std::string& message) {
  std::cerr << "exactcalc: " << message << "\nTry 'exactcalc --help'.\n";
  return 2;
}

// The count of an option given as --name=N or --name N, from 1 to INT_MAX;
// false when it is missing or malformed. *i moves past a separate value.
bool OptionCount(std::string_view arg, std::string_view name, int argc,
                 char** argv, int* i, int* count) {
  std::string value;
  if (arg.size() > name.size()) {
    value = std::string(arg.substr(name.size() + 1));
  } else if (*i + 1 < argc) {
    value = argv[++*i];
  }
  char* end = nullptr;
  const long n = std::strtol(value.c_str(), &end, 10);  // NOLINT
  if (value.empty() || *end != '\0' || n < 1 || n > INT_MAX) return false;
  *count = static_cast<int>(n);
  return true;
}

bool IsOption(std::string_view arg, std::string_view name) {
  return arg == name ||
         (arg.substr(0, name.size()) == name && arg.size() > name.size() &&
          arg[name.size()] == '=');
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  bool options_done = false;
  std::vector<std::string_view> exprs;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (options_done || arg.substr(0, 2) != "--") {
      exprs.push_back(arg);
    } else if (arg == "--") {
      options_done = true;
    } else if (arg == "--help") {
      std::cout << kUsage;
      return 0;
    } else if (arg == "--unique") {
      options.form = Form::kUnique;
    } else if (arg == "--exact") {
      options.form = Form::kExact;
    } else if (arg == "--double") {
      options.form = Form::kDouble;
    } else if (IsOption(arg, "--digits")) {
      if (!OptionCount(arg, "--digits", argc, argv, &i, &options.max_digits)) {
        return UsageError("--digits needs a count from 1 to " +
                          std::to_string(INT_MAX));
      }
      options.form = Form::kDigits;
    } else if (IsOption(arg, "--prec")) {
      if (!OptionCount(arg, "--prec", argc, argv, &i, &options.literal_prec)) {
        return UsageError("--prec needs a count of bits from 1 to " +
                          std::to_string(INT_MAX));
      }
    } else {
      return UsageError("unknown option '" + std::string(arg) + "'");
    }
  }

  bool ok = true;
  for (size_t i = 0; i < exprs.size(); ++i) {
    ok &= Run(exprs[i], "argument " + std::to_string(i + 1), options);
  }
  if (exprs.empty()) {
    std::string line;
    for (int number = 1; std::getline(std::cin, line); ++number) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.find_first_not_of(" \t") == std::string::npos) continue;
      ok &= Run(line, "line " + std::to_string(number), options);
    }
  }
  return ok ? 0 : 1;
}
