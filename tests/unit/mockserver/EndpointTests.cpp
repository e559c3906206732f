// The fourteen platform endpoints: success shapes checked against the platform's own state,
// state changes, and the business codes of unknown ids and bad parameters.
#include <algorithm>
#include <chrono>
#include <functional>

#include "MockServerTestSupport.h"

namespace corvane::mock::testing {
namespace {

using EndpointTest = MockServerTest;

std::string Str(const rapidjson::Value& object, const char* name) {
  if (!object.IsObject() || !object.HasMember(name) || !object[name].IsString()) {
    return "<no string " + std::string(name) + ">";
  }
  return object[name].GetString();
}

std::int64_t Int(const rapidjson::Value& object, const char* name) {
  if (!object.IsObject() || !object.HasMember(name) || !object[name].IsInt64()) return -999999;
  return object[name].GetInt64();
}

const rapidjson::Value& Results(const rapidjson::Value& data) {
  static const rapidjson::Value kEmptyArray(rapidjson::kArrayType);
  if (!data.IsObject() || !data.HasMember("results") || !data["results"].IsArray()) {
    ADD_FAILURE() << "no \"results\" array in " << ToString(data);
    return kEmptyArray;
  }
  return data["results"];
}

bool IsDigits(const std::string& text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

const Channel& ChannelWhere(const PlatformState& state,
                            const std::function<bool(const Channel&)>& predicate) {
  const auto found = std::find_if(state.channels.begin(), state.channels.end(), predicate);
  if (found == state.channels.end()) throw std::runtime_error("no such channel in the platform");
  return *found;
}

const Channel& OnlineSpeaker(const PlatformState& state) {
  return ChannelWhere(state, [](const Channel& c) { return c.speaker && c.online; });
}

const Channel& OfflineSpeaker(const PlatformState& state) {
  return ChannelWhere(state, [](const Channel& c) { return c.speaker && !c.online; });
}

const Channel& PtzCamera(const PlatformState& state) {
  return ChannelWhere(state, [](const Channel& c) { return c.ptz && !c.trails.empty(); });
}

const Channel& PlainCamera(const PlatformState& state) {
  return ChannelWhere(state, [](const Channel& c) { return !c.speaker && !c.ptz; });
}

std::int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

struct Call {
  const char* name;
  const char* method;
  std::string target;
  std::string body;
};

TEST_F(EndpointTest, EveryJsonEndpointAnswersItsSuccessShape) {
  const PlatformState state = State();
  const Device& camera = state.devices.front();
  const Channel& speaker = OnlineSpeaker(state);
  const Channel& ptz = PtzCamera(state);
  const AlarmRecord& alarm = state.alarms.front();
  const int mapperType = state.mappers.begin()->first;
  const std::vector<MapperEntry>& mapperEntries = state.mappers.begin()->second;
  const std::int64_t before = NowMs();

  struct Case {
    Call call;
    std::function<void(const rapidjson::Value&)> check;
  };
  const Case cases[] = {
      {{"ai privacy", "GET", "/vusk/api/v1.1/config/ai/privacy", ""},
       [&](const rapidjson::Value& data) {
         EXPECT_EQ(Int(data, "enable"), state.aiPrivacyEnable);
       }},
      {{"device web", "GET", "/vusk/api/v1.1/device/" + camera.deviceId + "/web/enablement", ""},
       [&](const rapidjson::Value& data) {
         EXPECT_EQ(Int(data, "enableWeb"), camera.enableWeb ? 1 : 0);
       }},
      {{"channel web", "GET",
        "/vusk/api/v1.1/device/channel/" + speaker.channelId + "/web/enablement", ""},
       [&](const rapidjson::Value& data) {
         EXPECT_EQ(Int(data, "enableWeb"), speaker.enableWeb ? 1 : 0);
       }},
      {{"volume fetch", "POST", "/vusk/api/v1.1/ip-speaker/channel/volume/fetch/list",
        IdentityBody(R"("channelIds":[")" + speaker.channelId + R"("])")},
       [&](const rapidjson::Value& data) {
         const auto& results = Results(data);
         ASSERT_EQ(results.Size(), 1U);
         EXPECT_EQ(Str(results[0], "channelId"), speaker.channelId);
         EXPECT_EQ(Str(results[0], "channelName"), speaker.channelName);
         EXPECT_EQ(Int(results[0], "speakerVolume"), speaker.speakerVolume);
         EXPECT_EQ(Int(results[0], "microphoneVolume"), speaker.microphoneVolume);
         EXPECT_EQ(Int(results[0], "successful"), 1);
       }},
      {{"volume update", "POST", "/vusk/api/v1.1/ip-speaker/channel/volume/update/batch",
        IdentityBody(R"("channelIds":[")" + speaker.channelId +
                     R"("],"microphoneVolume":5,"speakerVolume":6)")},
       [&](const rapidjson::Value& data) {
         for (const char* list :
              {"microphoneVolumeFailedChannels", "speakerVolumeFailedChannels"}) {
           ASSERT_TRUE(data.HasMember(list) && data[list].IsArray()) << list;
           EXPECT_EQ(data[list].Size(), 0U) << list;
         }
       }},
      {{"audio list", "GET",
        "/vusk/api/v1.1/device/channel/" + speaker.channelId + "/audio/file/list", ""},
       [&](const rapidjson::Value& data) {
         const auto& results = Results(data);
         ASSERT_EQ(results.Size(), speaker.audioFiles.size());
         for (rapidjson::SizeType i = 0; i < results.Size(); ++i) {
           EXPECT_EQ(Str(results[i], "channelId"), speaker.channelId);
           EXPECT_EQ(Str(results[i], "fileId"), speaker.audioFiles[i].fileId);
           EXPECT_EQ(Str(results[i], "fileName"), speaker.audioFiles[i].fileName);
         }
       }},
      {{"same audio", "POST", "/vusk/api/v1.1/device/channel/same/audio/file/fetch/list",
        IdentityBody(R"("channelIds":[")" + speaker.channelId + R"("])")},
       [&](const rapidjson::Value& data) {
         const auto& results = Results(data);
         ASSERT_EQ(results.Size(), speaker.audioFiles.size());
         for (rapidjson::SizeType i = 0; i < results.Size(); ++i) {
           EXPECT_EQ(Str(results[i], "fileName"), speaker.audioFiles[i].fileName);
           ASSERT_TRUE(results[i]["channelFiles"].IsArray());
           ASSERT_EQ(results[i]["channelFiles"].Size(), 1U);
           EXPECT_EQ(Str(results[i]["channelFiles"][0], "fileId"), speaker.audioFiles[i].fileId);
         }
       }},
      {{"alarm contacts", "GET",
        "/vusk/api/v1.1/alarm/record/contact/detail?alarmCode=" + alarm.alarmCode +
            "&alarmDate=" + std::to_string(alarm.alarmDate),
        ""},
       [&](const rapidjson::Value& data) {
         const auto& results = Results(data);
         ASSERT_EQ(results.Size(), alarm.sources.size());
         for (rapidjson::SizeType i = 0; i < results.Size(); ++i) {
           const AlarmSource& source = alarm.sources[i];
           EXPECT_EQ(Str(results[i], "sourceName"), source.sourceName);
           EXPECT_EQ(Str(results[i], "devicePosition"), source.devicePosition);
           const auto& contacts = results[i]["deviceContacts"];
           ASSERT_TRUE(contacts.IsArray());
           ASSERT_EQ(contacts.Size(), source.deviceContacts.size());
           for (rapidjson::SizeType j = 0; j < contacts.Size(); ++j) {
             EXPECT_EQ(Str(contacts[j], "contactName"), source.deviceContacts[j].contactName);
             EXPECT_EQ(Str(contacts[j], "contactPhone"), source.deviceContacts[j].contactPhone);
             EXPECT_EQ(Str(contacts[j], "contactEmail"), source.deviceContacts[j].contactEmail);
             EXPECT_EQ(Str(contacts[j], "contactNote"), source.deviceContacts[j].contactNote);
           }
         }
       }},
      {{"ptz trails", "GET", "/vusk/api/v1.1/ptz/channel/" + ptz.channelId + "/trail/list", ""},
       [&](const rapidjson::Value& data) {
         const auto& results = Results(data);
         ASSERT_EQ(results.Size(), ptz.trails.size());
         for (rapidjson::SizeType i = 0; i < results.Size(); ++i) {
           EXPECT_EQ(Str(results[i], "trailId"), ptz.trails[i].trailId);
           EXPECT_EQ(Str(results[i], "trailName"), ptz.trails[i].trailName);
         }
       }},
      {{"record start", "POST", "/admin/API/SS/Record/StartRecord",
        IdentityBody(R"("data":{"streamType":1,"duration":30,"channelId":")" + ptz.channelId +
                     R"("})")},
       [&](const rapidjson::Value& data) {
         EXPECT_EQ(Int(data, "planId"), 1);
         EXPECT_GE(Int(data, "now"), before);
         EXPECT_LE(Int(data, "now"), NowMs());
       }},
      {{"pos config", "GET", "/vusk/api/v1.1/config/pos", ""},
       [&](const rapidjson::Value& data) {
         EXPECT_EQ(Str(data, "posPlaybackTime"), state.posPlaybackTime);
         EXPECT_TRUE(IsDigits(Str(data, "posPlaybackTime")));
       }},
      {{"pos events", "GET", "/vusk/api/v1.1/dictionary/list?types=9052", ""},
       [&](const rapidjson::Value& data) {
         std::vector<DictionaryGroup> expected;
         for (const auto& group : state.dictionaryGroups) {
           if (group.type == kPosEventDictionary) expected.push_back(group);
         }
         const auto& results = Results(data);
         ASSERT_EQ(results.Size(), expected.size());
         for (rapidjson::SizeType i = 0; i < results.Size(); ++i) {
           const auto& items = results[i]["items"];
           ASSERT_TRUE(items.IsArray());
           ASSERT_EQ(items.Size(), expected[i].items.size());
           for (rapidjson::SizeType j = 0; j < items.Size(); ++j) {
             EXPECT_EQ(Str(items[j], "code"), expected[i].items[j].code);
             EXPECT_TRUE(IsDigits(Str(items[j], "code")));
             EXPECT_EQ(Str(items[j], "name"), expected[i].items[j].name);
           }
         }
       }},
      {{"dictionary mapper", "GET",
        "/vusk/api/v1.1/config/dictionary-mapper?type=" + std::to_string(mapperType), ""},
       [&](const rapidjson::Value& data) {
         const auto& results = Results(data);
         ASSERT_EQ(results.Size(), mapperEntries.size());
         for (rapidjson::SizeType i = 0; i < results.Size(); ++i) {
           EXPECT_EQ(Str(results[i], "key"), mapperEntries[i].key);
           EXPECT_EQ(Str(results[i], "value"), mapperEntries[i].value);
           EXPECT_TRUE(IsDigits(Str(results[i], "key")) && IsDigits(Str(results[i], "value")));
         }
       }},
  };

