// What only the transport does, through the C boundary (ZENTA_CarryRequest), checked on both
// platforms: libcurl over OpenSSL in gateway_tests on Linux, libcurl over Schannel in
// transport_tests under wine. Both talk to the echo server (EchoServer.h), which answers with the
// request's own bytes, so these tests see exactly what went on the wire; leading segments of the
// target steer its answer. The session's rules (retries, the pool, closing) are checked once,
// over a fake transport, in PolicyTest.cpp.
#include <gtest/gtest.h>
#include <zenta/ZentaSdk.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "GatewayTestSupport.h"
#include "ZentaInternal.h"

namespace gateway_test {
namespace {

using Clock = std::chrono::steady_clock;
using Headers = std::vector<std::pair<std::string, std::string>>;

#ifdef _WIN32
// corvane-echo-server runs on the Linux side; CTest hands its URL to every test.
std::string ServerUrl() {
  const char* url = std::getenv("CORVANE_SERVER_URL");
  return url == nullptr ? std::string() : std::string(url);
}
#else
// CTest runs every test in a process of its own, so each test gets a fresh server. The suite
// stops it (TearDownTestSuite) before exit, when libcurl's TLS library cleans up.
std::unique_ptr<corvane_test::EchoServer> echoServer;
std::string ServerUrl() {
  if (!echoServer) echoServer = std::make_unique<corvane_test::EchoServer>();
  return echoServer->Url();
}
#endif

// Sends method and path (without its leading "/") through Ostrel with headers and body.
Outcome Perform(int handle, const std::string& method, const std::string& target,
                const Headers& headers = {}, const std::string& body = "") {
  RequestRecord record(method, target.substr(1));
  for (const auto& [name, value] : headers) record.Header(name, value);
  if (!body.empty()) record.Body(body);
  return Send(handle, record);
}

// How many requests the echo server counted under token (unique per test), on a session of its own.
int TokenCount(const std::string& token) {
  Session session(ServerUrl());
  const Outcome result = Perform(session.Handle(), "GET", "/count/" + token);
  return result.code == ZENTA_OK ? std::atoi(result.answer.c_str()) : -1;
}

class Transport : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(ServerUrl().empty()) << "CORVANE_SERVER_URL is not set: run through CTest";
  }
#ifndef _WIN32
  static void TearDownTestSuite() { echoServer.reset(); }
#endif
};

