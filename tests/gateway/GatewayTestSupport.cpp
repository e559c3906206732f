#include "GatewayTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace gateway_test {

Outcome Send(int handle, RequestRecord& record) {
  ostrel::RestResponse response{};
  Outcome outcome;
  outcome.code = ZENTA_GeneralJsonRequest(handle, record.Get(), RequestRecord::kSize, &response,
                                          sizeof response);
  if (response.answer != nullptr) {
    EXPECT_EQ(outcome.code, ZENTA_OK) << "an answer buffer was left after a failure";
    const std::size_t length = static_cast<std::size_t>(std::max(response.answerLength, 0));
    outcome.answer.assign(response.answer, length);
    outcome.terminated = response.answer[length] == '\0';
    EXPECT_EQ(ZENTA_ReleaseDataBuffer(response.answer), ZENTA_OK);
  } else {
    EXPECT_NE(outcome.code, ZENTA_OK) << "success without an answer buffer";
  }
  EXPECT_EQ(response.auxBuffer, nullptr);
  return outcome;
}

std::string LastDetail() {
  char detail[512];
  ZENTA_LastErrorDetail(detail, sizeof detail);
  return detail;
}

std::string NextConnection(const std::string& url) {
  Session probe(url);
  RequestRecord record("GET", "probe");
  return ParseEcho(Send(probe.Handle(), record).answer).connection;
}

void CheckOwnRow(const std::string& url, const hostile::OwnRow& row) {
  Session session(url);
  RequestRecord get("GET", "a");
  ASSERT_EQ(Send(session.Handle(), get).code, ZENTA_OK);
  std::this_thread::sleep_for(std::chrono::milliseconds(250));  // idle, as between calls
  RequestRecord call(row.method, "b");
  if (row.method != "GET") call.Body("{\"start\":1}");
  const Outcome outcome = Send(session.Handle(), call);
  EXPECT_EQ(outcome.code, row.expected) << ZENTA_ErrorText(outcome.code) << ": " << LastDetail();
  EXPECT_EQ(outcome.answer, row.answer);
}

void CheckFramingRow(const std::string& url, const hostile::FramingRow& row) {
  ZENTA_SessionOptions options = Options(0, 2000, 0, 2);
  options.compression = row.compression;
  Session session(url, options);
  RequestRecord record("GET", "picture");
  const Outcome outcome = Send(session.Handle(), record);
  const std::string detail = LastDetail();
  EXPECT_EQ(outcome.code, row.expected) << ZENTA_ErrorText(outcome.code) << ": " << detail;
  if (row.expected == 0) {
    EXPECT_EQ(std::to_string(outcome.answer.size()), row.detail);
  } else {
    EXPECT_NE(detail.find(row.detail), std::string::npos) << detail;
  }
}

}  // namespace gateway_test
