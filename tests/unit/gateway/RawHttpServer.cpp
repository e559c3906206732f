#include "RawHttpServer.h"

#include <cstring>
#include <stdexcept>
#include <utility>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace gateway_test {
namespace {

#ifdef _WIN32
using Socket = SOCKET;
const Socket kNoSocket = INVALID_SOCKET;
void CloseSocket(Socket socket) { closesocket(socket); }
int PollOne(Socket socket, int milliseconds) {
  WSAPOLLFD entry{socket, POLLRDNORM, 0};
  return WSAPoll(&entry, 1, milliseconds);
}
#else
using Socket = int;
const Socket kNoSocket = -1;
void CloseSocket(Socket socket) { close(socket); }
int PollOne(Socket socket, int milliseconds) {
  pollfd entry{socket, POLLIN, 0};
  return poll(&entry, 1, milliseconds);
}
#endif

// Makes the coming close send a reset instead of an orderly shutdown.
void ResetOnClose(Socket socket) {
  linger option{};
  option.l_onoff = 1;
  option.l_linger = 0;
  setsockopt(socket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&option), sizeof option);
}

#ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL;  // a client that went away must not raise SIGPIPE
#else
constexpr int kSendFlags = 0;
#endif
constexpr int kPollMs = 20;
const char kJsonAnswer[] =
    "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 10\r\n\r\n{\"code\":0}";

// The Content-Length of a request head, 0 when it has none.
std::size_t ContentLength(const std::string& head) {
  std::string lower = head;
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  const std::size_t at = lower.find("\r\ncontent-length:");
  if (at == std::string::npos) return 0;
  return static_cast<std::size_t>(std::stoul(lower.substr(at + 17)));
}

}  // namespace

RawHttpServer::RawHttpServer(std::vector<Action> script) : script_(std::move(script)) {
#ifdef _WIN32
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
#endif
  const Socket listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t size = sizeof address;
  if (listener == kNoSocket ||
      bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener, 8) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    if (listener != kNoSocket) CloseSocket(listener);
    throw std::runtime_error("the raw test server could not listen on 127.0.0.1");
  }
  listener_ = static_cast<long long>(listener);
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { Run(); });
}

RawHttpServer::~RawHttpServer() {
  stop_ = true;
  thread_.join();
  CloseSocket(static_cast<Socket>(listener_));
}

std::string RawHttpServer::Url() const { return "http://127.0.0.1:" + std::to_string(port_); }

std::vector<std::string> RawHttpServer::Requests() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

int RawHttpServer::Connections() {
  std::lock_guard<std::mutex> lock(mutex_);
  return connections_;
}

void RawHttpServer::Run() {
  const auto listener = static_cast<Socket>(listener_);
  while (!stop_) {
    if (PollOne(listener, kPollMs) <= 0) continue;
    const Socket connection = accept(listener, nullptr, nullptr);
    if (connection == kNoSocket) continue;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++connections_;
    }
    Serve(static_cast<long long>(connection));
  }
}

void RawHttpServer::Serve(long long connectionValue) {
  const auto connection = static_cast<Socket>(connectionValue);
  std::string received;
  char chunk[4096];
  while (!stop_) {
    const std::size_t headEnd = received.find("\r\n\r\n");
    if (headEnd != std::string::npos) {
      const std::size_t total = headEnd + 4 + ContentLength(received.substr(0, headEnd + 2));
      if (received.size() >= total) {
        Action action = Action::kAnswerJson;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          if (requests_.size() < script_.size()) action = script_[requests_.size()];
          requests_.push_back(received.substr(0, total));
        }
        received.erase(0, total);
        if (action == Action::kCloseWithoutAnswer) break;
        if (action == Action::kResetAfterHead) {
          send(connection, kJsonAnswer, static_cast<int>(sizeof kJsonAnswer - 11), kSendFlags);
          ResetOnClose(connection);
          break;
        }
        send(connection, kJsonAnswer, static_cast<int>(sizeof kJsonAnswer - 1), kSendFlags);
        continue;
      }
    }
    if (PollOne(connection, kPollMs) <= 0) continue;
    const auto count = recv(connection, chunk, static_cast<int>(sizeof chunk), 0);
    if (count <= 0) break;
    received.append(chunk, static_cast<std::size_t>(count));
  }
  CloseSocket(connection);
}

}  // namespace gateway_test
