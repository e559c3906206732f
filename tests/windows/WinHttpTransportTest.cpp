// The Windows gateway (ZENTA.dll over WinHTTP, Ostrel.dll) and Corvane.dll, run under wine against
// corvane-echo-server on the Linux side (CORVANE_SERVER_URL). The echo server answers with the
// request's own bytes, so these tests see exactly what went on the wire; leading segments of the
// target steer its answer (see tests/support/EchoServer.h).
#include <gtest/gtest.h>
#include <winsock2.h>
#include <ws2tcpip.h>
#include <zenta/ZentaSdk.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Corvane.h"
#include "EchoServer.h"
#include "GatewaySession.h"
#include "ZentaInternal.h"

namespace {

using corvane_test::ParseEcho;
using corvane_test::Session;
using Clock = std::chrono::steady_clock;

std::string ServerUrl() {
  const char* url = std::getenv("CORVANE_SERVER_URL");
  return url == nullptr ? std::string() : std::string(url);
}

long long MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

struct Result {
  int code = 0;
  zenta::HttpAnswer answer;
  std::string Body() const { return std::string(answer.body.begin(), answer.body.end()); }
};

Result Perform(int handle, const std::string& method, const std::string& target,
               std::vector<zenta::HttpHeader> headers = {}, const std::string& body = "") {
  zenta::HttpRequest request;
  request.method = method;
  request.target = target;
  request.headers = std::move(headers);
  request.body = body.empty() ? nullptr : body.data();
  request.bodyLength = body.size();
  Result result;
  result.code = zenta::PerformRequest(handle, request, result.answer);
  return result;
}

// The head as it arrived, one header a line, with bytes outside printable ASCII as \xHH: for
// failure messages.
std::string Printable(const std::vector<std::string>& headers) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (const std::string& header : headers) {
    for (char c : header) {
      const auto byte = static_cast<unsigned char>(c);
      if (byte >= 0x20 && byte < 0x7F) {
        text.push_back(c);
      } else {
        text += std::string("\\x") + kHex[byte >> 4] + kHex[byte & 0x0F];
      }
    }
    text.push_back('\n');
  }
  return text;
}

// How many requests the echo server counted under token, asked on a session of its own.
int TokenCount(const std::string& token) {
  Session session(ServerUrl());
  const Result result = Perform(session.Handle(), "GET", "/count/" + token);
  return result.code == ZENTA_OK ? std::atoi(result.Body().c_str()) : -1;
}

// A token no other test process uses: the server counts tokens for its whole life.
std::string Token(const std::string& name) {
  return name + "-" + std::to_string(Clock::now().time_since_epoch().count());
}

// A 127.0.0.1 port on which nothing listens: a listener's, once it is closed.
int ClosedPort() {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return 0;
  const SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int size = sizeof address;
  int port = 0;
  if (listener != INVALID_SOCKET &&
      bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
    port = ntohs(address.sin_port);
  }
  if (listener != INVALID_SOCKET) closesocket(listener);
  WSACleanup();
  return port;
}

class WinHttp : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(ServerUrl().empty()) << "CORVANE_SERVER_URL is not set: run through CTest";
  }
};

