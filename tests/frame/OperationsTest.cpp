// Every operation over the fake gateway: the request it puts on the wire, what it writes on
// which status and how it reads its answer.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "Corvane.h"
#include "FakeGateway.h"
#include "OperationCalls.h"

namespace Corvane {
namespace {

using corvane_test::Answer;
using corvane_test::FakeGateway;

class Operations : public ::testing::Test {
 protected:
  void SetUp() override {
    FakeGateway::Instance().Reset();
    SetLangauage("en");
    SetTimeZone("UTC");
    SetMacAddress("m");
  }
};

TEST_F(Operations, RequestAndAnswer) {
  for (const Call& call : Calls()) {
    SCOPED_TRACE(call.name);
    FakeGateway::Instance().Reset();
    FakeGateway::Instance().Script(
        {0, std::string("{\"code\":1000,\"data\":") + call.data + "}", std::nullopt, true});
    Outputs out;
    EXPECT_EQ(call.run(out), 0);
    EXPECT_EQ(call.show(out), call.output);
    const auto seen = FakeGateway::Instance().LastRequest();
    EXPECT_EQ(seen.handle, 3);
    EXPECT_EQ(seen.method + " " + seen.path, std::string(call.method) + " " + call.path);
    EXPECT_EQ(seen.body, call.body);
    EXPECT_EQ(seen.hasBody && seen.bodyTerminated, !call.body.empty());
    EXPECT_EQ(FakeGateway::Instance().Releases(),
              (std::vector<corvane_test::Release>{corvane_test::Release::kAnswer,
                                                  corvane_test::Release::kAux}));
  }
}

TEST_F(Operations, FailureAndErrorAnswers) {
  for (const Call& call : Calls()) {
    SCOPED_TRACE(call.name);
    const std::string start = call.show(Outputs());
    Outputs failed, error, unreadable;
    FakeGateway::Instance().Script(corvane_test::Failure(-301));
    EXPECT_EQ(call.run(failed), -301);
    EXPECT_EQ(call.show(failed), start);
    // An error answer fills single values with their defaults; lists stay as they are.
    FakeGateway::Instance().Script(Answer("{\"code\":1401,\"data\":7,\"message\":\"no\"}"));
    EXPECT_EQ(call.run(error), 1401);
    EXPECT_EQ(LastServerMessage(), "no");
    const bool list = call.output.empty() || call.output.find_first_of("[=") != std::string::npos;
    EXPECT_EQ(call.show(error) == start, list);
    FakeGateway::Instance().Script(Answer("{\"code\":1000,\"data\":[1"));
    EXPECT_EQ(call.run(unreadable), -1);
    EXPECT_EQ(call.show(unreadable), call.show(error));
    EXPECT_EQ(LastServerMessage(), "");
  }
}

TEST_F(Operations, SpeakerVolumeUpdate) {
  struct Case {
    int microphone, speaker;
    const char* data;
    int status;
  };
  const Case cases[] = {
      {1, -1, "{\"microphoneVolumeFailedChannels\":[\"c\"]}", -1},
      {1, 2, "{\"microphoneVolumeFailedChannels\":[\"c\"],\"speakerVolumeFailedChannels\":[]}", 0},
      {-1, 2, "{\"speakerVolumeFailedChannels\":[\"c\"]}", -1},
      {-1, -1, "{\"speakerVolumeFailedChannels\":[\"c\"]}", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.data);
    FakeGateway::Instance().Script(Answer(std::string("{\"code\":1000,\"data\":") + c.data + "}"));
    EXPECT_EQ(API_SetIPSpeakerVolume({"c", c.microphone, c.speaker, 0, ""}, 3), c.status);
  }
}

TEST_F(Operations, LongIdsAreCutAtEachPathFormat) {
  const std::string id(1400, 'i');
  struct Case {
    std::function<void()> run;
    std::string prefix, suffix;  // the formatted path keeps its first 1279 characters
  };
  bool b;
  std::vector<AudioFileInfo> files;
  std::vector<DeviceContactInfo> contacts;
  std::vector<PtzTrailInfo> trails;
  DownloadDevicePicResp picture;
  const Case cases[] = {
      {[&] { API_GetWebEnablement(id, b, 3); }, "/vusk/api/v1.1/device/", "/web/enablement"},
      {[&] { API_GetChannelWebEnablement(id, b, 3); }, "/vusk/api/v1.1/device/channel/", ""},
      {[&] {
         API_DownloadDevicePicture(3, {0, id}, picture);
       },
       "/vusk/api/v1.1/common/request/picture/", ""},
      {[&] { API_GetIPSpeakerAudioList(id, files, 3); }, "/vusk/api/v1.1/device/channel/", ""},
      {[&] { API_GetAlarmDeviceContacts(id, 1, 3, contacts); },
       "/vusk/api/v1.1/alarm/record/contact/detail?alarmCode=", ""},
      {[&] { API_GetPtzTrailList(id, 3, trails); }, "/vusk/api/v1.1/ptz/channel/", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.prefix);
    c.run();
    const std::string full = (c.prefix + id + c.suffix).substr(1, 1278);
    EXPECT_EQ(FakeGateway::Instance().LastRequest().path, full);
  }
}

TEST_F(Operations, Picture) {
  struct Case {
    corvane_test::Reply reply;
    int status;
    long long length;  // -1: nothing written
  };
  const Case cases[] = {
      {Answer(std::string("\x89PNG\0\x01", 6)), 0, 6},
      {{0, std::string("ab"), 0, true}, 0, 0},
      {{0, std::string("ab"), -1, false}, -1, -1},
      {{0, std::nullopt, std::nullopt, true}, 0, -1},
      {corvane_test::Failure(-5), -5, -1},
  };
  for (const Case& c : cases) {
    FakeGateway::Instance().Script(c.reply);
    DownloadDevicePicResp result;
    result.pictureLength = -1;
    EXPECT_EQ(API_DownloadDevicePicture(3, {42, "p"}, result), c.status);
    EXPECT_EQ(result.pictureLength, c.length);
    EXPECT_EQ(result.tag, c.length < 0 ? 0 : 42);
    if (c.length > 0) {
      EXPECT_EQ(std::string(result.pictureData, 6), std::string("\x89PNG\0\x01", 6));
    }
    delete[] result.pictureData;
    EXPECT_EQ(FakeGateway::Instance().OutstandingBuffers(), 0u);
  }
}

TEST_F(Operations, ConversionsThrowAfterEarlierEntries) {
  struct Case {
    const char* results;
    const char* what;
    const char* kept;
  };
  const Case cases[] = {
      {"[{\"key\":\"1\",\"value\":\"2\"},{\"key\":\"x\",\"value\":\"1\"}]", "invalid stoi argument",
       "1=2;"},
      // The key is converted first: out of range wins over a value that is a word.
      {"[{\"key\":\"99999999999\",\"value\":\"word\"}]", "stoi argument out of range", ""},
      {"[{\"key\":\"1\",\"value\":[]}]", "quim::Json::Value::asString: not applicable to an array",
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.results);
    FakeGateway::Instance().Script(
        Answer(std::string("{\"code\":1000,\"data\":{\"results\":") + c.results + "}}"));
    std::map<int, int> mapping;
    try {
      API_QueryDictionaryMapper(3, 1, mapping);
      ADD_FAILURE() << "no exception";
    } catch (const std::exception& e) {
      EXPECT_STREQ(e.what(), c.what);
    }
    EXPECT_EQ(S(mapping), c.kept);
    EXPECT_EQ(FakeGateway::Instance().OutstandingBuffers(), 0u);
  }
}

}  // namespace
}  // namespace Corvane
