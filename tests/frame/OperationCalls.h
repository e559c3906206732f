// The operations as the tests call them: each row runs one operation with handle 3 on outputs
// of its own and describes in one string what it wrote, next to the request it must send.
// Compiled with CORVANE_TEST_OVER_C, the same rows call the C++ interface of CorvaneCxx.h, inline
// over the C interface, instead of Corvane.h's.
#ifndef CORVANE_TESTS_OPERATIONCALLS_H
#define CORVANE_TESTS_OPERATIONCALLS_H

#include <functional>
#include <map>
#include <string>
#include <vector>

#ifdef CORVANE_TEST_OVER_C
#include "CorvaneCxx.h"
constexpr bool kOverC = true;
#else
#include "Corvane.h"
constexpr bool kOverC = false;
#endif

namespace Corvane {

// Text forms of the outputs, so that a row states what an operation wrote in one string.
inline std::string S(const std::string& v) { return v; }
template <typename T>
std::string S(T v) {
  return std::to_string(v);
}
template <typename A, typename B>
std::string S(const std::map<A, B>& m) {
  std::string out;
  for (const auto& [k, v] : m) out += S(k) + "=" + S(v) + ";";
  return out;
}
template <typename T>
std::string S(const std::vector<T>& items) {
  std::string out;
  for (const T& item : items) out += "[" + S(item) + "]";
  return out;
}
inline std::string S(const ContactInfo& c) {
  return c.contactName + c.contactPhone + c.contactEmail + c.contactNote;
}
inline std::string S(const DeviceContactInfo& d) {
  return d.sourceName + d.devicePosition + S(d.deviceContacts);
}
inline std::string S(const ChannelFileInfo& c) { return c.channelId + c.fileId; }
inline std::string S(const SameAudioFileInfo& f) { return f.fileName + S(f.channelFiles); }
inline std::string S(const AudioFileInfo& f) { return f.channelId + f.fileId + f.fileName; }
inline std::string S(const PtzTrailInfo& t) { return t.trailId + "|" + t.trailName; }
inline std::string S(const SpeakerVolumeInfo& v) {
  return "[" + v.channelId + S(v.microphoneVolume) + S(v.speakerVolume) + S(v.successful) +
         v.channelName + "]";
}

// Every output an operation writes, with starting values that show when it is left alone.
struct Outputs {
  int i = 9;
  bool b = true;
  SpeakerVolumeInfo volume;
  std::vector<AudioFileInfo> audio = std::vector<AudioFileInfo>(1);
  std::vector<SameAudioFileInfo> same;
  std::vector<DeviceContactInfo> contacts;
  std::vector<PtzTrailInfo> trails;
  StartRemoteRecordRsp record{9, 9};
  std::map<int, std::string> names{{1, "old"}};
  std::map<int, int> mapping{{5, 5}};
};

struct Call {
  const char* name;
  std::function<int(Outputs&)> run;
  std::function<std::string(const Outputs&)> show;
  const char* method;
  std::string path;
  std::string body;  // empty: no body
  const char* data;  // the "data" member of the answer
  std::string output;
};

inline std::vector<Call> Calls() {
  const std::string id = "{\"clientType\":\"WINPC_V2\",\"clientMac\":\"m\",\"project\":\"QIRO\"";
  const auto i = [](const Outputs& o) { return S(o.i); };
  const auto b = [](const Outputs& o) { return S(o.b); };
  return {
      {"privacy", [](Outputs& o) { return API_GetAIPrivacyConfig(3, o.i); }, i, "GET",
       "vusk/api/v1.1/config/ai/privacy", "", "{\"enable\":2}", "2"},
      {"web", [](Outputs& o) { return API_GetWebEnablement("d/1", o.b, 3); }, b, "GET",
       "vusk/api/v1.1/device/d/1/web/enablement", "", "{\"enableWeb\":5}", "1"},
      {"channel web", [](Outputs& o) { return API_GetChannelWebEnablement("c", o.b, 3); }, b, "GET",
       "vusk/api/v1.1/device/channel/c/web/enablement", "", "{}", "0"},
      {"volume", [](Outputs& o) { return API_GetIPSpeakerVolume("c1", o.volume, 3); },
       [](const Outputs& o) { return S(o.volume); }, "POST",
       "vusk/api/v1.1/ip-speaker/channel/volume/fetch/list", id + ",\"channelIds\":[\"c1\"]}",
       "{\"results\":[{\"channelId\":\"a\"},{\"channelId\":\"b\",\"microphoneVolume\":4,"
       "\"speakerVolume\":5,\"successful\":1,\"channelName\":\"n\"}]}",
       "[b451n]"},
      {"set volume",
       [](Outputs&) {
         return API_SetIPSpeakerVolume({"c", 0, -1, 0, ""}, 3);
       },
       [](const Outputs&) { return std::string(); }, "POST",
       "vusk/api/v1.1/ip-speaker/channel/volume/update/batch",
       id + ",\"channelIds\":[\"c\"],\"microphoneVolume\":0}",
       "{\"microphoneVolumeFailedChannels\":[]}", ""},
      {"audio", [](Outputs& o) { return API_GetIPSpeakerAudioList("c", o.audio, 3); },
       [](const Outputs& o) { return S(o.audio); }, "GET",
       "vusk/api/v1.1/device/channel/c/audio/file/list", "",
       "{\"results\":[{\"channelId\":\"c\",\"fileId\":\"f\",\"fileName\":\"\xE9\"}]}",
       "[][cf\xE9]"},
      {"same audio", [](Outputs& o) { return API_GetIPSpeakerSameAudioList({}, o.same, 3); },
       [](const Outputs& o) { return S(o.same); }, "POST",
       "vusk/api/v1.1/device/channel/same/audio/file/fetch/list", id + ",\"channelIds\":null}",
       "{\"results\":[{\"fileName\":\"x\",\"channelFiles\":[{\"channelId\":\"c\",\"fileId\":\"f\"}"
       "]},{\"channelFiles\":7}]}",
       "[x[cf]][]"},
      {"contacts", [](Outputs& o) { return API_GetAlarmDeviceContacts("A&1", -5, 3, o.contacts); },
       [](const Outputs& o) { return S(o.contacts); }, "GET",
       "vusk/api/v1.1/alarm/record/contact/detail?alarmCode=A&1&alarmDate=-5", "",
       "{\"results\":[{\"sourceName\":\"s\",\"devicePosition\":\"p\",\"deviceContacts\":[{"
       "\"contactName\":\"n\",\"contactPhone\":1,\"contactEmail\":\"e\",\"contactNote\":\"o\"}]}]}",
       "[sp[n1eo]]"},
      {"trails", [](Outputs& o) { return API_GetPtzTrailList("c", 3, o.trails); },
       [](const Outputs& o) { return S(o.trails); }, "GET",
       "vusk/api/v1.1/ptz/channel/c/trail/list", "",
       "{\"results\":[{\"trailId\":12345678901,\"trailName\":\"t\"},{\"trailId\":1.5}]}",
       "[12345678901|t][1.5|]"},
      {"record",
       [](Outputs& o) {
         return API_StartRemoteRecord({3, "c", 1, 30}, o.record);
       },
       [](const Outputs& o) { return S(o.record.planId) + "," + S(o.record.now); }, "POST",
       "admin/API/SS/Record/StartRecord",
       id + ",\"data\":{\"streamType\":1,\"duration\":30,\"channelId\":\"c\"}}",
       "{\"planId\":4,\"now\":1700000000000}", "4,1700000000000"},
      {"pos", [](Outputs& o) { return API_GetPosConfig(3, o.i); }, i, "GET",
       "vusk/api/v1.1/config/pos", "", "{\"posPlaybackTime\":\" 12s\"}", "12"},
      {"pos events", [](Outputs& o) { return API_GetPosEventTranslate(3, o.names); },
       [](const Outputs& o) { return S(o.names); }, "GET",
       "vusk/api/v1.1/dictionary/list?types=9052", "",
       "{\"results\":[{\"items\":[{\"code\":\"1\",\"name\":\"a\"},{\"code\":\"2\",\"name\":\"b\"}"
       "]},{\"items\":[{\"code\":2,\"name\":\"c\"}]},{}]}",
       "1=a;2=c;"},
      {"mapper", [](Outputs& o) { return API_QueryDictionaryMapper(3, 12, o.mapping); },
       [](const Outputs& o) { return S(o.mapping); }, "GET",
       "vusk/api/v1.1/config/dictionary-mapper?type=12", "",
       "{\"results\":[{\"key\":\"1\",\"value\":\"2\"},{\"key\":1,\"value\":\"-3\"}]}", "1=-3;5=5;"},
  };
}

}  // namespace Corvane

#endif  // CORVANE_TESTS_OPERATIONCALLS_H
