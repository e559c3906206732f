#include "MockControl.h"

#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <stdexcept>

#include "Corvane.h"
#include "MockPlatform.h"

namespace corvane_test {

std::string FixtureFile(const std::string& name) {
  const char* file = std::getenv("CORVANE_MOCK_URL_FILE");
  if (file == nullptr) throw std::runtime_error("CORVANE_MOCK_URL_FILE is not set: run via ctest");
  const std::string url(file);
  return url.substr(0, url.rfind('/') + 1) + name;
}

std::string MockServerUrl(const std::string& server) {
  std::ifstream in(FixtureFile(server));
  std::string url;
  if (!std::getline(in, url) || url.empty()) throw std::runtime_error("no URL in " + server);
  return url;
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
    for (const auto& item : group.items) {
      if (group.type == mock::kPosEventDictionary) events[std::stoi(item.code)] = item.name;
    }
  }
  std::map<int, int> mapper;
  for (const auto& entry : p->mappers.begin()->second) {
    mapper[std::stoi(entry.key)] = std::stoi(entry.value);
  }
  const int mapperType = p->mappers.begin()->first;
  // Each compares the fields that tell this platform's answer from any other.
  return {
      {"ai privacy", false,
       [p](int h, bool& m, int&) {
         int enable = -7;
         const int status = API_GetAIPrivacyConfig(h, enable);
         m = enable == p->aiPrivacyEnable;
         return status;
       }},
      {"device web enablement", false,
       [device](int h, bool& m, int&) {
         bool web = !device.enableWeb;
         const int status = API_GetWebEnablement(device.deviceId, web, h);
         m = web == device.enableWeb;
         return status;
       }},
      {"channel web enablement", false,
       [camera](int h, bool& m, int&) {
         bool web = !camera.enableWeb;
         const int status = API_GetChannelWebEnablement(camera.channelId, web, h);
         m = web == camera.enableWeb;
         return status;
       }},
      {"picture", true,
       [picture = p->pictures.front()](int h, bool& m, int&) {
         DownloadDevicePicResp png;
         const int status = API_DownloadDevicePicture(h, {5, picture.pictureId}, png);
         m = png.pictureData != nullptr && png.tag == 5 &&
             std::string(png.pictureData, png.pictureLength) == *picture.png;
         delete[] png.pictureData;
         return status;
       }},
      {"speaker volume fetch", false,
       [speaker](int h, bool& m, int&) {
         SpeakerVolumeInfo v{"sentinel", -1, -1, -1, "sentinel"};
         const int status = API_GetIPSpeakerVolume(speaker.channelId, v, h);
         m = v.channelName == speaker.channelName && v.speakerVolume == speaker.speakerVolume &&
             v.microphoneVolume == speaker.microphoneVolume && v.successful == 1;
         return status;
       }},
      {"speaker volume update", false,
       [speaker](int h, bool& m, int&) {
         m = true;  // the answer carries no data
         return API_SetIPSpeakerVolume(
             {speaker.channelId, speaker.microphoneVolume, speaker.speakerVolume, 0, ""}, h);
       }},
      {"audio files", false,
       [speaker](int h, bool& m, int&) {
         std::vector<AudioFileInfo> files;
         const int status = API_GetIPSpeakerAudioList(speaker.channelId, files, h);
         m = files.size() == speaker.audioFiles.size() &&
             files.back().fileName == speaker.audioFiles.back().fileName;
         return status;
       }},
      {"same audio files", false,
       [speaker](int h, bool& m, int&) {
         std::vector<SameAudioFileInfo> same;
         const int status = API_GetIPSpeakerSameAudioList({speaker.channelId}, same, h);
         m = same.size() == speaker.audioFiles.size();  // one channel shares all its files
         return status;
       }},
      {"alarm contacts", false,
       [alarm](int h, bool& m, int&) {
         std::vector<DeviceContactInfo> contacts;
         const int status =
             API_GetAlarmDeviceContacts(alarm.alarmCode, alarm.alarmDate, h, contacts);
         m = contacts.size() == alarm.sources.size() &&
             contacts.back().sourceName == alarm.sources.back().sourceName;
         return status;
       }},
      {"ptz trails", false,
       [ptz](int h, bool& m, int&) {
         std::vector<PtzTrailInfo> trails;
         const int status = API_GetPtzTrailList(ptz.channelId, h, trails);
         m = trails.size() == ptz.trails.size() &&
             trails.back().trailId == ptz.trails.back().trailId;
         return status;
       }},
      {"record start", false,
       [camera](int h, bool& m, int& planId) {
         StartRemoteRecordRsp record{-7, -7};
         const int status = API_StartRemoteRecord({h, camera.channelId, 0, 60}, record);
         planId = record.planId;
         m = record.planId > 0 && record.now > 1700000000000LL;  // epoch ms, full width
         return status;
       }},
      {"pos config", false,
       [p](int h, bool& m, int&) {
         int playback = -7;
         const int status = API_GetPosConfig(h, playback);
         m = playback == std::stoi(p->posPlaybackTime);
         return status;
       }},
      {"pos event names", false,
       [events](int h, bool& m, int&) {
         std::map<int, std::string> names;
         const int status = API_GetPosEventTranslate(h, names);
         m = !names.empty() && names == events;
         return status;
       }},
      {"dictionary mapper", false,
       [mapperType, mapper](int h, bool& m, int&) {
         std::map<int, int> mapping;
         const int status = API_QueryDictionaryMapper(h, mapperType, mapping);
         m = mapping == mapper;
         return status;
       }},
  };
}

}  // namespace corvane_test
