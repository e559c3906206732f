// Request tracing: with ZENTA_TRACE=1 in the environment (read once per process), every request
// that reaches a transport writes one line to stderr. Bodies and header values are never traced.
#ifndef ZENTA_TRACE_H
#define ZENTA_TRACE_H

#include <chrono>
#include <cstddef>
#include <string>

namespace zenta {

bool TraceEnabled();

// httpStatus is meaningful when code is 0; answerBytes counts the answer body.
void TraceRequest(const std::string& method, const std::string& target, int code, int httpStatus,
                  std::size_t answerBytes, std::chrono::milliseconds elapsed);

}  // namespace zenta

#endif  // ZENTA_TRACE_H
