// The real gateway under allocation failure: every allocation that ZENTA_GeneralJsonRequest makes
// on the calling thread is failed in turn. No exception may cross the C boundary: each failing
// run returns ZENTA_E_NO_MEMORY with no answer buffer handed out, and the run with no failure
// left succeeds. Leaks are left to LeakSanitizer (the asan preset runs this test too): the
// in-process server allocates on its own threads, so a heap balance would not be exact here.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "CountingAllocator.h"
#include "GatewayTestSupport.h"
#include "ZentaInternal.h"

namespace gateway_test {
namespace {

constexpr std::int64_t kMostAllocations = 5000;

TEST(GatewayAllocationFailure, NeverThrowsAndAnswersNoMemory) {
  const EchoServer server;
  // An answer large enough to arrive in several pieces, so the body sink grows on the way.
  constexpr std::int32_t kAnswerBytes = 200000;
  Session session(server.Url() + "/type/application%2Fjson/bytes/" + std::to_string(kAnswerBytes));
  for (const std::string method : {"GET", "POST"}) {
    SCOPED_TRACE(method);
    RequestRecord record(method, "alloc/test?x=1");
    record.Header("Accept-Language", "en-US").Header("Content-Type", "application/json");
    if (method == "POST") record.Body("{\"clientType\":\"WINPC_V2\"}");
    std::int64_t failed = 0;
    for (std::int64_t n = 1; n <= kMostAllocations; ++n) {
      ostrel::RestResponse response{};
      void* request = record.Get();
      corvane_test::FailNthAllocation(n);
      const int code =
          ZENTA_GeneralJsonRequest(session.Handle(), request, RequestRecord::kSize, &response, 56);
      const bool fired = corvane_test::AllocationFailureFired();
      corvane_test::FailNthAllocation(0);
      if (!fired) {
        ASSERT_EQ(code, ZENTA_OK) << ZENTA_ErrorText(code);
        EXPECT_EQ(response.answerLength, kAnswerBytes);
        EXPECT_EQ(ZENTA_ReleaseDataBuffer(response.answer), ZENTA_OK);
        break;
      }
      ++failed;
      ASSERT_EQ(code, ZENTA_E_NO_MEMORY) << "allocation " << n << ": " << ZENTA_ErrorText(code);
      EXPECT_EQ(response.answer, nullptr) << "allocation " << n;
      EXPECT_EQ(zenta::OutstandingAnswerBuffers(), 0u) << "allocation " << n;
    }
    EXPECT_GT(failed, 0);
    EXPECT_LT(failed, kMostAllocations);
  }
  EXPECT_EQ(zenta::OutstandingAnswerBuffers(), 0u);
}

}  // namespace
}  // namespace gateway_test
