/*
 * Corvane's C interface: the three settings and the fourteen operations of Corvane.h for callers
 * of any compiler or language (MSVC, C# P/Invoke, Python ctypes). C89 with <stdint.h>, C linkage,
 * exported from Corvane.dll / libCorvane.so beside the C++ interface.
 *
 * Each function is a thin wrapper over the C++ operation of the same meaning: the same request on
 * the wire, the same status. Only plain C crosses: NUL-terminated text, fixed-width integers and
 * structs of them. Nothing throws across this interface.
 *
 * Status of every function (int):
 *   0                      success;
 *   the gateway's code     the request did not complete (ZENTA_ErrorText in ZentaSdk.h says why);
 *   -1                     the answer could not be read (missing, not JSON, no "code");
 *   -2                     CORVANE_E_REQUEST_TOO_LONG: the request does not fit the gateway's
 *                          records (a formatted path of 1280 characters or more, a setting
 *                          longer than 1024 bytes); nothing was sent;
 *   CORVANE_E_*            an error of this interface: an exception of the C++ operation (a
 *                          number in the answer that is no int, a JSON type error, allocation
 *                          failure) or a null argument; corvane_status_text says which;
 *   any other value        the server's own business code (corvane_last_server_message gives
 *                          the server's words for it).
 * The C++ operations' codes keep their meaning here; this interface only adds -40001..-40099.
 *
 * Results: every output is reset when the call starts (integers to 0, result pointers to NULL,
 * counts to 0) and filled from the answer's "data" whenever an answer was read, whatever the
 * server's code, as the C++ operation fills its outputs. A list result is one block allocated by
 * the library: an array of records followed by every text they point to, NULL when the list is
 * empty; the caller releases it, whole, with one corvane_free call. On an error of this interface
 * no result is returned (entries read before the failure are discarded).
 *
 * Text is passed byte for byte (the server sends UTF-8); a text of the answer that holds a NUL
 * byte reaches the caller up to that byte.
 *
 * Threads: operations may run on several threads at once. The setters write process-wide
 * settings without a lock: call them before issuing operations, never while one runs.
 */
#ifndef CORVANE_CORVANEC_H
#define CORVANE_CORVANEC_H

#include <stdint.h>

#include "CorvaneExport.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Codes of this interface; only ever appended to. */
enum corvane_status {
  CORVANE_OK = 0,
  CORVANE_E_REQUEST_TOO_LONG = -2,   /* the path or a setting does not fit; nothing was sent */
  CORVANE_E_NO_MEMORY = -40001,      /* an allocation failed (std::bad_alloc) */
  CORVANE_E_INVALID_NUMBER = -40002, /* a dictionary code, key or value is no decimal number
                                        (std::invalid_argument "invalid stoi argument") */
  CORVANE_E_NUMBER_RANGE = -40003,   /* such a number is outside the int range
                                        (std::out_of_range "stoi argument out of range") */
  CORVANE_E_JSON_TYPE = -40004,      /* an answer member of the wrong JSON type, e.g. text where
                                        an integer belongs (quim::Json::Error) */
  CORVANE_E_EXCEPTION = -40005,      /* any other exception of the C++ operation */
  CORVANE_E_NULL_ARGUMENT = -40006,  /* a required pointer argument is null; nothing was sent */
  CORVANE_E_COUNT = -40007           /* a negative count of input items; nothing was sent */
};

/* A text for any status: the codes of this interface, 0, -1 and, in general words, the
 * gateway's and the server's codes. Never null; a static string. */
CORVANE_API const char* corvane_status_text(int status);

/* Copies the "message" of the last answer that an operation read on the calling thread (the
 * server's words for its code; "" when it had none, or when no answer arrived) into buffer,
 * cut to size - 1 bytes and NUL-terminated, like snprintf. Returns the message's full length in
 * bytes (CORVANE_E_NO_MEMORY when it could not be copied, with "" in buffer, or
 * CORVANE_E_NULL_ARGUMENT); buffer may be null when size is 0. */
CORVANE_API int32_t corvane_last_server_message(char* buffer, int32_t size);

/* Releases a block that a function of this interface returned; null is harmless. */
CORVANE_API void corvane_free(void* block);

/* The settings: the "Accept-Language" and "Time-Zone" header values and the "clientMac" member
 * of request bodies, copied into every request built afterwards. 0, CORVANE_E_NULL_ARGUMENT or
 * CORVANE_E_NO_MEMORY. */
CORVANE_API int corvane_set_language(const char* language);
CORVANE_API int corvane_set_time_zone(const char* timeZone);
CORVANE_API int corvane_set_mac_address(const char* macAddress);

/* The results. Texts are NUL-terminated and live in the block of the result. */
typedef struct corvane_picture {
  int32_t tag;                      /* the request's tag, unchanged */
  int64_t pictureLength;            /* bytes of pictureData */
  const unsigned char* pictureData; /* the answer's raw bytes, followed by one NUL byte */
} corvane_picture;

typedef struct corvane_speaker_volume {
  const char* channelId;
  int32_t microphoneVolume;
  int32_t speakerVolume;
  int32_t successful;
  const char* channelName;
} corvane_speaker_volume;