// The rows run in order on one session, so each also shows that nothing of the request before it
// (headers, body, length) is sent again.
TEST_F(Transport, RequestBytesAreExactlyTheRequests) {
  Session session(ServerUrl());
  const std::string host = "Host: " + ServerUrl().substr(ServerUrl().find("//") + 2);
  const std::string name(256, 'N'), value(1024, 'v');
  const std::string utf8 = "caf\xC3\xA9 \xE6\x97\xA5 \xF0\x9F\x93\xB7";
  Headers many;  // more than a request holds without an allocation
  std::vector<std::string> manyLines;
  for (char c = 'a'; c <= 'l'; ++c) {
    many.push_back({std::string("X-") + c, std::string(1, c)});
    manyLines.push_back(many.back().first + ": " + c);
  }
  const struct {
    std::string method, target;
    Headers headers;
    std::string body;
    std::vector<std::string> inOrder;  // must appear in this order
    std::vector<std::string> absent;   // no line starts with these
  } rows[] = {
      {"GET",
       "/h",
       {{"X-B", "2"}, {"X-Utf8", utf8}, {"X-Empty", ""}, {"X-A", "1 \t x"}},
       "",
       {"X-B: 2", "X-Utf8: " + utf8, "X-Empty:", "X-A: 1 \t x"},
       {"Content-Length:", "Content-Type:", "Expect:", "Transfer-Encoding:", "Cookie:"}},
      {"MKACTIVITY", "/x", {{name, value}}, "", {name + ": " + value}, {"Expect:", "X-B:"}},
      {"GET", "/x", {{"X-Z", "9"}}, "", {"X-Z: 9"}, {name, "X-B:"}},
      {"GET", "/m", many, "", manyLines, {"X-Z:"}},
      {"PUT",
       "/p",
       {{"Content-Type", "application/json"}},
       "{\"n\":\"caf\xC3\xA9\"}",
       {"Content-Type: application/json", "Content-Length: 13"},
       {"Expect:"}},
      {"POST", "/empty", {}, "", {"Content-Length: 0"}, {"Content-Type:", "Expect:"}},
      {"PUT", "/empty", {}, "", {"Content-Length: 0"}, {"Content-Type:", "Expect:"}},
      {"PATCH", "/empty", {}, "", {"Content-Length: 0"}, {"Content-Type:", "Expect:"}},
      {"DELETE", "/d", {}, "", {}, {"Content-Length:"}},
      {"POST", "/cl", {{"Content-Length", "2"}}, "{}", {"Content-Length: 2"}, {"Content-Type:"}},
      {"POST", "/cl", {}, "[10]", {"Content-Length: 4"}, {"Content-Length: 2", "Content-Type:"}},
      {"GET", "/a%20b/../c/./d//e?x=%41&y=caf%C3%A9&z=a+b", {}, "", {}, {}}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.method + " " + row.target);
    const Outcome result = Perform(session.Handle(), row.method, row.target, row.headers, row.body);
    ASSERT_EQ(result.code, ZENTA_OK);
    const corvane_test::Echo echo = ParseEcho(result.answer);
    EXPECT_EQ(echo.requestLine, row.method + " " + row.target + " HTTP/1.1");
    auto next = echo.headers.begin();
    for (const std::string& header : row.inOrder) {
      next = std::find(next, echo.headers.end(), header);
      EXPECT_NE(next, echo.headers.end()) << "missing or out of order: " << header;
    }
    for (const std::string& prefix : row.absent) {
      EXPECT_EQ(corvane_test::CountStarting(echo.headers, prefix), 0u) << prefix;
    }
    EXPECT_LE(corvane_test::CountStarting(echo.headers, "Content-Length:"), 1u);
    // gzip is asked for in one line.
    EXPECT_EQ(std::count(echo.headers.begin(), echo.headers.end(), "Accept-Encoding: gzip"), 1);
    EXPECT_EQ(std::count(echo.headers.begin(), echo.headers.end(), host), 1) << host;
    EXPECT_EQ(echo.body, row.body);
  }
}

// Header bytes go out as they are, UTF-8 or not.
TEST_F(Transport, HeaderBytesThatAreNotUtf8) {
  Session session(ServerUrl());
  for (const std::string value : {"caf\xE9", "\xC3", "\xED\xA0\x80", "\xC0\xAF"}) {
    const Outcome result = Perform(session.Handle(), "GET", "/tag/latin1", {{"X-Text", value}});
    const std::vector<std::string> headers = ParseEcho(result.answer).headers;
    EXPECT_EQ(result.code, ZENTA_OK);
    EXPECT_EQ(std::count(headers.begin(), headers.end(), "X-Text: " + value), 1);
  }
  EXPECT_EQ(TokenCount("latin1"), 4);
}

// Answers that have no body by nature may announce a length all the same, and the cap holds
// whether the length is announced or not.
TEST_F(Transport, AnswerBodiesAreReadToTheirEndWithinTheCap) {
  constexpr int kCap = 300000;  // more than one read of either transport
  ZENTA_SessionOptions options = Options();
  options.maxAnswerBytes = kCap;
  Session session(ServerUrl(), &options);
  const std::string cap = std::to_string(kCap), overCap = std::to_string(kCap + 1);
  const struct {
    std::string method, target;
    int expected;
    std::size_t length;
  } rows[] = {{"HEAD", "/h", 0, 0},
              {"HEAD", "/bytes/100000000", 0, 0},  // above the cap, but nothing comes
              {"GET", "/status/304/body/not-sent", ZENTA_E_HTTP_STATUS_BASE - 304, 0},
              {"GET", "/bytes/" + cap, 0, kCap},
              {"GET", "/chunked/" + cap, 0, kCap},
              {"GET", "/bytes/" + overCap, ZENTA_E_ANSWER_TOO_LARGE, 0},
              {"GET", "/chunked/" + overCap, ZENTA_E_ANSWER_TOO_LARGE, 0}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.method + " " + row.target);
    const Outcome result = Perform(session.Handle(), row.method, row.target);
    EXPECT_EQ(result.code, row.expected);
    EXPECT_EQ(result.answer, std::string(row.length, 'a'));
  }
  // The connection is still in step: the next answer is the next request's.
  const Outcome after = Perform(session.Handle(), "GET", "/z");
  EXPECT_EQ(ParseEcho(after.answer).requestLine, "GET /z HTTP/1.1");
}

