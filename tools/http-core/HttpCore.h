// A small HTTP/1.1 server and keep-alive client for test servers on loopback: the simulated
// platform server and the echo server of the gateway tests serve through it, so connection
// handling, request parsing and the means of misbehaving (cut answers, dropped and reset
// connections, delays) exist once.
//
// The server gives every connection a thread of its own (at most `maxConnections` at a time),
// reads each request completely (head and Content-Length body) and hands it to one handler,
// which writes its answer through the AnswerWriter however it likes, correct or not. The handler
// runs on the connection's thread, so it runs concurrently for different connections.
#ifndef CORVANE_HTTP_CORE_H
#define CORVANE_HTTP_CORE_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corvane::http {

using Headers = std::vector<std::pair<std::string, std::string>>;

struct Request {
  std::string method;
  std::string target;  // as sent
  std::string path;    // the target before "?", percent-decoded
  std::string query;   // the target after "?", as sent
  Headers headers;     // as sent, in order; values trimmed of spaces, never decoded
  std::string head;    // the request line and header lines as received, each ending in CRLF
  std::string body;
  std::uint64_t connection = 0;  // serial number of the connection within the server, from 1

  // Fields named `name` (letters compared without case).
  std::size_t HeaderCount(std::string_view name) const;
  std::optional<std::string> Header(std::string_view name) const;  // the first one
  // The query parameter `name`, percent-decoded with "+" as space; the first one.
  std::optional<std::string> Param(std::string_view name) const;
};

// The connection a handler answers on. Every write reports whether the bytes left.
class AnswerWriter {
 public:
  virtual ~AnswerWriter() = default;
  virtual bool Write(std::string_view bytes) = 0;
  // Ends the connection once the handler returns; Reset ends it with a TCP reset (RST).
  virtual void Close() = 0;
  virtual void Reset() = 0;
  // Waits `ms`, cut short when the server stops; false then.
  virtual bool Sleep(int ms) = 0;
  virtual bool HeadRequest() const = 0;
  virtual bool Closing() const = 0;

  // "HTTP/1.1 N Reason", the headers as given, "Connection: close" when closing, empty line.
  bool WriteHead(int status, const Headers& headers);
  // A whole answer: head with Content-Length, then the body unless the request was HEAD.
  bool Reply(int status, Headers headers, std::string_view body);
  // One chunk of a chunked body; an empty one is the last.
  bool WriteChunk(std::string_view bytes);
};

using Handler = std::function<void(const Request&, AnswerWriter&)>;
// Answers a request the server could not read: 400 (malformed), 413 (body too large) or 501
// (a request body in chunked coding). The connection closes after it.
using ErrorHandler = std::function<void(int status, AnswerWriter&)>;

struct ServerOptions {
  std::string host = "127.0.0.1";
  int port = 0;                     // 0 picks a free port
  std::size_t maxConnections = 64;  // open at a time; further clients wait to be accepted
  int keepAliveTimeoutSec = 60;     // an idle connection is closed after this long
  std::size_t maxRequestsPerConnection = 100000;
  int ioTimeoutSec = 30;    // a read or write that makes no progress for this long fails
  std::string tlsCertFile;  // HTTPS with this PEM certificate (chain) and key
  std::string tlsKeyFile;
  std::string tlsClientCaFile;  // when set, a client certificate issued by these CAs is required
  int tlsMaxVersion = 0;        // 0: the TLS library's highest; else e.g. TLS1_2_VERSION (0x303)
};

class Server {
 public:
  Server(ServerOptions options, Handler handler, ErrorHandler onError = nullptr);
  ~Server();  // stops
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds and starts accepting; throws std::runtime_error when the address cannot be bound or
  // the TLS files not loaded.
  void Start();
  // Idle connections close at once; running handlers finish (their Sleep cut short). Idempotent.
  void Stop();

  int Port() const;
  std::string BaseUrl() const;            // "http://HOST:PORT", or "https://..." with TLS
  std::uint64_t Connections() const;      // accepted since start or the last reset
  std::uint64_t OpenConnections() const;  // open now
  void ResetConnectionCount();

  class Impl;  // HttpServer.cpp

 private:
  std::unique_ptr<Impl> impl_;
};

// One plain-HTTP keep-alive connection to url ("http://HOST:PORT"), reopened when the server
// has closed it. Not thread-safe. Sends throw std::runtime_error when no answer comes.
struct Answer {
  int status = 0;
  Headers headers;
  std::string body;
};

class Client {
 public:
  explicit Client(const std::string& url);
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;
  Answer Send(const std::string& method, const std::string& target, const std::string& body = "",
              const Headers& headers = {});

 private:
  bool Exchange(const std::string& request, Answer& answer);
  std::string host_;
  int port_ = 0;
  int fd_ = -1;
};

const char* ReasonPhrase(int status);
std::string PercentDecode(std::string_view text, bool plusIsSpace);
bool SameLetters(std::string_view a, std::string_view b);  // equal, ASCII case ignored

}  // namespace corvane::http

#endif  // CORVANE_HTTP_CORE_H
