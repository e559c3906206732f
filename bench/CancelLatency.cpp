// How long a cancelled or closed call keeps its caller waiting. Against corvane-mock-server, each
// round trickles the 640x480 picture (922,218 bytes at 115,000 bytes/s: 8 s) to a download on a
// thread of its own and ends it at a random moment:
//   cancel: the download runs on a fresh scope of one session, ZENTA_CancelScope ends it; measured
//           from the cancel to the download's return;
//   close:  the download runs on a session of its own, ZENTA_CloseSession ends it; measured is the
//           time ZENTA_CloseSession takes, and from its call to the download's return.
// The moments are drawn uniformly (seed 1) from the first <latest> ms of the answer: the first
// moments fall before the answer's head, the rest while its body arrives, which is the same wait
// for the rest of the 8 s.
//
// Only the gateway's C interface is used (ZentaSdk.h and the record layout), so bench/cancel-
// latency.sh builds the same source for Linux and for Windows and runs both against one server.
//
// Usage: corvane_bench_cancel <server URL> [<rounds> [<latest ms>]]   (100 rounds, 1500 ms)
// Prints one line per measure: "<name> n N median X ms p90 Y ms max Z ms". Exits 1 when a download
// ends other than with ZENTA_E_CANCELLED or a control call fails, 2 on bad usage.
#include <zenta/ZentaSdk.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "RequestRecords.h"

namespace {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::duration<double, std::milli>;

constexpr char kPicture[] = "vusk/api/v1.1/common/request/picture/P0900";
constexpr char kTrickle[] =
    R"({"path":"/vusk/api/v1.1/common/request/picture/P0900","kind":"trickle",)"
    R"("bytesPerSecond":115000,"count":1})";

void Text(char* field, std::size_t width, const std::string& text) {
  std::memcpy(field, text.data(), std::min(width - 1, text.size()));
}

// One request through ZENTA_GeneralJsonRequest; its status, the answer given back.
int Call(int handle, const char* method, const char* path, std::string body = "") {
  ostrel::RestRequest request{};
  Text(request.method, sizeof request.method, method);
  Text(request.path, sizeof request.path, path);
  ostrel::HttpHeaderItem headers[3] = {};
  const char* const fields[3][2] = {
      {"Accept-Language", "en"}, {"Content-Type", "application/json"}, {"Time-Zone", "UTC"}};
  for (int i = 0; i < 3; ++i) {
    Text(headers[i].name, sizeof headers[i].name, fields[i][0]);
    Text(headers[i].value, sizeof headers[i].value, fields[i][1]);
    headers[i].nameLength = static_cast<std::uint32_t>(std::strlen(fields[i][0]));
    headers[i].valueLength = static_cast<std::uint32_t>(std::strlen(fields[i][1]));
  }
  request.headers = headers;
  request.headerCount = 3;
  request.body = body.empty() ? nullptr : &body[0];
  request.bodyLength = static_cast<std::int32_t>(body.size());
  ostrel::RestResponse response{};
  const int status =
      ZENTA_GeneralJsonRequest(handle, &request, sizeof request, &response, sizeof response);
  ZENTA_ReleaseDataBuffer(response.answer);
  return status;
}

struct Measure {
  const char* name;
  std::vector<double> ms;
  void Print() {
    std::sort(ms.begin(), ms.end());
    const auto at = [this](double share) {
      return ms[static_cast<std::size_t>(share * (ms.size() - 1))];
    };
    std::printf("%-16s n %zu median %.1f ms p90 %.1f ms max %.1f ms\n", name, ms.size(), at(0.5),
                at(0.9), ms.back());
  }
};

// One round: the trickled download on handle, ended after `wait` by end(); the times from the
// end's call to its return and to the download's return. False when the download was not
// cancelled.
template <class End>
bool Round(int control, int handle, std::chrono::milliseconds wait, End end, double& endMs,
           double& returnMs) {
  if (Call(control, "POST", "__mock/faults", kTrickle) != ZENTA_OK) return false;
  int status = 0;
  Clock::time_point returned;
  std::thread download([&] {
    status = Call(handle, "GET", kPicture);
    returned = Clock::now();
  });
  std::this_thread::sleep_for(wait);
  const Clock::time_point ending = Clock::now();
  end();
  endMs = Milliseconds(Clock::now() - ending).count();
  download.join();
  returnMs = Milliseconds(returned - ending).count();
  if (status != ZENTA_E_CANCELLED) std::fprintf(stderr, "a download ended with %d\n", status);
  Call(control, "DELETE", "__mock/faults");  // the fault of a call that was cancelled too soon
  return status == ZENTA_E_CANCELLED;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 4) {
    std::fprintf(stderr, "usage: %s <server URL> [<rounds> [<latest ms>]]\n", argv[0]);
    return 2;
  }
  const char* url = argv[1];
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 100;
  const int latest = argc > 3 ? std::atoi(argv[3]) : 1500;
  int control = 0, session = 0;
  if (rounds < 1 || latest < 1 || ZENTA_OpenSession(url, nullptr, &control) != ZENTA_OK ||
      ZENTA_OpenSession(url, nullptr, &session) != ZENTA_OK) {
    std::fprintf(stderr, "no session on %s\n", url);
    return 2;
  }
  std::mt19937 random(1);
  std::uniform_int_distribution<int> moment(0, latest);
  Measure cancel{"cancel->return", {}}, close{"close returns", {}}, closed{"close->return", {}};
  bool ok = true;
  for (int i = 0; i < rounds && ok; ++i) {
    int scope = 0;
    ZENTA_OpenScope(session, &scope);
    double endMs = 0, returnMs = 0;
    ok = Round(
        control, scope, std::chrono::milliseconds(moment(random)),
        [scope] { ZENTA_CancelScope(scope); }, endMs, returnMs);
    cancel.ms.push_back(returnMs);
    ZENTA_CloseScope(scope);
  }
  for (int i = 0; i < rounds && ok; ++i) {
    int own = 0;
    ZENTA_OpenSession(url, nullptr, &own);
    double endMs = 0, returnMs = 0;
    ok = Round(
        control, own, std::chrono::milliseconds(moment(random)), [own] { ZENTA_CloseSession(own); },
        endMs, returnMs);
    close.ms.push_back(endMs);
    closed.ms.push_back(returnMs);
  }
  if (!ok) return 1;
  cancel.Print();
  close.Print();
  closed.Print();
  ZENTA_CloseSession(session);
  ZENTA_CloseSession(control);
  return 0;
}
