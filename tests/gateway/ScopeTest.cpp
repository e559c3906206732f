// Scopes, cancel, close and progress against the simulated server's trickled and delayed answers:
// on Linux a server embedded in the test, under wine the Linux one the test runner starts
// (CORVANE_SERVER_URL). Timing is the benchmark's (bench/CancelBench.cpp); the bounds here only
// tell "at once" from "when the answer would have ended".
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Boundary.h"
#include "GatewayTestSupport.h"
#include "SilentListener.h"
#ifndef _WIN32
#include "MockServer.h"
#endif

namespace gateway_test {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr char kPicture[] = "vusk/api/v1.1/common/request/picture/P0900";  // 922,218 bytes
constexpr long long kPictureBytes = 922218;
constexpr auto kAtOnce = milliseconds(1500);  // far below what any of the answers takes

// The simulated server, steered through its control API with the gateway itself.
class Platform {
 public:
  Platform() {
    const char* url = std::getenv("CORVANE_SERVER_URL");
#ifndef _WIN32
    if (url == nullptr) {
      embedded_ = std::make_unique<corvane::mock::MockServer>(corvane::mock::ServerOptions{});
      embedded_->Start();
      url_ = embedded_->BaseUrl();
    }
#endif
    if (url != nullptr) url_ = url;
    control_ = std::make_unique<Session>(url_);
    Control("DELETE", "__mock/faults", "");
  }
  const std::string& Url() const { return url_; }
  void AddFault(const std::string& json) { Control("POST", "__mock/faults", json); }
  long long ApiRequests() {
    const std::string stats = Control("GET", "__mock/stats", "");
    const std::size_t at = stats.find("\"apiRequests\":");
    return at == std::string::npos ? -1 : std::atoll(stats.c_str() + at + 14);
  }

 private:
  std::string Control(const char* method, const char* path, const std::string& body) {
    RequestRecord record(method, path);
    if (!body.empty()) record.Body(body);
    const Outcome outcome = Send(control_->Handle(), record);
    EXPECT_EQ(outcome.code, ZENTA_OK) << path << ": " << LastDetail();
    return outcome.answer;
  }

#ifndef _WIN32
  std::unique_ptr<corvane::mock::MockServer> embedded_;
#endif
  std::string url_;
  std::unique_ptr<Session> control_;
};

// A fault on the picture, e.g. R"("kind":"trickle","bytesPerSecond":115000)".
std::string PictureFault(const std::string& members) {
  return R"({"path":"/vusk/api/v1.1/common/request/picture/P0900","count":1,)" + members + "}";
}

Outcome GetPicture(int handle) {
  RequestRecord record("GET", kPicture);
  record.Header("Accept-Language", "en").Header("Content-Type", "application/json");
  record.Header("Time-Zone", "UTC");
  return Send(handle, record);
}

// A picture download on its own thread; Wait joins it and tells when it returned.
class Download {
 public:
  explicit Download(int handle)
      : thread_([this, handle] {
          outcome_ = GetPicture(handle);
          ended_ = Clock::now();
        }) {}
  ~Download() {
    if (thread_.joinable()) thread_.join();
  }
  const Outcome& Wait() {
    thread_.join();
    return outcome_;
  }
  Clock::time_point Ended() const { return ended_; }

