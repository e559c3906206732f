// Answer text through every operation's reader, over a gateway of the fuzzer's own. The first
// byte picks the gateway's behaviour (status, null answer, negative length, auxBuffer); the rest
// is the answer. Only the exceptions the operations document may leave them, and every buffer
// must come back exactly once. The answer also goes through quim alone: whatever parses is
// written, and that text parses again to an equal tree that writes to the same text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
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

void Hand(unsigned char* field, const void* bytes, std::size_t size) {
  char* buffer = new char[size + 1]();
  std::memcpy(buffer, bytes, size);
  outstanding.insert(buffer);
  std::memcpy(field, &buffer, sizeof buffer);
}

}  // namespace

extern "C" int ZENTA_GeneralJsonRequest(int, void*, int, void* response, int) {
  auto* record = static_cast<unsigned char*>(response);
  if ((mode & 7) == 7) return -12;
  if ((mode & 7) != 6) Hand(record + 32, answer.data(), answer.size());
  const std::int32_t length = (mode & 7) == 5 ? -1 : static_cast<std::int32_t>(answer.size());
  std::memcpy(record + 40, &length, sizeof length);
  if ((mode & 8) != 0) Hand(record + 48, "", 0);
  return 0;
}

extern "C" int ZENTA_ReleaseDataBuffer(void* buffer) {
  if (outstanding.erase(buffer) != 1) std::abort();  // never handed out, or given back twice
  delete[] static_cast<char*>(buffer);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quim::Vantrix::instance().SetSink([](const quim::LogRecord&) {});
  mode = size > 0 ? data[0] : 0;
  answer.assign(reinterpret_cast<const char*>(data) + (size > 0), size - (size > 0));
  quim::Json::Value root, again;
  if (quim::Json::Parse(answer, root)) {
    const std::string text = quim::Json::Write(root);
    if (!quim::Json::Parse(text, again) || !(again == root) || quim::Json::Write(again) != text) {
      std::abort();
    }
  }
  using namespace Corvane;
  int i;
  bool b;
  SpeakerVolumeInfo v;
  std::vector<AudioFileInfo> a;
  std::vector<SameAudioFileInfo> same;
  std::vector<DeviceContactInfo> c;
  std::vector<PtzTrailInfo> t;
  StartRemoteRecordRsp r;
  std::map<int, std::string> n;
  std::map<int, int> m;
  DownloadDevicePicResp p;
  const std::function<int()> calls[] = {
      [&] { return API_GetAIPrivacyConfig(1, i) + API_GetWebEnablement("d", b, 1); },
      [&] { return API_GetIPSpeakerVolume("c", v, 1) + API_SetIPSpeakerVolume(v, 1); },
      [&] { return API_GetIPSpeakerAudioList("c", a, 1); },
      [&] { return API_GetIPSpeakerSameAudioList({"c"}, same, 1); },
      [&] { return API_GetAlarmDeviceContacts("a", 1, 1, c) + API_GetPtzTrailList("c", 1, t); },
      [&] {
        return API_StartRemoteRecord({1, "c", 0, 1}, r) + API_GetPosConfig(1, i);
      },
      [&] { return API_GetPosEventTranslate(1, n); },
      [&] { return API_QueryDictionaryMapper(1, 1, m); },
      [&] {
        return API_DownloadDevicePicture(1, {0, "p"}, p);
      },
  };
  for (const auto& call : calls) {
    try {
      call();
    } catch (const quim::Json::Error&) {
    } catch (const std::invalid_argument&) {
    } catch (const std::out_of_range&) {
    }
    if (!outstanding.empty()) std::abort();  // a buffer was not given back
  }
  delete[] p.pictureData;
  return 0;
}
