// The gateway through its C interface: opening sessions, request records, targets, the answer
// mapping, buffers, error texts and details, tracing. The transport's own work is checked in
// TransportTest.cpp, the session's rules in PolicyTest.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "GatewayTestSupport.h"
#include "HttpCore.h"
#include "ZentaInternal.h"

namespace gateway_test {
namespace {

// Opens a session and closes it again at once; the code of the open, and 0 left in *handle on
// failure.
int OpenAndClose(const char* url, const ZENTA_SessionOptions* options) {
  int handle = -7;
  const int code = ZENTA_OpenSession(url, options, &handle);
  if (code == ZENTA_OK) {
    EXPECT_GT(handle, 0);
    EXPECT_EQ(ZENTA_CloseSession(handle), ZENTA_OK);
  } else {
    EXPECT_EQ(handle, 0) << "a failed open leaves 0 in *handle";
  }
  return code;
}

TEST(OpenSession, ChecksTheServerUrl) {
  for (const char* url : {"127.0.0.1:8080", "http://127.0.0.1:", "http://127.0.0.1:65536",
                          "http://user@127.0.0.1", "http://127.0.0.1/b?x=1", "http://[::1:8080",
                          "http://127.0.0.1/my base", static_cast<const char*>(nullptr)}) {
    EXPECT_EQ(OpenAndClose(url, nullptr), ZENTA_E_BAD_URL) << (url ? url : "(null)");
  }
  for (const char* url :
       {"HTTPS://127.0.0.1:8443/b/", "http://[::1]:80/p", "http://localhost/a%20b"}) {
    EXPECT_EQ(OpenAndClose(url, nullptr), ZENTA_OK) << url;
  }
  EXPECT_EQ(OpenAndClose("ftp://127.0.0.1", nullptr), ZENTA_E_UNSUPPORTED_SCHEME);
  EXPECT_EQ(ZENTA_OpenSession("http://127.0.0.1", nullptr, nullptr), ZENTA_E_NULL_ARGUMENT);
}

TEST(OpenSession, ChecksTheOptions) {
  // A later version of the struct: larger, with a field this gateway must not read.
  struct LaterOptions {
    ZENTA_SessionOptions known;
    int unknown;
  };
  constexpr unsigned kCurrent = sizeof(ZENTA_SessionOptions);
  // The first version ended with caFile; maxAnswerBytes came with the second.
  constexpr unsigned kFirst = offsetof(ZENTA_SessionOptions, caFile) + sizeof(const char*);
  const struct {
    unsigned structSize;
    int connectMs, requestMs, maxConnections, verifyTls, maxAnswerBytes;
    int expected;
  } rows[] = {{kCurrent, 0, 0, 0, 0, 0, ZENTA_OK},
              {kFirst - 1, 0, 0, 0, 0, 0, ZENTA_E_OPTIONS_SIZE},
              {kFirst, 0, 0, 0, 0, -1, ZENTA_OK},
              {sizeof(LaterOptions), 0, 0, 0, 0, 0, ZENTA_OK},
              {kCurrent, -1, 0, 0, 0, 0, ZENTA_E_BAD_OPTION},
              {kCurrent, 0, -5, 0, 0, 0, ZENTA_E_BAD_OPTION},
              {kCurrent, 0, 0, 64, 0, 0, ZENTA_OK},
              {kCurrent, 0, 0, 65, 0, 0, ZENTA_E_BAD_OPTION},
              {kCurrent, 0, 0, 0, 3, 0, ZENTA_E_BAD_OPTION},
              {kCurrent, 0, 0, 0, 0, -1, ZENTA_E_BAD_OPTION}};
  for (const auto& row : rows) {
    SCOPED_TRACE(&row - rows);
    LaterOptions options{Options(row.connectMs, row.requestMs, row.maxConnections, row.verifyTls),
                         -1};
    options.known.maxAnswerBytes = row.maxAnswerBytes;
    options.known.structSize = row.structSize;
    EXPECT_EQ(OpenAndClose("https://127.0.0.1", &options.known), row.expected);
  }
}

TEST(OpenSession, HandlesAreNeverReused) {
  const EchoServer server;
  std::vector<int> handles(2);
  for (int& handle : handles) {
    ASSERT_EQ(ZENTA_OpenSession(server.Url().c_str(), nullptr, &handle), ZENTA_OK);
    ASSERT_EQ(ZENTA_CloseSession(handle), ZENTA_OK);
  }
  EXPECT_GT(handles[1], handles[0]) << "a closed session's handle was given out again";
  RequestRecord record("GET", "x");
  for (int handle : {handles[0], handles[1], 0, -1}) {
    SCOPED_TRACE(handle);
    EXPECT_EQ(Send(handle, record).code, ZENTA_E_UNKNOWN_HANDLE);
    EXPECT_EQ(ZENTA_CloseSession(handle), ZENTA_E_UNKNOWN_HANDLE);
  }
  EXPECT_EQ(NextConnection(server.Url()), "1") << "a request was sent";
}

// Which records are refused is checked in depth by the request fuzzer (tests/fuzz); here, that a
// refused call sends nothing.
TEST(Record, RefusedRecordsSendNothing) {
  const EchoServer server;
  Session session(server.Url());
  RequestRecord good("GET", "x"), badMethod("GE T", "x"), badHeader("GET", "x");
  badHeader.Header("X-A", "a\r\nX-Evil: 1");
  ostrel::RestResponse response{};
  const int handle = session.Handle();
  EXPECT_EQ(ZENTA_GeneralJsonRequest(handle, nullptr, 2096, &response, 56), ZENTA_E_NULL_ARGUMENT);
  EXPECT_EQ(ZENTA_GeneralJsonRequest(handle, good.Get(), 2095, &response, 56),
            ZENTA_E_REQUEST_SIZE);
  EXPECT_EQ(ZENTA_GeneralJsonRequest(handle, good.Get(), 2096, &response, 57),
            ZENTA_E_RESPONSE_SIZE);
  good.Fields().bodyLength = 5;  // with a null body
  EXPECT_EQ(Send(handle, good).code, ZENTA_E_BAD_RECORD);
  EXPECT_EQ(Send(handle, badMethod).code, ZENTA_E_BAD_METHOD);
  EXPECT_EQ(Send(handle, badHeader).code, ZENTA_E_BAD_HEADER);
  EXPECT_EQ(response.answer, nullptr);
  EXPECT_EQ(NextConnection(server.Url()), "1") << "a connection was made";
}

// The target a request arrived with, as the echo server saw it.
std::string TargetOf(const Outcome& outcome) {
  const std::string line = ParseEcho(outcome.answer).requestLine;
  const std::size_t start = line.find(' ') + 1;
  return line.substr(start, line.rfind(' ') - start);
}

TEST(Target, OnlyBytesThatCannotStandInATargetAreEncodedBehindTheBasePath) {
  const EchoServer server;
  const struct {
    const char* base;
    std::string path;
    std::string target;
  } rows[] = {{"/platform", "api/v1/devices", "/platform/api/v1/devices"},
              {"/platform/", "", "/platform/"},
              {"", "list?page=1&size=%41 b", "/list?page=1&size=%41%20b"},
              {"/p%20q", "\"<>\\^`{|}#", "/p%20q/%22%3C%3E%5C%5E%60%7B%7C%7D%23"},
              {"", std::string("\x01\t\x7f\r\ncaf\xC3\xA9", 10), "/%01%09%7F%0D%0Acaf%C3%A9"},
              {"/", "~!$'()*+,;=:@-._/../b/./c//d", "/~!$'()*+,;=:@-._/../b/./c//d"},
              {"", std::string(2048, 'p'), "/" + std::string(2048, 'p')}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.path.substr(0, 40));
    Session session(server.Url() + row.base);
    RequestRecord record("GET", row.path);
    char* bytes = reinterpret_cast<char*>(&record.Fields());
    bytes[2070] = bytes[2071] = 'Z';  // the padding right after the path field
    EXPECT_EQ(TargetOf(Send(session.Handle(), record)), row.target);
  }
}

// Every byte but letters and digits percent-encoded, to stand as one value of an echo target.
std::string Escaped(const std::string& text) {
  std::string escaped;
  for (const char c : text) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(c));
    escaped += std::isalnum(static_cast<unsigned char>(c)) ? std::string(1, c) : hex;
  }
  return escaped;
}

