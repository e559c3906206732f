// The command-line client as a user runs it: the client run through the shell, and a fixture of
// simulated platform servers in this process (plain, TLS, TLS asking for a client certificate).
#ifndef CORVANE_TESTS_CLI_CLISUPPORT_H
#define CORVANE_TESTS_CLI_CLISUPPORT_H

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <utility>

#include "MockServer.h"

namespace cli_test {

struct CliRun {
  int exitStatus;
  std::string out, err;
};

// A scratch file named for this process: CTest runs the suite's tests as parallel processes.
std::string ScratchFile(const char* name);

// Runs the client through the shell with the variables it reads unset (and its configuration
// folder a scratch one), but for the NAME=value words that start arguments.
CliRun Corvane(const std::string& arguments);

class Cli : public ::testing::Test {
 protected:
  // A plain server, a TLS one whose self-signed certificate (made by openssl) names 127.0.0.1, and
  // a TLS one that asks for a client certificate: a self-signed one with a password on its key.
  static std::string CertFile() { return ScratchFile("cert.pem"); }
  static void SetUpTestSuite() {
    server_ = new corvane::mock::MockServer(corvane::mock::ServerOptions{});
    server_->Start();
    corvane::mock::ServerOptions tls;
    tls.tlsCertFile = CertFile();
    tls.tlsKeyFile = ScratchFile("key.pem");
    const std::string openssl =
        "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 -addext "
        "subjectAltName=IP:127.0.0.1 -keyout " +
        tls.tlsKeyFile + " -out " + tls.tlsCertFile + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(openssl.c_str()), 0) << "openssl could not make a certificate";
    tlsServer_ = new corvane::mock::MockServer(tls);
    tlsServer_->Start();
    tls.tlsClientCaFile = ScratchFile("client.pem");
    const std::string client =
        "openssl req -x509 -newkey rsa:2048 -days 2 -subj /CN=corvane-client -passout "
        "pass:pw-66-secret -keyout " +
        ScratchFile("client-key.pem") + " -out " + tls.tlsClientCaFile + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(client.c_str()), 0) << "openssl could not make a client certificate";
    mtlsServer_ = new corvane::mock::MockServer(tls);
    mtlsServer_->Start();
  }
  static void TearDownTestSuite() {
    delete server_;
    delete tlsServer_;
    delete mtlsServer_;
  }
  void SetUp() override { server_->Faults().Clear(); }
  // The date of the first alarm of the simulated platform in ISO 8601 (UTC, milliseconds).
  static std::string FirstAlarmDate() {
    const std::int64_t ms = server_->GetPlatform().Snapshot().alarms.at(0).alarmDate;
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    char fraction[8];
    std::snprintf(fraction, sizeof fraction, ".%03d", static_cast<int>(ms % 1000));
    return std::string(text) + fraction + "Z";
  }
  // Arguments with "$S" replaced by the server's URL, "$H" by the same without its scheme, "$T"
  // by the TLS server's, "$C" by its certificate, "$K" by its key, "$D" by the first alarm's date
  // in ISO 8601, "$M" by the URL of the server that asks for a client certificate, "$P" and "$Q"
  // by the client's certificate and key.
  static std::string With(std::string arguments) {
    const std::pair<const char*, std::string> names[] = {
        {"$S", server_->BaseUrl()},
        {"$H", server_->BaseUrl().substr(server_->BaseUrl().find("://") + 3)},
        {"$T", tlsServer_->BaseUrl()},
        {"$C", CertFile()},
        {"$K", ScratchFile("key.pem")},
        {"$M", mtlsServer_->BaseUrl()},
        {"$P", ScratchFile("client.pem")},
        {"$Q", ScratchFile("client-key.pem")},
        {"$D", FirstAlarmDate()}};
    for (const auto& [name, value] : names) {
      for (std::size_t at; (at = arguments.find(name)) != std::string::npos;) {
        arguments.replace(at, 2, value);
      }
    }
    return arguments;
  }
  static corvane::mock::MockServer* server_;
  static corvane::mock::MockServer* tlsServer_;
  static corvane::mock::MockServer* mtlsServer_;
};

}  // namespace cli_test

#endif  // CORVANE_TESTS_CLI_CLISUPPORT_H
