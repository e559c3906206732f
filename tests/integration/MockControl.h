// Test access to the mock server the fixture started: its URL, its control endpoint, and the
// platform it simulates (the default seed's, reset before each test); every operation checked
// against that platform; and what the process holds, as /proc reports it.
#ifndef CORVANE_TESTS_MOCKCONTROL_H
#define CORVANE_TESTS_MOCKCONTROL_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "GatewaySession.h"
#include "quim/Json.h"

namespace corvane_test {

// The server's base URL ("http://127.0.0.1:PORT"), read from the fixture's file.
std::string MockServerUrl();

// One keep-alive connection to the control endpoint ("/__mock/"), so that controlling the
// server does not add to its connection count.
class MockControl {
 public:
  MockControl();
  ~MockControl();
  MockControl(const MockControl&) = delete;
  MockControl& operator=(const MockControl&) = delete;

  void Reset();        // default platform, no faults, statistics zeroed
  void ClearFaults();  // no faults; platform and statistics as they are
  // Adds a fault, e.g. {"path":"/vusk/api/v1.1/config/pos","kind":"delay","delayMs":500}.
  void AddFault(const std::string& json);
  quim::Json::Value Stats();  // the envelope's data: connections, requests, apiRequests...

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;  // hides the HTTP library from the tests
};

// The library's three settings as the tests against the simulated platform use them: "en-US",
// "UTC" and a fixed MAC address.
void UseClientSettings();

// One operation of the library, run with outputs of its own on the ids of the platform that
// Reset() restores. `matches` tells whether the outputs hold exactly that platform's data. The
// volume update writes the volumes the platform already has, so every call may run in any order.
struct PlatformCall {
  const char* name;
  bool picture;  // the answer is handed over as raw bytes, never parsed
  std::function<int(int handle, bool& matches)> call;
};
std::vector<PlatformCall> EveryOperation();

// VmRSS of this process in KiB, from /proc/self/status; -1 when it cannot be read.
std::int64_t ResidentKiB();

// Entries of /proc/self/fd (the listing's own descriptor included); -1 when it cannot be read.
int OpenDescriptors();

}  // namespace corvane_test

#endif  // CORVANE_TESTS_MOCKCONTROL_H
