// The simulated platform behind corvane-mock-server: devices and channels, IP speakers, device
// pictures, alarm records, the trails of PTZ channels, recording plans, the POS setting and the
// dictionaries.
//
// The state is generated from a seed (the same seed always gives the same platform), kept in
// memory and guarded by one mutex, so the HTTP layer may call any member from any thread.
// Identifiers follow a fixed scheme whatever the seed (cameras "D1001".."D1003" with channels
// "D1001-C01".."D1003-C04", the IP-speaker device "D2001" with channels "D2001-C01".."D2001-C04");
// the seed chooses names, flags, volumes, files, trails, contacts and the other values.
#ifndef CORVANE_MOCK_PLATFORM_H
#define CORVANE_MOCK_PLATFORM_H

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace corvane::mock {

// Business codes of the answer envelope's "code".
constexpr int kCodeOk = 1000;
constexpr int kCodeBadHeader = 4001;         // a standard header missing or wrong (HTTP 400)
constexpr int kCodeBadBody = 4002;           // a POST body that is not a JSON object (HTTP 400)
constexpr int kCodeIdentityRejected = 4003;  // clientType / project / clientMac wrong (HTTP 200)
constexpr int kCodeUnknownId = 4004;         // no such device, channel, picture, alarm, type
constexpr int kCodeInvalidParameter = 4005;  // a parameter of the wrong type or out of range
constexpr int kCodeUnauthorized = 4010;      // HTTP 401: the bearer token missing or refused
constexpr int kCodeNoSuchPath = 4040;        // HTTP 404
constexpr int kCodeMethodNotAllowed = 4050;  // HTTP 405
constexpr int kCodeInternal = 5000;          // HTTP 500: the server failed

constexpr int kMinVolume = 0;
constexpr int kMaxVolume = 100;
constexpr std::int64_t kMaxStreamType = 2;         // 0 main, 1 sub, 2 third stream
constexpr std::int64_t kMaxRecordSeconds = 86400;  // a remote recording lasts 1 s to one day

// The dictionary types of the dictionary list (9052: POS events).
constexpr int kPosEventDictionary = 9052;
constexpr int kAlarmTypeDictionary = 9051;

struct Contact {
  std::string contactName;
  std::string contactPhone;
  std::string contactEmail;
  std::string contactNote;
};

struct AlarmSource {
  std::string sourceName;
  std::string devicePosition;
  std::vector<Contact> deviceContacts;
};

struct AlarmRecord {
  std::string alarmCode;
  std::int64_t alarmDate = 0;  // epoch milliseconds
  std::vector<AlarmSource> sources;
};

struct AudioFile {
  std::string fileId;  // unique across the platform: one file has a different id per channel
  std::string fileName;
};

struct Trail {  // a route a PTZ channel's head can follow
  std::string trailId;
  std::string trailName;
};

struct Channel {
  std::string channelId;
  std::string channelName;
  std::string deviceId;
  bool enableWeb = false;
  bool ptz = false;  // only PTZ channels have trails
  std::vector<Trail> trails;
  bool speaker = false;  // an IP-speaker channel (volumes, audio files)
  bool online = true;    // an offline speaker refuses volume changes
  int speakerVolume = 0;
  int microphoneVolume = 0;
  std::vector<AudioFile> audioFiles;
};

struct Device {
  std::string deviceId;
  std::string deviceName;
  bool enableWeb = false;
  std::vector<std::string> channelIds;
};

struct Picture {
  std::string pictureId;
  int width = 0;
  int height = 0;
  std::shared_ptr<const std::string> png;  // shared, so an answer never copies under the lock
};

struct DictionaryItem {
  std::string code;  // decimal digits
  std::string name;
};

struct DictionaryGroup {
  int type = 0;
  std::string groupName;
  std::vector<DictionaryItem> items;
};

struct MapperEntry {
  std::string key;    // decimal digits
  std::string value;  // decimal digits
};

struct RecordPlan {
  int planId = 0;
  std::string channelId;
  std::int64_t streamType = 0;
  std::int64_t duration = 0;
  std::int64_t startedAt = 0;  // epoch milliseconds
};

struct PlatformState {
  std::uint64_t seed = 0;
  int aiPrivacyEnable = 0;
  std::string posPlaybackTime;  // decimal digits (seconds)
  std::vector<Device> devices;
  std::vector<Channel> channels;
  std::vector<Picture> pictures;
  std::vector<AlarmRecord> alarms;
  std::vector<DictionaryGroup> dictionaryGroups;  // of every dictionary type, in type order
  std::map<int, std::vector<MapperEntry>> mappers;
  std::vector<RecordPlan> plans;
  int nextPlanId = 1;
};

// The platform that `seed` names; equal seeds give equal states.
PlatformState GeneratePlatformState(std::uint64_t seed);

// Everything in `state` but the picture bytes (their sizes stand in), as compact JSON text:
// what the control endpoint's catalog shows, so that clients can find the identifiers.
std::string CatalogJson(const PlatformState& state);

// The result of one platform operation: `value` when `code` is kCodeOk, else a business code
// and a message for the envelope.
template <class T>
struct Outcome {
  int code = kCodeOk;
  std::string message;
  T value{};

  bool Ok() const { return code == kCodeOk; }
  static Outcome Fail(int failCode, std::string failMessage) {
    Outcome outcome;
    outcome.code = failCode;
    outcome.message = std::move(failMessage);
    return outcome;
  }
  static Outcome Success(T result) {
    Outcome outcome;
    outcome.value = std::move(result);
    return outcome;
  }
};

struct SpeakerVolume {
  std::string channelId;
  std::string channelName;
  int microphoneVolume = 0;
  int speakerVolume = 0;
  int successful = 0;  // 1 when the speaker answered (online), 0 otherwise
};

struct VolumeUpdate {
  std::vector<std::string> microphoneVolumeFailedChannels;
  std::vector<std::string> speakerVolumeFailedChannels;
};

struct ChannelFile {
  std::string channelId;
  std::string fileId;
};

struct SameAudioFile {
  std::string fileName;
  std::vector<ChannelFile> channelFiles;
};

// The live platform. Every member takes the mutex, so calls from several threads are safe;
// results are copies that stay valid after later changes.
class Platform {
 public:
  explicit Platform(std::uint64_t seed);

  // Replaces the whole state with the one `seed` generates (recording plans included).
  void Reset(std::uint64_t seed);
  PlatformState Snapshot() const;
  std::uint64_t Seed() const;

  int AiPrivacyEnable() const;
  std::string PosPlaybackTime() const;
  Outcome<int> DeviceWebEnablement(const std::string& deviceId) const;
  Outcome<int> ChannelWebEnablement(const std::string& channelId) const;
  Outcome<std::shared_ptr<const std::string>> PicturePng(const std::string& pictureId) const;

  // One entry per requested channel, in request order. Unknown ids fail the whole request;
  // a known channel that is not an online speaker reports successful 0.
  Outcome<std::vector<SpeakerVolume>> FetchVolumes(
      const std::vector<std::string>& channelIds) const;

  // Applies each volume that is given to every listed channel. A channel that is not an online
  // speaker, or a volume outside kMinVolume..kMaxVolume, puts the channel (once) into the failed
  // list of that volume and leaves that volume unchanged; the other volume still applies.
  // Unknown ids fail the whole request before anything changes.
  Outcome<VolumeUpdate> UpdateVolumes(const std::vector<std::string>& channelIds,
                                      std::optional<std::int64_t> microphoneVolume,
                                      std::optional<std::int64_t> speakerVolume);

  // The files of one channel, as {channelId, file} pairs; a channel without speaker has none.
  Outcome<std::vector<std::pair<std::string, AudioFile>>> AudioFiles(
      const std::string& channelId) const;

  // The files (by name) present on every listed channel, in the first channel's order, each
  // with one entry per distinct channel in request order. No channels give no files.
  Outcome<std::vector<SameAudioFile>> SameAudioFiles(
      const std::vector<std::string>& channelIds) const;

  // The sources of the alarm record whose code and date both match.
  Outcome<std::vector<AlarmSource>> AlarmContacts(const std::string& alarmCode,
                                                  std::int64_t alarmDate) const;

  // What `read` takes from a channel, under the platform's lock; the unknown-id failure when
  // there is no such channel. An endpoint that only reads a channel needs no method of its own.
  template <typename Read>
  auto ReadChannel(const std::string& channelId, Read read) const
      -> Outcome<decltype(read(std::declval<const Channel&>()))> {
    using Result = Outcome<decltype(read(std::declval<const Channel&>()))>;
    std::lock_guard<std::mutex> lock(mutex_);
    const Channel* channel = FindChannel(channelId);
    if (channel == nullptr) return Result::Fail(kCodeUnknownId, "no channel " + channelId);
    return Result::Success(read(*channel));
  }

  // Starts a recording on a camera channel: plan ids count up from 1 after every reset, and
  // `startedAt` is the current time in epoch milliseconds.
  Outcome<RecordPlan> StartRecord(const std::string& channelId, std::int64_t streamType,
                                  std::int64_t duration);

  // The groups of the listed dictionary types, in the order the types are listed.
  Outcome<std::vector<DictionaryGroup>> DictionaryGroups(const std::vector<int>& types) const;
  Outcome<std::vector<MapperEntry>> DictionaryMapper(int type) const;

 private:
  // Both return a pointer into state_ (never owning), valid while mutex_ is held.
  const Channel* FindChannel(const std::string& channelId) const;
  Channel* FindChannel(const std::string& channelId);

  mutable std::mutex mutex_;
  PlatformState state_;
};

}  // namespace corvane::mock

#endif  // CORVANE_MOCK_PLATFORM_H
