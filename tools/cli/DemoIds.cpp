#include "DemoIds.h"

#include <stdexcept>

#include "MockPlatform.h"

namespace corvane_cli {

DemoIds DemoIdsForSeed(std::uint64_t seed) {
  const corvane::mock::PlatformState state = corvane::mock::GeneratePlatformState(seed);
  DemoIds ids;
  for (const auto& device : state.devices) {
    if (ids.device.empty() && !device.channelIds.empty()) ids.device = device.deviceId;
  }
  for (const auto& channel : state.channels) {
    if (!channel.speaker && ids.channel.empty()) ids.channel = channel.channelId;
    if (channel.ptz && ids.ptzChannel.empty()) ids.ptzChannel = channel.channelId;
    if (channel.speaker && channel.online && ids.speakerChannel.empty()) {
      ids.speakerChannel = channel.channelId;
    } else if (channel.speaker && ids.otherSpeakerChannel.empty()) {
      ids.otherSpeakerChannel = channel.channelId;
    }
  }
  if (!state.pictures.empty()) ids.picture = state.pictures.front().pictureId;
  if (!state.alarms.empty()) {
    ids.alarmCode = state.alarms.front().alarmCode;
    ids.alarmDate = state.alarms.front().alarmDate;
  }
  if (!state.mappers.empty()) ids.dictionaryType = state.mappers.begin()->first;
  if (ids.device.empty() || ids.channel.empty() || ids.ptzChannel.empty() ||
      ids.speakerChannel.empty() || ids.otherSpeakerChannel.empty() || ids.picture.empty() ||
      ids.alarmCode.empty() || state.mappers.empty()) {
    throw std::runtime_error("the simulated platform of seed " + std::to_string(seed) +
                             " lacks an identifier the demo needs");
  }
  return ids;
}

}  // namespace corvane_cli
