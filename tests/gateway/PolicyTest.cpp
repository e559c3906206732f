// The session's policy over a scripted fake transport: which failed requests are sent again,
// which idle connections carry a request, the pool's limit and the deadline, closing. Each
// rule is checked here once for both transports; tests/gateway/TransportTest.cpp checks what
// only a transport does.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ConnectionPool.h"
#include "Scrubber.h"
#include "Session.h"

namespace zenta {
namespace {

using std::chrono::milliseconds;

// The sessions' idle clock in these tests: time passes when a test says so.
Clock::time_point idleNow{};
Clock::time_point IdleNow() { return idleNow; }

// The waits of the sessions' retries: recorded, not slept.
std::vector<long long> waits;
void RecordWait(milliseconds wait, const CallControl&) { waits.push_back(wait.count()); }

constexpr ExchangePhase kNotSent = ExchangePhase::kNotSent, kSent = ExchangePhase::kRequestSent;

// One scripted exchange: its code and what it reports; OK answers `status` "ok".
struct Step {
  int code = ZENTA_OK;
  bool reused = false;
  ExchangePhase reached = ExchangePhase::kRequestSent;
  int delayMs = 0;
  int status = 200;
  int retryAfter = -1;
};

class FakeTransport final : public Transport {
 public:
  std::deque<Step> steps;  // then OK for every later exchange
  std::atomic<int> exchanges{0}, disconnects{0}, made{0}, running{0}, mostRunning{0};
  std::atomic<bool> pendingInput{false};
  std::vector<std::string> authorizations;  // each exchange's Authorization and X- headers
  std::string refused;                      // an Authorization value answered 401 ("" for none)

  std::unique_ptr<Connection> NewConnection() override {
    ++made;
    return std::make_unique<Connection>();
  }
  bool HasPendingInput(Connection&) override { return pendingInput; }
  void Disconnect(Connection&) override { ++disconnects; }
  int Exchange(Connection&, const ZENTA_HttpRequest& request, Clock::time_point,
               ZENTA_HttpAnswer& answer, AnswerBuffer& body, ExchangeReport& report,
               const CallControl&) override {
    Step step;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!steps.empty()) step = steps.front(), steps.pop_front();
    }
    ++exchanges;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      std::string seen;
      for (std::size_t i = 0; i < request.headerCount; ++i) {
        const ZENTA_HttpHeader& h = request.headers[i];
        seen += std::string(h.name, h.nameLength) + "=" + std::string(h.value, h.valueLength) + ";";
      }
      authorizations.push_back(seen);
      if (!refused.empty() && seen.find("Authorization=" + refused + ";") != std::string::npos) {
        step.status = 401;
      }
    }
    const int now = ++running;
    for (int most = mostRunning; now > most && !mostRunning.compare_exchange_weak(most, now);) {
    }
    std::this_thread::sleep_for(milliseconds(step.delayMs));
    --running;
    report.reused = step.reused;
    report.Reached(step.reached);
    answer.status = step.status;
    answer.retryAfter = step.retryAfter;
    if (step.code != ZENTA_OK) report.detail.Set("scripted failure %d", step.code);
    return step.code == ZENTA_OK ? body.Append("ok", 2) : step.code;
  }

 private:
  std::mutex mutex_;
};

struct Fixture {
  explicit Fixture(int maxConnections = 4, int timeoutMs = 5000, TransportConfig config = {}) {
    config.maxConnections = maxConnections;
    config.requestTimeout = milliseconds(timeoutMs);
    auto owned = std::make_unique<FakeTransport>();
    fake = owned.get();
    session = std::make_unique<Session>(config, std::move(owned), &IdleNow, &RecordWait);
    waits.clear();
  }
  int Carry(const char* method, std::string* detail = nullptr) {
    const ZENTA_HttpRequest request{method, std::strlen(method), "/x", 2, nullptr, 0, nullptr, 0};
    ZENTA_HttpAnswer answer{};
    AnswerBuffer body(kMaxAnswerBytes);
    ExchangeReport report;
    const int code = session->Carry(request, answer, body, report);
    lastStatus = answer.status;
    if (detail != nullptr) *detail = report.detail.Text();
    return code;
  }
  FakeTransport* fake = nullptr;
  std::unique_ptr<Session> session;
  std::atomic<int> lastStatus{0};  // calls on several threads write it
};