TEST(Answer, StatusAndContentTypeDecideWhatIsHandedOver) {
  const EchoServer server;
  Session session(server.Url());
  const struct {
    int status;
    const char* contentType;  // null: no Content-Type header
    std::string body;
    int expected;
  } rows[] = {{201, "text/plain", "made", ZENTA_OK},
              {204, nullptr, "", ZENTA_OK},
              {404, "application/json; charset=utf-8", "{\"code\":404}", ZENTA_OK},
              {400, " Application/JSON ;charset=utf-8", "{}", ZENTA_OK},
              {502, "text/html", "<html>bad gateway</html>", ZENTA_E_HTTP_STATUS_BASE - 502},
              {404, nullptr, "missing", ZENTA_E_HTTP_STATUS_BASE - 404},
              {301, "text/plain", "moved", ZENTA_E_HTTP_STATUS_BASE - 301},
              {200, "image/jpeg", std::string("\xFF\xD8\0\x01\0", 5), ZENTA_OK}};
  for (const auto& row : rows) {
    SCOPED_TRACE(&row - rows);
    // Every request, and one to the redirect's target, is counted under "answer".
    RequestRecord record("GET", "tag/answer/status/" + std::to_string(row.status) + "/type/" +
                                    (row.contentType ? Escaped(row.contentType) : "-") +
                                    (row.status == 301 ? "/location/%2Ftag%2Fanswer" : "") +
                                    "/body/" + Escaped(row.body));
    const Outcome outcome = Send(session.Handle(), record);
    EXPECT_EQ(outcome.code, row.expected);
    if (row.expected == ZENTA_OK) {
      EXPECT_EQ(outcome.answer, row.body);
      EXPECT_TRUE(outcome.terminated);
    }
  }
  RequestRecord count("GET", "count/answer");
  EXPECT_EQ(Send(session.Handle(), count).answer, std::to_string(std::size(rows)))
      << "a redirect was followed";
  EXPECT_EQ(zenta::OutstandingAnswerBuffers(), 0u);
}

