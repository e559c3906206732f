// The library over the real gateway against a misbehaving server: answers cut short, connections
// dropped, bytes that are no JSON, error pages, slow answers, answers past the size cap, and a
// server that restarts between two calls. Every call ends in its documented status, the outputs
// of a failed call stay untouched, no answer buffer is left behind, and the next call succeeds.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "Corvane.h"
#include "MockControl.h"
#include "MockPlatform.h"
#include "MockServer.h"
#include "ReliabilitySupport.h"
#include "ZentaInternal.h"
#include "zenta/ZentaSdk.h"

namespace {

using corvane_test::MockControl;
using corvane_test::ScopedSession;
using Clock = std::chrono::steady_clock;

// One operation, run with outputs of its own that start from sentinel values. `touched` tells
// whether the call wrote any output.
struct Operation {
  const char* name;
  bool picture;  // the answer is handed over as raw bytes, never parsed
  std::function<int(int handle, bool& touched)> call;
};

std::vector<Operation> EveryOperation() {
  using namespace Corvane;
  const corvane::mock::AlarmRecord alarm = corvane::mock::GeneratePlatformState(1).alarms.front();
  return {
      {"ai privacy", false,
       [](int h, bool& touched) {
         int enable = -7;
         const int status = API_GetAIPrivacyConfig(h, enable);
         touched = enable != -7;
         return status;
       }},
      {"device web enablement", false,
       [](int h, bool& touched) {
         bool enabled = true;
         const int status = API_GetWebEnablement("D1001", enabled, h);
         touched = !enabled;
         return status;
       }},
      {"channel web enablement", false,
       [](int h, bool& touched) {
         bool enabled = true;
         const int status = API_GetChannelWebEnablement("D1001-C01", enabled, h);
         touched = !enabled;
         return status;
       }},
      {"picture", true,
       [](int h, bool& touched) {
         DownloadDevicePicResp picture;
         const int status = API_DownloadDevicePicture(h, {9, "P0100"}, picture);
         touched = picture.pictureData != nullptr || picture.tag != 0;
         delete[] picture.pictureData;
         return status;
       }},
      {"speaker volume fetch", false,
       [](int h, bool& touched) {
         SpeakerVolumeInfo info{"sentinel", 1, 2, 3, "sentinel"};
         const int status = API_GetIPSpeakerVolume("D2001-C01", info, h);
         touched = info.channelId != "sentinel";
         return status;
       }},
      {"speaker volume update", false,
       [](int h, bool& touched) {
         touched = false;
         return API_SetIPSpeakerVolume({"D2001-C01", 30, 40, 0, ""}, h);
       }},
      {"audio files", false,
       [](int h, bool& touched) {
         std::vector<AudioFileInfo> files;
         const int status = API_GetIPSpeakerAudioList("D2001-C01", files, h);
         touched = !files.empty();
         return status;
       }},
      {"same audio files", false,
       [](int h, bool& touched) {
         std::vector<SameAudioFileInfo> files;
         const int status = API_GetIPSpeakerSameAudioList({"D2001-C01", "D2001-C02"}, files, h);
         touched = !files.empty();
         return status;
       }},
      {"alarm contacts", false,
       [alarm](int h, bool& touched) {
         std::vector<DeviceContactInfo> contacts;
         const int status =
             API_GetAlarmDeviceContacts(alarm.alarmCode, alarm.alarmDate, h, contacts);
         touched = !contacts.empty();
         return status;
       }},
      {"ptz trails", false,
       [](int h, bool& touched) {
         std::vector<PtzTrailInfo> trails;
         const int status = API_GetPtzTrailList("D1001-C01", h, trails);
         touched = !trails.empty();
         return status;
       }},
      {"record start", false,
       [](int h, bool& touched) {
         StartRemoteRecordRsp result{-7, -7};
         const int status = API_StartRemoteRecord({h, "D1001-C01", 0, 60}, result);
         touched = result.planId != -7 || result.now != -7;
         return status;
       }},
      {"pos config", false,
       [](int h, bool& touched) {
         int playbackTime = -7;
         const int status = API_GetPosConfig(h, playbackTime);
         touched = playbackTime != -7;
         return status;
       }},
      {"pos event names", false,
       [](int h, bool& touched) {
         std::map<int, std::string> names;
         const int status = API_GetPosEventTranslate(h, names);
         touched = !names.empty();
         return status;
       }},
      {"dictionary mapper", false,
       [](int h, bool& touched) {
         std::map<int, int> mapping;
         const int status = API_QueryDictionaryMapper(h, 1, mapping);
         touched = !mapping.empty();
         return status;
       }},
  };
}

class Faults : public ::testing::Test {
 protected:
  void SetUp() override {
    control_.Reset();
    Corvane::SetLangauage("en-US");
    Corvane::SetTimeZone("UTC");
    Corvane::SetMacAddress("00:11:22:33:44:55");
  }
  void TearDown() override { EXPECT_EQ(zenta::OutstandingAnswerBuffers(), 0u); }

