// corvane-mock-server as a library: a real HTTP server on a local address that answers the
// platform's REST endpoints from a seeded in-memory Platform, with run-time fault injection and
// statistics under the control prefix "/__mock/" (see README.md).
//
// The command-line client and the tests embed it in-process; the header keeps the HTTP library
// out of sight so that embedding needs nothing but this target.
#ifndef CORVANE_MOCK_SERVER_H
#define CORVANE_MOCK_SERVER_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "FaultInjector.h"
#include "MockPlatform.h"

namespace corvane::mock {

struct ServerOptions {
  std::string host = "127.0.0.1";
  int port = 0;  // 0 picks a free port
  std::uint64_t seed = 1;
  std::size_t threads = 64;      // every open keep-alive connection holds one thread
  int keepAliveTimeoutSec = 60;  // an idle connection is closed after this long
  bool logRequests = false;      // one line per answered request on standard error
  // HTTPS with this PEM certificate (chain) and PEM private key; both empty: plain HTTP.
  std::string tlsCertFile;
  std::string tlsKeyFile;
  // With TLS: clients must present a certificate issued by one of the CAs of this PEM file.
  std::string tlsClientCaFile;
  int tlsMaxVersion = 0;  // with TLS: 0 the highest OpenSSL knows, else e.g. 0x303 for TLS 1.2
  // Non-empty: API requests need "Authorization: Bearer <this token>" (401 otherwise); the
  // token can be changed or expired at run time (RequireToken, ExpireToken, the control API).
  std::string requireToken;
  bool gzip = true;  // gzip-code answers of 1 KiB or more for requests that accept gzip
  // Headers whose values the request log masks, besides Authorization, Proxy-Authorization,
  // Cookie and X-Api-Key (names compared without case).
  std::vector<std::string> secretHeaders;
};

struct ServerStats {
  std::uint64_t connections = 0;      // TCP connections accepted
  std::uint64_t openConnections = 0;  // connections open now (not reset with the others)
  std::uint64_t requests = 0;         // every request, control requests included
  std::uint64_t apiRequests = 0;      // requests outside "/__mock/"
  std::uint64_t faultsApplied = 0;
  std::uint64_t unauthorized = 0;  // API requests refused with 401 for want of the token
  std::uint64_t gzipped = 0;       // answers sent gzip-coded
  std::map<std::string, std::uint64_t> paths;  // API requests per path (query left out)
};

class MockServer {
 public:
  explicit MockServer(ServerOptions options);
  ~MockServer();  // stops the server
  MockServer(const MockServer&) = delete;
  MockServer& operator=(const MockServer&) = delete;

  // Binds and starts serving on background threads; returns once requests are answered.
  // Throws std::runtime_error when the address cannot be bound or the TLS files not loaded.
  void Start();

  // Stops serving: idle connections are closed at once, running requests (injected delays cut
  // short) finish first. Idempotent; called by the destructor.
  void Stop();

  int Port() const;
  std::string BaseUrl() const;  // "http://HOST:PORT", or "https://HOST:PORT" with TLS

  // True once a client has asked for shutdown through the control endpoint; the owner then
  // calls Stop (the server never stops itself, so an embedding owner stays in control).
  bool ShutdownRequested() const;
  // Waits up to `timeout` for such a request; returns ShutdownRequested().
  bool WaitForShutdownRequest(std::chrono::milliseconds timeout);

  // From now on API requests need "Authorization: Bearer <token>"; the token accepted until now
  // counts as expired. An empty token: no token needed. POST /__mock/reset restores the token
  // of the options.
  void RequireToken(const std::string& token);
  // The current token is refused from now on (401, error="invalid_token") until RequireToken
  // names one again. Nothing happens when no token is required.
  void ExpireToken();

  Platform& GetPlatform();
  FaultInjector& Faults();
  ServerStats Stats() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace corvane::mock

#endif  // CORVANE_MOCK_SERVER_H
