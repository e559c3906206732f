#include "MockServer.h"

#include <httplib.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <regex>
#include <stdexcept>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "JsonPut.h"

namespace corvane::mock {
namespace {

constexpr char kJsonType[] = "application/json;charset=UTF-8";
constexpr char kControlPrefix[] = "/__mock/";
constexpr char kFaultHeader[] = "X-Mock-Fault";
constexpr std::size_t kKeepAliveMaxCount = 100000;
constexpr time_t kReadTimeoutSec = 30;
constexpr time_t kWriteTimeoutSec = 30;
constexpr int kIdlePollMs = 50;               // how soon an idle connection notices Stop
constexpr std::size_t kMaxHeadBytes = 65536;  // request head kept for the header fix-up
constexpr std::size_t kMaxLoggedRequests = 256;
constexpr std::size_t kMaxCountedPaths = 1024;
constexpr std::size_t kBigPiece = 64 * 1024;  // a "big" answer is produced this much at a time

// ---------------------------------------------------------------------------------------------
// Connections

// The fields that httplib adds to a request's headers to pass on the connection's addresses.
bool IsPseudoHeader(const std::string& name) {
  return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
         name == "LOCAL_PORT";
}

// The socket of the connection this thread is serving, so that a handler can end its own
// connection (the "drop" fault). Only the serving thread uses or closes it.
thread_local socket_t tConnectionSocket = -1;

struct Counters {
  std::atomic<std::uint64_t> connections{0};
  std::atomic<std::uint64_t> openConnections{0};
  std::atomic<std::uint64_t> requests{0};
  std::atomic<std::uint64_t> apiRequests{0};
  std::atomic<std::uint64_t> faultsApplied{0};
};

bool WaitForSocket(socket_t sock, short events, time_t seconds) {
  pollfd entry{sock, events, 0};
  const auto timeoutMs = static_cast<int>(seconds * 1000);
  for (;;) {
    const int ready = ::poll(&entry, 1, timeoutMs);
    if (ready >= 0) return ready > 0;
    if (errno != EINTR) return false;
  }
}

void AddressOf(const sockaddr_storage& address, std::string& ip, int& port) {
  std::array<char, NI_MAXHOST> host{};
  const auto size = address.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
  if (::getnameinfo(reinterpret_cast<const sockaddr*>(&address), static_cast<socklen_t>(size),
                    host.data(), static_cast<socklen_t>(host.size()), nullptr, 0,
                    NI_NUMERICHOST) == 0) {
    ip = host.data();
  }
  port = address.ss_family == AF_INET6
             ? ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port)
             : ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
}

// One connection's byte stream: buffered reads (httplib reads request lines byte by byte),
// writes that never raise SIGPIPE, and a copy of each request's head. The copy lets the
// server see header fields exactly as sent: httplib's own parser drops fields with empty values
// (a client with unset settings sends them) and percent-decodes the others.
class ConnectionStream final : public httplib::Stream {
 public:
  ConnectionStream(socket_t sock, time_t readTimeoutSec, time_t writeTimeoutSec)
      : sock_(sock), readTimeoutSec_(readTimeoutSec), writeTimeoutSec_(writeTimeoutSec) {}

  bool is_readable() const override {
    return bufferPos_ < bufferEnd_ || WaitForSocket(sock_, POLLIN, readTimeoutSec_);
  }

  bool is_writable() const override { return WaitForSocket(sock_, POLLOUT, writeTimeoutSec_); }

  ssize_t read(char* ptr, size_t size) override {
    if (bufferPos_ == bufferEnd_) {
      if (!WaitForSocket(sock_, POLLIN, readTimeoutSec_)) return -1;
      ssize_t received = 0;
      do {
        received = ::recv(sock_, buffer_.data(), buffer_.size(), 0);
      } while (received < 0 && errno == EINTR);
      if (received <= 0) return received;
      // Acknowledge at once: a client that writes a request's head and body separately (wine's
      // WinHTTP does) otherwise waits out the delayed acknowledgement, about 40 ms, before the
      // body leaves under Nagle. Linux clears the flag after use, so it is set after every read.
      const int on = 1;
      ::setsockopt(sock_, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof(on));
      bufferPos_ = 0;
      bufferEnd_ = static_cast<std::size_t>(received);
      Capture(buffer_.data(), bufferEnd_);
    }
    const std::size_t count = std::min(size, bufferEnd_ - bufferPos_);
    std::memcpy(ptr, buffer_.data() + bufferPos_, count);
    bufferPos_ += count;
    return static_cast<ssize_t>(count);
  }

