// The operations as the tests call them: each row runs one operation with handle 3 and
// describes in one string what it wrote, next to the request it must send.
#ifndef CORVANE_TESTS_OPERATIONCALLS_H
#define CORVANE_TESTS_OPERATIONCALLS_H

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "Corvane.h"

namespace Corvane {

inline std::string S(int v) { return std::to_string(v); }
inline std::string S(long long v) { return std::to_string(v); }
inline std::string S(const std::string& v) { return v; }
template <typename A, typename B>
inline std::string S(const std::map<A, B>& m) {
  std::string out;
  for (const auto& [k, v] : m) out += S(k) + "=" + S(v) + ";";
  return out;
}
template <typename T, typename F>
inline std::string S(const std::vector<T>& items, F each) {
  std::string out;
  for (const T& item : items) out += "[" + each(item) + "]";
  return out;
}

inline const char kIdentity[] =
    "{\"clientType\":\"WINPC_V2\",\"clientMac\":\"m\",\"project\":\"QIRO\"";

struct Call {
  const char* name;
  std::function<std::string(int& status)> run;
  const char* method;
  std::string path;
  std::string body;  // empty: no body
  const char* data;  // the "data" member of the answer
  std::string output;
};

inline std::vector<Call> Calls() {
  const std::string v = "/vusk/api/v1.1/";
  return {
      {"privacy",
       [](int& s) {
         int e = 9;
         s = API_GetAIPrivacyConfig(3, e);
         return S(e);
       },
       "GET", "vusk/api/v1.1/config/ai/privacy", "", "{\"enable\":2}", "2"},
      {"web",
       [](int& s) {
         bool e = false;
         s = API_GetWebEnablement("d/1", e, 3);
         return S(e);
       },
       "GET", "vusk/api/v1.1/device/d/1/web/enablement", "", "{\"enableWeb\":5}", "1"},
      {"channel web",
       [](int& s) {
         bool e = true;
         s = API_GetChannelWebEnablement("c", e, 3);
         return S(e);
       },
       "GET", "vusk/api/v1.1/device/channel/c/web/enablement", "", "{}", "0"},
      {"volume",
       [](int& s) {
         SpeakerVolumeInfo i;
         s = API_GetIPSpeakerVolume("c1", i, 3);
         return i.channelId + S(i.microphoneVolume) + S(i.speakerVolume) + S(i.successful) +
                i.channelName;
       },
       "POST", "vusk/api/v1.1/ip-speaker/channel/volume/fetch/list",
       std::string(kIdentity) + ",\"channelIds\":[\"c1\"]}",
       "{\"results\":[{\"channelId\":\"a\"},{\"channelId\":\"b\",\"microphoneVolume\":4,"
       "\"speakerVolume\":5,\"successful\":1,\"channelName\":\"n\"}]}",
       "b451n"},
      {"set volume",
       [](int& s) {
         s = API_SetIPSpeakerVolume({"c", 0, -1, 0, ""}, 3);
         return std::string();
       },
       "POST", "vusk/api/v1.1/ip-speaker/channel/volume/update/batch",
       std::string(kIdentity) + ",\"channelIds\":[\"c\"],\"microphoneVolume\":0}",
       "{\"microphoneVolumeFailedChannels\":[]}", ""},
      {"audio",
       [](int& s) {
         std::vector<AudioFileInfo> f(1);
         s = API_GetIPSpeakerAudioList("c", f, 3);
         return S(f, [](const AudioFileInfo& a) { return a.channelId + a.fileId + a.fileName; });
       },
       "GET", "vusk/api/v1.1/device/channel/c/audio/file/list", "",
       "{\"results\":[{\"channelId\":\"c\",\"fileId\":\"f\",\"fileName\":\"\xE9\"}]}",
       "[][cf\xE9]"},
      {"same audio",
       [](int& s) {
         std::vector<SameAudioFileInfo> f;
         s = API_GetIPSpeakerSameAudioList({}, f, 3);
         return S(f, [](const SameAudioFileInfo& a) {
           return a.fileName + S(a.channelFiles,
                                 [](const ChannelFileInfo& c) { return c.channelId + c.fileId; });
         });
       },
       "POST", "vusk/api/v1.1/device/channel/same/audio/file/fetch/list",
       std::string(kIdentity) + ",\"channelIds\":null}",
       "{\"results\":[{\"fileName\":\"x\",\"channelFiles\":[{\"channelId\":\"c\",\"fileId\":\"f\"}"
       "]},{\"channelFiles\":7}]}",
       "[x[cf]][]"},
      {"contacts",
       [](int& s) {
         std::vector<DeviceContactInfo> c;
         s = API_GetAlarmDeviceContacts("A&1", -5, 3, c);
         return S(c, [](const DeviceContactInfo& d) {
           return d.sourceName + d.devicePosition + S(d.deviceContacts, [](const ContactInfo& i) {
                    return i.contactName + i.contactPhone + i.contactEmail + i.contactNote;
                  });
         });
       },
       "GET", "vusk/api/v1.1/alarm/record/contact/detail?alarmCode=A&1&alarmDate=-5", "",
       "{\"results\":[{\"sourceName\":\"s\",\"devicePosition\":\"p\",\"deviceContacts\":[{"
       "\"contactName\":\"n\",\"contactPhone\":1,\"contactEmail\":\"e\",\"contactNote\":\"o\"}]}]}",
       "[sp[n1eo]]"},
      {"trails",
       [](int& s) {
         std::vector<PtzTrailInfo> t;
         s = API_GetPtzTrailList("c", 3, t);
         return S(t, [](const PtzTrailInfo& i) { return i.trailId + "|" + i.trailName; });
       },
       "GET", "vusk/api/v1.1/ptz/channel/c/trail/list", "",
       "{\"results\":[{\"trailId\":12345678901,\"trailName\":\"t\"},{\"trailId\":1.5}]}",
       "[12345678901|t][1.5|]"},
      {"record",
       [](int& s) {
         StartRemoteRecordReq q{3, "c", 1, 30};
         StartRemoteRecordRsp r{9, 9};
         s = API_StartRemoteRecord(q, r);
         return S(r.planId) + "," + S(r.now);
       },
       "POST", "admin/API/SS/Record/StartRecord",
       std::string(kIdentity) + ",\"data\":{\"streamType\":1,\"duration\":30,\"channelId\":\"c\"}}",
       "{\"planId\":4,\"now\":1700000000000}", "4,1700000000000"},
      {"pos",
       [](int& s) {
         int t = 9;
         s = API_GetPosConfig(3, t);
         return S(t);
       },
       "GET", "vusk/api/v1.1/config/pos", "", "{\"posPlaybackTime\":\" 12s\"}", "12"},
      {"pos events",
       [](int& s) {
         std::map<int, std::string> n{{1, "old"}};
         s = API_GetPosEventTranslate(3, n);
         return S(n);
       },
       "GET", "vusk/api/v1.1/dictionary/list?types=9052", "",
       "{\"results\":[{\"items\":[{\"code\":\"1\",\"name\":\"a\"},{\"code\":\"2\",\"name\":\"b\"}"
       "]},{\"items\":[{\"code\":2,\"name\":\"c\"}]},{}]}",
       "1=a;2=c;"},
      {"mapper",
       [](int& s) {
         std::map<int, int> m{{5, 5}};
         s = API_QueryDictionaryMapper(3, 12, m);
         return S(m);
       },
       "GET", "vusk/api/v1.1/config/dictionary-mapper?type=12", "",
       "{\"results\":[{\"key\":\"1\",\"value\":\"2\"},{\"key\":1,\"value\":\"-3\"}]}", "1=-3;5=5;"},
  };
}

}  // namespace Corvane

#endif  // CORVANE_TESTS_OPERATIONCALLS_H
