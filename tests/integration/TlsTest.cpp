// TLS against the simulated server with self-signed certificates made for the test by openssl:
// verification is on by default, a certificate is trusted only through caFile and only for the
// address it names, and verifyTls 2 turns verification off.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "Corvane.h"
#include "GatewaySession.h"
#include "MockControl.h"
#include "MockServer.h"
#include "ZentaInternal.h"
#include "zenta/ZentaSdk.h"

namespace {

namespace mock = corvane::mock;
using corvane_test::Session;

// A temporary folder with self-signed certificates, removed at the end of the test suite.
class Certificates {
 public:
  Certificates() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/corvane-tls-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
    Make("good", "127.0.0.1");
    Make("other", "127.0.0.2");  // valid, but for another address
  }
  ~Certificates() {
    for (const char* name : {"good", "other"}) {
      std::remove(Cert(name).c_str());
      std::remove(Key(name).c_str());
    }
    ::rmdir(dir_.c_str());
  }
  std::string Cert(const std::string& name) const { return dir_ + "/" + name + "-cert.pem"; }
  std::string Key(const std::string& name) const { return dir_ + "/" + name + "-key.pem"; }
  std::string Missing() const { return dir_ + "/no-such-ca.pem"; }

 private:
  void Make(const std::string& name, const std::string& ip) {
    const std::string command =
        "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=" + ip +
        " -addext subjectAltName=IP:" + ip + " -keyout " + Key(name) + " -out " + Cert(name) +
        " >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) {
      throw std::runtime_error("openssl could not make a certificate (is openssl installed?)");
    }
  }
  std::string dir_;
};

class Tls : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { certificates_ = std::make_unique<Certificates>(); }
  static void TearDownTestSuite() { certificates_.reset(); }
  void SetUp() override { corvane_test::UseClientSettings(); }
  // A TLS server on 127.0.0.1 with the named certificate.
  static std::unique_ptr<mock::MockServer> Serve(const std::string& name) {
    mock::ServerOptions options;
    options.tlsCertFile = certificates_->Cert(name);
    options.tlsKeyFile = certificates_->Key(name);
    auto server = std::make_unique<mock::MockServer>(options);
    server->Start();
    return server;
  }
  static std::unique_ptr<Certificates> certificates_;
};

std::unique_ptr<Certificates> Tls::certificates_;

TEST_F(Tls, VerificationIsOnByDefaultAndTrustComesOnlyFromCaFile) {
  const std::unique_ptr<mock::MockServer> good = Serve("good");
  const std::unique_ptr<mock::MockServer> misnamed = Serve("other");
  ASSERT_EQ(good->BaseUrl().rfind("https://127.0.0.1:", 0), 0u) << good->BaseUrl();
  const std::string goodCa = certificates_->Cert("good");
  const std::string otherCa = certificates_->Cert("other");
  const std::string missingCa = certificates_->Missing();
  const struct {
    const char* name;
    const mock::MockServer* server;
    int verifyTls;
    const std::string* caFile;
    int status;
  } rows[] = {
      {"defaults: the system store does not know the certificate", good.get(), 0, nullptr,
       ZENTA_E_TLS},
      {"verifyTls 1 without a CA file", good.get(), 1, nullptr, ZENTA_E_TLS},
      {"the certificate as CA file", good.get(), 0, &goodCa, 0},
      {"another certificate as CA file", good.get(), 0, &otherCa, ZENTA_E_TLS},
      {"a CA file that does not exist", good.get(), 0, &missingCa, ZENTA_E_TLS},
      {"trusted, but made out for another address", misnamed.get(), 0, &otherCa, ZENTA_E_TLS},
      {"verifyTls 2: not verified", good.get(), 2, nullptr, 0},
      {"verifyTls 2: the other address is accepted too", misnamed.get(), 2, nullptr, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ZENTA_SessionOptions options = corvane_test::Options(0, 0, 0, row.verifyTls);
    options.caFile = row.caFile != nullptr ? row.caFile->c_str() : nullptr;
    Session session(row.server->BaseUrl(), options);
    std::vector<Corvane::PtzTrailInfo> trails;
    const int status = Corvane::API_GetPtzTrailList("D1001-C01", session.Handle(), trails);
    EXPECT_EQ(status, row.status) << ZENTA_ErrorText(status);
    EXPECT_EQ(trails.empty(), row.status != 0);
    EXPECT_EQ(zenta::OutstandingAnswerBuffers(), 0u);
  }
  EXPECT_EQ(good->Stats().apiRequests, 2u) << "a request went out over an unverified connection";
  EXPECT_EQ(misnamed->Stats().apiRequests, 1u);
}

}  // namespace
