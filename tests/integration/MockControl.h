// Test access to the mock server the fixture started: its URL, its control API, and every
// operation of the library checked against the platform that MockControl::Reset restores.
#ifndef CORVANE_TESTS_MOCKCONTROL_H
#define CORVANE_TESTS_MOCKCONTROL_H

#include <functional>
#include <string>
#include <vector>

#include "GatewaySession.h"
#include "MockClient.h"

namespace corvane_test {

// A file in the fixture's folder (mock-server-fixture.sh lists them).
std::string FixtureFile(const std::string& name);
// A server's base URL, read from the fixture's file: "url" names the plain HTTP server
// ("http://127.0.0.1:PORT"), "url-good" and "url-other" the HTTPS ones, "url-mtls" the HTTPS
// one that asks for a client certificate.
std::string MockServerUrl(const std::string& server = "url");

// The fixture's server under control (corvane::mock::MockClient). Constructing one also gives
// the library the settings that the tests against the platform use: "en-US", "UTC" and a fixed
// MAC address.
class MockControl : public corvane::mock::MockClient {
 public:
  MockControl();
};

// One operation of the library, run with outputs of its own on the ids of the default platform.
// `matches` tells whether the outputs hold that platform's data; for the record start, whose
// answer carries a new plan id with every request, whether its plan id is one that no earlier
// call of the same table got. The volume update writes the volumes the platform already has, so
// the calls may run in any order. Thread-safe.
struct PlatformCall {
  const char* name;
  std::function<int(int handle, bool& matches)> call;
};
std::vector<PlatformCall> EveryOperation();

}  // namespace corvane_test

#endif  // CORVANE_TESTS_MOCKCONTROL_H
