// What a call through the Windows gateway costs: opens one session on a server URL and makes GET
// calls through ZENTA_GeneralJsonRequest, one after another or from several threads on the same
// session, and prints calls per second and the mean time a caller waits for a call.
//
// It needs nothing of the build but ZentaSdk.h and the import libraries of ZENTA and Ostrel, so
// bench/wine-cost.sh compiles it against any Windows build tree, older ones included, and runs it
// under wine against corvane-mock-server on the Linux side.
//
// Usage: WineCost <server URL> <CA file, or - for none> <threads> <calls> [<warm-up calls>]
// Prints one line: "calls N threads T seconds S calls_per_s X ms_per_call Y". Exits 1 at the first
// call that fails (with its code and the transport's detail on standard error), 2 on bad usage.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "zenta/ZentaSdk.h"

namespace {

// The request and response records as the gateway reads them (64-bit, little-endian); declared
// here on their own, like every caller of ZENTA_GeneralJsonRequest does.
struct HeaderItem {
  char name[256];
  std::uint32_t nameLength;
  char value[1024];
  std::uint32_t valueLength;
};

struct RequestRecord {
  char* body;
  std::int32_t bodyLength;
  char method[10];
  char path[2048];  // without the leading "/"
  std::uint32_t headerCount;
  HeaderItem* headers;
  unsigned char reserved[8];
};

struct ResponseRecord {
  unsigned char reserved[32];
  char* answer;
  std::int32_t answerLength;
  void* auxBuffer;
};

static_assert(sizeof(HeaderItem) == 1288, "HeaderItem layout");
static_assert(offsetof(RequestRecord, headerCount) == 2072, "RequestRecord layout");
static_assert(sizeof(RequestRecord) == 2096, "RequestRecord layout");
static_assert(offsetof(ResponseRecord, answer) == 32, "ResponseRecord layout");
static_assert(sizeof(ResponseRecord) == 56, "ResponseRecord layout");

using Clock = std::chrono::steady_clock;

// A small GET of the simulated platform (an answer of 54 bytes), with the three headers
// every request of the library carries.
struct Call {
  HeaderItem headers[3];
  RequestRecord request;

  Call() : headers(), request() {
    const char* const fields[3][2] = {{"Accept-Language", "en-US"},
                                      {"Content-Type", "application/json;charset=UTF-8"},
                                      {"Time-Zone", "Europe/Berlin"}};
    for (int i = 0; i < 3; ++i) {
      std::strcpy(headers[i].name, fields[i][0]);
      headers[i].nameLength = static_cast<std::uint32_t>(std::strlen(fields[i][0]));
      std::strcpy(headers[i].value, fields[i][1]);
      headers[i].valueLength = static_cast<std::uint32_t>(std::strlen(fields[i][1]));
    }
    std::strcpy(request.method, "GET");
    std::strcpy(request.path, "vusk/api/v1.1/config/ai/privacy");
    request.headerCount = 3;
    request.headers = headers;
  }

  // One exchange; false (after saying why) when it failed or the answer is not the platform's
  // success envelope.
  bool Run(int handle) {
    ResponseRecord response{};
    const int status =
        ZENTA_GeneralJsonRequest(handle, &request, sizeof request, &response, sizeof response);
    bool ok = status == 0 && response.answer != nullptr &&
              std::strstr(response.answer, "\"code\":1000") != nullptr;
    if (status != 0) {
      char detail[512];
      ZENTA_LastErrorDetail(detail, sizeof detail);
      std::fprintf(stderr, "WineCost: call failed: %d %s: %s\n", status, ZENTA_ErrorText(status),
                   detail);
    } else if (!ok) {
      std::fprintf(stderr, "WineCost: unexpected answer: %.200s\n",
                   response.answer ? response.answer : "(none)");
    }
    ZENTA_ReleaseDataBuffer(response.answer);
    return ok;
  }
};

struct Totals {
  std::atomic<bool> failed{false};
  std::atomic<long long> waitedNs{0};  // summed over every call of every thread
};

// One thread's share of the calls; stops early once any thread has seen a failure.
void RunCalls(int handle, int calls, Totals& totals) {
  Call call;
  long long waited = 0;
  for (int i = 0; i < calls && !totals.failed; ++i) {
    const Clock::time_point start = Clock::now();
    if (!call.Run(handle)) totals.failed = true;
    waited += std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
  }
  totals.waitedNs += waited;
}

int Number(const char* text, int least) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  return (*end != '\0' || value < least || value > 1000000) ? -1 : static_cast<int>(value);
}

}  // namespace

int main(int argc, char** argv) {
  const int threads = argc >= 5 ? Number(argv[3], 1) : -1;
  const int calls = argc >= 5 ? Number(argv[4], 1) : -1;
  const int warmUp = argc == 6 ? Number(argv[5], 0) : 5;
  if (argc < 5 || argc > 6 || threads < 1 || threads > 64 || calls < threads || warmUp < 0) {
    std::fprintf(stderr,
                 "usage: WineCost <server URL> <CA file or -> <threads> <calls> [<warm-up>]\n");
    return 2;
  }
  ZENTA_SessionOptions options{};
  options.structSize = sizeof options;
  options.caFile = std::strcmp(argv[2], "-") == 0 ? nullptr : argv[2];
  options.trace = 2;       // no trace lines, whatever the environment says
  options.revocation = 1;  // the test CA publishes no revocation list
  int handle = 0;
  const int opened = ZENTA_OpenSession(argv[1], &options, &handle);
  if (opened != ZENTA_OK) {
    std::fprintf(stderr, "WineCost: open failed: %d %s\n", opened, ZENTA_ErrorText(opened));
    return 1;
  }
  Totals totals;
  RunCalls(handle, warmUp, totals);
  totals.waitedNs = 0;
  const Clock::time_point start = Clock::now();
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    const int share = calls / threads + (t < calls % threads ? 1 : 0);
    workers.emplace_back(RunCalls, handle, share, std::ref(totals));
  }
  for (std::thread& worker : workers) worker.join();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  ZENTA_CloseSession(handle);
  if (totals.failed) return 1;
  std::printf("calls %d threads %d seconds %.4f calls_per_s %.1f ms_per_call %.3f\n", calls,
              threads, seconds, calls / seconds, totals.waitedNs / 1e6 / calls);
  return 0;
}