  ssize_t write(const char* ptr, size_t size) override {
    if (!is_writable()) return -1;
    ssize_t sent = 0;
    do {
      sent = ::send(sock_, ptr, size, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent;
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    sockaddr_storage address{};
    socklen_t length = sizeof(address);
    if (::getpeername(sock_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      AddressOf(address, ip, port);
    }
  }

  void get_local_ip_and_port(std::string& ip, int& port) const override {
    sockaddr_storage address{};
    socklen_t length = sizeof(address);
    if (::getsockname(sock_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      AddressOf(address, ip, port);
    }
  }

  socket_t socket() const override { return sock_; }

  bool HasBufferedBytes() const { return bufferPos_ < bufferEnd_; }

  // True when the whole head of the current request was copied.
  bool HeadComplete() const { return head_.find("\r\n\r\n") != std::string::npos; }

  // Starts copying the next request's head, beginning with bytes already buffered.
  void BeginRequest() {
    head_.assign(buffer_.data() + bufferPos_, bufferEnd_ - bufferPos_);
    capturing_ = head_.find("\r\n\r\n") == std::string::npos;
  }

  // The header fields of the current request as sent: name and value, spaces trimmed.
  std::vector<std::pair<std::string, std::string>> HeadFields() const {
    std::vector<std::pair<std::string, std::string>> fields;
    const std::size_t end = std::min(head_.find("\r\n\r\n"), head_.size());
    std::size_t lineStart = head_.find("\r\n");  // skip the request line
    while (lineStart != std::string::npos && lineStart < end) {
      lineStart += 2;
      const std::size_t lineEnd = std::min(head_.find("\r\n", lineStart), end);
      const std::string_view line(head_.data() + lineStart, lineEnd - lineStart);
      const std::size_t colon = line.find(':');
      if (colon != std::string_view::npos && colon > 0) {
        std::string_view value = line.substr(colon + 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
          value.remove_prefix(1);
        }
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) {
          value.remove_suffix(1);
        }
        fields.emplace_back(std::string(line.substr(0, colon)), std::string(value));
      }
      lineStart = lineEnd;
    }
    return fields;
  }

 private:
  void Capture(const char* data, std::size_t size) {
    if (!capturing_) return;
    const std::size_t searchFrom = head_.size() < 3 ? 0 : head_.size() - 3;
    head_.append(data, std::min(size, kMaxHeadBytes - std::min(head_.size(), kMaxHeadBytes)));
    if (head_.find("\r\n\r\n", searchFrom) != std::string::npos || head_.size() >= kMaxHeadBytes) {
      capturing_ = false;
    }
  }

  socket_t sock_;
  time_t readTimeoutSec_;
  time_t writeTimeoutSec_;
  std::array<char, 16384> buffer_{};
  std::size_t bufferPos_ = 0;
  std::size_t bufferEnd_ = 0;
  std::string head_;
  bool capturing_ = false;
};

// httplib's server with its own connection loop: the loop counts connections, sets
// TCP_NODELAY on each accepted socket, restores empty header fields, lets handlers reach their
// socket, and ends idle keep-alive connections as soon as the server stops.
class PlatformHttpServer final : public httplib::Server {
 public:
  PlatformHttpServer(Counters& counters, const std::atomic<bool>& stopping)
      : counters_(counters), stopping_(stopping) {}

 private:
  // Runs on a worker thread for the whole life of one accepted connection.
  bool process_and_close_socket(socket_t sock) override {
    ++counters_.connections;
    ++counters_.openConnections;
    int on = 1;
    ::setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    tConnectionSocket = sock;
    ConnectionStream stream(sock, read_timeout_sec_, write_timeout_sec_);
    bool ok = false;
    for (std::size_t left = keep_alive_max_count_; left > 0 && WaitForRequest(stream); --left) {
      bool connectionClosed = false;
      stream.BeginRequest();
      ok = process_request(stream, left == 1, connectionClosed, [&stream](httplib::Request& req) {
        if (stream.HeadComplete()) {
          httplib::Headers asSent;
          for (const auto& header : req.headers) {
            if (IsPseudoHeader(header.first)) asSent.insert(header);
          }
          for (auto& [name, value] : stream.HeadFields()) asSent.emplace(name, value);
          req.headers = std::move(asSent);
        }
        // A request without Content-Length or Transfer-Encoding has no body; httplib would
        // otherwise read a POST body until the client closes.
        if (req.method != "GET" && req.method != "HEAD" && !req.has_header("Content-Length") &&
            !req.has_header("Transfer-Encoding")) {
          req.headers.emplace("Content-Length", "0");
        }
      });
      if (!ok || connectionClosed) break;
    }
    tConnectionSocket = -1;
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    --counters_.openConnections;
    return ok;
  }

  // True when a request (or the peer's close) arrives before the keep-alive timeout, false when
  // the connection idles out or the server stops.
  bool WaitForRequest(const ConnectionStream& stream) const {
    if (stream.HasBufferedBytes()) return true;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(keep_alive_timeout_sec_);
    while (!stopping_) {
      pollfd entry{stream.socket(), POLLIN, 0};
      const int ready = ::poll(&entry, 1, kIdlePollMs);
      if (ready > 0) return true;
      if (ready < 0 && errno != EINTR) return false;
      if (std::chrono::steady_clock::now() >= deadline) return false;
    }
    return false;
  }

  Counters& counters_;
  const std::atomic<bool>& stopping_;
};

// ---------------------------------------------------------------------------------------------
// JSON

// The text of a JSON object whose members `fill` writes.
template <class Fill>
std::string JsonObject(Fill fill) {
  rapidjson::StringBuffer buffer;
  JsonWriter w(buffer);
  w.StartObject();
  fill(w);
  w.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize());
}

template <class Items, class Fill>
void PutArray(JsonWriter& w, const char* key, const Items& items, Fill fill) {
  w.Key(key);
  w.StartArray();
  for (const auto& item : items) {
    w.StartObject();
    fill(w, item);
    w.EndObject();
  }
  w.EndArray();
}

void PutStrings(JsonWriter& w, const char* key, const std::vector<std::string>& items) {
  w.Key(key);
  w.StartArray();
  for (const auto& item : items)
    w.String(item.data(), static_cast<rapidjson::SizeType>(item.size()));
  w.EndArray();
}

// ---------------------------------------------------------------------------------------------
// Answers

struct Reply {
  int httpStatus = 200;
  int code = kCodeOk;
  std::string message = "success";
  std::optional<std::string> data;            // JSON text of "data"; none: no "data" member
  std::shared_ptr<const std::string> binary;  // set: these bytes are the answer, no envelope
  std::string binaryType;
  httplib::Headers headers;
};

Reply Ok(std::string data) {
  Reply reply;
  reply.data = std::move(data);
  return reply;
}

Reply Error(int httpStatus, int code, std::string message) {
  Reply reply;
  reply.httpStatus = httpStatus;
  reply.code = code;
  reply.message = std::move(message);
  return reply;
}

std::string EnvelopeText(const Reply& reply) {
  rapidjson::StringBuffer buffer;
  JsonWriter w(buffer);
  w.StartObject();
  PutInt(w, "code", reply.code);
  PutString(w, "message", reply.message);
  if (reply.data) {
    w.Key("data");
    w.RawValue(reply.data->data(), reply.data->size(), rapidjson::kObjectType);
  }
  w.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize());
}

std::pair<std::string, std::string> BodyOf(const Reply& reply) {
  if (reply.binary) return {*reply.binary, reply.binaryType};
  return {EnvelopeText(reply), kJsonType};
}

void Send(const Reply& reply, httplib::Response& res) {
  res.status = reply.httpStatus;
  for (const auto& header : reply.headers) res.set_header(header.first, header.second);
  auto [body, type] = BodyOf(reply);
  res.set_content(std::move(body), type.c_str());
}

// Declares the whole answer's length but sends only its first half; returning false from the
// content provider makes httplib close the connection right after.
void SendTruncated(const Reply& reply, httplib::Response& res) {
  res.status = reply.httpStatus;
  auto [body, type] = BodyOf(reply);
  auto bytes = std::make_shared<const std::string>(std::move(body));
  const std::size_t sent = bytes->size() / 2;
  res.set_content_provider(bytes->size(), type,
                           [bytes, sent](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                             if (offset < sent) sink.write(bytes->data() + offset, sent - offset);
                             return false;
                           });
}

// An answer envelope of exactly `bytes` bytes, {"code":1000,...,"data":{"filler":"xx..."}},
// produced piece by piece as httplib asks for it, so that even a 1 GiB answer costs the server
// no memory. Chunked: no Content-Length, the client finds the size only while receiving.
void SendBig(int bytes, bool chunked, httplib::Response& res) {
  static const std::string kHead = R"({"code":1000,"message":"success","data":{"filler":")";
  static const std::string kTail = R"("}})";
  const auto total = static_cast<std::size_t>(bytes);
  // Writes the body's bytes [offset, offset + size) to sink.
  const auto writePiece = [total](std::size_t offset, std::size_t size, httplib::DataSink& sink) {
    std::string piece(size, 'x');
    for (std::size_t i = 0; i < size; ++i) {
      const std::size_t at = offset + i;
      if (at < kHead.size()) piece[i] = kHead[at];
      if (at >= total - kTail.size()) piece[i] = kTail[at - (total - kTail.size())];
    }
    return sink.write(piece.data(), piece.size());
  };
  res.status = 200;
  if (chunked) {
    res.set_chunked_content_provider(
        kJsonType, [total, writePiece](std::size_t offset, httplib::DataSink& sink) {
          if (offset >= total) {
            sink.done();
            return true;
          }
          return writePiece(offset, std::min(kBigPiece, total - offset), sink);
        });
    return;
  }
  res.set_content_provider(
      total, kJsonType,
      [writePiece](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
        return writePiece(offset, std::min(kBigPiece, length), sink);
      });
}

