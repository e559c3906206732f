/* Every setting and operation of CorvaneC.h from a C program, through the real gateway against
 * corvane-mock-server. capi_driver.py runs it: standard input holds the result lines it must find
 * (made from the server's catalog), the first dictionary-mapper answer is a fault holding a word,
 * and the driver checks afterwards that the settings reached every request.
 * Usage: OperationsCheck <server URL> <alarm code> <alarm date> < expected lines */
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "CorvaneC.h"
#include "zenta/ZentaSdk.h"

static char expected[1 << 16];
static int failures;

static void fail(const char* format, ...) {
  va_list args;
  va_start(args, format);
  fputs("FAIL: ", stderr);
  vfprintf(stderr, format, args);
  fputc('\n', stderr);
  va_end(args);
  ++failures;
}

/* A result read through the interface, as one line that must be among the expected ones. */
static void found(const char* format, ...) {
  char line[1024] = "\n";
  va_list args;
  va_start(args, format);
  vsnprintf(line + 1, sizeof line - 2, format, args);
  va_end(args);
  strcat(line, "\n");
  if (strstr(expected, line) == NULL)
    fail("result not expected: %.*s", (int)strlen(line) - 2, line + 1);
}

static void status_is(const char* what, int status, int wanted) {
  if (status != wanted)
    fail("%s: %d (%s), not %d", what, status, corvane_status_text(status), wanted);
}

