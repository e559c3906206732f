// The seeded generation of a platform state, and its catalog as JSON.
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <set>

#include "JsonPut.h"
#include "MockPlatform.h"
#include "Png.h"

namespace corvane::mock {
namespace {

// SplitMix64: a tiny generator whose sequence is fixed by its definition, unlike the standard
// distributions, so that a seed names the same platform on every compiler and library.
class SeededRandom {
 public:
  explicit SeededRandom(std::uint64_t seed) : state_(seed) {}

  std::uint64_t Next() {
    state_ += 0x9E3779B97F4A7C15ULL;
    std::uint64_t z = state_;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }

  // A number in [low, high]; the modulo bias is irrelevant for test data.
  std::int64_t Between(std::int64_t low, std::int64_t high) {
    const auto span = static_cast<std::uint64_t>(high - low) + 1;
    return low + static_cast<std::int64_t>(Next() % span);
  }

  bool Chance(int percent) { return Between(0, 99) < percent; }

  template <class T>
  const T& Pick(const std::vector<T>& items) {
    return items[static_cast<std::size_t>(Between(0, static_cast<std::int64_t>(items.size()) - 1))];
  }

  template <class T>
  void Shuffle(std::vector<T>& items) {
    for (std::size_t i = items.size(); i > 1; --i) {
      const auto j = static_cast<std::size_t>(Between(0, static_cast<std::int64_t>(i) - 1));
      std::swap(items[i - 1], items[j]);
    }
  }

 private:
  std::uint64_t state_;
};

const std::vector<std::string> kCameraAreas = {
    "Lobby",       "Main entrance", "Parking north", "Parking south", "Loading dock",
    "Cash desk 1", "Cash desk 2",   "Warehouse",     "Corridor B",    "Stairwell",
    "Roof",        "Café terrasse", "Server room",   "Back door"};
const std::vector<std::string> kSpeakerZones = {"Lobby",  "Parking", "Warehouse",
                                                "Garden", "Canteen", "Reception"};
const std::vector<std::string> kTrailNames = {"Gate patrol", "Parking sweep", "Perimeter",
                                              "Dock watch",  "Night round",   "Façade scan"};
const std::vector<std::string> kAudioNames = {
    "welcome.mp3",    "closing-time.mp3", "no-parking.mp3",      "door-chime.wav",
    "lost-child.mp3", "background.mp3",   "delivery-notice.mp3", "test-tone.wav"};
constexpr char kSharedAudioName[] = "evacuation.wav";  // on every speaker channel
const std::vector<std::string> kPositions = {"Building A, floor 1",  "Building A, floor 2",
                                             "Building B, basement", "Outdoor, north gate",
                                             "Outdoor, parking",     "Building C, Étage 3"};
const std::vector<Contact> kPeople = {
    {"Ana Souza", "+1-555-0101", "ana.souza@example.com", "Facility manager"},
    {"Bo Lindqvist", "+1-555-0102", "bo.lindqvist@example.com", ""},
    {"Chen Wei", "+1-555-0103", "chen.wei@example.com", "Night shift"},
    {"Dara O'Neil", "+1-555-0104", "dara.oneil@example.com", "Call first"},
    {"Émile Roux", "+1-555-0105", "emile.roux@example.com", ""},
    {"Farah Haddad", "+1-555-0106", "farah.haddad@example.com", "Security desk"}};
const std::vector<std::string> kPlaybackTimes = {"10", "15", "30", "45", "60", "90", "120"};

const std::vector<DictionaryGroup> kDictionaries = {
    {kAlarmTypeDictionary, "Alarm", {{"1", "Motion"}, {"2", "Tamper"}, {"3", "Video loss"}}},
    {kPosEventDictionary,
     "Transaction",
     {{"1001", "Sale"}, {"1002", "Refund"}, {"1003", "Void"}, {"1004", "Discount"}}},
    {kPosEventDictionary, "Cash drawer", {{"2001", "Drawer opened"}, {"2002", "Drawer closed"}}},
    {kPosEventDictionary,
     "Operator",
     {{"3001", "Operator login"}, {"3002", "Operator logout"}, {"3003", "No sale"}}}};
const std::vector<int> kMapperTypes = {1, 2, 3, 4};

constexpr std::int64_t kFirstAlarmDate = 1704067200000;  // 2024-01-01T00:00:00Z
constexpr std::int64_t kYearMs = 365LL * 24 * 3600 * 1000;

std::string TwoDigits(int n) { return (n < 10 ? "0" : "") + std::to_string(n); }

std::shared_ptr<const std::string> MakePicture(SeededRandom& rng, int width, int height) {
  const auto base = static_cast<std::uint8_t>(rng.Between(0, 255));
  const auto cell = static_cast<int>(rng.Between(2, 8));
  std::vector<std::uint8_t> rgb;
  rgb.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const bool dark = ((x / cell) + (y / cell)) % 2 == 0;
      rgb.push_back(static_cast<std::uint8_t>(x * 255 / width));
      rgb.push_back(static_cast<std::uint8_t>(y * 255 / height));
      rgb.push_back(static_cast<std::uint8_t>(dark ? base / 2 : base));
    }
  }
  return std::make_shared<const std::string>(
      EncodeRgbPng(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height), rgb));
}

