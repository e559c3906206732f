// ASCII case folding for the names HTTP compares without case (schemes, host names, header names,
// media types); bytes outside A-Z stay as they are. Header-only: each library compiles its own.
#ifndef ZENTA_ASCII_H
#define ZENTA_ASCII_H

#include <cstddef>
#include <string_view>

namespace zenta {

inline char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

}  // namespace zenta

#endif  // ZENTA_ASCII_H
