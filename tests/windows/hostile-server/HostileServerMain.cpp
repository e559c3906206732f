// corvane-hostile-server: the scripted servers of tests/gateway/HostileRows.h as one Linux
// program, for the WinHTTP transport's tests under wine. A request's target names the row whose
// replies it gets: "/own/N/..." row N of OwnAnswerRows(), "/framing/N/..." row N of
// FramingRows(); each row's requests get its replies in the order they arrive, then correct
// answers naming their number, as a server of the row's own would give them. Besides:
//
//   /count/T/N     how many requests row N of table T has had so far (not counted itself)
//   /tls-url       the URL of this server over TLS (a certificate openssl makes at start)
//   /trickle/N     an answer of N announced bytes that arrive one every 100 ms
//   /ca-url, /client-url   with --pki DIR (tests/windows/deployment-fixture.sh made its files):
//                  "https://localhost:PORT" of a server whose certificate DIR/ca.pem issued, and
//                  of one that also requires a client certificate that DIR/ca.pem issued
//
// The first line on standard output is "listening on http://127.0.0.1:PORT", flushed at once.
// Runs until it is killed.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>
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
    const auto handler = [this](const http::Request& request, http::Exchange& out) {
      Serve(request, out);
    };
    plain_ = std::make_unique<http::Server>(http::ServerOptions(), handler);
    secure_ = std::make_unique<http::Server>(tls, handler);
    plain_->Start();
    secure_->Start();
    if (pki.empty()) return;
    tls.tlsCertFile = pki + "/server.pem";
    tls.tlsKeyFile = pki + "/server-key.pem";
    issued_ = std::make_unique<http::Server>(tls, handler);
    tls.tlsClientCaFile = pki + "/ca.pem";
    client_ = std::make_unique<http::Server>(tls, handler);
    issued_->Start();
    client_->Start();
  }

  std::string Url() const { return plain_->BaseUrl(); }

 private:
  void Serve(const http::Request& request, http::Exchange& out) {
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
    if (target == "/tls-url") {
      out.Write(hostile::Answer(secure_->BaseUrl()));
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

  std::map<std::string, std::vector<std::vector<Reply>>> tables_;
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