// A decimal id of six digits that no other file has.
std::string NewFileId(SeededRandom& rng, std::set<std::string>& used) {
  for (;;) {
    std::string id = std::to_string(rng.Between(100000, 999999));
    if (used.insert(id).second) return id;
  }
}

void AddCameras(SeededRandom& rng, PlatformState& state) {
  std::vector<std::string> areas = kCameraAreas;
  rng.Shuffle(areas);
  std::size_t nextArea = 0;
  for (int d = 1; d <= 3; ++d) {
    Device device;
    device.deviceId = "D100" + std::to_string(d);
    device.deviceName = "NVR " + std::string(1, static_cast<char>('A' + d - 1));
    // One enabled and one disabled device whatever the seed; the third is chance.
    device.enableWeb = d == 1 || (d == 3 && rng.Chance(50));
    for (int c = 1; c <= 4; ++c) {
      Channel channel;
      channel.channelId = device.deviceId + "-C" + TwoDigits(c);
      channel.channelName = areas[nextArea++ % areas.size()];
      channel.deviceId = device.deviceId;
      channel.enableWeb = rng.Chance(60);
      channel.ptz = c == 1 || rng.Chance(30);  // the first channel of a device always has PTZ
      if (channel.ptz) {
        const auto count = rng.Between(1, 4);
        for (std::int64_t t = 1; t <= count; ++t) {
          channel.trails.push_back(
              {std::to_string(c * 100 + t), rng.Pick(kTrailNames) + " " + std::to_string(t)});
        }
      }
      device.channelIds.push_back(channel.channelId);
      state.channels.push_back(std::move(channel));
    }
    state.devices.push_back(std::move(device));
  }
}

void AddSpeakers(SeededRandom& rng, PlatformState& state) {
  std::vector<std::string> zones = kSpeakerZones;
  rng.Shuffle(zones);
  Device device;
  device.deviceId = "D2001";
  device.deviceName = "IP speaker hub";
  device.enableWeb = rng.Chance(50);
  // Exactly one speaker is offline, never the first, so that at least three answer.
  const auto offline = rng.Between(2, 4);
  std::set<std::string> usedFileIds;
  for (int c = 1; c <= 4; ++c) {
    Channel channel;
    channel.channelId = device.deviceId + "-C" + TwoDigits(c);
    channel.channelName = "Speaker " + zones[static_cast<std::size_t>(c - 1)];
    channel.deviceId = device.deviceId;
    channel.enableWeb = rng.Chance(60);
    channel.speaker = true;
    channel.online = c != offline;
    channel.speakerVolume = static_cast<int>(rng.Between(kMinVolume, kMaxVolume));
    channel.microphoneVolume = static_cast<int>(rng.Between(kMinVolume, kMaxVolume));
    std::vector<std::string> names = {kSharedAudioName};
    for (const auto& name : kAudioNames) {
      if (rng.Chance(50)) names.push_back(name);
    }
    rng.Shuffle(names);
    for (const auto& name : names) {
      channel.audioFiles.push_back({NewFileId(rng, usedFileIds), name});
    }
    device.channelIds.push_back(channel.channelId);
    state.channels.push_back(std::move(channel));
  }
  state.devices.push_back(std::move(device));
}

