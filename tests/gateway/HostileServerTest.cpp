// The gateway against hand-written hostile servers: each row scripts the exact bytes a server
// sends for each request it reads, and when it closes or resets, and the request count shows
// what reached it. Two calls run on one session: a GET that leaves a kept-alive connection, then
// the row's call.
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "GatewayTestSupport.h"
#include "HttpCore.h"

namespace gateway_test {
namespace {

namespace http = corvane::http;

// What the server does with one request it has read: bytes, a pause, more bytes, an ending.
struct Reply {
  enum End { kKeep, kClose, kReset };
  Reply(std::string bytes, End end = kKeep, int pauseMs = 0, std::string later = "")
      : bytes(std::move(bytes)), end(end), pauseMs(pauseMs), later(std::move(later)) {}
  std::string bytes;
  End end;
  int pauseMs;
  std::string later;
};

std::string Answer(const std::string& body, const std::string& head = "HTTP/1.1 200 OK\r\n") {
  return head + "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\n\r\n" + body;
}

// Serves the scripted replies in the order requests arrive, then a correct answer naming the
// request's number; counts the requests.
class ScriptedServer {
 public:
  explicit ScriptedServer(std::vector<Reply> replies, http::ServerOptions options = {})
      : replies_(std::move(replies)),
        server_(options, [this](const http::Request&, http::Exchange& out) {
          const std::size_t n = requests_++;
          const Reply reply = n < replies_.size() ? replies_[n] : Reply{Answer(std::to_string(n))};
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
  const Reply first(Answer("0")), reset("", Reply::kReset), closed("", Reply::kClose);
  const Reply interim("HTTP/1.1 100 Continue\r\nContent-Length: 9\r\n\r\n" + Answer("{}"));
  const Reply stray(Answer("0"), Reply::kKeep, 50, Answer("777"));
  const Reply bodyOf204("HTTP/1.1 204 No Content\r\n\r\n", Reply::kKeep, 50, "{}");
  const Reply idle408(Answer("0"), Reply::kClose, 50,
                      "HTTP/1.1 408 Timeout\r\nContent-Length: 0\r\n\r\n");
  struct Row {
    std::string name, method;
    std::vector<Reply> replies;
    int expected;
    std::string answer;  // the second call's
    int requests;        // that reached the server, both calls together
  };
  std::vector<Row> rows = {
      {"POST read, then reset", "POST", {first, reset}, ZENTA_E_RECEIVE, "", 2},
      {"PUT read, then closed", "PUT", {first, closed}, ZENTA_E_RECEIVE, "", 2},
      {"GET read, then reset: sent again", "GET", {first, reset}, 0, "2", 3},
      {"a stray answer on the idle connection", "GET", {stray}, 0, "1", 2},
      {"a 204 with a body", "GET", {bodyOf204}, 0, "1", 2},
      {"an interim 100 head first", "GET", {first, interim}, 0, "{}", 2},
      {"a 408 on the idle connection, then closed", "GET", {idle408}, 0, "1", 2}};
  const Reply protocolErrors[] = {
      Answer("x", "HTTP/1.1 099 Odd\r\n"),
      Answer("x", "HTTP/1.1 000 Zero\r\n"),
      Answer("x", "HTTP/1.1 abc What\r\n"),
      Reply("{\"code\":0}", Reply::kClose),  // HTTP/0.9
      Reply("HTTP/1.1 200 OK\r\nX-Big: " + std::string(1 << 20, 'x') + "\r\n"),
      Reply("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nContent-Length: 3\r\n\r\n{}}")};
  for (const Reply& odd : protocolErrors) {
    rows.push_back({odd.bytes.substr(0, 40), "GET", {first, odd}, ZENTA_E_PROTOCOL, "", 2});
  }
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ScriptedServer server(row.replies);
    Session session(server.Url());
    RequestRecord get("GET", "a");
    ASSERT_EQ(Send(session.Handle(), get).code, ZENTA_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(250));  // idle, as between calls
    RequestRecord call(row.method, "b");
    if (row.method != "GET") call.Body("{\"start\":1}");
    const Outcome outcome = Send(session.Handle(), call);
    EXPECT_EQ(outcome.code, row.expected) << ZENTA_ErrorText(outcome.code);
    EXPECT_EQ(outcome.answer, row.answer);
    EXPECT_EQ(server.Requests(), row.requests) << "requests that reached the server";
  }
}

// Every answer is taken only when its end is proven and its head says one thing: each row breaks
// one framing rule on a 4,096-byte picture (or a JSON answer), and the gateway refuses it with
// the code and a detail that names the rule, at once, instead of handing over cut, still-coded or
// rewritten bytes. The rows marked ok are the forms the rules allow.
TEST(HostileServer, EveryAnswerIsFramedExactlyOrRefused) {
  const std::string picture(4096, 'p'), ok = "HTTP/1.1 200 OK\r\n";
  const auto framed = [&](const std::string& header) {
    return Reply(ok + header + "\r\n\r\n" + picture);
  };
  const auto chunked = [&](const std::string& codings, const std::string& body) {
    return Reply(ok + "Transfer-Encoding: " + codings + "\r\n\r\n" + body, Reply::kClose);
  };
  const std::string chunk = "1000\r\n" + picture + "\r\n0\r\n\r\n";
  struct Row {
    std::string name;
    Reply reply;
    int expected;
    std::string detail;  // a part of the detail, or the answer's length when expected is 0
    bool https = false;
  };
  const std::vector<Row> rows = {
      {"a length with letters", framed("Content-Length: 100abc"), ZENTA_E_PROTOCOL, "digits"},
      {"two lengths in a list", framed("Content-Length: 100, 4096"), ZENTA_E_PROTOCOL,
       "two lengths"},
      {"a length with a space", framed("Content-Length: 100 4096"), ZENTA_E_PROTOCOL, "digits"},
      {"a length with a semicolon", framed("Content-Length: 100;4096"), ZENTA_E_PROTOCOL, "digits"},
      {"a fractional length", framed("Content-Length: 100.5"), ZENTA_E_PROTOCOL, "digits"},
      {"a hexadecimal length", framed("Content-Length: 0x1000"), ZENTA_E_PROTOCOL, "digits"},
      {"a length in exponent form", framed("Content-Length: 1e2"), ZENTA_E_PROTOCOL, "digits"},
      {"a folded length", framed("Content-Length: 100\r\n 4096"), ZENTA_E_PROTOCOL, "folds"},
      {"ok: a list of one length", framed("Content-Length:  4096 , 4096"), 0, "4096"},
      {"both framings", framed("Content-Length: 4096\r\nTransfer-Encoding: chunked"),
       ZENTA_E_PROTOCOL, "framed twice"},
      {"gzip under chunked", chunked("gzip, chunked", chunk), ZENTA_E_PROTOCOL, "\"gzip\""},
      {"chunked twice", chunked("chunked, chunked", "6\r\n" + chunk + "\r\n0\r\n\r\n"),
       ZENTA_E_PROTOCOL, "after chunked"},
      {"chunked on two lines", chunked("chunked\r\nTransfer-Encoding: chunked", chunk),
       ZENTA_E_PROTOCOL, "after chunked"},
      {"identity", chunked("identity", picture), ZENTA_E_PROTOCOL, "\"identity\""},
      {"a chunk size with 0x", chunked("chunked", "0x5d\r\n" + picture), ZENTA_E_PROTOCOL, "chunk"},
      {"ok: chunked", chunked("chunked", chunk), 0, "4096"},
      {"no framing, cut by a FIN", Reply(ok + "\r\n" + picture.substr(0, 100), Reply::kClose),
       ZENTA_E_PROTOCOL, "neither"},
      {"no framing over https, cut without close_notify",
       Reply(ok + "\r\n" + picture.substr(0, 100), Reply::kClose), ZENTA_E_PROTOCOL, "neither",
       true},
      {"an unasked content coding", framed("Content-Length: 4096\r\nContent-Encoding: gzip"),
       ZENTA_E_PROTOCOL, "did not ask"},
      {"a JSON type in a trailer of a 500",
       Reply("HTTP/1.1 500 Oops\r\nContent-Type: text/plain\r\nTransfer-Encoding: chunked\r\n\r\n"
             "5\r\nerror\r\n0\r\nContent-Type: application/json\r\n\r\n"),
       ZENTA_E_HTTP_STATUS_BASE - 500, ""},
      {"status 600 with a JSON type", Reply(Answer("{}", "HTTP/1.1 600 Odd\r\n")), ZENTA_E_PROTOCOL,
       "outside 100..599"},
      {"HTTP/1.2", Reply(Answer("{}", "HTTP/1.2 200 OK\r\n")), ZENTA_E_PROTOCOL, "version"},
      {"a header line without a colon", framed("Content-Length: 4096\r\nNo colon here"),
       ZENTA_E_PROTOCOL, "colon"},
      {"a header line of 100 KiB",
       framed("Content-Length: 4096\r\nX-Big: " + std::string(100 * 1024, 'x')), ZENTA_E_PROTOCOL,
       "100 KiB"},
  };
  const std::string certificate = ::testing::TempDir() + "zenta-framing-cert.pem";
  const std::string key = ::testing::TempDir() + "zenta-framing-key.pem";
  const std::string make =
      "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 "
      "-keyout " +
      key + " -out " + certificate + " 2>/dev/null";
  ASSERT_EQ(std::system(make.c_str()), 0) << "openssl could not make a certificate";
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    http::ServerOptions options;
    if (row.https) {
      options.tlsCertFile = certificate;
      options.tlsKeyFile = key;
    }
    ScriptedServer server({row.reply}, options);
    const ZENTA_SessionOptions tight = Options(0, 2000, 0, 2);
    Session session(server.Url(), tight);
    RequestRecord record("GET", "picture");
    const Outcome outcome = Send(session.Handle(), record);
    char detail[512];
    ZENTA_LastErrorDetail(detail, sizeof detail);
    EXPECT_EQ(outcome.code, row.expected) << ZENTA_ErrorText(outcome.code) << ": " << detail;
    if (row.expected == 0) {
      EXPECT_EQ(std::to_string(outcome.answer.size()), row.detail);
    } else {
      EXPECT_NE(std::string(detail).find(row.detail), std::string::npos) << detail;
    }
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
    char detail[512];
    ZENTA_LastErrorDetail(detail, sizeof detail);
    EXPECT_NE(std::string(detail).find("client certificate"), std::string::npos) << detail;
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
  char detail[512];
  ZENTA_LastErrorDetail(detail, sizeof detail);
  EXPECT_NE(std::string(detail).find("certificate is not trusted"), std::string::npos) << detail;
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