 private:
  Outcome outcome_;
  Clock::time_point ended_;
  std::thread thread_;
};

int OpenScope(int parent) {
  int scope = 0;
  EXPECT_EQ(ZENTA_OpenScope(parent, &scope), ZENTA_OK);
  return scope;
}

// A trickled answer is the normal answer, its body at the rate asked for: no faster.
TEST(Trickle, TheAnswerArrivesWholeAtItsRate) {
  Platform platform;
  Session session(platform.Url());
  const Outcome normal = GetPicture(session.Handle());
  ASSERT_EQ(normal.code, ZENTA_OK);
  ASSERT_EQ(normal.answer.size(), static_cast<std::size_t>(kPictureBytes));
  platform.AddFault(PictureFault(R"("kind":"trickle","bytesPerSecond":2000000)"));
  const Clock::time_point start = Clock::now();
  const Outcome trickled = GetPicture(session.Handle());
  EXPECT_EQ(trickled.code, ZENTA_OK);
  EXPECT_TRUE(trickled.answer == normal.answer);
  EXPECT_GE(Clock::now() - start, milliseconds(400));  // 922,218 bytes at 2 MB/s: 461 ms
}

// A download on a scope under a scope, 300 ms into an 8 s answer: whatever ends it returns at
// once and the call ends within the bound with ZENTA_E_CANCELLED; a later call on the scope
// ends at once and sends nothing; the session works on unless it was cancelled or closed.
TEST(Cancel, EndsTheCallAndEveryLaterCallOnTheScope) {
  const struct {
    const char* name;
    int (*end)(int session, int outer, int inner);
    int later;          // a later call on the inner scope
    bool sessionWorks;  // a later call on the session
  } rows[] = {
      {"cancel the scope", [](int, int, int inner) { return ZENTA_CancelScope(inner); },
       ZENTA_E_CANCELLED, true},
      {"close the scope", [](int, int, int inner) { return ZENTA_CloseScope(inner); },
       ZENTA_E_UNKNOWN_HANDLE, true},
      {"cancel the scope above", [](int, int outer, int) { return ZENTA_CancelScope(outer); },
       ZENTA_E_CANCELLED, true},
      {"close the scope above", [](int, int outer, int) { return ZENTA_CloseScope(outer); },
       ZENTA_E_UNKNOWN_HANDLE, true},
      {"cancel the session", [](int session, int, int) { return ZENTA_CancelScope(session); },
       ZENTA_E_CANCELLED, false},
      {"close the session", [](int session, int, int) { return ZENTA_CloseSession(session); },
       ZENTA_E_UNKNOWN_HANDLE, false},
  };
  Platform platform;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    int session = 0;
    ASSERT_EQ(ZENTA_OpenSession(platform.Url().c_str(), nullptr, &session), ZENTA_OK);
    const int outer = OpenScope(session), inner = OpenScope(outer);
    platform.AddFault(PictureFault(R"("kind":"trickle","bytesPerSecond":115000)"));
    Download download(inner);
    std::this_thread::sleep_for(milliseconds(300));
    const Clock::time_point ending = Clock::now();
    EXPECT_EQ(row.end(session, outer, inner), ZENTA_OK);
    EXPECT_LT(Clock::now() - ending, kAtOnce) << "ending it waited for the call";
    EXPECT_EQ(download.Wait().code, ZENTA_E_CANCELLED) << LastDetail();
    EXPECT_LT(download.Ended() - ending, kAtOnce);
    const long long requests = platform.ApiRequests();
    EXPECT_EQ(GetPicture(inner).code, row.later);
    EXPECT_EQ(GetPicture(session).code, row.sessionWorks ? ZENTA_OK : row.later);
    EXPECT_EQ(platform.ApiRequests(), requests + (row.sessionWorks ? 1 : 0));
    ZENTA_CloseSession(session);
  }
}

// A cancel reaches the call wherever it waits.
TEST(Cancel, WakesTheCallWhereverItWaits) {
  Platform platform;
  SilentListener silent;  // accepts no connection: a TLS handshake there never ends
  std::atomic<bool> release{false};
  const struct {
    const char* name;
    std::string fault;  // on the picture
    int maxConnections, retries;
    bool https, token;
    int calls;  // started before the one cancelled, on another scope
  } rows[] = {
      {"the TLS handshake", "", 0, 0, true, false, 0},
      {"the answer's head", R"("kind":"delay","delayMs":5000)", 0, 0, false, false, 0},
      {"the body", R"("kind":"trickle","bytesPerSecond":115000)", 0, 0, false, false, 0},
      {"a pooled connection", R"("kind":"trickle","bytesPerSecond":115000)", 1, 0, false, false, 1},
      {"a retry's backoff", R"("kind":"http-error","status":503,"retryAfter":5)", 0, 1, false,
       false, 0},
      {"another call's token", "", 0, 0, false, true, 1},
  };
  const auto blockingToken = [](void* context, int, char* token, int) {
    for (int i = 0; i < 500 && !*static_cast<std::atomic<bool>*>(context); ++i) {
      std::this_thread::sleep_for(milliseconds(10));
    }
    token[0] = 't';
    token[1] = '\0';
    return 1;
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    if (!row.fault.empty()) platform.AddFault(PictureFault(row.fault));
    ZENTA_SessionOptions options = Options(0, 20000, row.maxConnections, 2);
    options.retries = row.retries;
    options.tokenCallback = row.token ? +blockingToken : nullptr;
    options.tokenContext = &release;
    release = false;
    Session session(row.https ? silent.HttpsUrl() : platform.Url(), options);
    std::vector<std::unique_ptr<Download>> others;
    for (int i = 0; i < row.calls; ++i)
      others.push_back(std::make_unique<Download>(session.Handle()));
    std::this_thread::sleep_for(milliseconds(row.calls * 200));
    const long long requests = row.https ? 0 : platform.ApiRequests();
    const int scope = OpenScope(session.Handle());
    Download download(scope);
    std::this_thread::sleep_for(milliseconds(300));
    const Clock::time_point cancelled = Clock::now();
    EXPECT_EQ(ZENTA_CancelScope(scope), ZENTA_OK);
    EXPECT_EQ(download.Wait().code, ZENTA_E_CANCELLED) << LastDetail();
    EXPECT_LT(download.Ended() - cancelled, kAtOnce);
    if (!row.https) {
      EXPECT_LE(platform.ApiRequests(), requests + 1) << "sent again";
    }
    release = true;
    EXPECT_EQ(session.Close(), ZENTA_OK);
  }
}