  for (const auto& row : cases) {
    SCOPED_TRACE(row.call.name);
    const Envelope answer =
        ReadEnvelope(std::string(row.call.method) == "GET" ? Get(row.call.target)
                                                           : Post(row.call.target, row.call.body));
    ASSERT_TRUE(answer.received);
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.contentType, kJsonContentType);
    ASSERT_TRUE(answer.isObject) << answer.body;
    EXPECT_EQ(answer.code, kCodeOk) << answer.body;
    ASSERT_TRUE(answer.Data().IsObject()) << answer.body;
    row.check(answer.Data());
  }
}

TEST_F(EndpointTest, VolumeUpdateChangesOnlyValidVolumesAndAFetchShowsThem) {
  const PlatformState state = State();
  const Channel& speaker = OnlineSpeaker(state);
  const Channel& offline = OfflineSpeaker(state);
  const Channel& camera = PlainCamera(state);
  struct Case {
    const char* name;
    const Channel& channel;
    std::string volumes;  // the members sent beside "channelIds"
    bool microphoneFails;
    bool speakerFails;
  };
  const Case cases[] = {
      {"both in range", speaker, R"("microphoneVolume":11,"speakerVolume":22)", false, false},
      {"lower and upper bound", speaker, R"("microphoneVolume":0,"speakerVolume":100)", false,
       false},
      {"microphone only", speaker, R"("microphoneVolume":33)", false, false},
      {"speaker only", speaker, R"("speakerVolume":44)", false, false},
      {"neither", speaker, "", false, false},
      {"microphone above range", speaker, R"("microphoneVolume":101,"speakerVolume":55)", true,
       false},
      {"speaker below range", speaker, R"("microphoneVolume":66,"speakerVolume":-1)", false, true},
      {"offline speaker", offline, R"("microphoneVolume":1,"speakerVolume":2)", true, true},
      {"camera channel", camera, R"("speakerVolume":3)", false, true},
  };

  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    const Channel before = ChannelWhere(
        State(), [&](const Channel& c) { return c.channelId == row.channel.channelId; });
    const std::string ids = R"("channelIds":[")" + row.channel.channelId + R"("])";
    const Envelope update =
        ReadEnvelope(Post("/vusk/api/v1.1/ip-speaker/channel/volume/update/batch",
                          IdentityBody(ids + (row.volumes.empty() ? "" : "," + row.volumes))));
    ASSERT_EQ(update.code, kCodeOk) << update.body;
    const auto& data = update.Data();
    EXPECT_EQ(data["microphoneVolumeFailedChannels"].Size(), row.microphoneFails ? 1U : 0U);
    EXPECT_EQ(data["speakerVolumeFailedChannels"].Size(), row.speakerFails ? 1U : 0U);
    if (row.speakerFails) {
      EXPECT_STREQ(data["speakerVolumeFailedChannels"][0].GetString(),
                   row.channel.channelId.c_str());
    }

    // What a later fetch must show: each volume sent and accepted, the others as before.
    rapidjson::Document sent;
    sent.Parse(("{" + row.volumes + "}").c_str());
    const int microphone = sent.HasMember("microphoneVolume") && !row.microphoneFails
                               ? sent["microphoneVolume"].GetInt()
                               : before.microphoneVolume;
    const int speakerVolume = sent.HasMember("speakerVolume") && !row.speakerFails
                                  ? sent["speakerVolume"].GetInt()
                                  : before.speakerVolume;
    const Envelope fetch = ReadEnvelope(
        Post("/vusk/api/v1.1/ip-speaker/channel/volume/fetch/list", IdentityBody(ids)));
    ASSERT_EQ(fetch.code, kCodeOk) << fetch.body;
    const auto& result = Results(fetch.Data())[0];
    EXPECT_EQ(Int(result, "microphoneVolume"), row.channel.speaker ? microphone : 0);
    EXPECT_EQ(Int(result, "speakerVolume"), row.channel.speaker ? speakerVolume : 0);
    EXPECT_EQ(Int(result, "successful"), row.channel.speaker && row.channel.online ? 1 : 0);
  }
}

