// How a record becomes a request target, and how answers come back.
#include <gtest/gtest.h>

#include <algorithm>
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

// A method of the field's full ten bytes has no NUL after it, header lengths past their fields
// are clamped to the field widths, and a path's CR LF is encoded. The transport's own wire
// checks are in tests/transport.
TEST(Record, FieldsAreReadAtTheirFullWidth) {
  corvane_test::EchoServer server;
  Session session(server.Url());
  const std::string name(256, 'N');
  const std::string value(1024, 'v');
  RequestRecord record("MKACTIVITY", "x");
  record.RawHeader(name, 4000, value, 4000);
  const Outcome outcome = Send(session.Handle(), record);
  ASSERT_EQ(outcome.code, ZENTA_OK);
  const corvane_test::Echo echo = corvane_test::ParseEcho(outcome.answer);
  EXPECT_EQ(echo.requestLine, "MKACTIVITY /x HTTP/1.1");
  EXPECT_EQ(std::count(echo.headers.begin(), echo.headers.end(), name + ": " + value), 1);
  // CR LF in the path is encoded: it cannot start a header of its own.
  RequestRecord crlf("GET", "x\r\nX-Evil: 1\r\n");
  EXPECT_EQ(corvane_test::ParseEcho(Send(session.Handle(), crlf).answer).requestLine,
            "GET /x%0D%0AX-Evil:%201%0D%0A HTTP/1.1");
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
      {"binary, NUL bytes included", 200, "image/jpeg", std::string("\xFF\xD8\0\x01\0", 5),
       ZENTA_OK},
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

}  // namespace
}  // namespace gateway_test
