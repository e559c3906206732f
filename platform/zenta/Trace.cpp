#include "Trace.h"

#include <zenta/ZentaSdk.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "ErrorDetail.h"

namespace zenta {
namespace {

// The application's sink (ZENTA_SetTraceSink), null for standard error.
std::mutex sinkMutex;
ZENTA_TraceSink sink = nullptr;
void* sinkContext = nullptr;

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

// A finished line, to the sink or as one line on standard error.
void Write(const std::string& line) {
  ZENTA_TraceSink to = nullptr;
  void* context = nullptr;
  {
    std::lock_guard<std::mutex> lock(sinkMutex);
    to = sink;
    context = sinkContext;
  }
  if (to != nullptr) {
    to(context, line.c_str());
  } else {
    // One fprintf per line, so lines from parallel calls do not interleave.
    std::fprintf(stderr, "ZENTA %s\n", line.c_str());
  }
}

// "METHOD /base/target -> " and what followed, to the sink or as one line on standard error.
void Emit(const ZENTA_HttpRequest& request, const std::string& basePath, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

void Emit(const ZENTA_HttpRequest& request, const std::string& basePath, const char* format, ...) {
  char outcome[Detail::kWidth + 256];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(outcome, sizeof outcome, format, arguments);
  va_end(arguments);
  std::string line(request.method, request.methodLength);
  line += ' ' + basePath;
  line.append(request.target, request.targetLength);
  Write(Escaped(line.c_str()) + " -> " + outcome);
}

}  // namespace

void TraceLine(std::string_view line) { Write(Escaped(std::string(line).c_str())); }

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
  const long long ms = static_cast<long long>(elapsed.count());
  if (code == ZENTA_OK) {
    Emit(request, basePath, "HTTP %d, %llu bytes, %lld ms", httpStatus,
         static_cast<unsigned long long>(answerBytes), ms);
  } else {
    Emit(request, basePath, "error %d (%s: %s), %lld ms", code, ZENTA_ErrorText(code),
         Escaped(detail != nullptr && *detail ? detail : "no detail").c_str(), ms);
  }
}

void TraceRetry(const ZENTA_HttpRequest& request, const std::string& basePath, const char* what) {
  Emit(request, basePath, "%s", Escaped(what).c_str());
}

}  // namespace zenta

extern "C" ZENTA_API int ZENTA_SetTraceSink(ZENTA_TraceSink sink, void* context) {
  std::lock_guard<std::mutex> lock(zenta::sinkMutex);
  zenta::sink = sink;
  zenta::sinkContext = context;
  return ZENTA_OK;
}
