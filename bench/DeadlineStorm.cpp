// How late calls end under a retry storm: 16 threads share one session of 4 connections against
// a server that answers every request 503 (after server_ms, with "Retry-After: 1" when
// retry_after is 1), with retries on (10 tries after the first, backoff with jitter) and a
// 3,000 ms request timeout. Every call fails; what is measured is how
// long after its deadline each one returns: the session's promise is at most 50 ms, whether the
// call was waiting for a connection, in a backoff or in an exchange when the deadline came.
//
// Three rounds of 16 x 4 calls; the counters give the calls, the latest end after the deadline
// (late_max_ms), the 99th percentile (late_p99_ms) and the calls more than 50 ms late (over_50ms).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "Corvane.h"
#include "HttpCore.h"
#include "zenta/ZentaSdk.h"

namespace {

constexpr int kThreads = 16, kCallsPerThread = 4, kTimeoutMs = 3000;

void DeadlineUnderA503Storm(benchmark::State& state) {
  namespace http = corvane::http;
  const int delayMs = static_cast<int>(state.range(0));
  const bool retryAfter = state.range(1) != 0;
  http::Server server({}, [&](const http::Request&, http::AnswerWriter& out) {
    http::Headers headers{{"Content-Type", "text/plain"}};
    if (retryAfter) headers.emplace_back("Retry-After", "1");
    if (delayMs == 0 || out.Sleep(delayMs)) out.Reply(503, headers, "busy");
  });
  server.Start();
  ZENTA_SessionOptions options{};
  options.structSize = sizeof options;
  options.requestTimeoutMs = kTimeoutMs;
  options.maxConnections = 4;
  options.retries = 10;
  options.proxy = "";
  int handle = 0;
  if (ZENTA_OpenSession(server.BaseUrl().c_str(), &options, &handle) != ZENTA_OK) {
    state.SkipWithError("no session");
    return;
  }
  std::mutex mutex;
  std::vector<double> lateMs;
  for (auto _ : state) {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&] {
        for (int call = 0; call < kCallsPerThread; ++call) {
          const auto start = std::chrono::steady_clock::now();
          int playbackTime = 0;
          Corvane::API_GetPosConfig(handle, playbackTime);
          const double late =
              std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                  .count() -
              kTimeoutMs;
          std::lock_guard<std::mutex> lock(mutex);
          lateMs.push_back(late);
        }
      });
    }
    for (std::thread& thread : threads) thread.join();
  }
  ZENTA_CloseSession(handle);
  std::sort(lateMs.begin(), lateMs.end());
  state.counters["calls"] = static_cast<double>(lateMs.size());
  state.counters["late_max_ms"] = lateMs.back();
  state.counters["late_p99_ms"] = lateMs[lateMs.size() * 99 / 100];
  state.counters["over_50ms"] =
      static_cast<double>(lateMs.end() - std::upper_bound(lateMs.begin(), lateMs.end(), 50.0));
}
BENCHMARK(DeadlineUnderA503Storm)
    ->ArgNames({"server_ms", "retry_after"})
    ->Args({20, 0})
    ->Args({0, 0})
    ->Args({20, 1})
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
