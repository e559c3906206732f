#include "EchoServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <stdexcept>

namespace corvane_test {
namespace {

constexpr std::size_t kMostHeadBytes = 64 * 1024;
constexpr std::size_t kChunkBytes = 1 << 20;
constexpr int kPollMs = 20;  // how often a waiting thread looks whether the server stops

// Waits until fd can be read, or stop is set; false when the server stops.
bool WaitReadable(int fd, const std::atomic<bool>& stop) {
  while (!stop) {
    pollfd entry{fd, POLLIN, 0};
    if (poll(&entry, 1, kPollMs) > 0) return true;
  }
  return false;
}

bool SendAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t sent = send(fd, data, size, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

bool SendAll(int fd, const std::string& text) { return SendAll(fd, text.data(), text.size()); }

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return text;
}

std::string PercentDecoded(const std::string& text) {
  std::string decoded;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() &&
        std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      decoded.push_back(static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)));
      i += 2;
    } else {
      decoded.push_back(text[i]);
    }
  }
  return decoded;
}

// The value of a request header (first occurrence, name case-insensitive), if present.
std::optional<std::string> HeaderValue(const std::string& head, const std::string& name) {
  const std::string lower = Lower(head);
  const std::size_t at = lower.find("\r\n" + Lower(name) + ":");
  if (at == std::string::npos) return std::nullopt;
  std::size_t start = at + 3 + name.size();
  const std::size_t end = head.find("\r\n", start);
  while (start < end && (head[start] == ' ' || head[start] == '\t')) ++start;
  return head.substr(start, end - start);
}

const char* Reason(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 301:
      return "Moved Permanently";
    case 404:
      return "Not Found";
    case 502:
      return "Bad Gateway";
    default:
      return "Status";
  }
}

}  // namespace

// What the target's leading segments ask for.
struct EchoServer::Plan {
  int status = 200;
  std::optional<std::string> contentType = std::string("text/plain");
  int delayMs = 0;
  std::optional<std::string> body;  // nullopt: the echo
  std::size_t bytes = 0;
  bool sized = false;
  bool chunked = false;
  std::optional<std::string> location;
  std::string closeOnce;
  std::string resetOnce;
};

EchoServer::EchoServer(int port) {
  listener_ = socket(AF_INET, SOCK_STREAM, 0);
  const int on = 1;
  setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  socklen_t size = sizeof address;
  if (listener_ < 0 ||
      bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener_, 64) != 0 ||
      getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    if (listener_ >= 0) close(listener_);
    throw std::runtime_error("the echo server cannot listen on 127.0.0.1");
  }
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread([this] { Accept(); });
}

EchoServer::~EchoServer() {
  stop_ = true;
  acceptor_.join();
  for (std::thread& connection : connections_) connection.join();
  close(listener_);
}

void EchoServer::Accept() {
  long long serial = 0;
  while (WaitReadable(listener_, stop_)) {
    const int fd = accept(listener_, nullptr, nullptr);
    if (fd >= 0) connections_.emplace_back([this, fd, number = ++serial] { Serve(fd, number); });
  }
}

int EchoServer::CountToken(const std::string& token) {
  std::lock_guard<std::mutex> lock(mutex_);
  return ++tokenCounts_[token];
}

int EchoServer::TokenCount(const std::string& token) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = tokenCounts_.find(token);
  return found == tokenCounts_.end() ? 0 : found->second;
}

EchoServer::Plan EchoServer::PlanFor(const std::string& target) {
  Plan plan;
  std::size_t at = 1;  // after the leading "/"
  for (;;) {
    const std::size_t nameEnd = target.find('/', at);
    if (nameEnd == std::string::npos) break;
    std::size_t valueEnd = target.find_first_of("/?", nameEnd + 1);
    if (valueEnd == std::string::npos) valueEnd = target.size();
    const std::string name = target.substr(at, nameEnd - at);
    const std::string value = target.substr(nameEnd + 1, valueEnd - nameEnd - 1);
    if (name == "status") {
      plan.status = std::atoi(value.c_str());
    } else if (name == "type") {
      plan.contentType = value == "-" ? std::nullopt : std::optional(PercentDecoded(value));
    } else if (name == "delay") {
      plan.delayMs = std::atoi(value.c_str());
    } else if (name == "body") {
      plan.body = PercentDecoded(value);
    } else if (name == "bytes" || name == "chunked") {
      plan.bytes = static_cast<std::size_t>(std::strtoull(value.c_str(), nullptr, 10));
      plan.sized = true;
      plan.chunked = name == "chunked";
    } else if (name == "location") {
      plan.location = PercentDecoded(value);
    } else if (name == "close-once") {
      plan.closeOnce = value;
    } else if (name == "reset-once") {
      plan.resetOnce = value;
    } else if (name == "tag") {
      CountToken(value);
    } else if (name == "count") {
      plan.body = std::to_string(TokenCount(value));
    } else {
      break;
    }
    if (valueEnd >= target.size() || target[valueEnd] != '/') break;
    at = valueEnd + 1;
  }
  return plan;
}

