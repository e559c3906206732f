// What goes on the wire for a record, and how answers come back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EchoServer.h"
#include "GatewayTestSupport.h"
#include "ZentaInternal.h"

namespace gateway_test {
namespace {

TEST(Target, OnlyBytesThatCannotStandInATargetAreEncoded) {
  TestServer server;
  Session session(server.Url("/platform"));
  const struct {
    std::string path;
    std::string target;
  } rows[] = {
      {"api/v1/devices", "/platform/api/v1/devices"},
      {"", "/platform/"},
      {"a b", "/platform/a%20b"},
      {"list?page=1&size=%41", "/platform/list?page=1&size=%41"},
      {"q%zz", "/platform/q%zz"},
      {"\"<>\\^`{|}", "/platform/%22%3C%3E%5C%5E%60%7B%7C%7D"},
      {"tag#1", "/platform/tag%231"},
      {std::string("\x01\t\x1f\x7f", 4), "/platform/%01%09%1F%7F"},
      {"caf\xC3\xA9", "/platform/caf%C3%A9"},
      {"~!$'()*+,;=:@-._", "/platform/~!$'()*+,;=:@-._"},
      {"a/../b/./c//d", "/platform/a/../b/./c//d"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.path);
    RequestRecord record("GET", row.path);
    ASSERT_EQ(Send(session.Handle(), record).code, ZENTA_OK);
    EXPECT_EQ(server.Seen().back(), row.target);
  }
}

TEST(Target, BasePathIsJoinedWithOneSlash) {
  TestServer server;
  const struct {
    const char* base;
    const char* path;
    const char* target;
  } rows[] = {
      {"", "a/b", "/a/b"},
      {"/", "a", "/a"},
      {"/platform/", "a", "/platform/a"},
      {"/p/q", "", "/p/q/"},
      {"/p%20q", "x", "/p%20q/x"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.base);
    Session session(server.Url(row.base));
    RequestRecord record("GET", row.path);
    ASSERT_EQ(Send(session.Handle(), record).code, ZENTA_OK);
    EXPECT_EQ(server.Seen().back(), row.target);
  }
}

TEST(Target, FullWidthPathIsReadWithinItsField) {
  TestServer server;
  Session session(server.Url());
  RequestRecord record("GET", std::string(2048, 'p'));
  record.Poke(2070, 'Z').Poke(2071, 'Z');  // the padding right after the field
  ASSERT_EQ(Send(session.Handle(), record).code, ZENTA_OK);
  EXPECT_EQ(server.Seen().back(), "/" + std::string(2048, 'p'));
}

TEST(Wire, RequestBytesAreExactlyTheRecords) {
  corvane_test::EchoServer server;
  Session session(server.Url());
  const std::string longName(256, 'N');
  const std::string longValue(1024, 'v');
  struct Row {
    const char* name;
    RequestRecord record;
    std::string requestLine;
    std::vector<std::string> headersInOrder;  // must appear in this order
    std::vector<std::string> absentPrefixes;
    std::string body;
  };
  std::vector<Row> rows;
  rows.push_back({"ten-byte method, no terminator before the path",
                  RequestRecord("MKACTIVITY", "x"),
                  "MKACTIVITY /x HTTP/1.1",
                  {},
                  {"Expect:", "Content-Length:", "Content-Type:"},
                  ""});
  rows.push_back({"headers in record order, then the body",
                  RequestRecord("PUT", "p")
                      .Header("X-B", "2")
                      .Header("X-Empty", "")
                      .Header("X-A", "1")
                      .Header("x-b", "3")
                      .Header("Content-Type", "application/json")
                      .Body("{\"name\":\"caf\xC3\xA9\"}"),
                  "PUT /p HTTP/1.1",
                  {"X-B: 2", "X-Empty:", "X-A: 1", "x-b: 3", "Content-Type: application/json",
                   "Content-Length: 16"},
                  {"Expect:", "Transfer-Encoding:"},
                  "{\"name\":\"caf\xC3\xA9\"}"});
  rows.push_back({"POST without a body announces an empty one",
                  RequestRecord("POST", "empty"),
                  "POST /empty HTTP/1.1",
                  {"Content-Length: 0"},
                  {"Content-Type:", "Expect:"},
                  ""});
  rows.push_back({"lengths past the field width are clamped to it",
                  RequestRecord("GET", "long").RawHeader(longName, 4000, longValue, 4000),
                  "GET /long HTTP/1.1",
                  {longName + ": " + longValue},
                  {},
                  ""});
  rows.push_back({"CR LF in the path cannot start a header of its own",
                  RequestRecord("GET", "x\r\nX-Evil: 1\r\n"),
                  "GET /x%0D%0AX-Evil:%201%0D%0A HTTP/1.1",
                  {},
                  {"X-Evil", longName},  // nor does the previous request's header stay
                  ""});
  rows.push_back({"a request of the same kind sends its own headers, not the last one's",
                  RequestRecord("GET", "x").Header("X-Z", "9"),
                  "GET /x HTTP/1.1",
                  {"X-Z: 9"},
                  {"X-Evil", longName},
                  ""});
  rows.push_back({"a matching Content-Length is sent once",
                  RequestRecord("POST", "cl").Header("Content-Length", "2").Body("{}"),
                  "POST /cl HTTP/1.1",
                  {"Content-Length: 2"},
                  {"Content-Type:"},
                  "{}"});
  rows.push_back({"the next POST sends its own body and length",
                  RequestRecord("POST", "cl").Body("[10]"),
                  "POST /cl HTTP/1.1",
                  {"Content-Length: 4"},
                  {"Content-Length: 2", "Content-Type:"},
                  "[10]"});
  for (Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Outcome outcome = Send(session.Handle(), row.record);
    ASSERT_EQ(outcome.code, ZENTA_OK);
    const corvane_test::Echo echo = corvane_test::ParseEcho(outcome.answer);
    EXPECT_EQ(echo.requestLine, row.requestLine);
    std::size_t next = 0;
    for (const std::string& header : row.headersInOrder) {
      while (next < echo.headers.size() && echo.headers[next] != header) ++next;
      EXPECT_LT(next, echo.headers.size()) << "missing or out of order: " << header.substr(0, 40);
    }
    for (const std::string& prefix : row.absentPrefixes) {
      EXPECT_EQ(corvane_test::CountStarting(echo.headers, prefix), 0u) << prefix;
    }
    EXPECT_LE(corvane_test::CountStarting(echo.headers, "Content-Length:"), 1u);
    EXPECT_EQ(echo.body, row.body);
  }
}

TEST(Answer, StatusAndContentTypeDecideWhatIsHandedOver) {
  TestServer server;
  Session session(server.Url());
  const struct {
    const char* name;
    int status;
    const char* contentType;  // null: no Content-Type header
    std::string body;
    int expected;
  } rows[] = {
      {"200 JSON", 200, "application/json", "{\"code\":0}", ZENTA_OK},
      {"201 text", 201, "text/plain", "made", ZENTA_OK},
      {"204 nothing", 204, nullptr, "", ZENTA_OK},
      {"404 JSON envelope", 404, "application/json; charset=utf-8", "{\"code\":404}", ZENTA_OK},
      {"500 problem+json", 500, "application/problem+json", "{\"title\":\"x\"}", ZENTA_OK},
      {"400 JSON, odd case and spaces", 400, " Application/JSON ;charset=utf-8", "{}", ZENTA_OK},
      {"502 HTML", 502, "text/html", "<html>bad gateway</html>", ZENTA_E_HTTP_STATUS_BASE - 502},
      {"404 without content type", 404, nullptr, "missing", ZENTA_E_HTTP_STATUS_BASE - 404},
      {"400 jsonp is not JSON", 400, "application/jsonp", "x()", ZENTA_E_HTTP_STATUS_BASE - 400},
      {"301 is not followed", 301, "text/plain", "moved", ZENTA_E_HTTP_STATUS_BASE - 301},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    server.Respond([&row](const httplib::Request&, httplib::Response& response) {
      response.status = row.status;
      if (row.status == 301) response.set_header("Location", "/elsewhere");
      if (row.contentType != nullptr) {
        response.set_content(row.body, row.contentType);
      } else {
        response.body = row.body;
      }
    });
    RequestRecord record("GET", "status");
    const Outcome outcome = Send(session.Handle(), record);
    EXPECT_EQ(outcome.code, row.expected);
    if (row.expected == ZENTA_OK) {
      EXPECT_EQ(outcome.answer, row.body);
      EXPECT_TRUE(outcome.terminated);
    } else {
      EXPECT_EQ(ZENTA_HttpStatusOf(outcome.code), row.status);
    }
  }
  EXPECT_EQ(server.Seen().size(), sizeof rows / sizeof rows[0]) << "a redirect was followed";
  EXPECT_EQ(zenta::OutstandingAnswerBuffers(), 0u);
}

TEST(Answer, BinaryAnswerIsNulTerminatedPastItsLength) {
  TestServer server;
  const std::string picture("\xFF\xD8\0\x01\0", 5);
  server.Respond([&](const httplib::Request&, httplib::Response& response) {
    response.set_content(picture, "image/jpeg");
  });
  Session session(server.Url());
  RequestRecord record("GET", "picture");
  const Outcome outcome = Send(session.Handle(), record);
  ASSERT_EQ(outcome.code, ZENTA_OK);
  EXPECT_EQ(outcome.answer, picture);
  EXPECT_TRUE(outcome.terminated);
}

// A reset after part of an answer: libcurl gives up on it, and the gateway itself repeats a GET
// (safe) once, on a fresh connection, but never a POST. The echo server counts the requests that
// carry the token.
TEST(Retry, OnlyGetIsRepeatedAfterAResetOnAReusedConnection) {
  const struct {
    const char* method;
    int expected;
    const char* sent;
  } rows[] = {{"GET", ZENTA_OK, "2"}, {"POST", ZENTA_E_RECEIVE, "1"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.method);
    corvane_test::EchoServer server;
    Session session(server.Url());
    RequestRecord first(row.method, "first");
    const Outcome kept = Send(session.Handle(), first);
    ASSERT_EQ(kept.code, ZENTA_OK);
    RequestRecord second(row.method, "reset-once/k/second");
    const Outcome retried = Send(session.Handle(), second);
    EXPECT_EQ(retried.code, row.expected);
    if (retried.code == ZENTA_OK) {
      EXPECT_NE(corvane_test::ParseEcho(retried.answer).connection,
                corvane_test::ParseEcho(kept.answer).connection);
    }
    RequestRecord count("GET", "count/k");
    EXPECT_EQ(Send(session.Handle(), count).answer, row.sent);
  }
}

TEST(Retry, AnswerlessCloseOfAFreshConnectionIsNotRetried) {
  corvane_test::EchoServer server;
  Session session(server.Url());
  RequestRecord record("GET", "close-once/k/x");
  EXPECT_EQ(Send(session.Handle(), record).code, ZENTA_E_RECEIVE);
  RequestRecord count("GET", "count/k");
  EXPECT_EQ(Send(session.Handle(), count).answer, "1");
}

}  // namespace
}  // namespace gateway_test