TEST_F(WinHttp, RequestBytesAreExactlyTheRequests) {
  Session session(ServerUrl());
  const std::string port = ServerUrl().substr(ServerUrl().rfind(':') + 1);
  struct Row {
    const char* name;
    std::string method;
    std::string target;
    std::vector<zenta::HttpHeader> headers;
    std::string body;
    std::vector<std::string> expectedInOrder;
    std::vector<std::string> absent;
  };
  const std::vector<Row> rows = {
      {"headers in record order, UTF-8 text byte for byte",
       "GET",
       "/h",
       {{"X-B", "2"},
        {"X-Utf8", "caf\xC3\xA9 \xE6\x97\xA5 \xF0\x9F\x93\xB7"},
        {"X-Empty", ""},
        {"X-A", "1 \t x"},
        {"x-b", "3"}},
       "",
       {"X-B: 2", "X-Utf8: caf\xC3\xA9 \xE6\x97\xA5 \xF0\x9F\x93\xB7", "X-Empty: ", "X-A: 1 \t x",
        "x-b: 3"},
       {"Content-Length:", "Content-Type:", "Expect:", "Transfer-Encoding:", "Cookie:"}},
      {"POST with a body: its length once, no type of the gateway's own",
       "POST",
       "/p",
       {{"Content-Type", "application/json"}},
       "{\"name\":\"caf\xC3\xA9\"}",
       {"Content-Type: application/json", "Content-Length: 16"},
       {"Expect:", "Transfer-Encoding:"}},
      {"POST without a body announces an empty one",
       "POST",
       "/empty",
       {},
       "",
       {"Content-Length: 0"},
       {"Content-Type:", "Expect:"}},
      {"PATCH without a body too", "PATCH", "/patch", {}, "", {"Content-Length: 0"}, {}},
      {"DELETE without a body announces none", "DELETE", "/d", {}, "", {}, {"Content-Length:"}},
      {"the encoded target is sent as it is, dot segments included",
       "GET",
       "/a%20b/../c/./d//e?x=%41&y=caf%C3%A9&z=a+b",
       {},
       "",
       {},
       {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Result result = Perform(session.Handle(), row.method, row.target, row.headers, row.body);
    ASSERT_EQ(result.code, ZENTA_OK);
    EXPECT_EQ(result.answer.status, 200);
    const corvane_test::Echo echo = ParseEcho(result.Body());
    EXPECT_EQ(echo.requestLine, row.method + " " + row.target + " HTTP/1.1");
    std::size_t next = 0;
    for (const std::string& header : row.expectedInOrder) {
      while (next < echo.headers.size() && echo.headers[next] != header) ++next;
      EXPECT_LT(next, echo.headers.size())
          << "missing or out of order: " << Printable({header}) << "in:\n"
          << Printable(echo.headers);
    }
    for (const std::string& prefix : row.absent) {
      EXPECT_EQ(corvane_test::CountStarting(echo.headers, prefix), 0u) << prefix;
    }
    EXPECT_LE(corvane_test::CountStarting(echo.headers, "Content-Length:"), 1u);
    EXPECT_EQ(corvane_test::CountStarting(echo.headers, "Host: 127.0.0.1:" + port), 1u);
    EXPECT_EQ(echo.body, row.body);
  }
}

// WinHTTP puts header text on the wire as UTF-8: bytes that are not UTF-8 could only go out
// altered, so they do not go out at all.
TEST_F(WinHttp, HeaderBytesThatAreNotUtf8AreRefused) {
  Session session(ServerUrl());
  const std::string token = Token("latin1");
  const std::string values[] = {"caf\xE9", "\xC3", "\xED\xA0\x80", "\xC0\xAF"};
  for (const std::string& value : values) {
    SCOPED_TRACE(Printable({value}));
    EXPECT_EQ(Perform(session.Handle(), "GET", "/tag/" + token, {{"X-Text", value}}).code,
              ZENTA_E_BAD_HEADER);
  }
  EXPECT_EQ(TokenCount(token), 0) << "a refused request reached the server";
}

TEST_F(WinHttp, StatusContentTypeAndBodyArePassedOn) {
  Session session(ServerUrl());
  const struct {
    const char* target;
    int status;
    const char* contentType;
    const char* body;
  } rows[] = {
      {"/body/made", 200, "text/plain", "made"},
      {"/status/201/type/application%2Fjson;%20charset=utf-8/body/%7B%7D", 201,
       "application/json; charset=utf-8", "{}"},
      {"/status/404/type/application%2Fjson/body/%7B%22code%22:404%7D", 404, "application/json",
       "{\"code\":404}"},
      {"/status/502/type/text%2Fhtml/body/%3Chtml%3E", 502, "text/html", "<html>"},
      {"/status/204/type/-/body/", 204, "", ""},
      {"/status/301/location/%2Felsewhere/body/moved", 301, "text/plain", "moved"},
      {"/status/599/body/odd", 599, "text/plain", "odd"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.target);
    const Result result = Perform(session.Handle(), "GET", row.target);
    ASSERT_EQ(result.code, ZENTA_OK);
    EXPECT_EQ(result.answer.status, row.status);
    EXPECT_EQ(result.answer.contentType, row.contentType);
    EXPECT_EQ(result.Body(), row.body);
  }
}

// Answers that have no body by nature may announce a length all the same.
TEST_F(WinHttp, BodylessAnswersAreCompleteWithoutTheirAnnouncedBody) {
  Session session(ServerUrl());
  const struct {
    const char* method;
    const char* target;
    int status;
  } rows[] = {
      {"HEAD", "/h", 200},
      {"HEAD", "/bytes/100000000", 200},  // above the default cap, but nothing comes
      {"GET", "/status/304/body/not-sent", 304},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.method) + " " + row.target);
    const Result result = Perform(session.Handle(), row.method, row.target);
    EXPECT_EQ(result.code, ZENTA_OK);
    EXPECT_EQ(result.answer.status, row.status);
    EXPECT_TRUE(result.answer.body.empty());
  }
  // The connection is still in step: the next answer is the next request's.
  const Result after = Perform(session.Handle(), "GET", "/after");
  ASSERT_EQ(after.code, ZENTA_OK);
  EXPECT_EQ(ParseEcho(after.Body()).requestLine, "GET /after HTTP/1.1");
}