// One kept-alive connection carries sequential calls, GET and POST alike; the session checks it
// before each request.
TEST_F(Transport, SequentialCallsReuseOneConnection) {
  Session session(ServerUrl());
  std::set<std::string> connections;
  for (int i = 0; i < 100; ++i) {
    const bool post = i % 2 == 1;
    const Outcome result = Perform(session.Handle(), post ? "POST" : "GET",
                                   "/seq/" + std::to_string(i), {}, post ? "{\"i\":1}" : "");
    ASSERT_EQ(result.code, ZENTA_OK) << i;
    connections.insert(ParseEcho(result.answer).connection);
  }
  EXPECT_EQ(connections.size(), 1u);
}

TEST_F(Transport, RequestTimeoutEndsASlowExchange) {
  const ZENTA_SessionOptions options = Options(0, 300, 0);
  Session session(ServerUrl(), &options);
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(Perform(session.Handle(), "GET", "/delay/3000/slow").code, ZENTA_E_TIMEOUT);
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2500))
      << "the answer was awaited, not cut at the timeout";
}

// Each failure keeps the transport's own account of it (ZENTA_LastErrorDetail).
TEST_F(Transport, TransportFailuresHaveTheirCodesAndDetails) {
  struct Row {
    std::string url, target;
    int expected;
    const char* says;
  };
  std::vector<Row> rows = {
      {"http://127.0.0.1:1", "/x", ZENTA_E_CONNECT, "refused"},  // nothing listens on port 1
      {"http://no-such-host.invalid", "/x", ZENTA_E_RESOLVE, "no-such-host.invalid"},
      {"https" + ServerUrl().substr(4), "/x", ZENTA_E_TLS, "SSL"},
      {ServerUrl(), "/close-once/closed/x", ZENTA_E_RECEIVE, ""}};
  // Nine groups pass the session's own check of an IPv6 literal; libcurl refuses the URL.
  rows.push_back({"http://[1:2:3:4:5:6:7:8:9]", "/x", ZENTA_E_TRANSPORT, "bad/illegal"});
  for (const auto& row : rows) {
    SCOPED_TRACE(row.url + row.target);
    Session session(row.url);
    EXPECT_EQ(Perform(session.Handle(), "GET", row.target).code, row.expected);
    const std::string detail = LastDetail();
    EXPECT_NE(detail.find(row.says), std::string::npos) << detail;
    EXPECT_NE(detail, ZENTA_ErrorText(row.expected)) << "only the code's text";
  }
  EXPECT_EQ(TokenCount("closed"), 1) << "a fresh connection's answerless close was retried";
}

// The target a request arrived with, as the echo server saw it.
std::string TargetOf(const Outcome& outcome) {
  const std::string line = ParseEcho(outcome.answer).requestLine;
  const std::size_t start = line.find(' ') + 1;
  return line.substr(start, line.rfind(' ') - start);
}

