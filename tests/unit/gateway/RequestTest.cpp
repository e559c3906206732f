// How a record becomes a request target, and how answers come back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "GatewayTestSupport.h"
#include "ZentaInternal.h"

namespace gateway_test {
namespace {

// The target a request arrived with, as the echo server saw it.
std::string TargetOf(const Outcome& outcome) {
  const std::string line = ParseEcho(outcome.answer).requestLine;
  const std::size_t start = line.find(' ') + 1;
  return line.substr(start, line.rfind(' ') - start);
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

TEST(Target, OnlyBytesThatCannotStandInATargetAreEncoded) {
  const EchoServer server;
  Session session(server.Url() + "/platform");
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
    EXPECT_EQ(TargetOf(Send(session.Handle(), record)), row.target);
  }
}

TEST(Target, BasePathIsJoinedWithOneSlash) {
  const EchoServer server;
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
    Session session(server.Url() + row.base);
    RequestRecord record("GET", row.path);
    EXPECT_EQ(TargetOf(Send(session.Handle(), record)), row.target);
  }
}

TEST(Target, FullWidthPathIsReadWithinItsField) {
  const EchoServer server;
  Session session(server.Url());
  RequestRecord record("GET", std::string(2048, 'p'));
  record.Poke(2070, 'Z').Poke(2071, 'Z');  // the padding right after the field
  EXPECT_EQ(TargetOf(Send(session.Handle(), record)), "/" + std::string(2048, 'p'));
}

// A method of the field's full ten bytes has no NUL after it, header lengths past their fields
// are clamped to the field widths, and a path's CR LF is encoded. The transport's own wire
// checks are in tests/transport.
TEST(Record, FieldsAreReadAtTheirFullWidth) {
  const EchoServer server;
  Session session(server.Url());
  const std::string name(256, 'N');
  const std::string value(1024, 'v');
  RequestRecord record("MKACTIVITY", "x");
  record.RawHeader(name, 4000, value, 4000);
  const Outcome outcome = Send(session.Handle(), record);
  ASSERT_EQ(outcome.code, ZENTA_OK);
  const corvane_test::Echo echo = ParseEcho(outcome.answer);
  EXPECT_EQ(echo.requestLine, "MKACTIVITY /x HTTP/1.1");
  EXPECT_EQ(std::count(echo.headers.begin(), echo.headers.end(), name + ": " + value), 1);
  // CR LF in the path is encoded: it cannot start a header of its own.
  RequestRecord crlf("GET", "x\r\nX-Evil: 1\r\n");
  EXPECT_EQ(ParseEcho(Send(session.Handle(), crlf).answer).requestLine,
            "GET /x%0D%0AX-Evil:%201%0D%0A HTTP/1.1");
}

TEST(Answer, StatusAndContentTypeDecideWhatIsHandedOver) {
  const EchoServer server;
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
    } else {
      EXPECT_EQ(ZENTA_HttpStatusOf(outcome.code), row.status);
    }
  }
  RequestRecord count("GET", "count/answer");
  EXPECT_EQ(Send(session.Handle(), count).answer, std::to_string(sizeof rows / sizeof rows[0]))
      << "a redirect was followed";
  EXPECT_EQ(zenta::OutstandingAnswerBuffers(), 0u);
}

}  // namespace
}  // namespace gateway_test
