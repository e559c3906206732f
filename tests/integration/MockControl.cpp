#include "MockControl.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
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

MockControl::MockControl() : MockClient(MockServerUrl()) {
  Corvane::SetLangauage("en-US");
  Corvane::SetTimeZone("UTC");
  Corvane::SetMacAddress("00:11:22:33:44:55");
}

namespace {

// An operation run on fresh outputs of type Out; `same` compares them with the platform.
template <class Out, class Call, class Same>
PlatformCall Op(const char* name, Call call, Same same) {
  return {name, [call, same](int h, bool& matches) {
            Out out{};
            const int status = call(h, out);
            matches = same(out);
            return status;
          }};
}

// The plan ids that the record starts of one table have returned: each answer carries a new one.
struct PlanIds {
  std::mutex mutex;
  std::set<int> seen;
};

}  // namespace

std::vector<PlatformCall> EveryOperation() {
  using namespace Corvane;
  namespace mock = corvane::mock;
  const auto p = std::make_shared<const mock::PlatformState>(mock::GeneratePlatformState(1));
  const auto first = [&p](bool (*pick)(const mock::Channel&)) {
    return *std::find_if(p->channels.begin(), p->channels.end(), pick);
  };
  const mock::Channel cam = first([](const mock::Channel& c) { return !c.speaker; });
  const mock::Channel spk = first([](const mock::Channel& c) { return c.speaker && c.online; });
  const mock::Channel ptz = first([](const mock::Channel& c) { return c.ptz; });
  const mock::Device device = p->devices.front();
  const mock::AlarmRecord alarm = p->alarms.front();
  const mock::Picture picture = *std::find_if(  // a space in the path
      p->pictures.begin(), p->pictures.end(),
      [](const auto& x) { return x.pictureId == "P 0200"; });
  std::map<int, std::string> events;
  for (const auto& group : p->dictionaryGroups) {
    for (const auto& item : group.items) {
      if (group.type == mock::kPosEventDictionary) events[std::stoi(item.code)] = item.name;
    }
  }
  const auto& [mapperType, entries] = *p->mappers.begin();
  std::map<int, int> mapper;
  for (const auto& entry : entries) mapper[std::stoi(entry.key)] = std::stoi(entry.value);
  // Each compares the fields that tell this platform's answer from any other.
  return {
      Op<int>(
          "ai privacy", [](int h, int& o) { return API_GetAIPrivacyConfig(h, o); },
          [p](int o) { return o == p->aiPrivacyEnable; }),
      Op<bool>(
          "device web enablement",
          [device](int h, bool& o) { return API_GetWebEnablement(device.deviceId, o, h); },
          [device](bool o) { return o == device.enableWeb; }),
      Op<bool>(
          "channel web enablement",
          [cam](int h, bool& o) { return API_GetChannelWebEnablement(cam.channelId, o, h); },
          [cam](bool o) { return o == cam.enableWeb; }),
      Op<DownloadDevicePicResp>(
          "picture",
          [picture](int h, DownloadDevicePicResp& o) {
            return API_DownloadDevicePicture(h, {5, picture.pictureId}, o);
          },
          [picture](const DownloadDevicePicResp& o) {
            const std::unique_ptr<char[]> data(o.pictureData);
            return data && o.tag == 5 &&
                   std::string(o.pictureData, o.pictureLength) == *picture.png;
          }),
      Op<SpeakerVolumeInfo>(
          "speaker volume fetch",
          [spk](int h, SpeakerVolumeInfo& o) {
            return API_GetIPSpeakerVolume(spk.channelId, o, h);
          },
          [spk](const SpeakerVolumeInfo& o) {
            return o.channelName == spk.channelName && o.speakerVolume == spk.speakerVolume &&
                   o.microphoneVolume == spk.microphoneVolume && o.successful == 1;
          }),
      Op<int>(
          "speaker volume update",
          [spk](int h, int&) {
            return API_SetIPSpeakerVolume(
                {spk.channelId, spk.microphoneVolume, spk.speakerVolume, 0, ""}, h);
          },
          [](int) { return true; }),  // the answer carries no data
      Op<std::vector<AudioFileInfo>>(
          "audio files",
          [spk](int h, auto& o) { return API_GetIPSpeakerAudioList(spk.channelId, o, h); },
          [spk](const auto& o) {
            return o.size() == spk.audioFiles.size() &&
                   o.back().fileName == spk.audioFiles.back().fileName;
          }),
      Op<std::vector<SameAudioFileInfo>>(
          "same audio files",
          [spk](int h, auto& o) { return API_GetIPSpeakerSameAudioList({spk.channelId}, o, h); },
          [spk](const auto& o) { return o.size() == spk.audioFiles.size(); }),
      Op<std::vector<DeviceContactInfo>>(
          "alarm contacts",
          [alarm](int h, auto& o) {
            return API_GetAlarmDeviceContacts(alarm.alarmCode, alarm.alarmDate, h, o);
          },
          [alarm](const auto& o) {
            return o.size() == alarm.sources.size() &&
                   o.back().sourceName == alarm.sources.back().sourceName;
          }),
      Op<std::vector<PtzTrailInfo>>(
          "ptz trails", [ptz](int h, auto& o) { return API_GetPtzTrailList(ptz.channelId, h, o); },
          [ptz](const auto& o) {
            return o.size() == ptz.trails.size() && o.back().trailId == ptz.trails.back().trailId;
          }),
      Op<StartRemoteRecordRsp>(
          "record start",
          [cam](int h, auto& o) {
            return API_StartRemoteRecord({h, cam.channelId, 0, 60}, o);
          },
          [plans = std::make_shared<PlanIds>()](const auto& o) {
            const std::lock_guard<std::mutex> lock(plans->mutex);
            return plans->seen.insert(o.planId).second && o.now > 1700000000000LL;  // epoch ms
          }),
      Op<int>(
          "pos config", [](int h, int& o) { return API_GetPosConfig(h, o); },
          [p](int o) { return o == std::stoi(p->posPlaybackTime); }),
      Op<std::map<int, std::string>>(
          "pos event names", [](int h, auto& o) { return API_GetPosEventTranslate(h, o); },
          [events](const auto& o) { return !o.empty() && o == events; }),
      Op<std::map<int, int>>(
          "dictionary mapper",
          [type = mapperType](int h, auto& o) { return API_QueryDictionaryMapper(h, type, o); },
          [mapper](const auto& o) { return o == mapper; }),
  };
}

}  // namespace corvane_test
