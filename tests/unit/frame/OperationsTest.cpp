// Every operation over the fake gateway: the request it puts on the wire, what it writes on
// which status, how it reads its answer, and what it leaves behind when it throws.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "APICommon.h"
#include "Corvane.h"
#include "FakeGateway.h"
#include "LogCounter.h"
#include "quim/Vantrix.h"

namespace Corvane {
namespace {

using corvane_test::Answer;
using corvane_test::Failure;
using corvane_test::FakeGateway;
using corvane_test::Reply;

// Text forms of the outputs, so that tables can state expected results in one string.
std::string Describe(const SpeakerVolumeInfo& v) {
  std::ostringstream out;
  out << v.channelId << '|' << v.microphoneVolume << '|' << v.speakerVolume << '|' << v.successful
      << '|' << v.channelName;
  return out.str();
}
std::string Describe(const std::vector<AudioFileInfo>& files) {
  std::string out;
  for (const auto& f : files) out += "[" + f.channelId + "|" + f.fileId + "|" + f.fileName + "]";
  return out;
}
std::string Describe(const std::vector<SameAudioFileInfo>& files) {
  std::string out;
  for (const auto& f : files) {
    out += "[" + f.fileName + ":";
    for (const auto& c : f.channelFiles) out += "(" + c.channelId + "|" + c.fileId + ")";
    out += "]";
  }
  return out;
}
std::string Describe(const std::vector<DeviceContactInfo>& sources) {
  std::string out;
  for (const auto& s : sources) {
    out += "[" + s.sourceName + "|" + s.devicePosition + ":";
    for (const auto& c : s.deviceContacts) {
      out += "(" + c.contactName + "|" + c.contactPhone + "|" + c.contactEmail + "|" +
             c.contactNote + ")";
    }
    out += "]";
  }
  return out;
}
std::string Describe(const std::vector<PtzTrailInfo>& trails) {
  std::string out;
  for (const auto& t : trails) out += "[" + t.trailId + "|" + t.trailName + "]";
  return out;
}
template <typename V>
std::string Describe(const std::map<int, V>& map) {
  std::ostringstream out;
  for (const auto& [k, v] : map) out << k << '=' << v << ';';
  return out.str();
}

using corvane_test::LogCounter;

class Operations : public ::testing::Test {
 protected:
  void SetUp() override {
    FakeGateway::Instance().Reset();
    SetLangauage("en-US");
    SetTimeZone("UTC");
    SetMacAddress("00:11:22:33:44:55");
  }
  void TearDown() override {
    EXPECT_EQ(FakeGateway::Instance().OutstandingBuffers(), 0u) << "a gateway buffer leaked";
    EXPECT_EQ(FakeGateway::Instance().BadReleases(), 0);
  }
  static void Script(Reply reply) { FakeGateway::Instance().Script(std::move(reply)); }
};

constexpr char kIdentity[] =
    R"("clientType":"WINPC_V2","clientMac":"00:11:22:33:44:55","project":"QIRO")";

// ---------------------------------------------------------------------------------------------
// The request on the wire.

TEST_F(Operations, RequestOnTheWire) {
  int i = 0;
  bool b = false;
  SpeakerVolumeInfo volume;
  std::vector<AudioFileInfo> files;
  std::vector<SameAudioFileInfo> sameFiles;
  std::vector<DeviceContactInfo> contacts;
  std::vector<PtzTrailInfo> trails;
  std::map<int, std::string> names;
  std::map<int, int> mapping;
  DownloadDevicePicResp picture;
  StartRemoteRecordRsp record;
  const std::string id = "id 1/%41";  // space, slash and percent go out verbatim

  struct Row {
    const char* name;
    std::function<int(int)> call;  // runs the operation on the given handle
    const char* method;
    std::string path;
    std::string body;  // empty: no body
  } rows[] = {
      {"ai privacy", [&](int h) { return API_GetAIPrivacyConfig(h, i); }, "GET",
       "vusk/api/v1.1/config/ai/privacy", ""},
      {"web enablement", [&](int h) { return API_GetWebEnablement(id, b, h); }, "GET",
       "vusk/api/v1.1/device/id 1/%41/web/enablement", ""},
      {"web enablement, empty id", [&](int h) { return API_GetWebEnablement("", b, h); }, "GET",
       "vusk/api/v1.1/device//web/enablement", ""},
      {"channel web enablement", [&](int h) { return API_GetChannelWebEnablement(id, b, h); },
       "GET", "vusk/api/v1.1/device/channel/id 1/%41/web/enablement", ""},
      {"picture",
       [&](int h) {
         return API_DownloadDevicePicture(h, {3, "a/b.png"}, picture);
       },
       "GET", "vusk/api/v1.1/common/request/picture/a/b.png", ""},
      {"speaker volume fetch", [&](int h) { return API_GetIPSpeakerVolume("sp-1", volume, h); },
       "POST", "vusk/api/v1.1/ip-speaker/channel/volume/fetch/list",
       std::string("{") + kIdentity + R"(,"channelIds":["sp-1"]})"},
      {"speaker volume fetch, empty id",
       [&](int h) { return API_GetIPSpeakerVolume("", volume, h); }, "POST",
       "vusk/api/v1.1/ip-speaker/channel/volume/fetch/list",
       std::string("{") + kIdentity + R"(,"channelIds":[""]})"},
      {"speaker volume update",
       [&](int h) {
         return API_SetIPSpeakerVolume({"sp-1", 40, 30, 9, "name"}, h);
       },
       "POST", "vusk/api/v1.1/ip-speaker/channel/volume/update/batch",
       std::string("{") + kIdentity +
           R"(,"channelIds":["sp-1"],"microphoneVolume":40,"speakerVolume":30})"},
      {"speaker volume update, zero volumes",
       [&](int h) {
         return API_SetIPSpeakerVolume({"sp-1", 0, 0, 0, ""}, h);
       },
       "POST", "vusk/api/v1.1/ip-speaker/channel/volume/update/batch",
       std::string("{") + kIdentity +
           R"(,"channelIds":["sp-1"],"microphoneVolume":0,"speakerVolume":0})"},
      {"speaker volume update, negative volumes left out",
       [&](int h) {
         return API_SetIPSpeakerVolume({"sp-1", -1, -100, 0, ""}, h);
       },
       "POST", "vusk/api/v1.1/ip-speaker/channel/volume/update/batch",
       std::string("{") + kIdentity + R"(,"channelIds":["sp-1"]})"},
      {"audio list", [&](int h) { return API_GetIPSpeakerAudioList(id, files, h); }, "GET",
       "vusk/api/v1.1/device/channel/id 1/%41/audio/file/list", ""},
      {"same audio list",
       [&](int h) {
         return API_GetIPSpeakerSameAudioList({"c1", "", "c1"}, sameFiles, h);
       },
       "POST", "vusk/api/v1.1/device/channel/same/audio/file/fetch/list",
       std::string("{") + kIdentity + R"(,"channelIds":["c1","","c1"]})"},
      {"same audio list, no channels",
       [&](int h) { return API_GetIPSpeakerSameAudioList({}, sameFiles, h); }, "POST",
       "vusk/api/v1.1/device/channel/same/audio/file/fetch/list",
       std::string("{") + kIdentity + R"(,"channelIds":null})"},
      {"alarm contacts",
       [&](int h) { return API_GetAlarmDeviceContacts("A 1&x=%", -5, h, contacts); }, "GET",
       "vusk/api/v1.1/alarm/record/contact/detail?alarmCode=A 1&x=%&alarmDate=-5", ""},
      {"alarm contacts, largest date",
       [&](int h) { return API_GetAlarmDeviceContacts("a", LLONG_MAX, h, contacts); }, "GET",
       "vusk/api/v1.1/alarm/record/contact/detail?alarmCode=a&alarmDate=9223372036854775807", ""},
      {"alarm contacts, smallest date",
       [&](int h) { return API_GetAlarmDeviceContacts("a", LLONG_MIN, h, contacts); }, "GET",
       "vusk/api/v1.1/alarm/record/contact/detail?alarmCode=a&alarmDate=-9223372036854775808", ""},
      {"ptz trails", [&](int h) { return API_GetPtzTrailList("", h, trails); }, "GET",
       "vusk/api/v1.1/ptz/channel//trail/list", ""},
      {"remote record",
       [&](int h) {
         return API_StartRemoteRecord({h, "ch\"1", -1, -60}, record);
       },
       "POST", "admin/API/SS/Record/StartRecord",
       std::string("{") + kIdentity +
           R"(,"data":{"streamType":-1,"duration":-60,"channelId":"ch\"1"}})"},
      {"remote record, empty channel",
       [&](int h) {
         return API_StartRemoteRecord({h, "", 0, 30}, record);
       },
       "POST", "admin/API/SS/Record/StartRecord",
       std::string("{") + kIdentity + R"(,"data":{"streamType":0,"duration":30,"channelId":""}})"},
      {"pos config", [&](int h) { return API_GetPosConfig(h, i); }, "GET",
       "vusk/api/v1.1/config/pos", ""},
      {"pos events", [&](int h) { return API_GetPosEventTranslate(h, names); }, "GET",
       "vusk/api/v1.1/dictionary/list?types=9052", ""},
      {"dictionary mapper", [&](int h) { return API_QueryDictionaryMapper(h, -12, mapping); },
       "GET", "vusk/api/v1.1/config/dictionary-mapper?type=-12", ""},
      {"dictionary mapper, type 0", [&](int h) { return API_QueryDictionaryMapper(h, 0, mapping); },
       "GET", "vusk/api/v1.1/config/dictionary-mapper?type=0", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Script(Answer(R"({"code":1000})"));
    EXPECT_EQ(row.call(4242), 0);
    corvane_test::SeenRequest seen = FakeGateway::Instance().LastRequest();
    EXPECT_EQ(seen.handle, 4242);
    EXPECT_EQ(seen.method, row.method);
    EXPECT_EQ(seen.path, row.path);
    EXPECT_EQ(seen.headerCount, 3u);
    EXPECT_EQ(seen.hasBody, !row.body.empty());
    EXPECT_EQ(seen.body, row.body);
    EXPECT_EQ(seen.bodyLength, static_cast<std::int32_t>(row.body.size()));
    EXPECT_TRUE(!seen.hasBody || seen.bodyTerminated);
  }
  delete[] picture.pictureData;
}

// ---------------------------------------------------------------------------------------------
// The status table shared by all operations.

// Each operation with outputs preset to recognisable values, and their text form.
struct OutputCase {
  const char* name;
  std::function<int()> call;
  std::function<std::string()> outputs;
  std::string afterUnreadableAnswer;  // outputs after an answer that is not JSON
};

class OperationOutputs {
 public:
  OperationOutputs() {
    names_[5] = "five";
    mapping_[5] = 50;
    files_.push_back({"c", "f", "n"});
    sameFiles_.push_back({"n", {{"c", "f"}}});
    contacts_.push_back({"s", "p", {}});
    trails_.push_back({"t", "n"});
    picture_.tag = 9;
    picture_.pictureLength = 99;
  }
  std::vector<OutputCase> Cases() {
    return {
        {"ai privacy", [this] { return API_GetAIPrivacyConfig(1, int_); },
         [this] { return std::to_string(int_); }, "0"},
        {"web enablement", [this] { return API_GetWebEnablement("d", bool_, 1); },
         [this] { return std::to_string(bool_); }, "0"},
        {"channel web enablement", [this] { return API_GetChannelWebEnablement("c", bool_, 1); },
         [this] { return std::to_string(bool_); }, "0"},
        {"speaker volume fetch", [this] { return API_GetIPSpeakerVolume("c", volume_, 1); },
         [this] { return Describe(volume_); }, "keep|7|8|1|keep"},
        {"speaker volume update", [this] { return API_SetIPSpeakerVolume(volume_, 1); },
         [this] { return Describe(volume_); }, "keep|7|8|1|keep"},
        {"audio list", [this] { return API_GetIPSpeakerAudioList("c", files_, 1); },
         [this] { return Describe(files_); }, "[c|f|n]"},
        {"same audio list", [this] { return API_GetIPSpeakerSameAudioList({"c"}, sameFiles_, 1); },
         [this] { return Describe(sameFiles_); }, "[n:(c|f)]"},
        {"alarm contacts", [this] { return API_GetAlarmDeviceContacts("a", 1, 1, contacts_); },
         [this] { return Describe(contacts_); }, "[s|p:]"},
        {"ptz trails", [this] { return API_GetPtzTrailList("c", 1, trails_); },
         [this] { return Describe(trails_); }, "[t|n]"},
        {"remote record",
         [this] {
           return API_StartRemoteRecord({1, "c", 1, 1}, record_);
         },
         [this] { return std::to_string(record_.planId) + "|" + std::to_string(record_.now); },
         "0|0"},
        {"pos config", [this] { return API_GetPosConfig(1, int_); },
         [this] { return std::to_string(int_); }, "0"},
        {"pos events", [this] { return API_GetPosEventTranslate(1, names_); },
         [this] { return Describe(names_); }, "5=five;"},
        {"dictionary mapper", [this] { return API_QueryDictionaryMapper(1, 3, mapping_); },
         [this] { return Describe(mapping_); }, "5=50;"},
        {"picture",
         [this] {
           return API_DownloadDevicePicture(1, {1, "p"}, picture_);
         },
         [this] {
           return std::to_string(picture_.tag) + "|" + std::to_string(picture_.pictureLength);
         },
         ""},
    };
  }
  void Preset() {
    int_ = -77;
    bool_ = true;
    volume_ = {"keep", 7, 8, 1, "keep"};
    record_ = {-3, -4};
  }

