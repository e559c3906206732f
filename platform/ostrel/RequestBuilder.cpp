// Request records read into HTTP requests: the checks and the target encoding of the gateway.
#include "RequestBuilder.h"

#include <zenta/ZentaSdk.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

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

}  // namespace

int BuildHttpRequest(const RestRequest& record, zenta::HttpRequest& request) {
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

}  // namespace ostrel
