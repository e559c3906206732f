// Every operation over the fake gateway: the request it puts on the wire, what it writes on
// which status and how it reads its answer.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "Corvane.h"
#include "FakeGateway.h"
#include "OperationCalls.h"

namespace Corvane {
namespace {

using corvane_test::Answer;
using corvane_test::FakeGateway;

// Each operation's request and answer; then a transport failure, which leaves the outputs
// alone, an error answer, which fills single values with their defaults and leaves lists alone,
// and an unreadable answer, which reads as the error answer does.
TEST(Operations, RequestAndAnswer) {
  SetMacAddress("m");
  for (const Call& call : Calls()) {
    SCOPED_TRACE(call.name);
    FakeGateway::Instance().Reset();
    FakeGateway::Instance().Script(
        {0, std::string("{\"code\":1000,\"data\":") + call.data + "}", std::nullopt, true});
    Outputs out, failed, error, unreadable;
    EXPECT_EQ(call.run(out), 0);
    EXPECT_EQ(call.show(out), call.output);
    const auto seen = FakeGateway::Instance().LastRequest();
    EXPECT_EQ(seen.handle, 3);
    EXPECT_EQ(seen.method + " " + seen.path, std::string(call.method) + " " + call.path);
    EXPECT_EQ(seen.body, call.body);
    EXPECT_EQ(seen.hasBody && seen.bodyTerminated, !call.body.empty());
    using corvane_test::Release;
    EXPECT_EQ(FakeGateway::Instance().Releases(),
              (std::vector<Release>{Release::kAnswer, Release::kAux}));
    FakeGateway::Instance().Script(corvane_test::Failure(-301));
    FakeGateway::Instance().Script(Answer("{\"code\":1401,\"data\":7,\"message\":\"no\"}"));
    FakeGateway::Instance().Script(Answer("{\"code\":1000,\"data\":[1"));
    EXPECT_EQ(call.run(failed), -301);
    EXPECT_EQ(call.show(failed), call.show(Outputs()));
    EXPECT_EQ(call.run(error), 1401);
    EXPECT_EQ(LastServerMessage(), "no");
    const bool list = call.output.empty() || call.output.find_first_of("[=") != std::string::npos;
    EXPECT_EQ(call.show(error) == call.show(Outputs()), list);
    EXPECT_EQ(call.run(unreadable), -1);
    EXPECT_EQ(call.show(unreadable), call.show(error));
    EXPECT_EQ(LastServerMessage(), "");
  }
}

TEST(Operations, SpeakerVolumeUpdate) {
  // Volumes sent (-1: not sent), the failed lists of the answer, the status.
  const std::tuple<int, int, const char*, int> cases[] = {
      {1, -1, "{\"microphoneVolumeFailedChannels\":[\"c\"]}", -1},
      {1, 2, "{\"microphoneVolumeFailedChannels\":[\"c\"],\"speakerVolumeFailedChannels\":[]}", 0},
      {-1, 2, "{\"speakerVolumeFailedChannels\":[\"c\"]}", -1},
      {-1, -1, "{\"speakerVolumeFailedChannels\":[\"c\"]}", 0},
  };
  for (const auto& [microphone, speaker, data, status] : cases) {
    FakeGateway::Instance().Script(Answer(std::string("{\"code\":1000,\"data\":") + data + "}"));
    EXPECT_EQ(API_SetIPSpeakerVolume({"c", microphone, speaker, 0, ""}, 3), status) << data;
  }
}

TEST(Operations, LongIdsAreCutAtEachPathFormat) {
  const std::string id(1400, 'i');
  struct Case {
    std::function<void()> run;
    std::string prefix, suffix;  // the formatted path keeps its first 1279 characters
  };
  Outputs o;
  DownloadDevicePicResp picture;  // stays empty: the gateway answers nothing
  const Case cases[] = {
      {[&] { API_GetWebEnablement(id, o.b, 3); }, "/vusk/api/v1.1/device/", "/web/enablement"},
      {[&] { API_GetChannelWebEnablement(id, o.b, 3); }, "/vusk/api/v1.1/device/channel/", ""},
      {[&] {
         API_DownloadDevicePicture(3, {0, id}, picture);
       },
       "/vusk/api/v1.1/common/request/", ""},
      {[&] { API_GetIPSpeakerAudioList(id, o.audio, 3); }, "/vusk/api/v1.1/device/channel/", ""},
      {[&] { API_GetAlarmDeviceContacts(id, 1, 3, o.contacts); }, "/vusk/api/v1.1/alarm/", ""},
      {[&] { API_GetPtzTrailList(id, 3, o.trails); }, "/vusk/api/v1.1/ptz/channel/", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.prefix);
    c.run();
    const std::string path = FakeGateway::Instance().LastRequest().path;
    EXPECT_EQ(path.size(), 1278u);
    EXPECT_EQ(path.substr(0, c.prefix.size() - 1), c.prefix.substr(1));
    EXPECT_EQ(path.substr(path.size() - 8), (id + c.suffix).substr(1271 - c.prefix.size(), 8));
  }
}

TEST(Operations, Picture) {
  const std::string png("\x89PNG\0\x01", 6);
  // The gateway's reply; the status; the picture's length, -1 when nothing is written.
  const std::tuple<corvane_test::Reply, int, long long> cases[] = {
      {Answer(png), 0, 6},
      {{0, std::string("ab"), 0, true}, 0, 0},
      {{0, std::string("ab"), -1, false}, -1, -1},
      {{0, std::nullopt, std::nullopt, true}, 0, -1},
      {corvane_test::Failure(-5), -5, -1},
  };
  for (const auto& [reply, status, length] : cases) {
    FakeGateway::Instance().Script(reply);
    DownloadDevicePicResp result{0, nullptr, -1};
    EXPECT_EQ(API_DownloadDevicePicture(3, {42, "p"}, result), status);
    EXPECT_EQ(
        S(result.tag) + ":" +
            std::string(result.pictureData ? result.pictureData : "", length > 0 ? length : 0),
        (length < 0 ? "0:" : "42:") + png.substr(0, length > 0 ? length : 0));
    EXPECT_EQ(result.pictureLength, length);
    delete[] result.pictureData;
    EXPECT_EQ(FakeGateway::Instance().OutstandingBuffers(), 0u);
  }
}

TEST(Operations, ConversionsThrowAfterEarlierEntries) {
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