 private:
  int int_ = 0;
  bool bool_ = false;
  SpeakerVolumeInfo volume_;
  std::vector<AudioFileInfo> files_;
  std::vector<SameAudioFileInfo> sameFiles_;
  std::vector<DeviceContactInfo> contacts_;
  std::vector<PtzTrailInfo> trails_;
  std::map<int, std::string> names_;
  std::map<int, int> mapping_;
  DownloadDevicePicResp picture_;
  StartRemoteRecordRsp record_;
};

TEST_F(Operations, TransportFailureTouchesNoOutput) {
  OperationOutputs outputs;
  for (const OutputCase& op : outputs.Cases()) {
    for (int code : {-20201, -30502, 7, INT_MIN}) {
      SCOPED_TRACE(std::string(op.name) + " " + std::to_string(code));
      outputs.Preset();
      std::string before = op.outputs();
      Script(Failure(code));
      EXPECT_EQ(op.call(), code);
      EXPECT_EQ(op.outputs(), before);
    }
  }
}

TEST_F(Operations, UnreadableAnswerGivesMinusOne) {
  OperationOutputs outputs;
  for (const OutputCase& op : outputs.Cases()) {
    if (std::string(op.name) == "picture") continue;  // raw bytes, never parsed
    for (const char* answer : {"<html>502</html>", "", "[1]", "\"text\""}) {
      SCOPED_TRACE(std::string(op.name) + " " + answer);
      outputs.Preset();
      LogCounter log;
      Script(Answer(answer));
      EXPECT_EQ(op.call(), -1);
      EXPECT_EQ(op.outputs(), op.afterUnreadableAnswer);
      EXPECT_EQ(log.count(), 1);
    }
    SCOPED_TRACE(std::string(op.name) + " null answer");
    outputs.Preset();
    LogCounter log;
    Script(Reply{});
    EXPECT_EQ(op.call(), -1);
    EXPECT_EQ(op.outputs(), op.afterUnreadableAnswer);
    EXPECT_EQ(log.count(), 0);
  }
}

// ---------------------------------------------------------------------------------------------
// Single-value operations: the value is written whatever the server's code.

TEST_F(Operations, SingleValues) {
  struct Row {
    const char* answer;
    int status;
    int enable;    // API_GetAIPrivacyConfig
    bool enabled;  // both web enablement operations
    int playback;  // API_GetPosConfig
  } rows[] = {
      {R"({"code":1000,"data":{"enable":1,"enableWeb":1,"posPlaybackTime":"30"}})", 0, 1, true, 30},
      {R"({"code":1000,"data":{"enable":0,"enableWeb":0,"posPlaybackTime":"0"}})", 0, 0, false, 0},
      {R"({"code":1000,"data":{"enable":7,"enableWeb":2,"posPlaybackTime":"-15"}})", 0, 7, true,
       -15},
      {R"({"code":1000,"data":{"enable":-1,"enableWeb":-1,"posPlaybackTime":"  12abc"}})", 0, -1,
       true, 12},
      {R"({"code":1000,"data":{"enable":true,"enableWeb":2.7,"posPlaybackTime":"x12"}})", 0, 1,
       true, 0},
      {R"({"code":1000,"data":{"posPlaybackTime":45}})", 0, 0, false, 45},
      {R"({"code":1000,"data":{}})", 0, 0, false, 0},
      {R"({"code":1000})", 0, 0, false, 0},
      {R"({"code":1000,"data":[1]})", 0, 0, false, 0},
      {R"({"code":4001,"data":{"enable":1,"enableWeb":1,"posPlaybackTime":"+9"}})", 4001, 1, true,
       9},
      {R"({"data":{"enable":3,"enableWeb":1,"posPlaybackTime":"3"}})", -1, 3, true, 3},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.answer);
    int enable = -99, playback = -99;
    bool device = !row.enabled, channel = !row.enabled;
    for (int n = 0; n < 4; ++n) Script(Answer(row.answer));
    EXPECT_EQ(API_GetAIPrivacyConfig(1, enable), row.status);
    EXPECT_EQ(API_GetWebEnablement("d", device, 1), row.status);
    EXPECT_EQ(API_GetChannelWebEnablement("c", channel, 1), row.status);
    EXPECT_EQ(API_GetPosConfig(1, playback), row.status);
    EXPECT_EQ(enable, row.enable);
    EXPECT_EQ(device, row.enabled);
    EXPECT_EQ(channel, row.enabled);
    EXPECT_EQ(playback, row.playback);
  }
  // An integer member holding text is the value model's conversion error.
  int enable = 0;
  Script(Answer(R"({"code":1000,"data":{"enable":"1"}})"));
  EXPECT_THROW(API_GetAIPrivacyConfig(1, enable), quim::Json::Error);
}