TEST_F(EndpointTest, SameAudioFilesAreThoseOnEveryRequestedChannel) {
  const PlatformState state = State();
  std::vector<const Channel*> speakers;
  for (const auto& channel : state.channels) {
    if (channel.speaker) speakers.push_back(&channel);
  }
  ASSERT_GE(speakers.size(), 2U);
  const auto quoted = [](const std::vector<const Channel*>& channels) {
    std::string list;
    for (const Channel* c : channels) list += (list.empty() ? "\"" : ",\"") + c->channelId + "\"";
    return list;
  };
  struct Case {
    const char* name;
    std::string channelIds;                // the JSON value sent
    std::vector<const Channel*> distinct;  // the channels each result must list, in order
  };
  const Case cases[] = {
      {"every speaker", "[" + quoted(speakers) + "]", speakers},
      {"two speakers, reversed",
       "[" + quoted({speakers[1], speakers[0]}) + "]",
       {speakers[1], speakers[0]}},
      {"a duplicate is listed once",
       "[" + quoted({speakers[0], speakers[1], speakers[0]}) + "]",
       {speakers[0], speakers[1]}},
      {"a camera shares nothing", "[" + quoted({speakers[0], &PlainCamera(state)}) + "]", {}},
      {"null asks for nothing", "null", {}},
      {"empty asks for nothing", "[]", {}},
  };

  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    const Envelope answer =
        ReadEnvelope(Post("/vusk/api/v1.1/device/channel/same/audio/file/fetch/list",
                          IdentityBody(R"("channelIds":)" + row.channelIds)));
    ASSERT_EQ(answer.code, kCodeOk) << answer.body;
    const auto& results = Results(answer.Data());
    std::vector<std::string> expectedNames;
    if (!row.distinct.empty()) {
      for (const auto& file : row.distinct.front()->audioFiles) {
        const bool everywhere =
            std::all_of(row.distinct.begin(), row.distinct.end(), [&](const Channel* channel) {
              return std::any_of(channel->audioFiles.begin(), channel->audioFiles.end(),
                                 [&](const AudioFile& f) { return f.fileName == file.fileName; });
            });
        if (everywhere) expectedNames.push_back(file.fileName);
      }
    }
    ASSERT_EQ(results.Size(), expectedNames.size());
    if (row.distinct.size() == speakers.size()) {
      EXPECT_NE(std::find(expectedNames.begin(), expectedNames.end(), "evacuation.wav"),
                expectedNames.end());
    }
    for (rapidjson::SizeType i = 0; i < results.Size(); ++i) {
      EXPECT_EQ(Str(results[i], "fileName"), expectedNames[i]);
      const auto& files = results[i]["channelFiles"];
      ASSERT_EQ(files.Size(), row.distinct.size());
      for (rapidjson::SizeType j = 0; j < files.Size(); ++j) {
        const Channel& channel = *row.distinct[j];
        const auto file =
            std::find_if(channel.audioFiles.begin(), channel.audioFiles.end(),
                         [&](const AudioFile& f) { return f.fileName == expectedNames[i]; });
        ASSERT_NE(file, channel.audioFiles.end());
        EXPECT_EQ(Str(files[j], "channelId"), channel.channelId);
        EXPECT_EQ(Str(files[j], "fileId"), file->fileId);
      }
    }
  }
}

