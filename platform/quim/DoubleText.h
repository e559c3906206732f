// The text of a finite double as quim's writer makes it: rapidjson's layout of rapidjson's digits
// (Grisu2), except where Grisu2's digits are not the fewest that read back to the same double
// (1e23 came out as 9.999999999999999e22): there std::to_chars's shortest digits take their
// place, in the same layout. So every double is written with the fewest significant digits that
// read back to it, and a double whose digits Grisu2 already gave that short keeps its text byte
// for byte. The layout: with the point n places after the first of the digits d...d, for
// 1 <= n <= 21 the digits with the point there, zeros up to it and at least one digit after it
// ("100.0", "12.5", "123456789012345680000.0"); for -6 < n <= 0 "0.", -n zeros and the digits
// ("0.001234"); otherwise the exponent form with the point after the first digit and no "+" or
// leading zero in the exponent ("1e21", "1.5e-7", "5e-324"). Zero is "0.0" or "-0.0".
#ifndef QUIM_DOUBLETEXT_H
#define QUIM_DOUBLETEXT_H

#include <rapidjson/internal/dtoa.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <system_error>

namespace quim {
namespace Json {
namespace detail {

// Writes the text of value (finite) at out, which has room for 32 bytes; returns its end.
inline char* WriteDouble(double value, char* out) {
  if (value == 0.0) return rapidjson::internal::dtoa(value, out);
  if (value < 0) {
    *out++ = '-';
    value = -value;
  }
  int length;
  int power;  // value = digits * 10^power
  rapidjson::internal::Grisu2(value, out, &length, &power);
  // The shortest digits as "d.ddde+XX" (no point for a single digit).
  char shortest[32];
  const char* const end =
      std::to_chars(shortest, shortest + sizeof shortest, value, std::chars_format::scientific).ptr;
  const char* const e = std::find(static_cast<const char*>(shortest), end, 'e');
  const int fewest = e - shortest == 1 ? 1 : static_cast<int>(e - shortest) - 1;
  if (fewest < length) {
    out[0] = shortest[0];
    std::memcpy(out + 1, shortest + 2, static_cast<std::size_t>(fewest - 1));
    int exponent = 0;
    std::from_chars(e + (e[1] == '+' ? 2 : 1), end, exponent);
    length = fewest;
    power = exponent - (fewest - 1);
  }
  return rapidjson::internal::Prettify(out, length, power, 324);
}

}  // namespace detail
}  // namespace Json
}  // namespace quim

#endif  // QUIM_DOUBLETEXT_H
