// The hostile-server rows of tests/gateway/HostileRows.h through ZENTA.dll (libcurl over
// Schannel), under wine, against corvane-hostile-server on the Linux side (CORVANE_SERVER_URL),
// which serves each row's replies by the row's number. Every row expects what it expects on
// Linux. Besides: deadlines against an answer or a TLS handshake that trickles in.
#include <gtest/gtest.h>
#include <zenta/ZentaSdk.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

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

TEST(Hostile, EveryAnswerIsTheRequestsOwnAndNothingUnsafeIsSentTwice) {
  const std::vector<hostile::OwnRow> rows = hostile::OwnAnswerRows();
  for (std::size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(rows[i].name);
    const std::string name = "own/" + std::to_string(i);
    CheckOwnRow(ServerUrl() + "/" + name, rows[i]);
    EXPECT_EQ(Ask("count/" + name), std::to_string(rows[i].requests)) << "requests that reached it";
  }
}

TEST(Hostile, EveryAnswerIsFramedExactlyOrRefused) {
  const std::string tlsUrl = Ask("tls-url");
  ASSERT_EQ(tlsUrl.compare(0, 8, "https://"), 0) << tlsUrl;
  const std::vector<hostile::FramingRow> rows = hostile::FramingRows();
  for (std::size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(rows[i].name);
    CheckFramingRow((rows[i].https ? tlsUrl : ServerUrl()) + "/framing/" + std::to_string(i),
                    rows[i]);
  }
}

// The request timeout bounds every wait of an exchange: a body, a head or a TLS handshake that
// trickles in, a byte every 100 ms, ends with the deadline, not long after.
TEST(Hostile, WhatTricklesEndsWithTheDeadline) {
  const std::string trickler = Ask("trickle-tls-url");
  ASSERT_EQ(trickler.compare(0, 8, "https://"), 0) << trickler;
  const struct {
    std::string url;
    const char* target;
    int timeoutMs;
  } rows[] = {{ServerUrl(), "trickle/100", 1000},
              {ServerUrl(), "trickle/100", 2000},
              {ServerUrl(), "trickle-head", 2000},
              {trickler, "x", 2000}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.url + "/" + row.target);
    const ZENTA_SessionOptions options = Options(0, row.timeoutMs);
    Session session(row.url, options);
    RequestRecord record("GET", row.target);
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(Send(session.Handle(), record).code, ZENTA_E_TIMEOUT) << LastDetail();
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    EXPECT_GE(took.count(), row.timeoutMs - 50);
    EXPECT_LT(took.count(), row.timeoutMs + 500);
  }
}

}  // namespace
}  // namespace gateway_test
