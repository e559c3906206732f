// The platform's operations on its state, under one lock.
#include "MockPlatform.h"

#include <algorithm>
#include <chrono>

namespace corvane::mock {
namespace {

std::int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace

Platform::Platform(std::uint64_t seed) : state_(GeneratePlatformState(seed)) {}

void Platform::Reset(std::uint64_t seed) {
  PlatformState fresh = GeneratePlatformState(seed);  // built outside the lock: pictures take time
  std::lock_guard<std::mutex> lock(mutex_);
  state_ = std::move(fresh);
}

PlatformState Platform::Snapshot() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return state_;
}

std::uint64_t Platform::Seed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return state_.seed;
}

int Platform::AiPrivacyEnable() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return state_.aiPrivacyEnable;
}

std::string Platform::PosPlaybackTime() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return state_.posPlaybackTime;
}

const Channel* Platform::FindChannel(const std::string& channelId) const {
  const auto found = std::find_if(state_.channels.begin(), state_.channels.end(),
                                  [&](const Channel& c) { return c.channelId == channelId; });
  return found == state_.channels.end() ? nullptr : &*found;
}

Channel* Platform::FindChannel(const std::string& channelId) {
  return const_cast<Channel*>(std::as_const(*this).FindChannel(channelId));
}

Outcome<int> Platform::DeviceWebEnablement(const std::string& deviceId) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& device : state_.devices) {
    if (device.deviceId == deviceId) return Outcome<int>::Success(device.enableWeb ? 1 : 0);
  }
  return Outcome<int>::Fail(kCodeUnknownId, "no device " + deviceId);
}

Outcome<int> Platform::ChannelWebEnablement(const std::string& channelId) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Channel* channel = FindChannel(channelId);
  if (channel == nullptr) return Outcome<int>::Fail(kCodeUnknownId, "no channel " + channelId);
  return Outcome<int>::Success(channel->enableWeb ? 1 : 0);
}

Outcome<std::shared_ptr<const std::string>> Platform::PicturePng(
    const std::string& pictureId) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& picture : state_.pictures) {
    if (picture.pictureId == pictureId) {
      return Outcome<std::shared_ptr<const std::string>>::Success(picture.png);
    }
  }
  return Outcome<std::shared_ptr<const std::string>>::Fail(kCodeUnknownId,
                                                           "no picture " + pictureId);
}

Outcome<std::vector<SpeakerVolume>> Platform::FetchVolumes(
    const std::vector<std::string>& channelIds) const {
  using Result = Outcome<std::vector<SpeakerVolume>>;
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<SpeakerVolume> volumes;
  for (const auto& id : channelIds) {
    const Channel* channel = FindChannel(id);
    if (channel == nullptr) return Result::Fail(kCodeUnknownId, "no channel " + id);
    SpeakerVolume volume;
    volume.channelId = channel->channelId;
    volume.channelName = channel->channelName;
    if (channel->speaker) {
      volume.microphoneVolume = channel->microphoneVolume;
      volume.speakerVolume = channel->speakerVolume;
    }
    volume.successful = channel->speaker && channel->online ? 1 : 0;
    volumes.push_back(std::move(volume));
  }
  return Result::Success(std::move(volumes));
}

Outcome<VolumeUpdate> Platform::UpdateVolumes(const std::vector<std::string>& channelIds,
                                              std::optional<std::int64_t> microphoneVolume,
                                              std::optional<std::int64_t> speakerVolume) {
  using Result = Outcome<VolumeUpdate>;
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& id : channelIds) {
    if (FindChannel(id) == nullptr) return Result::Fail(kCodeUnknownId, "no channel " + id);
  }
  const auto inRange = [](std::int64_t v) { return v >= kMinVolume && v <= kMaxVolume; };
  const auto listOnce = [](std::vector<std::string>& list, const std::string& id) {
    if (std::find(list.begin(), list.end(), id) == list.end()) list.push_back(id);
  };
  VolumeUpdate update;
  for (const auto& id : channelIds) {
    Channel& channel = *FindChannel(id);
    const bool settable = channel.speaker && channel.online;
    if (microphoneVolume) {
      if (settable && inRange(*microphoneVolume)) {
        channel.microphoneVolume = static_cast<int>(*microphoneVolume);
      } else {
        listOnce(update.microphoneVolumeFailedChannels, id);
      }
    }
    if (speakerVolume) {
      if (settable && inRange(*speakerVolume)) {
        channel.speakerVolume = static_cast<int>(*speakerVolume);
      } else {
        listOnce(update.speakerVolumeFailedChannels, id);
      }
    }
  }
  return Result::Success(std::move(update));
}

