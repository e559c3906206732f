#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <list>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "HttpCore.h"

namespace corvane::http {
namespace {

constexpr int kPollMs = 50;  // how soon a waiting connection or the acceptor notices Stop
constexpr std::size_t kMaxHeadBytes = 64 * 1024;
constexpr std::size_t kMaxBodyBytes = 64 * 1024 * 1024;

using Clock = std::chrono::steady_clock;
using SslContext = std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)>;

// Splits "NAME: value" lines after the request line; false when one is not a header field.
bool ParseHead(const std::string& head, Request& req) {
  const std::size_t lineEnd = head.find("\r\n");
  const std::string line = head.substr(0, lineEnd);
  const std::size_t sp1 = line.find(' ');
  const std::size_t sp2 = line.rfind(' ');
  if (sp1 == std::string::npos || sp1 == sp2 || line.compare(sp2 + 1, 7, "HTTP/1.") != 0) {
    return false;
  }
  req.method = line.substr(0, sp1);
  req.target = line.substr(sp1 + 1, sp2 - sp1 - 1);
  if (req.target.empty() || req.target.find(' ') != std::string::npos) return false;
  const std::size_t question = req.target.find('?');
  req.path = PercentDecode(std::string_view(req.target).substr(0, question), false);
  req.query = question == std::string::npos ? "" : req.target.substr(question + 1);
  for (std::size_t at = lineEnd + 2; at < head.size();) {
    const std::size_t end = head.find("\r\n", at);
    const std::string_view field(head.data() + at, end - at);
    const std::size_t colon = field.find(':');
    if (colon == 0 || colon == std::string_view::npos) return false;
    std::string_view value = field.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
      value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
    req.headers.emplace_back(std::string(field.substr(0, colon)), std::string(value));
    at = end + 2;
  }
  return true;
}

}  // namespace

class Server::Impl {
 public:
  Impl(ServerOptions options, Handler handler, ErrorHandler onError)
      : options_(std::move(options)), handler_(std::move(handler)), onError_(std::move(onError)) {}
  ~Impl() { Stop(); }

  void Start();
  void Stop();
  bool Sleep(int ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    return !wake_.wait_for(lock, std::chrono::milliseconds(ms),
                           [this] { return stopping_.load(); });
  }
  bool Stopping() const { return stopping_; }
  // Waits until fd has bytes, or until `deadline` or Stop; false then.
  bool WaitReadable(int fd, Clock::time_point deadline) const {
    while (!stopping_ && Clock::now() < deadline) {
      pollfd entry{fd, POLLIN, 0};
      const int ready = ::poll(&entry, 1, kPollMs);
      if (ready > 0) return true;
      if (ready < 0 && errno != EINTR) return false;
    }
    return false;
  }

  ServerOptions options_;
  Handler handler_;
  ErrorHandler onError_;
  SslContext tls_{nullptr, SSL_CTX_free};
  int listener_ = -1;
  int port_ = 0;
  std::atomic<std::uint64_t> connections_{0};
  std::atomic<std::uint64_t> open_{0};

 private:
  struct Worker {
    std::thread thread;
    std::atomic<bool> done{false};
  };
  void Accept();
  void Serve(int fd, std::uint64_t serial);

  std::mutex mutex_;  // guards stopping_ and workers_; wakes sleepers and the acceptor
  std::condition_variable wake_;
  std::atomic<bool> stopping_{false};
  std::list<Worker> workers_;
  std::thread acceptor_;
};

namespace {

// One accepted connection: reads requests into buffer_ and hands each to the handler.
class Connection final : public AnswerWriter {
 public:
  Connection(Server::Impl& server, int fd, SSL* ssl) : server_(server), fd_(fd), ssl_(ssl) {}

