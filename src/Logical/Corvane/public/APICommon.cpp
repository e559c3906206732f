#include "APICommon.h"

#include <cerrno>
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

ClientSettings& Settings() {
  static ClientSettings settings;
  return settings;
}

// Copies at most width bytes of text into a zero-filled field; returns the bytes copied.
std::uint32_t CopyIntoField(char* field, std::size_t width, const std::string& text) {
  std::memset(field, 0, width);
  std::size_t n = text.size() < width ? text.size() : width;
  std::memcpy(field, text.data(), n);
  return static_cast<std::uint32_t>(n);
}

}  // namespace

void SetLangauage(std::string language) { Settings().language = std::move(language); }
void SetMacAddress(std::string macAddress) { Settings().macAddress = std::move(macAddress); }
void SetTimeZone(std::string timeZone) { Settings().timeZone = std::move(timeZone); }

std::string GetLanguage() { return Settings().language; }
std::string GetTimeZone() { return Settings().timeZone; }
std::string GetMacAddress() { return Settings().macAddress; }

void SetRequestPath(RestRequest* request, const char* format, ...) {
  if (request == nullptr || format == nullptr) return;
  char text[kPathFormatCapacity] = {};
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  std::size_t length = std::strlen(text);
  if (length == 0) return;
  std::memset(request->path, 0, kPathWidth);
  const char* from = text[0] == '/' ? text + 1 : text;
  std::memcpy(request->path, from, length - static_cast<std::size_t>(from - text));
}

void SetRequestMethod(RestRequest* request, const std::string& method) {
  if (request == nullptr) return;
  CopyIntoField(request->method, kMethodWidth, method);
}

void BuildHeaderList(HttpHeaderItem** headers, std::uint32_t* headerCount) {
  if (headers == nullptr) {
    if (headerCount != nullptr) *headerCount = 0;
    return;
  }
  // Ordered by byte-wise comparison of the names, which is the order the gateway receives.
  const std::string entries[][2] = {
      {"Accept-Language", GetLanguage()},
      {"Content-Type", "application/json;charset=UTF-8"},
      {"Time-Zone", GetTimeZone()},
  };
  constexpr std::uint32_t kCount = sizeof entries / sizeof entries[0];
  HttpHeaderItem* items = new HttpHeaderItem[kCount]();
  for (std::uint32_t i = 0; i < kCount; ++i) {
    items[i].nameLength = CopyIntoField(items[i].name, kHeaderNameWidth, entries[i][0]);
    items[i].valueLength = CopyIntoField(items[i].value, kHeaderValueWidth, entries[i][1]);
  }
  *headers = items;
  if (headerCount != nullptr) *headerCount = kCount;
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

void AddClientIdentity(quim::Json::Value& body) {
  body["clientType"] = quim::Json::Value("WINPC_V2");
  body["clientMac"] = quim::Json::Value(GetMacAddress());
  body["project"] = quim::Json::Value("QIRO");
}

BaseResponse ReadBaseResponse(const char* answer) {
  BaseResponse result;
  if (answer == nullptr) return result;
  quim::Json::CharReaderBuilder builder;
  std::unique_ptr<quim::Json::CharReader> reader(builder.newCharReader());
  quim::Json::Value root;
  std::string errors;
  bool parsed = reader->parse(answer, answer + std::strlen(answer), &root, &errors);
  if (parsed && root.isObject()) {
    result.code = GetIntField(root, "code", -1);
    if (result.code == 1000) result.code = 0;
    if (const quim::Json::Value* data = root.find("data")) result.data = *data;
    return result;
  }
  // The one log record of the library; callers match it by file, line and function.
  quim::Vantrix::instance().Log(__FILE__, __LINE__, "Corvane::ReadBaseResponse", "", 6,
                                "json parse fail, msg = %s\n", errors.c_str());
  return result;
}

int GetIntField(const quim::Json::Value& object, const std::string& name, int defaultValue) {
  const quim::Json::Value* member = object.find(name);
  return member != nullptr ? member->asInt() : defaultValue;
}

std::int64_t GetInt64Field(const quim::Json::Value& object, const std::string& name,
                           std::int64_t defaultValue) {
  const quim::Json::Value* member = object.find(name);
  return member != nullptr ? member->asInt64() : defaultValue;
}

std::string GetStringField(const quim::Json::Value& object, const std::string& name) {
  const quim::Json::Value* member = object.find(name);
  return member != nullptr ? member->asString() : std::string();
}

quim::Json::Value GetMemberOrNull(const quim::Json::Value& value, const std::string& name) {
  const quim::Json::Value* member = value.find(name);
  return member != nullptr ? *member : quim::Json::Value();
}

bool IsNonNullArray(const quim::Json::Value& value) { return value.isArray(); }

RequestCycle::RequestCycle() : response_(new RestResponse()), request_(new RestRequest()) {}

void RequestCycle::Init(const char* method) {
  SetRequestMethod(request_.get(), method);
  BuildHeaderList(&request_->headers, &request_->headerCount);
}

void RequestCycle::RequestDeleter::operator()(RestRequest* request) const noexcept {
  delete[] request->body;
  request->body = nullptr;
  delete[] request->headers;
  request->headers = nullptr;
  delete request;
}

RequestCycle::~RequestCycle() {
  if (response_->answer != nullptr) ZENTA_ReleaseDataBuffer(response_->answer);
  if (response_->auxBuffer != nullptr) ZENTA_ReleaseDataBuffer(response_->auxBuffer);
  request_.reset();
  response_.reset();
}

quim::Json::Value RequestCycle::IdentityBody() {
  quim::Json::Value body;
  AddClientIdentity(body);
  return body;
}

int RequestCycle::Send(int handle) {
  return ZENTA_GeneralJsonRequest(handle, request_.get(), static_cast<int>(sizeof(RestRequest)),
                                  response_.get(), static_cast<int>(sizeof(RestResponse)));
}

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