TEST(Policy, OnlyASafeRequestOrOneNotSentIsSentAgainOnceOnAFreshConnection) {
  const Step dropped{ZENTA_E_RECEIVE, true, kSent};
  const struct {
    const char* method;
    std::vector<Step> steps;
    int exchanges;
    int expected;
  } rows[] = {
      {"GET", {dropped}, 2, ZENTA_OK},
      {"HEAD", {{ZENTA_E_SEND, true, kSent}}, 2, ZENTA_OK},
      {"GET", {dropped, dropped}, 2, ZENTA_E_RECEIVE},                 // once only
      {"GET", {{ZENTA_E_RECEIVE, false, kSent}}, 1, ZENTA_E_RECEIVE},  // a new connection failed
      {"GET", {{ZENTA_E_TIMEOUT, true, kSent}}, 1, ZENTA_E_TIMEOUT},
      {"GET", {{ZENTA_E_PROTOCOL, true, kSent}}, 1, ZENTA_E_PROTOCOL},
      {"POST", {dropped}, 1, ZENTA_E_RECEIVE},
      {"DELETE", {{ZENTA_E_SEND, true, kSent}}, 1, ZENTA_E_SEND},
      {"POST", {{ZENTA_E_SEND, true, kNotSent}}, 2, ZENTA_OK},  // nothing of it went out
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.method) + " exchanges " + std::to_string(row.exchanges));
    Fixture f;
    ASSERT_EQ(f.Carry("GET"), ZENTA_OK);  // the connection has carried an exchange
    f.fake->steps.assign(row.steps.begin(), row.steps.end());
    std::string detail;
    EXPECT_EQ(f.Carry(row.method, &detail), row.expected);
    EXPECT_EQ(f.fake->exchanges, 1 + row.exchanges);
    EXPECT_EQ(f.fake->disconnects, row.exchanges - 1) << "a second try reuses no connection";
    if (row.expected != ZENTA_OK) {
      EXPECT_EQ(detail, "scripted failure " + std::to_string(row.expected));
    }
  }
}

// Retries (three here): only what cannot have run twice is tried again, after a backoff that
// doubles with jitter, or the server's Retry-After, and never past the deadline (5 s).
TEST(Policy, RetriesOnlyWhatCannotHaveRunTwiceWithinTheDeadline) {
  const Step refused{ZENTA_E_CONNECT, false, kNotSent}, lost{ZENTA_E_RECEIVE, false, kSent};
  Step busy, later;
  busy.status = 503;
  later.status = 429;
  later.retryAfter = 2;
  Step tooLate = later;
  tooLate.retryAfter = 9;
  const struct {
    const char* method;
    std::vector<Step> steps;
    int expected;                  // the code, or the final HTTP status for an answer
    std::vector<long long> waits;  // each wait's upper bound (its half is the lower one)
  } rows[] = {
      {"POST", {refused, refused}, 200, {100, 200}},  // nothing left: any method
      {"GET", {lost, busy}, 200, {100, 200}},
      {"POST", {lost}, ZENTA_E_RECEIVE, {}},  // it may have run
      {"POST", {busy}, 503, {}},
      {"GET", {later}, 200, {2000}},  // Retry-After, exactly
      {"GET", {tooLate}, 429, {}},    // past the deadline: the answer as it is
      {"GET", {busy, busy, busy, busy}, 503, {100, 200, 400}},
      {"GET", {{ZENTA_E_TIMEOUT, false, kSent}}, ZENTA_E_TIMEOUT, {}},
      {"POST", {{ZENTA_E_RECEIVE, false, kNotSent}}, 200, {100}},   // broke before it was sent
      {"POST", {{ZENTA_E_TLS, false, kNotSent}}, ZENTA_E_TLS, {}},  // another try fails alike
  };
  TransportConfig config;
  config.retries = 3;
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.method) + " " + std::to_string(row.expected));
    Fixture f(4, 5000, config);
    f.fake->steps.assign(row.steps.begin(), row.steps.end());
    const int code = f.Carry(row.method);
    EXPECT_EQ(code == ZENTA_OK ? f.lastStatus.load() : code, row.expected);
    ASSERT_EQ(waits.size(), row.waits.size());
    for (std::size_t i = 0; i < waits.size(); ++i) {
      const long long low = row.waits[i] == 2000 ? 2000 : row.waits[i] / 2;
      EXPECT_TRUE(waits[i] >= low && waits[i] <= row.waits[i]) << waits[i];
    }
    EXPECT_EQ(f.fake->exchanges, static_cast<int>(1 + row.waits.size()));
  }
}

