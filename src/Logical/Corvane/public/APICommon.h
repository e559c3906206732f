// The request frame shared by every operation: the records handed to the gateway, the
// process-wide client settings, the helpers that fill a request, the request cycle and the
// reader of the server's answer envelope.
#ifndef CORVANE_APICOMMON_H
#define CORVANE_APICOMMON_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "quim/Json.h"

namespace Corvane {

// One header of a request, read byte for byte by the gateway. Name and value are NUL-padded;
// a field filled to its width has no terminator, the length fields say how much is used.
struct HttpHeaderItem {
  char name[256];
  std::uint32_t nameLength;
  char value[1024];
  std::uint32_t valueLength;
};

// The request record, read byte for byte by the gateway; zero-filled before any field is set.
struct RestRequest {
  char* body;               // JSON body, NUL-terminated; null without a body
  std::int32_t bodyLength;  // bytes of body without the terminator
  char method[10];          // NUL-padded; 10 characters leave no terminator
  char path[2048];          // path without its leading "/", NUL-padded
  std::uint32_t headerCount;
  HttpHeaderItem* headers;
  std::uint64_t reserved;  // never written
};

// The response record, filled by the gateway. answer and auxBuffer belong to the gateway and go
// back to it through ZENTA_ReleaseDataBuffer.
struct RestResponse {
  unsigned char reserved[32];
  char* answer;
  std::int32_t answerLength;
  void* auxBuffer;
};

// The layouts are a binary contract with the gateway: every offset and size is fixed.
static_assert(sizeof(void*) == 8, "the gateway records are laid out for 64-bit pointers");
static_assert(offsetof(HttpHeaderItem, name) == 0 && offsetof(HttpHeaderItem, nameLength) == 256 &&
                  offsetof(HttpHeaderItem, value) == 260 &&
                  offsetof(HttpHeaderItem, valueLength) == 1284 && sizeof(HttpHeaderItem) == 1288,
              "HttpHeaderItem layout");
static_assert(offsetof(RestRequest, body) == 0 && offsetof(RestRequest, bodyLength) == 8 &&
                  offsetof(RestRequest, method) == 12 && offsetof(RestRequest, path) == 22 &&
                  offsetof(RestRequest, headerCount) == 2072 &&
                  offsetof(RestRequest, headers) == 2080 &&
                  offsetof(RestRequest, reserved) == 2088 && sizeof(RestRequest) == 2096,
              "RestRequest layout");
static_assert(offsetof(RestResponse, reserved) == 0 && offsetof(RestResponse, answer) == 32 &&
                  offsetof(RestResponse, answerLength) == 40 &&
                  offsetof(RestResponse, auxBuffer) == 48 && sizeof(RestResponse) == 56,
              "RestResponse layout");

// The process-wide settings written by SetLangauage, SetTimeZone and SetMacAddress.
struct ClientSettings {
  std::string language;
  std::string timeZone;
  std::string macAddress;
};

// Copies of the current settings. Requests read the settings in place as they are built: the
// setters are not called while operations run.
std::string GetLanguage();
std::string GetTimeZone();
std::string GetMacAddress();

// Widths of the record fields, and the formatting capacity of a path (terminator included).
constexpr std::size_t kMethodWidth = sizeof(RestRequest::method);
constexpr std::size_t kPathWidth = sizeof(RestRequest::path);
constexpr std::size_t kHeaderNameWidth = sizeof(HttpHeaderItem::name);
constexpr std::size_t kHeaderValueWidth = sizeof(HttpHeaderItem::value);
constexpr std::size_t kPathFormatCapacity = 1280;

// Formats the path printf-style and stores it without its one leading "/". Arguments are
// inserted verbatim (no escaping). An empty text leaves path untouched. Returns false, leaving
// path untouched, when the formatted text has 1280 characters or more: a path cut to fit would
// name another resource, so the request cycle refuses it. Does nothing (true) when request or
// format is null.
bool SetRequestPath(RestRequest* request, const char* format, ...)
#if defined(__GNUC__) || defined(__clang__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// Stores the method NUL-padded; a method longer than 10 characters is cut to its first 10.
// Does nothing when request is null.
void SetRequestMethod(RestRequest* request, std::string_view method);

// The path of a request from a format whose only conversions are "%s", and their texts in
// order: exactly what SetRequestPath makes of them, written without the runtime's formatter.
// Returns 1 when stored (or left untouched, for an empty text), 0 when the text has 1280
// characters or more (path untouched), -1 when the format holds another conversion or a text
// is null: then nothing is written and SetRequestPath must format it.
int ComposeRequestPath(RestRequest* request, const char* format, const char* const* texts,
                       std::size_t count);

// The number of standard headers, and their values written into items, whose bytes are zero:
// names and values copied, each cut to its field. Returns false when a setting is longer than
// its field.
constexpr std::uint32_t kStandardHeaderCount = 3;
bool FillHeaderList(HttpHeaderItem* items);

// Allocates the three standard headers, ordered by name: "Accept-Language" (language setting),
// "Content-Type" ("application/json;charset=UTF-8"), "Time-Zone" (time-zone setting). The array
// is owned by whoever owns the request (new[], freed with delete[]). Returns false when a setting
// is longer than the 1024 bytes of its field: its value is then cut to the field (never written
// past it), and the request cycle refuses the request. A null headers address sets the count to 0
// and allocates nothing.
bool BuildHeaderList(HttpHeaderItem** headers, std::uint32_t* headerCount);

// Serialises body compactly into a new[] buffer of bodyLength + 1 bytes ending with NUL. A null
// request or a null body value leaves the request without a body.
void SetRequestBody(RestRequest* request, const quim::Json::Value& body);

// Sets "clientType", "clientMac" (the MAC address setting) and "project" on body, making a
// null value an object.
void AddClientIdentity(quim::Json::Value& body);

// The server's answer envelope: code 0 for success (the server's 1000), -1 when the answer is
// missing or unreadable, the server's code otherwise; data is the answer's "data" or null.
struct BaseResponse {
  int code = -1;
  quim::Json::Value data;
};

// Reads the answer envelope from NUL-terminated text (null allowed). Text that does not parse
// to a JSON object writes one log record (level 6) with the parser's message.
BaseResponse ReadBaseResponse(const char* answer);

// Member readers that never throw on their own account (the member's conversion may).
int GetIntField(const quim::Json::Value& object, std::string_view name, int defaultValue);
std::int64_t GetInt64Field(const quim::Json::Value& object, std::string_view name,
                           std::int64_t defaultValue);
std::string GetStringField(const quim::Json::Value& object, std::string_view name);
quim::Json::Value GetMemberOrNull(const quim::Json::Value& value, std::string_view name);
bool IsNonNullArray(const quim::Json::Value& value);

// The "results" array of an answer's data where it lies (no copy), or null when data has no such
// array.
const quim::Json::Value* FindResults(const quim::Json::Value& data);

// Calls each(element) for every element of the "results" array of an answer's data; does
// nothing when data has no such array. The list operations read their answers through it, or
// through AppendResults below.
template <typename Each>
void ForEachResult(const quim::Json::Value& data, Each each) {
  const quim::Json::Value* results = FindResults(data);
  if (results == nullptr) return;
  for (quim::Json::Value::ArrayIndex i = 0; i < results->size(); ++i) each((*results)[i]);
}

// Appends read(element) to out for every element of "results", with room made for all of them
// first.
template <typename T, typename Read>
void AppendResults(const quim::Json::Value& data, std::vector<T>& out, Read read) {
  const quim::Json::Value* results = FindResults(data);
  if (results == nullptr) return;
  out.reserve(out.size() + results->size());
  for (quim::Json::Value::ArrayIndex i = 0; i < results->size(); ++i) {
    out.push_back(read((*results)[i]));
  }
}

// One request from start to release. The cycle holds both records, zero-filled when it is made;
// the constructor fills path, method and the standard headers through the helpers above, and
// Send hands the request to the gateway, or returns kRequestTooLong without calling it when the
// path or a setting did not fit its field. The destructor releases, on every exit including
// exceptions and in this order: the answer and the auxBuffer through the gateway, the body; the
// records and the header array end with the cycle itself.
class RequestCycle {
 public:
  template <typename... Args>
  RequestCycle(const char* method, const char* pathFormat, Args... pathArgs) {
    ZeroRecords();
    bool fits = false;
    if constexpr ((std::is_same_v<Args, const char*> && ...)) {
      // A fixed path is its own text, and texts put in for "%s" go in as they are: both are
      // composed directly; any other conversion goes through the formatter.
      const char* const texts[sizeof...(Args) + 1] = {pathArgs..., nullptr};
      const char* const* first = sizeof...(Args) == 0 ? &pathFormat : texts;
      const int composed = ComposeRequestPath(&request_, sizeof...(Args) == 0 ? "%s" : pathFormat,
                                              first, sizeof...(Args) == 0 ? 1 : sizeof...(Args));
      if constexpr (sizeof...(Args) == 0) {
        fits = composed >= 0 ? composed == 1 : SetRequestPath(&request_, "%s", pathFormat);
      } else {
        fits = composed >= 0 ? composed == 1 : SetRequestPath(&request_, pathFormat, pathArgs...);
      }
    } else {
      fits = SetRequestPath(&request_, pathFormat, pathArgs...);
    }
    SetRequestMethod(&request_, method);
    // The header array is the cycle's own, zero-filled with the records: the gateway reads the
    // same bytes as from BuildHeaderList's, without an allocation per request.
    request_.headers = headers_;
    request_.headerCount = kStandardHeaderCount;
    fits_ = FillHeaderList(headers_) && fits;
  }
  ~RequestCycle();
  RequestCycle(const RequestCycle&) = delete;
  RequestCycle& operator=(const RequestCycle&) = delete;

