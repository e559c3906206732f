// The gateway through its C interface: opening sessions, request records, buffers, error texts
// and details, tracing. The transport's own work is checked in
// TransportTest.cpp, the session's rules in PolicyTest.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "GatewayTestSupport.h"
#include "MockServer.h"
#include "ZentaInternal.h"

namespace gateway_test {
namespace {

// Opens a session and closes it again at once; the code of the open, and 0 left in *handle on
// failure.
int OpenAndClose(const char* url, const ZENTA_SessionOptions* options) {
  int handle = -7;
  const int code = ZENTA_OpenSession(url, options, &handle);
  if (code == ZENTA_OK) {
    EXPECT_GT(handle, 0);
    EXPECT_EQ(ZENTA_CloseSession(handle), ZENTA_OK);
  } else {
    EXPECT_EQ(handle, 0) << "a failed open leaves 0 in *handle";
  }
  return code;
}

TEST(OpenSession, ChecksTheServerUrl) {
  for (const char* url :
       {"127.0.0.1:8080", "http://127.0.0.1:", "http://127.0.0.1:65536", "http://user@127.0.0.1",
        "http://127.0.0.1/b?x=1", "http://[::1:8080", "http://127.0.0.1/my base", "", "http://",
        "http://:8080", "http://127.0.0.1:0", "http://127.0.0.1:80a", "http://127.0.0.1/a%4z",
        "http://[]:8080", static_cast<const char*>(nullptr)}) {
    EXPECT_EQ(OpenAndClose(url, nullptr), ZENTA_E_BAD_URL) << (url ? url : "(null)");
  }
  for (const char* url :
       {"HTTPS://127.0.0.1:8443/b/", "http://[::1]:80/p", "http://localhost/a%20b"}) {
    EXPECT_EQ(OpenAndClose(url, nullptr), ZENTA_OK) << url;
  }
  EXPECT_EQ(OpenAndClose("ftp://127.0.0.1", nullptr), ZENTA_E_UNSUPPORTED_SCHEME);
  EXPECT_EQ(ZENTA_OpenSession("http://127.0.0.1", nullptr, nullptr), ZENTA_E_NULL_ARGUMENT);
}

TEST(OpenSession, ChecksTheOptions) {
  // A later version of the struct: larger, with a field this gateway must not read.
  struct LaterOptions {
    ZENTA_SessionOptions known = Options();
    int unknown = -1;
  } later;
  later.known.structSize = sizeof later;
  EXPECT_EQ(OpenAndClose("https://127.0.0.1", &later.known), ZENTA_OK);
  // The first version ended with caFile; maxAnswerBytes came with the second and is not read.
  ZENTA_SessionOptions first = Options();
  first.maxAnswerBytes = -1;
  first.structSize = offsetof(ZENTA_SessionOptions, caFile) + sizeof(const char*);
  EXPECT_EQ(OpenAndClose("https://127.0.0.1", &first), ZENTA_OK);
  --first.structSize;
  EXPECT_EQ(OpenAndClose("https://127.0.0.1", &first), ZENTA_E_OPTIONS_SIZE);
  // The second version ended with maxAnswerBytes: the third's fields are not read.
  ZENTA_SessionOptions second = Options();
  second.retries = -1;
  second.authorization = "secret\r\n";
  second.structSize = offsetof(ZENTA_SessionOptions, maxAnswerBytes) + sizeof(int);
  EXPECT_EQ(OpenAndClose("https://127.0.0.1", &second), ZENTA_OK);
  // Text options: refused with the option named, the text (maybe a secret) never repeated.
  const char* const badLines[] = {"X-Key k", nullptr};
  const auto texts = [&](ZENTA_SessionOptions& o, int i) -> const char* {
    const char* const names[] = {"authorization", "headers", "proxy", "clientCert"};
    if (i == 0) o.authorization = "secret\r\nX: y";
    if (i == 1) o.headers = badLines;
    if (i == 2) o.proxy = "socks5://secret:1080";
    if (i == 3) o.clientCert = "/nonexistent/secret.pem";
    return names[i];
  };
  for (int i = 0; i < 4; ++i) {
    ZENTA_SessionOptions options = Options();
    const std::string name = texts(options, i);
    EXPECT_EQ(OpenAndClose("https://127.0.0.1", &options), ZENTA_E_BAD_OPTION) << name;
    EXPECT_NE(LastDetail().find(name), std::string::npos) << LastDetail();
    EXPECT_EQ(LastDetail().find("secret"), std::string::npos) << LastDetail();
  }
  using Field = int ZENTA_SessionOptions::*;
  const struct {
    Field field;
    int value, expected;
    const char* name;  // in the detail of a refusal
  } rows[] = {{&ZENTA_SessionOptions::connectTimeoutMs, -1, ZENTA_E_BAD_OPTION, "connectTimeoutMs"},
              {&ZENTA_SessionOptions::requestTimeoutMs, -5, ZENTA_E_BAD_OPTION, "requestTimeoutMs"},
              {&ZENTA_SessionOptions::maxConnections, 64, ZENTA_OK, ""},
              {&ZENTA_SessionOptions::maxConnections, 65, ZENTA_E_BAD_OPTION, "maxConnections"},
              {&ZENTA_SessionOptions::verifyTls, 3, ZENTA_E_BAD_OPTION, "verifyTls"},
              {&ZENTA_SessionOptions::maxAnswerBytes, -1, ZENTA_E_BAD_OPTION, "maxAnswerBytes"},
              {&ZENTA_SessionOptions::retries, 11, ZENTA_E_BAD_OPTION, "retries"},
              {&ZENTA_SessionOptions::compression, 3, ZENTA_E_BAD_OPTION, "compression"},
              {&ZENTA_SessionOptions::trace, 4, ZENTA_E_BAD_OPTION, "trace"}};
  for (const auto& row : rows) {
    ZENTA_SessionOptions options = Options();
    options.*row.field = row.value;
    EXPECT_EQ(OpenAndClose("https://127.0.0.1", &options), row.expected) << row.value;
    const std::string says = std::string(row.name) + " is " + std::to_string(row.value);
    EXPECT_TRUE(row.expected == ZENTA_OK || LastDetail().find(says) != std::string::npos);
  }
}

TEST(OpenSession, HandlesAreNeverReused) {
  const EchoServer server;
  std::vector<int> handles(2);
  for (int& handle : handles) {
    ASSERT_EQ(ZENTA_OpenSession(server.Url().c_str(), nullptr, &handle), ZENTA_OK);
    ASSERT_EQ(ZENTA_CloseSession(handle), ZENTA_OK);
  }
  EXPECT_GT(handles[1], handles[0]) << "a closed session's handle was given out again";
  RequestRecord record("GET", "x");
  for (int handle : {handles[0], handles[1], 0, -1}) {
    SCOPED_TRACE(handle);
    EXPECT_EQ(Send(handle, record).code, ZENTA_E_UNKNOWN_HANDLE);
    EXPECT_EQ(ZENTA_CloseSession(handle), ZENTA_E_UNKNOWN_HANDLE);
  }
  EXPECT_EQ(NextConnection(server.Url()), "1") << "a request was sent";
}

// Which records are refused, one row per rule, and that a refused call sends nothing.
TEST(Record, RefusedRecordsSendNothing) {
  const EchoServer server;
  Session session(server.Url());
  RequestRecord good("GET", "x");
  ostrel::RestResponse response{};
  const int handle = session.Handle();
  EXPECT_EQ(ZENTA_GeneralJsonRequest(handle, nullptr, 2096, &response, 56), ZENTA_E_NULL_ARGUMENT);
  EXPECT_EQ(ZENTA_GeneralJsonRequest(handle, good.Get(), 2095, &response, 56),
            ZENTA_E_REQUEST_SIZE);
  EXPECT_EQ(ZENTA_GeneralJsonRequest(handle, good.Get(), 2096, &response, 57),
            ZENTA_E_RESPONSE_SIZE);
  EXPECT_EQ(response.answer, nullptr);
  const std::vector<std::pair<std::function<void(RequestRecord&)>, int>> refused = {
      {[](RequestRecord& r) { r.Fields().bodyLength = 5; }, ZENTA_E_BAD_RECORD},  // null body
      {[](RequestRecord& r) { r.Fields().bodyLength = -1; }, ZENTA_E_BAD_RECORD},
      {[](RequestRecord& r) { r.Fields().headerCount = 1; }, ZENTA_E_BAD_RECORD},  // null headers
      {[](RequestRecord& r) { r.Header("A", "b").Fields().headerCount = 257; }, ZENTA_E_BAD_RECORD},
      {[](RequestRecord& r) { r.Fields().method[1] = ' '; }, ZENTA_E_BAD_METHOD},
      {[](RequestRecord& r) { r.Header("X-A", "a\r\nX-Evil: 1"); }, ZENTA_E_BAD_HEADER},
      {[](RequestRecord& r) { r.Header("X-A", "a\x7f"); }, ZENTA_E_BAD_HEADER},
      {[](RequestRecord& r) { r.Header("X-A", "a\x1b[2J"); }, ZENTA_E_BAD_HEADER},
      {[](RequestRecord& r) { r.Header("X A", "a"); }, ZENTA_E_BAD_HEADER}};
  for (const auto& [change, expected] : refused) {
    RequestRecord record("GET", "x");
    change(record);
    EXPECT_EQ(Send(handle, record).code, expected) << expected;
  }
  EXPECT_EQ(NextConnection(server.Url()), "1") << "a connection was made";
}

TEST(Buffers, ReleaseTakesBackOnlyOutstandingAnswersAndAFailureClearsTheRecord) {
  const EchoServer server;
  Session session(server.Url());
  ostrel::RestResponse response{};
  RequestRecord record("GET", "x");
  ASSERT_EQ(ZENTA_GeneralJsonRequest(session.Handle(), record.Get(), 2096, &response, 56), 0);
  char* answer = response.answer;
  EXPECT_EQ(zenta::OutstandingAnswerBuffers(), 1u);
  char notOurs[8] = {};
  EXPECT_EQ(ZENTA_ReleaseDataBuffer(nullptr), ZENTA_OK);
  EXPECT_EQ(ZENTA_ReleaseDataBuffer(notOurs), ZENTA_E_UNKNOWN_BUFFER);
  EXPECT_EQ(ZENTA_ReleaseDataBuffer(answer + 1), ZENTA_E_UNKNOWN_BUFFER);
  EXPECT_EQ(ZENTA_ReleaseDataBuffer(answer), ZENTA_OK);
  EXPECT_EQ(ZENTA_ReleaseDataBuffer(answer), ZENTA_E_UNKNOWN_BUFFER) << "double release";
  EXPECT_EQ(zenta::OutstandingAnswerBuffers(), 0u);

  RequestRecord failing("GET", "status/503/body/busy");
  std::memset(&response, 0xAB, sizeof response);
  EXPECT_EQ(ZENTA_GeneralJsonRequest(session.Handle(), failing.Get(), 2096, &response, 56),
            ZENTA_E_HTTP_STATUS_BASE - 503);
  EXPECT_EQ(response.answer, nullptr);
  EXPECT_EQ(response.answerLength, 0);
  EXPECT_EQ(response.auxBuffer, nullptr);
  EXPECT_EQ(response.reserved[0], 0xAB) << "the reserved bytes are not the gateway's";
  EXPECT_EQ(zenta::OutstandingAnswerBuffers(), 0u);
}

TEST(ErrorText, EveryCodeHasItsOwnText) {
  // The named codes are dense within their groups.
  const struct {
    int first, last;
  } groups[] = {{0, 0}, {-20012, -20001}, {-20107, -20100}, {-20207, -20200}, {-30599, -30100}};
  const std::string unknown = ZENTA_ErrorText(12345);
  EXPECT_EQ(unknown, ZENTA_ErrorText(-20013));
  std::set<std::string> texts;
  for (const auto& group : groups) {
    for (int code = group.first; code <= group.last; ++code) {
      SCOPED_TRACE(code);
      EXPECT_NE(ZENTA_ErrorText(code), unknown);
      EXPECT_TRUE(texts.insert(ZENTA_ErrorText(code)).second) << "shared text";
      const int status = ZENTA_HttpStatusOf(code);
      EXPECT_EQ(status, code <= -30100 ? -30000 - code : 0);
      EXPECT_EQ(ZENTA_IS_GATEWAY_CODE(code), code != 0) << "outside the gateway's range";
    }
  }
  // Just outside the range: the library's and the server's codes.
  for (int code : {ZENTA_FIRST_CODE + 1, ZENTA_LAST_CODE - 1, -1, 4004}) {
    EXPECT_FALSE(ZENTA_IS_GATEWAY_CODE(code)) << code;
  }
  EXPECT_NE(std::string(ZENTA_ErrorText(-30502)).find("502"), std::string::npos);
  EXPECT_EQ(ZENTA_HttpStatusOf(-30600), 0);
}

TEST(Detail, EveryFailureReplacesTheDetailWhichIsCutToTheBufferAndAnAnswerClearsIt) {
  Session session("http://127.0.0.1:1");  // nothing listens there
  RequestRecord record("GET", "x"), bad("", "x");
  EXPECT_EQ(Send(session.Handle(), record).code, ZENTA_E_CONNECT);
  EXPECT_NE(LastDetail(), ZENTA_ErrorText(ZENTA_E_CONNECT));
  EXPECT_EQ(Send(0, bad).code, ZENTA_E_BAD_METHOD);
  EXPECT_EQ(LastDetail(), ZENTA_ErrorText(ZENTA_E_BAD_METHOD)) << "an earlier call's detail";
  char small[5] = "xxxx";
  const int length = ZENTA_LastErrorDetail(small, sizeof small);
  EXPECT_EQ(length, static_cast<int>(LastDetail().size()));
  EXPECT_EQ(std::string(small), LastDetail().substr(0, 4));
  EXPECT_EQ(ZENTA_LastErrorDetail(nullptr, 0), length);
  EXPECT_EQ(ZENTA_LastErrorDetail(small + 1, 0), length);
  EXPECT_EQ(std::string(small), LastDetail().substr(0, 4)) << "written with a size of 0";

  // A refusal in JSON is handed over as an answer; the detail keeps its status and what its
  // challenge names, which only the headers say. An answer after it leaves no detail.
  corvane::mock::MockServer server{corvane::mock::ServerOptions()};
  server.Start();
  server.RequireToken("tok-right");
  ZENTA_SessionOptions options = Options();
  options.authorization = "Bearer tok-wrong";
  Session refused(server.BaseUrl(), options);
  RequestRecord pos("GET", "vusk/api/v1.1/config/pos");
  EXPECT_EQ(Send(refused.Handle(), pos).code, ZENTA_OK);
  EXPECT_EQ(LastDetail(), "HTTP 401 (error=\"invalid_token\")");
  server.RequireToken("");
  RequestRecord log("GET", "__mock/requests");
  EXPECT_EQ(Send(refused.Handle(), log).code, ZENTA_OK);
  EXPECT_EQ(LastDetail(), "");
}

// Runs only in the gateway.trace test, whose environment holds ZENTA_TRACE=1 from the start.
TEST(Trace, OneLinePerRequestWithoutBodiesOrHeaderValues) {
  // The answer is the echo of the request, so it holds the request's secrets too.
  const EchoServer server;
  ZENTA_SessionOptions options = Options();
  options.trace = 1;
  Session session(server.Url() + "/status/201", options);
  Session unreachable("http://127.0.0.1:1", options);  // nothing listens there

  testing::internal::CaptureStderr();
  RequestRecord post("POST", "trace/me?x=1");
  post.Header("X-Token", "secret-header-value").Body("{\"secret\":\"body\"}");
  const Outcome answered = Send(session.Handle(), post);
  EXPECT_EQ(answered.code, ZENTA_OK);
  RequestRecord get("GET", "nowhere");
  EXPECT_EQ(Send(unreachable.Handle(), get).code, ZENTA_E_CONNECT);
  const std::string output = testing::internal::GetCapturedStderr();

  EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 2) << output;
  const std::string line = "POST /status/201/trace/me?x=1 -> HTTP 201, " +
                           std::to_string(answered.answer.size()) + " bytes, ";
  EXPECT_NE(output.find(line), std::string::npos) << output;
  EXPECT_NE(answered.answer.find("secret-header-value"), std::string::npos);
  EXPECT_NE(output.find("GET /nowhere -> error -20201 (" +
                        std::string(ZENTA_ErrorText(ZENTA_E_CONNECT)) + ": " + LastDetail()),
            std::string::npos)
      << output;
  EXPECT_EQ(output.find("secret"), std::string::npos) << output;
}

// The session's trace option decides: 1 on, 2 off, 3 verbose (the request head's lines too, with
// header values as ***), 0 as the environment's ZENTA_TRACE says (read once per process:
// gateway.trace runs this test again with ZENTA_TRACE=1). A struct that ends before the option
// is never read for it.
TEST(Trace, TheSessionOptionDecidesAndZeroLeavesItToTheEnvironment) {
  const char* variable = std::getenv("ZENTA_TRACE");
  const bool environment = variable != nullptr && std::string(variable) == "1";
  const EchoServer server;
  const struct {
    int trace;
    unsigned structSize;
    bool traced;
    bool verbose = false;
  } rows[] = {
      {0, sizeof(ZENTA_SessionOptions), environment},
      {1, sizeof(ZENTA_SessionOptions), true},
      {2, sizeof(ZENTA_SessionOptions), false},
      {3, sizeof(ZENTA_SessionOptions), true, true},
      {1, offsetof(ZENTA_SessionOptions, trace), environment},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::to_string(row.trace) + ", structSize " + std::to_string(row.structSize));
    ZENTA_SessionOptions options = Options();
    options.trace = row.trace;
    options.structSize = row.structSize;
    Session session(server.Url(), options);
    testing::internal::CaptureStderr();
    RequestRecord get("GET", "traced");
    EXPECT_EQ(Send(session.Handle(), get).code, ZENTA_OK);
    const std::string output = testing::internal::GetCapturedStderr();
    EXPECT_EQ(output.find("ZENTA GET /traced -> HTTP 200") != std::string::npos, row.traced)
        << output;
    EXPECT_EQ(
        output.find("\nZENTA > GET /traced HTTP/1.1\nZENTA > Host: ***\n") != std::string::npos,
        row.verbose)
        << output;
  }
}

