// The library's own cost per operation, beyond a gateway that does nothing but hand back a
// prepared answer, and the speed of reading large list answers next to rapidjson's DOM parse.
#include <benchmark/benchmark.h>
#include <rapidjson/document.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "Corvane.h"
#include "quim/Json.h"

namespace {

// The answer the in-process gateway hands back to every request.
std::string currentAnswer;

}  // namespace

extern "C" {
// A gateway whose transport costs one small allocation and copy, like a real one's hand-over.
int ZENTA_GeneralJsonRequest(int, void*, int, void* response, int) {
  char* buffer = static_cast<char*>(std::malloc(currentAnswer.size() + 1));
  std::memcpy(buffer, currentAnswer.c_str(), currentAnswer.size() + 1);
  auto* bytes = static_cast<unsigned char*>(response);
  std::memcpy(bytes + 32, &buffer, sizeof buffer);
  auto length = static_cast<std::int32_t>(currentAnswer.size());
  std::memcpy(bytes + 40, &length, sizeof length);
  return 0;
}
int ZENTA_ReleaseDataBuffer(void* buffer) {
  std::free(buffer);
  return 0;
}
}

namespace {

// About 200 bytes of answer for each operation, shaped as the server answers it.
const char kPadding[] =
    R"(,"requestId":"6f1c2a9e-52b1-4f7a-9d0e-1b2c3d4e5f60","serverTime":1764979200123)";

std::string Envelope(const std::string& data) {
  return std::string(R"({"code":1000,"msg":"success","data":)") + data + kPadding + "}";
}

template <typename Call>
void RunOperation(benchmark::State& state, const std::string& answer, Call call) {
  currentAnswer = answer;
  for (auto _ : state) benchmark::DoNotOptimize(call());
  state.SetLabel(std::to_string(answer.size()) + " B answer");
}

void BM_GetAIPrivacyConfig(benchmark::State& state) {
  int enable = 0;
  RunOperation(state, Envelope(R"({"enable":1,"updatedBy":"admin","updatedAt":1764979200})"),
               [&] { return Corvane::API_GetAIPrivacyConfig(1, enable); });
}
void BM_GetWebEnablement(benchmark::State& state) {
  bool enabled = false;
  RunOperation(state, Envelope(R"({"enableWeb":1,"deviceId":"dev-0001"})"),
               [&] { return Corvane::API_GetWebEnablement("dev-0001", enabled, 1); });
}
void BM_GetChannelWebEnablement(benchmark::State& state) {
  bool enabled = false;
  RunOperation(state, Envelope(R"({"enableWeb":0,"channelId":"ch-0001"})"),
               [&] { return Corvane::API_GetChannelWebEnablement("ch-0001", enabled, 1); });
}
void BM_DownloadDevicePicture(benchmark::State& state) {
  RunOperation(state, std::string(200, 'p'), [&] {
    Corvane::DownloadDevicePicResp result;
    int status = Corvane::API_DownloadDevicePicture(1, {1, "pic-0001"}, result);
    delete[] result.pictureData;
    return status;
  });
}
void BM_GetIPSpeakerVolume(benchmark::State& state) {
  Corvane::SpeakerVolumeInfo info;
  RunOperation(
      state,
      Envelope(
          R"({"results":[{"channelId":"sp-1","channelName":"Lobby","speakerVolume":30,"microphoneVolume":40,"successful":1}]})"),
      [&] { return Corvane::API_GetIPSpeakerVolume("sp-1", info, 1); });
}
void BM_SetIPSpeakerVolume(benchmark::State& state) {
  RunOperation(
      state, Envelope(R"({"speakerVolumeFailedChannels":[],"microphoneVolumeFailedChannels":[]})"),
      [&] {
        return Corvane::API_SetIPSpeakerVolume({"sp-1", 40, 30, 0, ""}, 1);
      });
}
void BM_GetIPSpeakerAudioList(benchmark::State& state) {
  std::vector<Corvane::AudioFileInfo> files;
  RunOperation(
      state,
      Envelope(
          R"({"results":[{"channelId":"sp-1","fileId":"f-1","fileName":"chime.wav"},{"channelId":"sp-1","fileId":"f-2","fileName":"alarm.wav"}]})"),
      [&] {
        files.clear();
        return Corvane::API_GetIPSpeakerAudioList("sp-1", files, 1);
      });
}
void BM_GetIPSpeakerSameAudioList(benchmark::State& state) {
  std::vector<Corvane::SameAudioFileInfo> files;
  RunOperation(
      state,
      Envelope(
          R"({"results":[{"fileName":"chime.wav","channelFiles":[{"channelId":"sp-1","fileId":"f-1"},{"channelId":"sp-2","fileId":"f-7"}]}]})"),
      [&] {
        files.clear();
        return Corvane::API_GetIPSpeakerSameAudioList({"sp-1", "sp-2"}, files, 1);
      });
}
void BM_GetAlarmDeviceContacts(benchmark::State& state) {
  std::vector<Corvane::DeviceContactInfo> contacts;
  RunOperation(
      state,
      Envelope(
          R"({"results":[{"sourceName":"Door 1","devicePosition":"Hall","deviceContacts":[{"contactName":"Ann","contactPhone":"555-0100","contactEmail":"ann@example.com","contactNote":""}]}]})"),
      [&] {
        contacts.clear();
        return Corvane::API_GetAlarmDeviceContacts("AL-1", 1764979200, 1, contacts);
      });
}
void BM_GetPtzTrailList(benchmark::State& state) {
  std::vector<Corvane::PtzTrailInfo> trails;
  RunOperation(
      state,
      Envelope(
          R"({"results":[{"trailId":"1","trailName":"Gate sweep"},{"trailId":"2","trailName":"Yard"}]})"),
      [&] {
        trails.clear();
        return Corvane::API_GetPtzTrailList("ch-1", 1, trails);
      });
}
void BM_StartRemoteRecord(benchmark::State& state) {
  Corvane::StartRemoteRecordRsp result;
  RunOperation(state, Envelope(R"({"planId":12,"now":1764979200123})"), [&] {
    return Corvane::API_StartRemoteRecord({1, "ch-1", 0, 60}, result);
  });
}
void BM_GetPosConfig(benchmark::State& state) {
  int playback = 0;
  RunOperation(state, Envelope(R"({"posPlaybackTime":"30","posEnabled":1})"),
               [&] { return Corvane::API_GetPosConfig(1, playback); });
}
void BM_GetPosEventTranslate(benchmark::State& state) {
  std::map<int, std::string> names;
  RunOperation(
      state,
      Envelope(
          R"({"results":[{"type":9052,"items":[{"code":"1","name":"Sale"},{"code":"2","name":"Refund"}]}]})"),
      [&] { return Corvane::API_GetPosEventTranslate(1, names); });
}
void BM_QueryDictionaryMapper(benchmark::State& state) {
  std::map<int, int> mapping;
  RunOperation(
      state,
      Envelope(
          R"({"results":[{"key":"1","value":"10"},{"key":"2","value":"20"},{"key":"3","value":"30"}]})"),
      [&] { return Corvane::API_QueryDictionaryMapper(1, 3, mapping); });
}

BENCHMARK(BM_GetAIPrivacyConfig);
BENCHMARK(BM_GetWebEnablement);
BENCHMARK(BM_GetChannelWebEnablement);
BENCHMARK(BM_DownloadDevicePicture);
BENCHMARK(BM_GetIPSpeakerVolume);
BENCHMARK(BM_SetIPSpeakerVolume);
BENCHMARK(BM_GetIPSpeakerAudioList);
BENCHMARK(BM_GetIPSpeakerSameAudioList);
BENCHMARK(BM_GetAlarmDeviceContacts);
BENCHMARK(BM_GetPtzTrailList);
BENCHMARK(BM_StartRemoteRecord);
BENCHMARK(BM_GetPosConfig);
BENCHMARK(BM_GetPosEventTranslate);
BENCHMARK(BM_QueryDictionaryMapper);

// A PTZ trail answer with n elements.
std::string TrailAnswer(int n) {
  std::string text = R"({"code":1000,"data":{"results":[)";
  for (int i = 0; i < n; ++i) {
    if (i) text += ',';
    text += R"({"trailId":")" + std::to_string(100000 + i) + R"(","trailName":"Trail number )" +
            std::to_string(i) + R"( along the north fence"})";
  }
  return text + "]}}";
}

