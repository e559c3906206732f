// Shared fixture of the mock server tests: a server started in-process on a free port, a
// keep-alive HTTP client, and readers for JSON envelopes and raw HTTP exchanges.
#ifndef CORVANE_MOCKSERVER_TEST_SUPPORT_H
#define CORVANE_MOCKSERVER_TEST_SUPPORT_H

#include <gtest/gtest.h>
#include <httplib.h>
#include <rapidjson/document.h>

#include <map>
#include <memory>
#include <string>

#include "MockServer.h"

namespace corvane::mock::testing {

constexpr char kJsonContentType[] = "application/json;charset=UTF-8";

// The three headers that every platform request carries, with real values.
httplib::Headers StandardHeaders();

// A POST body: the client identity followed by `members` (JSON members without braces).
std::string IdentityBody(const std::string& members);

// A JSON answer as the client reads it.
struct Envelope {
  bool received = false;  // an HTTP answer arrived
  int status = 0;
  std::string contentType;
  std::string body;
  bool isObject = false;  // the body parsed as a JSON object
  int code = 0;           // its "code" (0 when absent)
  rapidjson::Document document;

  // The "data" member, or a null value when it is absent.
  const rapidjson::Value& Data() const;
};

Envelope ReadEnvelope(const httplib::Result& result);

// An HTTP exchange on a fresh connection: what arrived until the server closed it.
struct RawAnswer {
  std::string bytes;                           // everything received
  int status = 0;                              // 0 when no status line arrived
  std::map<std::string, std::string> headers;  // names lower-cased
  std::string body;                            // the bytes after the head

  // The value of the header with this lower-case name, or "" when it is absent.
  std::string Header(const std::string& name) const;
};

// Sends `request` as is and reads until the server closes the connection or 10 s pass.
RawAnswer RawExchange(int port, const std::string& request);

// A request head for RawExchange: the request line, `headerLines` (each ending in CRLF),
// Connection: close, Content-Length when there is a body, and the body.
std::string RawRequest(const std::string& method, const std::string& target,
                       const std::string& headerLines, const std::string& body = "");

// The standard headers as header lines for RawRequest.
std::string StandardHeaderLines();

std::string ToString(const rapidjson::Value& value);

class MockServerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  void SetUp() override;
  void TearDown() override;

  httplib::Result Get(const std::string& target,
                      const httplib::Headers& headers = StandardHeaders());
  httplib::Result Post(const std::string& target, const std::string& body,
                       const httplib::Headers& headers = StandardHeaders());
  // A control request (no headers needed).
  Envelope Control(const std::string& method, const std::string& path,
                   const std::string& body = "");

  std::unique_ptr<httplib::Client> NewClient(bool keepAlive) const;
  PlatformState State() const { return server_->GetPlatform().Snapshot(); }
  int Port() const { return server_->Port(); }

  std::unique_ptr<MockServer> server_;
  std::unique_ptr<httplib::Client> client_;  // keep-alive
};

}  // namespace corvane::mock::testing

#endif  // CORVANE_MOCKSERVER_TEST_SUPPORT_H
