// Corvane's C++ interface for any compiler: the records, the three setters and the fourteen
// operations of Corvane.h with the same names and signatures, implemented inline over the C
// interface (CorvaneC.h). A program built by MSVC, clang or any other compiler gets the C++
// interface with its own standard library's types and needs only the C functions that
// Corvane.dll / libCorvane.so export (Corvane.lib and ZENTA.lib on MSVC); no std:: object and no
// exception crosses the library's boundary.
//
// Corvane.h documents each operation: the request it sends, the status it returns and what it
// writes on which status. The same holds here, with these differences, all of them at the edges:
//   - an operation that fails with an exception has added nothing to the caller's containers
//     (Corvane.h keeps the entries appended before the throw); a status counts as a transport
//     failure, which leaves every output alone, when it lies in the gateway's range
//     (ZENTA_IS_GATEWAY_CODE), whoever sent it, and so does -2 (kRequestTooLong);
//   - text from the server that holds a NUL byte arrives up to that byte, and text sent (ids,
//     settings) is cut at its first NUL byte;
//   - the exceptions are standard types, thrown in the caller's own module: std::bad_alloc,
//     std::invalid_argument ("invalid stoi argument") and std::out_of_range ("stoi argument out
//     of range") as in Corvane.h; where Corvane.h throws quim::Json::Error (a
//     std::runtime_error) or another exception, a std::runtime_error whose what() is
//     ErrorMessage(status), which holds the original exception's text.
//
// The declarations live in an inline namespace: callers write Corvane::API_GetPtzTrailList as
// with Corvane.h, while the names stay apart from the library's own C++ exports. Corvane.h and
// this header declare the same interface and cannot be included together.
//
// Threads: as Corvane.h. LastServerMessage and ErrorMessage report on the calling thread.
#ifndef CORVANE_CORVANECXX_H
#define CORVANE_CORVANECXX_H

#ifdef CORVANE_CORVANE_H
#error "CorvaneCxx.h and Corvane.h declare the same C++ interface: include only one of them"
#endif

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "CorvaneC.h"
#include "zenta/ZentaSdk.h"

