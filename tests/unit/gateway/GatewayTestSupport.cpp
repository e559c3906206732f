#include "GatewayTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace gateway_test {
namespace {

constexpr std::size_t kBodyOffset = 0;
constexpr std::size_t kBodyLengthOffset = 8;
constexpr std::size_t kMethodOffset = 12;
constexpr std::size_t kMethodWidth = 10;
constexpr std::size_t kPathOffset = 22;
constexpr std::size_t kPathWidth = 2048;
constexpr std::size_t kHeaderCountOffset = 2072;
constexpr std::size_t kHeadersOffset = 2080;
constexpr std::size_t kNameLengthOffset = 256;
constexpr std::size_t kValueOffset = 260;
constexpr std::size_t kValueLengthOffset = 1284;
constexpr std::size_t kAnswerOffset = 32;
constexpr std::size_t kAnswerLengthOffset = 40;
constexpr std::size_t kAuxBufferOffset = 48;

template <typename Value>
void Store(unsigned char* at, Value value) {
  std::memcpy(at, &value, sizeof value);
}

template <typename Value>
Value Load(const unsigned char* at) {
  Value value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

void StoreText(unsigned char* at, std::size_t width, const std::string& text) {
  std::memset(at, 0, width);
  std::memcpy(at, text.data(), std::min(width, text.size()));
}

}  // namespace

RequestRecord::RequestRecord(const std::string& method, const std::string& path) {
  Method(method);
  Path(path);
}

RequestRecord& RequestRecord::Method(const std::string& method) {
  StoreText(&bytes_[kMethodOffset], kMethodWidth, method);
  return *this;
}

RequestRecord& RequestRecord::Path(const std::string& path) {
  StoreText(&bytes_[kPathOffset], kPathWidth, path);
  return *this;
}

RequestRecord& RequestRecord::Header(const std::string& name, const std::string& value) {
  return RawHeader(name, static_cast<std::uint32_t>(name.size()), value,
                   static_cast<std::uint32_t>(value.size()));
}

RequestRecord& RequestRecord::RawHeader(const std::string& name, std::uint32_t nameLength,
                                        const std::string& value, std::uint32_t valueLength) {
  const std::size_t at = headerItems_.size();
  headerItems_.resize(at + kHeaderItemSize);
  unsigned char* item = &headerItems_[at];
  StoreText(item, kNameLengthOffset, name);
  Store(item + kNameLengthOffset, nameLength);
  StoreText(item + kValueOffset, kValueLengthOffset - kValueOffset, value);
  Store(item + kValueLengthOffset, valueLength);
  nullHeaders_ = false;
  headerCount_ = static_cast<std::uint32_t>(headerItems_.size() / kHeaderItemSize);
  return *this;
}

RequestRecord& RequestRecord::Body(const std::string& body) {
  body_ = body;
  nullBody_ = false;
  bodyLength_ = static_cast<std::int32_t>(body.size());
  return *this;
}

RequestRecord& RequestRecord::BodyFields(bool nullBody, std::int32_t bodyLength) {
  nullBody_ = nullBody;
  bodyLength_ = bodyLength;
  return *this;
}

RequestRecord& RequestRecord::HeaderFields(bool nullHeaders, std::uint32_t headerCount) {
  nullHeaders_ = nullHeaders;
  headerCount_ = headerCount;
  return *this;
}

RequestRecord& RequestRecord::Poke(std::size_t offset, unsigned char byte) {
  bytes_.at(offset) = byte;
  return *this;
}

void* RequestRecord::Get() {
  Store<const char*>(&bytes_[kBodyOffset], nullBody_ ? nullptr : body_.c_str());
  Store(&bytes_[kBodyLengthOffset], bodyLength_);
  Store(&bytes_[kHeaderCountOffset], headerCount_);
  Store<const unsigned char*>(&bytes_[kHeadersOffset],
                              nullHeaders_ || headerItems_.empty() ? nullptr : headerItems_.data());
  return bytes_.data();
}

char* ResponseRecord::Answer() const { return Load<char*>(&bytes[kAnswerOffset]); }

std::int32_t ResponseRecord::AnswerLength() const {
  return Load<std::int32_t>(&bytes[kAnswerLengthOffset]);
}

void* ResponseRecord::AuxBuffer() const { return Load<void*>(&bytes[kAuxBufferOffset]); }

Outcome Send(int handle, RequestRecord& record) {
  ResponseRecord response;
  Outcome outcome;
  outcome.code =
      ZENTA_GeneralJsonRequest(handle, record.Get(), RequestRecord::kSize, response.bytes.data(),
                               static_cast<int>(response.bytes.size()));
  if (char* answer = response.Answer()) {
    EXPECT_EQ(outcome.code, ZENTA_OK) << "an answer buffer was left after a failure";
    const std::int32_t length = response.AnswerLength();
    EXPECT_GE(length, 0);
    outcome.answer.assign(answer, static_cast<std::size_t>(std::max(length, 0)));
    outcome.terminated = answer[std::max(length, 0)] == '\0';
    EXPECT_EQ(ZENTA_ReleaseDataBuffer(answer), ZENTA_OK);
  } else {
    EXPECT_NE(outcome.code, ZENTA_OK) << "success without an answer buffer";
  }
  if (void* aux = response.AuxBuffer()) {
    EXPECT_EQ(ZENTA_ReleaseDataBuffer(aux), ZENTA_OK);
  }
  return outcome;
}

std::string NextConnection(const std::string& url) {
  Session probe(url);
  RequestRecord record("GET", "probe");
  return ParseEcho(Send(probe.Handle(), record).answer).connection;
}

}  // namespace gateway_test
