// The seam between the session's policy and the HTTP stack: libcurl on every platform (curl/,
// with what differs between Linux and Windows in curl/CurlPlatform.cpp). A transport performs
// exactly one exchange on a connection the session hands it and reports what the policy needs to
// decide what comes next; it never sends a request twice on its own. Tests of the policy replace
// it with a fake.
#ifndef ZENTA_TRANSPORT_H
#define ZENTA_TRANSPORT_H

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "AnswerBuffer.h"
#include "Boundary.h"
#include "ErrorDetail.h"
#include "Scope.h"

namespace zenta {

using Clock = std::chrono::steady_clock;

// Everything a transport needs to reach one server; filled from the session's URL and options.
struct TransportConfig {
  bool https = false;
  std::string host;      // name or IPv4 literal; IPv6 literal without brackets
  int port = 0;          // 1..65535
  std::string origin;    // "scheme://host:port" with an IPv6 host in brackets
  std::string basePath;  // "" or "/..." without a trailing "/", put in front of every target
  std::chrono::milliseconds connectTimeout{5000};
  std::chrono::milliseconds requestTimeout{30000};  // the whole exchange, waiting included
  int maxConnections = 4;
  bool verifyTls = true;
  std::string caFile;  // "" for the system's CA store
  std::size_t maxAnswerBytes = kMaxAnswerBytes;
  // A client certificate: Linux a PEM certificate with its key (clientKey "" when the key is in
  // the same file); Windows a PFX file, or "store:<thumbprint>" of the user's store.
  std::string clientCert;
  std::string clientKey;
  std::string clientKeyPassword;
  bool proxySet = false;  // false: the environment's proxy (Linux) or the system's (Windows)
  std::string proxy;      // when set: "" for none, or "http://host:port"
  bool gzip = true;       // ask for gzip and decode it (within maxAnswerBytes)
  // Windows: accept a server certificate whose revocation cannot be checked (no revocation list
  // reachable); false refuses it. Linux: not checked.
  bool revocationBestEffort = false;
  // Read by the session's policy, not by the transport.
  std::string authorization;         // "" for none
  std::vector<std::string> headers;  // "Name: value" lines sent with every request
  ZENTA_TokenCallback tokenCallback = nullptr;
  void* tokenContext = nullptr;
  int retries = 0;
  int trace = 0;  // 0: as the environment's ZENTA_TRACE says; 1: on; 2: off; 3: verbose
};

// One connection to the server as the transport keeps it (a libcurl easy handle with its
// connection cache). The session's pool owns them; one exchange at a time.
class Connection {
 public:
  virtual ~Connection() = default;
};

// How far an exchange got, in order: what the policy needs to know whether sending the request
// again could make the server run it twice.
enum class ExchangePhase {
  kNotSent,        // nothing of the request left (no name, no connection, no handshake)
  kRequestSent,    // a byte of the request may have reached the server
  kAnswerStarted,  // a byte of the answer arrived
};

// What one exchange tells the policy besides its code.
struct ExchangeReport {
  bool reused = false;  // it went out on a connection that had carried an earlier exchange
  ExchangePhase phase = ExchangePhase::kNotSent;  // the furthest phase the exchange reached
  Detail detail;  // on failure: the transport's own words, and the phase

  // Notes that the exchange got as far as reached (a phase it passed already stays passed).
  void Reached(ExchangePhase reached) {
    if (reached > phase) phase = reached;
  }

  // Back to a new report's state, for another try of the exchange.
  void Clear() {
    reused = false;
    phase = ExchangePhase::kNotSent;
    detail.Clear();
  }
};

class Transport {
 public:
  virtual ~Transport() = default;

  // A new connection object; nothing is connected before its first exchange. Null when memory
  // or the platform's resources ran out.
  virtual std::unique_ptr<Connection> NewConnection() = 0;

  // True when an idle connection cannot carry another exchange as it is: bytes or the end of the
  // stream are waiting on it (a stray answer, a 408, the server's close). Reading nothing.
  virtual bool HasPendingInput(Connection& connection) = 0;

  // Closes the connection's network connection, if any; its next exchange opens a fresh one.
  virtual void Disconnect(Connection& connection) = 0;

  // Sends request (the base path, then request.target) on connection and reads the answer: its
  // status and content type into answer, its body into body, within the body's cap and the
  // deadline. Returns 0 when an HTTP answer arrived (any status), else a negative ZENTA code with
  // report.detail set. Never sends the request a second time. Ends within 100 ms of a cancel of
  // the call's scope, whatever it waits for, with ZENTA_E_CANCELLED; tells call.progress how the
  // body arrives, and ends the same way when it asks to stop. A cancelled exchange leaves the
  // connection unfit for another: the caller frees it.
  virtual int Exchange(Connection& connection, const ZENTA_HttpRequest& request,
                       Clock::time_point deadline, ZENTA_HttpAnswer& answer, AnswerBuffer& body,
                       ExchangeReport& report, const CallControl& call) = 0;
};

// Creates the platform's transport. On failure returns null, writes a negative code to status
// and, where the code alone does not say what was wrong (an option the platform cannot use, say),
// the reason to detail.
std::unique_ptr<Transport> CreateTransport(const TransportConfig& config, int& status,
                                           Detail& detail);

}  // namespace zenta

#endif  // ZENTA_TRANSPORT_H
