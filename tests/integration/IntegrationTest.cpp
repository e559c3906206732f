// The library over the real gateway against the simulated platform server: every operation's
// results equal the platform's data on one kept-alive connection, faults give their status, and
// TLS is verified as configured.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>

#include "Corvane.h"
#include "HttpCore.h"
#include "MockControl.h"
#include "ZentaInternal.h"
#include "zenta/ZentaSdk.h"

namespace {

using corvane::http::Answer;
using corvane::http::Headers;
using corvane_test::MockControl;

// The first field `name` of the answer, "-" when there is none.
std::string HeaderOf(const Answer& answer, const std::string& name) {
  for (const auto& [field, value] : answer.headers) {
    if (corvane::http::SameLetters(field, name)) return value;
  }
  return "-";
}

std::string Gunzip(const std::string& bytes) {
  z_stream z{};
  inflateInit2(&z, 16 + 15);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  z.avail_in = static_cast<uInt>(bytes.size());
  std::string out;
  int result = Z_OK;
  while (result == Z_OK) {
    char buffer[16384];
    z.next_out = reinterpret_cast<Bytef*>(buffer);
    z.avail_out = sizeof buffer;
    result = inflate(&z, Z_NO_FLUSH);
    out.append(buffer, sizeof buffer - z.avail_out);
  }
  inflateEnd(&z);
  return result == Z_STREAM_END && z.avail_in == 0 ? out : "(not one gzip stream)";
}

class Integration : public ::testing::Test {
 protected:
  void SetUp() override { control_.Reset(); }
  void TearDown() override { EXPECT_EQ(zenta::OutstandingAnswerBuffers(), 0u); }
  int handle() const { return session_.Handle(); }

  MockControl control_;
  corvane_test::Session session_{corvane_test::MockServerUrl()};
};

TEST_F(Integration, EveryOperationReturnsThePlatformsDataOnOneConnection) {
  const std::vector<corvane_test::PlatformCall> operations = corvane_test::EveryOperation();
  for (const corvane_test::PlatformCall& operation : operations) {
    SCOPED_TRACE(operation.name);
    bool matches = false;
    EXPECT_EQ(operation.call(handle(), matches), 0);
    EXPECT_TRUE(matches);
  }
  const corvane::mock::ServerStats stats = control_.Stats();
  EXPECT_EQ(stats.apiRequests, operations.size());
  EXPECT_EQ(stats.requests, operations.size() + 1);  // this statistics request too
  EXPECT_EQ(stats.connections, 1u);
  // A volume written is read back; one out of range lists the channel as failed (-1).
  Corvane::SpeakerVolumeInfo volume;
  EXPECT_EQ(Corvane::API_SetIPSpeakerVolume({"D2001-C01", 41, 17, 0, ""}, handle()), 0);
  EXPECT_EQ(Corvane::API_GetIPSpeakerVolume("D2001-C01", volume, handle()), 0);
  EXPECT_EQ(volume.speakerVolume, 17);
  EXPECT_EQ(Corvane::API_SetIPSpeakerVolume({"D2001-C01", -1, 101, 0, ""}, handle()), -1);
}

// A fault on the AI privacy query (on its re-sends too), and the status the caller gets.
TEST_F(Integration, FaultsGiveTheirStatus) {
  const struct {
    std::string fault;  // members after "path"
    int status;
  } rows[] = {
      {R"("kind":"business","code":4321)", 4321},
      {R"("kind":"business","code":4404,"status":404)", 4404},  // JSON whatever the status
      {R"("kind":"http-error","status":503)", ZENTA_E_HTTP_STATUS_BASE - 503},
      {R"("kind":"garbage")", -1},
      {R"("kind":"truncate")", ZENTA_E_RECEIVE},
      {R"("kind":"drop")", ZENTA_E_RECEIVE},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.fault);
    control_.AddFault(R"({"path":"/vusk/api/v1.1/config/ai/privacy",)" + row.fault + "}");
    int enable = 99;
    const int status = Corvane::API_GetAIPrivacyConfig(handle(), enable);
    EXPECT_EQ(status, row.status) << ZENTA_ErrorText(status);
    control_.ClearFaults();
    EXPECT_EQ(Corvane::API_GetAIPrivacyConfig(handle(), enable), 0) << "no recovery";
  }
}