// Parse, walk and copy into the caller's records.
void BM_ReadTrailList(benchmark::State& state) {
  currentAnswer = TrailAnswer(static_cast<int>(state.range(0)));
  std::vector<Corvane::PtzTrailInfo> trails;
  trails.reserve(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    trails.clear();
    benchmark::DoNotOptimize(Corvane::API_GetPtzTrailList("ch-1", 1, trails));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * currentAnswer.size()));
}

// rapidjson's own DOM parse of the same text, nothing walked or copied.
void BM_RapidjsonDomParse(benchmark::State& state) {
  const std::string text = TrailAnswer(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    rapidjson::Document document;
    document.Parse(text.c_str(), text.size());
    benchmark::DoNotOptimize(document.IsObject());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

// The value model alone: parse into its own tree.
void BM_QuimParse(benchmark::State& state) {
  const std::string text = TrailAnswer(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    quim::Json::Value root;
    benchmark::DoNotOptimize(quim::Json::Parse(text, root));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

// Copying the parsed data and its members, as the library does, must cost next to nothing.
void BM_CopyData(benchmark::State& state) {
  quim::Json::Value root;
  quim::Json::Parse(TrailAnswer(static_cast<int>(state.range(0))), root);
  for (auto _ : state) {
    quim::Json::Value data = root["data"];
    quim::Json::Value results = data["results"];
    benchmark::DoNotOptimize(results.size());
  }
}

BENCHMARK(BM_ReadTrailList)->Arg(10)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RapidjsonDomParse)->Arg(10)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_QuimParse)->Arg(10)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CopyData)->Arg(10)->Arg(100000);

}  // namespace

BENCHMARK_MAIN();
