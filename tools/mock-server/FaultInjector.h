// Faults that the mock server injects into its answers, switched on and off at run time, so
// that clients can be tested against slow, failing, garbled and vanishing servers.
#ifndef CORVANE_MOCK_FAULT_INJECTOR_H
#define CORVANE_MOCK_FAULT_INJECTOR_H

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "MockPlatform.h"

namespace corvane::mock {

enum class FaultKind {
  kDelay,      // wait, then answer normally
  kHttpError,  // an HTTP error status with a text/html body
  kGarbage,    // status 200 with a body that is not JSON
  kTruncate,   // the normal answer's Content-Length, half its bytes, then the connection closes
  kDrop,       // the connection closes without any answer
  kBusiness,   // a JSON envelope carrying the given business code
  kBig,        // status 200, a JSON envelope of exactly `bytes` bytes (tests answer size caps)
  kTrickle,    // the normal answer, its head at once and its body at `bytesPerSecond`
};

struct Fault {
  std::uint64_t id = 0;  // given by FaultInjector::Add
  std::string path;      // the exact request path (no query), or "*" for every path
  FaultKind kind = FaultKind::kDelay;
  int delayMs = 0;        // waited before any kind acts
  int status = 500;       // kHttpError
  int code = 0;           // kBusiness
  bool keepData = false;  // kBusiness: keep the normal answer's "data", change only "code"
  std::optional<std::string> body;        // kHttpError, kGarbage: replaces the default body
  int bytes = 0;                          // kBig: size of the whole body
  bool chunked = false;                   // kBig: sent without Content-Length
  int bytesPerSecond = 0;                 // kTrickle: the rate the body is sent at
  std::optional<std::string> retryAfter;  // kHttpError, kBusiness: a Retry-After field's value
  int remaining = 0;                      // requests left to fault; 0 means until cleared
};

const char* FaultKindName(FaultKind kind);

// Reads a fault description: one JSON object or an array of them (see README.md). Every
// member is checked; an unknown member, kind or an out-of-range value fails with
// kCodeInvalidParameter and a message naming the problem.
Outcome<std::vector<Fault>> ParseFaults(std::string_view jsonText);

// The active faults, in the order they were added. Thread-safe.
class FaultInjector {
 public:
  std::uint64_t Add(Fault fault);

  // The first fault that matches `path`, counting this request against it (a fault whose
  // count runs out is removed); nothing when no fault matches.
  std::optional<Fault> Take(const std::string& path);

  std::vector<Fault> List() const;
  void Clear();

 private:
  mutable std::mutex mutex_;
  std::vector<Fault> faults_;
  std::uint64_t nextId_ = 1;
};

}  // namespace corvane::mock

#endif  // CORVANE_MOCK_FAULT_INJECTOR_H
