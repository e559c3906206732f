// What the C interface's two sources share: CorvaneC.cpp (the operations and the settings) and
// ErrorMessage.cpp (the whole error in one sentence, which needs the gateway's texts and so is
// linked only where they are: libCorvane, and the tests that bring a fake of them). Internal:
// nothing here is exported.
#ifndef CORVANE_COPYTEXT_H
#define CORVANE_COPYTEXT_H

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>
#include <new>
#include <string>

#include "public/CorvaneC.h"

namespace Corvane::detail {

// Copies the text made by make() into buffer like snprintf (cut to size - 1 bytes, NUL-
// terminated; buffer may be null when size is 0) and returns its full length in bytes;
// CORVANE_E_NULL_ARGUMENT for a negative size or a null buffer with room, and the code of an
// exception of make(), with "" in buffer.
template <class Make>
int32_t CopyText(char* buffer, int32_t size, Make make) noexcept {
  if (size < 0 || (buffer == nullptr && size > 0)) return CORVANE_E_NULL_ARGUMENT;
  std::string text;
  int32_t status = CORVANE_OK;
  try {
    text = make();
  } catch (const std::bad_alloc&) {
    status = CORVANE_E_NO_MEMORY;
  } catch (const std::exception&) {
    status = CORVANE_E_EXCEPTION;
  }
  if (status != CORVANE_OK) text.clear();
  if (size > 0) {
    const std::size_t copied = std::min(text.size(), static_cast<std::size_t>(size) - 1);
    std::memcpy(buffer, text.data(), copied);
    buffer[copied] = '\0';
  }
  if (status != CORVANE_OK) return status;
  return text.size() > INT32_MAX ? INT32_MAX : static_cast<int32_t>(text.size());
}

}  // namespace Corvane::detail

#endif  // CORVANE_COPYTEXT_H
