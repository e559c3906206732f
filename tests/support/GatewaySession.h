// Session options and a session that closes itself, for the tests that run the real gateway.
#ifndef CORVANE_TESTS_GATEWAYSESSION_H
#define CORVANE_TESTS_GATEWAYSESSION_H

#include <gtest/gtest.h>
#include <zenta/ZentaSdk.h>

#include <string>

namespace corvane_test {

// Session options with structSize set; a zero keeps the gateway's default.
inline ZENTA_SessionOptions Options(int connectMs = 0, int requestMs = 0, int maxConnections = 0,
                                    int verifyTls = 0) {
  ZENTA_SessionOptions options{};
  options.structSize = sizeof options;
  options.connectTimeoutMs = connectMs;
  options.requestTimeoutMs = requestMs;
  options.maxConnections = maxConnections;
  options.verifyTls = verifyTls;
  return options;
}

// A session on url, which must open; closed, and the close checked, when it leaves scope.
class Session {
 public:
  explicit Session(const std::string& url, const ZENTA_SessionOptions* options = nullptr) {
    EXPECT_EQ(ZENTA_OpenSession(url.c_str(), options, &handle_), ZENTA_OK) << url;
  }
  Session(const std::string& url, const ZENTA_SessionOptions& options) : Session(url, &options) {}
  ~Session() {
    if (handle_ != 0) {
      EXPECT_EQ(ZENTA_CloseSession(handle_), ZENTA_OK);
    }
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  int Handle() const { return handle_; }
  int Close() {
    const int code = ZENTA_CloseSession(handle_);
    handle_ = 0;
    return code;
  }

 private:
  int handle_ = 0;
};

}  // namespace corvane_test

#endif  // CORVANE_TESTS_GATEWAYSESSION_H
