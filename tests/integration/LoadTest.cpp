// Load under faults: sixteen threads call every operation on one handle while random faults hit
// the server's answers: delays past the request timeout, dropped connections, cut answers,
// garbage, HTTP errors and answers past the size cap. A call may fail, but no call may succeed
// (status 0) with data that is not the server's answer to it: the data must be the platform's,
// and a record start's plan id, new with every request, must not come twice.
//
// CORVANE_LOAD_CALLS sets the number of calls, all threads together (default 6400); the sanitizer
// runs use a short form.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>

#include "Corvane.h"
#include "MockControl.h"
#include "ZentaInternal.h"
#include "zenta/ZentaSdk.h"

namespace {

TEST(Load, SixteenThreadsUnderRandomFaultsNeverTakeAWrongAnswer) {
  constexpr int kThreads = 16;
  const char* calls = std::getenv("CORVANE_LOAD_CALLS");
  const int callsPerThread = (calls != nullptr ? std::atoi(calls) : 6400) / kThreads;
  // The picture download hands over whatever bytes come, so garbage goes to JSON paths only.
  const std::string faults[] = {
      R"("path":"*","kind":"delay","delayMs":400)",  // past the 250 ms timeout below
      R"("path":"*","kind":"drop")",
      R"("path":"*","kind":"truncate")",
      R"("path":"*","kind":"http-error","status":502)",
      R"("path":"*","kind":"big","bytes":300000)",  // past the 256 KiB cap below
      R"("path":"*","kind":"big","bytes":300000,"chunked":true)",
      R"("path":"/vusk/api/v1.1/config/pos","kind":"garbage")",
      R"("path":"/vusk/api/v1.1/dictionary/list","kind":"garbage","body":"{\"code\":1000")",
  };
  corvane_test::MockControl().Reset();
  const std::vector<corvane_test::PlatformCall> operations = corvane_test::EveryOperation();
  ZENTA_SessionOptions options = corvane_test::Options(0, 250);
  options.maxAnswerBytes = 256 << 10;
  const std::string url = corvane_test::MockServerUrl();
  corvane_test::Session session(url, options);
  std::atomic<int> succeeded{0}, failed{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      corvane::mock::MockClient control(url);  // each fault hits whichever call comes next
      std::mt19937 random(static_cast<unsigned>(t));
      for (int i = 0; i < callsPerThread; ++i) {
        if (random() % 4 == 0) control.AddFault(R"({"count":1,)" + faults[random() % 8] + "}");
        const corvane_test::PlatformCall& operation = operations[random() % operations.size()];
        bool matches = false;
        if (operation.call(session.Handle(), matches) != 0) {
          ++failed;
          continue;
        }
        ++succeeded;
        EXPECT_TRUE(matches) << operation.name << ": status 0 with data not its answer";
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  corvane_test::MockControl().ClearFaults();
  std::printf("[          ] %d calls succeeded, %d failed\n", succeeded.load(), failed.load());
  EXPECT_GT(failed.load(), 0);
  EXPECT_GT(succeeded.load(), failed.load()) << "most calls meet no fault";
  EXPECT_EQ(zenta::OutstandingAnswerBuffers(), 0u);
}

}  // namespace