TEST_F(Operations, RemoteRecord) {
  struct Row {
    const char* answer;
    int status;
    int planId;
    long long now;
  } rows[] = {
      {R"({"code":1000,"data":{"planId":12,"now":1764979200123}})", 0, 12, 1764979200123LL},
      {R"({"code":1000,"data":{"planId":12,"now":-9223372036854775808}})", 0, 12, LLONG_MIN},
      {R"({"code":1000,"data":{"planId":12}})", 0, 12, 0},
      {R"({"code":1000})", 0, 0, 0},
      {R"({"code":3005,"data":{"now":5}})", 3005, 0, 5},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.answer);
    StartRemoteRecordRsp result{-1, -1};
    Script(Answer(row.answer));
    EXPECT_EQ(API_StartRemoteRecord({8, "c", 1, 60}, result), row.status);
    EXPECT_EQ(result.planId, row.planId);
    EXPECT_EQ(result.now, row.now);
    EXPECT_EQ(FakeGateway::Instance().LastRequest().handle, 8);
  }
}

TEST_F(Operations, Picture) {
  DownloadDevicePicReq request{17, "p1"};
  // Exact bytes, NUL included; a zero-length answer still gives a buffer.
  for (const std::string& bytes : {std::string("\x89PNG\0\r\n", 7), std::string()}) {
    SCOPED_TRACE(bytes.size());
    DownloadDevicePicResp result;
    Script(Answer(bytes));
    ASSERT_EQ(API_DownloadDevicePicture(1, request, result), 0);
    ASSERT_NE(result.pictureData, nullptr);
    EXPECT_EQ(result.pictureLength, static_cast<long long>(bytes.size()));
    EXPECT_EQ(std::string(result.pictureData, bytes.size()), bytes);
    EXPECT_EQ(result.tag, 17);
    delete[] result.pictureData;
  }
  // The answer's length, not its text, decides how much is copied.
  DownloadDevicePicResp result;
  Script(Reply{0, std::string("abcdef"), 3, false});
  ASSERT_EQ(API_DownloadDevicePicture(1, request, result), 0);
  EXPECT_EQ(result.pictureLength, 3);
  EXPECT_EQ(std::string(result.pictureData, 3), "abc");
  // A second call overwrites the pointer; the first buffer stays the caller's.
  char* first = result.pictureData;
  Script(Answer("xy"));
  ASSERT_EQ(API_DownloadDevicePicture(1, request, result), 0);
  EXPECT_NE(result.pictureData, first);
  EXPECT_EQ(std::string(first, 3), "abc");
  delete[] first;
  delete[] result.pictureData;
  // No answer, or a length that cannot be a picture: the result is untouched.
  struct Row {
    Reply reply;
    int status;
  } untouched[] = {{Reply{0, std::nullopt, std::nullopt, true}, 0},
                   {Reply{0, std::string("abc"), -1, false}, -1},
                   {Reply{0, std::string("abc"), INT_MIN, false}, -1},
                   {Answer(R"({"code":4004})"), 0}};  // an error text is delivered as bytes
  for (const Row& row : untouched) {
    DownloadDevicePicResp kept;
    kept.tag = 5;
    kept.pictureLength = 6;
    Script(row.reply);
    EXPECT_EQ(API_DownloadDevicePicture(1, request, kept), row.status);
    if (kept.pictureData != nullptr) {  // the error-text row
      EXPECT_EQ(kept.pictureLength, 13);
      delete[] kept.pictureData;
      continue;
    }
    EXPECT_EQ(kept.tag, 5);
    EXPECT_EQ(kept.pictureLength, 6);
  }
}

