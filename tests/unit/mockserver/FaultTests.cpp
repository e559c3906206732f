// Fault injection through the control endpoint: every kind as a client sees it, counts, path
// matching, clearing, and the validation of fault descriptions.
#include <chrono>
#include <functional>
#include <future>
#include <thread>

#include "MockServerTestSupport.h"

namespace corvane::mock::testing {
namespace {

using FaultTest = MockServerTest;
using Clock = std::chrono::steady_clock;

constexpr char kPrivacyPath[] = "/vusk/api/v1.1/config/ai/privacy";
constexpr char kPosPath[] = "/vusk/api/v1.1/config/pos";

long long ElapsedMs(Clock::time_point since) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}

// Delays, error pages, garbage, dropped connections and business codes are what the integration
// tests (tests/integration) inject and see through the library, each with its status; here are
// the details a status does not show.
TEST_F(FaultTest, FaultDetailsAreObservableForTheCountThenTheAnswerIsNormal) {
  struct Case {
    const char* name;
    std::string fault;  // members beside "path" and "count"
    // The first faulted request, read raw; the second, through the HTTP client.
    std::function<void(const RawAnswer&)> checkRaw;
    std::function<void(const Envelope&)> checkClient;
  };
  const Case cases[] = {
      {"http error with its own body", R"("kind":"http-error","status":502,"body":"bad gateway")",
       [](const RawAnswer& raw) {
         EXPECT_EQ(raw.status, 502);
         EXPECT_EQ(raw.body, "bad gateway");
       },
       [](const Envelope& answer) { EXPECT_EQ(answer.body, "bad gateway"); }},
      {"truncate", R"("kind":"truncate")",
       [](const RawAnswer& raw) {
         EXPECT_EQ(raw.status, 200);
         const std::size_t declared = std::stoul(raw.Header("content-length"));
         EXPECT_EQ(raw.body.size(), declared / 2);
         EXPECT_LT(raw.body.size(), declared);
       },
       [](const Envelope& answer) { EXPECT_FALSE(answer.received); }},
      {"business code keeping the data", R"("kind":"business","code":-7,"keepData":true)",
       [](const RawAnswer& raw) {
         rapidjson::Document document;
         document.Parse(raw.body.c_str());
         ASSERT_TRUE(document.IsObject()) << raw.body;
         EXPECT_EQ(document["code"].GetInt(), -7);
         EXPECT_TRUE(document["data"].HasMember("enable"));
       },
       [](const Envelope& answer) {
         EXPECT_EQ(answer.code, -7);
         EXPECT_TRUE(answer.Data().HasMember("enable"));
       }},
  };

  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    const Envelope added =
        Control("POST", "faults",
                R"({"path":")" + std::string(kPrivacyPath) + R"(","count":2,)" + row.fault + "}");
    ASSERT_EQ(added.code, kCodeOk) << added.body;

    row.checkRaw(RawExchange(Port(), RawRequest("GET", kPrivacyPath, StandardHeaderLines())));
    auto client = NewClient(true);
    row.checkClient(ReadEnvelope(client->Get(kPrivacyPath, StandardHeaders())));

    const Envelope normal = ReadEnvelope(client->Get(kPrivacyPath, StandardHeaders()));
    EXPECT_EQ(normal.code, kCodeOk) << normal.body;
    EXPECT_TRUE(normal.Data().HasMember("enable"));
  }
  EXPECT_EQ(server_->Stats().faultsApplied, 2 * std::size(cases));
}

TEST_F(FaultTest, PathsMatchExactlyOrAllAndTheFirstAddedFaultWins) {
  struct Case {
    const char* name;
    std::string faults;  // added in this order
    int privacyCode;     // the code each path then answers
    int posCode;
  };
  const Case cases[] = {
      {"the query is not part of the path",
       R"([{"path":"/vusk/api/v1.1/config/pos?x=1","kind":"business","code":1}])", kCodeOk,
       kCodeOk},
      {"first added wins",
       R"([{"path":"*","kind":"business","code":3},
           {"path":"/vusk/api/v1.1/config/pos","kind":"business","code":4}])",
       3, 3},
      {"a specific fault added first wins on its path",
       R"([{"path":"/vusk/api/v1.1/config/pos","kind":"business","code":4},
           {"path":"*","kind":"business","code":3}])",
       3, 4},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    ASSERT_EQ(Control("DELETE", "faults").code, kCodeOk);
    ASSERT_EQ(Control("POST", "faults", row.faults).code, kCodeOk);
    EXPECT_EQ(ReadEnvelope(Get(kPrivacyPath)).code, row.privacyCode);
    EXPECT_EQ(ReadEnvelope(Get(std::string(kPosPath) + "?x=1")).code, row.posCode);
  }
  ASSERT_EQ(Control("DELETE", "faults").code, kCodeOk);
  EXPECT_EQ(ReadEnvelope(Get(kPosPath)).code, kCodeOk);
}

