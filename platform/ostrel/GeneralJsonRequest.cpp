// ZENTA_GeneralJsonRequest: reads and checks a request record (RequestBuilder), carries it on a
// ZENTA session over the C boundary (Boundary.h) and fills the response record.
#include <zenta/ZentaSdk.h>

#include <algorithm>
#include <cstdint>
#include <new>
#include <string>
#include <string_view>

#include "Ascii.h"
#include "Boundary.h"
#include "RequestBuilder.h"
#include "RequestRecords.h"

namespace ostrel {
namespace {

// "application/json" or any "type/subtype+json", parameters ignored, case-insensitive.
bool IsJsonContentType(std::string_view contentType) {
  std::string_view type = contentType.substr(0, contentType.find(';'));
  const std::size_t first = type.find_first_not_of(" \t");
  if (first == std::string_view::npos) return false;
  type = type.substr(first, type.find_last_not_of(" \t") - first + 1);
  constexpr std::string_view kSuffix = "+json";
  return zenta::EqualsIgnoringAsciiCase(type, "application/json") ||
         (type.size() > kSuffix.size() && type.find('/') != std::string_view::npos &&
          zenta::EqualsIgnoringAsciiCase(type.substr(type.size() - kSuffix.size()), kSuffix));
}

std::size_t FindIgnoringCase(std::string_view text, std::string_view what, std::size_t from) {
  for (std::size_t at = from; at + what.size() <= text.size(); ++at) {
    if (zenta::EqualsIgnoringAsciiCase(text.substr(at, what.size()), what)) return at;
  }
  return std::string_view::npos;
}

// The title of an HTML page, whitespace collapsed, if one stands in the body's first 4 KiB: an
// error page's first line is mostly "<html>" or a doctype, and its title says what went wrong.
std::string HtmlTitle(std::string_view body) {
  body = body.substr(0, 4096);
  const std::size_t open = FindIgnoringCase(body, "<title", 0);
  const std::size_t start = open == std::string_view::npos ? open : body.find('>', open);
  const std::size_t end =
      start == std::string_view::npos ? start : FindIgnoringCase(body, "</title", start);
  std::string title;
  if (end == std::string_view::npos) return title;
  for (const char c : body.substr(start + 1, end - start - 1)) {
    const bool space = c == ' ' || c == '\t' || c == '\r' || c == '\n';
    if (space && (title.empty() || title.back() == ' ')) continue;
    title += space ? ' ' : c;
  }
  if (!title.empty() && title.back() == ' ') title.pop_back();
  return title;
}

// The error a refusal's challenge names ('Bearer realm="x", error="invalid_token"'), as
// 'error="invalid_token"'; "" when it names none.
std::string ChallengeError(const ZENTA_HttpAnswer& answer) {
  const std::string_view challenge(answer.challenge,
                                   static_cast<std::size_t>(answer.challengeLength));
  std::size_t at = 0;
  do {
    at = FindIgnoringCase(challenge, "error=", at == 0 ? 0 : at + 1);
  } while (at != std::string_view::npos && at > 0 && challenge[at - 1] != ' ' &&
           challenge[at - 1] != ',');
  if (at == std::string_view::npos) return "";
  std::string_view value = challenge.substr(at + 6);
  if (!value.empty() && value[0] == '"') {
    value = value.substr(1, value.find('"', 1) - 1);
  } else {
    value = value.substr(0, value.find_first_of(", \t"));
  }
  return "error=\"" + std::string(value) + "\"";
}

// "HTTP 401", with the challenge's error when it names one: 'HTTP 401 (error="invalid_token")'.
std::string StatusHead(const ZENTA_HttpAnswer& answer) {
  const std::string error = ChallengeError(answer);
  return "HTTP " + std::to_string(answer.status) + (error.empty() ? "" : " (" + error + ")");
}

// The detail of an HTTP status without JSON: the status and what the page says, its HTML title
// or else its first line, which is where a proxy or a server in maintenance says why ("HTTP 503:
// down for maintenance"), from the page's first 4 KiB; ZENTA_NoteFailure scrubs it, then cuts it
// to 200 bytes of words. A challenge's error comes first: 'HTTP 401 (error="invalid_token"): ...'.
// Empty when neither says anything.
std::string StatusDetail(const ZENTA_HttpAnswer& answer) {
  const std::string_view body(answer.body != nullptr ? answer.body : "", answer.bodyLength);
  std::string text = HtmlTitle(body);
  if (text.empty()) text = body.substr(0, std::min(body.find_first_of("\r\n"), std::size_t{4096}));
  const std::string status = StatusHead(answer);
  if (text.find_first_not_of(" \t") == std::string::npos) {
    return status.find('(') == std::string::npos ? "" : status;
  }
  return status + ": " + text;
}

// Keeps a JSON refusal's status and challenge ("HTTP 401 (error=...)") as the thread's detail.
void NoteJsonRefusal(const ZENTA_HttpAnswer& answer) {
  if (answer.status < 100 || answer.status > 599) return;
  try {
    ZENTA_NoteFailure(ZENTA_E_HTTP_STATUS_BASE - answer.status, StatusHead(answer).c_str());
  } catch (const std::bad_alloc&) {
    ZENTA_NoteFailure(ZENTA_E_HTTP_STATUS_BASE - answer.status, nullptr);
  }
}

// noted tells whether the failure's detail is kept already (by ZENTA, or here).
int Carry(int handle, const RestRequest& record, RestResponse& response, bool& noted) {
  HttpRequest request;
  const int built = BuildHttpRequest(record, request);
  if (built != ZENTA_OK) return built;
  const ZENTA_HttpRequest view = request.View();
  ZENTA_HttpAnswer answer;
  const int status = ZENTA_CarryRequest(handle, &view, &answer);
  noted = status != ZENTA_OK;
  if (status != ZENTA_OK) return status;

  const std::string_view contentType(answer.contentType,
                                     static_cast<std::size_t>(answer.contentTypeLength));
  const bool success = answer.status >= 200 && answer.status <= 299;
  if (success || IsJsonContentType(contentType)) {
    // A JSON refusal is handed over for the library to read its code. Only its headers say the
    // HTTP status and what a challenge names, so the thread's failure detail keeps those.
    if (!success) NoteJsonRefusal(answer);
    // The session's cap keeps the body far below INT32_MAX.
    const auto length = static_cast<std::int32_t>(answer.bodyLength);
    response.answer = ZENTA_KeepAnswer(&answer);
    if (response.answer == nullptr) return ZENTA_E_NO_MEMORY;
    response.answerLength = length;
    return ZENTA_OK;
  }
  if (answer.status < 100 || answer.status > 599) {
    ZENTA_DropAnswer(&answer);
    return ZENTA_E_PROTOCOL;
  }
  const int code = ZENTA_E_HTTP_STATUS_BASE - answer.status;
  std::string detail;
  try {
    detail = StatusDetail(answer);
  } catch (const std::bad_alloc&) {
    // The code alone then; the answer is still dropped.
  }
  ZENTA_DropAnswer(&answer);
  ZENTA_NoteFailure(code, detail.c_str());
  noted = true;
  return code;
}

}  // namespace
}  // namespace ostrel