TEST(Buffers, ReleaseTakesBackOnlyOutstandingAnswersAndAFailureClearsTheRecord) {
  const EchoServer server;
  Session session(server.Url());
  ostrel::RestResponse response{};
  RequestRecord record("GET", "x");
  ASSERT_EQ(ZENTA_GeneralJsonRequest(session.Handle(), record.Get(), 2096, &response, 56), 0);
  char* answer = response.answer;
  EXPECT_EQ(zenta::OutstandingAnswerBuffers(), 1u);
  char notOurs[8] = {};
  EXPECT_EQ(ZENTA_ReleaseDataBuffer(nullptr), ZENTA_OK);
  EXPECT_EQ(ZENTA_ReleaseDataBuffer(notOurs), ZENTA_E_UNKNOWN_BUFFER);
  EXPECT_EQ(ZENTA_ReleaseDataBuffer(answer + 1), ZENTA_E_UNKNOWN_BUFFER);
  EXPECT_EQ(ZENTA_ReleaseDataBuffer(answer), ZENTA_OK);
  EXPECT_EQ(ZENTA_ReleaseDataBuffer(answer), ZENTA_E_UNKNOWN_BUFFER) << "double release";
  EXPECT_EQ(zenta::OutstandingAnswerBuffers(), 0u);

  RequestRecord failing("GET", "status/503/body/busy");
  std::memset(&response, 0xAB, sizeof response);
  EXPECT_EQ(ZENTA_GeneralJsonRequest(session.Handle(), failing.Get(), 2096, &response, 56),
            ZENTA_E_HTTP_STATUS_BASE - 503);
  EXPECT_EQ(response.answer, nullptr);
  EXPECT_EQ(response.answerLength, 0);
  EXPECT_EQ(response.auxBuffer, nullptr);
  EXPECT_EQ(response.reserved[0], 0xAB) << "the reserved bytes are not the gateway's";
  EXPECT_EQ(zenta::OutstandingAnswerBuffers(), 0u);
}

TEST(ErrorText, EveryCodeHasItsOwnText) {
  // The named codes are dense within their groups.
  const struct {
    int first, last;
  } groups[] = {{0, 0}, {-20012, -20001}, {-20105, -20100}, {-20207, -20200}, {-30599, -30100}};
  const std::string unknown = ZENTA_ErrorText(12345);
  EXPECT_EQ(unknown, ZENTA_ErrorText(-20013));
  std::set<std::string> texts;
  for (const auto& group : groups) {
    for (int code = group.first; code <= group.last; ++code) {
      SCOPED_TRACE(code);
      EXPECT_NE(ZENTA_ErrorText(code), unknown);
      EXPECT_TRUE(texts.insert(ZENTA_ErrorText(code)).second) << "shared text";
      const int status = ZENTA_HttpStatusOf(code);
      EXPECT_EQ(status, code <= -30100 ? -30000 - code : 0);
    }
  }
  EXPECT_NE(std::string(ZENTA_ErrorText(-30502)).find("502"), std::string::npos);
  EXPECT_EQ(ZENTA_HttpStatusOf(-30600), 0);
}