TEST_F(WinHttp, AnswersAboveTheCapAreRefused) {
  constexpr int kCap = 300000;  // more than one read of the transport's
  ZENTA_SessionOptions options = corvane_test::Options(0, 0, 0);
  options.maxAnswerBytes = kCap;
  Session session(ServerUrl(), &options);
  const std::string cap = std::to_string(kCap);
  const std::string overCap = std::to_string(kCap + 1);
  const struct {
    std::string target;
    int expected;
  } rows[] = {
      {"/bytes/" + cap, ZENTA_OK},
      {"/chunked/" + cap, ZENTA_OK},
      {"/bytes/" + overCap, ZENTA_E_ANSWER_TOO_LARGE},
      {"/chunked/" + overCap, ZENTA_E_ANSWER_TOO_LARGE},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.target);
    const Result result = Perform(session.Handle(), "GET", row.target);
    EXPECT_EQ(result.code, row.expected);
    if (row.expected == ZENTA_OK) {
      EXPECT_EQ(result.answer.body, std::vector<char>(kCap, 'a'));
    }
  }
}

TEST_F(WinHttp, SequentialCallsReuseOneConnection) {
  Session session(ServerUrl());
  std::set<std::string> connections;
  for (int i = 0; i < 12; ++i) {
    const bool post = i % 2 == 1;
    const Result result = Perform(session.Handle(), post ? "POST" : "GET",
                                  "/seq/" + std::to_string(i), {}, post ? "{\"i\":1}" : "");
    ASSERT_EQ(result.code, ZENTA_OK) << i;
    connections.insert(ParseEcho(result.Body()).connection);
  }
  EXPECT_EQ(connections.size(), 1u);
}

TEST_F(WinHttp, ParallelCallsShareAtMostMaxConnections) {
  const ZENTA_SessionOptions options = corvane_test::Options(0, 0, 3);
  Session session(ServerUrl(), &options);
  constexpr int kThreads = 6;
  constexpr int kCalls = 8;
  std::atomic<int> wrong{0};
  std::mutex mutex;
  std::set<std::string> connections;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kCalls; ++i) {
        const std::string target = "/delay/20/t" + std::to_string(t) + "/c" + std::to_string(i);
        const Result result = Perform(session.Handle(), "GET", target);
        const corvane_test::Echo echo = ParseEcho(result.Body());
        if (result.code != ZENTA_OK || echo.requestLine != "GET " + target + " HTTP/1.1") ++wrong;
        std::lock_guard<std::mutex> lock(mutex);
        connections.insert(echo.connection);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_LE(connections.size(), 3u);
  EXPECT_GT(connections.size(), 1u) << "the calls did not run side by side";
}