void AddPictures(SeededRandom& rng, PlatformState& state) {
  for (int i = 1; i <= 6; ++i) {
    const auto width = static_cast<int>(rng.Between(8, 64));
    const auto height = static_cast<int>(rng.Between(8, 48));
    state.pictures.push_back(
        {"P000" + std::to_string(i), width, height, MakePicture(rng, width, height)});
  }
  state.pictures.push_back({"P0100", 1, 1, MakePicture(rng, 1, 1)});
  // An id with a space: the client must percent-encode it on the wire.
  state.pictures.push_back({"P 0200", 24, 16, MakePicture(rng, 24, 16)});
  // Large enough to need many stored deflate blocks and many reads on the client.
  state.pictures.push_back({"P0900", 640, 480, MakePicture(rng, 640, 480)});
}

void AddAlarms(SeededRandom& rng, PlatformState& state) {
  for (int i = 1; i <= 4; ++i) {
    AlarmRecord record;
    record.alarmCode = "ALM-000" + std::to_string(i);
    record.alarmDate = kFirstAlarmDate + rng.Between(0, kYearMs);
    const auto sourceCount = rng.Between(1, 3);
    for (std::int64_t s = 0; s < sourceCount; ++s) {
      AlarmSource source;
      const Channel& camera = state.channels[static_cast<std::size_t>(rng.Between(0, 11))];
      source.sourceName = camera.channelName + " (" + camera.channelId + ")";
      source.devicePosition = rng.Pick(kPositions);
      // The first record's first source always has contacts and the last record's first
      // source never has, so both shapes exist whatever the seed.
      std::int64_t contactCount = rng.Between(0, 3);
      if (s == 0 && i == 1) contactCount = std::max<std::int64_t>(contactCount, 1);
      if (s == 0 && i == 4) contactCount = 0;
      std::vector<Contact> people = kPeople;
      rng.Shuffle(people);
      people.resize(static_cast<std::size_t>(contactCount));
      source.deviceContacts = std::move(people);
      record.sources.push_back(std::move(source));
    }
    state.alarms.push_back(std::move(record));
  }
}

void AddMappers(SeededRandom& rng, PlatformState& state) {
  for (int type : kMapperTypes) {
    std::vector<MapperEntry> entries;
    std::set<std::int64_t> keys;
    const auto count = rng.Between(3, 8);
    while (static_cast<std::int64_t>(entries.size()) < count) {
      const auto key = rng.Between(1, 999);
      if (!keys.insert(key).second) continue;
      entries.push_back({std::to_string(key), std::to_string(rng.Between(0, 9999))});
    }
    state.mappers[type] = std::move(entries);
  }
}

void WriteChannel(JsonWriter& w, const Channel& channel) {
  w.StartObject();
  PutString(w, "channelId", channel.channelId);
  PutString(w, "channelName", channel.channelName);
  PutBool(w, "enableWeb", channel.enableWeb);
  PutBool(w, "ptz", channel.ptz);
  w.Key("trails");
  w.StartArray();
  for (const auto& trail : channel.trails) {
    w.StartObject();
    PutString(w, "trailId", trail.trailId);
    PutString(w, "trailName", trail.trailName);
    w.EndObject();
  }
  w.EndArray();
  PutBool(w, "speaker", channel.speaker);
  if (channel.speaker) {
    PutBool(w, "online", channel.online);
    PutInt(w, "speakerVolume", channel.speakerVolume);
    PutInt(w, "microphoneVolume", channel.microphoneVolume);
    w.Key("audioFiles");
    w.StartArray();
    for (const auto& file : channel.audioFiles) {
      w.StartObject();
      PutString(w, "fileId", file.fileId);
      PutString(w, "fileName", file.fileName);
      w.EndObject();
    }
    w.EndArray();
  }
  w.EndObject();
}

