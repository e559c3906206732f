// The gateway against hand-written hostile servers: each row scripts the exact bytes a server
// sends for each request it reads, and when it closes or resets, and the request count shows
// what reached it. Two calls run on one session: a GET that leaves a kept-alive connection, then
// the row's call.
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "GatewayTestSupport.h"
#include "HostileRows.h"
#include "HttpCore.h"

namespace gateway_test {
namespace {

namespace http = corvane::http;
using hostile::Answer;
using hostile::Reply;

// Serves the scripted replies in the order requests arrive, then a correct answer naming the
// request's number; counts the requests.
class ScriptedServer {
 public:
  explicit ScriptedServer(std::vector<Reply> replies, http::ServerOptions options = {})
      : replies_(std::move(replies)),
        server_(options, [this](const http::Request&, http::Exchange& out) {
          const std::size_t n = requests_++;
          const Reply reply =
              n < replies_.size() ? replies_[n] : hostile::AfterScript(static_cast<int>(n));
          out.Write(reply.bytes);
          if (reply.pauseMs > 0 && out.Sleep(reply.pauseMs)) out.Write(reply.later);
          if (reply.end == Reply::kClose) out.Close();
          if (reply.end == Reply::kReset) out.Reset();
        }) {
    server_.Start();
  }
  std::string Url() const { return server_.BaseUrl(); }
  int Requests() const { return requests_; }

