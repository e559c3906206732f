// The whole error in one sentence (corvane_error_message, Corvane::ErrorMessage) and the
// library's version. Apart from the operations' objects because it reads the gateway's texts
// (ZENTA_ErrorText, ZENTA_LastErrorDetail), beyond the two request functions the operations need.
#include <string>
#include <vector>

#include "ExceptionNote.h"
#include "public/Corvane.h"
#include "public/CorvaneC.h"
#include "zenta/ZentaSdk.h"

#define CORVANE_TEXT_OF_(value) #value
#define CORVANE_TEXT_OF(value) CORVANE_TEXT_OF_(value)

namespace {

// The transport's own words for the calling thread's last gateway failure, "" before any.
std::string GatewayDetail() {
  std::vector<char> detail(256);
  int length = ZENTA_LastErrorDetail(detail.data(), static_cast<int>(detail.size()));
  if (length >= static_cast<int>(detail.size())) {
    detail.resize(static_cast<std::size_t>(length) + 1);
    length = ZENTA_LastErrorDetail(detail.data(), static_cast<int>(detail.size()));
  }
  return length > 0 ? std::string(detail.data()) : std::string();
}

// A text added to a sentence after a colon, unless it says nothing new.
void Append(std::string& sentence, const std::string& text) {
  if (!text.empty() && sentence.find(text) == std::string::npos) sentence += ": " + text;
}

}  // namespace

namespace Corvane {

std::string ErrorMessage(int status) {
  if (status == CORVANE_OK) return "success";
  const std::string number = " (status " + std::to_string(status) + ")";
  std::string sentence;
  if (ZENTA_IS_GATEWAY_CODE(status)) {
    sentence = ZENTA_ErrorText(status) + number;
    Append(sentence, GatewayDetail());
  } else if (status == CORVANE_E_REQUEST_TOO_LONG || (status <= -40001 && status >= -40099)) {
    sentence = corvane_status_text(status) + number;
    if (const char* exception = detail::NotedException(status)) Append(sentence, exception);
  } else {
    // The server's words come as text that may hold a NUL byte: C callers see it up to there.
    const std::string server = LastServerMessage().c_str();
    if (status == -1) {
      sentence = corvane_status_text(status) + number;
    } else {
      sentence = "the server refused the request with code " + std::to_string(status);
      if (server.empty()) sentence += " and no message";
    }
    Append(sentence, server);
  }
  return sentence;
}

}  // namespace Corvane

extern "C" {

int32_t corvane_error_message(int status, char* buffer, int32_t size) {
  return Corvane::detail::CopyText(buffer, size,
                                   [status] { return Corvane::ErrorMessage(status); });
}

const char* corvane_version(void) {
  return CORVANE_TEXT_OF(CORVANE_VERSION_MAJOR) "." CORVANE_TEXT_OF(
      CORVANE_VERSION_MINOR) "." CORVANE_TEXT_OF(CORVANE_VERSION_PATCH);
}

}  // extern "C"
