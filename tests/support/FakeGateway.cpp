#include "FakeGateway.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "zenta/ZentaSdk.h"

namespace corvane_test {
namespace {

// The binding layout, read here independently of the library's own declarations.
constexpr std::size_t kRequestSize = 2096, kResponseSize = 56, kHeaderSize = 1288;
constexpr std::size_t kBodyAt = 0, kBodyLengthAt = 8, kMethodAt = 12, kMethodWidth = 10,
                      kPathAt = 22, kPathWidth = 2048, kHeaderCountAt = 2072, kHeadersAt = 2080;
constexpr std::size_t kNameWidth = 256, kNameLengthAt = 256, kValueAt = 260, kValueWidth = 1024,
                      kValueLengthAt = 1284;
constexpr std::size_t kAnswerAt = 32, kAnswerLengthAt = 40, kAuxAt = 48;

template <typename T>
T ReadAt(const unsigned char* base, std::size_t offset) {
  T value;
  std::memcpy(&value, base + offset, sizeof value);
  return value;
}

template <typename T>
void WriteAt(unsigned char* base, std::size_t offset, T value) {
  std::memcpy(base + offset, &value, sizeof value);
}

std::string Field(const unsigned char* field, std::size_t width) {
  const void* nul = std::memchr(field, 0, width);
  std::size_t n = nul ? static_cast<const unsigned char*>(nul) - field : width;
  return std::string(reinterpret_cast<const char*>(field), n);
}

bool ZeroFrom(const unsigned char* field, std::size_t from, std::size_t width) {
  for (std::size_t i = from; i < width; ++i) {
    if (field[i] != 0) return false;
  }
  return true;
}

}  // namespace

FakeGateway& FakeGateway::Instance() {
  static FakeGateway* gateway = new FakeGateway();  // never destroyed: used until exit
  return *gateway;
}

void FakeGateway::Reset() {
  NotCounted notCounted;
  std::lock_guard<std::mutex> lock(mutex_);
  for (char* buffer : outstanding_) delete[] buffer;
  outstanding_.clear();
  answers_.clear();
  scripts_.clear();
  seen_.clear();
  releases_.clear();
}

void FakeGateway::Script(Reply reply) {
  NotCounted notCounted;
  std::lock_guard<std::mutex> lock(mutex_);
  scripts_.push_back(reply);  // a copy made here stays out of the test's allocation balance
}

SeenRequest FakeGateway::LastRequest() const {
  NotCounted notCounted;
  std::lock_guard<std::mutex> lock(mutex_);
  EXPECT_FALSE(seen_.empty()) << "the gateway saw no request";
  return seen_.empty() ? SeenRequest() : seen_.back();
}

std::vector<Release> FakeGateway::Releases() const {
  NotCounted notCounted;
  std::lock_guard<std::mutex> lock(mutex_);
  return releases_;
}

std::size_t FakeGateway::OutstandingBuffers() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return outstanding_.size();
}

int FakeGateway::Request(int handle, void* request, int requestSize, void* response,
                         int responseSize) {
  NotCounted notCounted;
  std::lock_guard<std::mutex> lock(mutex_);
  SeenRequest seen;
  seen.handle = handle;
  seen.requestSize = requestSize;
  seen.responseSize = responseSize;
  if (request == nullptr || response == nullptr || requestSize != int(kRequestSize) ||
      responseSize != int(kResponseSize)) {
    seen_.push_back(std::move(seen));
    return ZENTA_E_BAD_RECORD;
  }
  const auto* rec = static_cast<const unsigned char*>(request);
  auto* rsp = static_cast<unsigned char*>(response);
  seen.requestBytes.assign(rec, rec + kRequestSize);
  seen.responseBytes.assign(rsp, rsp + kResponseSize);
  seen.method = Field(rec + kMethodAt, kMethodWidth);
  seen.path = Field(rec + kPathAt, kPathWidth);
  const char* body = ReadAt<const char*>(rec, kBodyAt);
  seen.bodyLength = ReadAt<std::int32_t>(rec, kBodyLengthAt);
  if (body != nullptr) {
    seen.hasBody = true;
    seen.body.assign(body, static_cast<std::size_t>(std::max(seen.bodyLength, 0)));
    seen.bodyTerminated = body[std::max(seen.bodyLength, 0)] == '\0';
  }
  seen.headerCount = ReadAt<std::uint32_t>(rec, kHeaderCountAt);
  const auto* headers = ReadAt<const unsigned char*>(rec, kHeadersAt);
  for (std::uint32_t i = 0; headers != nullptr && i < seen.headerCount; ++i) {
    const unsigned char* item = headers + i * kHeaderSize;
    SeenHeader header;
    header.nameLength = ReadAt<std::uint32_t>(item, kNameLengthAt);
    header.valueLength = ReadAt<std::uint32_t>(item, kValueLengthAt);
    std::size_t nameUsed = std::min<std::size_t>(header.nameLength, kNameWidth);
    std::size_t valueUsed = std::min<std::size_t>(header.valueLength, kValueWidth);
    header.name.assign(reinterpret_cast<const char*>(item), nameUsed);
    header.value.assign(reinterpret_cast<const char*>(item + kValueAt), valueUsed);
    header.fieldsZeroPadded =
        ZeroFrom(item, nameUsed, kNameWidth) && ZeroFrom(item + kValueAt, valueUsed, kValueWidth);
    seen.headers.push_back(std::move(header));
  }
  seen_.push_back(std::move(seen));

  if (scripts_.empty()) return kUnscripted;
  Reply reply = std::move(scripts_.front());
  scripts_.erase(scripts_.begin());
  if (reply.answer) {
    const std::string& text = *reply.answer;
    char* buffer = new char[text.size() + 1];
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = '\0';
    outstanding_.push_back(buffer);
    answers_.push_back(buffer);
    WriteAt(rsp, kAnswerAt, buffer);
    WriteAt(rsp, kAnswerLengthAt,
            reply.answerLength.value_or(static_cast<std::int32_t>(text.size())));
  }
  if (reply.auxBuffer) {
    char* aux = new char[16]();
    outstanding_.push_back(aux);
    WriteAt(rsp, kAuxAt, static_cast<void*>(aux));
  }
  return reply.status;
}

int FakeGateway::ReleaseBuffer(void* buffer) {
  NotCounted notCounted;
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = std::find(outstanding_.begin(), outstanding_.end(), static_cast<char*>(buffer));
  if (buffer == nullptr || it == outstanding_.end()) {
    releases_.push_back(Release::kUnknown);
    return ZENTA_E_NULL_ARGUMENT;
  }
  const bool isAnswer = std::find(answers_.begin(), answers_.end(), *it) != answers_.end();
  releases_.push_back(isAnswer ? Release::kAnswer : Release::kAux);
  delete[] * it;
  outstanding_.erase(it);
  return 0;
}

}  // namespace corvane_test

extern "C" {
int ZENTA_GeneralJsonRequest(int handle, void* request, int requestSize, void* response,
                             int responseSize) {
  return corvane_test::FakeGateway::Instance().Request(handle, request, requestSize, response,
                                                       responseSize);
}
int ZENTA_ReleaseDataBuffer(void* buffer) {
  return corvane_test::FakeGateway::Instance().ReleaseBuffer(buffer);
}
}
