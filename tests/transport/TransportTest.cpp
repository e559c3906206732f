// The platform's HTTP transport under a session (zenta::PerformRequest), checked once for both:
// libcurl in gateway_tests on Linux, WinHTTP in winhttp_tests under wine. Both talk to the echo
// server (EchoServer.h), which answers with the request's own bytes, so these tests see exactly
// what went on the wire; leading segments of the target steer its answer. Where the transports
// differ on purpose (docs/windows.md), a row holds each platform's expectation.
#include <gtest/gtest.h>
#include <zenta/ZentaSdk.h>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "EchoServer.h"
#include "GatewaySession.h"
#include "ZentaInternal.h"

namespace transport_test {
namespace {

using corvane_test::Options;
using corvane_test::ParseEcho;
using corvane_test::Session;
using Clock = std::chrono::steady_clock;

#ifdef _WIN32
constexpr bool kWinHttp = true;
// corvane-echo-server runs on the Linux side; CTest hands its URL to every test.
std::string ServerUrl() {
  const char* url = std::getenv("CORVANE_SERVER_URL");
  return url == nullptr ? std::string() : std::string(url);
}

// A 127.0.0.1 port on which nothing listens: a listener's, once it is closed.
std::string ClosedUrl() {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return "http://127.0.0.1:1";
  const SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int size = sizeof address;
  int port = 1;
  if (listener != INVALID_SOCKET &&
      bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
    port = ntohs(address.sin_port);
  }
  if (listener != INVALID_SOCKET) closesocket(listener);
  WSACleanup();
  return "http://127.0.0.1:" + std::to_string(port);
}
#else
constexpr bool kWinHttp = false;
// CTest runs every test in a process of its own, so each test gets a fresh server.
std::string ServerUrl() {
  static const corvane_test::EchoServer server;
  return server.Url();
}

std::string ClosedUrl() {
  const corvane_test::EchoServer gone;  // its port is closed once it stops
  return gone.Url();
}
#endif

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

// Header lines with bytes outside printable ASCII as \xHH, for failure messages.
std::string Printable(const std::vector<std::string>& headers) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (const std::string& header : headers) {
    for (char c : header) {
      const auto byte = static_cast<unsigned char>(c);
      text += byte >= 0x20 && byte < 0x7F ? std::string(1, c)
                                          : std::string("\\x") + kHex[byte >> 4] + kHex[byte & 15];
    }
    text.push_back('\n');
  }
  return text.substr(0, 400);
}

// A token no other test uses: the server counts tokens for its whole life.
std::string Token(const std::string& name) {
  return name + "-" + std::to_string(Clock::now().time_since_epoch().count());
}

// How many requests the echo server counted under token, asked on a session of its own.
int TokenCount(const std::string& token) {
  Session session(ServerUrl());
  const Result result = Perform(session.Handle(), "GET", "/count/" + token);
  return result.code == ZENTA_OK ? std::atoi(result.Body().c_str()) : -1;
}

void WaitUntilCounted(const std::string& token) {
  while (TokenCount(token) == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

class Transport : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(ServerUrl().empty()) << "CORVANE_SERVER_URL is not set: run through CTest";
  }
};

// The rows run in order on one session, so each also shows that nothing of the request before it
// (headers, body, length) is sent again.
TEST_F(Transport, RequestBytesAreExactlyTheRequests) {
  Session session(ServerUrl());
  const std::string host = "Host: " + ServerUrl().substr(ServerUrl().find("//") + 2);
  const std::string longName(256, 'N');
  const std::string longValue(1024, 'v');
  const std::string utf8 = "caf\xC3\xA9 \xE6\x97\xA5 \xF0\x9F\x93\xB7";
  struct Row {
    const char* name;
    std::string method;
    std::string target;
    std::vector<zenta::HttpHeader> headers;
    std::string body;
    std::vector<std::string> inOrder;  // must appear in this order
    std::vector<std::string> absent;   // no line starts with these
  };
  const std::vector<Row> rows = {
      {"headers in request order, UTF-8 byte for byte, an empty value as the platform sends it",
       "GET",
       "/h",
       {{"X-B", "2"}, {"X-Utf8", utf8}, {"X-Empty", ""}, {"X-A", "1 \t x"}, {"x-b", "3"}},
       "",
       {"X-B: 2", "X-Utf8: " + utf8, kWinHttp ? "X-Empty: " : "X-Empty:", "X-A: 1 \t x", "x-b: 3"},
       {"Content-Length:", "Content-Type:", "Expect:", "Transfer-Encoding:", "Cookie:"}},
      {"ten-byte method, long name and value",
       "MKACTIVITY",
       "/x",
       {{longName, longValue}},
       "",
       {longName + ": " + longValue},
       {"Expect:", "Content-Length:", "X-B:"}},
      {"a request of the same shape sends its own headers",
       "GET",
       "/x",
       {{"X-Z", "9"}},
       "",
       {"X-Z: 9"},
       {longName, "X-B:"}},
      {"PUT with a body: its length once, no type of the transport's own",
       "PUT",
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
      {"a matching Content-Length is sent once",
       "POST",
       "/cl",
       {{"Content-Length", "2"}},
       "{}",
       {"Content-Length: 2"},
       {"Content-Type:"}},
      {"the next POST sends its own body and length",
       "POST",
       "/cl",
       {},
       "[10]",
       {"Content-Length: 4"},
       {"Content-Length: 2", "Content-Type:"}},
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
    for (const std::string& header : row.inOrder) {
      while (next < echo.headers.size() && echo.headers[next] != header) ++next;
      EXPECT_LT(next, echo.headers.size())
          << "missing or out of order: " << Printable({header}) << "in:\n"
          << Printable(echo.headers);
    }
    for (const std::string& prefix : row.absent) {
      EXPECT_EQ(corvane_test::CountStarting(echo.headers, prefix), 0u) << prefix;
    }
    EXPECT_LE(corvane_test::CountStarting(echo.headers, "Content-Length:"), 1u);
    EXPECT_EQ(std::count(echo.headers.begin(), echo.headers.end(), host), 1) << host;
    EXPECT_EQ(echo.body, row.body);
  }
}

// libcurl sends header bytes as they are. WinHTTP writes header text as UTF-8, so bytes that are
// not UTF-8 could only go out altered: they do not go out at all.
TEST_F(Transport, HeaderBytesThatAreNotUtf8) {
  Session session(ServerUrl());
  const std::string token = Token("latin1");
  const std::string values[] = {"caf\xE9", "\xC3", "\xED\xA0\x80", "\xC0\xAF"};
  for (const std::string& value : values) {
    SCOPED_TRACE(Printable({value}));
    const Result result = Perform(session.Handle(), "GET", "/tag/" + token, {{"X-Text", value}});
    if (kWinHttp) {
      EXPECT_EQ(result.code, ZENTA_E_BAD_HEADER);
    } else {
      ASSERT_EQ(result.code, ZENTA_OK);
      const std::vector<std::string> headers = ParseEcho(result.Body()).headers;
      EXPECT_EQ(std::count(headers.begin(), headers.end(), "X-Text: " + value), 1)
          << Printable(headers);
    }
  }
  EXPECT_EQ(TokenCount(token), kWinHttp ? 0 : 4);
}

TEST_F(Transport, StatusContentTypeAndBodyArePassedOn) {
  Session session(ServerUrl());
  const struct {
    const char* target;
    int status;
    const char* contentType;
    std::string body;
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
      {"/type/image%2Fjpeg/body/%FF%D8%00%01%00", 200, "image/jpeg",
       std::string("\xFF\xD8\0\x01\0", 5)},
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
TEST_F(Transport, BodylessAnswersAreCompleteWithoutTheirAnnouncedBody) {
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
    ASSERT_EQ(result.code, ZENTA_OK) << ZENTA_ErrorText(result.code);
    EXPECT_EQ(result.answer.status, row.status);
    EXPECT_TRUE(result.answer.body.empty());
  }
  // The connection is still in step: the next answer is the next request's.
  const Result after = Perform(session.Handle(), "GET", "/after");
  ASSERT_EQ(after.code, ZENTA_OK);
  EXPECT_EQ(ParseEcho(after.Body()).requestLine, "GET /after HTTP/1.1");
}

TEST_F(Transport, AnswersAboveTheCapAreRefused) {
  constexpr int kCap = 300000;  // more than one read of either transport
  ZENTA_SessionOptions options = Options();
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

TEST_F(Transport, SequentialCallsReuseOneConnection) {
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

TEST_F(Transport, ParallelCallsShareAtMostMaxConnections) {
  const ZENTA_SessionOptions options = Options(0, 0, 3);
  Session session(ServerUrl(), &options);
  std::atomic<int> wrong{0};
  std::mutex mutex;
  std::set<std::string> connections;
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 8; ++i) {
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

TEST_F(Transport, RequestTimeoutEndsASlowExchange) {
  const ZENTA_SessionOptions options = Options(0, 300, 0);
  Session session(ServerUrl(), &options);
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(Perform(session.Handle(), "GET", "/delay/3000/slow").code, ZENTA_E_TIMEOUT);
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2500))
      << "the answer was awaited, not cut at the timeout";
}

TEST_F(Transport, WaitingForAConnectionCountsTowardTheTimeout) {
  // One connection; each exchange takes 600 ms of a 1000 ms budget, so the second call, which
  // first waits for the first one, runs out of time.
  const ZENTA_SessionOptions options = Options(0, 1000, 1);
  Session session(ServerUrl(), &options);
  const std::string token = Token("first");
  int first = 1;
  std::thread firstCall(
      [&] { first = Perform(session.Handle(), "GET", "/tag/" + token + "/delay/600/a").code; });
  WaitUntilCounted(token);
  EXPECT_EQ(Perform(session.Handle(), "GET", "/delay/600/b").code, ZENTA_E_TIMEOUT);
  firstCall.join();
  EXPECT_EQ(first, ZENTA_OK);
}

// Closing waits for the exchange under way, fails the call waiting for a connection without
// sending it, and leaves the handle unknown.
TEST_F(Transport, CloseWaitsForCallsUnderWayAndFailsTheRest) {
  const ZENTA_SessionOptions options = Options(0, 0, 1);
  Session session(ServerUrl(), &options);
  const int handle = session.Handle();
  const std::string running = Token("running");
  const std::string waiting = Token("waiting");
  int runningCode = 1;
  int waitingCode = 1;
  const Clock::time_point start = Clock::now();
  std::thread runningCall(
      [&] { runningCode = Perform(handle, "GET", "/tag/" + running + "/delay/800/a").code; });
  WaitUntilCounted(running);
  std::thread waitingCall([&] { waitingCode = Perform(handle, "GET", "/tag/" + waiting).code; });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(session.Close(), ZENTA_OK);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(800))
      << "the session closed before its exchange under way had its answer";
  runningCall.join();
  waitingCall.join();
  EXPECT_EQ(runningCode, ZENTA_OK);
  EXPECT_TRUE(waitingCode == ZENTA_E_SESSION_CLOSED || waitingCode == ZENTA_E_UNKNOWN_HANDLE)
      << waitingCode;
  EXPECT_EQ(TokenCount(waiting), 0) << "a call failed by the close was sent";
  EXPECT_EQ(Perform(handle, "GET", "/later").code, ZENTA_E_UNKNOWN_HANDLE);
  EXPECT_EQ(ZENTA_CloseSession(handle), ZENTA_E_UNKNOWN_HANDLE);
}

TEST_F(Transport, TransportFailuresHaveTheirCodes) {
  const std::string closed = Token("closed");
  const struct {
    const char* name;
    std::string url;
    std::string target;
    int expected;
  } rows[] = {
      {"nothing listens", ClosedUrl(), "/x", ZENTA_E_CONNECT},
      {"TLS to a plain HTTP server", "https" + ServerUrl().substr(4), "/x", ZENTA_E_TLS},
      {"closed without an answer", ServerUrl(), "/close-once/" + closed + "/x", ZENTA_E_RECEIVE},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Session session(row.url);
    EXPECT_EQ(Perform(session.Handle(), "GET", row.target).code, row.expected);
  }
  EXPECT_EQ(TokenCount(closed), 1) << "a fresh connection's answerless close was retried";
}

// A reset during the answer on a reused connection: a GET (safe) is sent once more, on another
// connection, but never a POST.
TEST_F(Transport, OnlyGetIsRepeatedAfterAResetOnAReusedConnection) {
  const struct {
    const char* method;
    int expected;
    int sent;
  } rows[] = {{"GET", ZENTA_OK, 2}, {"POST", ZENTA_E_RECEIVE, 1}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.method);
    Session session(ServerUrl());
    const Result kept = Perform(session.Handle(), row.method, "/first");
    ASSERT_EQ(kept.code, ZENTA_OK);
    const std::string token = Token(std::string("reset-") + row.method);
    const Result retried = Perform(session.Handle(), row.method, "/reset-once/" + token + "/x");
    EXPECT_EQ(retried.code, row.expected);
    if (retried.code == ZENTA_OK) {
      EXPECT_NE(ParseEcho(retried.Body()).connection, ParseEcho(kept.Body()).connection);
    }
    EXPECT_EQ(TokenCount(token), row.sent);
  }
}

// libcurl reads caFile as the trust store. WinHTTP takes none, so a session that would use one is
// refused at once; where nothing is verified the field is ignored on both.
TEST_F(Transport, CaFileIsRefusedWhereWinHttpWouldNeedIt) {
  const struct {
    const char* url;
    int verifyTls;
    int winHttp;
  } rows[] = {
      {"https://127.0.0.1:8443", 0, ZENTA_E_BAD_OPTION},
      {"https://127.0.0.1:8443", 1, ZENTA_E_BAD_OPTION},
      {"https://127.0.0.1:8443", 2, ZENTA_OK},  // nothing is verified
      {"http://127.0.0.1:8080", 0, ZENTA_OK},   // no TLS at all
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.url) + " verifyTls " + std::to_string(row.verifyTls));
    ZENTA_SessionOptions options = Options(0, 0, 0, row.verifyTls);
    options.caFile = "C:\\certs\\ca.pem";
    int handle = -1;
    EXPECT_EQ(ZENTA_OpenSession(row.url, &options, &handle), kWinHttp ? row.winHttp : ZENTA_OK);
    if (handle > 0) {
      EXPECT_EQ(ZENTA_CloseSession(handle), ZENTA_OK);
    }
  }
}

}  // namespace
}  // namespace transport_test