// ---------------------------------------------------------------------------------------------
// Request checks and parameters

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return std::string(text);
}

// "application/json", with "charset=UTF-8" when a charset is named (any case, any spacing).
bool IsJsonUtf8(const std::string& contentType) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t semicolon = contentType.find(';', start);
    parts.push_back(Lower(Trim(std::string_view(contentType).substr(start, semicolon - start))));
    if (semicolon == std::string::npos) break;
    start = semicolon + 1;
  }
  if (parts.front() != "application/json") return false;
  for (std::size_t i = 1; i < parts.size(); ++i) {
    const std::size_t equals = parts[i].find('=');
    if (Trim(std::string_view(parts[i]).substr(0, equals)) != "charset") continue;
    if (equals == std::string::npos) return false;
    std::string value = Trim(std::string_view(parts[i]).substr(equals + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    if (value != "utf-8") return false;
  }
  return true;
}

// Every platform request carries these three headers exactly once; their values may be empty.
std::optional<std::string> CheckStandardHeaders(const httplib::Request& req) {
  for (const char* name : {"Accept-Language", "Content-Type", "Time-Zone"}) {
    const std::size_t count = req.get_header_value_count(name);
    if (count == 0) return std::string("missing header ") + name;
    if (count > 1) return std::string("header ") + name + " sent more than once";
  }
  if (!IsJsonUtf8(req.get_header_value("Content-Type"))) {
    return "Content-Type must be application/json;charset=UTF-8, not \"" +
           req.get_header_value("Content-Type") + "\"";
  }
  return std::nullopt;
}

std::optional<std::string> CheckIdentity(const rapidjson::Value& body) {
  const auto isString = [&body](const char* name, const char* expected) {
    const auto member = body.FindMember(name);
    if (member == body.MemberEnd() || !member->value.IsString()) return false;
    return expected == nullptr ||
           std::string(member->value.GetString(), member->value.GetStringLength()) == expected;
  };
  if (!isString("clientType", "WINPC_V2")) return "\"clientType\" must be \"WINPC_V2\"";
  if (!isString("project", "QIRO")) return "\"project\" must be \"QIRO\"";
  if (!isString("clientMac", nullptr)) return "\"clientMac\" must be a string";
  return std::nullopt;
}

// A decimal integer that is the whole text: an optional minus sign and digits, nothing else.
template <class Int>
std::optional<Int> ParseDecimal(const std::string& text) {
  Int value{};
  const char* end = text.data() + text.size();
  const auto [ptr, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || ptr != end) return std::nullopt;
  return value;
}

const rapidjson::Value* MemberOf(const rapidjson::Value& object, const char* name) {
  if (!object.IsObject()) return nullptr;
  const auto member = object.FindMember(name);
  return member == object.MemberEnd() ? nullptr : &member->value;
}

// The member as a list of strings: absent or not an array of strings gives nothing; a JSON
// null gives an empty list when `nullAllowed`.
std::optional<std::vector<std::string>> StringList(const rapidjson::Value& body, const char* name,
                                                   bool nullAllowed) {
  const rapidjson::Value* value = MemberOf(body, name);
  if (value == nullptr) return std::nullopt;
  std::vector<std::string> list;
  if (value->IsNull() && nullAllowed) return list;
  if (!value->IsArray()) return std::nullopt;
  for (const auto& element : value->GetArray()) {
    if (!element.IsString()) return std::nullopt;
    list.emplace_back(element.GetString(), element.GetStringLength());
  }
  return list;
}

// ---------------------------------------------------------------------------------------------
// Routing

struct ApiCall {
  const httplib::Request& request;
  std::vector<std::string> captures;  // the path pieces that the route's pattern names
  rapidjson::Document body;           // POST only: the body parsed (platform routes: an object)
};

struct Route {
  std::string method;
  std::regex pattern;
  std::function<Reply(ApiCall&)> handler;
};

struct RequestRecord {
  std::uint64_t sequence = 0;
  std::string method;
  std::string target;
  std::string path;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
};

// A platform outcome as a reply: its data written by `fill`, or its business error.
template <class T, class Fill>
Reply FromOutcome(const Outcome<T>& outcome, Fill fill) {
  if (!outcome.Ok()) return Error(200, outcome.code, outcome.message);
  return Ok(JsonObject([&](JsonWriter& w) { fill(w, outcome.value); }));
}

Reply InvalidParameter(std::string message) {
  return Error(200, kCodeInvalidParameter, std::move(message));
}

}  // namespace

