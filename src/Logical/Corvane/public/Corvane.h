// Corvane: typed calls onto the platform server's REST interface.
//
// Each API_ operation sends one HTTP request through the platform SDK gateway
// (ZENTA_GeneralJsonRequest) on the SDK handle the caller passes, reads the server's JSON answer
// envelope {"code": ..., "data": ...} and fills the caller's outputs.
//
// Status of every operation:
//   - the gateway's non-zero code, unchanged (transport failure): outputs are not touched;
//   - kRequestTooLong (-2) when the request does not fit the gateway's records: a formatted path
//     of 1280 characters or more, or a language or time-zone setting longer than 1024 bytes.
//     Nothing is sent (a cut path would name another resource) and outputs are not touched;
//   - otherwise the server's code: 0 when the server answered 1000, its other codes unchanged,
//     -1 when the answer is missing, is not JSON, is not a JSON object or has no "code".
//   Outputs are read from "data" whatever the server's code: single values (int, bool, the
//   remote-record result) are always written, with 0/false for absent members; outputs filled
//   from a list (vectors, maps, the speaker-volume record) change only when the answer carries
//   that list. Vectors are appended to, never cleared; maps get entries added or replaced, never
//   removed.
//
// Exceptions: none is caught. Allocation failures (std::bad_alloc), JSON type errors
// (quim::Json::Error, e.g. an integer member that holds text) and the dictionary conversions
// (std::invalid_argument "invalid stoi argument", std::out_of_range "stoi argument out of
// range") leave the operation after everything the request held has been released; entries
// appended before the throw stay in the caller's container.
//
// Threads: operations may run on several threads at once, each with its own outputs. The three
// setters write process-wide settings without a lock: call them before issuing operations, never
// while one runs.
//
// Text is passed through byte for byte; path arguments go into REST paths unescaped.
#ifndef CORVANE_CORVANE_H
#define CORVANE_CORVANE_H

#ifdef CORVANE_CORVANECXX_H
#error "Corvane.h and CorvaneCxx.h declare the same C++ interface: include only one of them"
#endif

#include <map>
#include <string>
#include <vector>

#include "CorvaneExport.h"  // CORVANE_API, CORVANE_VERSION_*

