// The generated platform: a seed always names the same platform, and every seed gives one that
// the demo and the integration tests can use (the shapes they rely on exist).
#include <algorithm>
#include <set>

#include "MockServerTestSupport.h"

namespace corvane::mock::testing {
namespace {

TEST(PlatformStateTest, ASeedNamesOnePlatform) {
  EXPECT_EQ(CatalogJson(GeneratePlatformState(7)), CatalogJson(GeneratePlatformState(7)));
  EXPECT_NE(CatalogJson(GeneratePlatformState(7)), CatalogJson(GeneratePlatformState(8)));
  const PlatformState first = GeneratePlatformState(7);
  const PlatformState second = GeneratePlatformState(7);
  ASSERT_EQ(first.pictures.size(), second.pictures.size());
  for (std::size_t i = 0; i < first.pictures.size(); ++i) {
    EXPECT_EQ(*first.pictures[i].png, *second.pictures[i].png) << first.pictures[i].pictureId;
  }
}

bool IsDigits(const std::string& text) {
  return !text.empty() && text.size() <= 9 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

TEST(PlatformStateTest, EverySeedGivesAUsablePlatform) {
  for (std::uint64_t seed :
       {0ULL, 1ULL, 2ULL, 3ULL, 42ULL, 1000ULL, 123456789ULL, 18446744073709551615ULL}) {
    SCOPED_TRACE(seed);
    const PlatformState state = GeneratePlatformState(seed);
    std::set<std::string> ids;
    std::set<std::string> fileIds;
    int onlineSpeakers = 0;
    int offlineSpeakers = 0;
    int ptzWithTrails = 0;
    for (const auto& channel : state.channels) {
      EXPECT_TRUE(ids.insert(channel.channelId).second) << channel.channelId;
      if (channel.ptz && !channel.trails.empty()) ++ptzWithTrails;
      EXPECT_TRUE(channel.ptz || channel.trails.empty());
      if (!channel.speaker) {
        EXPECT_TRUE(channel.audioFiles.empty());
        continue;
      }
      (channel.online ? onlineSpeakers : offlineSpeakers)++;
      EXPECT_GE(channel.speakerVolume, kMinVolume);
      EXPECT_LE(channel.speakerVolume, kMaxVolume);
      EXPECT_GE(channel.microphoneVolume, kMinVolume);
      EXPECT_LE(channel.microphoneVolume, kMaxVolume);
      std::set<std::string> names;
      for (const auto& file : channel.audioFiles) {
        EXPECT_TRUE(fileIds.insert(file.fileId).second) << "file id reused: " << file.fileId;
        EXPECT_TRUE(names.insert(file.fileName).second) << "name twice: " << file.fileName;
      }
      EXPECT_EQ(names.count("evacuation.wav"), 1U);
    }
    EXPECT_GE(onlineSpeakers, 2);
    EXPECT_EQ(offlineSpeakers, 1);
    EXPECT_GE(ptzWithTrails, 3);
    EXPECT_TRUE(std::any_of(state.devices.begin(), state.devices.end(),
                            [](const Device& d) { return d.enableWeb; }));
    EXPECT_TRUE(std::any_of(state.devices.begin(), state.devices.end(),
                            [](const Device& d) { return !d.enableWeb; }));
    ASSERT_FALSE(state.alarms.empty());
    EXPECT_FALSE(state.alarms.front().sources.front().deviceContacts.empty());
    EXPECT_TRUE(state.alarms.back().sources.front().deviceContacts.empty());
    EXPECT_TRUE(IsDigits(state.posPlaybackTime));
    for (const auto& [type, entries] : state.mappers) {
      EXPECT_FALSE(entries.empty()) << type;
      std::set<std::string> keys;
      for (const auto& entry : entries) {
        EXPECT_TRUE(IsDigits(entry.key) && IsDigits(entry.value));
        EXPECT_TRUE(keys.insert(entry.key).second) << "key twice in type " << type;
      }
    }
    for (const auto& group : state.dictionaryGroups) {
      for (const auto& item : group.items) EXPECT_TRUE(IsDigits(item.code)) << item.name;
    }
  }
}

}  // namespace
}  // namespace corvane::mock::testing
