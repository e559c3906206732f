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
#include "HostileRows.h"
#include "RequestRecords.h"

namespace gateway_test {

// A request record, with the body and header storage its pointers point to.
class RequestRecord {
 public:
  static constexpr int kSize = sizeof(ostrel::RestRequest);

  RequestRecord(const std::string& method, const std::string& path) {
    Text(record_.method, method);
    Text(record_.path, path);
  }
  RequestRecord& Header(const std::string& name, const std::string& value) {
    ostrel::HttpHeaderItem& item = items_.emplace_back();
    Text(item.name, name);
    Text(item.value, value);
    item.nameLength = static_cast<std::uint32_t>(name.size());
    item.valueLength = static_cast<std::uint32_t>(value.size());
    record_.headerCount = static_cast<std::uint32_t>(items_.size());
    return *this;
  }
  RequestRecord& Body(const std::string& body) {
    body_ = body;
    record_.bodyLength = static_cast<std::int32_t>(body.size());
    return *this;
  }
  ostrel::RestRequest& Fields() { return record_; }  // to write what the builder would not
  void* Get() {
    record_.body = body_.empty() ? record_.body : body_.data();
    record_.headers = items_.empty() ? nullptr : items_.data();
    return &record_;
  }

 private:
  template <std::size_t kWidth>
  static void Text(char (&field)[kWidth], const std::string& text) {
    std::memcpy(field, text.data(), std::min(kWidth, text.size()));
  }

  ostrel::RestRequest record_{};
  std::string body_;
  std::vector<ostrel::HttpHeaderItem> items_;
};

struct Outcome {
  int code = 0;
  std::string answer;       // answerLength bytes of the answer, copied before it was released
  bool terminated = false;  // the byte after the answer was NUL
};

// ZENTA_LastErrorDetail of the calling thread.
std::string LastDetail();

// Sends record on handle, copies the answer out and gives every buffer back.
Outcome Send(int handle, RequestRecord& record);

// The serial number the echo server at url gives the connection of a new session: "1" while no
// client has connected to it, so no request has reached it either.
std::string NextConnection(const std::string& url);

// A hostile row (HostileRows.h) against the server at url, serving it: the two calls of an
// own-answer row, or the GET of a framing row, each checked against the row.
void CheckOwnRow(const std::string& url, const hostile::OwnRow& row);
void CheckFramingRow(const std::string& url, const hostile::FramingRow& row);

#ifndef _WIN32
using corvane_test::EchoServer;
#endif
using corvane_test::Options;
using corvane_test::ParseEcho;
using corvane_test::Session;

}  // namespace gateway_test

#endif  // CORVANE_TESTS_GATEWAY_GATEWAYTESTSUPPORT_H
