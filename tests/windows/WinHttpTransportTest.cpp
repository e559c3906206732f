// Corvane.dll over the real Windows gateway (ZENTA.dll over WinHTTP, Ostrel.dll), under wine
// against corvane-echo-server on the Linux side (CORVANE_SERVER_URL). The transport itself is
// checked by tests/gateway/TransportTest.cpp, which this program runs too. A session's base path
// steers the echo server (see tests/support/EchoServer.h), so every request gets the same answer.
#include <gtest/gtest.h>
#include <zenta/ZentaSdk.h>

#include <cstdlib>
#include <map>
#include <stdexcept>
#include <string>

#include "Corvane.h"
#include "GatewaySession.h"
#include "ZentaInternal.h"

namespace {

using corvane_test::Session;

// The URL of the echo server with base path, which answers every request with the envelope json.
std::string Answering(const std::string& basePath) {
  const char* url = std::getenv("CORVANE_SERVER_URL");
  EXPECT_NE(url, nullptr) << "CORVANE_SERVER_URL is not set: run through CTest";
  return std::string(url == nullptr ? "" : url) + basePath;
}

class Library : public testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(zenta::OutstandingAnswerBuffers(), 0u); }
};

// The HTTP status and content type decide what reaches the operation.
TEST_F(Library, OperationsSeeTheGatewaysMapping) {
  const struct {
    const char* name;
    std::string basePath;
    int expected;
    int enable;
  } rows[] = {
      {"200 envelope",
       "/type/application%2Fjson/body/%7B%22code%22:1000,%22data%22:%7B%22enable%22:7%7D%7D", 0, 7},
      {"502 HTML: the gateway's code", "/status/502/type/text%2Fhtml/body/%3Chtml%3E",
       ZENTA_E_HTTP_STATUS_BASE - 502, -5},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Session session(Answering(row.basePath));
    int enable = -5;
    EXPECT_EQ(Corvane::API_GetAIPrivacyConfig(session.Handle(), enable), row.expected);
    EXPECT_EQ(enable, row.enable);
  }
}

TEST_F(Library, ExceptionsCrossTheDllBoundaryWithTheirType) {
  Session session(
      Answering("/type/application%2Fjson/body/"
                "%7B%22code%22:1000,%22data%22:%7B%22results%22:%5B%7B%22key%22:%22k%22,"
                "%22value%22:%221%22%7D%5D%7D%7D"));
  std::map<int, int> mapping;
  try {
    Corvane::API_QueryDictionaryMapper(session.Handle(), 1, mapping);
    ADD_FAILURE() << "no exception";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "invalid stoi argument");
  }
}

}  // namespace
