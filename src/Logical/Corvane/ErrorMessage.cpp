// The whole error in one sentence (corvane_error_message, Corvane::ErrorMessage) and the
// library's version. Apart from the operations' objects because it reads the gateway's texts
// (ZENTA_ErrorText, ZENTA_LastErrorDetail), beyond the two request functions the operations need.
#include <string>
#include <vector>

#include "APICommon.h"
#include "CopyText.h"
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

// A sentence for a status that the thread's last call did not end in: its general meaning,
// without a detail, since no detail on the thread belongs to it.
std::string Unattributed(int status, const std::string& number) {
  if (ZENTA_IS_GATEWAY_CODE(status)) return ZENTA_ErrorText(status) + number;
  if (status == -1 || status == CORVANE_E_REQUEST_TOO_LONG ||
      (status <= -40001 && status >= -40099)) {
    return corvane_status_text(status) + number;
  }
  return "the server refused the request with code " + std::to_string(status);
}

}  // namespace

namespace Corvane {

std::string ErrorMessage(int status) {
  if (status == CORVANE_OK) return "success";
  const std::string number = " (status " + std::to_string(status) + ")";
  const LastCall& last = LastCallOnThread();
  if (last.outcome == Outcome::kNone || last.status != status) return Unattributed(status, number);
  // The server's words come as text that may hold a NUL byte: C callers see it up to there.
  const std::string server = LastServerMessage().c_str();
  std::string sentence;
  switch (last.outcome) {
    case Outcome::kGateway:
      sentence = ZENTA_ErrorText(status) + number;
      Append(sentence, GatewayDetail());
      break;
    case Outcome::kUnreadable:  // the request names the operation whose answer it was
      sentence =
          "the answer could not be read (missing, not JSON, not an object or without a "
          "code)" +
          number;
      Append(sentence, std::string("request ") + last.detail);
      break;
    case Outcome::kChannelRefused:
      sentence = "the server listed the channel as failed when setting its volume" + number;
      break;
    case Outcome::kAnswer:
      sentence = "the server refused the request with code " + std::to_string(status);
      if (server.empty()) sentence += " and no message";
      Append(sentence, server);
      break;
    default:  // kNotSent, kInterface: the status's meaning and the exception's text, if any
      sentence = corvane_status_text(status) + number;
      Append(sentence, last.detail);
      break;
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