  bool Write(std::string_view bytes) override {
    while (!bytes.empty()) {
      ssize_t sent = 0;
      if (ssl_ != nullptr) {
        const int size = static_cast<int>(std::min<std::size_t>(bytes.size(), 1 << 30));
        sent = SSL_write(ssl_, bytes.data(), size);
      } else {
        sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
      }
      if (sent <= 0) return false;
      bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
  }
  void Close() override { closing_ = true; }
  void Reset() override { reset_ = closing_ = true; }
  bool Sleep(int ms) override { return server_.Sleep(ms); }
  bool HeadRequest() const override { return headRequest_; }
  bool Closing() const override { return closing_; }
  bool ResetRequested() const { return reset_; }

  void Serve(std::uint64_t serial) {
    const ServerOptions& options = server_.options_;
    for (std::size_t left = options.maxRequestsPerConnection; left > 0 && !closing_; --left) {
      const auto idleUntil = Clock::now() + std::chrono::seconds(options.keepAliveTimeoutSec);
      if (buffer_.empty() && !Pending() && !server_.WaitReadable(fd_, idleUntil)) return;
      Request req;
      req.connection = serial;
      const int problem = ReadRequest(req);
      if (problem < 0) return;
      if (problem > 0) {
        closing_ = true;
        if (server_.onError_) {
          server_.onError_(problem, *this);
        } else {
          Reply(problem, {}, "");
        }
        return;
      }
      headRequest_ = req.method == "HEAD";
      const auto close = req.Header("Connection");
      if (left == 1 || (close && SameLetters(*close, "close"))) closing_ = true;
      server_.handler_(req, *this);
    }
  }

 private:
  bool Pending() const { return ssl_ != nullptr && SSL_pending(ssl_) > 0; }

  // Appends what arrives within the I/O timeout; false when the peer closed, or on failure.
  bool Fill() {
    const auto deadline = Clock::now() + std::chrono::seconds(server_.options_.ioTimeoutSec);
    if (!Pending() && !server_.WaitReadable(fd_, deadline)) return false;
    char chunk[16384];
    ssize_t got = 0;
    if (ssl_ != nullptr) {
      got = SSL_read(ssl_, chunk, sizeof chunk);
    } else {
      do {
        got = ::recv(fd_, chunk, sizeof chunk, 0);
      } while (got < 0 && errno == EINTR);
      // Acknowledge at once: a client that writes a request's head and body separately (wine's
      // WinHTTP does) otherwise waits out the delayed acknowledgement before the body leaves.
      const int on = 1;
      ::setsockopt(fd_, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
    }
    if (got <= 0) return false;
    buffer_.append(chunk, static_cast<std::size_t>(got));
    return true;
  }

  // 0: a request in req; -1: the connection ended; otherwise the HTTP status to refuse with.
  int ReadRequest(Request& req) {
    std::size_t headEnd;
    while ((headEnd = buffer_.find("\r\n\r\n")) == std::string::npos) {
      // Whatever does not start like a request line (a TLS handshake, say) is refused at once.
      if (!buffer_.empty() && (buffer_[0] < 'A' || buffer_[0] > 'Z')) return 400;
      if (buffer_.size() > kMaxHeadBytes) return 400;
      if (!Fill()) return -1;
    }
    req.head = buffer_.substr(0, headEnd + 2);
    if (buffer_[0] < 'A' || buffer_[0] > 'Z' || !ParseHead(req.head, req)) return 400;
    if (req.HeaderCount("Transfer-Encoding") > 0) return 501;
    std::size_t length = 0;
    if (const auto text = req.Header("Content-Length")) {
      if (text->empty() || text->size() > 12 ||
          text->find_first_not_of("0123456789") != std::string::npos) {
        return 400;
      }
      length = std::stoull(*text);
      if (length > kMaxBodyBytes) return 413;
    }
    while (buffer_.size() < headEnd + 4 + length) {
      if (!Fill()) return -1;
    }
    req.body = buffer_.substr(headEnd + 4, length);
    buffer_.erase(0, headEnd + 4 + length);
    return 0;
  }

  Server::Impl& server_;
  int fd_;
  SSL* ssl_;
  std::string buffer_;
  bool headRequest_ = false;
  bool closing_ = false;
  bool reset_ = false;
};

}  // namespace

void Server::Impl::Start() {
  if (listener_ >= 0) throw std::logic_error("http::Server::Start: already started");
  if (!options_.tlsCertFile.empty() || !options_.tlsKeyFile.empty()) {
    tls_.reset(SSL_CTX_new(TLS_server_method()));
    if (!tls_ ||
        SSL_CTX_use_certificate_chain_file(tls_.get(), options_.tlsCertFile.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(tls_.get(), options_.tlsKeyFile.c_str(), SSL_FILETYPE_PEM) !=
            1 ||
        SSL_CTX_check_private_key(tls_.get()) != 1) {
      ERR_clear_error();
      throw std::runtime_error("cannot load the TLS certificate " + options_.tlsCertFile +
                               " with the key " + options_.tlsKeyFile);
    }
    if (!options_.tlsClientCaFile.empty()) {
      if (SSL_CTX_load_verify_locations(tls_.get(), options_.tlsClientCaFile.c_str(), nullptr) !=
          1) {
        ERR_clear_error();
        throw std::runtime_error("cannot load the client CA file " + options_.tlsClientCaFile);
      }
      SSL_CTX_set_verify(tls_.get(), SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
    }
    if (options_.tlsMaxVersion != 0) {
      SSL_CTX_set_max_proto_version(tls_.get(), options_.tlsMaxVersion);
    }
    // OpenSSL writes to the socket without MSG_NOSIGNAL: a peer gone mid-answer must not end
    // the process.
    struct sigaction current {};
    if (::sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
      ::signal(SIGPIPE, SIG_IGN);
    }
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(options_.port);
  if (::getaddrinfo(options_.host.c_str(), port.c_str(), &hints, &found) == 0) {
    for (addrinfo* at = found; at != nullptr && listener_ < 0; at = at->ai_next) {
      listener_ = ::socket(at->ai_family, at->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
      // SO_REUSEADDR only: with SO_REUSEPORT a second server could bind the same port and
      // silently take half of the connections.
      const int on = 1;
      ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
      if (listener_ >= 0 &&
          (::bind(listener_, at->ai_addr, at->ai_addrlen) != 0 || ::listen(listener_, 128) != 0)) {
        ::close(listener_);
        listener_ = -1;
      }
    }
    ::freeaddrinfo(found);
  }
  sockaddr_storage bound{};
  socklen_t size = sizeof bound;
  if (listener_ < 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&bound), &size) != 0) {
    throw std::runtime_error("cannot listen on " + options_.host + ":" + port);
  }
  port_ = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                            : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
  stopping_ = false;
  acceptor_ = std::thread([this] { Accept(); });
}

void Server::Impl::Stop() {
  if (listener_ < 0) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  acceptor_.join();
  for (Worker& worker : workers_) worker.thread.join();
  workers_.clear();
  ::close(listener_);
  listener_ = -1;
}

void Server::Impl::Accept() {
  std::uint64_t serial = 0;
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    workers_.remove_if([](Worker& worker) {
      if (worker.done) worker.thread.join();
      return worker.done.load();
    });
    if (open_ >= std::max<std::size_t>(options_.maxConnections, 1)) {
      wake_.wait_for(lock, std::chrono::milliseconds(kPollMs));
      continue;
    }
    lock.unlock();
    pollfd entry{listener_, POLLIN, 0};
    const int fd =
        ::poll(&entry, 1, kPollMs) > 0 ? ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC) : -1;
    lock.lock();
    if (fd < 0) continue;
    ++connections_;
    ++open_;
    Worker& worker = workers_.emplace_back();
    worker.thread = std::thread([this, fd, &worker, number = ++serial] {
      Serve(fd, number);
      --open_;
      worker.done = true;
      wake_.notify_all();
    });
  }
}

void Server::Impl::Serve(int fd, std::uint64_t serial) {
  const int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  const timeval timeout{options_.ioTimeoutSec, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  std::unique_ptr<SSL, decltype(&SSL_free)> ssl(nullptr, SSL_free);
  if (tls_) {
    // The handshake waits for the client's first bytes as an idle connection would: Stop ends it.
    const auto until = Clock::now() + std::chrono::seconds(options_.ioTimeoutSec);
    ssl.reset(SSL_new(tls_.get()));
    if (!ssl || SSL_set_fd(ssl.get(), fd) != 1 || !WaitReadable(fd, until) ||
        SSL_accept(ssl.get()) != 1) {
      ERR_clear_error();
      ::close(fd);
      return;
    }
  }
  Connection connection(*this, fd, ssl.get());
  connection.Serve(serial);
  if (connection.ResetRequested()) {
    const linger option{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &option, sizeof option);
  } else {
    ::shutdown(fd, SHUT_RDWR);
  }
  ERR_clear_error();
  ::close(fd);
}

Server::Server(ServerOptions options, Handler handler, ErrorHandler onError)
    : impl_(std::make_unique<Impl>(std::move(options), std::move(handler), std::move(onError))) {}
Server::~Server() = default;
void Server::Start() { impl_->Start(); }
void Server::Stop() { impl_->Stop(); }
int Server::Port() const { return impl_->port_; }
std::string Server::BaseUrl() const {
  const std::string& host = impl_->options_.host;
  const bool ipv6 = host.find(':') != std::string::npos;
  return (impl_->tls_ ? "https://" : "http://") + (ipv6 ? "[" + host + "]" : host) + ":" +
         std::to_string(impl_->port_);
}
std::uint64_t Server::Connections() const { return impl_->connections_; }
std::uint64_t Server::OpenConnections() const { return impl_->open_; }
void Server::ResetConnectionCount() { impl_->connections_ = 0; }

}  // namespace corvane::http
