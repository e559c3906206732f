// The hostile-server rows of tests/gateway/HostileRows.h through ZENTA.dll over WinHTTP, under
// wine, against corvane-hostile-server on the Linux side (CORVANE_SERVER_URL), which serves each
// row's replies by the row's number. The rows expect what the libcurl transport does; where
// WinHTTP under wine does otherwise, the row's WinHTTP expectation and the reason are below
// (docs/windows.md lists them).
#include <gtest/gtest.h>
#include <zenta/ZentaSdk.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <string>
#include <tuple>
#include <utility>

#include "GatewayTestSupport.h"
#include "HostileRows.h"

namespace gateway_test {
namespace {

using Clock = std::chrono::steady_clock;

std::string ServerUrl() {
  const char* url = std::getenv("CORVANE_SERVER_URL");
  EXPECT_NE(url, nullptr) << "CORVANE_SERVER_URL is not set: run through CTest";
  return url == nullptr ? std::string() : std::string(url);
}

// An answer of the server's own, on a session of its own.
std::string Ask(const std::string& target) {
  Session session(ServerUrl());
  RequestRecord record("GET", target);
  return Send(session.Handle(), record).answer;
}

TEST(HostileWinHttp, EveryAnswerIsTheRequestsOwnAndNothingUnsafeIsSentTwice) {
  const std::map<std::string, std::tuple<int, std::string, int>> differs = {
      // Every exchange has a connection of its own (docs/windows.md): a reset on it is no idle
      // close of a reused connection, and nothing is sent again.
      {"GET read, then reset: sent again", {ZENTA_E_RECEIVE, "", 2}},
      // wine fails an answer that begins with an interim 100 head (ERROR_WINHTTP_INVALID_SERVER_
      // RESPONSE), and reports a close and an answer that is not HTTP with the same error.
      {"an interim 100 head first", {ZENTA_E_RECEIVE, "", 2}},
      {"{\"code\":0}", {ZENTA_E_RECEIVE, "", 2}}};
  const std::vector<hostile::OwnRow> rows = hostile::OwnAnswerRows();
  for (std::size_t i = 0; i < rows.size(); ++i) {
    hostile::OwnRow row = rows[i];
    SCOPED_TRACE(row.name);
    const auto other = differs.find(row.name);
    if (other != differs.end()) std::tie(row.expected, row.answer, row.requests) = other->second;
    const std::string name = "own/" + std::to_string(i);
    CheckOwnRow(ServerUrl() + "/" + name, row);
    EXPECT_EQ(Ask("count/" + name), std::to_string(row.requests)) << "requests that reached it";
  }
}

TEST(HostileWinHttp, EveryAnswerIsFramedExactlyOrRefused) {
  const std::map<std::string, std::pair<int, std::string>> differs = {
      // AnswerHead refuses the version before libcurl's own words could.
      {"HTTP/1.2", {ZENTA_E_PROTOCOL, "is not HTTP/1.0 or HTTP/1.1"}},
      // wine hands over the bytes past the length; the transport refuses them rather than
      // stopping at the length as libcurl does.
      {"a body longer than its length, then closed", {ZENTA_E_PROTOCOL, "past its Content-Length"}},
      // wine's own: it decodes chunked coding before the transport sees the body, reading "0x5d"
      // as a chunk of 93 bytes, and the head it gives does not hold a 100 KiB line as it came.
      {"a chunk size with 0x", {0, "93"}},
      {"a header line of 100 KiB", {0, "4096"}}};
  const std::string tlsUrl = Ask("tls-url");
  ASSERT_EQ(tlsUrl.compare(0, 8, "https://"), 0) << tlsUrl;
  const std::vector<hostile::FramingRow> rows = hostile::FramingRows();
  for (std::size_t i = 0; i < rows.size(); ++i) {
    hostile::FramingRow row = rows[i];
    SCOPED_TRACE(row.name);
    const auto other = differs.find(row.name);
    if (other != differs.end()) std::tie(row.expected, row.detail) = other->second;
    CheckFramingRow((row.https ? tlsUrl : ServerUrl()) + "/framing/" + std::to_string(i), row);
  }
}

// A body that trickles in, a byte every 100 ms, ends with the request's deadline, not long after.
TEST(HostileWinHttp, ATricklingBodyEndsWithTheDeadline) {
  for (const int timeoutMs : {1000, 2000}) {
    const ZENTA_SessionOptions options = Options(0, timeoutMs);
    Session session(ServerUrl(), options);
    RequestRecord record("GET", "trickle/100");
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(Send(session.Handle(), record).code, ZENTA_E_TIMEOUT);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    EXPECT_GE(took.count(), timeoutMs - 50);
    EXPECT_LT(took.count(), timeoutMs + 400);
  }
}

}  // namespace
}  // namespace gateway_test