TEST_F(WinHttp, RequestTimeoutEndsASlowExchange) {
  const ZENTA_SessionOptions options = corvane_test::Options(0, 300, 0);
  Session session(ServerUrl(), &options);
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(Perform(session.Handle(), "GET", "/delay/3000/slow").code, ZENTA_E_TIMEOUT);
  EXPECT_LT(MillisecondsSince(start), 2500) << "the answer was awaited, not cut at the timeout";
}

TEST_F(WinHttp, WaitingForAConnectionCountsTowardTheTimeout) {
  // One connection; each exchange takes 600 ms of a 1000 ms budget, so the second call, which
  // first waits for the first one, runs out of time.
  const ZENTA_SessionOptions options = corvane_test::Options(0, 1000, 1);
  Session session(ServerUrl(), &options);
  const std::string token = Token("first");
  int first = 1;
  std::thread firstCall(
      [&] { first = Perform(session.Handle(), "GET", "/tag/" + token + "/delay/600/a").code; });
  while (TokenCount(token) == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(Perform(session.Handle(), "GET", "/delay/600/b").code, ZENTA_E_TIMEOUT);
  firstCall.join();
  EXPECT_EQ(first, ZENTA_OK);
}

TEST_F(WinHttp, CloseFailsCallsWaitingForAConnection) {
  const ZENTA_SessionOptions options = corvane_test::Options(0, 0, 1);
  Session session(ServerUrl(), &options);
  const std::string token = Token("running");
  int running = 1;
  int waiting = 1;
  std::thread runningCall(
      [&] { running = Perform(session.Handle(), "GET", "/tag/" + token + "/delay/800/a").code; });
  while (TokenCount(token) == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  std::thread waitingCall([&] { waiting = Perform(session.Handle(), "GET", "/b").code; });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(session.Close(), ZENTA_OK);
  runningCall.join();
  waitingCall.join();
  EXPECT_EQ(running, ZENTA_OK);
  EXPECT_TRUE(waiting == ZENTA_E_SESSION_CLOSED || waiting == ZENTA_E_UNKNOWN_HANDLE) << waiting;
}

TEST_F(WinHttp, TransportFailuresHaveTheirCodes) {
  const std::string echoPort = ServerUrl().substr(ServerUrl().rfind(':') + 1);
  const struct {
    const char* name;
    std::string url;
    std::string target;
    int expected;
  } rows[] = {
      {"nothing listens", "http://127.0.0.1:" + std::to_string(ClosedPort()), "/x",
       ZENTA_E_CONNECT},
      {"TLS to a plain HTTP server", "https://127.0.0.1:" + echoPort, "/x", ZENTA_E_TLS},
      {"closed without an answer", ServerUrl(), "/close-once/" + Token("closed") + "/x",
       ZENTA_E_RECEIVE},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Session session(row.url);
    EXPECT_EQ(Perform(session.Handle(), "GET", row.target).code, row.expected);
  }
}

// A reset during the answer on a reused connection: a GET (safe) is sent once more, never a POST.
TEST_F(WinHttp, OnlyGetIsRepeatedAfterAResetOnAReusedConnection) {
  const struct {
    const char* method;
    int expected;
    int sent;
  } rows[] = {{"GET", ZENTA_OK, 2}, {"POST", ZENTA_E_RECEIVE, 1}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.method);
    Session session(ServerUrl());
    ASSERT_EQ(Perform(session.Handle(), row.method, "/first").code, ZENTA_OK);
    const std::string token = Token(std::string("reset-") + row.method);
    EXPECT_EQ(Perform(session.Handle(), row.method, "/reset-once/" + token + "/second").code,
              row.expected);
    EXPECT_EQ(TokenCount(token), row.sent);
  }
}

TEST_F(WinHttp, AnswerlessCloseOfAFreshConnectionIsNotRetried) {
  Session session(ServerUrl());
  const std::string token = Token("fresh");
  EXPECT_EQ(Perform(session.Handle(), "GET", "/close-once/" + token + "/x").code, ZENTA_E_RECEIVE);
  EXPECT_EQ(TokenCount(token), 1);
}

TEST_F(WinHttp, CaFileIsRefusedWhereItWouldBeUsed) {
  const struct {
    const char* url;
    int verifyTls;
    int expected;
  } rows[] = {
      {"https://127.0.0.1:8443", 0, ZENTA_E_BAD_OPTION},
      {"https://127.0.0.1:8443", 1, ZENTA_E_BAD_OPTION},
      {"https://127.0.0.1:8443", 2, ZENTA_OK},  // nothing is verified
      {"http://127.0.0.1:8080", 0, ZENTA_OK},   // no TLS at all
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.url) + " verifyTls " + std::to_string(row.verifyTls));
    ZENTA_SessionOptions options = corvane_test::Options(0, 0, 0);
    options.verifyTls = row.verifyTls;
    options.caFile = "C:\\certs\\ca.pem";
    int handle = -1;
    EXPECT_EQ(ZENTA_OpenSession(row.url, &options, &handle), row.expected);
    if (handle > 0) {
      EXPECT_EQ(ZENTA_CloseSession(handle), ZENTA_OK);
    }
  }
}

