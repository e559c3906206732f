// The bytes HTTP allows in a token and in a header value, for every check of a header or a method
// the gateway makes (Ostrel's request records, the session's own headers, the answer's head), and
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

// The characters of an HTTP token (RFC 9110, 5.6.2): what a field name and a method are made of.
struct TokenChars {
  bool is[256] = {};
  constexpr TokenChars() {
    for (int c = '0'; c <= '9'; ++c) is[c] = true;
    for (int c = 'a'; c <= 'z'; ++c) is[c] = is[c - 'a' + 'A'] = true;
    for (const char* p = "!#$%&'*+-.^_`|~"; *p != '\0'; ++p) {
      is[static_cast<unsigned char>(*p)] = true;
    }
  }
};
inline constexpr TokenChars kTokenChars;

inline bool IsTokenChar(char c) { return kTokenChars.is[static_cast<unsigned char>(c)]; }

// A method or a header name: one token character or more.
inline bool IsToken(std::string_view text) {
  for (char c : text) {
    if (!IsTokenChar(c)) return false;
  }
  return !text.empty();
}

// A header value may not end the line it is sent on: visible bytes, space, tab and bytes from
// 0x80 on; no CR, LF, NUL, DEL or other control byte.
inline bool IsFieldValue(std::string_view value) {
  for (char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && byte != '\t') || byte == 0x7F) return false;
  }
  return true;
}

// Equal bytes are passed at once; only bytes that differ are folded.
inline bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] && AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

}  // namespace zenta

#endif  // ZENTA_ASCII_H
