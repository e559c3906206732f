// The library's objects call the gateway through import pointers (__imp_<function>), as every
// client of Ostrel.dll and ZENTA.dll does on Windows. Where the fake gateway takes the DLLs' place
// in a test program, these pointers lead those calls to the fake's own functions.
#include <zenta/ZentaSdk.h>

extern "C" {
decltype(&ZENTA_GeneralJsonRequest) __imp_ZENTA_GeneralJsonRequest = &ZENTA_GeneralJsonRequest;
decltype(&ZENTA_ReleaseDataBuffer) __imp_ZENTA_ReleaseDataBuffer = &ZENTA_ReleaseDataBuffer;
decltype(&ZENTA_ErrorText) __imp_ZENTA_ErrorText = &ZENTA_ErrorText;
decltype(&ZENTA_LastErrorDetail) __imp_ZENTA_LastErrorDetail = &ZENTA_LastErrorDetail;
}
