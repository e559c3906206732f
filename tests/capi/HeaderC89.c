/* CorvaneC.h is C89 with <stdint.h>: this file includes it in a C90 build with -Wpedantic. */
#include "CorvaneC.h"

int capi_c89_status(void) { return CORVANE_OK; }
