// corvane-hostile-server: the scripted servers of tests/gateway/HostileRows.h as one Linux
// program, for the Windows gateway's tests under wine. A request's target names the row whose
// replies it gets: "/own/N/..." row N of OwnAnswerRows(), "/framing/N/..." row N of
// FramingRows(); each row's requests get its replies in the order they arrive, then correct
// answers naming their number, as a server of the row's own would give them. Besides:
//
//   /count/T/N     how many requests row N of table T has had so far (not counted itself)
//   /tls-url       the URL of this server over TLS (a certificate openssl makes at start)
//   /trickle/N     an answer of N announced bytes that arrive one every 100 ms
//   /trickle-head  an answer whose head arrives one byte every 100 ms
//   /trickle-tls-url   "https://127.0.0.1:PORT" of a listener whose TLS handshake never ends: it
//                  announces a handshake record of 16 KiB and sends it one byte every 100 ms
//   /ca-url, /client-url   with --pki DIR (tests/windows/deployment-fixture.sh made its files):
//                  "https://localhost:PORT" of a server whose certificate DIR/ca.pem issued, and
//                  of one that also requires a client certificate that DIR/ca.pem issued
//   /issued-count  how many requests reached the server of /ca-url so far
//
// The first line on standard output is "listening on http://127.0.0.1:PORT", flushed at once.
// Runs until it is killed.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "HostileRows.h"
#include "HttpCore.h"

namespace {

namespace http = corvane::http;
using hostile::Reply;

class HostileServer {
 public:
  HostileServer(const std::string& directory, const std::string& pki) {
    for (const hostile::OwnRow& row : hostile::OwnAnswerRows())
      tables_["own"].push_back(row.replies);
    for (const hostile::FramingRow& row : hostile::FramingRows())
      tables_["framing"].push_back({row.reply});
    const std::string certificate = directory + "/cert.pem", key = directory + "/key.pem";
    const std::string make =
        "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 -keyout " + key +
        " -out " + certificate + " 2>/dev/null";
    if (std::system(make.c_str()) != 0)
      std::fprintf(stderr, "openssl could not make a certificate\n");
    http::ServerOptions tls;
    tls.tlsCertFile = certificate;
    tls.tlsKeyFile = key;
    const auto handler = [this](const http::Request& request, http::AnswerWriter& out) {
      Serve(request, out);
    };
    plain_ = std::make_unique<http::Server>(http::ServerOptions(), handler);
    secure_ = std::make_unique<http::Server>(tls, handler);
    plain_->Start();
    secure_->Start();
    // The TLS server holds them now: the key is not left behind when the server is killed.
    std::remove(key.c_str());
    std::remove(certificate.c_str());
    rmdir(directory.c_str());
    if (pki.empty()) return;
    tls.tlsCertFile = pki + "/server.pem";
    tls.tlsKeyFile = pki + "/server-key.pem";
    issued_ = std::make_unique<http::Server>(
        tls, [this](const http::Request& request, http::AnswerWriter& out) {
          ++issuedRequests_;
          Serve(request, out);
        });
    tls.tlsClientCaFile = pki + "/ca.pem";
    client_ = std::make_unique<http::Server>(tls, handler);
    issued_->Start();
    client_->Start();
  }

  std::string Url() const { return plain_->BaseUrl(); }

