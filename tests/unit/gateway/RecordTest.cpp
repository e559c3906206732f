// Checks on the request record and the answer buffers: a refused record sends nothing.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "GatewayTestSupport.h"
#include "ZentaInternal.h"

namespace gateway_test {
namespace {

TEST(Record, SizesAndNullPointersAreChecked) {
  const EchoServer server;
  Session session(server.Url());
  RequestRecord record("GET", "x");
  ResponseRecord response;
  const struct {
    const char* name;
    bool nullRequest;
    int requestSize;
    bool nullResponse;
    int responseSize;
    int expected;
  } rows[] = {
      {"null request", true, 2096, false, 56, ZENTA_E_NULL_ARGUMENT},
      {"null response", false, 2096, true, 56, ZENTA_E_NULL_ARGUMENT},
      {"request one byte short", false, 2095, false, 56, ZENTA_E_REQUEST_SIZE},
      {"request one byte long", false, 2097, false, 56, ZENTA_E_REQUEST_SIZE},
      {"request size negative", false, -2096, false, 56, ZENTA_E_REQUEST_SIZE},
      {"response one byte short", false, 2096, false, 55, ZENTA_E_RESPONSE_SIZE},
      {"response one byte long", false, 2096, false, 57, ZENTA_E_RESPONSE_SIZE},
      {"response size 0", false, 2096, false, 0, ZENTA_E_RESPONSE_SIZE},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(ZENTA_GeneralJsonRequest(
                  session.Handle(), row.nullRequest ? nullptr : record.Get(), row.requestSize,
                  row.nullResponse ? nullptr : response.bytes.data(), row.responseSize),
              row.expected);
  }
  EXPECT_EQ(response.Answer(), nullptr);
  EXPECT_EQ(NextConnection(server.Url()), "1") << "a request was sent";
}

TEST(Record, InconsistentRecordsAreRefusedAndNothingIsSent) {
  const EchoServer server;
  Session session(server.Url());
  struct Row {
    const char* name;
    std::function<void(RequestRecord&)> change;
    int expected;
  };
  const std::string nul(1, '\0');
  const std::vector<Row> rows = {
      {"negative body length", [](RequestRecord& r) { r.Body("{}").BodyFields(false, -1); },
       ZENTA_E_BAD_RECORD},
      {"null body with a length", [](RequestRecord& r) { r.BodyFields(true, 5); },
       ZENTA_E_BAD_RECORD},
      {"header count without headers", [](RequestRecord& r) { r.HeaderFields(true, 1); },
       ZENTA_E_BAD_RECORD},
      {"header count above 256",
       [](RequestRecord& r) { r.Header("Accept", "*/*").HeaderFields(false, 257); },
       ZENTA_E_BAD_RECORD},
      {"empty method", [](RequestRecord& r) { r.Method(""); }, ZENTA_E_BAD_METHOD},
      {"space in method", [](RequestRecord& r) { r.Method("GE T"); }, ZENTA_E_BAD_METHOD},
      {"CR LF in method", [](RequestRecord& r) { r.Method("GET\r\n"); }, ZENTA_E_BAD_METHOD},
      {"separator in method", [](RequestRecord& r) { r.Method("G(T)"); }, ZENTA_E_BAD_METHOD},
      {"empty header name", [](RequestRecord& r) { r.Header("", "v"); }, ZENTA_E_BAD_HEADER},
      {"space in header name", [](RequestRecord& r) { r.Header("X Y", "v"); }, ZENTA_E_BAD_HEADER},
      {"colon in header name", [](RequestRecord& r) { r.Header("X:Y", "v"); }, ZENTA_E_BAD_HEADER},
      {"CR LF in header name", [](RequestRecord& r) { r.Header("X\r\nEvil", "v"); },
       ZENTA_E_BAD_HEADER},
      {"CR LF in header value",
       [](RequestRecord& r) { r.Header("X-A", "ok").Header("X-B", "a\r\nX-Evil: 1"); },
       ZENTA_E_BAD_HEADER},
      {"LF in header value", [](RequestRecord& r) { r.Header("X-A", "a\nb"); }, ZENTA_E_BAD_HEADER},
      {"CR in header value", [](RequestRecord& r) { r.Header("X-A", "a\rb"); }, ZENTA_E_BAD_HEADER},
      {"NUL in header value", [nul](RequestRecord& r) { r.Header("X-A", "a" + nul + "b"); },
       ZENTA_E_BAD_HEADER},
      {"other control byte in header value", [](RequestRecord& r) { r.Header("X-A", "a\x01"); },
       ZENTA_E_BAD_HEADER},
      {"DEL in header value", [](RequestRecord& r) { r.Header("X-A", "a\x7f"); },
       ZENTA_E_BAD_HEADER},
      {"name length past the name text", [](RequestRecord& r) { r.RawHeader("X-A", 5, "v", 1); },
       ZENTA_E_BAD_HEADER},
      {"Transfer-Encoding", [](RequestRecord& r) { r.Header("Transfer-Encoding", "chunked"); },
       ZENTA_E_BAD_HEADER},
      {"Content-Length that is not the body's",
       [](RequestRecord& r) { r.Header("content-length", "5").Body("{}"); }, ZENTA_E_BAD_HEADER},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    RequestRecord record("GET", "x");
    row.change(record);
    EXPECT_EQ(Send(session.Handle(), record).code, row.expected);
  }
  EXPECT_EQ(NextConnection(server.Url()), "1") << "a connection was made";
}

TEST(Buffers, ReleaseTakesBackOnlyOutstandingAnswers) {
  const EchoServer server;
  Session session(server.Url());
  const std::size_t before = zenta::OutstandingAnswerBuffers();
  RequestRecord record("GET", "x");
  ResponseRecord response;
  ASSERT_EQ(ZENTA_GeneralJsonRequest(session.Handle(), record.Get(), RequestRecord::kSize,
                                     response.bytes.data(), 56),
            ZENTA_OK);
  char* answer = response.Answer();
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(response.AuxBuffer(), nullptr);
  EXPECT_EQ(zenta::OutstandingAnswerBuffers(), before + 1);

  char notOurs[8] = {};
  EXPECT_EQ(ZENTA_ReleaseDataBuffer(nullptr), ZENTA_OK);
  EXPECT_EQ(ZENTA_ReleaseDataBuffer(notOurs), ZENTA_E_UNKNOWN_BUFFER);
  EXPECT_EQ(ZENTA_ReleaseDataBuffer(answer + 1), ZENTA_E_UNKNOWN_BUFFER);
  EXPECT_EQ(ZENTA_ReleaseDataBuffer(answer), ZENTA_OK);
  EXPECT_EQ(ZENTA_ReleaseDataBuffer(answer), ZENTA_E_UNKNOWN_BUFFER) << "double release";
  EXPECT_EQ(zenta::OutstandingAnswerBuffers(), before);
}

TEST(Buffers, FailureClearsAStaleResponseRecord) {
  const EchoServer server;
  Session session(server.Url());
  RequestRecord record("GET", "status/503/body/busy");
  ResponseRecord response;
  response.bytes.fill(0xAB);
  EXPECT_EQ(ZENTA_GeneralJsonRequest(session.Handle(), record.Get(), RequestRecord::kSize,
                                     response.bytes.data(), 56),
            ZENTA_E_HTTP_STATUS_BASE - 503);
  EXPECT_EQ(response.Answer(), nullptr);
  EXPECT_EQ(response.AnswerLength(), 0);
  EXPECT_EQ(response.AuxBuffer(), nullptr);
  EXPECT_EQ(response.bytes[0], 0xAB) << "the reserved bytes are not the gateway's";
  EXPECT_EQ(zenta::OutstandingAnswerBuffers(), 0u);
}

}  // namespace
}  // namespace gateway_test