// An HTTPS server whose certificate, made by openssl for this test, nobody trusts.
class SelfSignedServer {
 public:
  SelfSignedServer() : pem_(::testing::TempDir() + "zenta-self-signed.pem") {
    const std::string make =
        "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 "
        "-keyout " +
        pem_ + " -out " + pem_ + " >/dev/null 2>&1";
    EXPECT_EQ(std::system(make.c_str()), 0) << "openssl could not make a certificate";
    corvane::http::ServerOptions options;
    options.tlsCertFile = options.tlsKeyFile = pem_;
    server_ = std::make_unique<corvane::http::Server>(options, [](auto&, auto&) {});
    server_->Start();
  }
  ~SelfSignedServer() { std::remove(pem_.c_str()); }
  std::string Url() const { return server_->BaseUrl(); }

 private:
  std::string pem_;
  std::unique_ptr<corvane::http::Server> server_;
};

std::string LastDetail() {
  char detail[512];
  ZENTA_LastErrorDetail(detail, sizeof detail);
  return detail;
}

// The transport's words for each failure are checked in TransportTest.cpp; a certificate that is
// not trusted needs a TLS server, which only the Linux tests run.
TEST(Detail, AnUntrustedCertificateIsNamedAndEveryFailureReplacesTheDetail) {
  const SelfSignedServer tls;
  Session session(tls.Url());
  RequestRecord record("GET", "x");
  EXPECT_EQ(Send(session.Handle(), record).code, ZENTA_E_TLS);
  EXPECT_NE(LastDetail().find("certificate is not trusted"), std::string::npos) << LastDetail();
  RequestRecord bad("", "x");
  EXPECT_EQ(Send(0, bad).code, ZENTA_E_BAD_METHOD);
  EXPECT_EQ(LastDetail(), ZENTA_ErrorText(ZENTA_E_BAD_METHOD)) << "an earlier call's detail";
  char small[5] = "xxxx";
  const int length = ZENTA_LastErrorDetail(small, sizeof small);
  EXPECT_EQ(length, static_cast<int>(LastDetail().size()));
  EXPECT_EQ(std::string(small), LastDetail().substr(0, 4));
  EXPECT_EQ(ZENTA_LastErrorDetail(nullptr, 0), length);
}

// Runs only in the gateway.trace test, whose environment holds ZENTA_TRACE=1 from the start.
TEST(Trace, DISABLED_OneLinePerRequestWithoutBodiesOrHeaderValues) {
  const char* trace = std::getenv("ZENTA_TRACE");
  ASSERT_TRUE(trace != nullptr && std::string(trace) == "1");
  // The answer is the echo of the request, so it holds the request's secrets too.
  const EchoServer server;
  Session session(server.Url() + "/status/201");
  Session unreachable("http://127.0.0.1:1");  // nothing listens there

  testing::internal::CaptureStderr();
  RequestRecord post("POST", "trace/me?x=1");
  post.Header("X-Token", "secret-header-value").Body("{\"secret\":\"body\"}");
  const Outcome answered = Send(session.Handle(), post);
  EXPECT_EQ(answered.code, ZENTA_OK);
  RequestRecord get("GET", "nowhere");
  EXPECT_EQ(Send(unreachable.Handle(), get).code, ZENTA_E_CONNECT);
  const std::string output = testing::internal::GetCapturedStderr();

  EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 2) << output;
  const std::string line = "POST /status/201/trace/me?x=1 -> HTTP 201, " +
                           std::to_string(answered.answer.size()) + " bytes, ";
  EXPECT_NE(output.find(line), std::string::npos) << output;
  EXPECT_NE(answered.answer.find("secret-header-value"), std::string::npos);
  EXPECT_NE(output.find("GET /nowhere -> error -20201 (" +
                        std::string(ZENTA_ErrorText(ZENTA_E_CONNECT)) + ": " + LastDetail()),
            std::string::npos)
      << output;
  EXPECT_EQ(output.find("secret"), std::string::npos) << output;
}

}  // namespace
}  // namespace gateway_test
