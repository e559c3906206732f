// TLS against the fixture's HTTPS servers, whose self-signed certificates the fixture made:
// verification is on by default, a certificate is trusted only through caFile and only for the
// address it names, and verifyTls 2 turns verification off.
#include <gtest/gtest.h>

#include "Corvane.h"
#include "MockControl.h"
#include "ZentaInternal.h"
#include "zenta/ZentaSdk.h"

namespace {

TEST(Tls, VerificationIsOnByDefaultAndTrustComesOnlyFromCaFile) {
  corvane_test::UseClientSettings();
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
      {"a CA file that does not exist", "good", 0, "no-such.pem", ZENTA_E_TLS},
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
    EXPECT_EQ(zenta::OutstandingAnswerBuffers(), 0u);
  }
}

}  // namespace