class MockServer::Impl {
 public:
  explicit Impl(ServerOptions options)
      : options_(std::move(options)),
        platform_(options_.seed),
        apiRoutes_(MakeApiRoutes()),
        controlRoutes_(MakeControlRoutes()) {}

  ~Impl() { Stop(); }
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  void Start();
  void Stop();
  int Port() const { return port_; }
  std::string BaseUrl() const {
    const bool ipv6 = options_.host.find(':') != std::string::npos;
    return (Tls() ? "https://" : "http://") + (ipv6 ? "[" + options_.host + "]" : options_.host) +
           ":" + std::to_string(port_);
  }
  bool Tls() const { return !options_.tlsCertFile.empty() || !options_.tlsKeyFile.empty(); }

  bool ShutdownRequested() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return shutdownRequested_;
  }

  bool WaitForShutdownRequest(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return wake_.wait_for(lock, timeout, [this] { return shutdownRequested_; });
  }

  Platform& GetPlatform() { return platform_; }
  FaultInjector& Faults() { return faults_; }
  ServerStats Stats() const;

 private:
  std::vector<Route> MakeApiRoutes();
  std::vector<Route> MakeControlRoutes();

  void Dispatch(const httplib::Request& req, httplib::Response& res);
  void ApplyFault(const Fault& fault, const httplib::Request& req, httplib::Response& res);
  Reply Answer(const httplib::Request& req, const std::vector<Route>& routes, bool platformChecks);
  void Pause(int ms);
  void RecordRequest(const httplib::Request& req);
  void ResetStats();

  // Platform endpoints.
  Reply AiPrivacy(ApiCall& call);
  Reply WebEnablement(ApiCall& call, bool channel);
  Reply Picture(ApiCall& call);
  Reply FetchVolumes(ApiCall& call);
  Reply UpdateVolumes(ApiCall& call);
  Reply AudioFiles(ApiCall& call);
  Reply SameAudioFiles(ApiCall& call);
  Reply AlarmContacts(ApiCall& call);
  Reply PtzTrails(ApiCall& call);
  Reply StartRecord(ApiCall& call);
  Reply PosConfig(ApiCall& call);
  Reply DictionaryList(ApiCall& call);
  Reply DictionaryMapper(ApiCall& call);

  // Control endpoints.
  Reply StatsReply();
  Reply AddFaults(ApiCall& call);
  Reply FaultList();
  Reply ResetPlatform(ApiCall& call);
  Reply RequestLog();
  Reply RequestShutdown();

  ServerOptions options_;
  Platform platform_;
  FaultInjector faults_;
  const std::vector<Route> apiRoutes_;
  const std::vector<Route> controlRoutes_;
  Counters counters_;

  mutable std::mutex mutex_;  // guards what follows, and wakes delays and shutdown waiters
  std::condition_variable wake_;
  bool shutdownRequested_ = false;
  std::map<std::string, std::uint64_t> paths_;
  std::deque<RequestRecord> requestLog_;
  std::uint64_t requestSequence_ = 0;

  std::atomic<bool> stopping_{false};
  std::unique_ptr<httplib::Server> http_;  // PlatformHttpServer, or httplib's SSLServer for TLS
  std::thread listener_;
  int port_ = 0;
};

std::vector<Route> MockServer::Impl::MakeApiRoutes() {
  const auto route = [this](const char* method, const char* pattern,
                            Reply (Impl::*handler)(ApiCall&)) {
    return Route{method, std::regex(pattern),
                 [this, handler](ApiCall& call) { return (this->*handler)(call); }};
  };
  std::vector<Route> routes;
  routes.push_back(route("GET", R"(/vusk/api/v1\.1/config/ai/privacy)", &Impl::AiPrivacy));
  routes.push_back(Route{"GET", std::regex(R"(/vusk/api/v1\.1/device/([^/]+)/web/enablement)"),
                         [this](ApiCall& call) { return WebEnablement(call, false); }});
  routes.push_back(Route{"GET",
                         std::regex(R"(/vusk/api/v1\.1/device/channel/([^/]+)/web/enablement)"),
                         [this](ApiCall& call) { return WebEnablement(call, true); }});
  routes.push_back(
      route("GET", R"(/vusk/api/v1\.1/common/request/picture/([^/]+))", &Impl::Picture));
  routes.push_back(route("POST", R"(/vusk/api/v1\.1/ip-speaker/channel/volume/fetch/list)",
                         &Impl::FetchVolumes));
  routes.push_back(route("POST", R"(/vusk/api/v1\.1/ip-speaker/channel/volume/update/batch)",
                         &Impl::UpdateVolumes));
  routes.push_back(
      route("GET", R"(/vusk/api/v1\.1/device/channel/([^/]+)/audio/file/list)", &Impl::AudioFiles));
  routes.push_back(route("POST", R"(/vusk/api/v1\.1/device/channel/same/audio/file/fetch/list)",
                         &Impl::SameAudioFiles));
  routes.push_back(
      route("GET", R"(/vusk/api/v1\.1/alarm/record/contact/detail)", &Impl::AlarmContacts));
  routes.push_back(
      route("GET", R"(/vusk/api/v1\.1/ptz/channel/([^/]+)/trail/list)", &Impl::PtzTrails));
  routes.push_back(route("POST", R"(/admin/API/SS/Record/StartRecord)", &Impl::StartRecord));
  routes.push_back(route("GET", R"(/vusk/api/v1\.1/config/pos)", &Impl::PosConfig));
  routes.push_back(route("GET", R"(/vusk/api/v1\.1/dictionary/list)", &Impl::DictionaryList));
  routes.push_back(
      route("GET", R"(/vusk/api/v1\.1/config/dictionary-mapper)", &Impl::DictionaryMapper));
  return routes;
}

