// Answer bytes, and the registry of answers handed over: allocated and freed inside ZENTA, so a
// buffer that Ostrel hands to a client goes back to the heap it came from whatever runtime each
// module uses.
#include "AnswerBuffer.h"

#include <zenta/ZentaSdk.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

namespace zenta {

AnswerBuffer::~AnswerBuffer() { std::free(data_); }

// Grows to hold `needed` bytes and a NUL: doubling, so that an answer of unknown length is
// moved a few times only, but never past the cap (plus the byte that reveals a longer answer).
// realloc extends large blocks in place or remaps their pages, so the bytes are not held twice.
bool AnswerBuffer::Grow(std::size_t needed) {
  if (needed + 1 <= capacity_) return true;
  std::size_t capacity = capacity_ * 2;
  if (capacity > cap_ + 2) capacity = cap_ + 2;
  if (capacity < needed + 1) capacity = needed + 1;
  char* grown = static_cast<char*>(std::realloc(data_, capacity));
  if (grown == nullptr) return false;
  data_ = grown;
  capacity_ = capacity;
  return true;
}

int AnswerBuffer::Reserve(std::size_t length) {
  return Grow(length <= cap_ ? length : cap_) ? ZENTA_OK : ZENTA_E_NO_MEMORY;
}

int AnswerBuffer::Append(const char* data, std::size_t size) {
  if (size > cap_ - size_) return ZENTA_E_ANSWER_TOO_LARGE;
  if (!Grow(size_ + size)) return ZENTA_E_NO_MEMORY;
  std::memcpy(data_ + size_, data, size);
  size_ += size;
  return ZENTA_OK;
}

char* AnswerBuffer::Room(std::size_t wanted) {
  const std::size_t most = cap_ + 1 - size_;
  return Grow(size_ + (wanted < most ? wanted : most)) ? data_ + size_ : nullptr;
}

char* AnswerBuffer::Release() {
  if (!Grow(size_)) return nullptr;
  data_[size_] = '\0';
  char* released = data_;
  data_ = nullptr;
  size_ = 0;
  capacity_ = 0;
  return released;
}

}  // namespace zenta

namespace {

// Every outstanding answer, by its first byte: an open-addressing table of pointers (linear
// probing), kept at most half full and grown ahead of that, so that keeping and releasing an
// answer take no allocation; a release closes its gap by moving later entries back, so no
// tombstones pile up.
class BufferRegistry {
 public:
  bool Keep(char* buffer) {
    std::lock_guard<std::mutex> lock(mutex_);
    if ((count_ + 1) * 2 > slots_.size()) Grow();  // may throw std::bad_alloc: nothing kept
    std::size_t slot = Home(buffer);
    for (; slots_[slot] != nullptr; slot = Next(slot)) {
      if (slots_[slot] == buffer) return false;
    }
    slots_[slot] = buffer;
    ++count_;
    return true;
  }

  bool Release(void* buffer) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (count_ == 0) return false;
      std::size_t hole = Home(buffer);
      while (slots_[hole] != buffer) {
        if (slots_[hole] == nullptr) return false;
        hole = Next(hole);
      }
      // Entries after the hole that would no longer be found past it move into it.
      for (std::size_t slot = Next(hole); slots_[slot] != nullptr; slot = Next(slot)) {
        const std::size_t mask = slots_.size() - 1;
        if (((slot - Home(slots_[slot])) & mask) >= ((slot - hole) & mask)) {
          slots_[hole] = slots_[slot];
          hole = slot;
        }
      }
      slots_[hole] = nullptr;
      --count_;
    }
    std::free(buffer);
    return true;
  }

  std::size_t Count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return count_;
  }

 private:
  static constexpr std::size_t kFirstSlots = 64;  // a power of two, as every size after it

  std::size_t Home(const void* buffer) const {
    // Fibonacci hashing of the address without its low bits, which alignment keeps zero.
    const auto bits = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(buffer)) >> 4;
    return static_cast<std::size_t>((bits * 0x9E3779B97F4A7C15u) >> shift_);
  }
  std::size_t Next(std::size_t slot) const { return (slot + 1) & (slots_.size() - 1); }

  void Grow() {
    std::vector<const void*> old(slots_.empty() ? kFirstSlots : 2 * slots_.size(), nullptr);
    old.swap(slots_);
    shift_ = 64;
    for (std::size_t size = slots_.size(); size > 1; size /= 2) --shift_;
    for (const void* kept : old) {
      if (kept == nullptr) continue;
      std::size_t slot = Home(kept);
      while (slots_[slot] != nullptr) slot = Next(slot);
      slots_[slot] = kept;
    }
  }

  std::mutex mutex_;
  std::vector<const void*> slots_;  // null: empty
  std::size_t count_ = 0;
  unsigned shift_ = 64;
};

// Never destroyed: buffers may be released from static destructors of the application.
BufferRegistry& Registry() {
  static BufferRegistry* registry = new BufferRegistry;
  return *registry;
}

}  // namespace

namespace zenta {

bool RegisterAnswer(char* body) {
  try {
    return Registry().Keep(body);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

std::size_t RegisteredAnswers() { return Registry().Count(); }

}  // namespace zenta

extern "C" {

ZENTA_API int ZENTA_ReleaseDataBuffer(void* buffer) {
  if (buffer == nullptr) return ZENTA_OK;
  return Registry().Release(buffer) ? ZENTA_OK : ZENTA_E_UNKNOWN_BUFFER;
}

}  // extern "C"