// Credentials: the session's headers after the request's own; a token asked for once, and after
// a 401 refreshed once for all the calls that met it, then the request sent once more.
TEST(Policy, EveryRequestCarriesTheCredentialsAndA401RefreshesTheTokenOnce) {
  static std::atomic<int> asked{0}, failAt{-1};
  const auto callback = [](void*, int refresh, char* token, int size) {
    const int n = ++asked;
    if (n == failAt) return -1;
    return std::snprintf(token, static_cast<std::size_t>(size), "t%d%s", n, refresh ? "r" : "");
  };
  TransportConfig config;
  config.headers = {"X-Key: k"};
  config.tokenCallback = callback;
  Fixture f(2, 5000, config);
  Step refused, slow;
  refused.status = 401;
  slow.status = 401;
  slow.delayMs = 100;
  f.fake->steps = {slow, slow};
  std::thread other([&] { f.Carry("POST"); });
  EXPECT_EQ(f.Carry("GET"), ZENTA_OK);
  other.join();
  EXPECT_EQ(asked, 2) << "one token, then one refresh shared by both calls";
  EXPECT_EQ(f.fake->authorizations.back(), "X-Key=k;Authorization=Bearer t2r;");
  f.fake->steps = {refused, refused};
  EXPECT_EQ(f.Carry("GET"), ZENTA_OK);
  EXPECT_EQ(f.lastStatus, 401) << "refreshed once, then the second 401 is the answer";
  EXPECT_EQ(asked, 3);
  failAt = 4;
  f.fake->steps = {refused};
  EXPECT_EQ(f.Carry("GET"), ZENTA_E_CREDENTIAL);
  config = TransportConfig();
  config.authorization = "Basic abc";
  Fixture fixed(1, 5000, config);
  EXPECT_EQ(fixed.Carry("GET"), ZENTA_OK);
  EXPECT_EQ(fixed.fake->authorizations.back(), "Authorization=Basic abc;");
  // More headers than a call holds in its own storage, and the token after them.
  config = TransportConfig();
  std::string expected;
  for (int i = 0; i < 20; ++i) {
    config.headers.push_back("X-" + std::to_string(i) + ": " + std::to_string(i));
    expected += "X-" + std::to_string(i) + "=" + std::to_string(i) + ";";
  }
  config.tokenCallback = callback;
  failAt = -1;
  Fixture many(1, 5000, config);
  EXPECT_EQ(many.Carry("GET"), ZENTA_OK);
  EXPECT_EQ(many.fake->authorizations.back(), expected + "Authorization=Bearer t5;");
}

// A callback's token is held to the bytes of an authorization value, is never empty, and is sent
// instead of the authorization value: one Authorization header, whatever the session holds.
TEST(Policy, ACallbacksTokenIsAValidNonEmptyValueSentAsTheOnlyAuthorization) {
  static std::string given;
  const auto callback = [](void*, int, char* token, int size) {
    std::memcpy(token, given.data(), std::min(given.size() + 1, static_cast<std::size_t>(size)));
    return static_cast<int>(given.size());
  };
  const struct {
    std::string token;
    int expected;
  } rows[] = {{"t\tok", ZENTA_OK},
              {"", ZENTA_E_CREDENTIAL},
              {"t\x0bk", ZENTA_E_CREDENTIAL},
              {"t\x7fk", ZENTA_E_CREDENTIAL},
              {std::string("t\0k", 3), ZENTA_E_CREDENTIAL},
              {"t\nk", ZENTA_E_CREDENTIAL}};
  for (const auto& row : rows) {
    SCOPED_TRACE(static_cast<int>(&row - rows));
    given = row.token;
    TransportConfig config;
    config.authorization = "Basic abc";
    config.tokenCallback = callback;
    Fixture f(1, 5000, config);
    EXPECT_EQ(f.Carry("GET"), row.expected);
    const std::string sent = "Authorization=Bearer " + row.token + ";";
    EXPECT_EQ(f.fake->authorizations, std::vector<std::string>(row.expected == 0, sent));
  }
}