std::vector<Route> MockServer::Impl::MakeControlRoutes() {
  const auto route = [](const char* method, const char* path, std::function<Reply(ApiCall&)> f) {
    return Route{method, std::regex(std::string(kControlPrefix) + path), std::move(f)};
  };
  std::vector<Route> routes;
  routes.push_back(route("GET", "stats", [this](ApiCall&) { return StatsReply(); }));
  routes.push_back(route("DELETE", "stats", [this](ApiCall&) {
    ResetStats();
    return StatsReply();
  }));
  routes.push_back(route("GET", "faults", [this](ApiCall&) { return FaultList(); }));
  routes.push_back(route("POST", "faults", [this](ApiCall& call) { return AddFaults(call); }));
  routes.push_back(route("DELETE", "faults", [this](ApiCall&) {
    faults_.Clear();
    return FaultList();
  }));
  routes.push_back(route("POST", "reset", [this](ApiCall& call) { return ResetPlatform(call); }));
  routes.push_back(
      route("GET", "catalog", [this](ApiCall&) { return Ok(CatalogJson(platform_.Snapshot())); }));
  routes.push_back(route("GET", "requests", [this](ApiCall&) { return RequestLog(); }));
  routes.push_back(route("DELETE", "requests", [this](ApiCall&) {
    std::lock_guard<std::mutex> lock(mutex_);
    requestLog_.clear();
    return Ok("{}");
  }));
  routes.push_back(route("POST", "shutdown", [this](ApiCall&) { return RequestShutdown(); }));
  return routes;
}

void MockServer::Impl::Start() {
  if (http_) throw std::logic_error("MockServer::Start: already started");
  stopping_ = false;
  if (Tls()) {
    // Over TLS the connection loop is httplib's own (see README.md for what that changes).
    auto tls = std::make_unique<httplib::SSLServer>(options_.tlsCertFile.c_str(),
                                                    options_.tlsKeyFile.c_str());
    if (!tls->is_valid()) {
      throw std::runtime_error("cannot load the TLS certificate " + options_.tlsCertFile +
                               " with the key " + options_.tlsKeyFile);
    }
    http_ = std::move(tls);
  } else {
    http_ = std::make_unique<PlatformHttpServer>(counters_, stopping_);
  }
  // httplib's default also sets SO_REUSEPORT, which lets a second server bind the same port
  // and silently take half of the connections; a port in use must fail instead.
  http_->set_socket_options([](socket_t sock) {
    int on = 1;
    ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
  });
  http_->set_tcp_nodelay(true);
  http_->set_keep_alive_max_count(kKeepAliveMaxCount);
  http_->set_keep_alive_timeout(options_.keepAliveTimeoutSec);
  http_->set_read_timeout(kReadTimeoutSec);
  http_->set_write_timeout(kWriteTimeoutSec);
  const std::size_t threads = std::max<std::size_t>(options_.threads, 2);
  // httplib takes ownership of the queue it is handed.
  http_->new_task_queue = [threads] {
    return std::make_unique<httplib::ThreadPool>(threads).release();
  };

  const httplib::Server::Handler dispatch = [this](const httplib::Request& req,
                                                   httplib::Response& res) { Dispatch(req, res); };
  const std::string anyPath = R"([\s\S]*)";
  http_->Get(anyPath, dispatch);
  http_->Post(anyPath, dispatch);
  http_->Put(anyPath, dispatch);
  http_->Patch(anyPath, dispatch);
  http_->Delete(anyPath, dispatch);
  http_->Options(anyPath, dispatch);

  // Rejections that httplib makes itself (a malformed request line, a body too large) get the
  // JSON envelope too, with code = status * 10.
  http_->set_error_handler(
      httplib::Server::HandlerWithResponse([](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty() || res.has_header(kFaultHeader)) {
          return httplib::Server::HandlerResponse::Unhandled;
        }
        res.set_content(
            EnvelopeText(Error(res.status, res.status * 10, "HTTP " + std::to_string(res.status))),
            kJsonType);
        return httplib::Server::HandlerResponse::Handled;
      }));
  http_->set_exception_handler(
      [](const httplib::Request&, httplib::Response& res, std::exception_ptr error) {
        std::string what;
        try {
          std::rethrow_exception(error);
        } catch (const std::exception& e) {
          what = e.what();
        }
        res.status = 500;
        res.set_content(EnvelopeText(Error(500, kCodeInternal, what)), kJsonType);
      });
  if (options_.logRequests) {
    http_->set_logger([](const httplib::Request& req, const httplib::Response& res) {
      std::fprintf(stderr, "%s %s -> %d\n", req.method.c_str(), req.target.c_str(), res.status);
    });
  }

  bool bound = false;
  if (options_.port == 0) {
    port_ = http_->bind_to_any_port(options_.host);
    bound = port_ > 0;
  } else {
    port_ = options_.port;
    bound = http_->bind_to_port(options_.host, options_.port);
  }
  if (!bound) {
    http_.reset();
    throw std::runtime_error("cannot listen on " + options_.host + ":" +
                             std::to_string(options_.port));
  }
  listener_ = std::thread([this] { http_->listen_after_bind(); });
  for (int waited = 0; waited < 5000 && !http_->is_running(); ++waited) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (!http_->is_running()) {
    Stop();
    throw std::runtime_error("the HTTP server did not start");
  }
}

void MockServer::Impl::Stop() {
  if (!http_) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  http_->stop();
  if (listener_.joinable()) listener_.join();
  http_.reset();
}

ServerStats MockServer::Impl::Stats() const {
  ServerStats stats;
  stats.connections = counters_.connections;
  stats.openConnections = counters_.openConnections;
  stats.requests = counters_.requests;
  stats.apiRequests = counters_.apiRequests;
  stats.faultsApplied = counters_.faultsApplied;
  std::lock_guard<std::mutex> lock(mutex_);
  stats.paths = paths_;
  return stats;
}

void MockServer::Impl::ResetStats() {
  counters_.connections = 0;
  counters_.requests = 0;
  counters_.apiRequests = 0;
  counters_.faultsApplied = 0;
  std::lock_guard<std::mutex> lock(mutex_);
  paths_.clear();
}

