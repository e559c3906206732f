// The request and response records as they cross into the gateway. The layout is binding
// (little-endian, 64-bit pointers) and declared here on its own: the gateway never includes the
// client library's headers, so each side checks the same offsets independently.
#ifndef OSTREL_REQUESTRECORDS_H
#define OSTREL_REQUESTRECORDS_H

#include <cstddef>
#include <cstdint>

namespace ostrel {

constexpr std::size_t kNameWidth = 256;
constexpr std::size_t kValueWidth = 1024;
constexpr std::size_t kMethodWidth = 10;
constexpr std::size_t kPathWidth = 2048;

// One request header. Each text is NUL-padded and fills its field without a terminator at full
// width; the length fields say how many bytes count.
struct HttpHeaderItem {
  char name[kNameWidth];
  std::uint32_t nameLength;
  char value[kValueWidth];
  std::uint32_t valueLength;
};

struct RestRequest {
  char* body;               // NUL-terminated JSON text, or null
  std::int32_t bodyLength;  // bytes of body without the NUL; 0 without a body
  char method[kMethodWidth];
  char path[kPathWidth];  // without the leading "/"
  std::uint32_t headerCount;
  HttpHeaderItem* headers;
  unsigned char reserved[8];
};

struct RestResponse {
  unsigned char reserved[32];
  char* answer;
  std::int32_t answerLength;
  void* auxBuffer;
};

static_assert(sizeof(void*) == 8, "the record layout assumes 64-bit pointers");

static_assert(offsetof(HttpHeaderItem, name) == 0, "HttpHeaderItem layout");
static_assert(offsetof(HttpHeaderItem, nameLength) == 256, "HttpHeaderItem layout");
static_assert(offsetof(HttpHeaderItem, value) == 260, "HttpHeaderItem layout");
static_assert(offsetof(HttpHeaderItem, valueLength) == 1284, "HttpHeaderItem layout");
static_assert(sizeof(HttpHeaderItem) == 1288, "HttpHeaderItem layout");

static_assert(offsetof(RestRequest, body) == 0, "RestRequest layout");
static_assert(offsetof(RestRequest, bodyLength) == 8, "RestRequest layout");
static_assert(offsetof(RestRequest, method) == 12, "RestRequest layout");
static_assert(offsetof(RestRequest, path) == 22, "RestRequest layout");
static_assert(offsetof(RestRequest, headerCount) == 2072, "RestRequest layout");
static_assert(offsetof(RestRequest, headers) == 2080, "RestRequest layout");
static_assert(offsetof(RestRequest, reserved) == 2088, "RestRequest layout");
static_assert(sizeof(RestRequest) == 2096, "RestRequest layout");

static_assert(offsetof(RestResponse, reserved) == 0, "RestResponse layout");
static_assert(offsetof(RestResponse, answer) == 32, "RestResponse layout");
static_assert(offsetof(RestResponse, answerLength) == 40, "RestResponse layout");
static_assert(offsetof(RestResponse, auxBuffer) == 48, "RestResponse layout");
static_assert(sizeof(RestResponse) == 56, "RestResponse layout");

}  // namespace ostrel

#endif  // OSTREL_REQUESTRECORDS_H