// The progress callback sees the count rise to the announced total, never 64 KiB at once; a
// non-zero return cancels that call only.
TEST(Progress, CountsRiseToTheTotalAndANonZeroReturnCancels) {
  struct Seen {
    long long stopAt;
    std::vector<std::pair<long long, long long>> calls;  // received, total
  };
  const auto record = [](void* context, long long received, long long total) {
    auto& seen = *static_cast<Seen*>(context);
    seen.calls.emplace_back(received, total);
    return received >= seen.stopAt ? 1 : 0;
  };
  const struct {
    long long stopAt;
    int expected;
  } rows[] = {{kPictureBytes + 1, ZENTA_OK}, {100000, ZENTA_E_CANCELLED}};
  Platform platform;
  Session session(platform.Url());
  for (const auto& row : rows) {
    SCOPED_TRACE(row.stopAt);
    platform.AddFault(PictureFault(R"("kind":"trickle","bytesPerSecond":4000000)"));
    Seen seen{row.stopAt, {}};
    const int scope = OpenScope(session.Handle());
    ASSERT_EQ(ZENTA_SetProgressCallback(scope, record, &seen), ZENTA_OK);
    EXPECT_EQ(GetPicture(scope).code, row.expected);
    ASSERT_FALSE(seen.calls.empty());
    const long long last = std::min(row.stopAt, kPictureBytes);
    EXPECT_GE(seen.calls.back().first, last);
    for (std::size_t i = 0; i < seen.calls.size(); ++i) {
      EXPECT_EQ(seen.calls[i].second, kPictureBytes);
      const long long step = seen.calls[i].first - (i > 0 ? seen.calls[i - 1].first : 0);
      EXPECT_TRUE(step >= 0 && step <= 64 * 1024) << step;
    }
    EXPECT_EQ(ZENTA_SetProgressCallback(scope, nullptr, nullptr), ZENTA_OK);
    EXPECT_EQ(GetPicture(scope).code, ZENTA_OK) << "the scope was cancelled";
    EXPECT_EQ(ZENTA_CloseScope(scope), ZENTA_OK);
  }
}

// Threads call, cancel and close scopes of one session at random moments and close the session
// under them: every call ends with its answer, cancelled or on a closed handle, nothing leaks
// (the sanitizer builds run this too).
TEST(Cancel, RacesWithCallsOnEveryThread) {
  Platform platform;
  platform.AddFault(R"({"path":"*","kind":"trickle","bytesPerSecond":2000000})");
  int session = 0;
  ASSERT_EQ(ZENTA_OpenSession(platform.Url().c_str(), nullptr, &session), ZENTA_OK);
  std::atomic<int> unexpected{0}, calls{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 6; ++round) {
        int scope = 0;
        if (ZENTA_OpenScope(session, &scope) != ZENTA_OK) return;
        std::thread canceller([scope, round, t] {
          std::this_thread::sleep_for(milliseconds(20 * ((round + t) % 4)));
          (round % 2 == 0 ? ZENTA_CancelScope : ZENTA_CloseScope)(scope);
        });
        const int code = GetPicture(scope).code;
        ++calls;
        unexpected +=
            code != ZENTA_OK && code != ZENTA_E_CANCELLED && code != ZENTA_E_UNKNOWN_HANDLE;
        canceller.join();
        ZENTA_CloseScope(scope);
      }
    });
  }
  std::this_thread::sleep_for(milliseconds(150));
  EXPECT_EQ(ZENTA_CloseSession(session), ZENTA_OK);
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(unexpected, 0);
  EXPECT_GT(calls, 4);
  EXPECT_EQ(ZENTA_OutstandingAnswerBuffers(), 0u);
}

}  // namespace
}  // namespace gateway_test
