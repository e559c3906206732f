// The library over the real gateway against the simulated platform server: every operation's
// results equal the platform's data on one kept-alive connection, and faults give their status.
#include <gtest/gtest.h>

#include "Corvane.h"
#include "MockControl.h"
#include "MockPlatform.h"
#include "ZentaInternal.h"
#include "zenta/ZentaSdk.h"

namespace {

using corvane_test::MockControl;

class Integration : public ::testing::Test {
 protected:
  void SetUp() override {
    control_.Reset();
    corvane_test::UseClientSettings();
  }
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
    int planId = 0;
    EXPECT_EQ(operation.call(handle(), matches, planId), 0);
    EXPECT_TRUE(matches);
  }
  const corvane::mock::ServerStats stats = control_.Stats();
  EXPECT_EQ(stats.apiRequests, operations.size());
  EXPECT_EQ(stats.connections, 1u);
  // Volumes written are read back; a volume out of range lists the channel as failed (-1).
  EXPECT_EQ(Corvane::API_SetIPSpeakerVolume({"D2001-C01", 41, 17, 0, ""}, handle()), 0);
  Corvane::SpeakerVolumeInfo volume;
  EXPECT_EQ(Corvane::API_GetIPSpeakerVolume("D2001-C01", volume, handle()), 0);
  EXPECT_EQ(volume.microphoneVolume, 41);
  EXPECT_EQ(volume.speakerVolume, 17);
  EXPECT_EQ(Corvane::API_SetIPSpeakerVolume({"D2001-C01", -1, 101, 0, ""}, handle()), -1);
  std::vector<Corvane::PtzTrailInfo> trails{{"kept", "kept"}};
  EXPECT_EQ(Corvane::API_GetPtzTrailList("NO-SUCH", handle(), trails),
            corvane::mock::kCodeUnknownId);
  EXPECT_EQ(trails.size(), 1u);
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

}  // namespace
