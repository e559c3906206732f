#include "CountingAllocator.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

namespace corvane_test {
namespace {

std::atomic<std::int64_t> liveAllocations{0};
std::atomic<std::int64_t> liveBytes{0};
std::atomic<std::int64_t> peakBytes{0};
thread_local bool notCounting = false;
// Counted allocations left on this thread before the armed one; 0 when nothing is armed.
thread_local std::int64_t failCountdown = 0;
thread_local bool failureFired = false;

// Decides for the replacements below whether this allocation counts and whether it fails.
bool CountThisAllocation() {
  if (notCounting) return false;
  if (failCountdown > 0 && --failCountdown == 0) {
    failureFired = true;
    throw std::bad_alloc();
  }
  return true;
}

}  // namespace

std::int64_t LiveAllocations() { return liveAllocations.load(); }
std::int64_t LiveBytes() { return liveBytes.load(); }
std::int64_t PeakBytes() { return peakBytes.load(); }
void ResetPeakBytes() { peakBytes.store(liveBytes.load()); }

void AddBytes(std::int64_t count, std::int64_t bytes) {
  liveAllocations.fetch_add(count, std::memory_order_relaxed);
  const std::int64_t now = liveBytes.fetch_add(bytes) + bytes;
  std::int64_t peak = peakBytes.load();
  while (now > peak && !peakBytes.compare_exchange_weak(peak, now)) {
  }
}

void FailNthAllocation(std::int64_t n) {
  failCountdown = n > 0 ? n : 0;
  failureFired = false;
}

bool AllocationFailureFired() { return failureFired; }

NotCounted::NotCounted() : previous_(notCounting) { notCounting = true; }
NotCounted::~NotCounted() { notCounting = previous_; }

}  // namespace corvane_test

// Counting replacements of the global allocation functions. Each block carries a header that
// says whether it was counted, so that the fake's own bookkeeping (done with counting switched
// off) never shows up in a test's balance, whichever side frees it. The blocks come from malloc,
// so AddressSanitizer still sees every one of them: leaks, overruns past the end, use after free.
namespace {
constexpr std::size_t kHeader = alignof(std::max_align_t) > 16 ? alignof(std::max_align_t) : 16;
}

void* operator new(std::size_t size) {
  const bool counted = corvane_test::CountThisAllocation();
  auto* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
  if (block == nullptr) throw std::bad_alloc();
  block[0] = counted ? 1 : 0;
  std::memcpy(block + 8, &size, sizeof size);
  if (counted) corvane_test::AddBytes(1, static_cast<std::int64_t>(size));
  return block + kHeader;
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void operator delete(void* p) noexcept {
  if (p == nullptr) return;
  unsigned char* block = static_cast<unsigned char*>(p) - kHeader;
  std::size_t size;
  std::memcpy(&size, block + 8, sizeof size);
  if (block[0] == 1) corvane_test::AddBytes(-1, -static_cast<std::int64_t>(size));
  std::free(block);
}
void operator delete[](void* p) noexcept { ::operator delete(p); }
void operator delete(void* p, std::size_t) noexcept { ::operator delete(p); }
void operator delete[](void* p, std::size_t) noexcept { ::operator delete(p); }
// The nothrow forms go through the counting ones, so that a block always comes back to the
// replacement that made it (AddressSanitizer supplies its own nothrow forms otherwise).
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return ::operator new(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return ::operator new(size, std::nothrow);
}
void operator delete(void* p, const std::nothrow_t&) noexcept { ::operator delete(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { ::operator delete(p); }