 private:
  void Serve(const http::Request& request, http::AnswerWriter& out) {
    // A target in absolute form (as wine's WinHTTP sends it through a proxy's tunnel) is taken
    // as its path, as servers must.
    const std::size_t scheme = request.path.find("://");
    const std::string target = request.path[0] == '/' || scheme == std::string::npos
                                   ? request.path
                                   : request.path.substr(std::min(
                                         request.path.find('/', scheme + 3), request.path.size()));
    const char* path = target.c_str();
    int bytes = 0, index = -1;
    char table[16] = "";
    if (target == "/tls-url" || target == "/trickle-tls-url" || target == "/issued-count") {
      out.Write(hostile::Answer(target == "/tls-url"           ? secure_->BaseUrl()
                                : target == "/trickle-tls-url" ? TrickleTlsUrl()
                                                               : std::to_string(issuedRequests_)));
      return;
    }
    if (target == "/trickle-head") {
      const std::string head =
          "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nX-Slow: " + std::string(100, 's') + "\r\n\r\n{}";
      for (std::size_t i = 0; i < head.size() && out.Write(head.substr(i, 1)) && out.Sleep(100);
           ++i) {
      }
      return;
    }
    const std::unique_ptr<http::Server>& named = target == "/ca-url" ? issued_ : client_;
    if ((target == "/ca-url" || target == "/client-url") && named) {
      out.Write(hostile::Answer("https://localhost:" + std::to_string(named->Port())));
      return;
    }
    if (std::sscanf(path, "/trickle/%d", &bytes) == 1) {
      out.Write("HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nContent-Length: " +
                std::to_string(bytes) + "\r\n\r\n");
      for (int i = 0; i < bytes && out.Sleep(100) && out.Write("p"); ++i) {
      }
      return;
    }
    const bool counting = std::sscanf(path, "/count/%15[a-z]/%d", table, &index) == 2;
    if (!counting) std::sscanf(path, "/%15[a-z]/%d", table, &index);
    const std::string key = std::string(table) + "/" + std::to_string(index);
    const auto found = tables_.find(table);
    if (found == tables_.end() || index < 0 ||
        static_cast<std::size_t>(index) >= found->second.size()) {
      out.Reply(404, {}, "no such row");
      return;
    }
    int n = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      n = counting ? counts_[key] : counts_[key]++;
    }
    if (counting) {
      out.Write(hostile::Answer(std::to_string(n)));
      return;
    }
    const std::vector<Reply>& replies = found->second[static_cast<std::size_t>(index)];
    const Reply reply =
        static_cast<std::size_t>(n) < replies.size() ? replies[n] : hostile::AfterScript(n);
    out.Write(reply.bytes);
    if (reply.pauseMs > 0 && out.Sleep(reply.pauseMs)) out.Write(reply.later);
    if (reply.end == Reply::kClose) out.Close();
    if (reply.end == Reply::kReset) out.Reset();
  }

  // The URL of a listener, started on first use, whose every connection gets the head of a 16 KiB
  // TLS handshake record and then a byte of it every 100 ms, until the client leaves.
  std::string TrickleTlsUrl() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (trickleListener_ < 0) {
      trickleListener_ = socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      socklen_t size = sizeof address;
      if (bind(trickleListener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
          listen(trickleListener_, 8) != 0 ||
          getsockname(trickleListener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        return "https://127.0.0.1:1";
      }
      tricklePort_ = ntohs(address.sin_port);
      std::thread([listener = trickleListener_] {
        for (int client; (client = accept(listener, nullptr, nullptr)) >= 0;) {
          std::thread([client] {
            const char record[] = {0x16, 0x03, 0x03, 0x40, 0x00};  // handshake, TLS 1.2, 16 KiB
            bool open = send(client, record, sizeof record, MSG_NOSIGNAL) == sizeof record;
            for (int i = 0; open && i < 16384; ++i) {
              usleep(100 * 1000);
              open = send(client, "\x02", 1, MSG_NOSIGNAL) == 1;
            }
            close(client);
          }).detach();
        }
      }).detach();
    }
    return "https://127.0.0.1:" + std::to_string(tricklePort_);
  }

  std::map<std::string, std::vector<std::vector<Reply>>> tables_;
  std::atomic<int> issuedRequests_{0};
  int trickleListener_ = -1;
  int tricklePort_ = 0;
  std::mutex mutex_;
  std::map<std::string, int> counts_;
  std::unique_ptr<http::Server> plain_;
  std::unique_ptr<http::Server> secure_;
  std::unique_ptr<http::Server> issued_;  // with --pki: a certificate of the test CA
  std::unique_ptr<http::Server> client_;  // with --pki: also requires a client certificate
};

}  // namespace

int main(int argc, char** argv) {
  char directory[] = "/tmp/corvane-hostile-XXXXXX";
  if (mkdtemp(directory) == nullptr) return 1;
  const HostileServer server(directory,
                             argc == 3 && std::string(argv[1]) == "--pki" ? argv[2] : "");
  std::printf("listening on %s\n", server.Url().c_str());
  std::fflush(stdout);
  for (;;) pause();
}
