// Pieces shared by the fault, TLS and load tests: a session with options that closes itself, and
// what the process holds (resident memory, open descriptors) as /proc reports it.
#ifndef CORVANE_TESTS_RELIABILITYSUPPORT_H
#define CORVANE_TESTS_RELIABILITYSUPPORT_H

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "zenta/ZentaSdk.h"

namespace corvane_test {

// Session options with structSize set and everything else at its default.
inline ZENTA_SessionOptions DefaultOptions() {
  ZENTA_SessionOptions options{};
  options.structSize = sizeof options;
  return options;
}

// A gateway session, closed when it leaves scope.
class ScopedSession {
 public:
  explicit ScopedSession(const std::string& url,
                         const ZENTA_SessionOptions& options = DefaultOptions()) {
    status_ = ZENTA_OpenSession(url.c_str(), &options, &handle_);
  }
  ~ScopedSession() {
    if (status_ == ZENTA_OK) {
      EXPECT_EQ(ZENTA_CloseSession(handle_), ZENTA_OK);
    }
  }
  ScopedSession(const ScopedSession&) = delete;
  ScopedSession& operator=(const ScopedSession&) = delete;
  int status() const { return status_; }
  int handle() const { return handle_; }

 private:
  int status_ = 0;
  int handle_ = 0;
};

// VmRSS of this process in KiB, from /proc/self/status; -1 when it cannot be read.
std::int64_t ResidentKiB();

// Entries of /proc/self/fd (the listing's own descriptor included); -1 when it cannot be read.
int OpenDescriptors();

}  // namespace corvane_test

#endif  // CORVANE_TESTS_RELIABILITYSUPPORT_H