// Corvane.dll over the real gateway: the HTTP status and content type decide what reaches the
// operation. The session's base path steers the echo server, so every operation's request gets
// the same answer.
TEST_F(WinHttp, LibraryOperationsSeeTheGatewaysMapping) {
  const struct {
    const char* name;
    std::string basePath;
    int expected;
    int enable;
  } rows[] = {
      {"200 envelope",
       "/type/application%2Fjson/body/%7B%22code%22:1000,%22data%22:%7B%22enable%22:7%7D%7D", 0, 7},
      {"404 JSON envelope: the server's code",
       "/status/404/type/application%2Fjson/body/"
       "%7B%22code%22:404,%22data%22:%7B%22enable%22:1%7D%7D",
       404, 1},
      {"502 HTML: the gateway's code", "/status/502/type/text%2Fhtml/body/%3Chtml%3E",
       ZENTA_E_HTTP_STATUS_BASE - 502, -5},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Session session(ServerUrl() + row.basePath);
    int enable = -5;
    EXPECT_EQ(Corvane::API_GetAIPrivacyConfig(session.Handle(), enable), row.expected);
    EXPECT_EQ(enable, row.enable);
  }
  EXPECT_EQ(zenta::OutstandingAnswerBuffers(), 0u);
}

TEST_F(WinHttp, LibraryPostOperationReadsItsAnswer) {
  Corvane::SetMacAddress("0A:0B");
  Session session(ServerUrl() +
                  "/type/application%2Fjson/body/"
                  "%7B%22code%22:1000,%22data%22:%7B%22planId%22:4,%22now%22:9000000000%7D%7D");
  Corvane::StartRemoteRecordReq request{session.Handle(), "ch-1", 1, 30};
  Corvane::StartRemoteRecordRsp result;
  EXPECT_EQ(Corvane::API_StartRemoteRecord(request, result), 0);
  EXPECT_EQ(result.planId, 4);
  EXPECT_EQ(result.now, 9000000000LL);
  EXPECT_EQ(zenta::OutstandingAnswerBuffers(), 0u);
}

TEST_F(WinHttp, ExceptionsCrossTheDllBoundaryWithTheirType) {
  Session session(ServerUrl() +
                  "/type/application%2Fjson/body/"
                  "%7B%22code%22:1000,%22data%22:%7B%22results%22:%5B%7B%22key%22:%22k%22,"
                  "%22value%22:%221%22%7D%5D%7D%7D");
  std::map<int, int> mapping;
  try {
    Corvane::API_QueryDictionaryMapper(session.Handle(), 1, mapping);
    ADD_FAILURE() << "no exception";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "invalid stoi argument");
  }
  EXPECT_EQ(zenta::OutstandingAnswerBuffers(), 0u);
}

}  // namespace
