// The library over the real gateway against the simulated platform server: every operation's
// results equal the platform's data, connections are kept alive, and faults give their codes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Corvane.h"
#include "MockControl.h"
#include "MockPlatform.h"
#include "zenta/ZentaSdk.h"

namespace {

namespace mock = corvane::mock;
using corvane_test::MockControl;

class Integration : public ::testing::Test {
 protected:
  void SetUp() override {
    control_.Reset();
    corvane_test::UseClientSettings();
  }
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
  quim::Json::Value stats = control_.Stats();
  EXPECT_EQ(stats["apiRequests"].asInt(), static_cast<int>(operations.size()));
  EXPECT_EQ(stats["connections"].asInt(), 1);

  // Volumes written, then read back; a volume out of range lists the channel as failed.
  const mock::PlatformState platform = mock::GeneratePlatformState(1);
  std::string speaker;
  for (const mock::Channel& channel : platform.channels) {
    if (speaker.empty() && channel.speaker && channel.online) speaker = channel.channelId;
  }
  EXPECT_EQ(Corvane::API_SetIPSpeakerVolume({speaker, 41, 17, 0, ""}, handle()), 0);
  Corvane::SpeakerVolumeInfo volume;
  EXPECT_EQ(Corvane::API_GetIPSpeakerVolume(speaker, volume, handle()), 0);
  EXPECT_EQ(volume.microphoneVolume, 41);
  EXPECT_EQ(volume.speakerVolume, 17);
  EXPECT_EQ(Corvane::API_SetIPSpeakerVolume({speaker, -1, 101, 0, ""}, handle()), -1);
}

// Faults the server injects, and the status each gives the caller. Error pages, garbage and cut
// answers are in the fault tests (FaultTest.cpp), for every operation.
TEST_F(Integration, FaultsGiveTheirStatus) {
  const std::string path = "/vusk/api/v1.1/config/ai/privacy";
  struct Row {
    const char* name;
    std::string fault;  // members after "path"
    int status;
  } rows[] = {
      {"business error in the envelope", R"("kind":"business","code":4321)", 4321},
      {"JSON envelope with HTTP 404", R"("kind":"business","code":4404,"status":404)", 4404},
      {"JSON envelope with HTTP 500", R"("kind":"business","code":5000,"status":500)", 5000},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    control_.Reset();
    control_.AddFault(R"({"path":")" + path + R"(",)" + row.fault + R"(,"count":1})");
    int enable = 99;
    int status = Corvane::API_GetAIPrivacyConfig(handle(), enable);
    EXPECT_EQ(status, row.status) << ZENTA_ErrorText(status);
    // The next call, with the fault used up, succeeds again.
    EXPECT_EQ(Corvane::API_GetAIPrivacyConfig(handle(), enable), 0);
  }
}

TEST_F(Integration, UnknownIdGivesTheServersCode) {
  std::vector<Corvane::PtzTrailInfo> trails{{"kept", "kept"}};
  EXPECT_EQ(Corvane::API_GetPtzTrailList("NO-SUCH-CHANNEL", handle(), trails),
            mock::kCodeUnknownId);
  EXPECT_EQ(trails.size(), 1u);
  bool web = true;
  EXPECT_EQ(Corvane::API_GetWebEnablement("NO-SUCH-DEVICE", web, handle()), mock::kCodeUnknownId);
  EXPECT_FALSE(web);  // read from the error answer's (absent) data
}

}  // namespace
