// Request tracing: a session whose trace option is on (or left to the environment, with
// ZENTA_TRACE=1, read once per process) writes one line for every request that reaches a
// transport: to the application's sink (ZENTA_SetTraceSink) as "METHOD /path -> outcome", else
// to stderr as "ZENTA " and that line. Bodies and header values are never traced; every byte
// but printable ASCII is escaped.
#ifndef ZENTA_TRACE_H
#define ZENTA_TRACE_H

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include "Boundary.h"

namespace zenta {

// Whether the environment asks for tracing (ZENTA_TRACE=1), for sessions that leave it to it.
bool TraceAskedByEnvironment();

// httpStatus is meaningful when code is 0; answerBytes counts the answer body; detail, on
// failure, is the transport's own account of it.
void TraceRequest(const ZENTA_HttpRequest& request, const std::string& basePath, int code,
                  int httpStatus, std::size_t answerBytes, const char* detail,
                  std::chrono::milliseconds elapsed);

// One line for a call that goes on: a retry, or a request sent again with a new token.
void TraceRetry(const ZENTA_HttpRequest& request, const std::string& basePath, const char* what);

// One line of a verbose trace as it is ("* ...", "> ...", "< ..."), escaped; the caller has
// scrubbed it.
void TraceLine(std::string_view line);

}  // namespace zenta

#endif  // ZENTA_TRACE_H
