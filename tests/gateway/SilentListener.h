// A socket that listens on 127.0.0.1 and never accepts: the system completes a client's TCP
// handshake, then nothing ever answers, so a client waits in its TLS handshake or for its answer.
#ifndef CORVANE_TESTS_GATEWAY_SILENTLISTENER_H
#define CORVANE_TESTS_GATEWAY_SILENTLISTENER_H

#ifdef _WIN32
#include <winsock2.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <string>

namespace gateway_test {

class SilentListener {
 public:
  SilentListener() {
#ifdef _WIN32
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
#endif
    socket_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    auto* any = reinterpret_cast<sockaddr*>(&address);
    if (::bind(socket_, any, length) == 0 && ::listen(socket_, 16) == 0) {
      ::getsockname(socket_, any, &length);
      port_ = ntohs(address.sin_port);
    }
  }
  ~SilentListener() {
#ifdef _WIN32
    closesocket(socket_);
    WSACleanup();
#else
    ::close(socket_);
#endif
  }
  SilentListener(const SilentListener&) = delete;
  SilentListener& operator=(const SilentListener&) = delete;

  std::string HttpsUrl() const { return "https://127.0.0.1:" + std::to_string(port_); }

 private:
#ifdef _WIN32
  using socklen_t = int;
  SOCKET socket_;
#else
  int socket_;
#endif
  int port_ = 0;
};

}  // namespace gateway_test

#endif  // CORVANE_TESTS_GATEWAY_SILENTLISTENER_H