// What the server refuses, as the platform would; a client of the library never sends these.
TEST_F(Integration, TheServerRefusesWhatThePlatformWould) {
  const std::string pos = "/vusk/api/v1.1/config/pos", alarm = "/vusk/api/v1.1/alarm/record/";
  const std::string fetch = "/vusk/api/v1.1/ip-speaker/channel/volume/fetch/list";
  const Headers good{
      {"Accept-Language", ""}, {"Content-Type", "application/json"}, {"Time-Zone", ""}};
  Headers twice = good, text = good, noZone(good.begin(), good.end() - 1);
  twice.push_back(good[2]);
  text[1].second = "text/plain";
  const struct {
    const char* method;
    std::string target;
    const Headers& headers;
    std::string body;
    int status, code;
  } rows[] = {
      {"GET", pos, good, "", 200, 1000},  // empty values count as sent
      {"GET", pos + "/x", good, "", 404, 4040},
      {"DELETE", pos, good, "", 405, 4050},
      {"GET", pos, noZone, "", 400, 4001},
      {"GET", pos, text, "", 400, 4001},
      {"GET", pos, twice, "", 400, 4001},
      {"POST", fetch, good, "[]", 400, 4002},
      {"POST", fetch, good, R"({"clientType":"X","project":"QIRO","clientMac":""})", 200, 4003},
      {"GET", alarm + "contact/detail?alarmCode=A&alarmDate=1x", good, "", 200, 4005},
      {"POST", "/__mock/faults", good, R"({"path":"*","kind":"slow"})", 400, 4005},
  };
  corvane::http::Client client(corvane_test::MockServerUrl());
  for (const auto& row : rows) {
    SCOPED_TRACE(row.method + (" " + row.target));
    const corvane::http::Answer answer = client.Send(row.method, row.target, row.body, row.headers);
    EXPECT_EQ(answer.status, row.status);
    EXPECT_EQ(answer.body.rfind("{\"code\":" + std::to_string(row.code), 0), 0u) << answer.body;
  }
}

// TLS against the fixture's HTTPS servers, whose self-signed certificates the fixture made:
// verification is on by default, a certificate is trusted only through caFile and only for the
// address it names, and verifyTls 2 turns verification off. (A CA file that cannot be read is
// refused at open: tests/gateway/TransportTest.cpp.)
TEST_F(Integration, TlsIsVerifiedByDefaultAndTrustComesOnlyFromCaFile) {
  const struct {
    const char* name;
    const char* server;  // "good": made out for 127.0.0.1; "other": for 127.0.0.2
    int verifyTls;
    const char* caFile;  // a file of the fixture's folder, or none
    int status;
  } rows[] = {
      {"defaults: the system store does not know the certificate", "good", 0, nullptr, ZENTA_E_TLS},
      {"verifyTls 1 without a CA file", "good", 1, nullptr, ZENTA_E_TLS},
      {"the certificate as CA file", "good", 0, "good-cert.pem", 0},
      {"another certificate as CA file", "good", 0, "other-cert.pem", ZENTA_E_TLS},
      {"trusted, but made out for another address", "other", 0, "other-cert.pem", ZENTA_E_TLS},
      {"verifyTls 2: not verified", "other", 2, nullptr, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ZENTA_SessionOptions options = corvane_test::Options(0, 0, 0, row.verifyTls);
    const std::string caFile = row.caFile ? corvane_test::FixtureFile(row.caFile) : "";
    options.caFile = row.caFile ? caFile.c_str() : nullptr;
    corvane_test::Session session(corvane_test::MockServerUrl(std::string("url-") + row.server),
                                  options);
    std::vector<Corvane::PtzTrailInfo> trails;
    const int status = Corvane::API_GetPtzTrailList("D1001-C01", session.Handle(), trails);
    EXPECT_EQ(status, row.status) << ZENTA_ErrorText(status);
    EXPECT_EQ(trails.empty(), row.status != 0);
  }
}

// What the server demands that real ones do: the current bearer token, rotated and expired
// through the control API, refused with the challenge naming invalid_token only when a token
// came; counted, and never echoed.
TEST_F(Integration, TheServerRequiresTheCurrentBearerToken) {
  const std::string realm = R"(Bearer realm="corvane-mock")";
  const std::string invalid = realm + R"(, error="invalid_token")";
  const struct {
    const char* step;  // before the request: "tok-1"/"tok-2" required, "expire", "none"
    const char* authorization;
    int status;
    std::string challenge, auth;  // the request log's verdict
  } rows[] = {
      {"", "Bearer tok-1", 200, "-", "unchecked"},
      {"tok-1", nullptr, 401, realm, "none"},
      {"", "Basic dG9rLTE=", 401, realm, "none"},
      {"", "bearer  tok-1", 200, "-", "accepted"},
      {"", "Bearer tok-2", 401, invalid, "wrong"},
      {"tok-2", "Bearer tok-1", 401, invalid, "expired"},
      {"", "Bearer tok-2", 200, "-", "accepted"},
      {"expire", "Bearer tok-2", 401, invalid, "expired"},
      {"none", "Bearer tok-2", 200, "-", "unchecked"},
  };
  corvane::http::Client client(corvane_test::MockServerUrl());
  std::string auths, logged;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.step + std::string(" ") + (row.authorization ? row.authorization : "-"));
    const std::string step = row.step;
    if (step == "expire") control_.ExpireToken();
    if (!step.empty() && step != "expire") control_.RequireToken(step == "none" ? "" : step);
    Headers headers{
        {"Accept-Language", ""}, {"Content-Type", "application/json"}, {"Time-Zone", ""}};
    if (row.authorization) headers.emplace_back("Authorization", row.authorization);
    const Answer answer = client.Send("GET", "/vusk/api/v1.1/config/pos", "", headers);
    EXPECT_EQ(answer.status, row.status);
    EXPECT_EQ(HeaderOf(answer, "WWW-Authenticate"), row.challenge);
    EXPECT_EQ(answer.body.rfind(row.status == 401 ? R"({"code":4010,)" : R"({"code":1000,)", 0),
              0u);
    auths += "\"auth\":\"" + row.auth + "\"";
  }
  const std::string log = client.Send("GET", "/__mock/requests").body;
  for (std::size_t at = 0; (at = log.find("\"auth\":", at)) != std::string::npos; ++at) {
    logged += log.substr(at, log.find('"', at + 8) + 1 - at);
  }
  EXPECT_EQ(logged, auths);
  EXPECT_EQ(log.find("tok-"), std::string::npos) << "a credential echoed";
  EXPECT_EQ(control_.Stats().unauthorized, 5u);
}

