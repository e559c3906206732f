// Load: eight threads issue mixed calls on one handle against the simulated server. No call may
// fail, and what the process holds must stay flat: resident memory and open descriptors at the
// end of the last quarter against the end of the first (the first quarter warms up the heap,
// the connection pool and every thread's arena).
//
// CORVANE_LOAD_CALLS sets the calls per thread (default 20000); the sanitizer runs use a short
// form.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "Corvane.h"
#include "MockControl.h"
#include "ZentaInternal.h"
#include "zenta/ZentaSdk.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kThreads = 8;
constexpr int kQuarters = 4;
constexpr int kDefaultCallsPerThread = 20000;
// Growth of resident memory allowed from the first quarter to the last. A leak of 16 bytes per
// call over the 120000 calls in between would exceed it; allocator noise stays far below.
constexpr std::int64_t kRssToleranceKiB = 2048;

// Under a sanitizer resident memory says nothing about leaks: AddressSanitizer keeps freed blocks
// in quarantine and ThreadSanitizer grows its shadow memory. LeakSanitizer checks those builds.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kRssIsMeaningful = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kRssIsMeaningful = false;
#else
constexpr bool kRssIsMeaningful = true;
#endif
#else
constexpr bool kRssIsMeaningful = true;
#endif

int CallsPerThread() {
  const char* text = std::getenv("CORVANE_LOAD_CALLS");
  const int calls = text != nullptr ? std::atoi(text) : kDefaultCallsPerThread;
  // Whole quarters, at least one call each, and a bound on any loop.
  return calls >= kQuarters && calls <= 1000000 ? calls - calls % kQuarters
                                                : kDefaultCallsPerThread;
}

TEST(Load, EightThreadsOnOneHandleStayFlat) {
  corvane_test::MockControl control;
  control.Reset();
  corvane_test::UseClientSettings();
  // Every operation in turn, each checked against the platform the server was reset to.
  const std::vector<corvane_test::PlatformCall> calls = corvane_test::EveryOperation();
  const int callsPerThread = CallsPerThread();
  const int perQuarter = callsPerThread / kQuarters;

  corvane_test::Session session(corvane_test::MockServerUrl());
  std::atomic<long long> failed{0};
  std::int64_t rss[kQuarters] = {};
  int fds[kQuarters] = {};
  const Clock::time_point start = Clock::now();
  for (int quarter = 0; quarter < kQuarters; ++quarter) {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        for (int i = 0; i < perQuarter; ++i) {
          const std::size_t which = static_cast<std::size_t>(t + i) % calls.size();
          bool matches = false;
          if (calls[which].call(session.Handle(), matches) != 0 || !matches) ++failed;
        }
      });
    }
    for (std::thread& thread : threads) thread.join();
    rss[quarter] = corvane_test::ResidentKiB();
    fds[quarter] = corvane_test::OpenDescriptors();
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  const long long total = static_cast<long long>(kThreads) * perQuarter * kQuarters;
  const quim::Json::Value stats = control.Stats();
  std::printf(
      "[          ] %lld calls on %d threads in %.1f s (%.0f calls/s); VmRSS per quarter %lld, "
      "%lld, %lld, %lld KiB; open fds %d, %d, %d, %d; %lld connections\n",
      total, kThreads, seconds, total / seconds, static_cast<long long>(rss[0]),
      static_cast<long long>(rss[1]), static_cast<long long>(rss[2]),
      static_cast<long long>(rss[3]), fds[0], fds[1], fds[2], fds[3],
      static_cast<long long>(stats["connections"].asInt64()));

  EXPECT_EQ(failed.load(), 0);
  if (kRssIsMeaningful) {
    ASSERT_GT(rss[0], 0);
    EXPECT_LE(rss[kQuarters - 1], rss[0] + kRssToleranceKiB) << "resident memory grew";
  }
  ASSERT_GT(fds[0], 0);
  EXPECT_LE(fds[kQuarters - 1], fds[0]) << "open descriptors grew";
  EXPECT_EQ(zenta::OutstandingAnswerBuffers(), 0u);
  EXPECT_EQ(stats["apiRequests"].asInt64(), total);
  // The pool holds 4; the server itself ends a connection after 100000 requests.
  EXPECT_LE(stats["connections"].asInt64(), 4 + total / 100000) << "connections were not reused";
}

}  // namespace
