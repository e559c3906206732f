// Sessions: opening arguments, handles, error texts and tracing. What a session's transport does
// with connections, timeouts and closing is checked in tests/transport.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "GatewayTestSupport.h"

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
  const struct {
    const char* url;
    int expected;
  } rows[] = {
      {nullptr, ZENTA_E_BAD_URL},
      {"", ZENTA_E_BAD_URL},
      {"127.0.0.1:8080", ZENTA_E_BAD_URL},
      {"ftp://127.0.0.1", ZENTA_E_UNSUPPORTED_SCHEME},
      {"http://", ZENTA_E_BAD_URL},
      {"http://:8080", ZENTA_E_BAD_URL},
      {"http://127.0.0.1:", ZENTA_E_BAD_URL},
      {"http://127.0.0.1:0", ZENTA_E_BAD_URL},
      {"http://127.0.0.1:65536", ZENTA_E_BAD_URL},
      {"http://127.0.0.1:80a", ZENTA_E_BAD_URL},
      {"http://user@127.0.0.1", ZENTA_E_BAD_URL},
      {"http://127.0.0.1/base?x=1", ZENTA_E_BAD_URL},
      {"http://127.0.0.1/my base", ZENTA_E_BAD_URL},
      {"http://127.0.0.1/a%zz", ZENTA_E_BAD_URL},
      {"http://[::1:8080", ZENTA_E_BAD_URL},
      {"http://[]:8080", ZENTA_E_BAD_URL},
      {"http://127.0.0.1", ZENTA_OK},
      {"HTTPS://127.0.0.1:8443/base/", ZENTA_OK},
      {"http://[::1]:8080/platform", ZENTA_OK},
      {"http://localhost:65535/a%20b", ZENTA_OK},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.url == nullptr ? "(null)" : row.url);
    EXPECT_EQ(OpenAndClose(row.url, nullptr), row.expected);
  }
  EXPECT_EQ(ZENTA_OpenSession("http://127.0.0.1", nullptr, nullptr), ZENTA_E_NULL_ARGUMENT);
}

TEST(OpenSession, ChecksTheOptions) {
  // A later version of the struct: larger, with a field this gateway must not read.
  struct LaterOptions {
    ZENTA_SessionOptions known;
    int unknown;
  };
  constexpr unsigned kCurrent = sizeof(ZENTA_SessionOptions);
  // The first version ended with caFile; maxAnswerBytes came with the second.
  constexpr unsigned kFirst = offsetof(ZENTA_SessionOptions, caFile) + sizeof(const char*);
  const struct {
    const char* name;
    unsigned structSize;
    int connectMs, requestMs, maxConnections, verifyTls, maxAnswerBytes;
    int expected;
  } rows[] = {
      {"all zero: defaults", kCurrent, 0, 0, 0, 0, 0, ZENTA_OK},
      {"structSize 0", 0, 0, 0, 0, 0, 0, ZENTA_E_OPTIONS_SIZE},
      {"structSize one short of the first version", kFirst - 1, 0, 0, 0, 0, 0,
       ZENTA_E_OPTIONS_SIZE},
      {"first version: maxAnswerBytes not read", kFirst, 0, 0, 0, 0, -1, ZENTA_OK},
      {"later version", sizeof(LaterOptions), 0, 0, 0, 0, 0, ZENTA_OK},
      {"negative connect timeout", kCurrent, -1, 0, 0, 0, 0, ZENTA_E_BAD_OPTION},
      {"negative request timeout", kCurrent, 0, -5, 0, 0, 0, ZENTA_E_BAD_OPTION},
      {"negative pool size", kCurrent, 0, 0, -1, 0, 0, ZENTA_E_BAD_OPTION},
      {"pool of 64", kCurrent, 0, 0, 64, 0, 0, ZENTA_OK},
      {"pool of 65", kCurrent, 0, 0, 65, 0, 0, ZENTA_E_BAD_OPTION},
      {"verifyTls 2 (off)", kCurrent, 0, 0, 0, 2, 0, ZENTA_OK},
      {"verifyTls 3", kCurrent, 0, 0, 0, 3, 0, ZENTA_E_BAD_OPTION},
      {"verifyTls -1", kCurrent, 0, 0, 0, -1, 0, ZENTA_E_BAD_OPTION},
      {"answer cap of 1 byte", kCurrent, 0, 0, 0, 0, 1, ZENTA_OK},
      {"negative answer cap", kCurrent, 0, 0, 0, 0, -1, ZENTA_E_BAD_OPTION},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    LaterOptions options{Options(row.connectMs, row.requestMs, row.maxConnections, row.verifyTls),
                         -1};
    options.known.maxAnswerBytes = row.maxAnswerBytes;
    options.known.structSize = row.structSize;
    EXPECT_EQ(OpenAndClose("https://127.0.0.1", &options.known), row.expected);
  }
}

