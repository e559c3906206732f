// Every operation over the fake gateway: the request it puts on the wire, what it writes on
// which status, how it reads its answer, and what it allocates. Built twice: against Corvane.h,
// and (frame_over_c_tests) against CorvaneCxx.h, the same interface over the C one.
#include <gtest/gtest.h>

#include <new>
#include <tuple>

#include "FakeGateway.h"
#include "LogCounter.h"
#include "OperationCalls.h"
#include "zenta/ZentaSdk.h"

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
    FakeGateway::Instance().Script(corvane_test::Failure(ZENTA_E_CONNECT));
    FakeGateway::Instance().Script(Answer("{\"code\":1401,\"data\":7,\"message\":\"no\"}"));
    FakeGateway::Instance().Script(Answer("{\"code\":1000,\"data\":[1"));
    EXPECT_EQ(call.run(failed), ZENTA_E_CONNECT);
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

// A formatted path of 1279 characters goes out whole; one character more is refused before
// anything reaches the gateway (a cut path names another resource), outputs untouched.
TEST(Operations, APathThatDoesNotFitIsRefusedNotCut) {
  Outputs o;
  DownloadDevicePicResp picture;
  const std::function<int(const std::string&)> calls[] = {
      [&](const std::string& id) { return API_GetWebEnablement(id, o.b, 3); },
      [&](const std::string& id) { return API_GetChannelWebEnablement(id, o.b, 3); },
      [&](const std::string& id) {
        return API_DownloadDevicePicture(3, {0, id}, picture);
      },
      [&](const std::string& id) { return API_GetIPSpeakerAudioList(id, o.audio, 3); },
      [&](const std::string& id) { return API_GetAlarmDeviceContacts(id, 1, 3, o.contacts); },
      [&](const std::string& id) { return API_GetPtzTrailList(id, 3, o.trails); },
  };
  for (const auto& call : calls) {
    FakeGateway::Instance().Reset();
    call("i");  // unscripted: a gateway failure, outputs untouched
    // The path field holds the formatted path without its leading "/".
    const std::size_t rest = FakeGateway::Instance().LastRequest().path.size();
    const std::string fits(1279 - rest, 'i');
    call(fits);
    EXPECT_EQ(FakeGateway::Instance().LastRequest().path.size(), 1278u);
    EXPECT_EQ(call(fits + "i"), kRequestTooLong);
    EXPECT_EQ(FakeGateway::Instance().RequestCount(), 2u) << "the refused request went out";
  }
  EXPECT_EQ(S(o.b) + S(o.audio) + S(o.contacts) + S(o.trails), S(Outputs().b) + "[]");
  EXPECT_EQ(picture.pictureData, nullptr);
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

// Dictionary codes convert as std::stoi in base 10; a failure throws after the earlier entries
// (over the C interface: with none of them), with the exception's text in what().
TEST(Operations, DictionaryConversions) {
  const std::tuple<const char*, const char*, const char*> cases[] = {
      // results, error, kept
      {"[{\"key\":\" \\t+42x\",\"value\":\"-2147483648\"},{\"key\":\"2147483647\",\"value\":0}]",
       "", "42=-2147483648;2147483647=0;"},
      {"[{\"key\":\"1\",\"value\":\"2\"},{\"key\":\"- 1\",\"value\":\"1\"}]",
       "invalid stoi argument", "1=2;"},
      // The key is converted first: out of range wins over a value that is a word.
      {"[{\"key\":\"2147483648\",\"value\":\"word\"}]", "stoi argument out of range", ""},
      {"[{\"key\":\"1\",\"value\":\"-2147483649\"}]", "stoi argument out of range", ""},
      {"[{\"key\":\"1\",\"value\":[]}]", "quim::Json::Value::asString: not applicable to an array",
       ""},
  };
  for (const auto& [results, error, kept] : cases) {
    SCOPED_TRACE(results);
    FakeGateway::Instance().Script(
        Answer(std::string("{\"code\":1000,\"data\":{\"results\":") + results + "}}"));
    std::map<int, int> mapping;
    try {
      EXPECT_EQ(API_QueryDictionaryMapper(3, 1, mapping), 0);
      EXPECT_STREQ("", error);
    } catch (const std::exception& e) {
      if (kOverC) {
        EXPECT_NE(std::string(e.what()).find(error), std::string::npos) << e.what();
      } else {
        EXPECT_STREQ(e.what(), error);
      }
    }
    EXPECT_EQ(S(mapping), kOverC && *error != '\0' ? "" : kept);
  }
}

// Allocations: every allocation of a call failed in turn ends in std::bad_alloc with nothing
// left behind, and reading an answer of any shape holds at its peak less than 10 times the
// answer's size. These run as their own tests, labelled alloc.
TEST(Allocation, EveryFailedAllocationEndsInBadAllocAndLeavesNothing) {
  corvane_test::LogCounter quiet;  // installed before counting starts
  SetMacAddress("m");
  // A first call outside the count: the first use of the thread's LastServerMessage registers
  // its destructor, which the MinGW runtime does with a nothrow allocation.
  API_GetAIPrivacyConfig(3, *std::make_unique<int>());
  for (const Call& call : Calls()) {
    SCOPED_TRACE(call.name);
    std::int64_t n = 1;
    for (;; ++n) {
      FakeGateway::Instance().Reset();
      FakeGateway::Instance().Script(
          corvane_test::Answer(std::string("{\"code\":1000,\"data\":") + call.data + "}"));
      bool threw = false;
      const std::int64_t before = corvane_test::LiveAllocations();
      {
        Outputs out;  // what the call appended is the caller's, and goes with it
        corvane_test::FailNthAllocation(n);
        try {
          call.run(out);
        } catch (const std::bad_alloc&) {
          threw = true;
        }
      }
      const bool fired = corvane_test::AllocationFailureFired();
      corvane_test::FailNthAllocation(0);
      ASSERT_EQ(FakeGateway::Instance().OutstandingBuffers(), 0u) << n;
      ASSERT_EQ(corvane_test::LiveAllocations(), before) << "allocation " << n << " leaked";
      ASSERT_EQ(threw, fired) << "allocation " << n;
      if (!fired) break;
    }
    // Two allocations at least (the reading of a small answer takes one, a slab of its tree).
    EXPECT_GT(n, 2) << "the switch did not work";
  }
}

std::string Repeat(const std::string& first, const std::string& next, std::size_t bytes) {
  std::string text = first;
  while (text.size() < bytes) text += next;
  return text;
}

TEST(Allocation, ReadingAnAnswerHoldsLessThanTenTimesItsSize) {
  constexpr std::size_t kSize = 4 << 20;
  const std::string list = "{\"code\":1000,\"data\":{\"results\":[{\"trailId\":\"1\"}";
  const std::string shapes[] = {
      Repeat("[0", ",0", kSize) + "]",
      Repeat("[[]", ",[]", kSize) + "]",
      Repeat("[{}", ",{}", kSize) + "]",
      Repeat("[[0]", ",[0]", kSize) + "]",
      Repeat("[\"a\"", ",\"a\"", kSize) + "]",
      Repeat("[\"abcdef\"", ",\"abcdef\"", kSize) + "]",
      Repeat(list, ",{\"trailId\":\"12\",\"trailName\":\"n\"}", kSize) + "]}}",
  };
  corvane_test::LogCounter quiet;
  for (const std::string& text : shapes) {
    SCOPED_TRACE(text.substr(0, 24));
    FakeGateway::Instance().Reset();
    FakeGateway::Instance().Script(corvane_test::Answer(text));
    const std::int64_t before = corvane_test::LiveBytes();
    corvane_test::ResetPeakBytes();
    std::vector<PtzTrailInfo> trails;
    EXPECT_EQ(API_GetPtzTrailList("c", 3, trails), text == shapes[6] ? 0 : -1);
    const std::int64_t peak = corvane_test::PeakBytes() - before;
    // The gateway holds the text once, outside the count.
    EXPECT_LT(peak + static_cast<std::int64_t>(text.size()),
              10 * static_cast<std::int64_t>(text.size()));
  }
}

}  // namespace
}  // namespace Corvane
