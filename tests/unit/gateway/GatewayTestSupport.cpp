#include "GatewayTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <stdexcept>

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

TestServer::TestServer() {
  responder_ = [](const httplib::Request&, httplib::Response& response) {
    response.set_content("{\"code\":0}", "application/json");
  };
  server_.set_keep_alive_max_count(1000);
  server_.set_tcp_nodelay(true);  // no Nagle pause between its head and body writes
  // cpp-httplib's interface: it takes ownership of the queue it gets.
  server_.new_task_queue = [] { return new httplib::ThreadPool(16); };
  // Method handlers rather than a pre-routing handler: only they see the body.
  const auto handler = [this](const httplib::Request& request, httplib::Response& response) {
    Responder responder;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      seen_.push_back(request.target);
      ports_.insert(request.remote_port);
      responder = responder_;
    }
    responder(request, response);
  };
  const std::string any = ".*";
  server_.Get(any, handler).Post(any, handler).Put(any, handler).Patch(any, handler);
  server_.Delete(any, handler).Options(any, handler);
  port_ = server_.bind_to_any_port("127.0.0.1");
  if (port_ <= 0) throw std::runtime_error("the test server could not bind to 127.0.0.1");
  thread_ = std::thread([this] { server_.listen_after_bind(); });
  // stop() only works once the server runs.
  while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TestServer::~TestServer() {
  server_.stop();
  thread_.join();
}

void TestServer::Respond(Responder responder) {
  std::lock_guard<std::mutex> lock(mutex_);
  responder_ = std::move(responder);
}

std::string TestServer::Url(const std::string& basePath) const {
  return "http://127.0.0.1:" + std::to_string(port_) + basePath;
}

std::vector<std::string> TestServer::Seen() {
  std::lock_guard<std::mutex> lock(mutex_);
  return seen_;
}

std::size_t TestServer::Connections() {
  std::lock_guard<std::mutex> lock(mutex_);
  return ports_.size();
}

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

}  // namespace gateway_test
