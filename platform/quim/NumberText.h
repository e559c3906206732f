// Numbers as the parser hands them over in text (rapidjson's kParseNumbersAsStringsFlag), turned
// into values here rather than by rapidjson 1.1.0's own full-precision conversion, which is
// wrong for two kinds of input: a zero significand with a large exponent ("0e30", "0.0e-30") goes
// through __builtin_clzll(0), undefined behaviour that yields an arbitrary double, and numbers
// just past the double range that its own range check lets through ("9e308") come out as tiny
// negative numbers. Such numbers are refused here, as rapidjson refuses "1e309".
#ifndef QUIM_NUMBERTEXT_H
#define QUIM_NUMBERTEXT_H

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <system_error>

#include "quim/Json.h"

namespace quim {
namespace Json {
namespace detail {

// For a decimal number outside the double range: whether it lies below the smallest double (its
// first non-zero digit stands at a negative power of ten) rather than above the largest.
inline bool BelowDoubleRange(const char* text, const char* end) {
  const bool negative = *text == '-';
  const char* p = negative ? text + 1 : text;
  long long leadPower = 0;
  bool found = false;
  long long integerDigits = 0;
  for (const char* q = p; q != end && *q >= '0' && *q <= '9'; ++q) ++integerDigits;
  for (long long i = 0; i < integerDigits && !found; ++i) {
    if (p[i] != '0') {
      leadPower = integerDigits - 1 - i;
      found = true;
    }
  }
  p += integerDigits;
  if (p != end && *p == '.') {
    ++p;
    for (long long k = 1; p != end && *p >= '0' && *p <= '9'; ++p, ++k) {
      if (*p != '0' && !found) {
        leadPower = -k;
        found = true;
      }
    }
  }
  long long exponent = 0;
  if (p != end && (*p == 'e' || *p == 'E')) {
    ++p;
    const bool minus = p != end && *p == '-';
    if (p != end && (*p == '-' || *p == '+')) ++p;
    constexpr long long kSaturated = 1000000000;  // far past any double, never overflows
    for (; p != end && *p >= '0' && *p <= '9'; ++p) {
      if (exponent < kSaturated) exponent = exponent * 10 + (*p - '0');
    }
    if (minus) exponent = -exponent;
  }
  return !found || leadPower + exponent < 0;
}

// The value of a JSON number whose syntax the parser has checked (-?int frac? exp?): an integer
// that fits 64 bits stays an integer, anything else becomes the nearest double, zero (with its
// sign) below the smallest one. False for a number beyond the largest double, which no double
// can stand for, and for text that is no number at all.
inline bool NumberFromText(const char* text, std::size_t length, Value& value) {
  const char* end = text + length;
  // Most numbers are short integers: up to 18 digits fit 64 bits whatever they are.
  const bool negative = length > 0 && *text == '-';
  if (length - negative > 0 && length - negative <= 18) {
    std::int64_t number = 0;
    const char* p = text + negative;
    for (; p != end && *p >= '0' && *p <= '9'; ++p) number = number * 10 + (*p - '0');
    if (p == end) {
      value = Value(static_cast<long long>(negative ? -number : number));
      return true;
    }
  }
  bool integral = length > 0;
  for (const char* p = text; p != end && integral; ++p) {
    integral = *p != '.' && *p != 'e' && *p != 'E';
  }
  if (integral) {
    if (*text == '-') {
      std::int64_t number = 0;
      const auto result = std::from_chars(text, end, number);
      if (result.ec == std::errc() && result.ptr == end) {
        value = Value(static_cast<long long>(number));
        return true;
      }
    } else {
      std::uint64_t number = 0;
      const auto result = std::from_chars(text, end, number);
      if (result.ec == std::errc() && result.ptr == end) {
        value = number <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())
                    ? Value(static_cast<long long>(number))
                    : Value(static_cast<unsigned long long>(number));
        return true;
      }
    }
  }
  double number = 0.0;
  const auto result = std::from_chars(text, end, number);
  if (result.ec == std::errc::result_out_of_range) {
    if (!BelowDoubleRange(text, end)) return false;
    number = *text == '-' ? -0.0 : 0.0;
  } else if (result.ec != std::errc() || result.ptr != end) {
    return false;
  }
  value = Value(number);
  return true;
}

}  // namespace detail
}  // namespace Json
}  // namespace quim

#endif  // QUIM_NUMBERTEXT_H
