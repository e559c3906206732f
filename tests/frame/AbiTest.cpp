// The shipped shared library, used as a client program uses it: through its exported functions
// only, with the program's own gateway functions standing in for the platform's.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "Corvane.h"
#include "FakeGateway.h"

namespace {

using corvane_test::Answer;
using corvane_test::FakeGateway;

TEST(SharedLibrary, CallsTheProgramsGateway) {
  FakeGateway& gateway = FakeGateway::Instance();
  gateway.Reset();
  Corvane::SetLangauage("ja-JP");
  Corvane::SetTimeZone("Asia/Tokyo");
  Corvane::SetMacAddress("0A:0B");

  gateway.Script(Answer(R"({"code":1000,"data":{"enable":1}})"));
  int enable = 0;
  EXPECT_EQ(Corvane::API_GetAIPrivacyConfig(31, enable), 0);
  EXPECT_EQ(enable, 1);
  corvane_test::SeenRequest seen = gateway.LastRequest();
  EXPECT_EQ(seen.handle, 31);
  EXPECT_EQ(seen.path, "vusk/api/v1.1/config/ai/privacy");
  ASSERT_EQ(seen.headers.size(), 3u);
  EXPECT_EQ(seen.headers[0].value, "ja-JP");
  EXPECT_EQ(seen.headers[2].value, "Asia/Tokyo");

  gateway.Script(Answer(R"({"code":1000,"data":{"planId":4,"now":9000000000}})"));
  Corvane::StartRemoteRecordRsp record;
  EXPECT_EQ(Corvane::API_StartRemoteRecord({32, "ch", 1, 10}, record), 0);
  EXPECT_EQ(record.planId, 4);
  EXPECT_EQ(record.now, 9000000000LL);
  EXPECT_NE(gateway.LastRequest().body.find(R"("clientMac":"0A:0B")"), std::string::npos);

  // Exceptions cross the library boundary with their type and message.
  gateway.Script(Answer(R"({"code":1000,"data":{"results":[{"key":"k","value":"1"}]}})"));
  std::map<int, int> mapping;
  try {
    Corvane::API_QueryDictionaryMapper(33, 1, mapping);
    ADD_FAILURE() << "no exception";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "invalid stoi argument");
  }
  EXPECT_EQ(gateway.OutstandingBuffers(), 0u);
  EXPECT_EQ(gateway.BadReleases(), 0);
}

}  // namespace