Outcome<std::vector<std::pair<std::string, AudioFile>>> Platform::AudioFiles(
    const std::string& channelId) const {
  using Result = Outcome<std::vector<std::pair<std::string, AudioFile>>>;
  std::lock_guard<std::mutex> lock(mutex_);
  const Channel* channel = FindChannel(channelId);
  if (channel == nullptr) return Result::Fail(kCodeUnknownId, "no channel " + channelId);
  std::vector<std::pair<std::string, AudioFile>> files;
  for (const auto& file : channel->audioFiles) files.emplace_back(channel->channelId, file);
  return Result::Success(std::move(files));
}

Outcome<std::vector<SameAudioFile>> Platform::SameAudioFiles(
    const std::vector<std::string>& channelIds) const {
  using Result = Outcome<std::vector<SameAudioFile>>;
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<const Channel*> channels;
  for (const auto& id : channelIds) {
    const Channel* channel = FindChannel(id);
    if (channel == nullptr) return Result::Fail(kCodeUnknownId, "no channel " + id);
    if (std::find(channels.begin(), channels.end(), channel) == channels.end()) {
      channels.push_back(channel);
    }
  }
  std::vector<SameAudioFile> shared;
  if (channels.empty()) return Result::Success(std::move(shared));
  for (const auto& file : channels.front()->audioFiles) {
    SameAudioFile entry;
    entry.fileName = file.fileName;
    for (const Channel* channel : channels) {
      const auto match =
          std::find_if(channel->audioFiles.begin(), channel->audioFiles.end(),
                       [&](const AudioFile& f) { return f.fileName == file.fileName; });
      if (match == channel->audioFiles.end()) break;
      entry.channelFiles.push_back({channel->channelId, match->fileId});
    }
    if (entry.channelFiles.size() == channels.size()) shared.push_back(std::move(entry));
  }
  return Result::Success(std::move(shared));
}

Outcome<std::vector<AlarmSource>> Platform::AlarmContacts(const std::string& alarmCode,
                                                          std::int64_t alarmDate) const {
  using Result = Outcome<std::vector<AlarmSource>>;
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& alarm : state_.alarms) {
    if (alarm.alarmCode == alarmCode && alarm.alarmDate == alarmDate) {
      return Result::Success(alarm.sources);
    }
  }
  return Result::Fail(kCodeUnknownId,
                      "no alarm record " + alarmCode + " at " + std::to_string(alarmDate));
}

Outcome<RecordPlan> Platform::StartRecord(const std::string& channelId, std::int64_t streamType,
                                          std::int64_t duration) {
  using Result = Outcome<RecordPlan>;
  std::lock_guard<std::mutex> lock(mutex_);
  const Channel* channel = FindChannel(channelId);
  if (channel == nullptr) return Result::Fail(kCodeUnknownId, "no channel " + channelId);
  if (channel->speaker) {
    return Result::Fail(kCodeInvalidParameter, "channel " + channelId + " cannot record");
  }
  if (streamType < 0 || streamType > kMaxStreamType) {
    return Result::Fail(kCodeInvalidParameter, "streamType must be 0 to 2");
  }
  if (duration < 1 || duration > kMaxRecordSeconds) {
    return Result::Fail(kCodeInvalidParameter, "duration must be 1 to 86400 seconds");
  }
  RecordPlan plan{state_.nextPlanId++, channelId, streamType, duration, NowMs()};
  state_.plans.push_back(plan);
  return Result::Success(std::move(plan));
}

Outcome<std::vector<DictionaryGroup>> Platform::DictionaryGroups(
    const std::vector<int>& types) const {
  using Result = Outcome<std::vector<DictionaryGroup>>;
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<DictionaryGroup> groups;
  for (int type : types) {
    bool known = false;
    for (const auto& group : state_.dictionaryGroups) {
      if (group.type != type) continue;
      known = true;
      groups.push_back(group);
    }
    if (!known) return Result::Fail(kCodeUnknownId, "no dictionary type " + std::to_string(type));
  }
  return Result::Success(std::move(groups));
}

Outcome<std::vector<MapperEntry>> Platform::DictionaryMapper(int type) const {
  using Result = Outcome<std::vector<MapperEntry>>;
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = state_.mappers.find(type);
  if (found == state_.mappers.end()) {
    return Result::Fail(kCodeUnknownId, "no dictionary mapper of type " + std::to_string(type));
  }
  return Result::Success(found->second);
}

}  // namespace corvane::mock
