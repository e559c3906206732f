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

// The three standard headers written into items, whose bytes are zero, ordered by name:
// "Accept-Language" (the language setting), "Content-Type" ("application/json;charset=UTF-8"),
// "Time-Zone" (the time-zone setting); names and values copied, each cut to its field. Returns
// false when a setting is longer than the 1024 bytes of its field: the request cycle then
// refuses the request.
constexpr std::uint32_t kStandardHeaderCount = 3;
bool FillHeaderList(HttpHeaderItem* items);

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

// Reads the answer envelope from NUL-terminated text (null allowed) and notes it on the thread's
// LastCall (kAnswer, or kUnreadable). Text that does not parse to a JSON object writes one log
// record (level 6) with the parser's message.
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

// How the calling thread's last operation ended. A server may send any code, also one that
// the gateway, the library or the C interface uses for its own failures; this record tells them
// apart for ErrorMessage and for the C interface's callers, who see the number alone.
enum class Outcome {
  kNone,            // no operation yet, or it ended before its request was handed over
  kAnswer,          // the server answered; status is its code (0 for its success)
  kUnreadable,      // an answer arrived that could not be read; status -1, detail the request
  kChannelRefused,  // the server listed the channel as failed when setting volumes; status -1
  kGateway,         // the gateway's code: the request did not complete
  kNotSent,         // kRequestTooLong: the request did not fit its records
  kInterface,       // the C interface's own failure; detail is the exception's text, if any
};
struct LastCall {
  Outcome outcome = Outcome::kNone;
  int status = 0;
  char detail[kMethodWidth + 2 + kPathWidth + 1] = "";  // room for "METHOD /path"
};

// The calling thread's record. NoteLastCall never throws (it runs inside catch handlers) and
// cuts detail to the record's room; ForgetLastCall makes it kNone.
const LastCall& LastCallOnThread() noexcept;
void NoteLastCall(Outcome outcome, int status, const char* detail = "") noexcept;
void ForgetLastCall() noexcept;

// One request from start to release. The cycle holds both records and the header array,
// zero-filled when it is made; the constructor fills path, method and the standard headers through
// the helpers above, and Send hands the request to the gateway, or returns kRequestTooLong without
// calling it when the path or a setting did not fit its field. The destructor releases, on every
// exit including exceptions and in this order: the answer and the auxBuffer through the gateway,
// the body; the records and the header array end with the cycle itself.
class RequestCycle {
 public:
  // A path without arguments is its own text: a "%" in it is not a conversion.
  template <typename... Args>
  RequestCycle(const char* method, const char* pathFormat, Args... pathArgs) {
    ZeroRecords();
    bool pathFits = false;
    if constexpr (sizeof...(Args) == 0) {
      pathFits = SetRequestPath(&request_, "%s", pathFormat);
    } else {
      pathFits = SetRequestPath(&request_, pathFormat, pathArgs...);
    }
    FillMethodAndHeaders(method, pathFits);
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
  // What every JSON operation does: sends; a status other than 0 from Send (a gateway
  // code, kRequestTooLong) is returned as it is, with read never called; else the answer envelope
  // is read, read(data) fills the caller's outputs (the data of a refusal too, which is null or the
  // server's) and the envelope's code is returned: 0 for the server's success, -1 for an unreadable
  // answer, else the server's.
  template <typename Read>
  int SendAndRead(int handle, Read read) {
    const int status = Send(handle);
    if (status != 0) return status;
    const BaseResponse answer = ReadAnswer();
    read(answer.data);
    return answer.code;
  }
  // The answer envelope of a sent request; an unreadable one is noted with the request's
  // method and path.
  BaseResponse ReadAnswer() const;
  // Notes that the answer could not be read (the request names the operation) and returns -1.
  int Unreadable() const;
  const RestResponse& Response() const { return response_; }

 private:
  // Zeroes every byte of both records, padding included, which member-wise initialisation does
  // not promise.
  void ZeroRecords();
  // The method and the standard headers; fits_ tells whether the path and the settings fitted.
  void FillMethodAndHeaders(const char* method, bool pathFits);

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