TEST_F(EndpointTest, UnknownIdsGiveCode4004) {
  const PlatformState state = State();
  const AlarmRecord& alarm = state.alarms.front();
  const std::string known = OnlineSpeaker(state).channelId;
  const Call cases[] = {
      {"device", "GET", "/vusk/api/v1.1/device/D9999/web/enablement", ""},
      {"channel", "GET", "/vusk/api/v1.1/device/channel/D1001-C99/web/enablement", ""},
      {"picture", "GET", "/vusk/api/v1.1/common/request/picture/P4242", ""},
      {"volume fetch", "POST", "/vusk/api/v1.1/ip-speaker/channel/volume/fetch/list",
       IdentityBody(R"("channelIds":["nope"])")},
      {"volume update, one of two unknown", "POST",
       "/vusk/api/v1.1/ip-speaker/channel/volume/update/batch",
       IdentityBody(R"("channelIds":[")" + known + R"(","nope"],"speakerVolume":1)")},
      {"audio list", "GET", "/vusk/api/v1.1/device/channel/nope/audio/file/list", ""},
      {"same audio", "POST", "/vusk/api/v1.1/device/channel/same/audio/file/fetch/list",
       IdentityBody(R"("channelIds":[")" + known + R"(","nope"])")},
      {"alarm code", "GET",
       "/vusk/api/v1.1/alarm/record/contact/detail?alarmCode=ALM-9999&alarmDate=" +
           std::to_string(alarm.alarmDate),
       ""},
      {"alarm date of another moment", "GET",
       "/vusk/api/v1.1/alarm/record/contact/detail?alarmCode=" + alarm.alarmCode +
           "&alarmDate=" + std::to_string(alarm.alarmDate + 1),
       ""},
      {"ptz channel", "GET", "/vusk/api/v1.1/ptz/channel/nope/trail/list", ""},
      {"record channel", "POST", "/admin/API/SS/Record/StartRecord",
       IdentityBody(R"("data":{"streamType":0,"duration":10,"channelId":"nope"})")},
      {"dictionary type", "GET", "/vusk/api/v1.1/dictionary/list?types=9052,1234", ""},
      {"mapper type", "GET", "/vusk/api/v1.1/config/dictionary-mapper?type=999", ""},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    const Envelope answer = ReadEnvelope(
        std::string(row.method) == "GET" ? Get(row.target) : Post(row.target, row.body));
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.contentType, kJsonContentType);
    EXPECT_EQ(answer.code, kCodeUnknownId) << answer.body;
  }
  // A refused update changes nothing, not even for the known channel in the same request.
  EXPECT_EQ(OnlineSpeaker(State()).speakerVolume, OnlineSpeaker(state).speakerVolume);
}