// The simulated server's request log masks the values of the credentials a client sends
// (Authorization, Proxy-Authorization, Cookie, X-Api-Key) and of the headers its options name.
TEST(MockServerLog, MasksTheValueOfEveryCredential) {
  corvane::mock::ServerOptions serverOptions;
  serverOptions.secretHeaders = {"x-own"};
  corvane::mock::MockServer server(serverOptions);
  server.Start();
  ZENTA_SessionOptions options = Options();
  const char* headers[] = {"X-Api-Key: key-Secret1", "Cookie: id=cookie-Secret2",
                           "X-Own: own-Secret3", "X-Shown: shown-value", nullptr};
  options.headers = headers;
  options.authorization = "Bearer tok-Secret4";
  Session session(server.BaseUrl(), options);
  RequestRecord call("GET", "vusk/api/v1.1/config/pos");
  call.Header("Proxy-Authorization", "Basic proxy-Secret5");
  Send(session.Handle(), call);
  RequestRecord log("GET", "__mock/requests");
  const Outcome logged = Send(session.Handle(), log);
  ASSERT_EQ(logged.code, ZENTA_OK);
  EXPECT_NE(logged.answer.find("shown-value"), std::string::npos) << logged.answer;
  EXPECT_NE(logged.answer.find("Bearer ***"), std::string::npos) << logged.answer;
  EXPECT_EQ(logged.answer.find("Secret"), std::string::npos) << logged.answer;
}

}  // namespace
}  // namespace gateway_test
