// Replacements of the global operator new and delete for test programs: they count the live
// allocations and can make a chosen allocation fail, so that a test can prove that a call leaves
// nothing allocated, also when an allocation inside it throws std::bad_alloc. The fake gateway
// brings them along; a program that links the real gateway links corvane_counting_allocator.
#ifndef CORVANE_TESTS_COUNTINGALLOCATOR_H
#define CORVANE_TESTS_COUNTINGALLOCATOR_H

#include <cstdint>

namespace corvane_test {

// Live heap allocations made through operator new in this process, counted ones only.
std::int64_t LiveAllocations();
// Bytes of the counted live allocations, and the most there were since the last ResetPeakBytes.
std::int64_t LiveBytes();
std::int64_t PeakBytes();
void ResetPeakBytes();

// Makes the nth counted allocation on the calling thread, counted from this call, throw
// std::bad_alloc (n >= 1); n = 0 switches failing off. The switch fires once and is then off.
// Other threads are never failed, so servers running in the test program keep working.
void FailNthAllocation(std::int64_t n);

// Whether the failure armed by the last FailNthAllocation call on this thread has fired.
bool AllocationFailureFired();

// While alive, allocations on this thread are neither counted nor failed: the fake gateway's own
// bookkeeping stays out of a test's balance.
class NotCounted {
 public:
  NotCounted();
  ~NotCounted();
  NotCounted(const NotCounted&) = delete;
  NotCounted& operator=(const NotCounted&) = delete;

 private:
  bool previous_;
};

}  // namespace corvane_test

#endif  // CORVANE_TESTS_COUNTINGALLOCATOR_H
