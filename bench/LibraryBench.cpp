// The library's own cost per operation, beyond a gateway that does nothing but hand back a
// prepared answer, and the speed of reading list answers next to rapidjson's DOM parse.
//
// The in-process gateway below hands an answer over the way the real one does at the least: one
// allocation and one copy of the answer bytes (what the transport does as the body arrives), one
// free when the library gives the buffer back. BM_Gateway measures exactly that call pair, so
// "operation minus BM_Gateway" in one run is what the library costs on its own.
#include <benchmark/benchmark.h>
#include <rapidjson/document.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "APICommon.h"
#include "Corvane.h"
#include "quim/Json.h"

namespace {

// The answer the in-process gateway hands back to every request.
std::string currentAnswer;

}  // namespace

extern "C" {
int ZENTA_GeneralJsonRequest(int, void*, int, void* response, int) {
  char* buffer = static_cast<char*>(std::malloc(currentAnswer.size() + 1));
  if (buffer == nullptr) return -20100;
  std::memcpy(buffer, currentAnswer.c_str(), currentAnswer.size() + 1);
  auto* record = static_cast<Corvane::RestResponse*>(response);
  record->answer = buffer;
  record->answerLength = static_cast<std::int32_t>(currentAnswer.size());
  return 0;
}
int ZENTA_ReleaseDataBuffer(void* buffer) {
  std::free(buffer);
  return 0;
}
}

namespace {

// Called through a pointer the compiler cannot see through, as the library calls it from its
// own objects: the measured call is not inlined into the benchmark loop.
int (*volatile gatewayRequest)(int, void*, int, void*, int) = &ZENTA_GeneralJsonRequest;
int (*volatile gatewayRelease)(void*) = &ZENTA_ReleaseDataBuffer;

// ---- per-operation cost ----------------------------------------------------------------------

// About 200 bytes of answer for each operation, shaped as the server answers it.
const char kPadding[] =
    R"(,"requestId":"6f1c2a9e-52b1-4f7a-9d0e-1b2c3d4e5f60","serverTime":1764979200123)";

std::string Envelope(const std::string& data) {
  return std::string(R"({"code":1000,"msg":"success","data":)") + data + kPadding + "}";
}

template <typename Call>
void RunOperation(benchmark::State& state, const std::string& answer, Call call) {
  Corvane::SetLangauage("en-US");
  Corvane::SetTimeZone("Europe/Berlin");
  Corvane::SetMacAddress("AA:BB:CC:00:11:22");
  currentAnswer = answer;
  for (auto _ : state) benchmark::DoNotOptimize(call());
  state.SetLabel(std::to_string(answer.size()) + " B answer");
}

// The gateway call pair the library makes (request, then release of the answer), alone, on
// the current answer.
void HandOverLoop(benchmark::State& state) {
  Corvane::RestRequest request{};
  for (auto _ : state) {
    Corvane::RestResponse response{};
    benchmark::DoNotOptimize(gatewayRequest(1, &request, static_cast<int>(sizeof request),
                                            &response, static_cast<int>(sizeof response)));
    gatewayRelease(response.answer);
    benchmark::ClobberMemory();
  }
}

// The gateway alone: the same call pair the library makes, on a 200-byte answer.
void BM_Gateway(benchmark::State& state) {
  currentAnswer = std::string(static_cast<std::size_t>(state.range(0)), 'x');
  HandOverLoop(state);
  state.SetLabel(std::to_string(currentAnswer.size()) + " B answer");
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

BENCHMARK(BM_Gateway)->Arg(200);
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

// ---- reading list answers ----------------------------------------------------------------------

// A PTZ trail answer with n elements (about 75 bytes each).
std::string TrailAnswer(int n) {
  std::string text = R"({"code":1000,"data":{"results":[)";
  for (int i = 0; i < n; ++i) {
    if (i) text += ',';
    text += R"({"trailId":")" + std::to_string(100000 + i) + R"(","trailName":"Trail number )" +
            std::to_string(i) + R"( along the north fence"})";
  }
  return text + "]}}";
}

