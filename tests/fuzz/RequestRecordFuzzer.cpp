// The gateway's request building from arbitrary record bytes, with no network: the part of
// ZENTA_GeneralJsonRequest that reads the record (ostrel::BuildHttpRequest).
//
// Input: the 2096 record bytes (zero-padded when shorter), then header items of 1288 bytes, then
// the body's bytes. Every piece is copied into a heap block of exactly its size, so that
// AddressSanitizer stops a read past it; the padding between the record's fields, its reserved
// bytes and the whole body are poisoned, because the builder has no business reading them. A
// headerCount of at most 256 is cut to the items the input carries (the caller vouches for it);
// a larger one is kept and must be refused before any item is read. A positive bodyLength is cut
// to the body bytes present. A pointer field of eight zero bytes stays null.
//
// Checks: the builder accepts a record exactly when the documented rules accept it (docs/
// gateway.md), refuses with ZENTA_E_BAD_RECORD, _BAD_METHOD or _BAD_HEADER otherwise, and an
// accepted request carries the method, the headers in record order without Content-Length, no CR,
// LF or other control byte in any header, and a target whose every byte may stand in an HTTP
// request target, each other byte of the path percent-encoded.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "RequestBuilder.h"
#include "RequestRecords.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/asan_interface.h>
#define CORVANE_FUZZ_ASAN 1
#endif
#endif

namespace {

using ostrel::HttpHeaderItem;
using ostrel::RestRequest;

constexpr std::size_t kRecordSize = sizeof(RestRequest);
constexpr std::size_t kItemSize = sizeof(HttpHeaderItem);
constexpr std::uint32_t kMostHeaders = 256;
constexpr std::size_t kMostItems = 300;  // more than the gateway accepts, fewer than a hang

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "fuzz_request_record: %s\n", what);
  std::abort();
}

// Marks bytes as off limits for the builder while alive (a no-op without AddressSanitizer).
class Poisoned {
 public:
  Poisoned(const void* begin, std::size_t size) : begin_(begin), size_(size) {
#ifdef CORVANE_FUZZ_ASAN
    ASAN_POISON_MEMORY_REGION(begin_, size_);
#endif
  }
  ~Poisoned() {
#ifdef CORVANE_FUZZ_ASAN
    ASAN_UNPOISON_MEMORY_REGION(begin_, size_);
#endif
  }
  Poisoned(const Poisoned&) = delete;
  Poisoned& operator=(const Poisoned&) = delete;

 private:
  const void* begin_;
  std::size_t size_;
};

bool IsTokenChar(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         (c != 0 && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr);
}

