// The C++ legs of the differential test: reads operation names from standard input, one per
// line, runs each against the server named by argv[1] and prints one JSON line per operation:
// {"status": S, "thrown": true|false, "out": what it wrote}. Built against Corvane.h, and with
// CORVANE_TEST_OVER_C against CorvaneCxx.h (over the C interface).
//
// Each operation runs twice, on outputs that start different (0 and 1, false and true, two
// records); the server answers both the same. An output is "written" when both runs end alike,
// and reads null otherwise. A thrown exception counts as the C interface's code for it.
#ifdef CORVANE_TEST_OVER_C
#include "CorvaneCxx.h"
#else
#include "Corvane.h"
#endif
#include <cstdio>
#include <functional>
#include <iostream>
#include <new>
#include <stdexcept>

#include "CorvaneSession.h"

namespace Corvane {
namespace {

// The outputs as JSON: records as arrays of their fields in C order, maps as [key, value] pairs.
std::string J(long long v);
std::string J(int v);
std::string J(bool v);
std::string J(const std::string& text);
std::string J(const AudioFileInfo& f);
std::string J(const ChannelFileInfo& f);
std::string J(const SameAudioFileInfo& f);
std::string J(const ContactInfo& c);
std::string J(const DeviceContactInfo& d);
std::string J(const PtzTrailInfo& t);
std::string J(const SpeakerVolumeInfo& v);
std::string J(const StartRemoteRecordRsp& r);
std::string J(const DownloadDevicePicResp& p);
template <class T>
std::string J(const std::vector<T>& items);
template <class V>
std::string J(const std::map<int, V>& entries);

std::string J(long long v) { return std::to_string(v); }
std::string J(bool v) { return v ? "true" : "false"; }
std::string J(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
    out +=
        c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20 ? escaped : std::string(1, c);
  }
  return out + "\"";
}
template <class... Fields>
std::string Array(const Fields&... fields) {
  std::string out;
  ((out += (out.empty() ? "" : ",") + J(fields)), ...);
  return "[" + out + "]";
}
template <class T>
std::string J(const std::vector<T>& items) {
  std::string out;
  for (const T& item : items) out += (out.empty() ? "" : ",") + J(item);
  return "[" + out + "]";
}
template <class V>
std::string J(const std::map<int, V>& entries) {
  std::string out;
  for (const auto& [key, value] : entries) out += (out.empty() ? "" : ",") + Array(key, value);
  return "[" + out + "]";
}
std::string J(int v) { return J(static_cast<long long>(v)); }
std::string J(const AudioFileInfo& f) { return Array(f.channelId, f.fileId, f.fileName); }
std::string J(const ChannelFileInfo& f) { return Array(f.channelId, f.fileId); }
std::string J(const SameAudioFileInfo& f) { return Array(f.fileName, f.channelFiles); }
std::string J(const ContactInfo& c) {
  return Array(c.contactName, c.contactPhone, c.contactEmail, c.contactNote);
}
std::string J(const DeviceContactInfo& d) {
  return Array(d.sourceName, d.devicePosition, d.deviceContacts);
}
std::string J(const PtzTrailInfo& t) { return Array(t.trailId, t.trailName); }
std::string J(const SpeakerVolumeInfo& v) {
  return Array(v.channelId, v.microphoneVolume, v.speakerVolume, v.successful, v.channelName);
}
std::string J(const StartRemoteRecordRsp& r) { return Array(r.planId, r.now); }
std::string J(const DownloadDevicePicResp& p) {
  if (p.pictureData == nullptr) return "null";
  return Array(p.tag, std::string(p.pictureData, static_cast<std::size_t>(p.pictureLength)));
}
void Release(DownloadDevicePicResp& p) { delete[] p.pictureData; }
template <class T>
void Release(T&) {}

// The status of call(out), or the C interface's code for what it threw.
template <class Out, class Call>
int Run(Call& call, Out& out, bool& thrown) {
  try {
    return call(out);
  } catch (const std::bad_alloc&) {
    thrown = true;
    return -40001;
  } catch (const std::invalid_argument&) {
    thrown = true;
    return -40002;
  } catch (const std::out_of_range&) {
    thrown = true;
    return -40003;
  } catch (const std::exception& e) {  // over C: what() says "(status -40004)" or -40005
    thrown = true;
    return std::string(e.what()).find("(status -40005)") != std::string::npos ? -40005 : -40004;
  }
}

// Both runs, from the two starting values; the line to print.
template <class Out, class Call>
std::string Twice(Out first, Out second, Call call) {
  bool thrown = false, thrownAgain = false;
  const int status = Run(call, first, thrown);
  const int again = Run(call, second, thrownAgain);
  const bool same = J(first) == J(second);
  std::string out = thrown || !same ? "null" : J(first);
  Release(first);
  Release(second);
  if (again != status || thrownAgain != thrown) out = "\"the two runs differ\"";
  return "{\"status\":" + J(status) + ",\"thrown\":" + J(thrown) + ",\"out\":" + out + "}";
}

using Op = std::function<std::string(int)>;

const std::map<std::string, Op>& Ops() {
  static const std::map<std::string, Op> ops = {
      {"get_ai_privacy_config",
       [](int h) { return Twice(0, 1, [h](int& o) { return API_GetAIPrivacyConfig(h, o); }); }},
      {"get_web_enablement",
       [](int h) {
         return Twice(false, true, [h](bool& o) { return API_GetWebEnablement("D1001", o, h); });
       }},
      {"get_channel_web_enablement",
       [](int h) {
         return Twice(false, true,
                      [h](bool& o) { return API_GetChannelWebEnablement("D1001-C01", o, h); });
       }},
      {"download_device_picture",
       [](int h) {
         return Twice(DownloadDevicePicResp{}, DownloadDevicePicResp{}, [h](auto& o) {
           return API_DownloadDevicePicture(h, {7, "P0001"}, o);
         });
       }},
      {"get_ip_speaker_volume",
       [](int h) {
         return Twice(SpeakerVolumeInfo{}, SpeakerVolumeInfo{"s", 1, 1, 1, "s"},
                      [h](auto& o) { return API_GetIPSpeakerVolume("D2001-C01", o, h); });
       }},
      {"set_ip_speaker_volume",
       [](int h) {
         return Twice(0, 1, [h](int&) {
           return API_SetIPSpeakerVolume({"D2001-C01", 10, 20, 0, ""}, h);
         });
       }},
      {"get_ip_speaker_audio_list",
       [](int h) {
         return Twice(std::vector<AudioFileInfo>(), std::vector<AudioFileInfo>(),
                      [h](auto& o) { return API_GetIPSpeakerAudioList("D2001-C01", o, h); });
       }},
      {"get_ip_speaker_same_audio_list",
       [](int h) {
         return Twice(std::vector<SameAudioFileInfo>(), std::vector<SameAudioFileInfo>(),
                      [h](auto& o) {
                        return API_GetIPSpeakerSameAudioList({"D2001-C01", "D2001-C02"}, o, h);
                      });
       }},
      {"get_alarm_device_contacts",
       [](int h) {
         return Twice(
             std::vector<DeviceContactInfo>(), std::vector<DeviceContactInfo>(),
             [h](auto& o) { return API_GetAlarmDeviceContacts("ALM-0001", 1710852658426, h, o); });
       }},
      {"get_ptz_trail_list",
       [](int h) {
         return Twice(std::vector<PtzTrailInfo>(), std::vector<PtzTrailInfo>(),
                      [h](auto& o) { return API_GetPtzTrailList("D1001-C01", h, o); });
       }},
      {"start_remote_record",
       [](int h) {
         return Twice(StartRemoteRecordRsp{0, 0}, StartRemoteRecordRsp{1, 1}, [h](auto& o) {
           return API_StartRemoteRecord({h, "D1001-C01", 1, 30}, o);
         });
       }},
      {"get_pos_config",
       [](int h) { return Twice(0, 1, [h](int& o) { return API_GetPosConfig(h, o); }); }},
      {"get_pos_event_translate",
       [](int h) {
         return Twice(std::map<int, std::string>(), std::map<int, std::string>(),
                      [h](auto& o) { return API_GetPosEventTranslate(h, o); });
       }},
      {"query_dictionary_mapper",
       [](int h) {
         return Twice(std::map<int, int>(), std::map<int, int>(),
                      [h](auto& o) { return API_QueryDictionaryMapper(h, 2, o); });
       }},
  };
  return ops;
}

}  // namespace
}  // namespace Corvane

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: differential_leg <server URL> < operation names\n";
    return 2;
  }
  Corvane::SetLanguage("en");
  Corvane::SetTimeZone("UTC");
  Corvane::SetMacAddress("m");
  const Corvane::Session session(argv[1]);
  for (std::string op; std::getline(std::cin, op);) {
    const auto found = Corvane::Ops().find(op);
    if (found == Corvane::Ops().end()) {
      std::cerr << "unknown operation " << op << "\n";
      return 2;
    }
    std::cout << found->second(session.Handle()) << std::endl;
  }
  return 0;
}
