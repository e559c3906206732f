// ZENTA_GeneralJsonRequest: reads and checks a request record (RequestBuilder), carries it on a
// ZENTA session over the C boundary (Boundary.h) and fills the response record.
#include <zenta/ZentaSdk.h>

#include <cstdint>
#include <new>
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

// zentaNoted tells whether ZENTA kept the failure's detail itself.
int Carry(int handle, const RestRequest& record, RestResponse& response, bool& zentaNoted) {
  HttpRequest request;
  const int built = BuildHttpRequest(record, request);
  if (built != ZENTA_OK) return built;
  const ZENTA_HttpRequest view = request.View();
  ZENTA_HttpAnswer answer;
  const int status = ZENTA_CarryRequest(handle, &view, &answer);
  zentaNoted = status != ZENTA_OK;
  if (status != ZENTA_OK) return status;

  const std::string_view contentType(answer.contentType,
                                     static_cast<std::size_t>(answer.contentTypeLength));
  if ((answer.status >= 200 && answer.status <= 299) || IsJsonContentType(contentType)) {
    // The session's cap keeps the body far below INT32_MAX.
    const auto length = static_cast<std::int32_t>(answer.bodyLength);
    response.answer = ZENTA_KeepAnswer(&answer);
    if (response.answer == nullptr) return ZENTA_E_NO_MEMORY;
    response.answerLength = length;
    return ZENTA_OK;
  }
  ZENTA_DropAnswer(&answer);
  if (answer.status >= 100 && answer.status <= 599) return ZENTA_E_HTTP_STATUS_BASE - answer.status;
  return ZENTA_E_PROTOCOL;
}

}  // namespace
}  // namespace ostrel

extern "C" OSTREL_API int ZENTA_GeneralJsonRequest(int handle, void* request, int requestSize,
                                                   void* response, int responseSize) {
  int code = ZENTA_OK;
  bool zentaNoted = false;
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
                           zentaNoted);
    } catch (const std::bad_alloc&) {
      code = ZENTA_E_NO_MEMORY;
    }
  }
  // ZENTA keeps the transport's own detail of the failures it returns; the others get their
  // code's text, so the detail never belongs to an earlier call.
  if (code != ZENTA_OK && !zentaNoted) ZENTA_NoteFailure(code);
  return code;
}
