// ZENTA_GeneralJsonRequest: reads and checks a request record, carries it on a ZENTA session and
// fills the response record.
#include <zenta/ZentaSdk.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "RequestRecords.h"
#include "ZentaInternal.h"

namespace ostrel {
namespace {

// More headers than any client sends; a larger count means a corrupt record.
constexpr std::uint32_t kMostHeaders = 256;

bool IsTokenChar(unsigned char c) {
  if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return true;
  return c != '\0' && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

// Field values may hold visible bytes, spaces, tabs and bytes >= 0x80; never CR, LF, NUL or
// another control byte.
bool IsFieldValueByte(unsigned char c) { return c == '\t' || (c >= 0x20 && c != 0x7F); }

// Bytes that cannot stand in a request target as they are. "#" is among them because it would
// end the target; "%" and "?" are not, so escapes and queries the caller wrote keep their meaning.
bool NeedsEncoding(unsigned char c) {
  return c <= 0x20 || c >= 0x7F || (c != '\0' && std::strchr("\"<>\\^`{|}#", c) != nullptr);
}

bool EqualsIgnoringCase(const std::string& a, const char* b) {
  const std::size_t size = std::strlen(b);
  if (a.size() != size) return false;
  for (std::size_t i = 0; i < size; ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// The text of a NUL-padded field: up to the first NUL, never past width.
std::string FieldText(const char* field, std::size_t width) {
  const void* nul = std::memchr(field, '\0', width);
  return std::string(field, nul ? static_cast<const char*>(nul) - field : width);
}

int ReadMethod(const RestRequest& record, std::string& method) {
  method = FieldText(record.method, kMethodWidth);
  if (method.empty()) return ZENTA_E_BAD_METHOD;
  for (char c : method) {
    if (!IsTokenChar(static_cast<unsigned char>(c))) return ZENTA_E_BAD_METHOD;
  }
  return ZENTA_OK;
}

std::string EncodedTarget(const RestRequest& record) {
  static const char kHex[] = "0123456789ABCDEF";
  const std::string path = FieldText(record.path, kPathWidth);
  std::string target;
  target.reserve(path.size() + 1);
  target.push_back('/');
  for (char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if (NeedsEncoding(byte)) {
      target.push_back('%');
      target.push_back(kHex[byte >> 4]);
      target.push_back(kHex[byte & 0x0F]);
    } else {
      target.push_back(c);
    }
  }
  return target;
}

// Checks one header. Content-Length is checked against the body and left to the transport, which
// frames the body itself; Transfer-Encoding is refused for the same reason.
int ReadHeader(const HttpHeaderItem& item, std::int32_t bodyLength,
               std::vector<zenta::HttpHeader>& headers) {
  const std::size_t nameLength = item.nameLength < kNameWidth ? item.nameLength : kNameWidth;
  const std::size_t valueLength = item.valueLength < kValueWidth ? item.valueLength : kValueWidth;
  zenta::HttpHeader header{std::string(item.name, nameLength),
                           std::string(item.value, valueLength)};
  if (header.name.empty()) return ZENTA_E_BAD_HEADER;
  for (char c : header.name) {
    if (!IsTokenChar(static_cast<unsigned char>(c))) return ZENTA_E_BAD_HEADER;
  }
  for (char c : header.value) {
    if (!IsFieldValueByte(static_cast<unsigned char>(c))) return ZENTA_E_BAD_HEADER;
  }
  if (EqualsIgnoringCase(header.name, "Transfer-Encoding")) return ZENTA_E_BAD_HEADER;
  if (EqualsIgnoringCase(header.name, "Content-Length")) {
    return header.value == std::to_string(bodyLength) ? ZENTA_OK : ZENTA_E_BAD_HEADER;
  }
  headers.push_back(std::move(header));
  return ZENTA_OK;
}

int ReadRecord(const RestRequest& record, zenta::HttpRequest& request) {
  if (record.bodyLength < 0 || (record.body == nullptr && record.bodyLength > 0)) {
    return ZENTA_E_BAD_RECORD;
  }
  if (record.headerCount > kMostHeaders || (record.headerCount > 0 && record.headers == nullptr)) {
    return ZENTA_E_BAD_RECORD;
  }
  int status = ReadMethod(record, request.method);
  if (status != ZENTA_OK) return status;
  request.headers.reserve(record.headerCount);
  for (std::uint32_t i = 0; i < record.headerCount; ++i) {
    status = ReadHeader(record.headers[i], record.bodyLength, request.headers);
    if (status != ZENTA_OK) return status;
  }
  request.target = EncodedTarget(record);
  request.body = record.bodyLength > 0 ? record.body : nullptr;
  request.bodyLength = static_cast<std::size_t>(record.bodyLength);
  return ZENTA_OK;
}

// "application/json" or any "type/subtype+json", parameters ignored, case-insensitive.
bool IsJsonContentType(const std::string& contentType) {
  std::string type = contentType.substr(0, contentType.find(';'));
  const std::size_t first = type.find_first_not_of(" \t");
  const std::size_t last = type.find_last_not_of(" \t");
  type = first == std::string::npos ? std::string() : type.substr(first, last - first + 1);
  for (char& c : type) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  const std::string suffix = "+json";
  return type == "application/json" ||
         (type.size() > suffix.size() && type.find('/') != std::string::npos &&
          type.compare(type.size() - suffix.size(), suffix.size(), suffix) == 0);
}

int Carry(int handle, const RestRequest& record, RestResponse& response) {
  zenta::HttpRequest request;
  int status = ReadRecord(record, request);
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
