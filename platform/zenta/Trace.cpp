#include "Trace.h"

#include <zenta/ZentaSdk.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace zenta {

bool TraceEnabled() {
  static const bool enabled = [] {
    const char* value = std::getenv("ZENTA_TRACE");
    return value != nullptr && std::strcmp(value, "1") == 0;
  }();
  return enabled;
}

void TraceRequest(const std::string& method, const std::string& target, int code, int httpStatus,
                  std::size_t answerBytes, std::chrono::milliseconds elapsed) {
  // One fprintf per line, so lines from parallel calls do not interleave.
  const long long ms = static_cast<long long>(elapsed.count());
  if (code == ZENTA_OK) {
    std::fprintf(stderr, "ZENTA %s %s -> HTTP %d, %llu bytes, %lld ms\n", method.c_str(),
                 target.c_str(), httpStatus, static_cast<unsigned long long>(answerBytes), ms);
  } else {
    std::fprintf(stderr, "ZENTA %s %s -> error %d (%s), %lld ms\n", method.c_str(), target.c_str(),
                 code, ZENTA_ErrorText(code), ms);
  }
}

}  // namespace zenta