int main(int argc, char** argv) {
  static const char* const devices[] = {"D1001", "D1002", "D1003", "D2001"};
  static const char* const channels[] = {"D1001-C01", "D1001-C02", "D1001-C03", "D1002-C01"};
  static const char* const speakers[] = {"D2001-C01", "D2001-C02", "D2001-C03", "D2001-C04"};
  static const char* const pictures[] = {"P0100", "P 0200"};
  int handle = 0, i, j, status;
  int32_t value, count, plans[2];
  int64_t now[2];
  char message[6], text[512], sentence[600];
  corvane_int_pair* map;
  corvane_int_text* names;
  corvane_picture* picture;
  corvane_speaker_volume* volume;
  corvane_audio_file* files;
  corvane_same_audio_file* same;
  corvane_device_contact* sources;
  corvane_ptz_trail* trails;

  if (argc != 4) return 2;
  expected[0] = '\n';
  if (fread(expected + 1, 1, sizeof expected - 2, stdin) == 0) fail("no expected lines");
  status_is("open", ZENTA_OpenSession(argv[1], NULL, &handle), ZENTA_OK);
  status_is("language", corvane_set_language("fr-CH"), CORVANE_OK);
  status_is("time zone", corvane_set_time_zone("Europe/Zurich"), CORVANE_OK);
  status_is("mac", corvane_set_mac_address("02-00-5E-10-00-2A"), CORVANE_OK);

  /* The C++ operation's std::invalid_argument arrives as a status, with no result. */
  count = 5;
  status = corvane_query_dictionary_mapper(handle, 1, &map, &count);
  status_is("mapping holding a word", status, CORVANE_E_INVALID_NUMBER);
  if (map != NULL || count != 0) fail("a failed mapping returned %d entries", (int)count);
  for (i = 1; i <= 4; ++i) {
    status_is("mapper", corvane_query_dictionary_mapper(handle, i, &map, &count), 0);
    found("mapper|%d|%d", i, (int)count);
    for (j = 0; j < count; ++j) found("map|%d|%d|%d", i, (int)map[j].key, (int)map[j].value);
    corvane_free(map);
  }
  status_is("ai privacy", corvane_get_ai_privacy_config(handle, &value), 0);
  found("ai-privacy|%d", (int)value);
  status_is("pos", corvane_get_pos_config(handle, &value), 0);
  found("pos|%d", (int)value);
  for (i = 0; i < 4; ++i) {
    status_is("web", corvane_get_web_enablement(handle, devices[i], &value), 0);
    found("web|%s|%d", devices[i], (int)value);
    status_is("channel web", corvane_get_channel_web_enablement(handle, channels[i], &value), 0);
    found("channel-web|%s|%d", channels[i], (int)value);
    status_is("trails", corvane_get_ptz_trail_list(handle, channels[i], &trails, &count), 0);
    found("trails|%s|%d", channels[i], (int)count);
    for (j = 0; j < count; ++j)
      found("trail|%s|%s|%s", channels[i], trails[j].trailId, trails[j].trailName);
    corvane_free(trails);
  }
  for (i = 0; i < 2; ++i) {
    status_is("picture", corvane_download_device_picture(handle, pictures[i], 40 + i, &picture), 0);
    if (picture->tag != 40 + i) fail("picture %s with tag %d", pictures[i], (int)picture->tag);
    found("picture|%s|%lld|%d|%d", pictures[i], (long long)picture->pictureLength, /* PNG size */
          picture->pictureData[18] << 8 | picture->pictureData[19],
          picture->pictureData[22] << 8 | picture->pictureData[23]);
    corvane_free(picture);
  }
  for (i = 0; i < 4; ++i) {
    status_is("volume", corvane_get_ip_speaker_volume(handle, speakers[i], &volume), 0);
    found("volume|%s|%s|%d|%d|%d", volume->channelId, volume->channelName,
          (int)volume->microphoneVolume, (int)volume->speakerVolume, (int)volume->successful);
    corvane_free(volume);
    found("set-volume|%s|%d", speakers[i],
          corvane_set_ip_speaker_volume(handle, speakers[i], 37, 63));
  }
  status_is("volume", corvane_get_ip_speaker_volume(handle, speakers[0], &volume), 0);
  if (volume->microphoneVolume != 37 || volume->speakerVolume != 63) fail("volumes not set");
  corvane_free(volume);
  status_is("audio", corvane_get_ip_speaker_audio_list(handle, speakers[0], &files, &count), 0);
  found("audio-files|%s|%d", speakers[0], (int)count);
  for (j = 0; j < count; ++j)
    found("audio|%s|%s|%s", files[j].channelId, files[j].fileId, files[j].fileName);
  corvane_free(files);
  status_is("same audio",
            corvane_get_ip_speaker_same_audio_list(handle, speakers, 2, &same, &count), 0);
  found("same-audio|%d", (int)count);
  for (i = 0; i < count; ++i) {
    for (j = 0; j < same[i].channelFileCount; ++j) {
      found("same|%s|%s|%s", same[i].fileName, same[i].channelFiles[j].channelId,
            same[i].channelFiles[j].fileId);
    }
  }
  corvane_free(same);
  status = corvane_get_alarm_device_contacts(handle, argv[2], strtoll(argv[3], NULL, 10), &sources,
                                             &count);
  status_is("contacts", status, 0);
  found("alarm|%s|%d", argv[2], (int)count);
  for (i = 0; i < count; ++i) {
    found("source|%s|%s|%d", sources[i].sourceName, sources[i].devicePosition,
          (int)sources[i].deviceContactCount);
    for (j = 0; j < sources[i].deviceContactCount; ++j) {
      const corvane_contact* c = &sources[i].deviceContacts[j];
      found("contact|%s|%s|%s|%s|%s", sources[i].sourceName, c->contactName, c->contactPhone,
            c->contactEmail, c->contactNote);
    }
  }
  corvane_free(sources);
  status_is("pos events", corvane_get_pos_event_translate(handle, &names, &count), 0);
  found("pos-events|%d", (int)count);
  for (j = 0; j < count; ++j) found("pos-event|%d|%s", (int)names[j].key, names[j].text);
  corvane_free(names);
  for (i = 0; i < 2; ++i) {
    status_is("record", corvane_start_remote_record(handle, channels[0], 0, 60, &plans[i], &now[i]),
              0);
  }
  if (plans[0] < 1 || plans[1] != plans[0] + 1)
    fail("plan ids %d, %d", (int)plans[0], (int)plans[1]);
  if (now[0] / 1000 < (int64_t)time(NULL) - 86400 || now[0] / 1000 > (int64_t)time(NULL) + 86400) {
    fail("record start time %lld is not today", (long long)now[0]);
  }

  /* The server's code and words, a gateway failure and a null argument. */
  status_is("unknown device", corvane_get_web_enablement(handle, "D9999", &value), 4004);
  status = corvane_last_server_message(message, sizeof message);
  if (status <= 5 || strlen(message) != 5) fail("message of length %d", status);
  /* The whole error: the refusal with the server's words, then the gateway's text. */
  corvane_last_server_message(text, sizeof text);
  sprintf(sentence, "the server refused the request with code 4004: %s", text);
  if (corvane_error_message(4004, text, sizeof text) != (int32_t)strlen(sentence) ||
      strcmp(text, sentence) != 0) {
    fail("error message '%s'", text);
  }
  count = 9;
  status_is("unknown handle", corvane_get_ptz_trail_list(-5, channels[0], &trails, &count),
            ZENTA_E_UNKNOWN_HANDLE);
  if (trails != NULL || count != 0) fail("a failed call returned %d trails", (int)count);
  corvane_error_message(ZENTA_E_UNKNOWN_HANDLE, text, sizeof text);
  if (strstr(text, ZENTA_ErrorText(ZENTA_E_UNKNOWN_HANDLE)) != text) fail("message '%s'", text);
  sprintf(sentence, "%d.%d.%d", CORVANE_VERSION_MAJOR, CORVANE_VERSION_MINOR,
          CORVANE_VERSION_PATCH);
  if (strcmp(corvane_version(), sentence) != 0) fail("version %s", corvane_version());
  status_is("null id", corvane_get_ptz_trail_list(handle, NULL, &trails, &count),
            CORVANE_E_NULL_ARGUMENT);
  ZENTA_CloseSession(handle);
  printf("%d failure(s)\n", failures);
  return failures == 0 ? 0 : 1;
}
