// ZENTA_GeneralJsonRequest: reads and checks a request record (RequestBuilder), carries it on a
// ZENTA session and fills the response record.
#include <zenta/ZentaSdk.h>

#include <cstdint>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "RequestBuilder.h"
#include "RequestRecords.h"
#include "ZentaInternal.h"

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

int Carry(int handle, const RestRequest& record, RestResponse& response) {
  zenta::HttpRequest request;
  int status = BuildHttpRequest(record, request);
  if (status != ZENTA_OK) return status;
  zenta::HttpAnswer answer;
  status = zenta::PerformRequest(handle, request, answer);
  if (status != ZENTA_OK) return status;

  if ((answer.status >= 200 && answer.status <= 299) || IsJsonContentType(answer.contentType)) {
    // The transport caps the body far below INT32_MAX.
    const auto length = static_cast<std::int32_t>(answer.body.size());
    response.answer = zenta::HandOverAnswer(std::move(answer.body));
    response.answerLength = length;
    return ZENTA_OK;
  }
  if (answer.status >= 100 && answer.status <= 599) return ZENTA_E_HTTP_STATUS_BASE - answer.status;
  return ZENTA_E_PROTOCOL;
}

}  // namespace
}  // namespace ostrel

extern "C" OSTREL_API int ZENTA_GeneralJsonRequest(int handle, void* request, int requestSize,
                                                   void* response, int responseSize) {
  if (request == nullptr || response == nullptr) return ZENTA_E_NULL_ARGUMENT;
  if (requestSize != static_cast<int>(sizeof(ostrel::RestRequest))) return ZENTA_E_REQUEST_SIZE;
  if (responseSize != static_cast<int>(sizeof(ostrel::RestResponse))) {
    return ZENTA_E_RESPONSE_SIZE;
  }
  auto& answerRecord = *static_cast<ostrel::RestResponse*>(response);
  answerRecord.answer = nullptr;
  answerRecord.answerLength = 0;
  answerRecord.auxBuffer = nullptr;
  try {
    return ostrel::Carry(handle, *static_cast<const ostrel::RestRequest*>(request), answerRecord);
  } catch (const std::bad_alloc&) {
    return ZENTA_E_NO_MEMORY;
  }
}
