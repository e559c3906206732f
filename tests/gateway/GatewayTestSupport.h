// Shared pieces of the gateway tests: request records (in the binding layout of
// platform/ostrel/RequestRecords.h, whose offsets are checked there at compile time) and
// sending them to the echo server (tests/support) on 127.0.0.1.
#ifndef CORVANE_TESTS_GATEWAY_GATEWAYTESTSUPPORT_H
#define CORVANE_TESTS_GATEWAY_GATEWAYTESTSUPPORT_H

#include <zenta/ZentaSdk.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "EchoServer.h"
#include "GatewaySession.h"
#include "RequestRecords.h"

namespace gateway_test {

class RequestRecord {
 public:
  static constexpr int kSize = sizeof(ostrel::RestRequest);

  RequestRecord(const std::string& method, const std::string& path) { Method(method).Path(path); }
  RequestRecord& Method(const std::string& method) { return Text(record_.method, method); }
  RequestRecord& Path(const std::string& path) { return Text(record_.path, path); }
  RequestRecord& Header(const std::string& name, const std::string& value) {
    return RawHeader(name, static_cast<std::uint32_t>(name.size()), value,
                     static_cast<std::uint32_t>(value.size()));
  }
  // A header whose length fields may disagree with its texts.
  RequestRecord& RawHeader(const std::string& name, std::uint32_t nameLength,
                           const std::string& value, std::uint32_t valueLength) {
    ostrel::HttpHeaderItem& item = items_.emplace_back();
    Text(item.name, name).Text(item.value, value);
    item.nameLength = nameLength;
    item.valueLength = valueLength;
    return HeaderFields(false, static_cast<std::uint32_t>(items_.size()));
  }
  RequestRecord& Body(const std::string& body) {
    body_ = body;
    return BodyFields(false, static_cast<std::int32_t>(body.size()));
  }
  // Override what Body and Header wrote, to build inconsistent records.
  RequestRecord& BodyFields(bool nullBody, std::int32_t bodyLength) {
    nullBody_ = nullBody;
    record_.bodyLength = bodyLength;
    return *this;
  }
  RequestRecord& HeaderFields(bool nullHeaders, std::uint32_t headerCount) {
    nullHeaders_ = nullHeaders;
    record_.headerCount = headerCount;
    return *this;
  }
  RequestRecord& Poke(std::size_t offset, unsigned char byte) {
    reinterpret_cast<unsigned char*>(&record_)[offset] = byte;
    return *this;
  }
  // The record, with its pointers set to the body and header storage this object owns.
  void* Get() {
    record_.body = nullBody_ ? nullptr : body_.data();
    record_.headers = nullHeaders_ || items_.empty() ? nullptr : items_.data();
    return &record_;
  }

 private:
  template <std::size_t kWidth>
  RequestRecord& Text(char (&field)[kWidth], const std::string& text) {
    std::memset(field, 0, kWidth);
    std::memcpy(field, text.data(), std::min(kWidth, text.size()));
    return *this;
  }

  ostrel::RestRequest record_{};
  std::string body_;
  std::vector<ostrel::HttpHeaderItem> items_;
  bool nullBody_ = true;
  bool nullHeaders_ = true;
};

struct Outcome {
  int code = 0;
  std::string answer;       // answerLength bytes of the answer, copied before it was released
  bool terminated = false;  // the byte after the answer was NUL
};

// Sends record on handle, copies the answer out and gives every buffer back.
Outcome Send(int handle, RequestRecord& record);

// The serial number the echo server at url gives the connection of a new session: "1" while no
// client has connected to it, so no request has reached it either.
std::string NextConnection(const std::string& url);

using corvane_test::EchoServer;
using corvane_test::Options;
using corvane_test::ParseEcho;
using corvane_test::Session;

}  // namespace gateway_test

#endif  // CORVANE_TESTS_GATEWAY_GATEWAYTESTSUPPORT_H