// Answers one request. Returns false when the connection must end.
bool EchoServer::Answer(int fd, long long connection, const std::string& request,
                        const std::string& target) {
  const Plan plan = PlanFor(target);
  if (!plan.closeOnce.empty() && CountToken(plan.closeOnce) == 1) return false;
  if (plan.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(plan.delayMs));
  std::string head = "HTTP/1.1 " + std::to_string(plan.status) + " " + Reason(plan.status) + "\r\n";
  if (plan.contentType) head += "Content-Type: " + *plan.contentType + "\r\n";
  if (plan.location) head += "Location: " + *plan.location + "\r\n";
  if (!plan.resetOnce.empty() && CountToken(plan.resetOnce) == 1) {
    // The head of an answer whose body never comes: a reset instead of its 10 bytes.
    SendAll(fd, head + "Content-Length: 10\r\n\r\n");
    linger option{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &option, sizeof option);
    return false;
  }
  // Answers to HEAD, and 1xx, 204 and 304 answers, announce the body a GET would get without
  // sending it.
  const bool bodyless = request.compare(0, 5, "HEAD ") == 0 || plan.status < 200 ||
                        plan.status == 204 || plan.status == 304;
  if (plan.sized && plan.chunked && !bodyless) {
    if (!SendAll(fd, head + "Transfer-Encoding: chunked\r\n\r\n")) return false;
    const std::string chunk(kChunkBytes, 'a');
    char size[32];
    for (std::size_t left = plan.bytes; left > 0;) {
      const std::size_t part = left < kChunkBytes ? left : kChunkBytes;
      std::snprintf(size, sizeof size, "%zx\r\n", part);
      if (!SendAll(fd, size) || !SendAll(fd, chunk.data(), part) || !SendAll(fd, "\r\n", 2)) {
        return false;
      }
      left -= part;
    }
    return SendAll(fd, "0\r\n\r\n");
  }
  if (plan.sized) {
    if (!SendAll(fd, head + "Content-Length: " + std::to_string(plan.bytes) + "\r\n\r\n")) {
      return false;
    }
    if (bodyless) return true;
    const std::string chunk(kChunkBytes, 'a');
    for (std::size_t left = plan.bytes; left > 0;) {
      const std::size_t part = left < kChunkBytes ? left : kChunkBytes;
      if (!SendAll(fd, chunk.data(), part)) return false;
      left -= part;
    }
    return true;
  }
  const std::string body = plan.body ? *plan.body : std::to_string(connection) + "\n" + request;
  head += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
  return SendAll(fd, bodyless ? head : head + body);
}

void EchoServer::Serve(int fd, long long connection) {
  const int on = 1;
  // WinHTTP writes the head and the body of a request separately; without TCP_NODELAY on this
  // side the delayed ACK holds every POST back by some 40 ms.
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  std::string received;
  char chunk[16384];
  for (;;) {
    // Whatever does not start like a request line (a TLS handshake, say) gets a 400 and the end.
    if (!received.empty() && (received[0] < 'A' || received[0] > 'Z')) {
      SendAll(fd, "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
      break;
    }
    const std::size_t headEnd = received.find("\r\n\r\n");
    if (headEnd == std::string::npos) {
      if (received.size() > kMostHeadBytes) break;
    } else {
      const std::string head = received.substr(0, headEnd + 2);
      const std::optional<std::string> length = HeaderValue(head, "Content-Length");
      const std::size_t total =
          headEnd + 4 + (length ? static_cast<std::size_t>(std::stoull(*length)) : 0);
      if (received.size() >= total) {
        const std::string request = received.substr(0, total);
        received.erase(0, total);
        const std::size_t targetStart = request.find(' ') + 1;
        const std::string target =
            request.substr(targetStart, request.find(' ', targetStart) - targetStart);
        if (!Answer(fd, connection, request, target)) break;
        const std::optional<std::string> close = HeaderValue(head, "Connection");
        if (close && Lower(*close) == "close") break;
        continue;
      }
    }
    if (!WaitReadable(fd, stop_)) break;
    const ssize_t count = recv(fd, chunk, sizeof chunk, 0);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) break;
    received.append(chunk, static_cast<std::size_t>(count));
  }
  close(fd);
}

}  // namespace corvane_test