// ---------------------------------------------------------------------------------------------
// Speaker volumes.

TEST_F(Operations, SpeakerVolumeFetch) {
  struct Row {
    const char* answer;
    int status;
    std::string expected;  // Describe() of the record after the call; starts as "keep|7|8|1|keep"
  } rows[] = {
      {R"({"code":1000,"data":{}})", 0, "keep|7|8|1|keep"},
      {R"({"code":1000,"data":{"results":null}})", 0, "keep|7|8|1|keep"},
      {R"({"code":1000,"data":{"results":{"channelId":"x"}}})", 0, "keep|7|8|1|keep"},
      {R"({"code":1000,"data":{"results":[]}})", 0, "keep|7|8|1|keep"},
      {R"({"code":1000,"data":{"results":[{"channelId":"a","microphoneVolume":10,"speakerVolume":20,"successful":1,"channelName":"A"}]}})",
       0, "a|10|20|1|A"},
      {R"({"code":1000,"data":{"results":[{"channelId":"a","channelName":"A"},{"channelId":"b","speakerVolume":5}]}})",
       0, "b|0|5|0|"},
      {R"({"code":1000,"data":{"results":[{"speakerVolume":5}]}})", 0, "|0|5|0|"},
      {R"({"code":1000,"data":{"results":[3]}})", 0, "|0|0|0|"},
      {R"({"code":2002,"data":{"results":[{"channelId":"a","microphoneVolume":1}]}})", 2002,
       "a|1|0|0|"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.answer);
    SpeakerVolumeInfo info{"keep", 7, 8, 1, "keep"};
    Script(Answer(row.answer));
    EXPECT_EQ(API_GetIPSpeakerVolume("sent-id", info, 1), row.status);
    EXPECT_EQ(Describe(info), row.expected);
  }
}

