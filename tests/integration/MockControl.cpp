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

// What the calls ask for and compare against: one platform's state and the channels, device,
// alarm and picture the calls use, the POS event names and one mapper type's mapping.
struct Picks {
  std::shared_ptr<const corvane::mock::PlatformState> p;
  corvane::mock::Channel cam, spk, ptz;
  corvane::mock::Device device;
  corvane::mock::AlarmRecord alarm;
  corvane::mock::Picture picture;
  std::map<int, std::string> events;
  int mapperType = 0;
  std::map<int, int> mapper;
};

Picks Pick() {
  namespace mock = corvane::mock;
  Picks k;
  const auto p = k.p = std::make_shared<const mock::PlatformState>(mock::GeneratePlatformState(1));
  const auto first = [&p](bool (*pick)(const mock::Channel&)) {
    return *std::find_if(p->channels.begin(), p->channels.end(), pick);
  };
  k.cam = first([](const mock::Channel& c) { return !c.speaker; });
  k.spk = first([](const mock::Channel& c) { return c.speaker && c.online; });
  k.ptz = first([](const mock::Channel& c) { return c.ptz; });
  k.device = p->devices.front();
  k.alarm = p->alarms.front();
  k.picture = *std::find_if(  // a space in the path
      p->pictures.begin(), p->pictures.end(),
      [](const auto& x) { return x.pictureId == "P 0200"; });
  for (const auto& group : p->dictionaryGroups) {
    for (const auto& item : group.items) {
      if (group.type == mock::kPosEventDictionary) k.events[std::stoi(item.code)] = item.name;
    }
  }
  const auto& [mapperType, entries] = *p->mappers.begin();
  k.mapperType = mapperType;
  for (const auto& entry : entries) k.mapper[std::stoi(entry.key)] = std::stoi(entry.value);
  return k;
}

// Each compares the fields that tell this platform's answer from any other.
std::vector<PlatformCall> DeviceAndChannelCalls(const Picks& k) {
  using namespace Corvane;
  return {
      Op<int>(
          "ai privacy", [](int h, int& o) { return API_GetAIPrivacyConfig(h, o); },
          [k](int o) { return o == k.p->aiPrivacyEnable; }),
      Op<bool>(
          "device web enablement",
          [k](int h, bool& o) { return API_GetWebEnablement(k.device.deviceId, o, h); },
          [k](bool o) { return o == k.device.enableWeb; }),
      Op<bool>(
          "channel web enablement",
          [k](int h, bool& o) { return API_GetChannelWebEnablement(k.cam.channelId, o, h); },
          [k](bool o) { return o == k.cam.enableWeb; }),
      Op<DownloadDevicePicResp>(
          "picture",
          [k](int h, DownloadDevicePicResp& o) {
            return API_DownloadDevicePicture(h, {5, k.picture.pictureId}, o);
          },
          [k](const DownloadDevicePicResp& o) {
            const std::unique_ptr<char[]> data(o.pictureData);
            return data && o.tag == 5 &&
                   std::string(o.pictureData, o.pictureLength) == *k.picture.png;
          }),
      Op<SpeakerVolumeInfo>(
          "speaker volume fetch",
          [k](int h, SpeakerVolumeInfo& o) {
            return API_GetIPSpeakerVolume(k.spk.channelId, o, h);
          },
          [k](const SpeakerVolumeInfo& o) {
            return o.channelName == k.spk.channelName && o.speakerVolume == k.spk.speakerVolume &&
                   o.microphoneVolume == k.spk.microphoneVolume && o.successful == 1;
          }),
      Op<int>(
          "speaker volume update",
          [k](int h, int&) {
            return API_SetIPSpeakerVolume(
                {k.spk.channelId, k.spk.microphoneVolume, k.spk.speakerVolume, 0, ""}, h);
          },
          [](int) { return true; }),  // the answer carries no data
  };
}

std::vector<PlatformCall> ListAndConfigCalls(const Picks& k) {
  using namespace Corvane;
  return {
      Op<std::vector<AudioFileInfo>>(
          "audio files",
          [k](int h, auto& o) { return API_GetIPSpeakerAudioList(k.spk.channelId, o, h); },
          [k](const auto& o) {
            return o.size() == k.spk.audioFiles.size() &&
                   o.back().fileName == k.spk.audioFiles.back().fileName;
          }),
      Op<std::vector<SameAudioFileInfo>>(
          "same audio files",
          [k](int h, auto& o) { return API_GetIPSpeakerSameAudioList({k.spk.channelId}, o, h); },
          [k](const auto& o) { return o.size() == k.spk.audioFiles.size(); }),
      Op<std::vector<DeviceContactInfo>>(
          "alarm contacts",
          [k](int h, auto& o) {
            return API_GetAlarmDeviceContacts(k.alarm.alarmCode, k.alarm.alarmDate, h, o);
          },
          [k](const auto& o) {
            return o.size() == k.alarm.sources.size() &&
                   o.back().sourceName == k.alarm.sources.back().sourceName;
          }),
      Op<std::vector<PtzTrailInfo>>(
          "ptz trails", [k](int h, auto& o) { return API_GetPtzTrailList(k.ptz.channelId, h, o); },
          [k](const auto& o) {
            return o.size() == k.ptz.trails.size() &&
                   o.back().trailId == k.ptz.trails.back().trailId;
          }),
      Op<StartRemoteRecordRsp>(
          "record start",
          [k](int h, auto& o) {
            return API_StartRemoteRecord({h, k.cam.channelId, 0, 60}, o);
          },
          [plans = std::make_shared<PlanIds>()](const auto& o) {
            const std::lock_guard<std::mutex> lock(plans->mutex);
            return plans->seen.insert(o.planId).second && o.now > 1700000000000LL;  // epoch ms
          }),
      Op<int>(
          "pos config", [](int h, int& o) { return API_GetPosConfig(h, o); },
          [k](int o) { return o == std::stoi(k.p->posPlaybackTime); }),
      Op<std::map<int, std::string>>(
          "pos event names", [](int h, auto& o) { return API_GetPosEventTranslate(h, o); },
          [k](const auto& o) { return !o.empty() && o == k.events; }),
      Op<std::map<int, int>>(
          "dictionary mapper",
          [k](int h, auto& o) { return API_QueryDictionaryMapper(h, k.mapperType, o); },
          [k](const auto& o) { return o == k.mapper; }),
  };
}

}  // namespace

std::vector<PlatformCall> EveryOperation() {
  const Picks picks = Pick();
  std::vector<PlatformCall> calls = DeviceAndChannelCalls(picks);
  for (PlatformCall& call : ListAndConfigCalls(picks)) calls.push_back(std::move(call));
  return calls;
}

}  // namespace corvane_test