namespace Corvane {

// Status of an operation whose request does not fit the gateway's records; nothing was sent.
constexpr int kRequestTooLong = -2;

// The records the operations take and fill.
#include "CorvaneRecords.h"

// Process-wide settings, copied into every request built afterwards: the "Accept-Language" and
// "Time-Zone" header values and the "clientMac" identity member of request bodies. While the
// language or time-zone value is longer than a header field (1024 bytes), every operation
// returns kRequestTooLong (-2) and sends nothing. Not thread-safe with running operations (see
// above). SetLanguage and SetLangauage (the original spelling, kept for existing callers) are
// the same setter.
CORVANE_API void SetLanguage(std::string language);
CORVANE_API void SetLangauage(std::string language);
CORVANE_API void SetMacAddress(std::string macAddress);
CORVANE_API void SetTimeZone(std::string timeZone);

// GET config/ai/privacy. On any non-transport status writes the server's "enable" value
// unchanged (0 when absent or when the answer is unreadable) into enable.
CORVANE_API int API_GetAIPrivacyConfig(const int& handle, int& enable);

// GET device/{deviceId}/web/enablement. On any non-transport status writes whether "enableWeb"
// is non-zero (false when absent or unreadable) into enabled.
CORVANE_API int API_GetWebEnablement(const std::string& deviceId, bool& enabled, int handle);

// GET device/channel/{channelId}/web/enablement; otherwise as API_GetWebEnablement.
CORVANE_API int API_GetChannelWebEnablement(const std::string& channelId, bool& enabled,
                                            int handle);

// GET common/request/picture/{pictureId}: the answer's raw bytes, not parsed. On status 0 with
// an answer, result.pictureData receives a new[] buffer of exactly the answer's length (also
// for a length of 0), which the caller owns and frees with delete[]; whatever pictureData held
// before is overwritten, not freed. result.pictureLength and result.tag are set with it. Status
// 0 without an answer leaves result untouched. A negative answer length from the gateway gives
// -1 and leaves result untouched. Other statuses are the gateway's and leave result untouched.
CORVANE_API int API_DownloadDevicePicture(const int& handle, const DownloadDevicePicReq& request,
                                          DownloadDevicePicResp& result);

// POST ip-speaker/channel/volume/fetch/list for one channel. When the answer's "results" is a
// non-empty array, info is overwritten from its last element (all five fields; absent members
// give 0 or ""); otherwise info is untouched.
CORVANE_API int API_GetIPSpeakerVolume(const std::string& channelId, SpeakerVolumeInfo& info,
                                       int handle);

// POST ip-speaker/channel/volume/update/batch with the non-negative volumes of info. Returns -1
// when the server lists the channel as failed: the speaker list decides when the speaker volume
// was sent, else the microphone list when the microphone volume was sent.
CORVANE_API int API_SetIPSpeakerVolume(const SpeakerVolumeInfo& info, int handle);

// GET device/channel/{channelId}/audio/file/list; appends one record per "results" element.
CORVANE_API int API_GetIPSpeakerAudioList(const std::string& channelId,
                                          std::vector<AudioFileInfo>& files, int handle);

// POST device/channel/same/audio/file/fetch/list for the given channels (sent as given, an
// empty list as a null "channelIds"); appends one record per "results" element.
CORVANE_API int API_GetIPSpeakerSameAudioList(const std::vector<std::string>& channelIds,
                                              std::vector<SameAudioFileInfo>& files, int handle);

// GET alarm/record/contact/detail?alarmCode={alarmCode}&alarmDate={alarmDate}; appends one
// record per "results" element, each with its "deviceContacts".
CORVANE_API int API_GetAlarmDeviceContacts(const std::string& alarmCode, long long alarmDate,
                                           const int& handle,
                                           std::vector<DeviceContactInfo>& contacts);

// GET ptz/channel/{channelId}/trail/list; appends one record per "results" element.
CORVANE_API int API_GetPtzTrailList(const std::string& channelId, const int& handle,
                                    std::vector<PtzTrailInfo>& trails);

// POST /admin/API/SS/Record/StartRecord on request.handle. On any non-transport status writes
// "planId" and "now" from the answer's data (0 when absent) into result.
CORVANE_API int API_StartRemoteRecord(const StartRemoteRecordReq& request,
                                      StartRemoteRecordRsp& result);

// GET config/pos. On any non-transport status writes "posPlaybackTime" converted leniently
// (leading number, else 0) into playbackTime.
CORVANE_API int API_GetPosConfig(int handle, int& playbackTime);

// GET dictionary/list?types=9052: stores each item's "name" (up to its first NUL) under its
// "code" converted to int; the entry met last wins. Throws std::invalid_argument or
// std::out_of_range for a code that is no int; entries stored before it stay.
CORVANE_API int API_GetPosEventTranslate(int handle, std::map<int, std::string>& names);

// GET config/dictionary-mapper?type={type}: stores each element's "value" under its "key",
// both converted to int; the entry met last wins. Throws as API_GetPosEventTranslate.
CORVANE_API int API_QueryDictionaryMapper(const int& handle, const int& type,
                                          std::map<int, int>& mapping);

// The "message" member of the last answer envelope that an operation read on the calling thread:
// the server's own words for its code ("no picture P9999"), or "" when that answer had no text
// message, could not be read, or the operation failed before an answer arrived (each operation
// clears it first). The operations themselves do not change; this only reports. Thread-safe:
// every thread sees its own last answer.
CORVANE_API std::string LastServerMessage();

// One sentence for a status, with everything known about it on the calling thread: what the
// status means; for a gateway code, the transport's own words for the last failure
// (ZENTA_LastErrorDetail); for a server code, the server's message (LastServerMessage). Call it
// on the thread that got the status, before that thread's next operation. A detail is used only
// when that operation ended in this very status from its source: a server's -20201 reads as the
// server's refusal, not as the gateway's failure. Thread-safe. The same text as
// corvane_error_message (CorvaneC.h).
CORVANE_API std::string ErrorMessage(int status);

}  // namespace Corvane

#endif  // CORVANE_CORVANE_H