void MockServer::Impl::Pause(int ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_.load(); });
}

void MockServer::Impl::RecordRequest(const httplib::Request& req) {
  RequestRecord record;
  record.method = req.method;
  record.target = req.target;
  record.path = req.path;
  for (const auto& header : req.headers) {
    if (!IsPseudoHeader(header.first)) record.headers.push_back(header);
  }
  record.body = req.body;
  std::lock_guard<std::mutex> lock(mutex_);
  record.sequence = ++requestSequence_;
  requestLog_.push_back(std::move(record));
  if (requestLog_.size() > kMaxLoggedRequests) requestLog_.pop_front();
  const bool counted = paths_.count(req.path) != 0 || paths_.size() < kMaxCountedPaths;
  ++paths_[counted ? req.path : std::string("(other)")];
}

void MockServer::Impl::Dispatch(const httplib::Request& req, httplib::Response& res) {
  ++counters_.requests;
  if (req.path.rfind(kControlPrefix, 0) == 0) {
    Send(Answer(req, controlRoutes_, false), res);
    return;
  }
  ++counters_.apiRequests;
  RecordRequest(req);
  const std::optional<Fault> fault = faults_.Take(req.path);
  if (!fault) {
    Send(Answer(req, apiRoutes_, true), res);
    return;
  }
  ++counters_.faultsApplied;
  ApplyFault(*fault, req, res);
}

void MockServer::Impl::ApplyFault(const Fault& fault, const httplib::Request& req,
                                  httplib::Response& res) {
  if (fault.delayMs > 0) Pause(fault.delayMs);
  res.set_header(kFaultHeader, FaultKindName(fault.kind));
  switch (fault.kind) {
    case FaultKind::kDelay:
      Send(Answer(req, apiRoutes_, true), res);
      return;
    case FaultKind::kHttpError:
      res.status = fault.status;
      res.set_content(fault.body.value_or("<html><body><h1>" + std::to_string(fault.status) +
                                          " injected error</h1></body></html>"),
                      "text/html; charset=UTF-8");
      return;
    case FaultKind::kGarbage:
      res.status = 200;
      res.set_content(fault.body.value_or("<<garbage: this answer is not JSON>>"),
                      "text/plain; charset=UTF-8");
      return;
    case FaultKind::kTruncate:
      SendTruncated(Answer(req, apiRoutes_, true), res);
      return;
    case FaultKind::kDrop:
      // Only this thread serves the socket, so it is still open; httplib's write of the
      // (empty) answer then fails and the connection closes without a byte sent.
      ::shutdown(tConnectionSocket, SHUT_RDWR);
      res.status = 200;
      return;
    case FaultKind::kBusiness: {
      Reply reply;
      if (fault.keepData) {
        reply = Answer(req, apiRoutes_, true);
        if (reply.binary) reply = Reply{};  // a picture has no envelope to keep
      }
      reply.httpStatus = fault.status;
      reply.code = fault.code;
      reply.message = "injected fault";
      Send(reply, res);
      return;
    }
    case FaultKind::kBig:
      SendBig(fault.bytes, fault.chunked, res);
      return;
  }
}

Reply MockServer::Impl::Answer(const httplib::Request& req, const std::vector<Route>& routes,
                               bool platformChecks) {
  const Route* chosen = nullptr;
  std::vector<std::string> allowed;
  std::smatch match;
  for (const auto& route : routes) {
    if (!std::regex_match(req.path, match, route.pattern)) continue;
    allowed.push_back(route.method);
    if (route.method == req.method || (route.method == "GET" && req.method == "HEAD")) {
      chosen = &route;
      break;
    }
  }
  if (chosen == nullptr && allowed.empty()) {
    return Error(404, kCodeNoSuchPath, "no such path " + req.path);
  }
  if (chosen == nullptr) {
    Reply reply = Error(405, kCodeMethodNotAllowed, req.method + " not allowed on " + req.path);
    std::string allow;
    for (const auto& method : allowed) allow += (allow.empty() ? "" : ", ") + method;
    reply.headers.emplace("Allow", allow);
    return reply;
  }
  if (platformChecks) {
    if (auto problem = CheckStandardHeaders(req)) return Error(400, kCodeBadHeader, *problem);
  }
  ApiCall call{req, {}, rapidjson::Document()};
  for (std::size_t i = 1; i < match.size(); ++i) call.captures.push_back(match[i].str());
  if (req.method == "POST") {
    call.body.Parse(req.body.data(), req.body.size());
    if (platformChecks) {
      if (call.body.HasParseError() || !call.body.IsObject()) {
        return Error(400, kCodeBadBody, "the body must be a JSON object");
      }
      if (auto problem = CheckIdentity(call.body)) {
        return Error(200, kCodeIdentityRejected, *problem);
      }
    }
  }
  return chosen->handler(call);
}

// --- platform endpoints ----------------------------------------------------------------------

Reply MockServer::Impl::AiPrivacy(ApiCall&) {
  const int enable = platform_.AiPrivacyEnable();
  return Ok(JsonObject([enable](JsonWriter& w) { PutInt(w, "enable", enable); }));
}

Reply MockServer::Impl::WebEnablement(ApiCall& call, bool channel) {
  const std::string& id = call.captures.at(0);
  const Outcome<int> outcome =
      channel ? platform_.ChannelWebEnablement(id) : platform_.DeviceWebEnablement(id);
  return FromOutcome(outcome, [&](JsonWriter& w, int enableWeb) {
    PutString(w, channel ? "channelId" : "deviceId", id);
    PutInt(w, "enableWeb", enableWeb);
  });
}

Reply MockServer::Impl::Picture(ApiCall& call) {
  const auto outcome = platform_.PicturePng(call.captures.at(0));
  if (!outcome.Ok()) return Error(200, outcome.code, outcome.message);
  Reply reply;
  reply.binary = outcome.value;
  reply.binaryType = "image/png";
  return reply;
}

