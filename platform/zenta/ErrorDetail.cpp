#include "ErrorDetail.h"

#include <zenta/ZentaSdk.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace zenta {
namespace {

thread_local Detail lastFailure;

}  // namespace

void Detail::Set(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text_, sizeof text_, format, arguments);
  va_end(arguments);
}

void NoteFailure(int code, const char* text) {
  if (text != nullptr && text[0] != '\0') {
    lastFailure.Set("%s", text);
  } else {
    lastFailure.Set("%s", ZENTA_ErrorText(code));
  }
}

void ClearFailure() { lastFailure.Clear(); }

}  // namespace zenta

extern "C" {

ZENTA_API int ZENTA_LastErrorDetail(char* buffer, int size) {
  const char* text = zenta::lastFailure.Text();
  const std::size_t length = std::strlen(text);
  if (buffer != nullptr && size > 0) {
    const std::size_t copied =
        length < static_cast<std::size_t>(size) - 1 ? length : static_cast<std::size_t>(size) - 1;
    std::memcpy(buffer, text, copied);
    buffer[copied] = '\0';
  }
  return static_cast<int>(length);
}

}  // extern "C"