int Elements(const benchmark::State& state) { return static_cast<int>(state.range(0)); }

void SetBytes(benchmark::State& state, std::size_t size) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(size));
  state.counters["answer_bytes"] = static_cast<double>(size);
}

// The list operation: hand-over, parse, walk and copy into the caller's records.
void BM_ReadTrailList(benchmark::State& state) {
  currentAnswer = TrailAnswer(Elements(state));
  std::vector<Corvane::PtzTrailInfo> trails;
  trails.reserve(static_cast<std::size_t>(Elements(state)));
  for (auto _ : state) {
    trails.clear();
    benchmark::DoNotOptimize(Corvane::API_GetPtzTrailList("ch-1", 1, trails));
  }
  if (trails.size() != static_cast<std::size_t>(Elements(state))) {
    state.SkipWithError("the operation did not read every element");
  }
  SetBytes(state, currentAnswer.size());
}

// The gateway's hand-over of the same answer alone, to take out of BM_ReadTrailList.
void BM_ReadGateway(benchmark::State& state) {
  currentAnswer = TrailAnswer(Elements(state));
  HandOverLoop(state);
  SetBytes(state, currentAnswer.size());
}

// rapidjson's own DOM parse of the same text with its default settings, nothing walked or
// copied: the reference the reading speed is compared with.
void BM_RapidjsonDomParse(benchmark::State& state) {
  const std::string text = TrailAnswer(Elements(state));
  for (auto _ : state) {
    rapidjson::Document document;
    document.Parse(text.c_str(), text.size());
    benchmark::DoNotOptimize(document.IsObject());
  }
  SetBytes(state, text.size());
}

// The same with quim's checks turned on in rapidjson: UTF-8 checked, the iterative parser (deep
// input off the machine stack), full-precision doubles (quim converts numbers itself, exactly).
void BM_RapidjsonDomParseStrict(benchmark::State& state) {
  constexpr unsigned kStrict = rapidjson::kParseValidateEncodingFlag |
                               rapidjson::kParseFullPrecisionFlag | rapidjson::kParseIterativeFlag;
  const std::string text = TrailAnswer(Elements(state));
  for (auto _ : state) {
    rapidjson::Document document;
    document.Parse<kStrict>(text.c_str(), text.size());
    benchmark::DoNotOptimize(document.IsObject());
  }
  SetBytes(state, text.size());
}

// The value model alone: parse into its own tree and free it.
void BM_QuimParse(benchmark::State& state) {
  const std::string text = TrailAnswer(Elements(state));
  for (auto _ : state) {
    quim::Json::Value root;
    benchmark::DoNotOptimize(quim::Json::Parse(text, root));
  }
  SetBytes(state, text.size());
}

// The copies the library makes of a parsed answer: "data" out of the root (ReadBaseResponse),
// "results" out of "data" (the operation). Sharing makes them cost the same whatever the size,
// which the two sizes show.
void BM_CopyData(benchmark::State& state) {
  quim::Json::Value root;
  quim::Json::Parse(TrailAnswer(Elements(state)), root);
  const quim::Json::Value& constRoot = root;
  for (auto _ : state) {
    Corvane::BaseResponse answer;
    answer.data = *constRoot.find("data");
    const quim::Json::Value results = Corvane::GetMemberOrNull(answer.data, "results");
    benchmark::DoNotOptimize(results.size());
  }
}

BENCHMARK(BM_ReadTrailList)->Arg(10)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadGateway)->Arg(10)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RapidjsonDomParse)->Arg(10)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RapidjsonDomParseStrict)
    ->Arg(10)
    ->Arg(1000)
    ->Arg(100000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_QuimParse)->Arg(10)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CopyData)->Arg(10)->Arg(100000);

}  // namespace

BENCHMARK_MAIN();