extern "C" OSTREL_API int ZENTA_GeneralJsonRequest(int handle, void* request, int requestSize,
                                                   void* response, int responseSize) {
  int code = ZENTA_OK;
  bool noted = false;
  if (request == nullptr || response == nullptr) {
    code = ZENTA_E_NULL_ARGUMENT;
  } else if (requestSize != static_cast<int>(sizeof(ostrel::RestRequest))) {
    code = ZENTA_E_REQUEST_SIZE;
  } else if (responseSize != static_cast<int>(sizeof(ostrel::RestResponse))) {
    code = ZENTA_E_RESPONSE_SIZE;
  } else {
    auto& answerRecord = *static_cast<ostrel::RestResponse*>(response);
    answerRecord.answer = nullptr;
    answerRecord.answerLength = 0;
    answerRecord.auxBuffer = nullptr;
    try {
      code = ostrel::Carry(handle, *static_cast<const ostrel::RestRequest*>(request), answerRecord,
                           noted);
    } catch (const std::bad_alloc&) {
      code = ZENTA_E_NO_MEMORY;
    }
  }
  // ZENTA keeps the transport's own detail of the failures it returns; the others get their
  // code's text, so the detail never belongs to an earlier call.
  if (code != ZENTA_OK && !noted) ZENTA_NoteFailure(code, nullptr);
  return code;
}
