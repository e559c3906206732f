// A client of a running mock server's control API ("/__mock/"), for tests and scripts that
// steer the server from outside its process. One keep-alive connection carries every call, so
// that controlling the server does not add to its connection count.
#ifndef CORVANE_MOCK_CLIENT_H
#define CORVANE_MOCK_CLIENT_H

#include <cstdint>
#include <memory>
#include <string>

#include "MockServer.h"

namespace corvane::http {
class Client;
}

namespace corvane::mock {

// Every call throws std::runtime_error when the server does not answer it with HTTP 200.
// Not thread-safe.
class MockClient {
 public:
  explicit MockClient(const std::string& baseUrl);  // "http://HOST:PORT"
  ~MockClient();
  MockClient(const MockClient&) = delete;
  MockClient& operator=(const MockClient&) = delete;

  // The platform regenerated from `seed`, no faults, the request log and statistics cleared.
  void Reset(std::uint64_t seed = 1);
  void ClearFaults();
  // Adds one fault or an array of them, e.g. {"path":"*","kind":"drop","count":2}.
  void AddFault(const std::string& json);
  // API requests need "Authorization: Bearer <token>" from now on (the previous token counts as
  // expired); an empty token: none needed. POST /__mock/token, DELETE /__mock/token.
  void RequireToken(const std::string& token);
  // The current token is refused as expired until RequireToken names one (/__mock/token/expire).
  void ExpireToken();
  ServerStats Stats();

 private:
  std::string Call(const std::string& method, const std::string& what, const std::string& body);
  std::unique_ptr<http::Client> client_;
};

}  // namespace corvane::mock

#endif  // CORVANE_MOCK_CLIENT_H
