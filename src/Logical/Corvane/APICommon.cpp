#include "APICommon.h"

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "Corvane.h"
#include "quim/Vantrix.h"
#include "zenta/ZentaSdk.h"

namespace Corvane {
namespace {

// The server's message of the last answer read on this thread (LastServerMessage).
thread_local std::string lastServerMessage;

// The settings of SetLangauage, SetTimeZone and SetMacAddress, read in place by every request.
struct ClientSettings {
  std::string language;
  std::string timeZone;
  std::string macAddress;
};

ClientSettings& Settings() {
  static ClientSettings settings;
  return settings;
}

// Copies at most width bytes of text into a zero-filled field; returns the bytes copied.
std::uint32_t CopyIntoZeroedField(char* field, std::size_t width, std::string_view text) {
  std::size_t n = text.size() < width ? text.size() : width;
  std::memcpy(field, text.data(), n);
  return static_cast<std::uint32_t>(n);
}

}  // namespace

bool SetRequestPath(RestRequest* request, const char* format, ...) {
  if (request == nullptr || format == nullptr) return true;
  char text[kPathFormatCapacity];
  va_list args;
  va_start(args, format);
  const int formatted = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  // From 1280 characters on the text is refused, not cut. The text ends at its first NUL (a "%c"
  // of NUL ends it early); an empty one leaves the field as it was; one leading "/" is dropped.
  if (formatted < 0 || static_cast<std::size_t>(formatted) >= sizeof text) return false;
  const std::size_t length = std::strlen(text);
  if (length == 0) return true;
  const std::size_t skip = text[0] == '/' ? 1 : 0;
  std::memset(request->path, 0, kPathWidth);
  std::memcpy(request->path, text + skip, length - skip);
  return true;
}

void SetRequestMethod(RestRequest* request, std::string_view method) {
  if (request == nullptr) return;
  std::memset(request->method, 0, kMethodWidth);
  CopyIntoZeroedField(request->method, kMethodWidth, method);
}

bool FillHeaderList(HttpHeaderItem* items) {
  const ClientSettings& settings = Settings();
  // Ordered by byte-wise comparison of the names, which is the order the gateway receives.
  const std::string_view entries[kStandardHeaderCount][2] = {
      {"Accept-Language", settings.language},
      {"Content-Type", "application/json;charset=UTF-8"},
      {"Time-Zone", settings.timeZone},
  };
  for (std::uint32_t i = 0; i < kStandardHeaderCount; ++i) {
    items[i].nameLength = CopyIntoZeroedField(items[i].name, kHeaderNameWidth, entries[i][0]);
    items[i].valueLength = CopyIntoZeroedField(items[i].value, kHeaderValueWidth, entries[i][1]);
  }
  return settings.language.size() <= kHeaderValueWidth &&
         settings.timeZone.size() <= kHeaderValueWidth;
}

void SetRequestBody(RestRequest* request, const quim::Json::Value& body) {
  if (request == nullptr || body.isNull()) return;
  std::string text = quim::Json::FastWriter().write(body);
  char* buffer = new char[text.size() + 1]();
  std::memcpy(buffer, text.data(), text.size());
  delete[] request->body;  // a second body replaces the first
  request->body = buffer;
  request->bodyLength = static_cast<std::int32_t>(text.size());
}

BaseResponse ReadBaseResponse(const char* answer) {
  BaseResponse result;
  if (answer == nullptr) {
    NoteLastCall(Outcome::kUnreadable, -1);
    return result;
  }
  quim::Json::Value root;
  std::string errors;
  // The reader that CharReaderBuilder makes, without allocating one.
  bool parsed = quim::Json::Parse(answer, root, &errors);
  if (parsed && root.isObject()) {
    result.code = GetIntField(root, "code", -1);
    if (result.code == 1000) result.code = 0;
    if (const quim::Json::Value* data = root.find("data")) result.data = *data;
    // The server's own words, when it sent them as text, for LastServerMessage.
    const quim::Json::Value* message = root.find("message");
    if (message != nullptr && message->isString()) lastServerMessage = message->asString();
    NoteLastCall(Outcome::kAnswer, result.code);
    return result;
  }
  // The one log record of the library; callers match it by file, line (keep it 111) and function.
  quim::Vantrix::instance().Log(__FILE__, __LINE__, "Corvane::ReadBaseResponse", "", 6,
                                "json parse fail, msg = %s\n", errors.c_str());
  NoteLastCall(Outcome::kUnreadable, -1);
  return result;
}

void AddClientIdentity(quim::Json::Value& body) {
  body["clientType"] = quim::Json::Value("WINPC_V2");
  body["clientMac"] = quim::Json::Value(Settings().macAddress);
  body["project"] = quim::Json::Value("QIRO");
}

int GetIntField(const quim::Json::Value& object, std::string_view name, int defaultValue) {
  const quim::Json::Value* member = object.find(name);
  return member != nullptr ? member->asInt() : defaultValue;
}

std::int64_t GetInt64Field(const quim::Json::Value& object, std::string_view name,
                           std::int64_t defaultValue) {
  const quim::Json::Value* member = object.find(name);
  return member != nullptr ? member->asInt64() : defaultValue;
}

std::string GetStringField(const quim::Json::Value& object, std::string_view name) {
  const quim::Json::Value* member = object.find(name);
  return member != nullptr ? member->asString() : std::string();
}

quim::Json::Value GetMemberOrNull(const quim::Json::Value& value, std::string_view name) {
  const quim::Json::Value* member = value.find(name);
  return member != nullptr ? *member : quim::Json::Value();
}

bool IsNonNullArray(const quim::Json::Value& value) { return value.isArray(); }

const quim::Json::Value* FindResults(const quim::Json::Value& data) {
  const quim::Json::Value* results = data.find("results");
  return results != nullptr && IsNonNullArray(*results) ? results : nullptr;
}

void RequestCycle::ZeroRecords() {
  std::memset(static_cast<void*>(&response_), 0, sizeof response_);
  std::memset(static_cast<void*>(&request_), 0, sizeof request_);
  std::memset(static_cast<void*>(headers_), 0, sizeof headers_);
}

void RequestCycle::FillMethodAndHeaders(const char* method, bool pathFits) {
  SetRequestMethod(&request_, method);
  request_.headers = headers_;
  request_.headerCount = kStandardHeaderCount;
  fits_ = FillHeaderList(headers_) && pathFits;
}

RequestCycle::~RequestCycle() {
  if (response_.answer != nullptr) ZENTA_ReleaseDataBuffer(response_.answer);
  if (response_.auxBuffer != nullptr) ZENTA_ReleaseDataBuffer(response_.auxBuffer);
  delete[] request_.body;
  request_.body = nullptr;
  request_.headers = nullptr;  // the cycle's own array
}

quim::Json::Value RequestCycle::IdentityBody() {
  quim::Json::Value body;
  AddClientIdentity(body);
  return body;
}

namespace {
thread_local LastCall lastCall;  // LastCallOnThread
}  // namespace

int RequestCycle::Send(int handle) {
  lastServerMessage.clear();
  if (!fits_) {
    NoteLastCall(Outcome::kNotSent, kRequestTooLong);
    return kRequestTooLong;
  }
  const int status =
      ZENTA_GeneralJsonRequest(handle, &request_, static_cast<int>(sizeof(RestRequest)), &response_,
                               static_cast<int>(sizeof(RestResponse)));
  NoteLastCall(status == 0 ? Outcome::kAnswer : Outcome::kGateway, status);
  return status;
}

BaseResponse RequestCycle::ReadAnswer() const {
  BaseResponse answer = ReadBaseResponse(response_.answer);
  if (lastCall.outcome == Outcome::kUnreadable) Unreadable();
  return answer;
}

int RequestCycle::Unreadable() const {
  char request[sizeof lastCall.detail];
  std::snprintf(request, sizeof request, "%.*s /%.*s", static_cast<int>(kMethodWidth),
                request_.method, static_cast<int>(kPathWidth), request_.path);
  NoteLastCall(Outcome::kUnreadable, -1, request);
  return -1;
}

const LastCall& LastCallOnThread() noexcept { return lastCall; }

void NoteLastCall(Outcome outcome, int status, const char* detail) noexcept {
  lastCall.outcome = outcome;
  lastCall.status = status;
  std::snprintf(lastCall.detail, sizeof lastCall.detail, "%s", detail);
}

void ForgetLastCall() noexcept { NoteLastCall(Outcome::kNone, 0); }

void SetLanguage(std::string language) { Settings().language = std::move(language); }
void SetLangauage(std::string language) { SetLanguage(std::move(language)); }
void SetMacAddress(std::string macAddress) { Settings().macAddress = std::move(macAddress); }
void SetTimeZone(std::string timeZone) { Settings().timeZone = std::move(timeZone); }

std::string LastServerMessage() { return lastServerMessage; }

int StoiBase10(const std::string& text) {
  const char* p = text.c_str();
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  if (*p < '0' || *p > '9') throw std::invalid_argument("invalid stoi argument");
  // Accumulate as a negative number so that INT_MIN is reachable without overflow.
  long long value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 - (*p - '0');
    if (value < INT_MIN) throw std::out_of_range("stoi argument out of range");
  }
  if (!negative) {
    if (value < -static_cast<long long>(INT_MAX)) {
      throw std::out_of_range("stoi argument out of range");
    }
    value = -value;
  }
  return static_cast<int>(value);
}

}  // namespace Corvane
