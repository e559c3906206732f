// Load: eight threads issue mixed calls on one handle against the simulated server. No call may
// fail, and what the process holds must stay flat: resident memory and open descriptors at the
// end of the last quarter against the end of the first (the first quarter warms up the heap,
// the connection pool and every thread's arena).
//
// CORVANE_LOAD_CALLS sets the calls per thread (default 20000); the sanitizer runs use a short
// form.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "Corvane.h"
#include "MockControl.h"
#include "MockPlatform.h"
#include "ReliabilitySupport.h"
#include "ZentaInternal.h"
#include "zenta/ZentaSdk.h"

namespace {

namespace mock = corvane::mock;
using Clock = std::chrono::steady_clock;

constexpr int kThreads = 8;
constexpr int kQuarters = 4;
constexpr int kDefaultCallsPerThread = 20000;
// Growth of resident memory allowed from the first quarter to the last. A leak of 16 bytes per
// call over the 120000 calls in between would exceed it; allocator noise stays far below.
constexpr std::int64_t kRssToleranceKiB = 2048;

// Under a sanitizer resident memory says nothing about leaks: AddressSanitizer keeps freed blocks
// in quarantine and ThreadSanitizer grows its shadow memory. LeakSanitizer checks those builds.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kRssIsMeaningful = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kRssIsMeaningful = false;
#else
constexpr bool kRssIsMeaningful = true;
#endif
#else
constexpr bool kRssIsMeaningful = true;
#endif

int CallsPerThread() {
  const char* text = std::getenv("CORVANE_LOAD_CALLS");
  const int calls = text != nullptr ? std::atoi(text) : kDefaultCallsPerThread;
  // Whole quarters, at least one call each, and a bound on any loop.
  return calls >= kQuarters && calls <= 1000000 ? calls - calls % kQuarters
                                                : kDefaultCallsPerThread;
}

// The mixed calls, each checked against the platform the server was reset to. A call returns
// true when its status is 0 and its result is what the platform holds.
std::vector<std::function<bool(int)>> MixedCalls(const mock::PlatformState& platform) {
  using namespace Corvane;
  const mock::Channel* ptz = nullptr;
  const mock::Channel* speaker = nullptr;
  for (const auto& channel : platform.channels) {
    if (ptz == nullptr && channel.ptz) ptz = &channel;
    if (speaker == nullptr && channel.speaker && channel.online) speaker = &channel;
  }
  const mock::AlarmRecord& alarm = platform.alarms.front();
  const auto& [mapperType, mapperEntries] = *platform.mappers.begin();
  const std::size_t trails = ptz->trails.size();
  const std::size_t files = speaker->audioFiles.size();
  const std::size_t sources = alarm.sources.size();
  const std::size_t entries = mapperEntries.size();
  const int aiPrivacy = platform.aiPrivacyEnable;
  const std::string ptzId = ptz->channelId;
  const std::string speakerId = speaker->channelId;
  const std::string alarmCode = alarm.alarmCode;
  const long long alarmDate = alarm.alarmDate;
  const int type = mapperType;
  return {
      [aiPrivacy](int h) {
        int enable = -1;
        return API_GetAIPrivacyConfig(h, enable) == 0 && enable == aiPrivacy;
      },
      [ptzId, trails](int h) {
        std::vector<PtzTrailInfo> list;
        return API_GetPtzTrailList(ptzId, h, list) == 0 && list.size() == trails;
      },
      [speakerId](int h) {
        SpeakerVolumeInfo info;
        return API_GetIPSpeakerVolume(speakerId, info, h) == 0 && info.channelId == speakerId;
      },
      [speakerId](int h) {
        return API_SetIPSpeakerVolume({speakerId, 30, 40, 0, ""}, h) == 0;
      },
      [speakerId, files](int h) {
        std::vector<AudioFileInfo> list;
        return API_GetIPSpeakerAudioList(speakerId, list, h) == 0 && list.size() == files;
      },
      [speakerId](int h) {
        std::vector<SameAudioFileInfo> list;
        return API_GetIPSpeakerSameAudioList({speakerId}, list, h) == 0;
      },
      [alarmCode, alarmDate, sources](int h) {
        std::vector<DeviceContactInfo> list;
        return API_GetAlarmDeviceContacts(alarmCode, alarmDate, h, list) == 0 &&
               list.size() == sources;
      },
      [ptzId](int h) {
        StartRemoteRecordRsp result;
        return API_StartRemoteRecord({h, ptzId, 0, 60}, result) == 0 && result.planId > 0;
      },
      [](int h) {
        int playbackTime = -1;
        return API_GetPosConfig(h, playbackTime) == 0 && playbackTime >= 0;
      },
      [](int h) {
        std::map<int, std::string> names;
        return API_GetPosEventTranslate(h, names) == 0 && !names.empty();
      },
      [type, entries](int h) {
        std::map<int, int> mapping;
        return API_QueryDictionaryMapper(h, type, mapping) == 0 && mapping.size() == entries;
      },
      [](int h) {
        DownloadDevicePicResp picture;
        const bool ok =
            API_DownloadDevicePicture(h, {1, "P0100"}, picture) == 0 && picture.pictureLength > 0;
        delete[] picture.pictureData;
        return ok;
      },
      [ptzId](int h) {
        bool enabled = false;
        return API_GetChannelWebEnablement(ptzId, enabled, h) == 0;
      },
  };
}

TEST(Load, EightThreadsOnOneHandleStayFlat) {
  corvane_test::MockControl control;
  control.Reset();
  Corvane::SetLangauage("en-US");
  Corvane::SetTimeZone("UTC");
  Corvane::SetMacAddress("00:11:22:33:44:55");
  const mock::PlatformState platform = mock::GeneratePlatformState(1);
  const std::vector<std::function<bool(int)>> calls = MixedCalls(platform);
  const int callsPerThread = CallsPerThread();
  const int perQuarter = callsPerThread / kQuarters;

  corvane_test::ScopedSession session(corvane_test::MockServerUrl());
  ASSERT_EQ(session.status(), ZENTA_OK);
  std::atomic<long long> failed{0};
  std::int64_t rss[kQuarters] = {};
  int fds[kQuarters] = {};
  const Clock::time_point start = Clock::now();
  for (int quarter = 0; quarter < kQuarters; ++quarter) {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        for (int i = 0; i < perQuarter; ++i) {
          const std::size_t which = static_cast<std::size_t>(t + i) % calls.size();
          if (!calls[which](session.handle())) ++failed;
        }
      });
    }
    for (std::thread& thread : threads) thread.join();
    rss[quarter] = corvane_test::ResidentKiB();
    fds[quarter] = corvane_test::OpenDescriptors();
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  const long long total = static_cast<long long>(kThreads) * perQuarter * kQuarters;
  const quim::Json::Value stats = control.Stats();
  std::printf(
      "[          ] %lld calls on %d threads in %.1f s (%.0f calls/s); VmRSS per quarter %lld, "
      "%lld, %lld, %lld KiB; open fds %d, %d, %d, %d; %lld connections\n",
      total, kThreads, seconds, total / seconds, static_cast<long long>(rss[0]),
      static_cast<long long>(rss[1]), static_cast<long long>(rss[2]),
      static_cast<long long>(rss[3]), fds[0], fds[1], fds[2], fds[3],
      static_cast<long long>(stats["connections"].asInt64()));

  EXPECT_EQ(failed.load(), 0);
  if (kRssIsMeaningful) {
    ASSERT_GT(rss[0], 0);
    EXPECT_LE(rss[kQuarters - 1], rss[0] + kRssToleranceKiB) << "resident memory grew";
  }
  ASSERT_GT(fds[0], 0);
  EXPECT_LE(fds[kQuarters - 1], fds[0]) << "open descriptors grew";
  EXPECT_EQ(zenta::OutstandingAnswerBuffers(), 0u);
  EXPECT_EQ(stats["apiRequests"].asInt64(), total);
  // The pool holds 4; the server itself ends a connection after 100000 requests.
  EXPECT_LE(stats["connections"].asInt64(), 4 + total / 100000) << "connections were not reused";
}

}  // namespace