// The catalog's alarms: each with its sources and how many contacts each has.
void WriteAlarms(JsonWriter& w, const PlatformState& state) {
  w.Key("alarms");
  w.StartArray();
  for (const auto& alarm : state.alarms) {
    w.StartObject();
    PutString(w, "alarmCode", alarm.alarmCode);
    PutInt(w, "alarmDate", alarm.alarmDate);
    w.Key("sources");
    w.StartArray();
    for (const auto& source : alarm.sources) {
      w.StartObject();
      PutString(w, "sourceName", source.sourceName);
      PutString(w, "devicePosition", source.devicePosition);
      PutInt(w, "contacts", static_cast<std::int64_t>(source.deviceContacts.size()));
      w.EndObject();
    }
    w.EndArray();
    w.EndObject();
  }
  w.EndArray();
}

// The catalog's dictionary mappers, by type.
void WriteMappers(JsonWriter& w, const PlatformState& state) {
  w.Key("mappers");
  w.StartObject();
  for (const auto& [type, entries] : state.mappers) {
    const std::string key = std::to_string(type);
    w.Key(key.c_str());
    w.StartArray();
    for (const auto& entry : entries) {
      w.StartObject();
      PutString(w, "key", entry.key);
      PutString(w, "value", entry.value);
      w.EndObject();
    }
    w.EndArray();
  }
  w.EndObject();
}

}  // namespace

PlatformState GeneratePlatformState(std::uint64_t seed) {
  SeededRandom rng(seed);
  PlatformState state;
  state.seed = seed;
  state.aiPrivacyEnable = rng.Chance(50) ? 1 : 0;
  state.posPlaybackTime = rng.Pick(kPlaybackTimes);
  AddCameras(rng, state);
  AddSpeakers(rng, state);
  AddPictures(rng, state);
  AddAlarms(rng, state);
  state.dictionaryGroups = kDictionaries;
  AddMappers(rng, state);
  return state;
}

std::string CatalogJson(const PlatformState& state) {
  rapidjson::StringBuffer buffer;
  JsonWriter w(buffer);
  w.StartObject();
  w.Key("seed");
  w.Uint64(state.seed);
  PutInt(w, "aiPrivacyEnable", state.aiPrivacyEnable);
  PutString(w, "posPlaybackTime", state.posPlaybackTime);
  w.Key("devices");
  w.StartArray();
  for (const auto& device : state.devices) {
    w.StartObject();
    PutString(w, "deviceId", device.deviceId);
    PutString(w, "deviceName", device.deviceName);
    PutBool(w, "enableWeb", device.enableWeb);
    w.Key("channels");
    w.StartArray();
    for (const auto& channel : state.channels) {
      if (channel.deviceId == device.deviceId) WriteChannel(w, channel);
    }
    w.EndArray();
    w.EndObject();
  }
  w.EndArray();
  w.Key("pictures");
  w.StartArray();
  for (const auto& picture : state.pictures) {
    w.StartObject();
    PutString(w, "pictureId", picture.pictureId);
    PutInt(w, "width", picture.width);
    PutInt(w, "height", picture.height);
    PutInt(w, "bytes", static_cast<std::int64_t>(picture.png->size()));
    w.EndObject();
  }
  w.EndArray();
  WriteAlarms(w, state);
  w.Key("dictionaryTypes");
  w.StartArray();
  std::set<int> types;
  for (const auto& group : state.dictionaryGroups) types.insert(group.type);
  for (int type : types) w.Int(type);
  w.EndArray();
  WriteMappers(w, state);
  w.Key("plans");
  w.StartArray();
  for (const auto& plan : state.plans) {
    w.StartObject();
    PutInt(w, "planId", plan.planId);
    PutString(w, "channelId", plan.channelId);
    PutInt(w, "streamType", plan.streamType);
    PutInt(w, "duration", plan.duration);
    PutInt(w, "startedAt", plan.startedAt);
    w.EndObject();
  }
  w.EndArray();
  w.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize());
}

}  // namespace corvane::mock
