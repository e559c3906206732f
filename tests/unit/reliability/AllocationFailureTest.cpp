// Allocation failure inside an operation: for a representative set of operations, every
// allocation the call makes is failed in turn, from the first until the call completes. Each
// failing run must end in std::bad_alloc with every gateway buffer given back and the heap as it
// was before the call.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "Corvane.h"
#include "FakeGateway.h"
#include "LogCounter.h"

namespace Corvane {
namespace {

using corvane_test::FakeGateway;

// Far more allocations than any of these calls makes; reaching it means the loop never ended.
constexpr std::int64_t kMostAllocations = 5000;
constexpr int kHandle = 1;

struct Row {
  const char* name;
  std::string answer;
  // Runs the operation with outputs of its own and frees them before returning, so that only the
  // call's own allocations are left to balance.
  std::function<int()> call;
  int status;  // when no allocation fails
};

// Outcome of one call with the nth allocation failed.
struct Attempt {
  bool fired = false;  // the nth allocation came and was failed
  bool threwBadAlloc = false;
  int status = 0;
};

Attempt RunFailingAt(const Row& row, std::int64_t n) {
  FakeGateway::Instance().Reset();
  FakeGateway::Instance().Script(corvane_test::Answer(row.answer));
  Attempt run;
  corvane_test::FailNthAllocation(n);
  try {
    run.status = row.call();
  } catch (const std::bad_alloc&) {
    run.threwBadAlloc = true;
  }
  run.fired = corvane_test::AllocationFailureFired();
  corvane_test::FailNthAllocation(0);
  return run;
}

TEST(AllocationFailure, EveryFailedAllocationEndsInBadAllocAndLeavesNothingAllocated) {
  const std::vector<Row> rows = {
      {"GET scalar", R"({"code":1000,"data":{"enable":1}})",
       [] {
         int enable = 0;
         return API_GetAIPrivacyConfig(kHandle, enable);
       },
       0},
      {"POST with body", R"({"code":1000,"data":{"planId":7,"now":1700000000000}})",
       [] {
         StartRemoteRecordRsp result;
         return API_StartRemoteRecord({kHandle, "D1001-C01", 1, 60}, result);
       },
       0},
      {"list",
       R"({"code":1000,"data":{"results":[{"sourceName":"gate","devicePosition":"north",)"
       R"("deviceContacts":[{"contactName":"Ann","contactPhone":"1","contactEmail":"a@x",)"
       R"("contactNote":"n"},{"contactName":"Bo"}]},{"sourceName":"door"}]}})",
       [] {
         std::vector<DeviceContactInfo> contacts;
         return API_GetAlarmDeviceContacts("ALM-0001", 1700000000000LL, kHandle, contacts);
       },
       0},
      {"map with conversions",
       R"({"code":1000,"data":{"results":[{"key":"1","value":"10"},{"key":"-2","value":" 20"},)"
       R"({"key":"3","value":"30"}]}})",
       [] {
         std::map<int, int> mapping;
         return API_QueryDictionaryMapper(kHandle, 2, mapping);
       },
       0},
      {"picture download", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16),
       [] {
         DownloadDevicePicResp picture;
         const int status = API_DownloadDevicePicture(kHandle, {3, "P0001"}, picture);
         delete[] picture.pictureData;
         return status;
       },
       0},
      {"unreadable answer, logged", "{\"code\":",
       [] {
         int playbackTime = 0;
         return API_GetPosConfig(kHandle, playbackTime);
       },
       -1},
  };
  corvane_test::LogCounter quiet;   // installed before counting starts; logging allocates nothing
  FakeGateway::Instance().Reset();  // the fake's first use allocates it, outside every balance
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::int64_t before = corvane_test::LiveAllocations();
    std::int64_t failed = 0;
    for (std::int64_t n = 1; n <= kMostAllocations; ++n) {
      const Attempt run = RunFailingAt(row, n);
      EXPECT_EQ(FakeGateway::Instance().OutstandingBuffers(), 0u) << "allocation " << n;
      EXPECT_EQ(FakeGateway::Instance().BadReleases(), 0) << "allocation " << n;
      ASSERT_EQ(corvane_test::LiveAllocations(), before) << "allocation " << n << " leaked";
      if (!run.fired) {
        EXPECT_FALSE(run.threwBadAlloc);
        EXPECT_EQ(run.status, row.status);
        break;
      }
      ++failed;
      ASSERT_TRUE(run.threwBadAlloc) << "allocation " << n << " failed, the call returned "
                                     << run.status << " instead of throwing std::bad_alloc";
    }
    EXPECT_GT(failed, 0) << "the call allocated nothing: the switch did not work";
    EXPECT_LT(failed, kMostAllocations) << "the call never completed";
    std::printf("[          ] %s: %lld allocations, each failed once\n", row.name,
                static_cast<long long>(failed));
  }
}

}  // namespace
}  // namespace Corvane