// The token callback within the deadline, with 16 calls at once on 4 connections: a call whose
// deadline passes while a token is awaited fails with the timeout and sends nothing, the calls
// that wait for a run of the callback wait at most until their own deadlines, and one run answers
// every call that waited for it, with its token or its failure: the callback runs once for the
// first token and once per 401 wave, never once per call.
TEST(Policy, TheTokenCallbackRunsOncePerNeedWithinEachCallsDeadline) {
  struct Script {
    int delayMs;
    std::vector<std::string> tokens;  // the run's token, "-" for a failure
    std::atomic<int> runs{0};
    std::atomic<int> started{0};  // calls about to begin: a run lasts until all have begun
  };
  const auto callback = [](void* context, int, char* token, int size) {
    auto& script = *static_cast<Script*>(context);
    const std::size_t run = static_cast<std::size_t>(script.runs++);
    for (int waited = 0; script.started < 16 && waited < 2000; ++waited) {
      std::this_thread::sleep_for(milliseconds(1));
    }
    std::this_thread::sleep_for(milliseconds(script.delayMs));
    const std::string& given = script.tokens[std::min(run, script.tokens.size() - 1)];
    if (given == "-") return -1;
    std::memcpy(token, given.data(), std::min(given.size() + 1, static_cast<std::size_t>(size)));
    return static_cast<int>(given.size());
  };
  const struct {
    const char* name;
    int delayMs, timeoutMs;
    std::vector<std::string> tokens;
    int expected, runs;
    bool sent;  // requests reached the transport
  } rows[] = {
      {"slow", 600, 150, {"t1"}, ZENTA_E_TIMEOUT, 1, false},
      {"failing", 100, 5000, {"-"}, ZENTA_E_CREDENTIAL, 1, false},
      {"empty", 100, 5000, {""}, ZENTA_E_CREDENTIAL, 1, false},
      {"a control byte", 100, 5000, {"t\x0b"}, ZENTA_E_CREDENTIAL, 1, false},
      {"refused once, refreshed", 100, 5000, {"t1", "t2"}, ZENTA_OK, 2, true},
      {"refused once, the refresh fails", 100, 5000, {"t1", "-"}, ZENTA_E_CREDENTIAL, 2, true}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Script script{row.delayMs, row.tokens};
    TransportConfig config;
    config.tokenCallback = callback;
    config.tokenContext = &script;
    Fixture f(4, row.timeoutMs, config);
    f.fake->refused = "Bearer t1";
    std::atomic<bool> go{false};
    std::atomic<int> answered{0}, quick{0};
    std::vector<std::thread> calls;
    for (int i = 0; i < 16; ++i) {
      calls.emplace_back([&] {
        while (!go) std::this_thread::yield();
        const Clock::time_point start = Clock::now();
        ++script.started;
        answered += f.Carry("POST") == row.expected;
        quick += Clock::now() - start < milliseconds(row.delayMs);
      });
    }
    go = true;
    for (std::thread& call : calls) call.join();
    EXPECT_EQ(answered, 16);
    EXPECT_EQ(script.runs, row.runs);
    EXPECT_EQ(f.fake->exchanges > 0, row.sent);
    if (row.expected == ZENTA_E_TIMEOUT) {
      EXPECT_GE(quick, 15) << "only the call that runs the callback waits for it past its deadline";
    }
  }
}

TEST(Policy, AnIdleConnectionCarriesARequestOnlyWhenNothingWaitsOnItAndItIsFreshEnough) {
  Fixture f;
  EXPECT_EQ(f.Carry("GET"), ZENTA_OK);
  EXPECT_EQ(f.Carry("POST"), ZENTA_OK);
  EXPECT_EQ(f.fake->disconnects, 0) << "busy a moment ago, nothing waiting";
  f.fake->pendingInput = true;
  EXPECT_EQ(f.Carry("GET"), ZENTA_OK);
  EXPECT_EQ(f.fake->disconnects, 1) << "a stray answer or a close waited on it";
  f.fake->pendingInput = false;
  idleNow += kNonIdempotentReuseWindow;
  EXPECT_EQ(f.Carry("GET"), ZENTA_OK);
  EXPECT_EQ(f.fake->disconnects, 1) << "a GET reuses an older connection";
  idleNow += kNonIdempotentReuseWindow - milliseconds(1);
  EXPECT_EQ(f.Carry("POST"), ZENTA_OK);
  EXPECT_EQ(f.fake->disconnects, 1) << "a POST reuses a connection idle for less than the window";
  idleNow += kNonIdempotentReuseWindow;
  EXPECT_EQ(f.Carry("PUT"), ZENTA_OK);
  EXPECT_EQ(f.fake->disconnects, 2) << "a PUT does not reuse one idle for the window";
  EXPECT_EQ(f.fake->made, 1);
}