bool IsToken(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (!IsTokenChar(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

bool IsValueByte(unsigned char c) { return c == '\t' || (c >= 0x20 && c != 0x7F); }

// Bytes that may stand in a request target as they are.
bool MayStandInTarget(unsigned char c) {
  return c > 0x20 && c < 0x7F && std::strchr("\"<>\\^`{|}#", c) == nullptr;
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::string FieldText(const char* field, std::size_t width) {
  const void* nul = std::memchr(field, 0, width);
  return std::string(field, nul != nullptr ? static_cast<const char*>(nul) - field : width);
}

struct Header {
  std::string name;
  std::string value;
};

Header ItemText(const HttpHeaderItem& item) {
  return {std::string(item.name, std::min<std::size_t>(item.nameLength, ostrel::kNameWidth)),
          std::string(item.value, std::min<std::size_t>(item.valueLength, ostrel::kValueWidth))};
}

// The documented rules, applied independently of the builder.
bool Acceptable(const RestRequest& record) {
  if (record.bodyLength < 0 || (record.body == nullptr && record.bodyLength > 0)) return false;
  if (record.headerCount > kMostHeaders || (record.headerCount > 0 && record.headers == nullptr)) {
    return false;
  }
  if (!IsToken(FieldText(record.method, ostrel::kMethodWidth))) return false;
  for (std::uint32_t i = 0; i < record.headerCount; ++i) {
    const Header header = ItemText(record.headers[i]);
    if (!IsToken(header.name)) return false;
    for (char c : header.value) {
      if (!IsValueByte(static_cast<unsigned char>(c))) return false;
    }
    const std::string name = Lower(header.name);
    if (name == "transfer-encoding") return false;
    if (name == "content-length" && header.value != std::to_string(record.bodyLength)) return false;
  }
  return true;
}

void CheckAccepted(const RestRequest& record, const ostrel::HttpRequest& request) {
  if (request.method != FieldText(record.method, ostrel::kMethodWidth) ||
      !IsToken(request.method)) {
    Fail("the method is not the record's token");
  }
  std::size_t next = 0;
  for (std::uint32_t i = 0; i < record.headerCount; ++i) {
    const Header expected = ItemText(record.headers[i]);
    if (Lower(expected.name) == "content-length") continue;  // framed by the transport
    if (next >= request.headers.size()) Fail("a header went missing");
    const ZENTA_HttpHeader& item = request.headers[next++];
    const Header header{std::string(item.name, item.nameLength),
                        std::string(item.value, item.valueLength)};
    if (header.name != expected.name || header.value != expected.value) {
      Fail("a header is not the record's");
    }
    if (header.value.find_first_of("\r\n") != std::string::npos ||
        header.name.find_first_of("\r\n") != std::string::npos) {
      Fail("CR or LF in an accepted header");
    }
  }
  if (next != request.headers.size()) Fail("a header was added");

  static const char kHex[] = "0123456789ABCDEF";
  const std::string path = FieldText(record.path, ostrel::kPathWidth);
  const std::string& target = request.target;
  if (target.empty() || target[0] != '/') Fail("the target does not start with /");
  std::size_t at = 1;
  for (char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if (MayStandInTarget(byte)) {
      if (at >= target.size() || target[at] != c) Fail("a path byte changed in the target");
      at += 1;
    } else {
      if (target.compare(at, 3, std::string{'%', kHex[byte >> 4], kHex[byte & 0x0F]}) != 0) {
        Fail("a path byte was not percent-encoded");
      }
      at += 3;
    }
  }
  if (at != target.size()) Fail("the target holds more than the path");
  for (char c : target) {
    if (!MayStandInTarget(static_cast<unsigned char>(c))) Fail("an illegal byte in the target");
  }
  const bool hasBody = record.bodyLength > 0;
  if (request.body != (hasBody ? record.body : nullptr) ||
      request.bodyLength != static_cast<std::size_t>(record.bodyLength)) {
    Fail("the body is not the record's");
  }
}

bool AllZero(const std::uint8_t* bytes, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::uint8_t raw[kRecordSize] = {};
  std::memcpy(raw, data, std::min(size, kRecordSize));
  const std::uint8_t* rest = data + std::min(size, kRecordSize);
  std::size_t restSize = size - std::min(size, kRecordSize);

  auto record = std::make_unique<RestRequest>();
  std::memcpy(record.get(), raw, kRecordSize);

  // Header items: exactly as many as the record may read.
  const std::size_t itemsPresent = std::min(restSize / kItemSize, kMostItems);
  if (record->headerCount <= kMostHeaders && record->headerCount > itemsPresent) {
    record->headerCount = static_cast<std::uint32_t>(itemsPresent);
  }
  const std::size_t items = std::min<std::size_t>(record->headerCount, itemsPresent);
  std::unique_ptr<HttpHeaderItem[]> headers(new HttpHeaderItem[items]);
  if (items > 0) std::memcpy(headers.get(), rest, items * kItemSize);
  rest += items * kItemSize;
  restSize -= items * kItemSize;
  record->headers = AllZero(raw + offsetof(RestRequest, headers), 8) ? nullptr : headers.get();

  // The body: its bytes and the terminator the record promises, none of which may be read.
  if (record->bodyLength > 0 && static_cast<std::size_t>(record->bodyLength) > restSize) {
    record->bodyLength = static_cast<std::int32_t>(restSize);
  }
  const std::size_t bodyBytes = record->bodyLength > 0 ? record->bodyLength : 0;
  std::unique_ptr<char[]> body(new char[bodyBytes + 1]);
  if (bodyBytes > 0) std::memcpy(body.get(), rest, bodyBytes);
  body[bodyBytes] = '\0';
  record->body = AllZero(raw + offsetof(RestRequest, body), 8) ? nullptr : body.get();

  const auto* base = reinterpret_cast<const unsigned char*>(record.get());
  const std::size_t pathEnd = offsetof(RestRequest, path) + ostrel::kPathWidth;
  const std::size_t countEnd = offsetof(RestRequest, headerCount) + sizeof(std::uint32_t);
  const Poisoned afterPath(base + pathEnd, offsetof(RestRequest, headerCount) - pathEnd);
  const Poisoned afterCount(base + countEnd, offsetof(RestRequest, headers) - countEnd);
  const Poisoned reserved(base + offsetof(RestRequest, reserved), sizeof(record->reserved));
  const Poisoned bodyOffLimits(body.get(), bodyBytes + 1);

  ostrel::HttpRequest request;
  const int code = ostrel::BuildHttpRequest(*record, request);
  const bool acceptable = Acceptable(*record);
  if (code == ZENTA_OK) {
    if (!acceptable) Fail("a record against the rules was accepted");
    CheckAccepted(*record, request);
  } else {
    if (acceptable) Fail("a record within the rules was refused");
    if (code != ZENTA_E_BAD_RECORD && code != ZENTA_E_BAD_METHOD && code != ZENTA_E_BAD_HEADER) {
      Fail("a refusal with an unexpected code");
    }
  }
  return 0;
}
