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

// What each byte may be, as bit flags in a table built at compile time, so that every check
// below is one load per byte.
enum ByteClass : unsigned char {
  kToken = 1,       // may stand in a method or a header name
  kFieldValue = 2,  // may stand in a header value: visible bytes, space, tab, bytes >= 0x80
  kEncode = 4,      // cannot stand in a request target as it is
};

struct ByteTable {
  unsigned char classes[256] = {};

  constexpr ByteTable() {
    for (int c = 0; c < 256; ++c) {
      const bool alnum = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
      unsigned char flags = 0;
      if (alnum || Among(c, "!#$%&'*+-.^_`|~")) flags |= kToken;
      if (c == '\t' || (c >= 0x20 && c != 0x7F)) flags |= kFieldValue;
      // "#" would end the target; "%" and "?" stay, so escapes and queries the caller wrote
      // keep their meaning.
      if (c <= 0x20 || c >= 0x7F || Among(c, "\"<>\\^`{|}#")) flags |= kEncode;
      classes[c] = flags;
    }
  }

 private:
  static constexpr bool Among(int c, const char* set) {
    for (; *set != '\0'; ++set) {
      if (c == static_cast<unsigned char>(*set)) return true;
    }
    return false;
  }
};

constexpr ByteTable kBytes;

// True when every byte of text has the class.
bool AllOfClass(std::string_view text, ByteClass byteClass) {
  for (char c : text) {
    if ((kBytes.classes[static_cast<unsigned char>(c)] & byteClass) == 0) return false;
  }
  return true;
}

// The text of a NUL-padded field: up to the first NUL, never past width.
std::string_view FieldText(const char* field, std::size_t width) {
  const void* nul = std::memchr(field, '\0', width);
  return {field, nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - field) : width};
}

void EncodeTarget(const RestRequest& record, HttpRequest& request) {
  static const char kHex[] = "0123456789ABCDEF";
  const std::string_view path = FieldText(record.path, kPathWidth);
  char* out = request.target;
  *out++ = '/';
  const char* run = path.data();  // bytes that go as they are, copied at once
  const char* const end = path.data() + path.size();
  for (const char* p = run; p != end; ++p) {
    const auto byte = static_cast<unsigned char>(*p);
    if ((kBytes.classes[byte] & kEncode) == 0) continue;
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
  if (name.empty() || !AllOfClass(name, kToken) || !AllOfClass(value, kFieldValue)) {
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
  if (method.empty() || !AllOfClass(method, kToken)) return ZENTA_E_BAD_METHOD;
  request.method.assign(method.data(), method.size());
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
