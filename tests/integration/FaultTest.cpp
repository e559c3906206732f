// The library over the real gateway against a misbehaving server: answers cut short, connections
// dropped, bytes that are no JSON, error pages, slow answers, answers past the size cap, and a
// server that restarts between two calls. Every call ends in its documented status, no answer
// buffer is left behind, and the next call succeeds. (What a failed call leaves in its outputs is
// the unit tests' part, over the fake gateway: OperationsTest.cpp.)
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "Corvane.h"
#include "MockControl.h"
#include "MockPlatform.h"
#include "MockServer.h"
#include "ZentaInternal.h"
#include "zenta/ZentaSdk.h"

namespace {

using corvane_test::MockControl;
using corvane_test::Session;
using Clock = std::chrono::steady_clock;

class Faults : public ::testing::Test {
 protected:
  void SetUp() override {
    control_.Reset();
    corvane_test::UseClientSettings();
  }
  void TearDown() override { EXPECT_EQ(zenta::OutstandingAnswerBuffers(), 0u); }

  MockControl control_;
};

// Faults on every API path, until cleared: a retry by libcurl or the gateway meets the same fault.
TEST_F(Faults, EveryOperationSurvivesEveryFault) {
  const struct {
    const char* name;
    std::string fault;  // members after "path"
    int status;         // of an operation that reads JSON
    int pictureStatus;  // of the picture download, which hands over whatever bytes came
  } faults[] = {
      {"answer cut off mid-way", R"("kind":"truncate")", ZENTA_E_RECEIVE, ZENTA_E_RECEIVE},
      {"connection dropped before any answer", R"("kind":"drop")", ZENTA_E_RECEIVE,
       ZENTA_E_RECEIVE},
      {"text that is no JSON", R"("kind":"garbage")", -1, 0},
      {"NUL and control bytes before an envelope",
       R"("kind":"garbage","body":"\u0000\u0001\u001f{\"code\":1000,\"data\":{}}")", -1, 0},
      {"half an envelope", R"("kind":"garbage","body":"{\"code\":1000,\"data\":{\"results\":[{")",
       -1, 0},
      {"HTML error page", R"("kind":"http-error","status":503)", ZENTA_E_HTTP_STATUS_BASE - 503,
       ZENTA_E_HTTP_STATUS_BASE - 503},
  };
  Session session(corvane_test::MockServerUrl());
  for (const corvane_test::PlatformCall& operation : corvane_test::EveryOperation()) {
    for (const auto& fault : faults) {
      SCOPED_TRACE(std::string(operation.name) + ", " + fault.name);
      bool matches = false;
      // A warm keep-alive connection first, so that reuse and its retries are part of the test.
      ASSERT_EQ(operation.call(session.Handle(), matches), 0);
      control_.AddFault(R"({"path":"*",)" + fault.fault + "}");
      const int expected = operation.picture ? fault.pictureStatus : fault.status;
      const int status = operation.call(session.Handle(), matches);
      EXPECT_EQ(status, expected) << ZENTA_ErrorText(status);
      EXPECT_EQ(zenta::OutstandingAnswerBuffers(), 0u);
      control_.ClearFaults();
      EXPECT_EQ(operation.call(session.Handle(), matches), 0) << "no recovery after the fault";
      EXPECT_TRUE(matches);
    }
  }
}

// A slow answer ends at the request timeout. The bound on the late side is the timeout plus 20 %
// plus 50 ms of scheduling slack: on a loaded 2-core machine a woken thread can wait that long.
TEST_F(Faults, RequestTimeoutIsHonouredWithinTwentyPercent) {
  constexpr int kTimeoutMs = 500;
  constexpr long long kLatestMs = kTimeoutMs * 12 / 10 + 50;
  Session session(corvane_test::MockServerUrl(), corvane_test::Options(0, kTimeoutMs));
  std::vector<long long> elapsed;
  for (const bool warm : {false, true, true, false, true}) {
    SCOPED_TRACE(warm ? "on a kept-alive connection" : "on a new connection");
    int enable = 0;
    if (warm) {
      ASSERT_EQ(Corvane::API_GetAIPrivacyConfig(session.Handle(), enable), 0);
    }
    control_.AddFault(R"({"path":"*","kind":"delay","delayMs":3000,"count":1})");
    int playbackTime = -7;
    const Clock::time_point start = Clock::now();
    const int status = Corvane::API_GetPosConfig(session.Handle(), playbackTime);
    const long long ms =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count() / 1000;
    EXPECT_EQ(status, ZENTA_E_TIMEOUT) << ZENTA_ErrorText(status);
    EXPECT_EQ(playbackTime, -7);
    EXPECT_GE(ms, kTimeoutMs);
    EXPECT_LE(ms, kLatestMs);
    elapsed.push_back(ms);
  }
  std::string list;
  for (long long ms : elapsed) list += " " + std::to_string(ms);
  std::printf("[          ] timeout %d ms, elapsed (ms):%s\n", kTimeoutMs, list.c_str());
}

// Answers past the size cap, announced (Content-Length) or found while receiving (chunked), with
// a small cap of the session's own and with the default 64 MiB.
TEST_F(Faults, AnswersPastTheSizeCapAreRefused) {
  constexpr int kSmallCap = 1 << 20;
  constexpr int kDefaultCap = 64 << 20;
  const struct {
    const char* name;
    int cap;  // the session's maxAnswerBytes; 0 for the default
    int bytes;
    bool chunked;
    int status;
  } rows[] = {
      {"small cap, answer of exactly the cap", kSmallCap, kSmallCap, false, 0},
      {"small cap, announced one byte over", kSmallCap, kSmallCap + 1, false,
       ZENTA_E_ANSWER_TOO_LARGE},
      {"small cap, chunked one byte over", kSmallCap, kSmallCap + 1, true,
       ZENTA_E_ANSWER_TOO_LARGE},
      {"small cap, chunked 32 MiB", kSmallCap, 32 << 20, true, ZENTA_E_ANSWER_TOO_LARGE},
      {"default cap, announced one byte over", 0, kDefaultCap + 1, false, ZENTA_E_ANSWER_TOO_LARGE},
      {"default cap, chunked one byte over", 0, kDefaultCap + 1, true, ZENTA_E_ANSWER_TOO_LARGE},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ZENTA_SessionOptions options = corvane_test::Options();
    options.maxAnswerBytes = row.cap;
    Session session(corvane_test::MockServerUrl(), options);
    control_.AddFault(R"({"path":"*","kind":"big","count":1,"bytes":)" + std::to_string(row.bytes) +
                      R"(,"chunked":)" + (row.chunked ? "true" : "false") + "}");
    int enable = -7;
    const int status = Corvane::API_GetAIPrivacyConfig(session.Handle(), enable);
    EXPECT_EQ(status, row.status) << ZENTA_ErrorText(status);
    EXPECT_EQ(enable, row.status == 0 ? 0 : -7);  // the envelope at the cap holds no "enable"
    EXPECT_EQ(zenta::OutstandingAnswerBuffers(), 0u);
    EXPECT_EQ(Corvane::API_GetAIPrivacyConfig(session.Handle(), enable), 0)
        << "the session did not recover";
  }
}

// The server goes away and comes back on the same port: calls while it is down fail to connect,
// and the first calls after it is back, GET and POST, succeed on a new connection although the
// session's pool still holds the connection the old server closed.
TEST_F(Faults, ServerRestartBetweenTwoCalls) {
  namespace mock = corvane::mock;
  int port = 0;
  {
    mock::MockServer probe(mock::ServerOptions{});
    probe.Start();
    port = probe.Port();
  }
  mock::ServerOptions options;
  options.port = port;
  const std::string url = "http://127.0.0.1:" + std::to_string(port);
  for (const bool callWhileDown : {false, true}) {
    SCOPED_TRACE(callWhileDown ? "a call while the server is down" : "no call in between");
    Session session(url);
    int enable = 0;
    Corvane::StartRemoteRecordRsp record;
    {
      mock::MockServer first(options);
      first.Start();
      ASSERT_EQ(Corvane::API_GetAIPrivacyConfig(session.Handle(), enable), 0);
      ASSERT_EQ(Corvane::API_StartRemoteRecord({session.Handle(), "D1001-C01", 0, 60}, record), 0);
    }
    if (callWhileDown) {
      EXPECT_EQ(Corvane::API_GetAIPrivacyConfig(session.Handle(), enable), ZENTA_E_CONNECT);
    }
    mock::MockServer second(options);
    second.Start();
    EXPECT_EQ(Corvane::API_StartRemoteRecord({session.Handle(), "D1001-C01", 0, 60}, record), 0);
    EXPECT_EQ(record.planId, 1) << "the new server started its plans afresh";
    EXPECT_EQ(Corvane::API_GetAIPrivacyConfig(session.Handle(), enable), 0);
    EXPECT_EQ(second.Stats().apiRequests, 2u) << "a request was sent twice";
    EXPECT_EQ(second.Stats().connections, 1u);
  }
}

}  // namespace