Reply MockServer::Impl::FetchVolumes(ApiCall& call) {
  const auto ids = StringList(call.body, "channelIds", false);
  if (!ids || ids->empty()) {
    return InvalidParameter("\"channelIds\" must be a non-empty array of strings");
  }
  return FromOutcome(platform_.FetchVolumes(*ids), [](JsonWriter& w, const auto& volumes) {
    PutArray(w, "results", volumes, [](JsonWriter& o, const SpeakerVolume& v) {
      PutString(o, "channelId", v.channelId);
      PutString(o, "channelName", v.channelName);
      PutInt(o, "microphoneVolume", v.microphoneVolume);
      PutInt(o, "speakerVolume", v.speakerVolume);
      PutInt(o, "successful", v.successful);
    });
  });
}

Reply MockServer::Impl::UpdateVolumes(ApiCall& call) {
  const auto ids = StringList(call.body, "channelIds", false);
  if (!ids || ids->empty()) {
    return InvalidParameter("\"channelIds\" must be a non-empty array of strings");
  }
  const std::array<const char*, 2> names = {"microphoneVolume", "speakerVolume"};
  std::array<std::optional<std::int64_t>, 2> volumes;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const rapidjson::Value* value = MemberOf(call.body, names[i]);
    if (value == nullptr) continue;
    if (!value->IsInt64())
      return InvalidParameter(std::string("\"") + names[i] + "\" must be an integer");
    volumes[i] = value->GetInt64();
  }
  return FromOutcome(
      platform_.UpdateVolumes(*ids, volumes[0], volumes[1]),
      [](JsonWriter& w, const VolumeUpdate& update) {
        PutStrings(w, "microphoneVolumeFailedChannels", update.microphoneVolumeFailedChannels);
        PutStrings(w, "speakerVolumeFailedChannels", update.speakerVolumeFailedChannels);
      });
}

Reply MockServer::Impl::AudioFiles(ApiCall& call) {
  return FromOutcome(platform_.AudioFiles(call.captures.at(0)),
                     [](JsonWriter& w, const auto& files) {
                       PutArray(w, "results", files, [](JsonWriter& o, const auto& file) {
                         PutString(o, "channelId", file.first);
                         PutString(o, "fileId", file.second.fileId);
                         PutString(o, "fileName", file.second.fileName);
                       });
                     });
}

Reply MockServer::Impl::SameAudioFiles(ApiCall& call) {
  const auto ids = StringList(call.body, "channelIds", true);
  if (!ids) return InvalidParameter("\"channelIds\" must be an array of strings or null");
  return FromOutcome(platform_.SameAudioFiles(*ids), [](JsonWriter& w, const auto& files) {
    PutArray(w, "results", files, [](JsonWriter& o, const SameAudioFile& file) {
      PutString(o, "fileName", file.fileName);
      PutArray(o, "channelFiles", file.channelFiles, [](JsonWriter& f, const ChannelFile& cf) {
        PutString(f, "channelId", cf.channelId);
        PutString(f, "fileId", cf.fileId);
      });
    });
  });
}

Reply MockServer::Impl::AlarmContacts(ApiCall& call) {
  const httplib::Request& req = call.request;
  if (!req.has_param("alarmCode") || !req.has_param("alarmDate")) {
    return InvalidParameter("alarmCode and alarmDate are required");
  }
  const auto date = ParseDecimal<std::int64_t>(req.get_param_value("alarmDate"));
  if (!date) return InvalidParameter("alarmDate must be a 64-bit decimal integer");
  return FromOutcome(platform_.AlarmContacts(req.get_param_value("alarmCode"), *date),
                     [](JsonWriter& w, const auto& sources) {
                       PutArray(w, "results", sources, [](JsonWriter& o, const AlarmSource& s) {
                         PutString(o, "sourceName", s.sourceName);
                         PutString(o, "devicePosition", s.devicePosition);
                         PutArray(o, "deviceContacts", s.deviceContacts,
                                  [](JsonWriter& c, const Contact& contact) {
                                    PutString(c, "contactName", contact.contactName);
                                    PutString(c, "contactPhone", contact.contactPhone);
                                    PutString(c, "contactEmail", contact.contactEmail);
                                    PutString(c, "contactNote", contact.contactNote);
                                  });
                       });
                     });
}

Reply MockServer::Impl::PtzTrails(ApiCall& call) {
  return FromOutcome(platform_.PtzTrails(call.captures.at(0)),
                     [](JsonWriter& w, const auto& trails) {
                       PutArray(w, "results", trails, [](JsonWriter& o, const PtzTrail& t) {
                         PutString(o, "trailId", t.trailId);
                         PutString(o, "trailName", t.trailName);
                       });
                     });
}

Reply MockServer::Impl::StartRecord(ApiCall& call) {
  const rapidjson::Value* data = MemberOf(call.body, "data");
  const rapidjson::Value* channelId = data ? MemberOf(*data, "channelId") : nullptr;
  const rapidjson::Value* streamType = data ? MemberOf(*data, "streamType") : nullptr;
  const rapidjson::Value* duration = data ? MemberOf(*data, "duration") : nullptr;
  if (channelId == nullptr || !channelId->IsString() || streamType == nullptr ||
      !streamType->IsInt64() || duration == nullptr || !duration->IsInt64()) {
    return InvalidParameter(
        "\"data\" must hold \"channelId\" (string), \"streamType\" and \"duration\" (integers)");
  }
  const auto outcome =
      platform_.StartRecord(std::string(channelId->GetString(), channelId->GetStringLength()),
                            streamType->GetInt64(), duration->GetInt64());
  return FromOutcome(outcome, [](JsonWriter& w, const RecordPlan& plan) {
    PutInt(w, "planId", plan.planId);
    PutInt(w, "now", plan.startedAt);
  });
}

Reply MockServer::Impl::PosConfig(ApiCall&) {
  const std::string playbackTime = platform_.PosPlaybackTime();
  return Ok(JsonObject([&](JsonWriter& w) { PutString(w, "posPlaybackTime", playbackTime); }));
}