  MockControl control_;
};

// Faults on every API path, until cleared: a retry by libcurl or the gateway meets the same fault.
TEST_F(Faults, EveryOperationSurvivesEveryFault) {
  const struct {
    const char* name;
    std::string fault;  // members after "path"
    int status;         // of an operation that reads JSON
    int pictureStatus;  // of the picture download, which hands over whatever bytes came
  } faults[] = {
      {"answer cut off mid-way", R"("kind":"truncate")", ZENTA_E_RECEIVE, ZENTA_E_RECEIVE},
      {"connection dropped before any answer", R"("kind":"drop")", ZENTA_E_RECEIVE,
       ZENTA_E_RECEIVE},
      {"text that is no JSON", R"("kind":"garbage")", -1, 0},
      {"NUL and control bytes before an envelope",
       R"("kind":"garbage","body":"\u0000\u0001\u001f{\"code\":1000,\"data\":{}}")", -1, 0},
      {"half an envelope", R"("kind":"garbage","body":"{\"code\":1000,\"data\":{\"results\":[{")",
       -1, 0},
      {"HTML error page", R"("kind":"http-error","status":503)", ZENTA_E_HTTP_STATUS_BASE - 503,
       ZENTA_E_HTTP_STATUS_BASE - 503},
  };
  ScopedSession session(corvane_test::MockServerUrl());
  ASSERT_EQ(session.status(), ZENTA_OK);
  for (const Operation& operation : EveryOperation()) {
    for (const auto& fault : faults) {
      SCOPED_TRACE(std::string(operation.name) + ", " + fault.name);
      bool touched = false;
      // A warm keep-alive connection first, so that reuse and its retries are part of the test.
      ASSERT_EQ(operation.call(session.handle(), touched), 0);
      control_.AddFault(R"({"path":"*",)" + fault.fault + "}");
      const int expected = operation.picture ? fault.pictureStatus : fault.status;
      const int status = operation.call(session.handle(), touched);
      EXPECT_EQ(status, expected) << ZENTA_ErrorText(status);
      if (status < 0 && status != -1) {
        EXPECT_FALSE(touched) << "a failed call wrote its outputs";
      }
      EXPECT_EQ(zenta::OutstandingAnswerBuffers(), 0u);
      control_.ClearFaults();
      EXPECT_EQ(operation.call(session.handle(), touched), 0) << "no recovery after the fault";
    }
  }
}

// A slow answer ends at the request timeout. The bound on the late side is the timeout plus 20 %
// plus 50 ms of scheduling slack: on a loaded 2-core machine a woken thread can wait that long.
TEST_F(Faults, RequestTimeoutIsHonouredWithinTwentyPercent) {
  constexpr int kTimeoutMs = 500;
  constexpr long long kLatestMs = kTimeoutMs * 12 / 10 + 50;
  ZENTA_SessionOptions options = corvane_test::DefaultOptions();
  options.requestTimeoutMs = kTimeoutMs;
  ScopedSession session(corvane_test::MockServerUrl(), options);
  ASSERT_EQ(session.status(), ZENTA_OK);
  std::vector<long long> elapsed;
  for (const bool warm : {false, true, true, false, true}) {
    SCOPED_TRACE(warm ? "on a kept-alive connection" : "on a new connection");
    int enable = 0;
    if (warm) {
      ASSERT_EQ(Corvane::API_GetAIPrivacyConfig(session.handle(), enable), 0);
    }
    control_.AddFault(R"({"path":"*","kind":"delay","delayMs":3000,"count":1})");
    int playbackTime = -7;
    const Clock::time_point start = Clock::now();
    const int status = Corvane::API_GetPosConfig(session.handle(), playbackTime);
    const long long ms =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count() / 1000;
    EXPECT_EQ(status, ZENTA_E_TIMEOUT) << ZENTA_ErrorText(status);
    EXPECT_EQ(playbackTime, -7);
    EXPECT_GE(ms, kTimeoutMs);
    EXPECT_LE(ms, kLatestMs);
    elapsed.push_back(ms);
  }
  std::string list;
  for (long long ms : elapsed) list += " " + std::to_string(ms);
  std::printf("[          ] timeout %d ms, elapsed (ms):%s\n", kTimeoutMs, list.c_str());
}

// Answers past the size cap, announced (Content-Length) or found while receiving (chunked), with
// a small cap of the session's own and with the default 64 MiB.
TEST_F(Faults, AnswersPastTheSizeCapAreRefused) {
  constexpr int kSmallCap = 1 << 20;
  constexpr int kDefaultCap = 64 << 20;
  const struct {
    const char* name;
    int cap;  // the session's maxAnswerBytes; 0 for the default
    int bytes;
    bool chunked;
    int status;
  } rows[] = {
      {"small cap, answer of exactly the cap", kSmallCap, kSmallCap, false, 0},
      {"small cap, announced one byte over", kSmallCap, kSmallCap + 1, false,
       ZENTA_E_ANSWER_TOO_LARGE},
      {"small cap, chunked one byte over", kSmallCap, kSmallCap + 1, true,
       ZENTA_E_ANSWER_TOO_LARGE},
      {"small cap, chunked 32 MiB", kSmallCap, 32 << 20, true, ZENTA_E_ANSWER_TOO_LARGE},
      {"default cap, announced one byte over", 0, kDefaultCap + 1, false, ZENTA_E_ANSWER_TOO_LARGE},
      {"default cap, chunked one byte over", 0, kDefaultCap + 1, true, ZENTA_E_ANSWER_TOO_LARGE},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ZENTA_SessionOptions options = corvane_test::DefaultOptions();
    options.maxAnswerBytes = row.cap;
    ScopedSession session(corvane_test::MockServerUrl(), options);
    ASSERT_EQ(session.status(), ZENTA_OK);
    control_.AddFault(R"({"path":"*","kind":"big","count":1,"bytes":)" + std::to_string(row.bytes) +
                      R"(,"chunked":)" + (row.chunked ? "true" : "false") + "}");
    int enable = -7;
    const int status = Corvane::API_GetAIPrivacyConfig(session.handle(), enable);
    EXPECT_EQ(status, row.status) << ZENTA_ErrorText(status);
    EXPECT_EQ(enable, row.status == 0 ? 0 : -7);  // the envelope at the cap holds no "enable"
    EXPECT_EQ(zenta::OutstandingAnswerBuffers(), 0u);
    EXPECT_EQ(Corvane::API_GetAIPrivacyConfig(session.handle(), enable), 0)
        << "the session did not recover";
  }
}

// The server goes away and comes back on the same port: calls while it is down fail to connect,
// and the first calls after it is back, GET and POST, succeed on a new connection although the
// session's pool still holds the connection the old server closed.
TEST_F(Faults, ServerRestartBetweenTwoCalls) {
  namespace mock = corvane::mock;
  int port = 0;
  {
    mock::MockServer probe(mock::ServerOptions{});
    probe.Start();
    port = probe.Port();
  }
  mock::ServerOptions options;
  options.port = port;
  const std::string url = "http://127.0.0.1:" + std::to_string(port);
  for (const bool callWhileDown : {false, true}) {
    SCOPED_TRACE(callWhileDown ? "a call while the server is down" : "no call in between");
    ScopedSession session(url);
    ASSERT_EQ(session.status(), ZENTA_OK);
    int enable = 0;
    Corvane::StartRemoteRecordRsp record;
    {
      mock::MockServer first(options);
      first.Start();
      ASSERT_EQ(Corvane::API_GetAIPrivacyConfig(session.handle(), enable), 0);
      ASSERT_EQ(Corvane::API_StartRemoteRecord({session.handle(), "D1001-C01", 0, 60}, record), 0);
    }
    if (callWhileDown) {
      EXPECT_EQ(Corvane::API_GetAIPrivacyConfig(session.handle(), enable), ZENTA_E_CONNECT);
    }
    mock::MockServer second(options);
    second.Start();
    EXPECT_EQ(Corvane::API_StartRemoteRecord({session.handle(), "D1001-C01", 0, 60}, record), 0);
    EXPECT_EQ(record.planId, 1) << "the new server started its plans afresh";
    EXPECT_EQ(Corvane::API_GetAIPrivacyConfig(session.handle(), enable), 0);
    EXPECT_EQ(second.Stats().apiRequests, 2u) << "a request was sent twice";
    EXPECT_EQ(second.Stats().connections, 1u);
  }
}

}  // namespace
