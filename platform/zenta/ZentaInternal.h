// The C++ interface that ZENTA exports to Ostrel (and to the gateway's own tests). It is not part
// of the public SDK: both libraries are always built and shipped together, with one compiler.
#ifndef ZENTA_ZENTAINTERNAL_H
#define ZENTA_ZENTAINTERNAL_H

#include <zenta/ZentaSdk.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zenta {

// The largest answer body a session accepts unless its options set another cap
// (maxAnswerBytes); a longer one fails with ZENTA_E_ANSWER_TOO_LARGE, so a hostile or broken
// server cannot make the client allocate without bound.
constexpr std::size_t kMaxAnswerBytes = 64u * 1024u * 1024u;

// ASCII case folding for the names the protocol compares without case (schemes, host names,
// header names, media types); bytes outside A-Z stay as they are.
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

// A header's name and value as views into the storage of whoever builds the request (the request
// record itself, for Ostrel), which outlives the call.
struct HttpHeader {
  std::string_view name;
  std::string_view value;
};

// One request as the transport sends it. Everything in it is already checked: the method is an
// HTTP token, the names are tokens and no name or value holds CR, LF or NUL.
struct HttpRequest {
  std::string method;
  std::string target;  // "/" + encoded path; the session puts its base path in front
  std::vector<HttpHeader> headers;
  const char* body = nullptr;  // not owned; bodyLength bytes, sent only when bodyLength > 0
  std::size_t bodyLength = 0;
};

// What came back from a completed exchange, whatever its HTTP status.
struct HttpAnswer {
  int status = 0;           // HTTP status code
  std::string contentType;  // Content-Type header value, "" when absent
  std::vector<char> body;
};

// Carries request on the session named by handle. Returns 0 when an HTTP answer arrived (answer
// filled, any status), else a negative ZENTA code (answer contents unspecified). Thread-safe;
// several threads may use one handle at once. May throw std::bad_alloc.
ZENTA_API int PerformRequest(int handle, const HttpRequest& request, HttpAnswer& answer);

// Takes ownership of body, appends a NUL and keeps it as an outstanding answer buffer until
// ZENTA_ReleaseDataBuffer gives it back. Returns the buffer's first byte. Thread-safe. When it
// throws std::bad_alloc, nothing is registered.
ZENTA_API char* HandOverAnswer(std::vector<char>&& body);

// Number of answer buffers handed over and not yet released; lets tests prove nothing leaks.
ZENTA_API std::size_t OutstandingAnswerBuffers();

}  // namespace zenta

#endif  // ZENTA_ZENTAINTERNAL_H