namespace Corvane {
inline namespace OverC {

// Status of an operation whose request does not fit the gateway's records; nothing was sent.
constexpr int kRequestTooLong = CORVANE_E_REQUEST_TOO_LONG;

// The records, as Corvane.h declares them.

struct DownloadDevicePicReq {
  int tag = 0;
  std::string pictureId;
};

// pictureData is allocated with new[] by this header's code, in the caller's module, and owned
// by the caller, who releases it with delete[].
struct DownloadDevicePicResp {
  int tag = 0;
  char* pictureData = nullptr;
  long long pictureLength = 0;
};

struct SpeakerVolumeInfo {
  std::string channelId;
  int microphoneVolume = 0;
  int speakerVolume = 0;
  int successful = 0;
  std::string channelName;
};

struct AudioFileInfo {
  std::string channelId;
  std::string fileId;
  std::string fileName;
};

struct ChannelFileInfo {
  std::string channelId;
  std::string fileId;
};

struct SameAudioFileInfo {
  std::string fileName;
  std::vector<ChannelFileInfo> channelFiles;
};

struct ContactInfo {
  std::string contactName;
  std::string contactPhone;
  std::string contactEmail;
  std::string contactNote;
};

struct DeviceContactInfo {
  std::string sourceName;
  std::string devicePosition;
  std::vector<ContactInfo> deviceContacts;
};

struct PtzTrailInfo {
  std::string trailId;
  std::string trailName;
};

struct StartRemoteRecordReq {
  int handle = 0;
  std::string channelId;
  int streamType = 0;
  int duration = 0;
};

struct StartRemoteRecordRsp {
  int planId = 0;
  long long now = 0;
};

inline std::string ErrorMessage(int status);

namespace detail {

// What a C call returned, released with corvane_free however the caller's code is left.
template <class Record>
struct Result {
  Record* records = nullptr;
  int32_t count = 0;
  Result() = default;
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;
  ~Result() { corvane_free(records); }
};

inline std::string Text(const char* text) { return text != nullptr ? text : ""; }

// The status of a C call, or the exception the C++ interface throws for it.
inline int Checked(int status) {
  switch (status) {
    case CORVANE_E_NO_MEMORY:
      throw std::bad_alloc();
    case CORVANE_E_INVALID_NUMBER:
      throw std::invalid_argument("invalid stoi argument");
    case CORVANE_E_NUMBER_RANGE:
      throw std::out_of_range("stoi argument out of range");
    default:
      if (status <= CORVANE_E_NO_MEMORY && status >= CORVANE_E_NO_MEMORY - 98) {
        throw std::runtime_error(ErrorMessage(status));
      }
      return status;
  }
}

// Whether an operation that returned status read an answer, and so writes its single outputs:
// not after a transport failure, nor when nothing was sent.
inline bool AnswerRead(int status) {
  return !ZENTA_IS_GATEWAY_CODE(status) && status != kRequestTooLong;
}

// A text that a C function copies like snprintf (copy(buffer, size) gives the full length).
template <class Copy>
std::string Copied(Copy copy) {
  std::string text;
  int32_t length = copy(nullptr, 0);
  // Once more while the text is longer than the room given (it cannot change on one thread).
  while (length > 0 && static_cast<std::size_t>(length) >= text.size()) {
    text.resize(static_cast<std::size_t>(length) + 1);
    length = copy(&text[0], static_cast<int32_t>(text.size()));
  }
  if (length == CORVANE_E_NO_MEMORY) throw std::bad_alloc();
  if (length < 0) throw std::runtime_error(corvane_status_text(length));
  text.resize(static_cast<std::size_t>(length));
  return text;
}

inline void Set(int (*setter)(const char*), const std::string& value) {
  Checked(setter(value.c_str()));
}

}  // namespace detail

// The settings (Corvane.h): copied into every request built afterwards.
inline void SetLangauage(std::string language) { detail::Set(&corvane_set_language, language); }
inline void SetMacAddress(std::string macAddress) {
  detail::Set(&corvane_set_mac_address, macAddress);
}
inline void SetTimeZone(std::string timeZone) { detail::Set(&corvane_set_time_zone, timeZone); }

inline int API_GetAIPrivacyConfig(const int& handle, int& enable) {
  int32_t value = 0;
  const int status = detail::Checked(corvane_get_ai_privacy_config(handle, &value));
  if (detail::AnswerRead(status)) enable = value;
  return status;
}

inline int API_GetWebEnablement(const std::string& deviceId, bool& enabled, int handle) {
  int32_t value = 0;
  const int status = detail::Checked(corvane_get_web_enablement(handle, deviceId.c_str(), &value));
  if (detail::AnswerRead(status)) enabled = value != 0;
  return status;
}

inline int API_GetChannelWebEnablement(const std::string& channelId, bool& enabled, int handle) {
  int32_t value = 0;
  const int status =
      detail::Checked(corvane_get_channel_web_enablement(handle, channelId.c_str(), &value));
  if (detail::AnswerRead(status)) enabled = value != 0;
  return status;
}

inline int API_DownloadDevicePicture(const int& handle, const DownloadDevicePicReq& request,
                                     DownloadDevicePicResp& result) {
  detail::Result<corvane_picture> picture;
  const int status = detail::Checked(corvane_download_device_picture(
      handle, request.pictureId.c_str(), request.tag, &picture.records));
  if (picture.records != nullptr) {
    const std::size_t length = static_cast<std::size_t>(picture.records->pictureLength);
    char* data = new char[length];
    if (length > 0) std::memcpy(data, picture.records->pictureData, length);
    result.pictureData = data;
    result.pictureLength = picture.records->pictureLength;
    result.tag = picture.records->tag;
  }
  return status;
}

inline int API_GetIPSpeakerVolume(const std::string& channelId, SpeakerVolumeInfo& info,
                                  int handle) {
  detail::Result<corvane_speaker_volume> volume;
  const int status =
      detail::Checked(corvane_get_ip_speaker_volume(handle, channelId.c_str(), &volume.records));
  if (const corvane_speaker_volume* got = volume.records) {
    info = {detail::Text(got->channelId), got->microphoneVolume, got->speakerVolume,
            got->successful, detail::Text(got->channelName)};
  }
  return status;
}

inline int API_SetIPSpeakerVolume(const SpeakerVolumeInfo& info, int handle) {
  return detail::Checked(corvane_set_ip_speaker_volume(handle, info.channelId.c_str(),
                                                       info.microphoneVolume, info.speakerVolume));
}

inline int API_GetIPSpeakerAudioList(const std::string& channelId,
                                     std::vector<AudioFileInfo>& files, int handle) {
  detail::Result<corvane_audio_file> got;
  const int status = detail::Checked(
      corvane_get_ip_speaker_audio_list(handle, channelId.c_str(), &got.records, &got.count));
  for (int32_t i = 0; i < got.count; ++i) {
    const corvane_audio_file& file = got.records[i];
    files.push_back(
        {detail::Text(file.channelId), detail::Text(file.fileId), detail::Text(file.fileName)});
  }
  return status;
}

inline int API_GetIPSpeakerSameAudioList(const std::vector<std::string>& channelIds,
                                         std::vector<SameAudioFileInfo>& files, int handle) {
  std::vector<const char*> ids;
  ids.reserve(channelIds.size());
  for (const std::string& id : channelIds) ids.push_back(id.c_str());
  detail::Result<corvane_same_audio_file> got;
  const int status = detail::Checked(corvane_get_ip_speaker_same_audio_list(
      handle, ids.empty() ? nullptr : ids.data(), static_cast<int32_t>(ids.size()), &got.records,
      &got.count));
  for (int32_t i = 0; i < got.count; ++i) {
    const corvane_same_audio_file& file = got.records[i];
    SameAudioFileInfo info{detail::Text(file.fileName), {}};
    for (int32_t j = 0; j < file.channelFileCount; ++j) {
      info.channelFiles.push_back({detail::Text(file.channelFiles[j].channelId),
                                   detail::Text(file.channelFiles[j].fileId)});
    }
    files.push_back(std::move(info));
  }
  return status;
}

inline int API_GetAlarmDeviceContacts(const std::string& alarmCode, long long alarmDate,
                                      const int& handle, std::vector<DeviceContactInfo>& contacts) {
  detail::Result<corvane_device_contact> got;
  const int status = detail::Checked(corvane_get_alarm_device_contacts(
      handle, alarmCode.c_str(), alarmDate, &got.records, &got.count));
  for (int32_t i = 0; i < got.count; ++i) {
    const corvane_device_contact& source = got.records[i];
    DeviceContactInfo info{
        detail::Text(source.sourceName), detail::Text(source.devicePosition), {}};
    for (int32_t j = 0; j < source.deviceContactCount; ++j) {
      const corvane_contact& c = source.deviceContacts[j];
      info.deviceContacts.push_back({detail::Text(c.contactName), detail::Text(c.contactPhone),
                                     detail::Text(c.contactEmail), detail::Text(c.contactNote)});
    }
    contacts.push_back(std::move(info));
  }
  return status;
}

inline int API_GetPtzTrailList(const std::string& channelId, const int& handle,
                               std::vector<PtzTrailInfo>& trails) {
  detail::Result<corvane_ptz_trail> got;
  const int status = detail::Checked(
      corvane_get_ptz_trail_list(handle, channelId.c_str(), &got.records, &got.count));
  for (int32_t i = 0; i < got.count; ++i) {
    trails.push_back(
        {detail::Text(got.records[i].trailId), detail::Text(got.records[i].trailName)});
  }
  return status;
}

inline int API_StartRemoteRecord(const StartRemoteRecordReq& request,
                                 StartRemoteRecordRsp& result) {
  int32_t planId = 0;
  int64_t now = 0;
  const int status = detail::Checked(
      corvane_start_remote_record(request.handle, request.channelId.c_str(), request.streamType,
                                  request.duration, &planId, &now));
  if (detail::AnswerRead(status)) result = {planId, now};
  return status;
}

inline int API_GetPosConfig(int handle, int& playbackTime) {
  int32_t value = 0;
  const int status = detail::Checked(corvane_get_pos_config(handle, &value));
  if (detail::AnswerRead(status)) playbackTime = value;
  return status;
}

inline int API_GetPosEventTranslate(int handle, std::map<int, std::string>& names) {
  detail::Result<corvane_int_text> got;
  const int status =
      detail::Checked(corvane_get_pos_event_translate(handle, &got.records, &got.count));
  for (int32_t i = 0; i < got.count; ++i) {
    names[got.records[i].key] = detail::Text(got.records[i].text);
  }
  return status;
}

inline int API_QueryDictionaryMapper(const int& handle, const int& type,
                                     std::map<int, int>& mapping) {
  detail::Result<corvane_int_pair> got;
  const int status =
      detail::Checked(corvane_query_dictionary_mapper(handle, type, &got.records, &got.count));
  for (int32_t i = 0; i < got.count; ++i) mapping[got.records[i].key] = got.records[i].value;
  return status;
}

// The server's message with the last answer an operation read on the calling thread (Corvane.h).
inline std::string LastServerMessage() {
  return detail::Copied(
      [](char* buffer, int32_t size) { return corvane_last_server_message(buffer, size); });
}

// The whole error in one sentence (corvane_error_message).
inline std::string ErrorMessage(int status) {
  return detail::Copied(
      [status](char* buffer, int32_t size) { return corvane_error_message(status, buffer, size); });
}

}  // namespace OverC
}  // namespace Corvane

#endif  // CORVANE_CORVANECXX_H
