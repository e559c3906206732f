// The library over the real gateway against the simulated platform server: every operation's
// results equal the platform's data, connections are kept alive, and faults give their codes.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "Corvane.h"
#include "MockControl.h"
#include "MockPlatform.h"
#include "zenta/ZentaSdk.h"

namespace {

namespace mock = corvane::mock;
using corvane_test::MockControl;

// A session on the fixture's server, closed at the end of the test.
class Session {
 public:
  explicit Session(const std::string& url, int requestTimeoutMs = 0) {
    ZENTA_SessionOptions options{};
    options.structSize = sizeof options;
    options.requestTimeoutMs = requestTimeoutMs;
    status_ = ZENTA_OpenSession(url.c_str(), &options, &handle_);
  }
  ~Session() {
    if (status_ == 0) {
      EXPECT_EQ(ZENTA_CloseSession(handle_), 0);
    }
  }
  int status() const { return status_; }
  int handle() const { return handle_; }

 private:
  int status_ = 0;
  int handle_ = 0;
};

class Integration : public ::testing::Test {
 protected:
  void SetUp() override {
    control_.Reset();
    Corvane::SetLangauage("en-US");
    Corvane::SetTimeZone("UTC");
    Corvane::SetMacAddress("00:11:22:33:44:55");
    ASSERT_EQ(session_.status(), 0);
  }
  int handle() const { return session_.handle(); }