TEST_F(Transport, OnlyBytesThatCannotStandInATargetAreEncodedBehindTheBasePath) {
  const struct {
    const char* base;
    std::string path;
    std::string target;
  } rows[] = {{"/platform", "api/v1/devices", "/platform/api/v1/devices"},
              {"/platform/", "", "/platform/"},
              {"", "list?page=1&size=%41 b", "/list?page=1&size=%41%20b"},
              {"/p%20q", "\"<>\\^`{|}#", "/p%20q/%22%3C%3E%5C%5E%60%7B%7C%7D%23"},
              {"", std::string("\x01\t\x7f\r\ncaf\xC3\xA9", 10), "/%01%09%7F%0D%0Acaf%C3%A9"},
              {"/", "~!$'()*+,;=:@-._/../b/./c//d", "/~!$'()*+,;=:@-._/../b/./c//d"},
              {"", std::string(2048, 'p'), "/" + std::string(2048, 'p')}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.path.substr(0, 40));
    Session session(ServerUrl() + row.base);
    RequestRecord record("GET", row.path);
    char* bytes = reinterpret_cast<char*>(&record.Fields());
    bytes[2070] = bytes[2071] = 'Z';  // the padding right after the path field
    EXPECT_EQ(TargetOf(Send(session.Handle(), record)), row.target);
  }
}

// Every byte but letters and digits percent-encoded, to stand as one value of an echo target.
std::string Escaped(const std::string& text) {
  std::string escaped;
  for (const char c : text) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(c));
    escaped += std::isalnum(static_cast<unsigned char>(c)) ? std::string(1, c) : hex;
  }
  return escaped;
}

TEST_F(Transport, StatusAndContentTypeDecideWhatIsHandedOver) {
  Session session(ServerUrl());
  const struct {
    int status;
    const char* contentType;  // null: no Content-Type header
    std::string body;
    int expected;
  } rows[] = {{201, "text/plain", "made", ZENTA_OK},
              {204, nullptr, "", ZENTA_OK},
              {404, "application/json; charset=utf-8", "{\"code\":404}", ZENTA_OK},
              {400, " Application/JSON ;charset=utf-8", "{}", ZENTA_OK},
              {502, "text/html", "<html>bad gateway</html>", ZENTA_E_HTTP_STATUS_BASE - 502},
              {404, nullptr, "missing", ZENTA_E_HTTP_STATUS_BASE - 404},
              {301, "text/plain", "moved", ZENTA_E_HTTP_STATUS_BASE - 301},
              {200, "image/jpeg", std::string("\xFF\xD8\0\x01\0", 5), ZENTA_OK}};
  for (const auto& row : rows) {
    SCOPED_TRACE(&row - rows);
    // Every request, and one to the redirect's target, is counted under "answer".
    RequestRecord record("GET", "tag/answer/status/" + std::to_string(row.status) + "/type/" +
                                    (row.contentType ? Escaped(row.contentType) : "-") +
                                    (row.status == 301 ? "/location/%2Ftag%2Fanswer" : "") +
                                    "/body/" + Escaped(row.body));
    const Outcome outcome = Send(session.Handle(), record);
    EXPECT_EQ(outcome.code, row.expected);
    if (row.expected == ZENTA_OK) {
      EXPECT_EQ(outcome.answer, row.body);
      EXPECT_TRUE(outcome.terminated);
    }
  }
  RequestRecord count("GET", "count/answer");
  EXPECT_EQ(Send(session.Handle(), count).answer, std::to_string(std::size(rows)))
      << "a redirect was followed";
  EXPECT_EQ(zenta::OutstandingAnswerBuffers(), 0u);
}

// A CA file that cannot be read is refused when the session opens, naming the option; where
// nothing is verified (verifyTls 2, or plain http) the field is ignored.
TEST_F(Transport, AnUnreadableCaFileIsRefusedAtOpen) {
  ZENTA_SessionOptions options = Options();
  options.caFile = "C:\\certs\\ca.pem";
  for (const int verifyTls : {0, 1, 2}) {  // 2: nothing is verified
    options.verifyTls = verifyTls;
    for (const char* url : {"https://127.0.0.1:8443", "http://127.0.0.1:8080"}) {
      int handle = -1;
      const bool refused = verifyTls < 2 && url[4] == 's';
      EXPECT_EQ(ZENTA_OpenSession(url, &options, &handle), refused ? ZENTA_E_BAD_OPTION : 0) << url;
      EXPECT_TRUE(!refused || LastDetail().find("caFile") != std::string::npos) << LastDetail();
      EXPECT_TRUE(handle == 0 || ZENTA_CloseSession(handle) == ZENTA_OK);
    }
  }
}

}  // namespace
}  // namespace gateway_test