 private:
  const std::vector<Reply> replies_;
  std::atomic<int> requests_{0};
  http::Server server_;
};

TEST(HostileServer, EveryAnswerIsTheRequestsOwnAndNothingUnsafeIsSentTwice) {
  for (const hostile::OwnRow& row : hostile::OwnAnswerRows()) {
    SCOPED_TRACE(row.name);
    ScriptedServer server(row.replies);
    CheckOwnRow(server.Url(), row);
    EXPECT_EQ(server.Requests(), row.requests) << "requests that reached the server";
  }
}

// Every answer is taken only when its end is proven and its head says one thing: each row breaks
// one framing rule on a 4,096-byte picture (or a JSON answer), and the gateway refuses it with
// the code and a detail that names the rule, at once, instead of handing over cut, still-coded or
// rewritten bytes. The rows marked ok are the forms the rules allow.
TEST(HostileServer, EveryAnswerIsFramedExactlyOrRefused) {
  const std::string certificate = ::testing::TempDir() + "zenta-framing-cert.pem";
  const std::string key = ::testing::TempDir() + "zenta-framing-key.pem";
  const std::string make =
      "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 "
      "-keyout " +
      key + " -out " + certificate + " 2>/dev/null";
  ASSERT_EQ(std::system(make.c_str()), 0) << "openssl could not make a certificate";
  for (const hostile::FramingRow& row : hostile::FramingRows()) {
    SCOPED_TRACE(row.name);
    http::ServerOptions options;
    if (row.https) {
      options.tlsCertFile = certificate;
      options.tlsKeyFile = key;
    }
    ScriptedServer server({row.reply}, options);
    CheckFramingRow(server.Url(), row);
  }
  std::remove(certificate.c_str());
  std::remove(key.c_str());
}

// A server that requires a client certificate refuses a client without one in the handshake
// (TLS 1.2) or at the first read after it (TLS 1.3): both are a TLS failure, named as such.
TEST(HostileServer, AMissingClientCertificateIsATlsFailureOnEveryVersion) {
  const std::string certificate = ::testing::TempDir() + "zenta-mutual-cert.pem";
  const std::string key = ::testing::TempDir() + "zenta-mutual-key.pem";
  const std::string make =
      "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 "
      "-keyout " +
      key + " -out " + certificate + " 2>/dev/null";
  ASSERT_EQ(std::system(make.c_str()), 0) << "openssl could not make a certificate";
  for (const int version : {0x303 /* TLS 1.2 */, 0 /* the highest: 1.3 */}) {
    SCOPED_TRACE(version);
    http::ServerOptions options;
    options.tlsCertFile = certificate;
    options.tlsKeyFile = key;
    options.tlsClientCaFile = certificate;
    options.tlsMaxVersion = version;
    ScriptedServer server({}, options);
    const ZENTA_SessionOptions insecure = Options(0, 2000, 0, 2);
    Session session(server.Url(), insecure);
    RequestRecord record("GET", "x");
    EXPECT_EQ(Send(session.Handle(), record).code, ZENTA_E_TLS);
    EXPECT_NE(LastDetail().find("client certificate"), std::string::npos) << LastDetail();
  }
  std::remove(certificate.c_str());
  std::remove(key.c_str());
}

// A certificate nobody trusts (made by openssl for this test) is named as such.
TEST(HostileServer, AnUntrustedCertificateIsNamed) {
  http::ServerOptions tls;
  tls.tlsCertFile = ::testing::TempDir() + "zenta-untrusted-cert.pem";
  tls.tlsKeyFile = ::testing::TempDir() + "zenta-untrusted-key.pem";
  const std::string make =
      "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 -keyout " +
      tls.tlsKeyFile + " -out " + tls.tlsCertFile + " 2>/dev/null";
  ASSERT_EQ(std::system(make.c_str()), 0) << "openssl could not make a certificate";
  ScriptedServer server({}, tls);
  Session session(server.Url());
  RequestRecord record("GET", "x");
  EXPECT_EQ(Send(session.Handle(), record).code, ZENTA_E_TLS);
  EXPECT_NE(LastDetail().find("certificate is not trusted"), std::string::npos) << LastDetail();
  std::remove(tls.tlsCertFile.c_str());
  std::remove(tls.tlsKeyFile.c_str());
}

// An answer without a length grows its buffer at most to the cap: the bytes are held once.
TEST(HostileServer, AnAnswerOfUnknownLengthNeverHoldsMoreThanTheCap) {
  constexpr int kCap = 300000;
  std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  for (int sent = 0; sent < kCap; sent += 10000)
    chunked += "2710\r\n" + std::string(10000, 'a') + "\r\n";
  ScriptedServer server({Reply(chunked + "0\r\n\r\n")});
  ZENTA_SessionOptions options = Options();
  options.maxAnswerBytes = kCap;
  Session session(server.Url(), options);
  RequestRecord record("GET", "big");
  ostrel::RestResponse response{};
  ASSERT_EQ(ZENTA_GeneralJsonRequest(session.Handle(), record.Get(), 2096, &response, 56), 0);
  EXPECT_EQ(response.answerLength, kCap);
  EXPECT_LE(malloc_usable_size(response.answer), kCap + 64u);
  EXPECT_EQ(ZENTA_ReleaseDataBuffer(response.answer), ZENTA_OK);
}

// A forked child gets ZENTA_E_INHERITED_SESSION on its parent's session and never touches its
// connections; the parent carries on, on the same connection; a session the child opens works.
TEST(HostileServer, AForkedChildNeverUsesItsParentsConnections) {
  ScriptedServer server({});
  Session session(server.Url());
  RequestRecord record("GET", "x");
  ASSERT_EQ(Send(session.Handle(), record).code, ZENTA_OK);
  const pid_t child = fork();
  if (child == 0) {
    int own = 0;
    const bool inherited = Send(session.Handle(), record).code == ZENTA_E_INHERITED_SESSION &&
                           ZENTA_CloseSession(session.Handle()) == ZENTA_OK;
    const bool works = ZENTA_OpenSession(server.Url().c_str(), nullptr, &own) == ZENTA_OK &&
                       Send(own, record).code == ZENTA_OK;
    _exit(inherited && works ? 0 : 1);
  }
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(server.Requests(), 2) << "the parent's, then the child's own session's";
  EXPECT_EQ(Send(session.Handle(), record).code, ZENTA_OK);
}

}  // namespace
}  // namespace gateway_test