TEST(Policy, AtMostMaxConnectionsRunAndWaitingCountsTowardTheTimeout) {
  // Two connections, 250 ms per exchange, 400 ms per call: the third and fourth calls get a
  // connection in time, the last two do not.
  Fixture f(2, 400);
  f.fake->steps.assign(6, Step{ZENTA_OK, false, kSent, 250});
  std::vector<int> codes(6, 1);
  std::vector<std::thread> threads;
  for (int& code : codes) threads.emplace_back([&f, &code] { code = f.Carry("GET"); });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(f.fake->mostRunning, 2);
  EXPECT_EQ(f.fake->made, 2);
  EXPECT_EQ(std::count(codes.begin(), codes.end(), ZENTA_OK), 4);
  EXPECT_EQ(std::count(codes.begin(), codes.end(), ZENTA_E_TIMEOUT), 2);
  EXPECT_EQ(f.fake->exchanges, 4) << "a call that timed out waiting was sent";
}

TEST(Policy, CloseReturnsAtOnceAndFailsTheCallWaiting) {
  Fixture f(1);
  f.fake->steps = {Step{ZENTA_OK, false, kSent, 300}};
  int first = 1, waiting = 1;
  std::thread running([&] { first = f.Carry("GET"); });
  while (f.fake->running == 0) std::this_thread::sleep_for(milliseconds(1));
  std::thread second([&] { waiting = f.Carry("GET"); });
  std::this_thread::sleep_for(milliseconds(50));
  f.session->Close();
  EXPECT_EQ(f.fake->running, 1) << "close waited for the exchange under way";
  running.join();
  second.join();
  EXPECT_EQ(first, ZENTA_OK);
  EXPECT_EQ(waiting, ZENTA_E_SESSION_CLOSED);
  EXPECT_EQ(f.fake->exchanges, 1);
}

TEST(Pool, LendsTheLastReturnedAndWaitsUntilTheDeadlineOrShutdown) {
  int made = 0;
  ConnectionPool pool(2, [&made]() -> std::unique_ptr<Connection> {
    return ++made == 2 ? nullptr : std::make_unique<Connection>();
  });
  const auto soon = [] { return Clock::now() + milliseconds(50); };
  Connection* first = nullptr;
  {
    ConnectionPool::Loan a(pool), b(pool), c(pool);
    ASSERT_EQ(pool.Borrow(soon(), a), ZENTA_OK);
    first = a.Get().connection.get();
    EXPECT_EQ(pool.Borrow(soon(), b), ZENTA_E_NO_MEMORY) << "the factory failed";
    ASSERT_EQ(pool.Borrow(soon(), b), ZENTA_OK) << "the failed slot was given back";
    EXPECT_EQ(pool.Borrow(soon(), c), ZENTA_E_TIMEOUT);
  }
  ConnectionPool::Loan again(pool), waiting(pool), other(pool);
  ASSERT_EQ(pool.Borrow(soon(), again), ZENTA_OK);
  EXPECT_EQ(again.Get().connection.get(), first) << "not the connection returned last";
  ASSERT_EQ(pool.Borrow(soon(), other), ZENTA_OK);
  EXPECT_EQ(made, 3) << "returned connections are lent again";
  int code = 1;
  std::thread borrower([&] { code = pool.Borrow(Clock::now() + milliseconds(5000), waiting); });
  std::this_thread::sleep_for(milliseconds(50));
  pool.Shutdown();
  borrower.join();
  EXPECT_EQ(code, ZENTA_E_SESSION_CLOSED);
}

// Credentials go wherever they stand, with a URL's user information however many '@' it holds;
// a value of a few bytes is no credential and stays, or every detail would be garbled.
TEST(Scrubber, CredentialsGoAndShortValuesStay) {
  Scrubber scrubber;
  scrubber.Add("Bearer tok-Secret1");
  scrubber.Add("7");
  const struct {
    const char* text;
    const char* scrubbed;
  } rows[] = {
      {"echo Bearer tok-Secret1!", "echo ***!"},
      {"token tok-Secret1 refused", "token *** refused"},
      {"connect to 127.0.0.1:7 failed", "connect to 127.0.0.1:7 failed"},
      {"proxy http://alice:s3cret@PW@10.0.0.7:99999", "proxy http://***@10.0.0.7:99999"},
  };
  for (const auto& row : rows) {
    std::string text = row.text;
    scrubber.Scrub(text);
    EXPECT_EQ(text, row.scrubbed);
  }
}

}  // namespace
}  // namespace zenta
