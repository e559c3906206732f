// Shared pieces of the gateway tests: request records built byte by byte at the binding offsets,
// and sending them to the echo server (tests/support) on 127.0.0.1.
#ifndef CORVANE_TESTS_GATEWAY_GATEWAYTESTSUPPORT_H
#define CORVANE_TESTS_GATEWAY_GATEWAYTESTSUPPORT_H

#include <zenta/ZentaSdk.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "EchoServer.h"
#include "GatewaySession.h"

namespace gateway_test {

// A request record laid out at the binding offsets (2096 bytes), written byte by byte so the
// tests do not share the gateway's own declaration of it.
class RequestRecord {
 public:
  static constexpr std::size_t kSize = 2096;
  static constexpr std::size_t kHeaderItemSize = 1288;

  RequestRecord(const std::string& method, const std::string& path);

  RequestRecord& Method(const std::string& method);  // at most 10 bytes, NUL-padded
  RequestRecord& Path(const std::string& path);      // at most 2048 bytes, NUL-padded
  RequestRecord& Header(const std::string& name, const std::string& value);
  // A header whose length fields may disagree with its texts.
  RequestRecord& RawHeader(const std::string& name, std::uint32_t nameLength,
                           const std::string& value, std::uint32_t valueLength);
  RequestRecord& Body(const std::string& body);
  // Overrides what Body and Header wrote, to build inconsistent records.
  RequestRecord& BodyFields(bool nullBody, std::int32_t bodyLength);
  RequestRecord& HeaderFields(bool nullHeaders, std::uint32_t headerCount);
  RequestRecord& Poke(std::size_t offset, unsigned char byte);

  // The record, with its pointers set to the body and header storage this object owns.
  void* Get();

 private:
  alignas(8) std::array<unsigned char, kSize> bytes_{};  // aligned like the C struct
  std::string body_;
  std::vector<unsigned char> headerItems_;
  bool nullBody_ = true;
  std::int32_t bodyLength_ = 0;
  bool nullHeaders_ = true;
  std::uint32_t headerCount_ = 0;
};

// The 56-byte response record.
struct ResponseRecord {
  alignas(8) std::array<unsigned char, 56> bytes{};
  char* Answer() const;
  std::int32_t AnswerLength() const;
  void* AuxBuffer() const;
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
