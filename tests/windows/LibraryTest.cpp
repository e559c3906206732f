// Corvane.dll over the real Windows gateway (ZENTA.dll over libcurl and Schannel, Ostrel.dll),
// under wine against corvane-echo-server on the Linux side (CORVANE_SERVER_URL). The transport
// itself is checked by tests/gateway/TransportTest.cpp, which this program runs too; the
// operations run through the gateway in windows.cli.demo. A session's base path
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
