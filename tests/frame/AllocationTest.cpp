// Allocations of the operations: every allocation of a call failed in turn ends in
// std::bad_alloc with nothing left behind, and reading an answer of any shape holds at its peak
// less than 10 times the answer's size.
#include <gtest/gtest.h>

#include <new>
#include <string>

#include "FakeGateway.h"
#include "LogCounter.h"
#include "OperationCalls.h"

namespace Corvane {
namespace {

using corvane_test::FakeGateway;

TEST(Allocation, EveryFailedAllocationEndsInBadAllocAndLeavesNothing) {
  corvane_test::LogCounter quiet;  // installed before counting starts
  SetMacAddress("m");
  for (const Call& call : Calls()) {
    SCOPED_TRACE(call.name);
    std::int64_t n = 1;
    for (;; ++n) {
      FakeGateway::Instance().Reset();
      FakeGateway::Instance().Script(
          corvane_test::Answer(std::string("{\"code\":1000,\"data\":") + call.data + "}"));
      bool threw = false;
      const std::int64_t before = corvane_test::LiveAllocations();
      {
        Outputs out;  // what the call appended is the caller's, and goes with it
        corvane_test::FailNthAllocation(n);
        try {
          call.run(out);
        } catch (const std::bad_alloc&) {
          threw = true;
        }
      }
      const bool fired = corvane_test::AllocationFailureFired();
      corvane_test::FailNthAllocation(0);
      ASSERT_EQ(FakeGateway::Instance().OutstandingBuffers(), 0u) << n;
      ASSERT_EQ(corvane_test::LiveAllocations(), before) << "allocation " << n << " leaked";
      ASSERT_EQ(threw, fired) << "allocation " << n;
      if (!fired) break;
    }
    EXPECT_GT(n, 3) << "the switch did not work";
  }
}

std::string Repeat(const std::string& first, const std::string& next, std::size_t bytes) {
  std::string text = first;
  while (text.size() < bytes) text += next;
  return text;
}

TEST(Allocation, ReadingAnAnswerHoldsLessThanTenTimesItsSize) {
  constexpr std::size_t kSize = 4 << 20;
  std::string distinct = "{\"m0\":0";
  for (int i = 1; distinct.size() < kSize && i < 200000; ++i) {
    distinct += ",\"m" + std::to_string(i) + "\":0";
  }
  const std::string list = "{\"code\":1000,\"data\":{\"results\":[{\"trailId\":\"1\"}";
  const std::string shapes[] = {
      Repeat("[0", ",0", kSize) + "]",
      Repeat("[[]", ",[]", kSize) + "]",
      Repeat("[{}", ",{}", kSize) + "]",
      Repeat("[[0]", ",[0]", kSize) + "]",
      Repeat("[\"a\"", ",\"a\"", kSize) + "]",
      Repeat("[\"abcdef\"", ",\"abcdef\"", kSize) + "]",
      distinct + "}",
      Repeat(list, ",{\"trailId\":\"12\",\"trailName\":\"n\"}", kSize) + "]}}",
  };
  corvane_test::LogCounter quiet;
  for (const std::string& text : shapes) {
    SCOPED_TRACE(text.substr(0, 24));
    FakeGateway::Instance().Reset();
    FakeGateway::Instance().Script(corvane_test::Answer(text));
    const std::int64_t before = corvane_test::LiveBytes();
    corvane_test::ResetPeakBytes();
    std::vector<PtzTrailInfo> trails;
    EXPECT_EQ(API_GetPtzTrailList("c", 3, trails), text == shapes[7] ? 0 : -1);
    const std::int64_t peak = corvane_test::PeakBytes() - before;
    // The gateway holds the text once, outside the count.
    EXPECT_LT(peak + static_cast<std::int64_t>(text.size()),
              10 * static_cast<std::int64_t>(text.size()));
    std::printf("[          ] %.16s...: peak %.2f x the answer\n", text.c_str(),
                static_cast<double>(peak + text.size()) / text.size());
  }
}

}  // namespace
}  // namespace Corvane
