#include "Trace.h"

#include <zenta/ZentaSdk.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace zenta {
namespace {

// A text for the terminal: a detail quotes the server's bytes (a header line, a length, libcurl's
// words about them), so every byte but printable ASCII is written as \xNN: no escape sequence
// or line break of the server's reaches the terminal raw.
std::string Escaped(const char* text) {
  std::string shown;
  for (const char* at = text; *at != '\0'; ++at) {
    const auto byte = static_cast<unsigned char>(*at);
    if (byte >= 0x20 && byte < 0x7F) {
      shown += *at;
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", byte);
      shown += hex;
    }
  }
  return shown;
}

}  // namespace

bool TraceAskedByEnvironment() {
  static const bool enabled = [] {
    const char* value = std::getenv("ZENTA_TRACE");
    return value != nullptr && std::strcmp(value, "1") == 0;
  }();
  return enabled;
}

void TraceRequest(const ZENTA_HttpRequest& request, const std::string& basePath, int code,
                  int httpStatus, std::size_t answerBytes, const char* detail,
                  std::chrono::milliseconds elapsed) {
  // One fprintf per line, so lines from parallel calls do not interleave.
  const long long ms = static_cast<long long>(elapsed.count());
  const int methodLength = static_cast<int>(request.methodLength);
  const int targetLength = static_cast<int>(request.targetLength);
  if (code == ZENTA_OK) {
    std::fprintf(stderr, "ZENTA %.*s %s%.*s -> HTTP %d, %llu bytes, %lld ms\n", methodLength,
                 request.method, basePath.c_str(), targetLength, request.target, httpStatus,
                 static_cast<unsigned long long>(answerBytes), ms);
  } else {
    std::fprintf(stderr, "ZENTA %.*s %s%.*s -> error %d (%s: %s), %lld ms\n", methodLength,
                 request.method, basePath.c_str(), targetLength, request.target, code,
                 ZENTA_ErrorText(code),
                 Escaped(detail != nullptr && *detail ? detail : "no detail").c_str(), ms);
  }
}

void TraceRetry(const ZENTA_HttpRequest& request, const std::string& basePath, const char* what) {
  std::fprintf(stderr, "ZENTA %.*s %s%.*s -> %s\n", static_cast<int>(request.methodLength),
               request.method, basePath.c_str(), static_cast<int>(request.targetLength),
               request.target, Escaped(what).c_str());
}

}  // namespace zenta