  MockControl control_;
  Session session_{corvane_test::MockServerUrl()};
  const mock::PlatformState platform_ = mock::GeneratePlatformState(1);
};

const mock::Channel& FirstChannel(const mock::PlatformState& state,
                                  bool (*pick)(const mock::Channel&)) {
  for (const auto& channel : state.channels) {
    if (pick(channel)) return channel;
  }
  throw std::runtime_error("the platform has no such channel");
}

TEST_F(Integration, EveryOperationReturnsThePlatformsData) {
  int enable = -1;
  EXPECT_EQ(Corvane::API_GetAIPrivacyConfig(handle(), enable), 0);
  EXPECT_EQ(enable, platform_.aiPrivacyEnable);

  const mock::Device& device = platform_.devices.front();
  bool web = !device.enableWeb;
  EXPECT_EQ(Corvane::API_GetWebEnablement(device.deviceId, web, handle()), 0);
  EXPECT_EQ(web, device.enableWeb);

  const mock::Channel& camera =
      FirstChannel(platform_, [](const mock::Channel& c) { return !c.speaker; });
  web = !camera.enableWeb;
  EXPECT_EQ(Corvane::API_GetChannelWebEnablement(camera.channelId, web, handle()), 0);
  EXPECT_EQ(web, camera.enableWeb);

  const mock::Picture& picture = platform_.pictures.front();
  Corvane::DownloadDevicePicResp png;
  EXPECT_EQ(Corvane::API_DownloadDevicePicture(handle(), {5, picture.pictureId}, png), 0);
  ASSERT_NE(png.pictureData, nullptr);
  EXPECT_EQ(std::string(png.pictureData, static_cast<std::size_t>(png.pictureLength)),
            *picture.png);
  EXPECT_EQ(png.tag, 5);
  delete[] png.pictureData;

  // Volumes written, then read back.
  const mock::Channel& speaker =
      FirstChannel(platform_, [](const mock::Channel& c) { return c.speaker && c.online; });
  EXPECT_EQ(Corvane::API_SetIPSpeakerVolume({speaker.channelId, 41, 17, 0, ""}, handle()), 0);
  Corvane::SpeakerVolumeInfo volume;
  EXPECT_EQ(Corvane::API_GetIPSpeakerVolume(speaker.channelId, volume, handle()), 0);
  EXPECT_EQ(volume.channelId, speaker.channelId);
  EXPECT_EQ(volume.channelName, speaker.channelName);
  EXPECT_EQ(volume.microphoneVolume, 41);
  EXPECT_EQ(volume.speakerVolume, 17);
  EXPECT_EQ(volume.successful, 1);
  // A volume out of range lists the channel as failed.
  EXPECT_EQ(Corvane::API_SetIPSpeakerVolume({speaker.channelId, -1, 101, 0, ""}, handle()), -1);

  std::vector<Corvane::AudioFileInfo> files;
  EXPECT_EQ(Corvane::API_GetIPSpeakerAudioList(speaker.channelId, files, handle()), 0);
  ASSERT_EQ(files.size(), speaker.audioFiles.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    EXPECT_EQ(files[i].channelId, speaker.channelId);
    EXPECT_EQ(files[i].fileId, speaker.audioFiles[i].fileId);
    EXPECT_EQ(files[i].fileName, speaker.audioFiles[i].fileName);
  }

  std::vector<Corvane::SameAudioFileInfo> same;
  EXPECT_EQ(Corvane::API_GetIPSpeakerSameAudioList({speaker.channelId, speaker.channelId}, same,
                                                   handle()),
            0);
  EXPECT_EQ(same.size(), speaker.audioFiles.size());  // one channel shares all its files

  const mock::AlarmRecord& alarm = platform_.alarms.front();
  std::vector<Corvane::DeviceContactInfo> contacts;
  EXPECT_EQ(
      Corvane::API_GetAlarmDeviceContacts(alarm.alarmCode, alarm.alarmDate, handle(), contacts), 0);
  ASSERT_EQ(contacts.size(), alarm.sources.size());
  for (std::size_t i = 0; i < contacts.size(); ++i) {
    EXPECT_EQ(contacts[i].sourceName, alarm.sources[i].sourceName);
    EXPECT_EQ(contacts[i].devicePosition, alarm.sources[i].devicePosition);
    ASSERT_EQ(contacts[i].deviceContacts.size(), alarm.sources[i].deviceContacts.size());
    for (std::size_t j = 0; j < contacts[i].deviceContacts.size(); ++j) {
      EXPECT_EQ(contacts[i].deviceContacts[j].contactEmail,
                alarm.sources[i].deviceContacts[j].contactEmail);
    }
  }

  const mock::Channel& ptz = FirstChannel(platform_, [](const mock::Channel& c) { return c.ptz; });
  std::vector<Corvane::PtzTrailInfo> trails;
  EXPECT_EQ(Corvane::API_GetPtzTrailList(ptz.channelId, handle(), trails), 0);
  ASSERT_EQ(trails.size(), ptz.trails.size());
  for (std::size_t i = 0; i < trails.size(); ++i) {
    EXPECT_EQ(trails[i].trailId, ptz.trails[i].trailId);
    EXPECT_EQ(trails[i].trailName, ptz.trails[i].trailName);
  }

  Corvane::StartRemoteRecordRsp record;
  EXPECT_EQ(Corvane::API_StartRemoteRecord({handle(), camera.channelId, 0, 60}, record), 0);
  EXPECT_EQ(record.planId, 1);
  EXPECT_GT(record.now, 1700000000000LL);  // epoch milliseconds, at full width

  int playback = -1;
  EXPECT_EQ(Corvane::API_GetPosConfig(handle(), playback), 0);
  EXPECT_EQ(playback, std::stoi(platform_.posPlaybackTime));

  std::map<int, std::string> events;
  EXPECT_EQ(Corvane::API_GetPosEventTranslate(handle(), events), 0);
  std::map<int, std::string> expectedEvents;
  for (const auto& group : platform_.dictionaryGroups) {
    if (group.type != mock::kPosEventDictionary) continue;
    for (const auto& item : group.items) expectedEvents[std::stoi(item.code)] = item.name;
  }
  EXPECT_FALSE(expectedEvents.empty());
  EXPECT_EQ(events, expectedEvents);

  for (const auto& [type, entries] : platform_.mappers) {
    SCOPED_TRACE(type);
    std::map<int, int> mapping, expected;
    for (const auto& entry : entries) expected[std::stoi(entry.key)] = std::stoi(entry.value);
    EXPECT_EQ(Corvane::API_QueryDictionaryMapper(handle(), type, mapping), 0);
    EXPECT_EQ(mapping, expected);
  }
}

TEST_F(Integration, SequentialCallsShareOneConnection) {
  for (int i = 0; i < 50; ++i) {
    int enable = 0;
    ASSERT_EQ(Corvane::API_GetAIPrivacyConfig(handle(), enable), 0);
    std::vector<Corvane::PtzTrailInfo> trails;
    ASSERT_EQ(Corvane::API_GetPtzTrailList("D1001-C01", handle(), trails), 0);
  }
  quim::Json::Value stats = control_.Stats();
  EXPECT_EQ(stats["apiRequests"].asInt(), 100);
  EXPECT_EQ(stats["connections"].asInt(), 1);
}

// Faults the server injects, and the status each gives the caller.
TEST_F(Integration, FaultsGiveTheirStatus) {
  const std::string path = "/vusk/api/v1.1/config/ai/privacy";
  struct Row {
    const char* name;
    std::string fault;  // members after "path"
    int status;
  } rows[] = {
      {"non-JSON 502 page", R"("kind":"http-error","status":502)", ZENTA_E_HTTP_STATUS_BASE - 502},
      {"non-JSON 503 page", R"("kind":"http-error","status":503)", ZENTA_E_HTTP_STATUS_BASE - 503},
      {"business error in the envelope", R"("kind":"business","code":4321)", 4321},
      {"JSON envelope with HTTP 404", R"("kind":"business","code":4404,"status":404)", 4404},
      {"JSON envelope with HTTP 500", R"("kind":"business","code":5000,"status":500)", 5000},
      {"garbage with status 200", R"("kind":"garbage")", -1},
      {"truncated body", R"("kind":"truncate")", ZENTA_E_RECEIVE},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    control_.Reset();
    control_.AddFault(R"({"path":")" + path + R"(",)" + row.fault + R"(,"count":1})");
    int enable = 99;
    int status = Corvane::API_GetAIPrivacyConfig(handle(), enable);
    EXPECT_EQ(status, row.status) << ZENTA_ErrorText(status);
    int httpStatus = ZENTA_HttpStatusOf(status);
    EXPECT_EQ(httpStatus, ZENTA_HttpStatusOf(row.status));
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

TEST_F(Integration, SlowAnswerTimesOutWithinTheTimeout) {
  Session fast(corvane_test::MockServerUrl(), 300);
  ASSERT_EQ(fast.status(), 0);
  control_.AddFault(
      R"({"path":"/vusk/api/v1.1/config/pos","kind":"delay","delayMs":2000,"count":1})");
  int playback = 7;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Corvane::API_GetPosConfig(fast.handle(), playback), ZENTA_E_TIMEOUT);
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_LT(elapsed, std::chrono::milliseconds(1500));  // the timeout, not the server's delay
  EXPECT_EQ(playback, 7);
}

TEST_F(Integration, RefusedConnection) {
  // Port 9 (discard): nothing listens on it on a test machine.
  Session nowhere("http://127.0.0.1:9");
  ASSERT_EQ(nowhere.status(), 0);  // opening does not connect
  int enable = 5;
  EXPECT_EQ(Corvane::API_GetAIPrivacyConfig(nowhere.handle(), enable), ZENTA_E_CONNECT);
  EXPECT_EQ(enable, 5);
}

TEST_F(Integration, EightThreadsOnOneHandle) {
  const mock::Channel& ptz = FirstChannel(platform_, [](const mock::Channel& c) { return c.ptz; });
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 40; ++i) {
        if ((i + t) % 2 == 0) {
          std::vector<Corvane::PtzTrailInfo> trails;
          if (Corvane::API_GetPtzTrailList(ptz.channelId, handle(), trails) != 0 ||
              trails.size() != ptz.trails.size()) {
            ++wrong;
          }
        } else {
          std::map<int, int> mapping;
          const auto& [type, entries] = *platform_.mappers.begin();
          if (Corvane::API_QueryDictionaryMapper(handle(), type, mapping) != 0 ||
              mapping.size() != entries.size()) {
            ++wrong;
          }
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_LE(control_.Stats()["connections"].asInt(), 4);  // the session's pool, no more
}

}  // namespace