typedef struct corvane_audio_file {
  const char* channelId;
  const char* fileId;
  const char* fileName;
} corvane_audio_file;

typedef struct corvane_channel_file {
  const char* channelId;
  const char* fileId;
} corvane_channel_file;

typedef struct corvane_same_audio_file {
  const char* fileName;
  const corvane_channel_file* channelFiles; /* channelFileCount records; NULL when none */
  int32_t channelFileCount;
} corvane_same_audio_file;

typedef struct corvane_contact {
  const char* contactName;
  const char* contactPhone;
  const char* contactEmail;
  const char* contactNote;
} corvane_contact;

typedef struct corvane_device_contact {
  const char* sourceName;
  const char* devicePosition;
  const corvane_contact* deviceContacts; /* deviceContactCount records; NULL when none */
  int32_t deviceContactCount;
} corvane_device_contact;

typedef struct corvane_ptz_trail {
  const char* trailId;
  const char* trailName;
} corvane_ptz_trail;

/* One entry of a map result; entries come in ascending key order, one per key. */
typedef struct corvane_int_text {
  int32_t key;
  const char* text;
} corvane_int_text;

typedef struct corvane_int_pair {
  int32_t key;
  int32_t value;
} corvane_int_pair;

/* The operations. handle is the gateway session (ZENTA_OpenSession), passed on unchanged. Text
 * arguments must not be null; they go into the REST path unescaped. */

/* GET config/ai/privacy: *enable gets the server's "enable" (0 when absent). */
CORVANE_API int corvane_get_ai_privacy_config(int handle, int32_t* enable);

/* GET device/{deviceId}/web/enablement and device/channel/{channelId}/web/enablement: *enabled
 * gets 1 when "enableWeb" is non-zero, else 0. */
CORVANE_API int corvane_get_web_enablement(int handle, const char* deviceId, int32_t* enabled);
CORVANE_API int corvane_get_channel_web_enablement(int handle, const char* channelId,
                                                   int32_t* enabled);

/* GET common/request/picture/{pictureId}: *picture gets the answer's bytes, or NULL when there
 * was no answer or its length was negative (status -1). */
CORVANE_API int corvane_download_device_picture(int handle, const char* pictureId, int32_t tag,
                                                corvane_picture** picture);

/* POST ip-speaker/channel/volume/fetch/list for one channel: *volume gets the last element of
 * "results", or NULL when the answer carried none. */
CORVANE_API int corvane_get_ip_speaker_volume(int handle, const char* channelId,
                                              corvane_speaker_volume** volume);

/* POST ip-speaker/channel/volume/update/batch: sends each volume that is not negative. -1 when
 * the server lists the channel as failed. */
CORVANE_API int corvane_set_ip_speaker_volume(int handle, const char* channelId,
                                              int32_t microphoneVolume, int32_t speakerVolume);

/* GET device/channel/{channelId}/audio/file/list: one record per "results" element. */
CORVANE_API int corvane_get_ip_speaker_audio_list(int handle, const char* channelId,
                                                  corvane_audio_file** files, int32_t* count);

/* POST device/channel/same/audio/file/fetch/list for channelCount channel ids (none: a null
 * "channelIds"); channelIds may be null when channelCount is 0. */
CORVANE_API int corvane_get_ip_speaker_same_audio_list(int handle, const char* const* channelIds,
                                                       int32_t channelCount,
                                                       corvane_same_audio_file** files,
                                                       int32_t* count);

/* GET alarm/record/contact/detail?alarmCode={alarmCode}&alarmDate={alarmDate}. */
CORVANE_API int corvane_get_alarm_device_contacts(int handle, const char* alarmCode,
                                                  int64_t alarmDate,
                                                  corvane_device_contact** contacts,
                                                  int32_t* count);

/* GET ptz/channel/{channelId}/trail/list. */
CORVANE_API int corvane_get_ptz_trail_list(int handle, const char* channelId,
                                           corvane_ptz_trail** trails, int32_t* count);

/* POST /admin/API/SS/Record/StartRecord: *planId and *now (epoch milliseconds) from the answer,
 * 0 when absent. */
CORVANE_API int corvane_start_remote_record(int handle, const char* channelId, int32_t streamType,
                                            int32_t duration, int32_t* planId, int64_t* now);

/* GET config/pos: *playbackTime gets "posPlaybackTime" read leniently (leading number, else 0). */
CORVANE_API int corvane_get_pos_config(int handle, int32_t* playbackTime);

/* GET dictionary/list?types=9052: each item's "name" under its "code"; the entry met last wins.
 * CORVANE_E_INVALID_NUMBER or CORVANE_E_NUMBER_RANGE for a code that is no int. */
CORVANE_API int corvane_get_pos_event_translate(int handle, corvane_int_text** names,
                                                int32_t* count);

/* GET config/dictionary-mapper?type={type}: each element's "value" under its "key". Fails as
 * corvane_get_pos_event_translate does. */
CORVANE_API int corvane_query_dictionary_mapper(int handle, int32_t type,
                                                corvane_int_pair** mapping, int32_t* count);

#ifdef __cplusplus
}
#endif

#endif /* CORVANE_CORVANEC_H */
