// Answer bytes, and the registry of answers handed over: allocated and freed inside ZENTA, so a
// buffer that Ostrel hands to a client goes back to the heap it came from whatever runtime each
// module uses.
#include "AnswerBuffer.h"

#include <zenta/ZentaSdk.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_set>

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

// Every outstanding answer, by its first byte.
class BufferRegistry {
 public:
  bool Keep(char* buffer) {
    std::lock_guard<std::mutex> lock(mutex_);
    return buffers_.insert(buffer).second;
  }

  bool Release(void* buffer) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (buffers_.erase(buffer) == 0) return false;
    }
    std::free(buffer);
    return true;
  }

  std::size_t Count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return buffers_.size();
  }

 private:
  std::mutex mutex_;
  std::unordered_set<const void*> buffers_;
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