Reply MockServer::Impl::DictionaryList(ApiCall& call) {
  if (!call.request.has_param("types")) return InvalidParameter("types is required");
  std::vector<int> types;
  const std::string list = call.request.get_param_value("types");
  std::string_view text = list;
  for (;;) {
    const std::size_t comma = text.find(',');
    const auto type = ParseDecimal<int>(std::string(text.substr(0, comma)));
    if (!type) return InvalidParameter("types must be decimal integers separated by commas");
    types.push_back(*type);
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  return FromOutcome(platform_.DictionaryGroups(types), [](JsonWriter& w, const auto& groups) {
    PutArray(w, "results", groups, [](JsonWriter& o, const DictionaryGroup& group) {
      PutInt(o, "type", group.type);
      PutString(o, "groupName", group.groupName);
      PutArray(o, "items", group.items, [](JsonWriter& i, const DictionaryItem& item) {
        PutString(i, "code", item.code);
        PutString(i, "name", item.name);
      });
    });
  });
}

Reply MockServer::Impl::DictionaryMapper(ApiCall& call) {
  const auto type = ParseDecimal<int>(call.request.get_param_value("type"));
  if (!type) return InvalidParameter("type must be a decimal integer");
  return FromOutcome(platform_.DictionaryMapper(*type), [&](JsonWriter& w, const auto& entries) {
    PutInt(w, "type", *type);
    PutArray(w, "results", entries, [](JsonWriter& o, const MapperEntry& entry) {
      PutString(o, "key", entry.key);
      PutString(o, "value", entry.value);
    });
  });
}

// --- control endpoints -----------------------------------------------------------------------

Reply MockServer::Impl::StatsReply() {
  const ServerStats stats = Stats();
  return Ok(JsonObject([&](JsonWriter& w) {
    PutUint(w, "connections", stats.connections);
    PutUint(w, "openConnections", stats.openConnections);
    PutUint(w, "requests", stats.requests);
    PutUint(w, "apiRequests", stats.apiRequests);
    PutUint(w, "faultsApplied", stats.faultsApplied);
    w.Key("paths");
    w.StartObject();
    for (const auto& [path, count] : stats.paths) {
      w.Key(path.data(), static_cast<rapidjson::SizeType>(path.size()));
      w.Uint64(count);
    }
    w.EndObject();
  }));
}

Reply MockServer::Impl::AddFaults(ApiCall& call) {
  auto parsed = ParseFaults(call.request.body);
  if (!parsed.Ok()) return Error(400, parsed.code, parsed.message);
  std::vector<std::uint64_t> ids;
  for (auto& fault : parsed.value) ids.push_back(faults_.Add(std::move(fault)));
  return Ok(JsonObject([&](JsonWriter& w) {
    w.Key("ids");
    w.StartArray();
    for (auto id : ids) w.Uint64(id);
    w.EndArray();
  }));
}

Reply MockServer::Impl::FaultList() {
  const std::vector<Fault> faults = faults_.List();
  return Ok(JsonObject([&](JsonWriter& w) {
    PutArray(w, "faults", faults, [](JsonWriter& o, const Fault& fault) {
      PutUint(o, "id", fault.id);
      PutString(o, "path", fault.path);
      PutString(o, "kind", FaultKindName(fault.kind));
      PutInt(o, "delayMs", fault.delayMs);
      if (fault.kind == FaultKind::kHttpError || fault.kind == FaultKind::kBusiness) {
        PutInt(o, "status", fault.status);
      }
      if (fault.kind == FaultKind::kBusiness) {
        PutInt(o, "code", fault.code);
        o.Key("keepData");
        o.Bool(fault.keepData);
      }
      if (fault.body) PutString(o, "body", *fault.body);
      if (fault.kind == FaultKind::kBig) {
        PutInt(o, "bytes", fault.bytes);
        o.Key("chunked");
        o.Bool(fault.chunked);
      }
      PutInt(o, "count", fault.remaining);
    });
  }));
}

Reply MockServer::Impl::ResetPlatform(ApiCall& call) {
  std::uint64_t seed = platform_.Seed();
  if (!call.request.body.empty() && (call.body.HasParseError() || !call.body.IsObject())) {
    return Error(400, kCodeInvalidParameter, "the body must be empty or a JSON object");
  }
  if (const rapidjson::Value* value = MemberOf(call.body, "seed")) {
    if (!value->IsUint64())
      return Error(400, kCodeInvalidParameter, "\"seed\" must be an unsigned integer");
    seed = value->GetUint64();
  }
  platform_.Reset(seed);
  faults_.Clear();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requestLog_.clear();
  }
  return Ok(JsonObject([seed](JsonWriter& w) { PutUint(w, "seed", seed); }));
}

Reply MockServer::Impl::RequestLog() {
  std::deque<RequestRecord> records;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    records = requestLog_;
  }
  return Ok(JsonObject([&](JsonWriter& w) {
    PutArray(w, "requests", records, [](JsonWriter& o, const RequestRecord& record) {
      PutUint(o, "sequence", record.sequence);
      PutString(o, "method", record.method);
      PutString(o, "target", record.target);
      PutString(o, "path", record.path);
      PutArray(o, "headers", record.headers, [](JsonWriter& h, const auto& header) {
        PutString(h, "name", header.first);
        PutString(h, "value", header.second);
      });
      PutString(o, "body", record.body);
    });
  }));
}

Reply MockServer::Impl::RequestShutdown() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    shutdownRequested_ = true;
  }
  wake_.notify_all();
  Reply reply = Ok("{}");
  reply.message = "shutting down";
  return reply;
}

// --- MockServer ------------------------------------------------------------------------------

MockServer::MockServer(ServerOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}
MockServer::~MockServer() = default;
void MockServer::Start() { impl_->Start(); }
void MockServer::Stop() { impl_->Stop(); }
int MockServer::Port() const { return impl_->Port(); }
std::string MockServer::BaseUrl() const { return impl_->BaseUrl(); }
bool MockServer::ShutdownRequested() const { return impl_->ShutdownRequested(); }
bool MockServer::WaitForShutdownRequest(std::chrono::milliseconds timeout) {
  return impl_->WaitForShutdownRequest(timeout);
}
Platform& MockServer::GetPlatform() { return impl_->GetPlatform(); }
FaultInjector& MockServer::Faults() { return impl_->Faults(); }
ServerStats MockServer::Stats() const { return impl_->Stats(); }

}  // namespace corvane::mock
