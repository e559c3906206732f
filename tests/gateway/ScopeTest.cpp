// Calls that end before their answer does, against the simulated server's trickled answers.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "GatewayTestSupport.h"
#include "MockServer.h"

namespace gateway_test {
namespace {

using Clock = std::chrono::steady_clock;

constexpr char kPicture[] = "vusk/api/v1.1/common/request/picture/P0900";  // 922,218 bytes

// The simulated server on 127.0.0.1, for one test.
class Trickled : public testing::Test {
 protected:
  void SetUp() override { server_.Start(); }
  void AddFault(const std::string& json) {
    auto faults = corvane::mock::ParseFaults(json);
    ASSERT_TRUE(faults.Ok()) << faults.message;
    for (auto& fault : faults.value) server_.Faults().Add(fault);
  }
  std::string Url() const { return server_.BaseUrl(); }

  corvane::mock::MockServer server_{corvane::mock::ServerOptions{}};
};

// The picture request as the library sends it.
RequestRecord PictureRequest() {
  RequestRecord record("GET", kPicture);
  record.Header("Accept-Language", "en").Header("Content-Type", "application/json");
  record.Header("Time-Zone", "UTC");
  return record;
}

// A trickled answer is the normal answer, its body at the rate asked for: no faster.
TEST_F(Trickled, TheAnswerArrivesWholeAtItsRate) {
  Session session(Url());
  RequestRecord picture = PictureRequest();
  const Outcome normal = Send(session.Handle(), picture);
  ASSERT_EQ(normal.code, ZENTA_OK);
  ASSERT_EQ(normal.answer.size(), 922218u);
  AddFault(R"({"path":"/vusk/api/v1.1/common/request/picture/P0900","kind":"trickle",)"
           R"("bytesPerSecond":2000000,"count":1})");
  const Clock::time_point start = Clock::now();
  const Outcome trickled = Send(session.Handle(), picture);
  const auto took = Clock::now() - start;
  EXPECT_EQ(trickled.code, ZENTA_OK);
  EXPECT_TRUE(trickled.answer == normal.answer);
  EXPECT_GE(took, std::chrono::milliseconds(400));  // 922,218 bytes at 2 MB/s: 461 ms
}

}  // namespace
}  // namespace gateway_test
