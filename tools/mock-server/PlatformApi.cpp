// The platform's fourteen endpoints and the routing of requests to them.
#include <array>
#include <cstdint>
#include <string_view>

#include "RequestChecks.h"
#include "Routes.h"

namespace corvane::mock {
namespace {

Reply InvalidParameter(std::string message) {
  return Error(200, kCodeInvalidParameter, std::move(message));
}

void PutStrings(JsonWriter& w, const char* key, const std::vector<std::string>& items) {
  w.Key(key);
  w.StartArray();
  for (const auto& item : items)
    w.String(item.data(), static_cast<rapidjson::SizeType>(item.size()));
  w.EndArray();
}

Reply AiPrivacy(Platform& platform, ApiCall&) {
  const int enable = platform.AiPrivacyEnable();
  return Ok(JsonObject([enable](JsonWriter& w) { PutInt(w, "enable", enable); }));
}

Reply WebEnablement(Platform& platform, ApiCall& call, bool channel) {
  const std::string& id = call.captures.at(0);
  const Outcome<int> outcome =
      channel ? platform.ChannelWebEnablement(id) : platform.DeviceWebEnablement(id);
  return FromOutcome(outcome, [&](JsonWriter& w, int enableWeb) {
    PutString(w, channel ? "channelId" : "deviceId", id);
    PutInt(w, "enableWeb", enableWeb);
  });
}

Reply PictureBytes(Platform& platform, ApiCall& call) {
  const auto outcome = platform.PicturePng(call.captures.at(0));
  if (!outcome.Ok()) return Error(200, outcome.code, outcome.message);
  Reply reply;
  reply.binary = outcome.value;
  reply.binaryType = "image/png";
  return reply;
}

Reply FetchVolumes(Platform& platform, ApiCall& call) {
  const auto ids = StringList(call.body, "channelIds", false);
  if (!ids || ids->empty()) {
    return InvalidParameter("\"channelIds\" must be a non-empty array of strings");
  }
  return FromOutcome(platform.FetchVolumes(*ids), [](JsonWriter& w, const auto& volumes) {
    PutArray(w, "results", volumes, [](JsonWriter& o, const SpeakerVolume& v) {
      PutString(o, "channelId", v.channelId);
      PutString(o, "channelName", v.channelName);
      PutInt(o, "microphoneVolume", v.microphoneVolume);
      PutInt(o, "speakerVolume", v.speakerVolume);
      PutInt(o, "successful", v.successful);
    });
  });
}

Reply UpdateVolumes(Platform& platform, ApiCall& call) {
  const auto ids = StringList(call.body, "channelIds", false);
  if (!ids || ids->empty()) {
    return InvalidParameter("\"channelIds\" must be a non-empty array of strings");
  }
  const std::array<const char*, 2> names = {"microphoneVolume", "speakerVolume"};
  std::array<std::optional<std::int64_t>, 2> volumes;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const rapidjson::Value* value = MemberOf(call.body, names[i]);
    if (value == nullptr) continue;
    if (!value->IsInt64())
      return InvalidParameter(std::string("\"") + names[i] + "\" must be an integer");
    volumes[i] = value->GetInt64();
  }
  return FromOutcome(
      platform.UpdateVolumes(*ids, volumes[0], volumes[1]),
      [](JsonWriter& w, const VolumeUpdate& update) {
        PutStrings(w, "microphoneVolumeFailedChannels", update.microphoneVolumeFailedChannels);
        PutStrings(w, "speakerVolumeFailedChannels", update.speakerVolumeFailedChannels);
      });
}

Reply AudioFiles(Platform& platform, ApiCall& call) {
  return FromOutcome(platform.AudioFiles(call.captures.at(0)),
                     [](JsonWriter& w, const auto& files) {
                       PutArray(w, "results", files, [](JsonWriter& o, const auto& file) {
                         PutString(o, "channelId", file.first);
                         PutString(o, "fileId", file.second.fileId);
                         PutString(o, "fileName", file.second.fileName);
                       });
                     });
}

Reply SameAudioFiles(Platform& platform, ApiCall& call) {
  const auto ids = StringList(call.body, "channelIds", true);
  if (!ids) return InvalidParameter("\"channelIds\" must be an array of strings or null");
  return FromOutcome(platform.SameAudioFiles(*ids), [](JsonWriter& w, const auto& files) {
    PutArray(w, "results", files, [](JsonWriter& o, const SameAudioFile& file) {
      PutString(o, "fileName", file.fileName);
      PutArray(o, "channelFiles", file.channelFiles, [](JsonWriter& f, const ChannelFile& cf) {
        PutString(f, "channelId", cf.channelId);
        PutString(f, "fileId", cf.fileId);
      });
    });
  });
}

Reply AlarmContacts(Platform& platform, ApiCall& call) {
  const auto code = call.request.Param("alarmCode");
  const auto dateText = call.request.Param("alarmDate");
  if (!code || !dateText) return InvalidParameter("alarmCode and alarmDate are required");
  const auto date = ParseDecimal<std::int64_t>(*dateText);
  if (!date) return InvalidParameter("alarmDate must be a 64-bit decimal integer");
  return FromOutcome(platform.AlarmContacts(*code, *date), [](JsonWriter& w, const auto& sources) {
    PutArray(w, "results", sources, [](JsonWriter& o, const AlarmSource& s) {
      PutString(o, "sourceName", s.sourceName);
      PutString(o, "devicePosition", s.devicePosition);
      PutArray(o, "deviceContacts", s.deviceContacts, [](JsonWriter& c, const Contact& contact) {
        PutString(c, "contactName", contact.contactName);
        PutString(c, "contactPhone", contact.contactPhone);
        PutString(c, "contactEmail", contact.contactEmail);
        PutString(c, "contactNote", contact.contactNote);
      });
    });
  });
}

Reply PtzTrails(Platform& platform, ApiCall& call) {
  auto readTrails = [](const Channel& channel) { return channel.trails; };  // none without PTZ
  return FromOutcome(platform.ReadChannel(call.captures.at(0), readTrails),
                     [](JsonWriter& w, const auto& trails) {
                       PutArray(w, "results", trails, [](JsonWriter& o, const Trail& t) {
                         PutString(o, "trailId", t.trailId);
                         PutString(o, "trailName", t.trailName);
                       });
                     });
}

Reply StartRecord(Platform& platform, ApiCall& call) {
  const rapidjson::Value* data = MemberOf(call.body, "data");
  const rapidjson::Value* channelId = data ? MemberOf(*data, "channelId") : nullptr;
  const rapidjson::Value* streamType = data ? MemberOf(*data, "streamType") : nullptr;
  const rapidjson::Value* duration = data ? MemberOf(*data, "duration") : nullptr;
  if (channelId == nullptr || !channelId->IsString() || streamType == nullptr ||
      !streamType->IsInt64() || duration == nullptr || !duration->IsInt64()) {
    return InvalidParameter(
        "\"data\" must hold \"channelId\" (string), \"streamType\" and \"duration\" (integers)");
  }
  const auto outcome =
      platform.StartRecord(std::string(channelId->GetString(), channelId->GetStringLength()),
                           streamType->GetInt64(), duration->GetInt64());
  return FromOutcome(outcome, [](JsonWriter& w, const RecordPlan& plan) {
    PutInt(w, "planId", plan.planId);
    PutInt(w, "now", plan.startedAt);
  });
}

Reply PosConfig(Platform& platform, ApiCall&) {
  const std::string playbackTime = platform.PosPlaybackTime();
  return Ok(JsonObject([&](JsonWriter& w) { PutString(w, "posPlaybackTime", playbackTime); }));
}

Reply DictionaryList(Platform& platform, ApiCall& call) {
  const auto list = call.request.Param("types");
  if (!list) return InvalidParameter("types is required");
  std::vector<int> types;
  std::string_view text = *list;
  for (;;) {
    const std::size_t comma = text.find(',');
    const auto type = ParseDecimal<int>(std::string(text.substr(0, comma)));
    if (!type) return InvalidParameter("types must be decimal integers separated by commas");
    types.push_back(*type);
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  return FromOutcome(platform.DictionaryGroups(types), [](JsonWriter& w, const auto& groups) {
    PutArray(w, "results", groups, [](JsonWriter& o, const DictionaryGroup& group) {
      PutInt(o, "type", group.type);
      PutString(o, "groupName", group.groupName);
      PutArray(o, "items", group.items, [](JsonWriter& i, const DictionaryItem& item) {
        PutString(i, "code", item.code);
        PutString(i, "name", item.name);
      });
    });
  });
}

Reply DictionaryMapper(Platform& platform, ApiCall& call) {
  const auto type = ParseDecimal<int>(call.request.Param("type").value_or(""));
  if (!type) return InvalidParameter("type must be a decimal integer");
  return FromOutcome(platform.DictionaryMapper(*type), [&](JsonWriter& w, const auto& entries) {
    PutInt(w, "type", *type);
    PutArray(w, "results", entries, [](JsonWriter& o, const MapperEntry& entry) {
      PutString(o, "key", entry.key);
      PutString(o, "value", entry.value);
    });
  });
}

}  // namespace

Reply RouteRequest(const http::Request& req, const std::vector<Route>& routes,
                   bool platformChecks) {
  const Route* chosen = nullptr;
  std::vector<std::string> allowed;
  std::smatch match;
  for (const auto& route : routes) {
    if (!std::regex_match(req.path, match, route.pattern)) continue;
    allowed.push_back(route.method);
    if (route.method == req.method || (route.method == "GET" && req.method == "HEAD")) {
      chosen = &route;
      break;
    }
  }
  if (chosen == nullptr && allowed.empty()) {
    return Error(404, kCodeNoSuchPath, "no such path " + req.path);
  }
  if (chosen == nullptr) {
    Reply reply = Error(405, kCodeMethodNotAllowed, req.method + " not allowed on " + req.path);
    std::string allow;
    for (const auto& method : allowed) allow += (allow.empty() ? "" : ", ") + method;
    reply.headers.emplace_back("Allow", allow);
    return reply;
  }
  if (platformChecks) {
    if (auto problem = CheckStandardHeaders(req)) return Error(400, kCodeBadHeader, *problem);
  }
  ApiCall call{req, {}, rapidjson::Document()};
  for (std::size_t i = 1; i < match.size(); ++i) call.captures.push_back(match[i].str());
  if (req.method == "POST") {
    call.body.Parse(req.body.data(), req.body.size());
    if (platformChecks) {
      if (call.body.HasParseError() || !call.body.IsObject()) {
        return Error(400, kCodeBadBody, "the body must be a JSON object");
      }
      if (auto problem = CheckIdentity(call.body)) {
        return Error(200, kCodeIdentityRejected, *problem);
      }
    }
  }
  return chosen->handler(call);
}

std::vector<Route> PlatformRoutes(Platform& platform) {
  const auto route = [&platform](const char* method, const char* pattern,
                                 Reply (*handler)(Platform&, ApiCall&)) {
    return Route{method, std::regex(pattern),
                 [&platform, handler](ApiCall& call) { return handler(platform, call); }};
  };
  std::vector<Route> routes;
  routes.push_back(route("GET", R"(/vusk/api/v1\.1/config/ai/privacy)", &AiPrivacy));
  routes.push_back(
      Route{"GET", std::regex(R"(/vusk/api/v1\.1/device/([^/]+)/web/enablement)"),
            [&platform](ApiCall& call) { return WebEnablement(platform, call, false); }});
  routes.push_back(
      Route{"GET", std::regex(R"(/vusk/api/v1\.1/device/channel/([^/]+)/web/enablement)"),
            [&platform](ApiCall& call) { return WebEnablement(platform, call, true); }});
  routes.push_back(
      route("GET", R"(/vusk/api/v1\.1/common/request/picture/([^/]+))", &PictureBytes));
  routes.push_back(
      route("POST", R"(/vusk/api/v1\.1/ip-speaker/channel/volume/fetch/list)", &FetchVolumes));
  routes.push_back(
      route("POST", R"(/vusk/api/v1\.1/ip-speaker/channel/volume/update/batch)", &UpdateVolumes));
  routes.push_back(
      route("GET", R"(/vusk/api/v1\.1/device/channel/([^/]+)/audio/file/list)", &AudioFiles));
  routes.push_back(route("POST", R"(/vusk/api/v1\.1/device/channel/same/audio/file/fetch/list)",
                         &SameAudioFiles));
  routes.push_back(route("GET", R"(/vusk/api/v1\.1/alarm/record/contact/detail)", &AlarmContacts));
  routes.push_back(route("GET", R"(/vusk/api/v1\.1/ptz/channel/([^/]+)/trail/list)", &PtzTrails));
  routes.push_back(route("POST", R"(/admin/API/SS/Record/StartRecord)", &StartRecord));
  routes.push_back(route("GET", R"(/vusk/api/v1\.1/config/pos)", &PosConfig));
  routes.push_back(route("GET", R"(/vusk/api/v1\.1/dictionary/list)", &DictionaryList));
  routes.push_back(route("GET", R"(/vusk/api/v1\.1/config/dictionary-mapper)", &DictionaryMapper));
  return routes;
}

}  // namespace corvane::mock
