// Request records read into HTTP requests: the checks and the target encoding of the gateway.
#include "RequestBuilder.h"

#include <zenta/ZentaSdk.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "Ascii.h"

namespace ostrel {
namespace {

// More headers than any client sends; a larger count means a corrupt record.
constexpr std::uint32_t kMostHeaders = 256;

// The bytes that cannot stand in a request target as they are: control bytes, space, DEL, bytes
// from 0x80 on, and the characters below. "#" would end the target; "%" and "?" stay, so escapes
// and queries the caller wrote keep their meaning.
struct TargetBytes {
  bool encode[256] = {};
  constexpr TargetBytes() {
    for (int c = 0; c < 256; ++c) encode[c] = c <= 0x20 || c >= 0x7F;
    for (const char* p = "\"<>\\^`{|}#"; *p != '\0'; ++p)
      encode[static_cast<unsigned char>(*p)] = true;
  }
};
constexpr TargetBytes kTargetBytes;

// The text of a NUL-padded field: up to the first NUL, never past width.
std::string_view FieldText(const char* field, std::size_t width) {
  const void* nul = std::memchr(field, '\0', width);
  return {field, nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - field) : width};
}

// "/" and the path, with every byte the target cannot hold as it is written as %XX; the runs of
// bytes between them are copied at once.
void EncodeTarget(const RestRequest& record, HttpRequest& request) {
  static const char kHex[] = "0123456789ABCDEF";
  const std::string_view path = FieldText(record.path, kPathWidth);
  char* out = request.target;
  *out++ = '/';
  const char* run = path.data();
  const char* const end = path.data() + path.size();
  for (const char* p = run; p != end; ++p) {
    const auto byte = static_cast<unsigned char>(*p);
    if (!kTargetBytes.encode[byte]) continue;
    std::memcpy(out, run, static_cast<std::size_t>(p - run));
    out += p - run;
    *out++ = '%';
    *out++ = kHex[byte >> 4];
    *out++ = kHex[byte & 0x0F];
    run = p + 1;
  }
  std::memcpy(out, run, static_cast<std::size_t>(end - run));
  out += end - run;
  request.targetLength = static_cast<std::size_t>(out - request.target);
}

// Checks one header. Content-Length is checked against the body and left to the transport, which
// frames the body itself; Transfer-Encoding is refused for the same reason.
int ReadHeader(const HttpHeaderItem& item, std::int32_t bodyLength, HttpRequest& request) {
  const std::string_view name(item.name,
                              item.nameLength < kNameWidth ? item.nameLength : kNameWidth);
  const std::string_view value(item.value,
                               item.valueLength < kValueWidth ? item.valueLength : kValueWidth);
  if (!zenta::IsToken(name) || !zenta::IsFieldValue(value)) {
    return ZENTA_E_BAD_HEADER;
  }
  if (zenta::EqualsIgnoringAsciiCase(name, "Transfer-Encoding")) return ZENTA_E_BAD_HEADER;
  if (zenta::EqualsIgnoringAsciiCase(name, "Content-Length")) {
    return value == std::to_string(bodyLength) ? ZENTA_OK : ZENTA_E_BAD_HEADER;
  }
  request.headers[request.headerCount++] = {name.data(), name.size(), value.data(), value.size()};
  return ZENTA_OK;
}

}  // namespace

int BuildHttpRequest(const RestRequest& record, HttpRequest& request) {
  if (record.bodyLength < 0 || (record.body == nullptr && record.bodyLength > 0)) {
    return ZENTA_E_BAD_RECORD;
  }
  if (record.headerCount > kMostHeaders || (record.headerCount > 0 && record.headers == nullptr)) {
    return ZENTA_E_BAD_RECORD;
  }
  const std::string_view method = FieldText(record.method, kMethodWidth);
  if (!zenta::IsToken(method)) return ZENTA_E_BAD_METHOD;
  request.method = method;
  request.ReserveHeaders(record.headerCount);
  for (std::uint32_t i = 0; i < record.headerCount; ++i) {
    const int status = ReadHeader(record.headers[i], record.bodyLength, request);
    if (status != ZENTA_OK) return status;
  }
  EncodeTarget(record, request);
  request.body = record.bodyLength > 0 ? record.body : nullptr;
  request.bodyLength = static_cast<std::size_t>(record.bodyLength);
  return ZENTA_OK;
}

}  // namespace ostrel
