// Arbitrary answer text through every operation's reader. The operations run over a gateway of
// this program's own that hands the input back as the answer. A call may end in a status or in
// one of the exceptions the library documents (std::invalid_argument, std::out_of_range,
// quim::Json::Error, std::bad_alloc); anything else, a crash, a leak or undefined behaviour is a
// finding. After every call every buffer the gateway handed out must have come back, once.
//
// Input: byte 0 chooses how the gateway answers (see Mode), the rest is the answer's bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "Corvane.h"
#include "quim/Json.h"
#include "quim/Vantrix.h"
#include "zenta/ZentaSdk.h"

namespace {

// The response record as the gateway fills it (offsets of the binding layout).
constexpr std::size_t kResponseSize = 56;
constexpr std::size_t kAnswerAt = 32;
constexpr std::size_t kAnswerLengthAt = 40;
constexpr std::size_t kAuxAt = 48;
constexpr int kTransportFailure = ZENTA_E_RECEIVE;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "fuzz_answer_reader: %s\n", what);
  std::abort();
}

// How the gateway answers, from the input's first byte.
struct Mode {
  explicit Mode(std::uint8_t byte)
      : status((byte & 0x07) == 7 ? kTransportFailure : 0),
        nullAnswer((byte & 0x07) == 6),
        negativeLength((byte & 0x07) == 5),
        auxBuffer((byte & 0x08) != 0) {}
  int status;
  bool nullAnswer;
  bool negativeLength;
  bool auxBuffer;  // also hand out an auxBuffer, which the library must give back too
};

// The gateway: hands out copies of the current answer and takes them back.
class Gateway {
 public:
  void Prepare(const std::uint8_t* data, std::size_t size) {
    mode_ = Mode(size > 0 ? data[0] : 0);
    answer_.assign(size > 0 ? reinterpret_cast<const char*>(data) + 1 : "",
                   size > 0 ? size - 1 : 0);
  }

  int Request(void* response, int responseSize) {
    if (response == nullptr || responseSize != static_cast<int>(kResponseSize)) {
      Fail("the response record has the wrong size");
    }
    auto* record = static_cast<unsigned char*>(response);
    if (mode_.status != 0) return mode_.status;
    if (!mode_.nullAnswer) {
      // NUL-terminated one byte past the length, as the real gateway hands it over.
      char* answer = Keep(answer_.size() + 1);
      std::memcpy(answer, answer_.data(), answer_.size());
      answer[answer_.size()] = '\0';
      const std::int32_t length =
          mode_.negativeLength ? -1 : static_cast<std::int32_t>(answer_.size());
      std::memcpy(record + kAnswerAt, &answer, sizeof answer);
      std::memcpy(record + kAnswerLengthAt, &length, sizeof length);
    }
    if (mode_.auxBuffer) {
      void* aux = Keep(16);
      std::memcpy(record + kAuxAt, &aux, sizeof aux);
    }
    return 0;
  }

  int Release(void* buffer) {
    auto entry = outstanding_.find(buffer);
    if (entry == outstanding_.end()) Fail("a buffer released twice, or one never handed out");
    outstanding_.erase(entry);
    return 0;
  }

  const std::string& Answer() const { return answer_; }

  void ExpectEverythingBack() const {
    if (!outstanding_.empty()) Fail("a gateway buffer was not given back");
  }

 private:
  char* Keep(std::size_t size) {
    auto buffer = std::make_unique<char[]>(size);
    char* first = buffer.get();
    outstanding_.emplace(first, std::move(buffer));
    return first;
  }

  Mode mode_{0};
  std::string answer_;
  std::map<const void*, std::unique_ptr<char[]>> outstanding_;
};

Gateway& TheGateway() {
  static Gateway gateway;
  return gateway;
}

// Runs one operation; documented exceptions end it like a status does.
template <typename Call>
void RunOne(Call call) {
  try {
    call();
  } catch (const quim::Json::Error&) {
  } catch (const std::invalid_argument&) {
  } catch (const std::out_of_range&) {
  } catch (const std::bad_alloc&) {
  }
  TheGateway().ExpectEverythingBack();
}

}  // namespace

extern "C" int ZENTA_GeneralJsonRequest(int, void* request, int requestSize, void* response,
                                        int responseSize) {
  if (request == nullptr || requestSize != 2096) Fail("the request record has the wrong size");
  return TheGateway().Request(response, responseSize);
}

extern "C" int ZENTA_ReleaseDataBuffer(void* buffer) { return TheGateway().Release(buffer); }

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Corvane::SetLangauage("en-US");
  Corvane::SetTimeZone("UTC");
  Corvane::SetMacAddress("00:11:22:33:44:55");
  // The library logs unreadable answers; formatting still runs, the line goes nowhere.
  quim::Vantrix::instance().SetSink([](const quim::LogRecord&) {});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace Corvane;
  TheGateway().Prepare(data, size);
  const int handle = 1;
  RunOne([&] {
    int enable = 0;
    API_GetAIPrivacyConfig(handle, enable);
  });
  RunOne([&] {
    bool enabled = false;
    API_GetWebEnablement("D1001", enabled, handle);
  });
  RunOne([&] {
    bool enabled = false;
    API_GetChannelWebEnablement("D1001-C01", enabled, handle);
  });
  RunOne([&] {
    DownloadDevicePicResp picture;
    const int status = API_DownloadDevicePicture(handle, {1, "P0001"}, picture);
    if (picture.pictureData != nullptr) {
      const std::string& answer = TheGateway().Answer();
      if (status != 0 || picture.pictureLength != static_cast<long long>(answer.size()) ||
          std::memcmp(picture.pictureData, answer.data(), answer.size()) != 0) {
        Fail("the picture is not the answer's bytes");
      }
      delete[] picture.pictureData;
    }
  });
  RunOne([&] {
    SpeakerVolumeInfo info;
    API_GetIPSpeakerVolume("D2001-C01", info, handle);
  });
  RunOne([&] { API_SetIPSpeakerVolume({"D2001-C01", 10, 20, 0, ""}, handle); });
  RunOne([&] {
    std::vector<AudioFileInfo> files;
    API_GetIPSpeakerAudioList("D2001-C01", files, handle);
  });
  RunOne([&] {
    std::vector<SameAudioFileInfo> files;
    API_GetIPSpeakerSameAudioList({"D2001-C01", "D2001-C02"}, files, handle);
  });
  RunOne([&] {
    std::vector<DeviceContactInfo> contacts;
    API_GetAlarmDeviceContacts("ALM-0001", 1700000000000LL, handle, contacts);
  });
  RunOne([&] {
    std::vector<PtzTrailInfo> trails;
    API_GetPtzTrailList("D1001-C01", handle, trails);
  });
  RunOne([&] {
    StartRemoteRecordRsp result;
    API_StartRemoteRecord({handle, "D1001-C01", 0, 60}, result);
  });
  RunOne([&] {
    int playbackTime = 0;
    API_GetPosConfig(handle, playbackTime);
  });
  RunOne([&] {
    std::map<int, std::string> names;
    API_GetPosEventTranslate(handle, names);
  });
  RunOne([&] {
    std::map<int, int> mapping;
    API_QueryDictionaryMapper(handle, 1, mapping);
  });
  return 0;
}