TEST_F(Operations, SpeakerVolumeUpdate) {
  const char* micFailed = R"("microphoneVolumeFailedChannels":["c"])";
  const char* spkFailed = R"("speakerVolumeFailedChannels":["c"])";
  struct Row {
    const char* name;
    int microphone, speaker;
    std::string data;
    int code;
    int status;
  } rows[] = {
      {"nothing failed", 10, 20, "{}", 1000, 0},
      {"speaker failed", 10, 20, std::string("{") + spkFailed + "}", 1000, -1},
      {"both sent: only the speaker list decides", 10, 20, std::string("{") + micFailed + "}", 1000,
       0},
      {"both sent: empty speaker list", 10, 20,
       std::string("{") + micFailed + R"(,"speakerVolumeFailedChannels":[]})", 1000, 0},
      {"microphone only, it failed", 10, -1, std::string("{") + micFailed + "," + spkFailed + "}",
       1000, -1},
      {"microphone only, speaker list ignored", 10, -1, std::string("{") + spkFailed + "}", 1000,
       0},
      {"speaker only, microphone list ignored", -1, 0, std::string("{") + micFailed + "}", 1000, 0},
      {"nothing sent, nothing consulted", -1, -1,
       std::string("{") + micFailed + "," + spkFailed + "}", 1000, 0},
      {"failed list not an array", 10, 20, R"({"speakerVolumeFailedChannels":"c"})", 1000, 0},
      {"failed list an object", 10, 20, R"({"speakerVolumeFailedChannels":{"a":1}})", 1000, 0},
      {"server error code kept", 10, 20, "{}", 3001, 3001},
      {"failure beats a server error code", 10, 20, std::string("{") + spkFailed + "}", 3001, -1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Script(Answer(R"({"code":)" + std::to_string(row.code) + R"(,"data":)" + row.data + "}"));
    EXPECT_EQ(API_SetIPSpeakerVolume({"c", row.microphone, row.speaker, 0, ""}, 1), row.status);
  }
}

// ---------------------------------------------------------------------------------------------
// Lists: appended to, never cleared, one record per element of "results".

TEST_F(Operations, Lists) {
  struct Row {
    const char* data;
    int code;
    std::string audio, same, contacts, trails;  // what is appended after the existing record
  } rows[] = {
      {"{}", 1000, "", "", "", ""},
      {R"({"results":null})", 1000, "", "", "", ""},
      {R"({"results":{"fileName":"x"}})", 1000, "", "", "", ""},
      {R"({"results":"text"})", 1000, "", "", "", ""},
      {R"({"results":[]})", 1000, "", "", "", ""},
      {R"({"results":[null,{},7]})", 1000, "[||][||][||]", "[:][:][:]", "[|:][|:][|:]",
       "[|][|][|]"},
      {R"({"results":[{"channelId":"c","fileId":"f","fileName":"n","trailId":"t","trailName":"T","sourceName":"s","devicePosition":"p"},{"trailName":"only","fileName":"m"}]})",
       1000, "[c|f|n][||m]", "[n:][m:]", "[s|p:][|:]", "[t|T][|only]"},
      {R"({"results":[{"trailId":"1","fileName":"n"},{"trailId":"1","fileName":"n"}]})", 4500,
       "[||n][||n]", "[n:][n:]", "[|:][|:]", "[1|][1|]"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.data);
    const std::string answer =
        R"({"code":)" + std::to_string(row.code) + R"(,"data":)" + row.data + "}";
    const int status = row.code == 1000 ? 0 : row.code;
    std::vector<AudioFileInfo> audio{{"old", "o", "o"}};
    std::vector<SameAudioFileInfo> same{{"old", {}}};
    std::vector<DeviceContactInfo> contacts{{"old", "o", {}}};
    std::vector<PtzTrailInfo> trails{{"old", "o"}};
    for (int n = 0; n < 4; ++n) Script(Answer(answer));
    EXPECT_EQ(API_GetIPSpeakerAudioList("c", audio, 1), status);
    EXPECT_EQ(API_GetIPSpeakerSameAudioList({"c"}, same, 1), status);
    EXPECT_EQ(API_GetAlarmDeviceContacts("a", 1, 1, contacts), status);
    EXPECT_EQ(API_GetPtzTrailList("c", 1, trails), status);
    EXPECT_EQ(Describe(audio), "[old|o|o]" + row.audio);
    EXPECT_EQ(Describe(same), "[old:]" + row.same);
    EXPECT_EQ(Describe(contacts), "[old|o:]" + row.contacts);
    EXPECT_EQ(Describe(trails), "[old|o]" + row.trails);
  }
}

TEST_F(Operations, NestedLists) {
  struct Row {
    const char* inner;  // the nested array member of the one "results" element
    std::string same, contacts;
  } rows[] = {
      {"null", "[f:]", "[s|p:]"},
      {R"("text")", "[f:]", "[s|p:]"},
      {R"({"channelId":"c"})", "[f:]", "[s|p:]"},
      {"[]", "[f:]", "[s|p:]"},
      {R"([{"channelId":"c1","fileId":"1","contactName":"N","contactPhone":"P","contactEmail":"E"},null,{"channelId":"c1","fileId":"2","contactNote":"x"}])",
       "[f:(c1|1)(|)(c1|2)]", "[s|p:(N|P|E|)(|||)(|||x)]"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.inner);
    std::string element = std::string(R"({"fileName":"f","sourceName":"s","devicePosition":"p",)") +
                          R"("channelFiles":)" + row.inner + R"(,"deviceContacts":)" + row.inner +
                          "}";
    Script(Answer(R"({"code":1000,"data":{"results":[)" + element + "]}}"));
    Script(Answer(R"({"code":1000,"data":{"results":[)" + element + "]}}"));
    std::vector<SameAudioFileInfo> same;
    std::vector<DeviceContactInfo> contacts;
    EXPECT_EQ(API_GetIPSpeakerSameAudioList({"c1"}, same, 1), 0);
    EXPECT_EQ(API_GetAlarmDeviceContacts("a", 1, 1, contacts), 0);
    EXPECT_EQ(Describe(same), row.same);
    EXPECT_EQ(Describe(contacts), row.contacts);
  }
}

// ---------------------------------------------------------------------------------------------
// Maps: entries added or replaced, never removed; the conversions and what they leave behind.

TEST_F(Operations, PosEventNames) {
  struct Row {
    const char* name;
    std::string results;
    int status;
    std::string expected;  // the map starts as {1: "one", 5: "five"}
  } rows[] = {
      {"no results", "null", 0, "1=one;5=five;"},
      {"results an object", R"({"items":[{"code":"2","name":"x"}]})", 0, "1=one;5=five;"},
      {"results a string", R"("x")", 0, "1=one;5=five;"},
      {"groups without items", R"([{},{"items":null},{"items":[]},{"items":"str"}])", 0,
       "1=one;5=five;"},
      {"merged, later wins across groups",
       R"([{"items":[{"code":"2","name":"two"},{"code":"5","name":"FIVE"}]},{"items":[{"code":"2","name":"TWO"}]}])",
       0, "1=one;2=TWO;5=FIVE;"},
      {"lenient digits, no name, NUL in name",
       R"([{"items":[{"code":"  7x","name":"a\u0000b"},{"code":"-3"},{"code":"+8","name":"e"},{"code":9,"name":"n"}]}])",
       0, "-3=;1=one;5=five;7=a;8=e;9=n;"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::map<int, std::string> names{{1, "one"}, {5, "five"}};
    Script(Answer(R"({"code":1000,"data":{"results":)" + row.results + "}}"));
    EXPECT_EQ(API_GetPosEventTranslate(1, names), row.status);
    EXPECT_EQ(Describe(names), row.expected);
  }
}

TEST_F(Operations, DictionaryMapper) {
  struct Row {
    const char* name;
    std::string results;
    int code;
    std::string expected;  // the map starts as {1: 10, 5: 50}
  } rows[] = {
      {"no results", "null", 1000, "1=10;5=50;"},
      {"results an object", R"({"key":"2","value":"3"})", 1000, "1=10;5=50;"},
      {"empty", "[]", 1000, "1=10;5=50;"},
      {"added and replaced, later wins",
       R"([{"key":"5","value":"55"},{"key":"2","value":"20"},{"key":"2","value":"21"}])", 1000,
       "1=10;2=21;5=55;"},
      {"lenient text", R"([{"key":" -4z","value":"+7 days"},{"key":3,"value":2.0}])", 1000,
       "-4=7;1=10;3=2;5=50;"},
      {"server error code still fills", R"([{"key":"8","value":"80"}])", 2500, "1=10;5=50;8=80;"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::map<int, int> mapping{{1, 10}, {5, 50}};
    Script(Answer(R"({"code":)" + std::to_string(row.code) + R"(,"data":{"results":)" +
                  row.results + "}}"));
    EXPECT_EQ(API_QueryDictionaryMapper(1, 3, mapping), row.code == 1000 ? 0 : row.code);
    EXPECT_EQ(Describe(mapping), row.expected);
  }
}

// A conversion failure leaves the operation as the standard exception with its exact message,
// after the entries before it were stored and with every buffer given back.
TEST_F(Operations, ConversionFailuresThrowAndKeepEarlierEntries) {
  enum Kind { kInvalid, kRange, kJson };
  struct Row {
    const char* name;
    bool dictionary;  // API_QueryDictionaryMapper, else API_GetPosEventTranslate
    std::string results;
    Kind kind;
    std::string expected;  // map content after the throw; starts as {1: 10} / {1: "one"}
  } rows[] = {
      {"mapper: value is a word", true,
       R"([{"key":"2","value":"20"},{"key":"3","value":"many"},{"key":"4","value":"40"}])",
       kInvalid, "1=10;2=20;"},
      {"mapper: value missing although the key converted", true,
       R"([{"key":"1","value":"11"},{"key":"3"}])", kInvalid, "1=11;"},
      {"mapper: element not an object", true, R"([{"key":"2","value":"20"},7])", kInvalid,
       "1=10;2=20;"},
      {"mapper: key beyond int", true, R"([{"key":"2147483648","value":"1"}])", kRange, "1=10;"},
      {"mapper: value below int", true, R"([{"key":"2","value":"-2147483649"}])", kRange, "1=10;"},
      {"events: code missing", false,
       R"([{"items":[{"code":"2","name":"two"}]},{"items":[{"name":"x"},{"code":"3","name":"c"}]}])",
       kInvalid, "1=one;2=two;"},
      {"events: code is a word", false, R"([{"items":[{"code":"abc","name":"x"}]}])", kInvalid,
       "1=one;"},
      {"events: item not an object", false, R"([{"items":[null]}])", kInvalid, "1=one;"},
      {"events: code beyond int", false, R"([{"items":[{"code":"99999999999","name":"x"}]}])",
       kRange, "1=one;"},
      {"events: items an object with members", false, R"([{"items":{"code":"2"}}])", kJson,
       "1=one;"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FakeGateway::Instance().Reset();
    std::map<int, int> mapping{{1, 10}};
    std::map<int, std::string> names{{1, "one"}};
    Script(Reply{0, R"({"code":1000,"data":{"results":)" + row.results + "}}", std::nullopt, true});
    auto call = [&] {
      return row.dictionary ? API_QueryDictionaryMapper(1, 3, mapping)
                            : API_GetPosEventTranslate(1, names);
    };
    try {
      call();
      ADD_FAILURE() << "no exception";
    } catch (const std::invalid_argument& e) {
      EXPECT_EQ(row.kind, kInvalid);
      EXPECT_STREQ(e.what(), "invalid stoi argument");
    } catch (const std::out_of_range& e) {
      EXPECT_EQ(row.kind, kRange);
      EXPECT_STREQ(e.what(), "stoi argument out of range");
    } catch (const quim::Json::Error&) {
      EXPECT_EQ(row.kind, kJson);
    }
    EXPECT_EQ(row.dictionary ? Describe(mapping) : Describe(names), row.expected);
    EXPECT_EQ(FakeGateway::Instance().OutstandingBuffers(), 0u);
    EXPECT_EQ(FakeGateway::Instance().Releases().size(), 2u);  // answer and auxBuffer
  }
}

// The library's own allocations (records, header array, body, parsed values) are all freed,
// on the success, failure and exception exits alike.
TEST_F(Operations, NothingAllocatedIsLeftBehind) {
  LogCounter quiet;
  std::map<int, int> mapping{{1, 1}};
  struct Row {
    const char* name;
    Reply reply;
    std::function<void()> call;
  } rows[] = {
      {"post with body", Answer(R"({"code":1000,"data":{"speakerVolumeFailedChannels":[]}})"),
       [] {
         API_SetIPSpeakerVolume({"c", 1, 2, 0, ""}, 1);
       }},
      {"post, transport failure", Failure(-20201),
       [] {
         StartRemoteRecordRsp result;
         API_StartRemoteRecord({1, "c", 1, 2}, result);
       }},
      {"exception exit", Answer(R"({"code":1000,"data":{"results":[{"key":"1","value":"x"}]}})"),
       [&mapping] {
         EXPECT_THROW(API_QueryDictionaryMapper(1, 1, mapping), std::invalid_argument);
       }},
      {"unreadable answer", Answer("{"),
       [] {
         int v = 0;
         API_GetPosConfig(1, v);
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Script(row.reply);
    std::int64_t before = corvane_test::LiveAllocations();
    row.call();
    EXPECT_EQ(corvane_test::LiveAllocations(), before);
  }
}

}  // namespace
}  // namespace Corvane
