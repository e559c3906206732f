// IP-speaker operations: volumes read and written, audio file lists.
#include <utility>

#include "APICommon.h"
#include "public/Corvane.h"

namespace Corvane {
namespace {

using quim::Json::Value;

const char kVolumeFetchPath[] = "/vusk/api/v1.1/ip-speaker/channel/volume/fetch/list";
const char kVolumeUpdatePath[] = "/vusk/api/v1.1/ip-speaker/channel/volume/update/batch";
const char kAudioListPath[] = "/vusk/api/v1.1/device/channel/%s/audio/file/list";
const char kSameAudioListPath[] = "/vusk/api/v1.1/device/channel/same/audio/file/fetch/list";

}  // namespace

int API_GetIPSpeakerVolume(const std::string& channelId, SpeakerVolumeInfo& info, int handle) {
  RequestCycle cycle("POST", kVolumeFetchPath);
  Value body = RequestCycle::IdentityBody();
  Value channelIds;
  channelIds.append(Value(channelId));
  body["channelIds"] = std::move(channelIds);
  cycle.SetBody(std::move(body));
  return cycle.SendAndRead(handle, [&](const Value& data) {
    ForEachResult(data, [&](const Value& element) {
      info.microphoneVolume = GetIntField(element, "microphoneVolume", 0);
      info.speakerVolume = GetIntField(element, "speakerVolume", 0);
      info.channelId = GetStringField(element, "channelId");
      info.channelName = GetStringField(element, "channelName");
      info.successful = GetIntField(element, "successful", 0);
    });
  });
}

int API_SetIPSpeakerVolume(const SpeakerVolumeInfo& info, int handle) {
  RequestCycle cycle("POST", kVolumeUpdatePath);
  Value body = RequestCycle::IdentityBody();
  Value channelIds;
  channelIds.append(Value(info.channelId));
  body["channelIds"] = std::move(channelIds);
  if (info.microphoneVolume >= 0) body["microphoneVolume"] = Value(info.microphoneVolume);
  if (info.speakerVolume >= 0) body["speakerVolume"] = Value(info.speakerVolume);
  cycle.SetBody(std::move(body));
  bool channelFailed = false;
  const int code = cycle.SendAndRead(handle, [&](const Value& data) {
    // When both volumes were sent, the speaker list alone decides.
    Value failed;
    if (info.microphoneVolume >= 0)
      failed = GetMemberOrNull(data, "microphoneVolumeFailedChannels");
    if (info.speakerVolume >= 0) failed = GetMemberOrNull(data, "speakerVolumeFailedChannels");
    channelFailed = IsNonNullArray(failed) && failed.size() != 0;
  });
  if (!channelFailed) return code;
  NoteLastCall(Outcome::kChannelRefused, -1);
  return -1;
}

int API_GetIPSpeakerAudioList(const std::string& channelId, std::vector<AudioFileInfo>& files,
                              int handle) {
  RequestCycle cycle("GET", kAudioListPath, channelId.c_str());
  return cycle.SendAndRead(handle, [&](const Value& data) {
    AppendResults(data, files, [](const Value& element) {
      AudioFileInfo file;
      file.channelId = GetStringField(element, "channelId");
      file.fileId = GetStringField(element, "fileId");
      file.fileName = GetStringField(element, "fileName");
      return file;
    });
  });
}

int API_GetIPSpeakerSameAudioList(const std::vector<std::string>& channelIds,
                                  std::vector<SameAudioFileInfo>& files, int handle) {
  RequestCycle cycle("POST", kSameAudioListPath);
  Value body = RequestCycle::IdentityBody();
  Value ids;  // stays null, not an empty array, when there are no channels
  for (const std::string& id : channelIds) ids.append(Value(id));
  body["channelIds"] = std::move(ids);
  cycle.SetBody(std::move(body));
  return cycle.SendAndRead(handle, [&](const Value& data) {
    AppendResults(data, files, [](const Value& element) {
      SameAudioFileInfo file;
      file.fileName = GetStringField(element, "fileName");
      const Value channelFiles = GetMemberOrNull(element, "channelFiles");
      if (IsNonNullArray(channelFiles)) {
        for (Value::ArrayIndex j = 0; j < channelFiles.size(); ++j) {
          ChannelFileInfo channelFile;
          channelFile.channelId = GetStringField(channelFiles[j], "channelId");
          channelFile.fileId = GetStringField(channelFiles[j], "fileId");
          file.channelFiles.push_back(std::move(channelFile));
        }
      }
      return file;
    });
  });
}

}  // namespace Corvane
