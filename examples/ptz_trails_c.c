/* Lists the PTZ trails of a camera channel through the C interface: ptz-trails-c SERVER-URL
 * CHANNEL. Plain C: it links with a C linker, against shared or static libraries alike. */
#include <CorvaneC.h>
#include <stdio.h>
#include <zenta/ZentaSdk.h>

int main(int argc, char** argv) {
  int handle = 0, status, i;
  int32_t count = 0;
  corvane_ptz_trail* trails = NULL;
  char message[512];
  if (argc != 3) {
    fprintf(stderr, "usage: %s SERVER-URL CHANNEL\n", argv[0]);
    return 2;
  }
  status = ZENTA_OpenSession(argv[1], NULL, &handle); /* default options */
  if (status == ZENTA_OK) {
    corvane_set_language("en-US"); /* sent with every request from now on */
    corvane_set_time_zone("UTC");
    status = corvane_get_ptz_trail_list(handle, argv[2], &trails, &count);
    for (i = 0; i < count; ++i) printf("%s\t%s\n", trails[i].trailId, trails[i].trailName);
    corvane_free(trails); /* the records and their texts, in one block */
    ZENTA_CloseSession(handle);
  }
  if (status != 0) {
    /* The whole error in one sentence: the meaning, the transport's or the server's words. */
    corvane_error_message(status, message, (int32_t)sizeof message);
    fprintf(stderr, "ptz-trails-c: %s\n", message);
    return 1;
  }
  return 0;
}
