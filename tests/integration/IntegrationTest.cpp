// The library over the real gateway against the simulated platform server: every operation's
// results equal the platform's data on one kept-alive connection, faults give their status, and
// TLS is verified as configured.
#include <gtest/gtest.h>

#include "Corvane.h"
#include "HttpCore.h"
#include "MockControl.h"
#include "ZentaInternal.h"
#include "zenta/ZentaSdk.h"

namespace {

using corvane::http::Headers;
using corvane_test::MockControl;

class Integration : public ::testing::Test {
 protected:
  void SetUp() override { control_.Reset(); }
  void TearDown() override { EXPECT_EQ(zenta::OutstandingAnswerBuffers(), 0u); }
  int handle() const { return session_.Handle(); }

  MockControl control_;
  corvane_test::Session session_{corvane_test::MockServerUrl()};
};

TEST_F(Integration, EveryOperationReturnsThePlatformsDataOnOneConnection) {
  const std::vector<corvane_test::PlatformCall> operations = corvane_test::EveryOperation();
  for (const corvane_test::PlatformCall& operation : operations) {
    SCOPED_TRACE(operation.name);
    bool matches = false;
    EXPECT_EQ(operation.call(handle(), matches), 0);
    EXPECT_TRUE(matches);
  }
  const corvane::mock::ServerStats stats = control_.Stats();
  EXPECT_EQ(stats.apiRequests, operations.size());
  EXPECT_EQ(stats.requests, operations.size() + 1);  // this statistics request too
  EXPECT_EQ(stats.connections, 1u);
  // A volume written is read back; one out of range lists the channel as failed (-1).
  Corvane::SpeakerVolumeInfo volume;
  EXPECT_EQ(Corvane::API_SetIPSpeakerVolume({"D2001-C01", 41, 17, 0, ""}, handle()), 0);
  EXPECT_EQ(Corvane::API_GetIPSpeakerVolume("D2001-C01", volume, handle()), 0);
  EXPECT_EQ(volume.speakerVolume, 17);
  EXPECT_EQ(Corvane::API_SetIPSpeakerVolume({"D2001-C01", -1, 101, 0, ""}, handle()), -1);
}

// A fault on the AI privacy query (on its re-sends too), and the status the caller gets.
TEST_F(Integration, FaultsGiveTheirStatus) {
  const struct {
    std::string fault;  // members after "path"
    int status;
  } rows[] = {
      {R"("kind":"business","code":4321)", 4321},
      {R"("kind":"business","code":4404,"status":404)", 4404},  // JSON whatever the status
      {R"("kind":"http-error","status":503)", ZENTA_E_HTTP_STATUS_BASE - 503},
      {R"("kind":"garbage")", -1},
      {R"("kind":"truncate")", ZENTA_E_RECEIVE},
      {R"("kind":"drop")", ZENTA_E_RECEIVE},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.fault);
    control_.AddFault(R"({"path":"/vusk/api/v1.1/config/ai/privacy",)" + row.fault + "}");
    int enable = 99;
    const int status = Corvane::API_GetAIPrivacyConfig(handle(), enable);
    EXPECT_EQ(status, row.status) << ZENTA_ErrorText(status);
    control_.ClearFaults();
    EXPECT_EQ(Corvane::API_GetAIPrivacyConfig(handle(), enable), 0) << "no recovery";
  }
}

// What the server refuses, as the platform would; a client of the library never sends these.
TEST_F(Integration, TheServerRefusesWhatThePlatformWould) {
  const std::string pos = "/vusk/api/v1.1/config/pos", alarm = "/vusk/api/v1.1/alarm/record/";
  const std::string fetch = "/vusk/api/v1.1/ip-speaker/channel/volume/fetch/list";
  const Headers good{
      {"Accept-Language", ""}, {"Content-Type", "application/json"}, {"Time-Zone", ""}};
  Headers twice = good, text = good, noZone(good.begin(), good.end() - 1);
  twice.push_back(good[2]);
  text[1].second = "text/plain";
  const struct {
    const char* method;
    std::string target;
    const Headers& headers;
    std::string body;
    int status, code;
  } rows[] = {
      {"GET", pos, good, "", 200, 1000},  // empty values count as sent
      {"GET", pos + "/x", good, "", 404, 4040},
      {"DELETE", pos, good, "", 405, 4050},
      {"GET", pos, noZone, "", 400, 4001},
      {"GET", pos, text, "", 400, 4001},
      {"GET", pos, twice, "", 400, 4001},
      {"POST", fetch, good, "[]", 400, 4002},
      {"POST", fetch, good, R"({"clientType":"X","project":"QIRO","clientMac":""})", 200, 4003},
      {"GET", alarm + "contact/detail?alarmCode=A&alarmDate=1x", good, "", 200, 4005},
      {"POST", "/__mock/faults", good, R"({"path":"*","kind":"slow"})", 400, 4005},
  };
  corvane::http::Client client(corvane_test::MockServerUrl());
  for (const auto& row : rows) {
    SCOPED_TRACE(row.method + (" " + row.target));
    const corvane::http::Answer answer = client.Send(row.method, row.target, row.body, row.headers);
    EXPECT_EQ(answer.status, row.status);
    EXPECT_EQ(answer.body.rfind("{\"code\":" + std::to_string(row.code), 0), 0u) << answer.body;
  }
}

// TLS against the fixture's HTTPS servers, whose self-signed certificates the fixture made:
// verification is on by default, a certificate is trusted only through caFile and only for the
// address it names, and verifyTls 2 turns verification off.
TEST_F(Integration, TlsIsVerifiedByDefaultAndTrustComesOnlyFromCaFile) {
  const struct {
    const char* name;
    const char* server;  // "good": made out for 127.0.0.1; "other": for 127.0.0.2
    int verifyTls;
    const char* caFile;  // a file of the fixture's folder, or none
    int status;
  } rows[] = {
      {"defaults: the system store does not know the certificate", "good", 0, nullptr, ZENTA_E_TLS},
      {"verifyTls 1 without a CA file", "good", 1, nullptr, ZENTA_E_TLS},
      {"the certificate as CA file", "good", 0, "good-cert.pem", 0},
      {"another certificate as CA file", "good", 0, "other-cert.pem", ZENTA_E_TLS},
      {"a CA file that does not exist", "good", 0, "no-such.pem", ZENTA_E_TLS},
      {"trusted, but made out for another address", "other", 0, "other-cert.pem", ZENTA_E_TLS},
      {"verifyTls 2: not verified", "other", 2, nullptr, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ZENTA_SessionOptions options = corvane_test::Options(0, 0, 0, row.verifyTls);
    const std::string caFile = row.caFile ? corvane_test::FixtureFile(row.caFile) : "";
    options.caFile = row.caFile ? caFile.c_str() : nullptr;
    corvane_test::Session session(corvane_test::MockServerUrl(std::string("url-") + row.server),
                                  options);
    std::vector<Corvane::PtzTrailInfo> trails;
    const int status = Corvane::API_GetPtzTrailList("D1001-C01", session.Handle(), trails);
    EXPECT_EQ(status, row.status) << ZENTA_ErrorText(status);
    EXPECT_EQ(trails.empty(), row.status != 0);
  }
}

}  // namespace