TEST_F(FaultTest, FaultsActBeforeTheRequestIsChecked) {
  ASSERT_EQ(Control("POST", "faults", R"({"path":"*","kind":"business","code":77})").code, kCodeOk);
  EXPECT_EQ(ReadEnvelope(Get(kPrivacyPath, {})).code, 77);             // no headers
  EXPECT_EQ(ReadEnvelope(Get("/vusk/api/v1.1/not/a/path")).code, 77);  // no route
  EXPECT_EQ(Control("GET", "stats").code, kCodeOk);                    // control untouched
}

TEST_F(FaultTest, TheFaultListShowsRemainingCounts) {
  const Envelope added =
      Control("POST", "faults",
              R"([{"path":"/vusk/api/v1.1/config/pos","kind":"garbage","count":3},
                                     {"path":"*","kind":"delay","delayMs":1}])");
  ASSERT_EQ(added.code, kCodeOk) << added.body;
  ASSERT_EQ(added.Data()["ids"].Size(), 2U);
  Get(kPosPath);
  const Envelope listed = Control("GET", "faults");
  const auto& faults = listed.Data()["faults"];
  ASSERT_EQ(faults.Size(), 2U);
  EXPECT_STREQ(faults[0]["kind"].GetString(), "garbage");
  EXPECT_EQ(faults[0]["count"].GetInt(), 2);
  EXPECT_EQ(faults[1]["count"].GetInt(), 0);  // until cleared
  EXPECT_EQ(faults[0]["id"].GetUint64(), added.Data()["ids"][0].GetUint64());
}

TEST_F(FaultTest, InvalidDescriptionsAreRefusedAndAddNothing) {
  struct Case {
    const char* name;
    std::string body;
  };
  const Case cases[] = {
      {"not JSON", "kind=drop"},
      {"empty array", "[]"},
      {"no path", R"({"kind":"drop"})"},
      {"path without a slash", R"({"path":"vusk/api","kind":"drop"})"},
      {"no kind", R"({"path":"*"})"},
      {"unknown kind", R"({"path":"*","kind":"explode"})"},
      {"unknown member", R"({"path":"*","kind":"drop","times":2})"},
      {"business without code", R"({"path":"*","kind":"business"})"},
      {"delay without delayMs", R"({"path":"*","kind":"delay"})"},
      {"status below 400", R"({"path":"*","kind":"http-error","status":200})"},
      {"count 0", R"({"path":"*","kind":"drop","count":0})"},
      {"negative delay", R"({"path":"*","kind":"drop","delayMs":-1})"},
      {"one bad among good", R"([{"path":"*","kind":"drop"},{"path":"*","kind":"nope"}])"},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    const Envelope answer = Control("POST", "faults", row.body);
    EXPECT_EQ(answer.status, 400);
    EXPECT_EQ(answer.code, kCodeInvalidParameter) << answer.body;
  }
  EXPECT_TRUE(server_->Faults().List().empty());
}

TEST_F(FaultTest, StopCutsAnInjectedDelayShort) {
  ASSERT_EQ(Control("POST", "faults", R"({"path":"*","kind":"delay","delayMs":600000})").code,
            kCodeOk);
  auto pending = std::async(std::launch::async, [this] {
    auto client = NewClient(false);
    return ReadEnvelope(client->Get(kPrivacyPath, StandardHeaders()));
  });
  // The request is in its delay once the server has counted it.
  for (int i = 0; i < 1000 && server_->Stats().faultsApplied == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_EQ(server_->Stats().faultsApplied, 1U);
  const auto started = Clock::now();
  server_->Stop();
  EXPECT_LT(ElapsedMs(started), 10000);
  ASSERT_EQ(pending.wait_for(std::chrono::seconds(10)), std::future_status::ready);
}

}  // namespace
}  // namespace corvane::mock::testing