TEST_F(EndpointTest, BadParametersGiveCode4005) {
  const PlatformState state = State();
  const std::string camera = PlainCamera(state).channelId;
  const std::string speaker = OnlineSpeaker(state).channelId;
  const std::string record = "/admin/API/SS/Record/StartRecord";
  const std::string update = "/vusk/api/v1.1/ip-speaker/channel/volume/update/batch";
  const auto recordBody = [&](const std::string& data) {
    return IdentityBody(R"("data":)" + data);
  };
  const Call cases[] = {
      {"alarm date not a number", "GET",
       "/vusk/api/v1.1/alarm/record/contact/detail?alarmCode=ALM-0001&alarmDate=abc", ""},
      {"alarm date missing", "GET", "/vusk/api/v1.1/alarm/record/contact/detail?alarmCode=A", ""},
      {"dictionary types missing", "GET", "/vusk/api/v1.1/dictionary/list", ""},
      {"dictionary type a word", "GET", "/vusk/api/v1.1/dictionary/list?types=pos", ""},
      {"mapper type with trailing text", "GET", "/vusk/api/v1.1/config/dictionary-mapper?type=1x",
       ""},
      {"volume as text", "POST", update,
       IdentityBody(R"("channelIds":[")" + speaker + R"("],"speakerVolume":"50")")},
      {"channelIds not an array", "POST", update,
       IdentityBody(R"("channelIds":")" + speaker + R"(","speakerVolume":5)")},
      {"fetch without channels", "POST", "/vusk/api/v1.1/ip-speaker/channel/volume/fetch/list",
       IdentityBody(R"("channelIds":[])")},
      {"record without data", "POST", record, IdentityBody("")},
      {"record stream type as text", "POST", record,
       recordBody(R"({"streamType":"0","duration":10,"channelId":")" + camera + R"("})")},
      {"record duration 0", "POST", record,
       recordBody(R"({"streamType":0,"duration":0,"channelId":")" + camera + R"("})")},
      {"record stream type 3", "POST", record,
       recordBody(R"({"streamType":3,"duration":10,"channelId":")" + camera + R"("})")},
      {"record on a speaker", "POST", record,
       recordBody(R"({"streamType":0,"duration":10,"channelId":")" + speaker + R"("})")},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    const Envelope answer = ReadEnvelope(
        std::string(row.method) == "GET" ? Get(row.target) : Post(row.target, row.body));
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.code, kCodeInvalidParameter) << answer.body;
  }
  EXPECT_TRUE(State().plans.empty());
}