TEST(OpenSession, HandlesAreNeverReused) {
  const EchoServer server;
  std::vector<int> handles;
  for (int i = 0; i < 50; ++i) {
    int handle = 0;
    ASSERT_EQ(ZENTA_OpenSession(server.Url().c_str(), nullptr, &handle), ZENTA_OK);
    if (!handles.empty()) {
      EXPECT_GT(handle, handles.back());
    }
    handles.push_back(handle);
    ASSERT_EQ(ZENTA_CloseSession(handle), ZENTA_OK);
  }
  RequestRecord record("GET", "x");
  for (int handle : {handles.front(), handles.back(), 0, -1}) {
    SCOPED_TRACE(handle);
    EXPECT_EQ(Send(handle, record).code, ZENTA_E_UNKNOWN_HANDLE);
    EXPECT_EQ(ZENTA_CloseSession(handle), ZENTA_E_UNKNOWN_HANDLE);
  }
  EXPECT_EQ(NextConnection(server.Url()), "1") << "a request was sent";
}

TEST(ErrorText, EveryCodeHasItsOwnText) {
  // The named codes are dense within their groups.
  const struct {
    int first, last;
  } groups[] = {{0, 0}, {-20012, -20001}, {-20104, -20100}, {-20207, -20200}, {-30599, -30100}};
  const std::string unknown = ZENTA_ErrorText(12345);
  EXPECT_FALSE(unknown.empty());
  EXPECT_EQ(unknown, ZENTA_ErrorText(-1));
  EXPECT_EQ(unknown, ZENTA_ErrorText(-20013));
  std::set<std::string> texts;
  for (const auto& group : groups) {
    for (int code = group.first; code <= group.last; ++code) {
      SCOPED_TRACE(code);
      const char* text = ZENTA_ErrorText(code);
      ASSERT_NE(text, nullptr);
      EXPECT_NE(text, unknown);
      EXPECT_TRUE(texts.insert(text).second) << "shared text: " << text;
    }
  }
  EXPECT_NE(std::string(ZENTA_ErrorText(-30502)).find("502"), std::string::npos);
}

TEST(ErrorText, HttpStatusOfRecoversOnlyTheHttpFamily) {
  const struct {
    int code;
    int status;
  } rows[] = {{-30100, 100}, {-30404, 404},       {-30502, 502}, {-30599, 599},
              {-30000, 0},   {-30099, 0},         {-30600, 0},   {ZENTA_E_CONNECT, 0},
              {0, 0},        {-2147483647 - 1, 0}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.code);
    EXPECT_EQ(ZENTA_HttpStatusOf(row.code), row.status);
  }
}

// Runs only in the gateway_trace test, whose environment holds ZENTA_TRACE=1 from the start.
TEST(Trace, DISABLED_OneLinePerRequestWithoutBodiesOrHeaderValues) {
  const char* trace = std::getenv("ZENTA_TRACE");
  ASSERT_TRUE(trace != nullptr && std::string(trace) == "1");
  // The answer is the echo of the request, so it holds the request's secrets too.
  const EchoServer server;
  Session session(server.Url() + "/status/201");
  std::string closedUrl;
  {
    const EchoServer gone;  // its port is closed once it stops
    closedUrl = gone.Url();
  }
  Session unreachable(closedUrl);

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
  EXPECT_NE(output.find("GET /nowhere -> error -20201"), std::string::npos) << output;
  EXPECT_EQ(output.find("secret"), std::string::npos) << output;
}

}  // namespace
}  // namespace gateway_test
