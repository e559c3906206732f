// What only a transport does, through the C boundary (ZENTA_CarryRequest), checked for both:
// libcurl in gateway_tests on Linux, WinHTTP in winhttp_tests under wine. Both talk to the echo
// server (EchoServer.h), which answers with the request's own bytes, so these tests see exactly
// what went on the wire; leading segments of the target steer its answer. Where the transports
// differ on purpose (docs/windows.md), a row holds each platform's expectation. The session's
// rules (retries, the pool, closing) are checked once, over a fake transport, in PolicyTest.cpp.
#include <gtest/gtest.h>
#include <zenta/ZentaSdk.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Boundary.h"
#include "EchoServer.h"
#include "GatewaySession.h"

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

#else
constexpr bool kWinHttp = false;
// CTest runs every test in a process of its own, so each test gets a fresh server.
std::string ServerUrl() {
  static const corvane_test::EchoServer server;
  return server.Url();
}
#endif

// Port 1 of 127.0.0.1, where nothing listens.
const char* const kClosedUrl = "http://127.0.0.1:1";

struct Header {
  std::string name, value;
};

struct Result {
  int code = 0;
  int status = 0;
  std::string contentType;
  std::string body;
};

Result Perform(int handle, const std::string& method, const std::string& target,
               const std::vector<Header>& headers = {}, const std::string& body = "") {
  std::vector<ZENTA_HttpHeader> items;
  for (const Header& h : headers) {
    items.push_back({h.name.data(), h.name.size(), h.value.data(), h.value.size()});
  }
  const ZENTA_HttpRequest request{method.data(), method.size(), target.data(), target.size(),
                                  items.data(),  items.size(),  body.data(),   body.size()};
  ZENTA_HttpAnswer answer{};
  Result result;
  result.code = ZENTA_CarryRequest(handle, &request, &answer);
  if (result.code == ZENTA_OK) {
    result.status = answer.status;
    result.contentType.assign(answer.contentType, answer.contentTypeLength);
    result.body.assign(answer.body, answer.bodyLength);
    EXPECT_EQ(answer.body[answer.bodyLength], '\0');
    ZENTA_DropAnswer(&answer);
  }
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
  return result.code == ZENTA_OK ? std::atoi(result.body.c_str()) : -1;
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
    std::vector<Header> headers;
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
    EXPECT_EQ(result.status, 200);
    const corvane_test::Echo echo = ParseEcho(result.body);
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
      const std::vector<std::string> headers = ParseEcho(result.body).headers;
      EXPECT_EQ(std::count(headers.begin(), headers.end(), "X-Text: " + value), 1)
          << Printable(headers);
    }
  }
  EXPECT_EQ(TokenCount(token), kWinHttp ? 0 : 4);
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
    EXPECT_EQ(result.status, row.status);
    EXPECT_TRUE(result.body.empty());
  }
  // The connection is still in step: the next answer is the next request's.
  const Result after = Perform(session.Handle(), "GET", "/after");
  ASSERT_EQ(after.code, ZENTA_OK);
  EXPECT_EQ(ParseEcho(after.body).requestLine, "GET /after HTTP/1.1");
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
      EXPECT_EQ(result.body, std::string(kCap, 'a'));
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
    connections.insert(ParseEcho(result.body).connection);
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
  const std::string closed = Token("closed");
  const struct {
    std::string url;
    std::string target;
    int expected;
    const char* says;
  } rows[] = {
      {kClosedUrl, "/x", ZENTA_E_CONNECT, "refused"},
      {"http://no-such-host.invalid", "/x", ZENTA_E_RESOLVE, "no-such-host.invalid"},
      {"https" + ServerUrl().substr(4), "/x", ZENTA_E_TLS, kWinHttp ? "during TLS" : "SSL"},
      {ServerUrl(), "/close-once/" + closed + "/x", ZENTA_E_RECEIVE, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.url + row.target);
    Session session(row.url);
    EXPECT_EQ(Perform(session.Handle(), "GET", row.target).code, row.expected);
    char detail[512];
    ZENTA_LastErrorDetail(detail, sizeof detail);
    EXPECT_NE(std::string(detail).find(row.says), std::string::npos) << detail;
    EXPECT_NE(std::string(detail), ZENTA_ErrorText(row.expected)) << "only the code's text";
  }
  EXPECT_EQ(TokenCount(closed), 1) << "a fresh connection's answerless close was retried";
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