// Busy answers for a client's retries: 503 and 429 with Retry-After, counted as faults.
TEST_F(Integration, BusyFaultsCarryRetryAfter) {
  control_.AddFault(R"([{"path":"*","kind":"http-error","status":503,"retryAfter":1,"count":2},
      {"path":"*","kind":"business","status":429,"code":4290,"retryAfter":"soon","count":1}])");
  corvane::http::Client client(corvane_test::MockServerUrl());
  const struct {
    int status;
    const char* retryAfter;
  } rows[] = {{503, "1"}, {503, "1"}, {429, "soon"}, {404, "-"}};
  for (const auto& row : rows) {
    const Answer answer = client.Send("GET", "/vusk/api/v1.1/no-such-path");
    EXPECT_EQ(answer.status, row.status);
    EXPECT_EQ(HeaderOf(answer, "Retry-After"), row.retryAfter);
  }
  EXPECT_EQ(control_.Stats().faultsApplied, 3u);
}

// gzip for answers of 1 KiB or more when the request accepts it; the rest as without it.
TEST_F(Integration, AnswersOfOneKibOrMoreAreGzipCodedWhenAccepted) {
  const std::string catalog = "/__mock/catalog",
                    picture = "/vusk/api/v1.1/common/request/picture/P0900";
  const Headers std{
      {"Accept-Language", ""}, {"Content-Type", "application/json"}, {"Time-Zone", ""}};
  const struct {
    std::string target, acceptEncoding;  // "-": no Accept-Encoding
    bool gzipped;
  } rows[] = {
      {catalog, "gzip", true},
      {catalog, "deflate, *;q=0.5", true},
      {catalog, "-", false},
      {catalog, "gzip;q=0, identity", false},
      {picture, "gzip", false},                      // pictures are never coded
      {"/vusk/api/v1.1/config/pos", "gzip", false},  // under 1 KiB
      {"/vusk/api/v1.1/config/pos", "gzip", true},   // a "big" fault of 5000 bytes
  };
  corvane::http::Client client(corvane_test::MockServerUrl());
  std::uint64_t gzipped = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.target + " " + row.acceptEncoding);
    const bool big = &row == &rows[6];
    if (big) control_.AddFault(R"({"path":"*","kind":"big","bytes":5000,"count":1})");
    Headers headers = std;
    if (row.acceptEncoding != "-") headers.emplace_back("Accept-Encoding", row.acceptEncoding);
    const Answer answer = client.Send("GET", row.target, "", headers);
    const std::string identity = big ? "" : client.Send("GET", row.target, "", std).body;
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(HeaderOf(answer, "Content-Encoding"), row.gzipped ? "gzip" : "-");
    EXPECT_EQ(HeaderOf(answer, "Vary"), row.gzipped ? "Accept-Encoding" : "-");
    const std::string body = row.gzipped ? Gunzip(answer.body) : answer.body;
    if (big) {
      EXPECT_EQ(body.size(), 5000u);
    } else {
      EXPECT_EQ(body, identity);
    }
    gzipped += row.gzipped ? 1 : 0;
  }
  EXPECT_EQ(control_.Stats().gzipped, gzipped);
}

// The HTTPS server started with a client CA talks only to clients with a certificate it issued.
TEST_F(Integration, ClientCertificatesAreRequiredWhenTheServerHasAClientCa) {
  const std::string url = corvane_test::MockServerUrl("url-mtls");
  const struct {
    const char* name;
    std::string cert;  // of the fixture's folder; "": none
    bool answered;
  } rows[] = {
      {"none", "", false}, {"another issuer's", "good", false}, {"the CA's", "client", true}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string options =
        row.cert.empty() ? ""
                         : " -cert " + corvane_test::FixtureFile(row.cert + "-cert.pem") +
                               " -key " + corvane_test::FixtureFile(row.cert + "-key.pem");
    const std::string command =
        "printf 'GET /__mock/stats HTTP/1.1\\r\\nHost: x\\r\\nConnection: close\\r\\n\\r\\n' | "
        "timeout 30 openssl s_client -quiet -connect " +
        url.substr(url.find("://") + 3) + options + " 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
      output.append(buffer, got);
    pclose(pipe);
    EXPECT_EQ(output.rfind("HTTP/1.1 200 OK", 0) == 0, row.answered) << output;
  }
}

}  // namespace
