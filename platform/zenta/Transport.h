// The seam between sessions and the platform's HTTP stack: libcurl on Linux (curl/), WinHTTP on
// Windows (winhttp/). CMake compiles exactly one implementation of CreateTransport.
#ifndef ZENTA_TRANSPORT_H
#define ZENTA_TRANSPORT_H

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "ZentaInternal.h"

namespace zenta {

// Everything a transport needs to reach one server; filled from the session's URL and options.
struct TransportConfig {
  bool https = false;
  std::string host;    // name or IPv4 literal; IPv6 literal without brackets
  int port = 0;        // 1..65535
  std::string origin;  // "scheme://host:port" with an IPv6 host in brackets
  std::chrono::milliseconds connectTimeout{5000};
  std::chrono::milliseconds requestTimeout{30000};  // the whole exchange, waiting included
  int maxConnections = 4;
  bool verifyTls = true;
  std::string caFile;  // "" for the system's CA store
  std::size_t maxAnswerBytes = kMaxAnswerBytes;
};

// Carries requests for one session. Perform may run on several threads at once; each exchange
// uses one connection of at most maxConnections, and waits for a free one when all are busy.
class Transport {
 public:
  virtual ~Transport() = default;

  // Sends request to basePath + request.target (the session's base path, "" or "/..." without a
  // trailing "/", then the encoded path) and fills answer. Returns 0 when an HTTP answer arrived
  // (any status), else a negative ZENTA code.
  virtual int Perform(const HttpRequest& request, std::string_view basePath,
                      HttpAnswer& answer) = 0;

  // Makes calls still waiting for a connection fail with ZENTA_E_SESSION_CLOSED, and every later
  // call too. Exchanges already under way finish normally.
  virtual void Shutdown() = 0;
};

// Creates the platform's transport. On failure returns null and writes a negative code to status.
std::unique_ptr<Transport> CreateTransport(const TransportConfig& config, int& status);

}  // namespace zenta

#endif  // ZENTA_TRANSPORT_H
