#include "FakeGateway.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "zenta/ZentaSdk.h"

namespace corvane_test {
namespace {

// The binding layout of the two records and of one header item, as the gateway reads it.
constexpr std::size_t kRequestSize = 2096, kResponseSize = 56, kHeaderSize = 1288;

template <typename T>
T ReadAt(const unsigned char* base, std::size_t offset) {
  T value;
  std::memcpy(&value, base + offset, sizeof value);
  return value;
}

// The used part of a NUL-padded field: up to its first NUL, or up to `used` bytes when given;
// zeroPadded says whether every byte after it is NUL.
std::string Field(const unsigned char* field, std::size_t width, std::size_t used,
                  bool* zeroPadded) {
  if (used == std::string::npos) {
    const void* nul = std::memchr(field, 0, width);
    used = nul ? static_cast<const unsigned char*>(nul) - field : width;
  }
  used = std::min(used, width);
  if (zeroPadded)
    *zeroPadded = *zeroPadded &&
                  std::all_of(field + used, field + width, [](unsigned char c) { return c == 0; });
  return std::string(reinterpret_cast<const char*>(field), used);
}

}  // namespace

FakeGateway& FakeGateway::Instance() {
  static FakeGateway* gateway = new FakeGateway();  // never destroyed: used until exit
  return *gateway;
}

// The fake's bookkeeping is done with counting off, so that it stays out of a test's balance.
void FakeGateway::Reset() {
  NotCounted notCounted;
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& buffer : outstanding_) delete[] buffer.first;
  outstanding_.clear();
  scripts_.clear();
  seen_.clear();
  releases_.clear();
}

void FakeGateway::Script(Reply reply) {
  NotCounted notCounted;
  std::lock_guard<std::mutex> lock(mutex_);
  scripts_.push_back(reply);
}

SeenRequest FakeGateway::LastRequest() const {
  NotCounted notCounted;
  std::lock_guard<std::mutex> lock(mutex_);
  EXPECT_FALSE(seen_.empty()) << "the gateway saw no request";
  return seen_.empty() ? SeenRequest() : seen_.back();
}

std::size_t FakeGateway::RequestCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return seen_.size();
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

char* FakeGateway::HandOut(const std::string& bytes, bool isAnswer) {
  char* buffer = new char[bytes.size() + 1]();
  std::memcpy(buffer, bytes.data(), bytes.size());
  outstanding_.emplace_back(buffer, isAnswer ? Release::kAnswer : Release::kAux);
  return buffer;
}

int FakeGateway::Request(int handle, void* request, int requestSize, void* response,
                         int responseSize) {
  NotCounted notCounted;
  std::lock_guard<std::mutex> lock(mutex_);
  SeenRequest& seen = seen_.emplace_back();
  seen.handle = handle;
  seen.requestSize = requestSize;
  seen.responseSize = responseSize;
  if (requestSize != int(kRequestSize) || responseSize != int(kResponseSize)) {
    return ZENTA_E_BAD_RECORD;
  }
  const auto* rec = static_cast<const unsigned char*>(request);
  auto* rsp = static_cast<unsigned char*>(response);
  seen.requestBytes.assign(rec, rec + kRequestSize);
  seen.responseBytes.assign(rsp, rsp + kResponseSize);
  seen.method = Field(rec + 12, 10, std::string::npos, nullptr);
  seen.path = Field(rec + 22, 2048, std::string::npos, nullptr);
  const char* body = ReadAt<const char*>(rec, 0);
  seen.bodyLength = ReadAt<std::int32_t>(rec, 8);
  if (body != nullptr) {
    seen.hasBody = true;
    seen.body.assign(body, static_cast<std::size_t>(std::max(seen.bodyLength, 0)));
    seen.bodyTerminated = body[std::max(seen.bodyLength, 0)] == '\0';
  }
  seen.headerCount = ReadAt<std::uint32_t>(rec, 2072);
  const auto* headers = ReadAt<const unsigned char*>(rec, 2080);
  for (std::uint32_t i = 0; headers != nullptr && i < seen.headerCount; ++i) {
    const unsigned char* item = headers + i * kHeaderSize;
    SeenHeader& header = seen.headers.emplace_back();
    header.nameLength = ReadAt<std::uint32_t>(item, 256);
    header.valueLength = ReadAt<std::uint32_t>(item, 1284);
    header.name = Field(item, 256, header.nameLength, &header.fieldsZeroPadded);
    header.value = Field(item + 260, 1024, header.valueLength, &header.fieldsZeroPadded);
  }
  if (scripts_.empty()) return kUnscripted;
  const Reply reply = scripts_.front();
  scripts_.erase(scripts_.begin());
  if (reply.answer) {
    char* answer = HandOut(*reply.answer, true);
    const std::int32_t length =
        reply.answerLength.value_or(static_cast<std::int32_t>(reply.answer->size()));
    std::memcpy(rsp + 32, &answer, sizeof answer);
    std::memcpy(rsp + 40, &length, sizeof length);
  }
  if (reply.auxBuffer) {
    char* aux = HandOut(std::string(15, '\0'), false);
    std::memcpy(rsp + 48, &aux, sizeof aux);
  }
  return reply.status;
}

int FakeGateway::ReleaseBuffer(void* buffer) {
  NotCounted notCounted;
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = std::find_if(outstanding_.begin(), outstanding_.end(),
                         [buffer](const auto& entry) { return entry.first == buffer; });
  if (buffer == nullptr || it == outstanding_.end()) {
    releases_.push_back(Release::kUnknown);
    return ZENTA_E_NULL_ARGUMENT;
  }
  releases_.push_back(it->second);
  delete[] it->first;
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
