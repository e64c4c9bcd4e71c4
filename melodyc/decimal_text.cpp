// Decimal conversions of token text, as the C library's atof reads them.
#include "decimal_text.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

float leading_float_value(const char *text, int *used) {
  char *end = nullptr;
  const double value = std::strtod(text, &end);
  if (used != nullptr) *used = static_cast<int>(end - text);
  return static_cast<float>(value);
}

float digits_and_dots_value(const char *text, int length) {
  // Exact powers of ten in double precision.
  static constexpr double powers_of_ten[] = {
      1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
      1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  constexpr std::uint64_t exact_limit = std::uint64_t{1} << 53;

  // The number is the digits up to the second dot. When its digits form an
  // integer below 2^53 and at most 22 of them follow the dot, one division
  // of two exact doubles is correctly rounded, as strtod is.
  std::uint64_t mantissa = 0;
  int fraction_digits = 0;
  bool seen_dot = false;
  for (int i = 0; i < length; ++i) {
    const char c = text[i];
    if (c == '.') {
      if (seen_dot) break;
      seen_dot = true;
      continue;
    }
    mantissa = mantissa * 10 + static_cast<std::uint64_t>(c - '0');
    if (seen_dot) ++fraction_digits;
    if (mantissa >= exact_limit || fraction_digits > 22) {
      return static_cast<float>(std::strtod(text, nullptr));
    }
  }
  return static_cast<float>(static_cast<double>(mantissa) /
                            powers_of_ten[fraction_digits]);
}