TEST_F(EndpointTest, RecordPlansCountUpAcrossConcurrentClients) {
  const std::string camera = PlainCamera(State()).channelId;
  const std::string body =
      IdentityBody(R"("data":{"streamType":0,"duration":60,"channelId":")" + camera + R"("})");
  constexpr int kThreads = 4;
  constexpr int kPerThread = 10;
  std::vector<std::vector<std::int64_t>> planIds(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      auto client = NewClient(true);
      for (int i = 0; i < kPerThread; ++i) {
        const Envelope answer = ReadEnvelope(
            client->Post("/admin/API/SS/Record/StartRecord", StandardHeaders(), body, ""));
        planIds[static_cast<std::size_t>(t)].push_back(Int(answer.Data(), "planId"));
      }
    });
  }
  for (auto& thread : threads) thread.join();

  std::vector<std::int64_t> all;
  for (const auto& ids : planIds) {
    EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end()));  // each client sees them grow
    all.insert(all.end(), ids.begin(), ids.end());
  }
  std::sort(all.begin(), all.end());
  for (std::size_t i = 0; i < all.size(); ++i) EXPECT_EQ(all[i], static_cast<std::int64_t>(i + 1));
  EXPECT_EQ(State().plans.size(), all.size());
}

}  // namespace
}  // namespace corvane::mock::testing
