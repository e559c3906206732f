// Answer text through every operation's reader, over a gateway of the fuzzer's own. The first
// byte picks the gateway's behaviour (status, null answer, auxBuffer); the rest is the answer.
// Exceptions the operations document may leave them; every buffer must come back exactly once.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <stdexcept>
#include <string>

#include "Corvane.h"
#include "quim/Json.h"
#include "quim/Vantrix.h"

namespace {

std::string answer;
std::uint8_t mode = 0;
std::set<void*> outstanding;

void* Keep(const void* bytes, std::size_t size) {
  char* buffer = new char[size + 1]();
  std::memcpy(buffer, bytes, size);
  outstanding.insert(buffer);
  return buffer;
}

}  // namespace

extern "C" int ZENTA_GeneralJsonRequest(int, void*, int, void* response, int) {
  if ((mode & 7) == 7) return -12;
  auto* record = static_cast<unsigned char*>(response);
  if ((mode & 7) != 6) {
    void* text = Keep(answer.data(), answer.size());
    const std::int32_t length = (mode & 7) == 5 ? -1 : static_cast<std::int32_t>(answer.size());
    std::memcpy(record + 32, &text, sizeof text);
    std::memcpy(record + 40, &length, sizeof length);
  }
  if ((mode & 8) != 0) {
    void* aux = Keep("", 0);
    std::memcpy(record + 48, &aux, sizeof aux);
  }
  return 0;
}

extern "C" int ZENTA_ReleaseDataBuffer(void* buffer) {
  if (outstanding.erase(buffer) != 1) std::abort();  // never handed out, or given back twice
  delete[] static_cast<char*>(buffer);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool quiet =
      (quim::Vantrix::instance().SetSink([](const quim::LogRecord&) {}), true);
  (void)quiet;
  mode = size > 0 ? data[0] : 0;
  answer.assign(reinterpret_cast<const char*>(data) + (size > 0 ? 1 : 0), size > 0 ? size - 1 : 0);
  using namespace Corvane;
  int i = 0;
  bool b = false;
  SpeakerVolumeInfo volume;
  std::vector<AudioFileInfo> audio;
  std::vector<SameAudioFileInfo> same;
  std::vector<DeviceContactInfo> contacts;
  std::vector<PtzTrailInfo> trails;
  StartRemoteRecordRsp record;
  std::map<int, std::string> names;
  std::map<int, int> mapping;
  DownloadDevicePicResp picture;
  try {
    API_GetAIPrivacyConfig(1, i);
    API_GetWebEnablement("d", b, 1);
    API_GetIPSpeakerVolume("c", volume, 1);
    API_SetIPSpeakerVolume(volume, 1);
    API_GetIPSpeakerAudioList("c", audio, 1);
    API_GetIPSpeakerSameAudioList({"c"}, same, 1);
    API_GetAlarmDeviceContacts("a", 1, 1, contacts);
    API_GetPtzTrailList("c", 1, trails);
    API_StartRemoteRecord({1, "c", 0, 1}, record);
    API_GetPosConfig(1, i);
    API_GetPosEventTranslate(1, names);
  } catch (const quim::Json::Error&) {
  } catch (const std::invalid_argument&) {
  } catch (const std::out_of_range&) {
  }
  try {
    API_QueryDictionaryMapper(1, 1, mapping);
  } catch (const quim::Json::Error&) {
  } catch (const std::invalid_argument&) {
  } catch (const std::out_of_range&) {
  }
  API_DownloadDevicePicture(1, {0, "p"}, picture);
  delete[] picture.pictureData;
  if (!outstanding.empty()) std::abort();  // a buffer was not given back
  return 0;
}
