#include "MockControl.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <httplib.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "Corvane.h"
#include "MockPlatform.h"

namespace corvane_test {

std::string MockServerUrl() {
  const char* file = std::getenv("CORVANE_MOCK_URL_FILE");
  if (file == nullptr) throw std::runtime_error("CORVANE_MOCK_URL_FILE is not set: run via ctest");
  std::ifstream in(file);
  std::string url;
  if (!std::getline(in, url) || url.empty()) throw std::runtime_error("no mock server URL");
  return url;
}

struct MockControl::Impl {
  explicit Impl(const std::string& url) : client(url) { client.set_keep_alive(true); }
  void Expect(const httplib::Result& result, const char* what) {
    if (!result || result->status != 200) {
      throw std::runtime_error(std::string("mock control ") + what + " failed");
    }
  }
  httplib::Client client;
};

MockControl::MockControl() : impl_(std::make_unique<Impl>(MockServerUrl())) {}
MockControl::~MockControl() = default;

void MockControl::Reset() {
  impl_->Expect(impl_->client.Delete("/__mock/faults"), "clearing faults");
  impl_->Expect(impl_->client.Post("/__mock/reset", "{}", "application/json"), "reset");
  impl_->Expect(impl_->client.Delete("/__mock/stats"), "zeroing statistics");
}

void MockControl::ClearFaults() {
  impl_->Expect(impl_->client.Delete("/__mock/faults"), "clearing faults");
}

void MockControl::AddFault(const std::string& json) {
  impl_->Expect(impl_->client.Post("/__mock/faults", json, "application/json"), "adding a fault");
}

quim::Json::Value MockControl::Stats() {
  httplib::Result result = impl_->client.Get("/__mock/stats");
  impl_->Expect(result, "statistics");
  quim::Json::Value stats;
  if (!quim::Json::Parse(result->body, stats) || !stats.isMember("data")) {
    throw std::runtime_error("statistics not in an answer envelope");
  }
  return stats["data"];
}

void UseClientSettings() {
  Corvane::SetLangauage("en-US");
  Corvane::SetTimeZone("UTC");
  Corvane::SetMacAddress("00:11:22:33:44:55");
}

std::vector<PlatformCall> EveryOperation() {
  using namespace Corvane;
  namespace mock = corvane::mock;
  const auto p = std::make_shared<const mock::PlatformState>(mock::GeneratePlatformState(1));
  const auto first = [&p](bool (*pick)(const mock::Channel&)) {
    for (const mock::Channel& channel : p->channels) {
      if (pick(channel)) return channel;
    }
    throw std::runtime_error("the platform has no such channel");
  };
  const mock::Channel camera = first([](const mock::Channel& c) { return !c.speaker; });
  const mock::Channel speaker = first([](const mock::Channel& c) { return c.speaker && c.online; });
  const mock::Channel ptz = first([](const mock::Channel& c) { return c.ptz; });
  const mock::Device device = p->devices.front();
  const mock::AlarmRecord alarm = p->alarms.front();
  std::map<int, std::string> events;
  for (const auto& group : p->dictionaryGroups) {
    if (group.type != mock::kPosEventDictionary) continue;
    for (const auto& item : group.items) events[std::stoi(item.code)] = item.name;
  }
  const int mapperType = p->mappers.begin()->first;
  std::map<int, int> mapper;
  for (const auto& entry : p->mappers.begin()->second) {
    mapper[std::stoi(entry.key)] = std::stoi(entry.value);
  }
  return {
      {"ai privacy", false,
       [p](int h, bool& matches) {
         int enable = -7;
         const int status = API_GetAIPrivacyConfig(h, enable);
         matches = enable == p->aiPrivacyEnable;
         return status;
       }},
      {"device web enablement", false,
       [device](int h, bool& matches) {
         bool web = !device.enableWeb;
         const int status = API_GetWebEnablement(device.deviceId, web, h);
         matches = web == device.enableWeb;
         return status;
       }},
      {"channel web enablement", false,
       [camera](int h, bool& matches) {
         bool web = !camera.enableWeb;
         const int status = API_GetChannelWebEnablement(camera.channelId, web, h);
         matches = web == camera.enableWeb;
         return status;
       }},
      {"picture", true,
       [picture = p->pictures.front()](int h, bool& matches) {
         DownloadDevicePicResp png;
         const int status = API_DownloadDevicePicture(h, {5, picture.pictureId}, png);
         matches = png.pictureData != nullptr && png.tag == 5 &&
                   std::string(png.pictureData, static_cast<std::size_t>(png.pictureLength)) ==
                       *picture.png;
         delete[] png.pictureData;
         return status;
       }},
      {"speaker volume fetch", false,
       [speaker](int h, bool& matches) {
         SpeakerVolumeInfo volume{"sentinel", -1, -1, -1, "sentinel"};
         const int status = API_GetIPSpeakerVolume(speaker.channelId, volume, h);
         matches = volume.channelId == speaker.channelId &&
                   volume.channelName == speaker.channelName &&
                   volume.microphoneVolume == speaker.microphoneVolume &&
                   volume.speakerVolume == speaker.speakerVolume && volume.successful == 1;
         return status;
       }},
      {"speaker volume update", false,
       [speaker](int h, bool& matches) {
         matches = true;
         return API_SetIPSpeakerVolume(
             {speaker.channelId, speaker.microphoneVolume, speaker.speakerVolume, 0, ""}, h);
       }},
      {"audio files", false,
       [speaker](int h, bool& matches) {
         std::vector<AudioFileInfo> files;
         const int status = API_GetIPSpeakerAudioList(speaker.channelId, files, h);
         matches = files.size() == speaker.audioFiles.size();
         for (std::size_t i = 0; matches && i < files.size(); ++i) {
           matches = files[i].channelId == speaker.channelId &&
                     files[i].fileId == speaker.audioFiles[i].fileId &&
                     files[i].fileName == speaker.audioFiles[i].fileName;
         }
         return status;
       }},
      {"same audio files", false,
       [speaker](int h, bool& matches) {
         std::vector<SameAudioFileInfo> same;
         const int status =
             API_GetIPSpeakerSameAudioList({speaker.channelId, speaker.channelId}, same, h);
         matches = same.size() == speaker.audioFiles.size();  // one channel shares all its files
         return status;
       }},
      {"alarm contacts", false,
       [alarm](int h, bool& matches) {
         std::vector<DeviceContactInfo> contacts;
         const int status =
             API_GetAlarmDeviceContacts(alarm.alarmCode, alarm.alarmDate, h, contacts);
         matches = contacts.size() == alarm.sources.size();
         for (std::size_t i = 0; matches && i < contacts.size(); ++i) {
           const mock::AlarmSource& source = alarm.sources[i];
           matches = contacts[i].sourceName == source.sourceName &&
                     contacts[i].devicePosition == source.devicePosition &&
                     contacts[i].deviceContacts.size() == source.deviceContacts.size();
           for (std::size_t j = 0; matches && j < source.deviceContacts.size(); ++j) {
             matches = contacts[i].deviceContacts[j].contactEmail ==
                       source.deviceContacts[j].contactEmail;
           }
         }
         return status;
       }},
      {"ptz trails", false,
       [ptz](int h, bool& matches) {
         std::vector<PtzTrailInfo> trails;
         const int status = API_GetPtzTrailList(ptz.channelId, h, trails);
         matches = trails.size() == ptz.trails.size();
         for (std::size_t i = 0; matches && i < trails.size(); ++i) {
           matches = trails[i].trailId == ptz.trails[i].trailId &&
                     trails[i].trailName == ptz.trails[i].trailName;
         }
         return status;
       }},
      {"record start", false,
       [camera](int h, bool& matches) {
         StartRemoteRecordRsp record{-7, -7};
         const int status = API_StartRemoteRecord({h, camera.channelId, 0, 60}, record);
         matches = record.planId > 0 && record.now > 1700000000000LL;  // epoch ms, full width
         return status;
       }},
      {"pos config", false,
       [p](int h, bool& matches) {
         int playback = -7;
         const int status = API_GetPosConfig(h, playback);
         matches = playback == std::stoi(p->posPlaybackTime);
         return status;
       }},
      {"pos event names", false,
       [events](int h, bool& matches) {
         std::map<int, std::string> names;
         const int status = API_GetPosEventTranslate(h, names);
         matches = !names.empty() && names == events;
         return status;
       }},
      {"dictionary mapper", false,
       [mapperType, mapper](int h, bool& matches) {
         std::map<int, int> mapping;
         const int status = API_QueryDictionaryMapper(h, mapperType, mapping);
         matches = mapping == mapper;
         return status;
       }},
  };
}

std::int64_t ResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, 6, "VmRSS:") == 0) return std::strtoll(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

int OpenDescriptors() {
  DIR* dir = ::opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  int count = 0;
  while (const dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  ::closedir(dir);
  return count;
}

}  // namespace corvane_test
