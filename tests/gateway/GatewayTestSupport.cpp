#include "GatewayTestSupport.h"

#include <gtest/gtest.h>

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

std::string NextConnection(const std::string& url) {
  Session probe(url);
  RequestRecord record("GET", "probe");
  return ParseEcho(Send(probe.Handle(), record).answer).connection;
}

}  // namespace gateway_test