  // Starts the body with the client identity; the operation adds its own members.
  static quim::Json::Value IdentityBody();
  // Serialises the body into the request; the tree goes with the call, before the answer is read.
  void SetBody(quim::Json::Value body) { SetRequestBody(&request_, body); }

  // Calls the gateway; returns its status (0: the response record is filled), or kRequestTooLong
  // when the request did not fit its records (nothing is sent).
  int Send(int handle);
  // The exchange every JSON operation makes: sends; a status other than 0 from Send (a gateway
  // code, kRequestTooLong) is returned as it is, with read never called; else the answer envelope
  // is read, read(data) fills the caller's outputs (the data of a refusal too, which is null or the
  // server's) and the envelope's code is returned: 0 for the server's success, -1 for an unreadable
  // answer, else the server's.
  template <typename Read>
  int Exchange(int handle, Read read) {
    const int status = Send(handle);
    if (status != 0) return status;
    const BaseResponse answer = ReadAnswer();
    read(answer.data);
    return answer.code;
  }
  // The answer envelope of a sent request.
  BaseResponse ReadAnswer() const { return ReadBaseResponse(response_.answer); }
  const RestResponse& Response() const { return response_; }

 private:
  // Zeroes every byte of both records, padding included, which member-wise initialisation does
  // not promise.
  void ZeroRecords();

  RestResponse response_;
  RestRequest request_;
  HttpHeaderItem headers_[kStandardHeaderCount];
  bool fits_ = true;
};

// Text to int as std::stoi in base 10 (leading blanks, sign, digits; the rest ignored), with the
// messages "invalid stoi argument" and "stoi argument out of range" on every platform.
int StoiBase10(const std::string& text);

}  // namespace Corvane

#endif  // CORVANE_APICOMMON_H
